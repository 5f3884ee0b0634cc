// kesmark-diff --sync-sql end to end: the script for the demo's two shop
// releases, exactly; what the script's first lines and standard error say;
// the comparison's exit status kept; and the targets and files it refuses.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

std::string DemoSql(const char* release) {
    return test::ReadFile(std::filesystem::path(KESMARK_SOURCE_DIR) / "scripts" / "demo" / release);
}

class SyncCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "db");
        std::filesystem::create_directories(dir_ / "out");
        v1_ = test::MakeSqlite(dir_ / "db" / "shop-v1.db", DemoSql("shop-v1.sql"));
        v2_ = test::MakeSqlite(dir_ / "db" / "shop-v2.db", DemoSql("shop-v2.sql"));
    }
    test::TempDir dir_;
    std::filesystem::path v1_;
    std::filesystem::path v2_;
};

// Release 1 brought up to release 2: the script a reader can follow.
constexpr std::string_view kDemoScript =
    "-- Kesmark sync script: run against database 2 to make it like database 1.\n"
    "-- Target: SQLite (run it with: sqlite3 -bail DATABASE2 < SCRIPT); schema and rows.\n"
    "\n"
    "PRAGMA foreign_keys = OFF;\n"
    "PRAGMA legacy_alter_table = ON;\n"
    "BEGIN;\n"
    "DROP VIEW \"OrderTotals\";\n"
    "-- table \"Customers\" rebuilt with its new statement\n"
    "ALTER TABLE \"Customers\" RENAME TO \"kesmark_old_Customers\";\n"
    "CREATE TABLE Customers (\n"
    "    ID      INTEGER PRIMARY KEY,\n"
    "    Name    TEXT NOT NULL,\n"
    "    Email   TEXT NOT NULL DEFAULT '',\n"
    "    Country TEXT DEFAULT 'NL'\n"
    ");\n"
    "INSERT INTO \"Customers\" (\"ID\", \"Name\", \"Email\", \"Country\") SELECT \"ID\", \"Name\", "
    "COALESCE(\"Email\", ''), \"Country\" FROM \"kesmark_old_Customers\";\n"
    "DROP TABLE \"kesmark_old_Customers\";\n"
    "-- table \"Products\" rebuilt with its new statement\n"
    "ALTER TABLE \"Products\" RENAME TO \"kesmark_old_Products\";\n"
    "CREATE TABLE Products (\n"
    "    ID    INTEGER PRIMARY KEY,\n"
    "    Title TEXT NOT NULL,\n"
    "    Price NUMERIC(10,2) NOT NULL\n"
    ");\n"
    "INSERT INTO \"Products\" (\"ID\", \"Title\", \"Price\") SELECT \"ID\", \"Title\", \"Price\" "
    "FROM \"kesmark_old_Products\";\n"
    "DROP TABLE \"kesmark_old_Products\";\n"
    "-- table \"Orders\" rebuilt with its new statement\n"
    "ALTER TABLE \"Orders\" RENAME TO \"kesmark_old_Orders\";\n"
    "CREATE TABLE Orders (\n"
    "    ID         INTEGER PRIMARY KEY,\n"
    "    CustomerID INTEGER NOT NULL REFERENCES Customers(ID),\n"
    "    OrderDate  TEXT NOT NULL\n"
    ");\n"
    "INSERT INTO \"Orders\" (\"ID\", \"CustomerID\", \"OrderDate\") SELECT \"ID\", \"CustomerID\", "
    "\"OrderDate\" FROM \"kesmark_old_Orders\";\n"
    "DROP TABLE \"kesmark_old_Orders\";\n"
    "CREATE TABLE Shipments (\n"
    "    ID      INTEGER PRIMARY KEY,\n"
    "    OrderID INTEGER NOT NULL REFERENCES Orders(ID),\n"
    "    Carrier TEXT\n"
    ");\n"
    "-- rows of \"Customers\"\n"
    "UPDATE \"Customers\" SET \"Email\" = '' WHERE \"ID\" = 2;\n"
    "-- rows of \"Products\"\n"
    "UPDATE \"Products\" SET \"Price\" = 4.5 WHERE \"ID\" = 2;\n"
    "-- rows of \"Shipments\"\n"
    "INSERT INTO \"Shipments\" (\"ID\", \"OrderID\", \"Carrier\") VALUES (1, 1, 'PostNL');\n"
    "CREATE UNIQUE INDEX CustomersByName ON Customers(Name);\n"
    "CREATE VIEW OrderTotals AS\n"
    "    SELECT o.ID AS OrderID, COUNT(*) AS Lines, SUM(l.Quantity * p.Price) AS Total\n"
    "    FROM Orders o JOIN OrderLines l ON l.OrderID = o.ID JOIN Products p ON p.ID = "
    "l.ProductID\n"
    "    GROUP BY o.ID;\n"
    "PRAGMA user_version = 2;\n"
    "PRAGMA foreign_key_check;\n"
    "COMMIT;\n"
    "PRAGMA legacy_alter_table = OFF;\n"
    "-- the file compacted, so that its page counts follow its content\n"
    "VACUUM;\n";

