// The result view. On the in-memory backend, what a SQLite file cannot
// produce: query parameters, unreadable values, property names of our
// choosing. On real SQLite files: its skip list kept apart from a comparison
// run's, and its failure handling as the desktop program sees it.

#include <gtest/gtest.h>

#include "engine/compare/comparison_run.h"
#include "engine/open_database.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"
#include "tests/support/memory_backend.h"
#include "tests/support/test_support.h"
#include "view/result_view.h"

namespace kesmark {
namespace {

using Row = MemoryPropertyList::Row;

Row Equal(std::string name, std::string text1, std::string text2) {
    return Row{
        std::move(name), std::move(text1), std::move(text2), Picture::PropertySame, 0, {}, {}};
}
Row Differs(std::string name, std::string text1, std::string text2) {
    return Row{
        std::move(name), std::move(text1), std::move(text2), Picture::PropertyDiffers, 255, {}, {}};
}
Row Skipped(std::string name) {
    return Row{std::move(name), "skipped", "skipped", Picture::PropertySkipped, 0, {}, {}};
}

// The rows as the list shows them, without the values behind the cells.
std::vector<Row> Shown(std::vector<Row> rows) {
    for (auto& row : rows) {
        row.value1.reset();
        row.value2.reset();
    }
    return rows;
}

// Objects and values a SQLite file cannot have: query parameters, property
// names of our choosing, values that cannot be read.
class ViewTest : public ::testing::Test {
  protected:
    ViewTest() : settings_(dir_ / "Kesmark.ini") {
        one_ = &server_.Create("one");
        two_ = &server_.Create("two");
        for (auto* db : {one_, two_}) {
            db->root->properties.Add("Name", dao::kText, db == one_ ? "one" : "two");
            auto& query = db->root->Collection("QueryDefs").Add("Q");
            for (const std::string name : {"[Start Date]", "a]b"}) {
                query.Collection("Parameters").Add(name).properties.Add("Name", dao::kText, name);
            }
        }
    }

    bool Show(const std::string& key) {
        ResultView view(inputs_, options_, host_, list_, server_.Opener());
        return view.ShowNodeProperties(key);
    }

    // The row of that name, or an empty row.
    Row RowNamed(const std::string& name) const {
        for (const auto& row : list_.Rows()) {
            if (row.name == name) {
                return row;
            }
        }
        return Row{};
    }

