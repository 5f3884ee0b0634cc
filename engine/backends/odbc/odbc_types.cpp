#include "engine/backends/odbc/odbc_types.h"

#include <sqlucode.h>

#include <charconv>
#include <cmath>

#include "engine/model/value_codec.h"
#include "engine/model/vocabulary.h"

namespace kesmark::odbc {

namespace {

bool Expect(std::string_view text, std::size_t& pos, char c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

}  // namespace

int DaoTypeFromSqlType(SQLSMALLINT sqlType) {
    return vocabulary::DaoTypeFromSqlType(sqlType);
}

std::int64_t DaoSize(int daoType, std::optional<std::int64_t> columnSize) {
    return vocabulary::DaoSize(daoType, columnSize);
}

bool IsBinarySqlType(SQLSMALLINT sqlType) {
    return sqlType == SQL_BINARY || sqlType == SQL_VARBINARY || sqlType == SQL_LONGVARBINARY;
}

bool IsLongDaoType(int daoType) {
    return daoType == dao::kLongBinary || daoType == dao::kMemo;
}

std::optional<DateTime> ParseDateTime(std::string_view text) {
    std::size_t pos = 0;
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool hasDate = false;
    bool hasTime = false;
    if (text.size() >= 10 && text[4] == '-') {
        if (!ReadDigits(text, pos, 4, year) || !Expect(text, pos, '-') ||
            !ReadDigits(text, pos, 2, month) || !Expect(text, pos, '-') ||
            !ReadDigits(text, pos, 2, day)) {
            return std::nullopt;
        }
        hasDate = true;
        if (pos < text.size() && !Expect(text, pos, ' ') && !Expect(text, pos, 'T')) {
            return std::nullopt;
        }
    }
    if (pos < text.size()) {
        if (!ReadDigits(text, pos, 2, hour) || !Expect(text, pos, ':') ||
            !ReadDigits(text, pos, 2, minute) || !Expect(text, pos, ':') ||
            !ReadDigits(text, pos, 2, second)) {
            return std::nullopt;
        }
        if (Expect(text, pos, '.')) {
            if (pos == text.size()) {
                return std::nullopt;
            }
            for (; pos < text.size(); ++pos) {
                if (text[pos] != '0') {
                    return std::nullopt;
                }
            }
        }
        hasTime = true;
    }
    if (pos != text.size() || (!hasDate && !hasTime)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    static const int daysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > daysInMonth[month - 1] || (month == 2 && day == 29 && !leap)) {
        return std::nullopt;
    }
    const long long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
        DaysFromCivil(1899, 12, 30);
    const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    // Before day 0 the fraction counts away from zero, as OLE dates do.
    const double serial =
        days < 0 ? static_cast<double>(days) - fraction : static_cast<double>(days) + fraction;
    return DateTime{serial};
}

TextMeaning ParseText(SQLSMALLINT sqlType, std::string_view text) {
    TextMeaning meaning;
    switch (sqlType) {
        case SQL_BIT:
            if (text == "1" || text == "0") {
                meaning.kind = TextMeaning::Kind::Boolean;
                meaning.boolean = text == "1";
            }
            break;
        case SQL_TINYINT:
        case SQL_SMALLINT:
        case SQL_INTEGER:
        case SQL_BIGINT: {
            const char* end = text.data() + text.size();
            const auto result = std::from_chars(text.data(), end, meaning.integer);
            if (result.ec == std::errc() && result.ptr == end && !text.empty()) {
                meaning.kind = TextMeaning::Kind::Integer;
            } else if (vocabulary::IsNumberText(text) && text.find('.') == std::string_view::npos) {
                meaning.kind = TextMeaning::Kind::Decimal;  // beyond 64 bits
            }
            break;
        }
        case SQL_REAL:
        case SQL_FLOAT:
        case SQL_DOUBLE: {
            const char* end = text.data() + text.size();
            const auto result = std::from_chars(text.data(), end, meaning.real);
            if (result.ec == std::errc() && result.ptr == end && !text.empty() &&
                std::isfinite(meaning.real)) {
                meaning.kind = TextMeaning::Kind::Double;
            }
            break;
        }
        case SQL_DECIMAL:
        case SQL_NUMERIC:
            if (vocabulary::IsNumberText(text)) {
                meaning.kind = TextMeaning::Kind::Decimal;
            }
            break;
        case SQL_TYPE_DATE:
        case SQL_DATE:
        case SQL_TYPE_TIME:
        case SQL_TIME:
        case SQL_TYPE_TIMESTAMP:
        case SQL_TIMESTAMP:
            if (auto date = ParseDateTime(text)) {
                meaning.kind = TextMeaning::Kind::Date;
                meaning.date = *date;
            }
            break;
        default:
            break;
    }
    return meaning;
}

Value ValueFromText(SQLSMALLINT sqlType, std::string text) {
    const TextMeaning meaning = ParseText(sqlType, text);
    switch (meaning.kind) {
        case TextMeaning::Kind::Boolean:
            return Value(meaning.boolean);
        case TextMeaning::Kind::Integer:
            return Value(meaning.integer);
        case TextMeaning::Kind::Double:
            return Value(meaning.real);
        case TextMeaning::Kind::Decimal:
            return Value(Decimal{std::move(text)});
        case TextMeaning::Kind::Date:
            return Value(meaning.date);
        case TextMeaning::Kind::Text:
            break;
    }
    return Value(std::move(text));
}

void EncodeText(SQLSMALLINT sqlType, std::string_view text, std::string& out) {
    const TextMeaning meaning = ParseText(sqlType, text);
    switch (meaning.kind) {
        case TextMeaning::Kind::Boolean:
            out.push_back(value_tags::kBoolean);
            out.push_back(meaning.boolean ? 1 : 0);
            return;
        case TextMeaning::Kind::Integer:
            EncodeInteger(meaning.integer, out);
            return;
        case TextMeaning::Kind::Double:
            EncodeDouble(meaning.real, out);
            return;
        case TextMeaning::Kind::Decimal:
            EncodeBytes(value_tags::kDecimal, text, out);
            return;
        case TextMeaning::Kind::Date:
            EncodeValue(Value(meaning.date), out);
            return;
        case TextMeaning::Kind::Text:
            break;
    }
    EncodeBytes(value_tags::kText, text, out);
}

}  // namespace kesmark::odbc
