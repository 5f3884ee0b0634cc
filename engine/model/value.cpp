#include "engine/model/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "engine/model/db_error.h"
#include "engine/model/utf8.h"

namespace kesmark {

namespace {

// Decodes one code point from s at i, advancing i. Invalid bytes come back as
// 0xDC00 + byte (a lone low surrogate), which sorts them among the surrogates.
char32_t DecodeForOrdering(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto invalid = [&] {
        ++i;
        return static_cast<char32_t>(0xDC00 + b0);
    };
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        return invalid();
    }
    if (i + extra >= s.size()) {
        return invalid();
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            return invalid();
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += 1 + extra;
    return cp;
}

// The first and second UTF-16 code unit of a code point (second 0 for the BMP).
std::pair<char16_t, char16_t> Utf16Units(char32_t cp) {
    if (cp < 0x10000) {
        return {static_cast<char16_t>(cp), 0};
    }
    cp -= 0x10000;
    return {static_cast<char16_t>(0xD800 + (cp >> 10)),
            static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
}

// "0012.500" -> "12.5", "-0" -> "0": the canonical text of a decimal number.
std::string NormalizeDecimal(std::string_view text) {
    bool negative = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    std::string intPart;
    std::string fracPart;
    bool inFraction = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.') {
            inFraction = true;
        } else if (inFraction) {
            fracPart += c;
        } else {
            intPart += c;
        }
    }
    const auto firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string::npos ? "0" : intPart.substr(firstNonZero);
    while (!fracPart.empty() && fracPart.back() == '0') {
        fracPart.pop_back();
    }
    std::string result = intPart;
    if (!fracPart.empty()) {
        result += '.' + fracPart;
    }
    if (negative && result != "0") {
        result = '-' + result;
    }
    return result;
}

std::string FormatCurrency(Currency c) {
    const bool negative = c.scaled < 0;
    const auto magnitude = negative ? -static_cast<unsigned long long>(c.scaled)
                                    : static_cast<unsigned long long>(c.scaled);
    std::string text = std::to_string(magnitude / 10000);
    auto fraction = magnitude % 10000;
    if (fraction != 0) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04llu", fraction);
        std::string frac = buf;
        while (frac.back() == '0') {
            frac.pop_back();
        }
        text += '.' + frac;
    }
    return negative ? '-' + text : text;
}

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += (m <= 2);
}

// 1899-12-30, day 0 of OLE dates, counted from 1970-01-01.
constexpr long long kOleEpochDays = -25569;
constexpr long long kMillisecondsPerDay = 86400000;

// An instant as a day number (OLE: days since 1899-12-30) and the
// milliseconds into that day.
struct Instant {
    long long day = 0;
    long long millisecond = 0;
    friend bool operator==(const Instant&, const Instant&) = default;
};

// The instant of an OLE date serial, to the millisecond. Before day 0 the
// fraction counts away from zero, as OLE dates do (-1.25 is 1899-12-29
// 06:00).
std::optional<Instant> InstantOfSerial(double serial) {
    if (!std::isfinite(serial) || std::fabs(serial) > 1e8) {
        return std::nullopt;
    }
    auto day = static_cast<long long>(std::trunc(serial));
    auto ms = std::llround(std::fabs(serial - std::trunc(serial)) *
                           static_cast<double>(kMillisecondsPerDay));
    if (ms >= kMillisecondsPerDay) {
        ms -= kMillisecondsPerDay;
        day += serial < 0 ? -1 : 1;
    }
    return Instant{day, ms};
}

// The instant an ISO 8601 date/time text names: "yyyy-mm-dd", optionally
// followed by " " or "T" and "hh:mm", ":ss" and a fraction of a second; or a
// time alone (day 0). Nullopt for anything else (a time zone included).
std::optional<Instant> InstantOfText(std::string_view text) {
    std::size_t pos = 0;
    int year = 1899;
    int month = 12;
    int day = 30;
    bool dated = false;
    if (text.size() >= 10 && text[4] == '-') {
        if (!ReadDigits(text, pos, 4, year) || text[pos++] != '-' ||
            !ReadDigits(text, pos, 2, month) || pos >= text.size() || text[pos++] != '-' ||
            !ReadDigits(text, pos, 2, day)) {
            return std::nullopt;
        }
        dated = true;
        if (pos < text.size()) {
            if (text[pos] != ' ' && text[pos] != 'T') {
                return std::nullopt;
            }
            ++pos;
        }
    }
    int hour = 0;
    int minute = 0;
    int second = 0;
    long long fraction = 0;  // milliseconds
    if (pos < text.size() || !dated) {
        if (!ReadDigits(text, pos, 2, hour) || pos >= text.size() || text[pos++] != ':' ||
            !ReadDigits(text, pos, 2, minute)) {
            return std::nullopt;
        }
        if (pos < text.size() && text[pos] == ':') {
            ++pos;
            if (!ReadDigits(text, pos, 2, second)) {
                return std::nullopt;
            }
            if (pos < text.size() && text[pos] == '.') {
                // Milliseconds; digits beyond them are finer than a date
                // value holds and are not read.
                ++pos;
                int digits = 0;
                for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
                    if (digits < 3) {
                        static constexpr long long kScale[] = {100, 10, 1};
                        fraction += (text[pos] - '0') * kScale[digits];
                    }
                    ++digits;
                }
                if (digits == 0) {
                    return std::nullopt;
                }
            }
        }
    }
    if (pos != text.size() || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
        second > 59) {
        return std::nullopt;
    }
    static const int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDaysInMonth[month - 1] || (month == 2 && day == 29 && !leap)) {
        return std::nullopt;
    }
    const long long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        kOleEpochDays;
    return Instant{days, (hour * 3600LL + minute * 60LL + second) * 1000 + fraction};
}

