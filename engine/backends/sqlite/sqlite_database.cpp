#include "engine/backends/sqlite/sqlite_database.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "engine/backends/sqlite/sqlite_handles.h"
#include "engine/backends/sqlite/sqlite_schema.h"
#include "engine/backends/sqlite/sqlite_scratch.h"
#include "engine/model/object_tree.h"
#include "engine/model/value_codec.h"

namespace kesmark::sqlite {

namespace fs = std::filesystem;

namespace {

// A temporary folder removed with everything in it when the owner goes.
class TempDir {
  public:
    TempDir() = default;
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove_all(path_, ec);
        }
    }

    void Create() {
        std::string tmpl = (fs::temp_directory_path() / "kesmark-sqlite-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) {
            throw DbError(errors::kCannotOpen,
                          "Cannot create a temporary folder for a private copy.", kSource);
        }
        path_ = tmpl;
    }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

// file: URI for a path, every byte outside the unreserved set percent-encoded.
std::string FileUri(const fs::path& path) {
    const std::string absolute = fs::absolute(path).string();
    std::string uri = "file:";
    static const char* hex = "0123456789ABCDEF";
    for (unsigned char c : absolute) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

std::int64_t PragmaInt(sqlite3* db, std::string_view pragma) {
    auto stmt = Prepare(db, "PRAGMA " + std::string(pragma));
    return Step(stmt.get()) ? sqlite3_column_int64(stmt.get(), 0) : 0;
}

std::string PragmaText(sqlite3* db, std::string_view pragma) {
    auto stmt = Prepare(db, "PRAGMA " + std::string(pragma));
    return Step(stmt.get()) ? ColumnText(stmt.get(), 0) : std::string();
}

std::array<unsigned char, 100> ReadHeader(const fs::path& path) {
    std::array<unsigned char, 100> header{};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    return header;
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

// The rows of one statement over one table, in the table's order.
//
// In pieces mode (a rowid table of a UTF-8 database) the statement reads the
// rowid first and may not load a text or blob longer than kLongValuePiece:
// SQLite stops at a record holding one (SQLITE_TOOBIG). That record is read
// again field by field, long values through incremental blob I/O, and the
// scan goes on after its rowid. So no value is ever held whole.
class SqliteRecordset : public Recordset {
  public:
    // `rowid`: a name of the rowid that no column hides, for pieces mode;
    // empty for a plain scan of `select`.
    SqliteRecordset(sqlite3* db, std::string table, std::vector<std::string> fields,
                    const std::string& select, std::string rowid)
        : db_(db), table_(std::move(table)), names_(std::move(fields)), rowid_(std::move(rowid)) {
        if (rowid_.empty()) {
            main_ = Prepare(db_, select);
        } else {
            const std::string columns = QuoteIdentifier(rowid_) + ", " + Columns();
            const std::string from = " FROM main." + QuoteIdentifier(table_) + " NOT INDEXED";
            main_ = Prepare(db_, "SELECT " + columns + from);
            resume_ = Prepare(
                db_, "SELECT " + columns + from + " WHERE " + QuoteIdentifier(rowid_) + " > ?");
            std::string kinds = QuoteIdentifier(rowid_);
            for (const auto& name : names_) {
                const std::string q = QuoteIdentifier(name);
                kinds += ", typeof(" + q + "), CASE WHEN typeof(" + q +
                         ") IN ('integer', 'real') THEN " + q + " END";
            }
            firstLongRow_ = Prepare(db_, "SELECT " + kinds + from + " ORDER BY " +
                                             QuoteIdentifier(rowid_) + " LIMIT 1");
            nextLongRow_ =
                Prepare(db_, "SELECT " + kinds + from + " WHERE " + QuoteIdentifier(rowid_) +
                                 " > ? ORDER BY " + QuoteIdentifier(rowid_) + " LIMIT 1");
        }
        for (std::size_t i = 0; i < names_.size(); ++i) {
            fields_.push_back(std::make_unique<SqliteField>(*this, i));
        }
        current_ = main_.get();
        StepCurrent();
    }

    bool IsEof() override { return eof_; }
    void MoveNext() override {
        CheckRow();
        if (!held_.empty()) {
            held_.clear();
            sqlite3_reset(resume_.get());
            Check(sqlite3_bind_int64(resume_.get(), 1, lastRowid_), db_);
            current_ = resume_.get();
        }
        StepCurrent();
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
        firstLongRow_.reset();
        nextLongRow_.reset();
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

    // The statement's column of field `index`.
    int Column(std::size_t index) const {
        return static_cast<int>(index) + (rowid_.empty() ? 0 : 1);
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

    std::string Columns() const {
        std::string columns;
        for (const auto& name : names_) {
            columns += (columns.empty() ? "" : ", ") + QuoteIdentifier(name);
        }
        return columns;
    }

    // Steps the current statement to the next record; in pieces mode a
    // record with a value too long to load is read field by field instead.
    void StepCurrent() {
        if (rowid_.empty()) {
            eof_ = !Step(current_);
            return;
        }
        const int limit =
            sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, static_cast<int>(kLongValuePiece));
        const int rc = sqlite3_step(current_);
        sqlite3_limit(db_, SQLITE_LIMIT_LENGTH, limit);
        if (rc == SQLITE_ROW) {
            lastRowid_ = sqlite3_column_int64(current_, 0);
            started_ = true;
            eof_ = false;
            return;
        }
        if (rc != SQLITE_TOOBIG) {
            sqlite3_reset(current_);
            Check(rc, db_);
            eof_ = true;
            return;
        }
        sqlite3_reset(current_);
        ReadHeldRecord();
    }

    // Reads the record after lastRowid_ (the first one when none was read)
    // field by field.
    void ReadHeldRecord() {
        sqlite3_stmt* kinds = started_ ? nextLongRow_.get() : firstLongRow_.get();
        sqlite3_reset(kinds);
        if (started_) {
            Check(sqlite3_bind_int64(kinds, 1, lastRowid_), db_);
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
                cell.size = static_cast<std::int64_t>(PlainText(cell.value).size());
                continue;
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
        started_ = true;
        eof_ = false;
    }

    sqlite3* db_;  // Not owned.
    std::string table_;
    std::vector<std::string> names_;
    std::string rowid_;
    StatementHandle main_;
    StatementHandle resume_;           // the scan after a record read field by field
    StatementHandle firstLongRow_;     // kinds of the first record's values
    StatementHandle nextLongRow_;      // kinds of the values of the record after a rowid
    sqlite3_stmt* current_ = nullptr;  // main_ or resume_
    std::vector<HeldValue> held_;      // the current record, when read field by field
    std::int64_t lastRowid_ = 0;
    bool started_ = false;
    bool eof_ = true;
    std::vector<std::unique_ptr<SqliteField>> fields_;
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
    return DaoTypeFromDeclaredType(declared ? declared : "");
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
    sqlite3_stmt* stmt = owner_.Statement();
    if (!stmt) {
        return owner_.HeldAt(index_).size;
    }
    const int column = owner_.Column(index_);
    if (sqlite3_column_type(stmt, column) == SQLITE_NULL) {
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
        const Value& value = held.value;
        std::string_view bytes;
        if (const auto* text = value.As<std::string>()) {
            bytes = *text;
        } else if (const auto* blob = value.As<Bytes>()) {
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
    SqliteDatabase(std::string name, DbHandle db, std::unique_ptr<TempDir> privateCopy,
                   std::array<unsigned char, 100> header)
        : TreeDatabase(std::move(name), kSource),
          db_(std::move(db)),
          privateCopy_(std::move(privateCopy)) {
        Root().properties = ReadDatabaseProperties(header);
        schema_ = std::make_shared<SchemaReader>(db_.get(), true);
        BuildSchema(schema_, Root());
    }
    ~SqliteDatabase() override { Close(); }

    std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                             const std::vector<std::string>& fields) override {
        CheckOpen();
        schema_->UseWholeSchema();
        return std::make_unique<SqliteRecordset>(db_.get(), std::string(table), fields,
                                                 RecordsetStatement(table, fields),
                                                 PiecesRowid(std::string(table)));
    }
    std::string RecordsetStatement(std::string_view table,
                                   const std::vector<std::string>& fields) override {
        // NOT INDEXED: scan the table itself, never a covering index, so that
        // the row order is the same whichever fields are read.
        return SelectStatement(fields, table, QuoteIdentifier) + " NOT INDEXED";
    }
    void Close() override {
        MarkClosed();
        if (schema_) {
            schema_->Close();
            schema_.reset();
        }
        db_.reset();
        privateCopy_.reset();
    }

  private:
    // The name under which the rowid of `table` can be read, when its long
    // values can be read in pieces (sqlite3_blob_open reads UTF-8 text as it
    // is only in a UTF-8 database, and only tables with a rowid); empty
    // otherwise.
    std::string PiecesRowid(const std::string& table) {
        if (!utf8_) {
            utf8_ = PragmaText(db_.get(), "encoding") == "UTF-8";
        }
        const CatalogTable* entry = schema_->GetCatalog().Table(table);
        if (!*utf8_ || !entry) {
            return {};
        }
        const auto kind = schema_->Kind(*entry);
        if (kind.type != "table" || kind.withoutRowid) {
            return {};
        }
        const TableShape& shape = schema_->Shape(table);
        for (const char* name : {"rowid", "_rowid_", "oid"}) {
            const bool hidden = std::any_of(
                shape.columns.begin(), shape.columns.end(),
                [&](const ColumnInfo& column) { return FoldAsciiCase(column.name) == name; });
            if (!hidden) {
                return name;
            }
        }
        return {};
    }

    Properties ReadDatabaseProperties(const std::array<unsigned char, 100>& header) {
        sqlite3* db = db_.get();
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

    DbHandle db_;
    std::shared_ptr<SchemaReader> schema_;  // shared with the schema's loaders
    std::optional<bool> utf8_;
    std::unique_ptr<TempDir> privateCopy_;
};

DbHandle OpenHandle(const std::string& uri, int flags) {
    sqlite3* raw = nullptr;
    // NOMUTEX: a connection is only ever used by one thread at a time (the
    // data comparison hands each database to a reader thread of its own), so
    // SQLite need not lock around every call.
    const int rc =
        sqlite3_open_v2(uri.c_str(), &raw, flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    DbHandle db(raw);
    if (rc != SQLITE_OK) {
        throw DbError(rc, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc), kSource);
    }
    sqlite3_extended_result_codes(raw, 1);
    return db;
}

}  // namespace

std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path) {
    const fs::path file(path);
    std::unique_ptr<TempDir> privateCopy;
    DbHandle db;
    fs::path headerSource = file;
    const bool hasJournal = fs::exists(path + "-wal") || fs::exists(path + "-journal");
    if (hasJournal) {
        privateCopy = std::make_unique<TempDir>();
        privateCopy->Create();
        const fs::path copy = privateCopy->Path() / "copy.db";
        std::error_code ec;
        fs::copy_file(file, copy, ec);
        for (const char* suffix : {"-wal", "-journal"}) {
            if (!ec && fs::exists(path + suffix)) {
                fs::copy_file(path + suffix, copy.string() + suffix, ec);
            }
        }
        if (ec) {
            throw DbError(errors::kCannotOpen, "Cannot copy '" + path + "': " + ec.message(),
                          kSource);
        }
        // The copy is ours: let SQLite recover or checkpoint its journal, so
        // that the header read below is current.
        db = OpenHandle(FileUri(copy), SQLITE_OPEN_READWRITE);
        EnterCatalogMode(db.get());
        Check(sqlite3_exec(db.get(), "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr),
              db.get());
        Check(sqlite3_exec(db.get(), "PRAGMA query_only=1", nullptr, nullptr, nullptr), db.get());
        headerSource = copy;
    } else {
        db = OpenHandle(FileUri(file) + "?immutable=1", SQLITE_OPEN_READONLY);
        EnterCatalogMode(db.get());
    }
    // The file is read through SQLite's page cache, not mapped: every page a
    // mapping touches stays resident, so a scan of a large table or value
    // would hold as much memory as it read.
    // Reading the list of the schema proves the file is a readable database
    // (not encrypted, not damaged in its first pages).
    auto probe = Prepare(db.get(), "SELECT count(*) FROM sqlite_master");
    Step(probe.get());
    probe.reset();
    return std::make_unique<SqliteDatabase>(path, std::move(db), std::move(privateCopy),
                                            ReadHeader(headerSource));
}

}  // namespace kesmark::sqlite
