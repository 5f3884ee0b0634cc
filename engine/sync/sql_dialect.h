#pragma once

// The SQL of one target engine, as a sync script writes it: quoted
// identifiers and literals of the engine's own types. Values are written as
// literals here because a script is text the user runs later; nothing is
// read back through the locale, and every text is quoted by doubling.

#include <ostream>
#include <string>
#include <string_view>

#include "engine/model/object_model.h"
#include "engine/model/value.h"

namespace kesmark::sync {

enum class Dialect {
    SQLite,      // a SQLite file: its own statements, the table rebuild
    PostgreSQL,  // PostgreSQL through ODBC
    Standard,    // any other target: standard SQL for rows
};

// The dialect of a database of kind `kind` as a target. Access files are
// not writable targets: the caller refuses them first (IsWritableTarget).
Dialect DialectOf(const DatabaseKind& kind);

// False for the kinds a script cannot be written for (Access files).
bool IsWritableTarget(const DatabaseKind& kind);

// An identifier in double quotes, a double quote inside it doubled:
// Quote("Order ""Lines""") == "\"Order \"\"Lines\"\"\"".
std::string QuoteIdentifier(std::string_view name);

// A text literal in single quotes, a single quote inside it doubled.
std::string QuoteText(std::string_view text);

// The literal of `value` in `dialect`: NULL; integers in decimal; floating
// point numbers with the shortest digits that read back as the same double
// (always with a point or an exponent, so they stay floating point), the
// infinities as 9e999 (SQLite) or 'Infinity'::float8; Booleans 1/0 (SQLite)
// or TRUE/FALSE; currency and decimals as exact decimal numbers; dates as
// 'yyyy-mm-dd hh:mm:ss[.fff]' (TIMESTAMP '...' outside SQLite); byte
// arrays as X'..' (SQLite, Standard) or '\x..'::bytea; text quoted, and in
// SQLite text that is not valid UTF-8 or holds a NUL byte as
// CAST(X'..' AS TEXT), which keeps its bytes.
std::string Literal(const Value& value, Dialect dialect);

// Writes the literal of the current value of `field`, a long value (DAO
// type 11 or 12), to `out` in pieces of at most 64 KiB, never holding it
// whole: byte arrays as Literal writes them; text as its UTF-8 bytes made
// text again (SQLite: CAST(X'..' AS TEXT); PostgreSQL:
// convert_from('\x..'::bytea, 'UTF8')), which keeps it whatever it holds.
// Throws DbError when the value cannot be read.
void StreamLongLiteral(RecordsetField& field, Dialect dialect, std::ostream& out);

// The exact decimal text of a currency amount ("-12.5", "3").
std::string CurrencyText(Currency amount);

// A date as 'yyyy-mm-dd hh:mm:ss' with the milliseconds when there are any
// (".250"); the date alone when there is no time of day.
std::string DateTimeText(DateTime date);

}  // namespace kesmark::sync
