#include "engine/model/program_folder.h"

#include <system_error>

namespace kesmark {

std::filesystem::path ProgramFolder() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path FindBesideOrInstalled(std::string_view name,
                                            std::string_view installedFolder) {
    const auto folder = ProgramFolder();
    if (folder.empty()) {
        return std::filesystem::path(name);
    }
    std::error_code ec;
    const auto beside = folder / name;
    if (std::filesystem::exists(beside, ec)) {
        return beside;
    }
    return (folder / installedFolder / name).lexically_normal();
}

}  // namespace kesmark
