#include "tests/support/test_support.h"

#include <nlohmann/json.hpp>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "settings/ini_file.h"

namespace kesmark::test {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "kesmark-test-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        ADD_FAILURE() << "cannot create a temporary folder";
    }
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

fs::path MakeSqlite(const fs::path& path, std::string_view sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        ADD_FAILURE() << "cannot create " << path << ": " << sqlite3_errmsg(db);
        sqlite3_close(db);
        return path;
    }
    char* error = nullptr;
    const std::string text(sql);
    if (sqlite3_exec(db, text.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << "SQL failed on " << path << ": " << (error ? error : "?") << "\n" << sql;
        sqlite3_free(error);
    }
    sqlite3_close(db);
    return path;
}

void WriteFile(const fs::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

fs::path DefaultSettings(const fs::path& folder) {
    const fs::path copy = folder / "Kesmark.ini";
    fs::copy_file(fs::path(KESMARK_SOURCE_DIR) / "settings" / "Kesmark.default.ini", copy,
                  fs::copy_options::overwrite_existing);
    return copy;
}

void SetIni(const fs::path& settings, std::string_view section, std::string_view key,
            std::string_view value) {
    IniFile ini(settings);
    ASSERT_TRUE(ini.WriteIniString(section, key, value));
}

namespace {

std::set<fs::path> FolderListing(const fs::path& folder) {
    std::set<fs::path> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        names.insert(entry.path().filename());
    }
    return names;
}

// Runs kesmark-diff with `args`, its output captured; with `interrupted`, an
// interrupt is already pending when the program starts (blocked and raised
// in the child, delivered as soon as the program unblocks SIGINT).
// The kesmark-diff to run: the one the build made, or the one the
// environment variable KESMARK_DIFF names (to record golden files from).
std::string DiffProgram() {
    const char* chosen = std::getenv("KESMARK_DIFF");
    return chosen && *chosen ? chosen : KESMARK_DIFF_PATH;
}

DiffResult RunProgram(const std::string& programPath, const std::vector<std::string>& args,
                      bool interrupted, const std::vector<EnvironmentChange>& environment) {
    const fs::path outPath =
        fs::temp_directory_path() / ("kesmark-diff-out-" + std::to_string(::getpid()));
    const fs::path errPath = outPath.string() + ".err";
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::string program = programPath;
        for (const auto& change : environment) {
            if (change.value) {
                ::setenv(change.name.c_str(), change.value->c_str(), 1);
            } else {
                ::unsetenv(change.name.c_str());
            }
        }
        std::vector<std::string> copies(args);
        std::vector<char*> argv{program.data()};
        for (auto& a : copies) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::FILE* out = std::fopen(outPath.c_str(), "w");
        std::FILE* err = std::fopen(errPath.c_str(), "w");
        ::dup2(fileno(out), STDOUT_FILENO);
        ::dup2(fileno(err), STDERR_FILENO);
        if (interrupted) {
            sigset_t interrupts;
            sigemptyset(&interrupts);
            sigaddset(&interrupts, SIGINT);
            ::sigprocmask(SIG_BLOCK, &interrupts, nullptr);
            ::raise(SIGINT);  // pending until the program unblocks it
        }
        ::execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    DiffResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    fs::remove(outPath);
    fs::remove(errPath);
    return result;
}

}  // namespace

DiffResult RunCommand(const fs::path& program, const std::vector<std::string>& args,
                      const std::vector<EnvironmentChange>& environment) {
    return RunProgram(program.string(), args, false, environment);
}

