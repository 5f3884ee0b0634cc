// kesmark-diff --json on SQLite pairs the tests build: for each change, the
// exact set of differing nodes (the changed object and its owners up to the
// root), Compare flags, the Skip, Strict and Data lists, and Ctrl+C.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

using Images = std::map<std::string, int>;

constexpr std::string_view kBase =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL, City TEXT DEFAULT "
    "'Oslo');\n"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER, Placed DATE, Total REAL);\n"
    "CREATE INDEX OrdersByDate ON Orders(Placed, Total);\n"
    "CREATE VIEW BigOrders AS SELECT ID, Total FROM Orders WHERE Total > 100;\n"
    "CREATE TRIGGER OrdersStamp AFTER INSERT ON Orders BEGIN SELECT 1; END;\n";

// kBase with one piece of text replaced (which must be there).
std::string BaseWith(std::string_view from, std::string_view to) {
    std::string sql(kBase);
    const auto at = sql.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        sql.replace(at, from.size(), to);
    }
    return sql;
}

struct Tree {
    Images images;                               // key -> image
    std::map<std::string, std::string> parents;  // key -> parent key ("" for the root)
    bool completed = false;
};

Tree ParseTree(const std::string& out) {
    Tree tree;
    const auto doc = nlohmann::json::parse(out);
    tree.completed = doc.at("completed").get<bool>();
    for (const auto& node : doc.at("nodes")) {
        const auto key = node.at("key").get<std::string>();
        tree.images[key] = node.at("image").get<int>();
        tree.parents[key] = node.at("parent").is_null() ? "" : node.at("parent").get<std::string>();
    }
    return tree;
}

// The nodes with a differs image (even numbers).
Images Differing(const Tree& tree) {
    Images differing;
    for (const auto& [key, image] : tree.images) {
        if (image % 2 == 0) {
            differing.emplace(key, image);
        }
    }
    return differing;
}

class SchemaGoldenTest : public ::testing::Test {
  protected:
    std::filesystem::path Db(const std::string& name, std::string_view sql) {
        return test::MakeSqlite(dir_ / name, sql);
    }
    test::DiffResult Diff(const std::filesystem::path& a, const std::filesystem::path& b,
                          std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"--json", "--settings", settings_.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(a.string());
        args.push_back(b.string());
        return test::RunDiff(args);
    }

    test::TempDir dir_;
    std::filesystem::path settings_ = test::DefaultSettings(dir_.Path());
};

TEST_F(SchemaGoldenTest, SameSqlInTwoFilesGivesEveryNodeItsSameImage) {
    const auto a = Db("a.db", kBase);
    const auto b = Db("b.db", kBase);
    const auto result = Diff(a, b);
    ASSERT_EQ(result.exitCode, 0) << result.err << result.out;
    const Tree tree = ParseTree(result.out);
    EXPECT_TRUE(Differing(tree).empty());
    EXPECT_EQ(result.err, "");
    // Every object of every kind, with its same image.
    const Images expected = {
        {"Databases", 11},
        {"TableDefs[Customers]", 1},
        {"TableDefs[Customers].Fields[City]", 3},
        {"TableDefs[Customers].Fields[ID]", 3},
        {"TableDefs[Customers].Fields[Name]", 3},
        {"TableDefs[Customers].Indexes[sqlite_rowid]", 5},
        {"TableDefs[Customers].Indexes[sqlite_rowid].Fields[ID]", 3},
        {"TableDefs[Orders]", 1},
        {"TableDefs[Orders].Fields[CustomerID]", 3},
        {"TableDefs[Orders].Fields[ID]", 3},
        {"TableDefs[Orders].Fields[Placed]", 3},
        {"TableDefs[Orders].Fields[Total]", 3},
        {"TableDefs[Orders].Indexes[OrdersByDate]", 5},
        {"TableDefs[Orders].Indexes[OrdersByDate].Fields[Placed]", 3},
        {"TableDefs[Orders].Indexes[OrdersByDate].Fields[Total]", 3},
        {"TableDefs[Orders].Indexes[sqlite_rowid]", 5},
        {"TableDefs[Orders].Indexes[sqlite_rowid].Fields[ID]", 3},
        {"QueryDefs[BigOrders]", 9},
        {"QueryDefs[BigOrders].Fields[ID]", 3},
        {"QueryDefs[BigOrders].Fields[Total]", 3},
        {"Containers[Relationships]", 15},
        {"Containers[Tables]", 15},
        {"Containers[Tables].Documents[BigOrders]", 19},
        {"Containers[Tables].Documents[Customers]", 19},
        {"Containers[Tables].Documents[Orders]", 19},
        {"Containers[Triggers]", 15},
        {"Containers[Triggers].Documents[OrdersStamp]", 19},
    };
    EXPECT_EQ(tree.images, expected);
}

