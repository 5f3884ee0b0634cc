// kesmark-diff's outputs end to end: the text tree with its reasons and
// summary, JSON format 2, the Markdown report, the filters and the exit
// statuses, on SQLite files the tests build.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

using Json = nlohmann::json;

// Release 1 and 2 of a small shop: Orders changes a field and loses one,
// Legacy goes, Extra comes, Customers stays as it is.
constexpr std::string_view kRelease1 =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, Total INTEGER, Note TEXT);"
    "CREATE TABLE Legacy(ID INTEGER);";
constexpr std::string_view kRelease2 =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, Total REAL);"
    "CREATE TABLE Extra(ID INTEGER);";

class ReportTest : public ::testing::Test {
  protected:
    ReportTest() {
        std::filesystem::create_directory(out_);
        // Only tables: the containers repeat every table as a document.
        test::SetIni(settings_, "Containers", "Compare", "0");
    }

    std::vector<std::string> Args(std::vector<std::string> options) const {
        options.insert(options.begin(), {"--settings", settings_.string()});
        options.push_back(a_.string());
        options.push_back(b_.string());
        return options;
    }

    using Path = std::filesystem::path;
    test::TempDir dir_;
    Path settings_ = test::DefaultSettings(dir_.Path());
    Path a_ = test::MakeSqlite(dir_ / "a.db", kRelease1);
    Path b_ = test::MakeSqlite(dir_ / "b.db", kRelease2);
    Path out_ = dir_ / "out";  // reports go here: the databases' folder must stay as it is
};

TEST_F(ReportTest, TextShowsOnlyWhatDiffersAndWhy) {
    const auto result = test::RunDiff(Args({}));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "differs  Databases\n"
              "differs    table Extra: only in database 2\n"
              "differs    table Legacy: only in database 1\n"
              "differs    table Orders: SQL (text differs at character 51)\n"
              "differs      field Note: only in database 1\n"
              "differs      field Total: DeclaredType INTEGER → REAL, Size 4 → 8, Type 4 → 7\n"
              "Summary: 3 tables, 2 fields differ (2 only in database 1, 1 only in database 2)\n");
}

TEST_F(ReportTest, AllPrintsEveryNode) {
    const auto result = test::RunDiff(Args({"--all"}));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out,
              "differs  Databases\n"
              "same       table Customers\n"
              "same         field ID\n"
              "same         field Name\n"
              "same         index sqlite_rowid\n"
              "same           field ID\n"
              "differs    table Extra: only in database 2\n"
              "differs    table Legacy: only in database 1\n"
              "differs    table Orders: SQL (text differs at character 51)\n"
              "same         field ID\n"
              "differs      field Note: only in database 1\n"
              "differs      field Total: DeclaredType INTEGER → REAL, Size 4 → 8, Type 4 → 7\n"
              "same         index sqlite_rowid\n"
              "same           field ID\n"
              "Summary: 3 tables, 2 fields differ (2 only in database 1, 1 only in database 2)\n");
}

TEST_F(ReportTest, SamePairPrintsTheRootAndNoDifferences) {
    const auto result = test::RunDiff({"--settings", settings_.string(), a_.string(), a_.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "same     Databases\nSummary: no differences\n");
}

TEST_F(ReportTest, ColourFollowsTheOptionAndTheEnvironment) {
    struct Case {
        const char* scenario;
        std::vector<std::string> options;
        bool coloured;
    };
    // Standard output is a file here, so "auto" never colours.
    const Case cases[] = {
        {"always colours a file", {"--color=always"}, true},
        {"always as a separate value", {"--color", "always"}, true},
        {"never", {"--color=never"}, false},
        {"auto on a file", {"--color=auto"}, false},
        {"the default is auto", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto result = test::RunDiff(Args(c.options));
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.out.find("\033[31mdiffers\033[0m") != std::string::npos, c.coloured);
        EXPECT_EQ(result.out.find('\033') != std::string::npos, c.coloured);
    }
    const auto bad = test::RunDiff(Args({"--color=sometimes"}));
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("--color needs auto, always or never"), std::string::npos);
}