    test::TempDir dir_;
    IniFile settings_;
    IniComparisonOptions options_{settings_};
    MemoryServer server_;
    MemoryDatabaseState* one_;
    MemoryDatabaseState* two_;
    RunInputs inputs_{"one", "", "two", "", {}, {}};
    test::RecordingHost host_;
    MemoryPropertyList list_;
};

TEST_F(ViewTest, ParameterNameInBracketsResolvesAndNoOtherNameWithABracket) {
    EXPECT_TRUE(Show("QueryDefs[Q].Parameters[[Start Date]]"));
    EXPECT_EQ(Shown(list_.Rows()), std::vector<Row>{Equal("Name", "[Start Date]", "[Start Date]")});
    EXPECT_TRUE(host_.messages.empty());

    list_.Clear();
    EXPECT_FALSE(Show("QueryDefs[Q].Parameters[a]b]"));
    EXPECT_TRUE(list_.Rows().empty());
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text, "Item not found in this collection.");
}

TEST_F(ViewTest, ListingRulesSideBySide) {
    const DbError unreadable(7, "cannot read", "test");
    auto& p1 = one_->root->properties;
    auto& p2 = two_->root->properties;
    p1.Add("alpha", dao::kText, "a");
    p2.Add("alpha", dao::kText, "a");
    p1.Add("Zeta", dao::kText, "z");
    p2.Add("Zeta", dao::kText, "z");
    p1.Add(Property::Failing("Guarded", dao::kText, unreadable));
    p1.Add(Property::Failing("Broken", dao::kText, unreadable));
    p2.Add("Broken", dao::kText, "x");
    p2.Add(Property::Failing("Lost", dao::kText, unreadable));
    p1.Add("Description", dao::kText, Value());
    p2.Add("Description", dao::kText, "text");
    p1.Add("Empty", dao::kText, Value());
    p2.Add("Empty", dao::kText, Value());
    p1.Add("Blob", dao::kBinary, Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    p2.Add("Blob", dao::kBinary, Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 99});
    p2.Add("Note", dao::kText, Value());
    p1.Add("Mask", dao::kBinary, Bytes{1, 255, 16});
    p2.Add("Mask", dao::kBinary, Bytes{1, 255, 16});
    p2.Add("Picture", dao::kBinary, Bytes{65, 0, 66, 0});  // one-sided: plain (UTF-16) text
    p1.Add("Version", dao::kText, "4.0");
    p2.Add("Version", dao::kText, "3.0");
    WriteStoredList(settings_, "Databases", {"Name", "Guarded"});
    WriteStoredList(settings_, "Strict", {"Version"});

    ASSERT_TRUE(Show("Databases"));
    const std::vector<Row> expected = {
        Differs("Blob", "0 1 2 3 4 5 6 7 8 9 10 ...", "0 1 2 3 4 5 6 7 8 9 10 ..."),
        Differs("Broken", "Error: cannot read", "Error: cannot read"),
        Differs("Description", "Null", "text"),
        Equal("Empty", "Null", "Null"),
        Skipped("Guarded"),
        Differs("Lost", "not found", "Error: cannot read"),
        Equal("Mask", "1 255 16", "1 255 16"),
        Skipped("Name"),
        Differs("Note", "not found", "Null"),
        Differs("Picture", "not found", "AB"),
        Skipped("Version"),
        Equal("Zeta", "z", "z"),
        Equal("alpha", "a", "a"),
    };
    EXPECT_EQ(Shown(list_.Rows()), expected);
    EXPECT_TRUE(host_.messages.empty());

    // The values behind the cells: whole byte arrays, Null told from a text,
    // none where a cell shows no value.
    EXPECT_EQ(RowNamed("Blob").value2, Value(Bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 99}));
    EXPECT_TRUE(RowNamed("Description").IsNull1());
    EXPECT_FALSE(RowNamed("Description").IsNull2());
    EXPECT_EQ(RowNamed("Description").value2, Value("text"));
    EXPECT_TRUE(RowNamed("Note").IsNull2());
    EXPECT_EQ(RowNamed("Note").value1, std::nullopt) << "\"not found\" has no value";
    EXPECT_EQ(RowNamed("Picture").value2, Value(Bytes{65, 0, 66, 0}));
    EXPECT_EQ(RowNamed("Broken").value1, std::nullopt);
    EXPECT_EQ(RowNamed("Lost").value2, std::nullopt);
    EXPECT_EQ(RowNamed("Guarded").value1, std::nullopt);

    list_.Clear();
    inputs_.switches.strict = true;
    ASSERT_TRUE(Show("Databases"));
    EXPECT_EQ(Shown({RowNamed("Version")}), std::vector<Row>{Differs("Version", "4.0", "3.0")});
}

TEST_F(ViewTest, OneSidedListingStopsAtAValueThatCannotBeRead) {
    auto& table = two_->root->Collection("TableDefs").Add("Broken");
    table.properties.Add("A", dao::kText, Value());
    table.properties.Add(Property::Failing("B", dao::kText, DbError(7, "cannot read", "test")));
    table.properties.Add("C", dao::kText, "c");
    EXPECT_FALSE(Show("TableDefs[Broken]"));
    EXPECT_EQ(Shown(list_.Rows()), std::vector<Row>{Differs("A", "not found", "Null")});
    EXPECT_TRUE(list_.Rows()[0].IsNull2());
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0].text, "cannot read");
    EXPECT_EQ(host_.messages[0].caption, "test");
}

TEST_F(ViewTest, AcrossKindsTheListingSkipsEngineListsAndShowsBothNames) {
    one_->kind = {"SQLite", ""};
    two_->kind = {"ODBC", "PostgreSQL"};
    WriteStoredList(settings_, "Engine", {"SQL"});
    for (auto* db : {one_, two_}) {
        auto& table = db->root->Collection("TableDefs").Add("Track");
        auto& index =
            table.Collection("Indexes").Add(db == one_ ? "sqlite_rowid" : "PK_Track").properties;
        index.Add("Name", dao::kText, db == one_ ? "sqlite_rowid" : "PK_Track");
        index.Add("Primary", dao::kBoolean, true);
        index.Add("Unique", dao::kBoolean, true);
        index.Add("Price", dao::kDecimal, db == one_ ? Value(1.98) : Value(Decimal{"1.98"}));
    }
    one_->root->Collection("TableDefs")
        .members[0]
        ->properties.Add("SQL", dao::kMemo, "CREATE TABLE Track (...)");

    ASSERT_TRUE(Show("TableDefs[Track].Indexes[sqlite_rowid]"));
    EXPECT_EQ(Shown(list_.Rows()), (std::vector<Row>{
                                       Equal("Name", "sqlite_rowid", "PK_Track"),
                                       Equal("Price", "1.98", "1.98"),
                                       Equal("Primary", "True", "True"),
                                       Equal("Unique", "True", "True"),
                                   }));
    list_.Clear();
    ASSERT_TRUE(Show("TableDefs[Track]"));
    EXPECT_EQ(Shown({RowNamed("SQL")}), std::vector<Row>{Skipped("SQL")});

    // Two databases of one kind compare what the Engine list names, and
    // values by the variant rules.
    two_->kind = one_->kind;
    list_.Clear();
    ASSERT_TRUE(Show("TableDefs[Track]"));
    EXPECT_EQ(Shown({RowNamed("SQL")}),
              std::vector<Row>{Differs("SQL", "CREATE TABLE Track (...)", "not found")});
    list_.Clear();
    ASSERT_TRUE(Show("TableDefs[Track].Indexes[sqlite_rowid]"));
    EXPECT_EQ(Shown({RowNamed("Price")}), std::vector<Row>{Differs("Price", "1.98", "1.98")});
}

