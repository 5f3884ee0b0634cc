#include "engine/backends/access/access_records.h"

#include <bit>
#include <cstdio>

namespace kesmark::access {

namespace {

// Jet column types (the same numbers as DAO's up to 12).
enum class JetType : std::uint8_t {
    kBoolean = 0x01,
    kByte = 0x02,
    kInteger = 0x03,
    kLong = 0x04,
    kCurrency = 0x05,
    kSingle = 0x06,
    kDouble = 0x07,
    kDate = 0x08,
    kBinary = 0x09,
    kText = 0x0A,
    kLongBinary = 0x0B,
    kMemo = 0x0C,
    kGuid = 0x0F,
    kNumeric = 0x10,
    kComplex = 0x12,
    kBigInt = 0x13,
};

constexpr std::int32_t kTablesContainerParent = 0x0F000000;
constexpr int kTypeContainer = 3;
constexpr int kTypeLocalTable = 1;

std::uint64_t Le64(std::span<const std::uint8_t> b) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v |= std::uint64_t{b[i]} << (8 * i);
    }
    return v;
}

void NeedBytes(const FieldSlice& slice, std::size_t n, const ColumnDef& column) {
    if (slice.bytes.size() < n) {
        Damaged("a value of column '" + column.name + "' holds " +
                std::to_string(slice.bytes.size()) + " bytes, fewer than its type needs (" +
                std::to_string(n) + ")");
    }
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", the first three groups stored
// little-endian, as DAO shows a GUID.
std::string GuidText(std::span<const std::uint8_t> b) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  Le32(b, 0), Le16(b, 4), Le16(b, 6), b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                  b[15]);
    return text;
}

// A stored decimal: a sign byte (0x80 negative), then a 128-bit integer as
// four 32-bit little-endian words, the most significant first; `scale`
// digits after the point. The canonical text keeps every scale digit.
std::string DecimalText(std::span<const std::uint8_t> b, unsigned scale) {
    std::uint32_t words[4];  // most significant first
    for (int w = 0; w < 4; ++w) {
        words[w] = Le32(b, 1 + 4 * w);
    }
    std::string digits;
    for (int guard = 0; guard < 40; ++guard) {
        bool zero = true;
        std::uint64_t remainder = 0;
        for (auto& word : words) {
            const std::uint64_t current = (remainder << 32) | word;
            word = static_cast<std::uint32_t>(current / 10);
            remainder = current % 10;
            zero = zero && word == 0;
        }
        digits.insert(digits.begin(), static_cast<char>('0' + remainder));
        if (zero) {
            break;
        }
    }
    scale = std::min(scale, 38u);
    while (digits.size() <= scale) {
        digits.insert(digits.begin(), '0');
    }
    if (scale > 0) {
        digits.insert(digits.end() - scale, '.');
    }
    const bool negative = (b[0] & 0x80) != 0 && digits.find_first_not_of("0.") != std::string::npos;
    return negative ? "-" + digits : digits;
}

// The table definition counts its rows; a table whose pages yield another
// number has lost rows (a truncated file, a damaged page) or holds rows its
// definition does not know of. Either way its records cannot be trusted, so
// the reply becomes an error instead of a shorter (or longer) table.
void CheckRowCount(const TableDef& def, const std::string& table, std::uint64_t rowsRead,
                   Reply& reply) {
    if (rowsRead == def.rowCount) {
        return;
    }
    reply = Reply{};
    reply.kind = ReplyKind::kError;
    reply.error = WireError{errors::kDamaged,
                            "The table '" + table + "' counts " + std::to_string(def.rowCount) +
                                " rows, but its pages hold " + std::to_string(rowsRead) +
                                ": the file is damaged or truncated."};
}

}  // namespace

std::optional<std::uint32_t> FindTableDefinition(JetFile& file, std::string_view name) {
    const TableDef objects = file.ReadTableDef(2);
    const int id = objects.ColumnIndex("Id");
    const int parent = objects.ColumnIndex("ParentId");
    const int nameColumn = objects.ColumnIndex("Name");
    const int type = objects.ColumnIndex("Type");
    if (id < 0 || parent < 0 || nameColumn < 0 || type < 0) {
        Damaged("the catalog has no usable Id, ParentId, Name and Type columns");
    }
    std::optional<std::int32_t> tables;
    std::vector<std::pair<std::int32_t, std::uint32_t>> candidates;  // parent, page
    const auto int32 = [](const FieldSlice& f) -> std::int32_t {
        return f.isNull || f.bytes.size() < 4 ? 0 : static_cast<std::int32_t>(Le32(f.bytes, 0));
    };
    file.ForEachRow(objects, [&](std::span<const std::uint8_t> raw) {
        const auto f = file.CrackRow(objects, raw);
        if (f[nameColumn].isNull || f[type].isNull || f[type].bytes.size() < 2) {
            return;
        }
        const int rowType = static_cast<std::int16_t>(Le16(f[type].bytes, 0));
        const auto rowName = file.DecodeText(f[nameColumn].bytes);
        if (rowType == kTypeContainer && int32(f[parent]) == kTablesContainerParent &&
            rowName == "Tables" && !tables) {
            tables = int32(f[id]);
        } else if (rowType == kTypeLocalTable && rowName == name) {
            candidates.emplace_back(int32(f[parent]),
                                    static_cast<std::uint32_t>(int32(f[id])) & 0x00FFFFFFu);
        }
    });
    for (const auto& [parentId, page] : candidates) {
        if (tables && parentId == *tables) {
            return page;
        }
    }
    return std::nullopt;
}

