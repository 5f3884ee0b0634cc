#pragma once

// Sync scripts: the SQL that, run against database 2, makes it equal to
// database 1 as far as a comparison sees, in the dialect of database 2's
// engine. Kesmark never writes to a compared database; it writes the script
// and the user runs it.
//
// The script is written as it is made: rows are read from both databases
// side by side, in key order, and each statement goes out as soon as it is
// known, so memory does not grow with the size of a table. What a target's
// SQL cannot say is written as a comment line
// "-- not expressible: <node key>: <why>" and counted.

#include <cstdint>
#include <ostream>

#include "engine/compare/filter.h"
#include "engine/compare/host.h"
#include "engine/model/object_model.h"
#include "engine/sync/run_findings.h"

namespace kesmark::sync {

// What the comparison looks at, so what the script may change: the Compare
// flags of the settings and the filter of the run. An object left out stays
// in database 2 as it is.
struct SyncScope {
    bool tables = true;     // TableDefs
    bool fields = true;     // TableFields: columns, and with the tables the rows
    bool indexes = true;    // Indexes
    bool views = true;      // QueryDefs
    bool relations = true;  // Relations: foreign keys
    bool triggers = true;   // Containers and Documents: triggers
    NodeFilter filter;      // tables, indexes, views, relations and triggers by node key
};

struct SyncRequest {
    // Also the rows (a comparison with "Data"): rows deleted, inserted and
    // updated by key. Without it, only the schema.
    bool rows = false;
    // Values compare by meaning (ValuesEqualByMeaning), as between databases
    // of two kinds; set when the two databases' kinds differ.
    bool byMeaning = false;
    SyncScope scope;
    // What the comparison of these two databases found, with "Data" (not
    // owned; null: none at hand): tables it found the same are left alone,
    // and of a table whose differing rows it listed whole only those rows
    // are read.
    const RunFindings* findings = nullptr;
};

struct SyncSummary {
    bool completed = false;       // false: the host asked to cancel
    std::int64_t statements = 0;  // statements written
    std::int64_t notExpressible = 0;
};

// Writes the script that makes `db2` like `db1` to `out`, in the dialect of
// db2's kind (SQLite: the whole schema and the rows; PostgreSQL through ODBC:
// rows, tables, columns, indexes and foreign keys; other targets: rows).
// Throws DbError 3251 for a target that cannot be written (an Access file),
// and the databases' errors when one cannot be read; what was written to
// `out` before is then an unfinished script.
SyncSummary WriteSyncScript(Database& db1, Database& db2, const SyncRequest& request,
                            std::ostream& out, Host& host);

}  // namespace kesmark::sync