TEST_F(SchemaGoldenTest, EachChangeMarksExactlyItsPathUpToTheRoot) {
    const std::string kRelation = "Orders(CustomerID) -> Customers(ID)";
    struct Case {
        const char* scenario;
        std::string sql1;
        std::string sql2;
        Images differing;
        std::vector<std::string> childless = {};  // one-sided members
    };
    const Case cases[] = {
        {"a table only in database 2",
         std::string(kBase),
         std::string(kBase) + "CREATE TABLE Extra(x);",
         {{"Databases", 12},
          {"TableDefs[Extra]", 2},
          {"Containers[Tables]", 16},
          {"Containers[Tables].Documents[Extra]", 20}},
         {"TableDefs[Extra]"}},
        {"Orders in database 1, ORDERS in database 2",
         "CREATE TABLE Orders(ID INTEGER);",
         "CREATE TABLE ORDERS(ID INTEGER);",
         {{"Databases", 12},
          {"TableDefs[Orders]", 2},
          {"TableDefs[ORDERS]", 2},
          {"Containers[Tables]", 16},
          {"Containers[Tables].Documents[Orders]", 20},
          {"Containers[Tables].Documents[ORDERS]", 20}},
         {"TableDefs[Orders]", "TableDefs[ORDERS]"}},
        {"one field missing in database 2",
         std::string(kBase),
         BaseWith(", City TEXT DEFAULT 'Oslo'", ""),
         {{"Databases", 12},
          {"TableDefs[Customers]", 2},
          {"TableDefs[Customers].Fields[City]", 4}}},
        {"a field's declared type changed",
         std::string(kBase),
         BaseWith("Name TEXT NOT NULL", "Name VARCHAR(40) NOT NULL"),
         {{"Databases", 12},
          {"TableDefs[Customers]", 2},
          {"TableDefs[Customers].Fields[Name]", 4}}},
        {"NOT NULL dropped",
         std::string(kBase),
         BaseWith("Name TEXT NOT NULL", "Name TEXT"),
         {{"Databases", 12},
          {"TableDefs[Customers]", 2},
          {"TableDefs[Customers].Fields[Name]", 4}}},
        {"a default value changed",
         std::string(kBase),
         BaseWith("DEFAULT 'Oslo'", "DEFAULT 'Bergen'"),
         {{"Databases", 12},
          {"TableDefs[Customers]", 2},
          {"TableDefs[Customers].Fields[City]", 4}}},
        {"an index made unique",
         std::string(kBase),
         BaseWith("CREATE INDEX", "CREATE UNIQUE INDEX"),
         {{"Databases", 12},
          {"TableDefs[Orders]", 2},
          {"TableDefs[Orders].Indexes[OrdersByDate]", 6}}},
        {"an index field made descending",
         std::string(kBase),
         BaseWith("(Placed, Total)", "(Placed DESC, Total)"),
         {{"Databases", 12},
          {"TableDefs[Orders]", 2},
          {"TableDefs[Orders].Indexes[OrdersByDate]", 6},
          {"TableDefs[Orders].Indexes[OrdersByDate].Fields[Placed]", 4}}},
        {"the order of an index's fields changed",
         std::string(kBase),
         BaseWith("(Placed, Total)", "(Total, Placed)"),
         {{"Databases", 12},
          {"TableDefs[Orders]", 2},
          {"TableDefs[Orders].Indexes[OrdersByDate]", 6},
          {"TableDefs[Orders].Indexes[OrdersByDate].Fields[Placed]", 4},
          {"TableDefs[Orders].Indexes[OrdersByDate].Fields[Total]", 4}}},
        {"a view's SQL changed",
         std::string(kBase),
         BaseWith("Total > 100", "Total > 200"),
         {{"Databases", 12}, {"QueryDefs[BigOrders]", 10}}},
        {"a foreign key added",
         std::string(kBase),
         BaseWith("CustomerID INTEGER", "CustomerID INTEGER REFERENCES Customers"),
         {{"Databases", 12},
          {"TableDefs[Orders]", 2},
          {"Relations[" + kRelation + "]", 14},
          {"Containers[Relationships]", 16},
          {"Containers[Relationships].Documents[" + kRelation + "]", 20}},
         {"Relations[" + kRelation + "]"}},
        {"a foreign key's delete action changed",
         BaseWith("CustomerID INTEGER", "CustomerID INTEGER REFERENCES Customers"),
         BaseWith("CustomerID INTEGER",
                  "CustomerID INTEGER REFERENCES Customers ON DELETE CASCADE"),
         {{"Databases", 12}, {"TableDefs[Orders]", 2}, {"Relations[" + kRelation + "]", 14}}},
        {"a trigger changed",
         std::string(kBase),
         BaseWith("AFTER INSERT", "AFTER DELETE"),
         {{"Databases", 12},
          {"Containers[Triggers]", 16},
          {"Containers[Triggers].Documents[OrdersStamp]", 20}}},
    };
    int n = 0;
    for (const auto& c : cases) {
        ++n;
        const auto a = Db("a" + std::to_string(n) + ".db", c.sql1);
        const auto b = Db("b" + std::to_string(n) + ".db", c.sql2);
        const auto result = Diff(a, b);
        EXPECT_EQ(result.exitCode, 1) << c.scenario << "\n" << result.err;
        const Tree tree = ParseTree(result.out);
        EXPECT_TRUE(tree.completed) << c.scenario;
        EXPECT_EQ(Differing(tree), c.differing) << c.scenario;
        // A member present on one side only has no children.
        for (const auto& [key, parent] : tree.parents) {
            EXPECT_EQ(std::count(c.childless.begin(), c.childless.end(), parent), 0)
                << c.scenario << ": " << key;
        }
    }
}

