// PostgreSQL through the real driver manager and the real PostgreSQL ODBC
// driver, against the throwaway server scripts/test-postgres.sh starts for
// the suite (databases built from tests/engine/backends/odbc/postgres/*.sql).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/backends/odbc/odbc_database.h"
#include "tests/engine/backends/odbc/odbc_test_support.h"
#include "tests/support/row_scenarios.h"

namespace kesmark::test::odbc {
namespace {

using kesmark::odbc::Connection;
using kesmark::odbc::OpenOdbcDatabase;
using kesmark::odbc::Timeouts;

fs::path ConnectionNeutralSettings(const fs::path& folder) {
    const fs::path settings = DefaultSettings(folder);
    const std::vector<std::string> skip = {"Name",         "Connect",     "DataSourceName",
                                           "DatabaseName", "CatalogName", "ServerName",
                                           "UserName"};
    for (std::size_t i = 0; i < skip.size(); ++i) {
        SetIni(settings, "Databases", "Skip" + std::to_string(i + 1), skip[i]);
    }
    SetIni(settings, "Databases", "NumSkip", std::to_string(skip.size()));
    return settings;
}

std::vector<std::string> Sorted(std::vector<std::string> keys) {
    std::sort(keys.begin(), keys.end());
    return keys;
}

// The differences kesmark_b.sql makes to kesmark_a.sql.
const std::vector<std::string> kKnownDifferences = {
    "Databases",
    "TableDefs[customers]",
    "TableDefs[customers].Fields[phone]",
    "TableDefs[orders]",
    "TableDefs[orders].Fields[quantity]",
    "TableDefs[orders].Fields[total]",
    "TableDefs[orders].Indexes[orders_placed]",
    "QueryDefs[big_orders]",
    "QueryDefs[order_count]",
    "QueryDefs[order_count].Parameters[since]",
    "Relations[orders_customer]",
};

class OdbcPostgres : public ::testing::Test {
  protected:
    void SetUp() override { RegisterDrivers(); }
    const PostgresServer& server_ = SuiteServer();
    TempDir dir_;
};

TEST_F(OdbcPostgres, ThePairShowsExactlyItsKnownDifferences) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string settings = ConnectionNeutralSettings(dir_.Path()).string();
    struct Case {
        const char* scenario;
        std::string database1;
        std::string database2;
    };
    const std::string dsnPart = ";UID=" + server_.user + ";PWD=" + server_.password + ";";
    const std::vector<Case> cases = {
        {"by driver", server_.Connect("kesmark_a"), server_.Connect("kesmark_b")},
        {"by data source name", "ODBC;DSN=kesmark_a" + dsnPart, "ODBC;DSN=kesmark_b" + dsnPart},
    };
    for (const auto& c : cases) {
        for (const bool data : {false, true}) {
            std::vector<std::string> args = {"--json", "--settings", settings};
            if (data) {
                args.push_back("--data");
            }
            args.insert(args.end(), {c.database1, c.database2});
            const auto result = RunDiff(args);
            EXPECT_EQ(result.exitCode, 1) << c.scenario << result.err;
            const JsonRun run = ParseJsonRun(result.out);
            auto expected = kKnownDifferences;
            if (data) {
                // The 501st of 1,000 letters differs: found in the chunk
                // from byte 500.
                expected.push_back("TableDefs[customers].Fields[note]");
                expected.push_back("TableDefs[customers].Fields[note].Records[2]");
                expected.push_back("TableDefs[customers].Rows[2]");
            }
            EXPECT_EQ(Sorted(run.differences), Sorted(expected))
                << c.scenario << (data ? ", with --data" : "");
            EXPECT_TRUE(run.messages.empty()) << c.scenario;
            EXPECT_EQ((result.out + result.err).find(server_.password), std::string::npos);
        }
    }
}

// Every node of the pair's comparison, in the order the run adds them,
// exactly as recorded in tests/golden.
TEST_F(OdbcPostgres, ThePairGivesTheNodesRecorded) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string settings = ConnectionNeutralSettings(dir_.Path()).string();
    const auto result = RunDiff({"--json", "--data", "--settings", settings,
                                 server_.Connect("kesmark_a"), server_.Connect("kesmark_b")});
    ASSERT_EQ(result.exitCode, 1) << result.err;
    ExpectRecordedNodes(result.out, "odbc-postgres-pair-data");
}

