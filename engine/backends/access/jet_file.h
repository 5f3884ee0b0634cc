#pragma once

// Our own reader of the Jet 3, Jet 4 and ACE page formats: the file header,
// table definitions (columns and the raw index entries), data rows, page
// usage maps and long values. It runs inside the Access reader process and
// reads pages through a PageSource (libmdb's page reader there, a plain
// buffer in the tests and the fuzzer).
//
// Every structure is checked against the page and row it lies in; chains of
// pages are followed with a set of visited pages and a cap on their length,
// and every count is capped, so a damaged file ends in a FormatError after a
// bounded amount of work.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/model/db_error.h"

namespace kesmark::access {

// A structure of the file that cannot be read: damaged, truncated, encrypted
// or of a kind the reader does not know. Number from the errors registry (db_error.h).
class FormatError : public std::runtime_error {
  public:
    FormatError(long number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    long Number() const noexcept { return number_; }

  private:
    long number_;
};

// Throws FormatError(errors::kDamaged, description).
[[noreturn]] void Damaged(const std::string& description);

// Where pages come from. Pages are returned already decoded (Jet's RC4 page
// encoding undone).
class PageSource {
  public:
    virtual ~PageSource() = default;
    // Number of whole pages of `pageSize` bytes in the file.
    virtual std::uint32_t PageCount(std::uint32_t pageSize) = 0;
    // Copies page `number` into `out` (exactly out.size() bytes). Returns
    // false when the page cannot be read.
    virtual bool ReadPage(std::uint32_t number, std::span<std::uint8_t> out) = 0;
};

// A file image in memory, pages taken as they are (no page decoding). For
// the tests and the fuzzer.
class BufferPageSource : public PageSource {
  public:
    explicit BufferPageSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint32_t PageCount(std::uint32_t pageSize) override;
    bool ReadPage(std::uint32_t number, std::span<std::uint8_t> out) override;

  private:
    std::span<const std::uint8_t> bytes_;  // Not owned.
};

enum class JetVersion { Jet3, Jet4, Ace };

// What page 0 says about the file.
struct FileHeader {
    std::uint8_t versionByte = 0;  // 0 Jet 3, 1 Jet 4, 2 and up ACE
    JetVersion version = JetVersion::Jet3;
    std::uint32_t pageSize = 2048;
    std::uint16_t codePage = 0;
    std::uint16_t sortOrder = 0;    // collating order, 1033 = general
    std::uint32_t databaseKey = 0;  // non-zero: pages are encoded (Jet) or encrypted (ACE)
    bool hasPassword = false;
    double creationDate = 0.0;

    bool IsJet3() const { return version == JetVersion::Jet3; }
    // "Jet 3", "Jet 4", "ACE 12", "ACE 14", ...
    std::string FormatName() const;
    // DAO's Database.Version: "3.0", "4.0", "12.0", "14.0", ...
    std::string DaoVersion() const;
};

// Decodes page 0 (its encoded part undone). Throws FormatError for a file
// that is not a Jet or ACE database, or of an unknown version.
FileHeader ParseHeader(std::span<const std::uint8_t> page0);

// One column of a table definition, as stored.
struct ColumnDef {
    std::uint8_t type = 0;          // Jet type byte (same numbers as DAO up to 12)
    std::uint16_t number = 0;       // column number, also the null-mask bit
    std::uint16_t varIndex = 0;     // slot in the variable-length offset table
    std::uint16_t fixedOffset = 0;  // offset in the fixed-length part of a row
    std::uint16_t length = 0;       // bytes; 0 for memo and long binary
    std::uint8_t flags = 0;         // 0x01 fixed, 0x04 auto number, 0x40 GUID auto, 0x80 hyperlink
    std::uint8_t extraFlags = 0;    // Jet 4: 0x01 compressed unicode
    std::uint16_t sortOrder = 0;    // text columns: collating order
    std::uint8_t precision = 0;
    std::uint8_t scale = 0;
    std::string name;

    bool IsFixed() const { return (flags & 0x01) != 0; }
};

// A physical index: its key columns, in key order.
struct RealIndexDef {
    struct Key {
        std::uint16_t column = 0;  // ColumnDef::number
        bool ascending = true;
    };
    std::vector<Key> keys;
    std::uint8_t flags = 0;  // 0x01 unique, 0x02 ignore nulls, 0x08 required
};

// A logical index (what DAO shows), backed by a physical one.
struct LogicalIndexDef {
    std::uint32_t number = 0;
    std::uint32_t realIndex = 0;        // RealIndexDef position
    std::uint8_t relatedTableType = 0;  // foreign key: 1 this is the primary table
    std::int32_t relatedIndex = -1;
    std::uint32_t relatedTablePage = 0;
    bool cascadeUpdates = false;
    bool cascadeDeletes = false;
    std::uint8_t type = 0;  // 1 primary key, 2 foreign key
    std::string name;
};

// A table definition (TDEF) with its columns sorted by column number.
struct TableDef {
    std::uint32_t page = 0;
    std::uint32_t rowCount = 0;
    std::uint8_t tableType = 0;  // 0x4e user, 0x53 system
    std::uint16_t variableColumns = 0;
    std::uint32_t usageMap = 0;  // page << 8 | row of the owned-pages map
    std::vector<ColumnDef> columns;
    std::vector<RealIndexDef> realIndexes;
    std::vector<LogicalIndexDef> indexes;

