#include "engine/backends/sqlite/sqlite_catalog.h"

#include <algorithm>

#include "engine/model/object_tree.h"

namespace kesmark::sqlite {

namespace {

constexpr std::string_view kCatalogSql =
    "SELECT type, name, tbl_name, sql FROM main.sqlite_schema ORDER BY rowid";
constexpr std::string_view kTableListSql =
    "SELECT name, type, wr, strict FROM pragma_table_list WHERE schema = 'main'";
constexpr std::string_view kAllForeignKeysSql =
    "SELECT f.id, f.seq, f.\"table\", f.\"from\", f.\"to\", f.on_update, f.on_delete, "
    "f.\"match\", s.name FROM main.sqlite_schema AS s JOIN pragma_foreign_key_list(s.name, 'main') "
    "AS f "
    "WHERE s.type = 'table' ORDER BY s.rowid, f.id, f.seq";

// One use of a statement: resets it (ending its read) when the use ends,
// also on an exception, so that a kept statement can run again.
class StatementUse {
  public:
    explicit StatementUse(sqlite3_stmt* stmt) : stmt_(stmt) {}
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;
    ~StatementUse() { sqlite3_reset(stmt_); }

    bool Next() { return Step(stmt_); }
    std::string Text(int i) const { return ColumnText(stmt_, i); }
    bool IsNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    std::int64_t Int(int i) const { return sqlite3_column_int64(stmt_, i); }

