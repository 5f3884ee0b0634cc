#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

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
    // A file the program writes is its owner's alone, even one placed
    // readable by all (it now holds the last connect strings).
    ::chmod(path_.c_str(), 0644);
    ASSERT_TRUE(ini_.WriteIniString("General", "Connect2", "x"));
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
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

TEST_F(IniFileTest, HighestNumberedKeyCountsOnlyPlainNumbers) {
    test::WriteFile(path_,
                    "[Data]\nNumSkip=9\nSkip1=a\nSkip7=b\nskip3=c\nSkip012=d\nSkip0=e\n"
                    "SkipX=f\n[Other]\nSkip40=g\n");
    const auto now = ini_.Now();
    EXPECT_EQ(now.HighestNumberedKey("data", "SKIP"), 7);
    EXPECT_EQ(now.HighestNumberedKey("Other", "Skip"), 40);
    EXPECT_EQ(now.HighestNumberedKey("Missing", "Skip"), 0);
}

// What the shipped default says, standing behind a file that cannot be used.
constexpr std::string_view kFallback = "[TableDefs]\nCompare=1\n";

class UnusableSettingsTest : public IniFileTest {
  protected:
    UnusableSettingsTest() {
        test::WriteFile(fallback_, kFallback);
        withFallback_.SetProblemHandler([this](const std::string& m) { messages_.push_back(m); });
    }
    std::filesystem::path fallback_ = dir_ / "shipped.ini";
    IniFile withFallback_{path_, fallback_};
    std::vector<std::string> messages_;
};

TEST_F(UnusableSettingsTest, AreSaidOnceAndTheDefaultsUsed) {
    struct Case {
        const char* scenario;
        std::function<void(const std::filesystem::path&)> make;
        const char* cause;
    };
    const std::vector<Case> cases = {
        {"a folder", [](const auto& p) { std::filesystem::create_directory(p); },
         "is a folder, not a file"},
        {"a link that leads back to itself",
         [](const auto& p) { std::filesystem::create_symlink(p.filename(), p); },
         "cannot be read: Too many levels of symbolic links"},
        {"a line that is no setting",
         [](const auto& p) {
             test::WriteFile(p, "[TableDefs]\nCompare=0\nthis is not a setting\n");
         },
         "line 3 'this is not a setting' is neither a [section], a key=value line nor a "
         "comment"},
        {"a section never closed",
         [](const auto& p) { test::WriteFile(p, "[TableDefs\nCompare=0\n"); },
         "line 1 '[TableDefs' opens a section without closing it with ']'"},
        {"a key before any section",
         [](const auto& p) { test::WriteFile(p, "Compare=0\n[TableDefs]\n"); },
         "line 1 'Compare=0' stands before the first [section]"},
        {"binary bytes",
         [](const auto& p) { test::WriteFile(p, std::string("[TableDefs]\nCompare=0\0\1", 23)); },
         "holds a NUL byte, so it is not a text file"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(path_);
        messages_.clear();
        c.make(path_);
        EXPECT_EQ(withFallback_.ReadIniInt("TableDefs", "Compare", 7), 1) << c.scenario;
        EXPECT_EQ(withFallback_.ReadIniInt("TableDefs", "Compare", 7), 1) << c.scenario;
        ASSERT_EQ(messages_.size(), 1u) << c.scenario << ": said once, not at every read";
        EXPECT_EQ(messages_[0], "The settings file '" + path_.string() + "' " + c.cause +
                                    ". Kesmark goes on with the default settings ('" +
                                    fallback_.string() + "').")
            << c.scenario;

        // Without a shipped default, the reads give their own defaults.
        IniFile alone(path_);
        std::vector<std::string> said;
        alone.SetProblemHandler([&said](const std::string& m) { said.push_back(m); });
        EXPECT_EQ(alone.ReadIniInt("TableDefs", "Compare", 7), 7) << c.scenario;
        ASSERT_EQ(said.size(), 1u) << c.scenario;
        EXPECT_NE(said[0].find("goes on with empty settings"), std::string::npos) << said[0];
    }
}

TEST_F(UnusableSettingsTest, AnUnreadableFileIsSaidAndNeverOverwritten) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root, which reads any file whatever its mode (the link "
                        "and folder cases of AreSaidOnceAndTheDefaultsUsed cover root)";
    }
    test::WriteFile(path_, "[General]\nDatabase1=mine.db\n[TableDefs]\nCompare=0\n");
    ::chmod(path_.c_str(), 0);
    EXPECT_EQ(withFallback_.ReadIniInt("TableDefs", "Compare"), 1);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_NE(messages_[0].find("cannot be read: Permission denied"), std::string::npos);
    // A write would replace lines it could not read: it is refused.
    EXPECT_FALSE(withFallback_.WriteIniString("General", "Database2", "x"));
    ::chmod(path_.c_str(), 0600);
    EXPECT_EQ(IniFile(path_).ReadIniString("General", "Database1"), "mine.db");
}

TEST_F(UnusableSettingsTest, AMendedFileIsReadAgainAndANewProblemSaid) {
    test::WriteFile(path_, "garbage\n");
    EXPECT_EQ(withFallback_.ReadIniInt("TableDefs", "Compare"), 1);
    test::WriteFile(path_, "[TableDefs]\nCompare=0\n");
    EXPECT_EQ(withFallback_.ReadIniInt("TableDefs", "Compare"), 0);
    test::WriteFile(path_, "garbage again\n");
    EXPECT_EQ(withFallback_.ReadIniInt("TableDefs", "Compare"), 1);
    EXPECT_EQ(messages_.size(), 2u);
}

TEST_F(UnusableSettingsTest, TheFallbackIsReadUntilTheFirstWriteCreatesTheFileFromIt) {
    const auto nested = dir_ / "config" / "kesmark" / "Kesmark.ini";
    IniFile ini(nested, fallback_);
    EXPECT_EQ(ini.ReadIniInt("TableDefs", "Compare"), 1);
    EXPECT_FALSE(std::filesystem::exists(nested)) << "a read creates nothing";

    ASSERT_TRUE(ini.WriteIniString("General", "Database1", "a.db"));
    EXPECT_EQ(test::ReadFile(nested), std::string(kFallback) + "\n[General]\nDatabase1=a.db\n");
    EXPECT_EQ(test::ReadFile(fallback_), kFallback) << "the shipped default is never written";
    struct stat info {};
    ASSERT_EQ(::stat(nested.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600);
    ASSERT_EQ(::stat(nested.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700) << "a folder the program makes is private";

    // From now on the file itself is read, the fallback no more.
    test::WriteFile(fallback_, "[TableDefs]\nCompare=5\n");
    EXPECT_EQ(ini.ReadIniInt("TableDefs", "Compare"), 1);
    EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace kesmark
