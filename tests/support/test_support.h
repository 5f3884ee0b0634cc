#pragma once

// Helpers shared by the test executables.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/compare/host.h"
#include "engine/compare/result_tree.h"

namespace kesmark::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& Path() const { return path_; }
    fs::path operator/(std::string_view name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Creates (or extends) a SQLite database at `path` by running `sql`; fails the
// test on a SQL error. Returns `path`.
fs::path MakeSqlite(const fs::path& path, std::string_view sql);

// Writes `text` to `path`, replacing it.
void WriteFile(const fs::path& path, std::string_view text);
std::string ReadFile(const fs::path& path);

// The project's default settings file, copied to `folder`/Kesmark.ini, with
// `extra` appended (later sections of the same name are ignored, so use
// SetIni for changes). Returns the copy's path.
fs::path DefaultSettings(const fs::path& folder);
// Writes one key through the real settings writer.
void SetIni(const fs::path& settings, std::string_view section, std::string_view key,
            std::string_view value);

struct DiffResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs kesmark-diff (or the program the environment variable KESMARK_DIFF
// names) with `args` and returns what it printed and its exit status. Every argument that names an
// existing file is checked to be byte-for-byte unchanged afterwards, and its folder to have gained
// no file.
DiffResult RunDiff(const std::vector<std::string>& args);

// A variable set (or, without a value, removed) for one program run.
struct EnvironmentChange {
    std::string name;
    std::optional<std::string> value;
};

// Runs `program` with `args` and the environment changed as given, and
// returns what it printed and its exit status (no checks of the files).
DiffResult RunCommand(const fs::path& program, const std::vector<std::string>& args,
                      const std::vector<EnvironmentChange>& environment = {});

// As RunDiff, but kesmark-diff starts with an interrupt (Ctrl+C) already
// pending: SIGINT is blocked and raised in the child before the program is
// started, so the program's own handler receives it as soon as it unblocks
// the signal, and the run is cancelled at its first operation boundary.
DiffResult RunDiffInterrupted(const std::vector<std::string>& args);

// As RunDiff, with `environment` set in kesmark-diff's environment (an empty
// value removes the variable), and without checking the files named: for
// databases that another program changes meanwhile.
DiffResult RunDiffUnchecked(
    const std::vector<std::string>& args,
    const std::vector<std::pair<std::string, std::string>>& environment = {});

// The nodes of a kesmark-diff --json output, one line each in the order they
// were added: key, parent, image and text, separated by tabs.
std::string NodeLines(const std::string& json);

// Expects the nodes of `json` (kesmark-diff --json) to be exactly, and in
// the same order, those recorded in tests/golden/`name`.nodes. With the
// environment variable KESMARK_RECORD_NODES set, writes that file instead:
// run the test once with KESMARK_DIFF naming the program to record from.
void ExpectRecordedNodes(const std::string& json, const std::string& name);

// The program `name` as the PATH finds it; empty when it is not there.
fs::path FindProgram(const std::string& name);

// The shared test data folder (../shared/testdata from the project root).
fs::path SharedTestData();
bool HasSharedTestData();

// A host that records what a run reports, for engine tests.
class RecordingHost : public Host {
  public:
    struct Message {
        std::string text;
        std::string caption;
        MessageIcon icon;
    };

    void SetStatusText(std::string_view text) override { statuses.emplace_back(text); }
    void SetProgressPosition(int position) override { progress.push_back(position); }
    void ProcessPendingEvents() override {
        ++yields;
        if (onYield) {
            onYield(*this);
        }
    }
    bool CancelRequested() const override { return cancel.load(); }
    void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
        messages.push_back(Message{std::string(text), std::string(caption), icon});
    }
    void SetBusyPointer(bool busy) override { busyStates.push_back(busy); }

    std::vector<std::string> statuses;
    std::vector<int> progress;
    std::vector<Message> messages;
    std::vector<bool> busyStates;
    int yields = 0;
    std::atomic<bool> cancel{false};
    std::function<void(RecordingHost&)> onYield;
};

}  // namespace kesmark::test

namespace kesmark {
// Shows a recorded difference in a test's failure message.
void PrintTo(const PropertyDifference& difference, std::ostream* out);
}  // namespace kesmark

// Skips the current test, saying why, when the shared test data is absent.
#define KESMARK_REQUIRE_SHARED_TESTDATA()                                                         \
    do {                                                                                          \
        if (!::kesmark::test::HasSharedTestData()) {                                              \
            GTEST_SKIP() << "shared test data not found at " << ::kesmark::test::SharedTestData() \
                         << " (clone outside the "                                                \
                         << "workplace)";                                                         \
        }                                                                                         \
    } while (false)
