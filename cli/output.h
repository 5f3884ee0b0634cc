#pragma once

#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "engine/result_tree.h"

namespace kesmark::cli {

// What the tree printers need to know of a finished (or stopped) run.
struct RunReport {
    std::string database1;  // as shown: the name, or the connect string with passwords masked
    std::string database2;
    bool completed = false;
    bool same = false;
    const MemoryResultTree* tree = nullptr;
    const std::vector<Message>* messages = nullptr;
};

// The result tree as indented text, one node a line: a mark ("same" or
// "differs"), the kind of object and its name. `colour` adds ANSI colours.
std::string FormatTreeText(const RunReport& report, bool colour);

// The result as one JSON document (see the README for its fields).
std::string FormatTreeJson(const RunReport& report);

// True for an image number that means "differs" (even numbers).
inline bool IsDiffersImage(int image) {
    return image % 2 == 0;
}

}  // namespace kesmark::cli
