#include "engine/backends/sqlite/sqlite_catalog.h"

#include <nettle/sha2.h>

#include <algorithm>

#include "engine/backends/sqlite/sqlite_sql_text.h"
#include "engine/model/object_tree.h"

namespace kesmark::sqlite {

namespace {

constexpr std::string_view kCatalogSql =
    "SELECT type, name, tbl_name, sql, rowid FROM main.sqlite_schema ORDER BY rowid";
constexpr std::string_view kStatementOfSql = "SELECT sql FROM main.sqlite_schema WHERE rowid = ?";
constexpr std::string_view kIndexRowSql =
    "SELECT name, sql FROM main.sqlite_schema WHERE rowid = ?";
constexpr std::string_view kRowSql =
    "SELECT type, name, tbl_name, sql FROM main.sqlite_schema WHERE rowid = ?";
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
    void Bind(int i, std::int64_t value) { Check(sqlite3_bind_int64(stmt_, i, value), nullptr); }
    std::string Text(int i) const { return ColumnText(stmt_, i); }
    bool IsNull(int i) const { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
    std::int64_t Int(int i) const { return sqlite3_column_int64(stmt_, i); }
    std::string_view View(int i) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return text ? std::string_view(text,
                                       static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)))
                    : std::string_view();
    }

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

