#include "engine/backends/sqlite/sqlite_handles.h"

namespace kesmark::sqlite {

DbError ReadingError(const DbError& error, std::string_view file, std::string_view what) {
    const std::string named = "'" + std::string(file) + "'";
    if (error.Description().find(named) != std::string::npos) {
        return error;
    }
    return DbError(error.Number(),
                   named + ": reading " + std::string(what) + ": " + error.Description(),
                   error.Source());
}

void Check(int rc, sqlite3* db) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) {
        return;
    }
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw DbError(rc, message, kSource);
}

StatementHandle Prepare(sqlite3* db, std::string_view sql) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
    StatementHandle stmt(raw);
    Check(rc, db);
    return stmt;
}

bool Step(sqlite3_stmt* stmt) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    Check(rc, sqlite3_db_handle(stmt));
    return false;
}

std::string ColumnText(sqlite3_stmt* stmt, int i) {
    const auto* text = sqlite3_column_text(stmt, i);
    if (!text) {
        return {};
    }
    return std::string(reinterpret_cast<const char*>(text),
                       static_cast<std::size_t>(sqlite3_column_bytes(stmt, i)));
}

std::string QuoteIdentifier(std::string_view name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string QuoteLiteral(std::string_view text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'') {
            quoted += '\'';
        }
    }
    return quoted + "'";
}

}  // namespace kesmark::sqlite
