#include "engine/backends/sqlite/sqlite_database.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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
    SqliteField(SqliteRecordset& owner, int column) : owner_(owner), column_(column) {}

    std::string Name() override;
    int Type() override;
    Value GetValue() override;
    void AppendEncodedValue(std::string& out) override;
    std::int64_t FieldSize() override;
    Bytes GetChunk(std::int64_t offset, std::size_t count) override;
    std::string SourceTable() override;
    std::string SourceField() override;
    Properties GetProperties() override;

  private:
    SqliteRecordset& owner_;  // Not owned.
    int column_;
};

class SqliteRecordset : public Recordset {
  public:
    SqliteRecordset(StatementHandle stmt, std::string table)
        : stmt_(std::move(stmt)), table_(std::move(table)) {
        const int n = sqlite3_column_count(stmt_.get());
        for (int i = 0; i < n; ++i) {
            fields_.push_back(std::make_unique<SqliteField>(*this, i));
        }
        eof_ = !Step(stmt_.get());
    }

    bool IsEof() override { return eof_; }
    void MoveNext() override {
        CheckRow();
        eof_ = !Step(stmt_.get());
    }
    void Move(std::int64_t rows) override {
        for (std::int64_t i = 0; i < rows && !eof_; ++i) {
            MoveNext();
        }
    }
    void Close() override {
        stmt_.reset();
        eof_ = true;
    }
    std::size_t FieldCount() override { return fields_.size(); }
    RecordsetField& Field(std::size_t index) override {
        if (index >= fields_.size()) {
            throw DbError(errors::kItemNotFound, "Item not found in this collection.", kSource);
        }
        return *fields_[index];
    }

    sqlite3_stmt* Statement() {
        CheckRow();
        return stmt_.get();
    }
    sqlite3_stmt* StatementForMetadata() {
        if (!stmt_) {
            throw DbError(errors::kNoCurrentRecord, "The recordset is closed.", kSource);
        }
        return stmt_.get();
    }
    const std::string& Table() const { return table_; }

  private:
    void CheckRow() const {
        if (eof_ || !stmt_) {
            throw DbError(errors::kNoCurrentRecord, "No current record.", kSource);
        }
    }

    StatementHandle stmt_;
    std::string table_;
    bool eof_ = true;
    std::vector<std::unique_ptr<SqliteField>> fields_;
};

std::string SqliteField::Name() {
    return sqlite3_column_name(owner_.StatementForMetadata(), column_);
}

int SqliteField::Type() {
    const char* declared = sqlite3_column_decltype(owner_.StatementForMetadata(), column_);
    return DaoTypeFromDeclaredType(declared ? declared : "");
}

Value SqliteField::GetValue() {
    return ColumnValue(owner_.Statement(), column_);
}

void SqliteField::AppendEncodedValue(std::string& out) {
    // One unprotected value per cell: the value_* calls skip the per-call
    // bookkeeping of the column_* ones, which counts in a million-row scan.
    sqlite3_value* value = sqlite3_column_value(owner_.Statement(), column_);
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
    auto* stmt = owner_.Statement();
    if (sqlite3_column_type(stmt, column_) == SQLITE_NULL) {
        return 0;
    }
    return sqlite3_column_bytes(stmt, column_);
}

Bytes SqliteField::GetChunk(std::int64_t offset, std::size_t count) {
    auto* stmt = owner_.Statement();
    const void* data = sqlite3_column_type(stmt, column_) == SQLITE_BLOB
                           ? sqlite3_column_blob(stmt, column_)
                           : static_cast<const void*>(sqlite3_column_text(stmt, column_));
    const auto size = static_cast<std::int64_t>(sqlite3_column_bytes(stmt, column_));
    if (!data || offset < 0 || offset >= size) {
        return {};
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data) + offset;
    return Bytes(bytes,
                 bytes + std::min<std::int64_t>(static_cast<std::int64_t>(count), size - offset));
}

std::string SqliteField::SourceTable() {
    const char* table = sqlite3_column_table_name(owner_.StatementForMetadata(), column_);
    return table ? table : owner_.Table();
}

std::string SqliteField::SourceField() {
    const char* origin = sqlite3_column_origin_name(owner_.StatementForMetadata(), column_);
    return origin ? origin : Name();
}

Properties SqliteField::GetProperties() {
    Properties p = RecordsetField::GetProperties();
    const char* declared = sqlite3_column_decltype(owner_.StatementForMetadata(), column_);
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
        auto stmt = Prepare(db_.get(), RecordsetStatement(table, fields));
        return std::make_unique<SqliteRecordset>(std::move(stmt), std::string(table));
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
