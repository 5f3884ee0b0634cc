// The single-pass data comparison on real SQLite files, and its reading of
// long values in pieces on the in-memory backend.

#include <gtest/gtest.h>

#include "engine/compare/table_data.h"
#include "engine/open_database.h"
#include "tests/support/memory_backend.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

struct DataCase {
    const char* scenario;
    const char* sql1;
    const char* sql2;
    const char* table;
    std::vector<std::string> fields;
    std::vector<std::int64_t> firstDifferences;
};

void PrintTo(const DataCase& c, std::ostream* os) {
    *os << c.scenario;
}

class TableDataTest : public ::testing::TestWithParam<DataCase> {};

TEST_P(TableDataTest, FindsTheFirstDifferingRecordOfEachField) {
    const DataCase& c = GetParam();
    test::TempDir dir;
    const auto a = test::MakeSqlite(dir / "a.db", c.sql1);
    const auto b = test::MakeSqlite(dir / "b.db", c.sql2);
    auto db1 = OpenDatabase(a.string(), "");
    auto db2 = OpenDatabase(b.string(), "");
    test::RecordingHost host;
    TableDataComparison data(*db1, *db2, c.table, c.fields, host);
    ASSERT_TRUE(data.Run());
    for (std::size_t f = 0; f < c.fields.size(); ++f) {
        EXPECT_EQ(data.FirstDifference(f), c.firstDifferences[f]) << "field " << c.fields[f];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, TableDataTest,
    ::testing::Values(
        DataCase{"same values in another stored order differ at the first position that differs",
                 "CREATE TABLE t(x INTEGER); INSERT INTO t VALUES (1),(2),(3);",
                 "CREATE TABLE t(x INTEGER); INSERT INTO t VALUES (1),(3),(2);",
                 "t",
                 {"x"},
                 {2}},
        DataCase{"a table that ends while the other goes on differs at its first missing record",
                 "CREATE TABLE t(x, y); INSERT INTO t VALUES (1, 1),(2, 2);",
                 "CREATE TABLE t(x, y); INSERT INTO t VALUES (1, 1),(2, 3),(3, 3);",
                 "t",
                 {"x", "y"},
                 {3, 2}},
        DataCase{"Null against empty text differs, Null against Null is equal",
                 "CREATE TABLE t(a TEXT, b TEXT); INSERT INTO t VALUES (NULL, NULL);",
                 "CREATE TABLE t(a TEXT, b TEXT); INSERT INTO t VALUES ('', NULL);",
                 "t",
                 {"a", "b"},
                 {1, 0}},
        DataCase{"a 250-byte memo equal but for its last byte differs",
                 "CREATE TABLE t(m TEXT); INSERT INTO t VALUES (printf('%.249c', 'x') || 'a');",
                 "CREATE TABLE t(m TEXT); INSERT INTO t VALUES (printf('%.249c', 'x') || 'b');",
                 "t",
                 {"m"},
                 {1}},
        DataCase{"long values equal in record 1 and different early in record 2",
                 "CREATE TABLE t(b BLOB); INSERT INTO t VALUES (zeroblob(300)), (x'0102');",
                 "CREATE TABLE t(b BLOB); INSERT INTO t VALUES (zeroblob(300)), (x'0103');",
                 "t",
                 {"b"},
                 {2}},
        DataCase{"numbers compare by value whatever their storage class",
                 // No declared type: 1 stays an integer and 1.0 a real.
                 "CREATE TABLE t(n, s TEXT); INSERT INTO t VALUES (1, 'a'), (2.5, 'b');",
                 "CREATE TABLE t(n, s TEXT); INSERT INTO t VALUES (1.0, 'a'), (2.5, 'B');",
                 "t",
                 {"n", "s"},
                 {0, 2}},
        DataCase{"names with brackets, quotes, blanks and accents work",
                 "CREATE TABLE \"we\"\"ird] t\xC3\xA9\"(\"a]b\"\"c\" INTEGER, \"[x]\" TEXT);"
                 "INSERT INTO \"we\"\"ird] t\xC3\xA9\" VALUES (1, 'p'), (2, 'q');",
                 "CREATE TABLE \"we\"\"ird] t\xC3\xA9\"(\"a]b\"\"c\" INTEGER, \"[x]\" TEXT);"
                 "INSERT INTO \"we\"\"ird] t\xC3\xA9\" VALUES (1, 'p'), (3, 'q');",
                 "we\"ird] t\xC3\xA9",
                 {"a]b\"c", "[x]"},
                 {2, 0}},
        DataCase{"a 200 KB blob equal but for its last byte differs",
                 "CREATE TABLE t(b BLOB); INSERT INTO t VALUES (zeroblob(200000));",
                 "CREATE TABLE t(b BLOB);"
                 "INSERT INTO t VALUES (CAST(zeroblob(199999) || x'01' AS BLOB));",
                 "t",
                 {"b"},
                 {1}},
        DataCase{
            "long values equal in record 1 and different in their first piece in record 2",
            "CREATE TABLE t(b BLOB);"
            "INSERT INTO t VALUES (zeroblob(300000)), (CAST(x'01' || zeroblob(300000) AS BLOB));",
            "CREATE TABLE t(b BLOB);"
            "INSERT INTO t VALUES (zeroblob(300000)), (CAST(x'02' || zeroblob(300000) AS BLOB));",
            "t",
            {"b"},
            {2}},
        DataCase{"a long value against a short one, or against Null, differs",
                 "CREATE TABLE t(a BLOB, b BLOB);"
                 "INSERT INTO t VALUES (zeroblob(100000), zeroblob(100000));",
                 "CREATE TABLE t(a BLOB, b BLOB); INSERT INTO t VALUES (x'00', NULL);",
                 "t",
                 {"a", "b"},
                 {1, 1}},
        DataCase{"records around long values: each field's first difference, the short ones after",
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, m TEXT, b BLOB, n INT);"
                 "INSERT INTO t VALUES (1, printf('%.*c', 90000, 'a'), zeroblob(90000), 1),"
                 "(2, printf('%.*c', 90000, 'a'), zeroblob(90000), 2),"
                 "(3, 'short', x'01', 3), (4, printf('%.*c', 90000, 'a'), zeroblob(9), 4);",
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, m TEXT, b BLOB, n INT);"
                 "INSERT INTO t VALUES (1, printf('%.*c', 90000, 'a'), zeroblob(90000), 1),"
                 "(2, printf('%.*c', 89999, 'a') || 'b', zeroblob(90000), 2),"
                 "(3, 'short', x'01', 30), (4, printf('%.*c', 90000, 'a'), zeroblob(90000), 4);",
                 "t",
                 {"id", "m", "b", "n"},
                 {0, 2, 4, 3}},
        DataCase{"long values of a table without rowid compare too",
                 "CREATE TABLE w(k TEXT PRIMARY KEY, b BLOB) WITHOUT ROWID;"
                 "INSERT INTO w VALUES ('a', zeroblob(90000)), ('b', zeroblob(90000));",
                 "CREATE TABLE w(k TEXT PRIMARY KEY, b BLOB) WITHOUT ROWID;"
                 "INSERT INTO w VALUES ('a', zeroblob(90000)),"
                 "('b', CAST(zeroblob(89999) || x'05' AS BLOB));",
                 "w",
                 {"k", "b"},
                 {0, 2}},
        DataCase{"rows are numbered in table order even when an index covers the field",
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT); CREATE INDEX iv ON t(v);"
                 "INSERT INTO t VALUES (1, 'z'), (2, 'a'), (3, 'm');",
                 "CREATE TABLE t(id INTEGER PRIMARY KEY, v TEXT); CREATE INDEX iv ON t(v);"
                 "INSERT INTO t VALUES (1, 'z'), (2, 'a'), (3, 'n');",
                 "t",
                 {"v"},
                 {3}}),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.scenario; *p; ++p) {
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        }
        return name;
    });