TEST_F(ReportTest, NamesWithControlCharactersCannotReachTheTerminal) {
    // A line break, a window-title sequence, a clear-screen sequence and a
    // right-to-left override in a table name, an escape in a field name.
    const std::string table = "line\nbreak\x1b]0;pwned\x07\x1b[2J\xe2\x80\xaegnp.exe";
    const auto evil = test::MakeSqlite(dir_ / "evil.db",
                                       "CREATE TABLE Plain(ID INTEGER);"
                                       "CREATE TABLE \"" +
                                           table + "\"(\"col\x1b[31m\" INTEGER);");
    const auto plain = test::MakeSqlite(dir_ / "plain.db", "CREATE TABLE Plain(ID INTEGER);");
    const std::string shown = "line\\nbreak\\x1B]0;pwned\\x07\\x1B[2J\\u{202E}gnp.exe";

    const auto text = test::RunDiff({"--settings", settings_.string(), "--all", evil, plain});
    EXPECT_EQ(text.exitCode, 1) << text.err;
    EXPECT_EQ(text.out,
              "differs  Databases\n"
              "same       table Plain\n"
              "same         field ID\n"
              "differs    table " +
                  shown +
                  ": only in database 1\n"
                  "Summary: 1 table differs (1 only in database 1)\n");

    const auto markdown =
        test::RunDiff({"--settings", settings_.string(), "--markdown", "-", evil, plain});
    EXPECT_NE(markdown.out.find("| `TableDefs[line\\nbreak\\x1B]]0;pwned\\x07\\x1B[[2J"
                                "\\u{202E}gnp.exe]` | table | only in database 1 |"),
              std::string::npos)
        << markdown.out;

    // JSON keeps the name exactly, as JSON escapes.
    const auto json = test::RunDiff({"--settings", settings_.string(), "--json", evil, plain});
    const Json doc = Json::parse(json.out);
    const auto node = std::find_if(doc["nodes"].begin(), doc["nodes"].end(),
                                   [](const Json& n) { return n["side"] == "1"; });
    ASSERT_NE(node, doc["nodes"].end());
    EXPECT_EQ((*node)["text"], table);
    // Brackets in the name are doubled in its key.
    EXPECT_EQ((*node)["key"], "TableDefs[line\nbreak\x1b]]0;pwned\x07\x1b[[2J\xe2\x80\xaegnp.exe]");
    EXPECT_EQ(json.out.find('\033'), std::string::npos);

    for (const auto* output : {&text.out, &markdown.out, &text.err, &markdown.err}) {
        EXPECT_EQ(output->find('\033'), std::string::npos);
        EXPECT_EQ(output->find('\x07'), std::string::npos);
        EXPECT_EQ(output->find("\xe2\x80\xae"), std::string::npos);
    }
}

// On a terminal the status line names the table being compared: the name
// must reach it escaped as well.
TEST_F(ReportTest, TheStatusLineOnATerminalShowsNamesEscaped) {
    const auto evil = test::MakeSqlite(dir_ / "evil.db",
                                       "CREATE TABLE \"t\x1b]0;pwned\x07\x1b[2J\"(ID INTEGER);");
    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);  // the tree is tested elsewhere; here only standard error
        std::string program = KESMARK_DIFF_PATH;
        std::vector<std::string> args = {program, "--settings", settings_.string(), evil.string(),
                                         evil.string()};
        std::vector<char*> argv;
        for (auto& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    std::string seen;
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;) {
        seen.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(seen.find("Comparing fields of table t\\x1B]0;pwned\\x07\\x1B[2J"), std::string::npos)
        << seen;
    EXPECT_EQ(seen.find("\x1b]0;"), std::string::npos);
    EXPECT_EQ(seen.find("\x1b[2J"), std::string::npos);
}

