// Side-by-side differences of texts and byte arrays: lines, the changed
// characters inside them, hexadecimal lines and the first differing offset.

#include <gtest/gtest.h>

#include "view/text_diff.h"

namespace kesmark {
namespace {

using Ranges = std::vector<TextRange>;

// The rows as a compact picture: "=" same, "~" changed, "-" only on side 1,
// "+" only on side 2, each followed by the line texts.
std::vector<std::string> Picture(const TextDiff& diff) {
    std::vector<std::string> out;
    for (const auto& row : diff.rows) {
        const std::string left = row.line1 ? diff.lines1[*row.line1] : "";
        const std::string right = row.line2 ? diff.lines2[*row.line2] : "";
        switch (row.change) {
            case LineChange::Same:
                out.push_back("=" + left);
                break;
            case LineChange::Changed:
                out.push_back("~" + left + "|" + right);
                break;
            case LineChange::Only1:
                out.push_back("-" + left);
                break;
            case LineChange::Only2:
                out.push_back("+" + right);
                break;
        }
    }
    return out;
}

TEST(SplitLines, SeparatorsOfEveryKind) {
    struct Case {
        const char* scenario;
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"empty text has no lines", "", {}},
        {"one line without a separator", "abc", {"abc"}},
        {"a final separator adds no empty line", "a\n", {"a"}},
        {"an empty line before the final separator counts", "a\n\n", {"a", ""}},
        {"CR LF, LF and CR each end a line", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        {"a leading separator gives an empty first line", "\nx", {"", "x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitLines(c.text), c.lines) << c.scenario;
    }
}

TEST(DiffTexts, LineRowsForEveryKindOfChange) {
    struct Case {
        const char* scenario;
        std::string text1;
        std::string text2;
        std::vector<std::string> picture;
    };
    const Case cases[] = {
        {"equal texts", "a\nb", "a\nb", {"=a", "=b"}},
        {"both empty", "", "", {}},
        {"one line changed in the middle", "a\nb\nc", "a\nB\nc", {"=a", "~b|B", "=c"}},
        {"a line added at the end", "a\nb", "a\nb\nc", {"=a", "=b", "+c"}},
        {"a line removed at the start", "x\na\nb", "a\nb", {"-x", "=a", "=b"}},
        {"everything added", "", "a\nb", {"+a", "+b"}},
        {"two removed, one added: one pair and one removal",
         "a\nb1\nb2\nc",
         "a\nB\nc",
         {"=a", "~b1|B", "-b2", "=c"}},
        {"changes apart keep the common lines between them",
         "one\ntwo\nthree\nfour\nfive",
         "one\nTWO\nthree\nfour\nFIVE",
         {"=one", "~two|TWO", "=three", "=four", "~five|FIVE"}},
        {"a moved line is a removal and an addition",
         "a\nb\nc\nd",
         "b\nc\nd\na",
         {"-a", "=b", "=c", "=d", "+a"}},
    };
    for (const auto& c : cases) {
        const TextDiff diff = DiffTexts(c.text1, c.text2);
        EXPECT_EQ(Picture(diff), c.picture) << c.scenario;
        EXPECT_EQ(diff.Same(), c.text1 == c.text2) << c.scenario;
    }
}

TEST(DiffTexts, ChangedLineMarksOnlyTheChangedCharacters) {
    const TextDiff diff =
        DiffTexts("SELECT ID, Name\nFROM Customers;", "SELECT ID, Name\nFROM Customer;");
    ASSERT_EQ(diff.rows.size(), 2u);
    EXPECT_EQ(diff.rows[0].change, LineChange::Same);
    const DiffRow& row = diff.rows[1];
    EXPECT_EQ(row.change, LineChange::Changed);
    // "FROM Customers;" against "FROM Customer;": the "s" at byte 13 only.
    EXPECT_EQ(row.ranges1, (Ranges{{13, 1}}));
    EXPECT_TRUE(row.ranges2.empty());
    EXPECT_EQ(diff.ChangedRows(), 1u);
}

TEST(DiffTexts, PairsPastTheCharacterBudgetAreMarkedWhole) {
    DiffLimits limits;
    limits.maxCharacterWork = 4;  // 1 x 1 for the first pair leaves too little for 3 x 3
    const TextDiff diff = DiffTexts("ab1\nxyz-b-c", "ab2\nxyz+b+c", limits);
    ASSERT_EQ(diff.rows.size(), 2u);
    EXPECT_EQ(diff.rows[0].ranges1, (Ranges{{2, 1}}));
    EXPECT_EQ(diff.rows[1].ranges1, (Ranges{{3, 3}})) << "'-b-' as one range, not two";
}

TEST(DiffCharacters, RangesInBytesOfUtf8Lines) {
    struct Case {
        const char* scenario;
        std::string line1;
        std::string line2;
        Ranges ranges1;
        Ranges ranges2;
    };
    const Case cases[] = {
        {"equal lines give no ranges", "abc", "abc", {}, {}},
        {"only the last character differs",
         "CREATE TABLE a(x)",
         "CREATE TABLE a(y)",
         {{15, 1}},
         {{15, 1}}},
        {"a character added at the end", "abc", "abcd", {}, {{3, 1}}},
        {"a character removed at the start", "xabc", "abc", {{0, 1}}, {}},
        {"two separate changes",
         "x = 1 AND y = 2",
         "x = 9 AND y = 8",
         {{4, 1}, {14, 1}},
         {{4, 1}, {14, 1}}},
        {"a word inserted in the middle", "SELECT a FROM t", "SELECT a, b FROM t", {}, {{8, 3}}},
        {"a multi-byte character is one change of its bytes",
         "caf\xC3\xA9!",
         "cafe!",
         {{3, 2}},
         {{3, 1}}},
        {"lines with little in common are marked whole past their common start",
         "id = 1",
         "name <> 'abc'",
         {{0, 6}},
         {{0, 13}}},
        {"invalid bytes that differ are a change", "a\x80", "a\x81", {{1, 1}}, {{1, 1}}},
    };
    for (const auto& c : cases) {
        Ranges ranges1;
        Ranges ranges2;
        DiffCharacters(c.line1, c.line2, ranges1, ranges2);
        EXPECT_EQ(ranges1, c.ranges1) << c.scenario;
        EXPECT_EQ(ranges2, c.ranges2) << c.scenario;
    }
}

TEST(DiffCharacters, ALongMiddleBeyondTheLimitIsOneRange) {
    const std::string a = "start " + std::string(5000, 'a') + " end";
    const std::string b = "start " + std::string(5000, 'b') + " end";
    Ranges ranges1;
    Ranges ranges2;
    DiffCharacters(a, b, ranges1, ranges2, 4000);
    EXPECT_EQ(ranges1, (Ranges{{6, 5000}}));
    EXPECT_EQ(ranges2, (Ranges{{6, 5000}}));
}

TEST(DiffTexts, LongValuesAreCutAtTheLimitOnACharacterBoundary) {
    // 'é' is two bytes: a limit of 3 bytes keeps "aé", a limit of 2 only "a".
    const TextDiff diff = DiffTexts("a\xC3\xA9z", "a\xC3\xA9z", DiffLimits{3, 4000});
    EXPECT_TRUE(diff.truncated);
    EXPECT_EQ(diff.lines1, std::vector<std::string>{"a\xC3\xA9"});
    const TextDiff cutInside = DiffTexts("a\xC3\xA9z", "", DiffLimits{2, 4000});
    EXPECT_EQ(cutInside.lines1, std::vector<std::string>{"a"});
    EXPECT_FALSE(DiffTexts("abc", "abd").truncated);
}

TEST(DiffTexts, DifferentTextsOfManyLinesKeepEveryLineOnce) {
    // Two texts with nothing in common, beyond the size limit.
    std::string a;
    std::string b;
    for (int i = 0; a.size() < 160 * 1024; ++i) {
        a += "left line " + std::to_string(i) + "\n";
        b += "right " + std::to_string(i * 7) + " line\n";
    }
    const TextDiff diff = DiffTexts(a, b);
    EXPECT_TRUE(diff.truncated);
    EXPECT_FALSE(diff.Same());
    // Every line of each side appears exactly once.
    std::size_t left = 0;
    std::size_t right = 0;
    for (const auto& row : diff.rows) {
        left += row.line1.has_value();
        right += row.line2.has_value();
    }
    EXPECT_EQ(left, diff.lines1.size());
    EXPECT_EQ(right, diff.lines2.size());
    // With nothing in common, the lines are paired in order.
    EXPECT_EQ(diff.rows.size(), std::max(diff.lines1.size(), diff.lines2.size()));
    EXPECT_EQ(diff.rows.front().change, LineChange::Changed);
}

TEST(DiffBytes, HexLinesAlignedByOffsetWithTheFirstDifference) {
    std::vector<std::uint8_t> a(20);
    for (std::size_t i = 0; i < a.size(); ++i) {
        a[i] = static_cast<std::uint8_t>(0x41 + i);
    }
    std::vector<std::uint8_t> b = a;
    b[17] = 0x00;
    b.push_back(0xFF);

    const BinaryDiff diff = DiffBytes(a, b);
    EXPECT_EQ(diff.firstDifference, std::optional<std::uint64_t>(17));
    EXPECT_EQ(diff.size1, 20u);
    EXPECT_EQ(diff.size2, 21u);
    ASSERT_EQ(diff.lines.lines1.size(), 2u);
    EXPECT_EQ(diff.lines.lines1[0],
              "00000000  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50  |ABCDEFGHIJKLMNOP|");
    EXPECT_EQ(diff.lines.lines2[1],
              "00000010  51 00 53 54 FF                                   |Q.ST.|");
    ASSERT_EQ(diff.lines.rows.size(), 2u);
    EXPECT_EQ(diff.lines.rows[0].change, LineChange::Same);
    const DiffRow& row = diff.lines.rows[1];
    EXPECT_EQ(row.change, LineChange::Changed);
    // Byte 1 of the line (offset 17) on both sides; byte 4 (offset 20) on side
    // 2 only; each in the hexadecimal and the character column.
    EXPECT_EQ(row.ranges1, (Ranges{{13, 2}, {61, 1}}));
    EXPECT_EQ(row.ranges2, (Ranges{{13, 2}, {22, 2}, {61, 1}, {64, 1}}));
}

TEST(DiffBytes, EqualAndOneSidedArrays) {
    const std::vector<std::uint8_t> a = {1, 255, 16};
    EXPECT_EQ(DiffBytes(a, a).firstDifference, std::nullopt);
    EXPECT_TRUE(DiffBytes(a, a).lines.Same());

    const std::vector<std::uint8_t> longer(40, 7);
    const std::vector<std::uint8_t> prefix(16, 7);
    const BinaryDiff diff = DiffBytes(prefix, longer);
    EXPECT_EQ(diff.firstDifference, std::optional<std::uint64_t>(16));
    ASSERT_EQ(diff.lines.rows.size(), 3u);
    EXPECT_EQ(diff.lines.rows[0].change, LineChange::Same);
    EXPECT_EQ(diff.lines.rows[1].change, LineChange::Only2);
    EXPECT_EQ(diff.lines.rows[2].change, LineChange::Only2);

    EXPECT_EQ(FirstDifference({}, {}), std::nullopt);
    EXPECT_EQ(FirstDifference({}, {0}), std::optional<std::uint64_t>(0));
}

TEST(DiffBytes, ArraysBeyondTheLimitAreShownUpToIt) {
    const std::vector<std::uint8_t> a(100, 1);
    std::vector<std::uint8_t> b = a;
    b[90] = 2;
    const BinaryDiff diff = DiffBytes(a, b, DiffLimits{32, 4000});
    EXPECT_TRUE(diff.lines.truncated);
    EXPECT_EQ(diff.lines.lines1.size(), 2u);
    EXPECT_TRUE(diff.lines.Same()) << "the shown part is equal";
    EXPECT_EQ(diff.firstDifference, std::optional<std::uint64_t>(90))
        << "the first difference is found in the whole arrays";
}

}  // namespace
}  // namespace kesmark
