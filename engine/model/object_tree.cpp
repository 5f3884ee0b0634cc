#include "engine/model/object_tree.h"

#include "engine/model/text.h"

namespace kesmark {

ObjectNode& CollectionNode::Add(std::string name) {
    auto node = std::make_shared<ObjectNode>();
    node->name = std::move(name);
    members.push_back(node);
    return *node;
}

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

std::ptrdiff_t CollectionNode::IndexOf(std::string_view name) {
    EnsureLoaded();
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
    node_->EnsureLoaded();
    return node_->members.size();
}

std::string TreeCollection::NameAt(std::size_t index) {
    node_->EnsureLoaded();
    if (index >= node_->members.size()) {
        throw DbError(errors::kItemNotFound, "Item not found in this collection.", "Kesmark");
    }
    return node_->members[index]->name;
}

std::unique_ptr<DbObject> TreeCollection::ItemAt(std::size_t index) {
    node_->EnsureLoaded();
    if (index >= node_->members.size()) {
        throw DbError(errors::kItemNotFound, "Item not found in this collection.", "Kesmark");
    }
    return std::make_unique<TreeObject>(node_->members[index]);
}

std::unique_ptr<DbObject> TreeCollection::Find(std::string_view name) {
    const auto index = node_->IndexOf(name);
    if (index < 0) {
        return nullptr;
    }
    return std::make_unique<TreeObject>(node_->members[static_cast<std::size_t>(index)]);
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
