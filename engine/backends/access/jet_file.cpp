#include "engine/backends/access/jet_file.h"

#include <iconv.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "engine/model/utf8.h"

namespace kesmark::access {

namespace {

// Caps that no real file comes near; beyond them a file counts as damaged.
constexpr std::size_t kMaxTableDefPages = 1024;
constexpr std::size_t kMaxColumns = 4096;
constexpr std::size_t kMaxIndexes = 1024;
constexpr std::size_t kMaxCachedPages = 4096;

// The part of page 0 that is RC4-encoded with a fixed key.
constexpr std::size_t kHeaderEncodedStart = 0x18;
constexpr std::uint32_t kHeaderKey = 0x6b39dac7;

void Rc4(std::uint32_t key, std::span<std::uint8_t> data) {
    std::uint8_t keyBytes[4];
    for (int i = 0; i < 4; ++i) {
        keyBytes[i] = static_cast<std::uint8_t>(key >> (8 * i));
    }
    std::uint8_t state[256];
    for (int i = 0; i < 256; ++i) {
        state[i] = static_cast<std::uint8_t>(i);
    }
    std::uint8_t j = 0;
    for (int i = 0; i < 256; ++i) {
        j = static_cast<std::uint8_t>(j + state[i] + keyBytes[i % 4]);
        std::swap(state[i], state[j]);
    }
    std::uint8_t x = 0;
    std::uint8_t y = 0;
    for (auto& byte : data) {
        x = static_cast<std::uint8_t>(x + 1);
        y = static_cast<std::uint8_t>(y + state[x]);
        std::swap(state[x], state[y]);
        byte ^= state[static_cast<std::uint8_t>(state[x] + state[y])];
    }
}

double LeDouble(std::span<const std::uint8_t> b, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v |= std::uint64_t{b[at + i]} << (8 * i);
    }
    return std::bit_cast<double>(v);
}

std::string Utf16UnitsToUtf8(const std::vector<std::uint16_t>& units) {
    return Utf16ToUtf8(units.data(), units.size());
}

// Bounds-checked reading of a table definition.
class Cursor {
  public:
    Cursor(std::span<const std::uint8_t> bytes, std::uint32_t page) : b_(bytes), page_(page) {}

    std::uint8_t U8() {
        Need(1);
        return b_[pos_++];
    }
    std::uint16_t U16() {
        Need(2);
        const auto v = Le16(b_, pos_);
        pos_ += 2;
        return v;
    }
    std::uint32_t U32() {
        Need(4);
        const auto v = Le32(b_, pos_);
        pos_ += 4;
        return v;
    }
    std::span<const std::uint8_t> Take(std::size_t n) {
        Need(n);
        auto s = b_.subspan(pos_, n);
        pos_ += n;
        return s;
    }
    void Skip(std::size_t n) { Take(n); }
    void Seek(std::size_t pos) {
        if (pos > b_.size()) {
            Fail();
        }
        pos_ = pos;
    }

  private:
    void Need(std::size_t n) const {
        if (n > b_.size() - pos_) {
            Fail();
        }
    }
    [[noreturn]] void Fail() const {
        Damaged("the table definition on page " + std::to_string(page_) + " ends early");
    }

    std::span<const std::uint8_t> b_;
    std::uint32_t page_;
    std::size_t pos_ = 0;
};

}  // namespace

void Damaged(const std::string& description) {
    throw FormatError(errors::kDamaged, description);
}

void IconvCloser::operator()(void* descriptor) const noexcept {
    iconv_close(static_cast<iconv_t>(descriptor));
}

std::uint32_t BufferPageSource::PageCount(std::uint32_t pageSize) {
    return static_cast<std::uint32_t>(std::min<std::size_t>(bytes_.size() / pageSize, 0xFFFFFFFFu));
}

bool BufferPageSource::ReadPage(std::uint32_t number, std::span<std::uint8_t> out) {
    const std::uint64_t start = std::uint64_t{number} * out.size();
    if (start + out.size() > bytes_.size()) {
        return false;
    }
    std::memcpy(out.data(), bytes_.data() + start, out.size());
    return true;
}

