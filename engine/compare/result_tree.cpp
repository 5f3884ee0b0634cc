#include "engine/compare/result_tree.h"

#include <algorithm>
#include <functional>
#include <iterator>

#include "engine/model/db_error.h"
#include "engine/model/node_key.h"

namespace kesmark {

namespace {

DbError DuplicateKey() {
    return DbError(errors::kDuplicateKey, "Key is not unique in collection", "TreeView");
}

DbError ElementNotFound() {
    return DbError(errors::kElementNotFound, "Element not found", "TreeView");
}

std::uint32_t HashKey(std::string_view key) {
    const std::size_t h = std::hash<std::string_view>{}(key);
    return static_cast<std::uint32_t>(h ^ (static_cast<std::uint64_t>(h) >> 32));
}

// Splits `segment`, one "Collection[name]" with "[" and "]" in the name
// doubled, into its collection and its name. False when the text is not
// exactly one such segment written the way NodeKey writes it.
bool SplitSegment(std::string_view segment, std::string_view& collection, std::string& name) {
    const auto open = segment.find('[');
    if (open == std::string_view::npos || open == 0 || segment.back() != ']') {
        return false;
    }
    collection = segment.substr(0, open);
    if (collection.find_first_of(".]") != std::string_view::npos) {
        return false;
    }
    name.clear();
    const std::string_view inner = segment.substr(open + 1, segment.size() - open - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        const char c = inner[i];
        if (c == '[' || c == ']') {
            if (i + 1 >= inner.size() || inner[i + 1] != c) {
                return false;
            }
            ++i;
        }
        name += c;
    }
    return true;
}

void AppendVarint(std::string& out, std::size_t value) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

}  // namespace

std::uint32_t MemoryResultTree::TextStore::Add(std::string_view text,
                                               std::optional<std::string_view> second) {
    std::string record;
    AppendVarint(record, text.size());
    record += text;
    if (second) {
        AppendVarint(record, second->size());
        record += *second;
    }
    if (record.size() > kBlockBytes) {
        if (large_.size() >= kLarge - 1) {
            throw DbError(errors::kOutOfMemory, "Too many nodes for the result tree.", "Kesmark");
        }
        large_.push_back(std::move(record));
        return kLarge | static_cast<std::uint32_t>(large_.size() - 1);
    }
    if (blocks_.empty() || blocks_.back().size() + record.size() > kBlockBytes) {
        if (blocks_.size() >= kLarge / kBlockBytes) {
            throw DbError(errors::kOutOfMemory, "Too many nodes for the result tree.", "Kesmark");
        }
        blocks_.emplace_back();
        blocks_.back().reserve(kBlockBytes);
    }
    std::string& block = blocks_.back();
    const auto position =
        static_cast<std::uint32_t>((blocks_.size() - 1) * kBlockBytes + block.size());
    block += record;
    return position;
}

std::string_view MemoryResultTree::TextStore::Record(std::uint32_t position) const {
    if (position & kLarge) {
        return large_[position & ~kLarge];
    }
    return std::string_view(blocks_[position / kBlockBytes]).substr(position % kBlockBytes);
}

namespace {

// The text at the start of `record` (its length first); `record` then
// starts after it.
std::string_view TakeText(std::string_view& record) {
    std::size_t at = 0;
    std::size_t length = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(record[at++]);
        length |= static_cast<std::size_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80)) {
            break;
        }
    }
    const std::string_view text = record.substr(at, length);
    record.remove_prefix(at + length);
    return text;
}

}  // namespace

std::string_view MemoryResultTree::TextStore::Get(std::uint32_t position) const {
    std::string_view record = Record(position);
    return TakeText(record);
}

std::string_view MemoryResultTree::TextStore::Second(std::uint32_t position) const {
    std::string_view record = Record(position);
    TakeText(record);
    return TakeText(record);
}

void MemoryResultTree::TextStore::Clear() {
    blocks_.clear();
    large_.clear();
}

MemoryResultTree::MemoryResultTree() : slots_(64, kNone) {}

std::uint8_t MemoryResultTree::CollectionId(std::string_view collection) {
    for (std::size_t i = 0; i < collections_.size(); ++i) {
        if (collections_[i] == collection) {
            return static_cast<std::uint8_t>(i);
        }
    }
    if (collections_.size() >= kWholeKey) {
        return kWholeKey;
    }
    collections_.emplace_back(collection);
    return static_cast<std::uint8_t>(collections_.size() - 1);
}

