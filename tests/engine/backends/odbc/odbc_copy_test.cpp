// Whole PostgreSQL tables read through COPY beside the driver: every value
// as the driver reads it, in the driver session's snapshot, and the driver
// wherever COPY cannot read alike.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/backends/odbc/odbc_postgres_copy.h"
#include "engine/backends/odbc/odbc_recordset.h"
#include "engine/model/value_codec.h"
#include "engine/open_database.h"
#include "tests/engine/backends/odbc/odbc_test_support.h"

namespace kesmark::test::odbc {
namespace {

using kesmark::odbc::Connection;
using kesmark::odbc::OpenOdbcRecordset;
using kesmark::odbc::ReadsThroughCopy;

const std::vector<std::string> kKinds = {
    "id",     "small", "big",  "exact", "money_like", "single", "double", "body",  "short",
    "padded", "label", "flag", "day",   "moment",     "clock",  "data",   "token", "title"};

std::string SelectList(const std::vector<std::string>& fields) {
    std::string list;
    for (const auto& field : fields) {
        list += (list.empty() ? "\"" : ", \"") + field + "\"";
    }
    return list;
}

std::string Encoded(RecordsetField& field) {
    std::string out;
    field.AppendEncodedValue(out);
    return out;
}

class OdbcCopy : public ::testing::Test {
  protected:
    void SetUp() override { RegisterDrivers(); }

    std::string Connect() const { return server_.Connect("kesmark_copy"); }

    const PostgresServer& server_ = SuiteServer();
};

// Row by row and field by field, what COPY gives is what the driver gives:
// the values, their encodings, whole rows as the data comparison reads
// them, sizes and first pieces; rows with values longer than a piece are
// read again through the driver and say so as the driver's rows do.
TEST_F(OdbcCopy, EveryTypeReadsAsTheDriverReadsIt) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto db = OpenDatabase("", Connect());
    auto copied = db->OpenOrderedRecordset("kinds", kKinds, {"id"});
    ASSERT_TRUE(ReadsThroughCopy(*copied));

