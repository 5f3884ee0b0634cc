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

Value Property::GetValue() const {
    return reader_ ? reader_() : value_;
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
    p.Add("Name", dao::kText, Name());
    p.Add("Type", dao::kInteger, Type());
    p.Add("SourceTable", dao::kText, SourceTable());
    p.Add("SourceField", dao::kText, SourceField());
    p.Add("Size", dao::kLong, FieldSize());
    p.Add("Value", Type(), GetValue());
    return p;
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
