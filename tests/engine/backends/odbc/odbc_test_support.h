#pragma once

// What the ODBC tests share: the drivers registered in a test-local
// odbcinst.ini (ODBCSYSINI) and data sources in a test-local odbc.ini
// (ODBCINI), so that the tests never depend on, or touch, the machine's own
// ODBC set-up; and the PostgreSQL test server that scripts/test-postgres.sh
// started for the suite.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace kesmark::test::odbc {

namespace fs = std::filesystem;

// The names the drivers are registered under.
inline constexpr const char* kSqliteDriver = "Kesmark SQLite3";
inline constexpr const char* kPostgresDriver = "Kesmark PostgreSQL";
// A data source of kesmark_a whose odbc.ini entry sets UseDeclareFetch=0.
inline constexpr const char* kBufferedSource = "kesmark_buffered";

// A PostgreSQL server started by scripts/test-postgres.sh, as its state file
// describes it.
struct PostgresServer {
    bool available = false;
    std::string reason;  // why it is not available
    std::string host;
    std::string port;
    std::string user;
    std::string password;
    std::string bindir;
    fs::path stateDir;

    // "ODBC;Driver=Kesmark PostgreSQL;Server=...;Port=...;Database=db;UID=...;
    // PWD=...;" followed by `extra`.
    std::string Connect(const std::string& database, const std::string& extra = "") const;
    // Runs one SQL command with psql on `database`; returns what it printed
    // (unaligned, tuples only), or fails the test.
    std::string Psql(const std::string& database, const std::string& sql) const;
};

// Reads the state file of a server started into `stateDir`.
PostgresServer ReadPostgresState(const fs::path& stateDir);

// The suite's server (the ctest fixture odbc_postgres).
const PostgresServer& SuiteServer();

// Registers the drivers and the data sources (DSN "kesmark_a", "kesmark_b"
// and kBufferedSource for the suite's server) once per process, before any ODBC call;
// child processes (kesmark-diff) inherit the set-up. Returns why the SQLite
// driver or the PostgreSQL driver is missing, empty when present.
struct Drivers {
    std::string sqliteMissing;
    std::string postgresMissing;
};
const Drivers& RegisterDrivers();

// "ODBC;Driver=Kesmark SQLite3;Database=<path>;NoCreat=1;"
std::string SqliteConnect(const fs::path& database);

// A data source of the SQLite driver whose database file does not exist,
// and that file's path.
inline constexpr const char* kMissingSqliteDsn = "kesmark_sqlite_missing";
fs::path MissingSqliteDsnFile();
// The SQLite driver's library, as registered.
std::string SqliteDriverLibrary();

// The run's message texts and the node keys with a differs picture, from
// kesmark-diff --json output.
struct JsonRun {
    bool same = false;
    bool completed = false;
    std::vector<std::string> nodes;        // "key image", in output order
    std::vector<std::string> differences;  // keys with an even image
    std::vector<std::string> messages;
};
JsonRun ParseJsonRun(const std::string& json);

}  // namespace kesmark::test::odbc

// Skip the test, saying why, when a driver or the server is missing.
#define KESMARK_REQUIRE_SQLITE_ODBC()                                   \
    do {                                                                \
        const auto& drivers = ::kesmark::test::odbc::RegisterDrivers(); \
        if (!drivers.sqliteMissing.empty()) {                           \
            GTEST_SKIP() << drivers.sqliteMissing;                      \
        }                                                               \
    } while (false)

#define KESMARK_REQUIRE_POSTGRES(server)                                      \
    do {                                                                      \
        const auto& drivers = ::kesmark::test::odbc::RegisterDrivers();       \
        if (!drivers.postgresMissing.empty()) {                               \
            GTEST_SKIP() << drivers.postgresMissing;                          \
        }                                                                     \
        if (!(server).available) {                                            \
            GTEST_SKIP() << "no PostgreSQL test server: " << (server).reason; \
        }                                                                     \
    } while (false)