DiffResult RunDiff(const std::vector<std::string>& args) {
    // Files named on the command line, their bytes and their folders' listings.
    std::map<fs::path, std::string> files;
    std::map<fs::path, std::set<fs::path>> folders;
    for (const auto& arg : args) {
        std::error_code ec;
        if (fs::is_regular_file(arg, ec)) {
            files[arg] = ReadFile(arg);
            const auto folder = fs::absolute(arg).parent_path();
            folders[folder] = FolderListing(folder);
        }
    }
    DiffResult result = RunProgram(DiffProgram(), args, false, {});
    for (const auto& [file, bytes] : files) {
        EXPECT_EQ(ReadFile(file), bytes) << "kesmark-diff changed " << file;
    }
    for (const auto& [folder, listing] : folders) {
        EXPECT_EQ(FolderListing(folder), listing) << "kesmark-diff created a file in " << folder;
    }
    return result;
}

DiffResult RunDiffInterrupted(const std::vector<std::string>& args) {
    return RunProgram(DiffProgram(), args, true, {});
}

DiffResult RunDiffUnchecked(const std::vector<std::string>& args,
                            const std::vector<std::pair<std::string, std::string>>& environment) {
    // An empty value removes the variable.
    std::vector<EnvironmentChange> changes;
    for (const auto& [name, value] : environment) {
        changes.push_back({name, value.empty() ? std::nullopt : std::optional<std::string>(value)});
    }
    return RunProgram(DiffProgram(), args, false, changes);
}

fs::path FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && fs::exists(fs::path(folder) / name)) {
            return fs::path(folder) / name;
        }
    }
    return {};
}

fs::path SharedTestData() {
    return fs::path(KESMARK_SHARED_DIR) / "testdata";
}

bool HasSharedTestData() {
    return fs::is_directory(SharedTestData());
}

std::string NodeLines(const std::string& json) {
    const auto doc = nlohmann::json::parse(json);
    std::string lines;
    for (const auto& node : doc.at("nodes")) {
        lines +=
            node.at("key").get<std::string>() + '\t' +
            (node.at("parent").is_null() ? std::string() : node.at("parent").get<std::string>()) +
            '\t' + std::to_string(node.at("image").get<int>()) + '\t' +
            node.at("text").get<std::string>() + '\n';
    }
    return lines;
}

void ExpectRecordedNodes(const std::string& json, const std::string& name) {
    const fs::path golden = fs::path(KESMARK_SOURCE_DIR) / "tests" / "golden" / (name + ".nodes");
    const std::string lines = NodeLines(json);
    if (std::getenv("KESMARK_RECORD_NODES")) {
        WriteFile(golden, lines);
        return;
    }
    ASSERT_TRUE(fs::exists(golden)) << golden << " was never recorded";
    const std::string recorded = ReadFile(golden);
    if (lines == recorded) {
        return;
    }
    // The first line that differs, for a readable failure.
    std::size_t line = 1;
    std::size_t at = 0;
    while (at < lines.size() && at < recorded.size() && lines[at] == recorded[at]) {
        line += lines[at] == '\n' ? 1 : 0;
        ++at;
    }
    auto lineAt = [](const std::string& text, std::size_t number) {
        std::size_t start = 0;
        for (std::size_t n = 1; n < number && start != std::string::npos; ++n) {
            start = text.find('\n', start);
            start = start == std::string::npos ? start : start + 1;
        }
        if (start == std::string::npos || start >= text.size()) {
            return std::string("(end)");
        }
        return text.substr(start, text.find('\n', start) - start);
    };
    ADD_FAILURE() << name << ": the nodes differ from those recorded, first at line " << line
                  << ":\n  recorded: " << lineAt(recorded, line)
                  << "\n  now:      " << lineAt(lines, line);
}

}  // namespace kesmark::test

namespace kesmark {

void PrintTo(const PropertyDifference& difference, std::ostream* out) {
    auto side = [](const std::optional<std::string>& value) {
        return value ? "\"" + *value + "\"" : std::string("(none)");
    };
    *out << "{" << difference.name << ": " << side(difference.value1) << " -> "
         << side(difference.value2) << ", where \"" << difference.where << "\""
         << (difference.truncated ? ", truncated" : "") << "}";
}

}  // namespace kesmark
