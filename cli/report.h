#pragma once

// What every report of a run (text, JSON, Markdown, HTML) is made from, and
// the wording they share: the kind of a node, why it differs, the summary.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "engine/compare/options.h"
#include "engine/compare/result_tree.h"
#include "engine/compare/summary.h"
#include "view/property_list.h"

namespace kesmark::cli {

// What the printers need to know of a finished (or stopped) run.
struct RunReport {
    std::string database1;  // as shown: the name, or the connect string with passwords masked
    std::string database2;
    bool completed = false;
    bool cancelled = false;  // stopped by the user rather than by an error
    bool same = false;
    const MemoryResultTree* tree = nullptr;
    const std::vector<Message>* messages = nullptr;
    RunSummary summary;
    std::string startedAt;  // local time the run started, "2024-05-01 14:03:12 +0200"
    ComparisonSwitches switches;
    FilterPatterns filters;  // every filter in force, the settings' and the command line's
};

// Lists the properties of one node for a report, side by side as --show does.
class NodeListing {
  public:
    virtual ~NodeListing() = default;
    // Replaces `rows` with the rows of the object `key` names. Returns
    // false, with `error` saying why, when the listing failed; rows listed
    // before the failure stay.
    virtual bool List(const std::string& key, std::vector<MemoryPropertyList::Row>& rows,
                      std::string& error) = 0;
};

// The side of an object as the reports write it: "1", "2" or "both".
std::string_view SideName(Presence side);

// The kind of object a node stands for ("table", "field", ...); empty for the
// root and for a record. Fields of tables, indexes, queries and relations all
// read "field".
std::string KindOf(const MemoryResultTree::Node& node);

// One differing property in words: "Type 20 → 7", "SQL (text differs at
// line 3)", "Format (only in database 1)". Not made safe for a terminal.
std::string DifferenceText(const PropertyDifference& difference);

// The most differing properties a reason names; the rest are counted.
inline constexpr std::size_t kReasonProperties = 8;

// Why a node differs, in words, or "" when it differs only through its
// children (or not at all, or was not compared): "only in database 2", "first
// record that differs", the differing properties joined by ", " (at most
// kReasonProperties, then "and 3 more properties"), the rows of a table
// compared by key ("rows: 2 only in database 1, 1 changed"). Parts are
// joined by "; ". Not made safe for a terminal.
std::string ReasonText(const MemoryResultTree::Node& node);

// The summary in words: "2 tables, 1 field differ (1 only in database 1);
// rows: 3 only in database 1, 2 changed, 120 same; 4 objects left out by
// filters", or "no differences" and the rest.
std::string SummaryText(const RunSummary& summary);

// The plural of a kind: "tables", "indexes", "queries", "index fields".
std::string PluralOf(std::string_view kind);

// "1 table", "2 tables", "3 indexes", "2 queries".
std::string CountOf(std::int64_t count, std::string_view kind);

// Calls `visit` for the nodes a report shows, in tree order: every node with
// `all`, otherwise each node that differs or was not compared, with its
// ancestors. The root is always shown.
void VisitShownNodes(const MemoryResultTree& tree, bool all,
                     const std::function<void(const MemoryResultTree::Node&)>& visit);

// The local time now, as "2024-05-01 14:03:12 +0200".
std::string LocalTimeNow();

}  // namespace kesmark::cli
