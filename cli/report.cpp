#include "cli/report.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <unordered_set>

namespace kesmark::cli {

namespace {

constexpr std::string_view kArrow = " → ";

std::string ShortValue(const std::string& text) {
    return text.empty() ? std::string("\"\"") : text;
}

}  // namespace

std::string PluralOf(std::string_view kind) {
    std::string plural(kind);
    if (plural.ends_with('y') && plural.size() > 1 &&
        std::string_view("aeiou").find(plural[plural.size() - 2]) == std::string_view::npos) {
        plural.back() = 'i';
        return plural + "es";
    }
    if (plural.ends_with('x') || plural.ends_with('s')) {
        return plural + "es";
    }
    return plural + "s";
}

namespace {

void AppendPart(std::string& text, std::string_view separator, const std::string& part) {
    if (part.empty()) {
        return;
    }
    if (!text.empty()) {
        text += separator;
    }
    text += part;
}

std::string RowCountsText(const RowCounts& rows, bool withSame) {
    std::string text;
    if (rows.onlyIn1 > 0) {
        AppendPart(text, ", ", std::to_string(rows.onlyIn1) + " only in database 1");
    }
    if (rows.onlyIn2 > 0) {
        AppendPart(text, ", ", std::to_string(rows.onlyIn2) + " only in database 2");
    }
    if (rows.changed > 0) {
        AppendPart(text, ", ", std::to_string(rows.changed) + " changed");
    }
    if (withSame) {
        AppendPart(text, ", ", std::to_string(rows.same) + " same");
    }
    return text.empty() ? text : "rows: " + text;
}

}  // namespace

std::string CountOf(std::int64_t count, std::string_view kind) {
    return std::to_string(count) + " " + (count == 1 ? std::string(kind) : PluralOf(kind));
}

std::string_view SideName(Presence side) {
    switch (side) {
        case Presence::Only1:
            return "1";
        case Presence::Only2:
            return "2";
        case Presence::Both:
            break;
    }
    return "both";
}

std::string KindOf(const MemoryResultTree::Node& node) {
    const auto level = LevelOfNode(node);
    // A record's and a row's texts say what they are.
    if (!level || *level == Level::Databases || *level == Level::Records || *level == Level::Rows) {
        return "";
    }
    switch (*level) {
        case Level::IndexFields:
        case Level::QueryFields:
        case Level::RelationFields:
            return std::string(Describe(Level::TableFields).kind);
        default:
            return std::string(Describe(*level).kind);
    }
}

std::string DifferenceText(const PropertyDifference& difference) {
    if (!difference.where.empty()) {
        return difference.name + " (" + difference.where + ")";
    }
    if (!difference.value2) {
        return difference.name + " (only in database 1)";
    }
    if (!difference.value1) {
        return difference.name + " (only in database 2)";
    }
    return difference.name + " " + ShortValue(*difference.value1) + std::string(kArrow) +
           ShortValue(*difference.value2);
}

std::string ReasonText(const MemoryResultTree::Node& node) {
    const NodeState state = StateOf(node.image);
    if (state == NodeState::NotCompared) {
        return "";
    }
    std::string reason;
    switch (PresenceOf(node)) {
        case Presence::Only1:
            reason = "only in database 1";
            break;
        case Presence::Only2:
            reason = "only in database 2";
            break;
        case Presence::Both:
            break;
    }
    if (state == NodeState::Differs && LevelOfNode(node) == Level::Records) {
        AppendPart(reason, "; ", "first record that differs");
    }
    std::string properties;
    const std::size_t named = std::min(node.differences.size(), kReasonProperties);
    for (std::size_t k = 0; k < named; ++k) {
        AppendPart(properties, ", ", DifferenceText(node.differences[k]));
    }
    if (const std::size_t more = node.differences.size() - named; more > 0) {
        properties += " and " + CountOf(static_cast<std::int64_t>(more), "more property");
    }
    AppendPart(reason, "; ", properties);
    if (node.image == Picture::RowChanged && properties.empty()) {
        AppendPart(reason, "; ", "changed");
    }
    if (node.rows) {
        AppendPart(reason, "; ", RowCountsText(*node.rows, false));
    }
    return reason;
}

std::string SummaryText(const RunSummary& summary) {
    std::string kinds;
    std::int64_t objects = 0;
    for (std::size_t i = 0; i < kLevelCount; ++i) {
        const std::int64_t count = summary.differing[i];
        if (count == 0) {
            continue;
        }
        const LevelInfo& info = kLevels[i];
        objects += info.level == Level::Databases ? 2 : count;
        AppendPart(kinds, ", ",
                   info.level == Level::Databases ? std::string("database properties")
                                                  : CountOf(count, info.kind));
    }
    std::string text =
        kinds.empty() ? std::string(summary.complete ? "no differences" : "no differences found")
                      : kinds + (objects == 1 ? " differs" : " differ");
    std::string sides;
    if (summary.onlyIn1 > 0) {
        AppendPart(sides, ", ", std::to_string(summary.onlyIn1) + " only in database 1");
    }
    if (summary.onlyIn2 > 0) {
        AppendPart(sides, ", ", std::to_string(summary.onlyIn2) + " only in database 2");
    }
    if (!sides.empty()) {
        text += " (" + sides + ")";
    }
    if (summary.notCompared > 0) {
        AppendPart(text, "; ", CountOf(summary.notCompared, "object") + " not compared");
    }
    if (summary.rows) {
        AppendPart(text, "; ", RowCountsText(*summary.rows, true));
    }
    if (summary.filteredOut > 0) {
        AppendPart(text, "; ", CountOf(summary.filteredOut, "object") + " left out by filters");
    }
    if (!summary.complete) {
        AppendPart(text, "; ", "the comparison stopped before its end");
    }
    return text;
}

void VisitShownNodes(const MemoryResultTree& tree, bool all,
                     const std::function<void(const MemoryResultTree::Node&)>& visit) {
    if (all) {
        tree.VisitInTreeOrder(visit);
        return;
    }
    // The owners of what differs, found from the few nodes that differ, so
    // that a large tree of equal objects is read once, as it is printed.
    std::unordered_set<std::string> owners;
    tree.VisitInOrderAdded(
        [&](const MemoryResultTree::Node& node) {
            for (auto parent = node.parent; !parent.empty() && owners.insert(parent).second;) {
                parent = tree.Find(parent)->parent;
            }
        },
        [](Picture image) { return StateOf(image) != NodeState::Same; });
    tree.VisitInTreeOrder([&](const MemoryResultTree::Node& node) {
        if (node.parent.empty() || StateOf(node.image) != NodeState::Same ||
            owners.contains(node.key)) {
            visit(node);
        }
    });
}

std::string LocalTimeNow() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %z", &local);
    return text;
}

}  // namespace kesmark::cli
