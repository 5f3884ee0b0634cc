#include "engine/backends/sqlite/sqlite_database.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

#include "engine/backends/sqlite/sqlite_checksums.h"
#include "engine/backends/sqlite/sqlite_handles.h"
#include "engine/backends/sqlite/sqlite_schema.h"
#include "engine/backends/sqlite/sqlite_scratch.h"
#include "engine/backends/sqlite/sqlite_snapshot.h"
#include "engine/model/object_tree.h"
#include "engine/model/range_sql.h"
#include "engine/model/value_codec.h"
#include "engine/model/vocabulary.h"

namespace kesmark::sqlite {

namespace {

std::int64_t PragmaInt(sqlite3* db, std::string_view pragma) {
    auto stmt = Prepare(db, "PRAGMA " + std::string(pragma));
    return Step(stmt.get()) ? sqlite3_column_int64(stmt.get(), 0) : 0;
}

std::string PragmaText(sqlite3* db, std::string_view pragma) {
    auto stmt = Prepare(db, "PRAGMA " + std::string(pragma));
    return Step(stmt.get()) ? ColumnText(stmt.get(), 0) : std::string();
}

std::uint32_t BigEndian32(const std::array<unsigned char, 100>& h, std::size_t at) {
    return (std::uint32_t{h[at]} << 24) | (std::uint32_t{h[at + 1]} << 16) |
           (std::uint32_t{h[at + 2]} << 8) | std::uint32_t{h[at + 3]};
}

std::string VersionText(std::uint32_t number) {
    return std::to_string(number / 1000000) + "." + std::to_string(number / 1000 % 1000) + "." +
           std::to_string(number % 1000);
}

Value ColumnValue(sqlite3_stmt* stmt, int i) {
    switch (sqlite3_column_type(stmt, i)) {
        case SQLITE_INTEGER:
            return Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt, i)));
        case SQLITE_FLOAT:
            return Value(sqlite3_column_double(stmt, i));
        case SQLITE_TEXT:
            return Value(ColumnText(stmt, i));
        case SQLITE_BLOB: {
            const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt, i));
            return Value(Bytes(data, data + sqlite3_column_bytes(stmt, i)));
        }
        default:
            return Value();
    }
}

// Binds a key value as the storage class SQLite keeps it in.
void BindValue(sqlite3_stmt* stmt, int index, const Value& value) {
    struct Visitor {
        sqlite3_stmt* stmt;
        int index;
        int operator()(const Null&) const { return sqlite3_bind_null(stmt, index); }
        int operator()(bool b) const { return sqlite3_bind_int64(stmt, index, b ? 1 : 0); }
        int operator()(std::int64_t i) const { return sqlite3_bind_int64(stmt, index, i); }
        int operator()(double d) const { return sqlite3_bind_double(stmt, index, d); }
        int operator()(const Currency& c) const {
            return sqlite3_bind_double(stmt, index, static_cast<double>(c.scaled) / 10000.0);
        }
        int operator()(const Decimal& d) const { return Text(d.text); }
        int operator()(const std::string& s) const { return Text(s); }
        int operator()(const DateTime& d) const { return Text(FormatDateTime(d)); }
        int operator()(const Bytes& b) const {
            return sqlite3_bind_blob64(stmt, index, b.data(), b.size(), SQLITE_TRANSIENT);
        }
        int Text(const std::string& s) const {
            return sqlite3_bind_text64(stmt, index, s.data(), s.size(), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
        }
    };
    Check(std::visit(Visitor{stmt, index}, value.Get()), sqlite3_db_handle(stmt));
}

// One value of the current row, as AppendEncodedRow reads it.
struct CellValue {
    sqlite3_value* value = nullptr;  // Not owned: valid while the row is current.
    int type = SQLITE_NULL;
    const void* data = nullptr;  // text or blob bytes
    std::size_t size = 0;
};

// The bytes the encoding of a value of `type` (and `size` bytes of text or
// blob) takes (value_codec.h).
std::size_t EncodedSize(int type, std::size_t size) {
    switch (type) {
        case SQLITE_INTEGER:
        case SQLITE_FLOAT:
            return 1 + 8;
        case SQLITE_TEXT:
        case SQLITE_BLOB:
            return 1 + 4 + size;
        default:
            return 1;
    }
}

// Writes the encoding of `cell` at `p`; returns the end of what it wrote.
char* EncodeCell(const CellValue& cell, char* p) {
    switch (cell.type) {
        case SQLITE_INTEGER: {
            const std::int64_t v = sqlite3_value_int64(cell.value);
            *p = value_tags::kInteger;
            std::memcpy(p + 1, &v, sizeof v);
            return p + 1 + sizeof v;
        }
        case SQLITE_FLOAT: {
            const double v = sqlite3_value_double(cell.value);
            *p = value_tags::kDouble;
            std::memcpy(p + 1, &v, sizeof v);
            return p + 1 + sizeof v;
        }
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
            *p = cell.type == SQLITE_TEXT ? value_tags::kText : value_tags::kBytes;
            const auto length = static_cast<std::uint32_t>(cell.size);
            std::memcpy(p + 1, &length, sizeof length);
            if (cell.size > 0) {
                std::memcpy(p + 1 + sizeof length, cell.data, cell.size);
            }
            return p + 1 + sizeof length + cell.size;
        }
        default:
            *p = value_tags::kNull;
            return p + 1;
    }
}

