#include "engine/open_database.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "engine/backends/access/access_database.h"
#include "engine/backends/odbc/odbc_database.h"
#include "engine/backends/odbc/odbc_sources.h"
#include "engine/backends/sqlite/sqlite_database.h"
#include "engine/model/connect_string.h"

namespace kesmark {

namespace {

constexpr const char* kSource = "Kesmark";

enum class FileKind { Sqlite, Access, Unknown };

FileKind Sniff(const std::string& header) {
    if (header.size() >= 16 && std::memcmp(header.data(), "SQLite format 3\0", 16) == 0) {
        return FileKind::Sqlite;
    }
    if (header.size() >= 19 && (header.compare(4, 15, "Standard Jet DB") == 0 ||
                                header.compare(4, 15, "Standard ACE DB") == 0)) {
        return FileKind::Access;
    }
    return FileKind::Unknown;
}

// The backend's error with the file's name in front, so that a message such
// as "file is not a database" says which file.
DbError NamingTheFile(const DbError& error, const std::string& name) {
    if (error.Description().find(name) != std::string::npos) {
        return error;
    }
    return DbError(error.Number(), "'" + name + "': " + error.Description(), error.Source());
}

}  // namespace

std::unique_ptr<Database> OpenDatabase(const std::string& name, const std::string& connect) {
    if (IsOdbcConnectString(connect)) {
        return odbc::OpenOdbcDatabase(name, connect);
    }
    if (connect.empty() && IsOdbcConnectString(name)) {
        return odbc::OpenOdbcDatabase("", name);
    }
    if (!connect.empty()) {
        throw DbError(
            errors::kUnrecognizedFormat,
            "The connect string '" + MaskPasswords(connect) + "' does not begin with 'ODBC;'.",
            kSource);
    }
    if (name.empty()) {
        throw DbError(errors::kCannotOpen, "No database file given.", kSource);
    }
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        throw DbError(errors::kCannotOpen, "Could not find file '" + name + "'.", kSource);
    }
    if (S_ISDIR(info.st_mode)) {
        throw DbError(errors::kCannotOpen, "'" + name + "' is a folder, not a database file.",
                      kSource);
    }
    if (!S_ISREG(info.st_mode)) {
        // A pipe or a device would block the read below or never end.
        throw DbError(
            errors::kCannotOpen,
            "'" + name + "' is not a regular file (a pipe or a device), not a database file.",
            kSource);
    }
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        throw DbError(errors::kCannotOpen, "Could not read file '" + name + "'.", kSource);
    }
    std::string header(32, '\0');
    in.read(header.data(), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(in.gcount()));
    if (header.empty()) {
        throw DbError(errors::kUnrecognizedFormat,
                      "'" + name + "' is empty: it is not a database file.", kSource);
    }
    switch (Sniff(header)) {
        case FileKind::Sqlite:
            try {
                return sqlite::OpenSqliteDatabase(name);
            } catch (const DbError& e) {
                throw NamingTheFile(e, name);
            }
        case FileKind::Access:
            try {
                return access::OpenAccessDatabase(name);
            } catch (const DbError& e) {
                throw NamingTheFile(e, name);
            }
        case FileKind::Unknown:
            break;
    }
    throw DbError(errors::kUnrecognizedFormat,
                  "Unrecognized database format '" + name +
                      "': it is neither a SQLite nor an Access database file.",
                  kSource);
}

std::vector<OdbcDataSource> ListOdbcDataSources() {
    std::vector<OdbcDataSource> sources;
    for (auto& source : odbc::ListDataSources()) {
        sources.push_back({std::move(source.name), std::move(source.driver)});
    }
    return sources;
}

}  // namespace kesmark
