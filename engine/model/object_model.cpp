#include "engine/model/object_model.h"

#include <algorithm>
#include <limits>

#include "engine/model/object_tree.h"
#include "engine/model/sorted_recordset.h"
#include "engine/model/value_codec.h"

namespace kesmark {

namespace {
DbError ItemNotFound() {
    return DbError(errors::kItemNotFound, "Item not found in this collection.", "Kesmark");
}

// A Boolean property of an object; false when it is absent or not True.
bool Flag(const Properties& properties, std::string_view name) {
    const Property* p = properties.Find(name);
    if (!p) {
        return false;
    }
    const Value v = p->GetValue();
    if (const auto* b = v.As<bool>()) {
        return *b;
    }
    if (const auto* i = v.As<std::int64_t>()) {
        return *i != 0;
    }
    return false;
}

// A text property of an object; "" when it is absent or not text.
std::string Text(const Properties& properties, std::string_view name) {
    const Property* p = properties.Find(name);
    if (!p) {
        return {};
    }
    const Value v = p->GetValue();
    const auto* s = v.As<std::string>();
    return s ? *s : std::string();
}

// `fields` followed by those of `more` that it lacks, and the position of
// each of `more` in the result.
std::vector<std::string> WithFields(const std::vector<std::string>& fields,
                                    const std::vector<std::string>& more,
                                    std::vector<std::size_t>& positions) {
    std::vector<std::string> all = fields;
    positions.clear();
    for (const auto& name : more) {
        auto it = std::find(all.begin(), all.end(), name);
        if (it == all.end()) {
            all.push_back(name);
            it = all.end() - 1;
        }
        positions.push_back(static_cast<std::size_t>(it - all.begin()));
    }
    return all;
}
}  // namespace

Property::Property(std::string name, int type, Value value)
    : name_(std::move(name)), type_(type), value_(std::move(value)) {}

Property::Property(std::string name, int type, Reader reader)
    : name_(std::move(name)), type_(type), reader_(std::move(reader)) {}

Property Property::Failing(std::string name, int type, DbError error) {
    return Property(std::move(name), type, Reader([error]() -> Value { throw error; }));
}

Property Property::Long(std::string name, int type, Value beginning, LongValueReader whole) {
    Property property(std::move(name), type, std::move(beginning));
    property.whole_ = std::make_shared<const LongValueReader>(std::move(whole));
    return property;
}

Value Property::GetValue() const {
    return reader_ ? reader_() : value_;
}

Property Property::Read() const {
    Property read(name_, type_, GetValue());
    read.whole_ = whole_;
    return read;
}

void Properties::Add(std::string name, int type, Value value) {
    items_.emplace_back(std::move(name), type, std::move(value));
}

void Properties::Set(std::string name, int type, Value value) {
    for (auto& p : items_) {
        if (p.Name() == name) {
            p = Property(std::move(name), type, std::move(value));
            return;
        }
    }
    Add(std::move(name), type, std::move(value));
}

const Property& Properties::Item(std::size_t index) const {
    if (index >= items_.size()) {
        throw ItemNotFound();
    }
    return items_[index];
}

const Property* Properties::Find(std::string_view name) const {
    for (const auto& p : items_) {
        if (p.Name() == name) {
            return &p;
        }
    }
    const auto folded = FoldAsciiCase(name);
    for (const auto& p : items_) {
        if (FoldAsciiCase(p.Name()) == folded) {
            return &p;
        }
    }
    return nullptr;
}

const Property& Properties::Item(std::string_view name) const {
    if (const auto* p = Find(name)) {
        return *p;
    }
    throw ItemNotFound();
}

Properties RecordsetField::GetProperties() {
    Properties p;
    const int type = Type();
    const std::int64_t size = FieldSize();
    p.Add("Name", dao::kText, Name());
    p.Add("Type", dao::kInteger, type);
    p.Add("SourceTable", dao::kText, SourceTable());
    p.Add("SourceField", dao::kText, SourceField());
    p.Add("Size", dao::kLong, size);
    if ((type == dao::kLongBinary || type == dao::kMemo) &&
        size > static_cast<std::int64_t>(kLongValuePiece)) {
        p.Add(Property::Long("Value", type, Beginning(kLongValuePiece),
                             {size, [this](std::int64_t offset, std::size_t count) {
                                  return GetChunk(offset, count);
                              }}));
    } else {
        p.Add("Value", type, GetValue());
    }
    return p;
}

Value RecordsetField::Beginning(std::size_t count) {
    Bytes first = GetChunk(0, count);
    if (Type() == dao::kMemo) {
        return Value(std::string(first.begin(), first.end()));
    }
    return Value(std::move(first));
}

void RecordsetField::AppendEncodedValue(std::string& out) {
    EncodeValue(GetValue(), out);
}

std::string TextOfProperty(const Properties& properties, std::string_view name) {
    const Property* property = properties.Find(name);
    if (!property) {
        return {};
    }
    const Value value = property->GetValue();
    const auto* text = value.As<std::string>();
    return text ? *text : std::string();
}

bool Recordset::AppendEncodedRow(std::string& out, std::vector<std::uint32_t>& ends,
                                 std::int64_t longValueLimit) {
    const std::size_t count = FieldCount();
    // Sizes are asked only when some value may be too long.
    for (std::size_t f = 0; longValueLimit < std::numeric_limits<std::int64_t>::max() && f < count;
         ++f) {
        const int type = Field(f).Type();
        if ((type == dao::kMemo || type == dao::kLongBinary) &&
            Field(f).FieldSize() > longValueLimit) {
            return false;
        }
    }
    for (std::size_t f = 0; f < count; ++f) {
        Field(f).AppendEncodedValue(out);
        ends.push_back(static_cast<std::uint32_t>(out.size()));
    }
    return true;
}

std::vector<TableKey> Database::CandidateKeys(std::string_view table) {
    auto tableDef = GetCollection(collections::kTableDefs)->Item(table);
    auto fields = tableDef->GetCollection(collections::kFields);
    auto indexes = tableDef->GetCollection(collections::kIndexes);
    std::vector<TableKey> keys;
    const std::size_t count = indexes->Count();
    for (std::size_t i = 0; i < count; ++i) {
        auto index = indexes->ItemAt(i);
        const Properties p = index->GetProperties();
        const bool primary = Flag(p, "Primary");
        if (!primary && (!Flag(p, "Unique") || Flag(p, "IgnoreNulls") || Flag(p, "Partial") ||
                         !Text(p, "Condition").empty())) {
            continue;
        }
        TableKey key{index->GetCollection(collections::kFields)->Names(), index->Name(), primary};
        // Every key field a field of the table (not an expression), and
        // never Null unless the index is the primary key.
        const bool usable = !key.fields.empty() &&
                            std::all_of(key.fields.begin(), key.fields.end(), [&](const auto& f) {
                                auto field = fields->Find(f);
                                return field && field->Name() == f &&
                                       (primary || Flag(field->GetProperties(), "Required"));
                            });
        if (usable) {
            keys.push_back(std::move(key));
        }
    }
    std::stable_partition(keys.begin(), keys.end(), [](const TableKey& k) { return k.primary; });
    return keys;
}

std::unique_ptr<Recordset> Database::OpenOrderedRecordset(
    std::string_view table, const std::vector<std::string>& fields,
    const std::vector<std::string>& keyFields) {
    std::vector<std::size_t> keyColumns;
    const auto all = WithFields(fields, keyFields, keyColumns);
    return SortRecordset(OpenRecordset(table, all), std::move(keyColumns), fields.size());
}

std::unique_ptr<Recordset> Database::OpenKeyedRecordset(std::string_view table,
                                                        const std::vector<std::string>& fields,
                                                        const std::vector<std::string>& keyFields,
                                                        const std::vector<Value>& keyValues) {
    std::vector<std::size_t> keyColumns;
    const auto all = WithFields(fields, keyFields, keyColumns);
    return FilterRecordset(OpenRecordset(table, all), std::move(keyColumns), keyValues,
                           fields.size());
}

std::optional<TableKey> SharedKey(Database& db1, Database& db2, std::string_view table) {
    const auto keys1 = db1.CandidateKeys(table);
    if (keys1.empty()) {
        return std::nullopt;
    }
    auto sorted = [](std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    };
    const auto keys2 = db2.CandidateKeys(table);
    for (const auto& key1 : keys1) {
        const auto names1 = sorted(key1.fields);
        for (const auto& key2 : keys2) {
            if (sorted(key2.fields) == names1) {
                return key1;
            }
        }
    }
    return std::nullopt;
}

std::unique_ptr<DbObject> Collection::Item(std::string_view name) {
    auto item = Find(name);
    if (!item) {
        throw ItemNotFound();
    }
    return item;
}

std::vector<std::string> Collection::Names() {
    const auto count = Count();
    std::vector<std::string> names;
    names.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        names.push_back(NameAt(i));
    }
    return names;
}

namespace {
DbError NoChecksums(std::string_view table) {
    return DbError(
        errors::kNotSupported,
        "The database cannot compute row checksums of table '" + std::string(table) + "'.",
        "Kesmark");
}
}  // namespace

std::optional<std::vector<ChecksumForm>> Database::ChecksumForms(std::string_view,
                                                                 const std::vector<std::string>&) {
    return std::nullopt;
}

std::vector<std::vector<Value>> Database::KeyBoundaries(std::string_view table,
                                                        const std::vector<std::string>&,
                                                        const KeyRange&, std::int64_t,
                                                        std::optional<std::int64_t>) {
    throw NoChecksums(table);
}

RangeSummaries Database::RangeChecksums(std::string_view table, const std::vector<std::string>&,
                                        const std::vector<std::string>&, const KeyRange&,
                                        const std::vector<std::vector<Value>>&) {
    throw NoChecksums(table);
}

std::unique_ptr<Recordset> Database::OpenRangeRecordset(std::string_view table,
                                                        const std::vector<std::string>&,
                                                        const std::vector<std::string>&,
                                                        const KeyRange&) {
    throw NoChecksums(table);
}

}  // namespace kesmark
