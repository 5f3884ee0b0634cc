#include "engine/backends/odbc/odbc_recordset.h"

#include <algorithm>
#include <cstring>

#include "engine/backends/odbc/odbc_types.h"
#include "engine/backends/odbc/odbc_value_stream.h"
#include "engine/backends/odbc/odbc_vocabulary.h"
#include "engine/model/object_tree.h"
#include "engine/model/utf8.h"
#include "engine/model/value_codec.h"

namespace kesmark::odbc {

namespace {

// Bound buffers of one block of rows: at most this many bytes and rows.
constexpr std::size_t kBlockBytes = 1 << 20;
constexpr std::size_t kMaxBlockRows = 512;
// Text is bound as UTF-16: twice the column's size in characters (a
// character beyond the BMP takes two units), at most kMaxTextUnits. Long
// text, and text of no known size, binds its first kLongTextUnits. Numbers,
// dates and other types come as the driver's text, which is ASCII: bound as
// 8-bit text of at least kMinTextUnits characters, and read again as UTF-16
// should a value hold anything else. The rest of a value that does not fit
// is read with SQLGetData when asked for.
constexpr std::size_t kMinTextUnits = 64;
constexpr std::size_t kMaxTextUnits = 2048;
constexpr std::size_t kLongTextUnits = 256;
constexpr std::size_t kMaxBinaryBytes = 4096;
constexpr std::size_t kLongBinaryBytes = 512;

DbError NoCurrentRecord() {
    return DbError(errors::kNoCurrentRecord, "No current record.", "ODBC");
}

bool IsCharacterSqlType(SQLSMALLINT sqlType) {
    switch (sqlType) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_LONGVARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
        case SQL_WLONGVARCHAR:
            return true;
        default:
            return false;
    }
}

bool IsLongSqlType(SQLSMALLINT sqlType) {
    return sqlType == SQL_LONGVARCHAR || sqlType == SQL_WLONGVARCHAR ||
           sqlType == SQL_LONGVARBINARY;
}

// True when `text` is well-formed UTF-8, as the driver's UTF-16 of it would
// give again.
bool IsUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t start = i;
        if (DecodeUtf8(text, i) == kReplacementCharacter &&
            text.substr(start, i - start) != "\xEF\xBF\xBD") {
            return false;
        }
    }
    return true;
}

// The byte length of a text or binary value; 0 for any other.
std::int64_t ByteLength(const Value& value) {
    if (const auto* text = value.As<std::string>()) {
        return static_cast<std::int64_t>(text->size());
    }
    if (const auto* bytes = value.As<Bytes>()) {
        return static_cast<std::int64_t>(bytes->size());
    }
    return 0;
}

// Up to `count` bytes of a text or binary value from `offset`.
Bytes Slice(const Value& value, std::int64_t offset, std::size_t count) {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    if (const auto* text = value.As<std::string>()) {
        data = reinterpret_cast<const std::uint8_t*>(text->data());
        size = text->size();
    } else if (const auto* bytes = value.As<Bytes>()) {
        data = bytes->data();
        size = bytes->size();
    }
    if (!data || offset < 0 || static_cast<std::size_t>(offset) >= size) {
        return {};
    }
    const auto start = static_cast<std::size_t>(offset);
    return Bytes(data + start, data + start + std::min(count, size - start));
}

// How a column is bound: UTF-16 text (SQL_C_WCHAR), text as its UTF-8 bytes
// where the driver gives them unchanged (SQL_C_BINARY), the driver's 8-bit
// text taken only when ASCII (SQL_C_CHAR), or bytes (SQL_C_BINARY).
enum class Binding { Wide, Utf8, Ascii, Bytes };

// One column of an open recordset, and its buffer when bound.
struct ResultColumn {
    ColumnDescription description;
    int daoType = dao::kText;
    std::string sourceField;
    bool binary = false;      // read as bytes (SQL_C_BINARY), else as UTF-16 text
    bool streamable = false;  // a text or binary type: a long value may come in pieces
    bool utf8Bytes = false;   // text bound as its UTF-8 bytes
    Binding binding = Binding::Wide;
    SQLLEN elementBytes = 0;  // bytes bound per row; 0 when not bound
    std::vector<char> data;
    std::vector<SQLLEN> indicators;
};

