#pragma once

// From ODBC's SQL data types to the model's DAO type codes and values.

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/model/value.h"

namespace kesmark::odbc {

// The DAO type code for an ODBC SQL data type, by the vocabulary's table
// (SQL_INTEGER -> Long, SQL_NUMERIC -> Decimal, SQL_WLONGVARCHAR -> Memo,
// ...); types DAO has no code for are Text.
int DaoTypeFromSqlType(SQLSMALLINT sqlType);

// The DAO Size of a column: the byte size of the fixed-size types (Decimal
// 16), the column size of the character and binary types, 0 for long values.
std::int64_t DaoSize(int daoType, std::optional<std::int64_t> columnSize);

// True for the SQL types read as bytes (SQL_C_BINARY).
bool IsBinarySqlType(SQLSMALLINT sqlType);

// True for the DAO types of long values (Long Binary, Memo).
bool IsLongDaoType(int daoType);

// The value a column of `sqlType` holds, from the text the driver gives for
// it: a number or date where the text is exactly one, otherwise the text
// itself. So a value the driver cannot convert (text in a numeric SQLite
// column, a date before year 1, "NaN") stays itself and is never taken for
// Null or for a different number.
//   Integer types: "42" -> 42;  approximate types: "0.1" -> 0.1;
//   DECIMAL/NUMERIC: "12.50" -> Decimal "12.50";  SQL_BIT: "1" -> true;
//   date/time types: "2024-01-02 03:04:05" -> the date (a fraction of a
//   second stays text, since a date keeps whole seconds only).
Value ValueFromText(SQLSMALLINT sqlType, std::string text);

// What ValueFromText makes of a text, without building the value.
struct TextMeaning {
    enum class Kind { Text, Boolean, Integer, Double, Decimal, Date };
    Kind kind = Kind::Text;
    bool boolean = false;
    std::int64_t integer = 0;
    double real = 0;
    DateTime date;
};
TextMeaning ParseText(SQLSMALLINT sqlType, std::string_view text);

// Appends the encoding (value_codec.h) of ValueFromText(sqlType, text) to
// `out`, without building the value: a data comparison reads millions.
void EncodeText(SQLSMALLINT sqlType, std::string_view text, std::string& out);

// A DAO date serial for a civil date and time, or nullopt when `text` is not
// "yyyy-mm-dd", "hh:mm:ss" or "yyyy-mm-dd hh:mm:ss" (seconds may carry a
// fraction of zeros only).
std::optional<DateTime> ParseDateTime(std::string_view text);

}  // namespace kesmark::odbc
