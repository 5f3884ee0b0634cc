#pragma once

// Row checksums of key ranges: what a database that can summarize its own
// rows hands the data comparison, so that ranges whose rows are equal on
// both sides need not be read (docs/checksums.md).
//
// Every side hashes one canonical text per row, the fields one after the
// other, each field "N" (Null), or text as "t", its byte length in decimal,
// ":" and its UTF-8 bytes ("t2:ab"), or any other value as a tag, its
// content and ";" (no such content holds ";"):
//   i  integer, in decimal ("i-5;")
//   f  floating point, the 16 hexadecimal digits of its IEEE 754 binary64
//      bits, most significant first
//   b  binary, two lower-case hexadecimal digits per byte
//   x  any other type, the database system's own text of the value
// The row hash is PostgreSQL's hashtextextended(text, 0) of that text (Bob
// Jenkins' lookup3 mix, 64 bits); a range's checksum is the sum of its
// rows' hashes modulo 2^64, so that it does not depend on the order of the
// rows.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/value.h"

namespace kesmark {

// A range of keys in key order (CompareKeys): the keys after `after` up to
// and including `upTo`. An empty vector leaves that end open.
struct KeyRange {
    std::vector<Value> after;
    std::vector<Value> upTo;
};

// One range's rows as a database summarizes them.
struct RangeSummary {
    std::int64_t rows = 0;
    std::uint64_t checksum = 0;
    friend bool operator==(const RangeSummary&, const RangeSummary&) = default;
};

// The summaries of the ranges that boundaries cut a range into, in key
// order, one more than the boundaries; and the rows of the range whose key
// has a Null, which no range holds.
struct RangeSummaries {
    std::vector<RangeSummary> ranges;
    std::int64_t nullKeyRows = 0;
};

// How a database writes the canonical text of one field, named by the
// classes above: "integer", "text", "float", "binary"; "sqlite:<class>" for
// a SQLite column, whose values are written by the class each value is
// stored as (<class> naming what the column's declared type leads one to
// expect: integer, text, float, binary or other); "pg:<type>" for another
// PostgreSQL type, written as its text.
using ChecksumForm = std::string;

// True when two databases' forms of one field write equal values alike, so
// that a checksum that differs means the rows differ. Two equal forms agree;
// "sqlite:C" agrees with C for C one of integer, text, float, binary.
bool ChecksumFormsAgree(std::string_view form1, std::string_view form2);

// True when a key field of these forms orders alike on both sides, so that
// both cut their rows into the same ranges: integers or text, or SQLite on
// both sides.
bool ChecksumKeyFormsAgree(std::string_view form1, std::string_view form2);

// The sum of an exact decimal integer text ("-123", "18446744073709551616")
// modulo 2^64, as a server's sum of signed 64-bit hashes comes back. Throws
// DbError when the text is not an integer.
std::uint64_t DecimalModulo64(std::string_view text);

}  // namespace kesmark