std::string FileHeader::FormatName() const {
    switch (version) {
        case JetVersion::Jet3:
            return "Jet 3";
        case JetVersion::Jet4:
            return "Jet 4";
        case JetVersion::Ace:
            break;
    }
    return "ACE " + DaoVersion().substr(0, DaoVersion().find('.'));
}

std::string FileHeader::DaoVersion() const {
    switch (versionByte) {
        case 0:
            return "3.0";
        case 1:
            return "4.0";
        case 2:
            return "12.0";
        case 3:
            return "14.0";
        case 4:
            return "15.0";
        default:
            return "16.0";
    }
}

FileHeader ParseHeader(std::span<const std::uint8_t> page0) {
    if (page0.size() < 0x100 || page0[0] != 0 ||
        (std::memcmp(page0.data() + 4, "Standard Jet DB", 15) != 0 &&
         std::memcmp(page0.data() + 4, "Standard ACE DB", 15) != 0)) {
        throw FormatError(errors::kUnrecognizedFormat,
                          "The file is not a Jet or ACE database (its header is not recognised).");
    }
    FileHeader h;
    h.versionByte = page0[0x14];
    if (h.versionByte == 0) {
        h.version = JetVersion::Jet3;
        h.pageSize = 2048;
    } else if (h.versionByte == 1) {
        h.version = JetVersion::Jet4;
        h.pageSize = 4096;
    } else if (h.versionByte <= 6) {
        h.version = JetVersion::Ace;
        h.pageSize = 4096;
    } else {
        throw FormatError(errors::kUnrecognizedFormat, "The database format version " +
                                                           std::to_string(h.versionByte) +
                                                           " is not one Kesmark can read.");
    }
    std::vector<std::uint8_t> decoded(page0.begin(), page0.begin() + 0x100);
    Rc4(kHeaderKey, std::span(decoded).subspan(kHeaderEncodedStart, h.IsJet3() ? 126 : 128));
    const std::span<const std::uint8_t> d(decoded);
    h.codePage = Le16(d, 0x3C);
    h.databaseKey = Le32(d, 0x3E);
    h.sortOrder = h.IsJet3() ? Le16(d, 0x3A) : Le16(d, 0x6E);
    if (h.IsJet3()) {
        h.hasPassword = std::any_of(d.begin() + 0x42, d.begin() + 0x42 + 20,
                                    [](std::uint8_t b) { return b != 0; });
    } else {
        // Jet 4 masks the password with the creation date's whole part.
        h.creationDate = LeDouble(d, 0x72);
        std::uint32_t mask = 0;
        if (std::isfinite(h.creationDate) && h.creationDate > -2147483648.0 &&
            h.creationDate < 2147483648.0) {
            mask = static_cast<std::uint32_t>(static_cast<std::int32_t>(h.creationDate));
        }
        for (std::size_t i = 0; i < 40; ++i) {
            const auto maskByte = static_cast<std::uint8_t>(mask >> (8 * (i % 4)));
            if ((d[0x42 + i] ^ maskByte) != 0) {
                h.hasPassword = true;
                break;
            }
        }
    }
    return h;
}

JetFile::JetFile(PageSource& source) : source_(source) {
    std::vector<std::uint8_t> first(2048);
    if (!source_.ReadPage(0, first)) {
        throw FormatError(errors::kUnrecognizedFormat,
                          "The file is too short to be a Jet or ACE database.");
    }
    header_ = ParseHeader(first);
    if (header_.version == JetVersion::Ace && header_.databaseKey != 0) {
        throw FormatError(errors::kNotAValidPassword,
                          "The database is encrypted with a password; Kesmark cannot read "
                          "encrypted Access databases.");
    }
    if (header_.hasPassword) {
        throw FormatError(errors::kNotAValidPassword,
                          "The database is protected by a password; Kesmark cannot open "
                          "password-protected Access databases.");
    }
    pageCount_ = source_.PageCount(header_.pageSize);
    if (pageCount_ < 3) {
        Damaged("the file holds " + std::to_string(pageCount_) +
                " whole pages, too few for a database catalog");
    }
}

JetFile::~JetFile() = default;

