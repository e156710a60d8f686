#include "platform/text.hpp"

#include <cstdint>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace varnel::platform {

namespace {

bool is_high_surrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit < 0xDC00;
}

bool is_low_surrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit < 0xE000;
}

void append_code_point(std::string& out, std::uint32_t c) {
    const auto byte = [&](std::uint32_t b) { out += static_cast<char>(b); };
    if (c < 0x80) {
        byte(c);
    } else if (c < 0x800) {
        byte(0xC0 | (c >> 6));
        byte(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        byte(0xE0 | (c >> 12));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    } else {
        byte(0xF0 | (c >> 18));
        byte(0x80 | ((c >> 12) & 0x3F));
        byte(0x80 | ((c >> 6) & 0x3F));
        byte(0x80 | (c & 0x3F));
    }
}

// The code point that starts at text[at] and how many bytes it takes; surrogates count, so that
// an unpaired one written by utf8_from_utf16 reads back. Zero bytes where no UTF-8 starts there.
std::size_t decode_at(const std::string& text, std::size_t at, std::uint32_t& c) {
    const auto unit = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = unit(at);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xC2 ? 0
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                               : lead < 0xF5 ? 4
                                             : 0;
    if (length == 0 || text.size() - at < length) {
        return 0;
    }
    c = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((unit(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        c = c << 6 | (unit(at + i) & 0x3Fu);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    return c >= least[length] && c <= 0x10FFFF ? length : 0;
}

}  // namespace

std::string utf8_from_utf16(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (is_high_surrogate(c) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00u);
        }
        append_code_point(out, c);
    }
    return out;
}

std::u16string utf16_from_utf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t c = 0;
        const std::size_t length = decode_at(text, at, c);
        if (length == 0) {
            out += u'\uFFFD';
            ++at;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        at += length;
    }
    return out;
}

bool is_utf8(const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t c = 0;
        const std::size_t length = decode_at(text, at, c);
        if (length == 0 || is_high_surrogate(c) || is_low_surrogate(c)) {
            return false;
        }
        at += length;
    }
    return true;
}

#ifdef _WIN32

std::wstring wide(const std::string& text) {
    const std::u16string units = utf16_from_utf8(text);
    return std::wstring(units.begin(), units.end());
}

std::string narrow(const std::wstring& text) {
    return utf8_from_utf16(std::u16string(text.begin(), text.end()));
}

namespace {

// Code pages whose conversion takes no flags and no default character: the stateful ones, the
// Unicode ones and the symbol font.
bool takes_no_flags(UINT code_page) {
    return code_page == 42 || (code_page >= 50220 && code_page <= 50229) || code_page == 52936 ||
           code_page == 54936 || (code_page >= 57002 && code_page <= 57011) ||
           code_page == CP_UTF7 || code_page == CP_UTF8;
}

// One '?' for every character that is not ASCII: what is left when a code page fails.
std::string ascii_or_question_marks(const std::u16string& units) {
    std::string out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        out += units[i] < 0x80 ? static_cast<char>(units[i]) : '?';
        if (is_high_surrogate(units[i]) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
            ++i;
        }
    }
    return out;
}

}  // namespace

std::string text_in_code_page(const std::string& text, unsigned code_page) {
    // Unpaired surrogates no code page shows; a pair is one character, which only the Unicode
    // code pages show, and becomes one '?' in the others.
    const bool unicode = takes_no_flags(code_page);
    std::u16string units;
    const std::u16string all = utf16_from_utf8(text);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const bool pair =
            is_high_surrogate(all[i]) && i + 1 < all.size() && is_low_surrogate(all[i + 1]);
        if (pair && unicode) {
            units += all.substr(i++, 2);
        } else if (pair || is_high_surrogate(all[i]) || is_low_surrogate(all[i])) {
            units += u'?';
            i += pair ? 1 : 0;
        } else {
            units += all[i];
        }
    }
    if (units.empty()) {
        return {};
    }
    const std::wstring source(units.begin(), units.end());
    const DWORD flags = unicode ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = unicode ? nullptr : "?";
    const int length = static_cast<int>(source.size());
    const int size =
        WideCharToMultiByte(code_page, flags, source.data(), length, nullptr, 0, fallback, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size <= 0 || WideCharToMultiByte(code_page, flags, source.data(), length, out.data(), size,
                                         fallback, nullptr) != size) {
        return ascii_or_question_marks(units);
    }
    return out;
}

std::string header_text(const std::string& text) {
    return text_in_code_page(text, GetACP());
}

std::string text_from_ansi(const std::string& text) {
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::wstring units(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size <= 0 ||
        MultiByteToWideChar(CP_ACP, 0, text.data(), length, units.data(), size) != size) {
        return text;
    }
    return narrow(units);
}

#else

std::string text_in_code_page(const std::string& text, unsigned) {
    return text;
}

std::string header_text(const std::string& text) {
    return text;
}

std::string text_from_ansi(const std::string& text) {
    return text;
}

#endif

}  // namespace varnel::platform
