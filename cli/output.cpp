#include "cli/output.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include <nlohmann/json.hpp>

namespace kesmark::cli {

namespace {

// The kind of object a node stands for ("table", "field", ...); empty for the
// root, a record and a row (their texts say what they are).
std::string KindOf(const MemoryResultTree::Node& node) {
    NodeKey key;
    if (!NodeKey::Parse(node.key, key) || key.IsRoot()) {
        return "";
    }
    const auto level = LevelOfKey(key);
    if (!level || *level == Level::Records || *level == Level::Rows) {
        return "";
    }
    // Fields of tables, indexes, queries and relations all read "field".
    switch (*level) {
        case Level::IndexFields:
        case Level::QueryFields:
        case Level::RelationFields:
            return std::string(Describe(Level::TableFields).kind);
        default:
            return std::string(Describe(*level).kind);
    }
}

// Columns wider than this are not padded further; a longer cell pushes the
// rest of its line to the right.
constexpr std::size_t kMaxColumnWidth = 40;
constexpr std::size_t kMarkWidth = 9;  // "skipped" and two blanks

std::string RowMark(Picture icon) {
    if (icon == property_rows::kSkippedIcon) {
        return "skipped";
    }
    return icon == property_rows::kEqualIcon ? "same" : "differs";
}

// A cell's text with control characters escaped, so that it stays on one line.
std::string CellText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

// Characters on the terminal: UTF-8 sequences, not bytes.
std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++width;
        }
    }
    return width;
}

void AppendPadded(std::string& out, const std::string& cell, std::size_t width) {
    out += cell;
    const std::size_t shown = DisplayWidth(cell);
    out.append(shown < width ? width - shown + 2 : 2, ' ');
}

}  // namespace

std::string FormatPropertiesText(const ShowReport& report) {
    std::string out;
    if (!report.rows->empty()) {
        struct Line {
            std::string mark, name, text1, text2;
        };
        std::vector<Line> lines;
        std::size_t nameWidth = DisplayWidth("Property");
        std::size_t text1Width = DisplayWidth("Database 1");
        for (const auto& row : *report.rows) {
            Line line{RowMark(row.icon), CellText(row.name), CellText(row.text1),
                      CellText(row.text2)};
            nameWidth = std::max(nameWidth, std::min(DisplayWidth(line.name), kMaxColumnWidth));
            text1Width = std::max(text1Width, std::min(DisplayWidth(line.text1), kMaxColumnWidth));
            lines.push_back(std::move(line));
        }
        lines.insert(lines.begin(), Line{"", "Property", "Database 1", "Database 2"});
        for (const auto& line : lines) {
            AppendPadded(out, line.mark, kMarkWidth - 2);
            AppendPadded(out, line.name, nameWidth);
            AppendPadded(out, line.text1, text1Width);
            out += line.text2;
            out += '\n';
        }
    }
    if (!report.completed) {
        out += "(listing stopped before its end)\n";
    }
    return out;
}

std::string FormatPropertiesJson(const ShowReport& report) {
    nlohmann::ordered_json doc;
    doc["key"] = report.key;
    auto& rows = doc["rows"] = nlohmann::ordered_json::array();
    for (const auto& row : *report.rows) {
        rows.push_back({{"name", row.name},
                        {"text1", row.text1},
                        {"text2", row.text2},
                        {"icon", PictureNumber(row.icon)},
                        {"colour", row.colour}});
    }
    auto& messages = doc["messages"] = nlohmann::ordered_json::array();
    for (const auto& m : *report.messages) {
        messages.push_back({{"text", m.text}, {"caption", m.caption}});
    }
    return doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string FormatTreeText(const RunReport& report, bool colour) {
    std::string out;
    const auto nodes = report.tree->TreeOrder();
    // The marks share one width: that of "not compared" when a stopped run
    // left such nodes, else that of "differs".
    const bool anyNotCompared = std::any_of(nodes.begin(), nodes.end(), [](const auto* node) {
        return StateOf(node->image) == NodeState::NotCompared;
    });
    const std::size_t markWidth = anyNotCompared ? 12 : 7;
    for (const auto* node : nodes) {
        std::string mark;
        const char* markColour = "";
        switch (StateOf(node->image)) {
            case NodeState::Same:
                mark = "same";
                markColour = "\033[32m";
                break;
            case NodeState::Differs:
                mark = "differs";
                markColour = "\033[31m";
                break;
            case NodeState::NotCompared:
                mark = "not compared";
                markColour = "\033[33m";
                break;
        }
        mark.resize(markWidth, ' ');
        if (colour) {
            mark = markColour + mark + "\033[0m";
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
        out += report.cancelled ? "incomplete: the comparison was cancelled"
                                : "incomplete: the comparison stopped at an error";
        out += anyNotCompared ? "; \"not compared\" marks what it did not finish\n" : "\n";
    }
    return out;
}

std::string FormatTreeJson(const RunReport& report) {
    nlohmann::ordered_json doc;
    doc["database1"] = report.database1;
    doc["database2"] = report.database2;
    doc["same"] = report.same;
    doc["completed"] = report.completed;
    // After a stopped run, the keys of the nodes it did not finish.
    auto& incomplete = doc["incomplete"] = nlohmann::ordered_json::array();
    for (const auto& node : report.tree->Nodes()) {
        if (StateOf(node.image) == NodeState::NotCompared) {
            incomplete.push_back(node.key);
        }
    }
    auto& nodes = doc["nodes"] = nlohmann::ordered_json::array();
    for (const auto& node : report.tree->Nodes()) {
        nlohmann::ordered_json n;
        n["key"] = node.key;
        n["text"] = node.text;
        n["parent"] = node.parent.empty() ? nlohmann::ordered_json(nullptr)
                                          : nlohmann::ordered_json(node.parent);
        n["image"] = PictureNumber(node.image);
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
