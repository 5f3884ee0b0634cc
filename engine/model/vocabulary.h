#pragma once

// The one vocabulary every backend speaks: how a declared fact reads in the
// object model, whichever engine declared it. The same declared meaning gives
// the same property name, the same spelling of its value and the same DAO
// type code on SQLite, on Access and through ODBC, so that a database and its
// migration to another engine compare as same. Each rule is a table of data
// below; the backends apply them and docs/backends.md shows them.
//
// What the vocabulary does not cover, a backend offers as an engine-only
// property (the declared type as written, a collation, a statement): those
// are compared only between two databases of the same kind (the settings'
// Engine list).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kesmark::vocabulary {

// ---- Type codes -----------------------------------------------------------

// The DAO type code of a declared column type, by SQLite's affinity rules in
// their order (INTEGER, TEXT, BLOB, REAL, NUMERIC), each refined by the usual
// type names: "BIGINT" 16, "INTEGER" 4, "VARCHAR(50)" 10, "TEXT" 12, "" 11,
// "REAL" 7, "BOOLEAN" 1, "DATETIME" 23, "DATE" 8, "NUMERIC(10,2)" 20. Used for
// SQLite's declared types, read natively or through its ODBC driver.
int DaoTypeFromDeclaredType(std::string_view declaredType);

// DAO's Size of a field of `daoType` declared as `declaredType`: for text and
// binary types the first number in parentheses ("VARCHAR(50)" gives 50, 0
// without one), for the others the fixed size of the type (FixedSize).
int DaoSizeFromDeclaredType(std::string_view declaredType, int daoType);

// The DAO type code of an ODBC SQL data type code (the numbers of sql.h and
// sqlext.h: 4 SQL_INTEGER gives 4 Long, 2 SQL_NUMERIC and 3 SQL_DECIMAL give
// 20 Decimal, 1 SQL_CHAR and 12 SQL_VARCHAR give 10 Text). Types DAO has no
// code for are 10 Text.
int DaoTypeFromSqlType(int sqlType);

// The DAO type of a PostgreSQL type name where the driver's SQL type says
// less than the name ("bool" with the driver's BoolsAsChar is a character
// type, "money" a float); nullopt for every other name.
std::optional<int> DaoTypeFromPostgresType(std::string_view typeName);

// DAO's Size for a column of `daoType` whose driver gives `columnSize`: the
// fixed size of fixed-size types (Decimal 16), 0 for long values (Memo, Long
// binary), the column size (characters or bytes) otherwise.
std::int64_t DaoSize(int daoType, std::optional<std::int64_t> columnSize);

// True for DAO types whose values have one size (numbers, dates, Booleans,
// GUIDs): their fields carry dbFixedField in Attributes, the others
// dbVariableField.
bool IsFixedSizeDaoType(int daoType);

// ---- Table types ----------------------------------------------------------

// The spelling of a table's TableType: lower case, with the standard's
// "BASE TABLE" read as "table" ("TABLE" and "BASE TABLE" give "table",
// "SYSTEM TABLE" gives "system table", "VIEW" "view").
std::string CanonicalTableType(std::string_view spelled);

// The TableType of a table stored in the database's own file, and of a table
// linked from another database (Access).
inline constexpr std::string_view kLocalTable = "table";
inline constexpr std::string_view kLinkedTable = "linked table";

// ---- Defaults -------------------------------------------------------------

// The spelling of a column's DefaultValue, from the expression as the engine
// gives it, for a column of DAO type `daoType`:
//   - no default, and a default of NULL, are "" (PostgreSQL's
//     "NULL::character varying" too);
//   - PostgreSQL's casts go ("'USA'::character varying" is "'USA'",
//     "'-1'::integer" is "-1"), and so do parentheses around the whole
//     expression ("(0)" is "0") and Access's leading "=" ("=No");
//   - a string literal is in single quotes ("USA" written by Access is
//     'USA');
//   - a Boolean column's default is "1" or "0" (true, yes, on, -1; false, no,
//     off);
//   - the engines' names for the current date and time are one name each
//     (Now(), now(), datetime('now') and CURRENT_TIMESTAMP read
//     "CURRENT_TIMESTAMP"; Date(), date('now') "CURRENT_DATE"; Time(),
//     time('now') "CURRENT_TIME").
// Any other expression stays as written.
std::string CanonicalDefault(std::string_view expression, int daoType);

// True for the default of an auto-numbered column that only says so
// (PostgreSQL's "nextval('t_id_seq'::regclass)"): the numbering is in the
// field's Attributes (dbAutoIncrField), and its DefaultValue is "".
bool IsNumberingDefault(std::string_view expression);

// True for a plain decimal number as text: an optional sign, digits, and at
// most one decimal point ("-12", "3.50", ".5"); no exponent, no spaces.
bool IsNumberText(std::string_view text);

// ---- Keys -----------------------------------------------------------------
//
// A column of a table's primary key is Required, whatever its declaration
// says; an auto-numbered column (SQLite's rowid column, an Access AutoNumber,
// a PostgreSQL identity or serial column) has dbAutoIncrField in Attributes;
// the primary key's index is Required.

// True when an engine gave this index its name: SQLite's
// "sqlite_autoindex_T_N" and "sqlite_rowid", PostgreSQL's "T_pkey" and
// "T_col_key". Such an index pairs with the index of the same fields and
// uniqueness in the other database, whatever that one is called.
bool IsGeneratedIndexName(std::string_view name);

// ---- Names ----------------------------------------------------------------

// True for the properties whose value is the name of an object (Name, Table,
// ForeignTable, ForeignName, SourceTable, SourceField, SourceTableName,
// Container): where names are compared ignoring letter case, so are these
// values.
bool IsNameProperty(std::string_view property);

}  // namespace kesmark::vocabulary
