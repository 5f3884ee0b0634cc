#pragma once

// Helpers for ODBC connect strings ("ODBC;DSN=x;UID=u;PWD=p;"), shared by the
// backends that open them and the front ends that print them.

#include <string>

namespace kesmark {

// True when `text` begins with "ODBC;" in any letter case.
bool IsOdbcConnectString(const std::string& text);

// The connect string with every password value replaced by "***"
// ("ODBC;DSN=x;PWD=secret;" -> "ODBC;DSN=x;PWD=***;"), for messages and output.
std::string MaskPasswords(const std::string& text);

}  // namespace kesmark
