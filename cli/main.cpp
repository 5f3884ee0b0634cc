// kesmark-diff: compares two databases from the command line.
//
//   kesmark-diff [options] DATABASE1 DATABASE2
//   kesmark-diff --show KEY [options] DATABASE1 DATABASE2
//
// Exit status: 0 no difference, 1 differences, 2 stopped (error, cancel),
// bad usage or a report that could not be written. With --show: 0 when every
// property is equal or skipped, 1 when one differs or is missing on one side,
// 2 when the listing failed.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "cli/output.h"
#include "cli/reports.h"
#include "engine/compare/comparison_run.h"
#include "engine/open_database.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"
#include "view/property_list.h"
#include "view/result_view.h"

namespace {

using namespace kesmark;

constexpr int kExitSame = 0;
constexpr int kExitDiffers = 1;
constexpr int kExitTrouble = 2;

constexpr const char* kUsage =
    "Usage: kesmark-diff [options] DATABASE1 DATABASE2\n"
    "       kesmark-diff --show KEY [options] DATABASE1 DATABASE2\n"
    "\n"
    "Compares two databases and prints the result tree. Each DATABASE is a\n"
    "database file (SQLite, Access .mdb/.accdb) or a connect string beginning\n"
    "with \"ODBC;\". Both are opened read-only.\n"
    "\n"
    "Options:\n"
    "  --show KEY         list the properties of the object a node key names\n"
    "                     (such as TableDefs[Orders].Fields[ID]) side by side\n"
    "  --strict           also compare the properties of the Strict list\n"
    "  --data             also compare the stored values, record by record\n"
    "  --settings FILE    read the comparison options from FILE instead of\n"
    "                     Kesmark.ini beside the program\n"
    "  --connect1 STRING  connect string for the first database\n"
    "  --connect2 STRING  connect string for the second database\n"
    "  --json             print one JSON document instead of the text tree\n"
    "                     (docs/json.md)\n"
    "  --all-properties   with --json, every node's full property listing\n"
    "  --all              print every node, not only those that differ\n"
    "  --color=WHEN       colour the text: auto (on a terminal, unless NO_COLOR\n"
    "                     is set or TERM=dumb), always or never\n"
    "  --html FILE        also write the HTML report to FILE\n"
    "  --markdown FILE    also write a Markdown report to FILE (- : standard\n"
    "                     output, instead of the text)\n"
    "  --include PATTERN  compare only objects whose node key matches PATTERN\n"
    "                     (a glob such as TableDefs[Orders*]); repeatable\n"
    "  --exclude PATTERN  leave out objects whose node key matches PATTERN\n"
    "                     (such as QueryDefs[~sq_*]); repeatable\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 no difference, 1 differences found, 2 stopped by an error\n"
    "or by Ctrl+C, or bad usage. With --show: 0 every property equal or\n"
    "skipped, 1 a property differs or is missing, 2 the listing failed.\n";

struct Options {
    RunInputs inputs;
    std::optional<std::string> settingsPath;
    std::optional<std::string> showKey;
    bool json = false;
    cli::ReportOptions reports;
};

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kesmark-diff: %s\n\n%s", message.c_str(), kUsage);
    return kExitTrouble;
}

