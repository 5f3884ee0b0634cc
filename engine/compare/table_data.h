#pragma once

// The stored values of one table compared in a single pass: each database is
// read once, over all the fields at once, by its own thread, while the
// calling thread compares the rows as they arrive.
//
// Records are paired in one of two ways:
// - by key: both sides are read in the order of the key they share
//   (Database::OpenOrderedRecordset) and merged; a row whose key is on one
//   side only is a row only in that database, a pair of rows with one key
//   whose values differ a changed row. The order is checked as the rows
//   arrive: a side whose keys do not strictly increase (an engine that
//   orders otherwise than CompareKeyValues, a Null in a key, a key twice)
//   makes the table fall back to pairing by position, with the reason kept.
// - by position: the n-th record read from database 1 with the n-th from
//   database 2, in key order where there is a key, else in each database's
//   natural order; reading stops at the end of the shorter table.
// For each field the first pair that differs in it is kept; by position the
// result is what comparing each field alone would give, because a backend's
// row order does not depend on the fields asked for.
//
// Memory stays bounded whatever the table's size: rows travel in batches of a
// limited byte size through queues of limited depth, at most `maxRows`
// differing rows are kept (the counts stay exact past it), and a long value
// longer than kLongValuePiece is compared piece by piece (LongFieldsEqual)
// while both readers wait on its record.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/compare/host.h"
#include "engine/compare/options.h"
#include "engine/model/object_model.h"

namespace kesmark {

// What became of one row when records are paired by key.
enum class RowState { OnlyIn1, OnlyIn2, Changed };

struct RowDifference {
    RowState state;
    std::vector<Value> key;  // its key values (database 1's for a changed row)
};

struct RowCounts {
    std::int64_t onlyIn1 = 0;
    std::int64_t onlyIn2 = 0;
    std::int64_t changed = 0;
    std::int64_t same = 0;
    friend bool operator==(const RowCounts&, const RowCounts&) = default;
};

// How the records of one table are paired.
struct RecordPairing {
    // The key both tables share (SharedKey); empty when none. Records are
    // read in its order whichever way they are paired.
    std::vector<std::string> keyFields;
    // Database 2's names of the key fields, in the order of keyFields.
    std::vector<std::string> keyFields2;
    bool byKey = false;           // pair rows of equal keys (needs keyFields)
    std::int64_t maxRows = 1000;  // differing rows kept when paired by key
    // Paired by key, compare key ranges by the checksums both databases
    // compute, reading only the rows of ranges that differ, where both can
    // and the checksums can be trusted (else the rows are read).
    bool checksums = false;
    // A differing range is read once neither side holds more rows of it.
    std::int64_t checksumRangeRows = 10000;
    // The parts a differing range larger than that is cut into.
    std::int64_t checksumParts = 32;
};

// The pairing of `table` under `options`: by key when the options ask for it
// and both tables share a key, else by position; by checksums of key ranges
// where the options leave them on (Auto) and one of the databases is a
// server (ODBC). Database 2's table is
// `table2` (empty: `table`); with `ignoreNameCase`, key fields whose names
// differ only in ASCII letter case are one field. A key that cannot be read
// (a table whose indexes cannot be read) counts as none.
RecordPairing PlanPairing(Database& db1, Database& db2, std::string_view table,
                          const DataOptions& options, std::string_view table2 = {},
                          bool ignoreNameCase = false);

// The text of a row key ("5", "1, a"), as row nodes name rows (node_key.h).
std::string RowKeyText(const std::vector<Value>& key);

// True for a database a server holds (read through ODBC): it reads a table
// to count it, and sends what it reads over a connection.
bool IsOnAServer(const Database& db);

class TableDataComparison {
  public:
    // `db1`, `db2` and `host` are not owned; they must outlive Run().
    TableDataComparison(Database& db1, Database& db2, std::string table,
                        std::vector<std::string> fields, Host& host, RecordPairing pairing = {});

    // The number of rows both databases count in the table (their equal
    // RecordCount). A table that ends before it has lost records: see Run.
    void ExpectRows(std::int64_t rows) { expectedRows_ = rows; }
    // The number of rows database 1 counts in the table (its RecordCount),
    // equal to database 2's or not: the first cut of the table into key
    // ranges for checksums need not count them again.
    void KnowRows1(std::int64_t rows) { rows1_ = rows; }

    // Database 2 is read by its own names of the table and of the fields, in
    // the order of Fields(), where they differ from database 1's (names
    // matched ignoring letter case); its key fields by the pairing's
    // keyFields2. By default both are read by the same names.
    void ReadDatabase2As(std::string table, std::vector<std::string> fields);
    // Values compare by meaning (ValuesEqualByMeaning: 1.98 as a decimal and
    // as a real alike), as between databases of different kinds, instead of
    // by the variant rules.
    void CompareByMeaning(bool byMeaning) { byMeaning_ = byMeaning; }

