// kesmark-diff's command-line conventions, settings that cannot be used, and
// passwords kept off the command line, end to end.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kShop =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER REFERENCES Customers(ID));";

class CliOptionsTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    fs::path settings_ = test::DefaultSettings(dir_.Path());
    std::string a_ = test::MakeSqlite(dir_ / "a.db", kShop).string();
    std::string b_ =
        test::MakeSqlite(dir_ / "b.db", std::string(kShop) + "CREATE TABLE Extra(x);").string();
};

TEST_F(CliOptionsTest, UsageVersionAndRefusedArguments) {
    struct Case {
        const char* scenario;
        std::vector<std::string> args;
        int exitCode;
        std::string outStart;
        std::string errStart;
    };
    const std::string version = "kesmark-diff " + std::to_string(KESMARK_VERSION_MAJOR) + "." +
                                std::to_string(KESMARK_VERSION_MINOR) + "." +
                                std::to_string(KESMARK_VERSION_PATCH) + "\n";
    const std::vector<Case> cases = {
        {"-h", {"-h"}, 0, "Usage: kesmark-diff", ""},
        {"--help among other arguments", {"a.db", "--help"}, 0, "Usage: kesmark-diff", ""},
        {"--version", {"--version"}, 0, version, ""},
        {"an unknown short option is no file name",
         {"-x", a_, b_},
         2,
         "",
         "kesmark-diff: unknown option -x\n\nUsage: kesmark-diff"},
        {"an unknown long option with a value",
         {"--colour=always", a_, b_},
         2,
         "",
         "kesmark-diff: unknown option --colour=always\n"},
        {"an option with nothing after its equals sign",
         {"--settings=", a_, b_},
         2,
         "",
         "kesmark-diff: --settings needs a value\n"},
        {"an option without its value", {a_, b_, "--show"}, 2, "", "kesmark-diff: --show"},
        {"one database", {a_}, 2, "", "kesmark-diff: two databases are needed\n"},
        {"three databases", {a_, b_, a_}, 2, "", "kesmark-diff: too many arguments\n"},
    };
    for (const auto& c : cases) {
        const auto result = test::RunDiff(c.args);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.scenario << "\n" << result.err;
        EXPECT_EQ(result.out.substr(0, c.outStart.size()), c.outStart) << c.scenario;
        EXPECT_EQ(result.err.substr(0, c.errStart.size()), c.errStart) << c.scenario;
        if (c.exitCode == 2) {
            EXPECT_NE(result.err.find("Usage: kesmark-diff"), std::string::npos) << c.scenario;
        }
    }
    // A name after "--" is a database even when it begins with "-".
    const auto dashed = test::RunDiff({"--settings", settings_.string(), "--", "-x", b_});
    EXPECT_EQ(dashed.exitCode, 2);
    EXPECT_NE(dashed.err.find("Could not find file '-x'"), std::string::npos) << dashed.err;
}

TEST_F(CliOptionsTest, LongOptionsTakeTheirValueAfterAnEqualsSign) {
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> pairs = {
        {{"--settings", settings_.string(), a_, b_}, {"--settings=" + settings_.string(), a_, b_}},
        {{"--json", "--show", "TableDefs[Orders]", "--settings", settings_.string(), a_, b_},
         {"--json", "--show=TableDefs[Orders]", "--settings=" + settings_.string(), a_, b_}},
        {{"--settings", settings_.string(), "--connect1", "ODBC;DSN=nowhere;", "x", b_},
         {"--settings=" + settings_.string(), "--connect1=ODBC;DSN=nowhere;", "x", b_}},
    };
    for (const auto& [spaced, joined] : pairs) {
        const auto expected = test::RunDiff(spaced);
        const auto actual = test::RunDiff(joined);
        EXPECT_EQ(actual.exitCode, expected.exitCode) << joined[0];
        EXPECT_EQ(actual.out, expected.out) << joined[0];
        EXPECT_EQ(actual.err, expected.err) << joined[0];
        EXPECT_FALSE(expected.out.empty()) << joined[0];
    }
    // The last of a repeated option holds.
    const auto repeated = test::RunDiff({"--settings=" + (dir_ / "nowhere.ini").string(),
                                         "--settings=" + settings_.string(), a_, b_});
    EXPECT_EQ(repeated.exitCode, 1) << repeated.err;
}