JetFile::PageBytes JetFile::Page(std::uint32_t number) {
    if (number >= pageCount_) {
        Damaged("page " + std::to_string(number) + " lies beyond the end of the file (" +
                std::to_string(pageCount_) + " pages)");
    }
    if (auto it = cache_.find(number); it != cache_.end()) {
        return it->second;
    }
    auto page = std::make_shared<std::vector<std::uint8_t>>(header_.pageSize);
    if (!source_.ReadPage(number, *page)) {
        Damaged("page " + std::to_string(number) + " cannot be read");
    }
    if (cache_.size() >= kMaxCachedPages) {
        cache_.clear();
    }
    cache_.emplace(number, page);
    return page;
}

int TableDef::ColumnIndex(std::string_view name) const {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].name == name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int TableDef::ColumnByNumber(std::uint16_t number) const {
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].number == number) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

TableDef JetFile::ReadTableDef(std::uint32_t page) {
    const auto where = " on page " + std::to_string(page);
    auto first = Page(page);
    if ((*first)[0] != 0x02 || (*first)[1] != 0x01) {
        Damaged("page " + std::to_string(page) + " is not a table definition");
    }
    std::vector<std::uint8_t> bytes(*first);
    std::unordered_set<std::uint32_t> visited{page};
    std::uint32_t next = Le32(*first, 4);
    while (next != 0) {
        if (!visited.insert(next).second) {
            Damaged("the table definition" + where + " continues in a loop");
        }
        if (visited.size() > kMaxTableDefPages) {
            Damaged("the table definition" + where + " spans too many pages");
        }
        auto more = Page(next);
        if ((*more)[0] != 0x02) {
            Damaged("the table definition" + where + " continues on page " + std::to_string(next) +
                    ", which is not a table definition page");
        }
        bytes.insert(bytes.end(), more->begin() + 8, more->end());
        next = Le32(*more, 4);
    }

    const bool jet3 = header_.IsJet3();
    Cursor c(bytes, page);
    TableDef t;
    t.page = page;
    c.Seek(jet3 ? 12 : 16);
    t.rowCount = c.U32();
    c.Seek(jet3 ? 20 : 40);
    t.tableType = c.U8();
    c.U16();  // most columns a row may hold
    t.variableColumns = c.U16();
    const std::size_t columnCount = c.U16();
    const std::size_t indexCount = c.U32();
    const std::size_t realIndexCount = c.U32();
    t.usageMap = c.U32();
    c.U32();  // pages with free space
    if (columnCount > kMaxColumns || indexCount > kMaxIndexes || realIndexCount > kMaxIndexes) {
        Damaged("the table definition" + where + " announces " + std::to_string(columnCount) +
                " columns and " + std::to_string(indexCount) + " indexes");
    }
    c.Skip(realIndexCount * (jet3 ? 8 : 12));

    t.columns.resize(columnCount);
    for (auto& col : t.columns) {
        const auto entry = c.Take(jet3 ? 18 : 25);
        col.type = entry[0];
        if (jet3) {
            col.number = Le16(entry, 1);
            col.varIndex = Le16(entry, 3);
            col.sortOrder = Le16(entry, 7);
            col.flags = entry[13];
            col.fixedOffset = Le16(entry, 14);
            col.length = Le16(entry, 16);
        } else {
            col.number = Le16(entry, 5);
            col.varIndex = Le16(entry, 7);
            col.sortOrder = Le16(entry, 11);
            col.precision = entry[11];
            col.scale = entry[12];
            col.flags = entry[15];
            col.extraFlags = entry[16];
            col.fixedOffset = Le16(entry, 21);
            col.length = Le16(entry, 23);
        }
    }
    for (auto& col : t.columns) {
        const std::size_t n = jet3 ? c.U8() : c.U16();
        col.name = DecodeName(c.Take(n));
    }

    t.realIndexes.resize(realIndexCount);
    for (auto& ri : t.realIndexes) {
        if (!jet3) {
            c.Skip(4);
        }
        for (int k = 0; k < 10; ++k) {
            const std::uint16_t column = c.U16();
            const std::uint8_t order = c.U8();
            if (column != 0xFFFF) {
                ri.keys.push_back(RealIndexDef::Key{column, order != 0});
            }
        }
        c.Skip(8);  // owned-pages map, root page
        ri.flags = c.U8();
        if (!jet3) {
            c.Skip(9);
        }
    }

    t.indexes.resize(indexCount);
    for (auto& li : t.indexes) {
        if (!jet3) {
            c.Skip(4);
        }
        li.number = c.U32();
        li.realIndex = c.U32();
        li.relatedTableType = c.U8();
        li.relatedIndex = static_cast<std::int32_t>(c.U32());
        li.relatedTablePage = c.U32();
        li.cascadeUpdates = c.U8() == 1;
        li.cascadeDeletes = c.U8() == 1;
        li.type = c.U8();
        if (!jet3) {
            c.Skip(4);
        }
    }
    for (auto& li : t.indexes) {
        const std::size_t n = jet3 ? c.U8() : c.U16();
        li.name = DecodeName(c.Take(n));
    }

    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
    return t;
}

