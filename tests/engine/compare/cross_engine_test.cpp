// Comparing databases of two kinds on the in-memory backend: members paired
// by definition where an engine names them, names matched ignoring case, the
// Engine list, and values compared by meaning.

#include <gtest/gtest.h>

#include <map>

#include "engine/compare/comparison_run.h"
#include "engine/compare/pairing.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"
#include "tests/support/memory_backend.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

ObjectNode& AddIndex(ObjectNode& table, const std::string& name, bool primary, bool unique,
                     const std::vector<std::string>& fields) {
    ObjectNode& index = table.Collection("Indexes").Add(name);
    index.properties.Add("Name", dao::kText, name);
    index.properties.Add("Primary", dao::kBoolean, primary);
    index.properties.Add("Unique", dao::kBoolean, unique);
    for (const auto& field : fields) {
        index.Collection("Fields").Add(field).properties.Add("Name", dao::kText, field);
    }
    return index;
}

// A relation from `foreignTable`'s columns to `table`'s, and the document
// that stands for it.
void AddRelation(MemoryDatabaseState& db, const std::string& name, const std::string& table,
                 const std::string& foreignTable,
                 const std::vector<std::pair<std::string, std::string>>& fields) {
    ObjectNode& relation = db.root->Collection("Relations").Add(name);
    relation.properties.Add("Name", dao::kText, name);
    relation.properties.Add("Table", dao::kText, table);
    relation.properties.Add("ForeignTable", dao::kText, foreignTable);
    for (const auto& [column, foreignColumn] : fields) {
        Properties& p = relation.Collection("Fields").Add(column).properties;
        p.Add("Name", dao::kText, column);
        p.Add("ForeignName", dao::kText, foreignColumn);
    }
    auto& containers = db.root->Collection("Containers");
    if (containers.IndexOf("Relationships") < 0) {
        containers.Add("Relationships").properties.Add("Name", dao::kText, "Relationships");
    }
    ObjectNode& container = *containers.members[containers.IndexOf("Relationships")];
    Properties& document = container.Collection("Documents").Add(name).properties;
    document.Add("Name", dao::kText, name);
    document.Add("Container", dao::kText, "Relationships");
}

class CrossEngineTest : public ::testing::Test {
  protected:
    CrossEngineTest() : settings_(dir_ / "Kesmark.ini") {
        one_ = &server_.Create("one");
        two_ = &server_.Create("two");
        one_->kind = {"SQLite", ""};
        two_->kind = {"ODBC", "PostgreSQL"};
        for (auto tag : kCollectionTags) {
            settings_.WriteIniString(tag, "Compare", "1");
        }
        WriteStoredList(settings_, "Databases", {"Name"});
    }

    // The pairs of one collection, as "name1|name2" ("*" after a pair made
    // by definition).
    std::vector<std::string> Pairs(Level level, const std::vector<std::string>& ownerPath,
                                   bool ignoreCase = false) {
        auto db1 = server_.Opener()("one", "");
        auto db2 = server_.Opener()("two", "");
        std::unique_ptr<DbObject> holder1;
        std::unique_ptr<DbObject> holder2;
        DbObject* owner1 = db1.get();
        DbObject* owner2 = db2.get();
        for (std::size_t i = 0; i + 1 < ownerPath.size(); i += 2) {
            holder1 = owner1->GetCollection(ownerPath[i])->Item(ownerPath[i + 1]);
            holder2 = owner2->GetCollection(ownerPath[i])->Item(ownerPath[i + 1]);
            owner1 = holder1.get();
            owner2 = holder2.get();
        }
        PairingRules rules;
        rules.ignoreNameCase = ignoreCase;
        std::vector<std::string> pairs;
        for (const auto& pair : PairMembers(level, *db1, *owner1, *db2, *owner2, rules)) {
            pairs.push_back(pair.name1 + "|" + pair.name2 + (pair.byDefinition ? "*" : ""));
        }
        return pairs;
    }

    RunOutcome Run() {
        ComparisonRun run(inputs_, options_, tree_, host_, server_.Opener());
        const auto outcome = run.RunComparison();
        same_ = run.Same();
        sameKind_ = run.SameKind();
        return outcome;
    }

    std::map<std::string, int> Images() const {
        std::map<std::string, int> images;
        for (const auto& n : tree_.Nodes()) {
            images[n.key] = PictureNumber(n.image);
        }
        return images;
    }

