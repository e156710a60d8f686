#include "tga/pixel_vectors.hpp"

#ifdef VARNEL_NEON_PATH
#include <arm_neon.h>

namespace varnel::tga::vectors {

// 16 pixels at a time: one load splits them into channels, one store interleaves the records.
std::size_t interleave_neon(const std::uint8_t* in, std::size_t count, unsigned stride,
                            std::uint8_t alpha_or, std::uint8_t* out) {
    const uint8x16_t alpha = vdupq_n_u8(alpha_or);
    std::size_t done = 0;
    for (; done + 16 <= count; done += 16) {
        uint8x16x4_t records;
        if (stride == 3) {
            const uint8x16x3_t bgr = vld3q_u8(in + 3 * done);
            records.val[0] = bgr.val[2];
            records.val[1] = bgr.val[1];
            records.val[2] = bgr.val[0];
            records.val[3] = alpha;
        } else {
            const uint8x16x4_t bgra = vld4q_u8(in + 4 * done);
            records.val[0] = bgra.val[2];
            records.val[1] = bgra.val[1];
            records.val[2] = bgra.val[0];
            records.val[3] = vorrq_u8(bgra.val[3], alpha);
        }
        vst4q_u8(out + 4 * done, records);
    }
    return done;
}

}  // namespace varnel::tga::vectors

#endif
