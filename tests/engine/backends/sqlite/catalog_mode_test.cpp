// The schema read one table at a time (sqlite_scratch.h): what a scratch
// copy of a table's rows says of it is what the whole parsed schema says,
// and a statement SQLite cannot parse is still reported, once.

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "tests/engine/backends/sqlite/schema_fixtures.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

using nlohmann::json;

TEST(SqliteCatalogMode, ATableReadAloneReadsAsTheWholeSchemaReadsIt) {
    // A virtual table makes the whole schema parsed in database 2 (its
    // module reads tables of its own); database 1 is read one table at a
    // time. Every object they share must compare equal, every property.
    test::TempDir dir;
    const std::string shop(test::kShopSql);
    const auto a = test::MakeSqlite(dir / "alone.db", shop);
    const auto b = test::MakeSqlite(dir / "whole.db",
                                    shop + "CREATE VIRTUAL TABLE Notes USING fts5(title, body);");
    const auto result =
        test::RunDiff({"--json", "--strict", "--settings",
                       test::DefaultSettings(dir.Path()).string(), a.string(), b.string()});
    ASSERT_EQ(result.exitCode, 1) << result.err;
    const json doc = json::parse(result.out);
    EXPECT_TRUE(doc["messages"].empty()) << doc["messages"].dump();
    std::vector<std::string> differing;
    for (const auto& node : doc["nodes"]) {
        if (node["image"].get<int>() % 2 == 0) {
            differing.push_back(node["key"].get<std::string>());
        }
    }
    std::vector<std::string> expected = {"Databases", "Containers[Tables]"};
    for (const char* table :
         {"Notes", "Notes_data", "Notes_idx", "Notes_content", "Notes_docsize", "Notes_config"}) {
        expected.push_back("TableDefs[" + std::string(table) + "]");
        expected.push_back("Containers[Tables].Documents[" + std::string(table) + "]");
    }
    std::sort(differing.begin(), differing.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(differing, expected);
    EXPECT_GT(doc["nodes"].size(), 60u);
}

TEST(SqliteCatalogMode, AStatementSQLiteCannotParseIsReportedOnceWithItsTable) {
    test::TempDir dir;
    const std::string sql = "CREATE TABLE a(x); CREATE TABLE zz(x, y); CREATE TABLE b(x);";
    const auto good = test::MakeSqlite(dir / "good.db", sql);
    const auto bad = test::MakeSqlite(dir / "bad.db", std::string(sql) +
                                                          "PRAGMA writable_schema=ON;"
                                                          "UPDATE sqlite_schema SET sql = "
                                                          "'CREATE TABLE zz(x,, y)' "
                                                          "WHERE name = 'zz';");
    for (const bool data : {false, true}) {
        std::vector<std::string> args = {"--json", "--settings",
                                         test::DefaultSettings(dir.Path()).string()};
        if (data) {
            args.push_back("--data");
        }
        args.insert(args.end(), {good.string(), bad.string()});
        const auto result = test::RunDiff(args);
        EXPECT_EQ(result.exitCode, 2) << result.out;
        const json doc = json::parse(result.out);
        ASSERT_EQ(doc["messages"].size(), 1u) << doc["messages"].dump();
        const std::string text = doc["messages"][0]["text"];
        EXPECT_NE(text.find("malformed database schema (zz)"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace kesmark