    test::TempDir dir_;
    IniFile settings_;
    IniComparisonOptions options_{settings_};
    MemoryServer server_;
    MemoryDatabaseState* one_;
    MemoryDatabaseState* two_;
    RunInputs inputs_{"one", "", "two", "", {}};
    test::RecordingHost host_;
    MemoryResultTree tree_;
    bool same_ = false;
    bool sameKind_ = true;
};

TEST_F(CrossEngineTest, IndexesTheEnginesNamedPairByDefinition) {
    auto& t1 = one_->AddTable("Customer", {"Id", "Email", "City"});
    auto& t2 = two_->AddTable("Customer", {"Id", "Email", "City"});
    AddIndex(t1, "sqlite_rowid", true, true, {"Id"});
    AddIndex(t2, "PK_Customer", true, true, {"Id"});
    AddIndex(t1, "sqlite_autoindex_Customer_1", false, true, {"Email"});
    AddIndex(t2, "Customer_Email_key", false, true, {"Email"});
    // A generated name, but another uniqueness: no pair.
    AddIndex(t1, "sqlite_autoindex_Customer_2", false, true, {"City"});
    AddIndex(t2, "Customer_City_idx", false, false, {"City"});
    // Users' names pair by name only, whatever their fields.
    AddIndex(t1, "ByCity", false, false, {"City", "Email"});
    AddIndex(t2, "CityEmail", false, false, {"City", "Email"});
    AddIndex(t1, "Shared", false, false, {"Email"});
    AddIndex(t2, "Shared", false, true, {"City"});

    EXPECT_EQ(Pairs(Level::Indexes, {"TableDefs", "Customer"}),
              (std::vector<std::string>{
                  "ByCity|",
                  "|CityEmail",
                  "|Customer_City_idx",
                  "Shared|Shared",
                  "sqlite_autoindex_Customer_1|Customer_Email_key*",
                  "sqlite_autoindex_Customer_2|",
                  "sqlite_rowid|PK_Customer*",
              }));
}

TEST_F(CrossEngineTest, RelationsAndTheirDocumentsPairByWhatTheyLink) {
    one_->AddTable("Album", {"Id", "ArtistId"});
    two_->AddTable("Album", {"Id", "ArtistId"});
    AddRelation(*one_, "Album(ArtistId) -> Artist(Id)", "Artist", "Album", {{"Id", "ArtistId"}});
    AddRelation(*two_, "FK_AlbumArtist", "Artist", "Album", {{"Id", "ArtistId"}});
    // The same columns of another table: no pair.
    AddRelation(*one_, "Track(ArtistId) -> Artist(Id)", "Artist", "Track", {{"Id", "ArtistId"}});
    AddRelation(*two_, "FK_Other", "Artist", "Single", {{"Id", "ArtistId"}});
    // Two column pairs, listed in another order.
    AddRelation(*one_, "Line(A, B) -> Head(X, Y)", "Head", "Line", {{"X", "A"}, {"Y", "B"}});
    AddRelation(*two_, "line_fkey", "Head", "Line", {{"Y", "B"}, {"X", "A"}});

    const std::vector<std::string> relations = {
        "Album(ArtistId) -> Artist(Id)|FK_AlbumArtist*",
        "|FK_Other",
        "Line(A, B) -> Head(X, Y)|line_fkey*",
        "Track(ArtistId) -> Artist(Id)|",
    };
    EXPECT_EQ(Pairs(Level::Relations, {}), relations);
    EXPECT_EQ(Pairs(Level::Documents, {"Containers", "Relationships"}), relations);

    // A run keys each pair by database 1's name, and the names themselves
    // are no difference.
    ASSERT_EQ(Run(), RunOutcome::Done);
    const auto images = Images();
    EXPECT_EQ(images.at("Relations[Album(ArtistId) -> Artist(Id)]"), 13);
    EXPECT_EQ(images.at("Relations[Line(A, B) -> Head(X, Y)]"), 13);
    EXPECT_EQ(images.at("Containers[Relationships].Documents[Album(ArtistId) -> Artist(Id)]"), 19);
    EXPECT_EQ(images.at("Relations[FK_Other]"), 14);
    EXPECT_EQ(images.count("Relations[FK_AlbumArtist]"), 0u);
}

