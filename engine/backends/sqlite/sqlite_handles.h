#pragma once

// Move-only owners of SQLite's C handles, and the one place where SQLite's
// result codes become DbError.

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

#include "engine/model/db_error.h"

namespace kesmark::sqlite {

inline constexpr const char* kSource = "SQLite";

struct DbCloser {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};

struct BlobCloser {
    void operator()(sqlite3_blob* blob) const noexcept { sqlite3_blob_close(blob); }
};

using DbHandle = std::unique_ptr<sqlite3, DbCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;
using BlobHandle = std::unique_ptr<sqlite3_blob, BlobCloser>;

// `error` with the file and what was being read in front, unless its
// message names the file already:
// "'shop.db': reading table 'Orders': database disk image is malformed".
DbError ReadingError(const DbError& error, std::string_view file, std::string_view what);

// Throws DbError(rc, message of `db`, "SQLite") unless rc is OK, ROW or DONE.
void Check(int rc, sqlite3* db);

// Prepares one statement; throws DbError with SQLite's message on failure.
StatementHandle Prepare(sqlite3* db, std::string_view sql);

// Steps a statement: true for a row, false when done; throws on failure.
bool Step(sqlite3_stmt* stmt);

// The text of column i of the current row ("" for NULL).
std::string ColumnText(sqlite3_stmt* stmt, int i);

// "name" with embedded double quotes doubled: the one way SQLite quotes an
// identifier whatever characters it holds.
std::string QuoteIdentifier(std::string_view name);

// 'text' with embedded single quotes doubled, for the rare statements (PRAGMA
// arguments) that take no bound parameters.
std::string QuoteLiteral(std::string_view text);

}  // namespace kesmark::sqlite
