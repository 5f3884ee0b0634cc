#include "engine/model/key_order.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "engine/model/text.h"

namespace kesmark {

namespace {

enum class Rank { Null, Number, Text, Bytes };

Rank RankOf(const Value& v) {
    if (v.IsNull()) {
        return Rank::Null;
    }
    if (v.IsText()) {
        return Rank::Text;
    }
    if (v.IsBytes()) {
        return Rank::Bytes;
    }
    return Rank::Number;
}

// A decimal number in canonical form: no sign for zero, no leading zeros in
// the whole part (which is "0" at least), no trailing zeros in the fraction.
struct ExactNumber {
    bool negative = false;
    std::string whole;
    std::string fraction;
};

// "-0012.500" -> {true, "12", "5"}; nullopt unless the text is an optional
// sign, digits and at most one point among them.
std::optional<ExactNumber> ParseExact(std::string_view text) {
    ExactNumber n;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        n.negative = text[i] == '-';
        ++i;
    }
    bool point = false;
    bool digits = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            (point ? n.fraction : n.whole) += c;
            digits = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digits) {
        return std::nullopt;
    }
    const auto first = n.whole.find_first_not_of('0');
    n.whole = first == std::string::npos ? "0" : n.whole.substr(first);
    while (!n.fraction.empty() && n.fraction.back() == '0') {
        n.fraction.pop_back();
    }
    if (n.whole == "0" && n.fraction.empty()) {
        n.negative = false;
    }
    return n;
}

// The exact form of the numbers that have one: integers, currency amounts,
// Booleans (-1 and 0) and decimals written in plain digits.
std::optional<ExactNumber> ExactOf(const Value& v) {
    if (const auto* i = v.As<std::int64_t>()) {
        return ParseExact(std::to_string(*i));
    }
    if (const auto* b = v.As<bool>()) {
        return ParseExact(*b ? "-1" : "0");
    }
    if (const auto* c = v.As<Currency>()) {
        const bool negative = c->scaled < 0;
        const auto magnitude = negative ? -static_cast<unsigned long long>(c->scaled)
                                        : static_cast<unsigned long long>(c->scaled);
        std::string fraction = std::to_string(magnitude % 10000);
        fraction.insert(0, 4 - fraction.size(), '0');
        return ParseExact((negative ? "-" : "") + std::to_string(magnitude / 10000) + "." +
                          fraction);
    }
    if (const auto* d = v.As<Decimal>()) {
        return ParseExact(d->text);
    }
    return std::nullopt;
}