TEST_F(CliOptionsTest, IgnoreCaseMatchesNamesThatDifferOnlyInLetterCase) {
    const auto upper =
        test::MakeSqlite(dir_ / "upper.db",
                         "CREATE TABLE Album(AlbumId INTEGER PRIMARY KEY, Title TEXT);"
                         "INSERT INTO Album VALUES(1, 'Abbey Road'), (2, 'Help');");
    const auto lower =
        test::MakeSqlite(dir_ / "lower.db",
                         "CREATE TABLE album(albumid INTEGER PRIMARY KEY, title TEXT);"
                         "INSERT INTO album VALUES(1, 'Abbey Road'), (2, 'Help!');");
    auto nodeKeys = [](const std::string& json) {
        std::vector<std::string> keys;
        const auto doc = nlohmann::json::parse(json);
        for (const auto& node : doc["nodes"]) {
            keys.push_back(node["key"].get<std::string>());
        }
        return keys;
    };
    auto has = [](const std::vector<std::string>& keys, const std::string& key) {
        return std::find(keys.begin(), keys.end(), key) != keys.end();
    };
    const auto byName = test::RunDiff(
        {"--json", "--data", "--settings", settings_.string(), upper.string(), lower.string()});
    ASSERT_EQ(byName.exitCode, 1) << byName.err;
    EXPECT_TRUE(has(nodeKeys(byName.out), "TableDefs[Album]"));
    EXPECT_TRUE(has(nodeKeys(byName.out), "TableDefs[album]"));

    // One table, read in database 2 by its own names; the changed row is
    // found by key.
    const auto ignoring = test::RunDiff({"--json", "--data", "--ignore-case", "--settings",
                                         settings_.string(), upper.string(), lower.string()});
    ASSERT_EQ(ignoring.exitCode, 1) << ignoring.err;
    const auto keys = nodeKeys(ignoring.out);
    EXPECT_TRUE(has(keys, "TableDefs[Album]"));
    EXPECT_FALSE(has(keys, "TableDefs[album]"));
    EXPECT_TRUE(has(keys, "TableDefs[Album].Fields[Title]"));
    EXPECT_TRUE(has(keys, "TableDefs[Album].Rows[2]")) << ignoring.out;
    EXPECT_FALSE(has(keys, "TableDefs[Album].Rows[1]"));
}

