#pragma once

// What the backend does differently per database system and per driver:
// the statements that make a session read-only, the queries of a system's
// own catalog (view and function definitions, triggers, the default schema),
// the names it gives its own tables and indexes, and the driver settings the
// backend chooses when the connect string leaves them out. Everything else
// is generic ODBC (odbc_catalog.h, odbc_recordset.h).
//
// One dialect per database system: odbc_dialect_postgres.cpp,
// odbc_dialect_sqlite.cpp, and the generic one for every other system.

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/backends/odbc/odbc_connection.h"

namespace kesmark::odbc {

// The columns of Dialect::ViewDefinitionsQuery, in order.
namespace view_definitions_column {
inline constexpr std::size_t kSchema = 1;  // Null or "" where there are no schemas
inline constexpr std::size_t kName = 2;
inline constexpr std::size_t kDefinition = 3;
}  // namespace view_definitions_column

// The columns of Dialect::FunctionDefinitionsQuery, in order.
namespace function_definitions_column {
inline constexpr std::size_t kSchema = 1;
inline constexpr std::size_t kName = 2;
inline constexpr std::size_t kInputTypes = 3;  // type names of the input parameters, joined by ","
inline constexpr std::size_t kDefinition = 4;
}  // namespace function_definitions_column

// The columns of Dialect::TriggersQuery, in order.
namespace triggers_column {
inline constexpr std::size_t kSchema = 1;  // Null or "" where there are no schemas
inline constexpr std::size_t kTable = 2;
inline constexpr std::size_t kName = 3;
inline constexpr std::size_t kDefinition = 4;
}  // namespace triggers_column

// A statement of the session's set-up and what it is for, for its error
// message ("making the connection read-only").
struct SessionStatement {
    std::string_view sql;
    std::string_view purpose;
};

// One column's part in row checksums: its form and the SQL of its piece of
// the canonical row text.
struct ChecksumColumnSql {
    std::string form;
    std::string piece;
};

class Dialect {
  public:
    virtual ~Dialect() = default;

    // Statements run in order right after connecting, each committing on its
    // own, that make the session read-only in fact where the system allows.
    virtual std::vector<SessionStatement> ReadOnlyStatements() const { return {}; }
    // True when the session then runs in one transaction that is never
    // committed (autocommit off), so that the comparison sees one snapshot.
    virtual bool ReadsInOneTransaction() const { return false; }

    // A query whose one row and column names the schema whose objects keep
    // their plain names; nullopt when the backend is to guess it.
    virtual std::optional<std::string_view> DefaultSchemaQuery() const { return std::nullopt; }
    // True for a table the database system keeps for itself, whatever table
    // type the driver reports for it.
    virtual bool IsSystemTable(std::string_view name) const;
    // The view definitions (view_definitions_column); nullopt when there is
    // no such query.
    virtual std::optional<std::string_view> ViewDefinitionsQuery() const;
    // The function definitions (function_definitions_column).
    virtual std::optional<std::string_view> FunctionDefinitionsQuery() const {
        return std::nullopt;
    }
    // The triggers (triggers_column); the ODBC catalog has none.
    virtual std::optional<std::string_view> TriggersQuery() const { return std::nullopt; }
    // The catalogue of every table at once, in the columns of the ODBC
    // catalogue function and with the values the driver gives: the foreign
    // keys (SQLForeignKeys, foreign_keys_column), the index keys
    // (SQLStatistics, statistics_column) and the primary keys
    // (SQLPrimaryKeys, primary_keys_column). nullopt where the driver is
    // asked table by table; a driver that takes one query or more per table
    // makes a large schema slow to read.
    virtual std::optional<std::string_view> ForeignKeysQuery() const { return std::nullopt; }
    virtual std::optional<std::string_view> StatisticsQuery() const { return std::nullopt; }
    virtual std::optional<std::string_view> PrimaryKeysQuery() const { return std::nullopt; }
    // An index the driver lists by a name of its own making gets the name
    // and type the system's own tools show; others stay as listed.
    virtual void RenameIndex(std::string& name, std::optional<std::int64_t>& type) const;

    // What follows "SELECT ... FROM table" in a table scan, so that the row
    // order does not depend on the columns read ("" for nothing).
    virtual std::string_view TableScanSuffix() const { return ""; }