WireCell ReadCell(JetFile& file, const ColumnDef& column, const FieldSlice& slice) {
    WireCell cell;
    const auto type = static_cast<JetType>(column.type);
    if (type == JetType::kBoolean) {
        cell.value = Value(slice.boolValue);
        return cell;
    }
    if (slice.isNull) {
        return cell;
    }
    const auto b = slice.bytes;
    switch (type) {
        case JetType::kByte:
            NeedBytes(slice, 1, column);
            cell.value = Value(static_cast<int>(b[0]));
            break;
        case JetType::kInteger:
            NeedBytes(slice, 2, column);
            cell.value = Value(static_cast<int>(static_cast<std::int16_t>(Le16(b, 0))));
            break;
        case JetType::kLong:
        case JetType::kComplex:
            NeedBytes(slice, 4, column);
            cell.value = Value(static_cast<long long>(static_cast<std::int32_t>(Le32(b, 0))));
            break;
        case JetType::kCurrency:
            NeedBytes(slice, 8, column);
            cell.value = Value(Currency{static_cast<std::int64_t>(Le64(b))});
            break;
        case JetType::kBigInt:
            NeedBytes(slice, 8, column);
            cell.value = Value(static_cast<long long>(static_cast<std::int64_t>(Le64(b))));
            break;
        case JetType::kSingle:
            NeedBytes(slice, 4, column);
            cell.value = Value(static_cast<double>(std::bit_cast<float>(Le32(b, 0))));
            break;
        case JetType::kDouble:
            NeedBytes(slice, 8, column);
            cell.value = Value(std::bit_cast<double>(Le64(b)));
            break;
        case JetType::kDate:
            NeedBytes(slice, 8, column);
            cell.value = Value(DateTime{std::bit_cast<double>(Le64(b))});
            break;
        case JetType::kGuid:
            NeedBytes(slice, 16, column);
            cell.value = Value(GuidText(b));
            break;
        case JetType::kNumeric:
            NeedBytes(slice, 17, column);
            cell.value = Value(Decimal{DecimalText(b, column.scale)});
            break;
        case JetType::kText:
            cell.value = Value(file.DecodeText(b));
            break;
        case JetType::kMemo:
            cell.value = Value(file.DecodeText(file.ReadLongValue(b, kMaxMemoBytes)));
            break;
        case JetType::kLongBinary: {
            const auto length = file.LongValueLength(b);
            if (b[3] & 0x80) {  // kept inside the row: sent whole
                cell.value = Value(file.ReadLongValue(b, length));
            } else {
                cell.isLongReference = true;
                cell.longSize = length;
                cell.longValue.assign(b.begin(), b.begin() + kLongValueHeaderBytes);
            }
            break;
        }
        default:
            cell.value = Value(Bytes(b.begin(), b.end()));
            break;
    }
    return cell;
}

Reply ReadRows(JetFile& file, const Request& request, RowResume& resume) {
    Reply reply;
    const auto page = FindTableDefinition(file, request.table);
    if (!page) {
        reply.kind = ReplyKind::kError;
        reply.error =
            WireError{errors::kTableNotFound, "The table '" + request.table + "' does not exist."};
        return reply;
    }
    const TableDef def = file.ReadTableDef(*page);
    std::vector<int> columns;
    for (const auto& name : request.fields) {
        const int c = def.ColumnIndex(name);
        if (c < 0) {
            reply.kind = ReplyKind::kError;
            reply.error = WireError{errors::kItemNotFound, "The table '" + request.table +
                                                               "' has no field '" + name + "'."};
            return reply;
        }
        columns.push_back(c);
    }
    reply.kind = ReplyKind::kRows;
    reply.tableEnds = true;
    std::uint64_t index = 0;
    JetFile::RowPosition start;
    if (resume.tablePage == *page && resume.nextRow == request.firstRow) {
        index = resume.nextRow;
        start = resume.position;
    }
    resume = RowResume{};
    std::size_t budget = 0;
    file.ForEachRowFrom(def, start,
                        [&](std::span<const std::uint8_t> raw, JetFile::RowPosition at) {
                            if (index < request.firstRow) {
                                ++index;
                                return true;
                            }
                            if (reply.rows.size() >= request.maxRows ||
                                (!reply.rows.empty() && budget >= kRowsReplyBudget)) {
                                reply.tableEnds = false;
                                resume = RowResume{*page, index, at};
                                return false;
                            }
                            ++index;
                            const auto slices = file.CrackRow(def, raw);
                            auto& row = reply.rows.emplace_back();
                            row.reserve(columns.size());
                            for (const int c : columns) {
                                row.push_back(ReadCell(file, def.columns[c], slices[c]));
                                budget += 16 + (slices[c].isNull ? 0 : slices[c].bytes.size());
                                if (const auto* text = row.back().value.As<std::string>()) {
                                    budget += text->size();
                                } else if (const auto* bytes = row.back().value.As<Bytes>()) {
                                    budget += bytes->size();
                                }
                            }
                            return true;
                        });
    if (reply.tableEnds) {
        CheckRowCount(def, request.table, index, reply);
    }
    return reply;
}

Reply ReadChunk(JetFile& file, const Request& request) {
    Reply reply;
    reply.kind = ReplyKind::kChunk;
    reply.chunk = file.ReadLongValuePart(request.longValue, request.offset,
                                         std::min(request.count, kMaxChunkBytes));
    return reply;
}

}  // namespace kesmark::access
