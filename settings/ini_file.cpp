#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kesmark {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(kBlanks);
    return s.substr(first, last - first + 1);
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

struct Lines {
    std::vector<std::string> lines;  // without their line ends
    std::string eol = "\n";
};

// The whole text of a settings file, or why it cannot be had.
struct FileText {
    std::string text;
    std::string problem;  // empty when the text was read
};

FileText ReadText(const std::filesystem::path& path) {
    FileText result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        result.problem = std::string("cannot be read: ") + std::strerror(errno);
        return result;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        result.problem = std::string("cannot be read: ") + std::strerror(errno);
    } else if (S_ISDIR(status.st_mode)) {
        result.problem = "is a folder, not a file";
    } else if (!S_ISREG(status.st_mode)) {
        result.problem = "is not a regular file";
    } else if (status.st_size > IniFile::kMaxFileBytes) {
        result.problem = "is larger than " + std::to_string(IniFile::kMaxFileBytes >> 20) +
                         " MiB, too large for a settings file";
    }
    char buffer[65536];
    while (result.problem.empty()) {
        const auto n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            result.problem = std::string("cannot be read: ") + std::strerror(errno);
        } else if (n == 0) {
            break;
        } else if (result.text.size() + static_cast<std::size_t>(n) >
                   static_cast<std::size_t>(IniFile::kMaxFileBytes)) {
            result.problem = "grew too large while it was read";
        } else {
            result.text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    if (!result.problem.empty()) {
        result.text.clear();
    }
    return result;
}

Lines SplitLines(std::string text) {
    Lines result;
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.erase(0, 3);
    }
    if (text.find("\r\n") != std::string::npos) {
        result.eol = "\r\n";
    }
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        result.lines.push_back(std::move(line));
        start = end + 1;
    }
    return result;
}

// The section name of a "[name]" line, or nullopt for any other line.
std::optional<std::string_view> SectionOf(std::string_view line) {
    const auto t = Trim(line);
    if (t.size() < 2 || t.front() != '[') {
        return std::nullopt;
    }
    const auto close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(t.substr(1, close - 1));
}

// The key and raw value of a "key=value" line, or nullopt for any other line.
std::optional<std::pair<std::string_view, std::string_view>> KeyValueOf(std::string_view line) {
    const auto t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') {
        return std::nullopt;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return std::make_pair(Trim(t.substr(0, eq)), Trim(t.substr(eq + 1)));
}

// Index of the first line of the key in the first matching section.
struct Location {
    std::optional<std::size_t> sectionLine;
    std::optional<std::size_t> keyLine;
    std::size_t sectionEnd = 0;  // one past the section's last entry
};

Location Locate(const Lines& file, std::string_view section, std::string_view key) {
    Location loc;
    bool inSection = false;
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        const auto& line = file.lines[i];
        if (const auto name = SectionOf(line)) {
            if (inSection) {
                break;  // the first matching section ends here
            }
            if (EqualsIgnoringCase(*name, section)) {
                inSection = true;
                loc.sectionLine = i;
                loc.sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection) {
            continue;
        }
        const auto trimmed = Trim(line);
        if (!trimmed.empty() && trimmed.front() != ';' && trimmed.front() != '#') {
            loc.sectionEnd = i + 1;  // comments after the last entry stay below a new key
        }
        if (!loc.keyLine) {
            if (const auto kv = KeyValueOf(line); kv && EqualsIgnoringCase(kv->first, key)) {
                loc.keyLine = i;
            }
        }
    }
    return loc;
}

std::string StripOuterQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return std::string(value.substr(1, value.size() - 2));
    }
    return std::string(value);
}

// Cuts text to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    text.resize(cut);
    return text;
}

// The value as it must be written so that a read gives it back unchanged.
std::string EncodeValue(std::string_view value) {
    const bool needsQuotes =
        !value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                           kBlanks.find(value.back()) != std::string_view::npos ||
                           ((value.front() == '"' || value.front() == '\'') && value.size() >= 2 &&
                            value.back() == value.front()));
    return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool WriteAtomically(const std::filesystem::path& path, const std::string& content) {
    const auto dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string tmpl = (dir / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(tmpl.data());  // created with mode 0600
    if (fd < 0) {
        return false;
    }
    // The owner's own bits of an existing file stay; nobody else may read
    // what the program writes.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        ::fchmod(fd, existing.st_mode & S_IRWXU);
    }
    std::size_t written = 0;
    while (written < content.size()) {
        const auto n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    const bool ok = written == content.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || std::rename(tmpl.c_str(), path.c_str()) != 0) {
        std::remove(tmpl.c_str());
        return false;
    }
    return true;
}

