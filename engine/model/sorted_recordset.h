#pragma once

// Recordsets made from another one: its rows sorted by key with bounded
// memory, or only the rows of one key. The default key order and key lookup
// of Database (object_model.h) are built on them, for backends whose engine
// cannot order or find rows by key itself (the Access reader, the in-memory
// test backend).

#include <cstddef>
#include <memory>
#include <vector>

#include "engine/model/object_model.h"

namespace kesmark {

// Bytes of encoded rows sorted in memory at once before they go to a
// temporary file.
inline constexpr std::size_t kSortRunBytes = 8u << 20;

// Reads `source` to its end and returns a recordset over its first
// `visibleColumns` columns, the rows in ascending order of the columns
// `keyColumns` (CompareKeys of key_order.h); rows with equal keys keep the
// order they were read in. Memory stays bounded: runs of at most `runBytes`
// of encoded rows are sorted in memory and each written to an anonymous
// temporary file (gone when the recordset is), which are then merged as the
// rows are read. A table that fits in one run stays in memory.
// Throws DbError when the source cannot be read or a temporary file written.
std::unique_ptr<Recordset> SortRecordset(std::unique_ptr<Recordset> source,
                                         std::vector<std::size_t> keyColumns,
                                         std::size_t visibleColumns,
                                         std::size_t runBytes = kSortRunBytes);

// A recordset over the first `visibleColumns` columns of the rows of
// `source` whose columns `keyColumns` equal `keyValues` (CompareKeyValues).
std::unique_ptr<Recordset> FilterRecordset(std::unique_ptr<Recordset> source,
                                           std::vector<std::size_t> keyColumns,
                                           std::vector<Value> keyValues,
                                           std::size_t visibleColumns);

}  // namespace kesmark
