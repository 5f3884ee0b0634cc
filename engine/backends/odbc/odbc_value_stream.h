#pragma once

// One value of the current row of a result read in pieces with SQLGetData,
// so that a value of any size passes through a buffer of one piece.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/model/value.h"

namespace kesmark::odbc {

// One SQLGetData piece of a value read in parts.
inline constexpr std::size_t kPieceBytes = 65536;

// Where SQLGetData stands with one column of the current row.
struct ColumnRead {
    bool started = false;  // read from since the row was positioned: not at its beginning
    bool drained = false;  // the driver said SQL_NO_DATA
    SQLSMALLINT cType = SQL_C_WCHAR;
    std::optional<SQLLEN> firstIndicator;  // of the first piece: the value's length
};

// One value of the current row read in pieces with SQLGetData from where the
// driver stands with it (its beginning, for a column not read before): text
// (SQL_C_WCHAR) as UTF-8, binary (SQL_C_BINARY) as bytes. Holds one piece
// and the bytes not yet handed out, never the whole value unless asked for
// it whole. Throws DbError when the driver fails.
class ValueStream {
  public:
    // `statement` and `read` (the column's read state, kept up to date) are
    // not owned and must outlive the stream. `read.cType` says how to read.
    ValueStream(Statement& statement, SQLUSMALLINT column, ColumnRead& read);

    // Reads the first piece, if not yet read. Returns its length indicator
    // (SQL_NULL_DATA, SQL_NO_TOTAL, the value's length, or SQL_NO_DATA when
    // the driver had nothing).
    SQLLEN Start(std::string_view context);

    // True for Null (reads the first piece).
    bool IsNull(std::string_view context);

    // The value's byte length when known without reading on: a binary
    // value whose driver gives its length, or a value read to its end.
    std::optional<std::int64_t> KnownLength() const { return length_; }

    // Reads on to the end; the value's byte length.
    std::int64_t ReadToEnd(std::string_view context);

    // The whole value, from its beginning: UTF-8 text or bytes.
    std::string ReadAll(std::string_view context);

    // Where the bytes still held begin; those before are gone.
    std::int64_t HeldFrom() const { return heldFrom_; }

    // Up to `count` bytes from `offset` (not before HeldFrom()); fewer, or
    // none, at the end. Bytes before `offset` are let go.
    Bytes Read(std::int64_t offset, std::size_t count, std::string_view context);

  private:
    void ReadPiece(std::string_view context);
    void Finish();

    Statement& statement_;  // Not owned.
    SQLUSMALLINT column_;
    ColumnRead& read_;  // Not owned.
    bool binary_;
    std::vector<SQLWCHAR> piece_;
    std::string held_;  // the bytes [heldFrom_, heldFrom_ + held_.size())
    std::int64_t heldFrom_ = 0;
    bool started_ = false;
    bool ended_ = false;
    bool null_ = false;
    SQLLEN firstIndicator_ = 0;
    std::optional<std::int64_t> length_;
    std::optional<SQLWCHAR> highSurrogate_;  // a pair parted between two pieces
};

}  // namespace kesmark::odbc
