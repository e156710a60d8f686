// Text in the encodings varnel meets: names are UTF-8 inside the program, UTF-16 for the Windows
// system (and in path.ini as some editors save it), and Windows shows text in its code pages.
#pragma once

#include <string>

namespace varnel::platform {

// A letter A to Z as a to z; any other character as it is.
template <typename Char>
constexpr Char ascii_lower(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// UTF-16 as UTF-8. An unpaired surrogate, which a Windows name may hold, takes the three bytes its
// code point would take, so that the name converts back to exactly the name it was.
std::string utf8_from_utf16(const std::u16string& text);

// The reverse; a byte that is no part of such text becomes U+FFFD.
std::u16string utf16_from_utf8(const std::string& text);

// True when the bytes are UTF-8 text.
bool is_utf8(const std::string& text);

// UTF-8 text in a Windows code page, each character it cannot show (an unpaired surrogate
// included) one '?', never a character that only looks alike; never empty where the text is not.
// Elsewhere the text as it is.
std::string text_in_code_page(const std::string& text, unsigned code_page);

// A name as the M32 header holds it: on Windows in the ANSI code page, elsewhere as it is.
std::string header_text(const std::string& text);

// Text in the ANSI code page as UTF-8, for files written by programs that use it (Windows).
std::string text_from_ansi(const std::string& text);

#ifdef _WIN32
std::wstring wide(const std::string& text);
std::string narrow(const std::wstring& text);
#endif

}  // namespace varnel::platform
