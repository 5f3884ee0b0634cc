#include "engine/backends/access/property_block.h"

#include <bit>
#include <cstring>

#include "engine/backends/access/jet_file.h"

namespace kesmark::access {

namespace {

constexpr std::uint16_t kNamesChunk = 0x80;
constexpr std::size_t kChunkHeaderBytes = 6;   // length (4), type (2)
constexpr std::size_t kRecordHeaderBytes = 8;  // length, ddl, type, name index, data length

[[noreturn]] void BadBlock(const std::string& why) {
    Damaged("the stored properties are damaged: " + why);
}

std::vector<std::string> ParseNames(std::span<const std::uint8_t> body,
                                    const TextDecoder& decodeName) {
    std::vector<std::string> names;
    std::size_t q = 0;
    while (q < body.size()) {
        if (body.size() - q < 2) {
            BadBlock("a property name runs past its chunk");
        }
        const std::size_t n = Le16(body, q);
        if (n > body.size() - q - 2) {
            BadBlock("a property name runs past its chunk");
        }
        names.push_back(decodeName(body.subspan(q + 2, n)));
        q += 2 + n;
    }
    return names;
}

PropertyMap ParseValues(std::span<const std::uint8_t> body, const std::vector<std::string>& names,
                        const TextDecoder& decodeName) {
    PropertyMap map;
    if (body.size() < 4) {
        BadBlock("a value chunk has no object name");
    }
    const std::size_t nameBlock = Le32(body, 0);
    if (nameBlock < 4 || nameBlock > body.size()) {
        BadBlock("the object name of a value chunk has the length " + std::to_string(nameBlock));
    }
    if (nameBlock > 6) {
        const std::size_t n = Le16(body, 4);
        if (n > nameBlock - 6) {
            BadBlock("the object name of a value chunk runs past its place");
        }
        map.name = decodeName(body.subspan(6, n));
    }
    std::size_t q = nameBlock;
    while (q < body.size()) {
        if (body.size() - q < kRecordHeaderBytes) {
            BadBlock("a property record is cut short");
        }
        const std::size_t length = Le16(body, q);
        if (length < kRecordHeaderBytes) {
            BadBlock("a property record has the length " + std::to_string(length));
        }
        if (length > body.size() - q) {
            BadBlock("a property record runs past its chunk");
        }
        const std::size_t nameIndex = Le16(body, q + 4);
        const std::size_t dataLength = Le16(body, q + 6);
        if (nameIndex >= names.size()) {
            BadBlock("a property record names property " + std::to_string(nameIndex) + " of " +
                     std::to_string(names.size()));
        }
        if (dataLength > length - kRecordHeaderBytes) {
            BadBlock("the value of property '" + names[nameIndex] + "' runs past its record");
        }
        StoredProperty p;
        p.name = names[nameIndex];
        p.ddl = body[q + 2] != 0;
        p.type = body[q + 3];
        const auto data = body.subspan(q + kRecordHeaderBytes, dataLength);
        p.data.assign(data.begin(), data.end());
        map.properties.push_back(std::move(p));
        q += length;
    }
    return map;
}

std::int64_t SignedLe(const std::vector<std::uint8_t>& d) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < d.size(); ++i) {
        v |= std::uint64_t{d[i]} << (8 * i);
    }
    if (d.size() < 8 && (d.back() & 0x80)) {
        v |= ~std::uint64_t{0} << (8 * d.size());  // sign extension
    }
    return static_cast<std::int64_t>(v);
}

}  // namespace

std::vector<PropertyMap> ParsePropertyBlock(std::span<const std::uint8_t> block,
                                            const TextDecoder& decodeName) {
    if (block.size() < 4 || (std::memcmp(block.data(), "KKD\0", 4) != 0 &&
                             std::memcmp(block.data(), "MR2\0", 4) != 0)) {
        BadBlock("the block does not begin with a known signature");
    }
    std::vector<PropertyMap> maps;
    std::vector<std::string> names;
    bool haveNames = false;
    std::size_t pos = 4;
    while (pos < block.size()) {
        if (block.size() - pos < kChunkHeaderBytes) {
            BadBlock("a chunk header is cut short");
        }
        const std::size_t length = Le32(block, pos);
        const std::uint16_t type = Le16(block, pos + 4);
        if (length < kChunkHeaderBytes || length > block.size() - pos) {
            BadBlock("a chunk has the length " + std::to_string(length));
        }
        const auto body = block.subspan(pos + kChunkHeaderBytes, length - kChunkHeaderBytes);
        if (type == kNamesChunk) {
            names = ParseNames(body, decodeName);
            haveNames = true;
        } else if (type <= 0x02) {
            if (!haveNames) {
                BadBlock("values come before the property names");
            }
            maps.push_back(ParseValues(body, names, decodeName));
        }
        pos += length;
    }
    return maps;
}

Value StoredValue(const StoredProperty& property, const TextDecoder& decodeText) {
    const auto& d = property.data;
    const auto bytes = [&] { return Value(Bytes(d.begin(), d.end())); };
    switch (property.type) {
        case 1:  // Boolean
            return d.empty() ? Value() : Value(d[0] != 0);
        case 2:  // Byte
        case 3:  // Integer
        case 4:  // Long
            if (d.size() == 1) {
                return Value(static_cast<int>(d[0]));
            }
            if (d.size() == 2 || d.size() == 4 || d.size() == 8) {
                return Value(static_cast<long long>(SignedLe(d)));
            }
            return bytes();
        case 5:  // Currency
            return d.size() == 8 ? Value(Currency{SignedLe(d)}) : bytes();
        case 6:  // Single
            if (d.size() == 4) {
                return Value(static_cast<double>(
                    std::bit_cast<float>(static_cast<std::uint32_t>(SignedLe(d)))));
            }
            return bytes();
        case 7:  // Double
        case 8:  // Date
            if (d.size() == 8) {
                const double v = std::bit_cast<double>(SignedLe(d));
                return property.type == 7 ? Value(v) : Value(DateTime{v});
            }
            return bytes();
        case 10:  // Text
        case 12:  // Memo
            return Value(decodeText(std::span<const std::uint8_t>(d)));
        default:
            return bytes();
    }
}

}  // namespace kesmark::access
