#pragma once

// Row checksums on a SQLite file (docs/checksums.md): the aggregate SQL
// function kesmark_row_checksum(v1, v2, ...) that writes each row's
// canonical text (row_checksum.h) by the class each value is stored as,
// hashes it and sums the hashes modulo 2^64, so that a SQLite file and a
// server that computes the same hash with its own functions can be compared
// range by range.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace kesmark::sqlite {

// The name of the aggregate function.
inline constexpr const char* kRowChecksumFunction = "kesmark_row_checksum";

// Registers kesmark_row_checksum on `db`. Its result is the sum, as a
// signed 64-bit integer of the same bits; 0 for no rows. Throws DbError
// when SQLite refuses the registration.
void RegisterRowChecksum(sqlite3* db);

// Appends the canonical text of one value: "N" for Null; text as "t", its
// byte length, ":" and its bytes; else the class tag (i, f, b), the content
// and ";".
void AppendCanonicalValue(sqlite3_value* value, std::string& out);

// The hash of one row's canonical text, as PostgreSQL's
// hashtextextended(text, 0) computes it (Bob Jenkins' lookup3 mix).
std::uint64_t RowHash(std::string_view canonical);

}  // namespace kesmark::sqlite
