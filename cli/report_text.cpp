#include "cli/report_text.h"

#include <algorithm>

#include "cli/terminal.h"

namespace kesmark::cli {

namespace {

constexpr std::string_view kRed = "\033[31m";
constexpr std::string_view kGreen = "\033[32m";
constexpr std::string_view kYellow = "\033[33m";
constexpr std::string_view kBold = "\033[1m";
constexpr std::string_view kReset = "\033[0m";

// The mark of a node, `width` characters wide.
std::string Mark(NodeState state, std::size_t width, bool colour) {
    std::string text;
    std::string_view colourCode;
    switch (state) {
        case NodeState::Same:
            text = "same";
            colourCode = kGreen;
            break;
        case NodeState::Differs:
            text = "differs";
            colourCode = kRed;
            break;
        case NodeState::NotCompared:
            text = "not compared";
            colourCode = kYellow;
            break;
    }
    text.resize(width, ' ');
    if (!colour) {
        return text;
    }
    return std::string(colourCode) + text + std::string(kReset);
}

}  // namespace

std::string FormatTreeText(const RunReport& report, const TextOptions& options) {
    std::string out;
    // The marks share one width: that of "not compared" when a stopped run
    // left such nodes, else that of "differs".
    const bool anyNotCompared = report.tree->AnyPicture(
        [](Picture image) { return StateOf(image) == NodeState::NotCompared; });
    const std::size_t markWidth = anyNotCompared ? 12 : 7;
    VisitShownNodes(*report.tree, options.all, [&](const MemoryResultTree::Node& shown) {
        const auto* node = &shown;
        const NodeState state = StateOf(node->image);
        out += Mark(state, markWidth, options.colour);
        out.append(2 + 2 * static_cast<std::size_t>(node->depth), ' ');
        const std::string kind = KindOf(*node);
        if (!kind.empty()) {
            out += kind + ' ';
        }
        out += SafeText(node->text);
        if (state == NodeState::Differs) {
            const std::string reason = ReasonText(*node);
            if (!reason.empty()) {
                out += ": " + SafeText(reason);
            }
        }
        out += '\n';
    });
    if (!report.completed) {
        out += report.cancelled ? "incomplete: the comparison was cancelled"
                                : "incomplete: the comparison stopped at an error";
        out += anyNotCompared ? "; \"not compared\" marks what it did not finish\n" : "\n";
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
