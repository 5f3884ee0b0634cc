#pragma once

// PostgreSQL text and binary values longer than kLongValuePiece, read in
// pieces and never whole. The driver holds a row whole, long values and
// all, in several copies (a 100 MiB value takes about half a gigabyte), and
// so does libpq. So a statement that may meet such values selects, for each
// text or binary field, Null in place of a long value and, after the
// fields, one column per such field with the long value's size
// (SelectWithLongValueSizes); WithLongValuesInPieces then reads each long
// value by its row's key, a piece of kLongValuePiece bytes per row of
// LongValuePiecesSql, when it is asked for.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/object_model.h"

namespace kesmark::odbc {

// True for the PostgreSQL types (their names as the driver reports them)
// whose values may be long: text, varchar and bytea (character(n) is
// bounded by its n).
bool MayBeLong(std::string_view typeName);

// A select list of fields with the sizes of their long values.
struct LongValueColumns {
    std::string selectList;               // the fields, then the sizes
    std::vector<std::size_t> longFields;  // the fields with a size, in order
};

// For the quoted fields `quoted` of the source's types `typeNames`: each
// field that may be long and is not `kept` becomes "CASE WHEN
// octet_length(f) > 65536 THEN NULL ELSE f END", and gets its size column
// "CASE WHEN octet_length(f) > 65536 THEN octet_length(f) END" after all
// the fields.
LongValueColumns SelectWithLongValueSizes(const std::vector<std::string>& quoted,
                                          const std::vector<std::string>& typeNames,
                                          const std::vector<bool>& kept);

// The statement that reads one long value in pieces of kLongValuePiece
// bytes, the value made once: each row the piece's place (from 1) and its
// bytes (text as UTF-8), in order. `value` is the quoted column, `binary`
// for bytea; `source` the quoted table, `where` its row's key condition.
std::string LongValuePiecesSql(std::string_view source, std::string_view value, bool binary,
                               std::string_view where);

// Opens the pieces (LongValuePiecesSql) of the long value of field `field`
// of the row whose key is `key`.
using LongValuePieces =
    std::function<std::unique_ptr<Recordset>(std::size_t field, const std::vector<Value>& key)>;

// How a row's key is known: the values of `keyFields` (fields of the
// recordset), or the one `key` of a recordset of one row's key.
struct RowKey {
    std::vector<std::size_t> keyFields;
    std::optional<std::vector<Value>> key;
};

// The recordset of the first `fields` columns of `inner`, whose next
// columns are the sizes of `longFields` (SelectWithLongValueSizes): a field
// whose size is given is read in pieces through `pieces`, by the row's key.
// `binary` says, per field, whether it is read as bytes.
std::unique_ptr<Recordset> WithLongValuesInPieces(std::unique_ptr<Recordset> inner,
                                                  std::size_t fields,
                                                  std::vector<std::size_t> longFields,
                                                  std::vector<bool> binary, RowKey rowKey,
                                                  LongValuePieces pieces);

// The recordset WithLongValuesInPieces wraps in `recordset`, or
// `recordset` itself.
const Recordset& InnerOf(const Recordset& recordset);

}  // namespace kesmark::odbc
