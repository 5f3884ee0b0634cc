// What kesmark-diff says when a file or the temporary folder cannot be used,
// and that no private copy outlives the program, however it ends.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;  // as waitpid gives it
    std::string out;
    std::string err;
};

// Starts `argv` (a program and its arguments) with `environment` added to
// its environment, its output going to files in `folder`. With
// `interrupted`, a Ctrl+C is pending when the program starts.
pid_t Start(const std::vector<std::string>& argv,
            const std::vector<std::pair<std::string, std::string>>& environment,
            const fs::path& folder, bool interrupted = false) {
    const fs::path out = folder / "stdout";
    const fs::path err = folder / "stderr";
    const pid_t child = ::fork();
    if (child == 0) {
        std::FILE* o = std::fopen(out.c_str(), "w");
        std::FILE* e = std::fopen(err.c_str(), "w");
        ::dup2(fileno(o), STDOUT_FILENO);
        ::dup2(fileno(e), STDERR_FILENO);
        for (const auto& [name, value] : environment) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        if (interrupted) {
            sigset_t interrupts;
            sigemptyset(&interrupts);
            sigaddset(&interrupts, SIGINT);
            ::sigprocmask(SIG_BLOCK, &interrupts, nullptr);
            ::raise(SIGINT);  // pending until the program unblocks it
        }
        std::vector<std::string> copies(argv);
        std::vector<char*> args;
        for (auto& a : copies) {
            args.push_back(a.data());
        }
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    return child;
}

Outcome Finish(pid_t child, const fs::path& folder) {
    Outcome outcome;
    ::waitpid(child, &outcome.status, 0);
    outcome.out = test::ReadFile(folder / "stdout");
    outcome.err = test::ReadFile(folder / "stderr");
    return outcome;
}

Outcome RunProgram(const std::vector<std::string>& argv,
                   const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    test::TempDir output;
    return Finish(Start(argv, environment, output.Path()), output.Path());
}

std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

constexpr const char* kDiff = KESMARK_DIFF_PATH;

class SqliteFailures : public ::testing::Test {
  protected:
    std::vector<std::string> Diff(const fs::path& a, const fs::path& b) const {
        return {kDiff, "--settings", settings_.string(), a.string(), b.string()};
    }

    test::TempDir dir_;
    fs::path settings_ = test::DefaultSettings(dir_.Path());
    fs::path good_ =
        test::MakeSqlite(dir_ / "good.db", "CREATE TABLE t(x); INSERT INTO t VALUES (1);");
};

TEST_F(SqliteFailures, EachMessageTellsTheRealCause) {
    fs::create_symlink(dir_ / "loop2", dir_ / "loop1");
    fs::create_symlink(dir_ / "loop1", dir_ / "loop2");
    test::WriteFile(dir_ / "plain.txt", "a file, not a folder");
    fs::create_directory(dir_ / "tmp");
    struct Case {
        const char* scenario;
        fs::path database;
        std::vector<std::pair<std::string, std::string>> environment;
        std::string message;
    };
    const Case cases[] = {
        {"a loop of symbolic links",
         dir_ / "loop1",
         {},
         "'" + (dir_ / "loop1").string() +
             "' cannot be opened: its path runs into a loop of symbolic links."},
        {"a path through a file",
         dir_ / "plain.txt" / "x.db",
         {},
         "Could not find file '" + (dir_ / "plain.txt" / "x.db").string() +
             "': a part of its path is not a folder."},
        {"no temporary folder",
         good_,
         {{"TMPDIR", (dir_ / "none").string()}},
         "the temporary folder '" + (dir_ / "none").string() +
             "' does not exist (set TMPDIR to a folder that exists)."},
        {"a file for a temporary folder",
         good_,
         {{"TMPDIR", (dir_ / "plain.txt").string()}},
         "'" + (dir_ / "plain.txt").string() + "', the temporary folder, is not a folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto result = RunProgram(Diff(good_, c.database), c.environment);
        EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 2) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.database.string()), std::string::npos) << result.err;
    }
}

