// The comparison run, matching, property comparison and the walks, on the
// in-memory backend.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include "engine/compare/comparison_run.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"
#include "tests/support/memory_backend.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

class RunTest : public ::testing::Test {
  protected:
    RunTest() : settings_(dir_ / "Kesmark.ini") {
        one_ = &server_.Create("one");
        two_ = &server_.Create("two");
        for (auto* db : {one_, two_}) {
            db->root->properties.Add("Name", dao::kText, db == one_ ? "one" : "two");
            db->root->properties.Add("Version", dao::kText, "4.0");
        }
        inputs_ = RunInputs{"one", "", "two", "", {}};
    }

    void CompareEverything() {
        for (auto tag : kCollectionTags) {
            settings_.WriteIniString(tag, "Compare", "1");
        }
    }
    void SkipForTag(std::string_view tag, const std::vector<std::string>& names) {
        WriteStoredList(settings_, tag, names);
    }

    RunOutcome Run() {
        ComparisonRun run(inputs_, options_, tree_, host_, server_.Opener());
        const auto outcome = run.RunComparison();
        same_ = run.Same();
        return outcome;
    }

    // key -> image of every node.
    std::map<std::string, int> Images() const {
        std::map<std::string, int> images;
        for (const auto& n : tree_.Nodes()) {
            images[n.key] = PictureNumber(n.image);
        }
        return images;
    }
    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        for (const auto& n : tree_.Nodes()) {
            keys.push_back(n.key);
        }
        return keys;
    }

    test::TempDir dir_;
    IniFile settings_;
    IniComparisonOptions options_{settings_};
    MemoryServer server_;
    MemoryDatabaseState* one_;
    MemoryDatabaseState* two_;
    RunInputs inputs_;
    test::RecordingHost host_;
    MemoryResultTree tree_;
    bool same_ = false;
};

TEST_F(RunTest, WithNoSettingsOnlyTheDatabasePropertiesAreCompared) {
    one_->AddTable("Orders", {"ID"});
    two_->AddTable("Customers", {"ID"});
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(Keys(), std::vector<std::string>{"Databases"});
    // Name differs, but the databases' Skip list is empty: Name counts.
    EXPECT_EQ(Images().at("Databases"), 12);
    EXPECT_EQ(host_.statuses.front(), "Opening databases");
    EXPECT_EQ(host_.statuses.back(), "Done");
    EXPECT_EQ(host_.progress.back(), 100);
    EXPECT_EQ(host_.busyStates, (std::vector<bool>{true, false}));
}

TEST_F(RunTest, SkippedDatabasePropertyMakesTheRootSame) {
    SkipForTag("Databases", {"Name"});
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(same_);
    EXPECT_EQ(Images().at("Databases"), 11);
    EXPECT_EQ(one_->closes, 1);
    EXPECT_EQ(two_->closes, 1);
}

