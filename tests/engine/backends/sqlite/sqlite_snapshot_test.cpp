// SQLite files read as one consistent state: each way a file can lie (in
// use by a writer or not, WAL or rollback, with a journal left by a crash,
// at a path longer than SQLite takes), and kesmark-diff against files that a
// writer process keeps committing to.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <set>

#include "engine/open_database.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Runs SQL on a connection of its own (a program writing to the file).
void Write(const fs::path& path, const char* sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// The rows of table t as the database reads them, and its RecordCount.
std::pair<std::int64_t, std::int64_t> RowsOf(Database& db) {
    auto recordset = db.OpenRecordset("t", {"x"});
    std::int64_t rows = 0;
    for (; !recordset->IsEof(); recordset->MoveNext()) {
        ++rows;
    }
    const Value count =
        db.GetCollection("TableDefs")->Item("t")->GetProperties().Item("RecordCount").GetValue();
    return {rows, *count.As<std::int64_t>()};
}

constexpr const char* kTen =
    "CREATE TABLE t(x);"
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10)"
    "INSERT INTO t SELECT i FROM n;";

// A folder whose path is longer than the 512 bytes SQLite takes (SQLite
// programs cannot open a file there; Kesmark can).
fs::path LongFolder(const fs::path& base) {
    fs::path folder = base;
    for (int i = 0; i < 6; ++i) {
        folder /= std::string(100, static_cast<char>('a' + i));
    }
    fs::create_directories(folder);
    return folder;
}

// A WAL database with 10 rows, 5 of them only in the WAL, which the open
// connection returned keeps there (and the "-shm" file beside it).
sqlite3* WalInUse(const fs::path& path) {
    test::MakeSqlite(path,
                     "PRAGMA journal_mode=WAL; CREATE TABLE t(x);"
                     "INSERT INTO t VALUES (1),(2),(3),(4),(5);");
    sqlite3* writer = nullptr;
    sqlite3_open(path.c_str(), &writer);
    sqlite3_exec(writer, "PRAGMA wal_autocheckpoint=0; INSERT INTO t VALUES (6),(7),(8),(9),(10);",
                 nullptr, nullptr, nullptr);
    return writer;
}