TEST_F(CrossEngineTest, NamesMatchIgnoringCaseOnlyWhenAskedAndExactNamesFirst) {
    one_->AddTable("Album", {"Title"});
    two_->AddTable("album", {"title"});
    one_->AddTable("Artist", {"Name"});
    two_->AddTable("Artist", {"Name"});
    two_->AddTable("ARTIST", {"Name"});
    EXPECT_EQ(Pairs(Level::TableDefs, {}),
              (std::vector<std::string>{"|ARTIST", "Album|", "Artist|Artist", "|album"}));
    EXPECT_EQ(Pairs(Level::TableDefs, {}, true),
              (std::vector<std::string>{"|ARTIST", "Album|album", "Artist|Artist"}));

    // The run reads database 2's table and fields by their own names.
    one_->data["Album"].rows = {{Value("Homogenic")}};
    two_->data["album"].rows = {{Value("Homogenic")}};
    two_->root->Collection("TableDefs").members.pop_back();  // no ARTIST
    settings_.WriteIniString("General", "IgnoreNameCase", "1");
    inputs_.switches.data = true;
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_TRUE(same_) << ::testing::PrintToString(Images());
    EXPECT_EQ(Images().at("TableDefs[Album].Fields[Title]"), 3);
    EXPECT_EQ(two_->recordsRead, 1);
}

TEST_F(CrossEngineTest, EngineListPropertiesCountOnlyBetweenDatabasesOfOneKind) {
    WriteStoredList(settings_, "Engine", {"DeclaredType", "TypeName"});
    auto& f1 = one_->AddTable("T", {"A"}).Collection("Fields").members[0]->properties;
    auto& f2 = two_->AddTable("T", {"A"}).Collection("Fields").members[0]->properties;
    f1.Add("DeclaredType", dao::kText, "INTEGER");  // one side only
    f2.Add("TypeName", dao::kText, "int4");
    struct Case {
        const char* scenario;
        DatabaseKind kind2;
        bool same;
    };
    const Case cases[] = {
        {"SQLite against PostgreSQL through ODBC", {"ODBC", "PostgreSQL"}, true},
        {"SQLite against SQLite through ODBC", {"ODBC", "SQLite"}, true},
        {"two SQLite files", {"SQLite", ""}, false},
    };
    for (const auto& c : cases) {
        two_->kind = c.kind2;
        tree_ = MemoryResultTree();
        ASSERT_EQ(Run(), RunOutcome::Done) << c.scenario;
        EXPECT_EQ(same_, c.same) << c.scenario;
        EXPECT_EQ(sameKind_, !c.same) << c.scenario;
    }
    // Two ODBC sources of different systems are two kinds.
    one_->kind = {"ODBC", "PostgreSQL"};
    two_->kind = {"ODBC", "SQLite"};
    tree_ = MemoryResultTree();
    ASSERT_EQ(Run(), RunOutcome::Done);
    EXPECT_FALSE(sameKind_);
}

TEST_F(CrossEngineTest, ValuesCompareByMeaningOnlyAcrossKinds) {
    one_->AddTable("T", {"Price", "Born", "Flag", "Note"});
    two_->AddTable("T", {"Price", "Born", "Flag", "Note"});
    one_->data["T"].rows = {{Value(1.98), Value("1962-02-18 00:00:00"), Value(1), Value("a")}};
    two_->data["T"].rows = {
        {Value(Decimal{"1.98"}), Value(DateTime{22695}), Value(true), Value("a")}};
    inputs_.switches.data = true;
    struct Case {
        const char* scenario;
        DatabaseKind kind2;
        std::vector<std::string> records;  // the record nodes the run adds
    };
    const Case cases[] = {
        {"two kinds: by meaning", {"ODBC", "PostgreSQL"}, {}},
        {"one kind: by the variant rules",
         {"SQLite", ""},
         {"TableDefs[T].Fields[Born].Records[1]", "TableDefs[T].Fields[Flag].Records[1]",
          "TableDefs[T].Fields[Price].Records[1]"}},
    };
    for (const auto& c : cases) {
        two_->kind = c.kind2;
        tree_ = MemoryResultTree();
        ASSERT_EQ(Run(), RunOutcome::Done) << c.scenario;
        std::vector<std::string> records;
        for (const auto& node : tree_.Nodes()) {
            if (node.key.find(".Records[") != std::string::npos) {
                records.push_back(node.key);
            }
        }
        std::sort(records.begin(), records.end());
        EXPECT_EQ(records, c.records) << c.scenario;
    }
}

}  // namespace
}  // namespace kesmark