TEST_F(RunTest, PropertyComparisonRules) {
    struct Case {
        const char* scenario;
        std::function<void(Properties&, Properties&)> build;
        std::vector<std::string> skip;
        bool same;
    };
    const Case cases[] = {
        {"skipped property present on one side only is no difference",
         [](Properties& a, Properties&) { a.Add("Extra", dao::kText, "x"); },
         {"Name", "Extra"},
         true},
        {"property present on one side only differs",
         [](Properties& a, Properties&) { a.Add("Extra", dao::kText, "x"); },
         {"Name"},
         false},
        {"Null against a value differs",
         [](Properties& a, Properties& b) {
             a.Add("Description", dao::kText, Value());
             b.Add("Description", dao::kText, "text");
         },
         {"Name"},
         false},
        {"Null on both sides is equal",
         [](Properties& a, Properties& b) {
             a.Add("Description", dao::kText, Value());
             b.Add("Description", dao::kText, Value());
         },
         {"Name"},
         true},
        {"unreadable value differs",
         [](Properties& a, Properties& b) {
             a.Add(Property::Failing("Broken", dao::kText, DbError(1, "no", "test")));
             b.Add("Broken", dao::kText, "x");
         },
         {"Name"},
         false},
        {"binary values of different lengths differ",
         [](Properties& a, Properties& b) {
             a.Add("Blob", dao::kBinary, Bytes{1, 2});
             b.Add("Blob", dao::kBinary, Bytes{1, 2, 3});
         },
         {"Name"},
         false},
        {"case of a skip entry matters",
         [](Properties& a, Properties& b) {
             a.Add("Owner", dao::kText, "x");
             b.Add("Owner", dao::kText, "y");
         },
         {"Name", "owner"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        auto& one = server_.Create("one");
        auto& two = server_.Create("two");
        one.root->properties.Add("Name", dao::kText, "one");
        two.root->properties.Add("Name", dao::kText, "two");
        c.build(one.root->properties, two.root->properties);
        SkipForTag("Databases", c.skip);
        host_.messages.clear();
        ASSERT_EQ(Run(), RunOutcome::Done);
        EXPECT_EQ(same_, c.same);
        EXPECT_TRUE(host_.messages.empty());
        tree_.Clear();
    }
}

TEST_F(RunTest, StrictAndDataListsFollowTheSwitches) {
    SkipForTag("Databases", {"Name"});
    WriteStoredList(settings_, "Strict", {"Version"});
    two_->root->properties = Properties();
    two_->root->properties.Add("Name", dao::kText, "two");
    two_->root->properties.Add("Version", dao::kText, "3.0");
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(same_) << "Version is on the Strict list and Strict is off";
    inputs_.switches.strict = true;
    tree_.Clear();
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_FALSE(same_) << "with Strict on, Version is compared";
}

TEST_F(RunTest, SecondDatabaseFailingToOpenShowsOneMessageAndClosesTheFirst) {
    two_->openFailure = DbError(3024, "Could not find file 'two'.", "DAO.Workspace");
    ASSERT_EQ(Run(), RunOutcome::Stopped);
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text,
              "Unable to open database 'two'\r\nDescription: Could not find file 'two'.\r\n"
              "Number: 3024\r\nSource: DAO.Workspace");
    EXPECT_EQ(host_.messages[0].caption, "Kesmark");
    EXPECT_EQ(host_.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(one_->opens, 1);
    EXPECT_EQ(one_->closes, 1);
    EXPECT_TRUE(tree_.Nodes().empty());
    EXPECT_EQ(host_.statuses.back(), "");
}

TEST_F(RunTest, TableWalkMarksOnlyTheDifferingPathAndItsOwners) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    one_->AddTable("Customers", {"ID", "Name"});
    two_->AddTable("Customers", {"ID", "Name"});
    one_->AddTable("Orders", {"ID", "Total", "Note"});
    two_->AddTable("Orders", {"ID", "Total"});
    two_->AddTable("Shippers", {"ID"});
    ASSERT_EQ(Run(), RunOutcome::Done);
    const std::map<std::string, int> expected = {
        {"Databases", 12},
        {"TableDefs[Customers]", 1},
        {"TableDefs[Orders]", 2},
        {"TableDefs[Shippers]", 2},
        {"TableDefs[Customers].Fields[ID]", 3},
        {"TableDefs[Customers].Fields[Name]", 3},
        {"TableDefs[Orders].Fields[ID]", 3},
        {"TableDefs[Orders].Fields[Note]", 4},
        {"TableDefs[Orders].Fields[Total]", 3},
    };
    EXPECT_EQ(Images(), expected);
    // Siblings first, then children in name order.
    EXPECT_EQ(Keys()[1], "TableDefs[Customers]");
    EXPECT_EQ(Keys()[4], "TableDefs[Customers].Fields[ID]");
    EXPECT_EQ(tree_.Find("TableDefs[Shippers]")->parent, "Databases");
    EXPECT_EQ(host_.progress, (std::vector<int>{0, 10, 50, 90, 90, 100}));
}

TEST_F(RunTest, NamesDifferingInCaseAreTwoNodes) {
    CompareEverything();
    one_->AddTable("Orders", {"ID"});
    two_->AddTable("ORDERS", {"ID"});
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(Images().at("TableDefs[Orders]"), 2);
    EXPECT_EQ(Images().at("TableDefs[ORDERS]"), 2);
    EXPECT_TRUE(host_.messages.empty());
}

TEST_F(RunTest, UnreadableIndexesInDatabaseOneAreNotCompared) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    auto& t1 = one_->AddTable("Orders", {"ID"});
    auto& t2 = two_->AddTable("Orders", {"ID"});
    t1.Collection("Indexes").failure = DbError(3800, "cannot read", "test");
    t2.Collection("Indexes").Add("PK").properties.Add("Name", dao::kText, "PK");
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(same_);
    EXPECT_FALSE(tree_.Find("TableDefs[Orders].Indexes[PK]").has_value());
    EXPECT_TRUE(host_.messages.empty());
}

TEST_F(RunTest, RelationsReopenDatabaseTwoForEachCommonRelation) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    for (auto* db : {one_, two_}) {
        auto& relations = db->root->Collection("Relations");
        for (auto name : {"R1", "R2"}) {
            auto& r = relations.Add(name);
            r.properties.Add("Name", dao::kText, name);
            r.Collection("Fields").Add("ID").properties.Add("Name", dao::kText, "ID");
        }
    }
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(one_->opens, 1);
    EXPECT_EQ(two_->opens, 3);
    EXPECT_EQ(two_->closes, 3);
    EXPECT_EQ(Images().at("Relations[R2].Fields[ID]"), 3);
}

