#include <gtest/gtest.h>

#include "engine/model/hierarchy.h"
#include "engine/model/node_key.h"

namespace kesmark {
namespace {

struct KeyCase {
    const char* scenario;
    std::vector<NodeKey::Segment> path;
    const char* text;
};

NodeKey Build(const std::vector<NodeKey::Segment>& path) {
    NodeKey key;
    for (const auto& [collection, name] : path) {
        key = key.Child(collection, name);
    }
    return key;
}

// Every key reads back to exactly the names it was built from, and names
// without brackets give the plain concatenation.
TEST(NodeKey, BuildsAndParsesEveryKindOfName) {
    const KeyCase cases[] = {
        {"the root", {}, "Databases"},
        {"a plain table", {{"TableDefs", "Orders"}}, "TableDefs[Orders]"},
        {"a field", {{"TableDefs", "Orders"}, {"Fields", "ID"}}, "TableDefs[Orders].Fields[ID]"},
        {"dots, quotes and blanks stay as they are",
         {{"TableDefs", "a.b 'c' \"d\""}, {"Indexes", " x "}},
         "TableDefs[a.b 'c' \"d\"].Indexes[ x ]"},
        {"a closing bracket is doubled", {{"TableDefs", "a]b"}}, "TableDefs[a]]b]"},
        {"an opening bracket is doubled", {{"TableDefs", "a[b"}}, "TableDefs[a[[b]"},
        {"a name that looks like a path",
         {{"TableDefs", "x].Fields[y"}},
         "TableDefs[x]].Fields[[y]"},
        {"a bracketed parameter",
         {{"QueryDefs", "Q"}, {"Parameters", "[Start Date]"}},
         "QueryDefs[Q].Parameters[[[Start Date]]]"},
        {"a name of brackets only", {{"TableDefs", "]["}}, "TableDefs[]][[]"},
        {"an empty name", {{"TableDefs", ""}}, "TableDefs[]"},
        {"a backslash stays as it is", {{"TableDefs", "a\\"}}, "TableDefs[a\\]"},
        {"a record",
         {{"TableDefs", "T"}, {"Fields", "F"}, {"Records", "3"}},
         "TableDefs[T].Fields[F].Records[3]"},
        {"a row of a composite key with a bracket in it",
         {{"TableDefs", "T"}, {"Rows", JoinRowKey({"x]y", "1"})}},
         "TableDefs[T].Rows[x]]y, 1]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const NodeKey built = Build(c.path);
        EXPECT_EQ(built.Text(), c.text);
        NodeKey parsed;
        ASSERT_TRUE(NodeKey::Parse(c.text, parsed));
        EXPECT_EQ(parsed, built);
        EXPECT_EQ(parsed.Segments(), c.path);
    }
}

// Row keys read back to exactly the value texts they were joined from,
// whatever commas and blanks the values hold.
TEST(RowKey, JoinsAndSplitsKeyValues) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"5"}, "5"},
        {{"1", "a"}, "1, a"},
        {{"a, b"}, "a,, b"},
        {{"a,", "b"}, "a,,, b"},
        {{",", ","}, ",,, ,,"},
        {{"x]y,z", "1"}, "x]y,,z, 1"},
        {{""}, ""},
        {{"", ""}, ", "},
        {{" ", " "}, " ,  "},
    };
    for (const auto& [values, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(JoinRowKey(values), text);
        std::vector<std::string> split;
        ASSERT_TRUE(SplitRowKey(text, split));
        EXPECT_EQ(split, values);
    }
    for (const char* broken : {"a,b", "a,", ",x"}) {
        SCOPED_TRACE(broken);
        std::vector<std::string> split;
        EXPECT_FALSE(SplitRowKey(broken, split));
    }
}

TEST(NodeKey, KeysOfTwoDifferentPathsNeverCollide) {
    const NodeKey field = NodeKey().Child("TableDefs", "x").Child("Fields", "y");
    const NodeKey table = NodeKey().Child("TableDefs", "x].Fields[y");
    EXPECT_NE(field.Text(), table.Text());
}

TEST(NodeKey, RefusesTextThatNoKeyIsWrittenAs) {
    for (const char* text :
         {"", "databases", "TableDefs", "TableDefs[a", "TableDefs[a]b", "TableDefs[a].", "[a]",
          "TableDefs[a[b]", "Table.Defs[a]", "TableDefs[a]]"}) {
        SCOPED_TRACE(text);
        NodeKey key;
        EXPECT_FALSE(NodeKey::Parse(text, key));
    }
}

