#include "m32/m32_layout.hpp"

#include <algorithm>
#include <ios>

#include "m32/naming.hpp"

namespace varnel::m32 {

HeaderStart make_header_start(const std::string& header_name) {
    HeaderStart start{};
    start[0] = 4;
    const std::size_t length = std::min(header_name.size(), kMaxHeaderName);
    std::copy_n(header_name.begin(), length, start.begin() + 4);
    return start;
}

TemplateRead read_template_block(std::streambuf& file, TemplateBlock& block) {
    const std::streamoff size = file.pubseekoff(0, std::ios_base::end, std::ios_base::in);
    if (size < 0) {
        return TemplateRead::Unreadable;
    }
    if (static_cast<std::uint64_t>(size) < kPixelRecordsOffset) {
        return TemplateRead::TooShort;
    }
    if (file.pubseekpos(kTemplateBlockOffset, std::ios_base::in) < 0 ||
        file.sgetn(reinterpret_cast<char*>(block.data()), kTemplateBlockSize) !=
            static_cast<std::streamsize>(kTemplateBlockSize)) {
        return TemplateRead::Unreadable;
    }
    return TemplateRead::Ok;
}

}  // namespace varnel::m32
