#include "engine/compare/summary.h"

#include <algorithm>

namespace kesmark {

bool RunSummary::NothingDiffers() const {
    return notCompared == 0 &&
           std::all_of(differing.begin(), differing.end(), [](std::int64_t n) { return n == 0; });
}

std::optional<Level> LevelOfNode(const MemoryResultTree::Node& node) {
    NodeKey key;
    if (!NodeKey::Parse(node.key, key)) {
        return std::nullopt;
    }
    return LevelOfKey(key);
}

bool IsRowPicture(Picture picture) {
    return picture == Picture::RowOnlyIn1 || picture == Picture::RowOnlyIn2 ||
           picture == Picture::RowChanged;
}

RunSummary Summarize(const MemoryResultTree& tree) {
    RunSummary summary;
    summary.filteredOut = tree.FilteredOut();
    tree.VisitInOrderAdded([&](const MemoryResultTree::Node& node) {
        if (node.rows) {
            if (!summary.rows) {
                summary.rows.emplace();
            }
            summary.rows->onlyIn1 += node.rows->onlyIn1;
            summary.rows->onlyIn2 += node.rows->onlyIn2;
            summary.rows->changed += node.rows->changed;
            summary.rows->same += node.rows->same;
        }
        if (IsRowPicture(node.image)) {
            return;
        }
        if (node.key == kRootKey) {
            // The root differs with anything below it; it counts only for
            // the databases' own properties.
            if (!node.differences.empty()) {
                ++summary.differing[static_cast<std::size_t>(Level::Databases)];
            }
            return;
        }
        switch (StateOf(node.image)) {
            case NodeState::Same:
                return;
            case NodeState::NotCompared:
                ++summary.notCompared;
                return;
            case NodeState::Differs:
                break;
        }
        if (const auto level = LevelOfNode(node)) {
            ++summary.differing[static_cast<std::size_t>(*level)];
        }
        switch (node.presence) {
            case Presence::Only1:
                ++summary.onlyIn1;
                break;
            case Presence::Only2:
                ++summary.onlyIn2;
                break;
            case Presence::Both:
                break;
        }
    });
    return summary;
}

}  // namespace kesmark
