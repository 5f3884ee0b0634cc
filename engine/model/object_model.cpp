#include "engine/model/object_model.h"

#include "engine/model/object_tree.h"
#include "engine/model/value_codec.h"

namespace kesmark {

namespace {
DbError ItemNotFound() {
    return DbError(errors::kItemNotFound, "Item not found in this collection.", "Kesmark");
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

}  // namespace kesmark
