#include "tests/engine/backends/access/access_fixtures.h"

#include <algorithm>
#include <fstream>

#include "engine/backends/access/jet_file.h"

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

std::size_t QueryRowFieldOffset(const std::string& bytes, std::string_view query, int attribute,
                                std::string_view name1, std::string_view column) {
    using namespace kesmark::access;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    BufferPageSource source(std::span<const std::uint8_t>(data, bytes.size()));
    JetFile file(source);
    const TableDef catalog = file.ReadTableDef(2);
    const int nameColumn = catalog.ColumnIndex("Name");
    const int idColumn = catalog.ColumnIndex("Id");
    std::uint32_t queriesPage = 0;
    std::uint32_t queryId = 0;
    file.ForEachRow(catalog, [&](std::span<const std::uint8_t> row) {
        const auto f = file.CrackRow(catalog, row);
        const auto name = file.DecodeText(f[nameColumn].bytes);
        if (name == "MSysQueries") {
            queriesPage = Le32(f[idColumn].bytes, 0) & 0x00FFFFFFu;
        } else if (name == query) {
            queryId = Le32(f[idColumn].bytes, 0);
        }
    });
    const TableDef queries = file.ReadTableDef(queriesPage);
    const int objectId = queries.ColumnIndex("ObjectId");
    const int attributeColumn = queries.ColumnIndex("Attribute");
    const int name1Column = queries.ColumnIndex("Name1");
    const int wanted = queries.ColumnIndex(column);
    std::vector<std::pair<std::string, std::size_t>> matches;  // row bytes, field offset in it
    file.ForEachRow(queries, [&](std::span<const std::uint8_t> row) {
        const auto f = file.CrackRow(queries, row);
        if (Le32(f[objectId].bytes, 0) != queryId || f[attributeColumn].bytes[0] != attribute ||
            (!name1.empty() &&
             (f[name1Column].isNull || file.DecodeText(f[name1Column].bytes) != name1))) {
            return;
        }
        matches.emplace_back(std::string(reinterpret_cast<const char*>(row.data()), row.size()),
                             static_cast<std::size_t>(f[wanted].bytes.data() - row.data()));
    });
    if (matches.size() != 1) {
        ADD_FAILURE() << matches.size() << " rows of query '" << query << "' match";
        return std::string::npos;
    }
    const auto& [row, at] = matches.front();
    const auto first = bytes.find(row);
    if (first == std::string::npos || bytes.find(row, first + 1) != std::string::npos) {
        ADD_FAILURE() << "the row of query '" << query << "' does not occur exactly once";
        return std::string::npos;
    }
    return first + at;
}

StoredBytes Jet3ValueBytes(const std::string& bytes, std::string_view table, std::size_t row,
                           std::string_view column) {
    using namespace kesmark::access;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    BufferPageSource source(std::span<const std::uint8_t>(data, bytes.size()));
    JetFile file(source);
    const TableDef catalog = file.ReadTableDef(2);
    const int nameColumn = catalog.ColumnIndex("Name");
    const int idColumn = catalog.ColumnIndex("Id");
    const int typeColumn = catalog.ColumnIndex("Type");
    std::uint32_t page = 0;
    file.ForEachRow(catalog, [&](std::span<const std::uint8_t> r) {
        const auto f = file.CrackRow(catalog, r);
        if (file.DecodeText(f[nameColumn].bytes) == table && Le16(f[typeColumn].bytes, 0) == 1) {
            page = Le32(f[idColumn].bytes, 0) & 0x00FFFFFFu;
        }
    });
    const TableDef def = file.ReadTableDef(page);
    const int wanted = def.ColumnIndex(column);
    std::string rowBytes;
    std::size_t at = 0;
    std::vector<std::uint8_t> header;
    std::size_t index = 0;
    file.ForEachRow(def, [&](std::span<const std::uint8_t> r) {
        if (index++ != row) {
            return;
        }
        const auto f = file.CrackRow(def, r);
        rowBytes.assign(reinterpret_cast<const char*>(r.data()), r.size());
        at = static_cast<std::size_t>(f[wanted].bytes.data() - r.data());
        header.assign(f[wanted].bytes.begin(), f[wanted].bytes.end());
    });
    // The row is searched for in the table's own data pages only: a file may
    // keep stale copies of rows elsewhere.
    StoredBytes out;
    std::size_t first = std::string::npos;
    int found = 0;
    for (std::size_t at0 = 0; at0 + nwind::kPageSize <= bytes.size(); at0 += nwind::kPageSize) {
        if (bytes[at0] != 0x01 || Le32At(bytes, at0 + 4) != page) {
            continue;
        }
        const std::string_view inPage(bytes.data() + at0, nwind::kPageSize);
        for (auto hit = inPage.find(rowBytes); hit != std::string_view::npos;
             hit = inPage.find(rowBytes, hit + 1)) {
            first = at0 + hit;
            ++found;
        }
    }
    if (rowBytes.empty() || found != 1) {
        ADD_FAILURE() << "row " << row << " of '" << table << "' occurs " << found
                      << " times in the table's pages";
        return out;
    }
    const auto type = def.columns[wanted].type;
    if (type != 0x0B && type != 0x0C) {
        out.offset = first + at;
        out.length = header.size();
        return out;
    }
    out.longValue = true;
    const std::uint32_t word = Le32(header, 0);
    out.length = word & 0x3FFFFFFF;
    if (word & 0x80000000u) {
        out.offset = first + at + 12;
        return out;
    }
    const std::uint32_t pointer = Le32(header, 4);
    out.offset =
        Jet3RowOffset(bytes, pointer >> 8, pointer & 0xFF) + ((word & 0x40000000u) ? 0 : 4);
    return out;
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
