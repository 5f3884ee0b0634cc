// The installation as a user gets it: cmake --install into a DESTDIR, the
// installed kesmark-diff run from there, the Debian package, the man pages
// and the shell completion.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <set>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

namespace fs = std::filesystem;

const fs::path kBuild = KESMARK_BINARY_DIR;
const fs::path kSource = KESMARK_SOURCE_DIR;

// What a shell command printed (standard output and error) and its status.
struct Shell {
    int status = -1;
    std::string output;
};

Shell RunShell(const std::string& command) {
    Shell result;
    if (std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            result.output.append(buffer, n);
        }
        const int status = ::pclose(pipe);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

std::string Quote(const fs::path& path) {
    return "'" + path.string() + "'";
}

// One installation into a DESTDIR for the whole suite, with prefix /usr.
class Installed : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        destdir_ = new test::TempDir();
        install_ =
            new Shell(RunShell("DESTDIR=" + Quote(destdir_->Path()) + " " + KESMARK_CMAKE_COMMAND +
                               " --install " + Quote(kBuild) + " --prefix /usr"));
    }
    static void TearDownTestSuite() {
        delete install_;
        delete destdir_;
    }
    void SetUp() override { ASSERT_EQ(install_->status, 0) << install_->output; }

    static fs::path Usr() { return destdir_->Path() / "usr"; }
    static fs::path Program() { return Usr() / "bin" / "kesmark-diff"; }

    // The installed kesmark-diff, with a home and a config folder of the test.
    test::DiffResult RunInstalled(const std::vector<std::string>& args) const {
        return test::RunCommand(Program(), args,
                                {{"HOME", (home_ / "home").string()},
                                 {"XDG_CONFIG_HOME", (home_ / "config").string()},
                                 {"KESMARK_PWD1", std::nullopt},
                                 {"KESMARK_PWD2", std::nullopt}});
    }

    // The two releases of the demo shop, built from the demo's SQL.
    std::pair<std::string, std::string> DemoPair() const {
        return {test::MakeSqlite(home_ / "shop-v1.db",
                                 test::ReadFile(kSource / "scripts/demo/shop-v1.sql"))
                    .string(),
                test::MakeSqlite(home_ / "shop-v2.db",
                                 test::ReadFile(kSource / "scripts/demo/shop-v2.sql"))
                    .string()};
    }

    static test::TempDir* destdir_;
    static Shell* install_;
    test::TempDir home_;
};

test::TempDir* Installed::destdir_ = nullptr;
Shell* Installed::install_ = nullptr;

TEST_F(Installed, PutsEachFileInItsPlace) {
    struct Expected {
        const char* path;
        unsigned mode;
    };
    std::vector<Expected> expected = {
        {"bin/kesmark-diff", 0755},
        {"libexec/kesmark/kesmark-mdb-worker", 0755},
        {"share/kesmark/Kesmark.ini", 0644},
        {"share/man/man1/kesmark-diff.1.gz", 0644},
        {"share/bash-completion/completions/kesmark-diff", 0644},
        {"share/doc/kesmark/README.md", 0644},
    };
    if (KESMARK_HAS_GUI) {
        expected.insert(expected.end(), {{"bin/kesmark", 0755},
                                         {"share/man/man1/kesmark.1.gz", 0644},
                                         {"share/applications/kesmark.desktop", 0644},
                                         {"share/icons/hicolor/scalable/apps/kesmark.svg", 0644}});
    }
    for (const auto& file : expected) {
        struct stat info {};
        ASSERT_EQ(::stat((Usr() / file.path).c_str(), &info), 0) << file.path << " is missing";
        EXPECT_EQ(info.st_mode & 07777, file.mode) << file.path;
    }
    EXPECT_FALSE(fs::exists(Usr() / "bin" / "Kesmark.ini"))
        << "no settings beside installed programs: they are the portable set-up's";
    EXPECT_FALSE(fs::exists(Usr() / "bin" / "kesmark-mdb-worker"));
}

