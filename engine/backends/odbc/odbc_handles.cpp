#include "engine/backends/odbc/odbc_handles.h"

#include "engine/model/utf8.h"

namespace kesmark::odbc {

WideString Widen(std::string_view utf8) {
    const std::u16string units = Utf8ToUtf16(utf8);
    return WideString(units.begin(), units.end());
}

std::string Narrow(const SQLWCHAR* text, std::size_t length) {
    return Utf16ToUtf8(text, length);
}

void AppendNarrow(const SQLWCHAR* text, std::size_t length, std::string& out) {
    std::size_t ascii = 0;
    while (ascii < length && text[ascii] < 0x80) {
        ++ascii;
    }
    const std::size_t start = out.size();
    out.resize(start + ascii);
    for (std::size_t i = 0; i < ascii; ++i) {
        out[start + i] = static_cast<char>(text[i]);
    }
    if (ascii < length) {
        out += Utf16ToUtf8(text + ascii, length - ascii);
    }
}

void EnvironmentFreer::operator()(SQLHENV env) const noexcept {
    SQLFreeHandle(SQL_HANDLE_ENV, env);
}

void ConnectionFreer::operator()(SQLHDBC dbc) const noexcept {
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

void StatementFreer::operator()(SQLHSTMT stmt) const noexcept {
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
}

std::vector<Diagnostic> ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle) {
    std::vector<Diagnostic> records;
    if (!handle) {
        return records;
    }
    for (SQLSMALLINT number = 1;; ++number) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> message(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                                      static_cast<SQLSMALLINT>(message.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
            message.resize(static_cast<std::size_t>(length) + 1);
            rc = SQLGetDiagRecW(handleType, handle, number, state, &native, message.data(),
                                static_cast<SQLSMALLINT>(message.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc)) {
            break;
        }
        Diagnostic record;
        record.state = Narrow(state, 5);
        record.native = native;
        const auto used = std::min<std::size_t>(static_cast<std::size_t>(std::max<int>(length, 0)),
                                                message.size() - 1);
        record.message = Narrow(message.data(), used);
        while (!record.message.empty() &&
               (record.message.back() == '\n' || record.message.back() == '\r' ||
                record.message.back() == ' ')) {
            record.message.pop_back();
        }
        records.push_back(std::move(record));
    }
    return records;
}

bool IsConnectionFailure(std::string_view state) {
    return state.starts_with("08") || state.starts_with("57P");
}

bool IsConnectionFailure(const std::vector<Diagnostic>& records) {
    for (const auto& record : records) {
        if (IsConnectionFailure(record.state)) {
            return true;
        }
    }
    return false;
}

bool IsNotImplemented(std::string_view state) {
    return state == "IM001" || state == "HYC00";
}

}  // namespace kesmark::odbc