std::span<const std::uint8_t> JetFile::RowOfPage(const std::vector<std::uint8_t>& page,
                                                 std::uint32_t pageNumber, unsigned row,
                                                 std::uint16_t* flags) {
    const std::span<const std::uint8_t> p(page);
    const std::size_t rowCountAt = header_.IsJet3() ? 0x08 : 0x0C;
    const auto fail = [&](const std::string& why) {
        Damaged("row " + std::to_string(row) + " of page " + std::to_string(pageNumber) + " " +
                why);
    };
    if (p[0] != 0x01) {
        fail("is not on a data page");
    }
    const std::size_t rows = Le16(p, rowCountAt);
    const std::size_t tableEnd = rowCountAt + 2 + 2 * rows;
    if (tableEnd > p.size()) {
        fail("lies on a page that announces " + std::to_string(rows) + " rows");
    }
    if (row >= rows) {
        fail("does not exist (the page holds " + std::to_string(rows) + " rows)");
    }
    const std::uint16_t raw = Le16(p, rowCountAt + 2 + 2 * row);
    *flags = raw & 0xC000;
    const std::size_t start = raw & 0x1FFF;
    const std::size_t end = row == 0 ? p.size() : (Le16(p, rowCountAt + 2 * row) & 0x1FFFu);
    if (start < tableEnd || start > end || end > p.size()) {
        fail("has bad bounds " + std::to_string(start) + ".." + std::to_string(end));
    }
    return p.subspan(start, end - start);
}

std::vector<std::uint32_t> JetFile::UsageMapPages(const TableDef& table) {
    const std::uint32_t mapPage = table.usageMap >> 8;
    auto page = Page(mapPage);
    std::uint16_t flags = 0;
    const auto map = RowOfPage(*page, mapPage, table.usageMap & 0xFF, &flags);
    std::vector<std::uint32_t> pages;
    const auto addBits = [&](std::span<const std::uint8_t> bits, std::uint64_t firstPage) {
        for (std::size_t i = 0; i < bits.size(); ++i) {
            if (bits[i] == 0) {
                continue;
            }
            for (int bit = 0; bit < 8; ++bit) {
                const std::uint64_t number = firstPage + i * 8 + bit;
                if (number >= pageCount_) {
                    return;
                }
                if (bits[i] & (1u << bit)) {
                    pages.push_back(static_cast<std::uint32_t>(number));
                }
            }
        }
    };
    if (map[0] == 0x00) {
        if (map.size() < 5) {
            Damaged("the page map of the table on page " + std::to_string(table.page) +
                    " is too short");
        }
        addBits(map.subspan(5), Le32(map, 1));
    } else if (map[0] == 0x01) {
        const std::uint64_t pagesPerMapPage = (header_.pageSize - 4) * 8ull;
        for (std::size_t k = 0; 1 + 4 * k + 4 <= map.size(); ++k) {
            const std::uint32_t mapPageNumber = Le32(map, 1 + 4 * k);
            if (mapPageNumber == 0) {
                continue;
            }
            auto bitsPage = Page(mapPageNumber);
            if ((*bitsPage)[0] != 0x05) {
                Damaged("the page map of the table on page " + std::to_string(table.page) +
                        " points to page " + std::to_string(mapPageNumber) +
                        ", which is not a page map");
            }
            addBits(std::span<const std::uint8_t>(*bitsPage).subspan(4), k * pagesPerMapPage);
        }
    } else {
        Damaged("the page map of the table on page " + std::to_string(table.page) +
                " has the unknown type " + std::to_string(map[0]));
    }
    return pages;
}

