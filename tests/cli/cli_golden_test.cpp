// kesmark-diff end to end: databases built by the test, the real program run,
// its exact output compared.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

constexpr std::string_view kShop =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER REFERENCES Customers(ID));";

class CliTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::filesystem::path settings_ = test::DefaultSettings(dir_.Path());
};

TEST_F(CliTest, SameSqlGivesOneSameRootNode) {
    const auto a = test::MakeSqlite(dir_ / "a.db", kShop);
    const auto b = test::MakeSqlite(dir_ / "b.db", kShop);
    test::SetIni(settings_, "TableDefs", "Compare", "0");
    test::SetIni(settings_, "QueryDefs", "Compare", "0");
    test::SetIni(settings_, "Relations", "Compare", "0");
    test::SetIni(settings_, "Containers", "Compare", "0");
    const auto result = test::RunDiff({"--json", "--settings", settings_.string(), a, b});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "{\n"
              "  \"format\": 2,\n"
              "  \"database1\": \"" +
                  a.string() +
                  "\",\n"
                  "  \"database2\": \"" +
                  b.string() +
                  "\",\n"
                  "  \"same\": true,\n"
                  "  \"completed\": true,\n"
                  "  \"incomplete\": [],\n"
                  "  \"summary\": {\n"
                  "    \"differing\": {},\n"
                  "    \"onlyIn1\": 0,\n"
                  "    \"onlyIn2\": 0,\n"
                  "    \"notCompared\": 0,\n"
                  "    \"rows\": null,\n"
                  "    \"filteredOut\": 0,\n"
                  "    \"text\": \"no differences\"\n"
                  "  },\n"
                  "  \"nodes\": [\n"
                  "    {\n"
                  "      \"key\": \"Databases\",\n"
                  "      \"text\": \"Databases\",\n"
                  "      \"parent\": null,\n"
                  "      \"image\": 11,\n"
                  "      \"side\": \"both\",\n"
                  "      \"differences\": []\n"
                  "    }\n"
                  "  ],\n"
                  "  \"messages\": []\n"
                  "}\n");
    EXPECT_EQ(result.err, "");

    test::MakeSqlite(b, "PRAGMA user_version=2;");
    const auto changed = test::RunDiff({"--settings", settings_.string(), a, b});
    EXPECT_EQ(changed.exitCode, 1);
    EXPECT_EQ(changed.out,
              "differs  Databases: UserVersion 0 → 2\n"
              "Summary: database properties differ\n");
}

TEST_F(CliTest, AnInterruptedRunPrintsItsRootNotCompared) {
    const auto a = test::MakeSqlite(dir_ / "a.db", kShop);
    const auto result =
        test::RunDiffInterrupted({"--settings", settings_.string(), a.string(), a.string()});
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_EQ(
        result.out,
        "not compared  Databases\nincomplete: the comparison was cancelled; \"not compared\" marks "
        "what it did not finish\nSummary: no differences found; the comparison stopped before its "
        "end\n");
}

TEST_F(CliTest, OpenFailuresExitTwoWithTheOpenFailureMessage) {
    const auto a = test::MakeSqlite(dir_ / "a.db", kShop);
    const auto missing = (dir_ / "missing.db").string();
    const auto result = test::RunDiff({"--settings", settings_.string(), a, missing});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "Kesmark: Unable to open database '" + missing +
                              "'\nDescription: Could not find file '" + missing +
                              "'.\nNumber: 3024\nSource: Kesmark\n");
    EXPECT_EQ(result.out,
              "incomplete: the comparison stopped at an error\n"
              "Summary: no differences found; the comparison stopped before its end\n");

    test::WriteFile(dir_ / "notes.txt", "not a database");
    const auto notDb = test::RunDiff(
        {"--json", "--settings", settings_.string(), a, (dir_ / "notes.txt").string()});
    EXPECT_EQ(notDb.exitCode, 2);
    EXPECT_NE(notDb.err.find("Unrecognized database format"), std::string::npos) << notDb.err;
    EXPECT_NE(notDb.out.find("\"completed\": false"), std::string::npos);
    EXPECT_NE(notDb.out.find("\"caption\": \"Kesmark\""), std::string::npos);
}

