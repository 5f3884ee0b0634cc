#include "engine/backends/odbc/odbc_postgres_copy.h"

#include <algorithm>
#include <array>

#include "engine/backends/odbc/odbc_connect_string.h"
#include "engine/backends/odbc/odbc_postgres_long_values.h"
#include "engine/backends/odbc/odbc_types.h"
#include "engine/model/text.h"
#include "engine/model/value_codec.h"

namespace kesmark::odbc {

namespace {

DbError NoCurrentRecord() {
    return DbError(errors::kNoCurrentRecord, "No current record.", "PostgreSQL");
}

// A result of libpq, cleared when it goes.
using PgResult = std::unique_ptr<PGresult, void (*)(PGresult*)>;

PgResult Exec(PGconn* connection, const std::string& sql) {
    return PgResult(PQexec(connection, sql.c_str()), PQclear);
}

// The first line of libpq's message.
std::string FirstLine(const char* message) {
    std::string text = message ? message : "";
    text = text.substr(0, text.find('\n'));
    return text;
}

// The rows of a query on the ODBC session, as text.
std::vector<TextRow> OdbcRows(Connection& odbc, const std::string& sql, std::string_view context) {
    auto statement = odbc.NewStatement();
    statement.Execute(sql, context);
    return statement.FetchAll(context).rows;
}

// What identifies the session's server, database and user, and the server's
// encoding.
constexpr std::string_view kIdentityQuery =
    "SELECT pg_catalog.current_database(), current_user, "
    "pg_catalog.pg_postmaster_start_time()::text, pg_catalog.current_setting('server_encoding')";

// The settings that shape the text of dates, times and numbers.
constexpr std::string_view kFormatsQuery =
    "SELECT name, setting FROM pg_catalog.pg_settings "
    "WHERE name IN ('DateStyle', 'IntervalStyle', 'TimeZone', 'extra_float_digits')";

// The bytes of a bytea in the hex format ("\x0aff"); false when `text` is
// not one.
bool DecodeBytea(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() < 2 || text[0] != '\\' || text[1] != 'x' || text.size() % 2 != 0) {
        return false;
    }
    out.reserve((text.size() - 2) / 2);
    for (std::size_t i = 2; i < text.size(); i += 2) {
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out.push_back(static_cast<char>(high * 16 + low));
    }
    return true;
}

class CopyRecordset : public Recordset {
  public:
    CopyRecordset(CopySession& session, std::string table, std::vector<ResultShape> columns)
        : session_(session), table_(std::move(table)), columns_(std::move(columns)) {
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            fields_.push_back(std::make_unique<OwnedField<CopyRecordset>>(*this, i));
            bytea_.push_back(IsBinarySqlType(columns_[i].description.sqlType));
        }
        try {
            Advance();
        } catch (...) {
            Close();
            throw;
        }
    }
    ~CopyRecordset() override { Close(); }

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
        eof_ = true;
        if (closed_) {
            return;
        }
        closed_ = true;
        if (copying_) {
            // Stopped before its end: the server is told to stop, and what
            // it sent meanwhile is read and dropped.
            session_.Cancel();
            PGconn* connection = session_.Handle();
            char* data = nullptr;
            while (PQgetCopyData(connection, &data, 0) > 0) {
                PQfreemem(data);
            }
            while (PGresult* result = PQgetResult(connection)) {
                PQclear(result);
            }
            copying_ = false;
        }
        session_.EndCopy();
    }

    std::size_t FieldCount() override { return fields_.size(); }
    RecordsetField& Field(std::size_t index) override {
        if (index >= fields_.size()) {
            throw DbError(errors::kItemNotFound, "Item not found in this collection.",
                          "PostgreSQL");
        }
        return *fields_[index];
    }

    bool AppendEncodedRow(std::string& out, std::vector<std::uint32_t>& ends,
                          std::int64_t longValueLimit) override {
        CheckRow();
        if (longValueLimit < static_cast<std::int64_t>(kLongValuePiece)) {
            return Recordset::AppendEncodedRow(out, ends, longValueLimit);
        }
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            AppendEncoded(i, out);
            ends.push_back(static_cast<std::uint32_t>(out.size()));
        }
        return true;
    }

    const ResultShape& Column(std::size_t index) const { return columns_[index]; }
    const std::string& Table() const { return table_; }

    Value ValueAt(std::size_t index) {
        CheckRow();
        if (nulls_[index]) {
            return Value();
        }
        if (bytea_[index]) {
            const std::string& bytes = Bytea(index);
            const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
            return Value(Bytes(data, data + bytes.size()));
        }
        return ValueFromText(columns_[index].description.sqlType, std::string(TextOf(index)));
    }

    void AppendEncoded(std::size_t index, std::string& out) {
        CheckRow();
        if (nulls_[index]) {
            out.push_back(value_tags::kNull);
        } else if (bytea_[index]) {
            EncodeBytes(value_tags::kBytes, Bytea(index), out);
        } else {
            EncodeText(columns_[index].description.sqlType, TextOf(index), out);
        }
    }

    std::int64_t SizeAt(std::size_t index) {
        CheckRow();
        if (nulls_[index]) {
            return 0;
        }
        if (bytea_[index]) {
            return static_cast<std::int64_t>(Bytea(index).size());
        }
        // Text only: a number or date has no size, as through the driver.
        const Value value = ValueAt(index);
        const auto* text = value.As<std::string>();
        return text ? static_cast<std::int64_t>(text->size()) : 0;
    }

    Bytes ChunkAt(std::size_t index, std::int64_t offset, std::size_t count) {
        CheckRow();
        if (nulls_[index] || offset < 0) {
            return {};
        }
        std::string_view all;
        const Value value = bytea_[index] ? Value() : ValueAt(index);
        if (bytea_[index]) {
            all = Bytea(index);
        } else if (const auto* text = value.As<std::string>()) {
            all = *text;
        }
        if (static_cast<std::size_t>(offset) >= all.size()) {
            return {};
        }
        const std::string_view piece = all.substr(static_cast<std::size_t>(offset), count);
        const auto* data = reinterpret_cast<const std::uint8_t*>(piece.data());
        return Bytes(data, data + piece.size());
    }

  private:
    void CheckRow() const {
        if (eof_ || closed_) {
            throw NoCurrentRecord();
        }
    }

    std::string RowContext() const {
        return "reading row " + std::to_string(rowsRead_ + 1) + " of table " + table_;
    }

    // The next row from the server; EOF at the end of the COPY.
    void Advance() {
        PGconn* connection = session_.Handle();
        char* data = nullptr;
        const int length = PQgetCopyData(connection, &data, 0);
        if (length == -1) {
            copying_ = false;
            eof_ = true;
            PgResult result(PQgetResult(connection), PQclear);
            const bool ok = result && PQresultStatus(result.get()) == PGRES_COMMAND_OK;
            const std::string message = FirstLine(PQerrorMessage(connection));
            while (PGresult* rest = PQgetResult(connection)) {
                PQclear(rest);
            }
            if (!ok) {
                throw Failure(message);
            }
            return;
        }
        if (length < 0) {
            copying_ = false;
            eof_ = true;
            throw Failure(FirstLine(PQerrorMessage(connection)));
        }
        const std::unique_ptr<char, void (*)(void*)> line(data, PQfreemem);
        std::string_view text(data, static_cast<std::size_t>(length));
        if (!text.empty() && text.back() == '\n') {
            text.remove_suffix(1);
        }
        const std::size_t expected = columns_.size();
        if (!SplitCopyRow(text, buffer_, spans_, nulls_) || spans_.size() != expected) {
            eof_ = true;
            throw DbError(-1,
                          RowContext() + ": the server's row has " + std::to_string(spans_.size()) +
                              " fields, not " + std::to_string(expected) + ".",
                          "PostgreSQL");
        }
        decoded_.assign(columns_.size(), false);
        ++rowsRead_;
        eof_ = false;
    }

    DbError Failure(const std::string& message) {
        if (PQstatus(session_.Handle()) == CONNECTION_BAD) {
            return DbError(-1,
                           "connection lost after " + std::to_string(rowsRead_) +
                               " rows of table " + table_ + ": " + message,
                           "PostgreSQL");
        }
        return DbError(-1, RowContext() + ": " + message, "PostgreSQL");
    }

    std::string_view TextOf(std::size_t index) {
        const auto [start, size] = spans_[index];
        return DriverTextOf(columns_[index].typeName, std::string_view(buffer_).substr(start, size),
                            scratch_);
    }

    // The bytes of column `index`'s bytea, decoded on first use.
    const std::string& Bytea(std::size_t index) {
        if (bytes_.size() < columns_.size()) {
            bytes_.resize(columns_.size());
        }
        if (!decoded_[index]) {
            const auto [start, size] = spans_[index];
            if (!DecodeBytea(std::string_view(buffer_).substr(start, size), bytes_[index])) {
                throw DbError(-1,
                              RowContext() + ": the server's text of binary field " +
                                  columns_[index].description.name + " is not hexadecimal.",
                              "PostgreSQL");
            }
            decoded_[index] = true;
        }
        return bytes_[index];
    }

    CopySession& session_;  // Not owned.
    std::string table_;
    std::vector<ResultShape> columns_;
    std::vector<std::unique_ptr<OwnedField<CopyRecordset>>> fields_;
    std::vector<bool> bytea_;
    // The current row: its fields' text, undone escapes, in `buffer_`.
    std::string buffer_;
    std::vector<std::pair<std::size_t, std::size_t>> spans_;
    std::vector<bool> nulls_;
    std::vector<std::string> bytes_;
    std::string scratch_;  // the last text DriverTextOf changed
    std::vector<bool> decoded_;
    std::int64_t rowsRead_ = 0;
    bool copying_ = true;
    bool eof_ = true;
    bool closed_ = false;
};

}  // namespace

