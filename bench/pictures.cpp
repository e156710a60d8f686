#include "pictures.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

namespace bench {

namespace {

constexpr std::size_t kIoBlock = std::size_t{1} << 20;

std::uint32_t mix(std::uint32_t v) {
    v ^= v >> 16;
    v *= 0x7feb352du;
    v ^= v >> 15;
    v *= 0x846ca68bu;
    v ^= v >> 16;
    return v;
}

std::uint8_t low_byte(std::uint64_t v) {
    return static_cast<std::uint8_t>(v & 0xFFu);
}

// A smooth gradient with a few bits of noise: neighbouring pixels almost never repeat.
void gradient_pixel(const Picture& p, std::uint32_t x, std::uint32_t y, std::uint8_t* rgba) {
    const std::uint32_t noise = mix(x * 0x9E3779B1u ^ y * 0x85EBCA77u);
    rgba[0] = low_byte((std::uint64_t{x} << 8) / p.width + (noise & 0x0Fu));
    rgba[1] = low_byte((std::uint64_t{y} << 8) / p.height + ((noise >> 4) & 0x0Fu));
    rgba[2] = low_byte((x ^ y) + ((noise >> 8) & 0x07u));
    rgba[3] = low_byte((std::uint64_t{x} << 8) / p.width ^ ((noise >> 12) & 0x03u));
}

constexpr std::uint32_t kPartialMapEntries = 200;

// Entry i of the colour maps.
void map_entry(std::uint32_t i, std::uint8_t* rgb) {
    const std::uint32_t v = mix(i * 0x9E3779B1u + 1);
    rgb[0] = low_byte(v);
    rgb[1] = low_byte(v >> 8);
    rgb[2] = low_byte(v >> 16);
}

std::uint8_t widen5(std::uint32_t v) {
    return low_byte((v << 3) | (v >> 2));
}

// The colour index of a gradient pixel, for the colour-mapped kinds.
std::uint32_t index_of(const Picture& p, const std::uint8_t* gradient) {
    return p.encoding == Encoding::Mapped8Partial ? gradient[0] % kPartialMapEntries : gradient[0];
}

// The record a gradient pixel becomes in each kind: what the kind can store of it.
void record_of(const Picture& p, std::uint8_t* rgba) {
    switch (p.encoding) {
        case Encoding::Uncompressed24:
        case Encoding::Rle24Short:
            rgba[3] = 255;
            return;
        case Encoding::Rle32:
        case Encoding::Uncompressed32:
            return;
        case Encoding::Word16:
            rgba[0] = widen5(rgba[0] >> 3u);
            rgba[1] = widen5(rgba[1] >> 3u);
            rgba[2] = widen5(rgba[2] >> 3u);
            rgba[3] = (rgba[3] & 0x80u) != 0 ? 255 : 0;
            return;
        case Encoding::Grey8:
            rgba[1] = rgba[2] = rgba[0];
            rgba[3] = 255;
            return;
        case Encoding::Mapped8:
        case Encoding::Mapped8Partial:
            map_entry(index_of(p, rgba), rgba);
            rgba[3] = 255;
            return;
    }
}

// Row y of the picture, top row 0, as the R, G, B, A records the converter must produce for it.
void expected_row(const Picture& p, std::uint32_t y, std::uint8_t* rgba) {
    constexpr std::uint32_t kSegment = 48;
    // Rle24Short: segments of 1 to 40 pixels, every other one flat.
    std::uint32_t segment_end = 0;
    std::uint32_t segment = 0;
    std::uint32_t flat = 0;
    for (std::uint32_t x = 0; x < p.width; ++x, rgba += 4) {
        gradient_pixel(p, x, y, rgba);
        if (p.encoding == Encoding::Rle24Short) {
            if (x == segment_end) {
                ++segment;
                flat = mix(segment * 0x27D4EB2Du ^ y * 0x165667B1u);
                segment_end = x + 1 + flat % 40;
            }
            if ((segment & 1u) != 0) {
                rgba[0] = low_byte(flat >> 8);
                rgba[1] = low_byte(flat >> 16);
                rgba[2] = low_byte(flat >> 24);
            }
            rgba[3] = 255;
            continue;
        }
        if (p.encoding != Encoding::Rle32) {
            record_of(p, rgba);
            continue;
        }
        // Half the segments are flat, shared by four rows: repeat packets between literal ones.
        const std::uint32_t k = mix((x / kSegment) * 0x27D4EB2Du ^ (y / 4) * 0x165667B1u);
        if ((k & 1u) != 0) {
            rgba[0] = low_byte(k >> 8);
            rgba[1] = low_byte(k >> 16);
            rgba[2] = low_byte(k >> 24);
            rgba[3] = low_byte(k | 0x0Fu);
        }
    }
}

// The stored form of row y: what the kind keeps of each gradient pixel, in file order.
std::size_t stored_row(const Picture& p, std::uint32_t y, std::uint8_t* out) {
    std::uint8_t* start = out;
    for (std::uint32_t x = 0; x < p.width; ++x) {
        std::uint8_t g[4];
        gradient_pixel(p, x, y, g);
        switch (p.encoding) {
            case Encoding::Uncompressed24:
            case Encoding::Rle32:
            case Encoding::Rle24Short:
            case Encoding::Uncompressed32:
                *out++ = g[2];
                *out++ = g[1];
                *out++ = g[0];
                if (p.encoding == Encoding::Uncompressed32) {
                    *out++ = g[3];
                }
                break;
            case Encoding::Word16: {
                const std::uint32_t word =
                    (g[3] & 0x80u) << 8 | (g[0] >> 3u) << 10 | (g[1] >> 3u) << 5 | g[2] >> 3u;
                *out++ = low_byte(word);
                *out++ = low_byte(word >> 8);
                break;
            }
            case Encoding::Grey8:
                *out++ = g[0];
                break;
            case Encoding::Mapped8:
            case Encoding::Mapped8Partial:
                *out++ = low_byte(index_of(p, g));
                break;
        }
    }
    return static_cast<std::size_t>(out - start);
}

class Sink {
public:
    explicit Sink(const std::string& path)
        : file_(std::fopen(path.c_str(), "wb")), buffer_(new std::uint8_t[kIoBlock]) {}
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;
    ~Sink() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }

