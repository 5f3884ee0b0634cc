#include "engine/backends/odbc/odbc_connection.h"

#include <algorithm>

#include "engine/backends/odbc/odbc_connect_string.h"
#include "engine/backends/odbc/odbc_dialect.h"
#include "engine/model/connect_string.h"
#include "engine/model/object_tree.h"

namespace kesmark::odbc {

namespace {

constexpr const char* kManagerSource = "ODBC";
constexpr std::size_t kTextChunkUnits = 8192;
constexpr std::size_t kBinaryChunkBytes = 65536;
// Passwords shorter than this are not searched for in messages: replacing
// every occurrence of one or two letters would garble the message and hide
// nothing.
constexpr std::size_t kShortestScrubbedSecret = 4;

SQLWCHAR* WidePointer(const std::optional<WideString>& text) {
    return text ? const_cast<SQLWCHAR*>(text->data()) : nullptr;
}

SQLSMALLINT WideLength(const std::optional<WideString>& text) {
    return text ? static_cast<SQLSMALLINT>(text->size()) : 0;
}

std::optional<WideString> WideArgument(const CatalogArgument& argument) {
    if (!argument) {
        return std::nullopt;
    }
    return Widen(*argument);
}

std::string DescribeRecords(const std::vector<Diagnostic>& records) {
    std::string text;
    std::vector<std::string> seen;
    for (const auto& record : records) {
        if (std::find(seen.begin(), seen.end(), record.message) != seen.end()) {
            continue;
        }
        seen.push_back(record.message);
        if (!text.empty()) {
            text += "; ";
        }
        text += "[" + record.state + "] " + record.message;
        if (seen.size() == 3) {
            break;
        }
    }
    return text;
}

std::string IsolationText(std::uint64_t level) {
    switch (level) {
        case SQL_TXN_READ_UNCOMMITTED:
            return "read uncommitted";
        case SQL_TXN_READ_COMMITTED:
            return "read committed";
        case SQL_TXN_REPEATABLE_READ:
            return "repeatable read";
        case SQL_TXN_SERIALIZABLE:
            return "serializable";
        default:
            return level == 0 ? "none" : std::to_string(level);
    }
}

std::string IdentifierCaseText(std::uint64_t value) {
    switch (value) {
        case SQL_IC_UPPER:
            return "upper";
        case SQL_IC_LOWER:
            return "lower";
        case SQL_IC_SENSITIVE:
            return "sensitive";
        case SQL_IC_MIXED:
            return "mixed";
        default:
            return std::to_string(value);
    }
}

}  // namespace

std::optional<std::size_t> ResultSet::ColumnNumber(std::string_view name) const {
    const std::string folded = FoldAsciiCase(name);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (FoldAsciiCase(columns[i]) == folded) {
            return i + 1;
        }
    }
    return std::nullopt;
}

Statement::Statement(Connection& connection, StatementHandle handle)
    : connection_(&connection), handle_(std::move(handle)) {}

void Statement::CheckCall(SQLRETURN rc, std::string_view context) {
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) {
        return;
    }
    auto records = ReadDiagnostics(SQL_HANDLE_STMT, handle_.get());
    lastState_ = records.empty() ? std::string() : records.front().state;
    for (const auto& record : records) {
        if (IsConnectionFailure(record.state)) {
            lastState_ = record.state;  // the one that matters most
        }
    }
    connection_->RecoverAfterFailure();
    throw connection_->MakeError(rc, records, context);
}

void Statement::Execute(std::string_view sql, std::string_view context) {
    CheckCall(TryExecute(sql), context);
}

