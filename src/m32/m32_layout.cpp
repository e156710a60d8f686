#include "m32/m32_layout.hpp"

#include <algorithm>

namespace varnel::m32 {

std::optional<HeaderStart> make_header_start(const std::string& header_name) {
    if (header_name.size() > kMaxHeaderName) {
        return std::nullopt;
    }
    HeaderStart start{};
    start[0] = 4;
    std::copy(header_name.begin(), header_name.end(), start.begin() + 4);
    return start;
}

std::vector<std::uint8_t> file_head(const HeaderStart& start, const TemplateBlock& block) {
    std::vector<std::uint8_t> head(start.begin(), start.end());
    head.insert(head.end(), block.begin(), block.end());
    return head;
}

TemplateRead read_template(const platform::File& file, platform::File::Opened opened,
                           TemplateBlock& block) {
    switch (opened) {
        case platform::File::Opened::Yes:
            break;
        case platform::File::Opened::Missing:
        case platform::File::Opened::NotRegular:
            return TemplateRead::Missing;
        case platform::File::Opened::Failed:
            return TemplateRead::Unreadable;
    }
    if (file.state().size < kPixelRecordsOffset) {
        return TemplateRead::TooShort;
    }
    if (file.read_at(kTemplateBlockOffset, block.data(), kTemplateBlockSize) !=
        kTemplateBlockSize) {
        return TemplateRead::Unreadable;
    }
    return TemplateRead::Ok;
}

}  // namespace varnel::m32
