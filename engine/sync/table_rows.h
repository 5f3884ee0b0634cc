#pragma once

// The rows of one table in a sync script: the statements that make
// database 2's rows those of database 1, found by reading both tables once,
// side by side, in the order of their key, and written as they are found.
// Memory holds one row of each side, whatever the table's size.

#include <string>
#include <vector>

#include "engine/compare/host.h"
#include "engine/model/object_model.h"
#include "engine/sync/run_findings.h"
#include "engine/sync/script_out.h"

namespace kesmark::sync {

struct TableRows {
    enum class Mode {
        Fill,     // the target table is empty (new or rebuilt): insert every row
        ByKey,    // match rows by the key both tables share
        Replace,  // no key: when any row differs by position, delete all and insert all
    };
    Mode mode = Mode::Fill;
    std::string table;   // database 1's name, also the name written in the script
    std::string table2;  // database 2's name of the table (empty: `table`)
    // The table as the script names it, quoted (empty: `table` quoted).
    std::string target;
    // Database 1's columns that the script writes (generated ones left out).
    std::vector<std::string> columns;
    // Which of `columns` database 2's table has as well, by the same name;
    // the others are set on every row the key matches (new or retyped
    // columns). Empty: all of them.
    std::vector<bool> inTarget;
    // For a column not in the target: whether the target's rows hold Null in
    // it once the schema is changed (a column added without a default, or
    // retyped without its values), so that only rows with a value need it
    // set. Empty: none is known to.
    std::vector<bool> nullInTarget;
    std::vector<std::string> keyFields;   // ByKey: database 1's key fields
    std::vector<std::string> keyFields2;  // ByKey: database 2's names of them
    bool byMeaning = false;               // values compare by meaning (databases of two kinds)
    // ByKey: the rows the comparison found different, every one of them
    // (RunFindings::Rows), with the DAO types of the key fields in each
    // database; only those rows are read, by their keys. Null: both tables
    // are read whole.
    const std::vector<RowFinding>* found = nullptr;
    std::vector<int> keyTypes1;
    std::vector<int> keyTypes2;
};

// Writes the statements for `rows` to `out`. With ByKey, a table whose keys
// come out of order (a Null in a key, an engine ordering otherwise) is
// written as Replace instead, and a comment says why. With rows found by the
// comparison, a row that cannot be read back by its key (a key whose text
// does not give its value back) makes the table read whole after all. Returns false when the
// host asked to cancel; throws DbError naming the database and the table
// when one cannot be read.
bool WriteTableRows(Database& db1, Database& db2, const TableRows& rows, ScriptOut& out,
                    Host& host);

}  // namespace kesmark::sync
