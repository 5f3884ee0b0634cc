// Tables compared by checksums of key ranges that the servers compute,
// against the same tables compared by reading every row: the same nodes,
// whatever the difference and wherever it lies in the key order.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/compare/table_data.h"
#include "engine/model/key_order.h"
#include "engine/open_database.h"
#include "tests/engine/backends/odbc/odbc_test_support.h"

namespace kesmark::test::odbc {
namespace {

class OdbcChecksums : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterDrivers();
        settings_ = DefaultSettings(dir_.Path());
        // Small ranges, so that a table of 3,000 rows is cut more than once
        // before a range is read.
        SetIni(settings_, "Data", "ChecksumRangeRows", "50");
    }

    JsonRun Run(const std::string& checksums, const std::string& db1, const std::string& db2) {
        const auto result = RunDiff({"--json", "--all", "--data", "--checksums", checksums,
                                     "--settings", settings_.string(), db1, db2});
        EXPECT_LE(result.exitCode, 1) << result.out << result.err;
        EXPECT_EQ(result.err, "") << checksums;
        return ParseJsonRun(result.out);
    }

    // The table's listing, row name -> text of database 1.
    std::map<std::string, std::string> Listing(const std::string& table, const std::string& db1,
                                               const std::string& db2) {
        const auto shown = RunDiff({"--json", "--data", "--show", "TableDefs[" + table + "]",
                                    "--settings", settings_.string(), db1, db2});
        const auto doc = nlohmann::json::parse(shown.out, nullptr, false);
        std::map<std::string, std::string> rows;
        if (doc.is_discarded()) {
            ADD_FAILURE() << shown.out << shown.err;
            return rows;
        }
        for (const auto& row : doc["rows"]) {
            rows[row["name"].get<std::string>()] = row["text1"].get<std::string>();
        }
        return rows;
    }

    const PostgresServer& server_ = SuiteServer();
    TempDir dir_;
    std::filesystem::path settings_;
};

// The differing nodes under one table.
std::set<std::string> Under(const JsonRun& run, const std::string& table) {
    std::set<std::string> keys;
    const std::string prefix = "TableDefs[" + table + "]";
    for (const auto& key : run.differences) {
        if (key.starts_with(prefix + ".")) {
            keys.insert(key);
        }
    }
    return keys;
}