Binding BindingOf(const ResultColumn& column) {
    if (column.binary) {
        return Binding::Bytes;
    }
    if (column.utf8Bytes) {
        return Binding::Utf8;
    }
    return IsCharacterSqlType(column.description.sqlType) ? Binding::Wide : Binding::Ascii;
}

SQLSMALLINT CType(Binding binding) {
    switch (binding) {
        case Binding::Wide:
            return SQL_C_WCHAR;
        case Binding::Ascii:
            return SQL_C_CHAR;
        case Binding::Utf8:
        case Binding::Bytes:
            break;
    }
    return SQL_C_BINARY;
}

// The bytes to bind per row for a column (see the constants above).
SQLLEN BoundBytes(const ColumnDescription& column, Binding binding) {
    const auto size = static_cast<std::size_t>(column.size);
    const bool unbounded = IsLongSqlType(column.sqlType) || size == 0;
    switch (binding) {
        case Binding::Bytes:
            return static_cast<SQLLEN>(unbounded || size > kMaxBinaryBytes ? kLongBinaryBytes
                                                                           : size);
        case Binding::Ascii:
            return static_cast<SQLLEN>(std::clamp(2 * size + 8, kMinTextUnits, kMaxTextUnits) + 1);
        case Binding::Utf8:
            // Up to four bytes a character.
            return static_cast<SQLLEN>(unbounded || size > kMaxTextUnits / 2
                                           ? 2 * kLongTextUnits
                                           : std::max<std::size_t>(4 * size, 1));
        case Binding::Wide:
            break;
    }
    const std::size_t units = unbounded || size > kMaxTextUnits / 2 ? kLongTextUnits : 2 * size;
    return static_cast<SQLLEN>((units + 1) * sizeof(SQLWCHAR));
}

