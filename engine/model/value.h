#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/model/dao.h"

namespace kesmark {

using Bytes = std::vector<std::uint8_t>;

// A currency amount in ten-thousandths (DAO's scaled 64-bit integer).
struct Currency {
    std::int64_t scaled = 0;
    friend bool operator==(const Currency&, const Currency&) = default;
};

// An exact decimal number kept as its canonical text ("-12.50" stays "-12.50").
struct Decimal {
    std::string text;
    friend bool operator==(const Decimal&, const Decimal&) = default;
};

// A date and time as an OLE automation date: days since 1899-12-30, the time
// of day as the fraction.
struct DateTime {
    double serial = 0.0;
    friend bool operator==(const DateTime&, const DateTime&) = default;
};

struct Null {
    friend bool operator==(const Null&, const Null&) = default;
};

// The value of a property or of a field in one record: the variant of the
// object model. Text is UTF-8.
class Value {
  public:
    using Storage = std::variant<Null, bool, std::int64_t, double, Currency, Decimal, std::string,
                                 DateTime, Bytes>;

    Value() = default;
    Value(Null) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(Currency c) : v_(c) {}
    Value(Decimal d) : v_(std::move(d)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(const char* s) : v_(std::string(s)) {}
    explicit Value(std::string_view s) : v_(std::string(s)) {}
    Value(DateTime d) : v_(d) {}
    Value(Bytes b) : v_(std::move(b)) {}

    bool IsNull() const { return std::holds_alternative<Null>(v_); }
    bool IsBytes() const { return std::holds_alternative<Bytes>(v_); }
    bool IsText() const { return std::holds_alternative<std::string>(v_); }
    // True for Boolean, integer, floating point, currency, decimal and date
    // values: everything the variant rules compare by number.
    bool IsNumeric() const;

    const Storage& Get() const { return v_; }
    template <class T>
    const T* As() const {
        return std::get_if<T>(&v_);
    }

    friend bool operator==(const Value&, const Value&) = default;

  private:
    Storage v_;
};

// Ordinal comparison of two UTF-8 names by their UTF-16 code units, unit by
// unit as unsigned numbers; a prefix sorts first. Case-sensitive. Returns
// <0, 0 or >0. Invalid UTF-8 bytes are compared as the code units U+DC80..U+DCFF
// so that every byte string has a place in the order.
int CompareOrdinal(std::string_view a, std::string_view b);

// The variant rules for two non-byte-array values: numbers (Booleans, integers,
// floating point, currency, decimal, dates) by numeric value, texts ordinally
// and case-sensitively. Null on exactly one side is a difference; Null on both
// sides is equal. A number against a text, or either side a byte array, is a
// difference. Returns true when the two values are equal.
bool VariantEqual(const Value& a, const Value& b);

// Equality by meaning, for two values read from databases of different
// kinds, where one engine stores a fact as another type than the other:
//   - an exact number (integer, decimal, currency) against a floating-point
//     number: equal when the floating-point number is the double nearest to
//     the exact one (1.98 as a decimal and 1.98 as a real);
//   - exact numbers against each other: by their exact value (2 and 2.00);
//   - a Boolean against a number: True against 1, False against 0;
//   - a date against text in ISO 8601 form ("yyyy-mm-dd", "yyyy-mm-dd
//     hh:mm[:ss[.fff]]", "T" also between date and time, as SQLite stores
//     dates): equal at the same instant, to the millisecond; a date alone
//     stands for midnight of that date;
//   - text against text: byte for byte; byte arrays likewise;
//   - any other text against a number, or a date against a number: a
//     difference.
// Null as in VariantEqual. Values of one engine keep VariantEqual.
bool ValuesEqualByMeaning(const Value& a, const Value& b);

// Byte-for-byte equality of two byte arrays (also their lengths).
bool BytesEqual(const Bytes& a, const Bytes& b);

// The plain text of a value, as the standard variant-to-text conversion gives
// it: numbers in decimal, dates as "yyyy-mm-dd hh:mm:ss" (the date alone when
// there is no time, the time alone on day 0), Booleans as "True"/"False", text
// unchanged, a byte array as UTF-16LE text (two bytes to a character).
// Throws DbError 94 "Invalid use of Null" for Null.
std::string PlainText(const Value& v);

// Numeric value of a numeric Value (see IsNumeric) as a long double; Booleans
// are -1 (True) and 0 (False) as in the variant rules.
long double NumericValue(const Value& v);

// Formats a floating point number with the shortest text that reads back as
// the same number ("0.1", "1E+20" style is avoided: "1e+20").
std::string FormatDouble(double d);

// Converts an OLE automation date to "yyyy-mm-dd[ hh:mm:ss]" and back.
std::string FormatDateTime(DateTime d);

// Days from 1970-01-01 to a civil date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long year, unsigned month, unsigned day);

// Reads exactly `count` decimal digits of `text` at `pos` into `value` and
// moves `pos` past them; false, `pos` unmoved, when there are not as many.
bool ReadDigits(std::string_view text, std::size_t& pos, std::size_t count, int& value);

}  // namespace kesmark