class SqliteRecordset;

class SqliteField : public RecordsetField {
  public:
    SqliteField(SqliteRecordset& owner, std::size_t index) : owner_(owner), index_(index) {}

    std::string Name() override;
    int Type() override;
    Value GetValue() override;
    void AppendEncodedValue(std::string& out) override;
    std::int64_t FieldSize() override;
    Bytes GetChunk(std::int64_t offset, std::size_t count) override;
    Value Beginning(std::size_t count) override;
    std::string SourceTable() override;
    std::string SourceField() override;
    Properties GetProperties() override;

  private:
    SqliteRecordset& owner_;  // Not owned.
    std::size_t index_;
};

// One value of a record read field by field (see SqliteRecordset): held, or,
// for a text or blob longer than kLongValuePiece, its size and an open
// handle to read it in pieces.
struct HeldValue {
    Value value;
    std::int64_t size = 0;
    BlobHandle pieces;
};

// How a recordset reads long values in pieces; the statements it runs.
struct PiecesPlan {
    // How the scan goes on after a record read field by field: after its
    // rowid (the scan is in rowid order), or after as many records as were
    // read (any order). None: values are loaded whole (no rowid to read
    // them by: a table without rowid, a view, text in UTF-16).
    enum class Resume { None, AfterRowid, Offset } resume = Resume::None;
    std::string rowid;                   // a name of the rowid that no column hides
    std::string table;                   // quoted, with its schema
    std::string condition;               // the recordset's own condition, "" for none
    std::vector<Value> conditionValues;  // bound to ?1... of `condition`
    std::string order;                   // " ORDER BY ..." or ""
};

// The rows of one statement over one table, in the statement's order.
//
// In pieces mode the statement reads the rowid first and may not load a
// text or blob longer than kLongValuePiece: SQLite stops at a record holding
// one (SQLITE_TOOBIG). That record is read again field by field, long
// values through incremental blob I/O, and the scan goes on after it. So no
// value is ever held whole.
class SqliteRecordset : public Recordset {
  public:
    // `select` is the statement of a plain scan (plan.resume None); `file`
    // names the database in errors.
    SqliteRecordset(sqlite3* db, std::string table, std::vector<std::string> fields,
                    const std::string& select, PiecesPlan plan, std::string file)
        : db_(db),
          table_(std::move(table)),
          names_(std::move(fields)),
          plan_(std::move(plan)),
          file_(std::move(file)) {
        if (plan_.resume == PiecesPlan::Resume::None) {
            main_ = Prepare(db_, select);
            BindCondition(main_.get());
        } else {
            PrepareInPieces();
        }
        for (std::size_t i = 0; i < names_.size(); ++i) {
            fields_.push_back(std::make_unique<SqliteField>(*this, i));
        }
        current_ = main_.get();
        StepToNextRow();
    }

    bool IsEof() override { return eof_; }
    void MoveNext() override {
        CheckRow();
        if (!held_.empty()) {
            held_.clear();
            sqlite3_reset(resume_.get());
            BindAfter(resume_.get());
            current_ = resume_.get();
        }
        StepToNextRow();
    }
    void Move(std::int64_t rows) override {
        for (std::int64_t i = 0; i < rows && !eof_; ++i) {
            MoveNext();
        }
    }
    void Close() override {
        held_.clear();
        main_.reset();
        resume_.reset();
        firstHeld_.reset();
        nextHeld_.reset();
        current_ = nullptr;
        eof_ = true;
    }
    std::size_t FieldCount() override { return fields_.size(); }
    RecordsetField& Field(std::size_t index) override {
        if (index >= fields_.size()) {
            throw DbError(errors::kItemNotFound, "Item not found in this collection.", kSource);
        }
        return *fields_[index];
    }

