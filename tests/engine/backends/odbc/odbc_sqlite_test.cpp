// SQLite files read through the real driver manager and the real SQLite
// ODBC driver (libsqliteodbc), registered in a test-local odbcinst.ini.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/backends/odbc/odbc_connect_string.h"
#include "engine/backends/odbc/odbc_connection.h"
#include "engine/backends/odbc/odbc_database.h"
#include "tests/engine/backends/odbc/odbc_test_support.h"
#include "tests/support/row_scenarios.h"

namespace kesmark::test::odbc {
namespace {

using kesmark::odbc::Connection;
using kesmark::odbc::OpenOdbcDatabase;

constexpr const char* kShopV1 = R"sql(
CREATE TABLE customers (id INTEGER PRIMARY KEY, name VARCHAR(60) NOT NULL,
                        email VARCHAR(100), phone TEXT);
CREATE TABLE orders (id INTEGER PRIMARY KEY AUTOINCREMENT, customer_id INTEGER,
                     total NUMERIC(10, 2) DEFAULT 0, placed DATE);
CREATE INDEX orders_placed ON orders (placed);
CREATE TABLE items (order_id INT, line INT, product TEXT, PRIMARY KEY (order_id, line),
                    UNIQUE (product, order_id));
CREATE VIEW big_orders AS SELECT id, total FROM orders WHERE total > 100;
CREATE TRIGGER orders_audit AFTER INSERT ON orders
    BEGIN UPDATE orders SET total = total WHERE id = NEW.id; END;
INSERT INTO customers VALUES (1, 'Ada', 'ada@example.org', NULL), (2, 'Brian', NULL, '555');
INSERT INTO orders VALUES (10, 1, 150, '2024-01-02'), (11, 2, 20.5, '2024-02-03');
)sql";

// Release 2: each change below is one the comparison must show.
constexpr const char* kShopV2 = R"sql(
CREATE TABLE customers (id INTEGER PRIMARY KEY, name VARCHAR(60),
                        email TEXT);
CREATE TABLE orders (id INTEGER PRIMARY KEY AUTOINCREMENT,
                     customer_id INTEGER REFERENCES customers (id) ON DELETE CASCADE,
                     total NUMERIC(10, 2) DEFAULT 1, placed DATE);
CREATE UNIQUE INDEX orders_placed ON orders (placed);
CREATE TABLE items (order_id INT, line INT, product TEXT, PRIMARY KEY (order_id, line),
                    UNIQUE (product, order_id));
CREATE TABLE audit (at TEXT, what TEXT);
CREATE VIEW big_orders AS SELECT id, total FROM orders WHERE total > 500;
CREATE TRIGGER orders_audit AFTER INSERT ON orders
    BEGIN UPDATE orders SET total = total + 0 WHERE id = NEW.id; END;
INSERT INTO customers VALUES (1, 'Ada', 'ada@example.org'), (2, 'Bryan', NULL);
INSERT INTO orders VALUES (10, 1, 150, '2024-01-02'), (11, 2, 20.5, '2024-02-03');
)sql";

// The default settings with the database properties that only tell two
// connections apart on the Databases Skip list.
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

class OdbcSqlite : public ::testing::Test {
  protected:
    void SetUp() override { RegisterDrivers(); }
    TempDir dir_;
};

