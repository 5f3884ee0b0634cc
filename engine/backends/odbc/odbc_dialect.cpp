#include "engine/backends/odbc/odbc_dialect.h"

#include "engine/model/object_tree.h"

namespace kesmark::odbc {

namespace {

// Every other system: the ODBC catalog functions, and the standard's
// INFORMATION_SCHEMA where the system has it.
class GenericDialect : public Dialect {};

}  // namespace

bool Dialect::IsSystemTable(std::string_view) const {
    return false;
}

std::optional<std::string_view> Dialect::ViewDefinitionsQuery() const {
    return "SELECT TABLE_SCHEMA, TABLE_NAME, VIEW_DEFINITION FROM INFORMATION_SCHEMA.VIEWS";
}

void Dialect::RenameIndex(std::string&, std::optional<std::int64_t>&) const {}

std::string Dialect::RowHashSql(const std::vector<std::string>& pieces) const {
    std::string text;
    for (const auto& piece : pieces) {
        text += (text.empty() ? "" : " || ") + piece;
    }
    // "C": the bytes are hashed, whatever collation the text columns have
    // (a case-insensitive one would hash "A" and "a" alike).
    return "hashtextextended((" + text + ") COLLATE \"C\", 0)";
}

std::string Dialect::HashSumSql(std::string_view hash) const {
    return "CAST(sum(" + std::string(hash) + ") AS TEXT)";
}

std::optional<std::string> Dialect::KeyOrderCollation(std::string_view, int daoType) const {
    // No binary collation known: text keys are sorted after reading.
    if (daoType == dao::kText || daoType == dao::kMemo || daoType == dao::kChar ||
        daoType == dao::kGuid) {
        return std::nullopt;
    }
    return std::string();
}

const Dialect& DialectFor(Dbms dbms) {
    static const GenericDialect generic;
    switch (dbms) {
        case Dbms::PostgreSQL:
            return PostgresDialect();
        case Dbms::SQLite:
            return SqliteDialect();
        case Dbms::Other:
            break;
    }
    return generic;
}

DriverProfile ProfileOfDriver(std::string_view driverName) {
    // psqlodbcw.so, psqlodbca.so; PSQLODBC35W.DLL, PSQLODBC30A.DLL elsewhere.
    const std::string name = FoldAsciiCase(driverName);
    if (name.starts_with("psqlodbc")) {
        return PostgresDriverProfile(name.starts_with("psqlodbcw") ||
                                     name.starts_with("psqlodbc35w"));
    }
    return {};
}

}  // namespace kesmark::odbc
