#pragma once

// A table's Indexes collection from the catalog functions, in named steps:
// gather the SQLStatistics rows into indexes (GatherIndexes), read the
// primary key from the SQLPrimaryKeys rows (GatherPrimaryKey), mark the index
// that is the primary key or add one for it (MarkPrimaryKey), and add the
// members with their fields (AddIndexNodes).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/backends/odbc/odbc_catalog_rows.h"
#include "engine/backends/odbc/odbc_dialect.h"
#include "engine/model/object_tree.h"

namespace kesmark::odbc {

// One key of an index.
struct IndexKey {
    std::string name;  // the column, or "(expression n)" for the n-th key
    bool descending = false;
    std::int64_t position = 0;
};

// One index of a table.
struct IndexEntry {
    std::string name;
    bool unique = false;
    bool primary = false;
    std::optional<std::int64_t> type;  // SQL_INDEX_CLUSTERED, ...
    std::string condition;
    std::vector<IndexKey> keys;  // in key order
};

// A table's primary key: its name ("" when the driver gives none) and its
// columns in key order; no columns when the table has none.
struct PrimaryKey {
    std::string name;
    std::vector<std::string> columns;
};

// The indexes of the rows, in the order their first rows come, each with its
// keys in key order; names the driver makes up are renamed by `dialect`.
std::vector<IndexEntry> GatherIndexes(const std::vector<StatisticsRow>& rows,
                                      const Dialect& dialect);

// The primary key of the rows: columns by KEY_SEQ, the first PK_NAME given.
PrimaryKey GatherPrimaryKey(const std::vector<PrimaryKeysRow>& rows);

// Marks the index that is the primary key: the one named like it, else the
// first unique index on exactly its columns; when none is, adds one of its
// own in front, named like the key or "PrimaryKey". Nothing without a key.
void MarkPrimaryKey(std::vector<IndexEntry>& indexes, const PrimaryKey& key);

// The names of the index's keys, in key order.
std::vector<std::string> KeyColumns(const IndexEntry& index);

// Adds one member per index, with its properties and Fields; an index is
// Foreign when its keys are, in order, the columns of one of `foreignKeys`
// (each the foreign columns of one of the table's foreign keys).
void AddIndexNodes(CollectionNode& indexes, const std::vector<IndexEntry>& list,
                   const std::vector<std::vector<std::string>>& foreignKeys);

}  // namespace kesmark::odbc
