#pragma once

#include <ostream>
#include <string>

#include "cli/report.h"

namespace kesmark::cli {

// The HTML report: one self-contained page (no external scripts, styles,
// fonts or images) that any browser opens. It holds the two databases
// (passwords masked) and the time of the run, the summary, and the result
// tree with collapsible nodes (<details>), each node marked same, differs or
// not compared and carrying
//   - data-key (its node key), data-state and data-side attributes,
//   - why it differs, as the text output words it,
//   - its properties side by side, read through `listing` (none when it is
//     null), with long differing values (SQL, memos) as a line diff whose
//     changed characters are marked <del> and <ins>,
//   - the rows of a table compared by key, as a table.
// The "Differences only" check box (on at first) hides every node whose
// whole branch is the same, and the equal and skipped property rows; it
// works by style sheet alone. "Expand all" and "Collapse all" need the
// page's small script.
void WriteHtmlReport(std::ostream& out, const RunReport& report, NodeListing* listing);

// `text` with &, <, >, " and ' written as character references.
std::string HtmlEscape(std::string_view text);

}  // namespace kesmark::cli