TEST_F(OdbcSqlite, GivesTheNativeBackendsNodesForThePair) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path v1 = MakeSqlite(dir_ / "shop-v1.db", kShopV1);
    const fs::path v2 = MakeSqlite(dir_ / "shop-v2.db", kShopV2);
    const std::string settings = ConnectionNeutralSettings(dir_.Path()).string();

    for (const bool data : {false, true}) {
        std::vector<std::string> args = {"--json", "--settings", settings};
        if (data) {
            args.push_back("--data");
        }
        auto nativeArgs = args;
        nativeArgs.insert(nativeArgs.end(), {v1.string(), v2.string()});
        auto odbcArgs = args;
        odbcArgs.insert(odbcArgs.end(), {SqliteConnect(v1), SqliteConnect(v2)});
        const auto native = RunDiff(nativeArgs);
        const auto odbc = RunDiff(odbcArgs);
        ASSERT_EQ(native.exitCode, 1) << native.err;
        ASSERT_EQ(odbc.exitCode, 1) << odbc.err;
        const JsonRun nativeRun = ParseJsonRun(native.out);
        const JsonRun odbcRun = ParseJsonRun(odbc.out);
        EXPECT_EQ(std::set<std::string>(odbcRun.nodes.begin(), odbcRun.nodes.end()),
                  std::set<std::string>(nativeRun.nodes.begin(), nativeRun.nodes.end()))
            << (data ? "with" : "without") << " --data";
        EXPECT_GT(odbcRun.nodes.size(), 40u);
        EXPECT_TRUE(odbcRun.messages.empty());

        // The pair's changes, as both backends see them.
        std::vector<std::string> expected = {
            "Databases",
            "TableDefs[customers]",
            "TableDefs[customers].Fields[email]",
            "TableDefs[customers].Fields[name]",
            "TableDefs[customers].Fields[phone]",
            "TableDefs[orders]",
            "TableDefs[orders].Fields[total]",
            "TableDefs[orders].Indexes[orders_placed]",
            "TableDefs[audit]",
            "QueryDefs[big_orders]",
            "Relations[orders(customer_id) -> customers(id)]",
            "Containers[Relationships]",
            "Containers[Relationships].Documents[orders(customer_id) -> customers(id)]",
            "Containers[Tables]",
            "Containers[Tables].Documents[audit]",
            "Containers[Triggers]",
            "Containers[Triggers].Documents[orders_audit]",
        };
        if (data) {
            // Customer 2 was renamed: the changed row and the first record
            // of its field that differs.
            expected.push_back("TableDefs[customers].Fields[name].Records[2]");
            expected.push_back("TableDefs[customers].Rows[2]");
        }
        auto differences = odbcRun.differences;
        std::sort(differences.begin(), differences.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(differences, expected) << (data ? "with" : "without") << " --data";
    }
}

// Every node of the pair's comparison through the driver, in the order the
// run adds them, exactly as recorded in tests/golden.
TEST_F(OdbcSqlite, ThePairGivesTheNodesRecorded) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path v1 = MakeSqlite(dir_ / "shop-v1.db", kShopV1);
    const fs::path v2 = MakeSqlite(dir_ / "shop-v2.db", kShopV2);
    const std::string settings = ConnectionNeutralSettings(dir_.Path()).string();
    const auto result =
        RunDiff({"--json", "--data", "--settings", settings, SqliteConnect(v1), SqliteConnect(v2)});
    ASSERT_EQ(result.exitCode, 1) << result.err;
    ExpectRecordedNodes(result.out, "odbc-sqlite-shop-data");
}

TEST_F(OdbcSqlite, RowsAreMatchedByKeyAsTheSqliteBackendMatchesThem) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path a = MakeSqlite(dir_ / "a.db", RowPairSql('a'));
    const fs::path b = MakeSqlite(dir_ / "b.db", RowPairSql('b'));
    ExpectRowPairResults(SqliteConnect(a), SqliteConnect(b), dir_.Path());
}

TEST_F(OdbcSqlite, TheSamePairIsSame) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path a = MakeSqlite(dir_ / "a.db", kShopV1);
    const fs::path b = MakeSqlite(dir_ / "b.db", kShopV1);
    const auto result =
        RunDiff({"--data", "--settings", ConnectionNeutralSettings(dir_.Path()).string(),
                 SqliteConnect(a), SqliteConnect(b)});
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
}

struct ValueCase {
    const char* scenario;
    const char* column;
    int row;  // 1-based
    Value expected;
};