// A node selected while a run is yielding loads the view's own skip list: the
// run's list stays what the run loaded.
TEST(ViewAndRun, SelectionDuringARunLeavesTheRunsSkipListAlone) {
    test::TempDir dir;
    const auto settingsPath = test::DefaultSettings(dir.Path());
    for (auto tag : {"TableDefs", "QueryDefs", "Relations", "Containers"}) {
        test::SetIni(settingsPath, tag, "Compare", "0");
    }
    const IniFile settings(settingsPath);
    const auto a = test::MakeSqlite(dir / "a.db", "CREATE TABLE T(ID INTEGER);");
    const auto b = test::MakeSqlite(dir / "b.db", "CREATE TABLE T(ID INTEGER);");
    const RunInputs inputs{a.string(), "", b.string(), "", {}, {}};

    test::RecordingHost host;
    MemoryPropertyList list;
    const IniComparisonOptions options(settings);
    ResultView view(inputs, options, host, list, OpenDatabase);
    host.onYield = [&](test::RecordingHost&) { view.ShowNodeProperties("TableDefs[T]"); };
    MemoryResultTree tree;
    ComparisonRun run(inputs, options, tree, host, OpenDatabase);
    ASSERT_EQ(run.RunComparison(), RunOutcome::Done);
    EXPECT_EQ(view.CurrentSkipList(), LoadSkipList(settings, "TableDefs", {}));
    // The databases' Name differs; it is on the Databases Skip list the run loaded.
    EXPECT_TRUE(run.Same());
}

// A report lists every node through one view over one pair of databases,
// which keeps the objects on the way from one key to the next: whatever the
// order of the keys, each listing is what a fresh view gives for its key.
TEST(ViewOnSqlite, ListingManyKeysThroughOneViewGivesEachKeysOwnRows) {
    test::TempDir dir;
    const IniFile settings(test::DefaultSettings(dir.Path()));
    const IniComparisonOptions options(settings);
    const auto a =
        test::MakeSqlite(dir / "a.db",
                         "CREATE TABLE T(ID INTEGER PRIMARY KEY, Name TEXT, Old INTEGER);"
                         "CREATE INDEX TByName ON T(Name);"
                         "CREATE TABLE U(K TEXT PRIMARY KEY, V REAL);"
                         "CREATE TABLE Gone(ID INTEGER);"
                         "CREATE VIEW Q AS SELECT ID, Name FROM T;"
                         "INSERT INTO T VALUES (1, 'a', 1), (2, 'b', 2);");
    const auto b = test::MakeSqlite(dir / "b.db",
                                    "CREATE TABLE T(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
                                    "CREATE UNIQUE INDEX TByName ON T(Name);"
                                    "CREATE TABLE U(K TEXT PRIMARY KEY, V INTEGER);"
                                    "CREATE TABLE New(ID INTEGER);"
                                    "CREATE VIEW Q AS SELECT ID FROM T;"
                                    "INSERT INTO T VALUES (1, 'a'), (3, 'c');");
    RunInputs inputs{a.string(), "", b.string(), "", {}, {}};
    inputs.switches.data = true;
    MemoryResultTree tree;
    test::RecordingHost runHost;
    ComparisonRun run(inputs, options, tree, runHost, OpenDatabase);
    ASSERT_EQ(run.RunComparison(), RunOutcome::Done);
    std::vector<std::string> keys;
    tree.VisitInTreeOrder([&](const MemoryResultTree::Node& node) { keys.push_back(node.key); });
    ASSERT_GT(keys.size(), 20u);

    struct Listing {
        bool listed;
        std::vector<Row> rows;
        std::vector<std::string> messages;
        bool operator==(const Listing&) const = default;
    };
    auto fresh = [&](const std::string& key) {
        test::RecordingHost host;
        MemoryPropertyList list;
        ResultView view(inputs, options, host, list, OpenDatabase);
        const bool listed = view.ShowNodeProperties(key);
        std::vector<std::string> messages;
        for (const auto& m : host.messages) {
            messages.push_back(m.text);
        }
        return Listing{listed, Shown(list.Rows()), messages};
    };
    std::vector<std::string> reversed(keys.rbegin(), keys.rend());
    for (const auto* order : {&keys, &reversed}) {
        auto db1 = OpenDatabase(inputs.database1, "");
        auto db2 = OpenDatabase(inputs.database2, "");
        test::RecordingHost host;
        MemoryPropertyList list;
        ResultView view(inputs, options, host, list, OpenDatabase);
        for (const auto& key : *order) {
            SCOPED_TRACE(key);
            list.Clear();
            host.messages.clear();
            const bool listed = view.ListNodeProperties(*db1, *db2, key);
            std::vector<std::string> messages;
            for (const auto& m : host.messages) {
                messages.push_back(m.text);
            }
            EXPECT_EQ((Listing{listed, Shown(list.Rows()), messages}), fresh(key));
        }
        view.Forget();
    }
}

