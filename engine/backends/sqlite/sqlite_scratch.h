#pragma once

// Reading the schema of a large SQLite database without holding all of it.
//
// SQLite parses the whole schema of a database when a connection first needs
// it and keeps it for the connection's life: about 3 KB for a table of 20
// columns, so 100 MB for 30,000 tables, on each side of a comparison. The
// schema walk needs one table at a time, so it reads the rows of
// sqlite_schema through a connection that has parsed none of them (catalog
// mode), and asks its questions about one table (its columns, indexes, keys)
// of a scratch database in memory that holds copies of just the rows of
// that table. Reading the data of a table needs the database's own parsed
// schema; the connection then parses it as usual.

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/backends/sqlite/sqlite_handles.h"

namespace kesmark::sqlite {

// Makes a freshly opened connection list sqlite_schema without parsing the
// statements in it: with SQLite's length limit below the length of any row,
// and errors in the schema tolerated (writable_schema), loading the schema
// stops at the first row and SQLite counts the schema loaded, holding
// nothing but sqlite_schema itself. Call before any other statement on `db`.
// Never fails: a file SQLite cannot read yet (not a database, a journal to
// replay first) is left as it was, for the next statement to report.
void EnterCatalogMode(sqlite3* db);

// Makes a connection in catalog mode forget its empty schema, so that the
// next statement parses the whole schema as usual (and fails, as usual, on a
// schema SQLite cannot parse).
void LeaveCatalogMode(sqlite3* db);

// One row of sqlite_schema.
struct SchemaRow {
    std::int64_t rowid = 0;  // in the database it was read from
    std::string type;        // "table", "index", "view" or "trigger"
    std::string name;
    std::string table;
    std::string sql;
};

// An in-memory database whose schema is rows copied from another one, for
// SQLite's pragmas to describe them. The rows' tables and indexes are given
// empty b-trees of the scratch's own, so nothing refers to the other file.
class SchemaScratch {
  public:
    // Throws DbError when SQLite cannot open a database in memory.
    SchemaScratch();

    // Makes the scratch's schema exactly `rows`, in their order, and returns
    // its connection. Rows the scratch already holds are not loaded again.
    // A row SQLite cannot parse makes the next statement on the connection
    // fail with SQLite's message.
    sqlite3* Hold(const std::vector<SchemaRow>& rows);

  private:
    // Makes sure there are at least `tables` empty table b-trees and
    // `indexes` empty index b-trees to give rows.
    void GrowPool(std::size_t tables, std::size_t indexes);
    void Exec(const char* sql);

    DbHandle db_;
    StatementHandle insert_;
    std::vector<std::int64_t> tablePages_;
    std::vector<std::int64_t> indexPages_;
    std::vector<std::int64_t> held_;  // rowids of the rows held, in order
    bool holding_ = false;
};

}  // namespace kesmark::sqlite
