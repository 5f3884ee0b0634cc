#pragma once

// The database object model the engine and the result view read: databases,
// collections of named objects, objects with Properties, recordsets and their
// fields. Every backend (SQLite, Access, ODBC, the in-memory one of the unit
// tests) presents its database through these classes, with DAO collection
// names, DAO property names and DAO type codes, so one engine compares them all.
//
// Failures: every call may throw DbError. An absent member is not a failure:
// Collection::Find returns nullptr.
//
// Lifetime: collections, objects and recordsets borrow from the Database they
// came from and must not outlive it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/db_error.h"
#include "engine/model/row_checksum.h"
#include "engine/model/value.h"

namespace kesmark {

// Collection names of the model.
namespace collections {
inline constexpr std::string_view kTableDefs = "TableDefs";
inline constexpr std::string_view kQueryDefs = "QueryDefs";
inline constexpr std::string_view kRelations = "Relations";
inline constexpr std::string_view kContainers = "Containers";
inline constexpr std::string_view kFields = "Fields";
inline constexpr std::string_view kIndexes = "Indexes";
inline constexpr std::string_view kParameters = "Parameters";
inline constexpr std::string_view kDocuments = "Documents";
}  // namespace collections

// Long values (DAO types 11 long binary and 12 memo) longer than this many
// bytes are never read whole: they are compared and listed a piece of this
// size at a time.
inline constexpr std::size_t kLongValuePiece = 64 << 10;

// A long value read in pieces: its byte length (text as UTF-8) and a function
// that returns up to `count` bytes from byte `offset` (fewer at the end).
// It reads from where the value came from (a recordset on its record) and is
// valid only while that stays so.
struct LongValueReader {
    std::int64_t size = 0;
    std::function<Bytes(std::int64_t offset, std::size_t count)> read;
};

// One property: a name, a DAO type code and a value that is either known or
// read on demand (reading may throw DbError, for example when the backend
// cannot compute it for this object).
class Property {
  public:
    using Reader = std::function<Value()>;

    Property(std::string name, int type, Value value);
    Property(std::string name, int type, Reader reader);

    // A property whose value cannot be read: GetValue throws `error`.
    static Property Failing(std::string name, int type, DbError error);
    // A property whose value is a long value too long to hold: GetValue
    // returns `beginning` (its first bytes, as bytes or text), and
    // LongValue() reads the whole value in pieces.
    static Property Long(std::string name, int type, Value beginning, LongValueReader whole);

    const std::string& Name() const { return name_; }
    int Type() const { return type_; }
    // Throws DbError when the value cannot be read.
    Value GetValue() const;
    // The whole value of a Long property; nullptr for every other property.
    const LongValueReader* LongValue() const { return whole_.get(); }
    // The property with its value read (once), for a caller that uses it
    // more than once. Throws DbError when the value cannot be read.
    Property Read() const;

  private:
    std::string name_;
    int type_;
    Value value_;
    Reader reader_;  // empty when value_ holds the value
    std::shared_ptr<const LongValueReader> whole_;
};

// The Properties collection of one object: members in the backend's order.
class Properties {
  public:
    void Add(Property property) { items_.push_back(std::move(property)); }
    // Convenience: Add(Property(name, type, value)).
    void Add(std::string name, int type, Value value);
    // Replaces the property of exactly that name with Property(name, type,
    // value), in its place; adds it at the end when there is none.
    void Set(std::string name, int type, Value value);

    std::size_t Count() const { return items_.size(); }
    const Property& Item(std::size_t index) const;  // throws DbError 3265 past the end
    // The property of that exact name, else the first one equal ignoring ASCII
    // letter case (the database's lookup rule); nullptr when there is none.
    const Property* Find(std::string_view name) const;
    // As Find, but throws DbError 3265 "Item not found in this collection."
    const Property& Item(std::string_view name) const;

  private:
    std::vector<Property> items_;
};

// The value of the property `name` (as Properties::Find finds it) as text;
// "" when there is no such property or its value is not text. Throws
// DbError when the value cannot be read.
std::string TextOfProperty(const Properties& properties, std::string_view name);

class Collection;

// A named object of the model: a database, table, field, index, query,
// parameter, relation, container or document.
class DbObject {
  public:
    virtual ~DbObject() = default;

    virtual std::string Name() = 0;
    virtual Properties GetProperties() = 0;
    // A child collection by its model name ("Fields", "Indexes", ...; for a
    // Database "TableDefs", "QueryDefs", "Relations", "Containers"). Throws
    // DbError 3251 when this kind of object has no such collection, or the
    // backend's error when the collection cannot be read.
    virtual std::unique_ptr<Collection> GetCollection(std::string_view name) = 0;
};

// A collection of named objects, read by position (0 to Count() - 1) or by
// name. Names are unique within one collection.
class Collection {
  public:
    virtual ~Collection() = default;

