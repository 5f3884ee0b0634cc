// The PostgreSQL dialect reads the keys and indexes of every table with one
// query each, where the driver would take one query or more per table. What
// those queries give must be what the driver gives table by table, row for
// row in the columns the catalogue reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/backends/odbc/odbc_catalog_rows.h"
#include "engine/backends/odbc/odbc_connection.h"
#include "engine/backends/odbc/odbc_dialect.h"
#include "tests/engine/backends/odbc/odbc_test_support.h"

namespace kesmark::test::odbc {
namespace {

using kesmark::odbc::Connection;
using kesmark::odbc::PostgresDialect;
using kesmark::odbc::Statement;
using kesmark::odbc::TextRow;
using kesmark::odbc::Timeouts;

// The cells of `row` at `columns`, joined into one printable text.
std::string Cells(const TextRow& row, const std::vector<std::size_t>& columns) {
    std::string text;
    for (const std::size_t column : columns) {
        const auto& cell = column <= row.size() ? row[column - 1] : std::nullopt;
        text += (cell ? "'" + *cell + "'" : std::string("Null")) + " | ";
    }
    return text;
}

struct CatalogFunction {
    const char* name;
    std::optional<std::string_view> bulkQuery;
    std::size_t schemaColumn;
    std::size_t tableColumn;
    std::vector<std::size_t> readColumns;  // those the catalogue reads
    bool ordered;                          // the order of the rows counts
    std::function<void(Statement&, const std::string& schema, const std::string& table)> call;
};

TEST(OdbcPostgresCatalog, AllTablesAtOnceGiveWhatTheDriverGivesTableByTable) {
    RegisterDrivers();
    const PostgresServer& server = SuiteServer();
    KESMARK_REQUIRE_POSTGRES(server);
    auto connection = Connection::Open(server.Connect("kesmark_catalog").substr(5), Timeouts{});
    const auto& dialect = PostgresDialect();
    namespace fk = kesmark::odbc::foreign_keys_column;
    namespace st = kesmark::odbc::statistics_column;
    namespace pk = kesmark::odbc::primary_keys_column;
    const CatalogFunction functions[] = {
        {"SQLStatistics",
         dialect.StatisticsQuery(),
         st::kSchema,
         st::kTable,
         {st::kSchema, st::kTable, st::kNonUnique, st::kIndexName, st::kType, st::kOrdinalPosition,
          st::kColumnName, st::kAscOrDesc, st::kFilterCondition},
         true,
         [](Statement& s, const std::string& schema, const std::string& table) {
             s.Statistics(schema, table, "reading the indexes");
         }},
        {"SQLPrimaryKeys",
         dialect.PrimaryKeysQuery(),
         pk::kSchema,
         pk::kTable,
         {pk::kSchema, pk::kTable, pk::kColumnName, pk::kKeySequence, pk::kName},
         false,
         [](Statement& s, const std::string& schema, const std::string& table) {
             s.PrimaryKeys(schema, table, "reading the primary key");
         }},
        {"SQLForeignKeys",
         dialect.ForeignKeysQuery(),
         fk::kForeignSchema,
         fk::kForeignTable,
         {fk::kPrimarySchema, fk::kPrimaryTable, fk::kPrimaryColumn, fk::kForeignSchema,
          fk::kForeignTable, fk::kForeignColumn, fk::kKeySequence, fk::kUpdateRule, fk::kDeleteRule,
          fk::kName, fk::kDeferrability},
         false,
         [](Statement& s, const std::string& schema, const std::string& table) {
             s.ForeignKeys(schema, table, "reading the foreign keys");
         }},
    };
    const std::pair<std::string, std::string> tables[] = {
        {"public", "parent"}, {"public", "child"}, {"public", "child2"},
        {"other", "child"},   {"public", "nokey"},
    };
    for (const auto& function : functions) {
        SCOPED_TRACE(function.name);
        ASSERT_TRUE(function.bulkQuery);
        auto bulk = connection->NewStatement();
        bulk.Execute(*function.bulkQuery, "reading the whole catalogue");
        const auto all = bulk.FetchAll("reading the whole catalogue").rows;
        std::size_t compared = 0;
        for (const auto& [schema, table] : tables) {
            SCOPED_TRACE(schema + "." + table);
            auto single = connection->NewStatement();
            function.call(single, schema, table);
            std::vector<std::string> expected;
            for (const auto& row : single.FetchAll("reading one table").rows) {
                expected.push_back(Cells(row, function.readColumns));
            }
            std::vector<std::string> actual;
            for (const auto& row : all) {
                if (row[function.schemaColumn - 1] == schema &&
                    row[function.tableColumn - 1] == table) {
                    actual.push_back(Cells(row, function.readColumns));
                }
            }
            if (!function.ordered) {
                std::sort(expected.begin(), expected.end());
                std::sort(actual.begin(), actual.end());
            }
            EXPECT_EQ(actual, expected);
            compared += expected.size();
        }
        EXPECT_GT(compared, 3u) << "the schema has keys of this kind to compare";
    }
}

}  // namespace
}  // namespace kesmark::test::odbc
