#include "engine/backends/sqlite/sqlite_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <utility>

#include "engine/backends/sqlite/private_copy.h"
#include "engine/backends/sqlite/sqlite_scratch.h"

namespace kesmark::sqlite {

namespace fs = std::filesystem;

namespace {

// How long (about) a connection waits for a lock another program holds: a
// writer committing, or recovering a WAL index.
constexpr int kBusyMilliseconds = 10000;
// SQLite's unix files take full paths of up to 512 bytes; longer ones are
// opened through their folder.
constexpr std::size_t kLongestDirectPath = 500;
// Copies of an unused WAL database made before giving up because a program
// keeps changing it.
constexpr int kCopyAttempts = 3;
constexpr const char* kProcFolders = "/proc/self/fd/";

// The unix VFS with one change: a name under /proc/self/fd/ (a folder held
// open, then the file's name) is taken as it is, not resolved to the long
// path it stands for. Every other call is the unix VFS's own.
sqlite3_vfs* gUnixVfs = nullptr;

int FolderFullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
    if (std::strncmp(name, kProcFolders, std::strlen(kProcFolders)) != 0) {
        return gUnixVfs->xFullPathname(gUnixVfs, name, size, out);
    }
    const std::size_t length = std::strlen(name);
    if (static_cast<int>(length) >= size) {
        return SQLITE_CANTOPEN;
    }
    std::memcpy(out, name, length + 1);
    return SQLITE_OK;
}

const char* FolderVfs() {
    static std::once_flag once;
    static sqlite3_vfs vfs;
    static const char* name = nullptr;
    std::call_once(once, [] {
        gUnixVfs = sqlite3_vfs_find("unix");
        if (!gUnixVfs) {
            return;
        }
        vfs = *gUnixVfs;
        vfs.pNext = nullptr;
        vfs.zName = "kesmark-folder";
        vfs.xFullPathname = FolderFullPathname;
        if (sqlite3_vfs_register(&vfs, 0) == SQLITE_OK) {
            name = vfs.zName;
        }
    });
    return name;
}

// Where SQLite finds a file: its path, or for a path too long for SQLite,
// "/proc/self/fd/N/name" with the folder held open as N.
class SqlitePath {
  public:
    explicit SqlitePath(const std::string& path) {
        std::error_code ec;
        const fs::path absolute = fs::absolute(path, ec);
        path_ = ec ? path : absolute.string();
        char* resolved = ::realpath(path.c_str(), nullptr);
        const std::string real = resolved ? resolved : path_;
        std::free(resolved);
        if (real.size() < kLongestDirectPath && path_.size() < kLongestDirectPath) {
            return;
        }
        vfs_ = FolderVfs();
        const fs::path file(real);
        folder_ = ::open(file.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (!vfs_ || folder_ < 0) {
            throw DbError(errors::kCannotOpen,
                          "'" + path +
                              "': the path is too long for SQLite, and its folder "
                              "cannot be opened to shorten it (" +
                              std::strerror(errno) + ").",
                          kSource);
        }
        path_ = kProcFolders + std::to_string(folder_) + "/" + file.filename().string();
    }
    ~SqlitePath() {
        if (folder_ >= 0) {
            ::close(folder_);
        }
    }
    SqlitePath(const SqlitePath&) = delete;
    SqlitePath& operator=(const SqlitePath&) = delete;

    // A file: URI for the path with the given query parameters.
    std::string Uri(std::string_view parameters) const {
        static const char* hex = "0123456789ABCDEF";
        std::string uri = "file:";
        for (const unsigned char c : path_) {
            if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
                uri += static_cast<char>(c);
            } else {
                uri += '%';
                uri += hex[c >> 4];
                uri += hex[c & 15];
            }
        }
        if (!parameters.empty()) {
            uri.append("?").append(parameters);
        }
        return uri;
    }
    const char* Vfs() const { return vfs_; }
    // The path SQLite is given, which open() takes as well.
    const std::string& Path() const { return path_; }
    // Hands the open folder over to the caller (-1 when there is none).
    int ReleaseFolder() { return std::exchange(folder_, -1); }

