// Comparing across engines: a SQLite database (migration/music-sqlite.sql)
// against the same database moved to the suite's PostgreSQL server
// (postgres/kesmark_music.sql, and postgres/kesmark_music_lower.sql with its
// names folded to lower case), and against itself through the SQLite ODBC
// driver. Under the shipped settings each pair compares as same, data
// included; a change made to one side shows exactly where it was made.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/engine/backends/odbc/odbc_test_support.h"

namespace kesmark::test::odbc {
namespace {

using Json = nlohmann::json;

std::string MigrationSql() {
    std::ifstream in(fs::path(KESMARK_SOURCE_DIR) / "tests" / "engine" / "backends" / "odbc" /
                     "migration" / "music-sqlite.sql");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_FALSE(text.str().empty()) << "migration/music-sqlite.sql not found";
    return text.str();
}

std::vector<std::string> Sorted(std::vector<std::string> keys) {
    std::sort(keys.begin(), keys.end());
    return keys;
}

// One row of a --show --json listing.
struct Row {
    std::string text1;
    std::string text2;
    int icon = 0;
};

std::map<std::string, Row> RowsOf(const DiffResult& result) {
    std::map<std::string, Row> rows;
    const auto doc = Json::parse(result.out, nullptr, false);
    if (doc.is_discarded()) {
        ADD_FAILURE() << "no JSON listing:\n" << result.out << result.err;
        return rows;
    }
    for (const auto& row : doc.at("rows")) {
        rows[row.at("name")] = Row{row.at("text1"), row.at("text2"), row.at("icon")};
    }
    return rows;
}

class OdbcMigration : public ::testing::Test {
  protected:
    void SetUp() override {
        RegisterDrivers();
        sqlite_ = MakeSqlite(dir_ / "music.db", MigrationSql());
    }

    DiffResult Diff(std::vector<std::string> options, const std::string& a, const std::string& b,
                    const fs::path& settings = {}) {
        std::vector<std::string> args = {"--json", "--settings",
                                         (settings.empty() ? settings_ : settings).string()};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {a, b});
        return RunDiff(args);
    }

