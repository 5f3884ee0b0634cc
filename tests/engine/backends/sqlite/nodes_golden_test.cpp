// Whole comparisons of SQLite pairs the tests build, node for node: every
// node the run adds, in the order it adds them, with its parent, picture and
// text, exactly as recorded in tests/golden. However the run holds the
// databases, it must find the same objects, in the same order, with the
// same verdicts.

#include <gtest/gtest.h>

#include <string>

#include "tests/engine/backends/sqlite/schema_fixtures.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

// `sql` with each piece of text `from` replaced by `to` (which must be there).
std::string Changed(std::string sql,
                    const std::vector<std::pair<std::string, std::string>>& edits) {
    for (const auto& [from, to] : edits) {
        const auto at = sql.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) {
            sql.replace(at, from.size(), to);
        }
    }
    return sql;
}

// Long values on both sides of 100 KB and more, in a rowid table and in a
// WITHOUT ROWID one, equal or differing at their start, middle or end.
constexpr const char* kLongValues = R"sql(
CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, m TEXT, n INT);
CREATE TABLE w(k TEXT PRIMARY KEY, b BLOB) WITHOUT ROWID;
INSERT INTO t VALUES (1, zeroblob(100000), printf('%.*c', 150000, 'a'), 1);
INSERT INTO t VALUES (2, CAST(zeroblob(199999) || x'01' AS BLOB), printf('%.*c', 150000, 'a'), 2);
INSERT INTO t VALUES (3, x'00', printf('%.*c', 70000, 'a') || 'b' || printf('%.*c', 70000, 'a'), 3);
INSERT INTO t VALUES (4, NULL, 'short', 4);
INSERT INTO w VALUES ('a', zeroblob(90000)), ('b', CAST(x'02' || zeroblob(90000) AS BLOB));
)sql";

constexpr const char* kLongValuesChanged = R"sql(
CREATE TABLE t(id INTEGER PRIMARY KEY, b BLOB, m TEXT, n INT);
CREATE TABLE w(k TEXT PRIMARY KEY, b BLOB) WITHOUT ROWID;
INSERT INTO t VALUES (1, zeroblob(100000), printf('%.*c', 150000, 'a'), 1);
INSERT INTO t VALUES (2, zeroblob(200000), printf('%.*c', 150000, 'a'), 2);
INSERT INTO t VALUES (3, x'00', printf('%.*c', 70000, 'a') || 'c' || printf('%.*c', 70000, 'a'), 3);
INSERT INTO t VALUES (4, zeroblob(70000), 'short', 5);
INSERT INTO w VALUES ('a', zeroblob(90000)), ('b', CAST(x'03' || zeroblob(90000) AS BLOB));
)sql";

TEST(SqliteNodesGolden, EveryPairGivesTheNodesRecorded) {
    // The shop, its rows made the same whenever a file is made.
    const std::string shop =
        Changed(std::string(test::kShopSql),
                {{"DEFAULT CURRENT_TIMESTAMP", "DEFAULT '2024-05-06 07:08:09'"}});
    const std::string changedShop =
        Changed(shop, {{"  Slug TEXT AS (lower(Name)) STORED,",
                        "  Slug TEXT AS (lower(Name)) STORED,\n  Phone TEXT,"},
                       {"CREATE INDEX OrdersRecent", "CREATE INDEX OrdersLatest"},
                       {"SELECT ID, Placed FROM Orders", "SELECT ID, Placed, Note FROM Orders"},
                       {"AFTER UPDATE ON Orders BEGIN SELECT 1;",
                        "AFTER UPDATE ON Orders BEGIN SELECT 2;"},
                       {"('Bob', 'bob@example.com')", "('Robert', 'bob@example.com')"}}) +
        "CREATE TABLE Audit(At TEXT, What TEXT);\n";
    struct Case {
        const char* name;  // of the recording
        std::string sql1;
        std::string sql2;
        bool data;
    };
    const std::vector<Case> cases = {
        {"sqlite-shop-changed", shop, changedShop, false},
        {"sqlite-shop-changed-data", shop, changedShop, true},
        {"sqlite-shop-same-data", shop, shop, true},
        {"sqlite-long-values-data", kLongValues, kLongValuesChanged, true},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const auto a = test::MakeSqlite(dir / "a.db", c.sql1);
        const auto b = test::MakeSqlite(dir / "b.db", c.sql2);
        std::vector<std::string> args = {"--json", "--settings",
                                         test::DefaultSettings(dir.Path()).string()};
        if (c.data) {
            args.push_back("--data");
        }
        args.insert(args.end(), {a.string(), b.string()});
        const auto result = test::RunDiff(args);
        ASSERT_LE(result.exitCode, 1) << c.name << ": " << result.err << result.out;
        test::ExpectRecordedNodes(result.out, c.name);
    }
}

}  // namespace
}  // namespace kesmark