TEST_F(SqliteFailures, APathLongerThanSqliteTakesIsRead) {
    fs::path folder = dir_.Path();
    for (int i = 0; i < 6; ++i) {
        folder /= std::string(100, static_cast<char>('a' + i));
    }
    fs::create_directories(folder);
    const fs::path deep = folder / "good.db";
    fs::copy_file(good_, deep);
    ASSERT_GT(deep.string().size(), 600u);
    const auto result =
        test::RunDiff({"--data", "--settings", settings_.string(), good_.string(), deep.string()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
}

// Runs as the unprivileged user "nobody" where the tests run as root (root
// may enter any folder).
TEST_F(SqliteFailures, PermissionDeniedIsSaidSo) {
    std::vector<std::string> prefix;
    if (::geteuid() == 0) {
        if (RunProgram(
                {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kDiff, "--version"})
                .status != 0) {
            GTEST_SKIP() << "running as root, and kesmark-diff cannot be run as the user nobody "
                            "(setpriv missing, or the build folder not open to others), so no "
                            "permission can be denied";
        }
        prefix = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    fs::permissions(dir_.Path(), fs::perms::owner_all | fs::perms::group_exec |
                                     fs::perms::group_read | fs::perms::others_exec |
                                     fs::perms::others_read);
    fs::permissions(settings_, fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read);
    fs::permissions(good_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                               fs::perms::others_read);
    fs::create_directory(dir_ / "closed");
    test::MakeSqlite(dir_ / "closed" / "inside.db", "CREATE TABLE t(x);");
    test::MakeSqlite(dir_ / "secret.db", "CREATE TABLE t(x);");
    const auto closedPerms = fs::perms::owner_all;
    fs::permissions(dir_ / "closed", closedPerms);
    fs::permissions(dir_ / "secret.db", fs::perms::owner_read | fs::perms::owner_write);

    const std::pair<fs::path, std::string> cases[] = {
        {dir_ / "closed" / "inside.db", "Permission denied: a folder on the path of '" +
                                            (dir_ / "closed" / "inside.db").string() +
                                            "' may not be entered."},
        {dir_ / "secret.db",
         "Permission denied: '" + (dir_ / "secret.db").string() + "' may not be read."},
    };
    for (const auto& [database, message] : cases) {
        SCOPED_TRACE(database);
        std::vector<std::string> argv = prefix;
        const auto diff = Diff(good_, database);
        argv.insert(argv.end(), diff.begin(), diff.end());
        const auto result = RunProgram(argv);
        EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 2) << result.err;
        EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    }
    fs::permissions(dir_ / "closed", fs::perms::owner_all);
}

// A temporary folder that is full: a small tmpfs, mounted in a mount
// namespace of the test's own where the machine allows it.
TEST_F(SqliteFailures, AFullTemporaryFolderIsSaidSo) {
    const fs::path big = test::MakeSqlite(
        dir_ / "big.db",
        "CREATE TABLE t(b); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
        "WHERE i < 64) INSERT INTO t SELECT zeroblob(16384) FROM n;");
    const fs::path small = dir_ / "small-tmp";
    fs::create_directory(small);
    std::vector<std::string> argv = {"unshare",
                                     "--mount",
                                     "--",
                                     "sh",
                                     "-c",
                                     "mount -t tmpfs -o size=256k tmpfs \"$1\" || exit 97; "
                                     "shift; exec \"$@\"",
                                     "sh",
                                     small.string(),
                                     "env",
                                     "TMPDIR=" + small.string()};
    const auto diff = Diff(big, big);
    argv.insert(argv.end(), diff.begin(), diff.end());
    const auto result = RunProgram(argv);
    if (WIFEXITED(result.status) && WEXITSTATUS(result.status) == 97) {
        GTEST_SKIP() << "no small tmpfs can be mounted here: " << result.err;
    }
    if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) == 127 ||
        result.err.find("unshare") != std::string::npos) {
        GTEST_SKIP() << "no mount namespace of our own here: " << result.err;
    }
    EXPECT_EQ(WEXITSTATUS(result.status), 2) << result.err;
    EXPECT_NE(result.err.find("the temporary folder '" + small.string() + "' is full"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find(big.string()), std::string::npos) << result.err;
}

TEST_F(SqliteFailures, CopiesLeftByKilledRunsAreRemoved) {
    const fs::path tmp = dir_ / "tmp";
    fs::create_directory(tmp);
    const pid_t gone = ::fork();
    if (gone == 0) {
        ::_exit(0);
    }
    ::waitpid(gone, nullptr, 0);
    const std::string dead = "kesmark-sqlite-" + std::to_string(gone) + "-AbCdEf";
    const std::string alive = "kesmark-sqlite-" + std::to_string(::getpid()) + "-GhIjKl";
    const std::string other = "kesmark-sqlite-notapid-MnOpQr";
    for (const auto& name : {dead, alive, other}) {
        fs::create_directory(tmp / name);
        test::WriteFile(tmp / name / "copy.db", "left behind");
    }
    const auto result = RunProgram(Diff(good_, good_), {{"TMPDIR", tmp.string()}});
    EXPECT_TRUE(WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0) << result.err;
    EXPECT_EQ(Entries(tmp), (std::vector<std::string>{alive, other}));
}

// A run is stopped while it copies a database: it freezes (SIGSTOP) as soon
// as its private folder appears, receives the signal, goes on; the folder
// must be gone when it has ended.
TEST_F(SqliteFailures, NoCopyOutlivesARunEndedByASignal) {
    const fs::path big = test::MakeSqlite(
        dir_ / "big.db",
        "CREATE TABLE t(b); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
        "WHERE i < 48) INSERT INTO t SELECT zeroblob(1048576) FROM n;");
    struct Case {
        const char* scenario;
        int signal;
        bool interruptedBefore;  // a first Ctrl+C came before the copy began
        int endedBy;             // the signal that ends the program, or 0 for exit status 2
    };
    const Case cases[] = {
        {"SIGTERM", SIGTERM, false, SIGTERM},
        {"SIGHUP", SIGHUP, false, SIGHUP},
        {"a second Ctrl+C", SIGINT, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const fs::path tmp = dir_ / (std::string("tmp-") + c.scenario);
        fs::create_directory(tmp);
        bool caught = false;
        for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
            test::TempDir output;
            const pid_t child = Start(
                {kDiff, "--data", "--settings", settings_.string(), big.string(), big.string()},
                {{"TMPDIR", tmp.string()}}, output.Path(), c.interruptedBefore);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (std::chrono::steady_clock::now() < deadline) {
                if (!Entries(tmp).empty()) {
                    ::kill(child, SIGSTOP);
                    caught = !Entries(tmp).empty();
                    break;
                }
                if (::waitpid(child, nullptr, WNOHANG) == child) {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
            if (!caught) {
                ::kill(child, SIGCONT);
                Finish(child, output.Path());
                continue;
            }
            ::kill(child, c.signal);
            ::kill(child, SIGCONT);
            const auto outcome = Finish(child, output.Path());
            if (c.endedBy != 0) {
                EXPECT_TRUE(WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == c.endedBy)
                    << outcome.status;
            } else {
                EXPECT_TRUE(WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 2)
                    << outcome.status;
            }
            EXPECT_EQ(Entries(tmp), std::vector<std::string>{})
                << "a private copy outlived the run";
        }
        EXPECT_TRUE(caught) << "the run never showed its private folder";
    }
}

}  // namespace
}  // namespace kesmark
