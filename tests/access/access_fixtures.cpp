#include "tests/access/access_fixtures.h"

#include <algorithm>
#include <fstream>

namespace kesmark::test {

fs::path AccessFile(std::string_view name) {
    return SharedTestData() / "access" / name;
}

std::vector<fs::path> DamagedAccessFiles() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(SharedTestData() / "access-damaged", ec)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadBytes(const fs::path& path) {
    return ReadFile(path);
}

std::size_t FindInPage(const std::string& bytes, std::uint32_t page, std::size_t pageSize,
                       std::string_view pattern) {
    const std::size_t begin = page * pageSize;
    if (begin + pageSize > bytes.size()) {
        ADD_FAILURE() << "page " << page << " lies beyond the file";
        return std::string::npos;
    }
    const std::string_view inPage(bytes.data() + begin, pageSize);
    const auto first = inPage.find(pattern);
    if (first == std::string_view::npos || inPage.find(pattern, first + 1) != std::string::npos) {
        ADD_FAILURE() << "'" << pattern << "' does not occur exactly once in page " << page;
        return std::string::npos;
    }
    return begin + first;
}

fs::path WritePatched(const fs::path& folder, std::string_view name, std::string bytes,
                      std::size_t offset, std::string_view replacement) {
    if (offset == std::string::npos || offset + replacement.size() > bytes.size()) {
        ADD_FAILURE() << "patch outside the file";
    } else {
        bytes.replace(offset, replacement.size(), replacement);
    }
    const fs::path path = folder / name;
    WriteFile(path, bytes);
    return path;
}

std::uint16_t Le16At(const std::string& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(at)) |
                                      (static_cast<unsigned char>(bytes.at(at + 1)) << 8));
}

std::uint32_t Le32At(const std::string& bytes, std::size_t at) {
    return std::uint32_t{Le16At(bytes, at)} | (std::uint32_t{Le16At(bytes, at + 2)} << 16);
}

std::string Le32Bytes(std::uint32_t value) {
    std::string out(4, '\0');
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
    return out;
}

std::size_t Jet3RowOffset(const std::string& bytes, std::uint32_t page, unsigned row) {
    const std::size_t begin = page * nwind::kPageSize;
    return begin + (Le16At(bytes, begin + 0x0A + 2 * row) & 0x1FFF);
}

}  // namespace kesmark::test
