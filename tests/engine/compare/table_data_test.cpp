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
        DataCase{"more records in database 2 with equal first ones give no difference",
                 "CREATE TABLE t(x); INSERT INTO t VALUES (1),(2);",
                 "CREATE TABLE t(x); INSERT INTO t VALUES (1),(2),(3);",
                 "t",
                 {"x"},
                 {0}},
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
        "CREATE TABLE big(v INTEGER);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000)"
        "INSERT INTO big SELECT i FROM n;";
    const auto a = test::MakeSqlite(dir / "a.db", sql);
    const auto b = test::MakeSqlite(dir / "b.db", sql);
    auto db1 = OpenDatabase(a.string(), "");
    auto db2 = OpenDatabase(b.string(), "");
    CancelAfterQuestions host(5);
    TableDataComparison data(*db1, *db2, "big", {"v"}, host);
    EXPECT_FALSE(data.Run());
    EXPECT_GT(data.RecordsCompared(), 0);
    EXPECT_LT(data.RecordsCompared(), 10'000);

    // Without a cancel the same pair is compared to its end.
    test::RecordingHost patient;
    TableDataComparison whole(*db1, *db2, "big", {"v"}, patient);
    EXPECT_TRUE(whole.Run());
    EXPECT_EQ(whole.RecordsCompared(), 1'000'000);
    EXPECT_EQ(whole.FirstDifference(0), 0);
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
