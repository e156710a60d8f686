#include "driver/path_ini.hpp"

#include <algorithm>
#include <cstdint>

#include "platform/file.hpp"
#include "platform/text.hpp"

namespace varnel::driver {

namespace {

constexpr std::size_t kPieceBytes = 64u << 10;

// How the file is encoded, told by the byte-order mark that Windows editors write at its start;
// without one it is bytes, UTF-8 or the ANSI code page's.
enum class Encoding { Bytes, Utf8, Utf16Le, Utf16Be };

struct Form {
    Encoding encoding = Encoding::Bytes;
    std::size_t mark = 0;  // bytes of the mark, which is no part of the text
};

Form form_of(const std::string& text) {
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        return {Encoding::Utf8, 3};
    }
    if (text.rfind("\xFF\xFE", 0) == 0) {
        return {Encoding::Utf16Le, 2};
    }
    if (text.rfind("\xFE\xFF", 0) == 0) {
        return {Encoding::Utf16Be, 2};
    }
    return {};
}

std::size_t unit_size(const Form& form) {
    return form.encoding == Encoding::Utf16Le || form.encoding == Encoding::Utf16Be ? 2 : 1;
}

// The byte or UTF-16 code unit at `at`.
char16_t unit_at(const std::string& text, const Form& form, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    switch (form.encoding) {
        case Encoding::Utf16Le:
            return static_cast<char16_t>(byte(at) | byte(at + 1) << 8);
        case Encoding::Utf16Be:
            return static_cast<char16_t>(byte(at) << 8 | byte(at + 1));
        case Encoding::Bytes:
        case Encoding::Utf8:
            break;
    }
    return byte(at);
}

// No ANSI code page uses a line feed, byte 26 or zero inside a character, so the line ends where
// one of them stands in whatever encoding the file has.
bool ends_line(char16_t unit) {
    return unit == u'\n' || unit == u'\x1A' || unit == u'\0';
}

// Where the first line ends: the offset of its first line feed, byte 26 or zero, searched from
// `from` on, the text before it having been searched already; npos when none is there yet.
std::size_t line_end(const std::string& text, const Form& form, std::size_t from) {
    const std::size_t size = unit_size(form);
    for (std::size_t at = form.mark + (std::max(from, form.mark) - form.mark) / size * size;
         at + size <= text.size(); at += size) {
        if (ends_line(unit_at(text, form, at))) {
            return at;
        }
    }
    return std::string::npos;
}

// The line up to `end` as the program's names hold it: UTF-16 as UTF-8, and on Windows, whose
// names are UTF-8 here, text in the ANSI code page too; other bytes as they are.
std::string decoded(const std::string& text, const Form& form, std::size_t end) {
    if (unit_size(form) == 2) {
        std::u16string units;
        for (std::size_t at = form.mark; at + 2 <= end; at += 2) {
            units += unit_at(text, form, at);
        }
        return platform::utf8_from_utf16(units);
    }
    std::string line = text.substr(form.mark, end - form.mark);
    if (form.encoding == Encoding::Bytes && !platform::is_utf8(line)) {
        return platform::text_from_ansi(line);
    }
    return line;
}

}  // namespace

std::string template_prefix_from(const std::string& text) {
    const Form form = form_of(text);
    const std::size_t end = line_end(text, form, 0);
    std::string line = decoded(text, form, std::min(end, text.size()));
    // The CR of a CR LF belongs to the line end.
    if (end != std::string::npos && unit_at(text, form, end) == u'\n' && !line.empty() &&
        line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

bool has_path_ini(const platform::Folder& folder) {
    return platform::exists(folder, kPathIniName);
}

bool read_template_prefix(const platform::Folder& folder, std::string& prefix,
                          std::int64_t& modified) {
    platform::File file;
    if (file.open_for_reading(folder, kPathIniName) != platform::File::Opened::Yes) {
        return false;
    }
    modified = file.state().modified;
    std::string text;
    for (std::uint64_t offset = 0;;) {
        const std::size_t scanned = text.size();
        text.resize(scanned + kPieceBytes);
        const std::size_t got =
            file.read_at(offset, reinterpret_cast<std::uint8_t*>(&text[scanned]), kPieceBytes);
        text.resize(scanned + got);
        offset += got;
        if (got < kPieceBytes || line_end(text, form_of(text), scanned) != std::string::npos) {
            break;
        }
    }
    prefix = template_prefix_from(text);
    return true;
}

}  // namespace varnel::driver
