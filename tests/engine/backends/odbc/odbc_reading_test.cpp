// Reading rows and long values through the real drivers: the PostgreSQL
// driver reads through a cursor unless told otherwise, rows come in blocks,
// and long values come in pieces, all without changing what is read.

#include <gtest/gtest.h>

#include <optional>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/backends/odbc/odbc_database.h"
#include "engine/backends/odbc/odbc_dialect.h"
#include "engine/backends/odbc/odbc_recordset.h"
#include "tests/engine/backends/odbc/odbc_test_support.h"

namespace kesmark::test::odbc {
namespace {

using kesmark::odbc::Connection;
using kesmark::odbc::OpenOdbcDatabase;
using kesmark::odbc::PostgresDriverProfile;
using kesmark::odbc::Timeouts;

// The long values of kesmark_rows.sql's long_values, row 1: text whose
// UTF-16 has surrogate pairs throughout, and bytes of every kind.
std::string LongText() {
    std::string text;
    for (int i = 0; i < 70000; ++i) {
        text += "ab😀é";
    }
    return text;
}

Bytes LongBytes() {
    Bytes bytes;
    for (int i = 0; i < 100000; ++i) {
        bytes.insert(bytes.end(), {0x00, 0x01, 0x02, 0x03, 0x04, 0xFF});
    }
    return bytes;
}

Bytes AsBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// The value of a field read through FieldSize and GetChunk, `chunk` bytes at
// a time from the start.
Bytes ReadInChunks(RecordsetField& field, std::size_t chunk) {
    Bytes all;
    for (;;) {
        const Bytes piece = field.GetChunk(static_cast<std::int64_t>(all.size()), chunk);
        if (piece.empty()) {
            return all;
        }
        all.insert(all.end(), piece.begin(), piece.end());
    }
}

struct LongValueCase {
    const char* scenario;
    int row;  // 1-based
    const char* field;
    Bytes expected;
};

std::vector<LongValueCase> LongValueCases() {
    return {
        {"long text beyond the BMP", 1, "body", AsBytes(LongText())},
        {"long bytes", 1, "data", LongBytes()},
        {"Null text", 2, "body", {}},
        {"Null bytes", 2, "data", {}},
        {"empty text", 3, "body", {}},
        {"no bytes", 3, "data", {}},
        {"short text", 4, "body", AsBytes("short")},
        {"short bytes", 4, "data", Bytes{0x01, 0x02}},
    };
}

// Reads every case's value in pieces of several sizes, going back and
// forth, and checks the bytes, the size and the whole value.
void CheckLongValues(Database& db, const std::string& where) {
    for (const auto& c : LongValueCases()) {
        const std::string scenario = where + ": " + c.scenario;
        for (const std::size_t chunk :
             {std::size_t{1000}, std::size_t{65536}, std::size_t{99991}}) {
            auto rs = db.OpenRecordset("long_values", {c.field});
            rs->Move(c.row - 1);
            ASSERT_FALSE(rs->IsEof()) << scenario;
            RecordsetField& field = rs->Field(0);
            EXPECT_EQ(field.FieldSize(), static_cast<std::int64_t>(c.expected.size())) << scenario;
            EXPECT_EQ(ReadInChunks(field, chunk), c.expected)
                << scenario << ", chunks of " << chunk;
        }
        auto rs = db.OpenRecordset("long_values", {c.field});
        rs->Move(c.row - 1);
        RecordsetField& field = rs->Field(0);
        const std::size_t size = c.expected.size();
        // Going back after reading on, and the size after a part was read.
        const std::size_t late = size > 500000 ? 500000 : size;
        EXPECT_EQ(
            field.GetChunk(static_cast<std::int64_t>(late), 10),
            Bytes(c.expected.begin() + static_cast<std::ptrdiff_t>(late),
                  c.expected.begin() + static_cast<std::ptrdiff_t>(std::min(size, late + 10))))
            << scenario;
        EXPECT_EQ(
            field.GetChunk(3, 5),
            Bytes(c.expected.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 3)),
                  c.expected.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 8))))
            << scenario;
        EXPECT_EQ(field.FieldSize(), static_cast<std::int64_t>(size)) << scenario;
        EXPECT_TRUE(field.GetChunk(static_cast<std::int64_t>(size), 10).empty()) << scenario;
        // The whole value after reading in pieces.
        const Value whole = field.GetValue();
        if (c.row == 2) {
            EXPECT_TRUE(whole.IsNull()) << scenario;
        } else if (const auto* text = whole.As<std::string>()) {
            EXPECT_EQ(AsBytes(*text), c.expected) << scenario;
        } else {
            EXPECT_EQ(whole, Value(c.expected)) << scenario;
        }
    }
}

class OdbcReading : public ::testing::Test {
  protected:
    void SetUp() override { RegisterDrivers(); }
    const PostgresServer& server_ = SuiteServer();
    TempDir dir_;
};