TEST_F(OdbcPostgres, RowsAreMatchedByKeyWhateverTheHeapOrder) {
    KESMARK_REQUIRE_POSTGRES(server_);
    // The three rows updated in database 2 now lie at the end of its heap,
    // and the rows of "reversed" in the opposite order.
    EXPECT_EQ(server_.Psql("kesmark_rows_b", "SELECT id FROM updated"),
              "1\n3\n4\n6\n7\n9\n10\n2\n5\n8");
    EXPECT_EQ(server_.Psql("kesmark_rows_b", "SELECT id FROM reversed"), "5\n4\n3\n2\n1");
    // By checksums of key ranges, as by default between servers, and by
    // reading every row: the same results.
    ExpectRowPairResults(server_.Connect("kesmark_rows_a"), server_.Connect("kesmark_rows_b"),
                         dir_.Path(), {}, "Matched by key (checksums)");
    ExpectRowPairResults(server_.Connect("kesmark_rows_a"), server_.Connect("kesmark_rows_b"),
                         dir_.Path(), {"--checksums", "off"}, "Matched by key (rows read)");
}

TEST_F(OdbcPostgres, TextKeysAreReadInByteOrderWhateverTheirCollation) {
    KESMARK_REQUIRE_POSTGRES(server_);
    // The column's own collation puts "a" before "B"; byte order does not.
    if (server_.Psql("kesmark_rows_collation", "SELECT word FROM words ORDER BY word LIMIT 1") !=
        "a") {
        GTEST_SKIP() << "this PostgreSQL has no ICU collation that orders otherwise than bytes";
    }
    const std::string settings = DefaultSettings(dir_.Path()).string();
    const std::string words = server_.Connect("kesmark_rows_collation");
    const auto run = RunDiff({"--data", "--settings", settings, words, words});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "") << "read in key order: no fall back to position";
    const auto listing =
        RunDiff({"--data", "--show", "TableDefs[words]", "--settings", settings, words, words});
    EXPECT_NE(listing.out.find("same     Key                      word"), std::string::npos)
        << listing.out;
    EXPECT_NE(listing.out.find("same     Rows same                6"), std::string::npos)
        << listing.out;
    const auto row = RunDiff({"--data", "--show", "TableDefs[words].Rows[\xC3\xA9]", "--settings",
                              settings, words, words});
    EXPECT_NE(row.out.find("same     n         5           5"), std::string::npos) << row.out;
}

TEST_F(OdbcPostgres, TheSameDatabaseIsSame) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string defaults = DefaultSettings(dir_.Path()).string();
    const auto itself = RunDiff({"--data", "--settings", defaults, server_.Connect("kesmark_a"),
                                 server_.Connect("kesmark_a")});
    EXPECT_EQ(itself.exitCode, 0) << itself.out << itself.err;

    // A copy in another database differs only in what names the connection,
    // which the default settings skip.
    TempDir other;
    const auto copy = RunDiff({"--json", "--data", "--settings", defaults,
                               server_.Connect("kesmark_a"), server_.Connect("kesmark_same")});
    EXPECT_EQ(copy.exitCode, 0) << copy.out << copy.err;
    EXPECT_TRUE(ParseJsonRun(copy.out).differences.empty());
    const auto neutral =
        RunDiff({"--data", "--settings", ConnectionNeutralSettings(other.Path()).string(),
                 server_.Connect("kesmark_a"), server_.Connect("kesmark_same")});
    EXPECT_EQ(neutral.exitCode, 0) << neutral.out << neutral.err;
}

TEST_F(OdbcPostgres, ConnectionPropertiesAreTheOnlyDatabaseDifferencesOfACopy) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto a = OpenOdbcDatabase("", server_.Connect("kesmark_a"));
    auto copy = OpenOdbcDatabase("", server_.Connect("kesmark_same"));
    const Properties pa = a->GetProperties();
    const Properties pc = copy->GetProperties();
    std::vector<std::string> differing;
    for (std::size_t i = 0; i < pa.Count(); ++i) {
        const Property* other = pc.Find(pa.Item(i).Name());
        ASSERT_NE(other, nullptr) << pa.Item(i).Name();
        if (!VariantEqual(pa.Item(i).GetValue(), other->GetValue())) {
            differing.push_back(pa.Item(i).Name());
        }
    }
    EXPECT_EQ(differing,
              (std::vector<std::string>{"Name", "Connect", "DatabaseName", "CatalogName"}));
}

struct OpenFailureCase {
    const char* scenario;
    std::string connect;
    const char* expected;  // in the message
};