bool CopyReadsAlike(std::string_view typeName) {
    // The names the driver reports (SQL_DESC_TYPE_NAME): "char" is
    // character(n).
    static constexpr std::array<std::string_view, 16> kAlike = {
        "int2",    "int4", "int8", "numeric", "float4", "float8", "text",
        "varchar", "char", "name", "bool",    "date",   "time",   "timestamp without time zone",
        "uuid",    "bytea"};
    return std::find(kAlike.begin(), kAlike.end(), typeName) != kAlike.end();
}

bool ReadsThroughCopy(const Recordset& recordset) {
    return dynamic_cast<const CopyRecordset*>(&InnerOf(recordset)) != nullptr;
}

std::string_view DriverTextOf(std::string_view typeName, std::string_view text,
                              std::string& scratch) {
    if (typeName == "bool") {
        if (text == "t") {
            return "1";
        }
        if (text == "f") {
            return "0";
        }
    } else if (typeName == "uuid") {
        scratch.assign(text);
        std::transform(scratch.begin(), scratch.end(), scratch.begin(), [](char c) {
            return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        });
        return scratch;
    }
    return text;
}

bool SplitCopyRow(std::string_view line, std::string& buffer,
                  std::vector<std::pair<std::size_t, std::size_t>>& fields,
                  std::vector<bool>& nulls) {
    buffer.clear();
    fields.clear();
    nulls.clear();
    std::size_t pos = 0;
    for (;;) {
        const std::size_t end = std::min(line.find('\t', pos), line.size());
        const std::string_view field = line.substr(pos, end - pos);
        const std::size_t start = buffer.size();
        if (field == "\\N") {
            nulls.push_back(true);
        } else {
            nulls.push_back(false);
            for (std::size_t i = 0; i < field.size();) {
                const std::size_t backslash = std::min(field.find('\\', i), field.size());
                buffer.append(field.substr(i, backslash - i));
                if (backslash == field.size()) {
                    break;
                }
                if (backslash + 1 == field.size()) {
                    return false;
                }
                const char c = field[backslash + 1];
                i = backslash + 2;
                switch (c) {
                    case 'b':
                        buffer.push_back('\b');
                        break;
                    case 'f':
                        buffer.push_back('\f');
                        break;
                    case 'n':
                        buffer.push_back('\n');
                        break;
                    case 'r':
                        buffer.push_back('\r');
                        break;
                    case 't':
                        buffer.push_back('\t');
                        break;
                    case 'v':
                        buffer.push_back('\v');
                        break;
                    case 'x': {
                        int value = 0;
                        int digits = 0;
                        for (; digits < 2 && i < field.size() && HexDigitValue(field[i]) >= 0;
                             ++digits, ++i) {
                            value = value * 16 + HexDigitValue(field[i]);
                        }
                        if (digits == 0) {
                            buffer.push_back('x');
                        } else {
                            buffer.push_back(static_cast<char>(value));
                        }
                        break;
                    }
                    default:
                        if (c >= '0' && c <= '7') {
                            int value = c - '0';
                            for (int digits = 1; digits < 3 && i < field.size() &&
                                                 field[i] >= '0' && field[i] <= '7';
                                 ++digits, ++i) {
                                value = value * 8 + (field[i] - '0');
                            }
                            buffer.push_back(static_cast<char>(value));
                        } else {
                            buffer.push_back(c);
                        }
                }
            }
        }
        fields.emplace_back(start, buffer.size() - start);
        if (end == line.size()) {
            return true;
        }
        pos = end + 1;
    }
}

