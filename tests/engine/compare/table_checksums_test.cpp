// Records matched by key through checksums of key ranges, on SQLite files
// (which compute the row hash through the function the backend registers),
// against the same tables with every row read.

#include <gtest/gtest.h>

#include "engine/compare/table_data.h"
#include "engine/open_database.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

// 2,000 rows "(id, name, amount)"; `change` is SQL run on top.
std::string Rows(const std::string& table, const std::string& change = "") {
    return "CREATE TABLE " + table +
           "(id INTEGER PRIMARY KEY, name TEXT, amount);"
           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
           "INSERT INTO " +
           table + " SELECT i, 'name ' || i, i * 3 FROM n;" + change;
}

struct ChecksumCase {
    const char* scenario;
    std::string sql1;
    std::string sql2;
    std::vector<std::string> keyFields;
    std::vector<std::string> fields;
    bool byChecksums;  // the checksums are used to the end
};

void PrintTo(const ChecksumCase& c, std::ostream* os) {
    *os << c.scenario;
}

class TableChecksumsTest : public ::testing::TestWithParam<ChecksumCase> {};

struct Outcome {
    bool completed = false;
    RowCounts counts;
    std::vector<std::string> rows;
    std::vector<std::int64_t> firstDifferences;
    std::string fallback;
    bool matchedByKey = false;
};

Outcome Compare(Database& db1, Database& db2, const ChecksumCase& c, bool checksums,
                TableDataComparison** out = nullptr) {
    test::RecordingHost host;
    RecordPairing pairing;
    pairing.keyFields = c.keyFields;
    pairing.keyFields2 = c.keyFields;
    pairing.byKey = true;
    pairing.maxRows = 5;
    pairing.checksums = checksums;
    pairing.checksumRangeRows = 10;
    pairing.checksumParts = 4;
    TableDataComparison data(db1, db2, "t", c.fields, host, pairing);
    Outcome o;
    o.completed = data.Run();
    o.counts = data.Counts();
    for (const auto& row : data.RowDifferences()) {
        o.rows.push_back(std::to_string(static_cast<int>(row.state)) + " " + RowKeyText(row.key));
    }
    for (std::size_t f = 0; f < c.fields.size(); ++f) {
        o.firstDifferences.push_back(data.FirstDifference(f));
    }
    o.fallback = data.FallbackReason();
    o.matchedByKey = data.MatchedByKey();
    if (checksums) {
        EXPECT_EQ(data.MatchedByChecksums(), c.byChecksums) << data.ChecksumFallbackReason();
        EXPECT_EQ(data.ChecksumFallbackReason().empty(), c.byChecksums);
    }
    return o;
}

TEST_P(TableChecksumsTest, GiveWhatReadingEveryRowGives) {
    const ChecksumCase& c = GetParam();
    test::TempDir dir;
    auto db1 = OpenDatabase(test::MakeSqlite(dir / "a.db", c.sql1).string(), "");
    auto db2 = OpenDatabase(test::MakeSqlite(dir / "b.db", c.sql2).string(), "");
    const Outcome bySums = Compare(*db1, *db2, c, true);
    const Outcome byRows = Compare(*db1, *db2, c, false);
    ASSERT_TRUE(bySums.completed);
    EXPECT_EQ(bySums.counts, byRows.counts);
    EXPECT_EQ(bySums.rows, byRows.rows);
    EXPECT_EQ(bySums.firstDifferences, byRows.firstDifferences);
    EXPECT_EQ(bySums.fallback, byRows.fallback);
    EXPECT_EQ(bySums.matchedByKey, byRows.matchedByKey);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, TableChecksumsTest,
    ::testing::Values(
        ChecksumCase{"equal tables", Rows("t"), Rows("t"), {"id"}, {"id", "name", "amount"}, true},
        ChecksumCase{"one change at the first, the middle and the last key",
                     Rows("t"),
                     Rows("t", "UPDATE t SET name = 'x' WHERE id IN (1, 1000, 2000);"),
                     {"id"},
                     {"amount", "name"},
                     true},
        ChecksumCase{"more changed rows than are kept: the first ones in key order",
                     Rows("t"),
                     Rows("t", "UPDATE t SET amount = amount + 1 WHERE id % 97 = 0;"),
                     {"id"},
                     {"id", "name", "amount"},
                     true},
        ChecksumCase{
            "rows on one side only, at both ends and inside",
            Rows("t", "DELETE FROM t WHERE id IN (1, 777);"),
            Rows("t", "DELETE FROM t WHERE id = 2000; INSERT INTO t VALUES (5000, 'x', 1);"),
            {"id"},
            {"id", "name"},
            true},
        ChecksumCase{"the same number as integer and as real: equal, though hashed apart",
                     Rows("t"),
                     Rows("t", "UPDATE t SET amount = CAST(amount AS REAL) WHERE id = 1500;"),
                     {"id"},
                     {"amount"},
                     true},
        ChecksumCase{"a number against its text, Null against empty text",
                     Rows("t"),
                     Rows("t",
                          "UPDATE t SET amount = CAST(amount AS TEXT) WHERE id = 10;"
                          "UPDATE t SET name = NULL WHERE id = 20;"),
                     {"id"},
                     {"amount", "name"},
                     true},
        ChecksumCase{"texts that read alike run together",
                     "CREATE TABLE t(id INTEGER PRIMARY KEY, x TEXT, y TEXT);"
                     "INSERT INTO t VALUES (1, 'ab', 'c'), (2, 'N', 't0:'), (3, '1:a', 'b');",
                     "CREATE TABLE t(id INTEGER PRIMARY KEY, x TEXT, y TEXT);"
                     "INSERT INTO t VALUES (1, 'a', 'bc'), (2, 'Nt0:', ''), (3, '1', ':ab');",
                     {"id"},
                     {"x", "y"},
                     true},
        ChecksumCase{
            "a composite key of text and number",
            "CREATE TABLE t(k TEXT, n INTEGER, v, PRIMARY KEY (k, n));"
            "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 500) "
            "INSERT INTO t SELECT char(65 + i % 40), i, i FROM s;",
            "CREATE TABLE t(k TEXT, n INTEGER, v, PRIMARY KEY (k, n));"
            "WITH RECURSIVE s(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM s WHERE i < 500) "
            "INSERT INTO t SELECT char(65 + i % 40), i, i FROM s;"
            "UPDATE t SET v = 'x' WHERE n = 250; DELETE FROM t WHERE n = 300;",
            {"k", "n"},
            {"k", "n", "v"},
            true},
        ChecksumCase{"a Null in a primary key: the rows are read, and matched by position",
                     "CREATE TABLE t(k TEXT PRIMARY KEY, v); INSERT INTO t VALUES (NULL, 1), "
                     "('a', 2), ('b', 3);",
                     "CREATE TABLE t(k TEXT PRIMARY KEY, v); INSERT INTO t VALUES (NULL, 1), "
                     "('a', 2), ('b', 4);",
                     {"k"},
                     {"k", "v"},
                     false}));

