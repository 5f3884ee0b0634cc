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

TEST_F(RunTest, EveryDifferingPropertyIsRecordedNotOnlyTheFirst) {
    SkipForTag("Databases", {"Name"});
    auto& p1 = one_->root->properties;
    auto& p2 = two_->root->properties;
    p1.Add("Alpha", dao::kLong, 1);
    p2.Add("Alpha", dao::kLong, 2);
    p1.Add(Property::Failing("Broken", dao::kText, DbError(1, "cannot read", "test")));
    p2.Add("Broken", dao::kText, "x");
    p1.Add("Gone", dao::kText, "old");
    p2.Add("New", dao::kLong, 7);
    p1.Add("Same", dao::kText, "s");
    p2.Add("Same", dao::kText, "s");
    p1.Add("SQL", dao::kMemo, "SELECT a\nFROM t\nWHERE a > 1");
    p2.Add("SQL", dao::kMemo, "SELECT a\nFROM t\nWHERE a > 2");
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_FALSE(same_);
    EXPECT_EQ(Images().at("Databases"), 12);
    const std::vector<PropertyDifference> expected = {
        {"Alpha", "1", "2", "", false},
        {"Broken", "Error: cannot read", "Error: cannot read", "value cannot be read", false},
        {"Gone", "old", std::nullopt, "", false},
        {"New", std::nullopt, "7", "", false},
        {"SQL", "…WHERE a > 1", "…WHERE a > 2", "text differs at line 3", true},
    };
    EXPECT_EQ(tree_.Find("Databases")->differences, expected);
}

TEST_F(RunTest, ObjectsInOneDatabaseCarryTheirSide) {
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    one_->AddTable("Orders", {"ID", "Note"});
    two_->AddTable("Orders", {"ID"});
    two_->AddTable("Shippers", {"ID"});
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(tree_.Find("TableDefs[Orders]")->presence, Presence::Both);
    EXPECT_EQ(tree_.Find("TableDefs[Orders].Fields[ID]")->presence, Presence::Both);
    EXPECT_EQ(tree_.Find("TableDefs[Orders].Fields[Note]")->presence, Presence::Only1);
    EXPECT_EQ(tree_.Find("TableDefs[Shippers]")->presence, Presence::Only2);
    EXPECT_TRUE(tree_.Find("TableDefs[Orders]")->differences.empty())
        << "Orders differs through its field only";
}

// A filter leaves an object out of matching: no node, no difference, and none
// of its collections is ever read (reading them here fails the run).
TEST_F(RunTest, FilteredObjectsAreNeitherComparedNorVisited) {
    struct Case {
        const char* scenario;
        FilterPatterns settings;
        FilterPatterns commandLine;
        std::vector<std::string> keys;
        std::int64_t filteredOut;
        bool same;
    };
    const Case cases[] = {
        {"exclude from the command line",
         {},
         {{}, {"TableDefs[Broken*]"}},
         {"Databases", "TableDefs[Orders]", "TableDefs[Shippers]", "TableDefs[Orders].Fields[ID]"},
         1,
         false},
        {"exclude from the settings",
         {{}, {"TableDefs[Broken]"}},
         {},
         {"Databases", "TableDefs[Orders]", "TableDefs[Shippers]", "TableDefs[Orders].Fields[ID]"},
         1,
         false},
        {"include one table",
         {},
         {{"TableDefs[Orders]"}, {}},
         {"Databases", "TableDefs[Orders]", "TableDefs[Orders].Fields[ID]"},
         2,
         true},
        {"include and exclude",
         {{"TableDefs[*]"}, {}},
         {{}, {"TableDefs[Broken]", "TableDefs[Orders].Fields[I?]"}},
         {"Databases", "TableDefs[Orders]", "TableDefs[Shippers]"},
         2,
         false},
    };
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    for (auto* db : {one_, two_}) {
        db->AddTable("Orders", {"ID"});
        auto& broken = db->AddTable("Broken", {"ID"});
        broken.Collection("Fields").failure = DbError(3800, "must not be read", "test");
        broken.Collection("Indexes").failure = DbError(3800, "must not be read", "test");
    }
    two_->AddTable("Shippers", {"ID"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        settings_.WriteIniString("Filter", "NumInclude", std::to_string(c.settings.include.size()));
        for (std::size_t i = 0; i < c.settings.include.size(); ++i) {
            settings_.WriteIniString("Filter", "Include" + std::to_string(i + 1),
                                     c.settings.include[i]);
        }
        settings_.WriteIniString("Filter", "NumExclude", std::to_string(c.settings.exclude.size()));
        for (std::size_t i = 0; i < c.settings.exclude.size(); ++i) {
            settings_.WriteIniString("Filter", "Exclude" + std::to_string(i + 1),
                                     c.settings.exclude[i]);
        }
        inputs_.filters = c.commandLine;
        tree_.Clear();
        host_.messages.clear();
        ASSERT_EQ(Run(), RunOutcome::Done);
        EXPECT_TRUE(host_.messages.empty());
        EXPECT_EQ(Keys(), c.keys);
        EXPECT_EQ(tree_.FilteredOut(), c.filteredOut);
        EXPECT_EQ(same_, c.same);
    }
}

TEST_F(RunTest, AFilterPatternThatIsNoKeyStopsTheRunBeforeOpening) {
    inputs_.filters.exclude = {"Orders"};
    ASSERT_EQ(Run(), RunOutcome::Stopped);
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text,
              "Filter pattern 'Orders' is not a node key such as TableDefs[tmp_*] (write names in "
              "brackets, doubling a bracket inside a name)");
    EXPECT_EQ(one_->opens, 0);
    EXPECT_TRUE(tree_.Nodes().empty());
}

}  // namespace
}  // namespace kesmark
