#pragma once

// What the run records of two differing property values: their display
// texts, cut to a short excerpt when long, and for long values where they
// part. Shared by the run and by the property listing, so a value reads the
// same in both.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "engine/compare/result_tree.h"
#include "engine/model/value.h"

namespace kesmark {

// The display text of a property value: a byte array (type 9 or 11) as its
// first eleven bytes in decimal separated by one blank, " ..." appended when
// there are more ({1, 255, 16} reads "1 255 16"); Null as "Null"; any other
// value as its plain text. Throws nothing.
std::string DisplayText(int type, const Value& value);

// A value is short when its display text fits on one line of a report: at
// most this many characters and no line break.
inline constexpr std::size_t kShortValueCharacters = 40;
// The longest excerpt kept of a long value, in bytes.
inline constexpr std::size_t kExcerptBytes = 200;

// The record of one differing property. `value1`/`value2` are the values in
// each database, null where the property is missing. For long values, the
// texts become excerpts that start at the line (or a little before the
// character) where the values part, and `where` says where that is:
//   "text differs at line 3"       (a value with a line break)
//   "text differs at character 57" (a long single-line text)
//   "bytes differ at byte 13"      (byte arrays longer than eleven bytes)
//   "16 bytes → 20 bytes"          (one byte array the start of the other)
PropertyDifference DescribeDifference(std::string name, int type, const Value* value1,
                                      const Value* value2);

// The record of a property present on both sides whose value could not be
// read on one of them: both values read "Error: " and `description`, and
// `where` says "value cannot be read".
PropertyDifference UnreadableDifference(std::string name, std::string_view description);

// True when `text` is short (see kShortValueCharacters).
bool IsShortText(std::string_view text);

}  // namespace kesmark