SQLRETURN Statement::TryExecute(std::string_view sql) {
    CloseCursor();
    connection_->BeginDueTransaction();
    WideString text = Widen(sql);
    const Connection::RunningCall running(*connection_, handle_.get());
    return SQLExecDirectW(handle_.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
}

SQLRETURN Statement::TryExecute(std::string_view sql, const std::vector<Parameter>& parameters) {
    CloseCursor();
    connection_->BeginDueTransaction();
    WideString text = Widen(sql);
    SQLRETURN rc = SQLPrepareW(handle_.get(), text.data(), static_cast<SQLINTEGER>(text.size()));
    if (!SQL_SUCCEEDED(rc)) {
        return rc;
    }
    // The buffers stay in place until the statement has run.
    std::vector<WideString> texts(parameters.size());
    std::vector<SQLLEN> lengths(parameters.size());
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const Parameter& p = parameters[i];
        const auto number = static_cast<SQLUSMALLINT>(i + 1);
        SQLULEN size = p.column.size;
        if (p.text) {
            texts[i] = Widen(*p.text);
            lengths[i] = static_cast<SQLLEN>(texts[i].size() * sizeof(SQLWCHAR));
            size = std::max<SQLULEN>(size, std::max<std::size_t>(texts[i].size(), 1));
            rc = SQLBindParameter(handle_.get(), number, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                  p.column.sqlType, size, p.column.decimalDigits, texts[i].data(),
                                  lengths[i], &lengths[i]);
        } else {
            lengths[i] = static_cast<SQLLEN>(p.bytes.size());
            size = std::max<SQLULEN>(size, std::max<std::size_t>(p.bytes.size(), 1));
            rc = SQLBindParameter(
                handle_.get(), number, SQL_PARAM_INPUT, SQL_C_BINARY, p.column.sqlType, size, 0,
                const_cast<std::uint8_t*>(p.bytes.data()), lengths[i], &lengths[i]);
        }
        if (!SQL_SUCCEEDED(rc)) {
            return rc;
        }
    }
    {
        const Connection::RunningCall running(*connection_, handle_.get());
        rc = SQLExecute(handle_.get());
    }
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) {
        // The buffers go now; a failure keeps its diagnostics for the caller
        // (the statement handle then goes with its recordset).
        SQLFreeStmt(handle_.get(), SQL_RESET_PARAMS);
    }
    return rc;
}

std::vector<Diagnostic> Statement::Diagnostics() const {
    return ReadDiagnostics(SQL_HANDLE_STMT, handle_.get());
}

void Statement::Tables(const CatalogArgument& schema, const CatalogArgument& table,
                       const CatalogArgument& types, std::string_view context) {
    CloseCursor();
    const auto s = WideArgument(schema);
    const auto t = WideArgument(table);
    const auto y = WideArgument(types);
    CheckCall(SQLTablesW(handle_.get(), nullptr, 0, WidePointer(s), WideLength(s), WidePointer(t),
                         WideLength(t), WidePointer(y), WideLength(y)),
              context);
}

void Statement::Columns(const CatalogArgument& schema, const CatalogArgument& table,
                        std::string_view context) {
    CloseCursor();
    const auto s = WideArgument(schema);
    const auto t = WideArgument(table);
    CheckCall(SQLColumnsW(handle_.get(), nullptr, 0, WidePointer(s), WideLength(s), WidePointer(t),
                          WideLength(t), nullptr, 0),
              context);
}

void Statement::Statistics(const CatalogArgument& schema, const std::string& table,
                           std::string_view context) {
    CloseCursor();
    const auto s = WideArgument(schema);
    const std::optional<WideString> t = Widen(table);
    CheckCall(SQLStatisticsW(handle_.get(), nullptr, 0, WidePointer(s), WideLength(s),
                             WidePointer(t), WideLength(t), SQL_INDEX_ALL, SQL_QUICK),
              context);
}

void Statement::PrimaryKeys(const CatalogArgument& schema, const std::string& table,
                            std::string_view context) {
    CloseCursor();
    const auto s = WideArgument(schema);
    const std::optional<WideString> t = Widen(table);
    CheckCall(SQLPrimaryKeysW(handle_.get(), nullptr, 0, WidePointer(s), WideLength(s),
                              WidePointer(t), WideLength(t)),
              context);
}