    auto connection = Connection::Open(Connect().substr(5), {});
    auto driven = OpenOdbcRecordset(*connection, "kinds",
                                    "SELECT " + SelectList(kKinds) + " FROM kinds ORDER BY id");
    // Where the driver loses what a date or timestamp says (infinity and
    // -infinity both "0000-00-00", a date's era), COPY keeps the server's
    // text: rows 5, 6 and 7.
    const std::map<std::pair<int, std::string>, std::string> kept = {{{5, "day"}, "infinity"},
                                                                     {{5, "moment"}, "infinity"},
                                                                     {{6, "day"}, "-infinity"},
                                                                     {{6, "moment"}, "-infinity"},
                                                                     {{7, "day"}, "4713-01-01 BC"}};
    int rows = 0;
    for (; !copied->IsEof() && !driven->IsEof(); copied->MoveNext(), driven->MoveNext()) {
        ++rows;
        SCOPED_TRACE("row " + std::to_string(rows));
        if (rows >= 5 && rows <= 7) {
            for (std::size_t f = 0; f < kKinds.size(); ++f) {
                const auto k = kept.find({rows, kKinds[f]});
                if (k != kept.end()) {
                    EXPECT_EQ(copied->Field(f).GetValue(), Value(k->second)) << kKinds[f];
                    EXPECT_NE(driven->Field(f).GetValue(), Value(k->second)) << kKinds[f];
                } else {
                    EXPECT_EQ(copied->Field(f).GetValue(), driven->Field(f).GetValue())
                        << kKinds[f];
                }
            }
            continue;
        }
        std::string rowCopied;
        std::string rowDriven;
        std::vector<std::uint32_t> endsCopied;
        std::vector<std::uint32_t> endsDriven;
        const bool wholeCopied = copied->AppendEncodedRow(rowCopied, endsCopied, kLongValuePiece);
        const bool wholeDriven = driven->AppendEncodedRow(rowDriven, endsDriven, kLongValuePiece);
        EXPECT_EQ(wholeCopied, wholeDriven);
        EXPECT_EQ(rowCopied, rowDriven);
        EXPECT_EQ(endsCopied, endsDriven);
        for (std::size_t f = 0; f < kKinds.size(); ++f) {
            SCOPED_TRACE(kKinds[f]);
            RecordsetField& a = copied->Field(f);
            RecordsetField& b = driven->Field(f);
            EXPECT_EQ(a.Name(), b.Name());
            EXPECT_EQ(a.Type(), b.Type());
            EXPECT_EQ(a.FieldSize(), b.FieldSize());
            EXPECT_EQ(a.GetChunk(0, 16), b.GetChunk(0, 16));
            EXPECT_EQ(a.GetChunk(70000, 8), b.GetChunk(70000, 8));
            const Value va = a.GetValue();
            const Value vb = b.GetValue();
            EXPECT_EQ(va, vb) << PlainText(va) << " against " << PlainText(vb);
            EXPECT_EQ(Encoded(a), Encoded(b));
        }
    }
    EXPECT_TRUE(copied->IsEof());
    EXPECT_TRUE(driven->IsEof());
    EXPECT_EQ(rows, 11);
    // A row read by its key (its long values in pieces too) is the
    // driver's.
    for (const int id : {9, 10}) {
        SCOPED_TRACE("row of key " + std::to_string(id));
        auto keyed = db->OpenKeyedRecordset("kinds", kKinds, {"id"}, {Value(id)});
        auto row = OpenOdbcRecordset(
            *connection, "kinds",
            "SELECT " + SelectList(kKinds) + " FROM kinds WHERE id = " + std::to_string(id));
        ASSERT_FALSE(keyed->IsEof());
        ASSERT_FALSE(row->IsEof());
        for (std::size_t f = 0; f < kKinds.size(); ++f) {
            SCOPED_TRACE(kKinds[f]);
            EXPECT_EQ(keyed->Field(f).FieldSize(), row->Field(f).FieldSize());
            EXPECT_EQ(keyed->Field(f).GetChunk(65530, 12), row->Field(f).GetChunk(65530, 12));
            EXPECT_EQ(keyed->Field(f).GetValue(), row->Field(f).GetValue());
        }
    }
    // The long values are there, whole.
    auto again = db->OpenOrderedRecordset("kinds", kKinds, {"id"});
    again->Move(8);
    ASSERT_FALSE(again->IsEof());
    EXPECT_EQ(again->Field(0).GetValue(), Value(std::int64_t{9}));
    EXPECT_EQ(again->Field(7).FieldSize(), 70000);
    EXPECT_EQ(again->Field(15).FieldSize(), 80000);
    again->Close();
}

// A table with a type whose COPY text is not the driver's, or a key that is
// not among the fields read, is read through the driver.
TEST_F(OdbcCopy, OtherTypesAreReadThroughTheDriver) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto db = OpenDatabase("", Connect());
    auto other = db->OpenOrderedRecordset("other_kinds", {"id", "span", "amount"}, {"id"});
    EXPECT_FALSE(ReadsThroughCopy(*other));
    EXPECT_EQ(PlainText(other->Field(1).GetValue()), "1 day 02:00:00");
    other->Close();
    // The driver gives a timestamp with time zone without its zone.
    auto zoned = db->OpenOrderedRecordset("kinds", {"id", "moment_tz"}, {"id"});
    EXPECT_FALSE(ReadsThroughCopy(*zoned));
    zoned->Close();
    auto keyless = db->OpenOrderedRecordset("kinds", {"body"}, {"id"});
    EXPECT_FALSE(ReadsThroughCopy(*keyless));
    keyless->Close();
}

// COPY reads the snapshot the driver's session reads: rows written after the
// database was opened are in neither, also after a statement failed and the
// driver's session began another transaction.
TEST_F(OdbcCopy, ReadsTheDriverSessionsSnapshot) {
    KESMARK_REQUIRE_POSTGRES(server_);
    server_.Psql("kesmark_copy", "DELETE FROM live WHERE id > 100");
    auto db = OpenDatabase("", Connect());
    auto count = [&] {
        auto rows = db->OpenOrderedRecordset("live", {"id", "name"}, {"id"});
        EXPECT_TRUE(ReadsThroughCopy(*rows));
        int n = 0;
        for (; !rows->IsEof(); rows->MoveNext()) {
            ++n;
        }
        rows->Close();
        return n;
    };
    EXPECT_EQ(count(), 100);
    server_.Psql("kesmark_copy",
                 "INSERT INTO live VALUES (101, 'after'); "
                 "UPDATE live SET name = 'changed' WHERE id = 1");
    EXPECT_EQ(count(), 100);
    EXPECT_THROW(db->OpenRecordset("no_such_table", {}), DbError);
    EXPECT_EQ(count(), 100);
    auto first = db->OpenOrderedRecordset("live", {"id", "name"}, {"id"});
    EXPECT_EQ(first->Field(1).GetValue(), Value(std::string("name 1")));
    first->Close();
    server_.Psql("kesmark_copy",
                 "DELETE FROM live WHERE id > 100; "
                 "UPDATE live SET name = 'name 1' WHERE id = 1");
}