TEST(NodeKey, ParentAndOwnerNames) {
    const NodeKey key =
        NodeKey().Child("TableDefs", "T").Child("Indexes", "PK").Child("Fields", "ID");
    EXPECT_EQ(key.Parent().Text(), "TableDefs[T].Indexes[PK]");
    EXPECT_EQ(key.Name(), "ID");
    EXPECT_EQ(key.OwnerNamesInnermostFirst(), (std::vector<std::string>{"ID", "PK", "T"}));
    EXPECT_TRUE(NodeKey().Child("TableDefs", "T").Parent().IsRoot());
}

// The reader keeps the lenient token-by-token reading the result view relies
// on for text that is not a well-formed key.
TEST(NodeKeyReader, ReadsTokensOfWellFormedAndBrokenKeys) {
    NodeKeyReader reader("TableDefs[a]]b].Fields[x]");
    EXPECT_EQ(reader.ReadCollection(), "TableDefs");
    EXPECT_EQ(reader.ReadName(), "a]b");
    reader.SkipSeparator();
    EXPECT_EQ(reader.ReadCollection(), "Fields");
    EXPECT_EQ(reader.ReadName(), "x");
    EXPECT_TRUE(reader.AtEnd());

    NodeKeyReader unclosed("TableDefs");
    EXPECT_EQ(unclosed.ReadCollection(), "TableDefs");
    EXPECT_EQ(unclosed.ReadName(), "");
    EXPECT_TRUE(unclosed.AtEnd());

    // The older spelling of a bracketed parameter still reads as its name.
    NodeKeyReader parameter("[Start Date]]");
    EXPECT_EQ(parameter.ReadName(), "[Start Date]");

    NodeKeyReader record("1]ignored");
    EXPECT_EQ(record.ReadPlain(), "1");
    EXPECT_EQ(record.Rest(), "ignored");

    NodeKeyReader separator("é.Fields[x]");
    separator.SkipSeparator();
    EXPECT_EQ(separator.Rest(), ".Fields[x]");
}

TEST(Hierarchy, LevelsOfKeysFollowTheCollections) {
    const std::pair<const char*, std::optional<Level>> cases[] = {
        {"Databases", Level::Databases},
        {"TableDefs[T]", Level::TableDefs},
        {"TableDefs[T].Fields[F]", Level::TableFields},
        {"TableDefs[T].Fields[F].Records[2]", Level::Records},
        {"TableDefs[T].Rows[1, a]", Level::Rows},
        {"TableDefs[T].Fields[F].Rows[1]", std::nullopt},
        {"TableDefs[T].Indexes[I].Fields[F]", Level::IndexFields},
        {"QueryDefs[Q].Fields[F]", Level::QueryFields},
        {"QueryDefs[Q].Parameters[P]", Level::Parameters},
        {"Relations[R].Fields[F]", Level::RelationFields},
        {"Containers[C].Documents[D]", Level::Documents},
        {"TableDefs[T].Parameters[P]", std::nullopt},
        {"Fields[F]", std::nullopt},
    };
    for (const auto& [text, level] : cases) {
        SCOPED_TRACE(text);
        NodeKey key;
        ASSERT_TRUE(NodeKey::Parse(text, key));
        EXPECT_EQ(LevelOfKey(key), level);
    }
}

TEST(Hierarchy, WalksRunInTheFixedOrderWithTheirStatusTexts) {
    EXPECT_EQ(ChildLevels(Level::Databases),
              (std::vector<Level>{Level::TableDefs, Level::QueryDefs, Level::Relations,
                                  Level::Containers}));
    EXPECT_EQ(ChildLevels(Level::TableDefs),
              (std::vector<Level>{Level::TableFields, Level::Indexes, Level::Rows}));
    EXPECT_EQ(ChildLevels(Level::QueryDefs),
              (std::vector<Level>{Level::QueryFields, Level::Parameters}));
    const NodeKey index = NodeKey().Child("TableDefs", "Orders").Child("Indexes", "PK");
    EXPECT_EQ(StatusText(Level::IndexFields, index.OwnerNamesInnermostFirst()),
              "Comparing fields of index PK of table Orders");
    EXPECT_EQ(StatusText(Level::Containers, {}), "Comparing containters");
    EXPECT_EQ(LevelOfTag("TableFields"), Level::TableFields);
    EXPECT_EQ(LevelOfTag("tablefields"), std::nullopt);
    // Rows have no settings section: they are listed with the Records lists.
    EXPECT_EQ(SettingsTag(Level::Rows), "Records");
    EXPECT_EQ(SettingsTag(Level::Indexes), "Indexes");
    EXPECT_EQ(kSettingsTagCount, 13u);
    for (const auto& info : kLevels) {
        SCOPED_TRACE(info.tag);
        EXPECT_TRUE(info.level == Level::Records || !IsDiffersPicture(info.same));
        EXPECT_TRUE(IsDiffersPicture(info.differs));
    }
}

}  // namespace
}  // namespace kesmark
