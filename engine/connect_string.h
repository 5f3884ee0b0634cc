#pragma once

// Reading and amending ODBC connect strings ("ODBC;DSN=shop;UID=me;PWD=x;"):
// "key=value" attributes separated by semicolons, a value in braces
// ("PWD={a;b}") holding semicolons, "}}" in braces standing for "}".

#include <string>
#include <string_view>
#include <vector>

namespace kesmark {

// One "key=value" attribute as it stands in the text.
struct ConnectAttribute {
    std::string key;         // trimmed, as written
    std::string value;       // braces removed, "}}" as "}"
    std::size_t valueBegin;  // the value's place in the text, braces included
    std::size_t valueEnd;
};

// The attributes of `text`, in order. Parts without "=" (such as the leading
// "ODBC") are left out.
std::vector<ConnectAttribute> ConnectAttributes(std::string_view text);

// True when `text` has a PWD or Password attribute (any letter case), even an
// empty one.
bool HasPassword(std::string_view text);

// `connect` with "PWD=password" appended, the value in braces when it would
// otherwise not read back as given. Returns `connect` unchanged when it
// already has a password: the connect string's own wins.
std::string WithPassword(const std::string& connect, const std::string& password);

}  // namespace kesmark
