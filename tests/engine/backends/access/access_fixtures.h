#pragma once

// Access test files: the real databases of the shared test data, and patched
// copies of them in a temporary folder. The real files are only ever read.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/test_support.h"

namespace kesmark::test {

// A file of the shared test data folder access/ ("nwind.mdb", ...).
fs::path AccessFile(std::string_view name);
// A file of access-damaged/; every such file, sorted by name.
std::vector<fs::path> DamagedAccessFiles();

// Where nwind.mdb (Jet 3, 2048-byte pages) keeps what the tests patch. Each
// place was found by reading the file's catalog: a table's definition lies on
// the page of its MSysObjects Id, its stored properties (LvProp) in the long
// value page or chain its catalog row points to. The helpers below check that
// every pattern occurs exactly once in its page before patching it.
namespace nwind {
inline constexpr std::size_t kPageSize = 2048;
inline constexpr std::uint32_t kCustomersDefinitionPage = 77;
inline constexpr std::uint32_t kCustomersPropertiesPage = 732;     // one long value row
inline constexpr std::uint32_t kOrderDetailsPropertiesPage = 741;  // one long value row
inline constexpr std::uint32_t kProductsPropertiesPage = 746;      // first page of a chain
}  // namespace nwind

// The bytes of a file.
std::string ReadBytes(const fs::path& path);

// The offset in `bytes` of the one occurrence of `pattern` within page
// `page` (of `pageSize` bytes). Fails the test (and returns npos) unless the
// pattern occurs exactly once there.
std::size_t FindInPage(const std::string& bytes, std::uint32_t page, std::size_t pageSize,
                       std::string_view pattern);

// Writes `bytes` with `replacement` put at `offset` to `folder`/`name`.
fs::path WritePatched(const fs::path& folder, std::string_view name, std::string bytes,
                      std::size_t offset, std::string_view replacement);

// Offset of row `row` of the data page `page` of a Jet 3 file.
std::size_t Jet3RowOffset(const std::string& bytes, std::uint32_t page, unsigned row);

// Offset in `bytes` (a whole file) of column `column` of the one MSysQueries
// row of saved query `query` with attribute `attribute` whose Name1 is
// `name1` (empty: any). Found by reading the file with the reader's own
// parsers, then the row's bytes in the file; fails the test (and returns
// npos) unless exactly one row matches and its bytes occur once.
std::size_t QueryRowFieldOffset(const std::string& bytes, std::string_view query, int attribute,
                                std::string_view name1, std::string_view column);

// Where the value of column `column` of row `row` (0-based, in stored order)
// of table `table` lies in a Jet 3 file: the offset and length of its bytes
// in the row, or for a long value of its data in the first (or only) piece
// that holds it. Fails the test (and returns npos) when the row's bytes do
// not occur exactly once in the table's data pages.
struct StoredBytes {
    std::size_t offset = std::string::npos;
    std::size_t length = 0;
    bool longValue = false;
};
StoredBytes Jet3ValueBytes(const std::string& bytes, std::string_view table, std::size_t row,
                           std::string_view column);

std::uint16_t Le16At(const std::string& bytes, std::size_t at);
std::uint32_t Le32At(const std::string& bytes, std::size_t at);
std::string Le32Bytes(std::uint32_t value);

}  // namespace kesmark::test