TEST_F(OdbcPostgres, AnOpenFailureIsOneClearMessageWithoutThePassword) {
    KESMARK_REQUIRE_POSTGRES(server_);
    // A port nothing listens on: one the kernel just gave out and took back.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string closedPort = std::to_string(ntohs(address.sin_port));
    ::close(probe);

    const std::string secret = "Wr0ng-Secret-Kesmark";
    const std::vector<OpenFailureCase> cases = {
        {"a data source name nobody registered",
         "ODBC;DSN=kesmark_nowhere;UID=kesmark;PWD=" + secret + ";", "[IM002]"},
        {"a wrong password",
         "ODBC;Driver=" + std::string(kPostgresDriver) + ";Server=127.0.0.1;Port=" + server_.port +
             ";Database=kesmark_a;UID=" + server_.user + ";PWD=" + secret + ";",
         "password authentication failed"},
        {"a port nothing listens on",
         "ODBC;Driver=" + std::string(kPostgresDriver) + ";Server=127.0.0.1;Port=" + closedPort +
             ";Database=kesmark_a;UID=" + server_.user + ";PWD=" + secret + ";",
         "[08001]"},
        {"a braced password with a semicolon",
         "ODBC;DSN=kesmark_nowhere;UID=kesmark;PWD={" + secret + ";x};", "[IM002]"},
    };
    for (const auto& c : cases) {
        for (const bool json : {false, true}) {
            std::vector<std::string> args;
            if (json) {
                args.push_back("--json");
            }
            args.insert(args.end(), {server_.Connect("kesmark_a"), c.connect});
            const auto result = RunDiff(args);
            EXPECT_EQ(result.exitCode, 2) << c.scenario;
            const std::string all = result.out + result.err;
            EXPECT_EQ(all.find(secret), std::string::npos) << c.scenario << ":\n" << all;
            EXPECT_EQ(all.find(server_.password), std::string::npos) << c.scenario;
            if (json) {
                const JsonRun run = ParseJsonRun(result.out);
                ASSERT_EQ(run.messages.size(), 1u) << c.scenario << ":\n" << result.out;
                EXPECT_EQ(run.messages[0].rfind("Unable to open database", 0), 0u) << c.scenario;
                EXPECT_NE(run.messages[0].find(c.expected), std::string::npos)
                    << c.scenario << ": " << run.messages[0];
                EXPECT_TRUE(run.nodes.empty()) << c.scenario;
            }
        }
    }
}

TEST_F(OdbcPostgres, NamesObjectsUniquelyAcrossSchemasAndOverloads) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto db = OpenOdbcDatabase("", server_.Connect("kesmark_a"));
    EXPECT_EQ(Sorted(db->GetCollection("TableDefs")->Names()),
              Sorted({"Odd \"Name\"", "archive.orders", "attachments", "customers", "orders"}));
    EXPECT_EQ(Sorted(db->GetCollection("QueryDefs")->Names()),
              Sorted({"big_orders", "label(int4)", "label(text)", "order_count", "touch_order"}));
    auto archive = db->GetCollection("TableDefs")->Item("archive.orders");
    EXPECT_EQ(archive->GetProperties().Item("SchemaName").GetValue(), Value("archive"));
    EXPECT_EQ(archive->GetProperties().Item("SourceTableName").GetValue(), Value("orders"));
    EXPECT_EQ(archive->GetProperties().Item("RecordCount").GetValue(), Value(1));
    auto triggers = db->GetCollection("Containers")->Item("Triggers")->GetCollection("Documents");
    EXPECT_EQ(triggers->Names(), std::vector<std::string>{"orders_touch"});
    auto label = db->GetCollection("QueryDefs")->Item("label(text)");
    EXPECT_NE(PlainText(label->GetProperties().Item("SQL").GetValue()).find("code text"),
              std::string::npos);
}

TEST_F(OdbcPostgres, CascadeRulesBecomeRelationAttributes) {
    KESMARK_REQUIRE_POSTGRES(server_);
    struct Case {
        const char* database;
        int attributes;
        const char* onUpdate;
        const char* onDelete;
    };
    for (const Case& c : {Case{"kesmark_a", 4096, "NO ACTION", "CASCADE"},
                          Case{"kesmark_b", 256, "CASCADE", "NO ACTION"}}) {
        auto db = OpenOdbcDatabase("", server_.Connect(c.database));
        auto relation = db->GetCollection("Relations")->Item("orders_customer");
        const Properties p = relation->GetProperties();
        EXPECT_EQ(p.Item("Attributes").GetValue(), Value(c.attributes)) << c.database;
        EXPECT_EQ(p.Item("OnUpdate").GetValue(), Value(c.onUpdate)) << c.database;
        EXPECT_EQ(p.Item("OnDelete").GetValue(), Value(c.onDelete)) << c.database;
        EXPECT_EQ(p.Item("Table").GetValue(), Value("customers"));
        EXPECT_EQ(p.Item("ForeignTable").GetValue(), Value("orders"));
        auto field = relation->GetCollection("Fields")->Item("id");
        EXPECT_EQ(field->GetProperties().Item("ForeignName").GetValue(), Value("customer_id"));
    }
}