void JetFile::ForEachRow(const TableDef& table,
                         const std::function<void(std::span<const std::uint8_t>)>& visit) {
    ForEachRowFrom(table, RowPosition{}, [&visit](std::span<const std::uint8_t> row, RowPosition) {
        visit(row);
        return true;
    });
}

void JetFile::ForEachRowFrom(
    const TableDef& table, RowPosition start,
    const std::function<bool(std::span<const std::uint8_t>, RowPosition)>& visit) {
    const std::size_t rowCountAt = header_.IsJet3() ? 0x08 : 0x0C;
    const auto pages = UsageMapPages(table);
    for (std::size_t index = start.pageIndex; index < pages.size(); ++index) {
        const std::uint32_t number = pages[index];
        auto page = Page(number);
        const std::span<const std::uint8_t> p(*page);
        if (p[0] != 0x01 || Le32(p, 4) != table.page) {
            continue;  // a page the table owns but does not keep rows on
        }
        const unsigned rows = Le16(p, rowCountAt);
        const unsigned first = index == start.pageIndex ? start.row : 0;
        for (unsigned r = first; r < rows; ++r) {
            std::uint16_t flags = 0;
            auto row = RowOfPage(*page, number, r, &flags);
            if (flags & 0x8000) {
                continue;  // deleted
            }
            auto holder = page;
            if (flags & 0x4000) {
                // The row lives elsewhere; its new place is flagged as deleted
                // so that page scans pass over it.
                if (row.size() < 4) {
                    Damaged("row " + std::to_string(r) + " of page " + std::to_string(number) +
                            " is too short to point to its overflow row");
                }
                const std::uint32_t pointer = Le32(row, 0);
                holder = Page(pointer >> 8);
                row = RowOfPage(*holder, pointer >> 8, pointer & 0xFF, &flags);
            }
            if (!visit(row, RowPosition{index, r})) {
                return;
            }
        }
    }
}

