#include "cli/arguments.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

#include "cli/terminal.h"
#include "engine/compare/filter.h"
#include "engine/model/connect_string.h"

namespace kesmark::cli {

namespace {

constexpr const char* kSynopsis =
    "Usage: kesmark-diff [options] DATABASE1 DATABASE2\n"
    "       kesmark-diff --show KEY [options] DATABASE1 DATABASE2\n"
    "       kesmark-diff --sync-sql FILE [options] DATABASE1 DATABASE2\n"
    "\n"
    "Compares two databases and prints the result tree. Each DATABASE is a\n"
    "database file (SQLite, Access .mdb/.accdb) or a connect string beginning\n"
    "with \"ODBC;\". Both are opened read-only.\n"
    "\n"
    "Options:\n";

constexpr const char* kExitStatus =
    "\n"
    "Exit status: 0 no difference, 1 differences found, 2 stopped by an error\n"
    "or by Ctrl+C, bad usage, or a report that could not be written. With\n"
    "--show: 0 every property equal or skipped, 1 a property differs or is\n"
    "missing, 2 the listing failed.\n";

// The width of an option's name and value in the usage text.
constexpr std::size_t kNameColumn = 22;

// What the parser fills besides Options.
struct Extras {
    std::vector<std::string> positional;
    std::optional<std::string> connect1;
    std::optional<std::string> connect2;
    std::optional<std::string> matching;
    std::optional<std::string> checksums;
    std::optional<std::string> colour;
    std::vector<std::string> include;
    std::vector<std::string> exclude;
    bool help = false;
    bool version = false;
};

// Every option of kesmark-diff, in the order the usage text lists them. A
// description's "\n" starts a continuation line.
void DefineOptions(CLI::App& app, Options& options, Extras& extras) {
    const auto value = [&](const std::string& name, auto& target, const std::string& valueName,
                           const std::string& description) {
        app.add_option(name, target, description)
            ->type_name(valueName)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    };
    value("--show", options.showKey, "KEY",
          "list the properties of the object a node key names\n"
          "(such as TableDefs[Orders].Fields[ID]) side by side");
    value("--sync-sql", options.syncSqlPath, "FILE",
          "also write the SQL that makes DATABASE2 like\n"
          "DATABASE1 to FILE (- for standard output, the\n"
          "tree then not printed); with --data also the rows");
    app.add_flag("--strict", options.inputs.switches.strict,
                 "also compare the properties of the Strict list");
    app.add_flag("--data", options.inputs.switches.data,
                 "also compare the stored values, record by record");
    value("--settings", options.settingsPath, "FILE",
          "read the comparison options from FILE instead of\n"
          "Kesmark.ini beside the program, or else of\n"
          "~/.config/kesmark/Kesmark.ini");
    value("--connect1", extras.connect1, "STRING", "connect string for the first database");
    value("--connect2", extras.connect2, "STRING", "connect string for the second database");
    value("--password1-file", options.passwordFiles[0], "FILE",
          "the password of the first connect string: the\n"
          "first line of FILE (else $KESMARK_PWD1; a PWD\n"
          "in the connect string itself wins)");
    value("--password2-file", options.passwordFiles[1], "FILE",
          "the same for the second (else $KESMARK_PWD2)");
    value("--match", extras.matching, "key|position",
          "pair the records of a table by its key or by\n"
          "position; default: MatchRecords of the settings");
    value("--checksums", extras.checksums, "auto|off",
          "auto: compare the tables of a server by checksums\n"
          "of key ranges it computes, reading only ranges that\n"
          "differ; off: read every row; default: Checksums of\n"
          "the settings");
    app.add_flag("--ignore-case", options.ignoreCase,
                 "names that differ only in letter case name one\n"
                 "object (as IgnoreNameCase=1 in the settings)");
    app.add_flag("--all", options.reports.all, "print every node, not only those that differ");
    value("--color", extras.colour, "WHEN",
          "colour the text: auto (on a terminal, unless\n"
          "NO_COLOR is set or TERM=dumb), always or never");
    app.add_flag("--json", options.json,
                 "print one JSON document, not the text tree\n(docs/json.md)");
    app.add_flag("--all-properties", options.reports.allProperties,
                 "with --json, every node's full property listing");
    value("--html", options.reports.htmlPath, "FILE", "also write the HTML report to FILE");
    value("--markdown", options.reports.markdownPath, "FILE",
          "also write a Markdown report to FILE (-: standard\n"
          "output, instead of the text)");
    app.add_option("--include", extras.include,
                   "compare only objects whose node key matches\n"
                   "PATTERN (a glob such as TableDefs[Orders*]);\n"
                   "repeatable")
        ->type_name("PATTERN")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--exclude", extras.exclude,
                   "leave out objects whose node key matches PATTERN\n"
                   "(such as QueryDefs[~sq_*]); repeatable")
        ->type_name("PATTERN")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag("--quiet", options.quiet, "no status line, even on a terminal");
    app.add_flag("-h,--help", extras.help, "show this text");
    app.add_flag("--version", extras.version, "show the version");
    app.add_option("databases", extras.positional)->type_name("DATABASE");
}

// The usage text, its option lines made from the options themselves.
std::string Usage(const CLI::App& app) {
    std::string text = kSynopsis;
    for (const CLI::Option* option :
         app.get_options([](const CLI::Option* o) { return !o->get_positional(); })) {
        std::string names;
        for (const auto& name : option->get_snames()) {
            names += "-" + name + ", ";
        }
        for (const auto& name : option->get_lnames()) {
            names += "--" + name;
        }
        if (option->get_type_size() != 0) {
            names += " " + option->get_type_name();
        }
        std::string line = "  " + names;
        line.resize(std::max(line.size() + 1, kNameColumn + 2), ' ');
        std::string description = option->get_description();
        const std::string indent = "\n" + std::string(kNameColumn + 2, ' ');
        for (std::size_t pos = 0; (pos = description.find('\n', pos)) != std::string::npos;
             pos += indent.size()) {
            description.replace(pos, 1, indent);
        }
        text += line + description + "\n";
    }
    return text + kExitStatus;
}

ParsedArguments UsageError(const CLI::App& app, const std::string& message) {
    ParsedArguments result;
    result.exitCode = kExitTrouble;
    result.err = "kesmark-diff: " + message + "\n\n" + Usage(app);
    return result;
}

// The first line of the file at `path` (which may be a pipe, as made by a
// shell's "<(command)"), or an error message in `problem`.
std::string ReadFirstLine(const std::string& path, std::string& problem) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problem = std::strerror(errno);
        return {};
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        problem = "it is a folder";
        return {};
    }
    constexpr std::size_t kLongest = 64 * 1024;
    std::string text;
    char buffer[4096];
    while (text.find('\n') == std::string::npos && text.size() < kLongest) {
        const auto n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            problem = std::strerror(errno);
            break;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    text = text.substr(0, text.find('\n'));
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    return text;
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& arguments) {
    Options options;
    Extras extras;
    CLI::App app("kesmark-diff", "kesmark-diff");
    app.set_help_flag();
    app.allow_extras();
    DefineOptions(app, options, extras);

    // What follows "--" is databases only; the parser sees what comes before.
    const auto end = std::find(arguments.begin(), arguments.end(), "--");
    // "--settings=" with nothing after the "=" would take the next argument.
    for (auto argument = arguments.begin(); argument != end; ++argument) {
        if (argument->starts_with("--") && argument->size() > 3 && argument->back() == '=' &&
            argument->find('=') == argument->size() - 1) {
            return UsageError(app, argument->substr(0, argument->size() - 1) + " needs a value");
        }
    }
    try {
        app.parse(std::vector<std::string>(std::make_reverse_iterator(end), arguments.rend()));
    } catch (const CLI::ParseError& e) {
        return UsageError(app, e.what());
    }
    if (end != arguments.end()) {
        extras.positional.insert(extras.positional.end(), end + 1, arguments.end());
    }
    if (extras.help) {
        ParsedArguments result;
        result.out = Usage(app);
        return result;
    }
    if (extras.version) {
        ParsedArguments result;
        result.out = "kesmark-diff " + std::to_string(KESMARK_VERSION_MAJOR) + "." +
                     std::to_string(KESMARK_VERSION_MINOR) + "." +
                     std::to_string(KESMARK_VERSION_PATCH) + "\n";
        return result;
    }
    if (const auto unknown = app.remaining(); !unknown.empty()) {
        return UsageError(app, "unknown option " + unknown.front());
    }
    if (extras.matching) {
        if (*extras.matching == "key") {
            options.matching = RecordMatching::Key;
        } else if (*extras.matching == "position") {
            options.matching = RecordMatching::Position;
        } else {
            return UsageError(app, "--match needs key or position");
        }
    }
    if (options.showKey && options.syncSqlPath) {
        return UsageError(app, "--show and --sync-sql cannot be used together");
    }
    if (extras.checksums) {
        if (*extras.checksums == "auto") {
            options.checksums = ChecksumUse::Auto;
        } else if (*extras.checksums == "off") {
            options.checksums = ChecksumUse::Off;
        } else {
            return UsageError(app, "--checksums needs auto or off");
        }
    }
    if (extras.colour) {
        const auto mode = ParseColourMode(*extras.colour);
        if (!mode) {
            return UsageError(app, "--color needs auto, always or never");
        }
        options.reports.colour = *mode;
    }
    for (const auto* patterns : {&extras.include, &extras.exclude}) {
        for (const auto& pattern : *patterns) {
            if (const std::string error = CheckFilterPattern(pattern); !error.empty()) {
                return UsageError(
                    app, (patterns == &extras.include ? "--include: " : "--exclude: ") + error);
            }
        }
    }
    options.inputs.filters = FilterPatterns{extras.include, extras.exclude};
    if (extras.positional.size() != 2) {
        return UsageError(
            app, extras.positional.size() < 2 ? "two databases are needed" : "too many arguments");
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
    side(extras.positional[0], extras.connect1, options.inputs.database1, options.inputs.connect1);
    side(extras.positional[1], extras.connect2, options.inputs.database2, options.inputs.connect2);
    options.reports.json = options.json;
    options.reports.standardOutputTaken = options.syncSqlPath && *options.syncSqlPath == "-";
    if (!options.showKey) {
        if (const auto error = CheckReportOptions(options.reports, options.inputs)) {
            return UsageError(app, *error);
        }
    }
    ParsedArguments result;
    result.options = std::move(options);
    return result;
}

std::optional<std::string> SupplyPasswords(
    Options& options, const std::function<const char*(const char*)>& environment) {
    std::array<std::string*, 2> connects{&options.inputs.connect1, &options.inputs.connect2};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string side = std::to_string(i + 1);
        std::optional<std::string> password;
        if (const auto& file = options.passwordFiles[i]) {
            std::string problem;
            password = ReadFirstLine(*file, problem);
            if (!problem.empty()) {
                return "cannot read the password file '" + *file + "': " + problem;
            }
            if (!IsOdbcConnectString(*connects[i])) {
                return "--password" + side + "-file is given, but database " + side +
                       " is not an ODBC connect string";
            }
        } else if (const char* variable = environment(("KESMARK_PWD" + side).c_str());
                   variable && *variable) {
            password = variable;
        }
        if (password && IsOdbcConnectString(*connects[i])) {
            *connects[i] = WithPassword(*connects[i], *password);
        }
    }
    return std::nullopt;
}

}  // namespace kesmark::cli
