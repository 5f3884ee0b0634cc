#pragma once

#include <ostream>

#include "cli/report.h"

namespace kesmark::cli {

// The result as one JSON document, format 2 (docs/json.md describes every
// field), written node by node as it goes. With `listing`, every node also
// carries its full property listing ("properties").
void WriteTreeJson(std::ostream& out, const RunReport& report, NodeListing* listing);

}  // namespace kesmark::cli
