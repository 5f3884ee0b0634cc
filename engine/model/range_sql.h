#pragma once

// The SQL of row checksums of key ranges that the SQLite and ODBC backends
// share: predicates over a key and the expression that tells which part of
// a range a row lies in, with every value bound to a "?" marker.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/model/row_checksum.h"
#include "engine/model/value.h"

namespace kesmark {

// A value bound to a marker, and the key field (its position in the key)
// it is compared with.
struct KeyParameter {
    std::size_t keyField = 0;
    Value value;
};

// The key as the backend writes it in a comparison: per key field the quoted
// column and what follows it so that text compares by its bytes
// (" COLLATE \"C\"", or "").
class RangeSql {
  public:
    // `numbered`: markers "?1", "?2", ... (by their place among the
    // parameters) instead of "?".
    RangeSql(std::vector<std::string> columns, const std::vector<std::string>& collations,
             bool numbered = false)
        : columns_(std::move(columns)), numbered_(numbered) {
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            terms_.push_back(columns_[i] + (i < collations.size() ? collations[i] : ""));
        }
    }

    // "(k1, k2) > (?, ?) AND (k1, k2) <= (?, ?)" for the ends `range` has,
    // with their values appended to `parameters`; "" for an open range.
    std::string RangePredicate(const KeyRange& range, std::vector<KeyParameter>& parameters) const;
    // "k1 IS NOT NULL AND k2 IS NOT NULL".
    std::string KeyNotNull() const;
    // An integer expression: -1 for a row with a Null in its key, else the
    // number (from 0) of the part of the range the boundaries cut the row
    // falls in; a binary search, so each row is compared with about
    // log2(boundaries) of them.
    std::string PartExpression(const std::vector<std::vector<Value>>& boundaries,
                               std::vector<KeyParameter>& parameters) const;
    // "k1, k2": the key terms for an ORDER BY.
    std::string OrderBy() const;

  private:
    std::string Compare(std::string_view op, const std::vector<Value>& key,
                        std::vector<KeyParameter>& parameters) const;
    std::string Search(const std::vector<std::vector<Value>>& boundaries, std::size_t first,
                       std::size_t last, std::vector<KeyParameter>& parameters) const;

    std::vector<std::string> columns_;
    std::vector<std::string> terms_;  // column and collation
    bool numbered_ = false;
};

// The place of every boundary in key order when a range of `rows` rows is
// cut into `parts` parts (Database::KeyBoundaries): the rows divided by the
// parts, rounded up, at least 1.
//   BoundaryEvery(100, 32) -> 4;  BoundaryEvery(0, 32) -> 1
std::int64_t BoundaryEvery(std::int64_t rows, std::int64_t parts);

// The boundaries that cut the keys of a sample, sorted in key order, into
// `parts` parts of equal counts, without repeats: empty when the sample
// holds fewer keys than `parts`, as it then tells too little.
//   BoundariesOfSample({{1}, {2}, ..., {8}}, 4) -> {{2}, {4}, {6}}
std::vector<std::vector<Value>> BoundariesOfSample(std::vector<std::vector<Value>> keys,
                                                   std::int64_t parts);

// The canonical text piece of one field in SQL (row_checksum.h): for text,
// "CASE WHEN c IS NULL THEN 'N' ELSE 't' || length(e) || ':' || e END";
// for the other classes, whose text never holds ";", "CASE WHEN c IS NULL
// THEN 'N' ELSE 'tag' || e || ';' END". `column` is the quoted column (c),
// `expression` the content's text (e), `lengthFunction` the system's byte
// length of text.
std::string CanonicalPieceSql(std::string_view column, char tag, std::string_view expression);
std::string CanonicalTextPieceSql(std::string_view column, std::string_view expression,
                                  std::string_view lengthFunction);

}  // namespace kesmark
