#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/model/hierarchy.h"

namespace kesmark {

// The result tree as the engine writes it: nodes identified by their key (an
// node key such as "TableDefs[Orders].Fields[ID]", see node_key.h), each with
// a text and a picture of the result-tree image list. Keys are case-sensitive:
// "Orders" and "ORDERS" are two nodes.
// Which databases hold the object a node stands for.
enum class Presence { Both, Only1, Only2 };

class ResultTree {
  public:
    virtual ~ResultTree() = default;

    // Adds a node as the last child of the node `parentKey` (top level when
    // empty). Throws DbError when the key already exists or the parent does not.
    virtual void AddNode(std::string_view parentKey, std::string_view key, std::string_view text,
                         Picture image) = 0;
    // Sets the picture of the node `key`; throws DbError when there is none.
    virtual void SetNodeImage(std::string_view key, Picture image) = 0;
    // Says that the node `key` stands for an object of one database only (a
    // node is of both until told otherwise). A tree that does not show it
    // may ignore it; throws DbError when there is no such node.
    virtual void SetNodePresence(std::string_view key, Presence presence) = 0;
    virtual void Clear() = 0;
};

// A result tree held in memory, in the order nodes were added. The command-line
// front end prints it; tests inspect it.
class MemoryResultTree : public ResultTree {
  public:
    struct Node {
        std::string key;
        std::string text;
        std::string parent;  // empty for a top-level node
        Picture image = Picture::None;
        int depth = 0;
        Presence presence = Presence::Both;
    };

    void AddNode(std::string_view parentKey, std::string_view key, std::string_view text,
                 Picture image) override;
    void SetNodeImage(std::string_view key, Picture image) override;
    void SetNodePresence(std::string_view key, Presence presence) override;
    void Clear() override;

    // Nodes in the order they were added.
    const std::vector<Node>& Nodes() const { return nodes_; }
    // Nodes in tree order: each node followed by its children, depth first.
    std::vector<const Node*> TreeOrder() const;
    const Node* Find(std::string_view key) const;

  private:
    std::vector<Node> nodes_;
    std::unordered_map<std::string, std::size_t> index_;
};

}  // namespace kesmark
