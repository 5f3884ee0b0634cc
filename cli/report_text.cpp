#include "cli/report_text.h"

#include "cli/terminal.h"

namespace kesmark::cli {

namespace {

constexpr std::string_view kRed = "\033[31m";
constexpr std::string_view kGreen = "\033[32m";
constexpr std::string_view kYellow = "\033[33m";
constexpr std::string_view kBold = "\033[1m";
constexpr std::string_view kReset = "\033[0m";

std::string Mark(NodeState state, bool colour) {
    std::string_view text;
    std::string_view colourCode;
    switch (state) {
        case NodeState::Same:
            text = "same   ";
            colourCode = kGreen;
            break;
        case NodeState::Differs:
            text = "differs";
            colourCode = kRed;
            break;
        case NodeState::NotCompared:
            text = "?      ";
            colourCode = kYellow;
            break;
    }
    if (!colour) {
        return std::string(text);
    }
    return std::string(colourCode) + std::string(text) + std::string(kReset);
}

}  // namespace

std::string FormatTreeText(const RunReport& report, const TextOptions& options) {
    std::string out;
    for (const auto* node : ShownNodes(*report.tree, options.all)) {
        const NodeState state = StateOf(node->image);
        out += Mark(state, options.colour);
        out.append(2 + 2 * static_cast<std::size_t>(node->depth), ' ');
        const std::string kind = KindOf(*node);
        if (!kind.empty()) {
            out += kind + ' ';
        }
        out += SafeText(node->text);
        if (state != NodeState::Same) {
            const std::string reason = ReasonText(*node);
            if (!reason.empty()) {
                out += ": " + SafeText(reason);
            }
        }
        out += '\n';
    }
    if (!report.completed) {
        out += "(comparison stopped before its end)\n";
    }
    const std::string summary = "Summary: " + SummaryText(report.summary);
    if (options.colour) {
        out += std::string(kBold) + summary + std::string(kReset) + "\n";
    } else {
        out += summary + "\n";
    }
    return out;
}

}  // namespace kesmark::cli
