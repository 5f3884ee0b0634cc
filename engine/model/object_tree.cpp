#include "engine/model/object_tree.h"

#include <algorithm>

#include "engine/model/text.h"

namespace kesmark {

ObjectNode& CollectionNode::Add(std::string name) {
    auto node = std::make_shared<ObjectNode>();
    node->name = std::move(name);
    members.push_back(node);
    return *node;
}

namespace {

DbError ItemNotFound() {
    return DbError(errors::kItemNotFound, "Item not found in this collection.", "Kesmark");
}

// A reader's own copy of a held member: its properties, its filled
// collections shared, and a fresh unfilled collection for each one that
// fills itself.
std::shared_ptr<ObjectNode> ReaderCopy(const ObjectNode& held) {
    auto copy = std::make_shared<ObjectNode>();
    copy->name = held.name;
    copy->properties = held.properties;
    copy->propertiesFailure = held.propertiesFailure;
    for (const auto& [name, collection] : held.collections) {
        if (collection->loader) {
            auto unfilled = std::make_shared<CollectionNode>();
            unfilled->loader = collection->loader;
            copy->collections.emplace(name, std::move(unfilled));
        } else {
            copy->collections.emplace(name, collection);
        }
    }
    return copy;
}

}  // namespace

void CollectionNode::EnsureLoaded() {
    if (loader) {
        auto load = std::move(loader);
        loader = nullptr;
        try {
            load(*this);
        } catch (const DbError& e) {
            failure = e;
        }
    }
    if (failure) {
        throw *failure;
    }
}

std::size_t CollectionNode::Count() {
    EnsureLoaded();
    return source ? source->count : members.size();
}

std::string CollectionNode::NameAt(std::size_t index) {
    if (index >= Count()) {
        throw ItemNotFound();
    }
    return source ? source->nameAt(index) : members[index]->name;
}

std::shared_ptr<ObjectNode> CollectionNode::Read(std::size_t index) {
    if (index >= Count()) {
        throw ItemNotFound();
    }
    if (!source) {
        return ReaderCopy(*members[index]);
    }
    auto member = std::make_shared<ObjectNode>();
    member->name = source->nameAt(index);
    source->describe(index, *member);
    return member;
}

std::ptrdiff_t CollectionNode::IndexOf(std::string_view name) {
    EnsureLoaded();
    if (source) {
        // Described members are found through their positions sorted by
        // name (four bytes a member), the names asked of the source.
        if (sourceOrder_.size() != source->count) {
            sourceOrder_.resize(source->count);
            for (std::size_t i = 0; i < source->count; ++i) {
                sourceOrder_[i] = static_cast<std::uint32_t>(i);
            }
            std::vector<std::string> names(source->count);
            for (std::size_t i = 0; i < source->count; ++i) {
                names[i] = source->nameAt(i);
            }
            std::sort(sourceOrder_.begin(), sourceOrder_.end(),
                      [&](std::uint32_t a, std::uint32_t b) { return names[a] < names[b]; });
        }
        const auto it = std::lower_bound(
            sourceOrder_.begin(), sourceOrder_.end(), name,
            [&](std::uint32_t i, std::string_view wanted) { return source->nameAt(i) < wanted; });
        if (it != sourceOrder_.end() && source->nameAt(*it) == name) {
            return static_cast<std::ptrdiff_t>(*it);
        }
        // No exact name: the first equal ignoring case, one name at a time.
        const std::string wanted = FoldAsciiCase(name);
        for (std::size_t i = 0; i < source->count; ++i) {
            if (FoldAsciiCase(source->nameAt(i)) == wanted) {
                return static_cast<std::ptrdiff_t>(i);
            }
        }
        return -1;
    }
    if (indexedCount_ != members.size()) {
        exactIndex_.clear();
        foldedIndex_.clear();
        for (std::size_t i = 0; i < members.size(); ++i) {
            exactIndex_.emplace(members[i]->name, i);
            foldedIndex_.emplace(FoldAsciiCase(members[i]->name), i);
        }
        indexedCount_ = members.size();
    }
    if (auto it = exactIndex_.find(std::string(name)); it != exactIndex_.end()) {
        return static_cast<std::ptrdiff_t>(it->second);
    }
    if (auto it = foldedIndex_.find(FoldAsciiCase(name)); it != foldedIndex_.end()) {
        return static_cast<std::ptrdiff_t>(it->second);
    }
    return -1;
}

CollectionNode& ObjectNode::Collection(std::string_view collectionName) {
    auto it = collections.find(collectionName);
    if (it == collections.end()) {
        it = collections.emplace(std::string(collectionName), std::make_shared<CollectionNode>())
                 .first;
    }
    return *it->second;
}

Properties TreeObject::GetProperties() {
    if (node_->propertiesFailure) {
        throw *node_->propertiesFailure;
    }
    return node_->properties;
}

std::unique_ptr<Collection> TreeObject::GetCollection(std::string_view name) {
    auto it = node_->collections.find(name);
    if (it == node_->collections.end()) {
        throw DbError(errors::kNotSupported,
                      "'" + node_->name + "' has no collection '" + std::string(name) + "'.",
                      "Kesmark");
    }
    return std::make_unique<TreeCollection>(it->second);
}

std::size_t TreeCollection::Count() {
    return node_->Count();
}

std::string TreeCollection::NameAt(std::size_t index) {
    return node_->NameAt(index);
}

std::unique_ptr<DbObject> TreeCollection::ItemAt(std::size_t index) {
    return std::make_unique<TreeObject>(node_->Read(index));
}

std::unique_ptr<DbObject> TreeCollection::Find(std::string_view name) {
    const auto index = node_->IndexOf(name);
    if (index < 0) {
        return nullptr;
    }
    return std::make_unique<TreeObject>(node_->Read(static_cast<std::size_t>(index)));
}

TreeDatabase::TreeDatabase(std::string name, std::string source)
    : name_(std::move(name)), source_(std::move(source)), root_(std::make_shared<ObjectNode>()) {
    root_.Node().name = name_;
}

Properties TreeDatabase::GetProperties() {
    CheckOpen();
    return root_.GetProperties();
}

std::unique_ptr<Collection> TreeDatabase::GetCollection(std::string_view name) {
    CheckOpen();
    return root_.GetCollection(name);
}

void TreeDatabase::CheckOpen() const {
    if (closed_) {
        throw DbError(errors::kNotSupported, "The database is closed.", source_);
    }
}

std::string SelectStatement(const std::vector<std::string>& fields, std::string_view table,
                            const std::function<std::string(std::string_view)>& quote) {
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i) {
            sql += ", ";
        }
        sql += quote(fields[i]);
    }
    return sql + " FROM " + quote(table);
}

}  // namespace kesmark
