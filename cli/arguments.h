#pragma once

// kesmark-diff's command line: what it asks for, and the parser that reads it.
//
// To add an option: a member of Options, one add_option/add_flag call in
// DefineOptions (arguments.cpp) with the line the usage text shows, and then
// its entries in the man page and the bash completion (packaging/).

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/reports.h"
#include "engine/compare/comparison_run.h"
#include "engine/compare/options.h"

namespace kesmark::cli {

inline constexpr int kExitSame = 0;
inline constexpr int kExitDiffers = 1;
inline constexpr int kExitTrouble = 2;

struct Options {
    RunInputs inputs;
    std::optional<std::string> settingsPath;
    std::optional<std::string> showKey;
    // --sync-sql: where the sync script goes ("-" standard output).
    std::optional<std::string> syncSqlPath;
    bool json = false;
    bool quiet = false;  // no status line on a terminal
    // --match: how records are paired, over the settings' MatchRecords.
    std::optional<RecordMatching> matching;
    // --checksums: whether key ranges are compared by checksums, over the
    // settings' Checksums.
    std::optional<ChecksumUse> checksums;
    // --ignore-case: names that differ only in letter case name one object,
    // over the settings' IgnoreNameCase.
    bool ignoreCase = false;
    // Files whose first line is the password of side 1 and side 2.
    std::array<std::optional<std::string>, 2> passwordFiles;
    // What is printed and which reports are written (--all, --color,
    // --all-properties, --html, --markdown; `json` is copied there).
    ReportOptions reports;
};

// What the command line asks for: options to run with, or an exit status
// with the text to print first (usage, version, or a usage error).
struct ParsedArguments {
    std::optional<Options> options;  // set when the program goes on
    int exitCode = kExitSame;
    std::string out;  // for standard output
    std::string err;  // for standard error
};

// Reads `arguments` (without the program's name). Long options take their
// value as the next argument or after "=" ("--settings=FILE"); "--" ends the
// options. An unknown option, long or short, is a usage error, and so is a
// count of databases other than two. A positional connect string stands for
// an empty name with that connect string.
ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

// Supplies the password of each side whose connect string has none: from its
// --passwordN-file, else from the environment variable KESMARK_PWD1 or
// KESMARK_PWD2 (`environment` reads a variable; null when unset). Returns an
// error message naming the file or the option when a password file cannot be
// read or a password file is given for a side that is not an ODBC connect
// string; nullopt when all went well.
std::optional<std::string> SupplyPasswords(
    Options& options, const std::function<const char*(const char*)>& environment);

}  // namespace kesmark::cli