  private:
    std::string path_;
    int folder_ = -1;
    const char* vfs_ = nullptr;
};

// Waits for a lock another program holds by asking again every millisecond:
// a writer that commits one transaction after the other leaves only short
// gaps, which SQLite's own waits, growing to a tenth of a second, miss.
int RetryEveryMillisecond(void*, int attempts) {
    if (attempts >= kBusyMilliseconds) {
        return 0;
    }
    ::usleep(1000);
    return 1;
}

DbHandle OpenHandle(const SqlitePath& where, std::string_view parameters, int flags) {
    sqlite3* raw = nullptr;
    // NOMUTEX: a connection is only ever used by one thread at a time (the
    // data comparison hands each database to a reader thread of its own), so
    // SQLite need not lock around every call.
    const int rc = sqlite3_open_v2(where.Uri(parameters).c_str(), &raw,
                                   flags | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, where.Vfs());
    DbHandle db(raw);
    if (rc != SQLITE_OK) {
        throw DbError(rc, raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc), kSource);
    }
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_handler(raw, RetryEveryMillisecond, nullptr);
    // The schema is read one table at a time (sqlite_scratch.h); the
    // connection parses it whole only to read data.
    EnterCatalogMode(raw);
    return db;
}

void Exec(sqlite3* db, const char* sql) {
    Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db);
}

// Reads the schema: proves the file is a readable database (not encrypted,
// not damaged in its first pages) and, inside a transaction, takes the
// connection's lock or WAL snapshot.
void Probe(sqlite3* db) {
    auto stmt = Prepare(db, "SELECT count(*) FROM sqlite_master");
    Step(stmt.get());
}

std::array<unsigned char, 100> ReadHeader(sqlite3* db) {
    std::array<unsigned char, 100> header{};
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) == SQLITE_OK && file &&
        file->pMethods) {
        // A short read fills the rest with zeros, as an empty header reads.
        file->pMethods->xRead(file, header.data(), static_cast<int>(header.size()), 0);
    }
    return header;
}

std::array<unsigned char, 100> ReadHeader(const std::string& path) {
    std::array<unsigned char, 100> header{};
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(header.data()), header.size());
    return header;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// What tells that a file was changed: its inode, size and time of change.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const Identity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

