#include "engine/backends/sqlite/sqlite_scratch.h"

#include <algorithm>

namespace kesmark::sqlite {

void EnterCatalogMode(sqlite3* db) {
    const int limit = sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1);
    if (sqlite3_exec(db, "PRAGMA writable_schema=ON", nullptr, nullptr, nullptr) == SQLITE_OK) {
        // Loads the schema: the first row read is longer than the limit,
        // which ends the loading with nothing parsed. Any other failure
        // (the file is no database, a journal to replay first) leaves the
        // schema unloaded, for the next statement to meet as it would have.
        sqlite3_stmt* raw = nullptr;
        sqlite3_prepare_v2(db, "SELECT 1 FROM main.sqlite_schema", -1, &raw, nullptr);
        StatementHandle probe(raw);
        sqlite3_exec(db, "PRAGMA writable_schema=OFF", nullptr, nullptr, nullptr);
    }
    sqlite3_limit(db, SQLITE_LIMIT_LENGTH, limit);
}

void LeaveCatalogMode(sqlite3* db) {
    Check(sqlite3_exec(db, "PRAGMA writable_schema=RESET", nullptr, nullptr, nullptr), db);
}

SchemaScratch::SchemaScratch() {
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(":memory:", &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) {
        throw DbError(rc, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc), kSource);
    }
    Exec("PRAGMA page_size=512");
    GrowPool(4, 16);
}

void SchemaScratch::Exec(const char* sql) {
    Check(sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr), db_.get());
}

void SchemaScratch::GrowPool(std::size_t tables, std::size_t indexes) {
    if (tablePages_.size() >= tables && indexPages_.size() >= indexes) {
        return;
    }
    // New b-trees are made as ordinary tables and indexes of an empty schema;
    // their rows are then removed, and their pages stay, empty and unused.
    held_.clear();
    holding_ = false;
    Exec("PRAGMA writable_schema=ON; DELETE FROM sqlite_schema; PRAGMA writable_schema=RESET");
    Exec("BEGIN");
    Exec("CREATE TABLE pool(x)");
    const std::size_t newTables = tables > tablePages_.size() ? tables - tablePages_.size() : 0;
    for (std::size_t i = 0; i < newTables; ++i) {
        Check(sqlite3_exec(db_.get(), ("CREATE TABLE t" + std::to_string(i) + "(x)").c_str(),
                           nullptr, nullptr, nullptr),
              db_.get());
    }
    const std::size_t newIndexes = indexes > indexPages_.size() ? indexes - indexPages_.size() : 0;
    for (std::size_t i = 0; i < newIndexes; ++i) {
        Check(
            sqlite3_exec(db_.get(), ("CREATE INDEX i" + std::to_string(i) + " ON pool(x)").c_str(),
                         nullptr, nullptr, nullptr),
            db_.get());
    }
    Exec("COMMIT");
    {
        auto pages = Prepare(db_.get(), "SELECT type, name, rootpage FROM sqlite_schema");
        while (Step(pages.get())) {
            const std::string type = ColumnText(pages.get(), 0);
            const std::string name = ColumnText(pages.get(), 1);
            const std::int64_t page = sqlite3_column_int64(pages.get(), 2);
            if (type == "index") {
                indexPages_.push_back(page);
            } else if (name != "pool") {
                tablePages_.push_back(page);
            }
        }
    }
    Exec("PRAGMA writable_schema=ON; DELETE FROM sqlite_schema; PRAGMA writable_schema=RESET");
    insert_.reset();
}

sqlite3* SchemaScratch::Hold(const std::vector<SchemaRow>& rows) {
    std::vector<std::int64_t> wanted;
    wanted.reserve(rows.size());
    std::size_t tables = 0;
    std::size_t indexes = 0;
    for (const SchemaRow& row : rows) {
        wanted.push_back(row.rowid);
        tables += row.type == "table" ? 1 : 0;
        indexes += row.type == "index" ? 1 : 0;
    }
    if (holding_ && wanted == held_) {
        return db_.get();
    }
    if (tables > tablePages_.size() || indexes > indexPages_.size()) {
        GrowPool(std::max(tables, tablePages_.size() * 2),
                 std::max(indexes, indexPages_.size() * 2));
    }
    holding_ = false;
    Exec("PRAGMA writable_schema=ON; BEGIN; DELETE FROM sqlite_schema");
    if (!insert_) {
        insert_ = Prepare(db_.get(),
                          "INSERT INTO sqlite_schema(type, name, tbl_name, rootpage, sql) "
                          "VALUES (?, ?, ?, ?, ?)");
    }
    std::size_t nextTable = 0;
    std::size_t nextIndex = 0;
    for (const SchemaRow& row : rows) {
        sqlite3_stmt* insert = insert_.get();
        sqlite3_reset(insert);
        sqlite3_bind_text(insert, 1, row.type.data(), static_cast<int>(row.type.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, row.name.data(), static_cast<int>(row.name.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, row.table.data(), static_cast<int>(row.table.size()),
                          SQLITE_TRANSIENT);
        std::int64_t page = 0;
        if (row.type == "table") {
            page = tablePages_[nextTable++];
        } else if (row.type == "index") {
            page = indexPages_[nextIndex++];
        }
        sqlite3_bind_int64(insert, 4, page);
        // An automatic index has no statement: its table's makes it.
        if (row.sql.empty()) {
            sqlite3_bind_null(insert, 5);
        } else {
            sqlite3_bind_text(insert, 5, row.sql.data(), static_cast<int>(row.sql.size()),
                              SQLITE_TRANSIENT);
        }
        Step(insert);
    }
    sqlite3_reset(insert_.get());
    Exec("COMMIT; PRAGMA writable_schema=RESET");
    held_ = std::move(wanted);
    holding_ = true;
    return db_.get();
}

}  // namespace kesmark::sqlite
