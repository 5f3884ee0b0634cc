#include <gtest/gtest.h>

#include "settings/option_lists.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

class OptionListsTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::filesystem::path path_ = dir_ / "Kesmark.ini";
    IniFile ini_{path_};
};

TEST_F(OptionListsTest, StoredListsReadPositionsOneToNumSkipOnly) {
    test::WriteFile(path_,
                    "[TableDefs]\nNumSkip=2\nSkip1=A\nSkip2=B\nSkip3=C\n"
                    "[Indexes]\nNumSkip=3\nSkip1=A\nSkip3=C\n"
                    "[Queries]\nNumSkip=-2\nSkip1=A\n");
    EXPECT_EQ(ReadStoredList(ini_, "TableDefs"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ReadStoredList(ini_, "Indexes"), (std::vector<std::string>{"A", "", "C"}));
    EXPECT_TRUE(ReadStoredList(ini_, "Queries").empty());
    EXPECT_TRUE(ReadStoredList(ini_, "Missing").empty());
}

TEST_F(OptionListsTest, SkipListJoinsStrictAndDataListsAsTheSwitchesSay) {
    test::WriteFile(path_,
                    "[TableDefs]\nNumSkip=1\nSkip1=Name\n"
                    "[Strict]\nNumSkip=2\nSkip1=DateCreated\nSkip2=Name\n"
                    "[Data]\nNumSkip=1\nSkip1=RecordCount\n");
    using L = std::vector<std::string>;
    EXPECT_EQ(LoadSkipList(ini_, "TableDefs", {false, false}),
              (L{"Name", "DateCreated", "Name", "RecordCount"}));
    EXPECT_EQ(LoadSkipList(ini_, "TableDefs", {true, false}), (L{"Name", "RecordCount"}));
    EXPECT_EQ(LoadSkipList(ini_, "TableDefs", {false, true}), (L{"Name", "DateCreated", "Name"}));
    EXPECT_EQ(LoadSkipList(ini_, "TableDefs", {true, true}), (L{"Name"}));
}

TEST_F(OptionListsTest, WritingAShorterListLeavesHigherKeysUnread) {
    ASSERT_TRUE(WriteStoredList(ini_, "Data", {"A", "B", "C"}));
    ASSERT_TRUE(WriteStoredList(ini_, "Data", {"X"}));
    EXPECT_EQ(ReadStoredList(ini_, "Data"), std::vector<std::string>{"X"});
    EXPECT_EQ(ini_.ReadIniString("Data", "Skip3"), "C");
}

TEST_F(OptionListsTest, CompareFlagIsAnyNonZeroNumber) {
    test::WriteFile(path_,
                    "[TableDefs]\nCompare=2\n[QueryDefs]\nCompare=0\n[Relations]\nCompare=\n");
    EXPECT_TRUE(CompareFlag(ini_, "TableDefs"));
    EXPECT_FALSE(CompareFlag(ini_, "QueryDefs"));
    EXPECT_FALSE(CompareFlag(ini_, "Relations"));
    EXPECT_FALSE(CompareFlag(ini_, "Containers"));
}

TEST(DefaultSettings, CompareEverythingAndSkipWhatNamesTheFile) {
    test::TempDir dir;
    const IniFile ini(test::DefaultSettings(dir.Path()));
    for (auto tag : kCollectionTags) {
        EXPECT_TRUE(CompareFlag(ini, tag)) << tag;
    }
    const auto databases = ReadStoredList(ini, "Databases");
    for (const char* name : {"Name", "Connect", "DataSourceName", "DatabaseName", "ServerName"}) {
        EXPECT_NE(std::find(databases.begin(), databases.end(), name), databases.end()) << name;
    }
    const auto data = ReadStoredList(ini, "Data");
    EXPECT_NE(std::find(data.begin(), data.end(), "RecordCount"), data.end());
}

TEST_F(OptionListsTest, FilterPatternsReadAndWriteTheFilterSection) {
    test::WriteFile(path_,
                    "[Filter]\nNumInclude=2\nInclude1=TableDefs[tmp_*]\nInclude2=QueryDefs[q]\n"
                    "NumExclude=3\nExclude1=QueryDefs[~sq_*]\nExclude3=TableDefs[x]\n");
    const FilterPatterns read = ReadFilterPatterns(ini_);
    EXPECT_EQ(read.include, (std::vector<std::string>{"TableDefs[tmp_*]", "QueryDefs[q]"}));
    EXPECT_EQ(read.exclude, (std::vector<std::string>{"QueryDefs[~sq_*]", "TableDefs[x]"}))
        << "a missing entry is no pattern";
    EXPECT_EQ(IniComparisonOptions(ini_).Filters(), read);

    const FilterPatterns written{{}, {"TableDefs[a]]b]"}};
    ASSERT_TRUE(WriteFilterPatterns(ini_, written));
    EXPECT_EQ(ReadFilterPatterns(ini_), written);
    EXPECT_EQ(ini_.ReadIniString("Filter", "NumInclude", ""), "0");

    test::WriteFile(path_, "[TableDefs]\nCompare=1\n");
    EXPECT_EQ(ReadFilterPatterns(ini_), FilterPatterns{}) << "no section, no filter";
}

}  // namespace
}  // namespace kesmark
