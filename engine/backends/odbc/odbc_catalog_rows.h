#pragma once

// The rows of the ODBC catalog functions, read into plain structs. Each
// catalog function's result columns are numbered by the ODBC standard; the
// numbers are named here once, per function, so that the catalog reader
// never uses a bare column number.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/model/value.h"

namespace kesmark::odbc {

// Result columns of SQLTables.
namespace tables_column {
inline constexpr std::size_t kSchema = 2;  // TABLE_SCHEM
inline constexpr std::size_t kName = 3;    // TABLE_NAME
inline constexpr std::size_t kType = 4;    // TABLE_TYPE
inline constexpr std::size_t kRemarks = 5;
}  // namespace tables_column

// Result columns of SQLColumns.
namespace columns_column {
inline constexpr std::size_t kSchema = 2;  // TABLE_SCHEM
inline constexpr std::size_t kTable = 3;   // TABLE_NAME
inline constexpr std::size_t kName = 4;    // COLUMN_NAME
inline constexpr std::size_t kDataType = 5;
inline constexpr std::size_t kTypeName = 6;
inline constexpr std::size_t kColumnSize = 7;
inline constexpr std::size_t kDecimalDigits = 9;
inline constexpr std::size_t kNullable = 11;
inline constexpr std::size_t kRemarks = 12;
inline constexpr std::size_t kDefault = 13;  // COLUMN_DEF
inline constexpr std::size_t kOrdinalPosition = 17;
// Not a standard column: the PostgreSQL driver's own, found by its name.
inline constexpr std::string_view kAutoIncrementName = "AUTO_INCREMENT";
}  // namespace columns_column

// Result columns of SQLStatistics.
namespace statistics_column {
inline constexpr std::size_t kSchema = 2;  // TABLE_SCHEM
inline constexpr std::size_t kTable = 3;   // TABLE_NAME
inline constexpr std::size_t kNonUnique = 4;
inline constexpr std::size_t kIndexName = 6;
inline constexpr std::size_t kType = 7;
inline constexpr std::size_t kOrdinalPosition = 8;
inline constexpr std::size_t kColumnName = 9;
inline constexpr std::size_t kAscOrDesc = 10;
inline constexpr std::size_t kFilterCondition = 13;
}  // namespace statistics_column

// Result columns of SQLPrimaryKeys.
namespace primary_keys_column {
inline constexpr std::size_t kSchema = 2;  // TABLE_SCHEM
inline constexpr std::size_t kTable = 3;   // TABLE_NAME
inline constexpr std::size_t kColumnName = 4;
inline constexpr std::size_t kKeySequence = 5;  // KEY_SEQ
inline constexpr std::size_t kName = 6;         // PK_NAME
}  // namespace primary_keys_column

// Result columns of SQLForeignKeys.
namespace foreign_keys_column {
inline constexpr std::size_t kPrimarySchema = 2;  // PKTABLE_SCHEM
inline constexpr std::size_t kPrimaryTable = 3;   // PKTABLE_NAME
inline constexpr std::size_t kPrimaryColumn = 4;  // PKCOLUMN_NAME
inline constexpr std::size_t kForeignSchema = 6;  // FKTABLE_SCHEM
inline constexpr std::size_t kForeignTable = 7;   // FKTABLE_NAME
inline constexpr std::size_t kForeignColumn = 8;  // FKCOLUMN_NAME
inline constexpr std::size_t kKeySequence = 9;    // KEY_SEQ
inline constexpr std::size_t kUpdateRule = 10;
inline constexpr std::size_t kDeleteRule = 11;
inline constexpr std::size_t kName = 12;  // FK_NAME
inline constexpr std::size_t kDeferrability = 14;
}  // namespace foreign_keys_column

// Result columns of SQLProcedures.
namespace procedures_column {
inline constexpr std::size_t kSchema = 2;  // PROCEDURE_SCHEM
inline constexpr std::size_t kName = 3;    // PROCEDURE_NAME
inline constexpr std::size_t kRemarks = 7;
inline constexpr std::size_t kType = 8;  // PROCEDURE_TYPE
}  // namespace procedures_column

// Result columns of SQLProcedureColumns.
namespace procedure_columns_column {
inline constexpr std::size_t kSchema = 2;     // PROCEDURE_SCHEM
inline constexpr std::size_t kProcedure = 3;  // PROCEDURE_NAME
inline constexpr std::size_t kName = 4;       // COLUMN_NAME
inline constexpr std::size_t kColumnType = 5;
inline constexpr std::size_t kDataType = 6;
inline constexpr std::size_t kTypeName = 7;
inline constexpr std::size_t kColumnSize = 8;
inline constexpr std::size_t kDecimalDigits = 10;
inline constexpr std::size_t kNullable = 12;
inline constexpr std::size_t kRemarks = 13;
inline constexpr std::size_t kDefault = 14;  // COLUMN_DEF
inline constexpr std::size_t kOrdinalPosition = 18;
}  // namespace procedure_columns_column

using Cell = std::optional<std::string>;

// Column `column` (1-based) of a row; Null past its end.
const Cell& At(const TextRow& row, std::size_t column);
// The column's text, "" for Null.
std::string Text(const TextRow& row, std::size_t column);
// The column's text, nullopt for Null and for "": drivers differ in which
// they give for "no schema".
std::optional<std::string> NonEmpty(const TextRow& row, std::size_t column);
// The column as a whole number; nullopt for Null, "" or anything else.
std::optional<std::int64_t> Number(const TextRow& row, std::size_t column);

// Null and "" alike become Null: drivers differ in which they give for
// "nothing".
Value TextOrNull(const Cell& cell);
Value NumberOrNull(const std::optional<std::int64_t>& number);

// True when the row names the table `name` of `schema`: a row without a
// schema, or a table without one, matches any schema.
bool NamesTable(const TextRow& row, std::size_t schemaColumn, std::size_t nameColumn,
                const std::optional<std::string>& schema, const std::string& name);

// What SQLColumns or SQLProcedureColumns says about one column or parameter.
struct ColumnFacts {
    std::string name;
    SQLSMALLINT dataType = SQL_UNKNOWN_TYPE;
    std::string typeName;
    std::optional<std::int64_t> size;
    std::optional<std::int64_t> digits;
    std::optional<std::int64_t> nullable;
    Cell remarks;
    Cell defaultValue;
    std::optional<std::int64_t> ordinal;
    bool autoIncrement = false;
    std::int64_t columnType = 0;  // SQLProcedureColumns only: SQL_PARAM_INPUT, ...
};

// A SQLColumns row; `autoIncrement` is the number of the driver's
// AUTO_INCREMENT column, when it has one.
ColumnFacts ReadColumnsRow(const TextRow& row, std::optional<std::size_t> autoIncrement);
// A SQLProcedureColumns row.
ColumnFacts ReadProcedureColumnsRow(const TextRow& row);

// A SQLTables row.
struct TablesRow {
    std::optional<std::string> schema;
    std::string name;
    std::string type;
    Cell remarks;
};
TablesRow ReadTablesRow(const TextRow& row);

// A SQLStatistics row of an index key (not the SQL_TABLE_STAT row).
struct StatisticsRow {
    std::string indexName;
    bool unique = false;
    std::optional<std::int64_t> type;  // SQL_INDEX_CLUSTERED, ...
    std::optional<std::int64_t> position;
    std::optional<std::string> columnName;  // nullopt for a key expression
    bool descending = false;
    std::string condition;
};
// nullopt for the table's statistics row and for a row without an index name.
std::optional<StatisticsRow> ReadStatisticsRow(const TextRow& row);

// A SQLPrimaryKeys row.
struct PrimaryKeysRow {
    std::string columnName;
    std::int64_t sequence = 0;
    std::string keyName;
};
PrimaryKeysRow ReadPrimaryKeysRow(const TextRow& row);

// A SQLForeignKeys row.
struct ForeignKeysRow {
    std::optional<std::string> primarySchema;
    std::string primaryTable;
    std::string primaryColumn;
    std::string foreignColumn;
    std::int64_t sequence = 1;
    std::string name;  // FK_NAME, "" when unnamed
    std::optional<std::int64_t> updateRule;
    std::optional<std::int64_t> deleteRule;
    std::optional<std::int64_t> deferrability;
};
ForeignKeysRow ReadForeignKeysRow(const TextRow& row);

// A SQLProcedures row.
struct ProceduresRow {
    std::optional<std::string> schema;
    std::string name;
    Cell remarks;
    std::optional<std::int64_t> type;  // SQL_PT_FUNCTION, ...
};
ProceduresRow ReadProceduresRow(const TextRow& row);

// The texts of the catalog's codes: "CASCADE", "INITIALLY DEFERRED",
// "clustered"; "" for Null, the number itself for a code ODBC does not define.
std::string RuleText(const std::optional<std::int64_t>& rule);
std::string DeferrabilityText(const std::optional<std::int64_t>& value);
std::string IndexTypeText(const std::optional<std::int64_t>& type);

}  // namespace kesmark::odbc
