#include "engine/backends/odbc/odbc_database.h"

#include "engine/backends/odbc/odbc_catalog.h"
#include "engine/backends/odbc/odbc_types.h"
#include "engine/backends/odbc/odbc_vocabulary.h"
#include "engine/model/connect_string.h"
#include "engine/model/object_tree.h"

namespace kesmark::odbc {

namespace {

DbError NoCurrentRecord() {
    return DbError(errors::kNoCurrentRecord, "No current record.", "ODBC");
}

// One column of an open recordset.
struct ResultColumn {
    ColumnDescription description;
    int daoType = dao::kText;
    std::string sourceField;
};

class OdbcRecordset;

class OdbcField : public RecordsetField {
  public:
    OdbcField(OdbcRecordset& owner, std::size_t index) : owner_(owner), index_(index) {}

    std::string Name() override;
    int Type() override;
    Value GetValue() override;
    std::int64_t FieldSize() override;
    Bytes GetChunk(std::int64_t offset, std::size_t count) override;
    std::string SourceTable() override;
    std::string SourceField() override;

  private:
    OdbcRecordset& owner_;  // Not owned.
    std::size_t index_;
};

// A forward-only cursor over one SELECT. The current row's values are read
// with SQLGetData when first asked for, in column order (every column up to
// the one asked for), and kept until the next row.
class OdbcRecordset : public Recordset {
  public:
    OdbcRecordset(Connection& connection, std::string table, const std::string& sql)
        : connection_(connection), statement_(connection.NewStatement()), table_(std::move(table)) {
        const SQLRETURN rc = statement_.TryExecute(sql);
        if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
            throw Failure(rc, "opening table " + table_);
        }
        const SQLSMALLINT count = statement_.ColumnCount();
        for (SQLUSMALLINT column = 1; column <= count; ++column) {
            ResultColumn result;
            result.description = statement_.Describe(column);
            const ResultColumnType type = ResultColumnTypeOf(
                connection.Kind(), result.description.sqlType, statement_.TypeName(column));
            result.description.sqlType = type.sqlType;
            result.daoType = type.daoType;
            result.sourceField = statement_.BaseColumnName(column);
            if (result.sourceField.empty()) {
                result.sourceField = result.description.name;
            }
            columns_.push_back(std::move(result));
            fields_.push_back(std::make_unique<OdbcField>(*this, columns_.size() - 1));
        }
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
        const std::string context =
            "reading row " + std::to_string(rowsRead_) + " of table " + table_;
        while (values_.size() <= index) {
            const auto column = static_cast<SQLUSMALLINT>(values_.size() + 1);
            const SQLSMALLINT sqlType = columns_[values_.size()].description.sqlType;
            if (IsBinarySqlType(sqlType)) {
                auto bytes = statement_.GetBytes(column, context);
                values_.push_back(bytes ? Value(std::move(*bytes)) : Value());
            } else {
                auto text = statement_.GetText(column, context);
                values_.push_back(text ? ValueFromText(sqlType, std::move(*text)) : Value());
            }
        }
        return values_[index];
    }

  private:
    void CheckRow() const {
        if (eof_ || closed_) {
            throw NoCurrentRecord();
        }
    }

    void Advance() {
        values_.clear();
        const SQLRETURN rc = statement_.TryFetch();
        if (rc == SQL_NO_DATA) {
            eof_ = true;
            return;
        }
        if (!SQL_SUCCEEDED(rc)) {
            eof_ = true;
            throw Failure(rc,
                          "reading row " + std::to_string(rowsRead_ + 1) + " of table " + table_);
        }
        ++rowsRead_;
        eof_ = false;
    }

    // The error for a failed execute or fetch. A lost connection says how far
    // the table was read, so that a partial read is never taken for a
    // complete one.
    DbError Failure(SQLRETURN rc, const std::string& doing) {
        const auto records = statement_.Diagnostics();
        connection_.RecoverAfterFailure();
        if (IsConnectionFailure(records)) {
            return connection_.DescribeFailure(
                "connection lost after " + std::to_string(rowsRead_) + " rows of table " + table_,
                records);
        }
        return connection_.MakeError(rc, records, doing);
    }

