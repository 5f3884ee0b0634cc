#pragma once

// The stored values of one table compared field by field in a single pass:
// each database is read once, over all the fields at once, by its own thread,
// while the calling thread compares the rows as they arrive. Records are
// matched by position; for each field the first differing position is kept.
// The result is what comparing each field alone, one recordset pair per
// field, would give, because a backend's row order does not depend on the
// fields asked for.
//
// Memory stays bounded whatever the table's size: rows travel in batches of a
// limited byte size through a queue of limited depth, a field whose first
// difference is known is no longer read, and a long value longer than
// kLongValuePiece is compared piece by piece (LongFieldsEqual) while both
// readers wait on its record.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/compare/host.h"
#include "engine/model/object_model.h"

namespace kesmark {

class TableDataComparison {
  public:
    // `db1`, `db2` and `host` are not owned; they must outlive Run().
    TableDataComparison(Database& db1, Database& db2, std::string table,
                        std::vector<std::string> fields, Host& host);

    // Reads both tables and compares them. Returns false when the user
    // cancelled (checked between batches, so within a few milliseconds);
    // throws DbError when a database cannot be read.
    bool Run();

    // The first record (counted from 1) at which field `index` differs, or 0
    // when its values are equal up to the end of the shorter table.
    std::int64_t FirstDifference(std::size_t index) const { return firstDifference_.at(index); }
    const std::vector<std::string>& Fields() const { return fields_; }
    const std::string& Table() const { return table_; }
    // Record pairs compared so far.
    std::int64_t RecordsCompared() const { return recordsCompared_; }

    // Limits of the pipeline, exposed for tests.
    static constexpr std::size_t kBatchBytes = 256 << 10;
    static constexpr std::size_t kBatchRows = 1024;
    static constexpr std::size_t kQueueDepth = 4;

  private:
    Database& db1_;  // Not owned.
    Database& db2_;  // Not owned.
    std::string table_;
    std::vector<std::string> fields_;
    Host& host_;  // Not owned.
    std::vector<std::int64_t> firstDifference_;
    std::int64_t recordsCompared_ = 0;
};

// True when two values of a long field (DAO type 11 or 12) are equal: their
// byte lengths and then their bytes, as comparing them chunk by chunk gives.
bool LongValuesEqual(const Value& a, const Value& b);

// True when the current long values of two fields are equal: FieldSize of
// each, then GetChunk a piece of kLongValuePiece bytes at a time, stopping at
// the first piece that differs. Memory stays one piece per side whatever
// the values' size. Reading may throw DbError.
bool LongFieldsEqual(RecordsetField& a, RecordsetField& b);

}  // namespace kesmark