Identity IdentityOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    return Identity{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool OnReadOnlyMedium(const std::string& path) {
    struct statvfs info {};
    return ::statvfs(path.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY) != 0;
}

// Opens the private copy as a file that cannot change, proves it readable
// and removes its names: from then on it lives as long as the connection.
std::shared_ptr<ReadConnection> OpenCopy(PrivateFolder& folder, ReadMode mode) {
    SqlitePath copy(folder.File());
    auto db = OpenHandle(copy, "immutable=1", SQLITE_OPEN_READONLY);
    Probe(db.get());
    folder.Remove();
    return std::make_shared<ReadConnection>(std::move(db), copy.ReleaseFolder(), mode);
}

std::shared_ptr<ReadConnection> OpenImmutable(SqlitePath& where) {
    auto db = OpenHandle(where, "immutable=1", SQLITE_OPEN_READONLY);
    Probe(db.get());
    return std::make_shared<ReadConnection>(std::move(db), where.ReleaseFolder(),
                                            ReadMode::Immutable);
}

std::shared_ptr<ReadConnection> OpenWalSnapshot(SqlitePath& where) {
    // readonly_shm: the shared-memory file is opened read-only, never
    // written; SQLite then reads the WAL index where a writer keeps it, or
    // builds its own from the WAL when no writer is there.
    auto db = OpenHandle(where, "readonly_shm=1", SQLITE_OPEN_READONLY);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    Exec(db.get(), "BEGIN");
    Probe(db.get());
    return std::make_shared<ReadConnection>(std::move(db), where.ReleaseFolder(),
                                            ReadMode::WalSnapshot);
}

// The file at `where`, opened for copying; checked to be the file `before`
// describes (not one put in its place since).
FileDescriptor OpenToCopy(const std::string& path, const SqlitePath& where,
                          const Identity& before) {
    FileDescriptor file(::open(where.Path().c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0) {
        throw DbError(errors::kCannotOpen,
                      "'" + path + "' cannot be read: " + std::strerror(errno) + ".", kSource);
    }
    if (info.st_dev != before.device || info.st_ino != before.inode) {
        throw DbError(errors::kCannotOpen,
                      "'" + path + "' was replaced by another file while it was opened.", kSource);
    }
    return file;
}

// The copy of a rollback-mode database made under SQLite's shared lock.
// Null when a journal must be replayed first (a writer crashed), which a
// read-only connection cannot do.
std::shared_ptr<ReadConnection> OpenLockedCopy(const std::string& path, SqlitePath& where) {
    const Identity before = IdentityOf(path);
    auto source = OpenHandle(where, "", SQLITE_OPEN_READONLY);
    Exec(source.get(), "BEGIN");
    try {
        Probe(source.get());
    } catch (const DbError& e) {
        if (e.Number() == SQLITE_READONLY_ROLLBACK) {
            return nullptr;
        }
        throw;
    }
    // Closed only after COMMIT: closing a descriptor of the file would end
    // the lock SQLite holds on it.
    FileDescriptor file = OpenToCopy(path, where, before);
    PrivateFolder folder(path);
    folder.CopyFrom(file.Get());
    Exec(source.get(), "COMMIT");
    file.Close();
    source.reset();
    return OpenCopy(folder, ReadMode::LockedCopy);
}

// The copy of a WAL database no program has open (no "-wal" file): taken
// while the file stays unchanged and without a WAL file. Null when a program
// kept changing it.
std::shared_ptr<ReadConnection> OpenCheckedCopy(const std::string& path, SqlitePath& where) {
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        const Identity before = IdentityOf(path);
        PrivateFolder folder(path);
        folder.CopyFrom(OpenToCopy(path, where, before).Get());
        if (IdentityOf(path) == before && !Exists(path + "-wal")) {
            return OpenCopy(folder, ReadMode::CheckedCopy);
        }
    }
    return nullptr;
}

// The copy of a database and its journal ("-journal" or "-wal"), the
// journal replayed into the copy, which is then read as it stands.
std::shared_ptr<ReadConnection> OpenRecoveredCopy(const std::string& path,
                                                  std::string_view journal) {
    PrivateFolder folder(path);
    folder.CopyFile(path, "");
    folder.CopyFile(path + std::string(journal), journal);
    {
        SqlitePath copy(folder.File());
        auto db = OpenHandle(copy, "", SQLITE_OPEN_READWRITE);
        Probe(db.get());  // replays a rollback journal
        if (journal == "-wal") {
            Exec(db.get(), "PRAGMA wal_checkpoint(TRUNCATE)");
        }
    }
    return OpenCopy(folder, ReadMode::RecoveredCopy);
}

}  // namespace

ReadConnection::ReadConnection(DbHandle db, int folder, ReadMode mode)
    : folder_(folder), db_(std::move(db)), mode_(mode), header_(ReadHeader(db_.get())) {}

ReadConnection::~ReadConnection() {
    db_.reset();
    if (folder_ >= 0) {
        ::close(folder_);
    }
}

std::shared_ptr<ReadConnection> OpenForReading(const std::string& path) {
    const auto header = ReadHeader(path);
    const bool wal = header[18] == 2;
    const bool readOnlyMedium = OnReadOnlyMedium(path);
    for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
        SqlitePath where(path);
        if (wal) {
            const bool hasWal = Exists(path + "-wal");
            if (hasWal && Exists(path + "-shm")) {
                return OpenWalSnapshot(where);
            }
            if (hasWal) {
                return OpenRecoveredCopy(path, "-wal");
            }
            if (readOnlyMedium) {
                return OpenImmutable(where);
            }
            if (auto copy = OpenCheckedCopy(path, where)) {
                return copy;
            }
            continue;  // a program began to use it: look again
        }
        if (readOnlyMedium) {
            return Exists(path + "-journal") ? OpenRecoveredCopy(path, "-journal")
                                             : OpenImmutable(where);
        }
        if (auto copy = OpenLockedCopy(path, where)) {
            return copy;
        }
        return OpenRecoveredCopy(path, "-journal");
    }
    throw DbError(errors::kCannotOpen,
                  "'" + path + "' kept changing while a consistent copy of it was taken.", kSource);
}

}  // namespace kesmark::sqlite
