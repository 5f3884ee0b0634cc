#pragma once

// The object model of an ODBC source, read through the ODBC catalog
// functions (SQLTables, SQLColumns, SQLStatistics, SQLPrimaryKeys,
// SQLForeignKeys, SQLProcedures, SQLProcedureColumns) and, for view and
// function definitions and triggers, the source's own catalog where the
// backend knows it (PostgreSQL, SQLite). Every collection is read on first
// use. A catalog function the driver does not implement leaves its
// collection empty.
//
// Keys: objects are named as the source names them. Where the source has
// schemas, a table, view or procedure of the connection's default schema
// keeps its plain name and one of another schema is "schema.name"; should two
// objects still share a key (a table literally named "archive.orders" beside
// archive.orders), both take the quoted form "schema"."name", and any that
// still collide get " #2", " #3", ... in listing order. See UniqueKeys.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/model/object_tree.h"

namespace kesmark::odbc {

// For names that must be unique in one collection: every candidate gets its
// preferred key unless another candidate prefers the same one; those get
// their qualified key instead, and keys that are still taken get " #2",
// " #3", ... in listing order. Returns one key per candidate, in order.
//   {("orders", "public.orders"), ("orders", "archive.orders"), ("items", ...)}
//   -> {"public.orders", "archive.orders", "items"}
std::vector<std::string> UniqueKeys(
    const std::vector<std::pair<std::string, std::string>>& candidates);

// Names unique within one object's collection (columns of one table, keys of
// one index): repeated names get " #2", " #3", ...
std::vector<std::string> UniqueNames(const std::vector<std::string>& names);

class CatalogReader;

// The database's catalog: fills the root object's collections and answers
// the data side's questions about tables. The loaders of the collections hold
// it weakly: once the catalog is gone or detached, every read throws DbError.
class Catalog {
  public:
    // `connection` is not owned and must outlive the catalog or its Detach.
    explicit Catalog(Connection& connection);
    Catalog(const Catalog&) = delete;
    Catalog& operator=(const Catalog&) = delete;
    ~Catalog();

    // Gives `root` the collections TableDefs, QueryDefs, Relations and
    // Containers, each filled on first use.
    void Attach(ObjectNode& root);

    // The text naming the table of TableDefs key `key` in a FROM clause,
    // quoted and qualified by its schema where the source allows; `key`
    // quoted as one name when there is no such table.
    std::string SelectSource(std::string_view key);

    // Ends the use of the connection: every later read throws DbError.
    void Detach() noexcept;

  private:
    std::shared_ptr<CatalogReader> reader_;
};

}  // namespace kesmark::odbc
