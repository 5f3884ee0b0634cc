#pragma once

// One read-only connection to an ODBC data source and the statements run on
// it. Every SQLRETURN is checked here and a failure becomes a DbError whose
// number is the driver's native error code, whose description holds the
// SQLSTATE and the driver's message, and whose source is the driver's name
// ("ODBC" before the driver is known). Passwords of the connect string never
// appear in an error.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/backends/odbc/odbc_handles.h"
#include "engine/model/connect_string.h"
#include "engine/model/db_error.h"
#include "engine/model/value.h"

namespace kesmark::odbc {

// How long the backend waits for the data source, in seconds; 0 waits for
// ever. The login timeout bounds the connecting, the statement timeout every
// statement and catalog call, so that a dead server cannot hang a run.
struct Timeouts {
    int login = 15;
    int statement = 300;
};

// The database systems whose own catalogs the backend reads beyond the ODBC
// catalog functions (view and function definitions, triggers).
enum class Dbms { PostgreSQL, SQLite, Other };

// What the driver reports about itself and the data source (SQLGetInfo).
struct SourceInfo {
    std::string dbmsName;
    std::string dbmsVersion;
    std::string driverName;
    std::string driverVersion;
    std::string driverOdbcVersion;
    std::string dataSourceName;
    std::string databaseName;
    std::string catalogName;  // the current catalog, empty when there is none
    std::string serverName;
    std::string userName;
    std::string identifierQuote;  // empty when the source does not quote names
    std::string catalogTerm;
    std::string schemaTerm;
    std::string procedureTerm;
    std::string tableTerm;
    std::string searchPatternEscape;
    std::string collationSequence;
    std::string identifierCase;
    std::string quotedIdentifierCase;
    std::string defaultIsolation;
    bool transactions = false;
    bool schemasInStatements = false;  // names may be qualified by schema in a SELECT
    bool dataSourceReadOnly = false;
};

// How the driver lets a result's columns be read (SQL_GETDATA_EXTENSIONS,
// SQLSetPos): bound to buffers for many rows at a time, with SQLGetData
// still reading any column's whole value.
struct FetchAbilities {
    // Columns may be bound, and SQLGetData may still read any column of the
    // row, bound or not, in any order.
    bool bindAndGetData = false;
    // SQLGetData may read a column of any row of a block of rows, after
    // SQLSetPos has positioned on it.
    bool getDataInBlocks = false;
    // The source's types (SQL_DESC_TYPE_NAME, in lower case) whose text
    // asked for as bytes (SQL_C_BINARY) comes in UTF-8, unchanged, when it
    // comes in one piece.
    std::vector<std::string> utf8TextTypes;
};

// One described result column.
struct ColumnDescription {
    std::string name;
    SQLSMALLINT sqlType = 0;
    SQLULEN size = 0;
    SQLSMALLINT decimalDigits = 0;
    bool nullable = true;
};

// A catalog argument: nullopt passes a null pointer (the driver's "any").
using CatalogArgument = std::optional<std::string>;

// One row of a result set, every column as text (nullopt for Null).
using TextRow = std::vector<std::optional<std::string>>;

// A whole result set read as text: the column names and the rows.
struct ResultSet {
    std::vector<std::string> columns;
    std::vector<TextRow> rows;

    // The 1-based number of the column of that name (ASCII letter case
    // ignored), or nullopt.
    std::optional<std::size_t> ColumnNumber(std::string_view name) const;
};

class Connection;

// A value bound to a parameter marker ("?") of a statement: text, handed to
// the driver as UTF-16 for it to convert to the SQL type of the column it is
// compared with, or bytes.
struct Parameter {
    std::optional<std::string> text;  // nullopt: `bytes`
    Bytes bytes;
    ColumnDescription column;  // the SQL type, size and digits of the column
};

// A statement handle on a connection. Move-only; borrows the connection.
class Statement {
  public:
    Statement(Connection& connection, StatementHandle handle);
    Statement(Statement&&) noexcept = default;
    Statement& operator=(Statement&&) = delete;

    SQLHSTMT Handle() const { return handle_.get(); }

    // Runs `sql`. Throws DbError naming `context` ("counting the rows of
    // table T").
    void Execute(std::string_view sql, std::string_view context);
    // As Execute, but returns the driver's SQLRETURN instead of throwing; the
    // diagnostics are then in Diagnostics().
    SQLRETURN TryExecute(std::string_view sql);
    // Prepares `sql`, binds `parameters` to its markers in order and runs it;
    // returns the driver's SQLRETURN as TryExecute does. The values are never
    // written into the statement.
    SQLRETURN TryExecute(std::string_view sql, const std::vector<Parameter>& parameters);
    std::vector<Diagnostic> Diagnostics() const;
    // The SQLSTATE of the last failure this statement threw for, "" if none.
    const std::string& LastState() const { return lastState_; }