void Statement::ForeignKeys(const CatalogArgument& schema, const std::string& table,
                            std::string_view context) {
    CloseCursor();
    const auto s = WideArgument(schema);
    const std::optional<WideString> t = Widen(table);
    CheckCall(SQLForeignKeysW(handle_.get(), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0,
                              WidePointer(s), WideLength(s), WidePointer(t), WideLength(t)),
              context);
}

void Statement::Procedures(const CatalogArgument& schema, const CatalogArgument& procedure,
                           std::string_view context) {
    CloseCursor();
    const auto s = WideArgument(schema);
    const auto p = WideArgument(procedure);
    CheckCall(SQLProceduresW(handle_.get(), nullptr, 0, WidePointer(s), WideLength(s),
                             WidePointer(p), WideLength(p)),
              context);
}

void Statement::ProcedureColumns(const CatalogArgument& schema, const CatalogArgument& procedure,
                                 std::string_view context) {
    CloseCursor();
    const auto s = WideArgument(schema);
    const auto p = WideArgument(procedure);
    CheckCall(SQLProcedureColumnsW(handle_.get(), nullptr, 0, WidePointer(s), WideLength(s),
                                   WidePointer(p), WideLength(p), nullptr, 0),
              context);
}

SQLRETURN Statement::TryFetch() {
    const Connection::RunningCall running(*connection_, handle_.get());
    return SQLFetch(handle_.get());
}

bool Statement::Fetch(std::string_view context) {
    const SQLRETURN rc = TryFetch();
    if (rc == SQL_NO_DATA) {
        return false;
    }
    CheckCall(rc, context);
    return true;
}

SQLSMALLINT Statement::ColumnCount() {
    SQLSMALLINT count = 0;
    CheckCall(SQLNumResultCols(handle_.get(), &count), "reading the result's columns");
    return count;
}

ColumnDescription Statement::Describe(SQLUSMALLINT column) {
    SQLWCHAR name[512] = {};
    SQLSMALLINT nameLength = 0;
    ColumnDescription description;
    SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
    CheckCall(SQLDescribeColW(handle_.get(), column, name, 512, &nameLength, &description.sqlType,
                              &description.size, &description.decimalDigits, &nullable),
              "describing the result's columns");
    description.name = Narrow(name, std::clamp<SQLSMALLINT>(nameLength, 0, 511));
    description.nullable = nullable != SQL_NO_NULLS;
    return description;
}

std::string Statement::BaseColumnName(SQLUSMALLINT column) {
    return TextAttribute(column, SQL_DESC_BASE_COLUMN_NAME);
}

std::string Statement::TypeName(SQLUSMALLINT column) {
    return TextAttribute(column, SQL_DESC_TYPE_NAME);
}

std::string Statement::TextAttribute(SQLUSMALLINT column, SQLUSMALLINT field) {
    SQLWCHAR name[512] = {};
    SQLSMALLINT bytes = 0;
    const SQLRETURN rc =
        SQLColAttributeW(handle_.get(), column, field, name, sizeof name, &bytes, nullptr);
    if (!SQL_SUCCEEDED(rc)) {
        return {};
    }
    const auto units = std::clamp<std::size_t>(
        static_cast<std::size_t>(std::max<int>(bytes, 0)) / sizeof(SQLWCHAR), 0, 511);
    return Narrow(name, units);
}

std::optional<std::string> Statement::GetText(SQLUSMALLINT column, std::string_view context) {
    WideString data;
    std::vector<SQLWCHAR> buffer(kTextChunkUnits);
    const auto bufferBytes = static_cast<SQLLEN>(buffer.size() * sizeof(SQLWCHAR));
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(handle_.get(), column, SQL_C_WCHAR, buffer.data(), bufferBytes, &indicator);
        if (rc == SQL_NO_DATA) {
            break;
        }
        CheckCall(rc, context);
        if (indicator == SQL_NULL_DATA) {
            return std::nullopt;
        }
        const bool truncated =
            rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator >= bufferBytes);
        const std::size_t units =
            truncated ? buffer.size() - 1 : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR);
        data.append(buffer.data(), std::min(units, buffer.size() - 1));
        if (!truncated) {
            break;
        }
    }
    return Narrow(data.data(), data.size());
}