    const PostgresServer& server_ = SuiteServer();
    TempDir dir_;
    fs::path settings_ = DefaultSettings(dir_.Path());
    fs::path sqlite_;
};

TEST_F(OdbcMigration, TheMigratedDatabaseIsSame) {
    KESMARK_REQUIRE_POSTGRES(server_);
    for (const bool data : {false, true}) {
        const auto result =
            Diff(data ? std::vector<std::string>{"--data"} : std::vector<std::string>{},
                 sqlite_.string(), server_.Connect("kesmark_music"));
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const JsonRun run = ParseJsonRun(result.out);
        EXPECT_TRUE(run.differences.empty())
            << (data ? "with --data: " : "") << ::testing::PrintToString(run.differences);
        EXPECT_TRUE(run.messages.empty());
        EXPECT_GT(run.nodes.size(), 100u);
    }
}

TEST_F(OdbcMigration, ChangesAfterTheMigrationShowExactlyWhereTheyWereMade) {
    KESMARK_REQUIRE_POSTGRES(server_);
    // One column's type, one secondary index dropped, three values updated.
    std::string sql = MigrationSql();
    const std::string total = "Total NUMERIC(10,2) NOT NULL,";
    ASSERT_NE(sql.find(total), std::string::npos);
    sql.replace(sql.find(total), total.size(), "Total REAL NOT NULL,");
    sql +=
        "DROP INDEX IFK_TrackGenreId;"
        "UPDATE Track SET Name = 'Fast as a Shark' WHERE TrackId = 3;"
        "UPDATE Customer SET Country = 'Portugal' WHERE CustomerId = 1;"
        "UPDATE InvoiceLine SET Quantity = 2 WHERE InvoiceLineId = 5;";
    const fs::path changed = MakeSqlite(dir_ / "changed.db", sql);

    const std::vector<std::string> schema = {
        "Databases",
        "TableDefs[Invoice]",
        "TableDefs[Invoice].Fields[Total]",
        "TableDefs[Track]",
        "TableDefs[Track].Indexes[IFK_TrackGenreId]",
    };
    std::vector<std::string> data = schema;
    data.insert(data.end(), {
                                "TableDefs[Customer]",
                                "TableDefs[Customer].Fields[Country]",
                                "TableDefs[Customer].Fields[Country].Records[1]",
                                "TableDefs[InvoiceLine]",
                                "TableDefs[InvoiceLine].Fields[Quantity]",
                                "TableDefs[InvoiceLine].Fields[Quantity].Records[5]",
                                "TableDefs[Track].Fields[Name]",
                                "TableDefs[Track].Fields[Name].Records[3]",
                                // The three updated rows, matched by key.
                                "TableDefs[Customer].Rows[1]",
                                "TableDefs[InvoiceLine].Rows[5]",
                                "TableDefs[Track].Rows[3]",
                            });
    for (const bool withData : {false, true}) {
        const auto result =
            Diff(withData ? std::vector<std::string>{"--data"} : std::vector<std::string>{},
                 changed.string(), server_.Connect("kesmark_music"));
        EXPECT_EQ(result.exitCode, 1) << result.err;
        const JsonRun run = ParseJsonRun(result.out);
        EXPECT_EQ(Sorted(run.differences), Sorted(withData ? data : schema))
            << (withData ? "with --data" : "schema only");
    }
    // The changed type, side by side; the property one engine lacks is
    // skipped, the real now read as 8 bytes.
    const auto rows = RowsOf(RunDiff({"--json", "--settings", settings_.string(), "--show",
                                      "TableDefs[Invoice].Fields[Total]", changed.string(),
                                      server_.Connect("kesmark_music")}));
    ASSERT_TRUE(rows.count("Type"));
    EXPECT_EQ(rows.at("Type").text1, "7");
    EXPECT_EQ(rows.at("Type").text2, "20");
    EXPECT_EQ(rows.at("DeclaredType").text1, "skipped");
    EXPECT_EQ(rows.at("TypeName").text2, "skipped");
}

TEST_F(OdbcMigration, IndexesAndRelationsTheEnginesNamedPairByDefinition) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const auto run = ParseJsonRun(Diff({}, sqlite_.string(), server_.Connect("kesmark_music")).out);
    struct Case {
        const char* scenario;
        const char* key;  // database 1's name
        const char* name2;
    };
    const Case cases[] = {
        {"the rowid key and a named primary key", "TableDefs[Track].Indexes[sqlite_rowid]",
         "PK_Track"},
        {"an automatic key index and a named primary key",
         "TableDefs[PlaylistTrack].Indexes[sqlite_autoindex_PlaylistTrack_1]", "PK_PlaylistTrack"},
        {"a UNIQUE constraint's automatic indexes",
         "TableDefs[Customer].Indexes[sqlite_autoindex_Customer_1]", "Customer_Email_key"},
        {"a relation by SQLite's rule and one by its constraint name",
         "Relations[Album(ArtistId) -> Artist(ArtistId)]", "FK_AlbumArtistId"},
        {"a relation by SQLite's rule and one PostgreSQL named",
         "Relations[Track(GenreId) -> Genre(GenreId)]", "Track_GenreId_fkey"},
        {"the document of a relation",
         "Containers[Relationships].Documents[Album(ArtistId) -> "
         "Artist(ArtistId)]",
         "FK_AlbumArtistId"},
    };
    for (const auto& c : cases) {
        const std::string node = std::string(c.key) + " ";
        EXPECT_EQ(std::count_if(run.nodes.begin(), run.nodes.end(),
                                [&](const std::string& n) { return n.starts_with(node); }),
                  1)
            << c.scenario;
        // The listing shows both names, as the same object.
        const auto rows =
            RowsOf(RunDiff({"--json", "--settings", settings_.string(), "--show", c.key,
                            sqlite_.string(), server_.Connect("kesmark_music")}));
        ASSERT_TRUE(rows.count("Name")) << c.scenario;
        EXPECT_EQ(rows.at("Name").text2, c.name2) << c.scenario;
        EXPECT_EQ(rows.at("Name").icon, 7) << c.scenario;
    }
    // Indexes the user named pair by name only: no node stands for the
    // PostgreSQL names of the pairs above.
    for (const char* key : {"TableDefs[Track].Indexes[PK_Track]", "Relations[FK_AlbumArtistId]",
                            "TableDefs[Customer].Indexes[Customer_Email_key]"}) {
        EXPECT_EQ(std::count_if(run.nodes.begin(), run.nodes.end(),
                                [&](const std::string& node) { return node.starts_with(key); }),
                  0)
            << key;
    }
}

