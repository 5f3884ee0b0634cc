#include "cli/report_markdown.h"

#include <algorithm>

#include "cli/terminal.h"

namespace kesmark::cli {

namespace {

std::string_view Outcome(const RunReport& report) {
    if (!report.completed) {
        return "comparison stopped before its end";
    }
    return report.same ? "no differences" : "differences found";
}

}  // namespace

std::string MarkdownText(std::string_view text) {
    std::string out;
    for (const char c : SafeText(text)) {
        if (c == '&') {
            out += "&amp;";
        } else if (std::string_view("\\`*_[]<>|~#!").find(c) != std::string_view::npos) {
            out += '\\';
            out += c;
        } else {
            out += c;
        }
    }
    return out;
}

std::string MarkdownCode(std::string_view text) {
    std::string body;
    std::size_t longestRun = 0;
    std::size_t run = 0;
    for (const char c : SafeText(text)) {
        run = c == '`' ? run + 1 : 0;
        longestRun = std::max(longestRun, run);
        if (c == '|') {
            body += "\\|";
        } else {
            body += c;
        }
    }
    const std::string fence(longestRun + 1, '`');
    const bool pad = !body.empty() && (body.front() == '`' || body.back() == '`' ||
                                       (body.front() == ' ' && body.back() == ' '));
    return fence + (pad ? " " : "") + body + (pad ? " " : "") + fence;
}

std::string FormatMarkdown(const RunReport& report) {
    std::string out = "## Kesmark: " + std::string(Outcome(report)) + "\n\n";
    out += "- Database 1: " + MarkdownCode(report.database1) + "\n";
    out += "- Database 2: " + MarkdownCode(report.database2) + "\n\n";
    out += "**Summary:** " + MarkdownText(SummaryText(report.summary)) + "\n";

    std::size_t listed = 0;
    std::size_t left = 0;
    report.tree->VisitInTreeOrder([&](const MemoryResultTree::Node& visited) {
        const auto* node = &visited;
        if (StateOf(node->image) == NodeState::Same) {
            return;
        }
        const std::string reason = ReasonText(*node);
        if (reason.empty()) {
            return;
        }
        if (listed == kMarkdownObjects) {
            ++left;
            return;
        }
        if (listed == 0) {
            out += "\n| Object | Kind | Difference |\n| --- | --- | --- |\n";
        }
        ++listed;
        std::string kind = KindOf(*node);
        if (kind.empty()) {
            // Records, rows and the root, whose lines carry no kind.
            const auto level = LevelOfNode(*node);
            kind = level && *level != Level::Databases ? std::string(Describe(*level).kind)
                                                       : "databases";
        }
        out += "| " + MarkdownCode(node->key) + " | " + MarkdownText(kind) + " | " +
               MarkdownText(reason) + " |\n";
    });
    if (left > 0) {
        out += "\n_… and " + CountOf(static_cast<std::int64_t>(left), "more object") +
               " that differ._\n";
    }
    if (!report.messages->empty()) {
        out += "\n**Messages:**\n\n";
        for (const auto& m : *report.messages) {
            std::string text = SafeLines(m.text);
            std::replace(text.begin(), text.end(), '\n', ' ');
            out += "- " + MarkdownText(m.caption + ": " + text) + "\n";
        }
    }
    return out;
}

}  // namespace kesmark::cli
