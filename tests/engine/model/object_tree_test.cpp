// The object tree backends describe their schema with: a member read from a
// collection belongs to its reader, collections that fill themselves fill
// once per reader (and fail once, with their error), and collections of
// very many members list names and describe a member when it is read.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/model/object_tree.h"

namespace kesmark {
namespace {

// A database node with one table "T" whose Fields fill themselves, counting
// the fillings and keeping a weak reference to each field they make.
struct CountedTable {
    CountedTable() {
        auto& table = root->Collection("TableDefs").Add("T");
        table.properties.Add("Name", dao::kText, "T");
        table.Collection("Fields").loader = [this](CollectionNode& fields) {
            ++fillings;
            fields.Add("A");
            made.push_back(fields.members.back());
        };
        table.Collection("Indexes").loader = [this](CollectionNode&) {
            ++indexFillings;
            throw DbError(3001, "Indexes cannot be read", "test");
        };
    }
    std::unique_ptr<DbObject> Table() {
        return TreeObject(root).GetCollection("TableDefs")->ItemAt(0);
    }
    int Alive() const {
        int alive = 0;
        for (const auto& weak : made) {
            alive += weak.expired() ? 0 : 1;
        }
        return alive;
    }

    std::shared_ptr<ObjectNode> root = std::make_shared<ObjectNode>();
    int fillings = 0;
    int indexFillings = 0;
    std::vector<std::weak_ptr<ObjectNode>> made;
};

TEST(ObjectTree, AMemberReadTwiceFillsItsCollectionsOncePerReader) {
    CountedTable db;
    auto first = db.Table();
    EXPECT_EQ(first->GetCollection("Fields")->Count(), 1u);
    EXPECT_EQ(first->GetCollection("Fields")->NameAt(0), "A");
    EXPECT_EQ(db.fillings, 1) << "one reader fills once, however often it reads";
    auto second = db.Table();
    EXPECT_EQ(second->GetCollection("Fields")->Count(), 1u);
    EXPECT_EQ(db.fillings, 2) << "another reader fills its own";
    EXPECT_EQ(db.Alive(), 2);
}

TEST(ObjectTree, WhatAReaderFilledGoesWithTheReader) {
    CountedTable db;
    {
        auto table = db.Table();
        table->GetCollection("Fields")->Count();
        EXPECT_EQ(db.Alive(), 1);
    }
    EXPECT_EQ(db.Alive(), 0) << "nothing the reader filled stays in the tree";
    auto again = db.Table();
    EXPECT_EQ(again->GetCollection("Fields")->ItemAt(0)->Name(), "A");
    EXPECT_EQ(db.fillings, 2);
}

TEST(ObjectTree, ACollectionThatFailsToFillFailsEveryReadWithItsErrorAndFillsOnce) {
    CountedTable db;
    auto table = db.Table();
    auto indexes = table->GetCollection("Indexes");
    for (int read = 0; read < 3; ++read) {
        try {
            read % 2 ? indexes->Count() : table->GetCollection("Indexes")->Names().size();
            ADD_FAILURE() << "read " << read << " did not fail";
        } catch (const DbError& e) {
            EXPECT_EQ(e.Number(), 3001);
            EXPECT_EQ(e.Description(), "Indexes cannot be read");
            EXPECT_EQ(e.Source(), "test");
        }
    }
    EXPECT_EQ(db.indexFillings, 1);
}

TEST(ObjectTree, FilledCollectionsAreSharedByReaders) {
    auto root = std::make_shared<ObjectNode>();
    auto& table = root->Collection("TableDefs").Add("T");
    table.Collection("Fields").Add("A").properties.Add("Name", dao::kText, "A");
    TreeObject db(root);
    auto one = db.GetCollection("TableDefs")->ItemAt(0);
    auto two = db.GetCollection("TableDefs")->Find("t");
    ASSERT_NE(two, nullptr) << "found ignoring case";
    EXPECT_EQ(one->GetCollection("Fields")->Names(), two->GetCollection("Fields")->Names());
    EXPECT_EQ(one->GetCollection("Fields")->ItemAt(0)->GetProperties().Item("Name").GetValue(),
              Value("A"));
}

TEST(ObjectTree, ACollectionOfManyMembersListsNamesAndDescribesAMemberWhenRead) {
    const std::vector<std::string> names = {"Orders", "orders", "Items", "Prices"};
    int described = 0;
    auto root = std::make_shared<ObjectNode>();
    root->Collection("TableDefs").loader = [&](CollectionNode& tables) {
        tables.source =
            MemberSource{names.size(), [&](std::size_t i) { return names[i]; },
                         [&](std::size_t i, ObjectNode& member) {
                             ++described;
                             if (names[i] == "Prices") {
                                 throw DbError(3049, "Prices is damaged", "test");
                             }
                             member.properties.Add("Position", dao::kLong, static_cast<int>(i));
                         }};
    };
    TreeObject db(root);
    auto tables = db.GetCollection("TableDefs");
    EXPECT_EQ(tables->Names(), names);
    EXPECT_EQ(described, 0) << "listing names describes nothing";

    struct Case {
        const char* scenario;
        const char* name;
        int position;  // -1: not found
    };
    const Case cases[] = {
        {"exact name", "orders", 1},
        {"exact name before one differing in case", "Orders", 0},
        {"name ignoring case", "ITEMS", 2},
        {"absent name", "Customers", -1},
    };
    for (const auto& c : cases) {
        auto table = tables->Find(c.name);
        if (c.position < 0) {
            EXPECT_EQ(table, nullptr) << c.scenario;
            continue;
        }
        ASSERT_NE(table, nullptr) << c.scenario;
        EXPECT_EQ(table->Name(), names[static_cast<std::size_t>(c.position)]) << c.scenario;
        EXPECT_EQ(table->GetProperties().Item("Position").GetValue(), Value(c.position))
            << c.scenario;
    }
    EXPECT_EQ(described, 3);
    try {
        tables->ItemAt(3);
        ADD_FAILURE() << "a member that cannot be described was read";
    } catch (const DbError& e) {
        EXPECT_EQ(e.Description(), "Prices is damaged");
    }
    try {
        tables->ItemAt(4);
        ADD_FAILURE() << "read past the end";
    } catch (const DbError& e) {
        EXPECT_EQ(e.Number(), errors::kItemNotFound);
    }
}

}  // namespace
}  // namespace kesmark