TEST_F(OdbcSqlite, ReadsEveryValueAsStored) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path file = MakeSqlite(dir_ / "values.db", R"sql(
        CREATE TABLE v (i INTEGER, r REAL, n NUMERIC, t TEXT, b BLOB, d DATE);
        INSERT INTO v VALUES (42, 0.5, 12.5, 'Chloé 😀', x'00FF10', '2024-01-02');
        INSERT INTO v VALUES ('blurk', NULL, 'lots', '', x'', 'soon');
        INSERT INTO v VALUES (NULL, -1e-7, NULL, NULL, NULL, NULL);
    )sql");
    const std::vector<ValueCase> cases = {
        {"an integer", "i", 1, Value(42)},
        {"text in an integer column is text, not Null", "i", 2, Value("blurk")},
        {"Null", "i", 3, Value()},
        {"a real", "r", 1, Value(0.5)},
        {"a small real", "r", 3, Value(-1e-7)},
        {"text in a numeric column", "n", 2, Value("lots")},
        {"text beyond ASCII", "t", 1, Value("Chloé 😀")},
        {"an empty text is not Null", "t", 2, Value("")},
        {"bytes", "b", 1, Value(Bytes{0x00, 0xFF, 0x10})},
        {"no bytes are not Null", "b", 2, Value(Bytes{})},
        {"a date", "d", 1, Value(DateTime{45293.0})},
        {"text in a date column", "d", 2, Value("soon")},
    };
    auto db = OpenOdbcDatabase("", SqliteConnect(file));
    for (const auto& c : cases) {
        auto rs = db->OpenRecordset("v", {c.column});
        rs->Move(c.row - 1);
        ASSERT_FALSE(rs->IsEof()) << c.scenario;
        EXPECT_EQ(rs->Field(0).GetValue(), c.expected) << c.scenario;
        EXPECT_EQ(rs->Field(0).SourceTable(), "v") << c.scenario;
        EXPECT_EQ(rs->Field(0).SourceField(), c.column) << c.scenario;
    }
}

TEST_F(OdbcSqlite, ReadsLongValuesInChunksAndMovesToTheEnd) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path file = MakeSqlite(dir_ / "long.db", R"sql(
        CREATE TABLE "odd ""name"" ]" ("a""b" TEXT, "c d" BLOB);
        INSERT INTO "odd ""name"" ]" VALUES (printf('%.250c', 'x') || 'é', zeroblob(70000));
        INSERT INTO "odd ""name"" ]" VALUES ('second', x'01');
    )sql");
    auto db = OpenOdbcDatabase("", SqliteConnect(file));
    EXPECT_EQ(db->RecordsetStatement("odd \"name\" ]", {"a\"b", "c d"}),
              "SELECT \"a\"\"b\", \"c d\" FROM \"odd \"\"name\"\" ]\" NOT INDEXED");
    auto rs = db->OpenRecordset("odd \"name\" ]", {"a\"b", "c d"});
    ASSERT_EQ(rs->FieldCount(), 2u);
    auto& text = rs->Field(0);
    auto& blob = rs->Field(1);
    // Read out of column order: the second column first.
    EXPECT_EQ(blob.FieldSize(), 70000);
    EXPECT_EQ(text.FieldSize(), 252) << "250 letters and one two-byte letter, in UTF-8";
    EXPECT_EQ(text.GetChunk(200, 100).size(), 52u);
    EXPECT_EQ(text.GetChunk(250, 100), (Bytes{0xC3, 0xA9}));
    EXPECT_TRUE(text.GetChunk(252, 100).empty());
    EXPECT_EQ(blob.GetChunk(69990, 100), Bytes(10, 0));
    rs->MoveNext();
    EXPECT_EQ(text.GetValue(), Value("second"));
    rs->Move(5);
    EXPECT_TRUE(rs->IsEof());
    try {
        text.GetValue();
        ADD_FAILURE() << "a value at EOF";
    } catch (const DbError& e) {
        EXPECT_EQ(e.Number(), errors::kNoCurrentRecord);
    }
}

TEST_F(OdbcSqlite, IsReadOnlyInFact) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path file = MakeSqlite(dir_ / "keep.db", "CREATE TABLE t (x INTEGER);");
    const std::string before = ReadFile(file);
    {
        auto connection =
            Connection::Open(SqliteConnect(file).substr(5), kesmark::odbc::Timeouts{});
        for (const char* sql : {"CREATE TABLE u (y INTEGER)", "INSERT INTO t VALUES (1)",
                                "PRAGMA user_version = 7"}) {
            try {
                connection->NewStatement().Execute(sql, "writing");
                ADD_FAILURE() << "the connection wrote: " << sql;
            } catch (const DbError& e) {
                EXPECT_NE(e.Description().find("readonly"), std::string::npos) << e.Description();
            }
        }
    }
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_FALSE(fs::exists(file.string() + "-journal"));
}

