#include "engine/open_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/backends/access/access_database.h"
#include "engine/backends/odbc/odbc_database.h"
#include "engine/backends/odbc/odbc_sources.h"
#include "engine/backends/sqlite/private_copy.h"
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

extern "C" void RemoveTemporaryFilesAndEnd(int signal) {
    RemoveTemporaryFiles();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

enum class FileStep { Finding, Reading };

// The error for a file that cannot be found or read, telling the cause the
// system gave.
DbError FileError(const std::string& name, int error, FileStep step) {
    std::string text;
    switch (error) {
        case ENOENT:
            text = "Could not find file '" + name + "'.";
            break;
        case ENOTDIR:
            text = "Could not find file '" + name + "': a part of its path is not a folder.";
            break;
        case EACCES:
        case EPERM:
            text = step == FileStep::Finding ? "Permission denied: a folder on the path of '" +
                                                   name + "' may not be entered."
                                             : "Permission denied: '" + name + "' may not be read.";
            break;
        case ELOOP:
            text = "'" + name + "' cannot be opened: its path runs into a loop of symbolic links.";
            break;
        case ENAMETOOLONG:
            text = "'" + name +
                   "' cannot be opened: the path, or a name in it, is too long for "
                   "the system.";
            break;
        default:
            text = "'" + name + "' cannot be " + (step == FileStep::Finding ? "found" : "read") +
                   ": " + std::strerror(error) + ".";
            break;
    }
    return DbError(errors::kCannotOpen, text, kSource);
}

// Up to `count` bytes from the start of the file; throws FileError when it
// cannot be opened or read.
std::string ReadFirstBytes(const std::string& name, std::size_t count) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throw FileError(name, errno, FileStep::Reading);
    }
    std::string bytes(count, '\0');
    ssize_t got = 0;
    do {
        got = ::read(fd, bytes.data(), count);
    } while (got < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (got < 0) {
        throw FileError(name, error, FileStep::Reading);
    }
    bytes.resize(static_cast<std::size_t>(got));
    return bytes;
}

}  // namespace

void RemoveTemporaryFiles() noexcept {
    sqlite::RemovePrivateCopies();
}

void RemoveTemporaryFilesOnTermination() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporaryFilesAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

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
        throw FileError(name, errno, FileStep::Finding);
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
    std::string header = ReadFirstBytes(name, 32);
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
