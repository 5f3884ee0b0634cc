#pragma once

// The keywords of an ODBC connect string, and the options Kesmark adds to
// it before the driver sees it.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kesmark::odbc {

// The "keyword=value" pairs of a connect string (the part after "ODBC;"),
// in order: keywords folded to lower case and trimmed, values trimmed, a
// braced value ("PWD={a;b}", "}}" standing for "}") without its braces.
// Parts without "=" are left out.
std::vector<std::pair<std::string, std::string>> ConnectStringPairs(std::string_view connectString);

// The connect string handed to the driver: `connectString` with the
// driver's option that forbids creating a database added, where the driver
// has one and neither the connect string nor its data source sets it. For
// the SQLite ODBC driver that is "NoCreat=1", so that a mistyped file name
// is an error and not a new, empty database. The driver is found from
// "Driver=" (a registered name or a library path) or from the data source
// that "DSN=" names, through the driver manager's odbc.ini and
// odbcinst.ini.
// Example: "Driver=SQLite3;Database=/x.db;" -> "Driver=SQLite3;Database=/x.db;NoCreat=1;".
std::string WithNeverCreate(const std::string& connectString);

// True when the connect string, the data source its "DSN=" names (its
// odbc.ini entry) or its driver's section in odbcinst.ini (the driver of
// "Driver=" or of the data source) sets one of `keywords` (any letter case):
// then that setting is the user's, not the backend's to choose.
// Example: SetsAnyOf("DSN=shop;UseDeclareFetch=0;", {"UseDeclareFetch", "B6"}) -> true.
bool SetsAnyOf(const std::string& connectString, const std::vector<std::string_view>& keywords);

// The value the connect string gives the first of `keywords` it sets (any
// letter case), else the value its data source ("DSN=", odbc.ini) gives
// one of them; nullopt when neither sets any.
// Example: SettingOf("DSN=shop;PWD=x;", {"PWD", "Password"}) -> "x".
std::optional<std::string> SettingOf(const std::string& connectString,
                                     const std::vector<std::string_view>& keywords);

// For a connect string of the SQLite ODBC driver whose "Database=" names a
// file that does not exist, that name; otherwise "". For the message of a
// connection that failed.
std::string MissingSqliteFile(const std::string& connectString);

}  // namespace kesmark::odbc