// A rollback database of 10 rows whose writer died in the middle of a
// transaction that had already written pages to the file: its journal is
// hot, and the file itself holds the half-written state.
void CrashedWriter(const fs::path& path) {
    test::MakeSqlite(path,
                     "PRAGMA page_size=1024; CREATE TABLE t(x, pad);"
                     "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                     "WHERE i < 10) INSERT INTO t SELECT i, zeroblob(3000) FROM n;");
    const pid_t child = ::fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open(path.c_str(), &db);
        sqlite3_exec(db,
                     "PRAGMA cache_size=1; BEGIN; DELETE FROM t WHERE x > 3;"
                     "UPDATE t SET pad = zeroblob(2000);",
                     nullptr, nullptr, nullptr);
        ::_exit(0);  // no commit, no rollback: as a crash leaves it
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

TEST(SqliteSnapshot, EveryKindOfFileReadsOneStateAndNothingIsWrittenBesideIt) {
    struct Case {
        const char* scenario;
        // Prepares the database at the path given; may return a connection
        // that stays open while the file is read (a program using it).
        std::function<sqlite3*(const fs::path&)> prepare;
        bool longPath = false;
    };
    const Case cases[] = {
        {"a rollback database",
         [](const fs::path& p) {
             test::MakeSqlite(p, kTen);
             return nullptr;
         }},
        {"a rollback database at a path longer than SQLite takes",
         [](const fs::path& p) {
             test::TempDir shorter;
             fs::rename(test::MakeSqlite(shorter / "db.sqlite", kTen), p);
             return nullptr;
         },
         true},
        {"a WAL database no program has open at a path longer than SQLite takes",
         [](const fs::path& p) {
             test::TempDir shorter;
             fs::rename(test::MakeSqlite(shorter / "db.sqlite",
                                         (std::string("PRAGMA journal_mode=WAL;") + kTen).c_str()),
                        p);
             return nullptr;
         },
         true},
        {"a WAL database in use, rows only in its WAL", WalInUse},
        {"a WAL database no program has open",
         [](const fs::path& p) {
             test::MakeSqlite(p, (std::string("PRAGMA journal_mode=WAL;") + kTen).c_str());
             return nullptr;
         }},
        {"a WAL file left without its shared-memory file",
         [](const fs::path& p) {
             test::TempDir live;
             sqlite3* writer = WalInUse(live / "live.db");
             fs::copy_file(live / "live.db", p);
             fs::copy_file(live / "live.db-wal", p.string() + "-wal");
             sqlite3_close(writer);
             return nullptr;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        test::TempDir dir;
        const fs::path folder = c.longPath ? LongFolder(dir.Path()) : dir.Path();
        const fs::path path = folder / "db.sqlite";
        sqlite3* user = c.prepare(path);
        const auto before = Listing(folder);
        std::map<std::string, std::string> bytes;
        for (const auto& name : before) {
            bytes[name] = test::ReadFile(folder / name);
        }
        {
            auto db = OpenDatabase(path.string(), "");
            EXPECT_EQ(RowsOf(*db), std::make_pair(std::int64_t{10}, std::int64_t{10}));
            EXPECT_EQ(Listing(folder), before) << "a file was created beside the database";
            const bool leftByACrash =
                before.contains("db.sqlite-wal") && !before.contains("db.sqlite-shm");
            // (No SQLite program can write at a path longer than SQLite takes.)
            if (!leftByACrash && !c.longPath) {
                // Another program commits: what is read stays as it was.
                Write(path,
                      "INSERT INTO t VALUES (11); DELETE FROM t WHERE x = 1;"
                      "INSERT INTO t VALUES (12);");
                EXPECT_EQ(RowsOf(*db), std::make_pair(std::int64_t{10}, std::int64_t{10}));
            } else {
                for (const auto& [name, content] : bytes) {
                    EXPECT_EQ(test::ReadFile(folder / name), content) << name << " changed";
                }
            }
        }
        sqlite3_close(user);
    }
}

TEST(SqliteSnapshot, AJournalLeftByACrashedWriterIsReplayedInACopyOnly) {
    test::TempDir dir;
    const fs::path path = dir / "crashed.db";
    CrashedWriter(path);
    ASSERT_TRUE(fs::exists(path.string() + "-journal")) << "the writer left no journal";
    const std::string file = test::ReadFile(path);
    const std::string journal = test::ReadFile(path.string() + "-journal");
    {
        auto db = OpenDatabase(path.string(), "");
        EXPECT_EQ(RowsOf(*db), std::make_pair(std::int64_t{10}, std::int64_t{10}));
    }
    EXPECT_EQ(test::ReadFile(path), file);
    EXPECT_EQ(test::ReadFile(path.string() + "-journal"), journal);
}

// The relation walk opens database 2 again for every relation: it reads the
// state the run began with, without another copy.
TEST(SqliteSnapshot, OpeningAgainReadsTheSameState) {
    test::TempDir dir;
    const auto path = test::MakeSqlite(dir / "a.db", kTen);
    auto db = OpenDatabase(path.string(), "");
    Write(path, "INSERT INTO t VALUES (11);");
    auto again = db->OpenAgain();
    ASSERT_NE(again, nullptr);
    db->Close();
    EXPECT_EQ(RowsOf(*again), std::make_pair(std::int64_t{10}, std::int64_t{10}));
}

// A writer process that commits transactions whose result is always the
// same content: it deletes every row of t and inserts the rows of src again,
// in ascending and descending order by turns, with the same rowids, so that
// every commit rewrites the table's pages differently. It ends at SIGTERM;
// its exit status is 0 when no transaction failed.
volatile std::sig_atomic_t gStopWriting = 0;

pid_t StartWriter(const fs::path& path) {
    const pid_t child = ::fork();
    if (child != 0) {
        return child;
    }
    struct sigaction action {};
    action.sa_handler = [](int) { gStopWriting = 1; };
    sigaction(SIGTERM, &action, nullptr);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        ::_exit(3);
    }
    sqlite3_busy_timeout(db, 10000);
    for (int n = 0; !gStopWriting; ++n) {
        const char* sql = n % 2 == 0
                              ? "BEGIN IMMEDIATE; DELETE FROM t;"
                                "INSERT INTO t(rowid, id, a, b) SELECT id, id, a, b FROM src "
                                "ORDER BY id DESC; COMMIT;"
                              : "BEGIN IMMEDIATE; DELETE FROM t;"
                                "INSERT INTO t(rowid, id, a, b) SELECT id, id, a, b FROM src "
                                "ORDER BY id; COMMIT;";
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            ::_exit(1);
        }
        ::usleep(2000);
    }
    sqlite3_close(db);
    ::_exit(0);
}

class LiveWriter : public ::testing::TestWithParam<const char*> {};

TEST_P(LiveWriter, EveryRunAgainstAStaticCopyIsSame) {
    test::TempDir dir;
    const fs::path live = dir / "live.db";
    const fs::path copy = dir / "static.db";
    test::MakeSqlite(live, (std::string("PRAGMA journal_mode=") + GetParam() +
                            ";"
                            "CREATE TABLE src(id INTEGER PRIMARY KEY, a TEXT, b BLOB);"
                            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                            "WHERE i < 20000) INSERT INTO src SELECT i, printf('row %d', i), "
                            "zeroblob(100 + i % 50) FROM n;"
                            "CREATE TABLE t AS SELECT * FROM src;")
                               .c_str());
    fs::copy_file(live, copy);
    // The writer moves rows between pages: the page count and free list of
    // the file change, its content does not.
    const auto settings = test::DefaultSettings(dir.Path());
    test::SetIni(settings, "Databases", "Skip8", "PageCount");
    test::SetIni(settings, "Databases", "Skip9", "FreelistCount");
    test::SetIni(settings, "Databases", "NumSkip", "9");

    const pid_t writer = StartWriter(live);
    ::usleep(100000);
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE("run " + std::to_string(run + 1));
        const auto result = test::RunDiffUnchecked(
            {"--data", "--settings", settings.string(), copy.string(), live.string()});
        EXPECT_EQ(result.exitCode, 0) << result.out;
        EXPECT_EQ(result.err, "");
    }
    ::kill(writer, SIGTERM);
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the writer failed";
}

INSTANTIATE_TEST_SUITE_P(JournalModes, LiveWriter, ::testing::Values("WAL", "DELETE"));

}  // namespace
}  // namespace kesmark
