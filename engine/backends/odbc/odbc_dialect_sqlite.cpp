#include "engine/backends/odbc/odbc_dialect.h"
#include "engine/model/object_tree.h"

namespace kesmark::odbc {

namespace {

// SQLite, through the SQLite ODBC driver (libsqliteodbc).
class SqliteDialectImpl : public Dialect {
  public:
    std::vector<SessionStatement> ReadOnlyStatements() const override {
        return {{"PRAGMA query_only = 1", "making the connection read-only"}};
    }

    // SQLite's own tables (sqlite_sequence, sqlite_stat1, ...), which the
    // driver lists as ordinary tables.
    bool IsSystemTable(std::string_view name) const override {
        return FoldAsciiCase(name).starts_with("sqlite_");
    }

    std::optional<std::string_view> ViewDefinitionsQuery() const override {
        return "SELECT NULL, name, sql FROM sqlite_master WHERE type = 'view'";
    }

    std::optional<std::string_view> TriggersQuery() const override {
        return "SELECT NULL, tbl_name, name, sql FROM sqlite_master WHERE type = 'trigger'";
    }

    // The driver stands in "sqlite_autoindex_0" for the rowid primary key,
    // which has no index of its own (SQLite's own names for automatic
    // indexes always hold the table's name). It is shown under the name the
    // SQLite backend gives it.
    void RenameIndex(std::string& name, std::optional<std::int64_t>& type) const override {
        if (name == "sqlite_autoindex_0") {
            name = "sqlite_rowid";
            type = SQL_INDEX_CLUSTERED;
        }
    }

    // Scan the table itself, never a covering index, so that the row order
    // does not depend on the columns read.
    std::string_view TableScanSuffix() const override { return " NOT INDEXED"; }

    // SQLite's order of its storage classes is the backend's; BINARY
    // compares text by its bytes.
    std::optional<std::string> KeyOrderCollation(std::string_view, int) const override {
        return std::string(" COLLATE BINARY");
    }
    std::string_view KeyMatchCollation() const override { return " COLLATE BINARY"; }
};

}  // namespace

const Dialect& SqliteDialect() {
    static const SqliteDialectImpl dialect;
    return dialect;
}

}  // namespace kesmark::odbc