TEST_F(ReportTest, JsonFormatTwoTellsSidesDifferencesAndTheSummary) {
    const auto result = test::RunDiff(Args({"--json"}));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_TRUE(result.out.starts_with("{\n  \"format\": 2,\n")) << "the format comes first";
    const Json doc = Json::parse(result.out);
    const Json summary = Json::parse(R"json({
        "differing": {"TableDefs": 3, "TableFields": 2},
        "onlyIn1": 2, "onlyIn2": 1, "notCompared": 0, "rows": null, "filteredOut": 0,
        "text": "3 tables, 2 fields differ (2 only in database 1, 1 only in database 2)"})json");
    EXPECT_EQ(doc["summary"], summary);

    std::map<std::string, Json> nodes;
    for (const auto& node : doc["nodes"]) {
        nodes[node["key"]] = node;
        EXPECT_TRUE(node["differences"].is_array());
        EXPECT_FALSE(node.contains("properties")) << "listings only with --all-properties";
    }
    EXPECT_EQ(nodes.size(), 14u);
    EXPECT_EQ(nodes["TableDefs[Legacy]"]["side"], "1");
    EXPECT_EQ(nodes["TableDefs[Extra]"]["side"], "2");
    EXPECT_EQ(nodes["TableDefs[Orders]"]["side"], "both");
    EXPECT_EQ(nodes["TableDefs[Orders].Fields[Note]"]["side"], "1");
    const Json total = Json::parse(R"json([
        {"name": "DeclaredType", "value1": "INTEGER", "value2": "REAL"},
        {"name": "Size", "value1": "4", "value2": "8"},
        {"name": "Type", "value1": "4", "value2": "7"}])json");
    EXPECT_EQ(nodes["TableDefs[Orders].Fields[Total]"]["differences"], total);
    const Json& sql = nodes["TableDefs[Orders]"]["differences"][0];
    EXPECT_EQ(sql["name"], "SQL");
    EXPECT_EQ(sql["where"], "text differs at character 51");
    EXPECT_EQ(sql["truncated"], true);
    // Excerpts from a little before the place the texts part.
    EXPECT_EQ(sql["value1"], "…LE Orders(ID INTEGER PRIMARY KEY, Total INTEGER, Note TEXT)");
    EXPECT_EQ(sql["value2"], "…LE Orders(ID INTEGER PRIMARY KEY, Total REAL)");
    EXPECT_EQ(nodes["TableDefs[Customers]"]["differences"], Json::array());
}

TEST_F(ReportTest, JsonAllPropertiesListsEveryNode) {
    const auto result = test::RunDiff(Args({"--json", "--all-properties"}));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const Json doc = Json::parse(result.out);
    std::map<std::string, Json> properties;
    for (const auto& node : doc["nodes"]) {
        SCOPED_TRACE(node["key"].get<std::string>());
        ASSERT_TRUE(node.contains("properties"));
        EXPECT_FALSE(node.contains("propertiesError"));
        EXPECT_FALSE(node["properties"].empty());
        properties[node["key"]] = node["properties"];
    }
    const Json& total = properties["TableDefs[Orders].Fields[Total]"];
    const Json type{{"name", "Type"}, {"value1", "4"}, {"value2", "7"}, {"state", "differs"}};
    EXPECT_NE(std::find(total.begin(), total.end(), type), total.end()) << total;
    for (const auto& row : properties["TableDefs[Legacy]"]) {
        EXPECT_EQ(row["value2"], row["state"] == "skipped" ? "skipped" : "not found");
    }

    const auto alone = test::RunDiff(Args({"--all-properties"}));
    EXPECT_EQ(alone.exitCode, 2);
    EXPECT_NE(alone.err.find("--all-properties goes with --json"), std::string::npos);
}

