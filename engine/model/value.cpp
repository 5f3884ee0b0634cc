#include "engine/model/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

}  // namespace

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