TEST_F(SchemaGoldenTest, OneSidedFieldsKeepTheirSiblingsSame) {
    const auto a = Db("a.db", kBase);
    const auto b = Db("b.db", BaseWith(", City TEXT DEFAULT 'Oslo'", ""));
    const Tree tree = ParseTree(Diff(a, b).out);
    EXPECT_EQ(tree.images.at("TableDefs[Customers].Fields[ID]"), 3);
    EXPECT_EQ(tree.images.at("TableDefs[Customers].Fields[Name]"), 3);
    EXPECT_EQ(tree.parents.at("TableDefs[Customers].Fields[City]"), "TableDefs[Customers]");
}

TEST_F(SchemaGoldenTest, CompareFlagSwitchedOffWalksNothingOfItsTag) {
    struct Case {
        const char* tag;
        std::string sql2;  // differs from kBase only in objects of the tag
        std::vector<std::array<std::string, 3>> settings;  // extra section, key, value
        std::string absent;                                // no node key matches this pattern
        std::string present;                               // while some node matches this one
    };
    const Case cases[] = {
        {"TableDefs",
         BaseWith(", City TEXT DEFAULT 'Oslo'", ""),
         {},
         R"(^TableDefs\[)",
         R"(^QueryDefs\[)"},
        {"TableFields",
         BaseWith("DEFAULT 'Oslo'", "DEFAULT 'Bergen'"),
         {{"TableDefs", "Skip1", "SQL"}, {"TableDefs", "NumSkip", "1"}},
         R"(^TableDefs\[[^\]]*\]\.Fields\[)",
         R"(^TableDefs\[[^\]]*\]\.Indexes\[)"},
        {"Indexes",
         BaseWith("CREATE INDEX", "CREATE UNIQUE INDEX"),
         {},
         R"(\.Indexes\[)",
         R"(^TableDefs\[[^\]]*\]\.Fields\[)"},
        {"IndexFields",
         BaseWith("(Placed, Total)", "(Placed DESC, Total)"),
         {{"Indexes", "Skip1", "SQL"}, {"Indexes", "NumSkip", "1"}},
         R"(\.Indexes\[[^\]]*\]\.Fields\[)",
         R"(\.Indexes\[)"},
        {"QueryDefs",
         BaseWith("Total > 100", "Total > 200"),
         {},
         R"(^QueryDefs\[)",
         R"(^TableDefs\[)"},
        {"QueryFields",
         BaseWith("SELECT ID, Total", "SELECT ID, Total AS Amount"),
         {{"QueryDefs", "Skip1", "SQL"}, {"QueryDefs", "NumSkip", "1"}},
         R"(^QueryDefs\[[^\]]*\]\.Fields\[)",
         R"(^QueryDefs\[)"},
        {"Relations",
         BaseWith("CustomerID INTEGER",
                  "CustomerID INTEGER REFERENCES Customers ON DELETE CASCADE"),
         {{"TableDefs", "Skip1", "SQL"},
          {"TableDefs", "NumSkip", "1"},
          {"Documents", "Compare", "0"}},
         R"(^Relations\[)",
         R"(^Containers\[Relationships\])"},
        {"Containers",
         BaseWith("AFTER INSERT", "AFTER DELETE"),
         {},
         R"(^Containers\[)",
         R"(^TableDefs\[)"},
        {"Documents",
         BaseWith("AFTER INSERT", "AFTER DELETE"),
         {},
         R"(\.Documents\[)",
         R"(^Containers\[)"},
    };
    // Relations with fields on both sides, for the RelationFields case below.
    const std::string withKey =
        BaseWith("CustomerID INTEGER", "CustomerID INTEGER REFERENCES Customers");
    int n = 0;
    for (const auto& c : cases) {
        ++n;
        const auto a = Db("a" + std::to_string(n) + ".db", kBase);
        const auto b = Db("b" + std::to_string(n) + ".db", c.sql2);
        settings_ = test::DefaultSettings(dir_.Path());
        for (const auto& [section, key, value] : c.settings) {
            test::SetIni(settings_, section, key, value);
        }
        const auto on = Diff(a, b);
        EXPECT_EQ(on.exitCode, 1) << c.tag << ": the pair must differ in the tag's objects";

        test::SetIni(settings_, c.tag, "Compare", "0");
        const auto off = Diff(a, b);
        EXPECT_EQ(off.exitCode, 0) << c.tag << "\n" << off.out;
        const Tree tree = ParseTree(off.out);
        bool present = false;
        for (const auto& [key, image] : tree.images) {
            EXPECT_FALSE(std::regex_search(key, std::regex(c.absent))) << c.tag << ": " << key;
            present = present || std::regex_search(key, std::regex(c.present));
        }
        EXPECT_TRUE(present) << c.tag << ": other collections are still walked";
    }

    const auto a = Db("rel1.db", withKey);
    const auto b = Db("rel2.db", withKey);
    settings_ = test::DefaultSettings(dir_.Path());
    EXPECT_TRUE(ParseTree(Diff(a, b).out)
                    .images.count("Relations[Orders(CustomerID) -> Customers(ID)].Fields[ID]"));
    test::SetIni(settings_, "RelationFields", "Compare", "0");
    const Tree tree = ParseTree(Diff(a, b).out);
    EXPECT_TRUE(tree.images.count("Relations[Orders(CustomerID) -> Customers(ID)]"));
    EXPECT_FALSE(tree.images.count("Relations[Orders(CustomerID) -> Customers(ID)].Fields[ID]"));
}