    // Where the session's set-up keeps table scans off the indexes (to fix
    // the order of rows read without ORDER BY): the statements that let the
    // planner use them again, and those that forbid them once more, run
    // around a statement that orders its rows itself or needs no order, so
    // that a key range is found through the key's index instead of by
    // reading the whole table. nullopt where there is nothing to do.
    struct IndexScanSettings {
        std::string_view allow;
        std::string_view forbid;
    };
    virtual std::optional<IndexScanSettings> IndexScans() const { return std::nullopt; }

    // Row checksums of key ranges (row_checksum.h), computed by the system's
    // own functions. The form of a column of the source's type `typeName`
    // and the SQL of its piece of the canonical row text, `column` being the
    // quoted column; nullopt when the system cannot write that type (or any:
    // the default).
    virtual std::optional<ChecksumColumnSql> ChecksumColumn(std::string_view /*typeName*/,
                                                            std::string_view /*column*/) const {
        return std::nullopt;
    }
    // A query whose one row and column must read "UTF8" for checksums to be
    // trusted (the text hashed is the server's encoding of it).
    virtual std::optional<std::string_view> ChecksumEncodingQuery() const { return std::nullopt; }
    // What follows a table's name in FROM so that a statement reads a sample
    // of its rows, about the percentage bound to its one "?" marker (as
    // text), the same rows each time while the table is unchanged; nullopt
    // where the system cannot sample (key boundaries then come from every
    // key).
    virtual std::optional<std::string_view> SampleClause() const { return std::nullopt; }
    // The signed 64-bit row hash of the concatenated `pieces`.
    virtual std::string RowHashSql(const std::vector<std::string>& pieces) const;
    // The exact sum of the row hashes `hash` of a group, as decimal text.
    virtual std::string HashSumSql(std::string_view hash) const;

    // Rows in key order, compared by their bytes: what follows a key
    // column's name in ORDER BY for a column of the source's type `typeName`
    // and DAO type `daoType` (" COLLATE BINARY"; "" when its type orders by
    // value), or nullopt when the system orders no such column by its bytes
    // (the rows are then sorted after reading).
    virtual std::optional<std::string> KeyOrderCollation(std::string_view typeName,
                                                         int daoType) const;
    // What follows "name = ?" so that a row is found by its key's bytes.
    virtual std::string_view KeyMatchCollation() const { return ""; }
};

// The dialect of a database system.
const Dialect& DialectFor(Dbms dbms);
// The dialects of odbc_dialect_postgres.cpp and odbc_dialect_sqlite.cpp.
const Dialect& PostgresDialect();
const Dialect& SqliteDialect();

// A driver setting the backend chooses when neither the connect string nor
// the data source sets it, given through the driver's own connection
// attribute after connecting.
struct DriverDefault {
    // Every keyword that sets it in a connect string or a data source (any
    // letter case), abbreviations included.
    std::vector<std::string_view> keywords;
    SQLINTEGER attribute = 0;
    SQLULEN value = 0;
};

// What the backend knows of a driver: the settings it chooses for it, and
// the driver's own connection attributes that say whether it reads a result
// from the server in batches and how many rows at a time.
struct DriverProfile {
    std::vector<DriverDefault> defaults;
    std::optional<SQLINTEGER> batchingAttribute;
    std::optional<SQLINTEGER> batchRowsAttribute;
    // When the batch size is one of `defaults` (the backend's to choose),
    // the driver takes a new one for each batch, and the backend sizes the
    // batches to come after the rows read: about `batchBytes` of row data,
    // from 1 to `maxBatchRows` rows.
    std::size_t batchBytes = 0;
    std::size_t maxBatchRows = 0;
    // The source's types (SQL_DESC_TYPE_NAME) whose text the driver gives,
    // asked for as bytes (SQL_C_BINARY), in UTF-8 as it is, when it comes in
    // one piece; none when one of `textConversionKeywords` is set (then the
    // driver converts it).
    std::vector<std::string_view> utf8TextTypes;
    std::vector<std::string_view> textConversionKeywords;
};

// The profile of the driver that SQL_DRIVER_NAME calls `driverName`
// ("psqlodbcw.so"); empty for drivers the backend does not know.
DriverProfile ProfileOfDriver(std::string_view driverName);

// The PostgreSQL driver's (psqlodbc), from odbc_dialect_postgres.cpp; its
// Unicode build talks UTF-8 with the server.
DriverProfile PostgresDriverProfile(bool unicode);

}  // namespace kesmark::odbc
