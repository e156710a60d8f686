#include "m32/m32_layout.hpp"

#include <algorithm>

namespace varnel::m32 {

HeaderStart make_header_start(const std::string& header_name) {
    HeaderStart start{};
    start[0] = 4;
    const std::size_t length = std::min(header_name.size(), kMaxHeaderName);
    std::copy_n(header_name.begin(), length, start.begin() + 4);
    return start;
}

platform::OutputFile::Shape file_shape(const HeaderStart& start, const TemplateBlock& block,
                                       std::uint16_t width, std::uint16_t height, RowOrder order) {
    platform::OutputFile::Shape shape;
    shape.head.assign(start.begin(), start.end());
    shape.head.insert(shape.head.end(), block.begin(), block.end());
    shape.row_bytes = std::size_t{width} * kRecordBytes;
    shape.rows = height;
    shape.from_the_end = order == RowOrder::BottomFirst;
    return shape;
}

TemplateRead Templates::read(const std::string& path, const platform::FileState* seen,
                             TemplateBlock& block, platform::FileKey& key) {
    const auto known = read_.find(path);
    if (seen != nullptr && known != read_.end() && known->second.first == *seen) {
        block = known->second.second;
        key = seen->key;
        return TemplateRead::Ok;
    }
    platform::File file;
    switch (file.open_for_reading(path)) {
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
    key = file.state().key;
    read_[path] = {file.state(), block};
    return TemplateRead::Ok;
}

}  // namespace varnel::m32
