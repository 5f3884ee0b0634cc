#include "cli/output.h"

#include <nlohmann/json.hpp>

namespace kesmark::cli {

namespace {

// The kind of object a node stands for, from the collection part of its key.
std::string KindOf(const MemoryResultTree::Node& node) {
    std::string_view rest = node.key;
    if (!node.parent.empty() && rest.starts_with(node.parent)) {
        rest.remove_prefix(node.parent.size() + 1);  // the parent key and the "."
    }
    const std::string_view collection = rest.substr(0, rest.find('['));
    if (collection == "TableDefs") {
        return "table";
    }
    if (collection == "Fields") {
        return "field";
    }
    if (collection == "Indexes") {
        return "index";
    }
    if (collection == "QueryDefs") {
        return "query";
    }
    if (collection == "Parameters") {
        return "parameter";
    }
    if (collection == "Relations") {
        return "relation";
    }
    if (collection == "Containers") {
        return "container";
    }
    if (collection == "Documents") {
        return "document";
    }
    return "";
}

}  // namespace

std::string FormatTreeText(const RunReport& report, bool colour) {
    std::string out;
    for (const auto* node : report.tree->TreeOrder()) {
        const bool differs = IsDiffersImage(node->image);
        std::string mark = differs ? "differs" : "same   ";
        if (colour) {
            mark = (differs ? "\033[31m" : "\033[32m") + mark + "\033[0m";
        }
        out += mark;
        out += std::string(2 + 2 * static_cast<std::size_t>(node->depth), ' ');
        const std::string kind = KindOf(*node);
        if (!kind.empty()) {
            out += kind + ' ';
        }
        out += node->text;
        out += '\n';
    }
    if (!report.completed) {
        out += "(comparison stopped before its end)\n";
    }
    return out;
}

std::string FormatTreeJson(const RunReport& report) {
    nlohmann::ordered_json doc;
    doc["database1"] = report.database1;
    doc["database2"] = report.database2;
    doc["same"] = report.same;
    doc["completed"] = report.completed;
    auto& nodes = doc["nodes"] = nlohmann::ordered_json::array();
    for (const auto& node : report.tree->Nodes()) {
        nlohmann::ordered_json n;
        n["key"] = node.key;
        n["text"] = node.text;
        n["parent"] = node.parent.empty() ? nlohmann::ordered_json(nullptr)
                                          : nlohmann::ordered_json(node.parent);
        n["image"] = node.image;
        nodes.push_back(std::move(n));
    }
    auto& messages = doc["messages"] = nlohmann::ordered_json::array();
    for (const auto& m : *report.messages) {
        messages.push_back({{"text", m.text}, {"caption", m.caption}});
    }
    // Names are not always valid UTF-8 (a damaged file, a legacy code page):
    // replace what cannot be encoded instead of failing.
    return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace kesmark::cli