struct DriverDefaultsCase {
    const char* scenario;
    std::string connect;
    std::int64_t declareFetch;
    std::int64_t fetch;
};

TEST_F(OdbcReading, ThePostgresDriverReadsThroughACursorUnlessToldOtherwise) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const auto profile = PostgresDriverProfile(true);
    const std::int64_t batch = static_cast<std::int64_t>(profile.defaults.at(1).value);
    const std::string plain = server_.Connect("kesmark_a").substr(5);
    const std::vector<DriverDefaultsCase> cases = {
        {"nothing said: through a cursor, in batches of the backend's size", plain, 1, batch},
        {"UseDeclareFetch=0 given is kept", plain + "UseDeclareFetch=0;", 0, batch},
        {"in another letter case", plain + "usedeclarefetch = 0;", 0, batch},
        {"as the driver's abbreviation", plain + "B6=0;", 0, batch},
        {"a batch size given is kept", plain + "Fetch=17;", 1, 17},
        {"a batch size given as its abbreviation", plain + "A7=17;", 1, 17},
        {"a data source whose entry sets UseDeclareFetch=0",
         "DSN=" + std::string(kBufferedSource) + ";UID=" + server_.user +
             ";PWD=" + server_.password + ";",
         0, batch},
    };
    for (const auto& c : cases) {
        auto connection = Connection::Open(c.connect, Timeouts{});
        EXPECT_EQ(connection->DriverAttribute(*profile.batchingAttribute), c.declareFetch)
            << c.scenario;
        EXPECT_EQ(connection->DriverAttribute(*profile.batchRowsAttribute), c.fetch) << c.scenario;
    }
}

// One field of one row: its size, then its value.
struct ReadCell {
    std::int64_t size = 0;
    Value value;
    friend bool operator==(const ReadCell&, const ReadCell&) = default;
};
using ReadRows = std::vector<std::vector<ReadCell>>;

TEST_F(OdbcReading, ThePostgresDriversBatchesAreSizedByTheRowsRead) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const auto profile = PostgresDriverProfile(true);
    const SQLINTEGER batchRows = *profile.batchRowsAttribute;
    const auto first = static_cast<std::int64_t>(profile.defaults.at(1).value);
    struct Case {
        const char* scenario;
        const char* table;
        std::string extra;
        std::int64_t least;
        std::int64_t most;
    };
    const std::vector<Case> cases = {
        {"narrow rows: batches grow to the most rows", "series", "",
         static_cast<std::int64_t>(profile.maxBatchRows),
         static_cast<std::int64_t>(profile.maxBatchRows)},
        {"rows of 64 KiB: batches of about the bytes chosen", "wide", "",
         static_cast<std::int64_t>(profile.batchBytes / 80000),
         static_cast<std::int64_t>(profile.batchBytes / 65536)},
        {"a batch size given is kept", "series", "Fetch=30;", 30, 30},
    };
    for (const auto& c : cases) {
        auto connection =
            Connection::Open(server_.Connect("kesmark_rows", c.extra).substr(5), Timeouts{});
        const std::int64_t given = connection->DriverAttribute(batchRows).value_or(0);
        EXPECT_EQ(given, c.extra.empty() ? first : 30) << c.scenario;
        auto rs = kesmark::odbc::OpenOdbcRecordset(*connection, c.table,
                                                   std::string("SELECT * FROM ") + c.table);
        for (int row = 0; row < 150 && !rs->IsEof(); ++row) {
            rs->MoveNext();
        }
        ASSERT_FALSE(rs->IsEof()) << c.scenario;
        const std::int64_t now = connection->DriverAttribute(batchRows).value_or(0);
        EXPECT_GE(now, c.least) << c.scenario;
        EXPECT_LE(now, c.most) << c.scenario;
    }
}

// The values and sizes of every field of every row of a table.
ReadRows ReadTable(Database& db, const std::string& table) {
    auto fields = db.GetCollection("TableDefs")->Item(table)->GetCollection("Fields")->Names();
    auto rs = db.OpenRecordset(table, fields);
    ReadRows rows;
    for (; !rs->IsEof(); rs->MoveNext()) {
        auto& row = rows.emplace_back(rs->FieldCount());
        // Sizes first, values after: both orders must give the same.
        for (std::size_t f = 0; f < row.size(); ++f) {
            row[f].size = rs->Field(f).FieldSize();
        }
        for (std::size_t f = 0; f < row.size(); ++f) {
            row[f].value = rs->Field(f).GetValue();
        }
    }
    return rows;
}

