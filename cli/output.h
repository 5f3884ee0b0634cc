#pragma once

#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "view/property_list.h"

namespace kesmark::cli {

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
// escapes ("\n", "\t", "\x01", see SafeText) so that every row stays on its
// line.
std::string FormatPropertiesText(const ShowReport& report);

// The listing as one JSON document:
// {"key", "rows": [{"name", "text1", "text2", "icon", "colour"}],
//  "messages": [{"text", "caption"}]}.
std::string FormatPropertiesJson(const ShowReport& report);

}  // namespace kesmark::cli