// The exact decimal text of an exact number (integer, currency, decimal),
// canonical ("2.00" is "2"); nullopt for other values.
std::optional<std::string> ExactText(const Value& v) {
    if (const auto* i = v.As<std::int64_t>()) {
        return std::to_string(*i);
    }
    if (const auto* c = v.As<Currency>()) {
        return NormalizeDecimal(FormatCurrency(*c));
    }
    if (const auto* d = v.As<Decimal>()) {
        return NormalizeDecimal(d->text);
    }
    return std::nullopt;
}

// The double nearest to an exact decimal text.
std::optional<double> NearestDouble(const std::string& text) {
    double d = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, d);
    if (result.ec != std::errc() || result.ptr != end) {
        return std::nullopt;
    }
    return d;
}

// The value of a Boolean, integer, decimal, currency or floating-point number
// when it is exactly 0 or 1.
std::optional<bool> ZeroOrOne(const Value& v) {
    if (const auto* b = v.As<bool>()) {
        return *b;
    }
    if (const auto* d = v.As<double>()) {
        if (*d == 0.0 || *d == 1.0) {
            return *d == 1.0;
        }
        return std::nullopt;
    }
    if (const auto exact = ExactText(v)) {
        if (*exact == "0" || *exact == "1") {
            return *exact == "1";
        }
    }
    return std::nullopt;
}

bool NumbersEqualByMeaning(const Value& a, const Value& b) {
    const bool dateA = a.As<DateTime>() != nullptr;
    const bool dateB = b.As<DateTime>() != nullptr;
    if (dateA || dateB) {
        return dateA && dateB && a.As<DateTime>()->serial == b.As<DateTime>()->serial;
    }
    if (a.As<bool>() || b.As<bool>()) {
        const auto za = ZeroOrOne(a);
        const auto zb = ZeroOrOne(b);
        return za && zb && *za == *zb;
    }
    const auto exactA = ExactText(a);
    const auto exactB = ExactText(b);
    if (exactA && exactB) {
        return *exactA == *exactB;
    }
    const auto* realA = a.As<double>();
    const auto* realB = b.As<double>();
    if (realA && realB) {
        return *realA == *realB;
    }
    // One exact number, one floating-point number.
    const std::string& exact = exactA ? *exactA : *exactB;
    const double real = realA ? *realA : *realB;
    const auto nearest = NearestDouble(exact);
    return nearest && *nearest == real;
}

}  // namespace

long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

bool ReadDigits(std::string_view text, std::size_t& pos, std::size_t digits, int& value) {
    if (pos + digits > text.size()) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    pos += digits;
    return true;
}

bool Value::IsNumeric() const {
    return std::holds_alternative<bool>(v_) || std::holds_alternative<std::int64_t>(v_) ||
           std::holds_alternative<double>(v_) || std::holds_alternative<Currency>(v_) ||
           std::holds_alternative<Decimal>(v_) || std::holds_alternative<DateTime>(v_);
}

int CompareOrdinal(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca < 0x80 && cb < 0x80) {
            if (ca != cb) {
                return ca < cb ? -1 : 1;
            }
            ++i;
            ++j;
            continue;
        }
        const auto ua = Utf16Units(DecodeForOrdering(a, i));
        const auto ub = Utf16Units(DecodeForOrdering(b, j));
        if (ua.first != ub.first) {
            return ua.first < ub.first ? -1 : 1;
        }
        if (ua.second != ub.second) {
            // One is a lone surrogate and the other a pair with the same first
            // unit, or two pairs: the shorter sequence is the prefix.
            return ua.second < ub.second ? -1 : 1;
        }
    }
    if (i < a.size()) {
        return 1;
    }
    if (j < b.size()) {
        return -1;
    }
    return 0;
}