struct KeyCase {
    const char* scenario;
    const char* sql1;
    const char* sql2;
    std::vector<std::string> keyFields;
    std::vector<std::string> fields;
    RowCounts counts;
    std::vector<std::string> rows;  // "state key" in key order
    std::vector<std::int64_t> firstDifferences;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.scenario;
}

class TableDataByKeyTest : public ::testing::TestWithParam<KeyCase> {};

std::string Describe(const RowDifference& row) {
    const char* state = row.state == RowState::OnlyIn1   ? "only1"
                        : row.state == RowState::OnlyIn2 ? "only2"
                                                         : "changed";
    return std::string(state) + " " + RowKeyText(row.key);
}

TEST_P(TableDataByKeyTest, MergesBothSidesByKey) {
    const KeyCase& c = GetParam();
    test::TempDir dir;
    const auto a = test::MakeSqlite(dir / "a.db", c.sql1);
    const auto b = test::MakeSqlite(dir / "b.db", c.sql2);
    auto db1 = OpenDatabase(a.string(), "");
    auto db2 = OpenDatabase(b.string(), "");
    test::RecordingHost host;
    TableDataComparison data(*db1, *db2, "t", c.fields, host,
                             {c.keyFields, c.keyFields, true, 1000});
    ASSERT_TRUE(data.Run());
    EXPECT_EQ(data.FallbackReason(), "");
    ASSERT_TRUE(data.MatchedByKey());
    EXPECT_EQ(data.Counts(), c.counts);
    std::vector<std::string> rows;
    for (const auto& row : data.RowDifferences()) {
        rows.push_back(Describe(row));
    }
    EXPECT_EQ(rows, c.rows);
    for (std::size_t f = 0; f < c.fields.size(); ++f) {
        EXPECT_EQ(data.FirstDifference(f), c.firstDifferences[f]) << "field " << c.fields[f];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, TableDataByKeyTest,
    ::testing::Values(
        KeyCase{"a row deleted shifts nothing",
                "CREATE TABLE t(id INTEGER PRIMARY KEY, v); INSERT INTO t VALUES "
                "(1,'a'),(2,'b'),(3,'c');",
                "CREATE TABLE t(id INTEGER PRIMARY KEY, v); INSERT INTO t VALUES (1,'a'),(3,'c');",
                {"id"},
                {"id", "v"},
                {1, 0, 0, 2},
                {"only1 2"},
                {0, 0}},
        KeyCase{"rows of database 2 only, before, between and after",
                "CREATE TABLE t(id INTEGER PRIMARY KEY, v); INSERT INTO t VALUES (2,'b'),(4,'d');",
                "CREATE TABLE t(id INTEGER PRIMARY KEY, v); INSERT INTO t VALUES "
                "(1,'a'),(2,'b'),(3,'c'),(4,'d'),(5,'e');",
                {"id"},
                {"id", "v"},
                {0, 3, 0, 2},
                {"only2 1", "only2 3", "only2 5"},
                {0, 0}},
        KeyCase{"the first change of a field is numbered in database 1's key order",
                "CREATE TABLE t(id INTEGER PRIMARY KEY, v, w); INSERT INTO t VALUES "
                "(5,'x',1),(1,'a',1),(3,'c',1);",
                "CREATE TABLE t(id INTEGER PRIMARY KEY, v, w); INSERT INTO t VALUES "
                "(1,'a',1),(2,'b',1),(3,'c',2),(5,'y',2);",
                {"id"},
                {"id", "v", "w"},
                {0, 1, 2, 1},
                {"only2 2", "changed 3", "changed 5"},
                {0, 3, 2}},
        KeyCase{
            "Null against Null is the same, Null against a value a change",
            "CREATE TABLE t(id INTEGER PRIMARY KEY, v); INSERT INTO t VALUES (1,NULL),(2,NULL);",
            "CREATE TABLE t(id INTEGER PRIMARY KEY, v); INSERT INTO t VALUES (1,NULL),(2,'');",
            {"id"},
            {"v"},
            {0, 0, 1, 1},
            {"changed 2"},
            {2}},
        KeyCase{"a composite key of text and number, text by bytes",
                "CREATE TABLE t(a TEXT, b INT, v, PRIMARY KEY(a, b)); INSERT INTO t VALUES "
                "('b',1,0),('B',2,0),('a',1,0);",
                "CREATE TABLE t(a TEXT, b INT, v, PRIMARY KEY(a, b)); INSERT INTO t VALUES "
                "('a',1,0),('b',1,1),('b',2,0);",
                {"a", "b"},
                {"v"},
                {1, 1, 1, 1},
                {"only1 B, 2", "changed b, 1", "only2 b, 2"},
                {3}},
        KeyCase{"integer and real keys that are one number match",
                "CREATE TABLE t(k PRIMARY KEY, v); INSERT INTO t VALUES (1,'a'),(2.5,'b');",
                "CREATE TABLE t(k PRIMARY KEY, v); INSERT INTO t VALUES (1.0,'a'),(2.5,'b');",
                {"k"},
                {"k", "v"},
                {0, 0, 0, 2},
                {},
                {0, 0}}),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.scenario; *p; ++p) {
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        }
        return name;
    });