PgConnection& PgConnection::operator=(PgConnection&& other) noexcept {
    if (this != &other) {
        if (handle_) {
            PQfinish(handle_);
        }
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

PgConnection::~PgConnection() {
    if (handle_) {
        PQfinish(handle_);
    }
}

CopySession::CopySession(Connection& odbc, PgConnection connection)
    : odbc_(odbc), connection_(std::move(connection)) {
    cancel_.reset(PQgetCancel(connection_.get()));
}

CopySession::~CopySession() = default;

std::unique_ptr<CopySession> CopySession::Open(Connection& odbc, const std::string& connectString,
                                               std::string& reason) {
    if (odbc.Kind() != Dbms::PostgreSQL) {
        reason = "not a PostgreSQL server";
        return nullptr;
    }
    if (SettingOf(connectString, {"pqopt"})) {
        reason = "the connect string gives the driver options of its own (pqopt)";
        return nullptr;
    }
    std::vector<std::pair<std::string, std::string>> parameters;
    auto add = [&](const char* name, const std::vector<std::string_view>& keywords) {
        if (auto value = SettingOf(connectString, keywords); value && !value->empty()) {
            parameters.emplace_back(name, std::move(*value));
        }
    };
    add("host", {"Server", "Servername"});
    add("port", {"Port"});
    add("dbname", {"Database"});
    add("user", {"UID", "Username"});
    add("password", {"PWD", "Password"});
    add("sslmode", {"SSLmode"});
    parameters.emplace_back("client_encoding", "UTF8");
    parameters.emplace_back("application_name", "kesmark");
    parameters.emplace_back("connect_timeout", std::to_string(odbc.GetTimeouts().login));
    std::vector<const char*> keys;
    std::vector<const char*> values;
    for (const auto& [key, value] : parameters) {
        keys.push_back(key.c_str());
        values.push_back(value.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PgConnection connection(PQconnectdbParams(keys.data(), values.data(), 0));
    if (!connection.get() || PQstatus(connection.get()) != CONNECTION_OK) {
        reason = connection.get() ? FirstLine(PQerrorMessage(connection.get())) : "out of memory";
        return nullptr;
    }
    std::unique_ptr<CopySession> session(new CopySession(odbc, std::move(connection)));
    PGconn* pg = session->Handle();
    // The snapshot: this session's transaction exports it, and every
    // transaction of the driver's session reads it. Whatever the driver
    // reads, COPY reads too.
    if (!session->Run("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")) {
        reason = session->LastError();
        return nullptr;
    }
    PgResult exported = Exec(pg, "SELECT pg_catalog.pg_export_snapshot()");
    const std::string id =
        PQresultStatus(exported.get()) == PGRES_TUPLES_OK && PQntuples(exported.get()) == 1
            ? PQgetvalue(exported.get(), 0, 0)
            : "";
    if (id.empty() || !std::all_of(id.begin(), id.end(),
                                   [](char c) { return HexDigitValue(c) >= 0 || c == '-'; })) {
        reason = "no snapshot to share: " + session->LastError();
        return nullptr;
    }
    if (!odbc.BeginTransactionsWith("SET TRANSACTION SNAPSHOT '" + id + "'")) {
        reason = "the driver's session cannot read the snapshot";
        return nullptr;
    }
    try {
        // The same user (the rows a user may see are the user's), and text
        // in UTF-8. A snapshot is read only in the database of its server
        // that exported it.
        const auto identity = OdbcRows(odbc, std::string(kIdentityQuery), "naming the session");
        PgResult own = Exec(pg, std::string(kIdentityQuery));
        bool same = identity.size() == 1 && PQresultStatus(own.get()) == PGRES_TUPLES_OK &&
                    PQntuples(own.get()) == 1 &&
                    static_cast<std::size_t>(PQnfields(own.get())) == identity.front().size();
        for (std::size_t i = 0; same && i < identity.front().size(); ++i) {
            const auto& theirs = identity.front()[i];
            const int column = static_cast<int>(i);
            same = theirs && !PQgetisnull(own.get(), 0, column) &&
                   *theirs == PQgetvalue(own.get(), 0, column);
        }
        if (!same) {
            reason = "libpq reaches another server, database or user than the driver";
        } else if (identity.front()[3] != "UTF8") {
            reason = "the server's encoding is not UTF8";
            same = false;
        }
        // The driver session's formats of dates, times and numbers.
        for (const auto& row :
             OdbcRows(odbc, std::string(kFormatsQuery), "reading the session's formats")) {
            if (!same || row.size() != 2 || !row[0] || !row[1]) {
                continue;
            }
            const char* setting[] = {row[0]->c_str(), row[1]->c_str()};
            PgResult set(PQexecParams(pg, "SELECT pg_catalog.set_config($1, $2, false)", 2, nullptr,
                                      setting, nullptr, nullptr, 0),
                         PQclear);
            if (PQresultStatus(set.get()) != PGRES_TUPLES_OK) {
                reason = session->LastError();
                same = false;
            }
        }
        const int timeoutMs = odbc.GetTimeouts().statement * 1000;
        if (same &&
            (!session->Run("SET bytea_output = hex") ||
             !session->Run("SELECT pg_catalog.set_config('jit', 'off', false) FROM "
                           "pg_catalog.pg_settings WHERE name = 'jit'") ||
             !session->Run("SET statement_timeout = " + std::to_string(std::max(timeoutMs, 0))))) {
            reason = session->LastError();
            same = false;
        }
        if (!same) {
            odbc.StopBeginningTransactionsWith();
            return nullptr;
        }
    } catch (const DbError& e) {
        odbc.StopBeginningTransactionsWith();
        reason = e.Description();
        return nullptr;
    }
    return session;
}

bool CopySession::Run(const std::string& sql) {
    PgResult result = Exec(connection_.get(), sql);
    const ExecStatusType status = PQresultStatus(result.get());
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

std::string CopySession::LastError() const {
    return FirstLine(PQerrorMessage(connection_.get()));
}

std::unique_ptr<Recordset> CopySession::OpenRecordset(std::string table,
                                                      std::vector<ResultShape> columns,
                                                      const std::string& copy) {
    bool idle = false;
    if (!busy_.compare_exchange_strong(idle, true)) {
        return nullptr;
    }
    // Only while the driver's session reads this session's snapshot, in the
    // transaction that holds it; a failed COPY ends with its savepoint.
    if (!odbc_.BeginDueTransaction() || PQstatus(connection_.get()) != CONNECTION_OK ||
        PQtransactionStatus(connection_.get()) != PQTRANS_INTRANS ||
        !Run("SAVEPOINT kesmark_copy")) {
        Release();
        return nullptr;
    }
    PgResult started = Exec(connection_.get(), copy);
    if (PQresultStatus(started.get()) != PGRES_COPY_OUT) {
        EndCopy();
        return nullptr;
    }
    return std::make_unique<CopyRecordset>(*this, std::move(table), std::move(columns));
}

void CopySession::EndCopy() {
    // A COPY only reads: its savepoint is rolled back, failed or not, so
    // that the lock it took on its table goes with it (a transaction that
    // kept one lock a table would run out of them on a large schema).
    Run("ROLLBACK TO SAVEPOINT kesmark_copy");
    Run("RELEASE SAVEPOINT kesmark_copy");
    Release();
}

void CopySession::Cancel() noexcept {
    if (cancel_ && busy_) {
        std::array<char, 256> error{};
        PQcancel(cancel_.get(), error.data(), static_cast<int>(error.size()));
    }
}

void CopySession::Release() {
    busy_ = false;
}

}  // namespace kesmark::odbc
