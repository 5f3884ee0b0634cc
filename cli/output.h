#pragma once

#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "engine/compare/result_tree.h"
#include "view/property_list.h"

namespace kesmark::cli {

// What the tree printers need to know of a finished (or stopped) run.
struct RunReport {
    std::string database1;  // as shown: the name, or the connect string with passwords masked
    std::string database2;
    bool completed = false;
    bool cancelled = false;  // stopped by the user rather than by an error
    bool same = false;
    const MemoryResultTree* tree = nullptr;
    const std::vector<Message>* messages = nullptr;
};

// The result tree as indented text, one node a line: a mark ("same",
// "differs", or "not compared" for what a stopped run did not finish), the
// kind of object and its name; after a stopped run a last line says so.
// `colour` adds ANSI colours.
std::string FormatTreeText(const RunReport& report, bool colour);

// The result as one JSON document (see the README for its fields).
std::string FormatTreeJson(const RunReport& report);

// What the property printers need to know of one listing.
struct ShowReport {
    std::string key;         // the node key as given
    bool completed = false;  // false: the listing failed (see the messages)
    const std::vector<MemoryPropertyList::Row>* rows = nullptr;
    const std::vector<Message>* messages = nullptr;
};

// The listing as a table with the columns Property, Database 1 and Database 2,
// one row a line, each marked "same", "differs" or "skipped" from its picture.
// Line breaks, tabs and other control characters in a cell are written as
// escapes ("\n", "\t", "\x01") so that every row stays on its line.
std::string FormatPropertiesText(const ShowReport& report);

// The listing as one JSON document:
// {"key", "rows": [{"name", "text1", "text2", "icon", "colour"}],
//  "messages": [{"text", "caption"}]}.
std::string FormatPropertiesJson(const ShowReport& report);

}  // namespace kesmark::cli