    bool AppendEncodedRow(std::string& out, std::vector<std::uint32_t>& ends,
                          std::int64_t longValueLimit) override {
        sqlite3_stmt* stmt = Statement();
        if (stmt == nullptr) {
            return false;  // a record with a value too long to load
        }
        const std::size_t count = fields_.size();
        values_.resize(count);
        // First the size of the whole row, then one resize and the values
        // written in place: a million-row scan feels every call per value.
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i) {
            sqlite3_value* value = sqlite3_column_value(stmt, Column(i));
            const int type = sqlite3_value_type(value);
            std::size_t size = 0;
            const void* data = nullptr;
            if (type == SQLITE_TEXT) {
                data = sqlite3_value_text(value);
                size = static_cast<std::size_t>(sqlite3_value_bytes(value));
            } else if (type == SQLITE_BLOB) {
                data = sqlite3_value_blob(value);
                size = static_cast<std::size_t>(sqlite3_value_bytes(value));
            }
            if (static_cast<std::int64_t>(size) > longValueLimit) {
                return false;
            }
            values_[i] = {value, type, data, size};
            bytes += EncodedSize(type, size);
        }
        std::size_t at = out.size();
        out.resize(at + bytes);
        char* p = out.data();
        for (std::size_t i = 0; i < count; ++i) {
            at = EncodeCell(values_[i], p + at) - p;
            ends.push_back(static_cast<std::uint32_t>(at));
        }
        return true;
    }

    // The statement's column of field `index`.
    int Column(std::size_t index) const {
        return static_cast<int>(index) + (plan_.resume == PiecesPlan::Resume::None ? 0 : 1);
    }
    // The statement on the current record, or nullptr when the record was
    // read field by field (HeldAt then has its values).
    sqlite3_stmt* Statement() {
        CheckRow();
        return held_.empty() ? current_ : nullptr;
    }
    HeldValue& HeldAt(std::size_t index) { return held_.at(index); }
    sqlite3_stmt* StatementForMetadata() {
        if (!main_) {
            throw DbError(errors::kNoCurrentRecord, "The recordset is closed.", kSource);
        }
        return main_.get();
    }
    const std::string& Table() const { return table_; }

  private:
    void CheckRow() const {
        if (eof_ || !current_) {
            throw DbError(errors::kNoCurrentRecord, "No current record.", kSource);
        }
    }

    void PrepareInPieces() {
        const std::string rowid = QuoteIdentifier(plan_.rowid);
        std::string columns = rowid;
        std::string kinds = rowid;
        for (const auto& name : names_) {
            const std::string q = QuoteIdentifier(name);
            columns += ", " + q;
            kinds += ", typeof(" + q + "), CASE WHEN typeof(" + q +
                     ") IN ('integer', 'real') THEN " + q + " END";
        }
        const std::string after = "?" + std::to_string(plan_.conditionValues.size() + 1);
        const std::string own = plan_.condition.empty() ? "" : "(" + plan_.condition + ")";
        auto where = [&](const std::string& extra) {
            const std::string both = own.empty()     ? extra
                                     : extra.empty() ? own
                                                     : own + " AND " + extra;
            return both.empty() ? std::string() : " WHERE " + both;
        };
        const std::string from = " FROM " + plan_.table;
        main_ = Prepare(db_, "SELECT " + columns + from + where("") + plan_.order);
        if (plan_.resume == PiecesPlan::Resume::AfterRowid) {
            const std::string later = rowid + " > " + after;
            resume_ = Prepare(db_, "SELECT " + columns + from + where(later) + plan_.order);
            firstHeld_ = Prepare(
                db_, "SELECT " + kinds + from + where("") + " ORDER BY " + rowid + " LIMIT 1");
            nextHeld_ = Prepare(
                db_, "SELECT " + kinds + from + where(later) + " ORDER BY " + rowid + " LIMIT 1");
        } else {
            resume_ = Prepare(db_, "SELECT " + columns + from + where("") + plan_.order +
                                       " LIMIT -1 OFFSET " + after);
            nextHeld_ = Prepare(db_, "SELECT " + kinds + from + where("") + plan_.order +
                                         " LIMIT 1 OFFSET " + after);
        }
        BindCondition(main_.get());
    }

    void BindCondition(sqlite3_stmt* stmt) {
        for (std::size_t i = 0; i < plan_.conditionValues.size(); ++i) {
            BindValue(stmt, static_cast<int>(i + 1), plan_.conditionValues[i]);
        }
    }
    // Binds what a statement that goes on needs: the condition's values and
    // where the records read so far end.
    void BindAfter(sqlite3_stmt* stmt) {
        BindCondition(stmt);
        const int at = static_cast<int>(plan_.conditionValues.size() + 1);
        Check(sqlite3_bind_int64(
                  stmt, at,
                  plan_.resume == PiecesPlan::Resume::AfterRowid ? lastRowid_ : recordsRead_),
              db_);
    }

    void StepToNextRow() {
        try {
            StepCurrent();
        } catch (const DbError& e) {
            eof_ = true;
            throw ReadingError(e, file_, "table '" + table_ + "'");
        }
    }

    // Steps the current statement to the next record; in pieces mode a
    // record with a value too long to load is read field by field instead.
    void StepCurrent() {
        if (plan_.resume == PiecesPlan::Resume::None) {
            eof_ = !Step(current_);
            return;
        }
        const int limit =
            sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, static_cast<int>(kLongValuePiece));
        const int rc = sqlite3_step(current_);
        sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, limit);
        if (rc == SQLITE_ROW) {
            lastRowid_ = sqlite3_column_int64(current_, 0);
            ++recordsRead_;
            eof_ = false;
            return;
        }
        sqlite3_reset(current_);
        if (rc != SQLITE_TOOBIG) {
            eof_ = true;
            Check(rc, db_);
            return;
        }
        ReadHeldRecord();
    }

    // Reads the next record field by field.
    void ReadHeldRecord() {
        sqlite3_stmt* kinds = nextHeld_.get();
        if (plan_.resume == PiecesPlan::Resume::AfterRowid && recordsRead_ == 0) {
            kinds = firstHeld_.get();
        }
        sqlite3_reset(kinds);
        if (kinds == firstHeld_.get()) {
            BindCondition(kinds);
        } else {
            BindAfter(kinds);
        }
        const int limit =
            sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, static_cast<int>(kLongValuePiece));
        bool found = false;
        try {
            found = Step(kinds);
        } catch (...) {
            sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, limit);
            throw;
        }
        sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, limit);
        if (!found) {
            eof_ = true;
            return;
        }
        const std::int64_t rowid = sqlite3_column_int64(kinds, 0);
        std::vector<HeldValue> held(names_.size());
        for (std::size_t i = 0; i < names_.size(); ++i) {
            const std::string type = ColumnText(kinds, static_cast<int>(1 + 2 * i));
            HeldValue& cell = held[i];
            if (type == "integer" || type == "real") {
                cell.value = ColumnValue(kinds, static_cast<int>(2 + 2 * i));
                continue;  // a number has no length of its own
            }
            if (type != "text" && type != "blob") {
                continue;  // Null
            }
            sqlite3_blob* raw = nullptr;
            Check(sqlite3_blob_open(db_, "main", table_.c_str(), names_[i].c_str(), rowid, 0, &raw),
                  db_);
            BlobHandle blob(raw);
            cell.size = sqlite3_blob_bytes(raw);
            if (cell.size > static_cast<std::int64_t>(kLongValuePiece)) {
                cell.value = type == "text" ? Value(std::string()) : Value(Bytes());
                cell.pieces = std::move(blob);
                continue;
            }
            Bytes bytes(static_cast<std::size_t>(cell.size));
            Check(sqlite3_blob_read(raw, bytes.data(), static_cast<int>(bytes.size()), 0), db_);
            cell.value = type == "text" ? Value(std::string(bytes.begin(), bytes.end()))
                                        : Value(std::move(bytes));
        }
        sqlite3_reset(kinds);
        held_ = std::move(held);
        lastRowid_ = rowid;
        ++recordsRead_;
        eof_ = false;
    }

    sqlite3* db_;  // Not owned.
    std::string table_;
    std::vector<std::string> names_;
    PiecesPlan plan_;
    std::string file_;
    StatementHandle main_;
    StatementHandle resume_;           // the scan after a record read field by field
    StatementHandle firstHeld_;        // the kinds of the first record's values
    StatementHandle nextHeld_;         // the kinds of the values of the next record
    sqlite3_stmt* current_ = nullptr;  // main_ or resume_
    std::vector<HeldValue> held_;      // the current record, when read field by field
    std::int64_t lastRowid_ = 0;
    std::int64_t recordsRead_ = 0;
    bool eof_ = true;
    std::vector<std::unique_ptr<SqliteField>> fields_;
    std::vector<CellValue> values_;  // the current row's values while it is encoded
};

