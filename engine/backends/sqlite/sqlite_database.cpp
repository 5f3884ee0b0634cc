#include "engine/backends/sqlite/sqlite_database.h"

#include <array>
#include <cstring>

#include "engine/backends/sqlite/sqlite_checksums.h"
#include "engine/backends/sqlite/sqlite_handles.h"
#include "engine/backends/sqlite/sqlite_schema.h"
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
    // `file` names the database in errors.
    SqliteRecordset(StatementHandle stmt, std::string table, std::string file)
        : stmt_(std::move(stmt)), table_(std::move(table)), file_(std::move(file)) {
        const int n = sqlite3_column_count(stmt_.get());
        for (int i = 0; i < n; ++i) {
            fields_.push_back(std::make_unique<SqliteField>(*this, i));
        }
        StepToNextRow();
    }

    bool IsEof() override { return eof_; }
    void MoveNext() override {
        CheckRow();
        StepToNextRow();
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

    void AppendEncodedRow(std::string& out, std::vector<std::uint32_t>& ends) override {
        sqlite3_stmt* stmt = Statement();
        const std::size_t count = fields_.size();
        values_.resize(count);
        // First the size of the whole row, then one resize and the values
        // written in place: a million-row scan feels every call per value.
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < count; ++i) {
            sqlite3_value* value = sqlite3_column_value(stmt, static_cast<int>(i));
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
    void StepToNextRow() {
        try {
            eof_ = !Step(stmt_.get());
        } catch (const DbError& e) {
            eof_ = true;
            throw ReadingError(e, file_, "table '" + table_ + "'");
        }
    }

    StatementHandle stmt_;
    std::string table_;
    std::string file_;
    bool eof_ = true;
    std::vector<std::unique_ptr<SqliteField>> fields_;
    std::vector<CellValue> values_;  // the current row's values while it is encoded
};

std::string SqliteField::Name() {
    return sqlite3_column_name(owner_.StatementForMetadata(), column_);
}

int SqliteField::Type() {
    const char* declared = sqlite3_column_decltype(owner_.StatementForMetadata(), column_);
    return vocabulary::DaoTypeFromDeclaredType(declared ? declared : "");
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
    // The length of a text or binary value; numbers have none, as on every
    // backend (asking SQLite for the bytes of a number would make it text).
    auto* stmt = owner_.Statement();
    const int type = sqlite3_column_type(stmt, column_);
    if (type != SQLITE_TEXT && type != SQLITE_BLOB) {
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
    SqliteDatabase(std::string name, std::shared_ptr<ReadConnection> connection)
        : TreeDatabase(std::move(name), kSource), connection_(std::move(connection)) {
        RegisterRowChecksum(connection_->Handle());
        Root().properties = ReadDatabaseProperties(connection_->Header());
        BuildSchema(connection_->Handle(), Root(), DatabaseName());
    }
    ~SqliteDatabase() override { Close(); }

    std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                             const std::vector<std::string>& fields) override {
        CheckOpen();
        StatementHandle stmt;
        try {
            stmt = Prepare(connection_->Handle(), RecordsetStatement(table, fields));
        } catch (const DbError& e) {
            throw ReadingError(e, DatabaseName(), "table '" + std::string(table) + "'");
        }
        return std::make_unique<SqliteRecordset>(std::move(stmt), std::string(table),
                                                 DatabaseName());
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
        std::string sql = SelectStatement(fields, table, QuoteIdentifier) + " ORDER BY ";
        for (std::size_t i = 0; i < keyFields.size(); ++i) {
            sql += (i ? ", " : "") + QuoteIdentifier(keyFields[i]) + " COLLATE BINARY";
        }
        auto stmt = Prepare(connection_->Handle(), sql);
        return std::make_unique<SqliteRecordset>(std::move(stmt), std::string(table),
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
        std::string sql = SelectStatement(fields, table, QuoteIdentifier) + " WHERE ";
        for (std::size_t i = 0; i < keyFields.size(); ++i) {
            const std::string column = QuoteIdentifier(keyFields[i]);
            const std::string parameter = "?" + std::to_string(i + 1);
            sql += (i ? " AND " : "") + column + " = " + parameter + " AND " + column + " = " +
                   parameter + " COLLATE BINARY";
        }
        auto stmt = Prepare(connection_->Handle(), sql);
        for (std::size_t i = 0; i < keyValues.size(); ++i) {
            BindValue(stmt.get(), static_cast<int>(i + 1), keyValues[i]);
        }
        return std::make_unique<SqliteRecordset>(std::move(stmt), std::string(table),
                                                 DatabaseName());
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
                                                  const KeyRange& range,
                                                  std::int64_t parts) override {
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
        const std::string sql =
            "SELECT " + columns + " FROM (SELECT " + columns + ", row_number() OVER (ORDER BY " +
            key.OrderBy() + ") AS kesmark_row, count(*) OVER () AS kesmark_rows FROM " +
            QuoteIdentifier(table) + " WHERE " + where +
            ") WHERE kesmark_row % ((kesmark_rows + ? - 1) / ?) = 0 ORDER BY kesmark_row";
        auto stmt = PrepareReading(table, sql);
        int index = 1;
        for (const auto& p : parameters) {
            BindValue(stmt.get(), index++, p.value);
        }
        for (int i = 0; i < 2; ++i) {
            Check(sqlite3_bind_int64(stmt.get(), index++, std::max<std::int64_t>(parts, 1)),
                  connection_->Handle());
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
        std::string sql = SelectStatement(fields, table, QuoteIdentifier);
        if (const std::string inRange = key.RangePredicate(range, parameters); !inRange.empty()) {
            sql += " WHERE " + inRange;
        }
        sql += " ORDER BY " + key.OrderBy();
        auto stmt = PrepareReading(table, sql);
        int index = 1;
        for (const auto& p : parameters) {
            BindValue(stmt.get(), index++, p.value);
        }
        return std::make_unique<SqliteRecordset>(std::move(stmt), std::string(table),
                                                 DatabaseName());
    }
    void Interrupt() override {
        if (auto connection = connection_) {
            sqlite3_interrupt(connection->Handle());
        }
    }
    void Close() override {
        MarkClosed();
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
                        std::vector<std::string>(keyFields.size(), " COLLATE BINARY"));
    }
    StatementHandle PrepareReading(std::string_view table, const std::string& sql) {
        try {
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
};

}  // namespace

std::unique_ptr<Database> OpenSqliteDatabase(const std::string& path) {
    auto connection = OpenForReading(path);
    // Map the file instead of copying every page read into SQLite's cache:
    // whole-table scans of the data comparison read each page once.
    Check(sqlite3_exec(connection->Handle(), "PRAGMA mmap_size=1073741824", nullptr, nullptr,
                       nullptr),
          connection->Handle());
    return std::make_unique<SqliteDatabase>(path, std::move(connection));
}

}  // namespace kesmark::sqlite
