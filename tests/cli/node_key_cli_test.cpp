// Node keys of awkward names end to end: every key kesmark-diff prints can be
// listed again with --show, and names that look like paths never collide.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

using nlohmann::json;

// Tables, fields, indexes, views and foreign keys whose names hold brackets,
// dots, quotes and blanks.
constexpr std::string_view kAwkward =
    R"sql(CREATE TABLE "a]b" ("x[1]" INTEGER PRIMARY KEY, "it's" TEXT, "say ""hi""" REAL);
CREATE TABLE "[bracketed]" ("f.g" INTEGER, "]" TEXT,
                            FOREIGN KEY ("f.g") REFERENCES "a]b"("x[1]"));
CREATE INDEX "ix ]." ON "[bracketed]" ("]", "f.g");
CREATE UNIQUE INDEX "[[" ON "a]b" ("it's");
CREATE VIEW "v]w [x]" AS SELECT "x[1]" AS "c]d", "it's" FROM "a]b";
INSERT INTO "a]b" VALUES (1, 'one', 1.5), (2, 'two', NULL);
INSERT INTO "[bracketed]" VALUES (1, 'x');
)sql";

class NodeKeyCliTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::filesystem::path settings_ = test::DefaultSettings(dir_.Path());

    json RunJson(const std::filesystem::path& a, const std::filesystem::path& b) {
        const auto result =
            test::RunDiff({"--json", "--data", "--settings", settings_.string(), a, b});
        EXPECT_LE(result.exitCode, 1) << result.err;
        return json::parse(result.out);
    }
};

TEST_F(NodeKeyCliTest, EveryPrintedKeyOfAwkwardNamesCanBeShown) {
    const auto a = test::MakeSqlite(dir_ / "a.db", kAwkward);
    const auto b = test::MakeSqlite(dir_ / "b.db", kAwkward);
    // One difference of each kind in database 2, so that one-sided and
    // differing nodes are listed too.
    test::MakeSqlite(b, R"sql(UPDATE "a]b" SET "it's" = 'deux' WHERE "x[1]" = 2;
                             DROP INDEX "ix ].";
                             CREATE TABLE "only]2" ("[k]" INTEGER);)sql");
    const json doc = RunJson(a, b);
    EXPECT_FALSE(doc["same"].get<bool>());
    std::size_t shown = 0;
    for (const auto& node : doc["nodes"]) {
        const auto key = node["key"].get<std::string>();
        SCOPED_TRACE(key);
        const auto result =
            test::RunDiff({"--show", key, "--data", "--settings", settings_.string(), a, b});
        EXPECT_EQ(result.err, "");
        EXPECT_LE(result.exitCode, 1) << result.out;
        // A node marked same lists no difference.
        if (node["image"].get<int>() % 2 == 1) {
            EXPECT_EQ(result.exitCode, 0) << result.out;
        }
        ++shown;
    }
    // The awkward names all reached the tree.
    const std::string nodes = doc["nodes"].dump();
    for (const char* key :
         {"TableDefs[a]]b].Fields[x[[1]]]", "TableDefs[[[bracketed]]].Indexes[ix ]].]",
          "QueryDefs[v]]w [[x]]].Fields[c]]d]", "TableDefs[only]]2]"}) {
        EXPECT_NE(nodes.find(std::string("\"") + key + "\""), std::string::npos) << key;
    }
    EXPECT_GT(shown, 20u);
}

TEST_F(NodeKeyCliTest, ATableNamedLikeAFieldKeyComparesAsSameWithItself) {
    const auto a = test::MakeSqlite(dir_ / "a.db",
                                    R"sql(CREATE TABLE x (y INTEGER);
                                          CREATE TABLE "x].Fields[y" (z TEXT);
                                          INSERT INTO x VALUES (1);
                                          INSERT INTO "x].Fields[y" VALUES ('z');)sql");
    const auto result = test::RunDiff({"--json", "--data", "--settings", settings_.string(), a, a});
    EXPECT_EQ(result.exitCode, 0) << result.err << result.out;
    const json doc = json::parse(result.out);
    EXPECT_TRUE(doc["same"].get<bool>());
    std::vector<std::string> keys;
    for (const auto& node : doc["nodes"]) {
        keys.push_back(node["key"].get<std::string>());
    }
    EXPECT_NE(std::find(keys.begin(), keys.end(), "TableDefs[x].Fields[y]"), keys.end());
    EXPECT_NE(std::find(keys.begin(), keys.end(), "TableDefs[x]].Fields[[y]"), keys.end());
    const auto table = test::RunDiff(
        {"--show", "TableDefs[x]].Fields[[y].Fields[z]", "--settings", settings_.string(), a, a});
    EXPECT_EQ(table.exitCode, 0) << table.err;
    EXPECT_NE(table.out.find("z"), std::string::npos);
}

}  // namespace
}  // namespace kesmark