TEST_F(OdbcMigration, ASqliteFileThroughItsOdbcDriverIsSame) {
    KESMARK_REQUIRE_SQLITE_ODBC();
    const auto result = Diff({"--data"}, sqlite_.string(), SqliteConnect(sqlite_));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    const JsonRun run = ParseJsonRun(result.out);
    EXPECT_TRUE(run.differences.empty()) << ::testing::PrintToString(run.differences);
    EXPECT_GT(run.nodes.size(), 100u);
}

TEST_F(OdbcMigration, ALowerCaseCopyIsSameIgnoringNameCase) {
    KESMARK_REQUIRE_POSTGRES(server_);
    const fs::path ignoring = dir_ / "ignoring.ini";
    fs::copy_file(settings_, ignoring);
    SetIni(ignoring, "General", "IgnoreNameCase", "1");
    struct Case {
        const char* scenario;
        std::vector<std::string> options;
        fs::path settings;
        std::string database1;
        std::vector<std::string> differences;
    };
    const std::vector<Case> cases = {
        {"SQLite against the lower-case copy, --ignore-case",
         {"--ignore-case", "--data"},
         settings_,
         sqlite_.string(),
         {}},
        {"SQLite against the lower-case copy, IgnoreNameCase=1",
         {"--data"},
         ignoring,
         sqlite_.string(),
         {}},
        // Between two databases of one kind the view's statement is compared,
        // and PostgreSQL writes the quotes of its names into it.
        {"the two PostgreSQL copies, --ignore-case",
         {"--ignore-case", "--data"},
         settings_,
         server_.Connect("kesmark_music"),
         {"Databases", "QueryDefs[AlbumTracks]"}},
    };
    for (const auto& c : cases) {
        const auto result =
            Diff(c.options, c.database1, server_.Connect("kesmark_music_lower"), c.settings);
        EXPECT_EQ(result.exitCode, c.differences.empty() ? 0 : 1) << c.scenario << result.err;
        const JsonRun run = ParseJsonRun(result.out);
        EXPECT_EQ(Sorted(run.differences), c.differences) << c.scenario;
        EXPECT_NE(std::find(run.nodes.begin(), run.nodes.end(), "TableDefs[Album] 1"),
                  run.nodes.end())
            << c.scenario << ": keyed by database 1's name";
    }

    // Without it, Album and album are two tables, in the tree and in the
    // listing alike.
    const auto result = Diff({}, sqlite_.string(), server_.Connect("kesmark_music_lower"));
    EXPECT_EQ(result.exitCode, 1);
    const JsonRun run = ParseJsonRun(result.out);
    for (const char* key : {"TableDefs[Album] 2", "TableDefs[album] 2"}) {
        EXPECT_NE(std::find(run.nodes.begin(), run.nodes.end(), key), run.nodes.end()) << key;
    }
    for (const bool ignore : {false, true}) {
        std::vector<std::string> args = {"--json", "--settings", settings_.string(), "--show",
                                         "TableDefs[Album]"};
        if (ignore) {
            args.push_back("--ignore-case");
        }
        args.insert(args.end(), {sqlite_.string(), server_.Connect("kesmark_music_lower")});
        const auto rows = RowsOf(RunDiff(args));
        ASSERT_TRUE(rows.count("Name"));
        EXPECT_EQ(rows.at("Name").text2, ignore ? "album" : "not found");
        EXPECT_EQ(rows.at("Name").icon, ignore ? 7 : 8);
    }
}

}  // namespace
}  // namespace kesmark::test::odbc
