#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
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
    bool exists = false;
};

Lines ReadLines(const std::filesystem::path& path) {
    Lines result;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return result;
    }
    result.exists = true;
    std::stringstream buffer;
    buffer << in.rdbuf();
    std::string text = buffer.str();
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
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        ::fchmod(fd, existing.st_mode & 07777);
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

}  // namespace

// The values of the file at one moment: for each section (its first
// occurrence) and key (its first occurrence there) the value, quotes stripped.
struct IniFile::Snapshot {
    struct stat status {};
    std::unordered_map<std::string, std::string> values;
};

IniFile::IniFile(std::filesystem::path path) : path_(std::move(path)) {}
IniFile::~IniFile() = default;

std::shared_ptr<const IniFile::Snapshot> IniFile::Current() const {
    struct stat status {};
    if (::stat(path_.c_str(), &status) != 0) {
        snapshot_.reset();
        return nullptr;
    }
    const auto sameFile = [&](const struct stat& s) {
        return s.st_dev == status.st_dev && s.st_ino == status.st_ino &&
               s.st_size == status.st_size && s.st_mtim.tv_sec == status.st_mtim.tv_sec &&
               s.st_mtim.tv_nsec == status.st_mtim.tv_nsec &&
               s.st_ctim.tv_sec == status.st_ctim.tv_sec &&
               s.st_ctim.tv_nsec == status.st_ctim.tv_nsec;
    };
    if (snapshot_ && sameFile(snapshot_->status)) {
        return snapshot_;
    }
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->status = status;
    const auto file = ReadLines(path_);
    std::unordered_map<std::string, bool>
        sectionsSeen;  // folded name -> still its first occurrence
    std::string current;
    bool active = false;
    for (const auto& line : file.lines) {
        if (const auto name = SectionOf(line)) {
            current = Fold(*name);
            active = sectionsSeen.emplace(current, true).second;
            continue;
        }
        if (!active) {
            continue;
        }
        if (const auto kv = KeyValueOf(line)) {
            snapshot->values.emplace(current + '\0' + Fold(kv->first),
                                     StripOuterQuotes(kv->second));
        }
    }
    snapshot_ = snapshot;
    return snapshot;
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

bool IniFile::WriteIniString(std::string_view section, std::string_view key,
                             std::string_view value) {
    if (Trim(section).empty() || Trim(key).empty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || section.find(']') != std::string_view::npos ||
        key.find('=') != std::string_view::npos || Trim(key).front() == '[' ||
        Trim(key).front() == ';' || Trim(key).front() == '#') {
        return false;
    }
    auto file = ReadLines(path_);
    const auto loc = Locate(file, section, key);
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

std::filesystem::path DefaultSettingsPath() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return "Kesmark.ini";
    }
    return exe.parent_path() / "Kesmark.ini";
}

}  // namespace kesmark
