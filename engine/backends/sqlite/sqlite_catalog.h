#pragma once

// Reads the schema of one SQLite database for the object model: the list of
// tables, views, indexes and triggers in one pass, and per table its columns,
// indexes and foreign keys through SQLite's pragmas when they are asked for.
//
// Every read may throw DbError with SQLite's result code and message.

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/backends/sqlite/sqlite_handles.h"
#include "engine/backends/sqlite/sqlite_scratch.h"

namespace kesmark::sqlite {

// The catalog keeps what the comparison needs to match objects by name and
// to find each object's row of sqlite_schema again; statements are read back
// from there when an object is described, so that the catalog stays small
// however many objects the database has.

struct CatalogTable {
    std::string name;
    std::int64_t rowid = 0;  // its row of sqlite_schema
    // Known when the catalog was read from a parsed schema; otherwise the
    // table's kind is asked for when needed (SchemaReader::Kind).
    bool kindKnown = false;
    std::string_view type;  // "table", "virtual" or "shadow"
    bool withoutRowid = false;
    bool strict = false;
    bool hasAutoIndex = false;  // one of its indexes is an automatic sqlite_autoindex_ index
    // Its statement names a collation or AUTOINCREMENT / a REFERENCES clause.
    bool mentionsCollation = false;
    bool mentionsReferences = false;
    std::uint32_t firstIndex = 0;  // its indexes' rows: Catalog::indexRowids[firstIndex...]
    std::uint32_t indexCount = 0;  // indexes sqlite_schema lists for the table
};

struct CatalogView {
    std::string name;
    std::int64_t rowid = 0;
};

struct CatalogTrigger {
    std::string name;
    std::string table;  // the table's or view's stored name when it exists
    std::int64_t rowid = 0;
};

// The objects of the main schema, each list in the order of creation.
struct Catalog {
    std::vector<CatalogTable> tables;
    std::vector<CatalogView> views;
    std::vector<CatalogTrigger> triggers;
    // The sqlite_schema rows of every table's indexes, grouped by table.
    std::vector<std::int64_t> indexRowids;
    // Tables (position) and views (kView | position) by their names folded
    // to lower case, then by their names: SQLite's lookup rule.
    std::vector<std::uint32_t> byName;
    static constexpr std::uint32_t kView = 0x80000000u;

    // The stored name of the table or view whose name equals `name` ignoring
    // ASCII case (SQLite's rule), or nullopt.
    std::optional<std::string> StoredName(std::string_view name) const;
    // The table of that stored name, or nullptr (a view, or no such table).
    const CatalogTable* Table(std::string_view name) const;
    // True when some trigger belongs to the view `view` (triggers on views are
    // INSTEAD OF triggers).
    bool HasTriggers(const std::string& view) const;

    // The name of the entry of byName at `entry`.
    const std::string& NameOf(std::uint32_t entry) const;
};

// What identifies a schema: a SHA-256 digest of every row of sqlite_schema.
using SchemaDigest = std::array<std::uint8_t, 32>;

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
    // touching freed memory. `catalogMode`: `db` is in catalog mode
    // (sqlite_scratch.h), and questions about one table or view go to a
    // scratch holding its rows until UseWholeSchema.
    SchemaReader(sqlite3* db, bool catalogMode);

    // Makes `db` parse its whole schema (to read data, or to describe what
    // the scratch cannot: virtual tables, whose modules read their own
    // tables); from then on every question goes to `db`.
    void UseWholeSchema();
    // Ends the use of the connection before it is closed: every later read
    // throws DbError.
    void Close();

    // The digest of every row of sqlite_schema (type, names, statement): two
    // databases with the same digest have the same schema.
    const SchemaDigest& Digest();
    const Catalog& GetCatalog();
    // The statement of the sqlite_schema row `rowid` ("" when it has none).
    std::string StatementOf(std::int64_t rowid);
    // The names and statements of a table's indexes, as sqlite_schema lists them.
    std::vector<std::pair<std::string, std::string>> IndexStatements(const CatalogTable& table);
    // The columns of a table or view (its stored name). The last few tables
    // asked for are kept.
    const TableShape& Shape(const std::string& table);
    // The indexes of a table as SQLite lists them. The last few are kept.
    const std::vector<IndexInfo>& IndexList(const std::string& table);
    // The key columns of the index `index` of table `table`.
    std::vector<IndexColumnInfo> IndexKeyColumns(const std::string& table,
                                                 const std::string& index);
    struct TableKind {
        std::string_view type;  // "table", "virtual" or "shadow"
        bool withoutRowid = false;
        bool strict = false;
    };
    TableKind Kind(const CatalogTable& table);
    // The foreign keys of a table; no statement runs for a table whose
    // statement has no REFERENCES clause.
    std::vector<ForeignKeyInfo> ForeignKeys(const std::string& table);
    // Every foreign key of every table, tables in order of creation.
    const std::vector<ForeignKeyInfo>& AllForeignKeys();
    std::vector<ViewColumnInfo> ViewColumns(const std::string& view);
    std::int64_t CountRows(const std::string& table);

  private:
    // The connection; throws DbError after Close.
    sqlite3* Db() const;
    sqlite3_stmt* Statement(StatementHandle& slot, std::string_view sql);
    void ReadCatalog();
    // The rows of sqlite_schema that describe the table or view `name`: a
    // table with its indexes, a view with the tables and views its statement
    // may name.
    std::vector<SchemaRow> RowsOf(std::string_view name);
    SchemaRow Row(std::int64_t rowid);
    // Runs `read` on a connection that has parsed the table or view `name`:
    // the scratch, or `db` once its whole schema is parsed. What the scratch
    // cannot answer is asked of the whole schema.
    template <class Read>
    auto Ask(std::string_view name, Read&& read) -> decltype(read(static_cast<sqlite3*>(nullptr)));

    // A few entries, the one used last first.
    template <class T>
    struct RecentlyUsed {
        static constexpr std::size_t kEntries = 4;
        std::list<std::pair<std::string, T>> entries;

        const T* Find(std::string_view key) {
            for (auto it = entries.begin(); it != entries.end(); ++it) {
                if (it->first == key) {
                    entries.splice(entries.begin(), entries, it);
                    return &entries.front().second;
                }
            }
            return nullptr;
        }
        const T& Keep(std::string key, T value) {
            entries.emplace_front(std::move(key), std::move(value));
            if (entries.size() > kEntries) {
                entries.pop_back();
            }
            return entries.front().second;
        }
    };

    sqlite3* db_;  // Not owned.
    bool whole_;   // db_ parses its whole schema
    std::unique_ptr<SchemaScratch> scratch_;
    StatementHandle rowStatement_;
    StatementHandle catalogStatement_;
    StatementHandle tableListStatement_;
    StatementHandle statementOfStatement_;
    StatementHandle indexRowStatement_;
    std::optional<Catalog> catalog_;
    SchemaDigest digest_{};
    RecentlyUsed<TableShape> shapes_;
    RecentlyUsed<std::vector<IndexInfo>> indexLists_;
    std::optional<std::vector<ForeignKeyInfo>> allForeignKeys_;
};

}  // namespace kesmark::sqlite