// Parses the command line into `options`; returns an exit status to end with,
// or nullopt to go on.
std::optional<int> ParseArguments(int argc, char** argv, Options& options) {
    std::vector<std::string> positional;
    std::optional<std::string> connect1;
    std::optional<std::string> connect2;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto takeValue = [&](std::optional<std::string>& target) -> bool {
            if (i + 1 >= argc) {
                return false;
            }
            target = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitSame;
        }
        if (arg == "--version") {
            std::printf("kesmark-diff %d.%d.%d\n", KESMARK_VERSION_MAJOR, KESMARK_VERSION_MINOR,
                        KESMARK_VERSION_PATCH);
            return kExitSame;
        }
        if (arg == "--strict") {
            options.inputs.switches.strict = true;
        } else if (arg == "--data") {
            options.inputs.switches.data = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--all") {
            options.reports.all = true;
        } else if (arg == "--all-properties") {
            options.reports.allProperties = true;
        } else if (arg == "--color" || arg.starts_with("--color=")) {
            std::optional<std::string> when;
            if (arg.starts_with("--color=")) {
                when = arg.substr(8);
            } else if (!takeValue(when)) {
                return UsageError("--color needs auto, always or never");
            }
            const auto mode = cli::ParseColourMode(*when);
            if (!mode) {
                return UsageError("--color needs auto, always or never");
            }
            options.reports.colour = *mode;
        } else if (arg == "--html") {
            if (!takeValue(options.reports.htmlPath)) {
                return UsageError("--html needs a file name");
            }
        } else if (arg == "--markdown") {
            if (!takeValue(options.reports.markdownPath)) {
                return UsageError("--markdown needs a file name or -");
            }
        } else if (arg == "--include" || arg == "--exclude") {
            std::optional<std::string> pattern;
            if (!takeValue(pattern)) {
                return UsageError(arg + " needs a pattern");
            }
            if (const std::string error = CheckFilterPattern(*pattern); !error.empty()) {
                return UsageError(arg + ": " + error);
            }
            (arg == "--include" ? options.inputs.filters.include : options.inputs.filters.exclude)
                .push_back(*pattern);
        } else if (arg == "--settings") {
            if (!takeValue(options.settingsPath)) {
                return UsageError("--settings needs a file name");
            }
        } else if (arg == "--show") {
            if (!takeValue(options.showKey)) {
                return UsageError("--show needs a node key");
            }
        } else if (arg == "--connect1") {
            if (!takeValue(connect1)) {
                return UsageError("--connect1 needs a connect string");
            }
        } else if (arg == "--connect2") {
            if (!takeValue(connect2)) {
                return UsageError("--connect2 needs a connect string");
            }
        } else if (arg == "--") {
            positional.insert(positional.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.starts_with("--")) {
            return UsageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2) {
        return UsageError(positional.size() < 2 ? "two databases are needed"
                                                : "too many arguments");
    }
    // A positional connect string stands for an empty name with that connect
    // string, as in the window's two fields per side.
    auto side = [](const std::string& arg, const std::optional<std::string>& connect,
                   std::string& name, std::string& connectOut) {
        if (IsOdbcConnectString(arg) && !connect) {
            connectOut = arg;
        } else {
            name = arg;
            connectOut = connect.value_or("");
        }
    };
    side(positional[0], connect1, options.inputs.database1, options.inputs.connect1);
    side(positional[1], connect2, options.inputs.database2, options.inputs.connect2);
    options.reports.json = options.json;
    if (!options.showKey) {
        if (const auto error = cli::CheckReportOptions(options.reports, options.inputs)) {
            return UsageError(*error);
        }
    }
    return std::nullopt;
}

std::string Shown(const std::string& name, const std::string& connect) {
    if (name.empty()) {
        return MaskPasswords(connect);
    }
    return connect.empty() ? name : name + " (" + MaskPasswords(connect) + ")";
}

// Lists the properties of the object `options.showKey` names and returns the
// exit status.
int ShowProperties(const Options& options, const ComparisonOptions& settings) {
    cli::CliHost host;
    MemoryPropertyList list;
    ResultView view(options.inputs, settings, host, list, OpenDatabase);
    cli::ShowReport report;
    report.key = *options.showKey;
    report.completed = view.ShowNodeProperties(report.key);
    report.rows = &list.Rows();
    report.messages = &host.Messages();

    const std::string output =
        options.json ? cli::FormatPropertiesJson(report) : cli::FormatPropertiesText(report);
    std::fwrite(output.data(), 1, output.size(), stdout);
    std::fflush(stdout);

    if (!report.completed) {
        return kExitTrouble;
    }
    const bool alike = std::all_of(list.Rows().begin(), list.Rows().end(), [](const auto& row) {
        return row.icon == property_rows::kEqualIcon || row.icon == property_rows::kSkippedIcon;
    });
    return alike ? kExitSame : kExitDiffers;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const auto exitCode = ParseArguments(argc, argv, options)) {
        return *exitCode;
    }
    const std::filesystem::path settingsPath =
        options.settingsPath ? std::filesystem::path(*options.settingsPath) : DefaultSettingsPath();
    if (options.settingsPath && !std::filesystem::is_regular_file(settingsPath)) {
        std::fprintf(stderr, "kesmark-diff: settings file '%s' not found\n", settingsPath.c_str());
        return kExitTrouble;
    }
    const IniFile settings(settingsPath);
    const IniComparisonOptions comparisonOptions(settings);
    if (options.showKey) {
        return ShowProperties(options, comparisonOptions);
    }

    cli::CliHost host;
    cli::CliHost::InstallInterruptHandler();
    MemoryResultTree tree;
    cli::RunReport report;
    report.startedAt = cli::LocalTimeNow();
    ComparisonRun run(options.inputs, comparisonOptions, tree, host, OpenDatabase);
    const RunOutcome outcome = run.RunComparison();
    host.FinishStatusLine();

    report.database1 = Shown(options.inputs.database1, options.inputs.connect1);
    report.database2 = Shown(options.inputs.database2, options.inputs.connect2);
    report.completed = outcome == RunOutcome::Done;
    report.same = report.completed && run.Same();
    report.tree = &tree;
    report.messages = &host.Messages();
    report.summary = Summarize(tree);
    report.summary.complete = report.completed;
    report.switches = options.inputs.switches;
    report.filters = comparisonOptions.Filters();
    report.filters.include.insert(report.filters.include.end(),
                                  options.inputs.filters.include.begin(),
                                  options.inputs.filters.include.end());
    report.filters.exclude.insert(report.filters.exclude.end(),
                                  options.inputs.filters.exclude.begin(),
                                  options.inputs.filters.exclude.end());

    const bool written =
        cli::WriteReports(options.reports, report, options.inputs, comparisonOptions, host);
    if (!report.completed || !written) {
        return kExitTrouble;
    }
    return report.same ? kExitSame : kExitDiffers;
}
