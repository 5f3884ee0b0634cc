// The line diff of two long values, with the changed characters of each
// changed line.

#include "view/text_diff.h"

#include <gtest/gtest.h>

namespace kesmark {
namespace {

using Kind = DiffLine::Kind;

// A diff as one compact line per line: "=1,1 a", "-2 b", "+2 c", "~3,3 x|y",
// the changed characters of a changed line in brackets.
std::vector<std::string> Sketch(const TextDiff& diff) {
    std::vector<std::string> sketch;
    auto marked = [](const std::string& text,
                     const std::vector<std::pair<std::size_t, std::size_t>>& ranges) {
        std::string out;
        std::size_t at = 0;
        for (const auto& [first, last] : ranges) {
            out += text.substr(at, first - at) + "[" + text.substr(first, last - first) + "]";
            at = last;
        }
        return out + text.substr(at);
    };
    for (const auto& line : diff.lines) {
        switch (line.kind) {
            case Kind::Same:
                sketch.push_back("=" + std::to_string(line.line1) + "," +
                                 std::to_string(line.line2) + " " + line.text1);
                break;
            case Kind::Removed:
                sketch.push_back("-" + std::to_string(line.line1) + " " + line.text1);
                break;
            case Kind::Added:
                sketch.push_back("+" + std::to_string(line.line2) + " " + line.text2);
                break;
            case Kind::Changed:
                sketch.push_back(
                    "~" + std::to_string(line.line1) + "," + std::to_string(line.line2) + " " +
                    marked(line.text1, line.changed1) + "|" + marked(line.text2, line.changed2));
                break;
        }
    }
    return sketch;
}

TEST(DiffTexts, LinesAndCharacters) {
    struct Case {
        const char* scenario;
        std::string text1;
        std::string text2;
        std::vector<std::string> sketch;
    };
    const Case cases[] = {
        {"equal texts", "a\nb", "a\nb", {"=1,1 a", "=2,2 b"}},
        {"one changed line, its changed characters marked",
         "SELECT a\nWHERE a > 1\nORDER BY a",
         "SELECT a\nWHERE a > 22\nORDER BY a",
         {"=1,1 SELECT a", "~2,2 WHERE a > [1]|WHERE a > [22]", "=3,3 ORDER BY a"}},
        {"a line added", "a\nc", "a\nb\nc", {"=1,1 a", "+2 b", "=2,3 c"}},
        {"a line removed", "a\nb\nc", "a\nc", {"=1,1 a", "-2 b", "=3,2 c"}},
        {"two removed, one added: the first pair is changed",
         "a\nb1\nb2\nc",
         "a\nB\nc",
         {"=1,1 a", "~2,2 [b1]|[B]", "-3 b2", "=4,3 c"}},
        {"line ends CR LF and LF read alike", "a\r\nb\r\n", "a\nb\n", {"=1,1 a", "=2,2 b"}},
        {"an empty text against one line", "", "x", {"~1,1 |[x]"}},
        {"characters, not bytes", "café", "cafe", {"~1,1 caf[é]|caf[e]"}},
        {"text 1 longer than text 2", "a\nb\nc\nd", "a", {"=1,1 a", "-2 b", "-3 c", "-4 d"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const TextDiff diff = DiffTexts(c.text1, c.text2);
        EXPECT_EQ(Sketch(diff), c.sketch);
        EXPECT_FALSE(diff.cut);
    }
}

TEST(DiffTexts, LongTextsAreComparedUpToTheLimit) {
    std::string text1;
    for (int k = 0; text1.size() < kMaxDiffBytes + 1000; ++k) {
        text1 += "line " + std::to_string(k) + "\n";
    }
    std::string text2 = text1;
    text2.replace(10, 1, "X");
    const TextDiff diff = DiffTexts(text1, text2);
    EXPECT_TRUE(diff.cut);
    const auto changed = std::count_if(diff.lines.begin(), diff.lines.end(),
                                       [](const DiffLine& l) { return l.kind != Kind::Same; });
    EXPECT_EQ(changed, 1);

    const std::string wide1(kMaxCharacterDiffBytes + 1, 'a');
    const std::string wide2 = wide1 + "b";
    const TextDiff whole = DiffTexts(wide1, wide2);
    ASSERT_EQ(whole.lines.size(), 1u);
    EXPECT_EQ(whole.lines[0].changed2,
              (std::vector<std::pair<std::size_t, std::size_t>>{{0, wide2.size()}}))
        << "a very long line is marked as a whole";
}

}  // namespace
}  // namespace kesmark