  private:
    sqlite3_stmt* stmt_;  // Not owned.
};

// "PRAGMA main.<pragma>('<argument>')". The per-table pragmas are run as
// PRAGMA statements rather than through their table-valued functions, which
// prepare the same PRAGMA again on every call and take twice as long.
StatementHandle PreparePragma(sqlite3* db, std::string_view pragma, const std::string& argument) {
    return Prepare(db, "PRAGMA main." + std::string(pragma) + "(" + QuoteLiteral(argument) + ")");
}

// Reads the rows of a foreign key statement whose columns are id, seq, table,
// from, to, on_update, on_delete, match (rows of one key together, in seq
// order); `childColumn` >= 0 names the column holding the child table.
std::vector<ForeignKeyInfo> ReadForeignKeys(StatementUse& use, const std::string& table,
                                            int childColumn, const Catalog& catalog) {
    std::vector<ForeignKeyInfo> keys;
    std::string lastChild;
    std::int64_t lastId = -1;
    while (use.Next()) {
        const std::string child = childColumn >= 0 ? use.Text(childColumn) : table;
        const std::int64_t id = use.Int(0);
        if (keys.empty() || id != lastId || child != lastChild) {
            ForeignKeyInfo key;
            key.table = child;
            key.parent = catalog.StoredName(use.Text(2)).value_or(use.Text(2));
            key.onUpdate = use.Text(5);
            key.onDelete = use.Text(6);
            key.match = use.Text(7);
            keys.push_back(std::move(key));
            lastId = id;
            lastChild = child;
        }
        keys.back().from.push_back(use.Text(3));
        keys.back().to.push_back(use.Text(4));
    }
    return keys;
}

}  // namespace

std::optional<std::string> Catalog::StoredName(const std::string& name) const {
    const auto it = storedNames.find(FoldAsciiCase(name));
    if (it == storedNames.end()) {
        return std::nullopt;
    }
    return it->second;
}

const CatalogTable* Catalog::Table(const std::string& name) const {
    const auto it = tablePositions.find(name);
    return it == tablePositions.end() ? nullptr : &tables[it->second];
}

bool Catalog::HasTriggers(const std::string& view) const {
    for (const auto& trigger : triggers) {
        if (trigger.table == view) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> TableShape::PrimaryKey() const {
    std::vector<std::string> key;
    for (int position = 1;; ++position) {
        const auto before = key.size();
        for (const auto& column : columns) {
            if (column.primaryKeyPosition == position) {
                key.push_back(column.name);
            }
        }
        if (key.size() == before) {
            return key;
        }
    }
}

SchemaReader::SchemaReader(sqlite3* db) : db_(db) {
    Statement(catalogStatement_, kCatalogSql);
}

sqlite3_stmt* SchemaReader::Statement(StatementHandle& slot, std::string_view sql) {
    if (!slot) {
        slot = Prepare(db_, sql);
    }
    return slot.get();
}

const std::string& SchemaReader::SchemaText() {
    if (schemaRead_) {
        return schemaText_;
    }
    std::string text;
    std::vector<SchemaRow> rows;
    StatementUse use(Statement(catalogStatement_, kCatalogSql));
    while (use.Next()) {
        SchemaRow row{use.Text(0), use.Text(1), use.Text(2), use.Text(3)};
        for (const std::string* part : {&row.type, &row.name, &row.table, &row.sql}) {
            text += *part;
            text += '\0';
        }
        text += use.IsNull(3) ? '\1' : '\2';
        rows.push_back(std::move(row));
    }
    schemaText_ = std::move(text);
    schemaRows_ = std::move(rows);
    schemaRead_ = true;
    return schemaText_;
}

const Catalog& SchemaReader::GetCatalog() {
    if (catalog_) {
        return *catalog_;
    }
    Catalog catalog;
    // sqlite_schema in order of creation: statements, views, triggers.
    std::unordered_map<std::string, std::size_t> creationOrder;
    std::unordered_map<std::string, std::string> tableSql;
    std::vector<std::pair<std::string, std::string>> indexes;  // index name, table name
    SchemaText();
    for (const auto& row : schemaRows_) {
        if (row.type == "table") {
            creationOrder.emplace(row.name, creationOrder.size() + 1);
            tableSql.emplace(row.name, row.sql);
        } else if (row.type == "view") {
            catalog.storedNames.emplace(FoldAsciiCase(row.name), row.name);
            catalog.views.push_back({row.name, row.sql});
        } else if (row.type == "index") {
            indexes.emplace_back(row.name, row.table);
            catalog.indexSql.emplace(row.name, row.sql);
        } else if (row.type == "trigger") {
            catalog.triggers.push_back({row.name, row.table, row.sql});
        }
    }
    // The table list adds the kind of each table. It also names the schema
    // table itself, which is left out: its rows are the statements the other
    // collections present, and its rootpage column records only where the
    // objects lie in the file, which differs between equal databases.
    {
        StatementUse use(Statement(tableListStatement_, kTableListSql));
        while (use.Next()) {
            const std::string type = use.Text(1);
            if (type == "view" || !tableSql.count(use.Text(0))) {
                continue;  // sqlite_schema itself: its rows are the statements listed elsewhere
            }
            CatalogTable table;
            table.name = use.Text(0);
            table.type = type;
            table.withoutRowid = use.Int(2) != 0;
            table.strict = use.Int(3) != 0;
            if (const auto it = tableSql.find(table.name); it != tableSql.end()) {
                table.sql = it->second;
            }
            catalog.storedNames.emplace(FoldAsciiCase(table.name), table.name);
            catalog.tables.push_back(std::move(table));
        }
    }
    std::sort(catalog.tables.begin(), catalog.tables.end(),
              [&](const CatalogTable& a, const CatalogTable& b) {
                  return creationOrder.at(a.name) < creationOrder.at(b.name);
              });
    for (std::size_t i = 0; i < catalog.tables.size(); ++i) {
        catalog.tablePositions.emplace(catalog.tables[i].name, i);
    }
    for (const auto& [index, table] : indexes) {
        const auto stored = catalog.StoredName(table);
        if (const auto it = catalog.tablePositions.find(stored.value_or(table));
            it != catalog.tablePositions.end()) {
            auto& entry = catalog.tables[it->second];
            ++entry.indexCount;
            entry.hasAutoIndex = entry.hasAutoIndex || index.starts_with("sqlite_autoindex_");
        }
    }
    for (auto& trigger : catalog.triggers) {
        trigger.table = catalog.StoredName(trigger.table).value_or(trigger.table);
    }
    catalog_ = std::move(catalog);
    schemaRows_ = {};
    return *catalog_;
}

const TableShape& SchemaReader::Shape(const std::string& table) {
    if (const auto it = shapes_.find(table); it != shapes_.end()) {
        return it->second;
    }
    TableShape shape;
    {
        // cid, name, type, notnull, dflt_value, pk, hidden
        auto stmt = PreparePragma(db_, "table_xinfo", table);
        StatementUse use(stmt.get());
        while (use.Next()) {
            ColumnInfo column;
            column.name = use.Text(1);
            column.declaredType = use.Text(2);
            column.notNull = use.Int(3) != 0;
            if (!use.IsNull(4)) {
                column.defaultValue = use.Text(4);
            }
            column.primaryKeyPosition = static_cast<int>(use.Int(5));
            column.hidden = static_cast<int>(use.Int(6));
            shape.columns.push_back(std::move(column));
        }
    }
    // Collations and AUTOINCREMENT are declared in the statement; a table
    // whose statement has neither uses BINARY throughout and needs no lookup
    // per column. (A virtual table declares its columns elsewhere.)
    const CatalogTable* entry = GetCatalog().Table(table);
    const std::string sql = entry ? FoldAsciiCase(entry->sql) : std::string();
    const bool plain = entry && entry->type != "virtual" &&
                       sql.find("collate") == std::string::npos &&
                       sql.find("autoincrement") == std::string::npos;
    for (auto& column : shape.columns) {
        if (plain) {
            column.collation = "BINARY";
            continue;
        }
        const char* collation = nullptr;
        int autoIncrement = 0;
        if (sqlite3_table_column_metadata(db_, "main", table.c_str(), column.name.c_str(), nullptr,
                                          &collation, nullptr, nullptr,
                                          &autoIncrement) == SQLITE_OK) {
            column.collation = collation ? collation : "";
            column.autoIncrement = autoIncrement != 0;
        }
    }
    // A rowid table whose primary key is one column declared exactly INTEGER
    // keeps its rows in that key, and SQLite makes no index of origin "pk"
    // for it (it does for INTEGER PRIMARY KEY DESC).
    const auto keyColumns = shape.PrimaryKey();
    if (entry && entry->type != "virtual" && !entry->withoutRowid && keyColumns.size() == 1) {
        for (std::size_t i = 0; i < shape.columns.size(); ++i) {
            if (shape.columns[i].primaryKeyPosition == 1 &&
                FoldAsciiCase(shape.columns[i].declaredType) == "integer") {
                shape.rowidColumn = static_cast<int>(i);
            }
        }
        if (shape.rowidColumn >= 0 && entry->hasAutoIndex) {
            for (const auto& index : IndexList(table)) {
                if (index.origin == "pk") {
                    shape.rowidColumn = -1;
                }
            }
        }
    }
    return shapes_.emplace(table, std::move(shape)).first->second;
}

const std::vector<IndexInfo>& SchemaReader::IndexList(const std::string& table) {
    if (const auto it = indexLists_.find(table); it != indexLists_.end()) {
        return it->second;
    }
    std::vector<IndexInfo> indexes;
    // seq, name, unique, origin, partial
    auto stmt = PreparePragma(db_, "index_list", table);
    StatementUse use(stmt.get());
    while (use.Next()) {
        indexes.push_back({use.Text(1), use.Int(2) != 0, use.Text(3), use.Int(4) != 0});
    }
    return indexLists_.emplace(table, std::move(indexes)).first->second;
}

std::vector<IndexColumnInfo> SchemaReader::IndexKeyColumns(const std::string& index) {
    std::vector<IndexColumnInfo> columns;
    // seqno, cid, name, desc, coll, key; the key columns come first
    auto stmt = PreparePragma(db_, "index_xinfo", index);
    StatementUse use(stmt.get());
    while (use.Next()) {
        if (use.Int(5) != 0) {
            columns.push_back(
                {static_cast<int>(use.Int(1)), use.Text(2), use.Int(3) != 0, use.Text(4)});
        }
    }
    return columns;
}

std::vector<ForeignKeyInfo> SchemaReader::ForeignKeys(const std::string& table) {
    const Catalog& catalog = GetCatalog();
    if (const CatalogTable* entry = catalog.Table(table);
        entry && FoldAsciiCase(entry->sql).find("references") == std::string::npos) {
        return {};
    }
    auto stmt = PreparePragma(db_, "foreign_key_list", table);
    StatementUse use(stmt.get());
    return ReadForeignKeys(use, table, -1, catalog);
}

const std::vector<ForeignKeyInfo>& SchemaReader::AllForeignKeys() {
    if (!allForeignKeys_) {
        const Catalog& catalog = GetCatalog();
        auto stmt = Prepare(db_, kAllForeignKeysSql);
        StatementUse use(stmt.get());
        allForeignKeys_ = ReadForeignKeys(use, {}, 8, catalog);
    }
    return *allForeignKeys_;
}

std::vector<ViewColumnInfo> SchemaReader::ViewColumns(const std::string& view) {
    auto stmt = Prepare(db_, "SELECT * FROM main." + QuoteIdentifier(view));
    std::vector<ViewColumnInfo> columns;
    const int count = sqlite3_column_count(stmt.get());
    for (int i = 0; i < count; ++i) {
        auto text = [](const char* s) { return std::string(s ? s : ""); };
        columns.push_back({text(sqlite3_column_name(stmt.get(), i)),
                           text(sqlite3_column_decltype(stmt.get(), i)),
                           text(sqlite3_column_table_name(stmt.get(), i)),
                           text(sqlite3_column_origin_name(stmt.get(), i))});
    }
    return columns;
}

std::int64_t SchemaReader::CountRows(const std::string& table) {
    auto stmt = Prepare(db_, "SELECT count(*) FROM main." + QuoteIdentifier(table));
    return Step(stmt.get()) ? sqlite3_column_int64(stmt.get(), 0) : 0;
}

}  // namespace kesmark::sqlite
