#pragma once

// A sync script for the two databases of a comparison's inputs, as the
// command line and the window write it.

#include <ostream>
#include <string>

#include "engine/compare/comparison_run.h"
#include "engine/sync/sync_script.h"

namespace kesmark::sync {

// Opens both databases of `inputs` with `opener` (as a run opens them) and
// writes the script that makes database 2 like database 1 to `out`: with the
// rows when the inputs' "Data" switch is on, values compared by meaning when
// the two databases are of different kinds, within what the comparison looks
// at (the Compare flags of `options`, its filters and the inputs' own).
// `findings`, when given, are those of the run of these inputs that just
// ended (see SyncRequest::findings).
// Throws DbError when a database cannot be opened or read, a filter pattern
// is malformed, or the target cannot be written.
SyncSummary WriteSyncScriptFor(const RunInputs& inputs, const ComparisonOptions& options,
                               const DatabaseOpener& opener, std::ostream& out, Host& host,
                               const RunFindings* findings = nullptr);

// As WriteSyncScriptFor, into the file `path`. The script is written beside
// it under a temporary name and takes its name only when complete, so a
// failure or a cancel leaves no half-written script (and an existing file as
// it was). Throws DbError naming the file when it cannot be written.
SyncSummary WriteSyncScriptFile(const RunInputs& inputs, const ComparisonOptions& options,
                                const DatabaseOpener& opener, const std::string& path, Host& host,
                                const RunFindings* findings = nullptr);

}  // namespace kesmark::sync