    virtual std::size_t Count() = 0;
    virtual std::string NameAt(std::size_t index) = 0;
    virtual std::unique_ptr<DbObject> ItemAt(std::size_t index) = 0;
    // The member of that name by the database's own lookup rules (exact first),
    // nullptr when absent. Throws DbError when the collection cannot be read.
    virtual std::unique_ptr<DbObject> Find(std::string_view name) = 0;

    // As Find, but an absent member throws DbError 3265.
    std::unique_ptr<DbObject> Item(std::string_view name);
    // Every member's name, by position.
    std::vector<std::string> Names();
};

// One column of an open recordset, positioned on the recordset's current row.
class RecordsetField {
  public:
    virtual ~RecordsetField() = default;

    virtual std::string Name() = 0;
    // DAO type code of the column (11 long binary, 12 memo for long values).
    virtual int Type() = 0;
    // The current record's value. Throws DbError 3021 at EOF.
    virtual Value GetValue() = 0;
    // Appends the current record's value to `out` in the encoding of
    // value_codec.h. The default encodes GetValue(); backends with the raw
    // value at hand may encode it directly, without building a Value.
    virtual void AppendEncodedValue(std::string& out);
    // Byte length of the current record's value when it is a long value
    // (text as UTF-8 bytes), 0 for Null.
    virtual std::int64_t FieldSize() = 0;
    // Up to `count` bytes of the current long value from byte `offset`; fewer
    // (or none) at the end.
    virtual Bytes GetChunk(std::int64_t offset, std::size_t count) = 0;
    // The first `count` bytes of the current long value as a value of its
    // kind: text or bytes. The default takes text for a memo (type 12), bytes
    // otherwise; backends that store either kind in any column say which.
    virtual Value Beginning(std::size_t count);
    virtual std::string SourceTable() = 0;
    virtual std::string SourceField() = 0;
    // The properties of the column for the current record, as the result
    // view lists them: Name, Type, SourceTable, SourceField, Size and Value.
    // The Value of a long value longer than kLongValuePiece is a Long
    // property over FieldSize and GetChunk. Backends may add their own.
    virtual Properties GetProperties();
};

// A forward-reading cursor over the rows of one statement.
class Recordset {
  public:
    virtual ~Recordset() = default;

    virtual bool IsEof() = 0;
    virtual void MoveNext() = 0;  // throws DbError 3021 at EOF
    // Moves forward by `rows` rows (0 stays); moving past the end leaves the
    // recordset at EOF.
    virtual void Move(std::int64_t rows) = 0;
    virtual void Close() = 0;
    virtual std::size_t FieldCount() = 0;
    virtual RecordsetField& Field(std::size_t index) = 0;
    // Appends the current record's values of every field to `out`, encoded
    // one after the other (value_codec.h), and after each value the length
    // `out` then has to `ends`; true when it did. When a value of a long type
    // (Memo, Long Binary) is longer than `longValueLimit` bytes it appends
    // nothing and returns false: such a value is read in pieces, field by
    // field. The default asks each field in turn; a backend may encode the
    // whole row at once (the data comparison reads every row of both tables
    // this way).
    virtual bool AppendEncodedRow(std::string& out, std::vector<std::uint32_t>& ends,
                                  std::int64_t longValueLimit);
};

// The fields that identify each row of a table: those of its primary key or
// of a unique index that leaves no row out.
struct TableKey {
    std::vector<std::string> fields;  // in the index's key order
    std::string index;                // the index the key comes from
    bool primary = false;
    friend bool operator==(const TableKey&, const TableKey&) = default;
};

// What kind of database an open Database is: the backend that reads it and,
// for ODBC, the database system behind the driver (its SQL_DBMS_NAME). Two
// databases of one kind offer the same engine-only properties and spell
// values alike, so those properties are compared only between databases of
// the same kind.
struct DatabaseKind {
    std::string backend;  // "SQLite", "Access", "ODBC", ...
    std::string system;   // ODBC: the database system ("PostgreSQL", "SQLite"); "" otherwise
    friend bool operator==(const DatabaseKind&, const DatabaseKind&) = default;
};

// An open database, read-only. Its collections are TableDefs, QueryDefs,
// Relations and Containers; its Properties are the database's own.
class Database : public DbObject {
  public:
    // The kind of this database: its backend and, for ODBC, its database
    // system. Known from the moment the database is open; never throws.
    virtual DatabaseKind Kind() const = 0;

