#pragma once

#include <cstdint>
#include <deque>
#include <functional>
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
//
// A comparison of a large schema adds millions of nodes, so a node is kept in
// about 26 bytes: a node whose key is its parent's key followed by one
// "Collection[name]" keeps only the name (and its text when that differs from
// the name); keys and parents are rebuilt when a node is read. Differences
// and row counts, which only differing nodes and compared tables have, are
// kept beside the nodes.
class MemoryResultTree : public ResultTree {
  public:
    // One node as a reader sees it.
    struct Node {
        std::string key;
        std::string text;
        std::string parent;  // empty for a top-level node
        Picture image = Picture::None;
        int depth = 0;  // 0 for a top-level node
        Presence presence = Presence::Both;
        std::vector<PropertyDifference> differences;
        std::optional<RowCounts> rows;
    };

    MemoryResultTree();

    void AddNode(std::string_view parentKey, std::string_view key, std::string_view text,
                 Picture image) override;
    void SetNodeImage(std::string_view key, Picture image) override;
    void SetNodePresence(std::string_view key, Presence presence) override;
    void Clear() override;
    void AddDifferences(std::string_view key, std::vector<PropertyDifference> differences) override;
    void SetRowCounts(std::string_view key, const RowCounts& counts) override;
    void CountFilteredOut(std::string_view) override { ++filteredOut_; }

    std::size_t Size() const { return nodes_.size(); }
    // Every node in the order added (copies: meant for small trees).
    std::vector<Node> Nodes() const;
    // Calls `visit` for every node in the order added (only those whose
    // picture passes `only`, when given).
    void VisitInOrderAdded(const std::function<void(const Node&)>& visit,
                           const std::function<bool(Picture)>& only = {}) const;
    // True when the picture of some node passes `test`.
    bool AnyPicture(const std::function<bool(Picture)>& test) const;
    // Calls `visit` for every node in tree order: each node followed by its
    // children, depth first, children in the order added.
    void VisitInTreeOrder(const std::function<void(const Node&)>& visit) const;
    // The node of that key, or nullopt.
    std::optional<Node> Find(std::string_view key) const;
    // How many objects the filters left out.
    std::int64_t FilteredOut() const { return filteredOut_; }

  private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::uint8_t kWholeKey = 0xFF;  // the label is the whole key
    static constexpr std::uint8_t kBelowRoot = 1;    // the parent's key is the root key
    static constexpr std::uint8_t kOwnText = 2;      // the text follows the label in texts_
    static constexpr std::uint8_t kOnly1 = 4;        // of database 1 only
    static constexpr std::uint8_t kOnly2 = 8;        // of database 2 only

    struct Stored {
        std::uint32_t parent;     // kNone for a top-level node
        std::uint32_t label;      // texts_ position: the member's name, or the whole key
        std::uint8_t image;       // Picture
        std::uint8_t collection;  // collections_ index, or kWholeKey
        std::uint8_t flags;       // kBelowRoot, kOwnText, kOnly1, kOnly2
    };

    // Texts one after the other in blocks that never move, each with its
    // length first; a text longer than a block is kept on its own.
    class TextStore {
      public:
        // Adds `text`, or `text` and `second` one after the other; returns
        // the position of the first.
        std::uint32_t Add(std::string_view text, std::optional<std::string_view> second = {});
        std::string_view Get(std::uint32_t position) const;
        // The text added with the one at `position`.
        std::string_view Second(std::uint32_t position) const;
        void Clear();

      private:
        static constexpr std::size_t kBlockBytes = 64 << 10;
        static constexpr std::uint32_t kLarge = 0x80000000u;
        // The bytes from the record at `position` on.
        std::string_view Record(std::uint32_t position) const;
        std::vector<std::string> blocks_;
        std::vector<std::string> large_;
    };

    std::uint32_t Lookup(std::string_view key) const;
    // The index of the node `key`; throws DbError when there is none.
    std::uint32_t IndexOf(std::string_view key) const;
    std::string_view TextOf(const Stored& node) const;
    bool KeyIs(std::uint32_t index, std::string_view key) const;
    std::string KeyOf(std::uint32_t index) const;
    Node Materialise(std::uint32_t index) const;
    // Adds node `index`, whose key hashes to `hash`, to the lookup table.
    void Insert(std::uint32_t index, std::uint32_t hash);
    std::uint8_t CollectionId(std::string_view collection);

    std::deque<Stored> nodes_;
    TextStore texts_;
    std::vector<std::string> collections_;
    std::vector<std::uint32_t> slots_;  // open addressing over nodes_, kNone when empty
    std::unordered_map<std::uint32_t, std::vector<PropertyDifference>> differences_;
    std::unordered_map<std::uint32_t, RowCounts> rows_;
    std::int64_t filteredOut_ = 0;
};

// Which databases hold the object of a node: as recorded, or for the
// pictures of key-matched rows as they show.
Presence PresenceOf(const MemoryResultTree::Node& node);

}  // namespace kesmark
