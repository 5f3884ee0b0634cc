// kesmark-diff end to end on Access files: the real databases, copies with
// one thing changed, and damaged files, which must each end in a result or a
// clear error, never in a crash or a hang.

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "engine/backends/access/access_records.h"
#include "tests/engine/backends/access/access_fixtures.h"

namespace kesmark {
namespace {

namespace fs = std::filesystem;
namespace nwind = test::nwind;
using Json = nlohmann::json;

struct Node {
    std::string key;
    std::string text;
    std::string parent;
    int image = 0;
};

class AccessCli : public ::testing::Test {
  protected:
    void SetUp() override { KESMARK_REQUIRE_SHARED_TESTDATA(); }

    // Runs kesmark-diff --json on the two files with the default settings,
    // with --data when `data`.
    test::DiffResult Diff(const fs::path& a, const fs::path& b, bool data = false) {
        std::vector<std::string> args = {"--json", "--settings", settings_.string()};
        if (data) {
            args.push_back("--data");
        }
        args.insert(args.end(), {a.string(), b.string()});
        return test::RunDiff(args);
    }

    static std::vector<Node> Nodes(const test::DiffResult& result) {
        std::vector<Node> nodes;
        const auto doc = Json::parse(result.out);
        for (const auto& n : doc.at("nodes")) {
            nodes.push_back(Node{n.at("key"), n.at("text"),
                                 n.at("parent").is_null() ? "" : n.at("parent").get<std::string>(),
                                 n.at("image")});
        }
        return nodes;
    }

    // Keys of the nodes with a differs image (even), and their images.
    static std::map<std::string, int> Differing(const std::vector<Node>& nodes) {
        std::map<std::string, int> out;
        for (const auto& n : nodes) {
            if (n.image % 2 == 0) {
                out[n.key] = n.image;
            }
        }
        return out;
    }

    static std::size_t ChildrenOf(const std::vector<Node>& nodes, const std::string& parent,
                                  std::string_view collection) {
        std::size_t count = 0;
        for (const auto& n : nodes) {
            if (n.parent == parent && n.key.find(collection) != std::string::npos) {
                ++count;
            }
        }
        return count;
    }

    fs::path Nwind() const { return test::AccessFile("nwind.mdb"); }