    // Opens a recordset over the given fields of one table, in the database's
    // natural row order (no ORDER BY), one column per field in the order given.
    // The row order must not depend on which fields are asked for (the data
    // comparison reads all fields at once, the result view one field alone,
    // and both must number the rows alike). Identifiers are quoted by the
    // backend's own rules.
    virtual std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                                     const std::vector<std::string>& fields) = 0;
    // The statement text OpenRecordset runs for those arguments.
    virtual std::string RecordsetStatement(std::string_view table,
                                           const std::vector<std::string>& fields) = 0;
    // A new Database object for the same open database, with an object tree
    // of its own as a fresh opening would give, reading the same state of
    // the database. Null when the backend has no such thing; the caller then
    // opens the database again.
    virtual std::unique_ptr<Database> OpenAgain() { return nullptr; }

    // The keys that identify the rows of `table`, best first: its primary
    // key, then every unique index, in the collection's order, that leaves no
    // row out (neither IgnoreNulls nor a condition) and whose fields are all
    // Required. An index over an expression, or over a field the table does
    // not have, is none. Empty when the table has no key. The default reads
    // the table's Indexes and Fields; throws DbError when they cannot be read.
    virtual std::vector<TableKey> CandidateKeys(std::string_view table);

    // As OpenRecordset, but the rows come in ascending order of `keyFields`
    // as CompareKeyValues (key_order.h) orders them, whatever the storage
    // order; the key fields need not be among `fields`. Backends whose engine
    // orders alike override it with an ORDER BY (a binary collation for
    // text). The default reads the natural order and sorts it with bounded
    // memory (SortRecordset). The data comparison checks the order it gets.
    virtual std::unique_ptr<Recordset> OpenOrderedRecordset(
        std::string_view table, const std::vector<std::string>& fields,
        const std::vector<std::string>& keyFields);

    // As OpenRecordset, but only the rows whose `keyFields` equal
    // `keyValues` (CompareKeyValues finds them equal), so at most one row for
    // a key. Values are bound to the statement, never written into it. The
    // default reads the natural order and keeps the matching rows.
    virtual std::unique_ptr<Recordset> OpenKeyedRecordset(std::string_view table,
                                                          const std::vector<std::string>& fields,
                                                          const std::vector<std::string>& keyFields,
                                                          const std::vector<Value>& keyValues);

    // Row checksums of key ranges (row_checksum.h, docs/checksums.md). A
    // database that can summarize its rows itself returns the form of each
    // of `fields` of `table`; nullopt when it cannot (the default), and then
    // the three calls below throw DbError.
    virtual std::optional<std::vector<ChecksumForm>> ChecksumForms(
        std::string_view table, const std::vector<std::string>& fields);
    // Boundaries that cut `range` into about `parts` parts of about equal
    // row counts: the keys of the rows at places every, 2 * every, ... in key
    // order (CompareKeys), every being the range's rows divided by `parts`,
    // rounded up. Rows with a Null in the key are not counted. Strictly
    // increasing; empty for an empty range. `rows`, when the caller knows
    // it, is about the number of rows in the range (the rows need not be
    // counted again); a database may then take the boundaries from a sample
    // of a large range's keys, so that the parts are only about equal.
    virtual std::vector<std::vector<Value>> KeyBoundaries(std::string_view table,
                                                          const std::vector<std::string>& keyFields,
                                                          const KeyRange& range, std::int64_t parts,
                                                          std::optional<std::int64_t> rows);
    // The row count and checksum of `fields` (key fields included as the
    // caller lists them) of each part `boundaries` (strictly increasing,
    // inside `range`) cut `range` into, computed by the database; values are
    // bound, never written into the statement.
    virtual RangeSummaries RangeChecksums(std::string_view table,
                                          const std::vector<std::string>& fields,
                                          const std::vector<std::string>& keyFields,
                                          const KeyRange& range,
                                          const std::vector<std::vector<Value>>& boundaries);
    // As OpenOrderedRecordset, but only the rows whose key lies in `range`.
    virtual std::unique_ptr<Recordset> OpenRangeRecordset(std::string_view table,
                                                          const std::vector<std::string>& fields,
                                                          const std::vector<std::string>& keyFields,
                                                          const KeyRange& range);
    // Asks a statement that another thread runs on this database to stop
    // soon; that thread's call then throws DbError. Safe to call from any
    // thread; does nothing where the backend cannot interrupt.
    virtual void Interrupt() {}

    // Ends the use of the database. Idempotent; the destructor closes too.
    virtual void Close() = 0;
};

// The key by which the rows of `table` are matched between two databases:
// the first candidate key of database 1 (its primary key first) over the
// same field names as a candidate key of database 2, in database 1's field
// order; nullopt when the two share none. Throws DbError when the indexes or
// fields of either table cannot be read.
std::optional<TableKey> SharedKey(Database& db1, Database& db2, std::string_view table);

}  // namespace kesmark