TEST(TableChecksums, ACancelledComparisonSaysSoAndKeepsNoCounts) {
    test::TempDir dir;
    auto db1 = OpenDatabase(test::MakeSqlite(dir / "a.db", Rows("t")).string(), "");
    auto db2 = OpenDatabase(
        test::MakeSqlite(dir / "b.db", Rows("t", "UPDATE t SET name = 'x' WHERE id = 5;")).string(),
        "");
    test::RecordingHost host;
    host.cancel = true;
    RecordPairing pairing;
    pairing.keyFields = pairing.keyFields2 = {"id"};
    pairing.byKey = true;
    pairing.checksums = true;
    TableDataComparison data(*db1, *db2, "t", {"id", "name"}, host, pairing);
    EXPECT_FALSE(data.Run());
    EXPECT_FALSE(data.MatchedByKey());
    EXPECT_EQ(data.ChecksumFallbackReason(), "");
}

// The row hash is PostgreSQL's hashtextextended(text, 0) of the canonical
// row text, summed modulo 2^64; the values below are what a PostgreSQL 15
// server computes for those texts.
TEST(RowChecksumFunction, HashesTheCanonicalRowText) {
    struct Case {
        const char* scenario;
        const char* values;  // one row of a table made of them
        std::uint64_t hash;
    };
    const Case cases[] = {
        {"('ab', 'c'): t2:abt1:c", "'ab', 'c'", 0x708060d2aac512bb},
        {"('a', 'bc'): t1:at2:bc", "'a', 'bc'", 0x11c03686afe486ba},
        {"Null: N", "NULL", 0x497115e265bad44b},
        {"empty text: t0:", "''", 0x2f7dc8c5038854a8},
        {"integer, real, blob: i-5;f3ff0000000000000;b00ff;", "-5, 1.0, x'00ff'",
         0x72525df762bb27ed},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto file = test::MakeSqlite(
            dir / "values.db",
            std::string("DROP TABLE IF EXISTS v; CREATE TABLE v AS SELECT ") + c.values + ";");
        auto db = OpenDatabase(file.string(), "");
        const auto fields =
            db->GetCollection("TableDefs")->Item("v")->GetCollection("Fields")->Names();
        // No key: the row text is that of the fields alone, one range.
        const RangeSummaries summaries = db->RangeChecksums("v", fields, {}, KeyRange{}, {});
        ASSERT_EQ(summaries.ranges.size(), 1u);
        EXPECT_EQ(summaries.ranges[0].rows, 1);
        EXPECT_EQ(summaries.ranges[0].checksum, c.hash);
    }
}

TEST(RowChecksumFunction, SumsTheRowsModulo2To64WhateverTheirOrder) {
    test::TempDir dir;
    auto forward = OpenDatabase(
        test::MakeSqlite(dir / "f.db", "CREATE TABLE v(x); INSERT INTO v VALUES ('ab'), ('a');")
            .string(),
        "");
    auto backward = OpenDatabase(
        test::MakeSqlite(dir / "b.db", "CREATE TABLE v(x); INSERT INTO v VALUES ('a'), ('ab');")
            .string(),
        "");
    const auto sum1 = forward->RangeChecksums("v", {"x"}, {}, KeyRange{}, {}).ranges.at(0);
    const auto sum2 = backward->RangeChecksums("v", {"x"}, {}, KeyRange{}, {}).ranges.at(0);
    EXPECT_EQ(sum1, sum2);
    EXPECT_EQ(sum1.rows, 2);
}

}  // namespace
}  // namespace kesmark
