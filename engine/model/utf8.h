#pragma once

// UTF-8 and UTF-16 conversions shared by the backends (ODBC's wide strings,
// Access's UTF-16 names and values) and by the value conversions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kesmark {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// Appends the UTF-8 encoding of one code point.
void AppendUtf8(std::string& out, char32_t codePoint);

// Decodes the code point at `i`, advancing `i`. Invalid or overlong input
// gives U+FFFD and consumes one byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& i);

// UTF-16 code units (any 16-bit unit type) to UTF-8; a lone surrogate
// becomes U+FFFD.
template <class Unit>
std::string Utf16ToUtf8(const Unit* units, std::size_t count) {
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t unit = static_cast<std::uint16_t>(units[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
            const char32_t low = static_cast<std::uint16_t>(units[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? kReplacementCharacter : unit);
    }
    return out;
}

// UTF-8 to UTF-16 code units; invalid input becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace kesmark
