#include "engine/sync/run_findings.h"

#include <optional>

#include "engine/model/node_key.h"
#include "engine/model/object_model.h"

namespace kesmark::sync {

namespace {

std::optional<RowState> RowStateOf(Picture picture) {
    switch (picture) {
        case Picture::RowOnlyIn1:
            return RowState::OnlyIn1;
        case Picture::RowOnlyIn2:
            return RowState::OnlyIn2;
        case Picture::RowChanged:
            return RowState::Changed;
        default:
            return std::nullopt;
    }
}

}  // namespace

RunFindings::RunFindings(const MemoryResultTree& tree) {
    std::unordered_map<std::string, RowCounts> counts;
    tree.VisitInOrderAdded([&](const MemoryResultTree::Node& node) {
        NodeKey key;
        if (!NodeKey::Parse(node.key, key)) {
            return;
        }
        const auto& segments = key.Segments();
        if (segments.empty() || segments[0].collection != collections::kTableDefs) {
            return;
        }
        const std::string& table = segments[0].name;
        if (segments.size() == 1) {
            sameTables_[table] =
                StateOf(node.image) == NodeState::Same && node.presence == Presence::Both;
            if (node.rows) {
                counts[table] = *node.rows;
                rows_[table];
            }
        } else if (segments.size() == 2 && segments[1].collection == "Rows") {
            if (const auto state = RowStateOf(node.image)) {
                rows_[table].push_back({*state, segments[1].name});
            }
        }
    });
    // Only a table whose every differing row has its node is listed whole.
    for (auto it = rows_.begin(); it != rows_.end();) {
        const auto found = counts.find(it->first);
        const bool whole = found != counts.end() &&
                           found->second.onlyIn1 + found->second.onlyIn2 + found->second.changed ==
                               static_cast<std::int64_t>(it->second.size());
        it = whole ? std::next(it) : rows_.erase(it);
    }
}

bool RunFindings::TableSame(const std::string& table) const {
    const auto it = sameTables_.find(table);
    return it != sameTables_.end() && it->second;
}

const std::vector<RowFinding>* RunFindings::Rows(const std::string& table) const {
    const auto it = rows_.find(table);
    return it == rows_.end() ? nullptr : &it->second;
}

}  // namespace kesmark::sync