TEST_F(SchemaGoldenTest, SkipStrictAndDataListsDecideWhetherAPropertyCounts) {
    const auto a = Db("a.db", kBase);
    const auto b = Db("b.db", BaseWith("Total > 100", "Total > 200"));
    const Images viewDiffers = {{"Databases", 12}, {"QueryDefs[BigOrders]", 10}};

    test::SetIni(settings_, "QueryDefs", "Skip1", "SQL");
    test::SetIni(settings_, "QueryDefs", "NumSkip", "1");
    EXPECT_EQ(Diff(a, b).exitCode, 0) << "SQL in the QueryDefs Skip list";
    EXPECT_EQ(Diff(a, b, {"--strict", "--data"}).exitCode, 0) << "Skip holds in every mode";

    settings_ = test::DefaultSettings(dir_.Path());
    test::SetIni(settings_, "Strict", "Skip6", "SQL");
    test::SetIni(settings_, "Strict", "NumSkip", "6");
    EXPECT_EQ(Diff(a, b).exitCode, 0) << "SQL in the Strict list, not strict";
    const auto strict = Diff(a, b, {"--strict"});
    EXPECT_EQ(strict.exitCode, 1);
    EXPECT_EQ(Differing(ParseTree(strict.out)), viewDiffers);

    settings_ = test::DefaultSettings(dir_.Path());
    test::SetIni(settings_, "Data", "Skip4", "SQL");
    test::SetIni(settings_, "Data", "NumSkip", "4");
    EXPECT_EQ(Diff(a, b).exitCode, 0) << "SQL in the Data list, no data";
    const auto data = Diff(a, b, {"--data"});
    EXPECT_EQ(data.exitCode, 1);
    EXPECT_EQ(Differing(ParseTree(data.out)), viewDiffers);
}

TEST_F(SchemaGoldenTest, CtrlCStopsTheRunWithExitTwo) {
    const auto a = Db("a.db", kBase);
    const auto b = Db("b.db", kBase);
    const auto result = test::RunDiffInterrupted(
        {"--json", "--settings", settings_.string(), a.string(), b.string()});
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_FALSE(ParseTree(result.out).completed);
}

}  // namespace
}  // namespace kesmark
