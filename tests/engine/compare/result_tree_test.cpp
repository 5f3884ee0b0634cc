// The result tree the command line holds: every key reads back as given,
// whatever its names hold, nodes keep their order, and tree order is each
// node followed by its children.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>

#include "engine/compare/result_tree.h"
#include "engine/model/db_error.h"
#include "engine/model/node_key.h"

namespace kesmark {
namespace {

struct Added {
    std::string parent;
    std::string key;
    std::string text;
    Picture image;
};

// The nodes of `tree` as they were added.
std::vector<Added> AddedNodes(const MemoryResultTree& tree) {
    std::vector<Added> nodes;
    for (const auto& node : tree.Nodes()) {
        nodes.push_back({node.parent, node.key, node.text, node.image});
    }
    return nodes;
}

TEST(MemoryResultTree, EveryNodeReadsBackAsAdded) {
    const NodeKey orders = NodeKey().Child("TableDefs", "Orders");
    const NodeKey odd = NodeKey().Child("TableDefs", "x].Fields[y");
    const NodeKey query = NodeKey().Child("QueryDefs", "q");
    const std::vector<Added> added = {
        {"", "Databases", "Databases", Picture::DatabasesSame},
        {"Databases", orders.Text(), "Orders", Picture::TableSame},
        {"Databases", odd.Text(), "x].Fields[y", Picture::TableDiffers},
        {"Databases", query.Text(), "q", Picture::QuerySame},
        {orders.Text(), orders.Child("Fields", "ID").Text(), "ID", Picture::FieldSame},
        {orders.Text(), orders.Child("Fields", "a]b").Text(), "a]b", Picture::FieldDiffers},
        {odd.Text(), odd.Child("Fields", "[").Text(), "[", Picture::FieldSame},
        {query.Text(), query.Child("Parameters", "[Start Date]").Text(), "[Start Date]",
         Picture::ParameterSame},
        {orders.Child("Fields", "a]b").Text(),
         orders.Child("Fields", "a]b").Child("Records", "3").Text(), "Record 3",
         Picture::TableDiffers},
        {orders.Text(), orders.Text() + ".Fields[unclosed", "a key that is no node key",
         Picture::FieldSame},
        {"", "Second root", "", Picture::None},
        {"Second root", "Second root.Child", "child", Picture::FieldSame},
        {orders.Text(), orders.Child("Fields", "").Text(), "", Picture::FieldSame},
        {orders.Text(), orders.Child("Fields", "ünï").Text(), "ünï", Picture::FieldSame},
    };
    MemoryResultTree tree;
    for (const auto& node : added) {
        tree.AddNode(node.parent, node.key, node.text, node.image);
    }
    const auto nodes = AddedNodes(tree);
    ASSERT_EQ(nodes.size(), added.size());
    for (std::size_t i = 0; i < added.size(); ++i) {
        EXPECT_EQ(nodes[i].key, added[i].key) << i;
        EXPECT_EQ(nodes[i].parent, added[i].parent) << added[i].key;
        EXPECT_EQ(nodes[i].text, added[i].text) << added[i].key;
        EXPECT_EQ(nodes[i].image, added[i].image) << added[i].key;
        const auto found = tree.Find(added[i].key);
        ASSERT_TRUE(found.has_value()) << added[i].key;
        EXPECT_EQ(found->text, added[i].text);
    }
    EXPECT_EQ(tree.Find(orders.Child("Records", "3").Text()), std::nullopt);
    EXPECT_EQ(tree.Find("TableDefs[orders]"), std::nullopt) << "keys are case-sensitive";
}

TEST(MemoryResultTree, MistakesAreRefusedWithTheTreeViewsErrors) {
    MemoryResultTree tree;
    tree.AddNode("", "Databases", "Databases", Picture::DatabasesSame);
    tree.AddNode("Databases", "TableDefs[T]", "T", Picture::TableSame);
    struct Case {
        const char* scenario;
        std::function<void()> act;
        long number;
    };
    const Case cases[] = {
        {"a key added twice",
         [&] { tree.AddNode("Databases", "TableDefs[T]", "T", Picture::TableSame); },
         errors::kDuplicateKey},
        {"a top-level key added twice", [&] { tree.AddNode("", "Databases", "x", Picture::None); },
         errors::kDuplicateKey},
        {"an unknown parent",
         [&] { tree.AddNode("TableDefs[U]", "TableDefs[U].Fields[A]", "A", Picture::FieldSame); },
         errors::kElementNotFound},
        {"the picture of an unknown node",
         [&] { tree.SetNodeImage("TableDefs[U]", Picture::TableDiffers); },
         errors::kElementNotFound},
    };
    for (const auto& c : cases) {
        try {
            c.act();
            ADD_FAILURE() << c.scenario << " was accepted";
        } catch (const DbError& e) {
            EXPECT_EQ(e.Number(), c.number) << c.scenario;
        }
    }
    EXPECT_EQ(tree.Size(), 2u) << "nothing was added by the refused calls";
    tree.SetNodeImage("TableDefs[T]", Picture::TableDiffers);
    EXPECT_EQ(tree.Find("TableDefs[T]")->image, Picture::TableDiffers);
    tree.Clear();
    EXPECT_EQ(tree.Size(), 0u);
    tree.AddNode("", "Databases", "Databases", Picture::DatabasesSame);
    EXPECT_EQ(tree.Find("TableDefs[T]"), std::nullopt);
}

TEST(MemoryResultTree, ManyNodesInTreeOrderAsADepthFirstWalkGivesThem) {
    // Tables first, then the fields of each, as the walks add them, with
    // names long enough to fill many blocks of texts.
    MemoryResultTree tree;
    std::map<std::string, std::vector<std::string>> children;
    std::mt19937 random(7);
    tree.AddNode("", "Databases", "Databases", Picture::DatabasesSame);
    children[""].push_back("Databases");
    std::vector<std::string> tables;
    for (int t = 0; t < 3000; ++t) {
        const std::string name = "table " + std::to_string(random()) + std::string(t % 50, 'x');
        const std::string key = NodeKey().Child("TableDefs", name).Text();
        if (tree.Find(key)) {
            continue;
        }
        tree.AddNode("Databases", key, name, Picture::TableSame);
        children["Databases"].push_back(key);
        tables.push_back(key);
    }
    for (const auto& table : tables) {
        for (int f = 0; f < 20; ++f) {
            const std::string key = table + ".Fields[c" + std::to_string(f) + "]";
            tree.AddNode(table, key, "c" + std::to_string(f),
                         f == 3 ? Picture::FieldDiffers : Picture::FieldSame);
            children[table].push_back(key);
        }
    }
    std::vector<std::string> expected;
    std::function<void(const std::string&)> visit = [&](const std::string& parent) {
        for (const auto& child : children[parent]) {
            expected.push_back(child);
            visit(child);
        }
    };
    visit("");
    std::vector<std::string> order;
    std::vector<int> depths;
    tree.VisitInTreeOrder([&](const MemoryResultTree::Node& node) {
        order.push_back(node.key);
        depths.push_back(node.depth);
    });
    EXPECT_EQ(order, expected);
    EXPECT_EQ(depths[0], 0);
    EXPECT_EQ(depths[1], 1);
    EXPECT_EQ(depths[2], 2);
    EXPECT_EQ(tree.Size(), expected.size());
    for (const auto& table : tables) {
        ASSERT_TRUE(tree.Find(table + ".Fields[c19]").has_value()) << table;
    }
}

}  // namespace
}  // namespace kesmark