TEST_F(RunTest, ParameterOnlyInDatabaseOneMarksTheQuery) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    for (auto* db : {one_, two_}) {
        auto& q = db->root->Collection("QueryDefs").Add("Recent");
        q.properties.Add("SQL", dao::kMemo, "SELECT 1");
        q.Collection("Fields");
        auto& params = q.Collection("Parameters");
        if (db == one_) {
            params.Add("[Start Date]").properties.Add("Type", dao::kInteger, dao::kDate);
        }
    }
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(Images().at("QueryDefs[Recent].Parameters[[[Start Date]]]"), 18);
    EXPECT_EQ(Images().at("QueryDefs[Recent]"), 10);
    EXPECT_EQ(Images().at("Databases"), 12);
}

TEST_F(RunTest, CompareFlagsOffWalkNothingOfThatTag) {
    CompareEverything();
    settings_.WriteIniString("Indexes", "Compare", "0");
    SkipForTag("Databases", {"Name"});
    auto& t1 = one_->AddTable("Orders", {"ID"});
    two_->AddTable("Orders", {"ID"});
    t1.Collection("Indexes").Add("PK");
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(same_);
    EXPECT_FALSE(tree_.Find("TableDefs[Orders].Indexes[PK]").has_value());
}

TEST_F(RunTest, CancelStopsAtTheNextOperationBoundaryAndKeepsNodes) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    for (int i = 0; i < 5; ++i) {
        one_->AddTable("T" + std::to_string(i), {"A", "B"});
        two_->AddTable("T" + std::to_string(i), {"A", "B"});
    }
    host_.onYield = [](test::RecordingHost& h) {
        if (!h.statuses.empty() && h.statuses.back() == "Comparing fields of table T1") {
            h.cancel = true;
        }
    };
    ASSERT_EQ(Run(), RunOutcome::Stopped);
    EXPECT_TRUE(host_.messages.empty()) << "a cancel is no error";
    EXPECT_TRUE(tree_.Find("TableDefs[T4]").has_value());
    EXPECT_TRUE(tree_.Find("TableDefs[T0].Fields[A]").has_value());
    EXPECT_FALSE(tree_.Find("TableDefs[T1].Fields[A]").has_value());
    EXPECT_EQ(host_.statuses.back(), "");
}

TEST_F(RunTest, AFailureInsideAWalkIsReportedOnceAndStopsTheRun) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    auto& t1 = one_->AddTable("Orders", {"ID"});
    two_->AddTable("Orders", {"ID"});
    t1.Collection("Fields").failure = DbError(3001, "Fields cannot be read", "Kesmark memory");
    ASSERT_EQ(Run(), RunOutcome::Stopped);
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text, "Fields cannot be read");
    EXPECT_EQ(host_.messages[0].caption, "Kesmark memory");
}

// Tables whose fields and indexes fill themselves when read, counting the
// fillings and keeping a weak reference to every field they make.
struct FillingCounts {
    std::map<std::string, int> fields;  // "<database>/<table>" -> fillings
    std::map<std::string, int> indexes;
    std::vector<std::weak_ptr<ObjectNode>> made;
    int mostAliveWhileFilling = 0;

    int Alive() const {
        int alive = 0;
        for (const auto& weak : made) {
            alive += weak.expired() ? 0 : 1;
        }
        return alive;
    }
};

void AddFillingTable(MemoryDatabaseState& db, const std::string& database, const std::string& name,
                     FillingCounts& counts, std::optional<DbError> indexFailure = {}) {
    auto& table = db.root->Collection("TableDefs").Add(name);
    table.properties.Add("Name", dao::kText, name);
    const std::string id = database + "/" + name;
    table.Collection("Fields").loader = [&counts, id](CollectionNode& fields) {
        ++counts.fields[id];
        counts.mostAliveWhileFilling = std::max(counts.mostAliveWhileFilling, counts.Alive());
        for (const char* field : {"ID", "Name"}) {
            fields.Add(field).properties.Add("Name", dao::kText, field);
            counts.made.push_back(fields.members.back());
        }
    };
    table.Collection("Indexes").loader = [&counts, id, indexFailure](CollectionNode& indexes) {
        ++counts.indexes[id];
        if (indexFailure) {
            throw *indexFailure;
        }
        auto& index = indexes.Add("PK");
        index.properties.Add("Name", dao::kText, "PK");
        index.Collection("Fields");
    };
}