// The page number of the n-th overflow page of `table` (SQLite's dbstat).
std::int64_t OverflowPage(const std::filesystem::path& path, const char* table, int n) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT pageno FROM dbstat WHERE name = ?1 AND pagetype = 'overflow' "
                       "ORDER BY pageno LIMIT 1 OFFSET ?2",
                       -1, &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, table, -1, SQLITE_STATIC);
    sqlite3_bind_int(stmt, 2, n);
    const std::int64_t page = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return page;
}

TEST_F(CliTest, ADamagedFileStopsTheRunNamingTheFileAndTheTable) {
    // Long values run on over overflow pages, which counting the rows does
    // not read: the damage shows only when the values are read.
    const auto a = test::MakeSqlite(
        dir_ / "a.db",
        "PRAGMA page_size=4096;"
        "CREATE TABLE items(id INTEGER PRIMARY KEY, data BLOB);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20)"
        "INSERT INTO items SELECT i, CAST(printf('%.20000c', 'x') || i AS BLOB) FROM n;"
        "CREATE TABLE later(x);");
    const auto b = dir_ / "damaged.db";
    std::filesystem::copy_file(a, b);
    const std::int64_t page = OverflowPage(b, "items", 40);
    ASSERT_GT(page, 0);
    {
        std::fstream file(b, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp((page - 1) * 4096);
        file.write("\xFF\xFF\xFF\x7F", 4);  // the next overflow page: far beyond the end
    }

    const auto text = test::RunDiff({"--data", "--settings", settings_.string(), a, b});
    EXPECT_EQ(text.exitCode, 2);
    EXPECT_EQ(text.err, "SQLite: '" + b.string() +
                            "': reading table 'items': database disk image is malformed\n");
    EXPECT_TRUE(text.out.starts_with("not compared  Databases\n")) << text.out;
    EXPECT_NE(text.out.find("\nnot compared    table items\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\nincomplete: the comparison stopped at an error; \"not compared\" "
                            "marks what it did not finish\nSummary: "),
              std::string::npos)
        << text.out;

    const auto json = test::RunDiff({"--json", "--data", "--settings", settings_.string(), a, b});
    const auto doc = nlohmann::json::parse(json.out);
    EXPECT_FALSE(doc.at("same").get<bool>());
    EXPECT_FALSE(doc.at("completed").get<bool>());
    EXPECT_EQ(doc.at("incomplete"),
              nlohmann::json({"Databases", "TableDefs[items]", "TableDefs[later]",
                              "TableDefs[items].Fields[data]", "TableDefs[items].Fields[id]"}));
}

TEST_F(CliTest, BadUsageExitsTwoWithTheUsage) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"one.db"}, {"a", "b", "c"}, {"--bogus", "a", "b"}, {"a", "b", "--settings"}}) {
        const auto result = test::RunDiff(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find("Usage: kesmark-diff"), std::string::npos);
    }
    const auto missingSettings =
        test::RunDiff({"--settings", (dir_ / "none.ini").string(), "a.db", "b.db"});
    EXPECT_EQ(missingSettings.exitCode, 2);
    EXPECT_NE(missingSettings.err.find("settings file"), std::string::npos);
}

TEST_F(CliTest, PasswordsNeverAppearInTheOutput) {
    const auto a = test::MakeSqlite(dir_ / "a.db", kShop);
    const auto result = test::RunDiff(
        {"--json", "--settings", settings_.string(), a, "ODBC;DSN=nowhere;UID=u;PWD=hunter2;"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out.find("hunter2"), std::string::npos);
    EXPECT_EQ(result.err.find("hunter2"), std::string::npos);
    EXPECT_NE(result.out.find("PWD=***"), std::string::npos);
}

}  // namespace
}  // namespace kesmark
