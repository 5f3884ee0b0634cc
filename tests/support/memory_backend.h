#pragma once

// An in-memory database for the engine's unit tests: objects, properties and
// table data described in code, opened by name through an opener, with
// counters that tell a test how the engine used it (opens, closes, records
// read). Real backends are tested against real databases, never through this.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/compare/comparison_run.h"
#include "engine/model/object_tree.h"

namespace kesmark {

struct MemoryTableData {
    std::vector<std::string> columns;
    std::vector<int> types;  // DAO type code per column
    std::vector<std::vector<Value>> rows;
};

// The description of one database and the record of its use.
struct MemoryDatabaseState {
    MemoryDatabaseState();

    std::shared_ptr<ObjectNode> root;  // collections TableDefs, QueryDefs, Relations, Containers
    std::map<std::string, MemoryTableData, std::less<>> data;
    std::optional<DbError> openFailure;  // thrown by the opener when set
    // Rows asked for in key order come in the stored order instead, as from
    // an engine whose order disagrees with the key order.
    bool ignoresKeyOrder = false;
    DatabaseKind kind{"Memory", ""};  // what Database::Kind reports

    int opens = 0;
    int closes = 0;
    std::int64_t recordsRead = 0;
    // Long values (type 11 or 12) longer than kLongValuePiece read whole by
    // GetValue, and the largest piece GetChunk was asked for.
    int wholeLongValuesRead = 0;
    std::size_t largestPieceRead = 0;
    // Called after each record a recordset moves past (e.g. to request a
    // cancel part-way through a table).
    std::function<void(std::int64_t recordsRead)> onRecord;

    // Adds a table with the given fields (each with a "Name" and "Type"
    // property) and a RecordCount property. Returns the table's node.
    ObjectNode& AddTable(const std::string& name, const std::vector<std::string>& fields);
    // Adds an index over `fields` of the table `table` (added before): its
    // primary key, or a unique index whose fields become Required.
    ObjectNode& AddKey(const std::string& table, const std::string& index,
                       const std::vector<std::string>& fields, bool primary);
};

// A set of named in-memory databases and the opener that opens them.
class MemoryServer {
  public:
    MemoryDatabaseState& Create(const std::string& name);
    MemoryDatabaseState& operator[](const std::string& name) { return *databases_.at(name); }
    // Opens the database registered under the name (the connect string is
    // ignored); throws DbError 3024 for an unknown name.
    DatabaseOpener Opener();

  private:
    std::map<std::string, std::shared_ptr<MemoryDatabaseState>> databases_;
};

}  // namespace kesmark
