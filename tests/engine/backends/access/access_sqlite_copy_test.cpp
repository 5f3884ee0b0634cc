// An Access file against a SQLite copy the test makes from it (sqlite_copy.h):
// across the two engines the copy compares as same, data included, except for
// what the copy really changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "tests/engine/backends/access/access_fixtures.h"
#include "tests/engine/backends/access/sqlite_copy.h"

namespace kesmark {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// The keys of the nodes of a kesmark-diff --json run, and those with a
// differs (even) picture.
struct RunNodes {
    std::vector<std::string> all;
    std::set<std::string> differing;
};

RunNodes NodesOf(const test::DiffResult& result) {
    RunNodes nodes;
    const auto doc = Json::parse(result.out, nullptr, false);
    if (doc.is_discarded()) {
        ADD_FAILURE() << "no JSON from kesmark-diff:\n" << result.out << result.err;
        return nodes;
    }
    for (const auto& node : doc.at("nodes")) {
        nodes.all.push_back(node.at("key"));
        if (node.at("image").get<int>() % 2 == 0) {
            nodes.differing.insert(node.at("key"));
        }
    }
    EXPECT_TRUE(doc.at("messages").empty()) << result.out;
    return nodes;
}

// The keys of `a` that `b` lacks, one a line.
std::string Missing(const std::set<std::string>& a, const std::set<std::string>& b) {
    std::string text;
    for (const auto& key : a) {
        if (b.count(key) == 0) {
            text += "  " + key + "\n";
        }
    }
    return text;
}

std::string Key(std::string_view collection, std::string_view name) {
    return std::string(collection) + "[" + std::string(name) + "]";
}

class AccessSqliteCopy : public ::testing::Test {
  protected:
    void SetUp() override { KESMARK_REQUIRE_SHARED_TESTDATA(); }

    test::DiffResult Diff(const std::vector<std::string>& extra, const fs::path& a,
                          const fs::path& b) {
        std::vector<std::string> args = {"--json", "--settings", settings_.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.insert(args.end(), {a.string(), b.string()});
        return test::RunDiff(args);
    }

    test::TempDir dir_;
    fs::path settings_ = test::DefaultSettings(dir_.Path());
};

TEST_F(AccessSqliteCopy, NorthwindAndItsCopyDifferOnlyInWhatTheCopyChanges) {
    const fs::path access = test::AccessFile("nwind.mdb");
    const fs::path copy = dir_.Path() / "nwind.sqlite";
    const test::SqliteCopyReport report = test::CopyAccessToSqlite(access, copy);
    ASSERT_EQ(report.tables.size(), 9u) << "the eight Northwind tables and Umsätze";

    // What the copy changes: the database's own Access properties, the
    // system tables, the queries, the containers of forms, reports and
    // modules with their documents, and the indexes it renamed. SQLite has a
    // Triggers container of its own.
    const RunNodes accessAlone = NodesOf(Diff({}, access, access));
    const std::set<std::string> copied(report.tables.begin(), report.tables.end());
    std::set<std::string> expected = {"Databases", "Containers[Tables]", "Containers[Triggers]"};
    for (const auto& key : accessAlone.all) {
        const bool table = key.starts_with("TableDefs[") && key.find("].") == std::string::npos;
        const bool query = key.starts_with("QueryDefs[") && key.find("].") == std::string::npos;
        const bool container =
            key.starts_with("Containers[") && key.find("].") == std::string::npos;
        if ((table && copied.count(key.substr(10, key.size() - 11)) == 0) || query ||
            (container && key != "Containers[Relationships]")) {
            expected.insert(key);
        }
        const std::string tableDocuments = "Containers[Tables].Documents[";
        if (key.starts_with(tableDocuments) &&
            copied.count(
                key.substr(tableDocuments.size(), key.size() - tableDocuments.size() - 1)) == 0) {
            expected.insert(key);
        }
    }
    for (const auto& renamed : report.renamedIndexes) {
        const std::string table = Key("TableDefs", renamed.table);
        expected.insert(table);
        expected.insert(table + "." + Key("Indexes", renamed.name));
        expected.insert(table + "." + Key("Indexes", renamed.copiedAs));
    }
    for (const auto& changed : report.changedFields) {
        const std::string table = Key("TableDefs", changed.table);
        expected.insert(table);
        expected.insert(table + "." + Key("Fields", changed.field));
    }
    EXPECT_FALSE(report.renamedIndexes.empty()) << "Northwind repeats index names";
    EXPECT_FALSE(report.changedFields.empty()) << "Northwind numbers its keys";

    for (const bool data : {false, true}) {
        const auto result = Diff(
            data ? std::vector<std::string>{"--data"} : std::vector<std::string>{}, access, copy);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        const RunNodes nodes = NodesOf(result);
        EXPECT_EQ(nodes.differing, expected)
            << (data ? "with --data" : "schema only") << "\nunexpected differences:\n"
            << Missing(nodes.differing, expected) << "expected, but the same:\n"
            << Missing(expected, nodes.differing);
        // The relations pair by what they link, whatever their names.
        for (const char* relation : {"CustomersOrders", "OrdersOrder Details"}) {
            EXPECT_EQ(std::count(nodes.all.begin(), nodes.all.end(), Key("Relations", relation)), 1)
                << relation;
        }
    }
}

}  // namespace
}  // namespace kesmark
