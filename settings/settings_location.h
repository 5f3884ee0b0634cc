#pragma once

// Where the settings file is, on a system where programs may sit in a folder
// their users cannot write.

#include <filesystem>
#include <optional>

namespace kesmark {

// The settings file a program reads and writes, and the file that stands
// behind it while it does not exist (see IniFile).
struct SettingsLocation {
    SettingsLocation() = default;
    // A file without a fallback (tests, an explicit choice).
    SettingsLocation(std::filesystem::path path) : file(std::move(path)) {}  // NOLINT: implicit
    SettingsLocation(std::filesystem::path path, std::filesystem::path defaults)
        : file(std::move(path)), fallback(std::move(defaults)) {}

    std::filesystem::path file;
    std::filesystem::path fallback;  // empty: none
};

// What the search depends on, so that tests can set it.
struct SettingsEnvironment {
    std::filesystem::path programFolder;   // empty: unknown
    std::filesystem::path xdgConfigHome;   // $XDG_CONFIG_HOME; empty: unset
    std::filesystem::path home;            // $HOME, else the password database's
    std::filesystem::path shippedDefault;  // share/kesmark/Kesmark.ini; empty: not found
};

// The running program's environment: its folder, the two variables, and the
// shipped default found relative to the program's folder.
SettingsEnvironment CurrentSettingsEnvironment();

// The name of the settings file wherever it lives.
inline constexpr const char* kSettingsFileName = "Kesmark.ini";

// Finds the settings file:
// 1. `explicitFile` when given (a --settings option);
// 2. else Kesmark.ini beside the program, when it exists there (a portable
//    set-up, and a build tree);
// 3. else $XDG_CONFIG_HOME/kesmark/Kesmark.ini, $XDG_CONFIG_HOME defaulting
//    to ~/.config (and ignored when it is not an absolute path).
// The shipped default stands behind each of them: reads fall back to it while
// the file does not exist (or cannot be used), and the first write creates
// the file from it.
SettingsLocation FindSettings(const std::optional<std::filesystem::path>& explicitFile,
                              const SettingsEnvironment& environment);

}  // namespace kesmark
