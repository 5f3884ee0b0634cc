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

// A stopped run leaves no node looking compared that was not: what was
// finished keeps its picture, what was not gets "not compared" (28), or
// "differs" when a difference was found before the stop, and the root reads
// "incomplete" (30).
TEST(StoppedRun, MarksWhatItDidNotFinish) {
    // Each database holds the tables T0, T1 and T2 with the fields A and B;
    // the case adds its own twist.
    struct Setup {
        MemoryDatabaseState& one;
        MemoryDatabaseState& two;
        std::vector<ObjectNode*> tables1;
        std::vector<ObjectNode*> tables2;
        test::RecordingHost& host;
    };
    struct Case {
        const char* scenario;
        std::function<void(Setup&)> arrange;
        std::map<std::string, int> images;
        std::string failure;
    };
    auto cancelWhenStatus = [](std::string status) {
        return [status](test::RecordingHost& h) {
            if (!h.statuses.empty() && h.statuses.back() == status) {
                h.cancel = true;
            }
        };
    };
    const DbError unreadable(3001, "cannot be read", "Kesmark memory");
    const std::map<std::string, int> firstTableDone = {
        {"TableDefs[T0]", 1}, {"TableDefs[T0].Fields[A]", 3}, {"TableDefs[T0].Fields[B]", 3}};
    auto with = [&](std::map<std::string, int> more) {
        more.insert(firstTableDone.begin(), firstTableDone.end());
        return more;
    };
    const Case cases[] = {
        {"cancelled in the fields of the second table",
         [&](Setup& s) { s.host.onYield = cancelWhenStatus("Comparing fields of table T1"); },
         with({{"Databases", 30}, {"TableDefs[T1]", 28}, {"TableDefs[T2]", 28}}), ""},
        {"cancelled in the queries: the finished tables keep their pictures",
         [&](Setup& s) {
             s.two.root->Collection("TableDefs").Add("Extra");
             for (auto* db : {&s.one, &s.two}) {
                 db->root->Collection("QueryDefs")
                     .Add("Q")
                     .properties.Add("SQL", dao::kMemo, "SELECT 1");
             }
             s.host.onYield = cancelWhenStatus("Comparing queries");
         },
         with({{"Databases", 30},
               {"TableDefs[Extra]", 2},
               {"TableDefs[T1]", 1},
               {"TableDefs[T1].Fields[A]", 3},
               {"TableDefs[T1].Fields[B]", 3},
               {"TableDefs[T2]", 1},
               {"TableDefs[T2].Fields[A]", 3},
               {"TableDefs[T2].Fields[B]", 3}}),
         ""},
        {"a failure in the first table leaves it and the rest not compared",
         [&](Setup& s) { s.tables1[0]->Collection("Fields").failure = unreadable; },
         {{"Databases", 30}, {"TableDefs[T0]", 28}, {"TableDefs[T1]", 28}, {"TableDefs[T2]", 28}},
         "'one': reading the Fields of TableDefs[T0]: cannot be read"},
        {"a difference found before the stop keeps the object differing",
         [&](Setup& s) {
             s.tables1[1]->Collection("Fields").members[0]->properties.Add("Size", dao::kLong, 10);
             s.tables2[1]->Collection("Fields").members[0]->properties.Add("Size", dao::kLong, 20);
             s.tables2[1]->Collection("Indexes").failure = unreadable;
         },
         with({{"Databases", 30},
               {"TableDefs[T1]", 2},
               {"TableDefs[T1].Fields[A]", 4},
               {"TableDefs[T1].Fields[B]", 3},
               {"TableDefs[T2]", 28}}),
         "'two': reading the Indexes of TableDefs[T1]: cannot be read"},
        {"cancelled before the root existed: the root is added incomplete",
         [&](Setup& s) { s.host.onYield = [](test::RecordingHost& h) { h.cancel = true; }; },
         {{"Databases", 30}},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::TempDir dir;
        IniFile settings(dir / "Kesmark.ini");
        for (auto tag : kCollectionTags) {
            settings.WriteIniString(tag, "Compare", "1");
        }
        IniComparisonOptions options(settings);
        MemoryServer server;
        test::RecordingHost host;
        Setup setup{server.Create("one"), server.Create("two"), {}, {}, host};
        for (const std::string name : {"T0", "T1", "T2"}) {
            setup.tables1.push_back(&setup.one.AddTable(name, {"A", "B"}));
            setup.tables2.push_back(&setup.two.AddTable(name, {"A", "B"}));
        }
        c.arrange(setup);
        MemoryResultTree tree;
        ComparisonRun run(RunInputs{"one", "", "two", "", {}}, options, tree, host,
                          server.Opener());
        ASSERT_EQ(run.RunComparison(), RunOutcome::Stopped);
        std::map<std::string, int> images;
        for (const auto& n : tree.Nodes()) {
            images[n.key] = PictureNumber(n.image);
        }
        EXPECT_EQ(images, c.images);
        EXPECT_EQ(run.Failure(), c.failure);
        EXPECT_EQ(StateOf(tree.Find("Databases")->image), NodeState::NotCompared);
        EXPECT_EQ(host.statuses.back(), "");
    }
}

TEST_F(RunTest, AnOpenFailureAddsNoNodeAndNamesTheDatabase) {
    inputs_.database2 = "missing";
    ComparisonRun run(inputs_, options_, tree_, host_, server_.Opener());
    ASSERT_EQ(run.RunComparison(), RunOutcome::Stopped);
    EXPECT_TRUE(tree_.Nodes().empty());
    EXPECT_EQ(run.Failure(), "Unable to open database 'missing'");
}

TEST_F(RunTest, ObjectsOfOneDatabaseOnlyAreMarkedWithTheirSide) {
    CompareEverything();
    one_->AddTable("Both", {"ID"});
    two_->AddTable("Both", {"ID", "New"});
    one_->AddTable("Old", {"ID"});
    two_->AddTable("Shipments", {"ID"});
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(tree_.Find("TableDefs[Both]")->presence, Presence::Both);
    EXPECT_EQ(tree_.Find("TableDefs[Old]")->presence, Presence::Only1);
    EXPECT_EQ(tree_.Find("TableDefs[Shipments]")->presence, Presence::Only2);
    EXPECT_EQ(tree_.Find("TableDefs[Both].Fields[New]")->presence, Presence::Only2);
    EXPECT_EQ(tree_.Find("TableDefs[Both].Fields[ID]")->presence, Presence::Both);
}

TEST_F(RunTest, AFailureInsideAWalkIsReportedOnceNamingItsDatabase) {
    struct Case {
        const char* scenario;
        std::function<void(ObjectNode& orders1, ObjectNode& orders2)> breakIt;
        const char* message;
        bool data = false;  // with --data: the row count is read first
    };
    const DbError failure(3001, "cannot be read", "Kesmark memory");
    const Case cases[] = {
        {"the fields of a table in database 1",
         [&](ObjectNode& orders, ObjectNode&) { orders.Collection("Fields").failure = failure; },
         "'one': reading the Fields of TableDefs[Orders]: cannot be read"},
        {"the properties of a table in database 2",
         [&](ObjectNode&, ObjectNode& orders) { orders.propertiesFailure = failure; },
         "'two': reading the properties of TableDefs[Orders]: cannot be read"},
        {"the row count of a table in database 2",
         [&](ObjectNode&, ObjectNode& orders) {
             orders.properties = Properties();
             orders.properties.Add(Property::Failing("RecordCount", dao::kLong, failure));
         },
         "'two': counting the rows of TableDefs[Orders]: cannot be read", true},
    };
    CompareEverything();
    SkipForTag("Databases", {"Name"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        inputs_.switches.data = c.data;
        MemoryServer server;
        auto& one = server.Create("one");
        auto& two = server.Create("two");
        c.breakIt(one.AddTable("Orders", {"ID"}), two.AddTable("Orders", {"ID"}));
        test::RecordingHost host;
        MemoryResultTree tree;
        ComparisonRun run(inputs_, options_, tree, host, server.Opener());
        ASSERT_EQ(run.RunComparison(), RunOutcome::Stopped);
        ASSERT_EQ(host.messages.size(), 1u);
        EXPECT_EQ(host.messages[0].text, c.message);
        EXPECT_EQ(host.messages[0].caption, "Kesmark memory");
    }
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
            EXPECT_EQ(host.messages[0].text,
                      "'two': reading the Indexes of TableDefs[T1]: The indexes of T1 are damaged");
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

TEST_F(RunTest, RecordsMissingAgainstTheCountedRowsDiffer) {
    struct Case {
        const char* scenario;
        std::size_t rows1;
        std::size_t rows2;
        std::int64_t counted;    // the RecordCount both databases give
        const char* recordNode;  // nullptr: none
    };
    const Case cases[] = {
        {"database 2 yields one row fewer than both count", 3, 2, 3,
         "TableDefs[T].Fields[A].Records[3]"},
        {"database 1 yields one row fewer than both count", 2, 3, 3,
         "TableDefs[T].Fields[A].Records[3]"},
        {"both yield fewer rows than they count", 2, 2, 3, "TableDefs[T].Fields[A].Records[3]"},
        {"both yield the rows they count", 3, 3, 3, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        MemoryServer server;
        inputs_.switches.data = true;
        CompareEverything();
        SkipForTag("Databases", {"Name"});
        for (auto [name, rows] : {std::pair{"one", c.rows1}, std::pair{"two", c.rows2}}) {
            auto& db = server.Create(name);
            auto& table = db.AddTable("T", {"A"});
            table.properties = Properties();
            table.properties.Add("Name", dao::kText, "T");
            table.properties.Add("RecordCount", dao::kLong, Value(c.counted));
            for (std::size_t r = 0; r < rows; ++r) {
                db.data["T"].rows.push_back({Value(static_cast<std::int64_t>(r))});
            }
        }
        MemoryResultTree tree;
        ComparisonRun run(inputs_, options_, tree, host_, server.Opener());
        ASSERT_EQ(run.RunComparison(), RunOutcome::Done);
        if (c.recordNode) {
            ASSERT_TRUE(tree.Find(c.recordNode).has_value());
            EXPECT_EQ(PictureNumber(tree.Find(c.recordNode)->image), 2);
            EXPECT_EQ(PictureNumber(tree.Find("TableDefs[T]")->image), 2);
            EXPECT_FALSE(run.Same());
        } else {
            EXPECT_TRUE(run.Same());
            EXPECT_EQ(tree.Nodes().size(), 3u);
        }
    }
}

// Two tables with key K: row 1 the same, row 2 changed in B, row 3 only in
// database 1, row 4 only in database 2, stored in another order on each side.
class KeyedRunTest : public RunTest {
  protected:
    KeyedRunTest() {
        CompareEverything();
        SkipForTag("Databases", {"Name"});
        inputs_.switches.data = true;
        for (auto* db : {one_, two_}) {
            db->AddTable("T", {"K", "B"});
            db->AddKey("T", "PrimaryKey", {"K"}, true);
        }
        one_->data["T"].rows = {
            {Value(3), Value("c")}, {Value(1), Value("a")}, {Value(2), Value("b")}};
        two_->data["T"].rows = {
            {Value(4.0), Value("d")}, {Value(2), Value("B")}, {Value(Decimal{"1"}), Value("a")}};
    }
    std::vector<std::string> RowKeys() const {
        std::vector<std::string> keys;
        for (const auto& n : tree_.Nodes()) {
            if (n.key.find(".Rows[") != std::string::npos) {
                keys.push_back(n.key + " " + n.text + " " + std::to_string(PictureNumber(n.image)));
            }
        }
        return keys;
    }
};

TEST_F(KeyedRunTest, RowsOnOneSideOrChangedBecomeNodesUnderTheTable) {
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_FALSE(same_);
    // Integer 1 and decimal 1, integer 4 and real 4.0: keys by value.
    EXPECT_EQ(RowKeys(), (std::vector<std::string>{"TableDefs[T].Rows[2] Row 2 26",
                                                   "TableDefs[T].Rows[3] Row 3 22",
                                                   "TableDefs[T].Rows[4] Row 4 24"}));
    // The changed row is the second of database 1 in key order.
    EXPECT_EQ(Images().at("TableDefs[T].Fields[B].Records[2]"), 2);
    EXPECT_EQ(Images().at("TableDefs[T].Fields[B]"), 4);
    EXPECT_EQ(Images().at("TableDefs[T].Fields[K]"), 3);
    EXPECT_EQ(Images().at("TableDefs[T]"), 2);
    EXPECT_TRUE(host_.messages.empty());
}

TEST_F(KeyedRunTest, MaxRowsCapsTheRowNodesAndZeroShowsNone) {
    settings_.WriteIniString("Data", "MaxRows", "2");
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_EQ(RowKeys(), (std::vector<std::string>{"TableDefs[T].Rows[2] Row 2 26",
                                                   "TableDefs[T].Rows[3] Row 3 22"}));
    tree_.Clear();
    settings_.WriteIniString("Data", "MaxRows", "0");
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(RowKeys().empty());
    EXPECT_EQ(Images().at("TableDefs[T]"), 2) << "the rows still differ";
}

TEST_F(KeyedRunTest, PositionGivesTheRecordNodesAloneInKeyOrder) {
    settings_.WriteIniString("Data", "MatchRecords", "Position");
    two_->data["T"].rows.pop_back();
    one_->data["T"].rows.pop_back();
    // Database 1 holds keys 3 and 1, database 2 keys 4 and 2: in key order
    // (1, 3) against (2, 4) both fields differ from the first record on.
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(RowKeys().empty());
    EXPECT_EQ(Images().at("TableDefs[T].Fields[K].Records[1]"), 2);
    EXPECT_EQ(Images().at("TableDefs[T].Fields[B].Records[1]"), 2);
}

TEST_F(KeyedRunTest, AnEngineThatOrdersOtherwiseFallsBackToPositionAndSaysSo) {
    two_->ignoresKeyOrder = true;
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(RowKeys().empty()) << "no row is matched by a key read out of order";
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text,
              "The rows of table 'T' in database 2 cannot be matched by its key (K): the "
              "database gives the key 2 after 4, which does not follow the key order. Its "
              "records are matched by position.");
    EXPECT_EQ(host_.messages[0].icon, MessageIcon::Exclamation);
    // By position: database 1 in key order (1, 2, 3) against database 2 as
    // stored (4, 2, 1).
    EXPECT_EQ(Images().at("TableDefs[T].Fields[K].Records[1]"), 2);
    EXPECT_EQ(Images().at("TableDefs[T].Fields[B].Records[1]"), 2);
    EXPECT_EQ(Images().at("TableDefs[T]"), 2);
}

TEST_F(KeyedRunTest, RowsLostAgainstTheCountBothGiveNeverReadAsTheSame) {
    for (auto* db : {one_, two_}) {
        db->data["T"].rows = {{Value(1), Value("a")}, {Value(2), Value("b")}};
        auto& table = *db->root->Collection("TableDefs").members[0];
        table.properties = Properties();
        table.properties.Add("Name", dao::kText, "T");
        table.properties.Add("RecordCount", dao::kLong, Value(3));
    }
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_FALSE(same_);
    EXPECT_TRUE(RowKeys().empty()) << "no key names a lost row";
    EXPECT_EQ(Images().at("TableDefs[T].Fields[K].Records[3]"), 2);
    EXPECT_EQ(Images().at("TableDefs[T].Fields[B].Records[3]"), 2);
    EXPECT_EQ(Images().at("TableDefs[T]"), 2);
}

TEST_F(KeyedRunTest, TablesWithoutACommonKeyAreMatchedByPosition) {
    // The same rows in another order: by position they differ.
    one_->data["T"].rows = {{Value(1), Value("a")}, {Value(2), Value("b")}};
    two_->data["T"].rows = {{Value(2), Value("b")}, {Value(1), Value("a")}};
    auto& indexes = two_->root->Collection("TableDefs").members[0]->Collection("Indexes");
    indexes.members.clear();
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(RowKeys().empty());
    EXPECT_EQ(Images().at("TableDefs[T].Fields[K].Records[1]"), 2);
}

}  // namespace
}  // namespace kesmark