Bytes ReadPiece(sqlite3_blob* blob, std::int64_t size, std::int64_t offset, std::size_t count) {
    if (offset < 0 || offset >= size) {
        return {};
    }
    Bytes piece(static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(count), size - offset)));
    const int rc = sqlite3_blob_read(blob, piece.data(), static_cast<int>(piece.size()),
                                     static_cast<int>(offset));
    if (rc != SQLITE_OK) {
        throw DbError(rc, sqlite3_errstr(rc), kSource);
    }
    return piece;
}

std::string SqliteField::Name() {
    return sqlite3_column_name(owner_.StatementForMetadata(), owner_.Column(index_));
}

int SqliteField::Type() {
    const char* declared =
        sqlite3_column_decltype(owner_.StatementForMetadata(), owner_.Column(index_));
    return vocabulary::DaoTypeFromDeclaredType(declared ? declared : "");
}

Value SqliteField::GetValue() {
    if (sqlite3_stmt* stmt = owner_.Statement()) {
        return ColumnValue(stmt, owner_.Column(index_));
    }
    HeldValue& held = owner_.HeldAt(index_);
    if (!held.pieces) {
        return held.value;
    }
    // Whole, as asked: only callers that do not read long values in pieces.
    Bytes whole = ReadPiece(held.pieces.get(), held.size, 0, static_cast<std::size_t>(held.size));
    return held.value.IsText() ? Value(std::string(whole.begin(), whole.end()))
                               : Value(std::move(whole));
}