std::optional<Bytes> Statement::GetBytes(SQLUSMALLINT column, std::string_view context) {
    Bytes data;
    std::vector<std::uint8_t> buffer(kBinaryChunkBytes);
    const auto bufferBytes = static_cast<SQLLEN>(buffer.size());
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc =
            SQLGetData(handle_.get(), column, SQL_C_BINARY, buffer.data(), bufferBytes, &indicator);
        if (rc == SQL_NO_DATA) {
            break;
        }
        CheckCall(rc, context);
        if (indicator == SQL_NULL_DATA) {
            return std::nullopt;
        }
        const bool truncated =
            rc == SQL_SUCCESS_WITH_INFO && (indicator == SQL_NO_TOTAL || indicator > bufferBytes);
        const std::size_t bytes =
            truncated ? buffer.size()
                      : std::min(buffer.size(), static_cast<std::size_t>(indicator));
        data.insert(data.end(), buffer.begin(),
                    buffer.begin() + static_cast<std::ptrdiff_t>(bytes));
        if (!truncated) {
            break;
        }
    }
    return data;
}

SQLRETURN Statement::GetPiece(SQLUSMALLINT column, SQLSMALLINT cType, void* buffer,
                              SQLLEN bufferBytes, SQLLEN& indicator, std::string_view context) {
    indicator = 0;
    const SQLRETURN rc = SQLGetData(handle_.get(), column, cType, buffer, bufferBytes, &indicator);
    if (rc != SQL_NO_DATA) {
        CheckCall(rc, context);
    }
    return rc;
}

void Statement::Position(SQLSETPOSIROW row, std::string_view context) {
    CheckCall(SQLSetPos(handle_.get(), row, SQL_POSITION, SQL_LOCK_NO_CHANGE), context);
}

std::vector<std::string> Statement::ColumnNames() {
    std::vector<std::string> names;
    for (SQLUSMALLINT column = 1; column <= ColumnCount(); ++column) {
        names.push_back(Describe(column).name);
    }
    return names;
}

TextRow Statement::ReadRow(std::size_t count, std::string_view context) {
    TextRow row;
    row.reserve(count);
    for (SQLUSMALLINT column = 1; column <= count; ++column) {
        row.push_back(GetText(column, context));
    }
    return row;
}

ResultSet Statement::FetchAll(std::string_view context) {
    ResultSet result;
    result.columns = ColumnNames();
    while (Fetch(context)) {
        result.rows.push_back(ReadRow(result.columns.size(), context));
    }
    CloseCursor();
    return result;
}

void Statement::FetchEach(
    std::string_view context,
    const std::function<void(const std::vector<std::string>& columns, TextRow& row)>& each) {
    const std::vector<std::string> columns = ColumnNames();
    while (Fetch(context)) {
        TextRow row = ReadRow(columns.size(), context);
        each(columns, row);
    }
    CloseCursor();
}

void Statement::CloseCursor() noexcept {
    SQLFreeStmt(handle_.get(), SQL_CLOSE);
}

Connection::Connection(std::string connectString, Timeouts timeouts)
    : connectString_(std::move(connectString)),
      maskedConnectString_(MaskPasswords(connectString_)),
      secrets_(ConnectStringSecrets(connectString_)),
      timeouts_(timeouts) {}

Connection::~Connection() = default;

std::unique_ptr<Connection> Connection::Open(const std::string& connectString, Timeouts timeouts) {
    std::unique_ptr<Connection> connection(new Connection(connectString, timeouts));
    connection->Connect();
    connection->ReadInfo();
    connection->ApplyDriverProfile();
    connection->MakeReadOnly();
    return connection;
}

