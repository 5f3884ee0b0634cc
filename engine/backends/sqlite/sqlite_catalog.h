#pragma once

// Reads the schema of one SQLite database for the object model: the list of
// tables, views, indexes and triggers in one pass, and per table its columns,
// indexes and foreign keys through SQLite's pragmas, each read once and kept.
//
// Every read may throw DbError with SQLite's result code and message.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/backends/sqlite/sqlite_handles.h"

namespace kesmark::sqlite {

struct CatalogTable {
    std::string name;
    std::string type;  // "table", "virtual" or "shadow"
    bool withoutRowid = false;
    bool strict = false;
    std::string sql;
    std::size_t indexCount = 0;  // indexes sqlite_schema lists for the table
    bool hasAutoIndex = false;   // one of them is an automatic sqlite_autoindex_ index
};

struct CatalogView {
    std::string name;
    std::string sql;
};

struct CatalogTrigger {
    std::string name;
    std::string table;  // the table's or view's stored name when it exists
    std::string sql;
};

// The objects of the main schema, each list in the order of creation.
struct Catalog {
    std::vector<CatalogTable> tables;
    std::vector<CatalogView> views;
    std::vector<CatalogTrigger> triggers;
    std::unordered_map<std::string, std::string> indexSql;  // index name -> statement

    // The stored name of the table or view whose name equals `name` ignoring
    // ASCII case (SQLite's rule), or nullopt.
    std::optional<std::string> StoredName(const std::string& name) const;
    // The table of that stored name, or nullptr (a view, or no such table).
    const CatalogTable* Table(const std::string& name) const;
    // True when some trigger belongs to the view `view` (triggers on views are
    // INSTEAD OF triggers).
    bool HasTriggers(const std::string& view) const;

    std::unordered_map<std::string, std::string> storedNames;     // folded name -> stored name
    std::unordered_map<std::string, std::size_t> tablePositions;  // stored name -> position
};

struct ColumnInfo {
    std::string name;
    std::string declaredType;
    bool notNull = false;
    std::optional<std::string> defaultValue;
    int primaryKeyPosition = 0;  // 1.. within the primary key, 0 when not in it
    int hidden = 0;              // 0 normal, 1 hidden, 2 generated virtual, 3 generated stored
    std::string collation;
    bool autoIncrement = false;
};

struct IndexColumnInfo {
    int column = 0;    // table column number; -1 rowid, -2 expression
    std::string name;  // "" for an expression
    bool descending = false;
    std::string collation;
};

struct IndexInfo {
    std::string name;
    bool unique = false;
    std::string origin;  // "c", "u" or "pk" as SQLite reports it
    bool partial = false;
};

// The columns of one table.
struct TableShape {
    std::vector<ColumnInfo> columns;
    // The column that is another name for the rowid (INTEGER PRIMARY KEY of
    // a rowid table), or -1.
    int rowidColumn = -1;
    // Primary key column names in key order.
    std::vector<std::string> PrimaryKey() const;
};

struct ForeignKeyInfo {
    std::string table;   // the table holding the key (child)
    std::string parent;  // the referenced table: its stored name when it exists
    std::vector<std::string> from;
    std::vector<std::string> to;  // entries "" when the constraint names no parent columns
    std::string onUpdate;
    std::string onDelete;
    std::string match;
};

struct ViewColumnInfo {
    std::string name;
    std::string declaredType;
    std::string sourceTable;
    std::string sourceField;
};

class SchemaReader {
  public:
    // `db` is not owned. The reader holds a prepared statement from the start:
    // while one exists, closing the connection with sqlite3_close_v2 leaves it
    // allocated (unusable), so a late read fails with an error instead of
    // touching freed memory.
    explicit SchemaReader(sqlite3* db);

    // Every row of sqlite_schema (type, names, statement) in one text: two
    // databases with the same text have the same schema. Cheaper than
    // GetCatalog, which reads it too.
    const std::string& SchemaText();
    const Catalog& GetCatalog();
    // The columns of a table or view (its stored name), read on first use.
    const TableShape& Shape(const std::string& table);
    // The indexes of a table as SQLite lists them, read on first use.
    const std::vector<IndexInfo>& IndexList(const std::string& table);
    std::vector<IndexColumnInfo> IndexKeyColumns(const std::string& index);
    // The foreign keys of a table; no statement runs for a table whose
    // statement has no REFERENCES clause.
    std::vector<ForeignKeyInfo> ForeignKeys(const std::string& table);
    // Every foreign key of every table, tables in order of creation.
    const std::vector<ForeignKeyInfo>& AllForeignKeys();
    std::vector<ViewColumnInfo> ViewColumns(const std::string& view);
    std::int64_t CountRows(const std::string& table);

  private:
    sqlite3_stmt* Statement(StatementHandle& slot, std::string_view sql);

    sqlite3* db_;  // Not owned.
    StatementHandle catalogStatement_;
    StatementHandle tableListStatement_;
    struct SchemaRow {
        std::string type;
        std::string name;
        std::string table;
        std::string sql;
    };
    bool schemaRead_ = false;
    std::string schemaText_;
    std::vector<SchemaRow> schemaRows_;  // until GetCatalog has read them
    std::optional<Catalog> catalog_;
    std::map<std::string, TableShape, std::less<>> shapes_;
    std::map<std::string, std::vector<IndexInfo>, std::less<>> indexLists_;
    std::optional<std::vector<ForeignKeyInfo>> allForeignKeys_;
};

}  // namespace kesmark::sqlite