std::vector<FieldSlice> JetFile::CrackRow(const TableDef& table,
                                          std::span<const std::uint8_t> row) {
    const bool jet3 = header_.IsJet3();
    const std::size_t countSize = jet3 ? 1 : 2;
    const std::size_t len = row.size();
    const auto bad = [&](const char* why) {
        Damaged(std::string("a row of the table on page ") + std::to_string(table.page) + " " +
                why);
    };
    if (len < countSize + 1) {
        bad("is too short");
    }
    const std::size_t rowColumns = jet3 ? row[0] : Le16(row, 0);
    const std::size_t maskSize = (rowColumns + 7) / 8;
    if (maskSize + countSize + (jet3 ? 1 : 2) > len) {
        bad("has no room for its null mask");
    }
    const auto nullMask = row.subspan(len - maskSize);

    std::vector<std::size_t> offsets;
    std::size_t rowVarColumns = 0;
    if (table.variableColumns > 0) {
        if (jet3) {
            rowVarColumns = row[len - maskSize - 1];
            std::size_t jumps = (len - 1) / 256;
            // Index of the first offset entry (counted from the row's start).
            const std::ptrdiff_t colPtr = static_cast<std::ptrdiff_t>(len) - 2 -
                                          static_cast<std::ptrdiff_t>(maskSize) -
                                          static_cast<std::ptrdiff_t>(jumps);
            if (colPtr - static_cast<std::ptrdiff_t>(rowVarColumns) <
                static_cast<std::ptrdiff_t>(countSize)) {
                bad("has no room for its variable-length offsets");
            }
            if (static_cast<std::size_t>(colPtr - static_cast<std::ptrdiff_t>(rowVarColumns)) /
                    256 <
                jumps) {
                --jumps;  // the last jump entry is a filler
            }
            std::size_t jumpsUsed = 0;
            for (std::size_t i = 0; i <= rowVarColumns; ++i) {
                while (jumpsUsed < jumps && i == row[len - 2 - maskSize - jumpsUsed]) {
                    ++jumpsUsed;
                }
                offsets.push_back(row[static_cast<std::size_t>(colPtr) - i] + 256 * jumpsUsed);
            }
        } else {
            rowVarColumns = Le16(row, len - maskSize - 2);
            if (len < maskSize + 4 + 2 * rowVarColumns + countSize) {
                bad("has no room for its variable-length offsets");
            }
            for (std::size_t i = 0; i <= rowVarColumns; ++i) {
                offsets.push_back(Le16(row, len - maskSize - 4 - 2 * i));
            }
        }
    }
    if (rowVarColumns > rowColumns) {
        bad("announces more variable-length columns than columns");
    }
    const std::size_t rowFixedColumns = rowColumns - rowVarColumns;

    std::vector<FieldSlice> fields(table.columns.size());
    std::size_t fixedFound = 0;
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const ColumnDef& col = table.columns[i];
        FieldSlice& f = fields[i];
        const std::size_t byte = col.number / 8;
        const bool bit = byte < maskSize && (nullMask[byte] & (1u << (col.number % 8))) != 0;
        std::size_t start = 0;
        std::size_t size = 0;
        bool present = false;
        if (col.IsFixed() && fixedFound < rowFixedColumns) {
            ++fixedFound;
            start = col.fixedOffset + countSize;
            size = col.type == 0x01 ? 0 : col.length;
            present = true;
        } else if (!col.IsFixed() && col.varIndex < rowVarColumns) {
            start = offsets[col.varIndex];
            const std::size_t end = offsets[col.varIndex + 1];
            if (end < start) {
                bad("has variable-length offsets out of order");
            }
            size = end - start;
            present = true;
        }
        if (col.type == 0x01) {
            f.isNull = false;
            f.boolValue = bit;
            continue;
        }
        if (!present || !bit) {
            continue;
        }
        if (start + size > len - maskSize) {
            bad("has a value that lies outside the row");
        }
        f.isNull = false;
        f.bytes = row.subspan(start, size);
    }
    return fields;
}

std::vector<std::uint8_t> JetFile::ReadLongValue(std::span<const std::uint8_t> header,
                                                 std::size_t limit) {
    if (header.size() >= 4 && (Le32(header, 0) & 0x3FFFFFFF) > limit) {
        Damaged("a long value of " + std::to_string(Le32(header, 0) & 0x3FFFFFFF) +
                " bytes is longer than the " + std::to_string(limit) + " bytes allowed");
    }
    return ReadLongValuePart(header, 0, limit);
}

std::uint32_t JetFile::LongValueLength(std::span<const std::uint8_t> header) {
    if (header.size() < 12) {
        Damaged("a long value header is shorter than 12 bytes");
    }
    return Le32(header, 0) & 0x3FFFFFFF;
}

