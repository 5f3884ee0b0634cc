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

// The reverse of MaskPasswords for a connect string that was shown masked and
// then edited: each password whose value still reads "***" takes the value of
// the password at the same place (first, second, ...) among the passwords of
// `original`; a password typed anew, and everything else, stays as edited.
//   RestorePasswords("ODBC;DSN=y;PWD=***;", "ODBC;DSN=x;PWD=secret;")
//     -> "ODBC;DSN=y;PWD=secret;"
std::string RestorePasswords(const std::string& masked, const std::string& original);

}  // namespace kesmark