TEST_F(Installed, ComparesTheDemoPairWithTheShippedSettings) {
    const auto [v1, v2] = DemoPair();
    const auto installed = RunInstalled({"--data", v1, v2});
    EXPECT_EQ(installed.exitCode, 1) << installed.err;
    EXPECT_EQ(installed.err, "");
    const auto reference = test::RunDiff(
        {"--data", "--settings", (kSource / "settings/Kesmark.default.ini").string(), v1, v2});
    EXPECT_EQ(installed.out, reference.out);
    EXPECT_NE(installed.out.find("table Orders"), std::string::npos) << installed.out;
    EXPECT_FALSE(fs::exists(home_ / "config")) << "kesmark-diff never writes settings";
}

TEST_F(Installed, FindsTheAccessReaderInLibexec) {
    KESMARK_REQUIRE_SHARED_TESTDATA();
    std::vector<fs::path> access;
    for (const auto& entry : fs::directory_iterator(test::SharedTestData() / "access")) {
        if (entry.path().extension() == ".mdb" || entry.path().extension() == ".accdb") {
            access.push_back(entry.path());
        }
    }
    ASSERT_GE(access.size(), 1u);
    const auto run = RunInstalled({"--json", access[0].string(), access[0].string()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\"completed\": true"), std::string::npos) << run.out;

    // Without it, the message names where the reader was looked for.
    const fs::path reader = Usr() / "libexec" / "kesmark" / "kesmark-mdb-worker";
    fs::rename(reader, reader.string() + ".away");
    const auto without = RunInstalled({access[0].string(), access[0].string()});
    fs::rename(reader.string() + ".away", reader);
    EXPECT_EQ(without.exitCode, 2);
    EXPECT_NE(without.err.find("'" + reader.string() + "' cannot be started"), std::string::npos)
        << without.err;
}

TEST_F(Installed, FindsItsSettingsStepByStep) {
    const auto [v1, v2] = DemoPair();
    // A settings file that cannot be used names itself: which one was chosen
    // shows in the message.
    const auto said = [&](const std::vector<std::string>& args) -> std::string {
        std::vector<std::string> all = args;
        all.insert(all.end(), {v1, v2});
        const auto run = RunInstalled(all);
        const auto start = run.err.find("The settings file '");
        if (start == std::string::npos) {
            return "";
        }
        const auto end = run.err.find('\'', start + 19);
        return run.err.substr(start + 19, end - start - 19);
    };
    const fs::path xdg = home_ / "config" / "kesmark" / "Kesmark.ini";
    const fs::path beside = Usr() / "bin" / "Kesmark.ini";
    const fs::path explicitFile = home_ / "explicit.ini";
    fs::create_directories(xdg.parent_path());
    for (const auto& file : {xdg, beside, explicitFile}) {
        test::WriteFile(file, "unusable\n");
    }
    EXPECT_EQ(said({"--settings", explicitFile.string()}), explicitFile.string());
    EXPECT_EQ(said({}), beside.string()) << "beside the program comes before the user's";
    fs::remove(beside);
    EXPECT_EQ(said({}), xdg.string());

    // The user's file, once usable, is what the comparison follows.
    test::WriteFile(xdg, "[TableDefs]\nCompare=0\n");
    const auto run = RunInstalled({v1, v2});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.find("table "), std::string::npos) << run.out;
}

