#pragma once

// The outputs of one command-line run: the text tree, JSON or Markdown on
// standard output, and report files (HTML, Markdown).

#include <optional>
#include <string>

#include "cli/report.h"
#include "cli/terminal.h"
#include "engine/compare/comparison_run.h"

namespace kesmark::cli {

struct ReportOptions {
    bool json = false;           // --json: the JSON document on standard output
    bool allProperties = false;  // --all-properties: every node's listing in the JSON
    bool all = false;            // --all: every node in the text, not only differing ones
    ColourMode colour = ColourMode::Auto;
    std::optional<std::string> htmlPath;      // --html FILE ("-": standard output)
    std::optional<std::string> markdownPath;  // --markdown FILE ("-": standard output)
};

// Why the options cannot be used together or with these databases (at most
// one output on standard output; --all-properties only with --json; a report
// file must not be one of the compared databases); nullopt when they can.
std::optional<std::string> CheckReportOptions(const ReportOptions& options,
                                              const RunInputs& inputs);

// Prints the output the options ask for on standard output (the text tree
// unless JSON, Markdown or HTML goes there) and writes the report files.
// A report file is written beside its final name and moved there when
// complete. Returns false, after saying why on standard error, when a file
// could not be written. `status` shows progress while report files list
// properties, and its status line is cleared before standard output is
// written.
bool WriteReports(const ReportOptions& options, const RunReport& report, const RunInputs& inputs,
                  const ComparisonOptions& comparisonOptions, CliHost& status);

}  // namespace kesmark::cli
