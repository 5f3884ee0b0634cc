// Literals and identifiers of the sync script's dialects: values written as
// the target's own types, never through the locale.

#include "engine/sync/sql_dialect.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kesmark::sync {
namespace {

struct LiteralCase {
    const char* scenario;
    Value value;
    const char* sqlite;
    const char* postgres;
    const char* standard;
};

TEST(SqlDialect, LiteralsAreTheTargetsOwnTypes) {
    const std::vector<LiteralCase> cases = {
        {"null", Value(), "NULL", "NULL", "NULL"},
        {"integer", Value(-42), "-42", "-42", "-42"},
        {"largest integer", Value(std::numeric_limits<std::int64_t>::max()), "9223372036854775807",
         "9223372036854775807", "9223372036854775807"},
        {"whole double stays floating point", Value(2.0), "2.0", "2.0", "2.0"},
        {"shortest digits that read back", Value(0.1), "0.1", "0.1", "0.1"},
        {"negative zero", Value(-0.0), "-0.0", "-0.0", "-0.0"},
        {"infinity", Value(std::numeric_limits<double>::infinity()), "9e999", "'Infinity'::float8",
         "9e999"},
        {"not a number", Value(std::nan("")), "NULL", "'NaN'::float8", "NULL"},
        {"boolean", Value(true), "1", "TRUE", "TRUE"},
        {"currency exact", Value(Currency{-125000}), "-12.5", "-12.5", "-12.5"},
        {"decimal exact", Value(Decimal{"1234567890.123456789"}), "1234567890.123456789",
         "1234567890.123456789", "1234567890.123456789"},
        {"date alone", Value(DateTime{46027.0}), "'2026-01-05'", "TIMESTAMP '2026-01-05'",
         "TIMESTAMP '2026-01-05'"},
        {"date with milliseconds", Value(DateTime{46027.5 + 0.25 / 86400}),
         "'2026-01-05 12:00:00.250'", "TIMESTAMP '2026-01-05 12:00:00.250'",
         "TIMESTAMP '2026-01-05 12:00:00.250'"},
        {"quote doubled", Value("it's"), "'it''s'", "'it''s'", "'it''s'"},
        {"backslash kept", Value("a\\b"), "'a\\b'", "'a\\b'", "'a\\b'"},
        {"text with a NUL byte", Value(std::string("a\0b", 3)), "CAST(X'610062' AS TEXT)", "", ""},
        {"invalid UTF-8", Value(std::string("\xff")), "CAST(X'ff' AS TEXT)", "'\xff'", "'\xff'"},
        {"unicode text", Value("Ünïcødé"), "'Ünïcødé'", "'Ünïcødé'", "'Ünïcødé'"},
        {"bytes", Value(Bytes{0x00, 0xab, 0x10}), "X'00ab10'", "'\\x00ab10'::bytea", "X'00ab10'"},
        {"empty bytes", Value(Bytes{}), "X''", "'\\x'::bytea", "X''"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(Literal(c.value, Dialect::SQLite), c.sqlite);
        if (std::string(c.scenario) != "text with a NUL byte") {
            EXPECT_EQ(Literal(c.value, Dialect::PostgreSQL), c.postgres);
            EXPECT_EQ(Literal(c.value, Dialect::Standard), c.standard);
        }
    }
}

TEST(SqlDialect, IdentifiersDoubleTheirQuotes) {
    EXPECT_EQ(QuoteIdentifier("Orders"), "\"Orders\"");
    EXPECT_EQ(QuoteIdentifier("Order \"Lines\""), "\"Order \"\"Lines\"\"\"");
    EXPECT_EQ(QuoteIdentifier("drop table x; --"), "\"drop table x; --\"");
}

TEST(SqlDialect, TargetsByKind) {
    EXPECT_EQ(DialectOf({"SQLite", ""}), Dialect::SQLite);
    EXPECT_EQ(DialectOf({"ODBC", "PostgreSQL"}), Dialect::PostgreSQL);
    EXPECT_EQ(DialectOf({"ODBC", "SQLite"}), Dialect::Standard);
    EXPECT_FALSE(IsWritableTarget({"Access", ""}));
    EXPECT_TRUE(IsWritableTarget({"ODBC", "PostgreSQL"}));
}

}  // namespace
}  // namespace kesmark::sync
