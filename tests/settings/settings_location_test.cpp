// Where the programs find their settings file, step by step.

#include "settings/settings_location.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

namespace fs = std::filesystem;

class SettingsLocationTest : public ::testing::Test {
  protected:
    SettingsLocationTest() {
        fs::create_directories(dir_ / "usr" / "bin");
        environment_.programFolder = dir_ / "usr" / "bin";
        environment_.home = dir_ / "home";
        environment_.shippedDefault = dir_ / "usr" / "share" / "kesmark" / "Kesmark.ini";
    }
    test::TempDir dir_;
    SettingsEnvironment environment_;
};

TEST_F(SettingsLocationTest, EachStepInTurn) {
    const fs::path beside = environment_.programFolder / "Kesmark.ini";
    struct Case {
        const char* scenario;
        std::optional<fs::path> explicitFile;
        bool fileBeside;
        fs::path xdgConfigHome;
        fs::path expected;
    };
    const std::vector<Case> cases = {
        {"--settings wins over a file beside the program", dir_ / "mine.ini", true, "",
         dir_ / "mine.ini"},
        {"--settings names a file that is not there yet", dir_ / "new.ini", false, "",
         dir_ / "new.ini"},
        {"a file beside the program: a portable set-up", std::nullopt, true, dir_ / "xdg", beside},
        {"XDG_CONFIG_HOME", std::nullopt, false, dir_ / "xdg",
         dir_ / "xdg" / "kesmark" / "Kesmark.ini"},
        {"no XDG_CONFIG_HOME: ~/.config", std::nullopt, false, "",
         dir_ / "home" / ".config" / "kesmark" / "Kesmark.ini"},
        {"a relative XDG_CONFIG_HOME is ignored", std::nullopt, false, "relative/config",
         dir_ / "home" / ".config" / "kesmark" / "Kesmark.ini"},
    };
    for (const auto& c : cases) {
        fs::remove(beside);
        if (c.fileBeside) {
            test::WriteFile(beside, "[General]\n");
        }
        environment_.xdgConfigHome = c.xdgConfigHome;
        const SettingsLocation found = FindSettings(c.explicitFile, environment_);
        EXPECT_EQ(found.file, c.expected) << c.scenario;
        EXPECT_EQ(found.fallback, environment_.shippedDefault)
            << c.scenario << ": the shipped default stands behind every choice";
    }
}

TEST(SettingsEnvironment, ComesFromTheVariablesAndTheProgramsFolder) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", "/somewhere/config", 1);
    const SettingsEnvironment environment = CurrentSettingsEnvironment();
    if (saved) {
        ::setenv("XDG_CONFIG_HOME", savedValue.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
    EXPECT_EQ(environment.xdgConfigHome, "/somewhere/config");
    EXPECT_FALSE(environment.home.empty());
    // The test program sits in the build folder's bin/, and the build places
    // the shipped default in share/kesmark/ beside it, as an installation does.
    EXPECT_EQ(environment.programFolder.filename(), "bin");
    EXPECT_EQ(environment.shippedDefault,
              (environment.programFolder / ".." / "share" / "kesmark" / "Kesmark.ini")
                  .lexically_normal());
}

}  // namespace
}  // namespace kesmark