TEST_F(SyncCliTest, DemoScriptBringsReleaseOneUpToReleaseTwo) {
    const auto result = test::RunDiff({"--data", "--sync-sql", "-", v2_.string(), v1_.string()});
    EXPECT_EQ(result.exitCode, 1) << "the comparison's own status";
    EXPECT_EQ(result.out, kDemoScript);
    EXPECT_EQ(result.err,
              "kesmark-diff: sync script: 27 statements; 0 changes could not be "
              "expressed\n");

    // Run on a copy of release one, the script leaves nothing for the
    // comparison to find, the files' own properties included.
    const auto copy = dir_ / "out" / "v1-synced.db";
    std::filesystem::copy_file(v1_, copy);
    const auto script = dir_ / "out" / "demo.sql";
    {
        std::ofstream file(script);
        file << result.out;
    }
    const std::string command = "sqlite3 -bail '" + copy.string() + "' < '" + script.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const auto after = test::RunDiff({"--data", v2_.string(), copy.string()});
    EXPECT_EQ(after.exitCode, 0) << after.out;
}

TEST_F(SyncCliTest, ScriptFileBesideTheTreeAndTheStatusOfTheComparison) {
    struct Case {
        const char* scenario;
        bool same;
        int exitCode;
    };
    for (const Case& c :
         {Case{"databases that differ", false, 1}, Case{"one database twice", true, 0}}) {
        SCOPED_TRACE(c.scenario);
        const auto script = dir_ / "out" / (std::string(c.same ? "same" : "differ") + ".sql");
        const auto& other = c.same ? v1_ : v2_;
        const auto result =
            test::RunDiff({"--data", "--sync-sql", script.string(), other.string(), v1_.string()});
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_NE(result.out.find("Databases"), std::string::npos) << "the tree is printed";
        const std::string text = test::ReadFile(script);
        EXPECT_EQ(text.rfind("-- Kesmark sync script", 0), 0u);
        EXPECT_EQ(text.find("UPDATE") == std::string::npos, c.same) << text;
        EXPECT_FALSE(std::filesystem::exists(script.string() + ".part"));
    }
}

