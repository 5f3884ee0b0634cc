#include "settings/settings_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

#include "engine/model/program_folder.h"

namespace kesmark {

namespace {

std::filesystem::path Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::filesystem::path(value) : std::filesystem::path();
}

}  // namespace

SettingsEnvironment CurrentSettingsEnvironment() {
    SettingsEnvironment environment;
    environment.programFolder = ProgramFolder();
    environment.xdgConfigHome = Variable("XDG_CONFIG_HOME");
    environment.home = Variable("HOME");
    if (environment.home.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) {
            environment.home = entry->pw_dir;
        }
    }
    if (!environment.programFolder.empty()) {
        const auto shipped =
            (environment.programFolder / kDataFromProgram / kSettingsFileName).lexically_normal();
        std::error_code ec;
        if (std::filesystem::exists(shipped, ec)) {
            environment.shippedDefault = shipped;
        }
    }
    return environment;
}

SettingsLocation FindSettings(const std::optional<std::filesystem::path>& explicitFile,
                              const SettingsEnvironment& environment) {
    if (explicitFile) {
        return {*explicitFile, environment.shippedDefault};
    }
    if (!environment.programFolder.empty()) {
        const auto beside = environment.programFolder / kSettingsFileName;
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(beside, ec))) {
            return {beside, environment.shippedDefault};
        }
    }
    const auto config = environment.xdgConfigHome.is_absolute() ? environment.xdgConfigHome
                                                                : environment.home / ".config";
    return {config / "kesmark" / kSettingsFileName, environment.shippedDefault};
}

}  // namespace kesmark
