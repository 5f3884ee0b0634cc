#include "cli/report_html.h"

#include <cctype>
#include <unordered_map>

#include "cli/terminal.h"
#include "engine/compare/differences.h"
#include "view/text_diff.h"

namespace kesmark::cli {

namespace {

using Node = MemoryResultTree::Node;
using Row = MemoryPropertyList::Row;

// The most of a value a property cell shows; longer values are cut there.
constexpr std::size_t kCellBytes = 2000;
// Runs of equal lines longer than this are folded in a line diff, keeping
// kContextLines on either side of a change.
constexpr std::size_t kContextLines = 3;

constexpr std::string_view kStyle = R"css(
:root { --red: #b3261e; --green: #1e7d32; --amber: #a05a00; --line: #d0d4d9; --muted: #5f6368;
        --del: #ffd7d5; --ins: #ccf2d1; --del-strong: #ff9c96; --ins-strong: #84dd92; }
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; margin: 1.5rem;
       color: #1f1f1f; background: #fff; line-height: 1.4; }
h1 { font-size: 1.4rem; margin: 0 0 .75rem; }
h2 { font-size: 1.1rem; margin: 1.25rem 0 .5rem; }
code, .value, .diff td.t, .name { font-family: ui-monospace, "DejaVu Sans Mono", Menlo, Consolas, monospace; }
table { border-collapse: collapse; }
th, td { text-align: left; vertical-align: top; padding: .2rem .6rem; border: 1px solid var(--line); }
th { background: #f3f5f7; font-weight: 600; }
.meta th { width: 9rem; }
.outcome-differs { color: var(--red); font-weight: 600; }
.outcome-same { color: var(--green); font-weight: 600; }
.outcome-stopped { color: var(--amber); font-weight: 600; }
.messages li { white-space: pre-wrap; }
.tree-area > label, .tree-area > button { margin-right: .75rem; }
#tree { margin-top: .5rem; }
#tree ul { list-style: none; margin: 0; padding-left: 1.25rem; border-left: 1px dotted var(--line); }
#tree > ul { padding-left: 0; border-left: none; }
#tree li { margin: .1rem 0; }
summary { cursor: pointer; padding: .1rem .25rem; border-radius: 3px; }
summary:hover { background: #f3f5f7; }
.mark { display: inline-block; width: 1.1rem; text-align: center; font-weight: 700; }
li.differs > details > summary .mark { color: var(--red); }
li.same > details > summary .mark { color: var(--green); }
li.not-compared > details > summary .mark { color: var(--amber); }
.kind { color: var(--muted); }
li.differs > details > summary .name { font-weight: 600; }
.reason { color: var(--red); }
li.not-compared > details > summary .reason { color: var(--amber); }
.body { margin: .25rem 0 .5rem 1.35rem; }
.props td { max-width: 40rem; }
.props td + td, .value { white-space: pre-wrap; word-break: break-word; }
.props td + td { font-family: ui-monospace, "DejaVu Sans Mono", Menlo, Consolas, monospace; }
.props tr.differs td { background: #fff4f3; }
.props tr.differs td:first-child { color: var(--red); font-weight: 600; }
.props tr.skipped td { color: var(--muted); font-style: italic; }
.cut { color: var(--muted); font-style: italic; }
.textdiff { margin: .5rem 0; }
.textdiff-title { font-weight: 600; margin-bottom: .2rem; }
.diff td { border: none; padding: 0 .4rem; white-space: pre-wrap; word-break: break-word; }
.diff td.ln { color: var(--muted); text-align: right; user-select: none; min-width: 2.5rem; }
.diff tr.removed td.t1, .diff tr.changed td.t1 { background: var(--del); }
.diff tr.added td.t2, .diff tr.changed td.t2 { background: var(--ins); }
.diff del { background: var(--del-strong); text-decoration: none; }
.diff ins { background: var(--ins-strong); text-decoration: none; }
.diff tr.fold td { color: var(--muted); font-style: italic; text-align: center; background: #f7f7f7; }
.rows td:nth-child(2) { color: var(--red); }
.listing-error { color: var(--amber); }
#diff-only:checked ~ #tree li.quiet { display: none; }
#diff-only:checked ~ #tree .props tr.same, #diff-only:checked ~ #tree .props tr.skipped { display: none; }
footer { margin-top: 2rem; color: var(--muted); font-size: .85rem; }
)css";

constexpr std::string_view kScript = R"js(
(function () {
  var tree = document.getElementById('tree');
  function setAll(open) {
    var all = tree.querySelectorAll('details');
    for (var i = 0; i < all.length; i++) { all[i].open = open; }
  }
  var expand = document.getElementById('expand-all');
  var collapse = document.getElementById('collapse-all');
  expand.addEventListener('click', function () { setAll(true); });
  collapse.addEventListener('click', function () { setAll(false); });
  expand.hidden = false;
  collapse.hidden = false;
})();
)js";

std::string Safe(std::string_view text) {
    return HtmlEscape(SafeText(text));
}

// A value for a cell: line breaks kept, at most kCellBytes shown.
std::string CellValue(std::string_view text) {
    if (text.size() <= kCellBytes) {
        return HtmlEscape(SafeLines(text));
    }
    std::size_t end = kCellBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return HtmlEscape(SafeLines(text.substr(0, end))) + "<span class=\"cut\">… (" +
           std::to_string(text.size()) + " bytes in all)</span>";
}

std::string_view StateName(NodeState state) {
    switch (state) {
        case NodeState::Same:
            return "same";
        case NodeState::Differs:
            return "differs";
        case NodeState::NotCompared:
            break;
    }
    return "not-compared";
}

std::string_view MarkOf(NodeState state) {
    switch (state) {
        case NodeState::Same:
            return "✓";
        case NodeState::Differs:
            return "✗";
        case NodeState::NotCompared:
            break;
    }
    return "?";
}

std::string_view RowClass(Picture icon) {
    if (icon == property_rows::kSkippedIcon) {
        return "skipped";
    }
    return icon == property_rows::kEqualIcon ? "same" : "differs";
}

// A line of a diff with its changed ranges marked by `tag`.
std::string MarkedLine(const std::string& text, const std::vector<TextRange>& ranges,
                       std::string_view tag) {
    std::string out;
    std::size_t at = 0;
    for (const auto& range : ranges) {
        out += Safe(text.substr(at, range.begin - at));
        out += "<" + std::string(tag) + ">" + Safe(text.substr(range.begin, range.length)) + "</" +
               std::string(tag) + ">";
        at = range.begin + range.length;
    }
    out += Safe(text.substr(std::min(at, text.size())));
    return out;
}

std::string LineNumber(const std::optional<std::size_t>& index) {
    return index ? std::to_string(*index + 1) : std::string();
}

void WriteTextDiff(std::ostream& out, const Row& row) {
    const TextDiff diff = DiffTexts(row.text1, row.text2);
    out << "<div class=\"textdiff\" data-property=\"" << Safe(row.name) << "\">"
        << "<div class=\"textdiff-title\">" << Safe(row.name) << "</div>"
        << "<table class=\"diff\"><tbody>\n";
    const auto& rows = diff.rows;
    // Which equal lines are near enough to a change to be shown.
    std::vector<bool> shown(rows.size(), false);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (rows[k].change == LineChange::Same) {
            continue;
        }
        const std::size_t from = k >= kContextLines ? k - kContextLines : 0;
        const std::size_t to = std::min(rows.size(), k + kContextLines + 1);
        for (std::size_t m = from; m < to; ++m) {
            shown[m] = true;
        }
    }
    std::size_t folded = 0;
    auto flushFold = [&] {
        if (folded > 0) {
            out << "<tr class=\"fold\"><td colspan=\"4\">"
                << CountOf(static_cast<std::int64_t>(folded), "equal line") << "</td></tr>\n";
            folded = 0;
        }
    };
    for (std::size_t k = 0; k < rows.size(); ++k) {
        const DiffRow& row = rows[k];
        if (!shown[k]) {
            ++folded;
            continue;
        }
        flushFold();
        const std::string empty;
        const std::string& line1 = row.line1 ? diff.lines1[*row.line1] : empty;
        const std::string& line2 = row.line2 ? diff.lines2[*row.line2] : empty;
        std::string_view kind;
        std::string text1 = Safe(line1);
        std::string text2 = Safe(line2);
        switch (row.change) {
            case LineChange::Same:
                kind = "same";
                break;
            case LineChange::Only1:
                kind = "removed";
                break;
            case LineChange::Only2:
                kind = "added";
                break;
            case LineChange::Changed:
                kind = "changed";
                text1 = MarkedLine(line1, row.ranges1, "del");
                text2 = MarkedLine(line2, row.ranges2, "ins");
                break;
        }
        out << "<tr class=\"" << kind << "\"><td class=\"ln\">" << LineNumber(row.line1)
            << "</td><td class=\"t t1\">" << text1 << "</td><td class=\"ln\">"
            << LineNumber(row.line2) << "</td><td class=\"t t2\">" << text2 << "</td></tr>\n";
    }
    flushFold();
    out << "</tbody></table>";
    if (diff.truncated) {
        out << "<p class=\"cut\">Only the start of each value is compared here.</p>";
    }
    out << "</div>\n";
}

void WriteProperties(std::ostream& out, const Node& node, NodeListing& listing) {
    std::vector<Row> rows;
    std::string error;
    const bool listed = listing.List(node.key, rows, error);
    if (!rows.empty()) {
        out << "<table class=\"props\"><thead><tr><th>Property</th><th>Database 1</th>"
               "<th>Database 2</th></tr></thead><tbody>\n";
        // Long differing values are shown once, as the line diff below.
        auto hasTextDiff = [](const Row& row) {
            return row.icon == property_rows::kDifferentIcon &&
                   (!IsShortText(row.text1) || !IsShortText(row.text2));
        };
        for (const auto& row : rows) {
            // End tags of cells and rows are left out, as HTML allows (a
            // large report lists tens of thousands of rows); no line break
            // either, which would belong to the last cell.
            out << "<tr class=\"" << RowClass(row.icon) << "\"><td>" << Safe(row.name);
            if (hasTextDiff(row)) {
                out << "<td colspan=\"2\" class=\"cut\">long values: the line diff below shows "
                       "both";
                continue;
            }
            out << "<td>" << CellValue(row.text1) << "<td>" << CellValue(row.text2);
        }
        out << "</tbody></table>\n";
        for (const auto& row : rows) {
            if (hasTextDiff(row)) {
                WriteTextDiff(out, row);
            }
        }
    }
    if (!listed) {
        out << "<p class=\"listing-error\">The properties could not be listed: "
            << HtmlEscape(SafeLines(error)) << "</p>\n";
    }
}

// The rows of a table compared by key: one line per differing row, with why
// it differs as the text output words it.
void WriteRows(std::ostream& out, const std::vector<const Node*>& rows) {
    out << "<table class=\"rows\"><thead><tr><th>Row</th><th>Difference</th></tr></thead><tbody>\n";
    for (const Node* row : rows) {
        std::string_view kind = "changed";
        if (row->image == Picture::RowOnlyIn1) {
            kind = "only1";
        } else if (row->image == Picture::RowOnlyIn2) {
            kind = "only2";
        }
        out << "<tr class=\"" << kind << "\" data-key=\"" << Safe(row->key) << "\"><td>"
            << Safe(row->text) << "</td><td class=\"value\">" << Safe(ReasonText(*row))
            << "</td></tr>\n";
    }
    out << "</tbody></table>\n";
}

class TreeWriter {
  public:
    TreeWriter(std::ostream& out, const MemoryResultTree& tree, NodeListing* listing)
        : out_(out), listing_(listing), nodes_(tree.Nodes()) {
        for (const auto& node : nodes_) {
            children_[node.parent].push_back(&node);
        }
        for (const auto& node : nodes_) {
            if (node.parent.empty()) {
                roots_.push_back(&node);
            }
        }
    }

    void Write() {
        out_ << "<ul>\n";
        for (const Node* root : roots_) {
            WriteNode(*root);
        }
        out_ << "</ul>\n";
    }

  private:
    const std::vector<const Node*>& ChildrenOf(const Node& node) const {
        static const std::vector<const Node*> none;
        const auto it = children_.find(node.key);
        return it == children_.end() ? none : it->second;
    }

    // True when the node and everything below it is the same.
    bool Quiet(const Node& node) {
        const auto known = quiet_.find(&node);
        if (known != quiet_.end()) {
            return known->second;
        }
        bool quiet = StateOf(node.image) == NodeState::Same;
        for (const Node* child : ChildrenOf(node)) {
            quiet = Quiet(*child) && quiet;
        }
        quiet_[&node] = quiet;
        return quiet;
    }

    void WriteNode(const Node& node) {
        const NodeState state = StateOf(node.image);
        // The root always shows, so that a page of two equal databases says so.
        const bool quiet = Quiet(node) && !node.parent.empty();
        out_ << "<li class=\"node " << StateName(state) << (quiet ? " quiet" : "")
             << "\" data-key=\"" << Safe(node.key) << "\" data-state=\"" << StateName(state)
             << "\" data-side=\"" << SideName(PresenceOf(node)) << "\">";
        out_ << "<details" << (quiet ? "" : " open") << "><summary><span class=\"mark\" title=\""
             << StateName(state) << "\">" << MarkOf(state) << "</span> ";
        const std::string kind = KindOf(node);
        if (!kind.empty()) {
            out_ << "<span class=\"kind\">" << Safe(kind) << "</span> ";
        }
        out_ << "<span class=\"name\">" << Safe(node.text) << "</span>";
        if (state != NodeState::Same) {
            const std::string reason = ReasonText(node);
            if (!reason.empty()) {
                out_ << "<span class=\"reason\">: " << Safe(reason) << "</span>";
            }
        }
        out_ << "</summary>\n<div class=\"body\">\n";
        if (listing_ && !IsRowPicture(node.image)) {
            WriteProperties(out_, node, *listing_);
        }
        std::vector<const Node*> rows;
        std::vector<const Node*> objects;
        for (const Node* child : ChildrenOf(node)) {
            (IsRowPicture(child->image) ? rows : objects).push_back(child);
        }
        if (!rows.empty()) {
            WriteRows(out_, rows);
        }
        if (!objects.empty()) {
            out_ << "<ul>\n";
            for (const Node* child : objects) {
                WriteNode(*child);
            }
            out_ << "</ul>\n";
        }
        out_ << "</div></details></li>\n";
    }

    std::ostream& out_;
    NodeListing* listing_;  // Not owned; may be null.
    const std::vector<Node> nodes_;
    std::unordered_map<std::string_view, std::vector<const Node*>> children_;
    std::vector<const Node*> roots_;
    std::unordered_map<const Node*, bool> quiet_;
};

std::string_view OutcomeClass(const RunReport& report) {
    if (!report.completed) {
        return "outcome-stopped";
    }
    return report.same ? "outcome-same" : "outcome-differs";
}

std::string_view OutcomeText(const RunReport& report) {
    if (!report.completed) {
        return "The comparison stopped before its end: what follows is incomplete.";
    }
    return report.same ? "No differences." : "The databases differ.";
}

std::string OptionsText(const RunReport& report) {
    std::string text;
    text += report.switches.strict ? "strict" : "not strict";
    text += report.switches.data ? ", stored data compared" : ", stored data not compared";
    for (const auto& pattern : report.filters.include) {
        text += "; include " + pattern;
    }
    for (const auto& pattern : report.filters.exclude) {
        text += "; exclude " + pattern;
    }
    return text;
}

// "2024-05-01 14:03:12 +0200" as a valid datetime attribute.
std::string MachineTime(std::string_view text) {
    std::string out(text);
    const auto blank = out.rfind(' ');
    if (blank != std::string::npos && blank + 1 < out.size() &&
        (out[blank + 1] == '+' || out[blank + 1] == '-')) {
        out.erase(blank, 1);
    }
    return out;
}

void WriteSummary(std::ostream& out, const RunReport& report) {
    const RunSummary& summary = report.summary;
    out << "<section id=\"summary\"><h2>Summary</h2>\n<p id=\"summary-text\">"
        << Safe(SummaryText(summary)) << "</p>\n";
    out << "<table class=\"counts\"><tbody>\n";
    for (std::size_t i = 0; i < kLevelCount; ++i) {
        if (summary.differing[i] == 0) {
            continue;
        }
        const LevelInfo& info = kLevels[i];
        std::string label = info.level == Level::Databases ? std::string("database properties")
                                                           : PluralOf(info.kind) + " that differ";
        label[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(label[0])));
        out << "<tr data-tag=\"" << info.tag << "\"><th>" << Safe(label) << "</th><td>"
            << summary.differing[i] << "</td></tr>\n";
    }
    out << "<tr><th>Only in database 1</th><td id=\"only-in-1\">" << summary.onlyIn1
        << "</td></tr>\n<tr><th>Only in database 2</th><td id=\"only-in-2\">" << summary.onlyIn2
        << "</td></tr>\n";
    if (summary.notCompared > 0) {
        out << "<tr><th>Not compared</th><td id=\"not-compared\">" << summary.notCompared
            << "</td></tr>\n";
    }
    out << "<tr><th>Left out by filters</th><td id=\"filtered-out\">" << summary.filteredOut
        << "</td></tr>\n</tbody></table>\n";
    if (summary.rows) {
        out << "<h3>Rows of the tables compared by key</h3>\n<table id=\"row-counts\"><thead><tr>"
               "<th>Only in database 1</th><th>Only in database 2</th><th>Changed</th>"
               "<th>Same</th></tr></thead><tbody><tr><td>"
            << summary.rows->onlyIn1 << "</td><td>" << summary.rows->onlyIn2 << "</td><td>"
            << summary.rows->changed << "</td><td>" << summary.rows->same
            << "</td></tr></tbody></table>\n";
    }
    out << "</section>\n";
}

}  // namespace

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void WriteHtmlReport(std::ostream& out, const RunReport& report, NodeListing* listing) {
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta name=\"generator\" content=\"kesmark-diff "
        << KESMARK_VERSION_MAJOR << '.' << KESMARK_VERSION_MINOR << '.' << KESMARK_VERSION_PATCH
        << "\">\n<title>Kesmark: " << Safe(report.database1) << " and " << Safe(report.database2)
        << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n";

    out << "<header>\n<h1>Kesmark comparison</h1>\n<table class=\"meta\"><tbody>\n"
        << "<tr><th>Database 1</th><td id=\"database1\"><code>" << Safe(report.database1)
        << "</code></td></tr>\n"
        << "<tr><th>Database 2</th><td id=\"database2\"><code>" << Safe(report.database2)
        << "</code></td></tr>\n"
        << "<tr><th>Run</th><td><time id=\"run-time\" datetime=\""
        << HtmlEscape(MachineTime(report.startedAt)) << "\">" << HtmlEscape(report.startedAt)
        << "</time></td></tr>\n"
        << "<tr><th>Options</th><td id=\"options\">" << Safe(OptionsText(report)) << "</td></tr>\n"
        << "<tr><th>Outcome</th><td id=\"outcome\" class=\"" << OutcomeClass(report) << "\">"
        << OutcomeText(report) << "</td></tr>\n</tbody></table>\n</header>\n";

    WriteSummary(out, report);

    if (!report.messages->empty()) {
        out << "<section id=\"messages\"><h2>Messages</h2><ul class=\"messages\">\n";
        for (const auto& m : *report.messages) {
            out << "<li><strong>" << Safe(m.caption) << ":</strong> "
                << HtmlEscape(SafeLines(m.text)) << "</li>\n";
        }
        out << "</ul></section>\n";
    }

    out << "<h2>Result tree</h2>\n<div class=\"tree-area\">\n"
           "<input type=\"checkbox\" id=\"diff-only\" checked> "
           "<label for=\"diff-only\">Differences only</label>\n"
           "<button type=\"button\" id=\"expand-all\" hidden>Expand all</button>\n"
           "<button type=\"button\" id=\"collapse-all\" hidden>Collapse all</button>\n"
           "<main id=\"tree\">\n";
    TreeWriter(out, *report.tree, listing).Write();
    out << "</main>\n</div>\n<footer>Made by kesmark-diff " << KESMARK_VERSION_MAJOR << '.'
        << KESMARK_VERSION_MINOR << '.' << KESMARK_VERSION_PATCH
        << ". This page holds everything it shows; it loads nothing.</footer>\n<script>" << kScript
        << "</script>\n</body>\n</html>\n";
}

}  // namespace kesmark::cli
