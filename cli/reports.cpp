#include "cli/reports.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>

#include "cli/listing.h"
#include "cli/report_html.h"
#include "cli/report_json.h"
#include "cli/report_markdown.h"
#include "cli/report_text.h"
#include "engine/open_database.h"

namespace kesmark::cli {

namespace {

namespace fs = std::filesystem;

bool IsStandardOutput(const std::optional<std::string>& path) {
    return path && *path == "-";
}

// True when `path` names the same file as the database `name`.
bool SameFile(const std::string& path, const std::string& name) {
    std::error_code error;
    return !name.empty() && fs::exists(path, error) && fs::equivalent(path, name, error);
}

// Writes a report through `write` to a temporary file beside `path`, then
// moves it to `path`. Returns false after saying why on standard error.
bool WriteFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    const fs::path target(path);
    std::string temporary =
        (target.parent_path().empty() ? fs::path(".") : target.parent_path()).string() + "/." +
        target.filename().string() + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        std::fprintf(stderr, "kesmark-diff: cannot write the report '%s': %s\n",
                     SafeText(path).c_str(), std::strerror(errno));
        return false;
    }
    ::close(fd);
    bool written = false;
    bool cancelled = false;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (out) {
            try {
                write(out);
                out.flush();
                written = static_cast<bool>(out);
            } catch (const ListingCancelled&) {
                cancelled = true;
            }
        }
    }
    std::error_code error;
    if (written) {
        // mkstemp creates the file for its owner alone; a report is an
        // ordinary document.
        fs::permissions(temporary,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read,
                        error);
        fs::rename(temporary, target, error);
        written = !error;
    }
    if (!written) {
        fs::remove(temporary, error);
        std::fprintf(stderr,
                     cancelled ? "kesmark-diff: cancelled: the report '%s' was not written\n"
                               : "kesmark-diff: cannot write the report '%s'\n",
                     SafeText(path).c_str());
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> CheckReportOptions(const ReportOptions& options,
                                              const RunInputs& inputs) {
    const int onStandardOutput = (options.json ? 1 : 0) +
                                 (IsStandardOutput(options.htmlPath) ? 1 : 0) +
                                 (IsStandardOutput(options.markdownPath) ? 1 : 0);
    if (onStandardOutput > 1) {
        return "only one of --json, --html - and --markdown - can write to standard output";
    }
    if (options.allProperties && !options.json) {
        return "--all-properties goes with --json";
    }
    for (const auto* path : {&options.htmlPath, &options.markdownPath}) {
        if (!*path || IsStandardOutput(*path)) {
            continue;
        }
        if (path->value().empty()) {
            return "a report needs a file name";
        }
        if (SameFile(**path, inputs.database1) || SameFile(**path, inputs.database2)) {
            return "the report file '" + SafeText(**path) + "' is one of the compared databases";
        }
    }
    return std::nullopt;
}

bool WriteReports(const ReportOptions& options, const RunReport& report, const RunInputs& inputs,
                  const ComparisonOptions& comparisonOptions, CliHost& status) {
    // Progress shows while a file is written, never between lines of
    // standard output.
    auto html = [&](std::ostream& out, bool showProgress) {
        DatabaseListing listing(inputs, comparisonOptions, OpenDatabase, status, showProgress);
        WriteHtmlReport(out, report, &listing);
    };
    auto markdown = [&](std::ostream& out) { out << FormatMarkdown(report); };

    bool ok = true;
    if (options.htmlPath && !IsStandardOutput(options.htmlPath)) {
        ok = WriteFile(*options.htmlPath, [&](std::ostream& out) { html(out, true); }) && ok;
    }
    if (options.markdownPath && !IsStandardOutput(options.markdownPath)) {
        ok = WriteFile(*options.markdownPath, markdown) && ok;
    }

    status.FinishStatusLine();
    try {
        if (options.json) {
            std::optional<DatabaseListing> listing;
            if (options.allProperties) {
                listing.emplace(inputs, comparisonOptions, OpenDatabase, status, false);
            }
            WriteTreeJson(std::cout, report, listing ? &*listing : nullptr);
        } else if (IsStandardOutput(options.htmlPath)) {
            html(std::cout, false);
        } else if (IsStandardOutput(options.markdownPath)) {
            markdown(std::cout);
        } else {
            const char* noColour = std::getenv("NO_COLOR");
            const char* term = std::getenv("TERM");
            const TextOptions text{
                options.all,
                UseColour(options.colour, ::isatty(STDOUT_FILENO) == 1, noColour, term)};
            std::cout << FormatTreeText(report, text);
        }
    } catch (const ListingCancelled&) {
        std::cout.flush();
        std::fprintf(stderr, "\nkesmark-diff: cancelled while writing the output\n");
        return false;
    }
    std::cout.flush();
    return ok && static_cast<bool>(std::cout);
}

}  // namespace kesmark::cli