class OdbcRecordset : public Recordset {
  public:
    // Runs `sql` with `parameters` bound to its markers.
    OdbcRecordset(Connection& connection, std::string table, const std::string& sql,
                  const std::vector<Parameter>& parameters)
        : connection_(connection), statement_(connection.NewStatement()), table_(std::move(table)) {
        const SQLRETURN rc = parameters.empty() ? statement_.TryExecute(sql)
                                                : statement_.TryExecute(sql, parameters);
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            throw Failure(rc, "opening table " + table_);
        }
        for (auto& shape : DescribeResult(connection, statement_)) {
            ResultColumn result;
            result.description = std::move(shape.description);
            result.daoType = shape.daoType;
            result.sourceField = std::move(shape.sourceField);
            const std::string& typeName = shape.typeName;
            result.binary = IsBinarySqlType(result.description.sqlType);
            result.streamable = result.binary || IsCharacterSqlType(result.description.sqlType);
            const auto& utf8Types = connection.Abilities().utf8TextTypes;
            result.utf8Bytes = !result.binary && result.streamable && !utf8Types.empty() &&
                               std::find(utf8Types.begin(), utf8Types.end(),
                                         FoldAsciiCase(typeName)) != utf8Types.end();
            columns_.push_back(std::move(result));
            fields_.push_back(
                std::make_unique<OwnedField<OdbcRecordset>>(*this, columns_.size() - 1));
        }
        values_.resize(columns_.size());
        sizes_.resize(columns_.size());
        reads_.resize(columns_.size());
        Bind();
        Advance();
    }

    bool IsEof() override { return eof_; }

    void MoveNext() override {
        CheckRow();
        Advance();
    }

    void Move(std::int64_t rows) override {
        for (std::int64_t i = 0; i < rows && !eof_; ++i) {
            MoveNext();
        }
    }

    void Close() override {
        if (!closed_) {
            statement_.CloseCursor();
        }
        closed_ = true;
        eof_ = true;
    }

    std::size_t FieldCount() override { return fields_.size(); }

    RecordsetField& Field(std::size_t index) override {
        if (index >= fields_.size()) {
            throw DbError(errors::kItemNotFound, "Item not found in this collection.", "ODBC");
        }
        return *fields_[index];
    }

    const ResultColumn& Column(std::size_t index) const { return columns_[index]; }
    const std::string& Table() const { return table_; }

    // The current row's value of column `index`, read on first use.
    const Value& ValueAt(std::size_t index) {
        CheckRow();
        rowKept_ = true;
        if (!bound_) {
            return ValueInColumnOrder(index);
        }
        if (!values_[index]) {
            values_[index] = Whole(index) ? BoundValue(index) : ReadWhole(index);
        }
        return *values_[index];
    }

    // Appends the encoding of the current row's value of column `index`:
    // straight from the bound buffer when it holds the whole value.
    void AppendEncoded(std::size_t index, std::string& out) {
        CheckRow();
        if (!bound_ || values_[index] || !Whole(index)) {
            EncodeValue(ValueAt(index), out);
            return;
        }
        const ResultColumn& column = columns_[index];
        const SQLLEN indicator = column.indicators[rowInBlock_];
        if (indicator == SQL_NULL_DATA) {
            out.push_back(value_tags::kNull);
            return;
        }
        const char* cell = Cell(index);
        switch (column.binding) {
            case Binding::Bytes:
                EncodeBytes(value_tags::kBytes,
                            std::string_view(cell, static_cast<std::size_t>(indicator)), out);
                return;
            case Binding::Utf8:
            case Binding::Ascii:
                EncodeText(column.description.sqlType,
                           std::string_view(cell, static_cast<std::size_t>(indicator)), out);
                return;
            case Binding::Wide:
                break;
        }
        scratch_.clear();
        AppendNarrow(reinterpret_cast<const SQLWCHAR*>(cell),
                     static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR), scratch_);
        EncodeText(column.description.sqlType, scratch_, out);
    }

    // The byte length of the current row's value of column `index`: a long
    // value is read through in pieces, never held whole.
    std::int64_t SizeAt(std::size_t index) {
        CheckRow();
        rowKept_ = true;
        if (!Streams(index)) {
            return ByteLength(ValueAt(index));
        }
        if (!sizes_[index]) {
            ValueStream& stream = StreamOf(index, std::nullopt);
            if (stream.IsNull(RowContext())) {
                sizes_[index] = 0;
            } else if (const auto known = stream.KnownLength()) {
                sizes_[index] = *known;
            } else {
                sizes_[index] = stream.ReadToEnd(RowContext());
            }
        }
        return *sizes_[index];
    }

    // Up to `count` bytes of the current row's value of column `index` from
    // byte `offset`. Reading on from where the last chunk of the same value
    // ended reads on; going back reads the value again from its beginning.
    Bytes ChunkAt(std::size_t index, std::int64_t offset, std::size_t count) {
        CheckRow();
        rowKept_ = true;
        if (offset < 0) {
            return {};
        }
        if (!Streams(index)) {
            return Slice(ValueAt(index), offset, count);
        }
        ValueStream& stream = StreamOf(index, offset);
        if (stream.IsNull(RowContext())) {
            return {};
        }
        return stream.Read(offset, count, RowContext());
    }

  private:
    void CheckRow() const {
        if (eof_ || closed_) {
            throw NoCurrentRecord();
        }
    }

    std::string RowContext() const {
        return "reading row " + std::to_string(rowsRead_) + " of table " + table_;
    }

    // Binds the columns and sets the rows per block, where the driver
    // allows SQLGetData beside bound columns.
    void Bind() {
        bound_ = connection_.Abilities().bindAndGetData && !columns_.empty();
        if (!bound_) {
            return;
        }
        rowBytes_ = 0;
        for (auto& column : columns_) {
            column.binding = BindingOf(column);
            column.elementBytes = BoundBytes(column.description, column.binding);
            rowBytes_ += static_cast<std::size_t>(column.elementBytes) + sizeof(SQLLEN);
        }
        SQLHSTMT handle = statement_.Handle();
        // Blocks only where the driver says how many rows each one holds.
        countsRows_ =
            SQL_SUCCEEDED(SQLSetStmtAttrW(handle, SQL_ATTR_ROWS_FETCHED_PTR, &rowsFetched_, 0));
        if (countsRows_ && connection_.Abilities().getDataInBlocks) {
            batchRows_ = connection_.DriverBatchRows();
            batchRowsLeft_ = batchRows_.value_or(0);
            capacityRows_ = BlockRows(rowBytes_, kBlockBytes, kMaxBlockRows, std::nullopt);
            SetBlockRows(BlockRows(rowBytes_, kBlockBytes, capacityRows_, batchRows_));
        }
        rowStatus_.assign(capacityRows_, SQL_ROW_NOROW);
        if (!SQL_SUCCEEDED(
                SQLSetStmtAttrW(handle, SQL_ATTR_ROW_STATUS_PTR, rowStatus_.data(), 0))) {
            rowStatus_.clear();
        }
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            ResultColumn& column = columns_[i];
            column.data.resize(capacityRows_ * static_cast<std::size_t>(column.elementBytes));
            column.indicators.assign(capacityRows_, 0);
            connection_.Check(
                SQLBindCol(handle, static_cast<SQLUSMALLINT>(i + 1), CType(column.binding),
                           column.data.data(), column.elementBytes, column.indicators.data()),
                SQL_HANDLE_STMT, handle, "opening table " + table_);
        }
    }

    void Advance() {
        if (rowKept_) {
            std::fill(values_.begin(), values_.end(), std::nullopt);
            std::fill(sizes_.begin(), sizes_.end(), std::nullopt);
            std::fill(reads_.begin(), reads_.end(), ColumnRead{});
            orderedValues_.clear();
            stream_.reset();
            streamColumn_.reset();
            rowKept_ = false;
        }
        positioned_ = false;
        if (bound_ && rowInBlock_ + 1 < rowsInBlock_) {
            ++rowInBlock_;
        } else if (!FetchBlock()) {
            eof_ = true;
            return;
        }
        if (!rowStatus_.empty() && rowStatus_[rowInBlock_] == SQL_ROW_ERROR) {
            eof_ = true;
            throw Failure(SQL_ERROR, blockDiagnostics_,
                          "reading row " + std::to_string(rowsRead_ + 1) + " of table " + table_);
        }
        ++rowsRead_;
        eof_ = false;
    }

    // Fetches the next block (the next row when not bound); false at the end.
    bool FetchBlock() {
        rowsFetched_ = 0;
        std::fill(rowStatus_.begin(), rowStatus_.end(), SQL_ROW_NOROW);
        const SQLRETURN rc = statement_.TryFetch();
        if (rc == SQL_NO_DATA) {
            return false;
        }
        if (!SQL_SUCCEEDED(rc)) {
            eof_ = true;
            const std::string first = std::to_string(rowsRead_ + 1);
            throw Failure(rc, blockRows_ > 1 ? "reading rows " + first + " to " +
                                                   std::to_string(rowsRead_ + blockRows_) +
                                                   " of table " + table_
                                             : "reading row " + first + " of table " + table_);
        }
        rowInBlock_ = 0;
        rowsInBlock_ = countsRows_ ? std::min<std::size_t>(rowsFetched_, blockRows_) : 1;
        if (batchRows_ && rowsInBlock_ > 0) {
            batchRowsLeft_ -= std::min(batchRowsLeft_, rowsInBlock_);
            if (batchRowsLeft_ == 0) {
                NextBatch();
            }
        }
        blockDiagnostics_.clear();
        if (std::find(rowStatus_.begin(), rowStatus_.end(), SQL_ROW_ERROR) != rowStatus_.end()) {
            // Kept now: reading the rows before it calls the driver again.
            blockDiagnostics_ = statement_.Diagnostics();
        }
        return rowsInBlock_ > 0;
    }

    // Asks for `rows` rows a block, as far as the driver grants.
    void SetBlockRows(std::size_t rows) {
        SQLHSTMT handle = statement_.Handle();
        if (!SQL_SUCCEEDED(SQLSetStmtAttrW(handle, SQL_ATTR_ROW_ARRAY_SIZE,
                                           reinterpret_cast<SQLPOINTER>(rows), 0))) {
            return;
        }
        SQLULEN granted = 1;
        SQLGetStmtAttrW(handle, SQL_ATTR_ROW_ARRAY_SIZE, &granted, sizeof granted, nullptr);
        blockRows_ = std::clamp<std::size_t>(granted, 1, rows);
    }

    // At the end of one of the driver's batches: where the batch size is the
    // backend's to choose, the next batches are sized after the rows of the
    // block just read (a truncated value counts whole: the driver gives its
    // length), and the blocks after them.
    void NextBatch() {
        std::size_t bytes = 0;
        for (const auto& column : columns_) {
            for (std::size_t row = 0; row < rowsInBlock_; ++row) {
                const SQLLEN indicator = column.indicators[row];
                bytes += indicator >= 0              ? static_cast<std::size_t>(indicator)
                         : indicator == SQL_NO_TOTAL ? static_cast<std::size_t>(column.elementBytes)
                                                     : 0;
            }
        }
        const auto rows = connection_.ResizeDriverBatches(bytes / rowsInBlock_ + 1);
        if (!rows) {
            batchRowsLeft_ = *batchRows_;
            return;
        }
        batchRows_ = rows;
        batchRowsLeft_ = *rows;
        const std::size_t block = BlockRows(rowBytes_, kBlockBytes, capacityRows_, *rows);
        if (block != blockRows_) {
            SetBlockRows(block);
        }
    }

    // True when the bound buffer holds the current row's whole value of
    // column `index`, or its Null.
    bool Whole(std::size_t index) const {
        const ResultColumn& column = columns_[index];
        const SQLLEN indicator = column.indicators[rowInBlock_];
        if (indicator == SQL_NULL_DATA) {
            return true;
        }
        if (indicator < 0) {
            return false;  // SQL_NO_TOTAL
        }
        switch (column.binding) {
            case Binding::Bytes:
                return indicator <= column.elementBytes;
            case Binding::Utf8:
                return indicator <= column.elementBytes &&
                       IsUtf8(std::string_view(Cell(index), static_cast<std::size_t>(indicator)));
            case Binding::Ascii: {
                if (indicator + 1 > column.elementBytes) {
                    return false;
                }
                const char* cell = Cell(index);
                return std::all_of(cell, cell + indicator,
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
            }
            case Binding::Wide:
                break;
        }
        return indicator + static_cast<SQLLEN>(sizeof(SQLWCHAR)) <= column.elementBytes;
    }

    // The current row's cell of column `index` in its bound buffer.
    const char* Cell(std::size_t index) const {
        const ResultColumn& column = columns_[index];
        return column.data.data() + rowInBlock_ * static_cast<std::size_t>(column.elementBytes);
    }

    Value BoundValue(std::size_t index) const {
        const ResultColumn& column = columns_[index];
        const SQLLEN indicator = column.indicators[rowInBlock_];
        if (indicator == SQL_NULL_DATA) {
            return Value();
        }
        const char* cell = Cell(index);
        const auto length = static_cast<std::size_t>(indicator);
        switch (column.binding) {
            case Binding::Bytes: {
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(cell);
                return Value(Bytes(bytes, bytes + length));
            }
            case Binding::Utf8:
            case Binding::Ascii:
                return ValueFromText(column.description.sqlType, std::string(cell, length));
            case Binding::Wide:
                break;
        }
        return ValueFromText(
            column.description.sqlType,
            Narrow(reinterpret_cast<const SQLWCHAR*>(cell), length / sizeof(SQLWCHAR)));
    }

    // True when a value of column `index` that the bound buffer does not
    // hold whole is read in pieces for FieldSize and GetChunk.
    bool Streams(std::size_t index) const {
        return bound_ && !values_[index] && columns_[index].streamable && !Whole(index);
    }

    // A new stream of column `index`'s value from its beginning. Drivers
    // differ in what starts a value over: the SQLite driver once it said
    // SQL_NO_DATA, the PostgreSQL driver on SQLSetPos. So a column read from
    // before is first read to its end, then the row is positioned on again
    // (as a row of a block always is before its first SQLGetData), and the
    // new first piece must be as long as the first one was. Any other value
    // being read in pieces ends.
    ValueStream& NewStream(std::size_t index) {
        stream_.reset();
        streamColumn_.reset();
        ColumnRead& read = reads_[index];
        const SQLSMALLINT cType = columns_[index].binary ? SQL_C_BINARY : SQL_C_WCHAR;
        std::optional<SQLLEN> expected;
        if (read.started) {
            if (!read.drained) {
                Drain(index);
            }
            if (read.cType == cType) {
                expected = read.firstIndicator;
            }
            positioned_ = false;
        }
        if (!positioned_ && (blockRows_ > 1 || read.started)) {
            statement_.Position(
                static_cast<SQLSETPOSIROW>(rowInBlock_ + 1),
                "reading row " + std::to_string(rowsRead_) + " of table " + table_ + " again");
        }
        positioned_ = true;
        read = ColumnRead{true, false, cType, std::nullopt};
        stream_ =
            std::make_unique<ValueStream>(statement_, static_cast<SQLUSMALLINT>(index + 1), read);
        streamColumn_ = index;
        const SQLLEN first = stream_->Start(RowContext());
        if (expected && *expected != first) {
            throw DbError(-1,
                          RowContext() + ": the driver cannot read the value of column " +
                              columns_[index].description.name + " again.",
                          connection_.Source());
        }
        return *stream_;
    }

    // Reads column `index` on to SQL_NO_DATA, dropping what comes.
    void Drain(std::size_t index) {
        ColumnRead& read = reads_[index];
        std::vector<SQLWCHAR> sink(kPieceBytes / sizeof(SQLWCHAR));
        bool lastPiece = false;
        for (;;) {
            SQLLEN indicator = 0;
            const SQLRETURN rc = statement_.GetPiece(
                static_cast<SQLUSMALLINT>(index + 1), read.cType, sink.data(),
                static_cast<SQLLEN>(sink.size() * sizeof(SQLWCHAR)), indicator, RowContext());
            // A driver that gives the last piece again never says
            // SQL_NO_DATA: stop there.
            if (rc == SQL_NO_DATA || (rc == SQL_SUCCESS && lastPiece)) {
                break;
            }
            lastPiece = rc == SQL_SUCCESS;
        }
        read.drained = true;
    }

    // The whole value of column `index`, read with SQLGetData.
    Value ReadWhole(std::size_t index) {
        ValueStream& stream = NewStream(index);
        const std::string context = RowContext();
        if (stream.IsNull(context)) {
            return Value();
        }
        std::string all = stream.ReadAll(context);
        if (columns_[index].binary) {
            return Value(Bytes(all.begin(), all.end()));
        }
        return ValueFromText(columns_[index].description.sqlType, std::move(all));
    }

    // Without bound columns, the value of column `index` read with
    // SQLGetData in one go.
    Value ReadWithGetData(std::size_t index) {
        const auto column = static_cast<SQLUSMALLINT>(index + 1);
        const std::string context = RowContext();
        if (columns_[index].binary) {
            auto bytes = statement_.GetBytes(column, context);
            return bytes ? Value(std::move(*bytes)) : Value();
        }
        auto text = statement_.GetText(column, context);
        return text ? ValueFromText(columns_[index].description.sqlType, std::move(*text))
                    : Value();
    }

    // Without bound columns: every column up to `index` is read in column
    // order, as drivers that allow nothing more require, and kept.
    const Value& ValueInColumnOrder(std::size_t index) {
        while (orderedValues_.size() <= index) {
            orderedValues_.push_back(ReadWithGetData(orderedValues_.size()));
        }
        return orderedValues_[index];
    }

    // The stream of column `index`'s value that can give the bytes from
    // `offset` (from wherever it is when nullopt): the one being read, or a
    // new one from the value's beginning.
    ValueStream& StreamOf(std::size_t index, std::optional<std::int64_t> offset) {
        if (stream_ && streamColumn_ == index && (!offset || *offset >= stream_->HeldFrom())) {
            return *stream_;
        }
        return NewStream(index);
    }

    DbError Failure(SQLRETURN rc, const std::string& doing) {
        return Failure(rc, statement_.Diagnostics(), doing);
    }

    // The error for a failed execute or fetch. A lost connection says how far
    // the table was read, so that a partial read is never taken for a
    // complete one.
    DbError Failure(SQLRETURN rc, const std::vector<Diagnostic>& records,
                    const std::string& doing) {
        connection_.RecoverAfterFailure();
        if (IsConnectionFailure(records)) {
            return connection_.DescribeFailure(
                "connection lost after " + std::to_string(rowsRead_) + " rows of table " + table_,
                records);
        }
        return connection_.MakeError(rc, records, doing);
    }

    Connection& connection_;  // Not owned.
    // The bound buffers come before the statement, which is freed first.
    std::vector<ResultColumn> columns_;
    std::vector<SQLUSMALLINT> rowStatus_;
    SQLULEN rowsFetched_ = 0;
    Statement statement_;
    std::string table_;
    std::vector<std::unique_ptr<OwnedField<OdbcRecordset>>> fields_;
    bool bound_ = false;
    bool countsRows_ = false;       // the driver reports the rows of each block
    std::size_t rowBytes_ = 0;      // bound buffers of one row
    std::size_t capacityRows_ = 1;  // rows the buffers hold
    std::size_t blockRows_ = 1;     // rows each fetch asks for
    std::size_t rowsInBlock_ = 0;
    // The driver's batches (rows it reads from the server at a time), and
    // what is left of the current one; nullopt when it reads whole results.
    std::optional<std::size_t> batchRows_;
    std::size_t batchRowsLeft_ = 0;
    std::size_t rowInBlock_ = 0;
    std::vector<Diagnostic> blockDiagnostics_;
    // The current row, and whether anything of it is kept below.
    bool rowKept_ = false;
    std::vector<std::optional<Value>> values_;
    std::vector<Value> orderedValues_;
    std::vector<std::optional<std::int64_t>> sizes_;
    std::vector<ColumnRead> reads_;
    bool positioned_ = false;
    std::string scratch_;  // a value's UTF-8 on its way to an encoding
    std::unique_ptr<ValueStream> stream_;
    std::optional<std::size_t> streamColumn_;
    std::int64_t rowsRead_ = 0;
    bool eof_ = true;
    bool closed_ = false;
};

}  // namespace