TEST_F(SyncCliTest, WithoutDataTheScriptLeavesTheRowsAlone) {
    const auto result = test::RunDiff({"--sync-sql", "-", v2_.string(), v1_.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find("schema only"), std::string::npos);
    EXPECT_EQ(result.out.find("UPDATE"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("INSERT INTO \"Shipments\""), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("SELECT \"ID\", \"Name\", COALESCE(\"Email\", ''), \"Country\""),
              std::string::npos)
        << "a copied row takes the default where it has no value";
}

TEST_F(SyncCliTest, ScriptThatCannotBeWrittenStopsWithTheFileNamed) {
    const auto missing = dir_ / "out" / "no-such-folder" / "sync.sql";
    const auto result =
        test::RunDiff({"--data", "--sync-sql", missing.string(), v2_.string(), v1_.string()});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("'" + missing.string() + "' cannot be written"), std::string::npos)
        << result.err;
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST_F(SyncCliTest, OptionsThatCannotGoWithTheScriptAreUsageErrors) {
    struct Case {
        const char* scenario;
        std::vector<std::string> options;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"a listing instead of a comparison",
         {"--show", "Databases", "--sync-sql", "-"},
         "--show and --sync-sql cannot be used together"},
        {"two outputs on standard output",
         {"--json", "--sync-sql", "-"},
         "can write to standard output"},
        {"a report and the script on standard output",
         {"--markdown", "-", "--sync-sql", "-"},
         "can write to standard output"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        auto args = c.options;
        args.push_back(v2_.string());
        args.push_back(v1_.string());
        const auto result = test::RunDiff(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
}

TEST_F(SyncCliTest, JsonOnStandardOutputAndTheScriptInAFile) {
    const auto script = dir_ / "out" / "beside-json.sql";
    const auto result = test::RunDiff(
        {"--json", "--data", "--sync-sql", script.string(), v2_.string(), v1_.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out.rfind("{", 0), 0u) << result.out;
    EXPECT_EQ(test::ReadFile(script), kDemoScript);
}

TEST_F(SyncCliTest, WhatTheScriptCannotExpressIsListedAndCounted) {
    // sqlite_sequence stays once an AUTOINCREMENT table was made: no script
    // can take it from database 2.
    const auto numbered = test::MakeSqlite(
        dir_ / "db" / "numbered.db",
        std::string(DemoSql("shop-v1.sql")) +
            "CREATE TABLE Tickets (ID INTEGER PRIMARY KEY AUTOINCREMENT, Note TEXT);");
    const auto result = test::RunDiff({"--sync-sql", "-", v1_.string(), numbered.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find("-- not expressible: TableDefs[sqlite_sequence]: "),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("DROP TABLE \"Tickets\";"), std::string::npos) << result.out;
    EXPECT_NE(result.err.find("1 changes could not be expressed (lines \"-- not expressible\")"),
              std::string::npos)
        << result.err;
}

TEST_F(SyncCliTest, WhatTheComparisonLeavesOutTheScriptLeavesAlone) {
    const auto sqlite3 = test::FindProgram("sqlite3");
    if (sqlite3.empty()) {
        GTEST_SKIP() << "sqlite3 not found on the PATH (scripts/install-deps.sh installs it)";
    }
    std::filesystem::create_directories(dir_ / "settings");
    const auto settings = test::DefaultSettings(dir_ / "settings");
    test::SetIni(settings, "Databases", "Skip8", "PageCount");
    test::SetIni(settings, "Databases", "Skip9", "FreelistCount");
    test::SetIni(settings, "Databases", "NumSkip", "9");
    struct Case {
        const char* scenario;
        std::vector<std::string> options;
        std::vector<std::string> absent;   // in the script
        std::vector<std::string> present;  // in the script
    };
    const std::vector<Case> cases = {
        {"a table left out",
         {"--exclude", "TableDefs[Orders]"},
         {"\"Orders\""},
         {"\"Products\"", "CREATE TABLE Shipments"}},
        {"views left out", {"--exclude", "QueryDefs[*]"}, {"VIEW"}, {"\"Orders\""}},
        {"one table taken in",
         {"--include", "TableDefs[Products]"},
         {"\"Orders\"", "Shipments", "VIEW", "CustomersByName"},
         {"\"Products\""}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto script = dir_ / "out" / ("scoped" + std::to_string(++n) + ".sql");
        auto args = c.options;
        for (const std::string& arg :
             std::vector<std::string>{"--data", "--settings", settings.string(), "--sync-sql",
                                      script.string(), v2_.string(), v1_.string()}) {
            args.push_back(arg);
        }
        const auto written = test::RunDiff(args);
        ASSERT_EQ(written.exitCode, 1) << written.err;
        const std::string text = test::ReadFile(script);
        for (const auto& word : c.absent) {
            EXPECT_EQ(text.find(word), std::string::npos) << word << " in\n" << text;
        }
        for (const auto& word : c.present) {
            EXPECT_NE(text.find(word), std::string::npos) << word << " not in\n" << text;
        }
        // Run, the copy is the same as far as the comparison sees.
        const auto copy = dir_ / "out" / ("copy" + std::to_string(n) + ".db");
        std::filesystem::copy_file(v1_, copy);
        const auto ran =
            test::RunCommand(sqlite3, {"-bail", copy.string(), ".read " + script.string()});
        ASSERT_EQ(ran.exitCode, 0) << ran.err;
        auto again = c.options;
        for (const std::string& arg : std::vector<std::string>{
                 "--data", "--settings", settings.string(), v2_.string(), copy.string()}) {
            again.push_back(arg);
        }
        const auto after = test::RunDiff(again);
        EXPECT_EQ(after.exitCode, 0) << after.out;
    }
}

TEST_F(SyncCliTest, LongValuesGoIntoTheScriptInPieces) {
    const auto sqlite3 = test::FindProgram("sqlite3");
    if (sqlite3.empty()) {
        GTEST_SKIP() << "sqlite3 not found on the PATH (scripts/install-deps.sh installs it)";
    }
    std::filesystem::create_directories(dir_ / "settings");
    const auto settings = test::DefaultSettings(dir_ / "settings");
    test::SetIni(settings, "Databases", "Skip8", "PageCount");
    test::SetIni(settings, "Databases", "Skip9", "FreelistCount");
    test::SetIni(settings, "Databases", "NumSkip", "9");
    // Values past what is read whole: a picture changed in its last byte, a
    // long text with a quote and a NUL in it, and a row that is new.
    const std::string schema = "CREATE TABLE Files(ID INTEGER PRIMARY KEY, Data BLOB, Note TEXT);";
    const auto a = test::MakeSqlite(
        dir_ / "db" / "long-a.db",
        schema +
            "INSERT INTO Files VALUES (1, zeroblob(3000000) || X'01', 'short'),"
            " (2, X'00', printf('%.*c', 1500000, 'x') || 'it''s' || char(0) || 'end'),"
            " (3, randomblob(2500000), NULL);");
    const auto b = test::MakeSqlite(dir_ / "db" / "long-b.db",
                                    schema +
                                        "INSERT INTO Files VALUES (1, zeroblob(3000000) || X'02', "
                                        "'short'), (2, X'00', 'x');");
    const auto script = dir_ / "out" / "long.sql";
    const auto written = test::RunDiff({"--data", "--settings", settings.string(), "--sync-sql",
                                        script.string(), a.string(), b.string()});
    ASSERT_EQ(written.exitCode, 1) << written.err;
    const std::string text = test::ReadFile(script);
    EXPECT_NE(text.find("UPDATE \"Files\" SET \"Data\" = X'000000"), std::string::npos);
    EXPECT_NE(text.find("SET \"Note\" = CAST(X'787878"), std::string::npos);
    const auto copy = dir_ / "out" / "long-copy.db";
    std::filesystem::copy_file(b, copy);
    const auto ran =
        test::RunCommand(sqlite3, {"-bail", copy.string(), ".read " + script.string()});
    ASSERT_EQ(ran.exitCode, 0) << ran.err;
    const auto after =
        test::RunDiff({"--data", "--settings", settings.string(), a.string(), copy.string()});
    EXPECT_EQ(after.exitCode, 0) << after.out;
}

TEST_F(SyncCliTest, AnAccessFileGetsNoScript) {
    KESMARK_REQUIRE_SHARED_TESTDATA();
    const auto access = test::SharedTestData() / "access" / "nwind.mdb";
    const auto script = dir_ / "out" / "access.sql";
    const auto result =
        test::RunDiff({"--sync-sql", script.string(), v1_.string(), access.string()});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(result.err.find("files can be read, not written"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(script));
    EXPECT_FALSE(std::filesystem::exists(script.string() + ".part"));
}

}  // namespace
}  // namespace kesmark