TEST_F(RunTest, TheRunHoldsOneTableAtATimeAndReadsEachCollectionOnce) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    FillingCounts counts;
    for (int t = 0; t < 20; ++t) {
        AddFillingTable(*one_, "one", "T" + std::to_string(t), counts);
        AddFillingTable(*two_, "two", "T" + std::to_string(t), counts);
    }
    ASSERT_EQ(Run(), RunOutcome::Done) << (host_.messages.empty() ? "" : host_.messages[0].text);
    EXPECT_TRUE(same_);
    ASSERT_EQ(counts.fields.size(), 40u);
    for (const auto& [table, fillings] : counts.fields) {
        EXPECT_EQ(fillings, 1) << table << ": fields read more than once";
        EXPECT_EQ(counts.indexes[table], 1) << table << ": indexes read more than once";
    }
    // While a table is read, at most the fields of the same table in the
    // other database are held.
    EXPECT_LE(counts.mostAliveWhileFilling, 2);
    EXPECT_EQ(counts.Alive(), 0) << "fields stayed after the run";
}

TEST_F(RunTest, ACollectionThatFailsToFillFailsOnceWithItsMessage) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    const DbError failure(3049, "The indexes of T1 are damaged", "Kesmark memory");
    struct Case {
        const char* scenario;
        bool inDatabase1;
        RunOutcome outcome;
        std::size_t messages;
    };
    const Case cases[] = {
        // Database 1's indexes are probed first; a table whose indexes
        // cannot be read there has no index nodes, and no error.
        {"in database 1", true, RunOutcome::Done, 0},
        {"in database 2", false, RunOutcome::Stopped, 1},
    };
    for (const auto& c : cases) {
        MemoryServer server;
        auto& one = server.Create("one");
        auto& two = server.Create("two");
        FillingCounts counts;
        for (int t = 0; t < 3; ++t) {
            const std::string name = "T" + std::to_string(t);
            const bool fails = t == 1;
            AddFillingTable(one, "one", name, counts,
                            fails && c.inDatabase1 ? std::optional(failure) : std::nullopt);
            AddFillingTable(two, "two", name, counts,
                            fails && !c.inDatabase1 ? std::optional(failure) : std::nullopt);
        }
        test::RecordingHost host;
        MemoryResultTree tree;
        ComparisonRun run(inputs_, options_, tree, host, server.Opener());
        EXPECT_EQ(run.RunComparison(), c.outcome) << c.scenario;
        ASSERT_EQ(host.messages.size(), c.messages) << c.scenario;
        if (c.messages > 0) {
            EXPECT_EQ(host.messages[0].text, "The indexes of T1 are damaged");
            EXPECT_EQ(host.messages[0].caption, "Kesmark memory");
        }
        EXPECT_EQ(counts.indexes[c.inDatabase1 ? "one/T1" : "two/T1"], 1)
            << c.scenario << ": the failing collection was filled again";
        EXPECT_FALSE(tree.Find("TableDefs[T1].Indexes[PK]").has_value()) << c.scenario;
    }
}

TEST_F(RunTest, CollectionsOfMoreThan32767MembersCompare) {
    CompareEverything();
    settings_.WriteIniString("TableFields", "Compare", "0");
    settings_.WriteIniString("Indexes", "Compare", "0");
    SkipForTag("Databases", {"Name"});
    for (auto* db : {one_, two_}) {
        auto& tables = db->root->Collection("TableDefs");
        for (int i = 0; i < 33000; ++i) {
            tables.Add("T" + std::to_string(i));
        }
    }
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(same_);
    EXPECT_EQ(tree_.Nodes().size(), 33001u);
}

TEST_F(RunTest, DataComparisonMarksTheFirstDifferingRecord) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    inputs_.switches.data = true;
    one_->AddTable("T", {"A", "B"});
    two_->AddTable("T", {"A", "B"});
    one_->data["T"].rows = {{Value(1), Value("x")}, {Value(2), Value("y")}, {Value(3), Value()}};
    two_->data["T"].rows = {{Value(1), Value("x")}, {Value(2), Value("Y")}, {Value(4), Value("")}};
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(Images().at("TableDefs[T].Fields[A].Records[3]"), 2);
    EXPECT_EQ(tree_.Find("TableDefs[T].Fields[A].Records[3]")->text, "Record 3");
    EXPECT_EQ(Images().at("TableDefs[T].Fields[B].Records[2]"), 2);
    EXPECT_EQ(Images().at("TableDefs[T].Fields[A]"), 4);
    EXPECT_EQ(Images().at("TableDefs[T]"), 2);
}

TEST_F(RunTest, DifferentRecordCountsMarkTheTableWithoutRecordNodes) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    inputs_.switches.data = true;
    one_->AddTable("T", {"A"});
    two_->AddTable("T", {"A"});
    one_->data["T"].rows = {{Value(1)}};
    two_->data["T"].rows = {{Value(1)}, {Value(2)}};
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(Images().at("TableDefs[T]"), 2);
    EXPECT_EQ(Images().at("TableDefs[T].Fields[A]"), 3);
    EXPECT_EQ(tree_.Nodes().size(), 3u);
}

}  // namespace
}  // namespace kesmark
