#pragma once

// The records of Access tables, read inside the reader process: rows in the
// table's stored order with exact typed values, and long binary values in
// pieces.

#include <cstdint>
#include <optional>
#include <string_view>

#include "engine/backends/access/jet_file.h"
#include "engine/backends/access/wire_format.h"

namespace kesmark::access {

// Longest memo the reader decodes into one value.
inline constexpr std::size_t kMaxMemoBytes = 16u << 20;

// The page of the definition of the local table of that exact name (a
// MSysObjects row of type 1 in the Tables container), or none.
std::optional<std::uint32_t> FindTableDefinition(JetFile& file, std::string_view name);

// The value of one column of one row as it travels: Null for a Null, the
// typed value otherwise; a long binary value outside its row as a reference.
WireCell ReadCell(JetFile& file, const ColumnDef& column, const FieldSlice& slice);

// Where the last batch of rows ended, so that the next batch of the same
// table starts there instead of passing over every row before it.
struct RowResume {
    std::uint32_t tablePage = 0;  // 0: none
    std::uint64_t nextRow = 0;
    JetFile::RowPosition position;
};

// Up to request.maxRows rows of request.table from row request.firstRow on,
// fewer when their values pass kRowsReplyBudget (at least one row unless the
// table ends). `resume` is read (when it is for this table and row) and
// updated. Throws FormatError for a damaged table; an unknown table or field
// is a kError reply.
Reply ReadRows(JetFile& file, const Request& request, RowResume& resume);

// The piece of a long binary value a kReadChunk request asks for.
Reply ReadChunk(JetFile& file, const Request& request);

}  // namespace kesmark::access
