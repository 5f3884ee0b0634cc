// kesmark-diff: compares two databases from the command line.
//
//   kesmark-diff [options] DATABASE1 DATABASE2
//   kesmark-diff --show KEY [options] DATABASE1 DATABASE2
//   kesmark-diff --sync-sql FILE [options] DATABASE1 DATABASE2
//
// Exit status: 0 no difference, 1 differences, 2 stopped (error, cancel) or
// bad usage. With --show: 0 when every property is equal or skipped, 1 when
// one differs or is missing on one side, 2 when the listing failed.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/cli_host.h"
#include "cli/output.h"
#include "cli/report.h"
#include "cli/reports.h"
#include "engine/compare/comparison_run.h"
#include "engine/open_database.h"
#include "engine/sync/sync_file.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"
#include "settings/settings_location.h"
#include "view/property_list.h"
#include "view/result_view.h"

namespace {

using namespace kesmark;
using namespace kesmark::cli;

std::string Shown(const std::string& name, const std::string& connect) {
    if (name.empty()) {
        return MaskPasswords(connect);
    }
    return connect.empty() ? name : name + " (" + MaskPasswords(connect) + ")";
}

// Lists the properties of the object `options.showKey` names and returns the
// exit status.
int ShowProperties(const Options& options, const ComparisonOptions& settings, cli::CliHost& host) {
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

// Writes the sync script of `options` after the comparison (to standard
// output for "-") and says on standard error how many changes it could not
// express. Returns false when it could not be written.
bool WriteSync(const Options& options, const ComparisonOptions& comparisonOptions,
               const MemoryResultTree& tree, cli::CliHost& host) {
    const std::string& path = *options.syncSqlPath;
    try {
        // What the run found spares the script reading what is the same.
        std::optional<sync::RunFindings> findings;
        if (options.inputs.switches.data && !comparisonOptions.IgnoreNameCase()) {
            findings.emplace(tree);
        }
        const sync::RunFindings* found = findings ? &*findings : nullptr;
        sync::SyncSummary summary;
        if (path == "-") {
            summary = sync::WriteSyncScriptFor(options.inputs, comparisonOptions, OpenDatabase,
                                               std::cout, host, found);
            std::cout.flush();
        } else {
            summary = sync::WriteSyncScriptFile(options.inputs, comparisonOptions, OpenDatabase,
                                                path, host, found);
        }
        host.FinishStatusLine();
        if (!summary.completed) {
            std::fprintf(stderr, "kesmark-diff: the sync script was cancelled\n");
            return false;
        }
        std::fprintf(stderr,
                     "kesmark-diff: sync script: %lld statements; %lld changes could not be "
                     "expressed%s\n",
                     static_cast<long long>(summary.statements),
                     static_cast<long long>(summary.notExpressible),
                     summary.notExpressible > 0 ? " (lines \"-- not expressible\")" : "");
        return true;
    } catch (const DbError& e) {
        host.FinishStatusLine();
        std::fprintf(stderr, "kesmark-diff: sync script: %s\n", e.Description().c_str());
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedArguments parsed = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
    std::fputs(parsed.out.c_str(), stdout);
    std::fputs(parsed.err.c_str(), stderr);
    if (!parsed.options) {
        return parsed.exitCode;
    }
    Options options = *parsed.options;
    if (const auto problem =
            SupplyPasswords(options, [](const char* name) { return std::getenv(name); })) {
        std::fprintf(stderr, "kesmark-diff: %s\n", problem->c_str());
        return kExitTrouble;
    }
    std::optional<std::filesystem::path> explicitSettings;
    if (options.settingsPath) {
        explicitSettings = *options.settingsPath;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(*explicitSettings, ec))) {
            std::fprintf(stderr, "kesmark-diff: settings file '%s' not found\n",
                         options.settingsPath->c_str());
            return kExitTrouble;
        }
    }
    const SettingsLocation location = FindSettings(explicitSettings, CurrentSettingsEnvironment());
    IniFile settings(location.file, location.fallback);
    // A settings file that cannot be used is said once, on standard error
    // and among the messages of the JSON document.
    cli::CliHost host(options.quiet);
    settings.SetProblemHandler([&host](const std::string& message) {
        host.ShowMessage(message, "Kesmark", MessageIcon::Exclamation);
    });
    IniComparisonOptions fileOptions(settings);
    if (options.ignoreCase) {
        fileOptions.OverrideIgnoreNameCase(true);
    }
    const MatchingOverride comparisonOptions(fileOptions, options.matching, options.checksums);
    // A private copy of a database never outlives the process, whatever
    // ends it.
    RemoveTemporaryFilesOnTermination();
    if (options.showKey) {
        return ShowProperties(options, comparisonOptions, host);
    }

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
    report.cancelled = host.CancelRequested();
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
    if (!report.completed) {
        if (options.syncSqlPath) {
            std::fprintf(stderr, "kesmark-diff: no sync script: the comparison did not finish\n");
        }
        return kExitTrouble;
    }
    // The script follows the comparison; the exit status stays the
    // comparison's unless the script cannot be written.
    const bool synced = !options.syncSqlPath || WriteSync(options, comparisonOptions, tree, host);
    if (!written || !synced) {
        return kExitTrouble;
    }
    return report.same ? kExitSame : kExitDiffers;
}
