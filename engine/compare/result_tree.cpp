#include "engine/compare/result_tree.h"

#include <functional>
#include <iterator>
#include <map>

#include "engine/model/db_error.h"

namespace kesmark {

void MemoryResultTree::AddNode(std::string_view parentKey, std::string_view key,
                               std::string_view text, Picture image) {
    if (index_.contains(std::string(key))) {
        throw DbError(errors::kDuplicateKey, "Key is not unique in collection", "TreeView");
    }
    int depth = 0;
    if (!parentKey.empty()) {
        const auto parent = index_.find(std::string(parentKey));
        if (parent == index_.end()) {
            throw DbError(errors::kElementNotFound, "Element not found", "TreeView");
        }
        depth = nodes_[parent->second].depth + 1;
    }
    index_.emplace(std::string(key), nodes_.size());
    Node node;
    node.key = std::string(key);
    node.text = std::string(text);
    node.parent = std::string(parentKey);
    node.image = image;
    node.depth = depth;
    nodes_.push_back(std::move(node));
}

MemoryResultTree::Node& MemoryResultTree::At(std::string_view key) {
    const auto it = index_.find(std::string(key));
    if (it == index_.end()) {
        throw DbError(errors::kElementNotFound, "Element not found", "TreeView");
    }
    return nodes_[it->second];
}

void MemoryResultTree::SetNodeImage(std::string_view key, Picture image) {
    At(key).image = image;
}

void MemoryResultTree::Clear() {
    nodes_.clear();
    index_.clear();
    filteredOut_ = 0;
}

void MemoryResultTree::SetNodePresence(std::string_view key, Presence presence) {
    At(key).presence = presence;
}

void MemoryResultTree::AddDifferences(std::string_view key,
                                      std::vector<PropertyDifference> differences) {
    auto& node = At(key);
    node.differences.insert(node.differences.end(), std::make_move_iterator(differences.begin()),
                            std::make_move_iterator(differences.end()));
}

void MemoryResultTree::SetRowCounts(std::string_view key, const RowCounts& counts) {
    At(key).rows = counts;
}

Presence PresenceOf(const MemoryResultTree::Node& node) {
    if (node.image == Picture::RowOnlyIn1) {
        return Presence::Only1;
    }
    if (node.image == Picture::RowOnlyIn2) {
        return Presence::Only2;
    }
    return node.presence;
}

const MemoryResultTree::Node* MemoryResultTree::Find(std::string_view key) const {
    const auto it = index_.find(std::string(key));
    return it == index_.end() ? nullptr : &nodes_[it->second];
}

std::vector<const MemoryResultTree::Node*> MemoryResultTree::TreeOrder() const {
    std::map<std::string, std::vector<const Node*>, std::less<>> children;
    for (const auto& n : nodes_) {
        children[n.parent].push_back(&n);
    }
    std::vector<const Node*> order;
    order.reserve(nodes_.size());
    std::function<void(std::string_view)> visit = [&](std::string_view parent) {
        const auto it = children.find(parent);
        if (it == children.end()) {
            return;
        }
        for (const Node* n : it->second) {
            order.push_back(n);
            visit(n->key);
        }
    };
    visit("");
    return order;
}

}  // namespace kesmark
