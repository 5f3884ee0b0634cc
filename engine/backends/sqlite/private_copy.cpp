#include "engine/backends/sqlite/private_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/backends/sqlite/sqlite_handles.h"

namespace kesmark::sqlite {

namespace {

constexpr std::string_view kFolderPrefix = "kesmark-sqlite-";
constexpr std::array<const char*, 4> kSuffixes = {"", "-journal", "-wal", "-shm"};
constexpr std::size_t kCopyBuffer = std::size_t{1} << 20;

// The folders RemovePrivateCopies removes. A slot is claimed (1) while its
// path is written and ready (2) once it may be read from a signal handler.
struct Slot {
    std::atomic<int> state{0};
    char path[PATH_MAX] = {};
};
constexpr int kSlots = 32;
Slot gSlots[kSlots];

// Claims a slot for a folder to be made from `pattern` (mkdtemp's
// "...XXXXXX"): the pattern is in the slot before the folder exists, so
// that a signal at any moment finds the folder once it is there.
int ClaimSlot(const std::string& pattern) {
    if (pattern.size() >= PATH_MAX) {
        return -1;
    }
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (gSlots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(gSlots[i].path, pattern.c_str(), pattern.size() + 1);
            gSlots[i].state.store(2);
            return i;
        }
    }
    return -1;  // more copies at once than slots: a later run removes what is left
}

// Removes the files of a private folder and the folder, with a buffer of
// the caller's (no allocation: used in signal handlers).
void RemoveFolder(const char* folder) noexcept {
    char path[PATH_MAX + 32];
    const std::size_t length = std::strlen(folder);
    const std::size_t nameLength = std::strlen(kCopyName);
    if (length + 1 + nameLength + 9 >= sizeof path) {
        return;
    }
    std::memcpy(path, folder, length);
    path[length] = '/';
    std::memcpy(path + length + 1, kCopyName, nameLength);
    for (const char* suffix : kSuffixes) {
        std::strcpy(path + length + 1 + nameLength, suffix);
        ::unlink(path);
    }
    ::rmdir(folder);
}

std::string ErrorText(int error) {
    return std::strerror(error);
}

}  // namespace

std::string TemporaryFolder() {
    const char* tmpdir = std::getenv("TMPDIR");
    return tmpdir && *tmpdir ? tmpdir : "/tmp";
}

void RemovePrivateCopies() noexcept {
    for (auto& slot : gSlots) {
        if (slot.state.load() == 2) {
            RemoveFolder(slot.path);
        }
    }
}

void RemoveStalePrivateCopies(const std::string& folder) noexcept {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(kFolderPrefix)) {
            continue;
        }
        const std::string_view rest = name.substr(kFolderPrefix.size());
        const auto dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos) {
            continue;
        }
        const std::string digits(rest.substr(0, dash));
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) {
            continue;
        }
        const auto pid = static_cast<pid_t>(std::stol(digits));
        if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) {
            continue;  // ours, or of a process that still runs (or that we may not see)
        }
        const std::string path = folder + "/" + std::string(name);
        struct stat info {};
        if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
            info.st_uid == ::geteuid()) {
            stale.push_back(path);
        }
    }
    ::closedir(dir);
    for (const auto& path : stale) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

PrivateFolder::PrivateFolder(std::string file)
    : file_(std::move(file)), parent_(TemporaryFolder()) {
    struct stat info {};
    if (::stat(parent_.c_str(), &info) != 0) {
        if (errno == ENOENT) {
            throw DbError(errors::kCannotOpen,
                          "Cannot make a private copy of '" + file_ +
                              "' to read it: the temporary folder '" + parent_ +
                              "' does not exist (set TMPDIR to a folder that exists).",
                          kSource);
        }
        Fail("the temporary folder '" + parent_ + "' cannot be used", errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        throw DbError(errors::kCannotOpen,
                      "Cannot make a private copy of '" + file_ + "' to read it: '" + parent_ +
                          "', the temporary folder, is not a folder (set TMPDIR to a folder).",
                      kSource);
    }
    RemoveStalePrivateCopies(parent_);
    std::string pattern =
        parent_ + "/" + std::string(kFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
    slot_ = ClaimSlot(pattern);
    // mkdtemp fills in the name where a signal handler reads it.
    const char* made = ::mkdtemp(slot_ >= 0 ? gSlots[slot_].path : pattern.data());
    if (!made) {
        const int error = errno;
        if (slot_ >= 0) {
            gSlots[slot_].state.store(0);
            slot_ = -1;
        }
        Fail("no folder can be made in the temporary folder '" + parent_ + "'", error);
    }
    path_ = made;
}

PrivateFolder::~PrivateFolder() {
    Remove();
}

std::string PrivateFolder::File(std::string_view suffix) const {
    return path_ + "/" + kCopyName + std::string(suffix);
}

void PrivateFolder::Remove() noexcept {
    if (path_.empty()) {
        return;
    }
    RemoveFolder(path_.c_str());
    if (slot_ >= 0) {
        gSlots[slot_].state.store(0);
        slot_ = -1;
    }
    path_.clear();
}

void PrivateFolder::Fail(std::string_view what, int error) const {
    std::string cause;
    if (error == ENOSPC || error == EDQUOT) {
        cause = "the temporary folder '" + parent_ + "' is full (" + ErrorText(error) + ")";
    } else {
        cause = std::string(what) + ": " + ErrorText(error);
    }
    throw DbError(errors::kCannotOpen,
                  "Cannot make a private copy of '" + file_ + "' to read it: " + cause + ".",
                  kSource);
}

void PrivateFolder::Write(int fd, const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(fd, data, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            Fail("writing the copy in '" + parent_ + "' failed", errno);
        }
        data += written;
        count -= static_cast<std::size_t>(written);
    }
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int FileDescriptor::Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

void PrivateFolder::CopyFrom(int fd, std::string_view suffix) {
    FileDescriptor out(::open(File(suffix).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.Get() < 0) {
        Fail("the copy cannot be created in '" + parent_ + "'", errno);
    }
    // The kernel copies (copy_file_range) where it can; else through a buffer.
    loff_t from = 0;
    bool kernelCopies = true;
    std::vector<char> buffer;
    while (true) {
        if (kernelCopies) {
            const ssize_t copied = ::copy_file_range(fd, &from, out.Get(), nullptr, kCopyBuffer, 0);
            if (copied > 0) {
                continue;
            }
            if (copied == 0) {
                break;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
                Fail("writing the copy in '" + parent_ + "' failed", errno);
            }
            kernelCopies = false;
            buffer.resize(kCopyBuffer);
        }
        const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), from);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw DbError(errors::kCannotOpen,
                          "Cannot make a private copy of '" + file_ + "': reading it failed (" +
                              ErrorText(errno) + ").",
                          kSource);
        }
        if (got == 0) {
            break;
        }
        Write(out.Get(), buffer.data(), static_cast<std::size_t>(got));
        from += got;
    }
    if (const int error = out.Close(); error != 0) {
        Fail("writing the copy in '" + parent_ + "' failed", error);
    }
}

void PrivateFolder::CopyFile(const std::string& from, std::string_view suffix) {
    FileDescriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.Get() < 0) {
        throw DbError(errors::kCannotOpen,
                      "Cannot make a private copy of '" + from + "': " + ErrorText(errno) + ".",
                      kSource);
    }
    CopyFrom(in.Get(), suffix);
}

}  // namespace kesmark::sqlite