TEST(Package, HoldsTheInstalledFilesAndDependsOnItsLibraries) {
    if (RunShell("command -v dpkg-deb && command -v cpack").status != 0) {
        GTEST_SKIP() << "dpkg-deb or cpack is not installed";
    }
    test::TempDir output;
    const Shell made =
        RunShell((kSource / "scripts/package.sh").string() + " --no-build --build-dir " +
                 Quote(kBuild) + " --output " + Quote(output.Path()));
    ASSERT_EQ(made.status, 0) << made.output;
    fs::path deb;
    for (const auto& entry : fs::directory_iterator(output.Path())) {
        if (entry.path().extension() == ".deb") {
            deb = entry.path();
        }
    }
    ASSERT_FALSE(deb.empty()) << made.output;
    EXPECT_EQ(deb.filename().string().rfind("kesmark_", 0), 0u) << deb;

    const Shell listing = RunShell("dpkg-deb -c " + Quote(deb));
    ASSERT_EQ(listing.status, 0) << listing.output;
    std::vector<std::string> files = {
        "./usr/bin/kesmark-diff",
        "./usr/libexec/kesmark/kesmark-mdb-worker",
        "./usr/share/kesmark/Kesmark.ini",
        "./usr/share/man/man1/kesmark-diff.1.gz",
        "./usr/share/bash-completion/completions/kesmark-diff",
    };
    if (KESMARK_HAS_GUI) {
        files.insert(files.end(), {"./usr/bin/kesmark", "./usr/share/man/man1/kesmark.1.gz",
                                   "./usr/share/applications/kesmark.desktop",
                                   "./usr/share/icons/hicolor/scalable/apps/kesmark.svg"});
    }
    for (const auto& file : files) {
        EXPECT_NE(listing.output.find(" " + file + "\n"), std::string::npos)
            << file << " is not in the package:\n"
            << listing.output;
    }
    EXPECT_NE(listing.output.find("-rw-r--r-- root/root"), std::string::npos) << listing.output;

    // Depends as dpkg-shlibdeps found them: the libraries the programs link.
    const Shell depends = RunShell("dpkg-deb -f " + Quote(deb) + " Depends");
    for (const char* library : {"libc6", "libsqlite3-0", "libodbc2", "libmdb3"}) {
        EXPECT_NE(depends.output.find(library), std::string::npos)
            << library << " missing from Depends: " << depends.output;
    }
}

TEST(ManPages, RenderWithoutWarnings) {
    if (RunShell("command -v man").status != 0) {
        GTEST_SKIP() << "man is not installed";
    }
    for (const char* page : {"kesmark.1", "kesmark-diff.1"}) {
        const fs::path source = kSource / "packaging" / "man" / page;
        const Shell warnings = RunShell("LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l " +
                                        Quote(source) + " >/dev/null");
        EXPECT_EQ(warnings.status, 0) << page;
        EXPECT_EQ(warnings.output, "") << page;
        // The compressed page the build made renders as the source does.
        const Shell text = RunShell("LC_ALL=C.UTF-8 MANWIDTH=80 man -l " +
                                    Quote(kBuild / "share/man/man1" / (std::string(page) + ".gz")));
        EXPECT_EQ(text.status, 0) << page;
        for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES"}) {
            EXPECT_NE(text.output.find(std::string("\n") + section + "\n"), std::string::npos)
                << page << " lacks " << section;
        }
        EXPECT_NE(text.output.find("XDG_CONFIG_HOME"), std::string::npos) << page;
    }
}

TEST(BashCompletion, CompletesOptionsAndTheFilesTheyTake) {
    test::TempDir dir;
    test::WriteFile(dir / "shop.ini", "");
    test::WriteFile(dir / "shop.db", "");
    const std::string script =
        "source " + Quote(kSource / "packaging/bash-completion/kesmark-diff") +
        "\n"
        "try() { COMP_WORDS=(\"$@\"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kesmark_diff; "
        "echo \"${COMPREPLY[*]}\"; }\n"
        "cd " +
        Quote(dir.Path()) +
        "\n"
        "try " KESMARK_DIFF_PATH
        " --se\n"
        "try " KESMARK_DIFF_PATH
        " --pass\n"
        "try " KESMARK_DIFF_PATH
        " --settings shop.i\n"
        "try " KESMARK_DIFF_PATH
        " --settings = shop.i\n"
        "try " KESMARK_DIFF_PATH
        " --show ''\n"
        "try " KESMARK_DIFF_PATH
        " --match p\n"
        "try " KESMARK_DIFF_PATH " -- --s\n";
    test::WriteFile(dir / "try.sh", script);
    const Shell shell = RunShell("bash " + Quote(dir / "try.sh"));
    EXPECT_EQ(shell.output,
              "--settings\n"
              "--password1-file --password2-file\n"
              "shop.ini\n"
              "shop.ini\n"
              "\n"
              "position\n"
              "\n");
}

TEST(DesktopEntry, IsValid) {
    if (RunShell("command -v desktop-file-validate").status != 0) {
        GTEST_SKIP() << "desktop-file-validate is not installed";
    }
    const Shell check =
        RunShell("desktop-file-validate " + Quote(kSource / "packaging/kesmark.desktop"));
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(check.output, "");
}

}  // namespace
}  // namespace kesmark
