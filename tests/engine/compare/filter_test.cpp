// Globs on node keys and the filter built from them.

#include "engine/compare/filter.h"

#include <gtest/gtest.h>

namespace kesmark {
namespace {

TEST(GlobMatch, Wildcards) {
    struct Case {
        const char* pattern;
        const char* text;
        bool matches;
    };
    const Case cases[] = {
        {"Orders", "Orders", true},
        {"Orders", "orders", false},  // letter case counts
        {"Orders", "Orders2", false},
        {"*", "", true},
        {"*", "anything", true},
        {"tmp_*", "tmp_", true},
        {"tmp_*", "tmp_orders", true},
        {"tmp_*", "xtmp_orders", false},
        {"*_old", "orders_old", true},
        {"*_old", "orders_old2", false},
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXbYY", false},
        {"a*b*c", "abcbc", true},
        {"?", "é", true},  // one character, two bytes
        {"?", "ab", false},
        {"O?ders", "Orders", true},
        {"~sq_*", "~sq_cCustomers", true},
        {"\\*", "*", true},
        {"\\*", "x", false},
        {"a\\?", "a?", true},
        {"a\\?", "ab", false},
        {"[x]", "[x]", true},  // brackets are plain characters
        {"**", "abc", true},
        {"a*", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " / " + c.text);
        EXPECT_EQ(GlobMatch(c.pattern, c.text), c.matches);
    }
}

NodeKey Key(std::string_view text) {
    NodeKey key;
    EXPECT_TRUE(NodeKey::Parse(text, key)) << text;
    return key;
}

TEST(NodeFilter, IncludeTakesInMatchesTheirOwnersAndWhatLiesBelow) {
    struct Case {
        const char* scenario;
        FilterPatterns patterns;
        const char* key;
        bool admitted;
    };
    const Case cases[] = {
        {"no pattern takes in everything", {}, "TableDefs[Orders]", true},
        {"the root always", {{"TableDefs[x]"}, {"TableDefs[*]"}}, "Databases", true},
        {"included table", {{"TableDefs[tmp_*]"}, {}}, "TableDefs[tmp_a]", true},
        {"field of an included table",
         {{"TableDefs[tmp_*]"}, {}},
         "TableDefs[tmp_a].Fields[ID]",
         true},
        {"other table", {{"TableDefs[tmp_*]"}, {}}, "TableDefs[Orders]", false},
        {"other collection", {{"TableDefs[tmp_*]"}, {}}, "QueryDefs[tmp_a]", false},
        {"table on the way to an included field",
         {{"TableDefs[*].Fields[Note]"}, {}},
         "TableDefs[Orders]",
         true},
        {"other field of that table",
         {{"TableDefs[*].Fields[Note]"}, {}},
         "TableDefs[Orders].Fields[ID]",
         false},
        {"index of that table",
         {{"TableDefs[*].Fields[Note]"}, {}},
         "TableDefs[Orders].Indexes[Note]",
         false},
        {"a wildcard collection", {{"*[tmp_*]"}, {}}, "QueryDefs[tmp_q]", true},
        {"second include pattern", {{"TableDefs[a]", "QueryDefs[b]"}, {}}, "QueryDefs[b]", true},
        {"excluded table", {{}, {"TableDefs[tmp_*]"}}, "TableDefs[tmp_a]", false},
        {"field of an excluded table",
         {{}, {"TableDefs[tmp_*]"}},
         "TableDefs[tmp_a].Fields[ID]",
         false},
        {"table of an excluded field",
         {{}, {"TableDefs[*].Fields[Note]"}},
         "TableDefs[Orders]",
         true},
        {"exclusion wins", {{"TableDefs[*]"}, {"TableDefs[Orders]"}}, "TableDefs[Orders]", false},
        {"hidden queries", {{}, {"QueryDefs[~sq_*]"}}, "QueryDefs[~sq_cOrders]", false},
        {"a bracket in a name, doubled as in keys",
         {{}, {"TableDefs[a]]*]"}},
         "TableDefs[a]]b]",
         false},
        {"a star in a name taken literally", {{}, {"TableDefs[a\\*]"}}, "TableDefs[ab]", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string error;
        const auto filter = NodeFilter::Make(c.patterns, error);
        ASSERT_TRUE(filter) << error;
        EXPECT_EQ(filter->Admits(Key(c.key)), c.admitted);
    }
}

TEST(NodeFilter, RefusesPatternsThatAreNoKeys) {
    for (const char* pattern : {"", "Orders", "TableDefs", "TableDefs[Orders", "TableDefs[a[b]",
                                "TableDefs[a].", "[a]"}) {
        SCOPED_TRACE(pattern);
        std::string error;
        EXPECT_FALSE(NodeFilter::Make({{pattern}, {}}, error));
        EXPECT_EQ(error, "pattern '" + std::string(pattern) +
                             "' is not a node key such as TableDefs[tmp_*] (write names in "
                             "brackets, doubling a bracket inside a name)");
    }
    std::string error;
    EXPECT_FALSE(NodeFilter::Make({{}, {"Databases"}}, error));
    EXPECT_EQ(error, "pattern 'Databases' names the databases, which are always compared");
    EXPECT_TRUE(NodeFilter::Make({{"TableDefs[Orders].Fields[*]"}, {"*[*]"}}, error));
}

}  // namespace
}  // namespace kesmark