TEST(TableDataByKey, KeysThatAreNotUniqueFallBackToPosition) {
    test::TempDir dir;
    const auto a = test::MakeSqlite(
        dir / "a.db", "CREATE TABLE t(k, v); INSERT INTO t VALUES (1,'a'),(1,'b'),(2,'c');");
    const auto b = test::MakeSqlite(
        dir / "b.db", "CREATE TABLE t(k, v); INSERT INTO t VALUES (1,'a'),(1,'b'),(2,'x');");
    auto db1 = OpenDatabase(a.string(), "");
    auto db2 = OpenDatabase(b.string(), "");
    test::RecordingHost host;
    TableDataComparison data(*db1, *db2, "t", {"k", "v"}, host, {{"k"}, {"k"}, true, 1000});
    ASSERT_TRUE(data.Run());
    EXPECT_FALSE(data.MatchedByKey());
    EXPECT_EQ(data.FallbackReason(),
              "The rows of table 't' in database 1 cannot be matched by its key (k): the key 1 is "
              "there twice. Its records are matched by position.");
    EXPECT_TRUE(data.RowDifferences().empty());
    EXPECT_EQ(data.FirstDifference(0), 0);
    EXPECT_EQ(data.FirstDifference(1), 3);
}

// Cancels on the n-th question, so the test does not depend on timing.
class CancelAfterQuestions : public test::RecordingHost {
  public:
    explicit CancelAfterQuestions(int n) : remaining_(n) {}
    bool CancelRequested() const override { return --remaining_ <= 0; }

