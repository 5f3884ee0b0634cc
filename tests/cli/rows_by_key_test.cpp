// Records matched by key, end to end with kesmark-diff on SQLite files.

#include <gtest/gtest.h>

#include "tests/support/row_scenarios.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

TEST(RowsByKey, SqliteFilesReportExactlyTheRowsThatDiffer) {
    test::TempDir dir;
    const auto a = test::MakeSqlite(dir / "a.db", test::RowPairSql('a'));
    const auto b = test::MakeSqlite(dir / "b.db", test::RowPairSql('b'));
    const test::fs::path settings = dir / "settings";
    test::fs::create_directories(settings);
    test::ExpectRowPairResults(a.string(), b.string(), settings);
}

// A text key whose column collates without regard to case: the rows are
// still read and matched byte by byte, so "a" and "A" are two rows.
TEST(RowsByKey, ATextKeyIsOrderedByItsBytesWhateverTheColumnCollation) {
    test::TempDir dir;
    const char* schema =
        "CREATE TABLE w(word TEXT COLLATE NOCASE PRIMARY KEY, n INTEGER) WITHOUT ROWID;";
    const auto a = test::MakeSqlite(
        dir / "a.db", std::string(schema) + "INSERT INTO w VALUES ('b', 1), ('C', 2), ('a', 3);");
    const auto b = test::MakeSqlite(
        dir / "b.db", std::string(schema) + "INSERT INTO w VALUES ('a', 3), ('B', 1), ('C', 2);");
    const auto settings = test::DefaultSettings(dir.Path());
    const auto run =
        test::RunDiff({"--data", "--settings", settings.string(), a.string(), b.string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("differs      Row B: only in database 2\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("differs      Row b: only in database 1\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("Row a"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Row C"), std::string::npos) << run.out;
}

// A key the engine lets hold Null (a primary key of a rowid table that is
// not an integer) cannot identify rows: the table is matched by position,
// and the run says why.
TEST(RowsByKey, ANullInAKeyFallsBackToPositionAndSaysSo) {
    test::TempDir dir;
    const char* sql =
        "CREATE TABLE t(k TEXT PRIMARY KEY, v INTEGER);"
        "INSERT INTO t VALUES (NULL, 1), ('x', 2);";
    const auto a = test::MakeSqlite(dir / "a.db", sql);
    const auto b = test::MakeSqlite(dir / "b.db", sql);
    const auto settings = test::DefaultSettings(dir.Path());
    const auto run =
        test::RunDiff({"--data", "--settings", settings.string(), a.string(), b.string()});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.err,
              "Kesmark: The rows of table 't' in database 1 cannot be matched by its key (k): a "
              "row has no value (Null) in its key. Its records are matched by position.\n");
}

TEST(RowsByKey, MatchTakesKeyOrPositionOnly) {
    test::TempDir dir;
    const auto a = test::MakeSqlite(dir / "a.db", "CREATE TABLE t(id INTEGER PRIMARY KEY);");
    for (const char* wrong : {"Key", "rows", ""}) {
        SCOPED_TRACE(wrong);
        const auto run = test::RunDiff({"--match", wrong, a.string(), a.string()});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.starts_with("kesmark-diff: --match needs key or position\n"))
            << run.err;
    }
    const auto missing = test::RunDiff({a.string(), a.string(), "--match"});
    EXPECT_EQ(missing.exitCode, 2);
}

TEST(RowsByKey, ChecksumsTakeAutoOrOffOnly) {
    test::TempDir dir;
    const auto a = test::MakeSqlite(dir / "a.db", "CREATE TABLE t(id INTEGER PRIMARY KEY);");
    for (const char* wrong : {"Auto", "on", ""}) {
        SCOPED_TRACE(wrong);
        const auto run = test::RunDiff({"--checksums", wrong, a.string(), a.string()});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.starts_with("kesmark-diff: --checksums needs auto or off\n"))
            << run.err;
    }
    for (const char* right : {"auto", "off"}) {
        EXPECT_EQ(test::RunDiff({"--data", "--checksums", right, a.string(), a.string()}).exitCode,
                  0);
    }
}

}  // namespace
}  // namespace kesmark