TEST_F(OdbcSqlite, AMissingFileIsAnErrorNotANewDatabase) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path missing = dir_ / "missing.db";
    const fs::path present = MakeSqlite(dir_ / "present.db", kShopV1);
    const auto result = RunDiff({"--json", SqliteConnect(present), SqliteConnect(missing)});
    EXPECT_EQ(result.exitCode, 2);
    const JsonRun run = ParseJsonRun(result.out);
    ASSERT_EQ(run.messages.size(), 1u) << result.out;
    EXPECT_NE(run.messages[0].find("Unable to open database"), std::string::npos);
    EXPECT_NE(run.messages[0].find("missing.db"), std::string::npos) << run.messages[0];
    EXPECT_FALSE(fs::exists(missing));
}

TEST_F(OdbcSqlite, TheDriverIsToldNeverToCreateUnlessTheConnectStringSays) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const std::string library = SqliteDriverLibrary();
    const std::pair<std::string, std::string> cases[] = {
        {"Driver=Kesmark SQLite3;Database=/x.db;",
         "Driver=Kesmark SQLite3;Database=/x.db;NoCreat=1;"},
        {"Driver={Kesmark SQLite3};Database=/x.db",
         "Driver={Kesmark SQLite3};Database=/x.db;NoCreat=1;"},
        {"Driver=" + library + ";Database=/x.db;",
         "Driver=" + library + ";Database=/x.db;NoCreat=1;"},
        {std::string("DSN=") + kMissingSqliteDsn + ";",
         std::string("DSN=") + kMissingSqliteDsn + ";NoCreat=1;"},
        {"Driver=Kesmark SQLite3;Database=/x.db;nocreat=0;",
         "Driver=Kesmark SQLite3;Database=/x.db;nocreat=0;"},
        {"Driver=Kesmark PostgreSQL;Server=h;Database=d;",
         "Driver=Kesmark PostgreSQL;Server=h;Database=d;"},
        {"DSN=nowhere;", "DSN=nowhere;"},
    };
    for (const auto& [connect, sent] : cases) {
        EXPECT_EQ(kesmark::odbc::WithNeverCreate(connect), sent) << connect;
    }
}

TEST_F(OdbcSqlite, AMistypedFileNameIsAnOpenFailureWithoutNoCreat) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path present = MakeSqlite(dir_ / "present.db", kShopV1);
    const fs::path missing = dir_ / "mistyped.db";
    const std::pair<std::string, fs::path> cases[] = {
        {"ODBC;Driver=" + std::string(kSqliteDriver) + ";Database=" + missing.string() + ";",
         missing},
        {"ODBC;Driver=" + SqliteDriverLibrary() + ";Database=" + missing.string() + ";", missing},
        {std::string("ODBC;DSN=") + kMissingSqliteDsn + ";", MissingSqliteDsnFile()},
    };
    for (const auto& [connect, file] : cases) {
        SCOPED_TRACE(connect);
        const auto result = RunDiff({"--json", SqliteConnect(present), connect});
        EXPECT_EQ(result.exitCode, 2);
        const JsonRun run = ParseJsonRun(result.out);
        ASSERT_EQ(run.messages.size(), 1u) << result.out;
        EXPECT_NE(run.messages[0].find("Unable to open database"), std::string::npos);
        EXPECT_NE(run.messages[0].find("the database file '" + file.string() + "' does not exist"),
                  std::string::npos)
            << run.messages[0];
        EXPECT_FALSE(fs::exists(file));
    }

    // Asked for in so many words, the driver creates the file.
    const auto created =
        RunDiff({SqliteConnect(present), "ODBC;Driver=" + std::string(kSqliteDriver) +
                                             ";Database=" + missing.string() + ";NoCreat=0;"});
    EXPECT_NE(created.exitCode, 2) << created.err;
    EXPECT_TRUE(fs::exists(missing));
}

}  // namespace
}  // namespace kesmark::test::odbc
