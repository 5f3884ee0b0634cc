#pragma once

// Every row of a PostgreSQL table read with COPY ... TO STDOUT through
// libpq, beside the PostgreSQL ODBC driver. Reading a large table through
// the driver spends most of a comparison's time in the driver's per-value
// conversions; COPY hands over the server's text of a whole row at once.
//
// A second session to the same server exports its snapshot, which every
// transaction of the ODBC session then reads, and takes the ODBC session's
// date, time zone and number formats. Each value becomes what the driver's
// text of it makes (ValueFromText), and only for the types whose COPY text
// is the driver's text (CopyReadsAlike); a table with any other type is
// read through the driver. Long values come in pieces
// (odbc_postgres_long_values.h).

#include <libpq-fe.h>

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/backends/odbc/odbc_connection.h"
#include "engine/backends/odbc/odbc_recordset.h"
#include "engine/model/object_model.h"

namespace kesmark::odbc {

// True for a PostgreSQL type (its name as the driver reports it) whose text
// in COPY gives the value the driver's text of it gives.
bool CopyReadsAlike(std::string_view typeName);

// True when `recordset` reads through COPY (long values in pieces or not).
bool ReadsThroughCopy(const Recordset& recordset);

// One libpq connection, finished when it goes. Move-only.
class PgConnection {
  public:
    PgConnection() = default;
    explicit PgConnection(PGconn* handle) : handle_(handle) {}
    PgConnection(PgConnection&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    PgConnection& operator=(PgConnection&& other) noexcept;
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;
    ~PgConnection();

    PGconn* get() const { return handle_; }

  private:
    PGconn* handle_ = nullptr;
};

// The second session, on the server of one ODBC connection.
class CopySession {
  public:
    // Connects to the server `odbc` talks to, with the host, port, database,
    // user, password and SSL mode its connect string (the part after
    // "ODBC;") or data source gives, and makes every transaction of `odbc`
    // read this session's snapshot. To be called before `odbc` runs any
    // statement in its transaction. nullptr, with why in `reason`, when it
    // cannot, or reaches another user, or the server's text is not UTF-8.
    static std::unique_ptr<CopySession> Open(Connection& odbc, const std::string& connectString,
                                             std::string& reason);
    ~CopySession();
    CopySession(const CopySession&) = delete;
    CopySession& operator=(const CopySession&) = delete;

    // Opens a recordset over `copy` ("COPY (SELECT ...) TO STDOUT", whose
    // columns are `columns`), in the snapshot the ODBC session reads.
    // nullptr when the session is reading another table, or COPY cannot
    // start (the driver reads then).
    std::unique_ptr<Recordset> OpenRecordset(std::string table, std::vector<ResultShape> columns,
                                             const std::string& copy);

    // Asks the server to stop the COPY running, if any. Any thread.
    void Cancel() noexcept;

    // Used by the recordset: the connection, and the end of its COPY (its
    // savepoint rolled back to, its locks let go).
    PGconn* Handle() const { return connection_.get(); }
    void EndCopy();

  private:
    // The message of the session's last failure, one line.
    std::string LastError() const;
    CopySession(Connection& odbc, PgConnection connection);
    bool Run(const std::string& sql);
    void Release();

    Connection& odbc_;  // Not owned.
    PgConnection connection_;
    std::unique_ptr<PGcancel, void (*)(PGcancel*)> cancel_{nullptr, PQfreeCancel};
    std::atomic<bool> busy_ = false;
};

// The server's text of a value of `typeName` as the driver gives it: a
// boolean "1" or "0" (not "t", "f"), a uuid in capitals (in `scratch`); any
// other text as it is. Where the driver loses what the text says (a date
// or timestamp "infinity" and "-infinity", both "0000-00-00" through the
// driver, or a date's era "BC"), the server's text stays: such values then
// differ from the driver's reading, never wrongly equal one another.
std::string_view DriverTextOf(std::string_view typeName, std::string_view text,
                              std::string& scratch);

// One row of COPY's text format split into its fields, escapes undone:
// `fields` and `nulls` get one entry per field, pointing into `buffer`.
// false when the line is not well formed.
bool SplitCopyRow(std::string_view line, std::string& buffer,
                  std::vector<std::pair<std::size_t, std::size_t>>& fields,
                  std::vector<bool>& nulls);

}  // namespace kesmark::odbc
