#pragma once

// Helpers for ODBC connect strings ("ODBC;DSN=x;UID=u;PWD=p;"), shared by the
// backends that open them and the front ends that print them: "key=value"
// attributes separated by semicolons, a value in braces ("PWD={a;b}")
// holding semicolons, "}}" in braces standing for "}".

#include <string>
#include <string_view>
#include <vector>

namespace kesmark {

// True when `text` begins with "ODBC;" in any letter case.
bool IsOdbcConnectString(const std::string& text);

// One "key=value" attribute as it stands in the text.
struct ConnectAttribute {
    std::string key;             // trimmed, as written
    std::string value;           // trimmed; braces removed, "}}" read as "}"
    std::size_t valueBegin = 0;  // the value's place in the text, braces
    std::size_t valueEnd = 0;    // included, blanks around it not
};

// The attributes of `text`, in order. Parts without "=" (such as the leading
// "ODBC") are left out.
std::vector<ConnectAttribute> ConnectAttributes(std::string_view text);

// True when an attribute named `key` holds a secret: PWD, Password and every
// name that says so (any letter case: "SSLPassword", "ClientSecret",
// "AccessToken", "Passphrase", ...).
bool IsSecretKey(std::string_view key);

// The secret values of `text`, in order: the values of the secret keys, and
// inside any value made of "key=value" words (as the PostgreSQL driver's
// "pqopt={password=x sslmode=require}" passes options on) the values of
// the secret words. Empty values are left out.
std::vector<std::string> ConnectStringSecrets(std::string_view text);

// The connect string with every secret replaced by "***", for messages and
// output: the value of each secret key ("ODBC;DSN=x;PWD=secret;" ->
// "ODBC;DSN=x;PWD=***;"), each secret word of an option value
// ("pqopt={password=***}"), any other value that is the same text as a
// secret, and every other occurrence of a secret of four characters or more
// (as the ODBC backend's messages hide them).
std::string MaskPasswords(const std::string& text);

// True when `text` has a PWD or Password attribute (any letter case), even an
// empty one.
bool HasPassword(std::string_view text);

// `connect` with "PWD=password" appended, the value in braces when it would
// otherwise not read back as given. Returns `connect` unchanged when it
// already has a password: the connect string's own wins.
std::string WithPassword(const std::string& connect, const std::string& password);

// The reverse of MaskPasswords for a connect string that was shown masked and
// then edited: each password whose value still reads "***" takes the value of
// the password at the same place (first, second, ...) among the passwords of
// `original`; a password typed anew, and everything else, stays as edited.
//   RestorePasswords("ODBC;DSN=y;PWD=***;", "ODBC;DSN=x;PWD=secret;")
//     -> "ODBC;DSN=y;PWD=secret;"
std::string RestorePasswords(const std::string& masked, const std::string& original);

}  // namespace kesmark
