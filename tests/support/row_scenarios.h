#pragma once

// The pair of databases whose rows are matched by key, and what kesmark-diff
// must report for it whichever engine holds it: SQLite files built from the
// pair's SQL, and the PostgreSQL databases the test server builds from the
// same files (tests/engine/backends/odbc/postgres/kesmark_rows_*.sql).

#include <filesystem>
#include <string>
#include <vector>

namespace kesmark::test {

// The SQL of database 1 ('a') or database 2 ('b') of the pair: portable
// statements that SQLite and PostgreSQL both run.
std::string RowPairSql(char side);

// Checks every scenario of the pair end to end with kesmark-diff: the nodes
// of the run by key (rows updated, deleted, added, reordered, a composite key
// with "]" and ",", Nulls outside the key, a unique key, a table without a
// key), the listings of rows, records and tables, MaxRows, and --match
// position. `database1` and `database2` are kesmark-diff's arguments for the
// two sides; settings files are written to `folder`.
// `extra` are further arguments of every run; `matched` how the table
// listing says its rows were matched ("Matched by key (rows read)" or
// "Matched by key (checksums)").
void ExpectRowPairResults(const std::string& database1, const std::string& database2,
                          const std::filesystem::path& folder,
                          const std::vector<std::string>& extra = {},
                          const std::string& matched = "Matched by key (rows read)");

}  // namespace kesmark::test
