#pragma once

// Opening a SQLite file so that it reads as one consistent state for as
// long as it is open, whatever other programs do to it meanwhile, without
// writing anything to or beside it and without keeping a writer waiting
// longer than a copy takes:
//
// - a database in WAL mode whose "-wal" and "-shm" files lie beside it (it
//   is in use, or was left so) is read where it lies, read-only, with the
//   shared-memory file opened read-only; one read transaction is held for the
//   connection's life, which WAL writers never wait for;
// - a database in rollback mode is copied while the connection holds
//   SQLite's shared lock (a writer waits for the copy, no longer), and the
//   copy is read;
// - a WAL database without its "-wal" file (no program has it open) is
//   copied and checked to be unchanged afterwards;
// - a database with a journal SQLite must replay (a writer that crashed), or
//   a WAL file without its "-shm" file, is copied with the journal and
//   recovered in the copy;
// - a file on a medium that cannot change (a read-only mount) is read where
//   it lies, as immutable, when no journal lies beside it.
//
// Copies are private (private_copy.h) and have no name once open. Paths
// longer than SQLite allows are opened through their folder, held open.

#include <sqlite3.h>

#include <array>
#include <memory>
#include <string>

#include "engine/backends/sqlite/sqlite_handles.h"

namespace kesmark::sqlite {

// How a file was opened.
enum class ReadMode {
    Immutable,     // where it lies, as a file that cannot change
    WalSnapshot,   // where it lies, one WAL read transaction held
    LockedCopy,    // a copy made under SQLite's shared lock
    CheckedCopy,   // a copy of an unused WAL database, checked unchanged
    RecoveredCopy  // a copy with its journal, recovered in the copy
};

// An open connection reading one consistent state of a database file. It
// may be shared by several Database objects (one opened again for the
// relation walk reads the same state).
class ReadConnection {
  public:
    ReadConnection(DbHandle db, int folder, ReadMode mode);
    ~ReadConnection();
    ReadConnection(const ReadConnection&) = delete;
    ReadConnection& operator=(const ReadConnection&) = delete;

    sqlite3* Handle() const { return db_.get(); }
    ReadMode Mode() const { return mode_; }
    // The first 100 bytes of the database file as the connection reads it
    // (for a WAL database read where it lies: the main file's, which a
    // change still in the WAL may not have reached).
    const std::array<unsigned char, 100>& Header() const { return header_; }

  private:
    int folder_;  // the folder of a long path, held open while SQLite uses it; -1 if none
    DbHandle db_;
    ReadMode mode_;
    std::array<unsigned char, 100> header_{};
};

// Opens the SQLite file `path` for reading as described above. Throws
// DbError when it cannot be opened, is not a SQLite database, or no private
// copy can be made (the message says why: no temporary folder, a full
// disk, ...).
std::shared_ptr<ReadConnection> OpenForReading(const std::string& path);

}  // namespace kesmark::sqlite
