#pragma once

// Move-only owners of the ODBC handles (environment, connection, statement),
// the reading of diagnostic records, and the conversion between our UTF-8
// text and the driver manager's UTF-16 (SQLWCHAR) text. The backend talks to
// the driver manager through the wide-character functions only, so names and
// values beyond ASCII reach us unchanged whatever the process's locale.

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kesmark::odbc {

using WideString = std::basic_string<SQLWCHAR>;

// UTF-8 to UTF-16 code units; an invalid byte becomes U+FFFD.
WideString Widen(std::string_view utf8);
// UTF-16 code units to UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(const SQLWCHAR* text, std::size_t length);
// Appends the UTF-8 of `length` UTF-16 code units to `out`, as Narrow does,
// quickly for ASCII.
void AppendNarrow(const SQLWCHAR* text, std::size_t length, std::string& out);

struct EnvironmentFreer {
    void operator()(SQLHENV env) const noexcept;
};
// Rolls back what the connection may have open (it only ever reads), then
// disconnects and frees it. Failures are ignored: the connection may never
// have been connected, or may already be lost.
struct ConnectionFreer {
    void operator()(SQLHDBC dbc) const noexcept;
};
struct StatementFreer {
    void operator()(SQLHSTMT stmt) const noexcept;
};

using EnvironmentHandle = std::unique_ptr<void, EnvironmentFreer>;
using ConnectionHandle = std::unique_ptr<void, ConnectionFreer>;
using StatementHandle = std::unique_ptr<void, StatementFreer>;

// One diagnostic record: the five-character SQLSTATE, the native error code
// of the driver or data source, and the message text.
struct Diagnostic {
    std::string state;
    long native = 0;
    std::string message;
};

// Every diagnostic record of a handle, in the order the driver manager keeps
// them (the most important first). Empty when there are none.
std::vector<Diagnostic> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle);

// True for the SQLSTATEs that mean the connection to the data source is gone:
// class 08 (connection exception), and 57P (the server ended the session: shut
// down, crashed or dropped the database), which is what PostgreSQL's driver
// reports for a server that stopped. A timeout (HYT00, HYT01) is not one: the
// server answered that it gave up.
bool IsConnectionFailure(std::string_view state);
// True when any of the records says so.
bool IsConnectionFailure(const std::vector<Diagnostic>& records);

// True for the SQLSTATEs a driver gives for a function or feature it does not
// implement (IM001, HYC00).
bool IsNotImplemented(std::string_view state);

}  // namespace kesmark::odbc
