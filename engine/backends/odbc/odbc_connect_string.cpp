#include "engine/backends/odbc/odbc_connect_string.h"

#include <odbcinst.h>
#include <sys/stat.h>

#include <array>

#include "engine/model/text.h"

namespace kesmark::odbc {

namespace {

std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// One entry of an odbc.ini or odbcinst.ini section, "" when absent.
std::string ProfileString(const std::string& section, const char* key, const char* file) {
    std::array<char, 1024> value{};
    SQLGetPrivateProfileString(section.c_str(), key, "", value.data(),
                               static_cast<int>(value.size()), file);
    return value.data();
}

std::string ValueOf(const std::vector<std::pair<std::string, std::string>>& pairs,
                    std::string_view key) {
    for (const auto& [k, v] : pairs) {
        if (k == key) {
            return v;
        }
    }
    return {};
}

bool Has(const std::vector<std::pair<std::string, std::string>>& pairs, std::string_view key) {
    for (const auto& pair : pairs) {
        if (pair.first == key) {
            return true;
        }
    }
    return false;
}

// Whether the driver named (registered name or library path) is the SQLite
// ODBC driver (libsqliteodbc.so, libsqlite3odbc.so).
bool IsSqliteDriver(const std::string& driver) {
    if (driver.empty()) {
        return false;
    }
    std::string library = driver;
    if (driver.find('/') == std::string::npos && !driver.ends_with(".so")) {
        library = ProfileString(driver, "Driver", "odbcinst.ini");
    }
    const std::string file = FoldAsciiCase(library.substr(library.find_last_of('/') + 1));
    return file.starts_with("libsqlite") && file.find("odbc") != std::string::npos;
}

// The driver a connect string names, directly or through its data source;
// "" when it names none.
std::string DriverOf(const std::vector<std::pair<std::string, std::string>>& pairs) {
    if (std::string driver = ValueOf(pairs, "driver"); !driver.empty()) {
        return driver;
    }
    const std::string dsn = ValueOf(pairs, "dsn");
    return dsn.empty() ? std::string() : ProfileString(dsn, "Driver", "odbc.ini");
}

}  // namespace

std::vector<std::pair<std::string, std::string>> ConnectStringPairs(
    std::string_view connectString) {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::size_t pos = 0;
    while (pos < connectString.size()) {
        const auto eq = connectString.find('=', pos);
        const auto semicolon = connectString.find(';', pos);
        if (eq == std::string_view::npos ||
            (semicolon != std::string_view::npos && semicolon < eq)) {
            if (semicolon == std::string_view::npos) {
                break;
            }
            pos = semicolon + 1;
            continue;
        }
        std::string key = FoldAsciiCase(Trimmed(connectString.substr(pos, eq - pos)));
        std::size_t valueStart = eq + 1;
        while (valueStart < connectString.size() && connectString[valueStart] == ' ') {
            ++valueStart;
        }
        std::string value;
        std::size_t end = 0;
        if (valueStart < connectString.size() && connectString[valueStart] == '{') {
            // A braced value runs to the closing brace; "}}" stands for "}".
            std::size_t i = valueStart + 1;
            for (; i < connectString.size(); ++i) {
                if (connectString[i] == '}') {
                    if (i + 1 < connectString.size() && connectString[i + 1] == '}') {
                        value += '}';
                        ++i;
                        continue;
                    }
                    break;
                }
                value += connectString[i];
            }
            end = connectString.find(';', i);
        } else {
            end = connectString.find(';', valueStart);
            value = Trimmed(connectString.substr(valueStart, end == std::string_view::npos
                                                                 ? std::string_view::npos
                                                                 : end - valueStart));
        }
        pairs.emplace_back(std::move(key), std::move(value));
        if (end == std::string_view::npos) {
            break;
        }
        pos = end + 1;
    }
    return pairs;
}

std::string WithNeverCreate(const std::string& connectString) {
    const auto pairs = ConnectStringPairs(connectString);
    if (Has(pairs, "nocreat")) {
        return connectString;
    }
    const std::string dsn = ValueOf(pairs, "dsn");
    if (!Has(pairs, "driver") && !dsn.empty() &&
        !ProfileString(dsn, "NoCreat", "odbc.ini").empty()) {
        return connectString;  // the data source says
    }
    if (!IsSqliteDriver(DriverOf(pairs))) {
        return connectString;
    }
    std::string out = connectString;
    if (!out.empty() && out.back() != ';') {
        out += ';';
    }
    return out + "NoCreat=1;";
}

bool SetsAnyOf(const std::string& connectString, const std::vector<std::string_view>& keywords) {
    const auto pairs = ConnectStringPairs(connectString);
    const std::string dsn = ValueOf(pairs, "dsn");
    const std::string driver = DriverOf(pairs);
    // A driver given by its library's path has no section of its own.
    const bool driverSection = !driver.empty() && driver.find('/') == std::string::npos;
    for (const auto keyword : keywords) {
        const std::string key(keyword);
        if (Has(pairs, FoldAsciiCase(key)) ||
            (!dsn.empty() && !ProfileString(dsn, key.c_str(), "odbc.ini").empty()) ||
            (driverSection && !ProfileString(driver, key.c_str(), "odbcinst.ini").empty())) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> SettingOf(const std::string& connectString,
                                     const std::vector<std::string_view>& keywords) {
    const auto pairs = ConnectStringPairs(connectString);
    for (const auto keyword : keywords) {
        const std::string key = FoldAsciiCase(std::string(keyword));
        if (Has(pairs, key)) {
            return ValueOf(pairs, key);
        }
    }
    const std::string dsn = ValueOf(pairs, "dsn");
    if (dsn.empty() || Has(pairs, "driver")) {
        return std::nullopt;
    }
    for (const auto keyword : keywords) {
        if (std::string value = ProfileString(dsn, std::string(keyword).c_str(), "odbc.ini");
            !value.empty()) {
            return value;
        }
    }
    return std::nullopt;
}

std::string MissingSqliteFile(const std::string& connectString) {
    const auto pairs = ConnectStringPairs(connectString);
    if (!IsSqliteDriver(DriverOf(pairs))) {
        return {};
    }
    std::string file = ValueOf(pairs, "database");
    if (file.empty() && !Has(pairs, "driver")) {
        const std::string dsn = ValueOf(pairs, "dsn");
        file = dsn.empty() ? std::string() : ProfileString(dsn, "Database", "odbc.ini");
    }
    struct stat info {};
    return file.empty() || ::stat(file.c_str(), &info) == 0 ? std::string() : file;
}

}  // namespace kesmark::odbc