TEST_F(OdbcChecksums, RangesGiveTheNodesOfReadingEveryRow) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string a = server_.Connect("kesmark_sums_a");
    const std::string b = server_.Connect("kesmark_sums_b");
    const JsonRun bySums = Run("auto", a, b);
    const JsonRun byRows = Run("off", a, b);
    EXPECT_TRUE(bySums.completed);
    EXPECT_EQ(bySums.nodes, byRows.nodes);
    EXPECT_EQ(bySums.messages, byRows.messages);

    struct Case {
        const char* table;
        std::set<std::string> differing;
        const char* matched;
    };
    const std::vector<Case> cases = {
        {"equal_rows", {}, "Matched by key (checksums)"},
        {"first_changed",
         {"TableDefs[first_changed].Rows[1]", "TableDefs[first_changed].Fields[name]",
          "TableDefs[first_changed].Fields[name].Records[1]"},
         "Matched by key (checksums)"},
        {"middle_changed",
         {"TableDefs[middle_changed].Rows[1501]", "TableDefs[middle_changed].Fields[name]",
          "TableDefs[middle_changed].Fields[name].Records[1501]"},
         "Matched by key (checksums)"},
        {"last_changed",
         {"TableDefs[last_changed].Rows[3000]", "TableDefs[last_changed].Fields[name]",
          "TableDefs[last_changed].Fields[name].Records[3000]"},
         "Matched by key (checksums)"},
        {"one_side",
         {"TableDefs[one_side].Rows[10]", "TableDefs[one_side].Rows[1500]",
          "TableDefs[one_side].Rows[2990]", "TableDefs[one_side].Rows[3001]"},
         "Matched by key (checksums)"},
        {"nulls",
         {"TableDefs[nulls].Rows[99]", "TableDefs[nulls].Fields[note]",
          "TableDefs[nulls].Fields[note].Records[99]"},
         "Matched by key (checksums)"},
        {"separators",
         {"TableDefs[separators].Rows[7]", "TableDefs[separators].Rows[1200]",
          "TableDefs[separators].Rows[2500]", "TableDefs[separators].Rows[2600]",
          "TableDefs[separators].Fields[x]", "TableDefs[separators].Fields[x].Records[7]",
          "TableDefs[separators].Fields[y]", "TableDefs[separators].Fields[y].Records[7]"},
         "Matched by key (checksums)"},
        // Place 1700 in key order: k1 then k2, capitals first.
        {"composite",
         {"TableDefs[composite].Rows[kkey, 1700]", "TableDefs[composite].Rows[Zkey, 0]",
          "TableDefs[composite].Fields[v]"},
         "Matched by key (checksums)"},
        {"caseless_texts",
         {"TableDefs[caseless_texts].Rows[42]", "TableDefs[caseless_texts].Fields[word]",
          "TableDefs[caseless_texts].Fields[word].Records[42]"},
         "Matched by key (checksums)"},
        // First cut by a sample of the keys.
        {"large",
         {"TableDefs[large].Rows[22a4d9b04fe95c9893b41e2fde83a427]",
          "TableDefs[large].Rows[202CB962AC59075B964B07152D234B70]",
          "TableDefs[large].Rows[only here]", "TableDefs[large].Fields[n]",
          "TableDefs[large].Fields[n].Records[20648]"},
         "Matched by key (checksums)"},
        {"other_types",
         {"TableDefs[other_types].Rows[2000]", "TableDefs[other_types].Fields[amount]",
          "TableDefs[other_types].Fields[amount].Records[2000]"},
         "Matched by key (rows read)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.table);
        std::set<std::string> differing = Under(bySums, c.table);
        // The record node of a composite key's place is checked by equality
        // with reading every row, above; here only that there is one.
        if (std::string(c.table) == "composite") {
            const auto records =
                std::count_if(differing.begin(), differing.end(), [](const std::string& k) {
                    return k.starts_with("TableDefs[composite].Fields[v].Records[");
                });
            EXPECT_EQ(records, 1);
            std::erase_if(differing, [](const std::string& k) {
                return k.starts_with("TableDefs[composite].Fields[v].Records[");
            });
        }
        EXPECT_EQ(differing, c.differing);
        const auto listing = Listing(c.table, a, b);
        EXPECT_EQ(listing.at("Matching"), c.matched);
        if (std::string(c.matched) == "Matched by key (rows read)") {
            EXPECT_NE(listing.at("Checksums").find("amount"), std::string::npos)
                << listing.at("Checksums");
        }
    }
    // The counts of a table whose rows were not all read are exact.
    const auto oneSide = Listing("one_side", a, b);
    EXPECT_EQ(oneSide.at("Rows only in database 1"), "2");
    EXPECT_EQ(oneSide.at("Rows changed"), "0");
    EXPECT_EQ(oneSide.at("Rows same"), "2997");
}

TEST_F(OdbcChecksums, EqualDatabasesAreTheSame) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string a = server_.Connect("kesmark_sums_a");
    const JsonRun run = Run("auto", a, a);
    EXPECT_TRUE(run.same);
    EXPECT_TRUE(run.completed);
    EXPECT_EQ(Listing("equal_rows", a, a).at("Rows same"), "3000");
}

TEST_F(OdbcChecksums, ASqliteFileAgainstTheServerComputesTheSameHash) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const std::string sql =
        ReadFile(std::filesystem::path(KESMARK_SOURCE_DIR) /
                 "tests/engine/backends/odbc/postgres/kesmark_sums_portable.sql");
    const auto same = MakeSqlite(dir_.Path() / "same.db", sql);
    const auto changed = MakeSqlite(dir_.Path() / "changed.db",
                                    sql +
                                        "UPDATE portable SET name = 'x' WHERE id = 1234;\n"
                                        "DELETE FROM portable WHERE id = 77;\n");
    const std::string server = server_.Connect("kesmark_sums_portable");
    // The server's database on both sides, to know what the file must give.
    ASSERT_TRUE(Run("auto", server, server).same);

    auto db2 = OpenDatabase("", server);
    RecordingHost host;
    for (const auto& [file, expected] : std::vector<std::pair<std::filesystem::path, RowCounts>>{
             {same, RowCounts{0, 0, 0, 3000}}, {changed, RowCounts{0, 1, 1, 2998}}}) {
        SCOPED_TRACE(file.string());
        auto sqlite = OpenDatabase(file.string(), "");
        RecordPairing pairing;
        pairing.keyFields = {"id"};
        pairing.keyFields2 = {"id"};
        pairing.byKey = true;
        pairing.checksums = true;
        pairing.checksumRangeRows = 20;
        TableDataComparison data(*sqlite, *db2, "portable", {"id", "name", "ratio"}, host, pairing);
        data.CompareByMeaning(true);
        ASSERT_TRUE(data.Run());
        EXPECT_EQ(data.ChecksumFallbackReason(), "");
        EXPECT_TRUE(data.MatchedByChecksums());
        EXPECT_EQ(data.Counts(), expected);
        // An equal table is cut once into 32 parts; a changed one further,
        // 32 parts a time, down to ranges of at most 20 rows.
        if (expected.same == 3000) {
            EXPECT_EQ(data.RangesCompared(), 32);
        } else {
            EXPECT_GT(data.RangesCompared(), 32 + 32);
        }
    }
}