TEST_F(OdbcPostgres, ReadsEveryValueAsStored) {
    KESMARK_REQUIRE_POSTGRES(server_);
    struct Case {
        const char* scenario;
        const char* table;
        const char* field;
        int row;
        Value expected;
    };
    const std::vector<Case> cases = {
        {"an integer", "orders", "quantity", 2, Value(2)},
        {"Null", "orders", "quantity", 3, Value()},
        {"a decimal keeps its scale", "orders", "total", 2, Value(Decimal{"20.50"})},
        {"a date", "orders", "placed", 1, Value(DateTime{45293.0})},
        {"a fraction of a second is kept", "archive.orders", "closed", 1,
         Value("2023-12-31 23:59:59.5")},
        {"text beyond ASCII in a name and a value", "Odd \"Name\"", "ünïcode", 1, Value("ä")},
        {"an empty text is not Null", "customers", "note", 3, Value("")},
        {"no bytes are not Null", "attachments", "body", 2, Value(Bytes{})},
    };
    auto db = OpenOdbcDatabase("", server_.Connect("kesmark_a"));
    for (const auto& c : cases) {
        auto rs = db->OpenRecordset(c.table, {c.field});
        rs->Move(c.row - 1);
        ASSERT_FALSE(rs->IsEof()) << c.scenario;
        EXPECT_EQ(rs->Field(0).GetValue(), c.expected) << c.scenario;
        EXPECT_EQ(rs->Field(0).SourceTable(), c.table) << c.scenario;
    }
    auto rs = db->OpenRecordset("attachments", {"body"});
    EXPECT_EQ(rs->Field(0).FieldSize(), 600);
    EXPECT_EQ(rs->Field(0).GetChunk(598, 100), (Bytes{0x00, 0xFF}));
}

TEST_F(OdbcPostgres, IsReadOnlyInFact) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto connection = Connection::Open(server_.Connect("kesmark_a").substr(5), Timeouts{});
    auto show = [&](const char* setting) {
        auto statement = connection->NewStatement();
        statement.Execute(std::string("SHOW ") + setting, "reading a setting");
        return statement.FetchAll("reading a setting").rows.at(0).at(0).value_or("");
    };
    EXPECT_EQ(show("transaction_read_only"), "on");
    EXPECT_EQ(show("transaction_isolation"), "repeatable read");
    for (const char* sql : {"CREATE TABLE intruder (x integer)",
                            "INSERT INTO customers (id, name) VALUES (99, 'x')"}) {
        try {
            connection->NewStatement().Execute(sql, "writing");
            ADD_FAILURE() << "the connection wrote: " << sql;
        } catch (const DbError& e) {
            EXPECT_NE(e.Description().find("[25006]"), std::string::npos) << e.Description();
        }
        // A refused statement leaves the connection usable, still read-only.
        EXPECT_EQ(show("transaction_read_only"), "on");
    }
    EXPECT_EQ(server_.Psql("kesmark_a", "SELECT count(*) FROM customers"), "3");
}

TEST_F(OdbcPostgres, AStatementThatRunsTooLongIsStopped) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto connection = Connection::Open(server_.Connect("kesmark_a").substr(5),
                                       Timeouts{.login = 15, .statement = 1});
    try {
        connection->NewStatement().Execute("SELECT pg_sleep(60)", "sleeping");
        ADD_FAILURE() << "the statement was not stopped";
    } catch (const DbError& e) {
        EXPECT_NE(e.Description().find("sleeping"), std::string::npos) << e.Description();
        EXPECT_EQ(e.Description().find("connection lost"), std::string::npos) << e.Description();
    }
    auto statement = connection->NewStatement();
    statement.Execute("SELECT 1", "after the timeout");
    EXPECT_EQ(statement.FetchAll("after the timeout").rows.size(), 1u);
}