void Connection::Connect() {
    const std::string target = "cannot connect to '" + maskedConnectString_ + "'";
    SQLHENV env = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        throw DbError(-1, target + ": the ODBC driver manager could not allocate an environment.",
                      kManagerSource);
    }
    environment_.reset(env);
    if (!SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
        throw MakeError(SQL_ERROR, ReadDiagnostics(SQL_HANDLE_ENV, env), target);
    }
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
        throw MakeError(SQL_ERROR, ReadDiagnostics(SQL_HANDLE_ENV, env), target);
    }
    connection_.reset(dbc);
    // Requests the driver may refuse; each is a best effort.
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeouts_.login)), 0);
    SQLSetConnectAttrW(dbc, SQL_ATTR_CONNECTION_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeouts_.statement)), 0);

    WideString in = Widen(WithNeverCreate(connectString_));
    std::vector<SQLWCHAR> out(4096);
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(
        dbc, nullptr, in.data(), static_cast<SQLSMALLINT>(std::min<std::size_t>(in.size(), 32767)),
        out.data(), static_cast<SQLSMALLINT>(out.size()), &outLength, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
        const auto records = ReadDiagnostics(SQL_HANDLE_DBC, dbc);
        const long native = records.empty() ? -1 : records.front().native;
        std::string detail = records.empty() ? "the driver manager gave no reason (return code " +
                                                   std::to_string(rc) + ")."
                                             : DescribeRecords(records);
        if (const std::string missing = MissingSqliteFile(connectString_); !missing.empty()) {
            detail = "the database file '" + missing + "' does not exist (" + detail + ")";
        }
        throw DbError(native, Scrub(target + ": " + detail), kManagerSource);
    }
    SQLSetConnectAttrW(dbc, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY),
                       0);

    std::vector<SQLUSMALLINT> bitmap(SQL_API_ODBC3_ALL_FUNCTIONS_SIZE);
    if (SQL_SUCCEEDED(SQLGetFunctions(dbc, SQL_API_ODBC3_ALL_FUNCTIONS, bitmap.data()))) {
        functions_ = std::move(bitmap);
    }
}

std::string Connection::InfoText(SQLUSMALLINT type) {
    std::vector<SQLWCHAR> buffer(512);
    SQLSMALLINT bytes = 0;
    SQLRETURN rc = SQLGetInfoW(connection_.get(), type, buffer.data(),
                               static_cast<SQLSMALLINT>(buffer.size() * sizeof(SQLWCHAR)), &bytes);
    if (rc == SQL_SUCCESS_WITH_INFO &&
        static_cast<std::size_t>(bytes) >= buffer.size() * sizeof(SQLWCHAR)) {
        buffer.resize(static_cast<std::size_t>(bytes) / sizeof(SQLWCHAR) + 1);
        rc = SQLGetInfoW(connection_.get(), type, buffer.data(),
                         static_cast<SQLSMALLINT>(buffer.size() * sizeof(SQLWCHAR)), &bytes);
    }
    if (!SQL_SUCCEEDED(rc)) {
        return {};
    }
    const auto units = std::min(
        static_cast<std::size_t>(std::max<int>(bytes, 0)) / sizeof(SQLWCHAR), buffer.size() - 1);
    return Narrow(buffer.data(), units);
}

std::uint64_t Connection::InfoNumber(SQLUSMALLINT type, bool smallint) {
    if (smallint) {
        SQLUSMALLINT value = 0;
        if (SQL_SUCCEEDED(SQLGetInfoW(connection_.get(), type, &value, sizeof value, nullptr))) {
            return value;
        }
        return 0;
    }
    SQLUINTEGER value = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(connection_.get(), type, &value, sizeof value, nullptr))) {
        return value;
    }
    return 0;
}

