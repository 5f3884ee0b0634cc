#pragma once

#include <string>

#include "cli/report.h"

namespace kesmark::cli {

// The most differing objects a Markdown report lists; the rest are counted.
inline constexpr std::size_t kMarkdownObjects = 200;

// A short report in GitHub-flavoured Markdown, for a pull-request comment or
// a CI log: a heading with the outcome, the two databases, the summary, then
// one table row per object that differs for a reason of its own (node key,
// kind, why), at most kMarkdownObjects of them, and the run's messages. Names
// are escaped so that none can break the table or start markup.
std::string FormatMarkdown(const RunReport& report);

// `text` as Markdown that shows it literally inside a table cell.
std::string MarkdownText(std::string_view text);

// `text` as a Markdown code span that survives a table cell ("`a|b`" is
// written "`a\|b`", backticks inside get a longer fence).
std::string MarkdownCode(std::string_view text);

}  // namespace kesmark::cli
