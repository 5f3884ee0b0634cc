#pragma once

// What a sync script needs to know of one database's schema, read once
// through the object model: its tables with their columns and indexes, its
// views, triggers and foreign keys, and its own properties. Names are as the
// database stores them; lookups are exact, as a comparison pairs members.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/object_model.h"
#include "engine/sync/sql_dialect.h"

namespace kesmark::sync {

struct Column {
    std::string name;
    int type = 0;              // DAO type code
    std::string declaredType;  // SQLite: as declared
    std::string typeName;      // ODBC: the database system's type name
    std::int64_t precision = 0;
    std::int64_t scale = 0;
    bool required = false;
    bool primaryKey = false;
    bool autoIncrement = false;  // numbered by the database (dbAutoIncrField)
    std::string defaultValue;    // the default's SQL text; empty for none
    std::string generated;       // SQLite: "VIRTUAL" or "STORED" for a generated column
    bool hidden = false;         // SQLite: a hidden column of a virtual table
    // False for columns no statement may set (generated and hidden ones).
    bool Writable() const { return generated.empty() && !hidden; }
};

struct Index {
    std::string name;
    std::string sql;  // SQLite: its CREATE INDEX; empty for one a constraint makes
    bool unique = false;
    bool primary = false;
    bool foreign = false;
    std::string condition;  // a partial index's condition
    std::vector<std::string> fields;
    std::vector<bool> descending;
};

struct Table {
    std::string name;  // the TableDefs name
    std::string type;  // SQLite: "table", "virtual" or "shadow"
    std::string sql;   // SQLite: its CREATE TABLE
    bool system = false;
    std::string schemaName;  // ODBC: the schema holding it, when known
    std::string sourceName;  // ODBC: its name within that schema
    // The columns and indexes, loaded only while a TableDetails holds them
    // (see below): a schema of many tables keeps their names and statements,
    // not the columns of them all.
    mutable std::vector<Column> columns;
    mutable std::vector<Index> indexes;
    mutable bool detailsLoaded = false;
    const Column* FindColumn(const std::string& name) const;
    const Index* FindIndex(const std::string& name) const;
};

struct View {
    std::string name;
    std::string sql;
};

struct Trigger {
    std::string name;
    std::string table;
    std::string sql;
};

struct Relation {
    std::string name;          // the Relations name
    std::string table;         // the referenced (parent) table
    std::string foreignTable;  // the table holding the key
    std::vector<std::string> columns;
    std::vector<std::string> foreignColumns;
    std::string onUpdate;
    std::string onDelete;
};

struct Schema {
    std::vector<Table> tables;
    std::vector<View> views;
    std::vector<Trigger> triggers;
    std::vector<Relation> relations;
    Properties properties;  // the database's own

    const Table* FindTable(const std::string& name) const;
    const View* FindView(const std::string& name) const;
    const Trigger* FindTrigger(const std::string& name) const;
    const Relation* FindRelation(const std::string& name) const;
    // True when a table, view or trigger has that name, ignoring ASCII
    // letter case (SQLite's rule for names).
    bool HasName(const std::string& name) const;
    // The value of one of the database's properties; nullopt when it has
    // none or it cannot be read.
    std::optional<Value> DatabaseProperty(const std::string& name) const;
};

// Reads the schema of `db`: its tables without their columns and indexes,
// its views, triggers, foreign keys and own properties. Throws DbError,
// naming the database, when a collection cannot be read.
Schema ReadSchema(Database& db);

// Loads the columns and indexes of `table` of `db` while it lives, and lets
// them go at its end (unless they were loaded before). Throws DbError, naming
// the database, when they cannot be read.
class TableDetails {
  public:
    TableDetails(Database& db, const Table& table);
    ~TableDetails();
    TableDetails(const TableDetails&) = delete;
    TableDetails& operator=(const TableDetails&) = delete;

  private:
    const Table& table_;  // Not owned.
    bool loadedHere_ = false;
};

// The table as a statement of `dialect` names it, quoted: with its schema
// when the target is PostgreSQL and the schema is known.
std::string TargetName(const Table& table, Dialect dialect);

// Whether a column of database 1 and one of database 2 hold values alike:
// SQLite by the declared type, PostgreSQL by type name, precision and scale
// (by the DAO type when database 1 is of another kind), others by the DAO
// type.
bool SameColumnType(const Column& column1, const Column& column2, Dialect dialect);

// Node keys of the objects a script names in its comments.
std::string TableKey(const std::string& table);
std::string FieldKey(const std::string& table, const std::string& field);
std::string IndexKey(const std::string& table, const std::string& index);
std::string QueryKey(const std::string& query);
std::string RelationKey(const std::string& relation);
std::string TriggerKey(const std::string& trigger);

// `text` with ASCII letters in upper case.
std::string UpperAscii(std::string text);

}  // namespace kesmark::sync