    // Reads both tables and compares them. By position, a table that ends
    // while the other goes on, or before the rows both databases count,
    // differs at its first missing record in every field not decided before;
    // by key, a side that gives fewer rows than both count makes every field
    // not found different yet differ past database 1's last row.
    // Returns false when the user cancelled (checked between batches, and
    // while waiting for a database, so within a few milliseconds); throws
    // DbError naming the database, the table and the field when a database
    // cannot be read.
    bool Run();

    // The first record at which field `index` differs, or 0 when it does not
    // differ in any pair: the pair's position (from 1) in database 1's order.
    std::int64_t FirstDifference(std::size_t index) const { return firstDifference_.at(index); }
    const std::vector<std::string>& Fields() const { return fields_; }
    const std::string& Table() const { return table_; }
    // Records compared so far (pairs, and by key the rows on one side only).
    std::int64_t RecordsCompared() const { return recordsCompared_; }

    // True when the rows were paired by key to the end of both tables.
    bool MatchedByKey() const { return matchedByKey_; }
    // The counts of rows by state (when MatchedByKey).
    const RowCounts& Counts() const { return counts_; }
    // The differing rows in key order, at most `maxRows` (when MatchedByKey).
    const std::vector<RowDifference>& RowDifferences() const { return rows_; }
    // Why the rows were paired by position although pairing by key was asked
    // for (which database, which keys); empty otherwise.
    const std::string& FallbackReason() const { return fallbackReason_; }
    // True when the rows were matched by key through checksums of key ranges
    // (only the rows of ranges that differ were read).
    bool MatchedByChecksums() const { return matchedByChecksums_; }
    // Why checksums were asked for but the rows were read; empty otherwise.
    const std::string& ChecksumFallbackReason() const { return checksumFallback_; }
    // Key ranges whose checksums were compared, and rows read from each
    // database (by checksums: only those of ranges that differ).
    std::int64_t RangesCompared() const { return rangesCompared_; }

    // Limits of the pipeline, exposed for tests.
    static constexpr std::size_t kBatchBytes = 1 << 20;
    static constexpr std::size_t kBatchRows = 8192;
    static constexpr std::size_t kQueueDepth = 4;

  private:
    enum class Outcome { Done, Cancelled, OutOfOrder, Untrusted };
    // Merges by key the rows of `range` (all rows when null), the first
    // being at `firstPosition` in database 1's key order.
    Outcome RunByKey(const KeyRange* range = nullptr, std::int64_t firstPosition = 1);
    // Where the rows matched by key are fewer than both databases count,
    // marks every field not found different yet as differing past them.
    void MarkLostRows();
    // By checksums of key ranges (table_checksums.cpp): Untrusted, with
    // checksumFallback_ set, when the rows must be read instead.
    Outcome RunByChecksums();
    // Why the two databases' checksums of the table cannot be trusted; empty
    // when they can.
    std::string ChecksumObstacle(const std::vector<std::string>& read1,
                                 const std::vector<std::string>& read2);
    // Compares one range whose summaries are known, cutting it further or
    // reading its rows.
    Outcome CompareRange(const KeyRange& range, const RangeSummary& summary1,
                         const RangeSummary& summary2);
    // Cuts `range` into parts at database 1's boundaries, has both databases
    // summarize the parts and compares each. `rows`, when known, are the
    // range's rows in database 1 and 2, which the parts must add up to.
    Outcome CompareParts(const KeyRange& range,
                         std::optional<std::pair<std::int64_t, std::int64_t>> rows);
    bool RunByPosition();
    void Reset();
    // Database 2's names of the table, the fields and the key fields.
    const std::string& Table2() const;
    const std::vector<std::string>& Fields2() const;
    const std::vector<std::string>& KeyFields2() const;

    Database& db1_;  // Not owned.
    Database& db2_;  // Not owned.
    std::string table_;
    std::vector<std::string> fields_;  // the fields asked for
    std::string table2_;               // database 2's names; empty: as database 1's
    std::vector<std::string> fields2_;
    bool byMeaning_ = false;
    Host& host_;  // Not owned.
    RecordPairing pairing_;
    std::vector<std::int64_t> firstDifference_;
    std::int64_t recordsCompared_ = 0;
    std::optional<std::int64_t> expectedRows_;
    std::optional<std::int64_t> rows1_;
    bool matchedByKey_ = false;
    RowCounts counts_;
    std::vector<RowDifference> rows_;
    std::string fallbackReason_;
    bool matchedByChecksums_ = false;
    std::string checksumFallback_;
    std::int64_t rangesCompared_ = 0;
    std::int64_t position1_ = 1;  // by checksums: the next range's first place in database 1
    // The fields read by key on each side (the compared fields, then the key
    // fields not among them).
    std::vector<std::string> read1_;
    std::vector<std::string> read2_;
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