std::size_t BlockRows(std::size_t rowBytes, std::size_t blockBytes, std::size_t maxRows,
                      std::optional<std::size_t> driverBatchRows) {
    std::size_t rows = std::clamp<std::size_t>(blockBytes / std::max<std::size_t>(rowBytes, 1), 1,
                                               std::max<std::size_t>(maxRows, 1));
    if (!driverBatchRows || *driverBatchRows == 0) {
        return rows;
    }
    rows = std::min(rows, *driverBatchRows);
    std::size_t divisor = rows;
    while (*driverBatchRows % divisor != 0) {
        --divisor;
    }
    // A batch with no divisor near: blocks as large as fit all the same.
    return divisor * 4 >= rows ? divisor : rows;
}

std::vector<ResultShape> DescribeResult(Connection& connection, Statement& statement) {
    std::vector<ResultShape> shapes;
    const SQLSMALLINT count = statement.ColumnCount();
    for (SQLUSMALLINT column = 1; column <= count; ++column) {
        ResultShape shape;
        shape.description = statement.Describe(column);
        shape.typeName = statement.TypeName(column);
        const ResultColumnType type =
            ResultColumnTypeOf(connection.Kind(), shape.description.sqlType, shape.typeName);
        shape.description.sqlType = type.sqlType;
        shape.daoType = type.daoType;
        shape.sourceField = statement.BaseColumnName(column);
        if (shape.sourceField.empty()) {
            shape.sourceField = shape.description.name;
        }
        shapes.push_back(std::move(shape));
    }
    return shapes;
}

std::unique_ptr<Recordset> OpenOdbcRecordset(Connection& connection, std::string table,
                                             const std::string& sql,
                                             const std::vector<Parameter>& parameters) {
    return std::make_unique<OdbcRecordset>(connection, std::move(table), sql, parameters);
}

}  // namespace kesmark::odbc