void Connection::ReadInfo() {
    info_.dbmsName = InfoText(SQL_DBMS_NAME);
    info_.dbmsVersion = InfoText(SQL_DBMS_VER);
    info_.driverName = InfoText(SQL_DRIVER_NAME);
    info_.driverVersion = InfoText(SQL_DRIVER_VER);
    info_.driverOdbcVersion = InfoText(SQL_DRIVER_ODBC_VER);
    info_.dataSourceName = InfoText(SQL_DATA_SOURCE_NAME);
    info_.databaseName = InfoText(SQL_DATABASE_NAME);
    info_.serverName = InfoText(SQL_SERVER_NAME);
    info_.userName = InfoText(SQL_USER_NAME);
    info_.identifierQuote = InfoText(SQL_IDENTIFIER_QUOTE_CHAR);
    if (info_.identifierQuote == " ") {
        info_.identifierQuote.clear();
    }
    info_.catalogTerm = InfoText(SQL_CATALOG_TERM);
    info_.schemaTerm = InfoText(SQL_SCHEMA_TERM);
    info_.procedureTerm = InfoText(SQL_PROCEDURE_TERM);
    info_.tableTerm = InfoText(SQL_TABLE_TERM);
    info_.searchPatternEscape = InfoText(SQL_SEARCH_PATTERN_ESCAPE);
    info_.collationSequence = InfoText(SQL_COLLATION_SEQ);
    info_.identifierCase = IdentifierCaseText(InfoNumber(SQL_IDENTIFIER_CASE, true));
    info_.quotedIdentifierCase = IdentifierCaseText(InfoNumber(SQL_QUOTED_IDENTIFIER_CASE, true));
    info_.defaultIsolation = IsolationText(InfoNumber(SQL_DEFAULT_TXN_ISOLATION, false));
    info_.transactions = InfoNumber(SQL_TXN_CAPABLE, true) != SQL_TC_NONE;
    info_.schemasInStatements = (InfoNumber(SQL_SCHEMA_USAGE, false) & SQL_SU_DML_STATEMENTS) != 0;
    info_.dataSourceReadOnly = InfoText(SQL_DATA_SOURCE_READ_ONLY) == "Y";

    std::vector<SQLWCHAR> catalog(512);
    SQLINTEGER bytes = 0;
    if (SQL_SUCCEEDED(SQLGetConnectAttrW(
            connection_.get(), SQL_ATTR_CURRENT_CATALOG, catalog.data(),
            static_cast<SQLINTEGER>(catalog.size() * sizeof(SQLWCHAR)), &bytes))) {
        info_.catalogName = Narrow(
            catalog.data(),
            std::min(static_cast<std::size_t>(std::max<SQLINTEGER>(bytes, 0)) / sizeof(SQLWCHAR),
                     catalog.size() - 1));
    }

    const auto getData = InfoNumber(SQL_GETDATA_EXTENSIONS, false);
    const auto anyColumn = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
    abilities_.bindAndGetData = (getData & anyColumn) == anyColumn;
    abilities_.getDataInBlocks = abilities_.bindAndGetData && (getData & SQL_GD_BLOCK) != 0 &&
                                 HasFunction(SQL_API_SQLSETPOS);

    if (info_.dbmsName == "PostgreSQL") {
        kind_ = Dbms::PostgreSQL;
    } else if (FoldAsciiCase(info_.dbmsName).starts_with("sqlite")) {
        kind_ = Dbms::SQLite;
    }
}

void Connection::ApplyDriverProfile() {
    const DriverProfile profile = ProfileOfDriver(info_.driverName);
    auto sets = [&](const std::vector<std::string_view>& keywords) {
        return SetsAnyOf(connectString_, keywords);
    };
    if (!profile.utf8TextTypes.empty() && !sets(profile.textConversionKeywords)) {
        for (const auto type : profile.utf8TextTypes) {
            abilities_.utf8TextTypes.push_back(FoldAsciiCase(type));
        }
    }
    for (const auto& setting : profile.defaults) {
        if (sets(setting.keywords)) {
            continue;
        }
        // A best effort: a driver that refuses keeps its own setting.
        if (SQL_SUCCEEDED(SQLSetConnectAttrW(connection_.get(), setting.attribute,
                                             reinterpret_cast<SQLPOINTER>(setting.value), 0)) &&
            setting.attribute == profile.batchRowsAttribute && profile.batchBytes > 0) {
            ownBatches_ = OwnBatches{setting.attribute, profile.batchBytes, profile.maxBatchRows,
                                     static_cast<std::size_t>(setting.value)};
        }
    }
}