// The second session connects with what a data source gives, and reads
// tables of odd names and of another schema.
TEST_F(OdbcCopy, ADataSourceAndOddNamesAreReadThroughCopy) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto db = OpenDatabase(
        "", "ODBC;DSN=kesmark_a;UID=" + server_.user + ";PWD=" + server_.password + ";");
    const std::pair<std::string, std::vector<std::string>> tables[] = {
        {"customers", {"id", "name", "email", "note"}},
        {"Odd \"Name\"", {"Key Column", "ünïcode"}},
        {"archive.orders", {"id", "closed"}},
    };
    for (const auto& [table, fields] : tables) {
        SCOPED_TRACE(table);
        auto rows = db->OpenOrderedRecordset(table, fields, {fields.front()});
        EXPECT_TRUE(ReadsThroughCopy(*rows));
        auto odbc = db->OpenRecordset(table, fields);
        std::multiset<std::string> copied;
        std::multiset<std::string> driven;
        for (; !rows->IsEof(); rows->MoveNext()) {
            std::string row;
            for (std::size_t f = 0; f < fields.size(); ++f) {
                rows->Field(f).AppendEncodedValue(row);
            }
            copied.insert(row);
        }
        for (; !odbc->IsEof(); odbc->MoveNext()) {
            std::string row;
            for (std::size_t f = 0; f < fields.size(); ++f) {
                odbc->Field(f).AppendEncodedValue(row);
            }
            driven.insert(row);
        }
        EXPECT_FALSE(copied.empty());
        EXPECT_EQ(copied, driven);
    }
}

// A recordset closed before its last row stops its COPY; the next table is
// read whole, and so is one read while another is still open (through the
// driver). (The table "live" is another test's to change.)
TEST_F(OdbcCopy, AClosedCopyLeavesTheSessionReady) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto db = OpenDatabase("", Connect());
    auto part = db->OpenOrderedRecordset("kinds", kKinds, {"id"});
    ASSERT_TRUE(ReadsThroughCopy(*part));
    part->MoveNext();
    auto beside = db->OpenOrderedRecordset("kinds", kKinds, {"id"});
    EXPECT_FALSE(ReadsThroughCopy(*beside));
    beside->Close();
    part->Close();
    auto whole = db->OpenOrderedRecordset("kinds", kKinds, {"id"});
    ASSERT_TRUE(ReadsThroughCopy(*whole));
    int n = 0;
    for (; !whole->IsEof(); whole->MoveNext()) {
        ++n;
    }
    EXPECT_EQ(n, 11);
}

// Reading many tables lets go of their locks as it goes: a server's locks
// are few (about 64 a connection), and a transaction keeps each one it took
// to its end.
TEST_F(OdbcCopy, ReadingManyTablesHoldsFewLocks) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto db = OpenDatabase("", Connect());
    auto tables = db->GetCollection("TableDefs");
    constexpr int kTables = 300;
    for (int t = 1; t <= kTables; ++t) {
        const std::string name = "many_" + std::to_string(t);
        EXPECT_EQ(tables->Item(name)->GetProperties().Item("RecordCount").GetValue(),
                  Value(std::int64_t{1}));
        auto rows = db->OpenOrderedRecordset(name, {"id", "v"}, {"id"});
        EXPECT_TRUE(ReadsThroughCopy(*rows)) << name;
        rows->Close();
    }
    const std::string held =
        server_.Psql("kesmark_copy",
                     "SELECT count(*) FROM pg_locks l JOIN pg_class c ON c.oid = l.relation "
                     "WHERE c.relname LIKE 'many\\_%' AND l.pid <> pg_backend_pid()");
    EXPECT_LT(std::stoi(held), 100) << held << " locks held";
}

// The text of one COPY row: tabs between fields, \N for Null, escapes
// undone.
TEST(CopyRow, SplitsFieldsAndUndoesEscapes) {
    std::string buffer;
    std::vector<std::pair<std::size_t, std::size_t>> fields;
    std::vector<bool> nulls;
    ASSERT_TRUE(
        kesmark::odbc::SplitCopyRow("a\\tb\t\\N\t\t\\\\N\t\\101\\x41\\n", buffer, fields, nulls));
    ASSERT_EQ(fields.size(), 5u);
    auto text = [&](std::size_t i) { return buffer.substr(fields[i].first, fields[i].second); };
    EXPECT_EQ(text(0), "a\tb");
    EXPECT_TRUE(nulls[1]);
    EXPECT_FALSE(nulls[2]);
    EXPECT_EQ(text(2), "");
    EXPECT_EQ(text(3), "\\N");
    EXPECT_FALSE(nulls[3]);
    EXPECT_EQ(text(4), "AA\n");
    EXPECT_FALSE(kesmark::odbc::SplitCopyRow("ends in \\", buffer, fields, nulls));
}

}  // namespace
}  // namespace kesmark::test::odbc