    test::TempDir dir_;
    fs::path settings_ = test::DefaultSettings(dir_.Path());
};

// Every node of whole comparisons of the shared files, in the order the run
// adds them, with its parent, picture and text, exactly as recorded in
// tests/golden: Kesmark asks the reader for one object at a time, and must
// find the same objects in the same order with the same verdicts.
TEST_F(AccessCli, EveryPairGivesTheNodesRecorded) {
    struct Case {
        const char* name;  // of the recording
        const char* file1;
        const char* file2;
        bool data;
    };
    const Case cases[] = {
        {"access-northwind-same-data", "nwind.mdb", "nwind.mdb", true},
        {"access-northwind-datetest-data", "nwind.mdb", "DateTestDatabase.mdb", true},
        {"access-sample-northwind", "ASampleDatabase.accdb", "nwind.mdb", false},
        {"access-datetest-sample-data", "DateTestDatabase.mdb", "ASampleDatabase.accdb", true},
    };
    for (const auto& c : cases) {
        const auto result = Diff(test::AccessFile(c.file1), test::AccessFile(c.file2), c.data);
        ASSERT_LE(result.exitCode, 1) << c.name << ": " << result.err;
        test::ExpectRecordedNodes(result.out, c.name);
    }
}

TEST_F(AccessCli, NorthwindAgainstItselfIsTheSameEverywhere) {
    const auto result = Diff(Nwind(), Nwind());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const auto doc = Json::parse(result.out);
    EXPECT_TRUE(doc.at("same").get<bool>());
    EXPECT_TRUE(doc.at("completed").get<bool>());
    const auto nodes = Nodes(result);
    EXPECT_TRUE(Differing(nodes).empty());

    struct TableCase {
        const char* table;
        std::size_t fields;
        std::size_t indexes;
    };
    for (const auto& t :
         {TableCase{"Categories", 4, 2}, TableCase{"Customers", 11, 5},
          TableCase{"Employees", 17, 3}, TableCase{"Order Details", 5, 5},
          TableCase{"Orders", 14, 9}, TableCase{"Products", 10, 6}, TableCase{"Shippers", 3, 1},
          TableCase{"Suppliers", 12, 3}, TableCase{"Ums\xC3\xA4tze", 14, 6}}) {
        SCOPED_TRACE(t.table);
        const std::string key = std::string("TableDefs[") + t.table + "]";
        EXPECT_EQ(ChildrenOf(nodes, key, ".Fields["), t.fields);
        EXPECT_EQ(ChildrenOf(nodes, key, ".Indexes["), t.indexes);
    }
    EXPECT_EQ(ChildrenOf(nodes, "TableDefs[Orders].Indexes[PrimaryKey]", ".Fields["), 1u);

    std::size_t queries = 0;
    for (const auto& n : nodes) {
        if (n.parent == "Databases" && n.key.starts_with("QueryDefs[")) {
            ++queries;
        }
    }
    EXPECT_EQ(queries, 22u);
    const std::string sales = "QueryDefs[Employee Sales by Country]";
    EXPECT_EQ(ChildrenOf(nodes, sales, ".Fields["), 6u);
    EXPECT_EQ(ChildrenOf(nodes, sales, ".Parameters["), 2u);
    EXPECT_EQ(ChildrenOf(nodes, "QueryDefs[Quarterly Orders by Product]", ".Fields["), 3u);

    std::set<std::string> relations;
    for (const auto& n : nodes) {
        if (n.parent == "Databases" && n.key.starts_with("Relations[")) {
            relations.insert(n.text);
            EXPECT_EQ(ChildrenOf(nodes, n.key, ".Fields["), 1u) << n.key;
        }
    }
    EXPECT_EQ(relations.size(), 7u);

    std::map<std::string, std::size_t> containers;
    for (const auto& n : nodes) {
        if (n.parent == "Databases" && n.key.starts_with("Containers[")) {
            containers[n.text] = ChildrenOf(nodes, n.key, ".Documents[");
        }
    }
    EXPECT_EQ(containers, (std::map<std::string, std::size_t>{{"DataAccessPages", 0},
                                                              {"Databases", 4},
                                                              {"Forms", 21},
                                                              {"Modules", 3},
                                                              {"Relationships", 7},
                                                              {"Reports", 13},
                                                              {"Scripts", 7},
                                                              {"SysRel", 1},
                                                              {"Tables", 41}}));
}

TEST_F(AccessCli, OneChangeShowsExactlyTheObjectThatChanged) {
    const std::string bytes = test::ReadBytes(Nwind());
    struct Case {
        const char* scenario;
        std::uint32_t page;
        std::string pattern;
        std::size_t at;  // position of the replacement in the pattern
        std::string replacement;
        std::map<std::string, int> differing;
    };
    const Case cases[] = {
        {"a field renamed (same length, in the table definition)",
         nwind::kCustomersDefinitionPage,
         "\x0b"
         "ContactName",
         1,
         "ContactNbme",
         {{"Databases", 12},
          {"TableDefs[Customers]", 2},
          {"TableDefs[Customers].Fields[ContactName]", 4},
          {"TableDefs[Customers].Fields[ContactNbme]", 4}}},
        {"a field's Description changed",
         nwind::kCustomersPropertiesPage,
         "Street or post-office box.",
         22,
         "bix",
         {{"Databases", 12},
          {"TableDefs[Customers]", 2},
          {"TableDefs[Customers].Fields[Address]", 4}}},
        {"a field's validation rule changed",
         nwind::kOrderDetailsPropertiesPage,
         "Between 0 And 1",
         14,
         "2",
         {{"Databases", 12},
          {"TableDefs[Order Details]", 2},
          {"TableDefs[Order Details].Fields[Discount]", 4}}},
        // A table's stored properties are also its document's, as in DAO.
        {"a table's Description changed",
         nwind::kCustomersPropertiesPage,
         "Customers' names",
         0,
         "K",
         {{"Databases", 12},
          {"TableDefs[Customers]", 2},
          {"Containers[Tables]", 16},
          {"Containers[Tables].Documents[Customers]", 20}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto offset = test::FindInPage(bytes, c.page, nwind::kPageSize, c.pattern);
        const auto copy =
            test::WritePatched(dir_.Path(), "changed.mdb", bytes, offset + c.at, c.replacement);
        const auto result = Diff(Nwind(), copy);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.err, "");
        const auto nodes = Nodes(result);
        EXPECT_EQ(Differing(nodes), c.differing);
        EXPECT_GT(nodes.size(), 400u) << "the whole tree is still there";
    }
}

TEST_F(AccessCli, QueriesThatDifferInOneDetailShowExactlyThatQuery) {
    const std::string bytes = test::ReadBytes(Nwind());
    struct Case {
        const char* scenario;
        const char* query;
        int attribute;
        const char* name1;
        const char* column;
        std::string replacement;
        std::map<std::string, int> differing;
    };
    const Case cases[] = {
        {"an inner join made a right join",
         "Employee Sales by Country",
         7,
         "Employees",
         "Flag",
         std::string("\x03", 1),
         {{"Databases", 12}, {"QueryDefs[Employee Sales by Country]", 10}}},
        {"a descending sort made ascending",
         "Ten Most Expensive Products",
         11,
         "D",
         "Name1",
         "A",
         {{"Databases", 12}, {"QueryDefs[Ten Most Expensive Products]", 10}}},
        {"a date parameter made a double",
         "Employee Sales by Country",
         2,
         "Ending Date",
         "Flag",
         std::string("\x07", 1),
         {{"Databases", 12},
          {"QueryDefs[Employee Sales by Country]", 10},
          {"QueryDefs[Employee Sales by Country].Parameters[Ending Date]", 18}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto offset =
            test::QueryRowFieldOffset(bytes, c.query, c.attribute, c.name1, c.column);
        const auto copy =
            test::WritePatched(dir_.Path(), "changed.mdb", bytes, offset, c.replacement);
        const auto result = Diff(Nwind(), copy);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(Differing(Nodes(result)), c.differing);
    }
}

TEST_F(AccessCli, DifferentDatabasesCompareToTheEndWithoutAnError) {
    for (const char* other : {"DateTestDatabase.mdb", "ASampleDatabase.accdb"}) {
        SCOPED_TRACE(other);
        const auto result = Diff(Nwind(), test::AccessFile(other));
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.err, "");
        const auto doc = Json::parse(result.out);
        EXPECT_TRUE(doc.at("completed").get<bool>());
        EXPECT_TRUE(doc.at("messages").empty());
        EXPECT_EQ(Differing(Nodes(result)).at("Databases"), 12);
    }
}

// What a damaged file may lead to: a result (exit 0 or 1), or a clear error
// (exit 2) whose message names the file; never a crash of kesmark-diff.
void ExpectResultOrClearError(const test::DiffResult& result, const fs::path& damaged) {
    ASSERT_TRUE(result.exitCode == 0 || result.exitCode == 1 || result.exitCode == 2)
        << "exit status " << result.exitCode << "\n"
        << result.err;
    if (result.exitCode == 2) {
        EXPECT_NE(result.err.find(damaged.string()), std::string::npos) << result.err;
        EXPECT_NE(result.out.find("\"completed\": false"), std::string::npos);
    }
    EXPECT_TRUE(Json::accept(result.out)) << result.out;
}

TEST_F(AccessCli, EveryDamagedFileOfTheCorpusEndsInAResultOrAClearError) {
    const auto files = test::DamagedAccessFiles();
    EXPECT_EQ(files.size(), 9u);
    for (const auto& file : files) {
        for (const bool data : {false, true}) {
            SCOPED_TRACE(file.filename().string() + (data ? " with --data" : ""));
            ExpectResultOrClearError(Diff(Nwind(), file, data), file);
        }
    }
}

TEST_F(AccessCli, DamagedCopiesEndInAResultOrAClearError) {
    const std::string bytes = test::ReadBytes(Nwind());
    struct Case {
        std::string name;
        std::string bytes;
        const char* expected;  // part of the error, or nullptr for any outcome
    };
    std::vector<Case> cases;
    for (const std::size_t length :
         {100ul, 2048ul * 3, 2048ul * 50, bytes.size() / 2, bytes.size() - 1000}) {
        cases.push_back(
            {"truncated-" + std::to_string(length) + ".mdb", bytes.substr(0, length), nullptr});
    }
    // Bytes flipped in the part of the file that holds the catalog, the
    // table definitions and the stored properties, from a fixed seed.
    std::uint32_t seed = 20240531;
    const auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int variant = 0; variant < 12; ++variant) {
        std::string flipped = bytes;
        for (int i = 0; i < 24; ++i) {
            flipped[2048 + next() % (1600 * 1024)] ^= static_cast<char>(1u << (next() % 8));
        }
        cases.push_back({"flipped-" + std::to_string(variant) + ".mdb", flipped, nullptr});
    }
    // The stored properties of Products are a chain of long value pieces;
    // make the first piece point to itself.
    {
        std::string cyclic = bytes;
        const auto row = test::Jet3RowOffset(bytes, nwind::kProductsPropertiesPage, 0);
        cyclic.replace(row, 4, test::Le32Bytes(nwind::kProductsPropertiesPage << 8));
        cases.push_back({"cyclic-chain.mdb", cyclic, "a long value chain loops back"});
    }
    // A property record of length 0 in the stored properties of Customers:
    // the block begins with "KKD\0", a chunk of names, then the chunk of the
    // table's own values: its name part (length in its first 4 bytes), then
    // the first record.
    {
        std::string zero = bytes;
        const auto block = test::Jet3RowOffset(bytes, nwind::kCustomersPropertiesPage, 0);
        ASSERT_EQ(bytes.substr(block, 4), std::string("KKD\0", 4));
        const auto values = block + 4 + test::Le32At(bytes, block + 4);
        const auto record = values + 6 + test::Le32At(bytes, values + 6);
        zero.replace(record, 2, std::string(2, '\0'));
        cases.push_back({"zero-length-record.mdb", zero, "a property record has the length 0"});
    }

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = dir_ / c.name;
        test::WriteFile(path, c.bytes);
        const auto result = Diff(Nwind(), path);
        ExpectResultOrClearError(result, path);
        if (c.expected) {
            EXPECT_EQ(result.exitCode, 2);
            EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
        }
    }
}

// The data pages of a table in a Jet 3 file, by the reader's own parsers:
// each page number with the rows it holds.
std::vector<std::pair<std::uint32_t, unsigned>> DataPagesOf(const std::string& bytes,
                                                            const std::string& table) {
    const std::span<const std::uint8_t> image(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                              bytes.size());
    access::BufferPageSource source(image);
    access::JetFile file(source);
    const auto definition = access::FindTableDefinition(file, table);
    EXPECT_TRUE(definition.has_value()) << table;
    std::vector<std::pair<std::uint32_t, unsigned>> pages;
    for (std::uint32_t page = 0; definition && page < file.PageCount(); ++page) {
        const std::size_t at = page * nwind::kPageSize;
        if (bytes[at] == 0x01 && test::Le32At(bytes, at + 4) == *definition) {
            pages.emplace_back(page, test::Le16At(bytes, at + 8));
        }
    }
    return pages;
}

// Rows lost from a damaged copy (the stored RecordCount unchanged) never
// compare as the same data: the result is a difference under the table, or
// an error that names the file and the table.
TEST_F(AccessCli, CopiesThatLostRowsNeverCompareAsTheSameData) {
    const std::string bytes = test::ReadBytes(Nwind());
    const auto orderDetails = DataPagesOf(bytes, "Order Details");
    ASSERT_FALSE(orderDetails.empty());
    const auto fewest =
        *std::min_element(orderDetails.begin(), orderDetails.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; });
    const auto zeroRows = [&](std::uint32_t page) {
        std::string zeroed = bytes;
        zeroed.replace(page * nwind::kPageSize + 8, 2, std::string(2, '\0'));
        return zeroed;
    };
    struct Case {
        std::string scenario;
        std::string bytes;
        std::string table;  // the table that lost rows
    };
    const Case cases[] = {
        // Pages from 1279 on hold 1,409 of the 2,705 rows of MSysAccessObjects.
        {"truncated after page 1278", bytes.substr(0, 1279 * nwind::kPageSize),
         "MSysAccessObjects"},
        {"the last data page of Order Details holds no rows", zeroRows(fewest.first),
         "Order Details"},
        {"the first data page of Order Details holds no rows", zeroRows(orderDetails.front().first),
         "Order Details"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto damaged = dir_ / "damaged.mdb";
        test::WriteFile(damaged, c.bytes);
        const auto result = Diff(Nwind(), damaged, true);
        ASSERT_NE(result.exitCode, 0) << result.out;
        ExpectResultOrClearError(result, damaged);
        const auto doc = Json::parse(result.out);
        EXPECT_FALSE(doc.at("same").get<bool>());
        if (result.exitCode == 2) {
            EXPECT_NE(result.err.find("'" + c.table + "'"), std::string::npos) << result.err;
        } else {
            EXPECT_EQ(Differing(Nodes(result)).count("TableDefs[" + c.table + "]"), 1u);
        }
    }

    // The records the last page held: beyond the damaged copy's readable
    // rows, which is said instead of "No current record.".
    const auto damaged = dir_ / "damaged.mdb";
    test::WriteFile(damaged, zeroRows(fewest.first));
    const auto lost = std::to_string(2155 - fewest.second + 1);
    const auto shown =
        test::RunDiff({"--settings", settings_.string(), "--show",
                       "TableDefs[Order Details].Fields[OrderID].Records[" + lost + "]",
                       Nwind().string(), damaged.string()});
    EXPECT_NE(shown.exitCode, 0);
    EXPECT_EQ(shown.err.find("No current record"), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find("'Order Details'"), std::string::npos) << shown.err;
    EXPECT_NE(shown.err.find(damaged.string()), std::string::npos) << shown.err;
}

}  // namespace
}  // namespace kesmark
