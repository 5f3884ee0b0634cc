#include <gtest/gtest.h>

#include <set>

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

TEST_F(OptionListsTest, AHugeNumSkipIsBoundedByTheKeysPresent) {
    test::WriteFile(path_,
                    "[TableDefs]\nNumSkip=2147483647\nSkip1=A\nSkip3=C\n"
                    "[Indexes]\nNumSkip=99999999999999999999\n"
                    "[Strict]\nNumSkip=2147483647\nSkip2=B\n");
    EXPECT_EQ(ReadStoredList(ini_, "TableDefs"), (std::vector<std::string>{"A", "", "C"}));
    EXPECT_TRUE(ReadStoredList(ini_, "Indexes").empty());
    EXPECT_EQ(LoadSkipList(ini_, "TableDefs", {false, true}),
              (std::vector<std::string>{"A", "", "C", "", "B"}));
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

TEST_F(OptionListsTest, EngineListJoinsOnlyBetweenDatabasesOfTwoKinds) {
    test::WriteFile(path_,
                    "[TableFields]\nNumSkip=1\nSkip1=Name\n"
                    "[Engine]\nNumSkip=2\nSkip1=DeclaredType\nSkip2=TypeName\n");
    using L = std::vector<std::string>;
    ComparisonSwitches switches;
    EXPECT_EQ(LoadSkipList(ini_, "TableFields", switches), (L{"Name"}));
    switches.sameKind = false;
    EXPECT_EQ(LoadSkipList(ini_, "TableFields", switches), (L{"Name", "DeclaredType", "TypeName"}));
}

TEST_F(OptionListsTest, IgnoreNameCaseIsASettingTheCommandLineMayOverride) {
    IniComparisonOptions options(ini_);
    EXPECT_FALSE(options.IgnoreNameCase()) << "absent reads as 0";
    test::WriteFile(path_, "[General]\nIgnoreNameCase=1\n");
    EXPECT_TRUE(options.IgnoreNameCase()) << "read at each call";
    options.OverrideIgnoreNameCase(false);
    EXPECT_FALSE(options.IgnoreNameCase());
    test::WriteFile(path_, "[General]\nIgnoreNameCase=0\n");
    options.OverrideIgnoreNameCase(true);
    EXPECT_TRUE(options.IgnoreNameCase());
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

TEST_F(OptionListsTest, DataOptionsReadMatchRecordsAndMaxRows) {
    struct Case {
        const char* scenario;
        const char* data;
        RecordMatching matching;
        std::int64_t maxRows;
    };
    const Case cases[] = {
        {"nothing stored: by key, 1000 rows", "", RecordMatching::Key, 1000},
        {"Position in any letter case", "MatchRecords=position\n", RecordMatching::Position, 1000},
        {"Key", "MatchRecords=Key\nMaxRows=50\n", RecordMatching::Key, 50},
        {"an unknown word reads as Key", "MatchRecords=Rows\n", RecordMatching::Key, 1000},
        {"no rows at all", "MaxRows=0\n", RecordMatching::Key, 0},
        {"a negative count reads as 0", "MaxRows=-5\n", RecordMatching::Key, 0},
        {"text where a number belongs reads as 0", "MaxRows=many\n", RecordMatching::Key, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::WriteFile(path_, std::string("[Data]\nNumSkip=0\n") + c.data);
        const DataOptions data = IniComparisonOptions(ini_).Data();
        EXPECT_EQ(data.matching, c.matching);
        EXPECT_EQ(data.maxRows, c.maxRows);
    }
}

TEST_F(OptionListsTest, DataOptionsReadChecksumsAndTheirRangeSize) {
    struct Case {
        const char* scenario;
        const char* data;
        ChecksumUse checksums;
        std::int64_t rangeRows;
    };
    const Case cases[] = {
        {"nothing stored: Auto, ranges of 10000 rows", "", ChecksumUse::Auto, 10000},
        {"Off in any letter case", "Checksums=OFF\n", ChecksumUse::Off, 10000},
        {"an unknown word reads as Auto", "Checksums=never\n", ChecksumUse::Auto, 10000},
        {"a range size", "Checksums=Auto\nChecksumRangeRows=500\n", ChecksumUse::Auto, 500},
        {"a range of no rows reads as 1", "ChecksumRangeRows=0\n", ChecksumUse::Auto, 1},
        {"text where a number belongs reads as 1", "ChecksumRangeRows=big\n", ChecksumUse::Auto, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::WriteFile(path_, std::string("[Data]\nNumSkip=0\n") + c.data);
        const DataOptions data = IniComparisonOptions(ini_).Data();
        EXPECT_EQ(data.checksums, c.checksums);
        EXPECT_EQ(data.checksumRangeRows, c.rangeRows);
    }
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
    EXPECT_EQ(ini.ReadIniString("Data", "MatchRecords"), "Key");
    EXPECT_EQ(ini.ReadIniString("Data", "MaxRows"), "1000");
    EXPECT_FALSE(IgnoreNameCase(ini));
}

TEST(DefaultSettings, EngineListHoldsWhatOnlyOneKindOfDatabaseOffers) {
    test::TempDir dir;
    const IniFile ini(test::DefaultSettings(dir.Path()));
    const auto engine = ReadStoredList(ini, "Engine");
    auto listed = [&](const char* name) {
        return std::find(engine.begin(), engine.end(), name) != engine.end();
    };
    for (const char* name : {"DeclaredType", "Collation", "SQL", "TypeName", "ColumnWidth",
                             "Format", "DisplayControl", "Version", "DBMSName", "Clustered"}) {
        EXPECT_TRUE(listed(name)) << name << " is engine-only";
    }
    // What the vocabulary spells alike on every backend is compared across
    // engines.
    for (const char* name :
         {"Name",         "Type",        "Size",     "Required", "DefaultValue",    "Attributes",
          "TableType",    "Primary",     "Unique",   "Foreign",  "OrdinalPosition", "Table",
          "ForeignTable", "ForeignName", "OnUpdate", "OnDelete", "Updatable",       "Transactions",
          "Descending",   "Value"}) {
        EXPECT_FALSE(listed(name)) << name << " is portable";
    }
    EXPECT_EQ(std::set<std::string>(engine.begin(), engine.end()).size(), engine.size());
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
