// kesmark-diff end to end: databases built by the test, the real program run,
// its exact output compared.

#include <gtest/gtest.h>

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

TEST_F(CliTest, OpenFailuresExitTwoWithTheOpenFailureMessage) {
    const auto a = test::MakeSqlite(dir_ / "a.db", kShop);
    const auto missing = (dir_ / "missing.db").string();
    const auto result = test::RunDiff({"--settings", settings_.string(), a, missing});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "Kesmark: Unable to open database '" + missing +
                              "'\nDescription: Could not find file '" + missing +
                              "'.\nNumber: 3024\nSource: Kesmark\n");
    EXPECT_EQ(result.out,
              "(comparison stopped before its end)\n"
              "Summary: no differences found; the comparison stopped before its end\n");

    test::WriteFile(dir_ / "notes.txt", "not a database");
    const auto notDb = test::RunDiff(
        {"--json", "--settings", settings_.string(), a, (dir_ / "notes.txt").string()});
    EXPECT_EQ(notDb.exitCode, 2);
    EXPECT_NE(notDb.err.find("Unrecognized database format"), std::string::npos) << notDb.err;
    EXPECT_NE(notDb.out.find("\"completed\": false"), std::string::npos);
    EXPECT_NE(notDb.out.find("\"caption\": \"Kesmark\""), std::string::npos);
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
