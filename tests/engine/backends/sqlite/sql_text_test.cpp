// The readings of CREATE INDEX statements: key texts, partial conditions and
// the "rows with a Null key are left out" test.

#include <gtest/gtest.h>

#include "engine/backends/sqlite/sqlite_sql_text.h"

namespace kesmark::sqlite {
namespace {

TEST(SplitCreateIndex, KeysAndConditionAsWritten) {
    struct Case {
        const char* scenario;
        const char* sql;
        std::vector<std::string> keys;
        std::string condition;
    };
    const Case cases[] = {
        {"plain columns", "CREATE INDEX i ON t(a, b)", {"a", "b"}, ""},
        {"collation and direction are not part of the key",
         "CREATE INDEX i ON t(a COLLATE NOCASE DESC, b ASC)",
         {"a", "b"},
         ""},
        {"expression with a comma inside its parentheses",
         "CREATE INDEX i ON t(substr(name, 1, 3), lower(x) DESC)",
         {"substr(name, 1, 3)", "lower(x)"},
         ""},
        {"quoted names holding parentheses, commas and quotes",
         R"(CREATE INDEX "i(" ON "t(1" ("a,b", [c)], `d``e`))",
         {R"("a,b")", "[c)]", "`d``e`"},
         ""},
        {"string literal with a parenthesis and the word WHERE",
         "CREATE INDEX i ON t(coalesce(a, ') where x')) WHERE a > 0",
         {"coalesce(a, ') where x')"},
         "a > 0"},
        {"partial index with comments",
         "CREATE INDEX i /* (no) */ ON t(a) -- key\n WHERE a IS NOT NULL AND b = 'x'",
         {"a"},
         "a IS NOT NULL AND b = 'x'"},
        {"lower-case keywords", "create unique index i on t(a desc) where (a)", {"a"}, "(a)"},
    };
    for (const auto& c : cases) {
        const auto parts = SplitCreateIndex(c.sql);
        ASSERT_TRUE(parts) << c.scenario;
        EXPECT_EQ(parts->keys, c.keys) << c.scenario;
        EXPECT_EQ(parts->condition, c.condition) << c.scenario;
    }
    EXPECT_FALSE(SplitCreateIndex("")) << "no statement";
    EXPECT_FALSE(SplitCreateIndex("CREATE INDEX i ON t(a")) << "unclosed list";
}

TEST(ConditionExcludesNulls, OnlyNotNullTermsCoveringEveryKey) {
    struct Case {
        const char* scenario;
        const char* condition;
        std::vector<std::string> columns;
        bool excludes;
    };
    const Case cases[] = {
        {"IS NOT NULL on the key", "a IS NOT NULL", {"a"}, true},
        {"NOTNULL and NOT NULL spellings", "a NOTNULL AND b not null", {"a", "b"}, true},
        {"quoted name, other letter case", R"("A" is not null)", {"a"}, true},
        {"one key column not covered", "a IS NOT NULL", {"a", "b"}, false},
        {"another condition besides", "a IS NOT NULL AND a > 0", {"a"}, false},
        {"OR is not AND", "a IS NOT NULL OR b IS NOT NULL", {"a", "b"}, false},
        {"a value test", "a > 0", {"a"}, false},
        {"IS NULL keeps only the Nulls", "a IS NULL", {"a"}, false},
        {"empty condition", "", {"a"}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConditionExcludesNulls(c.condition, c.columns), c.excludes) << c.scenario;
    }
}

}  // namespace
}  // namespace kesmark::sqlite