void SqliteField::AppendEncodedValue(std::string& out) {
    sqlite3_stmt* stmt = owner_.Statement();
    if (!stmt) {
        EncodeValue(GetValue(), out);
        return;
    }
    // One unprotected value per cell: the value_* calls skip the per-call
    // bookkeeping of the column_* ones, which counts in a million-row scan.
    sqlite3_value* value = sqlite3_column_value(stmt, owner_.Column(index_));
    switch (sqlite3_value_type(value)) {
        case SQLITE_INTEGER:
            EncodeInteger(sqlite3_value_int64(value), out);
            return;
        case SQLITE_FLOAT:
            EncodeDouble(sqlite3_value_double(value), out);
            return;
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
            const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
            EncodeBytes(value_tags::kText, std::string_view(text, size), out);
            return;
        }
        case SQLITE_BLOB: {
            const auto* data = static_cast<const char*>(sqlite3_value_blob(value));
            const auto size = static_cast<std::size_t>(sqlite3_value_bytes(value));
            EncodeBytes(value_tags::kBytes, std::string_view(data, size), out);
            return;
        }
        default:
            out.push_back(value_tags::kNull);
    }
}

std::int64_t SqliteField::FieldSize() {
    // The length of a text or binary value; numbers have none, as on every
    // backend (asking SQLite for the bytes of a number would make it text).
    sqlite3_stmt* stmt = owner_.Statement();
    if (!stmt) {
        return owner_.HeldAt(index_).size;
    }
    const int column = owner_.Column(index_);
    const int type = sqlite3_column_type(stmt, column);
    if (type != SQLITE_TEXT && type != SQLITE_BLOB) {
        return 0;
    }
    return sqlite3_column_bytes(stmt, column);
}

Bytes SqliteField::GetChunk(std::int64_t offset, std::size_t count) {
    sqlite3_stmt* stmt = owner_.Statement();
    if (!stmt) {
        HeldValue& held = owner_.HeldAt(index_);
        if (held.pieces) {
            return ReadPiece(held.pieces.get(), held.size, offset, count);
        }
        std::string_view bytes;
        if (const auto* text = held.value.As<std::string>()) {
            bytes = *text;
        } else if (const auto* blob = held.value.As<Bytes>()) {
            bytes = std::string_view(reinterpret_cast<const char*>(blob->data()), blob->size());
        }
        if (offset < 0 || static_cast<std::size_t>(offset) >= bytes.size()) {
            return {};
        }
        const auto piece = bytes.substr(static_cast<std::size_t>(offset), count);
        return Bytes(piece.begin(), piece.end());
    }
    const int column = owner_.Column(index_);
    const void* data = sqlite3_column_type(stmt, column) == SQLITE_BLOB
                           ? sqlite3_column_blob(stmt, column)
                           : static_cast<const void*>(sqlite3_column_text(stmt, column));
    const auto size = static_cast<std::int64_t>(sqlite3_column_bytes(stmt, column));
    if (!data || offset < 0 || offset >= size) {
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data) + offset;
    return Bytes(bytes,
                 bytes + std::min<std::int64_t>(static_cast<std::int64_t>(count), size - offset));
}

Value SqliteField::Beginning(std::size_t count) {
    Bytes first = GetChunk(0, count);
    sqlite3_stmt* stmt = owner_.Statement();
    const bool text = stmt ? sqlite3_column_type(stmt, owner_.Column(index_)) == SQLITE_TEXT
                           : owner_.HeldAt(index_).value.IsText();
    return text ? Value(std::string(first.begin(), first.end())) : Value(std::move(first));
}

std::string SqliteField::SourceTable() {
    const char* table =
        sqlite3_column_table_name(owner_.StatementForMetadata(), owner_.Column(index_));
    return table ? table : owner_.Table();
}

std::string SqliteField::SourceField() {
    const char* origin =
        sqlite3_column_origin_name(owner_.StatementForMetadata(), owner_.Column(index_));
    return origin ? origin : Name();
}

Properties SqliteField::GetProperties() {
    Properties p = RecordsetField::GetProperties();
    const char* declared =
        sqlite3_column_decltype(owner_.StatementForMetadata(), owner_.Column(index_));
    p.Add("DeclaredType", dao::kText, declared ? Value(declared) : Value());
    return p;
}

class SqliteDatabase : public TreeDatabase {
  public:
    SqliteDatabase(std::string name, std::shared_ptr<ReadConnection> connection)
        : TreeDatabase(std::move(name), kSource), connection_(std::move(connection)) {
        RegisterRowChecksum(connection_->Handle());
        Root().properties = ReadDatabaseProperties(connection_->Header());
        schema_ = std::make_shared<SchemaReader>(connection_->Handle(), true);
        BuildSchema(schema_, Root(), DatabaseName());
    }
    ~SqliteDatabase() override { Close(); }