std::vector<std::uint8_t> JetFile::ReadLongValuePart(std::span<const std::uint8_t> header,
                                                     std::uint64_t offset, std::size_t count) {
    if (header.size() < 12) {
        Damaged("a long value header is shorter than 12 bytes");
    }
    const std::uint32_t word = Le32(header, 0);
    const std::size_t length = word & 0x3FFFFFFF;
    // The part asked for: [begin, end) of the value.
    const std::size_t begin = static_cast<std::size_t>(std::min<std::uint64_t>(offset, length));
    const std::size_t end = begin + std::min(count, length - begin);
    if (word & 0x80000000u) {
        if (12 + length > header.size()) {
            Damaged("an inline long value runs past the end of its row");
        }
        return std::vector<std::uint8_t>(header.begin() + 12 + begin, header.begin() + 12 + end);
    }
    std::uint32_t pointer = Le32(header, 4);
    const auto lvalRow = [&](std::uint32_t ptr, JetFile::PageBytes& holder) {
        holder = Page(ptr >> 8);
        const auto& p = *holder;
        if (std::memcmp(p.data() + 4, "LVAL", 4) != 0) {
            Damaged("a long value points to page " + std::to_string(ptr >> 8) +
                    ", which is not a long value page");
        }
        std::uint16_t flags = 0;
        auto row = RowOfPage(p, ptr >> 8, ptr & 0xFF, &flags);
        if (flags & 0x8000) {
            Damaged("a long value points to a deleted row of page " + std::to_string(ptr >> 8));
        }
        return row;
    };
    JetFile::PageBytes holder;
    if (word & 0x40000000u) {
        const auto row = lvalRow(pointer, holder);
        if (row.size() < length) {
            Damaged("a long value of " + std::to_string(length) + " bytes lies in a row of " +
                    std::to_string(row.size()) + " bytes");
        }
        return std::vector<std::uint8_t>(row.begin() + begin, row.begin() + end);
    }
    std::vector<std::uint8_t> out;
    out.reserve(std::min<std::size_t>(end - begin, 1u << 20));
    std::unordered_set<std::uint32_t> visited;
    std::size_t at = 0;  // offset in the value of the next piece
    while (at < end) {
        if (pointer == 0) {
            Damaged("a long value chain ends after " + std::to_string(at) + " of " +
                    std::to_string(length) + " bytes");
        }
        if (!visited.insert(pointer).second) {
            Damaged("a long value chain loops back to row " + std::to_string(pointer & 0xFF) +
                    " of page " + std::to_string(pointer >> 8));
        }
        const auto row = lvalRow(pointer, holder);
        if (row.size() <= 4) {
            Damaged("a long value chain holds an empty piece on page " +
                    std::to_string(pointer >> 8));
        }
        const std::size_t take = std::min(row.size() - 4, length - at);
        const std::size_t from = std::max(at, begin);
        const std::size_t to = std::min(at + take, end);
        if (from < to) {
            out.insert(out.end(), row.begin() + 4 + (from - at), row.begin() + 4 + (to - at));
        }
        at += take;
        pointer = Le32(row, 0);
    }
    return out;
}

std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes) {
    std::vector<std::uint16_t> units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(Le16(bytes, i));
    }
    return Utf16UnitsToUtf8(units);
}

std::string JetFile::DecodeText(std::span<const std::uint8_t> bytes) {
    if (header_.IsJet3()) {
        return DecodeCodePage(bytes);
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        // Compressed: one byte per character, switching to two-byte units
        // and back at every zero byte.
        std::vector<std::uint16_t> units;
        bool compressed = true;
        std::size_t i = 2;
        while (i < bytes.size()) {
            if (bytes[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                units.push_back(bytes[i]);
                ++i;
            } else if (i + 1 < bytes.size()) {
                units.push_back(Le16(bytes, i));
                i += 2;
            } else {
                break;
            }
        }
        return Utf16UnitsToUtf8(units);
    }
    return Utf16LeToUtf8(bytes);
}

std::string JetFile::DecodeName(std::span<const std::uint8_t> bytes) {
    return header_.IsJet3() ? DecodeCodePage(bytes) : Utf16LeToUtf8(bytes);
}

std::string JetFile::DecodeCodePage(std::span<const std::uint8_t> bytes) {
    if (!codePageTried_) {
        codePageTried_ = true;
        const std::string from =
            "CP" + std::to_string(header_.codePage == 0 ? 1252 : header_.codePage);
        iconv_t cd = iconv_open("UTF-8", from.c_str());
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            cd = iconv_open("UTF-8", "CP1252");
        }
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            codePageToUtf8_.reset(cd);
        }
    }
    std::string out;
    if (!codePageToUtf8_) {
        for (const auto b : bytes) {
            AppendUtf8(out, b);  // Latin-1
        }
        return out;
    }
    auto* cd = static_cast<iconv_t>(codePageToUtf8_.get());
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> in(bytes.begin(), bytes.end());
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    std::vector<char> buffer(4 * in.size() + 16);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) {
                continue;
            }
            out += "\xEF\xBF\xBD";  // an undefined or incomplete byte
            ++inPtr;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

}  // namespace kesmark::access
