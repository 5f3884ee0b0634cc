#include "cli/report_json.h"

#include <nlohmann/json.hpp>

namespace kesmark::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kFormat = 2;

// Names are not always valid UTF-8 (a damaged file, a legacy code page):
// what cannot be encoded is replaced instead of failing.
std::string Dump(const Json& value, std::size_t indent) {
    const std::string text = value.dump(2, ' ', false, Json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        out += c;
        if (c == '\n') {
            out.append(indent, ' ');
        }
    }
    return out;
}

Json Optional(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

Json RowCountsJson(const RowCounts& rows) {
    return Json{{"onlyIn1", rows.onlyIn1},
                {"onlyIn2", rows.onlyIn2},
                {"changed", rows.changed},
                {"same", rows.same}};
}

std::string_view RowState(Picture icon) {
    if (icon == property_rows::kSkippedIcon) {
        return "skipped";
    }
    return icon == property_rows::kEqualIcon ? "same" : "differs";
}

Json NodeJson(const MemoryResultTree::Node& node, NodeListing* listing) {
    Json n;
    n["key"] = node.key;
    n["text"] = node.text;
    n["parent"] = node.parent.empty() ? Json(nullptr) : Json(node.parent);
    n["image"] = PictureNumber(node.image);
    n["side"] = SideName(PresenceOf(node));
    auto& differences = n["differences"] = Json::array();
    for (const auto& d : node.differences) {
        Json difference{
            {"name", d.name}, {"value1", Optional(d.value1)}, {"value2", Optional(d.value2)}};
        if (!d.where.empty()) {
            difference["where"] = d.where;
        }
        if (d.truncated) {
            difference["truncated"] = true;
        }
        differences.push_back(std::move(difference));
    }
    if (node.rows) {
        n["rows"] = RowCountsJson(*node.rows);
    }
    if (listing) {
        std::vector<MemoryPropertyList::Row> rows;
        std::string error;
        const bool listed = listing->List(node.key, rows, error);
        auto& properties = n["properties"] = Json::array();
        for (const auto& row : rows) {
            properties.push_back({{"name", row.name},
                                  {"value1", row.text1},
                                  {"value2", row.text2},
                                  {"state", RowState(row.icon)}});
        }
        if (!listed) {
            n["propertiesError"] = error;
        }
    }
    return n;
}

Json SummaryJson(const RunSummary& summary, const std::string& text) {
    Json differing = Json::object();
    for (std::size_t i = 0; i < kLevelCount; ++i) {
        if (summary.differing[i] > 0) {
            differing[std::string(kLevels[i].tag)] = summary.differing[i];
        }
    }
    return Json{{"differing", std::move(differing)},
                {"onlyIn1", summary.onlyIn1},
                {"onlyIn2", summary.onlyIn2},
                {"notCompared", summary.notCompared},
                {"rows", summary.rows ? RowCountsJson(*summary.rows) : Json(nullptr)},
                {"filteredOut", summary.filteredOut},
                {"text", text}};
}

void Member(std::ostream& out, std::string_view name, const Json& value) {
    out << "  " << Json(name).dump() << ": " << Dump(value, 2) << ",\n";
}

}  // namespace

void WriteTreeJson(std::ostream& out, const RunReport& report, NodeListing* listing) {
    out << "{\n";
    Member(out, "format", kFormat);
    Member(out, "database1", report.database1);
    Member(out, "database2", report.database2);
    Member(out, "same", report.same);
    Member(out, "completed", report.completed);
    // After a stopped run, the keys of the nodes it did not finish.
    Json incomplete = Json::array();
    report.tree->VisitInOrderAdded(
        [&](const MemoryResultTree::Node& node) { incomplete.push_back(node.key); },
        [](Picture image) { return StateOf(image) == NodeState::NotCompared; });
    Member(out, "incomplete", incomplete);
    Member(out, "summary", SummaryJson(report.summary, SummaryText(report.summary)));
    if (report.tree->Size() == 0) {
        out << "  \"nodes\": [],\n";
    } else {
        out << "  \"nodes\": [\n";
        bool first = true;
        report.tree->VisitInOrderAdded([&](const MemoryResultTree::Node& node) {
            out << (first ? "    " : ",\n    ") << Dump(NodeJson(node, listing), 4);
            first = false;
        });
        out << "\n  ],\n";
    }
    Json messages = Json::array();
    for (const auto& m : *report.messages) {
        messages.push_back({{"text", m.text}, {"caption", m.caption}});
    }
    out << "  \"messages\": " << Dump(messages, 2) << "\n}\n";
}

}  // namespace kesmark::cli