    std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                             const std::vector<std::string>& fields) override {
        CheckOpen();
        try {
            schema_->UseWholeSchema();
            PiecesPlan plan = Plan(std::string(table));
            plan.table += " NOT INDEXED";  // the table's own order: rowid order
            return std::make_unique<SqliteRecordset>(connection_->Handle(), std::string(table),
                                                     fields, RecordsetStatement(table, fields),
                                                     std::move(plan), DatabaseName());
        } catch (const DbError& e) {
            throw ReadingError(e, DatabaseName(), "table '" + std::string(table) + "'");
        }
    }
    std::string RecordsetStatement(std::string_view table,
                                   const std::vector<std::string>& fields) override {
        // NOT INDEXED: scan the table itself, never a covering index, so that
        // the row order is the same whichever fields are read.
        return SelectStatement(fields, table, QuoteIdentifier) + " NOT INDEXED";
    }
    std::unique_ptr<Database> OpenAgain() override {
        CheckOpen();
        return std::make_unique<SqliteDatabase>(DatabaseName(), connection_);
    }
    std::unique_ptr<Recordset> OpenOrderedRecordset(
        std::string_view table, const std::vector<std::string>& fields,
        const std::vector<std::string>& keyFields) override {
        CheckOpen();
        // SQLite orders its storage classes as CompareKeyValues does (Null,
        // numbers by value, text, blobs); BINARY makes text compare by its
        // bytes whatever collation the column declares. The primary key's
        // index serves the order where its collation is BINARY.
        std::string order = " ORDER BY ";
        for (std::size_t i = 0; i < keyFields.size(); ++i) {
            order += (i ? ", " : "") + QuoteIdentifier(keyFields[i]) + " COLLATE BINARY";
        }
        schema_->UseWholeSchema();
        PiecesPlan plan = Plan(std::string(table));
        // In rowid order when the key is the rowid itself; else a scan that
        // goes on after a long record skips the records read.
        const TableShape& shape = schema_->Shape(std::string(table));
        const bool rowidOrder =
            keyFields.size() == 1 && shape.rowidColumn >= 0 &&
            shape.columns[static_cast<std::size_t>(shape.rowidColumn)].name == keyFields[0];
        if (plan.resume != PiecesPlan::Resume::None && !rowidOrder) {
            plan.resume = PiecesPlan::Resume::Offset;
        }
        plan.order = order;
        return std::make_unique<SqliteRecordset>(
            connection_->Handle(), std::string(table), fields,
            SelectStatement(fields, table, QuoteIdentifier) + order, std::move(plan),
            DatabaseName());
    }
    std::unique_ptr<Recordset> OpenKeyedRecordset(std::string_view table,
                                                  const std::vector<std::string>& fields,
                                                  const std::vector<std::string>& keyFields,
                                                  const std::vector<Value>& keyValues) override {
        CheckOpen();
        if (keyFields.size() != keyValues.size()) {
            throw DbError(errors::kTypeMismatch, "A key needs one value per key field.", kSource);
        }
        // The first term lets an index of the column's own collation find the
        // row; the second keeps only the row whose key is equal byte for byte.
        std::string condition;
        for (std::size_t i = 0; i < keyFields.size(); ++i) {
            const std::string column = QuoteIdentifier(keyFields[i]);
            const std::string parameter = "?" + std::to_string(i + 1);
            condition += (i ? " AND " : "") + column + " = " + parameter + " AND " + column +
                         " = " + parameter + " COLLATE BINARY";
        }
        schema_->UseWholeSchema();
        PiecesPlan plan = Plan(std::string(table));
        if (plan.resume != PiecesPlan::Resume::None) {
            plan.resume = PiecesPlan::Resume::Offset;
        }
        plan.condition = condition;
        plan.conditionValues = keyValues;
        plan.order.clear();
        return std::make_unique<SqliteRecordset>(
            connection_->Handle(), std::string(table), fields,
            SelectStatement(fields, table, QuoteIdentifier) + " WHERE " + condition,
            std::move(plan), DatabaseName());
    }
    std::optional<std::vector<ChecksumForm>> ChecksumForms(
        std::string_view table, const std::vector<std::string>& fields) override {
        CheckOpen();
        auto columns = GetCollection(collections::kTableDefs)
                           ->Item(table)
                           ->GetCollection(collections::kFields);
        std::vector<ChecksumForm> forms;
        for (const auto& name : fields) {
            const Value type = columns->Item(name)->GetProperties().Item("Type").GetValue();
            const auto* code = type.As<std::int64_t>();
            forms.push_back("sqlite:" + ClassOfType(code ? static_cast<int>(*code) : 0));
        }
        return forms;
    }
    std::vector<std::vector<Value>> KeyBoundaries(std::string_view table,
                                                  const std::vector<std::string>& keyFields,
                                                  const KeyRange& range, std::int64_t parts,
                                                  std::optional<std::int64_t> rows) override {
        CheckOpen();
        const RangeSql key = KeySql(keyFields);
        std::vector<KeyParameter> parameters;
        std::string where = key.KeyNotNull();
        if (const std::string inRange = key.RangePredicate(range, parameters); !inRange.empty()) {
            where += " AND " + inRange;
        }
        std::string columns;
        for (std::size_t i = 0; i < keyFields.size(); ++i) {
            columns += (i ? ", " : "") + QuoteIdentifier(keyFields[i]);
        }
        // The place of every boundary: from the rows given, or counted.
        const std::string every = rows ? "?" : "((kesmark_rows + ? - 1) / ?)";
        const std::string sql =
            "SELECT " + columns + " FROM (SELECT " + columns + ", row_number() OVER (ORDER BY " +
            key.OrderBy() + ") AS kesmark_row" +
            (rows ? "" : ", count(*) OVER () AS kesmark_rows") + " FROM " + QuoteIdentifier(table) +
            " WHERE " + where + ") WHERE kesmark_row % " + every + " = 0 ORDER BY kesmark_row";
        auto stmt = PrepareReading(table, sql);
        int index = 1;
        for (const auto& p : parameters) {
            BindValue(stmt.get(), index++, p.value);
        }
        if (rows) {
            Check(sqlite3_bind_int64(stmt.get(), index++, BoundaryEvery(*rows, parts)),
                  connection_->Handle());
        } else {
            for (int i = 0; i < 2; ++i) {
                Check(sqlite3_bind_int64(stmt.get(), index++, std::max<std::int64_t>(parts, 1)),
                      connection_->Handle());
            }
        }
        std::vector<std::vector<Value>> keys;
        while (StepReading(table, stmt.get())) {
            std::vector<Value> k;
            for (int i = 0; i < static_cast<int>(keyFields.size()); ++i) {
                k.push_back(ColumnValue(stmt.get(), i));
            }
            keys.push_back(std::move(k));
        }
        return keys;
    }
    RangeSummaries RangeChecksums(std::string_view table, const std::vector<std::string>& fields,
                                  const std::vector<std::string>& keyFields, const KeyRange& range,
                                  const std::vector<std::vector<Value>>& boundaries) override {
        CheckOpen();
        const RangeSql key = KeySql(keyFields);
        std::vector<KeyParameter> parameters;
        const std::string part = key.PartExpression(boundaries, parameters);
        std::string values;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            values += (i ? ", " : "") + QuoteIdentifier(fields[i]);
        }
        std::string sql = "SELECT " + part + " AS kesmark_part, count(*), " + kRowChecksumFunction +
                          "(" + values + ") FROM " + QuoteIdentifier(table);
        if (const std::string inRange = key.RangePredicate(range, parameters); !inRange.empty()) {
            sql += " WHERE " + inRange;
        }
        sql += " GROUP BY kesmark_part";
        auto stmt = PrepareReading(table, sql);
        int index = 1;
        for (const auto& p : parameters) {
            BindValue(stmt.get(), index++, p.value);
        }
        RangeSummaries summaries;
        summaries.ranges.resize(boundaries.size() + 1);
        while (StepReading(table, stmt.get())) {
            const auto at = sqlite3_column_int64(stmt.get(), 0);
            RangeSummary summary{sqlite3_column_int64(stmt.get(), 1),
                                 static_cast<std::uint64_t>(sqlite3_column_int64(stmt.get(), 2))};
            if (at < 0) {
                summaries.nullKeyRows += summary.rows;
            } else if (static_cast<std::size_t>(at) < summaries.ranges.size()) {
                summaries.ranges[static_cast<std::size_t>(at)] = summary;
            }
        }
        return summaries;
    }
    std::unique_ptr<Recordset> OpenRangeRecordset(std::string_view table,
                                                  const std::vector<std::string>& fields,
                                                  const std::vector<std::string>& keyFields,
                                                  const KeyRange& range) override {
        CheckOpen();
        const RangeSql key = KeySql(keyFields);
        std::vector<KeyParameter> parameters;
        const std::string condition = key.RangePredicate(range, parameters);
        const std::string order = " ORDER BY " + key.OrderBy();
        try {
            schema_->UseWholeSchema();
            PiecesPlan plan = Plan(std::string(table));
            // A scan that goes on after a long record skips the records read.
            if (plan.resume != PiecesPlan::Resume::None) {
                plan.resume = PiecesPlan::Resume::Offset;
            }
            plan.condition = condition;
            for (const auto& p : parameters) {
                plan.conditionValues.push_back(p.value);
            }
            plan.order = order;
            return std::make_unique<SqliteRecordset>(
                connection_->Handle(), std::string(table), fields,
                SelectStatement(fields, table, QuoteIdentifier) +
                    (condition.empty() ? "" : " WHERE " + condition) + order,
                std::move(plan), DatabaseName());
        } catch (const DbError& e) {
            throw ReadingError(e, DatabaseName(), "table '" + std::string(table) + "'");
        }
    }
    void Interrupt() override {
        if (auto connection = connection_) {
            sqlite3_interrupt(connection->Handle());
        }
    }
    void Close() override {
        MarkClosed();
        if (schema_) {
            schema_->Close();
            schema_.reset();
        }
        connection_.reset();
    }

  private:
    // The class a column's declared type leads one to expect of its values.
    static std::string ClassOfType(int daoType) {
        switch (daoType) {
            case dao::kByte:
            case dao::kInteger:
            case dao::kLong:
            case dao::kBigInt:
                return "integer";
            case dao::kText:
            case dao::kMemo:
            case dao::kChar:
                return "text";
            case dao::kSingle:
            case dao::kDouble:
            case dao::kFloat:
                return "float";
            case dao::kBinary:
            case dao::kVarBinary:
                return "binary";
            default:
                return "other";
        }
    }
    static RangeSql KeySql(const std::vector<std::string>& keyFields) {
        std::vector<std::string> columns;
        for (const auto& k : keyFields) {
            columns.push_back(QuoteIdentifier(k));
        }
        return RangeSql(std::move(columns),
                        std::vector<std::string>(keyFields.size(), " COLLATE BINARY"), true);
    }
    StatementHandle PrepareReading(std::string_view table, const std::string& sql) {
        try {
            schema_->UseWholeSchema();
            return Prepare(connection_->Handle(), sql);
        } catch (const DbError& e) {
            throw ReadingError(e, DatabaseName(), "table '" + std::string(table) + "'");
        }
    }
    bool StepReading(std::string_view table, sqlite3_stmt* stmt) {
        try {
            return Step(stmt);
        } catch (const DbError& e) {
            throw ReadingError(e, DatabaseName(), "table '" + std::string(table) + "'");
        }
    }
    // How a recordset over `table` reads its long values: in pieces by the
    // rowid (a plain scan goes on after a rowid), or whole where there is no
    // rowid to read them by, or the database keeps text in UTF-16
    // (sqlite3_blob_read gives text as it is stored).
    PiecesPlan Plan(const std::string& table) {
        PiecesPlan plan;
        plan.table = "main." + QuoteIdentifier(table);
        if (!utf8_) {
            utf8_ = PragmaText(connection_->Handle(), "encoding") == "UTF-8";
        }
        const CatalogTable* entry = schema_->GetCatalog().Table(table);
        if (!*utf8_ || !entry) {
            return plan;
        }
        const auto kind = schema_->Kind(*entry);
        if (kind.type != "table" || kind.withoutRowid) {
            return plan;
        }
        const TableShape& shape = schema_->Shape(table);
        for (const char* name : {"rowid", "_rowid_", "oid"}) {
            const bool hidden = std::any_of(
                shape.columns.begin(), shape.columns.end(),
                [&](const ColumnInfo& column) { return FoldAsciiCase(column.name) == name; });
            if (!hidden) {
                plan.rowid = name;
                plan.resume = PiecesPlan::Resume::AfterRowid;
                return plan;
            }
        }
        return plan;
    }

    Properties ReadDatabaseProperties(const std::array<unsigned char, 100>& header) {
        sqlite3* db = connection_->Handle();
        Properties p;
        p.Add("Name", dao::kText, DatabaseName());
        p.Add("Connect", dao::kText, "");
        p.Add("Version", dao::kText, "SQLite format 3");
        p.Add("Updatable", dao::kBoolean, false);
        p.Add("Transactions", dao::kBoolean, true);
        p.Add("PageSize", dao::kLong, PragmaInt(db, "page_size"));
        p.Add("PageCount", dao::kLong, PragmaInt(db, "page_count"));
        p.Add("FreelistCount", dao::kLong, PragmaInt(db, "freelist_count"));
        p.Add("Encoding", dao::kText, PragmaText(db, "encoding"));
        static const char* const vacuumModes[] = {"NONE", "FULL", "INCREMENTAL"};
        const auto vacuum = PragmaInt(db, "auto_vacuum");
        p.Add("AutoVacuum", dao::kText,
              vacuum >= 0 && vacuum <= 2 ? vacuumModes[vacuum] : std::to_string(vacuum));
        p.Add("UserVersion", dao::kLong, PragmaInt(db, "user_version"));
        p.Add("ApplicationId", dao::kLong, PragmaInt(db, "application_id"));
        p.Add("SchemaVersion", dao::kLong, PragmaInt(db, "schema_version"));
        p.Add("JournalMode", dao::kText, header[18] == 2 ? "WAL" : "rollback");
        p.Add("ReservedBytes", dao::kByte, static_cast<int>(header[20]));
        p.Add("SchemaFormat", dao::kLong, static_cast<std::int64_t>(BigEndian32(header, 44)));
        p.Add("FileChangeCounter", dao::kLong, static_cast<std::int64_t>(BigEndian32(header, 24)));
        p.Add("LastWriterVersion", dao::kText, VersionText(BigEndian32(header, 96)));
        return p;
    }

    // Shared with the objects OpenAgain made: one connection, one state.
    std::shared_ptr<ReadConnection> connection_;
    std::shared_ptr<SchemaReader> schema_;  // shared with the schema's loaders
    std::optional<bool> utf8_;
};

}  // namespace

std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path) {
    // The file is read through SQLite's page cache, not mapped: every page a
    // mapping touches stays resident, so a scan of a large table or value
    // would hold as much memory as it read.
    auto connection = OpenForReading(path);
    return std::make_unique<SqliteDatabase>(path, std::move(connection));
}

}  // namespace kesmark::sqlite