std::string Fold(std::string_view text) {
    std::string out(text);
    for (auto& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string LookupKey(std::string_view section, std::string_view key) {
    return Fold(section) + '\0' + Fold(key);
}

// The line as a message quotes it: at most 60 bytes.
std::string Quoted(std::string_view line) {
    const auto t = Trim(line);
    return "'" + (t.size() > 60 ? CutUtf8(std::string(t), 57) + "..." : std::string(t)) + "'";
}

// Why the text cannot be settings, or "" when every line is a section
// header, a key=value line inside a section, a comment or blank.
std::string ProblemOfText(const std::string& text) {
    if (text.find('\0') != std::string::npos) {
        return "holds a NUL byte, so it is not a text file";
    }
    const Lines file = SplitLines(text);
    bool inSection = false;
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        const auto t = Trim(file.lines[i]);
        const auto where = [&] { return "line " + std::to_string(i + 1) + " " + Quoted(t); };
        if (t.empty() || t.front() == ';' || t.front() == '#') {
            continue;
        }
        if (t.front() == '[') {
            if (!SectionOf(t)) {
                return where() + " opens a section without closing it with ']'";
            }
            inSection = true;
            continue;
        }
        const auto kv = KeyValueOf(t);
        if (!kv) {
            return where() + " is neither a [section], a key=value line nor a comment";
        }
        if (kv->first.empty()) {
            return where() + " has no key before its '='";
        }
        if (!inSection) {
            return where() + " stands before the first [section]";
        }
    }
    return {};
}

// Creates the missing folders above `path`, readable by the owner only.
void CreateFoldersFor(const std::filesystem::path& path) {
    const auto folder = path.parent_path();
    if (folder.empty() || std::filesystem::exists(folder)) {
        return;
    }
    CreateFoldersFor(folder);
    ::mkdir(folder.c_str(), 0700);
}

}  // namespace

// The values of a file at one moment: for each section (its first
// occurrence) and key (its first occurrence there) the value, quotes
// stripped; and per section and key prefix the highest number that follows
// the prefix in a key of that section.
struct IniFile::Snapshot {
    std::filesystem::path source;
    struct stat status {};
    std::unordered_map<std::string, std::string> values;
    std::unordered_map<std::string, long> highestNumbers;
    // Why the file cannot be used; its values are then those of the fallback.
    std::string problem;
};

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Splits "Skip12" into "skip" (folded) and 12; nullopt without a number of
// one or more digits and no leading zero at its end.
std::optional<std::pair<std::string, long>> NumberedKey(std::string_view key) {
    std::size_t digits = key.size();
    while (digits > 0 && key[digits - 1] >= '0' && key[digits - 1] <= '9') {
        --digits;
    }
    if (digits == key.size() || key[digits] == '0' || key.size() - digits > 9) {
        return std::nullopt;
    }
    return std::make_pair(Fold(key.substr(0, digits)), std::stol(std::string(key.substr(digits))));
}

// The parsed text of `path` as its status was `status`.
std::shared_ptr<IniFile::Snapshot> Parse(const std::filesystem::path& path,
                                         const struct stat& status, const FileText& file) {
    auto snapshot = std::make_shared<IniFile::Snapshot>();
    snapshot->source = path;
    snapshot->status = status;
    snapshot->problem = file.problem.empty() ? ProblemOfText(file.text) : file.problem;
    if (!snapshot->problem.empty()) {
        return snapshot;
    }
    std::unordered_map<std::string, bool> sectionsSeen;  // folded name -> first occurrence
    std::string current;
    bool active = false;
    for (const auto& line : SplitLines(file.text).lines) {
        if (const auto name = SectionOf(line)) {
            current = Fold(*name);
            active = sectionsSeen.emplace(current, true).second;
            continue;
        }
        if (!active) {
            continue;
        }
        if (const auto kv = KeyValueOf(line)) {
            const bool added =
                snapshot->values
                    .emplace(current + '\0' + Fold(kv->first), StripOuterQuotes(kv->second))
                    .second;
            if (const auto numbered = NumberedKey(kv->first); added && numbered) {
                long& highest = snapshot->highestNumbers[current + '\0' + numbered->first];
                highest = std::max(highest, numbered->second);
            }
        }
    }
    return snapshot;
}

// The snapshot of `path` now: `cached` while the file is unchanged, else the
// file read afresh. Null when the file does not exist; a snapshot with a
// problem when it exists but cannot be used.
std::shared_ptr<const IniFile::Snapshot> Load(
    const std::filesystem::path& path, const std::shared_ptr<const IniFile::Snapshot>& cached) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return nullptr;
        }
        FileText failed;
        failed.problem = std::string("cannot be read: ") + std::strerror(errno);
        return Parse(path, status, failed);
    }
    if (cached && cached->source == path && SameFile(cached->status, status)) {
        return cached;
    }
    return Parse(path, status, ReadText(path));
}

}  // namespace

IniFile::IniFile(std::filesystem::path path, std::filesystem::path fallback)
    : path_(std::move(path)), fallback_(std::move(fallback)) {}
IniFile::~IniFile() = default;

