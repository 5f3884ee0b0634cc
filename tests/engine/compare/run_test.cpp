// The comparison run, matching, property comparison and the walks, on the
// in-memory backend.

#include <gtest/gtest.h>

#include <map>

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
        inputs_ = RunInputs{"one", "", "two", "", {}, {}};
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
    EXPECT_EQ(tree_.Find("TableDefs[Orders].Indexes[PK]"), nullptr);
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
    EXPECT_EQ(tree_.Find("TableDefs[Orders].Indexes[PK]"), nullptr);
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
    EXPECT_NE(tree_.Find("TableDefs[T4]"), nullptr);
    EXPECT_NE(tree_.Find("TableDefs[T0].Fields[A]"), nullptr);
    EXPECT_EQ(tree_.Find("TableDefs[T1].Fields[A]"), nullptr);
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
