// What the run records of a differing property: short values as they are,
// long ones as an excerpt and where they part.

#include "engine/compare/differences.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

std::string Repeat(std::string_view text, int times) {
    std::string out;
    for (int k = 0; k < times; ++k) {
        out += text;
    }
    return out;
}

TEST(DescribeDifference, ShortAndLongValues) {
    struct Case {
        const char* scenario;
        int type;
        std::optional<Value> value1;
        std::optional<Value> value2;
        PropertyDifference expected;
    };
    const std::string longText(60, 'x');
    const std::string longChanged = std::string(50, 'x') + "y" + std::string(9, 'x');
    const Case cases[] = {
        {"short values", dao::kLong, Value(4), Value(7), {"P", "4", "7", "", false}},
        {"empty against Null", dao::kText, Value(""), Value(), {"P", "", "Null", "", false}},
        {"only in database 1",
         dao::kText,
         Value("a"),
         std::nullopt,
         {"P", "a", std::nullopt, "", false}},
        {"only in database 2, long",
         dao::kMemo,
         std::nullopt,
         Value(std::string(300, 'z')),
         {"P", std::nullopt, std::string(200, 'z') + "…", "", true}},
        {"lines: the excerpt starts at the line that differs",
         dao::kMemo,
         Value("SELECT a\nFROM t\nWHERE a > 1\nORDER BY a"),
         Value("SELECT a\nFROM t\nWHERE a > 2\nORDER BY a"),
         {"P", "…WHERE a > 1\nORDER BY a", "…WHERE a > 2\nORDER BY a", "text differs at line 3",
          true}},
        {"a line added at the end",
         dao::kMemo,
         Value("a\nb"),
         Value("a\nb\nc"),
         {"P", "…b", "…b\nc", "text differs at line 2", true}},
        {"one long line: the excerpt starts a little before the difference",
         dao::kText,
         Value(longText),
         Value(longChanged),
         {"P", "…" + std::string(40, 'x') + "xxxxxxxxxx", "…" + std::string(40, 'x') + "yxxxxxxxxx",
          "text differs at character 51", true}},
        {"characters, not bytes, are counted",
         dao::kText,
         Value("ééééééééééééééééééééééééééééééééééééééééééé1"),
         Value("ééééééééééééééééééééééééééééééééééééééééééé2"),
         // The 40 bytes before the difference are 20 characters.
         {"P", "…" + Repeat("é", 20) + "1", "…" + Repeat("é", 20) + "2",
          "text differs at character 44", true}},
        {"short byte arrays",
         dao::kBinary,
         Value(Bytes{1, 2}),
         Value(Bytes{1, 3}),
         {"P", "1 2", "1 3", "", false}},
        {"long byte arrays that look alike",
         dao::kLongBinary,
         Value(Bytes(20, 1)),
         Value([] {
             Bytes b(20, 1);
             b[15] = 2;
             return b;
         }()),
         {"P", "1 1 1 1 1 1 1 1 1 1 1 ...", "1 1 1 1 1 1 1 1 1 1 1 ...", "bytes differ at byte 16",
          false}},
        {"a byte array that starts the other",
         dao::kLongBinary,
         Value(Bytes(16, 0)),
         Value(Bytes(20, 0)),
         {"P", "0 0 0 0 0 0 0 0 0 0 0 ...", "0 0 0 0 0 0 0 0 0 0 0 ...", "16 bytes → 20 bytes",
          false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const Value* v1 = c.value1 ? &*c.value1 : nullptr;
        const Value* v2 = c.value2 ? &*c.value2 : nullptr;
        EXPECT_EQ(DescribeDifference("P", c.type, v1, v2), c.expected);
    }
}

TEST(DescribeDifference, ExcerptsNeverCutACharacter) {
    const std::string text1 = std::string(199, 'a') + "é" + "tail";
    const std::string text2 = std::string(199, 'a') + "é" + "other";
    const auto difference = DescribeDifference("P", dao::kMemo, nullptr, nullptr);
    EXPECT_FALSE(difference.value1);
    const Value one(text1);
    const auto oneSided = DescribeDifference("P", dao::kMemo, &one, nullptr);
    EXPECT_EQ(*oneSided.value1, std::string(199, 'a') + "…");
    EXPECT_TRUE(oneSided.truncated);
    const Value two(text2);
    const auto both = DescribeDifference("P", dao::kMemo, &one, &two);
    EXPECT_EQ(both.where, "text differs at character 201");
}

}  // namespace
}  // namespace kesmark
