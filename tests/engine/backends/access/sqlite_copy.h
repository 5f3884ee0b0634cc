#pragma once

// A SQLite copy of an Access file, made as a migration makes one: the local
// tables with their columns, defaults, keys, indexes, relations and rows,
// read through Kesmark's own Access backend and written with the sqlite3 C
// API. What a SQLite file cannot hold is left out, and the copy says so.

#include <filesystem>
#include <string>
#include <vector>

namespace kesmark::test {

// An index the copy had to rename, because SQLite's index names are unique
// in the whole database: Employees' "PostalCode", after Customers' one, is
// copied as "Employees_PostalCode".
struct RenamedIndex {
    std::string table;
    std::string name;
    std::string copiedAs;
};

// A field whose Attributes the copy cannot keep.
struct ChangedField {
    std::string table;
    std::string field;
};

// What the copy changes on the way.
struct SqliteCopyReport {
    std::vector<std::string> tables;  // the tables copied
    std::vector<RenamedIndex> renamedIndexes;
    // AutoNumber columns, which keep their numbers but are not numbered by
    // SQLite (a SQLite key that numbers itself is the rowid, which would put
    // the rows in key order instead of their stored order), and hyperlink
    // columns, which are plain text in SQLite.
    std::vector<ChangedField> changedFields;
};

// Writes `sqlite` (which must not exist) from `access`:
//   - every local table but the system tables; a column's declared type is
//     the name SQLite reads as its Access type (Yes/No BOOLEAN, Byte TINYINT,
//     Integer SMALLINT, Long INT, Currency CURRENCY, Single SINGLE, Double DOUBLE,
//     Date/Time DATE, Text VARCHAR(n), Memo TEXT, OLE Object BLOB,
//     Replication ID GUID, Decimal DECIMAL); NOT NULL for Required; the
//     default in SQL's words (Access's =No as 0, "x" as 'x', Now() as
//     CURRENT_TIMESTAMP);
//   - the primary key, every other index under its own name (or renamed, see
//     the report), leaving out Null keys for IgnoreNulls as a partial index;
//   - every relation as a foreign key of its many-side table, cascading as
//     the relation does;
//   - every row in its stored order, values as SQLite stores them (Yes/No as
//     1 or 0, currency and decimals as numbers, dates as ISO 8601 text).
// Queries, forms, reports, modules and Access's own properties are not
// copied. Fails the test (and returns what it did) when a step fails.
SqliteCopyReport CopyAccessToSqlite(const std::filesystem::path& access,
                                    const std::filesystem::path& sqlite);

}  // namespace kesmark::test
