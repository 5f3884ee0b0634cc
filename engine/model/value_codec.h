#pragma once

// A compact byte encoding of values, used to move rows between threads
// without one allocation per value: a tag byte, then the value's bytes. Two
// values with the same encoding are equal by the variant rules; values whose
// encodings differ may still be equal (5 and 5.0) and are decoded and
// compared properly.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/model/value.h"

namespace kesmark {

namespace value_tags {
inline constexpr char kNull = 0;
inline constexpr char kBoolean = 1;
inline constexpr char kInteger = 2;   // 8 bytes
inline constexpr char kDouble = 3;    // 8 bytes
inline constexpr char kCurrency = 4;  // 8 bytes
inline constexpr char kDecimal = 5;   // 4-byte length, text
inline constexpr char kText = 6;      // 4-byte length, UTF-8
inline constexpr char kDate = 7;      // 8 bytes
inline constexpr char kBytes = 8;     // 4-byte length, bytes
}  // namespace value_tags

// Appends the encoding of `value` to `out`.
void EncodeValue(const Value& value, std::string& out);

// Appends an integer, a double, a text or a byte string directly, for
// backends that have the raw value at hand (inline: called once per value of
// a data comparison).
inline void EncodeInteger(std::int64_t value, std::string& out) {
    char raw[1 + sizeof value];
    raw[0] = value_tags::kInteger;
    std::memcpy(raw + 1, &value, sizeof value);
    out.append(raw, sizeof raw);
}
inline void EncodeDouble(double value, std::string& out) {
    char raw[1 + sizeof value];
    raw[0] = value_tags::kDouble;
    std::memcpy(raw + 1, &value, sizeof value);
    out.append(raw, sizeof raw);
}
inline void EncodeBytes(char tag, std::string_view bytes, std::string& out) {
    const auto length = static_cast<std::uint32_t>(bytes.size());
    char raw[1 + sizeof length];
    raw[0] = tag;
    std::memcpy(raw + 1, &length, sizeof length);
    out.append(raw, sizeof raw);
    out.append(bytes);
}

// The value of one encoded cell (exactly the bytes one EncodeValue call
// appended). Throws DbError on a malformed cell.
Value DecodeValue(std::string_view cell);

// The length of the first encoded cell of `cells` (cells are written one
// after the other); throws DbError when `cells` is shorter than it says.
std::size_t EncodedCellLength(std::string_view cells);

}  // namespace kesmark
