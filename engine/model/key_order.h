#pragma once

// The order of the keys that identify rows: the one order in which both
// databases' rows are merged when records are matched by key, and in which
// every backend must deliver them (see docs/backends.md, "Rows matched by
// key"). Also the text form of key values, as row nodes show them and the
// result view reads them back.

#include <span>
#include <string>
#include <string_view>

#include "engine/model/value.h"

namespace kesmark {

// Three-way comparison of two key values: <0 when `a` sorts first, 0 when
// they are one key, >0 when `b` sorts first. The order:
//
//   1. Null;
//   2. numbers (Booleans, integers, floating point, currency, decimals,
//      dates) by value: integer 5, decimal 5 and real 5.0 are one key;
//      decimals are compared exactly, NaN sorts after every other number;
//   3. texts by their UTF-8 bytes, which is code point order (a binary
//      collation, as SQLite's default and PostgreSQL's "C"), a prefix first;
//   4. byte arrays by their bytes as unsigned numbers, a prefix first.
//
// This is SQLite's own order of its storage classes, so a SQLite column that
// mixes them orders alike on both sides.
int CompareKeyValues(const Value& a, const Value& b);

// Compares two keys of the same length value by value (the first unequal
// value decides). A longer key sorts after its prefix.
int CompareKeys(std::span<const Value> a, std::span<const Value> b);

// The text of one key value in a row key: the plain text of the value
// (numbers in decimal, dates "yyyy-mm-dd hh:mm:ss", Booleans "True" or
// "False"), a byte array as "0x" and two lower-case hexadecimal digits per
// byte, Null as "Null".
std::string KeyValueText(const Value& value);

// The value a key value's text stands for in a field of DAO type `daoType`,
// the inverse of KeyValueText: integer types give integers, floating point
// types doubles, Decimal and Numeric decimals, Currency a currency amount,
// date and time types dates, Boolean a Boolean, binary types the bytes of
// "0x..."; text that does not fit the field's type (SQLite keeps any value
// in any column) is taken as what it reads as, a number where it is one,
// else text. Long binary fields (SQLite columns without a declared type)
// take numbers, "0x..." bytes, else text.
Value KeyValueFromText(std::string_view text, int daoType);

// A date as FormatDateTime writes it ("yyyy-mm-dd", "yyyy-mm-dd hh:mm:ss" or
// "hh:mm:ss"); false when the text is none of these.
bool ParseDateTimeText(std::string_view text, DateTime& out);

}  // namespace kesmark