// Runs kesmark-diff with standard output and error on a terminal (a
// pseudo-terminal made by script(1)) and returns what it drew.
std::string OnATerminal(const std::vector<std::string>& args) {
    std::string command = std::string(KESMARK_DIFF_PATH);
    for (const auto& arg : args) {
        command += " '" + arg + "'";
    }
    const std::string shell = "script -qec \"" + command + "\" /dev/null 2>&1";
    std::string output;
    if (std::FILE* pipe = ::popen(shell.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return output;
}

TEST_F(CliOptionsTest, QuietDrawsNoStatusLine) {
    const std::string drawn = OnATerminal({"--settings", settings_.string(), a_, b_});
    EXPECT_NE(drawn.find("[100%] Done"), std::string::npos) << drawn;
    const std::string quiet = OnATerminal({"--quiet", "--settings", settings_.string(), a_, b_});
    EXPECT_EQ(quiet.find('%'), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("Databases"), std::string::npos) << quiet;
}

TEST_F(CliOptionsTest, UnusableSettingsAreSaidAndTheShippedDefaultsUsed) {
    const auto withDefaults = test::RunDiff({"--settings", settings_.string(), a_, b_});
    ASSERT_EQ(withDefaults.exitCode, 1) << withDefaults.err;
    // The build places the shipped default beside bin/ as an installation does.
    const fs::path shipped =
        (fs::path(KESMARK_DIFF_PATH).parent_path() / ".." / "share" / "kesmark" / "Kesmark.ini")
            .lexically_normal();

    fs::create_directory(dir_ / "folder.ini");
    test::WriteFile(dir_ / "garbage.ini", "[TableDefs]\nCompare=0\nnot a setting\n");
    const std::vector<std::pair<fs::path, std::string>> cases = {
        {dir_ / "folder.ini", "is a folder, not a file"},
        {dir_ / "garbage.ini",
         "line 3 'not a setting' is neither a [section], a key=value line nor a comment"},
    };
    for (const auto& [file, cause] : cases) {
        const auto result = test::RunDiff({"--settings", file.string(), a_, b_});
        EXPECT_EQ(result.exitCode, 1) << file;
        EXPECT_EQ(result.out, withDefaults.out) << file << ": compared as the defaults say";
        EXPECT_EQ(result.err, "Kesmark: The settings file '" + file.string() + "' " + cause +
                                  ". Kesmark goes on with the default settings ('" +
                                  shipped.string() + "').\n");

        const auto json = test::RunDiff({"--json", "--settings", file.string(), a_, b_});
        const auto messages = nlohmann::json::parse(json.out)["messages"];
        ASSERT_EQ(messages.size(), 1u) << json.out;
        EXPECT_NE(messages[0]["text"].get<std::string>().find(cause), std::string::npos);
    }
}

// Sets the environment variables of kesmark-diff's password for one test.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
    ~ScopedVariable() { ::unsetenv(name_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
};

TEST_F(CliOptionsTest, PasswordsComeFromAFileOrTheEnvironmentAndNeverShow) {
    const std::string secret = "Pw-From-Outside-42";
    test::WriteFile(dir_ / "password", secret + "\nsecond line ignored\n");
    const std::string connect = "ODBC;DSN=kesmark_nowhere;UID=me;";
    struct Case {
        const char* scenario;
        std::vector<std::string> args;
        const char* variable;
        std::string database2;
    };
    const std::vector<Case> cases = {
        {"--password2-file",
         {"--password2-file", (dir_ / "password").string(), a_, connect},
         nullptr,
         connect + "PWD=***"},
        {"--password2-file=",
         {"--password2-file=" + (dir_ / "password").string(), a_, connect},
         nullptr,
         connect + "PWD=***"},
        {"KESMARK_PWD2", {a_, connect}, "KESMARK_PWD2", connect + "PWD=***"},
        {"KESMARK_PWD1 is for the other side", {a_, connect}, "KESMARK_PWD1", connect},
        {"the connect string's own PWD wins",
         {"--password2-file", (dir_ / "password").string(), a_, connect + "PWD=own;"},
         nullptr,
         connect + "PWD=***;"},
        {"the same text as another value is hidden there too",
         {a_, "ODBC;DSN=kesmark_nowhere;UID=" + secret + ";"},
         "KESMARK_PWD2",
         "ODBC;DSN=kesmark_nowhere;UID=***;PWD=***"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--json", "--settings", settings_.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = [&] {
            if (c.variable) {
                ScopedVariable variable(c.variable, secret.c_str());
                return test::RunDiff(args);
            }
            return test::RunDiff(args);
        }();
        EXPECT_EQ(result.exitCode, 2) << c.scenario << ": the data source does not exist";
        EXPECT_EQ(nlohmann::json::parse(result.out)["database2"], c.database2) << c.scenario;
        EXPECT_EQ((result.out + result.err).find(secret), std::string::npos) << c.scenario;
    }
}

TEST_F(CliOptionsTest, PasswordFilesThatCannotServeAreRefused) {
    const std::string connect = "ODBC;DSN=kesmark_nowhere;";
    fs::create_directory(dir_ / "folder");
    test::WriteFile(dir_ / "password", "pw\n");
    struct Case {
        const char* scenario;
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"a missing file",
         {"--password1-file", (dir_ / "none").string(), connect, b_},
         "kesmark-diff: cannot read the password file '" + (dir_ / "none").string() +
             "': No such file or directory\n"},
        {"a folder",
         {"--password1-file", (dir_ / "folder").string(), connect, b_},
         "kesmark-diff: cannot read the password file '" + (dir_ / "folder").string() +
             "': it is a folder\n"},
        {"a password for a database file",
         {"--password2-file", (dir_ / "password").string(), connect, b_},
         "kesmark-diff: --password2-file is given, but database 2 is not an ODBC connect "
         "string\n"},
    };
    for (const auto& c : cases) {
        const auto result = test::RunDiff(c.args);
        EXPECT_EQ(result.exitCode, 2) << c.scenario;
        EXPECT_EQ(result.err, c.err) << c.scenario;
        EXPECT_EQ(result.out, "") << c.scenario;
    }
}

}  // namespace
}  // namespace kesmark