bool MemoryResultTree::KeyIs(std::uint32_t index, std::string_view key) const {
    while (true) {
        const Stored& node = nodes_[index];
        const std::string_view label = texts_.Get(node.label);
        if (node.collection == kWholeKey) {
            return key == label;
        }
        // key = [parent key "."] collection "[" escaped name "]", read from the end.
        if (key.empty() || key.back() != ']') {
            return false;
        }
        key.remove_suffix(1);
        for (auto c = label.rbegin(); c != label.rend(); ++c) {
            const int copies = (*c == '[' || *c == ']') ? 2 : 1;
            for (int k = 0; k < copies; ++k) {
                if (key.empty() || key.back() != *c) {
                    return false;
                }
                key.remove_suffix(1);
            }
        }
        const std::string& collection = collections_[node.collection];
        if (key.size() < collection.size() + 1 || key.back() != '[') {
            return false;
        }
        key.remove_suffix(1);
        if (!key.ends_with(collection)) {
            return false;
        }
        key.remove_suffix(collection.size());
        if (node.flags & kBelowRoot) {
            return key.empty();  // the root's own key is not part of its members' keys
        }
        if (key.empty() || key.back() != '.') {
            return false;
        }
        key.remove_suffix(1);
        index = node.parent;
    }
}

std::string MemoryResultTree::KeyOf(std::uint32_t index) const {
    const Stored& node = nodes_[index];
    const std::string_view label = texts_.Get(node.label);
    if (node.collection == kWholeKey) {
        return std::string(label);
    }
    std::string key = (node.flags & kBelowRoot) ? std::string() : KeyOf(node.parent) + ".";
    key += collections_[node.collection];
    key += '[';
    key += EscapeKeyName(label);
    key += ']';
    return key;
}

std::string_view MemoryResultTree::TextOf(const Stored& node) const {
    return (node.flags & kOwnText) ? texts_.Second(node.label) : texts_.Get(node.label);
}

MemoryResultTree::Node MemoryResultTree::Materialise(std::uint32_t index) const {
    const Stored& stored = nodes_[index];
    Node node;
    node.key = KeyOf(index);
    node.text = std::string(TextOf(stored));
    node.image = static_cast<Picture>(stored.image);
    node.presence = (stored.flags & kOnly1)   ? Presence::Only1
                    : (stored.flags & kOnly2) ? Presence::Only2
                                              : Presence::Both;
    if (const auto it = differences_.find(index); it != differences_.end()) {
        node.differences = it->second;
    }
    if (const auto it = rows_.find(index); it != rows_.end()) {
        node.rows = it->second;
    }
    if (stored.parent != kNone) {
        node.parent = KeyOf(stored.parent);
        for (std::uint32_t at = stored.parent; at != kNone; at = nodes_[at].parent) {
            ++node.depth;
        }
    }
    return node;
}

std::uint32_t MemoryResultTree::Lookup(std::string_view key) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = HashKey(key) & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t index = slots_[slot];
        if (index == kNone || KeyIs(index, key)) {
            return index;
        }
    }
}

void MemoryResultTree::Insert(std::uint32_t index, std::uint32_t hash) {
    auto place = [this](std::uint32_t i, std::uint32_t h) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = h & mask;
        while (slots_[slot] != kNone) {
            slot = (slot + 1) & mask;
        }
        slots_[slot] = i;
    };
    if ((static_cast<std::size_t>(index) + 1) * 4 > slots_.size() * 3) {
        // Keys are not kept: each is made again to find its new slot.
        slots_.assign(slots_.size() * 2, kNone);
        for (std::uint32_t i = 0; i < index; ++i) {
            place(i, HashKey(KeyOf(i)));
        }
    }
    place(index, hash);
}

void MemoryResultTree::AddNode(std::string_view parentKey, std::string_view key,
                               std::string_view text, Picture image) {
    if (Lookup(key) != kNone) {
        throw DuplicateKey();
    }
    Stored node{kNone, 0, static_cast<std::uint8_t>(PictureNumber(image)), kWholeKey, 0};
    std::string name;
    if (!parentKey.empty()) {
        node.parent = Lookup(parentKey);
        if (node.parent == kNone) {
            throw ElementNotFound();
        }
        // The key of a member below its owner: keep only the name.
        const bool belowRoot = parentKey == kRootKey;
        std::string_view collection;
        if (belowRoot ? key.size() > 0
                      : key.size() > parentKey.size() + 1 && key.starts_with(parentKey) &&
                            key[parentKey.size()] == '.') {
            const auto segment = belowRoot ? key : key.substr(parentKey.size() + 1);
            if (SplitSegment(segment, collection, name)) {
                node.collection = CollectionId(collection);
                node.flags = belowRoot ? kBelowRoot : 0;
            }
        }
    }
    if (nodes_.size() >= kNone - 1) {
        throw DbError(errors::kOutOfMemory, "Too many nodes for the result tree.", "Kesmark");
    }
    const std::string_view label = node.collection == kWholeKey ? key : std::string_view(name);
    if (text == label) {
        node.label = texts_.Add(label);
    } else {
        node.label = texts_.Add(label, text);
        node.flags |= kOwnText;
    }
    nodes_.push_back(node);
    Insert(static_cast<std::uint32_t>(nodes_.size() - 1), HashKey(key));
}

