#include "cli/output.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include <nlohmann/json.hpp>

#include "cli/terminal.h"

namespace kesmark::cli {

namespace {

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

// A cell's text made safe for the terminal, so that it stays on one line.
std::string CellText(std::string_view text) {
    return SafeText(text);
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

}  // namespace kesmark::cli