std::optional<std::int64_t> Connection::DriverAttribute(SQLINTEGER attribute) const {
    SQLINTEGER value = 0;
    if (!SQL_SUCCEEDED(
            SQLGetConnectAttrW(connection_.get(), attribute, &value, sizeof value, nullptr))) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::size_t> Connection::DriverBatchRows() const {
    const DriverProfile profile = ProfileOfDriver(info_.driverName);
    if (!profile.batchingAttribute || !profile.batchRowsAttribute ||
        DriverAttribute(*profile.batchingAttribute).value_or(0) == 0) {
        return std::nullopt;
    }
    const auto rows = DriverAttribute(*profile.batchRowsAttribute);
    if (!rows || *rows <= 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*rows);
}

std::optional<std::size_t> Connection::ResizeDriverBatches(std::size_t bytesPerRow) {
    if (!ownBatches_) {
        return std::nullopt;
    }
    const std::size_t rows = std::clamp<std::size_t>(
        ownBatches_->bytes / std::max<std::size_t>(bytesPerRow, 1), 1, ownBatches_->maxRows);
    if (rows != ownBatches_->rows &&
        SQL_SUCCEEDED(SQLSetConnectAttrW(connection_.get(), ownBatches_->attribute,
                                         reinterpret_cast<SQLPOINTER>(rows), 0))) {
        ownBatches_->rows = rows;
    }
    return ownBatches_->rows;
}

void Connection::MakeReadOnly() {
    const Dialect& dialect = DialectFor(kind_);
    for (const auto& statement : dialect.ReadOnlyStatements()) {
        NewStatement().Execute(statement.sql, statement.purpose);
    }
    if (dialect.ReadsInOneTransaction()) {
        Check(SQLSetConnectAttrW(connection_.get(), SQL_ATTR_AUTOCOMMIT,
                                 reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0),
              SQL_HANDLE_DBC, connection_.get(), "starting a read-only transaction");
        manualCommit_ = true;
    }
}

Statement Connection::NewStatement() {
    BeginDueTransaction();
    return AllocateStatement();
}

bool Connection::BeginDueTransaction() {
    if (transactionStartDue_) {
        transactionStartDue_ = false;
        if (!StartTransaction()) {
            transactionStart_.clear();
            RecoverAfterFailure();
        }
    }
    return !transactionStart_.empty();
}

bool Connection::BeginTransactionsWith(std::string statement) {
    if (!manualCommit_) {
        return false;
    }
    transactionStart_ = std::move(statement);
    transactionStartDue_ = false;
    if (!StartTransaction()) {
        transactionStart_.clear();
        RecoverAfterFailure();
        return false;
    }
    return true;
}

bool Connection::StartTransaction() {
    Statement statement = AllocateStatement();
    return SQL_SUCCEEDED(statement.TryExecute(transactionStart_));
}

Statement Connection::AllocateStatement() {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    const SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, connection_.get(), &stmt);
    if (!SQL_SUCCEEDED(rc)) {
        throw MakeError(rc, SQL_HANDLE_DBC, connection_.get(), "allocating a statement");
    }
    StatementHandle handle(stmt);
    if (timeouts_.statement > 0) {
        SQLSetStmtAttrW(stmt, SQL_ATTR_QUERY_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeouts_.statement)), 0);
    }
    return Statement(*this, std::move(handle));
}

