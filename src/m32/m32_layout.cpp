#include "m32/m32_layout.hpp"

#include <algorithm>

#include "m32/naming.hpp"
#include "platform/platform.hpp"

namespace varnel::m32 {

HeaderStart make_header_start(const std::string& header_name) {
    HeaderStart start{};
    start[0] = 4;
    const std::size_t length = std::min(header_name.size(), kMaxHeaderName);
    std::copy_n(header_name.begin(), length, start.begin() + 4);
    return start;
}

TemplateRead read_template_block(const std::string& path, TemplateBlock& block) {
    platform::File file;
    switch (platform::open_for_reading(path, file)) {
        case platform::OpenResult::Opened:
            break;
        case platform::OpenResult::Missing:
        case platform::OpenResult::NotRegular:
            return TemplateRead::Missing;
        case platform::OpenResult::Failed:
            return TemplateRead::Unreadable;
    }
    std::uint64_t size = 0;
    if (!platform::file_size(file, size)) {
        return TemplateRead::Unreadable;
    }
    if (size < kPixelRecordsOffset) {
        return TemplateRead::TooShort;
    }
    return platform::read_at(file, kTemplateBlockOffset, block.data(), kTemplateBlockSize) ==
                   kTemplateBlockSize
               ? TemplateRead::Ok
               : TemplateRead::Unreadable;
}

}  // namespace varnel::m32