TEST(OdbcPostgresLogin, AServerThatNeverAnswersEndsInTheLoginTimeout) {
    const auto& drivers = RegisterDrivers();
    if (!drivers.postgresMissing.empty()) {
        GTEST_SKIP() << drivers.postgresMissing;
    }
    // A socket that takes connections and never says a word.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    socklen_t length = sizeof address;
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string connect =
        "Driver=" + std::string(kPostgresDriver) +
        ";Server=127.0.0.1;Port=" + std::to_string(ntohs(address.sin_port)) +
        ";Database=x;UID=x;PWD=Silent-Secret;";
    // Without the login timeout the test would wait for ever: let it fail
    // instead.
    ::alarm(120);
    try {
        Connection::Open(connect, Timeouts{.login = 1, .statement = 1});
        ADD_FAILURE() << "connected to a server that never answers";
    } catch (const DbError& e) {
        EXPECT_NE(e.Description().find("[08001]"), std::string::npos) << e.Description();
        EXPECT_EQ(e.Description().find("Silent-Secret"), std::string::npos) << e.Description();
    }
    ::alarm(0);
    ::close(silent);
}

// Runs kesmark-diff in the background, its output going to files.
struct Background {
    pid_t pid = -1;
    fs::path out;
    fs::path err;
};

Background StartDiff(const std::vector<std::string>& args, const fs::path& folder) {
    Background run{-1, folder / "out.txt", folder / "err.txt"};
    run.pid = ::fork();
    if (run.pid == 0) {
        std::vector<std::string> copies = args;
        std::string program = KESMARK_DIFF_PATH;
        std::vector<char*> argv = {program.data()};
        for (auto& a : copies) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::FILE* out = std::fopen(run.out.c_str(), "w");
        std::FILE* err = std::fopen(run.err.c_str(), "w");
        ::dup2(fileno(out), STDOUT_FILENO);
        ::dup2(fileno(err), STDERR_FILENO);
        ::execv(program.c_str(), argv.data());
        _exit(127);
    }
    return run;
}

// Asks `query` until it prints `expected`; false when it never does.
bool WaitFor(const PostgresServer& server, const std::string& database, const std::string& query,
             const std::string& expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (server.Psql(database, query) == expected) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST(OdbcPostgresServerLost, InTheMiddleOfATableStopsTheRunWithConnectionLost) {
    RegisterDrivers();
    KESMARK_REQUIRE_POSTGRES(SuiteServer());
    // A server of its own, since this test stops it.
    TempDir dir;
    const std::string script = std::string(KESMARK_SOURCE_DIR) + "/scripts/test-postgres.sh";
    const std::string gates =
        std::string(KESMARK_SOURCE_DIR) + "/tests/engine/backends/odbc/postgres-gate/";
    const std::string start = script + " start " + dir.Path().string() + " " + gates +
                              "kesmark_gate_a.sql " + gates + "kesmark_gate_b.sql > /dev/null";
    ASSERT_EQ(std::system(start.c_str()), 0);
    const PostgresServer server = ReadPostgresState(dir.Path());
    KESMARK_REQUIRE_POSTGRES(server);
    const std::string stop = script + " stop " + dir.Path().string();

    // Hold the lock the gate waits for, in a session of our own.
    const std::string holder = "PGPASSWORD='" + server.password + "' " + server.bindir +
                               "/psql -X -q -h " + server.host + " -p " + server.port + " -U " +
                               server.user + " -d kesmark_gate_a > /dev/null 2>&1";
    std::FILE* lock = ::popen(holder.c_str(), "w");
    ASSERT_NE(lock, nullptr);
    std::fputs("SELECT pg_advisory_lock(4242);\n", lock);
    std::fflush(lock);
    ASSERT_TRUE(WaitFor(server, "kesmark_gate_a",
                        "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND granted",
                        "1"));

    // Rows fetched 100 at a time, so that the run reads the table while
    // the server sends it.
    const std::string batches = "UseDeclareFetch=1;Fetch=100;";
    const Background run = StartDiff({"--data", server.Connect("kesmark_gate_a", batches),
                                      server.Connect("kesmark_gate_b", batches)},
                                     dir.Path());
    const bool blocked = WaitFor(server, "kesmark_gate_b",
                                 "SELECT count(*) FROM pg_stat_activity "
                                 "WHERE wait_event_type = 'Lock' AND wait_event = 'advisory'",
                                 "1");
    EXPECT_EQ(std::system(stop.c_str()), 0);
    ::pclose(lock);
    int status = 0;
    ::waitpid(run.pid, &status, 0);
    ASSERT_TRUE(blocked) << "the comparison never reached row 3000: " << ReadFile(run.err);

    const std::string err = ReadFile(run.err);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << err;
    EXPECT_NE(err.find("connection lost after 2900 rows of table big"), std::string::npos) << err;
    EXPECT_EQ((ReadFile(run.out) + err).find(server.password), std::string::npos);
}

}  // namespace
}  // namespace kesmark::test::odbc