  private:
    mutable int remaining_;
};

TEST(TableDataCancel, StopsLongBeforeTheEndOfAMillionRows) {
    test::TempDir dir;
    const char* sql =
        "CREATE TABLE big(v INTEGER PRIMARY KEY);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000)"
        "INSERT INTO big SELECT i FROM n;";
    const auto a = test::MakeSqlite(dir / "a.db", sql);
    const auto b = test::MakeSqlite(dir / "b.db", sql);
    auto db1 = OpenDatabase(a.string(), "");
    auto db2 = OpenDatabase(b.string(), "");
    for (const bool byKey : {false, true}) {
        SCOPED_TRACE(byKey ? "by key" : "by position");
        const RecordPairing pairing{{"v"}, {"v"}, byKey, 1000};
        CancelAfterQuestions host(5);
        TableDataComparison data(*db1, *db2, "big", {"v"}, host, pairing);
        EXPECT_FALSE(data.Run());
        EXPECT_GT(data.RecordsCompared(), 0);
        EXPECT_LT(data.RecordsCompared(), 10'000);

        // Without a cancel the same pair is compared to its end.
        test::RecordingHost patient;
        TableDataComparison whole(*db1, *db2, "big", {"v"}, patient, pairing);
        EXPECT_TRUE(whole.Run());
        EXPECT_EQ(whole.RecordsCompared(), 1'000'000);
        EXPECT_EQ(whole.FirstDifference(0), 0);
        EXPECT_EQ(whole.MatchedByKey(), byKey);
    }
}

TEST(TableDataRowCount, TablesEndingBeforeTheRowsTheirDatabasesCountDiffer) {
    struct Case {
        const char* scenario;
        std::int64_t counted;
        std::int64_t firstDifference;
    };
    const Case cases[] = {
        {"both end before the counted rows: the first missing one differs", 3, 3},
        {"both end at the counted rows: equal", 2, 0},
        {"more rows than counted, equal on both sides: equal", 1, 0},
    };
    test::TempDir dir;
    const auto a =
        test::MakeSqlite(dir / "a.db", "CREATE TABLE t(x); INSERT INTO t VALUES (1),(2);");
    auto db1 = OpenDatabase(a.string(), "");
    auto db2 = OpenDatabase(a.string(), "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::RecordingHost host;
        TableDataComparison data(*db1, *db2, "t", {"x"}, host);
        data.ExpectRows(c.counted);
        ASSERT_TRUE(data.Run());
        EXPECT_EQ(data.FirstDifference(0), c.firstDifference);
    }
}

TEST(TableDataLongValues, AreComparedInPiecesNeverWhole) {
    // Long binary and memo values of several pieces: equal, differing in
    // the last piece, in the first, and in their sizes.
    MemoryServer server;
    const std::size_t size = 3 * kLongValuePiece + 17;
    const Bytes zeros(size, 0);
    Bytes lastDiffers = zeros;
    lastDiffers.back() = 1;
    const std::string text(size, 'a');
    std::string firstDiffers = text;
    firstDiffers[5] = 'b';
    for (const char* name : {"one", "two"}) {
        auto& db = server.Create(name);
        db.AddTable("t", {"b", "m"});
        auto& data = db.data["t"];
        data.types = {dao::kLongBinary, dao::kMemo};
        const bool second = std::string(name) == "two";
        data.rows = {{Value(zeros), Value(text)},
                     {Value(second ? lastDiffers : zeros), Value(text)},
                     {Value(zeros), Value(second ? firstDiffers : text)},
                     {Value(zeros), Value(second ? text + "a" : text)}};
    }
    auto db1 = server.Opener()("one", "");
    auto db2 = server.Opener()("two", "");
    test::RecordingHost host;
    TableDataComparison comparison(*db1, *db2, "t", {"b", "m"}, host);
    ASSERT_TRUE(comparison.Run());
    EXPECT_EQ(comparison.FirstDifference(0), 2);
    EXPECT_EQ(comparison.FirstDifference(1), 3);
    for (const char* name : {"one", "two"}) {
        EXPECT_EQ(server[name].wholeLongValuesRead, 0) << name;
        EXPECT_GT(server[name].largestPieceRead, 0u) << name;
        EXPECT_LE(server[name].largestPieceRead, kLongValuePiece) << name;
    }
}

TEST(TableDataErrors, AMissingTableIsAnError) {
    test::TempDir dir;
    const auto a = test::MakeSqlite(dir / "a.db", "CREATE TABLE t(x);");
    auto db1 = OpenDatabase(a.string(), "");
    auto db2 = OpenDatabase(a.string(), "");
    test::RecordingHost host;
    TableDataComparison data(*db1, *db2, "gone", {"x"}, host);
    EXPECT_THROW(data.Run(), DbError);
}

}  // namespace
}  // namespace kesmark