void IniFile::Report(const std::string& message) const {
    // Without a handler yet, the problem stays to be said by a later read.
    if (message == lastProblem_ || !problemHandler_) {
        return;
    }
    lastProblem_ = message;
    problemHandler_(message);
}

std::shared_ptr<const IniFile::Snapshot> IniFile::Current() const {
    snapshot_ = Load(path_, snapshot_);
    if (snapshot_ && snapshot_->problem.empty()) {
        lastProblem_.clear();
        return snapshot_;
    }
    fallbackSnapshot_ = fallback_.empty() ? nullptr : Load(fallback_, fallbackSnapshot_);
    const bool fallbackUsable = fallbackSnapshot_ && fallbackSnapshot_->problem.empty();
    std::string problem;
    if (snapshot_) {
        problem = "The settings file '" + path_.string() + "' " + snapshot_->problem + ". " +
                  (fallbackUsable
                       ? "Kesmark goes on with the default settings ('" + fallback_.string() + "')."
                       : std::string("Kesmark goes on with empty settings."));
    } else if (fallbackSnapshot_ && !fallbackUsable) {
        problem = "The default settings file '" + fallback_.string() + "' " +
                  fallbackSnapshot_->problem + ". Kesmark goes on with empty settings.";
    }
    if (problem.empty()) {
        lastProblem_.clear();
    } else {
        Report(problem);
    }
    return fallbackUsable ? fallbackSnapshot_ : nullptr;
}

std::string IniFile::ReadIniString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const {
    return Now().ReadIniString(section, key, defaultValue);
}

long IniFile::ReadIniInt(std::string_view section, std::string_view key, long defaultValue) const {
    return Now().ReadIniInt(section, key, defaultValue);
}

std::string IniFile::View::ReadIniString(std::string_view section, std::string_view key,
                                         std::string_view defaultValue) const {
    if (snapshot_) {
        if (const auto it = snapshot_->values.find(LookupKey(section, key));
            it != snapshot_->values.end()) {
            return CutUtf8(it->second, kMaxValueBytes);
        }
    }
    return CutUtf8(std::string(defaultValue), kMaxValueBytes);
}

long IniFile::View::ReadIniInt(std::string_view section, std::string_view key,
                               long defaultValue) const {
    if (!snapshot_) {
        return defaultValue;
    }
    const auto it = snapshot_->values.find(LookupKey(section, key));
    if (it == snapshot_->values.end()) {
        return defaultValue;
    }
    const std::string& value = it->second;
    std::size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == '-' || value[i] == '+')) {
        negative = value[i] == '-';
        ++i;
    }
    long long result = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        result = result * 10 + (value[i] - '0');
        if (result > 0x7FFFFFFF) {
            result = 0x7FFFFFFF;
        }
    }
    return static_cast<long>(negative ? -result : result);
}

long IniFile::View::HighestNumberedKey(std::string_view section, std::string_view prefix) const {
    if (!snapshot_) {
        return 0;
    }
    const auto it = snapshot_->highestNumbers.find(LookupKey(section, prefix));
    return it == snapshot_->highestNumbers.end() ? 0 : it->second;
}

bool IniFile::WriteIniString(std::string_view section, std::string_view key,
                             std::string_view value) {
    if (Trim(section).empty() || Trim(key).empty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || section.find(']') != std::string_view::npos ||
        key.find('=') != std::string_view::npos || Trim(key).front() == '[' ||
        Trim(key).front() == ';' || Trim(key).front() == '#') {
        return false;
    }
    // The file's lines; a file that is not there yet starts as the fallback.
    Lines file;
    std::error_code ec;
    if (std::filesystem::exists(std::filesystem::symlink_status(path_, ec))) {
        const FileText text = ReadText(path_);
        if (!text.problem.empty()) {
            return false;  // writing would lose lines that could not be read
        }
        file = SplitLines(text.text);
    } else if (!fallback_.empty()) {
        const FileText text = ReadText(fallback_);
        if (text.problem.empty() && ProblemOfText(text.text).empty()) {
            file = SplitLines(text.text);
        }
        CreateFoldersFor(path_);
    }
    const auto loc = Locate(file, section, key);

    // The values of the file at one moment: for each section (its first
    // occurrence) and key (its first occurrence there) the value, quotes stripped.
    const std::string line = std::string(key) + "=" + EncodeValue(value);
    if (loc.keyLine) {
        file.lines[*loc.keyLine] = line;
    } else if (loc.sectionLine) {
        file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(loc.sectionEnd), line);
    } else {
        if (!file.lines.empty() && !Trim(file.lines.back()).empty()) {
            file.lines.emplace_back();
        }
        file.lines.push_back("[" + std::string(section) + "]");
        file.lines.push_back(line);
    }
    std::string content;
    for (const auto& l : file.lines) {
        content += l;
        content += file.eol;
    }
    return WriteAtomically(path_, content);
}

}  // namespace kesmark
