#pragma once

#include <string>
#include <string_view>

namespace kesmark {

// Lower-cases ASCII letters only: the case-insensitive name lookup of the
// databases ("Orders" and "ORDERS" fold alike; "É" stays as it is).
std::string FoldAsciiCase(std::string_view text);

// The value of one hexadecimal digit, either case; -1 for any other
// character.
inline int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace kesmark
