#pragma once

// The stored properties of an Access object (the LvProp long value of its
// catalog row): a "KKD" (Jet 3) or "MR2" (Jet 4 and later) block made of
// chunks, one chunk with the property names and one chunk of values per
// object the block describes: the object itself (no name) and, for a table,
// each column by name.
//
// The parser checks every length: a chunk or property record whose length is
// zero or runs past its container, or a name index past the name list, is a
// FormatError (errors::kDamaged), so a damaged block never makes it loop or read
// outside the block.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "engine/model/value.h"

namespace kesmark::access {

// One stored property as it is in the block.
struct StoredProperty {
    std::string name;
    std::uint8_t type = 0;  // DAO type code of the value
    bool ddl = false;       // created by the engine, not by the user interface
    std::vector<std::uint8_t> data;
};

// The properties of one object of the block; `name` is empty for the object
// that owns the block and a column name otherwise.
struct PropertyMap {
    std::string name;
    std::vector<StoredProperty> properties;
};

// Turns the bytes of a stored name or text value into UTF-8.
using TextDecoder = std::function<std::string(std::span<const std::uint8_t>)>;

// Parses a whole block. `decodeName` decodes the property and object names,
// `decodeText` is not used here but by StoredValue. Throws FormatError when
// the block is damaged.
std::vector<PropertyMap> ParsePropertyBlock(std::span<const std::uint8_t> block,
                                            const TextDecoder& decodeName);

// The value of a stored property with the DAO meaning of its type: Booleans,
// whole numbers by their stored width, floating point, currency, dates, text
// (through `decodeText`) and byte arrays. Data of an unexpected width is
// given as bytes.
Value StoredValue(const StoredProperty& property, const TextDecoder& decodeText);

}  // namespace kesmark::access
