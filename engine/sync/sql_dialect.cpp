#include "engine/sync/sql_dialect.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/model/dao.h"

namespace kesmark::sync {

namespace {

constexpr char kHex[] = "0123456789abcdef";

std::string Hex(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const unsigned char c : bytes) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

std::string_view AsChars(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// True when `text` is well-formed UTF-8 without a NUL byte: text that a
// quoted literal carries unchanged.
bool PlainUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0) {
            return false;
        }
        std::size_t length = 1;
        char32_t code = c;
        if (c >= 0x80) {
            if ((c & 0xE0) == 0xC0) {
                length = 2;
                code = c & 0x1F;
            } else if ((c & 0xF0) == 0xE0) {
                length = 3;
                code = c & 0x0F;
            } else if ((c & 0xF8) == 0xF0) {
                length = 4;
                code = c & 0x07;
            } else {
                return false;
            }
            if (i + length > text.size()) {
                return false;
            }
            for (std::size_t k = 1; k < length; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                if ((next & 0xC0) != 0x80) {
                    return false;
                }
                code = (code << 6) | (next & 0x3F);
            }
            const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
            if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

std::string DoubleLiteral(double d, Dialect dialect) {
    if (std::isnan(d)) {
        // SQLite keeps no NaN: it stores Null in its place.
        return dialect == Dialect::PostgreSQL ? "'NaN'::float8" : "NULL";
    }
    if (std::isinf(d)) {
        if (dialect == Dialect::PostgreSQL) {
            return d > 0 ? "'Infinity'::float8" : "'-Infinity'::float8";
        }
        return d > 0 ? "9e999" : "-9e999";
    }
    std::string text = FormatDouble(d);
    if (text.find_first_of(".eE") == std::string::npos) {
        text += ".0";
    }
    return text;
}

}  // namespace

void StreamLongLiteral(RecordsetField& field, Dialect dialect, std::ostream& out) {
    const bool text = field.Type() == dao::kMemo;
    const bool postgres = dialect == Dialect::PostgreSQL;
    if (postgres) {
        out << (text ? "convert_from('\\x" : "'\\x");
    } else {
        out << (text ? "CAST(X'" : "X'");
    }
    constexpr std::size_t kPiece = 64 << 10;
    const std::int64_t size = field.FieldSize();
    for (std::int64_t offset = 0; offset < size;) {
        const Bytes piece = field.GetChunk(offset, kPiece);
        if (piece.empty()) {
            break;
        }
        out << Hex(AsChars(piece));
        offset += static_cast<std::int64_t>(piece.size());
    }
    if (postgres) {
        out << (text ? "'::bytea, 'UTF8')" : "'::bytea");
    } else {
        out << (text ? "' AS TEXT)" : "'");
    }
}

Dialect DialectOf(const DatabaseKind& kind) {
    if (kind.backend == "SQLite") {
        return Dialect::SQLite;
    }
    if (kind.backend == "ODBC" && kind.system == "PostgreSQL") {
        return Dialect::PostgreSQL;
    }
    return Dialect::Standard;
}

bool IsWritableTarget(const DatabaseKind& kind) {
    return kind.backend != "Access";
}

std::string QuoteIdentifier(std::string_view name) {
    std::string out = "\"";
    for (const char c : name) {
        out.push_back(c);
        if (c == '"') {
            out.push_back('"');
        }
    }
    out.push_back('"');
    return out;
}

std::string QuoteText(std::string_view text) {
    std::string out = "'";
    for (const char c : text) {
        out.push_back(c);
        if (c == '\'') {
            out.push_back('\'');
        }
    }
    out.push_back('\'');
    return out;
}

std::string CurrencyText(Currency amount) {
    const bool negative = amount.scaled < 0;
    // The magnitude as unsigned, so that the smallest amount has one too.
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(amount.scaled)
                                             : static_cast<std::uint64_t>(amount.scaled);
    std::string text = std::to_string(magnitude / 10000);
    std::string fraction = std::to_string(magnitude % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    if (!fraction.empty()) {
        text += "." + fraction;
    }
    return negative ? "-" + text : text;
}

std::string DateTimeText(DateTime date) {
    if (!std::isfinite(date.serial) || date.serial < 0) {
        // Before 1899-12-30 the serial's fraction counts the other way;
        // the model's own formatting knows it (to the second).
        return FormatDateTime(date);
    }
    const auto milliseconds = static_cast<std::int64_t>(std::llround(date.serial * 86400000.0));
    std::int64_t days = milliseconds / 86400000 - 25569;  // days since 1970-01-01
    std::int64_t ms = milliseconds % 86400000;
    // Civil date from a day count (proleptic Gregorian).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day));
    std::string text = buffer;
    if (ms == 0) {
        return text;
    }
    const std::int64_t seconds = ms / 1000;
    std::snprintf(buffer, sizeof buffer, " %02lld:%02lld:%02lld",
                  static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                  static_cast<long long>(seconds % 60));
    text += buffer;
    if (ms % 1000 != 0) {
        std::snprintf(buffer, sizeof buffer, ".%03lld", static_cast<long long>(ms % 1000));
        text += buffer;
    }
    return text;
}

std::string Literal(const Value& value, Dialect dialect) {
    const auto& v = value.Get();
    if (value.IsNull()) {
        return "NULL";
    }
    if (const auto* b = std::get_if<bool>(&v)) {
        if (dialect == Dialect::SQLite) {
            return *b ? "1" : "0";
        }
        return *b ? "TRUE" : "FALSE";
    }
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&v)) {
        return DoubleLiteral(*d, dialect);
    }
    if (const auto* c = std::get_if<Currency>(&v)) {
        return CurrencyText(*c);
    }
    if (const auto* d = std::get_if<Decimal>(&v)) {
        return d->text;
    }
    if (const auto* d = std::get_if<DateTime>(&v)) {
        const std::string text = QuoteText(DateTimeText(*d));
        return dialect == Dialect::SQLite ? text : "TIMESTAMP " + text;
    }
    if (const auto* bytes = std::get_if<Bytes>(&v)) {
        if (dialect == Dialect::PostgreSQL) {
            return "'\\x" + Hex(AsChars(*bytes)) + "'::bytea";
        }
        return "X'" + Hex(AsChars(*bytes)) + "'";
    }
    const auto& text = std::get<std::string>(v);
    if (dialect == Dialect::SQLite && !PlainUtf8(text)) {
        return "CAST(X'" + Hex(text) + "' AS TEXT)";
    }
    return QuoteText(text);
}

}  // namespace kesmark::sync