int CompareMagnitudes(const ExactNumber& a, const ExactNumber& b) {
    if (a.whole.size() != b.whole.size()) {
        return a.whole.size() < b.whole.size() ? -1 : 1;
    }
    if (const int c = a.whole.compare(b.whole); c != 0) {
        return c < 0 ? -1 : 1;
    }
    // No trailing zeros: the shorter fraction that is a prefix is smaller.
    const int c = a.fraction.compare(b.fraction);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int CompareExact(const ExactNumber& a, const ExactNumber& b) {
    if (a.negative != b.negative) {
        return a.negative ? -1 : 1;
    }
    const int magnitude = CompareMagnitudes(a, b);
    return a.negative ? -magnitude : magnitude;
}

bool IsNotANumber(const Value& v) {
    if (const auto* d = v.As<double>()) {
        return std::isnan(*d);
    }
    if (const auto* t = v.As<DateTime>()) {
        return std::isnan(t->serial);
    }
    if (const auto* d = v.As<Decimal>()) {
        return d->text == "NaN";
    }
    return false;
}

int CompareNumbers(const Value& a, const Value& b) {
    const bool nanA = IsNotANumber(a);
    const bool nanB = IsNotANumber(b);
    if (nanA || nanB) {
        return nanA == nanB ? 0 : (nanA ? 1 : -1);
    }
    if (const auto* ia = a.As<std::int64_t>()) {
        if (const auto* ib = b.As<std::int64_t>()) {
            return *ia < *ib ? -1 : (*ia > *ib ? 1 : 0);
        }
    }
    const auto exactA = ExactOf(a);
    const auto exactB = ExactOf(b);
    if (exactA && exactB) {
        return CompareExact(*exactA, *exactB);
    }
    // A floating point number or a date on one side at least: the 64-bit
    // mantissa of long double holds every integer and double exactly.
    const long double x = NumericValue(a);
    const long double y = NumericValue(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

int CompareBytes(std::string_view a, std::string_view b) {
    // char_traits<char> compares as unsigned char.
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string_view BytesOf(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::optional<std::int64_t> ParseInteger(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> ParseDouble(std::string_view text) {
    if (text == "NaN") {
        return std::nan("");
    }
    if (text == "Infinity") {
        return HUGE_VAL;
    }
    if (text == "-Infinity") {
        return -HUGE_VAL;
    }
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<Bytes> ParseHexBytes(std::string_view text) {
    if (text.size() < 2 || text.substr(0, 2) != "0x" || text.size() % 2 != 0) {
        return std::nullopt;
    }
    Bytes bytes;
    for (std::size_t i = 2; i < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

// A number where the text is exactly one, else the text.
Value NumberOrText(std::string_view text) {
    if (const auto i = ParseInteger(text)) {
        return Value(*i);
    }
    if (const auto d = ParseDouble(text)) {
        return Value(*d);
    }
    return Value(text);
}

// Reads `count` digits at `at` of `text`.
std::optional<unsigned> Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return value;
}

// "hh:mm:ss" at `at` as seconds of the day.
std::optional<unsigned> TimeOfDay(std::string_view text, std::size_t at) {
    if (text.size() != at + 8 || text[at + 2] != ':' || text[at + 5] != ':') {
        return std::nullopt;
    }
    const auto h = Digits(text, at, 2);
    const auto m = Digits(text, at + 3, 2);
    const auto s = Digits(text, at + 6, 2);
    if (!h || !m || !s || *h > 23 || *m > 59 || *s > 59) {
        return std::nullopt;
    }
    return *h * 3600 + *m * 60 + *s;
}

}  // namespace

int CompareKeyValues(const Value& a, const Value& b) {
    const Rank ra = RankOf(a);
    const Rank rb = RankOf(b);
    if (ra != rb) {
        return ra < rb ? -1 : 1;
    }
    switch (ra) {
        case Rank::Null:
            return 0;
        case Rank::Number:
            return CompareNumbers(a, b);
        case Rank::Text:
            return CompareBytes(*a.As<std::string>(), *b.As<std::string>());
        case Rank::Bytes:
            return CompareBytes(BytesOf(*a.As<Bytes>()), BytesOf(*b.As<Bytes>()));
    }
    return 0;
}

int CompareKeys(std::span<const Value> a, std::span<const Value> b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (const int c = CompareKeyValues(a[i], b[i]); c != 0) {
            return c;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string KeyValueText(const Value& value) {
    if (value.IsNull()) {
        return "Null";
    }
    if (const auto* bytes = value.As<Bytes>()) {
        static const char* const hex = "0123456789abcdef";
        std::string text = "0x";
        for (const std::uint8_t b : *bytes) {
            text += hex[b >> 4];
            text += hex[b & 15];
        }
        return text;
    }
    return PlainText(value);
}

bool ParseDateTimeText(std::string_view text, DateTime& out) {
    if (text.size() == 8) {
        const auto seconds = TimeOfDay(text, 0);
        if (!seconds) {
            return false;
        }
        out.serial = *seconds / 86400.0;
        return true;
    }
    if (text.size() < 10 || text[4] != '-' || text[7] != '-') {
        return false;
    }
    const auto y = Digits(text, 0, 4);
    const auto m = Digits(text, 5, 2);
    const auto d = Digits(text, 8, 2);
    if (!y || !m || !d || *m < 1 || *m > 12 || *d < 1 || *d > 31) {
        return false;
    }
    unsigned seconds = 0;
    if (text.size() > 10) {
        if (text[10] != ' ') {
            return false;
        }
        const auto time = TimeOfDay(text, 11);
        if (!time) {
            return false;
        }
        seconds = *time;
    }
    // 1899-12-30 is day 0; before it the time of day counts away from zero,
    // as in an OLE automation date.
    const long long days = DaysFromCivil(*y, *m, *d) - DaysFromCivil(1899, 12, 30);
    const double fraction = seconds / 86400.0;
    out.serial = static_cast<double>(days) + (days < 0 ? -fraction : fraction);
    return true;
}

Value KeyValueFromText(std::string_view text, int daoType) {
    switch (daoType) {
        case dao::kBoolean:
            if (text == "True" || text == "False") {
                return Value(text == "True");
            }
            return NumberOrText(text);
        case dao::kByte:
        case dao::kInteger:
        case dao::kLong:
        case dao::kBigInt:
            return NumberOrText(text);
        case dao::kSingle:
        case dao::kDouble:
        case dao::kFloat:
            if (const auto d = ParseDouble(text)) {
                return Value(*d);
            }
            return Value(text);
        case dao::kCurrency:
            if (const auto exact = ParseExact(text); exact && exact->fraction.size() <= 4) {
                std::string fraction = exact->fraction;
                fraction.append(4 - fraction.size(), '0');
                if (const auto scaled =
                        ParseInteger((exact->negative ? "-" : "") + exact->whole + fraction)) {
                    return Value(Currency{*scaled});
                }
            }
            return NumberOrText(text);
        case dao::kNumeric:
        case dao::kDecimal:
            if (ParseExact(text)) {
                return Value(Decimal{std::string(text)});
            }
            return NumberOrText(text);
        case dao::kDate:
        case dao::kTime:
        case dao::kTimeStamp: {
            DateTime date;
            if (ParseDateTimeText(text, date)) {
                return Value(date);
            }
            return NumberOrText(text);
        }
        case dao::kBinary:
        case dao::kVarBinary:
            if (auto bytes = ParseHexBytes(text)) {
                return Value(std::move(*bytes));
            }
            return Value(text);
        case dao::kLongBinary:
            if (auto bytes = ParseHexBytes(text)) {
                return Value(std::move(*bytes));
            }
            return NumberOrText(text);
        default:
            return Value(text);
    }
}

}  // namespace kesmark