namespace {

char FoldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// ASCII case folded byte by byte, without making a folded copy.
int CompareFolded(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(FoldAscii(a[i]));
        const auto y = static_cast<unsigned char>(FoldAscii(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

const std::string& Catalog::NameOf(std::uint32_t entry) const {
    return (entry & kView) ? views[entry & ~kView].name : tables[entry].name;
}

std::optional<std::string> Catalog::StoredName(std::string_view name) const {
    // The first entry whose folded name is not below `name`'s.
    const auto it = std::lower_bound(byName.begin(), byName.end(), name,
                                     [&](std::uint32_t entry, std::string_view wanted) {
                                         return CompareFolded(NameOf(entry), wanted) < 0;
                                     });
    if (it == byName.end() || CompareFolded(NameOf(*it), name) != 0) {
        return std::nullopt;
    }
    return NameOf(*it);
}

const CatalogTable* Catalog::Table(std::string_view name) const {
    auto it = std::lower_bound(byName.begin(), byName.end(), name,
                               [&](std::uint32_t entry, std::string_view wanted) {
                                   return CompareFolded(NameOf(entry), wanted) < 0;
                               });
    for (; it != byName.end() && CompareFolded(NameOf(*it), name) == 0; ++it) {
        if (!(*it & kView) && NameOf(*it) == name) {
            return &tables[*it];
        }
    }
    return nullptr;
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

SchemaReader::SchemaReader(sqlite3* db, bool catalogMode) : db_(db), whole_(!catalogMode) {
    Statement(catalogStatement_, kCatalogSql);
}

void SchemaReader::Close() {
    rowStatement_.reset();
    catalogStatement_.reset();
    tableListStatement_.reset();
    statementOfStatement_.reset();
    indexRowStatement_.reset();
    scratch_.reset();
    db_ = nullptr;
}

sqlite3* SchemaReader::Db() const {
    if (!db_) {
        throw DbError(SQLITE_MISUSE, "The database is closed.", kSource);
    }
    return db_;
}

void SchemaReader::UseWholeSchema() {
    if (whole_) {
        return;
    }
    LeaveCatalogMode(Db());
    whole_ = true;
    scratch_.reset();
}

SchemaRow SchemaReader::Row(std::int64_t rowid) {
    StatementUse use(Statement(rowStatement_, kRowSql));
    use.Bind(1, rowid);
    SchemaRow row;
    row.rowid = rowid;
    if (use.Next()) {
        row.type = use.Text(0);
        row.name = use.Text(1);
        row.table = use.Text(2);
        row.sql = use.Text(3);
    }
    return row;
}

std::vector<SchemaRow> SchemaReader::RowsOf(std::string_view name) {
    const Catalog& catalog = GetCatalog();
    std::vector<SchemaRow> rows;
    const auto stored = catalog.StoredName(name);
    if (!stored) {
        return rows;
    }
    if (const CatalogTable* table = catalog.Table(*stored)) {
        rows.push_back(Row(table->rowid));
        for (std::uint32_t k = 0; k < table->indexCount; ++k) {
            rows.push_back(Row(catalog.indexRowids[table->firstIndex + k]));
        }
        return rows;
    }
    // A view, with every table and view its statement (and theirs) may name.
    std::vector<std::string> pending{*stored};
    std::vector<std::string> seen{*stored};
    while (!pending.empty()) {
        const std::string current = std::move(pending.back());
        pending.pop_back();
        const CatalogTable* table = catalog.Table(current);
        const CatalogView* view = nullptr;
        for (const auto& candidate : catalog.views) {
            view = candidate.name == current ? &candidate : view;
        }
        rows.push_back(Row(table ? table->rowid : view ? view->rowid : 0));
        if (!view) {
            continue;
        }
        for (const std::string& word : SqlIdentifiers(rows.back().sql)) {
            const auto named = catalog.StoredName(word);
            if (named && std::find(seen.begin(), seen.end(), *named) == seen.end()) {
                seen.push_back(*named);
                pending.push_back(*named);
            }
        }
    }
    return rows;
}

template <class Read>
auto SchemaReader::Ask(std::string_view name, Read&& read)
    -> decltype(read(static_cast<sqlite3*>(nullptr))) {
    if (!whole_) {
        try {
            if (!scratch_) {
                scratch_ = std::make_unique<SchemaScratch>();
            }
            return read(scratch_->Hold(RowsOf(name)));
        } catch (const DbError&) {
            // A row SQLite cannot parse on its own, or a view over objects
            // the scratch does not hold: the whole schema answers, or fails
            // as the database itself does.
            UseWholeSchema();
        }
    }
    return read(Db());
}

SchemaReader::TableKind SchemaReader::Kind(const CatalogTable& table) {
    if (table.kindKnown) {
        return {table.type, table.withoutRowid, table.strict};
    }
    return Ask(table.name, [&](sqlite3* db) {
        // schema, name, type, ncol, wr, strict
        auto stmt = PreparePragma(db, "table_list", table.name);
        StatementUse use(stmt.get());
        TableKind kind{"table", false, false};
        while (use.Next()) {
            if (use.View(1) == table.name) {
                const std::string_view type = use.View(2);
                kind.type = type == "virtual" ? "virtual" : type == "shadow" ? "shadow" : "table";
                kind.withoutRowid = use.Int(4) != 0;
                kind.strict = use.Int(5) != 0;
            }
        }
        return kind;
    });
}

sqlite3_stmt* SchemaReader::Statement(StatementHandle& slot, std::string_view sql) {
    if (!slot) {
        slot = Prepare(Db(), sql);
    }
    return slot.get();
}

const SchemaDigest& SchemaReader::Digest() {
    ReadCatalog();
    return digest_;
}

const Catalog& SchemaReader::GetCatalog() {
    ReadCatalog();
    return *catalog_;
}

void SchemaReader::ReadCatalog() {
    if (catalog_) {
        return;
    }
    Catalog catalog;
    // sqlite_schema in order of creation: tables, views, indexes, triggers,
    // each remembered by its row; every row goes into the digest.
    struct TableRow {
        std::string name;
        std::int64_t rowid;
        bool mentionsCollation;
        bool mentionsReferences;
    };
    struct IndexRow {
        std::string table;
        std::int64_t rowid;
        bool automatic;
    };
    std::vector<TableRow> tableRows;
    std::vector<IndexRow> indexRows;
    bool anyVirtual = false;
    sha256_ctx sha;
    sha256_init(&sha);
    {
        StatementUse use(Statement(catalogStatement_, kCatalogSql));
        while (use.Next()) {
            for (int i = 0; i < 4; ++i) {
                const std::string_view part = use.View(i);
                sha256_update(&sha, part.size(),
                              reinterpret_cast<const std::uint8_t*>(part.data()));
                const std::uint8_t end = 0;
                sha256_update(&sha, 1, &end);
            }
            const std::uint8_t hasSql = use.IsNull(3) ? 1 : 2;
            sha256_update(&sha, 1, &hasSql);

            const std::string_view type = use.View(0);
            const std::int64_t rowid = use.Int(4);
            if (type == "table") {
                const std::string sql = FoldAsciiCase(use.View(3));
                anyVirtual = anyVirtual || sql.starts_with("create virtual table");
                tableRows.push_back({use.Text(1), rowid,
                                     sql.find("collate") != std::string::npos ||
                                         sql.find("autoincrement") != std::string::npos,
                                     sql.find("references") != std::string::npos});
            } else if (type == "view") {
                catalog.views.push_back({use.Text(1), rowid});
            } else if (type == "index") {
                indexRows.push_back(
                    {use.Text(2), rowid, use.View(1).starts_with("sqlite_autoindex_")});
            } else if (type == "trigger") {
                catalog.triggers.push_back({use.Text(1), use.Text(2), rowid});
            }
        }
    }
    sha256_digest(&sha, digest_.size(), digest_.data());

    auto addTable = [&](const TableRow& row) -> CatalogTable& {
        CatalogTable table;
        table.name = row.name;
        table.rowid = row.rowid;
        table.type = "table";
        table.mentionsCollation = row.mentionsCollation;
        table.mentionsReferences = row.mentionsReferences;
        catalog.tables.push_back(std::move(table));
        return catalog.tables.back();
    };
    // A virtual table's module describes it by reading tables of its own,
    // which a scratch copy of its rows lacks.
    if (anyVirtual) {
        UseWholeSchema();
    }
    if (whole_) {
        // The table list adds the kind of each table. It also names the
        // schema table itself, which is left out: its rows are the
        // statements the other collections present, and its rootpage column
        // records only where the objects lie in the file, which differs
        // between equal databases.
        std::sort(tableRows.begin(), tableRows.end(),
                  [](const TableRow& a, const TableRow& b) { return a.name < b.name; });
        StatementUse use(Statement(tableListStatement_, kTableListSql));
        while (use.Next()) {
            const std::string_view type = use.View(1);
            const std::string_view name = use.View(0);
            const auto row = std::lower_bound(
                tableRows.begin(), tableRows.end(), name,
                [](const TableRow& entry, std::string_view wanted) { return entry.name < wanted; });
            if (type == "view" || row == tableRows.end() || row->name != name) {
                continue;  // sqlite_schema itself: its rows are the statements listed elsewhere
            }
            CatalogTable& table = addTable(*row);
            table.kindKnown = true;
            table.type = type == "virtual" ? "virtual" : type == "shadow" ? "shadow" : "table";
            table.withoutRowid = use.Int(2) != 0;
            table.strict = use.Int(3) != 0;
        }
    } else {
        for (const TableRow& row : tableRows) {
            addTable(row);
        }
    }
    tableRows = {};
    std::sort(catalog.tables.begin(), catalog.tables.end(),
              [](const CatalogTable& a, const CatalogTable& b) { return a.rowid < b.rowid; });

    for (std::uint32_t i = 0; i < catalog.tables.size(); ++i) {
        catalog.byName.push_back(i);
    }
    for (std::uint32_t i = 0; i < catalog.views.size(); ++i) {
        catalog.byName.push_back(Catalog::kView | i);
    }
    std::sort(catalog.byName.begin(), catalog.byName.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int folded = CompareFolded(catalog.NameOf(a), catalog.NameOf(b));
        return folded != 0 ? folded < 0 : catalog.NameOf(a) < catalog.NameOf(b);
    });

    // Each table's indexes, in their order in sqlite_schema.
    std::vector<std::pair<std::uint32_t, std::int64_t>> owned;  // table position, index row
    for (const auto& index : indexRows) {
        const auto stored = catalog.StoredName(index.table);
        const CatalogTable* table = stored ? catalog.Table(*stored) : nullptr;
        if (!table) {
            continue;
        }
        auto& entry = catalog.tables[static_cast<std::size_t>(table - catalog.tables.data())];
        entry.hasAutoIndex = entry.hasAutoIndex || index.automatic;
        owned.emplace_back(static_cast<std::uint32_t>(table - catalog.tables.data()), index.rowid);
    }
    indexRows = {};
    std::stable_sort(owned.begin(), owned.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    catalog.indexRowids.reserve(owned.size());
    for (std::size_t k = 0; k < owned.size(); ++k) {
        auto& table = catalog.tables[owned[k].first];
        if (table.indexCount == 0) {
            table.firstIndex = static_cast<std::uint32_t>(k);
        }
        ++table.indexCount;
        catalog.indexRowids.push_back(owned[k].second);
    }
    for (auto& trigger : catalog.triggers) {
        trigger.table = catalog.StoredName(trigger.table).value_or(trigger.table);
    }
    catalog_ = std::move(catalog);
}

std::string SchemaReader::StatementOf(std::int64_t rowid) {
    StatementUse use(Statement(statementOfStatement_, kStatementOfSql));
    use.Bind(1, rowid);
    return use.Next() ? use.Text(0) : std::string();
}

std::vector<std::pair<std::string, std::string>> SchemaReader::IndexStatements(
    const CatalogTable& table) {
    const Catalog& catalog = GetCatalog();
    std::vector<std::pair<std::string, std::string>> statements;
    for (std::uint32_t k = 0; k < table.indexCount; ++k) {
        StatementUse use(Statement(indexRowStatement_, kIndexRowSql));
        use.Bind(1, catalog.indexRowids[table.firstIndex + k]);
        if (use.Next()) {
            statements.emplace_back(use.Text(0), use.Text(1));
        }
    }
    return statements;
}

const TableShape& SchemaReader::Shape(const std::string& table) {
    if (const TableShape* kept = shapes_.Find(table)) {
        return *kept;
    }
    const CatalogTable* entry = GetCatalog().Table(table);
    const std::optional<TableKind> kind =
        entry ? std::optional<TableKind>(Kind(*entry)) : std::nullopt;
    TableShape shape = Ask(table, [&](sqlite3* db) {
        TableShape read;
        {
            // cid, name, type, notnull, dflt_value, pk, hidden
            auto stmt = PreparePragma(db, "table_xinfo", table);
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
                read.columns.push_back(std::move(column));
            }
        }
        // Collations and AUTOINCREMENT are declared in the statement; a
        // table whose statement has neither uses BINARY throughout and needs
        // no lookup per column. (A virtual table declares its columns
        // elsewhere.)
        const bool plain = entry && kind->type != "virtual" && !entry->mentionsCollation;
        for (auto& column : read.columns) {
            if (plain) {
                column.collation = "BINARY";
                continue;
            }
            const char* collation = nullptr;
            int autoIncrement = 0;
            if (sqlite3_table_column_metadata(db, "main", table.c_str(), column.name.c_str(),
                                              nullptr, &collation, nullptr, nullptr,
                                              &autoIncrement) == SQLITE_OK) {
                column.collation = collation ? collation : "";
                column.autoIncrement = autoIncrement != 0;
            }
        }
        return read;
    });
    // A rowid table whose primary key is one column declared exactly INTEGER
    // keeps its rows in that key, and SQLite makes no index of origin "pk"
    // for it (it does for INTEGER PRIMARY KEY DESC).
    const auto keyColumns = shape.PrimaryKey();
    if (entry && kind->type != "virtual" && !kind->withoutRowid && keyColumns.size() == 1) {
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
    return shapes_.Keep(table, std::move(shape));
}

const std::vector<IndexInfo>& SchemaReader::IndexList(const std::string& table) {
    if (const auto* kept = indexLists_.Find(table)) {
        return *kept;
    }
    auto indexes = Ask(table, [&](sqlite3* db) {
        std::vector<IndexInfo> read;
        // seq, name, unique, origin, partial
        auto stmt = PreparePragma(db, "index_list", table);
        StatementUse use(stmt.get());
        while (use.Next()) {
            read.push_back({use.Text(1), use.Int(2) != 0, use.Text(3), use.Int(4) != 0});
        }
        return read;
    });
    return indexLists_.Keep(table, std::move(indexes));
}

std::vector<IndexColumnInfo> SchemaReader::IndexKeyColumns(const std::string& table,
                                                           const std::string& index) {
    return Ask(table, [&](sqlite3* db) {
        std::vector<IndexColumnInfo> columns;
        // seqno, cid, name, desc, coll, key; the key columns come first
        auto stmt = PreparePragma(db, "index_xinfo", index);
        StatementUse use(stmt.get());
        while (use.Next()) {
            if (use.Int(5) != 0) {
                columns.push_back(
                    {static_cast<int>(use.Int(1)), use.Text(2), use.Int(3) != 0, use.Text(4)});
            }
        }
        return columns;
    });
}

std::vector<ForeignKeyInfo> SchemaReader::ForeignKeys(const std::string& table) {
    const Catalog& catalog = GetCatalog();
    if (const CatalogTable* entry = catalog.Table(table); entry && !entry->mentionsReferences) {
        return {};
    }
    return Ask(table, [&](sqlite3* db) {
        auto stmt = PreparePragma(db, "foreign_key_list", table);
        StatementUse use(stmt.get());
        return ReadForeignKeys(use, table, -1, catalog);
    });
}

const std::vector<ForeignKeyInfo>& SchemaReader::AllForeignKeys() {
    if (allForeignKeys_) {
        return *allForeignKeys_;
    }
    const Catalog& catalog = GetCatalog();
    if (whole_) {
        auto stmt = Prepare(Db(), kAllForeignKeysSql);
        StatementUse use(stmt.get());
        allForeignKeys_ = ReadForeignKeys(use, {}, 8, catalog);
        return *allForeignKeys_;
    }
    // One table at a time, only those whose statement can declare a key.
    std::vector<ForeignKeyInfo> keys;
    for (const CatalogTable& table : catalog.tables) {
        if (table.mentionsReferences) {
            for (auto& key : ForeignKeys(table.name)) {
                keys.push_back(std::move(key));
            }
        }
    }
    allForeignKeys_ = std::move(keys);
    return *allForeignKeys_;
}

std::vector<ViewColumnInfo> SchemaReader::ViewColumns(const std::string& view) {
    return Ask(view, [&](sqlite3* db) {
        auto stmt = Prepare(db, "SELECT * FROM main." + QuoteIdentifier(view));
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
    });
}

std::int64_t SchemaReader::CountRows(const std::string& table) {
    UseWholeSchema();
    auto stmt = Prepare(Db(), "SELECT count(*) FROM main." + QuoteIdentifier(table));
    return Step(stmt.get()) ? sqlite3_column_int64(stmt.get(), 0) : 0;
}

}  // namespace kesmark::sqlite
