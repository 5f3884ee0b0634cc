#pragma once

// The vocabulary of engine/model/vocabulary.h applied to what the ODBC
// catalog reads, whatever the driver: one step after the catalog, so that
// the catalog itself keeps saying what the driver says.
//
// - TableType in the vocabulary's spelling ("TABLE" reads "table");
// - the fields of tables and views: the DAO type and Size the source's own
//   type name gives where the driver's SQL type says less (the SQLite
//   driver's declared types, PostgreSQL's "bool" and "money"), Attributes to
//   match, DefaultValue in the vocabulary's spelling, and a serial column's
//   "nextval(...)" default read as auto-numbering;
// - the primary key's columns Required, and SQLite's rowid column
//   auto-numbered (dbAutoIncrField), as the SQLite backend shows them;
// - for the SQLite driver, what it leaves out or changes, read once from the
//   database's own pragmas: the defaults as declared (the driver takes the
//   quotes off 'USA' and gives '' as no default) and the descending index
//   keys (the driver reports every key ascending).

#include <sql.h>

#include <string_view>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/model/object_tree.h"

namespace kesmark::odbc {

// Applies the vocabulary to the TableDefs and QueryDefs of `root` as their
// collections and fields load (the catalog must have attached them first).
// For a SQLite source, reads what the driver leaves out now, through
// `connection`, which is not used afterwards; when that cannot be read, the
// driver's answers stand. Throws DbError only when the connection is lost.
void ApplyVocabulary(ObjectNode& root, Connection& connection);

// How a result column of a recordset reads: the SQL type its values are
// taken as, and its DAO type.
struct ResultColumnType {
    SQLSMALLINT sqlType;
    int daoType;
};

// The type of a result column whose driver says `sqlType` and whose type name
// (SQL_DESC_TYPE_NAME) is `typeName`: PostgreSQL's "bool" read as Booleans
// whatever the driver's BoolsAsChar, a SQLite column's DAO type from its
// declared type; otherwise as the SQL type says.
ResultColumnType ResultColumnTypeOf(Dbms dbms, SQLSMALLINT sqlType, std::string_view typeName);

}  // namespace kesmark::odbc
