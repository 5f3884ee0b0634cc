#pragma once

#include <string>

#include "cli/report.h"

namespace kesmark::cli {

struct TextOptions {
    bool all = false;     // every node, not only the differing ones and their owners
    bool colour = false;  // ANSI colours on the marks
};

// The result tree as indented text, one node a line: a mark ("same",
// "differs", or "not compared" for what a stopped run did not finish), the
// kind of object, its name and, for a node that differs, why:
//
//   differs  Databases
//   differs    table Orders: Note (only in database 2)
//   differs      field Total: Type 4 → 7, Size 4 → 8
//   differs    query Totals: SQL (text differs at line 3)
//
// Names and values are made safe for a terminal (see SafeText). After a
// stopped run a line says so ("incomplete: ..."); the last line sums the run
// up ("Summary: ...").
std::string FormatTreeText(const RunReport& report, const TextOptions& options);

}  // namespace kesmark::cli