    // The catalog functions. Pattern arguments are passed as given: escape
    // them with Connection::EscapePattern. Throw DbError naming `context`.
    void Tables(const CatalogArgument& schema, const CatalogArgument& table,
                const CatalogArgument& types, std::string_view context);
    void Columns(const CatalogArgument& schema, const CatalogArgument& table,
                 std::string_view context);
    void Statistics(const CatalogArgument& schema, const std::string& table,
                    std::string_view context);
    void PrimaryKeys(const CatalogArgument& schema, const std::string& table,
                     std::string_view context);
    void ForeignKeys(const CatalogArgument& schema, const std::string& table,
                     std::string_view context);
    void Procedures(const CatalogArgument& schema, const CatalogArgument& procedure,
                    std::string_view context);
    void ProcedureColumns(const CatalogArgument& schema, const CatalogArgument& procedure,
                          std::string_view context);

    // Moves to the next row: true on a row, false at the end. Throws DbError.
    bool Fetch(std::string_view context);
    // As Fetch, but returns the driver's SQLRETURN instead of throwing.
    SQLRETURN TryFetch();

    SQLSMALLINT ColumnCount();
    ColumnDescription Describe(SQLUSMALLINT column);
    // The base column a result column was read from, empty when unknown.
    std::string BaseColumnName(SQLUSMALLINT column);
    // The source's own name of a result column's type ("varchar"), empty
    // when unknown.
    std::string TypeName(SQLUSMALLINT column);

    // The value of `column` (1-based) of the current row, read with
    // SQLGetData in chunks: as text (nullopt for Null), or as bytes. Each
    // column can be read once per row, in ascending order.
    std::optional<std::string> GetText(SQLUSMALLINT column, std::string_view context);
    std::optional<Bytes> GetBytes(SQLUSMALLINT column, std::string_view context);
    // One SQLGetData call: the next piece of `column` into `buffer`. Returns
    // SQL_SUCCESS (the last piece), SQL_SUCCESS_WITH_INFO (more follows) or
    // SQL_NO_DATA (nothing left); throws DbError naming `context` otherwise.
    SQLRETURN GetPiece(SQLUSMALLINT column, SQLSMALLINT cType, void* buffer, SQLLEN bufferBytes,
                       SQLLEN& indicator, std::string_view context);
    // Positions the cursor on row `row` (1-based) of the current block of
    // rows (SQLSetPos, SQL_POSITION), so that SQLGetData reads that row's
    // columns again from their beginning. Throws DbError naming `context`.
    void Position(SQLSETPOSIROW row, std::string_view context);

    // Every remaining row with every column as text; the cursor is closed.
    ResultSet FetchAll(std::string_view context);
    // The names of the result's columns.
    std::vector<std::string> ColumnNames();
    // As FetchAll, one row at a time: `each` gets the column names and the
    // row, which it may move from; nothing is held between rows.
    void FetchEach(
        std::string_view context,
        const std::function<void(const std::vector<std::string>& columns, TextRow& row)>& each);

    void CloseCursor() noexcept;

  private:
    // The current row's columns 1 to `count` as text.
    TextRow ReadRow(std::size_t count, std::string_view context);
    void CheckCall(SQLRETURN rc, std::string_view context);
    // A text attribute of a result column (SQLColAttribute), "" when the
    // driver gives none.
    std::string TextAttribute(SQLUSMALLINT column, SQLUSMALLINT field);

    Connection* connection_;  // Not owned.
    StatementHandle handle_;
    std::string lastState_;
};

class Connection {
  public:
    // Connects with `connectString` (the part after "ODBC;") through
    // SQLDriverConnect without prompting, asks for a read-only connection and
    // makes it read-only in fact where the source allows:
    // - PostgreSQL: every transaction of the session is READ ONLY, and the
    //   whole connection runs in one REPEATABLE READ transaction, so that the
    //   comparison sees one snapshot;
    // - SQLite: query_only, so that the file cannot be written.
    // The driver's settings the backend chooses (DriverProfile: the
    // PostgreSQL driver reads through a cursor, in batches) are given where
    // neither the connect string nor the data source sets them.
    // Throws DbError (description "cannot connect to <connect string with
    // passwords masked>: [SQLSTATE] message") when the connection fails.
    static std::unique_ptr<Connection> Open(const std::string& connectString, Timeouts timeouts);

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    // A new statement with the statement timeout set.
    Statement NewStatement();

    const FetchAbilities& Abilities() const { return abilities_; }
    // The rows the driver reads from the server at a time when it reads a
    // result in batches (the PostgreSQL driver through a cursor); nullopt
    // when it reads whole results, or does not say.
    std::optional<std::size_t> DriverBatchRows() const;
    // When the backend chose the driver's batch size (DriverProfile), sizes
    // the batches to come for rows of about `bytesPerRow` bytes and returns
    // their rows; nullopt when the batch size is not the backend's to change.
    std::optional<std::size_t> ResizeDriverBatches(std::size_t bytesPerRow);
    // The driver's value of one of its own integer connection attributes;
    // nullopt when it does not know the attribute.
    std::optional<std::int64_t> DriverAttribute(SQLINTEGER attribute) const;

