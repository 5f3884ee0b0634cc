#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/compare/table_data.h"
#include "engine/model/hierarchy.h"

namespace kesmark {

// Which databases hold the object a node stands for.
enum class Presence { Both, Only1, Only2 };

// One compared property whose values differ between the two objects of a
// node, as the run found it. Values are display texts (see
// PropertyValueText), cut to an excerpt when long, so that a tree of many
// differing objects stays small.
struct PropertyDifference {
    std::string name;
    // The value's text in each database; nullopt when the property is not
    // there. An unreadable value reads "Error: " and the failure's description.
    std::optional<std::string> value1;
    std::optional<std::string> value2;
    // For values too long to show on one line: where they part ("text
    // differs at line 3", "bytes differ at byte 17"); empty for short values.
    std::string where;
    // True when value1 or value2 was cut to its excerpt.
    bool truncated = false;
    friend bool operator==(const PropertyDifference&, const PropertyDifference&) = default;
};

// The result tree as the engine writes it: nodes identified by their key (an
// node key such as "TableDefs[Orders].Fields[ID]", see node_key.h), each with
// a text and a picture of the result-tree image list. Keys are case-sensitive:
// "Orders" and "ORDERS" are two nodes.
//
// Besides the nodes, a run tells why a node differs: the side of an object
// present in one database only, the properties whose values differ, the row
// counts of a table compared by key, and the objects the filters left out.
// A tree that has no use for the last three keeps their empty defaults.
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

    // The properties of the node `key` (already added) whose values differ,
    // in ascending ordinal order of name. Called at most once per node.
    virtual void AddDifferences(std::string_view /*key*/,
                                std::vector<PropertyDifference> /*differences*/) {}
    // The row counts of the table node `key`, compared row by row by key.
    virtual void SetRowCounts(std::string_view /*key*/, const RowCounts& /*counts*/) {}
    // An object the filters left out: neither compared nor added as a node.
    // `key` is the key its node would have had.
    virtual void CountFilteredOut(std::string_view /*key*/) {}
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
        std::vector<PropertyDifference> differences;
        std::optional<RowCounts> rows;
    };

    void AddNode(std::string_view parentKey, std::string_view key, std::string_view text,
                 Picture image) override;
    void SetNodeImage(std::string_view key, Picture image) override;
    void SetNodePresence(std::string_view key, Presence presence) override;
    void Clear() override;
    void AddDifferences(std::string_view key, std::vector<PropertyDifference> differences) override;
    void SetRowCounts(std::string_view key, const RowCounts& counts) override;
    void CountFilteredOut(std::string_view) override { ++filteredOut_; }

    // Nodes in the order they were added.
    const std::vector<Node>& Nodes() const { return nodes_; }
    // Nodes in tree order: each node followed by its children, depth first.
    std::vector<const Node*> TreeOrder() const;
    const Node* Find(std::string_view key) const;
    // How many objects the filters left out.
    std::int64_t FilteredOut() const { return filteredOut_; }

  private:
    Node& At(std::string_view key);

    std::vector<Node> nodes_;
    std::unordered_map<std::string, std::size_t> index_;
    std::int64_t filteredOut_ = 0;
};

// Which databases hold the object of a node: as recorded, or for the
// pictures of key-matched rows as they show.
Presence PresenceOf(const MemoryResultTree::Node& node);

}  // namespace kesmark
