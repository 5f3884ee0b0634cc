#include <gtest/gtest.h>
#include <sys/stat.h>

#include "settings/ini_file.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

class IniFileTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::filesystem::path path_ = dir_ / "Kesmark.ini";
    IniFile ini_{path_};
};

TEST_F(IniFileTest, ReadsWithPrivateProfileSemantics) {
    test::WriteFile(path_,
                    "; a comment\n"
                    "[General]\n"
                    "  Database1 =   /data/one.db   \n"
                    "Connect1=\"  padded  \"\n"
                    "Quoted='x'\n"
                    "Half=\"x\n"
                    "database1=second occurrence\n"
                    "[general]\n"
                    "Database2=in a later section of the same name\n"
                    "[TableDefs]\r\n"
                    "Compare=2\r\n"
                    "NumSkip=  12abc\n"
                    "Bad=abc\n"
                    "Negative=-3\n");
    EXPECT_EQ(ini_.ReadIniString("GENERAL", "DATABASE1"), "/data/one.db");
    EXPECT_EQ(ini_.ReadIniString("General", "Connect1"), "  padded  ");
    EXPECT_EQ(ini_.ReadIniString("General", "Quoted"), "x");
    EXPECT_EQ(ini_.ReadIniString("General", "Half"), "\"x");
    EXPECT_EQ(ini_.ReadIniString("General", "Database2", "default"), "default");
    EXPECT_EQ(ini_.ReadIniString("General", "Missing", "default"), "default");
    EXPECT_EQ(ini_.ReadIniString("Nowhere", "Database1"), "");
    EXPECT_EQ(ini_.ReadIniInt("tabledefs", "compare"), 2);
    EXPECT_EQ(ini_.ReadIniInt("TableDefs", "NumSkip"), 12);
    EXPECT_EQ(ini_.ReadIniInt("TableDefs", "Bad", 7), 0);
    EXPECT_EQ(ini_.ReadIniInt("TableDefs", "Negative"), -3);
    EXPECT_EQ(ini_.ReadIniInt("TableDefs", "Missing", 5), 5);
}

TEST_F(IniFileTest, MissingFileReadsDefaultsAndIsNotCreated) {
    EXPECT_EQ(ini_.ReadIniString("General", "Database1", "d"), "d");
    EXPECT_EQ(ini_.ReadIniInt("TableDefs", "Compare", 0), 0);
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(IniFileTest, LongValuesAreCutTo1023BytesOnACharacterBoundary) {
    std::string ascii(1500, 'a');
    ASSERT_TRUE(ini_.WriteIniString("S", "K", ascii));
    EXPECT_EQ(ini_.ReadIniString("S", "K"), std::string(1023, 'a'));

    // 511 two-byte characters fill 1022 bytes; the 512th would cross 1023.
    std::string accents;
    for (int i = 0; i < 600; ++i) {
        accents += "\xC3\xA9";
    }
    ASSERT_TRUE(ini_.WriteIniString("S", "K", accents));
    EXPECT_EQ(ini_.ReadIniString("S", "K").size(), 1022u);
}

TEST_F(IniFileTest, WritingKeepsEveryOtherLineAndCreatesWhatIsMissing) {
    test::WriteFile(path_,
                    "; keep me\n"
                    "[General]\n"
                    "Database1=old\n"
                    "\n"
                    "# and me\n"
                    "[TableDefs]\n"
                    "Compare=1\n");
    ASSERT_TRUE(ini_.WriteIniString("general", "DATABASE1", "new"));
    ASSERT_TRUE(ini_.WriteIniString("General", "Connect1", "ODBC;DSN=x;"));
    ASSERT_TRUE(ini_.WriteIniString("Strict", "NumSkip", "0"));
    EXPECT_EQ(test::ReadFile(path_),
              "; keep me\n"
              "[General]\n"
              "DATABASE1=new\n"
              "Connect1=ODBC;DSN=x;\n"
              "\n"
              "# and me\n"
              "[TableDefs]\n"
              "Compare=1\n"
              "\n"
              "[Strict]\n"
              "NumSkip=0\n");
}

TEST_F(IniFileTest, ValuesRoundTripWhateverTheirBlanksAndQuotes) {
    for (std::string value : {"  lead", "trail  ", "\"quoted\"", "'single'", "", "a=b;c"}) {
        ASSERT_TRUE(ini_.WriteIniString("S", "K", value));
        EXPECT_EQ(ini_.ReadIniString("S", "K"), value);
    }
}

TEST_F(IniFileTest, RefusesWritesThatWouldBreakTheFile) {
    ASSERT_TRUE(ini_.WriteIniString("S", "K", "v"));
    const std::string before = test::ReadFile(path_);
    EXPECT_FALSE(ini_.WriteIniString("S", "K", "line\n[Injected]\nCompare=1"));
    EXPECT_FALSE(ini_.WriteIniString("S]", "K", "v"));
    EXPECT_FALSE(ini_.WriteIniString("S", "K=1", "v"));
    EXPECT_FALSE(ini_.WriteIniString("", "K", "v"));
    EXPECT_EQ(test::ReadFile(path_), before);
}

TEST_F(IniFileTest, NewFileIsPrivateAndWritesAreAtomic) {
    ASSERT_TRUE(ini_.WriteIniString("General", "Connect1", "ODBC;PWD=secret;"));
    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
    // No temporary file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_.Path())) {
        ++files;
    }
    EXPECT_EQ(files, 1);
    // An existing file keeps its mode.
    ::chmod(path_.c_str(), 0640);
    ASSERT_TRUE(ini_.WriteIniString("General", "Connect2", "x"));
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640);
}

TEST_F(IniFileTest, EveryReadSeesTheFileAsItIsNow) {
    ASSERT_TRUE(ini_.WriteIniString("TableDefs", "Compare", "1"));
    EXPECT_EQ(ini_.ReadIniInt("TableDefs", "Compare"), 1);
    IniFile other(path_);
    ASSERT_TRUE(other.WriteIniString("TableDefs", "Compare", "0"));  // same size, new content
    EXPECT_EQ(ini_.ReadIniInt("TableDefs", "Compare"), 0);
    std::filesystem::remove(path_);
    EXPECT_EQ(ini_.ReadIniInt("TableDefs", "Compare", 7), 7);
}

TEST_F(IniFileTest, AWriteThatCannotBeDoneReportsFalse) {
    IniFile nowhere(dir_ / "no-such-folder" / "Kesmark.ini");
    EXPECT_FALSE(nowhere.WriteIniString("General", "Database1", "x"));
}

}  // namespace
}  // namespace kesmark