long double NumericValue(const Value& v) {
    struct Visitor {
        long double operator()(const Null&) const { return 0; }
        long double operator()(bool b) const { return b ? -1 : 0; }
        long double operator()(std::int64_t i) const { return static_cast<long double>(i); }
        long double operator()(double d) const { return d; }
        long double operator()(const Currency& c) const {
            return static_cast<long double>(c.scaled) / 10000.0L;
        }
        long double operator()(const Decimal& d) const {
            return std::strtold(d.text.c_str(), nullptr);
        }
        long double operator()(const std::string&) const { return 0; }
        long double operator()(const DateTime& d) const { return d.serial; }
        long double operator()(const Bytes&) const { return 0; }
    };
    return std::visit(Visitor{}, v.Get());
}

bool ValuesEqualByMeaning(const Value& a, const Value& b) {
    if (a.IsNull() || b.IsNull()) {
        return a.IsNull() && b.IsNull();
    }
    if (a.IsBytes() || b.IsBytes()) {
        return a.IsBytes() && b.IsBytes() && BytesEqual(*a.As<Bytes>(), *b.As<Bytes>());
    }
    const auto* textA = a.As<std::string>();
    const auto* textB = b.As<std::string>();
    if (textA && textB) {
        return *textA == *textB;
    }
    if (textA || textB) {
        const auto* date = textA ? b.As<DateTime>() : a.As<DateTime>();
        if (!date) {
            return false;
        }
        const auto fromText = InstantOfText(textA ? *textA : *textB);
        const auto fromDate = InstantOfSerial(date->serial);
        return fromText && fromDate && *fromText == *fromDate;
    }
    return NumbersEqualByMeaning(a, b);
}

bool BytesEqual(const Bytes& a, const Bytes& b) {
    return a == b;
}

bool VariantEqual(const Value& a, const Value& b) {
    if (a.IsNull() || b.IsNull()) {
        return a.IsNull() && b.IsNull();
    }
    if (a.IsBytes() || b.IsBytes()) {
        return a.IsBytes() && b.IsBytes() && BytesEqual(*a.As<Bytes>(), *b.As<Bytes>());
    }
    if (a.IsText() || b.IsText()) {
        return a.IsText() && b.IsText() && *a.As<std::string>() == *b.As<std::string>();
    }
    // Both numeric. Keep exact comparisons where both sides are exact.
    if (const auto* ia = a.As<std::int64_t>()) {
        if (const auto* ib = b.As<std::int64_t>()) {
            return *ia == *ib;
        }
    }
    if (const auto* ca = a.As<Currency>()) {
        if (const auto* cb = b.As<Currency>()) {
            return ca->scaled == cb->scaled;
        }
    }
    if (const auto* da = a.As<Decimal>()) {
        if (const auto* db = b.As<Decimal>()) {
            return NormalizeDecimal(da->text) == NormalizeDecimal(db->text);
        }
    }
    return NumericValue(a) == NumericValue(b);
}

std::string FormatDouble(double d) {
    if (std::isnan(d)) {
        return "NaN";
    }
    if (std::isinf(d)) {
        return d < 0 ? "-Infinity" : "Infinity";
    }
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, result.ptr);
}

std::string FormatDateTime(DateTime dt) {
    const double serial = dt.serial;
    if (!std::isfinite(serial) || std::fabs(serial) > 1e8) {
        return FormatDouble(serial);
    }
    auto days = static_cast<long long>(std::trunc(serial));
    auto seconds =
        static_cast<long long>(std::llround(std::fabs(serial - std::trunc(serial)) * 86400.0));
    if (seconds >= 86400) {
        seconds -= 86400;
        days += serial < 0 ? -1 : 1;
    }
    long long y = 0;
    unsigned m = 0;
    unsigned d = 0;
    // 1899-12-30 is 25569 days before 1970-01-01.
    CivilFromDays(days - 25569, y, m, d);
    char buf[64];
    if (days == 0 && seconds != 0) {
        std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    } else if (seconds == 0) {
        std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", y, m, d);
    } else {
        std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d,
                      seconds / 3600, seconds / 60 % 60, seconds % 60);
    }
    return buf;
}

std::string PlainText(const Value& v) {
    struct Visitor {
        std::string operator()(const Null&) const {
            throw DbError(errors::kInvalidUseOfNull, "Invalid use of Null", "Kesmark");
        }
        std::string operator()(bool b) const { return b ? "True" : "False"; }
        std::string operator()(std::int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return FormatDouble(d); }
        std::string operator()(const Currency& c) const { return FormatCurrency(c); }
        std::string operator()(const Decimal& d) const { return d.text; }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const DateTime& d) const { return FormatDateTime(d); }
        std::string operator()(const Bytes& bytes) const {
            // Two bytes to a character, little-endian; an odd last byte
            // stands alone.
            std::u16string units;
            for (std::size_t k = 0; k < bytes.size(); k += 2) {
                char16_t unit = bytes[k];
                if (k + 1 < bytes.size()) {
                    unit = static_cast<char16_t>(unit | (bytes[k + 1] << 8));
                }
                units += unit;
            }
            return Utf16ToUtf8(units.data(), units.size());
        }
    };
    return std::visit(Visitor{}, v.Get());
}

}  // namespace kesmark