    const SourceInfo& Info() const { return info_; }
    Dbms Kind() const { return kind_; }
    const Timeouts& GetTimeouts() const { return timeouts_; }
    // The connect string as given, passwords replaced by "***".
    const std::string& MaskedConnectString() const { return maskedConnectString_; }

    // True when the driver implements the ODBC function `id` (SQL_API_...).
    bool HasFunction(SQLUSMALLINT id) const;

    // `name` between the identifier quotes the driver reports, each quote
    // inside doubled; unchanged when the source has no identifier quote.
    std::string QuoteIdentifier(std::string_view name) const;
    // `name` with the search-pattern characters "_" and "%" (and the escape
    // itself) escaped, for the pattern arguments of the catalog functions.
    std::string EscapePattern(std::string_view name) const;

    // The error for a failed call on `handle`, from its diagnostic records.
    // When the records say the connection is gone, the description begins
    // "connection lost while <context>".
    DbError MakeError(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle,
                      std::string_view context) const;
    DbError MakeError(SQLRETURN rc, const std::vector<Diagnostic>& records,
                      std::string_view context) const;
    // An error whose description is `lead`, ": " and the diagnostic records
    // ("connection lost after 20 rows of table T: [08S01] ...").
    DbError DescribeFailure(std::string_view lead, const std::vector<Diagnostic>& records) const;
    // Throws MakeError(...) unless `rc` is SQL_SUCCESS, SQL_SUCCESS_WITH_INFO
    // or SQL_NO_DATA.
    void Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle,
               std::string_view context) const;

    // `text` with every password of the connect string replaced by "***".
    std::string Scrub(std::string text) const;
    // The caption of our errors: the driver's name, or "ODBC".
    std::string Source() const;

    // After a failed statement: ends the read-only transaction, if one is
    // open, so that the next statement starts afresh (a failed statement
    // leaves a PostgreSQL transaction unusable).
    void RecoverAfterFailure() noexcept;

    // Where the session reads in one transaction: makes `statement` the
    // first of each transaction it begins from now on, and runs it now,
    // before any other (PostgreSQL: "SET TRANSACTION SNAPSHOT '...'", the
    // snapshot another session exported, so that both read the same state
    // of the database, failed statements and all). false, with nothing
    // kept, when the server refuses it now; a later refusal drops it too.
    bool BeginTransactionsWith(std::string statement);
    // Runs that statement now where a transaction was ended since it last
    // ran; true while every transaction begins with it (and this one did).
    bool BeginDueTransaction();
    // Begins no transaction with it any more.
    void StopBeginningTransactionsWith() { transactionStart_.clear(); }
    // Where every transaction begins with that statement: ends the running
    // one, letting go of the locks its reads took (one a table read, kept
    // to its end, run out on a large schema); the next statement begins
    // another, reading the same snapshot. Nothing otherwise.
    void EndTransactionKeepingSnapshot() noexcept;

    // While a statement's call runs (executing, fetching), the connection
    // knows the statement, so that another thread can stop it.
    class RunningCall {
      public:
        RunningCall(Connection& connection, SQLHSTMT statement);
        ~RunningCall();
        RunningCall(const RunningCall&) = delete;
        RunningCall& operator=(const RunningCall&) = delete;

      private:
        Connection& connection_;  // Not owned.
    };
    // Asks the driver to stop the call running on this connection, if any
    // (SQLCancel); that call then fails. Safe from any thread.
    void CancelRunningCall() noexcept;

  private:
    Connection(std::string connectString, Timeouts timeouts);
    void Connect();
    void ReadInfo();
    // Sets the driver's settings the connect string and the data source
    // leave out (DriverProfile), and what the profile says of its text.
    void ApplyDriverProfile();
    void MakeReadOnly();
    std::string InfoText(SQLUSMALLINT type);
    Statement AllocateStatement();
    // Runs transactionStart_ on a new statement; false when it fails.
    bool StartTransaction();
    std::uint64_t InfoNumber(SQLUSMALLINT type, bool smallint);

    std::string connectString_;
    std::string maskedConnectString_;
    std::vector<std::string> secrets_;
    Timeouts timeouts_;
    EnvironmentHandle environment_;
    ConnectionHandle connection_;
    SourceInfo info_;
    Dbms kind_ = Dbms::Other;
    bool manualCommit_ = false;
    // The first statement of every transaction, and whether the next
    // statement begins a transaction that has not run it.
    std::string transactionStart_;
    bool transactionStartDue_ = false;
    std::vector<SQLUSMALLINT> functions_;
    FetchAbilities abilities_;
    // The driver's batch-size attribute, its bounds, and the size last set,
    // when the backend chose it.
    struct OwnBatches {
        SQLINTEGER attribute = 0;
        std::size_t bytes = 0;
        std::size_t maxRows = 0;
        std::size_t rows = 0;
    };
    std::optional<OwnBatches> ownBatches_;
    std::mutex runningMutex_;
    SQLHSTMT running_ = nullptr;  // the statement whose call runs; Not owned.
};

}  // namespace kesmark::odbc