TEST(ViewOnSqlite, FailedSelectionShowsOnePlainMessageAndRestoresThePointer) {
    test::TempDir dir;
    const IniFile settings(test::DefaultSettings(dir.Path()));
    const auto a = test::MakeSqlite(dir / "a.db", "CREATE TABLE T(ID INTEGER);");
    test::RecordingHost host;
    MemoryPropertyList list;
    const IniComparisonOptions options(settings);
    ResultView view(RunInputs{a.string(), "", a.string(), "", {}, {}}, options, host, list,
                    OpenDatabase);
    EXPECT_FALSE(view.ShowNodeProperties("TableDefs[T].Columns[ID]"));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "Unkown collection 'Columns'");
    EXPECT_EQ(host.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(host.busyStates, (std::vector<bool>{true, false}));
    EXPECT_TRUE(list.Rows().empty());
}

// Rows named by their key: what the view says when a key cannot name one.
TEST_F(ViewTest, RowKeysThatNameNoRowSayWhy) {
    for (auto* db : {one_, two_}) {
        db->AddTable("Keyed", {"K", "V"});
        db->AddKey("Keyed", "PrimaryKey", {"K"}, true);
        db->AddTable("Loose", {"K", "V"});
    }
    one_->data["Keyed"].rows = {{Value("a,b"), Value(1)}};
    two_->data["Keyed"].rows = {{Value("a,b"), Value(2)}};
    const std::pair<const char*, const char*> failures[] = {
        {"TableDefs[Keyed].Rows[a,b]",
         "Invalid row key 'a,b': values are joined by \", \" and a \",\" inside a value is "
         "doubled."},
        {"TableDefs[Keyed].Rows[a,, b, 2]",
         "The row key 'a,, b, 2' has 2 values; the key of table 'Keyed' (K) has 1."},
        {"TableDefs[Keyed].Rows[zz]", "Row zz of table 'Keyed' is in neither database."},
        {"TableDefs[Loose].Rows[1]",
         "Table 'Loose' has no key that both databases share: its records are matched by "
         "position, not by key."},
    };
    for (const auto& [key, message] : failures) {
        SCOPED_TRACE(key);
        host_.messages.clear();
        list_.Clear();
        EXPECT_FALSE(Show(key));
        ASSERT_EQ(host_.messages.size(), 1u);
        EXPECT_EQ(host_.messages[0].text, message);
        EXPECT_TRUE(list_.Rows().empty());
    }
    // The row the key names, its value found by the key's own text.
    host_.messages.clear();
    list_.Clear();
    EXPECT_TRUE(Show("TableDefs[Keyed].Rows[a,,b]"));
    EXPECT_EQ(Shown(list_.Rows()),
              (std::vector<Row>{Equal("K", "a,b", "a,b"), Differs("V", "1", "2")}));
    EXPECT_TRUE(host_.messages.empty());
}

}  // namespace
}  // namespace kesmark