    void put(const std::uint8_t* bytes, std::size_t n) {
        while (n > 0) {
            const std::size_t take = std::min(n, kIoBlock - used_);
            std::memcpy(buffer_.get() + used_, bytes, take);
            used_ += take;
            bytes += take;
            n -= take;
            if (used_ == kIoBlock) {
                flush();
            }
        }
    }

    bool finish() {
        flush();
        const bool ok = file_ != nullptr && good_ && std::fclose(file_) == 0;
        file_ = nullptr;
        return ok;
    }

private:
    void flush() {
        if (file_ == nullptr || std::fwrite(buffer_.get(), 1, used_, file_) != used_) {
            good_ = false;
        }
        used_ = 0;
    }

    std::FILE* file_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t used_ = 0;
    bool good_ = true;
};

// Packs a stream of 3- or 4-byte pixels into TGA run-length packets of at most 128 pixels. Runs
// of two or more equal pixels become repeat packets; everything else gathers into literal packets.
class RlePacker {
public:
    RlePacker(Sink& sink, std::size_t pixel_bytes) : sink_(sink), pixel_bytes_(pixel_bytes) {}

    void push(const std::uint8_t* pixel) {
        if (run_length_ > 0 && std::memcmp(pixel, run_pixel_.data(), pixel_bytes_) == 0 &&
            run_length_ < 128) {
            ++run_length_;
            return;
        }
        end_run();
        std::memcpy(run_pixel_.data(), pixel, pixel_bytes_);
        run_length_ = 1;
    }

    void finish() {
        end_run();
        flush_literals();
    }

private:
    void end_run() {
        if (run_length_ >= 2) {
            flush_literals();
            const std::uint8_t head = static_cast<std::uint8_t>(0x80u | (run_length_ - 1));
            sink_.put(&head, 1);
            sink_.put(run_pixel_.data(), pixel_bytes_);
        } else if (run_length_ == 1) {
            if (literal_count_ == 128) {
                flush_literals();
            }
            std::memcpy(literals_.data() + pixel_bytes_ * literal_count_, run_pixel_.data(),
                        pixel_bytes_);
            ++literal_count_;
        }
        run_length_ = 0;
    }

    void flush_literals() {
        if (literal_count_ == 0) {
            return;
        }
        const std::uint8_t head = static_cast<std::uint8_t>(literal_count_ - 1);
        sink_.put(&head, 1);
        sink_.put(literals_.data(), pixel_bytes_ * literal_count_);
        literal_count_ = 0;
    }

    Sink& sink_;
    std::size_t pixel_bytes_;
    std::array<std::uint8_t, 4> run_pixel_{};
    std::size_t run_length_ = 0;
    std::array<std::uint8_t, 4 * 128> literals_{};
    std::size_t literal_count_ = 0;
};

void put_le16(std::uint8_t* at, std::uint32_t v) {
    at[0] = low_byte(v);
    at[1] = low_byte(v >> 8);
}

}  // namespace

std::uint64_t m32_size(const Picture& picture) {
    return kRecordsOffset + std::uint64_t{4} * picture.width * picture.height;
}

std::vector<std::uint8_t> template_bytes() {
    std::vector<std::uint8_t> bytes(kTemplateSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = low_byte(i * 7 + 3);
    }
    return bytes;
}

