// The ODBC backend's own rules, without a driver: keys that stay unique,
// values from the driver's text, passwords found in connect strings, and
// the UTF-16 text of the driver manager.

#include <gtest/gtest.h>

#include "engine/backends/odbc/odbc_catalog.h"
#include "engine/backends/odbc/odbc_connection.h"
#include "engine/backends/odbc/odbc_dialect.h"
#include "engine/backends/odbc/odbc_handles.h"
#include "engine/backends/odbc/odbc_indexes.h"
#include "engine/backends/odbc/odbc_recordset.h"
#include "engine/backends/odbc/odbc_types.h"
#include "engine/backends/odbc/odbc_vocabulary.h"
#include "engine/model/value_codec.h"
#include "engine/open_database.h"

namespace kesmark::odbc {
namespace {

struct KeysCase {
    const char* scenario;
    std::vector<std::pair<std::string, std::string>> candidates;
    std::vector<std::string> expected;
};

TEST(OdbcKeys, StayUniqueAcrossSchemas) {
    const std::vector<KeysCase> cases = {
        {"distinct names keep their preferred keys",
         {{"orders", "\"public\".\"orders\""}, {"archive.orders", "\"archive\".\"orders\""}},
         {"orders", "archive.orders"}},
        {"a name that looks qualified takes the quoted form, with the table it imitates",
         {{"archive.orders", "\"public\".\"archive.orders\""},
          {"archive.orders", "\"archive\".\"orders\""},
          {"items", "\"public\".\"items\""}},
         {"\"public\".\"archive.orders\"", "\"archive\".\"orders\"", "items"}},
        {"keys still shared after qualifying are numbered in listing order",
         {{"f", "f"}, {"f", "f"}, {"f", "f"}},
         {"f", "f #2", "f #3"}},
        {"a number never takes a key another candidate holds",
         {{"f", "f"}, {"f", "f"}, {"f #2", "f #2"}},
         {"f", "f #3", "f #2"}},
        {"letter case makes names different",
         {{"Orders", "Orders"}, {"ORDERS", "ORDERS"}},
         {"Orders", "ORDERS"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UniqueKeys(c.candidates), c.expected) << c.scenario;
    }
}

// A SQLStatistics row of index `index`: key `column` (nullopt for an
// expression) at `position`.
StatisticsRow KeyRow(const std::string& index, std::optional<std::string> column,
                     std::optional<std::int64_t> position, bool unique = false) {
    StatisticsRow row;
    row.indexName = index;
    row.columnName = std::move(column);
    row.position = position;
    row.unique = unique;
    return row;
}

// "name: key, key" for each index, "*" marking the primary key.
std::vector<std::string> Describe(const std::vector<IndexEntry>& indexes) {
    std::vector<std::string> lines;
    for (const auto& index : indexes) {
        std::string line = (index.primary ? "*" : "") + index.name + ":";
        for (const auto& key : index.keys) {
            line += " " + key.name;
        }
        lines.push_back(line);
    }
    return lines;
}

TEST(OdbcIndexes, GatherTheirKeysInKeyOrder) {
    const std::vector<StatisticsRow> rows = {KeyRow("by_name", "last", 2),
                                             KeyRow("by_email", "email", 1),
                                             KeyRow("by_name", "first", 1),
                                             KeyRow("by_lower", std::nullopt, 1),
                                             KeyRow("unnumbered", "a", std::nullopt),
                                             KeyRow("unnumbered", "b", std::nullopt)};
    EXPECT_EQ(Describe(GatherIndexes(rows, DialectFor(Dbms::Other))),
              (std::vector<std::string>{"by_name: first last", "by_email: email",
                                        "by_lower: (expression 1)", "unnumbered: a b"}));

    const auto sqlite =
        GatherIndexes({KeyRow("sqlite_autoindex_0", "id", 1, true)}, DialectFor(Dbms::SQLite));
    ASSERT_EQ(sqlite.size(), 1u);
    EXPECT_EQ(sqlite[0].name, "sqlite_rowid") << "the SQLite driver's stand-in for the rowid";
    EXPECT_EQ(sqlite[0].type, SQL_INDEX_CLUSTERED);
    EXPECT_EQ(
        GatherIndexes({KeyRow("sqlite_autoindex_0", "id", 1)}, DialectFor(Dbms::Other))[0].name,
        "sqlite_autoindex_0")
        << "renamed for the SQLite driver only";
}

struct PrimaryKeyCase {
    const char* scenario;
    std::vector<StatisticsRow> statistics;
    std::vector<PrimaryKeysRow> primaryKey;
    std::vector<std::string> expected;
};

TEST(OdbcIndexes, MarkThePrimaryKeyOrAddOneForIt) {
    const std::vector<PrimaryKeyCase> cases = {
        {"the index named like the key",
         {KeyRow("other", "id", 1, true), KeyRow("orders_pkey", "id", 1, true)},
         {{"id", 1, "orders_pkey"}},
         {"other: id", "*orders_pkey: id"}},
        {"else the first unique index on exactly its columns, in key order",
         {KeyRow("by_b_a", "b", 1, true), KeyRow("by_b_a", "a", 2, true),
          KeyRow("not_unique", "a", 1), KeyRow("not_unique", "b", 2),
          KeyRow("by_a_b", "a", 1, true), KeyRow("by_a_b", "b", 2, true),
          KeyRow("late", "a", 1, true), KeyRow("late", "b", 2, true)},
         {{"b", 2, ""}, {"a", 1, ""}},
         {"by_b_a: b a", "not_unique: a b", "*by_a_b: a b", "late: a b"}},
        {"an index of its own, in front, when none matches",
         {KeyRow("by_a", "a", 1, true)},
         {{"b", 1, "t_pk"}},
         {"*t_pk: b", "by_a: a"}},
        {"an unnamed key of its own is PrimaryKey", {}, {{"id", 1, ""}}, {"*PrimaryKey: id"}},
        {"no primary key leaves the indexes alone",
         {KeyRow("by_a", "a", 1, true)},
         {},
         {"by_a: a"}},
    };
    for (const auto& c : cases) {
        auto indexes = GatherIndexes(c.statistics, DialectFor(Dbms::Other));
        MarkPrimaryKey(indexes, GatherPrimaryKey(c.primaryKey));
        EXPECT_EQ(Describe(indexes), c.expected) << c.scenario;
    }
}

struct BlockCase {
    const char* scenario;
    std::size_t rowBytes;
    std::size_t blockBytes;
    std::optional<std::size_t> driverBatchRows;
    std::size_t expected;
};

TEST(OdbcBlocks, HoldWhatFitsAndEndWhereTheDriversBatchesEnd) {
    const std::vector<BlockCase> cases = {
        {"as many rows as fit", 1000, 100000, std::nullopt, 100},
        {"no more than the most rows", 10, 1000000, std::nullopt, 512},
        {"one row when one does not fit", 5000, 1000, std::nullopt, 1},
        {"a row of no bytes", 0, 1000, std::nullopt, 512},
        {"the driver's batch when smaller", 100, 1000000, 100, 100},
        {"a divisor of the driver's batch", 1000, 1000000, 1000, 500},
        {"a divisor of an odd batch", 3000, 1000000, 999, 333},
        {"a batch with no divisor near: as many rows as fit", 1000, 1000000, 997, 512},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BlockRows(c.rowBytes, c.blockBytes, 512, c.driverBatchRows), c.expected)
            << c.scenario;
    }
}

struct ValueCase {
    const char* scenario;
    SQLSMALLINT sqlType;
    std::string text;
    Value expected;
};

TEST(OdbcValues, ComeFromTheDriversTextWithoutLosingAnything) {
    const std::vector<ValueCase> cases = {
        {"an integer", SQL_INTEGER, "-42", Value(-42)},
        {"a big integer", SQL_BIGINT, "9223372036854775807", Value(9223372036854775807LL)},
        {"an unsigned integer beyond 64 bits stays exact", SQL_BIGINT, "18446744073709551615",
         Value(Decimal{"18446744073709551615"})},
        {"text in an integer column stays text, never Null", SQL_INTEGER, "blurk", Value("blurk")},
        {"digits with trailing text are not taken for a number", SQL_INTEGER, "10blurk",
         Value("10blurk")},
        {"an empty text in an integer column", SQL_INTEGER, "", Value("")},
        {"a double", SQL_DOUBLE, "0.30000000000000004", Value(0.30000000000000004)},
        {"a real in exponent form", SQL_REAL, "1e-07", Value(1e-07)},
        {"a double beyond range stays text", SQL_DOUBLE, "1e400", Value("1e400")},
        {"not a number stays text", SQL_DOUBLE, "NaN", Value("NaN")},
        {"a decimal keeps its digits", SQL_NUMERIC, "12.50", Value(Decimal{"12.50"})},
        {"a negative decimal", SQL_DECIMAL, "-0.001", Value(Decimal{"-0.001"})},
        {"a decimal 'NaN' stays text", SQL_NUMERIC, "NaN", Value("NaN")},
        {"a bit", SQL_BIT, "1", Value(true)},
        {"a bit of another spelling stays text", SQL_BIT, "yes", Value("yes")},
        {"a date", SQL_TYPE_DATE, "1899-12-31", Value(DateTime{1.0})},
        {"a timestamp with whole seconds", SQL_TYPE_TIMESTAMP, "1900-01-01 12:00:00",
         Value(DateTime{2.5})},
        {"a timestamp with a zero fraction", SQL_TYPE_TIMESTAMP, "1900-01-01 12:00:00.000",
         Value(DateTime{2.5})},
        {"a fraction of a second stays text", SQL_TYPE_TIMESTAMP, "2023-12-31 23:59:59.5",
         Value("2023-12-31 23:59:59.5")},
        {"a time", SQL_TYPE_TIME, "18:00:00", Value(DateTime{0.75})},
        {"a date before 1899-12-30 counts its time away from zero", SQL_TYPE_TIMESTAMP,
         "1899-12-29 06:00:00", Value(DateTime{-1.25})},
        {"an impossible date stays text", SQL_TYPE_DATE, "2023-02-29", Value("2023-02-29")},
        {"a date with a time zone stays text", SQL_TYPE_TIMESTAMP, "2024-01-02 03:04:05+01",
         Value("2024-01-02 03:04:05+01")},
        {"text in a date column stays text", SQL_TYPE_DATE, "hello", Value("hello")},
        {"a character column keeps its text", SQL_WVARCHAR, "12", Value("12")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValueFromText(c.sqlType, c.text), c.expected) << c.scenario;
        // Encoded straight from the text, as a data comparison reads it.
        std::string direct;
        std::string viaValue;
        EncodeText(c.sqlType, c.text, direct);
        EncodeValue(c.expected, viaValue);
        EXPECT_EQ(direct, viaValue) << c.scenario;
    }
}

TEST(OdbcValues, DatesReadBackAsTheirText) {
    for (const char* text : {"2024-02-29 23:59:59", "1999-12-31", "1066-10-14 09:00:00"}) {
        const auto date = ParseDateTime(text);
        ASSERT_TRUE(date) << text;
        EXPECT_EQ(FormatDateTime(*date), text);
    }
}

TEST(OdbcTypes, MapSqlTypesToDaoCodes) {
    const std::vector<std::pair<SQLSMALLINT, int>> cases = {
        {SQL_BIT, dao::kBoolean},         {SQL_SMALLINT, dao::kInteger},
        {SQL_INTEGER, dao::kLong},        {SQL_BIGINT, dao::kBigInt},
        {SQL_REAL, dao::kSingle},         {SQL_DOUBLE, dao::kDouble},
        {SQL_NUMERIC, dao::kDecimal},     {SQL_WVARCHAR, dao::kText},
        {SQL_DECIMAL, dao::kDecimal},     {SQL_CHAR, dao::kText},
        {SQL_WLONGVARCHAR, dao::kMemo},   {SQL_LONGVARCHAR, dao::kMemo},
        {SQL_VARBINARY, dao::kVarBinary}, {SQL_LONGVARBINARY, dao::kLongBinary},
        {SQL_TYPE_DATE, dao::kDate},      {SQL_TYPE_TIMESTAMP, dao::kTimeStamp},
        {SQL_GUID, dao::kGuid},           {SQL_INTERVAL_DAY, dao::kText},
    };
    for (const auto& [sqlType, daoType] : cases) {
        EXPECT_EQ(DaoTypeFromSqlType(sqlType), daoType) << "SQL type " << sqlType;
    }
}

TEST(OdbcTypes, AColumnsTypeNameDecidesWhereItSaysMoreThanItsSqlType) {
    struct Case {
        const char* scenario;
        Dbms dbms;
        SQLSMALLINT sqlType;
        const char* typeName;
        SQLSMALLINT readAs;
        int daoType;
    };
    const Case cases[] = {
        {"PostgreSQL's bool given as text is read as Booleans", Dbms::PostgreSQL, SQL_VARCHAR,
         "bool", SQL_BIT, dao::kBoolean},
        {"PostgreSQL's money", Dbms::PostgreSQL, SQL_FLOAT, "money", SQL_FLOAT, dao::kCurrency},
        {"PostgreSQL's numeric keeps its SQL type", Dbms::PostgreSQL, SQL_NUMERIC, "numeric",
         SQL_NUMERIC, dao::kDecimal},
        {"a SQLite column by its declared type", Dbms::SQLite, SQL_DOUBLE, "NUMERIC(10,2)",
         SQL_DOUBLE, dao::kDecimal},
        {"a SQLite expression without a declared type", Dbms::SQLite, SQL_VARCHAR, "", SQL_VARCHAR,
         dao::kText},
        {"another system's names say nothing", Dbms::Other, SQL_VARCHAR, "bool", SQL_VARCHAR,
         dao::kText},
    };
    for (const auto& c : cases) {
        const ResultColumnType type = ResultColumnTypeOf(c.dbms, c.sqlType, c.typeName);
        EXPECT_EQ(type.sqlType, c.readAs) << c.scenario;
        EXPECT_EQ(type.daoType, c.daoType) << c.scenario;
    }
}

struct SecretsCase {
    const char* scenario;
    std::string connect;
    std::vector<std::string> secrets;
    std::string masked;
};

TEST(OdbcPasswords, AreFoundAndMaskedWhateverTheirSpelling) {
    const std::vector<SecretsCase> cases = {
        {"PWD", "ODBC;DSN=shop;UID=me;PWD=secret;", {"secret"}, "ODBC;DSN=shop;UID=me;PWD=***;"},
        {"Password in another letter case, last without a semicolon",
         "ODBC;Driver=x;password=hunter2",
         {"hunter2"},
         "ODBC;Driver=x;password=***"},
        {"a braced password holding a semicolon",
         "ODBC;DSN=x;PWD={se;cret};UID=me;",
         {"se;cret"},
         "ODBC;DSN=x;PWD=***;UID=me;"},
        {"a braced password holding a doubled closing brace",
         "ODBC;PWD={a}}b;c};DSN=x",
         {"a}b;c"},
         "ODBC;PWD=***;DSN=x"},
        {"an empty password", "ODBC;DSN=x;PWD=;", {}, "ODBC;DSN=x;PWD=***;"},
        {"no password", "ODBC;DSN=x;UID=me;", {}, "ODBC;DSN=x;UID=me;"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConnectStringSecrets(c.connect), c.secrets) << c.scenario;
        EXPECT_EQ(MaskPasswords(c.connect), c.masked) << c.scenario;
    }
}

TEST(OdbcText, RoundTripsThroughUtf16) {
    for (const std::string text : {"", "plain", "Chloé ünïcode", "emoji 😀 and more", "名前"}) {
        const WideString wide = Widen(text);
        EXPECT_EQ(Narrow(wide.data(), wide.size()), text);
    }
    const WideString emoji = Widen("😀");
    ASSERT_EQ(emoji.size(), 2u) << "a character beyond the BMP takes a surrogate pair";
    EXPECT_EQ(Narrow(emoji.data(), 1), "\xEF\xBF\xBD") << "a lone surrogate becomes U+FFFD";
    EXPECT_EQ(Narrow(Widen("a\xFF"
                           "b")
                         .data(),
                     3),
              "a\xEF\xBF\xBD"
              "b")
        << "an invalid byte becomes U+FFFD";
}

}  // namespace
}  // namespace kesmark::odbc