    // Position in `columns` of the column of that name (exact), or -1.
    int ColumnIndex(std::string_view name) const;
    // Position in `columns` of the column with that number, or -1.
    int ColumnByNumber(std::uint16_t number) const;
};

// The value of one column in one row: a slice of the row, Null, or (Boolean
// columns) the bit of the null mask.
struct FieldSlice {
    bool isNull = true;
    bool boolValue = false;
    std::span<const std::uint8_t> bytes;
};

// Owner of an iconv conversion descriptor.
struct IconvCloser {
    void operator()(void* descriptor) const noexcept;
};
using IconvHandle = std::unique_ptr<void, IconvCloser>;

class JetFile {
  public:
    // Reads page 0 through `source` (not owned; must outlive the JetFile)
    // and checks that the file is one the reader can read: throws
    // FormatError for an unknown format, a password-protected file and an
    // encrypted ACE file.
    explicit JetFile(PageSource& source);
    ~JetFile();
    JetFile(const JetFile&) = delete;
    JetFile& operator=(const JetFile&) = delete;

    const FileHeader& Header() const { return header_; }
    std::uint32_t PageCount() const { return pageCount_; }

    using PageBytes = std::shared_ptr<const std::vector<std::uint8_t>>;
    // Page `number`, whole. Throws FormatError when it lies outside the file
    // or cannot be read.
    PageBytes Page(std::uint32_t number);

    // The table definition that starts on page `page` (its continuation
    // pages followed). Throws FormatError when it is damaged.
    TableDef ReadTableDef(std::uint32_t page);

    // Calls `visit` with every live row of `table` (deleted rows skipped,
    // overflow rows followed), in page order. The row bytes are valid during
    // the call only. Throws FormatError for a damaged page map or page.
    void ForEachRow(const TableDef& table,
                    const std::function<void(std::span<const std::uint8_t>)>& visit);

    // Where a row lies in the table's page order: the position of its page
    // among the pages the table owns, and its slot in that page.
    struct RowPosition {
        std::size_t pageIndex = 0;
        unsigned row = 0;
    };
    // As ForEachRow, from the row at `start` on (a position `visit` was
    // given before, for the same table), with each row's position; stops
    // after the first call of `visit` that returns false.
    void ForEachRowFrom(
        const TableDef& table, RowPosition start,
        const std::function<bool(std::span<const std::uint8_t>, RowPosition)>& visit);

    // Splits a row into its column values, one per entry of table.columns.
    std::vector<FieldSlice> CrackRow(const TableDef& table, std::span<const std::uint8_t> row);

    // The bytes of a long value (memo or long binary) from its 12-byte
    // header, at most `limit` bytes long (longer ones are a FormatError).
    std::vector<std::uint8_t> ReadLongValue(std::span<const std::uint8_t> header,
                                            std::size_t limit);
    // The byte length a long value's header announces.
    std::uint32_t LongValueLength(std::span<const std::uint8_t> header);
    // Up to `count` bytes of a long value from byte `offset` (fewer at its
    // end). Only the pages up to the end of the part are read, and only the
    // part is kept in memory.
    std::vector<std::uint8_t> ReadLongValuePart(std::span<const std::uint8_t> header,
                                                std::uint64_t offset, std::size_t count);

    // Text of a text or memo value (Jet 4: UCS-2, possibly compressed; Jet 3:
    // the file's code page) as UTF-8.
    std::string DecodeText(std::span<const std::uint8_t> bytes);
    // A name stored in a table definition or property block (Jet 4: plain
    // UCS-2; Jet 3: the file's code page) as UTF-8.
    std::string DecodeName(std::span<const std::uint8_t> bytes);

  private:
    std::span<const std::uint8_t> RowOfPage(const std::vector<std::uint8_t>& page,
                                            std::uint32_t pageNumber, unsigned row,
                                            std::uint16_t* flags);
    std::vector<std::uint32_t> UsageMapPages(const TableDef& table);
    std::string DecodeCodePage(std::span<const std::uint8_t> bytes);

    PageSource& source_;
    FileHeader header_;
    std::uint32_t pageCount_ = 0;
    std::unordered_map<std::uint32_t, PageBytes> cache_;
    IconvHandle codePageToUtf8_;
    bool codePageTried_ = false;
};

// UTF-16LE code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16LeToUtf8(std::span<const std::uint8_t> bytes);

// Little-endian reads from a span whose bounds the caller has checked.
inline std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
inline std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | (std::uint32_t{b[at + 1]} << 8) |
           (std::uint32_t{b[at + 2]} << 16) | (std::uint32_t{b[at + 3]} << 24);
}

}  // namespace kesmark::access
