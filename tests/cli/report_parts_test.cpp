// The parts every report shares: safe text for the terminal, the colour
// rule, Markdown escapes, and the reasons and summary of a result tree built
// by hand, row counts of tables compared by key and unfinished objects
// included.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/report.h"
#include "cli/report_html.h"
#include "cli/report_markdown.h"
#include "cli/report_text.h"
#include "cli/terminal.h"

namespace kesmark::cli {
namespace {

TEST(SafeText, EscapesWhatCouldSteerTheTerminal) {
    struct Case {
        const char* scenario;
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"plain text", "Orders", "Orders"},
        {"other scripts stay", "Zoë 注文 🙂", "Zoë 注文 🙂"},
        {"line breaks and tabs", "a\nb\r\tc", "a\\nb\\r\\tc"},
        {"escape sequences", "\x1b[2J\x1b]0;title\x07", "\\x1B[2J\\x1B]0;title\\x07"},
        {"NUL and DEL", std::string("a\0b\x7f", 4), "a\\x00b\\x7F"},
        {"C1 controls, the one-byte CSI among them",
         "a\xc2\x9b"
         "2Jb",
         "a\\u{9B}2Jb"},
        {"bidirectional overrides", "abc\xe2\x80\xaetxt.exe", "abc\\u{202E}txt.exe"},
        {"invalid UTF-8", "a\xff\xc3(b", "a\\xFF\\xC3(b"},
        {"a cut sequence at the end", "a\xe2\x80", "a\\xE2\\x80"},
        {"an encoded surrogate", "\xed\xa0\x80", "\\xED\\xA0\\x80"},
        {"the replacement character itself stays", "\xef\xbf\xbd", "\xef\xbf\xbd"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(SafeText(c.text), c.shown);
    }
    EXPECT_EQ(SafeLines("one\r\ntwo\rthree\n\x1b[1m"), "one\ntwo\nthree\n\\x1B[1m");
}

TEST(UseColour, ModeTerminalAndEnvironment) {
    struct Case {
        const char* scenario;
        ColourMode mode;
        bool terminal;
        const char* noColour;
        const char* term;
        bool colour;
    };
    const Case cases[] = {
        {"auto on a terminal", ColourMode::Auto, true, nullptr, "xterm", true},
        {"auto on a file", ColourMode::Auto, false, nullptr, "xterm", false},
        {"auto with NO_COLOR", ColourMode::Auto, true, "1", "xterm", false},
        {"auto with an empty NO_COLOR", ColourMode::Auto, true, "", "xterm", true},
        {"auto on a dumb terminal", ColourMode::Auto, true, nullptr, "dumb", false},
        {"auto without TERM", ColourMode::Auto, true, nullptr, nullptr, true},
        {"always beats NO_COLOR and a file", ColourMode::Always, false, "1", "dumb", true},
        {"never on a terminal", ColourMode::Never, true, nullptr, "xterm", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(UseColour(c.mode, c.terminal, c.noColour, c.term), c.colour);
    }
    EXPECT_EQ(ParseColourMode("always"), ColourMode::Always);
    EXPECT_EQ(ParseColourMode("Always"), std::nullopt);
}

TEST(Markdown, CodeSpansAndTextSurviveATableCell) {
    EXPECT_EQ(MarkdownCode("TableDefs[a]"), "`TableDefs[a]`");
    EXPECT_EQ(MarkdownCode("a|b"), "`a\\|b`");
    EXPECT_EQ(MarkdownCode("a`b"), "``a`b``");
    EXPECT_EQ(MarkdownCode("`a"), "`` `a ``");
    EXPECT_EQ(MarkdownText("*bold* <b> & [link](x) | ~x~"),
              "\\*bold\\* \\<b\\> &amp; \\[link\\](x) \\| \\~x\\~");
    EXPECT_EQ(MarkdownText("line\nbreak"), "line\\\\nbreak");
}

// A run's tree as the rows comparison and a stopped run leave it.
class TreeTest : public ::testing::Test {
  protected:
    TreeTest() {
        tree_.AddNode("", "Databases", "Databases", Picture::DatabasesDiffers);
        tree_.AddNode("Databases", "TableDefs[Orders]", "Orders", Picture::TableDiffers);
        tree_.SetRowCounts("TableDefs[Orders]", {2, 1, 3, 40});
        tree_.AddNode("TableDefs[Orders]", "TableDefs[Orders].Rows[7]", "7", Picture::RowOnlyIn1);
        tree_.AddNode("TableDefs[Orders]", "TableDefs[Orders].Rows[9]", "9", Picture::RowChanged);
        tree_.AddDifferences("TableDefs[Orders].Rows[9]", {{"Total", "5", "6", "", false}});
        tree_.AddNode("Databases", "TableDefs[Wide]", "Wide", Picture::TableDiffers);
        std::vector<PropertyDifference> many;
        for (char c = 'A'; c <= 'K'; ++c) {
            many.push_back({std::string(1, c), "1", "2", "", false});
        }
        tree_.AddDifferences("TableDefs[Wide]", many);
        tree_.AddNode("Databases", "TableDefs[Stock]", "Stock", Picture::TableSame);
        tree_.SetRowCounts("TableDefs[Stock]", {0, 0, 0, 10});
        tree_.AddNode("Databases", "TableDefs[Zed]", "Zed", Picture::NotCompared);
        tree_.CountFilteredOut("TableDefs[tmp]");
        report_.tree = &tree_;
        report_.messages = &messages_;
        report_.completed = false;
        report_.summary = Summarize(tree_);
        report_.summary.complete = false;
    }

    MemoryResultTree tree_;
    std::vector<Message> messages_;
    RunReport report_;
};

TEST_F(TreeTest, RowCountsAndUnfinishedObjectsReachTheSummary) {
    EXPECT_EQ(report_.summary.rows, (RowCounts{2, 1, 3, 50}));
    EXPECT_EQ(report_.summary.notCompared, 1);
    EXPECT_EQ(report_.summary.differing[static_cast<std::size_t>(Level::TableDefs)], 2)
        << "rows are counted as rows, not as objects";
    EXPECT_EQ(SummaryText(report_.summary),
              "2 tables differ; 1 object not compared; rows: 2 only in database 1, 1 only in "
              "database 2, 3 changed, 50 same; 1 object left out by filters; the comparison "
              "stopped before its end");
}

TEST_F(TreeTest, TextTellsRowsAndUnfinishedObjects) {
    EXPECT_EQ(
        FormatTreeText(report_, {}),
        "differs       Databases\n"
        "differs         table Orders: rows: 2 only in database 1, 1 only in database 2, 3 "
        "changed\n"
        "differs           7: only in database 1\n"
        "differs           9: Total 5 → 6\n"
        "differs         table Wide: A 1 → 2, B 1 → 2, C 1 → 2, D 1 → 2, E 1 → 2, F 1 → 2, G 1 "
        "→ 2, H 1 → 2 and 3 more properties\n"
        "not compared    table Zed\n"
        "incomplete: the comparison stopped at an error; \"not compared\" marks what it did not "
        "finish\n"
        "Summary: 2 tables differ; 1 object not compared; rows: 2 only in database 1, 1 "
        "only in database 2, 3 changed, 50 same; 1 object left out by filters; the "
        "comparison stopped before its end\n");
}

TEST_F(TreeTest, HtmlShowsRowsAsATableAndMarksUnfinishedObjects) {
    std::ostringstream out;
    WriteHtmlReport(out, report_, nullptr);
    const std::string html = out.str();
    for (const char* part : {
             "<table class=\"rows\">",
             "<tr class=\"only1\" data-key=\"TableDefs[Orders].Rows[7]\"><td>7</td>"
             "<td class=\"value\">only in database 1</td>",
             "<tr class=\"changed\" data-key=\"TableDefs[Orders].Rows[9]\"><td>9</td>"
             "<td class=\"value\">Total 5 → 6</td>",
             "<table id=\"row-counts\">",
             "<td>2</td><td>1</td><td>3</td><td>50</td>",
             "<li class=\"node not-compared\" data-key=\"TableDefs[Zed]\" "
             "data-state=\"not-compared\"",
             "<td id=\"not-compared\">1</td>",
             "<td id=\"filtered-out\">1</td>",
             "class=\"outcome-stopped\"",
         }) {
        EXPECT_NE(html.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(html.find("li class=\"node differs\" data-key=\"TableDefs[Orders].Rows"),
              std::string::npos)
        << "rows are table lines, not tree nodes";
    EXPECT_NE(html.find("<li class=\"node same quiet\" data-key=\"TableDefs[Stock]\""),
              std::string::npos)
        << "a branch that is all the same hides with Differences only";

    MemoryResultTree same;
    same.AddNode("", "Databases", "Databases", Picture::DatabasesSame);
    report_.tree = &same;
    std::ostringstream sameOut;
    WriteHtmlReport(sameOut, report_, nullptr);
    EXPECT_NE(sameOut.str().find("<li class=\"node same\" data-key=\"Databases\""),
              std::string::npos)
        << "the root shows even when everything is the same";
}

}  // namespace
}  // namespace kesmark::cli