bool write_tga(const Picture& picture, const std::string& path) {
    const Encoding e = picture.encoding;
    const bool rle = e == Encoding::Rle32 || e == Encoding::Rle24Short;
    const bool mapped = e == Encoding::Mapped8 || e == Encoding::Mapped8Partial;
    const std::uint32_t map_length = e == Encoding::Mapped8          ? 256
                                     : e == Encoding::Mapped8Partial ? kPartialMapEntries
                                                                     : 0;
    std::array<std::uint8_t, 18> header{};
    header[1] = mapped ? 1 : 0;
    header[2] = rle ? 10 : mapped ? 1 : e == Encoding::Grey8 ? 3 : 2;
    put_le16(&header[5], map_length);
    header[7] = mapped ? 24 : 0;
    put_le16(&header[12], picture.width);
    put_le16(&header[14], picture.height);
    header[16] = e == Encoding::Rle32 || e == Encoding::Uncompressed32        ? 32
                 : e == Encoding::Word16                                      ? 16
                 : e == Encoding::Uncompressed24 || e == Encoding::Rle24Short ? 24
                                                                              : 8;
    header[17] = e == Encoding::Rle32 || e == Encoding::Uncompressed32 ? 8
                 : e == Encoding::Word16                               ? 1
                                                                       : 0;

    Sink sink(path);
    sink.put(header.data(), header.size());
    for (std::uint32_t i = 0; i < map_length; ++i) {
        std::uint8_t rgb[3];
        map_entry(i, rgb);
        const std::uint8_t bgr[3] = {rgb[2], rgb[1], rgb[0]};
        sink.put(bgr, 3);
    }
    const std::size_t pixel_bytes = e == Encoding::Rle24Short ? 3 : 4;
    RlePacker packer(sink, pixel_bytes);
    std::vector<std::uint8_t> file_row(std::size_t{picture.width} * 4);
    std::vector<std::uint8_t> rgba(std::size_t{picture.width} * 4);
    for (std::uint32_t stored = 0; stored < picture.height; ++stored) {
        const std::size_t n = stored_row(picture, picture.height - 1 - stored, file_row.data());
        if (!rle) {
            sink.put(file_row.data(), n);
            continue;
        }
        expected_row(picture, picture.height - 1 - stored, rgba.data());
        for (std::size_t x = 0; x < picture.width; ++x) {
            std::uint8_t* px = &rgba[4 * x];
            std::swap(px[0], px[2]);
            packer.push(px);
        }
    }
    packer.finish();
    return sink.finish();
}

std::uint64_t tga_size(const Picture& picture) {
    return 18 + std::uint64_t{4} * picture.width * picture.height + 495 + 26;
}

std::string check_tga(const Picture& picture, const std::string& path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        return "cannot open " + path;
    }
    std::vector<std::uint8_t> expected(std::size_t{picture.width} * 4);
    std::vector<std::uint8_t> actual(expected.size());
    for (std::uint32_t y = picture.height; y-- > 0;) {
        expected_row(picture, y, expected.data());
        const long at =
            static_cast<long>(18 + std::uint64_t{picture.height - 1 - y} * expected.size());
        if (std::fseek(file.get(), at, SEEK_SET) != 0 ||
            std::fread(actual.data(), 1, actual.size(), file.get()) != actual.size()) {
            return "ends in row " + std::to_string(y);
        }
        for (std::size_t x = 0; x < expected.size(); x += 4) {
            std::swap(expected[x], expected[x + 2]);
        }
        if (actual != expected) {
            return "row " + std::to_string(y) + " differs";
        }
    }
    return {};
}

std::string check_m32(const Picture& picture, const std::string& path,
                      const std::string& header_name) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        return "cannot open " + path;
    }
    std::vector<std::uint8_t> expected(kRecordsOffset, 0);
    expected[0] = 4;
    std::memcpy(&expected[4], header_name.data(), header_name.size());
    const std::vector<std::uint8_t> tpl = template_bytes();
    std::memcpy(&expected[256], &tpl[256], kRecordsOffset - 256);
    std::vector<std::uint8_t> actual(expected.size());
    if (std::fread(actual.data(), 1, actual.size(), file.get()) != actual.size()) {
        return "shorter than its header";
    }
    if (actual != expected) {
        return "header differs";
    }
    expected.resize(std::size_t{picture.width} * 4);
    actual.resize(expected.size());
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        expected_row(picture, y, expected.data());
        if (std::fread(actual.data(), 1, actual.size(), file.get()) != actual.size()) {
            return "ends in row " + std::to_string(y);
        }
        if (actual != expected) {
            std::size_t at = 0;
            while (actual[at] == expected[at]) {
                ++at;
            }
            char text[160];
            std::snprintf(text, sizeof text, "row %u pixel %zu channel %zu: expected %u, found %u",
                          y, at / 4, at % 4, expected[at], actual[at]);
            return text;
        }
    }
    if (std::fgetc(file.get()) != EOF) {
        return "longer than 968 + 4 x width x height bytes";
    }
    return {};
}

}  // namespace bench