std::uint32_t MemoryResultTree::IndexOf(std::string_view key) const {
    const std::uint32_t index = Lookup(key);
    if (index == kNone) {
        throw ElementNotFound();
    }
    return index;
}

void MemoryResultTree::SetNodeImage(std::string_view key, Picture image) {
    const std::uint32_t index = IndexOf(key);
    nodes_[index].image = static_cast<std::uint8_t>(PictureNumber(image));
}

void MemoryResultTree::SetNodePresence(std::string_view key, Presence presence) {
    const std::uint32_t index = IndexOf(key);
    auto& flags = nodes_[index].flags;
    flags &= static_cast<std::uint8_t>(~(kOnly1 | kOnly2));
    if (presence == Presence::Only1) {
        flags |= kOnly1;
    } else if (presence == Presence::Only2) {
        flags |= kOnly2;
    }
}

void MemoryResultTree::Clear() {
    nodes_.clear();
    texts_.Clear();
    collections_.clear();
    slots_.assign(64, kNone);
    differences_.clear();
    rows_.clear();
    filteredOut_ = 0;
}

void MemoryResultTree::AddDifferences(std::string_view key,
                                      std::vector<PropertyDifference> differences) {
    auto& kept = differences_[IndexOf(key)];
    kept.insert(kept.end(), std::make_move_iterator(differences.begin()),
                std::make_move_iterator(differences.end()));
}

void MemoryResultTree::SetRowCounts(std::string_view key, const RowCounts& counts) {
    rows_[IndexOf(key)] = counts;
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

std::vector<MemoryResultTree::Node> MemoryResultTree::Nodes() const {
    std::vector<Node> nodes;
    nodes.reserve(nodes_.size());
    VisitInOrderAdded([&](const Node& node) { nodes.push_back(node); });
    return nodes;
}

void MemoryResultTree::VisitInOrderAdded(const std::function<void(const Node&)>& visit,
                                         const std::function<bool(Picture)>& only) const {
    for (std::uint32_t i = 0; i < nodes_.size(); ++i) {
        if (!only || only(static_cast<Picture>(nodes_[i].image))) {
            visit(Materialise(i));
        }
    }
}

bool MemoryResultTree::AnyPicture(const std::function<bool(Picture)>& test) const {
    return std::any_of(nodes_.begin(), nodes_.end(),
                       [&](const Stored& node) { return test(static_cast<Picture>(node.image)); });
}

void MemoryResultTree::VisitInTreeOrder(const std::function<void(const Node&)>& visit) const {
    // The nodes grouped by parent (top-level nodes last), children in the
    // order added: a counting sort into one array. end[p] is where the
    // children of p end; they start where those of p - 1 end.
    const auto count = static_cast<std::uint32_t>(nodes_.size());
    auto group = [&](std::uint32_t i) {
        return nodes_[i].parent == kNone ? count : nodes_[i].parent;
    };
    std::vector<std::uint32_t> end(count + 1, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        ++end[group(i)];
    }
    for (std::uint32_t p = 1; p <= count; ++p) {
        end[p] += end[p - 1];
    }
    std::vector<std::uint32_t> children(count);
    for (std::uint32_t i = count; i-- > 0;) {
        children[--end[group(i)]] = i;
    }
    // Now end[p] is where the children of p start; they end where those of
    // p + 1 start.
    auto first = [&](std::uint32_t p) { return end[p]; };
    auto last = [&](std::uint32_t p) { return p == count ? count : end[p + 1]; };
    // Depth first, with the next child of each open node on a stack.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> stack{{first(count), last(count)}};
    while (!stack.empty()) {
        auto& [next, stop] = stack.back();
        if (next == stop) {
            stack.pop_back();
            continue;
        }
        const std::uint32_t index = children[next++];
        visit(Materialise(index));
        stack.emplace_back(first(index), last(index));
    }
}

std::optional<MemoryResultTree::Node> MemoryResultTree::Find(std::string_view key) const {
    const std::uint32_t index = Lookup(key);
    if (index == kNone) {
        return std::nullopt;
    }
    return Materialise(index);
}

}  // namespace kesmark