// The boundaries of a large table, taken from a sample of its keys when its
// rows are known, cut it into parts of about equal counts, in key order,
// as those of every key do.
TEST_F(OdbcChecksums, KeyBoundariesOfALargeTableCutItIntoAboutEqualParts) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto db = OpenDatabase("", server_.Connect("kesmark_sums_a"));
    const std::vector<std::string> key = {"code"};
    constexpr std::int64_t kRows = 150000;
    std::vector<std::vector<std::vector<Value>>> cuts;
    for (const std::optional<std::int64_t> rows :
         {std::optional<std::int64_t>(kRows), std::optional<std::int64_t>()}) {
        SCOPED_TRACE(rows ? "rows known" : "rows counted");
        const auto boundaries = db->KeyBoundaries("large", key, KeyRange{}, 32, rows);
        cuts.push_back(boundaries);
        ASSERT_GE(boundaries.size(), 24u);
        ASSERT_LE(boundaries.size(), 31u);
        for (std::size_t i = 1; i < boundaries.size(); ++i) {
            EXPECT_LT(CompareKeys(boundaries[i - 1], boundaries[i]), 0) << i;
        }
        const RangeSummaries parts =
            db->RangeChecksums("large", {"code", "n"}, key, KeyRange{}, boundaries);
        ASSERT_EQ(parts.ranges.size(), boundaries.size() + 1);
        std::int64_t total = 0;
        const std::int64_t even = kRows / static_cast<std::int64_t>(parts.ranges.size());
        for (const auto& part : parts.ranges) {
            total += part.rows;
            EXPECT_GT(part.rows, even / 4);
            EXPECT_LT(part.rows, even * 4);
        }
        EXPECT_EQ(total, kRows);
    }
    // The rows known, the cut came from the sample, not from every key.
    EXPECT_NE(cuts[0], cuts[1]);
    // Inside a range (37,125 rows), from every key of the range, counted or
    // given: the keys of its rows 9,282, 18,564 and 27,846.
    KeyRange range;
    range.after = {Value(std::string("4"))};
    range.upTo = {Value(std::string("8"))};
    const auto counted = db->KeyBoundaries("large", key, range, 4, std::nullopt);
    const auto given = db->KeyBoundaries("large", key, range, 4, 37125);
    ASSERT_EQ(counted.size(), 3u);
    ASSERT_EQ(given.size(), 3u);
    for (std::size_t i = 0; i < counted.size(); ++i) {
        EXPECT_EQ(CompareKeys(counted[i], given[i]), 0) << i;
        EXPECT_GT(CompareKeys(counted[i], range.after), 0);
        EXPECT_LE(CompareKeys(counted[i], range.upTo), 0);
    }
}

// Cancelling a comparison while the servers compute a range's checksums
// stops the statement there, not when it ends.
TEST_F(OdbcChecksums, AStatementRunningOnAnotherThreadIsCancelled) {
    KESMARK_REQUIRE_POSTGRES(server_);
    auto connection =
        kesmark::odbc::Connection::Open(server_.Connect("kesmark_sums_a").substr(5), {});
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    std::thread running([&] {
        try {
            auto statement = connection->NewStatement();
            statement.Execute("SELECT pg_sleep(30)", "sleeping");
            statement.FetchAll("sleeping");
        } catch (const DbError& e) {
            error = e.Description();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    connection->CancelRunningCall();
    running.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_NE(error.find("cancel"), std::string::npos) << error;
    // The connection goes on.
    auto statement = connection->NewStatement();
    statement.Execute("SELECT 1", "after the cancel");
    EXPECT_EQ(statement.FetchAll("after the cancel").rows.size(), 1u);
}

}  // namespace
}  // namespace kesmark::test::odbc