bool Connection::HasFunction(SQLUSMALLINT id) const {
    if (functions_.empty()) {
        return true;  // the driver did not say: try, and treat a refusal as absence
    }
    return SQL_FUNC_EXISTS(functions_.data(), id) == SQL_TRUE;
}

std::string Connection::QuoteIdentifier(std::string_view name) const {
    const std::string& quote = info_.identifierQuote;
    if (quote.empty()) {
        return std::string(name);
    }
    std::string quoted = quote;
    std::size_t pos = 0;
    while (pos < name.size()) {
        const auto next = name.find(quote, pos);
        if (next == std::string_view::npos) {
            quoted.append(name.substr(pos));
            break;
        }
        quoted.append(name.substr(pos, next - pos)).append(quote).append(quote);
        pos = next + quote.size();
    }
    return quoted + quote;
}

std::string Connection::EscapePattern(std::string_view name) const {
    const std::string& escape = info_.searchPatternEscape;
    if (escape.empty()) {
        return std::string(name);
    }
    std::string escaped;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '_' || name[i] == '%' || name.substr(i).starts_with(escape)) {
            escaped += escape;
        }
        escaped += name[i];
    }
    return escaped;
}

DbError Connection::MakeError(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle,
                              std::string_view context) const {
    return MakeError(rc, ReadDiagnostics(handleType, handle), context);
}

DbError Connection::MakeError(SQLRETURN rc, const std::vector<Diagnostic>& records,
                              std::string_view context) const {
    if (records.empty()) {
        std::string text = "the ODBC call failed with return code " + std::to_string(rc) + ".";
        if (!context.empty()) {
            text = std::string(context) + ": " + text;
        }
        return DbError(-1, Scrub(text), Source());
    }
    std::string lead;
    if (IsConnectionFailure(records)) {
        lead = "connection lost";
        if (!context.empty()) {
            lead += " while " + std::string(context);
        }
    } else {
        lead = std::string(context);
    }
    return DescribeFailure(lead, records);
}

DbError Connection::DescribeFailure(std::string_view lead,
                                    const std::vector<Diagnostic>& records) const {
    std::string text(lead);
    if (!text.empty()) {
        text += ": ";
    }
    text += DescribeRecords(records);
    return DbError(records.empty() ? -1 : records.front().native, Scrub(text), Source());
}

void Connection::Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle,
                       std::string_view context) const {
    if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) {
        return;
    }
    throw MakeError(rc, handleType, handle, context);
}

std::string Connection::Scrub(std::string text) const {
    for (const auto& secret : secrets_) {
        if (secret.size() < kShortestScrubbedSecret) {
            continue;
        }
        std::size_t pos = 0;
        while ((pos = text.find(secret, pos)) != std::string::npos) {
            text.replace(pos, secret.size(), "***");
            pos += 3;
        }
    }
    return text;
}

std::string Connection::Source() const {
    return info_.driverName.empty() ? std::string(kManagerSource) : info_.driverName;
}

Connection::RunningCall::RunningCall(Connection& connection, SQLHSTMT statement)
    : connection_(connection) {
    const std::lock_guard lock(connection_.runningMutex_);
    connection_.running_ = statement;
}

Connection::RunningCall::~RunningCall() {
    const std::lock_guard lock(connection_.runningMutex_);
    connection_.running_ = nullptr;
}

void Connection::CancelRunningCall() noexcept {
    const std::lock_guard lock(runningMutex_);
    if (running_) {
        SQLCancel(running_);
    }
}

void Connection::EndTransactionKeepingSnapshot() noexcept {
    if (manualCommit_ && connection_ && !transactionStart_.empty() && !transactionStartDue_) {
        SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_COMMIT);
        transactionStartDue_ = true;
    }
}

void Connection::RecoverAfterFailure() noexcept {
    if (manualCommit_ && connection_) {
        SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
        transactionStartDue_ = !transactionStart_.empty();
    }
}

}  // namespace kesmark::odbc