    Connection& connection_;  // Not owned.
    Statement statement_;
    std::string table_;
    std::vector<ResultColumn> columns_;
    std::vector<std::unique_ptr<OdbcField>> fields_;
    std::vector<Value> values_;
    std::int64_t rowsRead_ = 0;
    bool eof_ = true;
    bool closed_ = false;
};

std::string OdbcField::Name() {
    return owner_.Column(index_).description.name;
}

int OdbcField::Type() {
    return owner_.Column(index_).daoType;
}

Value OdbcField::GetValue() {
    return owner_.ValueAt(index_);
}

std::int64_t OdbcField::FieldSize() {
    const Value& value = owner_.ValueAt(index_);
    if (const auto* text = value.As<std::string>()) {
        return static_cast<std::int64_t>(text->size());
    }
    if (const auto* bytes = value.As<Bytes>()) {
        return static_cast<std::int64_t>(bytes->size());
    }
    return 0;
}

Bytes OdbcField::GetChunk(std::int64_t offset, std::size_t count) {
    const Value& value = owner_.ValueAt(index_);
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

std::string OdbcField::SourceTable() {
    return owner_.Table();
}

std::string OdbcField::SourceField() {
    return owner_.Column(index_).sourceField;
}

class OdbcDatabase : public TreeDatabase {
  public:
    OdbcDatabase(std::string name, std::string connect, std::unique_ptr<Connection> connection)
        : TreeDatabase(std::move(name), "ODBC"),
          connect_(std::move(connect)),
          connection_(std::move(connection)),
          catalog_(std::make_unique<Catalog>(*connection_)) {
        SetSystem(connection_->Info().dbmsName);
        Root().properties = ReadDatabaseProperties();
        catalog_->Attach(Root());
        ApplyVocabulary(Root(), *connection_);
    }
    ~OdbcDatabase() override { Close(); }

    std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                             const std::vector<std::string>& fields) override {
        const std::string sql = RecordsetStatement(table, fields);
        return std::make_unique<OdbcRecordset>(*connection_, std::string(table), sql);
    }

    std::string RecordsetStatement(std::string_view table,
                                   const std::vector<std::string>& fields) override {
        CheckOpen();
        std::string sql = "SELECT ";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i) {
                sql += ", ";
            }
            sql += connection_->QuoteIdentifier(fields[i]);
        }
        if (fields.empty()) {
            sql += "*";
        }
        sql += " FROM " + catalog_->SelectSource(table);
        if (connection_->Kind() == Dbms::SQLite) {
            // Scan the table itself, never a covering index, so that the row
            // order does not depend on the columns read.
            sql += " NOT INDEXED";
        }
        return sql;
    }

    void Close() override {
        MarkClosed();
        if (catalog_) {
            catalog_->Detach();
        }
        catalog_.reset();
        connection_.reset();
    }

  private:
    Properties ReadDatabaseProperties() const {
        const SourceInfo& info = connection_->Info();
        Properties p;
        p.Add("Name", dao::kText, DatabaseName());
        p.Add("Connect", dao::kText, connect_);
        p.Add("Version", dao::kText, info.dbmsVersion);
        p.Add("Updatable", dao::kBoolean, false);
        p.Add("Transactions", dao::kBoolean, info.transactions);
        p.Add("QueryTimeout", dao::kInteger, connection_->GetTimeouts().statement);
        p.Add("DBMSName", dao::kText, info.dbmsName);
        p.Add("DBMSVersion", dao::kText, info.dbmsVersion);
        p.Add("DriverName", dao::kText, info.driverName);
        p.Add("DriverVersion", dao::kText, info.driverVersion);
        p.Add("DriverODBCVersion", dao::kText, info.driverOdbcVersion);
        p.Add("DataSourceName", dao::kText, info.dataSourceName);
        p.Add("DatabaseName", dao::kText, info.databaseName);
        p.Add("CatalogName", dao::kText, info.catalogName);
        p.Add("ServerName", dao::kText, info.serverName);
        p.Add("UserName", dao::kText, info.userName);
        p.Add("IdentifierQuoteChar", dao::kText, info.identifierQuote);
        p.Add("IdentifierCase", dao::kText, info.identifierCase);
        p.Add("QuotedIdentifierCase", dao::kText, info.quotedIdentifierCase);
        p.Add("CatalogTerm", dao::kText, info.catalogTerm);
        p.Add("SchemaTerm", dao::kText, info.schemaTerm);
        p.Add("ProcedureTerm", dao::kText, info.procedureTerm);
        p.Add("TableTerm", dao::kText, info.tableTerm);
        p.Add("SearchPatternEscape", dao::kText, info.searchPatternEscape);
        p.Add("CollatingSequence", dao::kText, info.collationSequence);
        p.Add("DefaultIsolation", dao::kText, info.defaultIsolation);
        p.Add("DataSourceReadOnly", dao::kBoolean, info.dataSourceReadOnly);
        return p;
    }

    std::string connect_;
    std::unique_ptr<Connection> connection_;
    std::unique_ptr<Catalog> catalog_;
};

}  // namespace

std::unique_ptr<Database> OpenOdbcDatabase(const std::string& name,
                                           const std::string& connectString, Timeouts timeouts) {
    const std::string driverString =
        IsOdbcConnectString(connectString) ? connectString.substr(5) : connectString;
    auto connection = Connection::Open(driverString, timeouts);
    const std::string masked = MaskPasswords(connectString);
    return std::make_unique<OdbcDatabase>(name.empty() ? masked : name, masked,
                                          std::move(connection));
}

}  // namespace kesmark::odbc