TEST_F(ReportTest, MarkdownReportListsTheDifferingObjects) {
    const std::string expected =
        "## Kesmark: differences found\n"
        "\n"
        "- Database 1: `" +
        a_.string() +
        "`\n"
        "- Database 2: `" +
        b_.string() +
        "`\n"
        "\n"
        "**Summary:** 3 tables, 2 fields differ (2 only in database 1, 1 only in database 2)\n"
        "\n"
        "| Object | Kind | Difference |\n"
        "| --- | --- | --- |\n"
        "| `TableDefs[Extra]` | table | only in database 2 |\n"
        "| `TableDefs[Legacy]` | table | only in database 1 |\n"
        "| `TableDefs[Orders]` | table | SQL (text differs at character 51) |\n"
        "| `TableDefs[Orders].Fields[Note]` | field | only in database 1 |\n"
        "| `TableDefs[Orders].Fields[Total]` | field | DeclaredType INTEGER → REAL, Size 4 → 8, "
        "Type 4 → 7 |\n";
    const auto toStandardOutput = test::RunDiff(Args({"--markdown", "-"}));
    EXPECT_EQ(toStandardOutput.exitCode, 1) << toStandardOutput.err;
    EXPECT_EQ(toStandardOutput.out, expected);

    // To a file, with the text tree on standard output as usual.
    const auto file = out_ / "report.md";
    const auto toFile = test::RunDiff(Args({"--markdown", file.string()}));
    EXPECT_EQ(toFile.exitCode, 1) << toFile.err;
    EXPECT_EQ(test::ReadFile(file), expected);
    EXPECT_TRUE(toFile.out.starts_with("differs  Databases\n"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file is left beside the report";
}

TEST_F(ReportTest, MarkdownNamesRowsAndRecordsByTheirKind) {
    const auto a = test::MakeSqlite(dir_ / "rows-a.db",
                                    "CREATE TABLE T(ID INTEGER PRIMARY KEY, V TEXT);"
                                    "INSERT INTO T VALUES (1, 'x'), (2, 'y');");
    const auto b = test::MakeSqlite(dir_ / "rows-b.db",
                                    "CREATE TABLE T(ID INTEGER PRIMARY KEY, V TEXT);"
                                    "INSERT INTO T VALUES (1, 'x'), (2, 'z'), (3, 'w');");
    const auto result = test::RunDiff(
        {"--settings", settings_.string(), "--data", "--markdown", "-", a.string(), b.string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.out.find("| `TableDefs[T].Fields[V].Records[2]` | record | "),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("| `TableDefs[T].Rows[2]` | row | changed |"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("| `TableDefs[T].Rows[3]` | row | only in database 2 |"),
              std::string::npos)
        << result.out;
}

TEST_F(ReportTest, MarkdownEscapesWhatWouldBreakTheTable) {
    const auto a = test::MakeSqlite(dir_ / "pipes1.db", "CREATE TABLE \"a|b`c*d\"(ID INTEGER);");
    const auto b = test::MakeSqlite(dir_ / "pipes2.db", "CREATE TABLE Other(ID INTEGER);");
    const auto result = test::RunDiff({"--settings", settings_.string(), "--markdown", "-", a, b});
    EXPECT_NE(result.out.find("| ``TableDefs[a\\|b`c*d]`` | table | only in database 1 |"),
              std::string::npos)
        << result.out;
}

TEST_F(ReportTest, FiltersLeaveObjectsOutAndSaySo) {
    struct Case {
        const char* scenario;
        std::vector<std::string> options;
        std::string out;
        int exitCode;
    };
    const Case cases[] = {
        {"exclude one table",
         {"--exclude", "TableDefs[Leg*]"},
         "differs  Databases\n"
         "differs    table Extra: only in database 2\n"
         "differs    table Orders: SQL (text differs at character 51)\n"
         "differs      field Note: only in database 1\n"
         "differs      field Total: DeclaredType INTEGER → REAL, Size 4 → 8, Type 4 → 7\n"
         "Summary: 2 tables, 2 fields differ (1 only in database 1, 1 only in database 2); "
         "1 object left out by filters\n",
         1},
        {"include one table and so its fields and indexes",
         {"--all", "--include", "TableDefs[Customers]"},
         "same     Databases\n"
         "same       table Customers\n"
         "same         field ID\n"
         "same         field Name\n"
         "same         index sqlite_rowid\n"
         "same           field ID\n"
         "Summary: no differences; 3 objects left out by filters\n",
         0},
        {"include fields by name takes in the tables on the way",
         {"--all", "--include", "TableDefs[*].Fields[No?e]"},
         "differs  Databases\n"
         "same       table Customers\n"
         "differs    table Extra: only in database 2\n"
         "differs    table Legacy: only in database 1\n"
         "differs    table Orders: SQL (text differs at character 51)\n"
         "differs      field Note: only in database 1\n"
         "Summary: 3 tables, 1 field differ (2 only in database 1, 1 only in database 2); "
         "6 objects left out by filters\n",
         1},
        {"include and exclude together, exclusion winning",
         {"--include", "TableDefs[*]", "--exclude", "TableDefs[Extra]", "--exclude",
          "TableDefs[Legacy]", "--exclude", "TableDefs[Orders].Fields[*]"},
         "differs  Databases\n"
         "differs    table Orders: SQL (text differs at character 51)\n"
         "Summary: 1 table differs; 5 objects left out by filters\n",
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto result = test::RunDiff(Args(c.options));
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(result.out, c.out);
    }
}

TEST_F(ReportTest, FiltersOfTheSettingsJoinThoseOfTheCommandLine) {
    test::SetIni(settings_, "Filter", "Exclude1", "TableDefs[Legacy]");
    test::SetIni(settings_, "Filter", "NumExclude", "1");
    const auto result = test::RunDiff(Args({"--exclude", "TableDefs[Orders]"}));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out,
              "differs  Databases\n"
              "differs    table Extra: only in database 2\n"
              "Summary: 1 table differs (1 only in database 2); 2 objects left out by filters\n");

    test::SetIni(settings_, "Filter", "Exclude1", "Legacy");
    const auto bad = test::RunDiff(Args({}));
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.err,
              "Kesmark: Filter pattern 'Legacy' is not a node key such as TableDefs[tmp_*] (write "
              "names in brackets, doubling a bracket inside a name)\n");
}

TEST_F(ReportTest, BadFilterPatternsAreUsageErrors) {
    for (const char* pattern : {"Tables", "TableDefs[Orders", "Databases", "TableDefs[a[b]"}) {
        SCOPED_TRACE(pattern);
        const auto result = test::RunDiff(Args({"--include", pattern}));
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find("--include: pattern '"), std::string::npos) << result.err;
    }
}

TEST_F(ReportTest, ExitStatusIsTheSameInEveryFormat) {
    const auto missing = (dir_ / "missing.db").string();
    struct Pair {
        const char* scenario;
        std::string database1;
        std::string database2;
        int exitCode;
    };
    const Pair pairs[] = {
        {"same", a_.string(), a_.string(), 0},
        {"different", a_.string(), b_.string(), 1},
        {"stopped", a_.string(), missing, 2},
    };
    // What goes to standard output, alone or with both report files.
    const std::vector<std::vector<std::string>> formats = {
        {}, {"--all"}, {"--json"}, {"--markdown", "-"}, {"--html", "-"}};
    int report = 0;
    for (const auto& pair : pairs) {
        for (const auto& format : formats) {
            for (const bool withFiles : {false, true}) {
                std::vector<std::string> args = {"--settings", settings_.string()};
                args.insert(args.end(), format.begin(), format.end());
                if (withFiles) {
                    const auto name = (out_ / ("r" + std::to_string(report++))).string();
                    if (format.empty() || format[0] != "--html") {
                        args.insert(args.end(), {"--html", name + ".html"});
                    }
                    if (format.empty() || format[0] != "--markdown") {
                        args.insert(args.end(), {"--markdown", name + ".md"});
                    }
                }
                args.insert(args.end(), {pair.database1, pair.database2});
                SCOPED_TRACE(std::string(pair.scenario) + " " + testing::PrintToString(args));
                const auto result = test::RunDiff(args);
                EXPECT_EQ(result.exitCode, pair.exitCode) << result.err;
                EXPECT_FALSE(result.out.empty());
            }
        }
    }
}

TEST_F(ReportTest, ReportsRefuseToOverwriteADatabaseAndSayWhyTheyFail) {
    const auto overwrite = test::RunDiff(Args({"--html", b_.string()}));
    EXPECT_EQ(overwrite.exitCode, 2);
    EXPECT_NE(overwrite.err.find("is one of the compared databases"), std::string::npos);

    const auto twoOnStandardOutput = test::RunDiff(Args({"--json", "--markdown", "-"}));
    EXPECT_EQ(twoOnStandardOutput.exitCode, 2);
    EXPECT_NE(twoOnStandardOutput.err.find("only one of"), std::string::npos);

    const auto noFolder = (out_ / "no-such-folder" / "r.html").string();
    const auto unwritable = test::RunDiff(Args({"--html", noFolder}));
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_NE(unwritable.err.find("cannot write the report '" + noFolder + "'"), std::string::npos)
        << unwritable.err;
    EXPECT_TRUE(unwritable.out.starts_with("differs  Databases\n"))
        << "the run's result still shows";
}

TEST_F(ReportTest, ACancelledRunStillWritesItsReports) {
    const auto html = out_ / "cancelled.html";
    const auto markdown = out_ / "cancelled.md";
    const auto result =
        test::RunDiffInterrupted(Args({"--html", html.string(), "--markdown", markdown.string()}));
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_NE(test::ReadFile(html).find("The comparison stopped before its end"),
              std::string::npos);
    EXPECT_TRUE(
        test::ReadFile(markdown).starts_with("## Kesmark: comparison stopped before its end\n"));
    EXPECT_TRUE(result.out.ends_with("the comparison stopped before its end\n")) << result.out;
}

TEST_F(ReportTest, HtmlReportHoldsEverythingAndMasksPasswords) {
    const auto file = out_ / "report.html";
    const auto result = test::RunDiff({"--settings", settings_.string(), "--html", file.string(),
                                       a_.string(), "ODBC;DSN=nowhere;UID=u;PWD=hunter2;"});
    EXPECT_EQ(result.exitCode, 2);
    const std::string html = test::ReadFile(file);
    EXPECT_TRUE(html.starts_with("<!DOCTYPE html>"));
    EXPECT_EQ(html.find("hunter2"), std::string::npos);
    EXPECT_NE(html.find("PWD=***"), std::string::npos);
    EXPECT_NE(html.find("stopped before its end"), std::string::npos);
    // Self-contained: nothing is loaded from anywhere.
    for (const char* reference : {"src=", "href=", "@import", "url(", "http:", "https:"}) {
        EXPECT_EQ(html.find(reference), std::string::npos) << reference;
    }
}

}  // namespace
}  // namespace kesmark
