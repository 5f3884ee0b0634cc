#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kesmark {

// The settings file, read and written with private-profile semantics:
// - "[Section]" headers and "key=value" lines; section and key names compare
//   ignoring ASCII letter case; the first matching section and key win;
// - values are trimmed of blanks, and one pair of matching outer quotes
//   ("..." or '...') is stripped;
// - a read returns at most 1023 bytes, never cutting a UTF-8 sequence;
// - every call sees the file as it is now, so a change made by another part of
//   the program (or another program) is seen at once. (The parsed file is
//   kept while its size, times and inode stay the same, which a check of the
//   file's status tells cheaply.)
// Writing replaces the one line of the key (or adds the key, the section and
// the file as needed) and keeps every other line, comments included, as it
// was. The file is replaced atomically (a temporary file, then rename) and is
// left readable by its owner only, since connect strings may hold passwords.
//
// A fallback file (the shipped default settings) may stand behind the file:
// reads use it while the file does not exist, and the first write creates the
// file (and its missing folders, private to the owner) from the fallback's
// lines. A file that exists but cannot be used (unreadable, a folder, not
// text, a line that is neither a section, a key nor a comment) is reported
// once through the problem handler, and reads then use the fallback, or give
// their defaults when there is none.
class IniFile {
  public:
    explicit IniFile(std::filesystem::path path, std::filesystem::path fallback = {});
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    const std::filesystem::path& Fallback() const { return fallback_; }

    // Receives the one-line description of a settings file that cannot be
    // used, naming the file and the cause, such as "The settings file
    // '/home/me/.config/kesmark/Kesmark.ini' cannot be read: Permission
    // denied. Kesmark goes on with the default settings ('...')." Called once
    // per problem, from whichever read first meets it after the handler is
    // set; a problem that goes away and comes back is reported again.
    using ProblemHandler = std::function<void(const std::string& message)>;
    void SetProblemHandler(ProblemHandler handler) { problemHandler_ = std::move(handler); }

    // The parsed values of one file (defined where the file is read).
    struct Snapshot;

    // The file's values at one moment, for reading many values with one look
    // at the file (a skip list of N names takes N + 1 reads).
    class View {
      public:
        std::string ReadIniString(std::string_view section, std::string_view key,
                                  std::string_view defaultValue = "") const;
        long ReadIniInt(std::string_view section, std::string_view key,
                        long defaultValue = 0) const;
        // The highest n for which the key `prefix` followed by n (decimal,
        // no leading zero, n >= 1) is in `section`; 0 when there is none.
        // ("Skip1", "Skip7" present: HighestNumberedKey(s, "Skip") == 7.)
        long HighestNumberedKey(std::string_view section, std::string_view prefix) const;

      private:
        friend class IniFile;
        explicit View(std::shared_ptr<const Snapshot> snapshot) : snapshot_(std::move(snapshot)) {}
        std::shared_ptr<const Snapshot> snapshot_;  // null when there is no file
    };

    // The file as it is now.
    View Now() const { return View(Current()); }

    // The value under `key` in `section`, or `defaultValue` when the file, the
    // section or the key is absent.
    std::string ReadIniString(std::string_view section, std::string_view key,
                              std::string_view defaultValue = "") const;
    // The value read as a decimal whole number (leading blanks and a sign
    // allowed, reading stops at the first non-digit; no digits give 0), or
    // `defaultValue` when absent.
    long ReadIniInt(std::string_view section, std::string_view key, long defaultValue = 0) const;
    // Stores `value` under `key` in `section`. Returns false, writing nothing,
    // when the file cannot be written, when it exists but cannot be read
    // (its lines would be lost), or when a name or value would break the
    // file's lines (a line break in any of them, "]" in the section, "=" in the
    // key, a section or key that is empty).
    bool WriteIniString(std::string_view section, std::string_view key, std::string_view value);

    // The longest value a read returns, in bytes.
    static constexpr std::size_t kMaxValueBytes = 1023;
    // The largest file read as settings; a larger one is reported.
    static constexpr off_t kMaxFileBytes = 16 * 1024 * 1024;

  private:
    // The file's values as they are now; null when there is no file.
    std::shared_ptr<const Snapshot> Current() const;
    // Reports `message` unless it is the one reported last.
    void Report(const std::string& message) const;

    std::filesystem::path path_;
    std::filesystem::path fallback_;
    ProblemHandler problemHandler_;
    mutable std::shared_ptr<const Snapshot> snapshot_;
    mutable std::shared_ptr<const Snapshot> fallbackSnapshot_;
    mutable std::string lastProblem_;
};

}  // namespace kesmark
