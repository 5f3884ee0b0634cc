// What Apply writes for each page of the options dialog, the rows it loads
// and the rule for adding a name, on real settings files.

#include <gtest/gtest.h>

#include <regex>

#include "settings/options_model.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

using Names = std::vector<std::string>;

class OptionsModelTest : public ::testing::Test {
  protected:
    // The section names of the file, in file order.
    std::vector<std::string> Sections() const {
        const std::string text = test::ReadFile(path_);
        std::vector<std::string> sections;
        const std::regex header(R"(^\[([^\]]*)\]$)", std::regex::multiline);
        for (auto it = std::sregex_iterator(text.begin(), text.end(), header);
             it != std::sregex_iterator(); ++it) {
            sections.push_back((*it)[1]);
        }
        return sections;
    }

    std::size_t Position(const std::string& text) const { return test::ReadFile(path_).find(text); }

    test::TempDir dir_;
    std::filesystem::path path_ = dir_ / "Kesmark.ini";
    IniFile ini_{path_};
};

TEST_F(OptionsModelTest, SkipPageWithoutSelectionWritesTheThirteenFlagsOnly) {
    SkipPageState page;
    page.ticks.fill(true);
    page.ticks[1] = false;         // "Tables" unticked: compared
    page.rows = {{"Name", true}};  // a list shown for no node is not written

    ASSERT_TRUE(ApplySkipPage(ini_, page));

    EXPECT_EQ(Sections(), Names(kCollectionTags.begin(), kCollectionTags.end()));
    for (const auto tag : kCollectionTags) {
        EXPECT_EQ(ini_.ReadIniString(tag, "Compare"), tag == "TableDefs" ? "1" : "0") << tag;
    }
    EXPECT_EQ(Position("NumSkip"), std::string::npos);
    EXPECT_EQ(Position("Skip1"), std::string::npos);
}

TEST_F(OptionsModelTest, SkipPageWritesEveryFlagEvenUnchangedAndTheSelectedNodesTickedRows) {
    test::WriteFile(path_,
                    "[QueryFields]\nCompare=1\nNumSkip=3\nSkip1=X\nSkip2=Y\nSkip3=Z\n"
                    "[TableFields]\nCompare=1\nNumSkip=1\nSkip1=Size\n");
    SkipPageState page;
    page.ticks = ReadSkipTicks(ini_);
    page.selectedTag = "QueryFields";
    page.rows = {{"A", true}, {"B", false}, {"C", true}};

    ASSERT_TRUE(ApplySkipPage(ini_, page));

    EXPECT_EQ(ReadStoredList(ini_, "QueryFields"), (Names{"A", "C"}));
    EXPECT_EQ(ini_.ReadIniString("QueryFields", "Skip3"), "Z") << "a higher key stays, unread";
    EXPECT_EQ(ReadStoredList(ini_, "TableFields"), Names{"Size"}) << "another Fields node";
    EXPECT_EQ(ini_.ReadIniString("QueryFields", "Compare"), "1");
    EXPECT_EQ(ini_.ReadIniString("TableFields", "Compare"), "1");
    EXPECT_EQ(ini_.ReadIniString("Documents", "Compare"), "0");
}

TEST_F(OptionsModelTest, ListPageWritesTheEntriesThenTheCountAndNothingElse) {
    ASSERT_TRUE(ApplyListPage(ini_, kDataSection, {{"RecordCount", true}, {"Updatable", true}}));
    EXPECT_LT(Position("Skip1=RecordCount"), Position("Skip2=Updatable"));
    EXPECT_LT(Position("Skip2=Updatable"), Position("NumSkip=2"));
    EXPECT_EQ(Sections(), Names{"Data"});
}

TEST_F(OptionsModelTest, LoadedRowsAreTickedAndHoldEachNonEmptyNameOnce) {
    test::WriteFile(path_,
                    "[Data]\nNumSkip=5\nSkip1=Size\nSkip2=\nSkip4=Size\nSkip5=name\n"
                    "[Strict]\nNumSkip=1\nSkip1=Name\n");
    const OptionRows rows = ReadOptionRows(ini_, kDataSection);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].name, "Size");
    EXPECT_EQ(rows[1].name, "name");
    EXPECT_TRUE(rows[0].ticked && rows[1].ticked);
    EXPECT_TRUE(ReadOptionRows(ini_, "Records").empty());
}

TEST(AddOptionRow, FollowsTheRuleForEveryKindOfName) {
    struct Case {
        const char* scenario;
        std::string name;
        AddResult result;
        std::size_t row;
        std::size_t rowsAfter;
    };
    // Starting rows: "Name" ticked, "Size" unticked.
    const std::vector<Case> cases = {
        {"empty text does nothing", "", AddResult::Ignored, 0, 2},
        {"a new name is appended", "Format", AddResult::Added, 2, 3},
        {"an existing name is found, not added", "Size", AddResult::Existing, 1, 2},
        {"letter case makes another name", "size", AddResult::Added, 2, 3},
        {"blanks are part of the name", " Name", AddResult::Added, 2, 3},
        {"only blanks is a name", "  ", AddResult::Added, 2, 3},
        {"a line break is refused", "Na\nme", AddResult::Refused, 0, 2},
        {"a NUL is refused", std::string("Na\0me", 6), AddResult::Refused, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        OptionRows rows = {{"Name", true}, {"Size", false}};
        const AddOutcome outcome = AddOptionRow(rows, c.name);
        EXPECT_EQ(outcome.result, c.result);
        ASSERT_EQ(rows.size(), c.rowsAfter);
        EXPECT_FALSE(rows[1].ticked) << "an existing row keeps its tick";
        if (c.result == AddResult::Added || c.result == AddResult::Existing) {
            EXPECT_EQ(outcome.row, c.row);
            EXPECT_EQ(rows[outcome.row].name, c.name);
        }
        if (c.result == AddResult::Added) {
            EXPECT_TRUE(rows.back().ticked);
        }
    }
}

TEST(FilterRows, PatternsAreCheckedWhenAdded) {
    struct Case {
        const char* scenario;
        const char* pattern;
        AddResult result;
        std::string error;
    };
    const Case cases[] = {
        {"a table pattern", "TableDefs[tmp_*]", AddResult::Added, ""},
        {"the same again", "TableDefs[tmp_*]", AddResult::Existing, ""},
        {"nothing typed", "", AddResult::Ignored, ""},
        {"no brackets", "tmp_*", AddResult::Refused,
         "Pattern 'tmp_*' is not a node key such as TableDefs[tmp_*] (write names in brackets, "
         "doubling a bracket inside a name)."},
        {"the root", "Databases", AddResult::Refused,
         "Pattern 'Databases' names the databases, which are always compared."},
        {"a line break", "TableDefs[a\nb]", AddResult::Refused,
         "A pattern cannot contain a line break or a NUL character."},
    };
    OptionRows rows;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        std::string error;
        EXPECT_EQ(AddFilterRow(rows, c.pattern, error).result, c.result);
        EXPECT_EQ(error, c.error);
    }
    EXPECT_EQ(rows.size(), 1u);
}

}  // namespace
}  // namespace kesmark
