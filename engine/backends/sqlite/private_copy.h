#pragma once

// Private copies of database files in the temporary folder, made when a file
// cannot be read consistently where it lies (see sqlite_snapshot.h). A copy
// lives in a folder of its own, "kesmark-sqlite-<process id>-XXXXXX", only
// while it is made and opened: once SQLite has it open, its names are
// removed and the copy goes with the process, however the process ends. A
// folder left by a killed process is removed by a later run.

#include <string>
#include <string_view>
#include <utility>

namespace kesmark::sqlite {

// A file descriptor, closed when the owner goes (or by Close).
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int Get() const { return fd_; }
    // Closes now; returns close's errno, 0 when it succeeded.
    int Close();

  private:
    int fd_;
};

// The names a private folder's files may have: the copy and the journal, WAL
// and shared-memory files SQLite keeps beside it.
inline constexpr const char* kCopyName = "copy.db";

class PrivateFolder {
  public:
    // Creates the folder in the temporary folder (TMPDIR, else /tmp), first
    // removing the folders of processes that are gone. Throws DbError naming
    // `file` (the database to be copied) and the cause: no temporary folder,
    // no right to write there, the disk full.
    explicit PrivateFolder(std::string file);
    // Removes the folder and every file in it.
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // The path of a file of the folder: the copy, or the copy's name with
    // "-journal", "-wal" or "-shm".
    std::string File(std::string_view suffix = "") const;

    // Copies the whole file open as `fd` to File(suffix). A caller that
    // holds SQLite's lock on that file must keep `fd` open until the lock
    // is let go: closing any descriptor of a file ends every lock the
    // process holds on it.
    void CopyFrom(int fd, std::string_view suffix = "");
    // Copies the file `from` to File(suffix).
    void CopyFile(const std::string& from, std::string_view suffix);

    // Removes the folder's names; open files stay readable until closed.
    void Remove() noexcept;

  private:
    // Writes `count` bytes to `fd`, naming the folder and the cause (a full
    // disk) when it fails.
    void Write(int fd, const char* data, std::size_t count);
    [[noreturn]] void Fail(std::string_view what, int error) const;

    std::string file_;    // the database copied, for messages
    std::string parent_;  // the temporary folder
    std::string path_;    // this folder
    int slot_ = -1;       // its place in the list RemovePrivateCopies reads
};

// The temporary folder: TMPDIR when set and not empty, else /tmp.
std::string TemporaryFolder();

// Removes every private folder of this process with its files. Safe in a
// signal handler: it only reads fixed buffers and calls unlink and rmdir.
void RemovePrivateCopies() noexcept;

// Removes the private folders in `folder` whose process has ended (a run
// killed before it could clean up).
void RemoveStalePrivateCopies(const std::string& folder) noexcept;

}  // namespace kesmark::sqlite