TEST_F(OdbcReading, GivesTheSameValuesHoweverTheRowsCome) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::vector<std::pair<const char*, std::string>> ways = {
        {"whole results, the driver's way untold", "UseDeclareFetch=0;"},
        {"the backend's defaults", ""},
        {"batches and blocks of 7 rows", "Fetch=7;"},
    };
    for (const char* table : {"series", "long_values", "wide"}) {
        ReadRows first;
        for (const auto& [scenario, extra] : ways) {
            auto db = OpenOdbcDatabase("", server_.Connect("kesmark_rows", extra));
            const auto rows = ReadTable(*db, table);
            if (first.empty()) {
                first = rows;
                continue;
            }
            ASSERT_EQ(rows.size(), first.size()) << table << ", " << scenario;
            for (std::size_t r = 0; r < rows.size(); ++r) {
                ASSERT_EQ(rows[r], first[r]) << table << " row " << r + 1 << ", " << scenario;
            }
        }
        if (std::string(table) == "series") {
            ASSERT_EQ(first.size(), 2500u);
            // Cells longer than their bound buffers, as the server has them.
            const auto& row250 = first[249];
            EXPECT_EQ(row250[5].value,
                      Value(Decimal{
                          server_.Psql("kesmark_rows", "SELECT huge FROM series WHERE id = 250")}));
            EXPECT_EQ(
                row250[7].value,
                Value(server_.Psql("kesmark_rows", "SELECT body FROM series WHERE id = 250")));
            EXPECT_EQ(row250[7].size, static_cast<std::int64_t>(PlainText(row250[7].value).size()));
            EXPECT_EQ(first[4][6].value, Value("label 5 é😀"));
            EXPECT_EQ(first[8][10].value, Value("2024-01-01 00:05:33.5"));
            EXPECT_EQ(first[6][1].value, Value());
        } else if (std::string(table) == "long_values") {
            ASSERT_EQ(first.size(), 4u);
        } else {
            ASSERT_EQ(first.size(), 300u);
            EXPECT_EQ(first[299][1].value, Value(std::string(65536, 'o')));
        }
    }
}

TEST_F(OdbcReading, ShowsTheSameNodesInTheSameOrderHoweverTheRowsCome) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string settings = DefaultSettings(dir_.Path()).string();
    const std::vector<std::pair<const char*, const char*>> pairs = {
        {"kesmark_a", "kesmark_b"},
        {"kesmark_a", "kesmark_same"},
        {"kesmark_rows", "kesmark_rows"}};
    for (const auto& [a, b] : pairs) {
        std::optional<JsonRun> first;
        for (const char* extra : {"UseDeclareFetch=0;", "", "Fetch=2;"}) {
            const auto result = RunDiff({"--json", "--data", "--settings", settings,
                                         server_.Connect(a, extra), server_.Connect(b, extra)});
            ASSERT_LE(result.exitCode, 1) << a << " " << b << " " << extra << result.err;
            const JsonRun run = ParseJsonRun(result.out);
            EXPECT_TRUE(run.completed);
            if (!first) {
                first = run;
                continue;
            }
            EXPECT_EQ(run.nodes, first->nodes) << a << " against " << b << " with " << extra;
            EXPECT_EQ(run.same, first->same);
        }
        EXPECT_GT(first->nodes.size(), 10u);
    }
}

TEST_F(OdbcReading, ATableThatFailsPartWayFailsOnceWithItsMessage) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string settings = DefaultSettings(dir_.Path()).string();
    for (const char* extra : {"UseDeclareFetch=0;", "", "Fetch=7;"}) {
        // The rows are read (checksums would read the table in one pass).
        const auto result = RunDiff({"--json", "--data", "--checksums", "off", "--settings",
                                     settings, server_.Connect("kesmark_faulty", extra),
                                     server_.Connect("kesmark_faulty", extra)});
        EXPECT_EQ(result.exitCode, 2) << extra;
        const JsonRun run = ParseJsonRun(result.out);
        EXPECT_FALSE(run.completed) << extra;
        EXPECT_FALSE(run.same) << extra;
        ASSERT_EQ(run.messages.size(), 1u) << extra << ":\n" << result.out;
        EXPECT_NE(run.messages[0].find("row 1500 cannot be read"), std::string::npos)
            << extra << ": " << run.messages[0];
        EXPECT_NE(run.messages[0].find("table faulty"), std::string::npos)
            << extra << ": " << run.messages[0];
    }
}

TEST_F(OdbcReading, ReadsLongValuesInPiecesExactlyOnPostgres) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto db = OpenOdbcDatabase("", server_.Connect("kesmark_rows"));
    CheckLongValues(*db, "PostgreSQL");
}

// Hex digits of bytes, for a blob literal.
std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 0x0F];
    }
    return hex;
}

TEST_F(OdbcReading, ReadsLongValuesInPiecesExactlyOnSqlite) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const fs::path file =
        MakeSqlite(dir_ / "long.db",
                   "CREATE TABLE long_values (id INTEGER PRIMARY KEY, body TEXT, data BLOB);"
                   "INSERT INTO long_values VALUES (1, '" +
                       LongText() + "', x'" + Hex(LongBytes()) +
                       "'), (2, NULL, NULL), (3, '', x''), (4, 'short', x'0102');");
    auto db = OpenOdbcDatabase("", SqliteConnect(file));
    CheckLongValues(*db, "SQLite");
}

}  // namespace
}  // namespace kesmark::test::odbc
