#pragma once

// What a comparison run found, as a sync script can use it: which tables it
// found the same, rows included, and which rows of a table matched by key it
// found only in database 1, only in database 2 or changed. A script then
// leaves the same tables alone and reads only the rows that differ, by their
// keys, instead of reading both tables whole again.

#include <string>
#include <unordered_map>
#include <vector>

#include "engine/compare/result_tree.h"
#include "engine/compare/table_data.h"

namespace kesmark::sync {

struct RowFinding {
    RowState state;
    std::string key;  // the row's key text, as the row's node names it (JoinRowKey)
};

class RunFindings {
  public:
    // The findings of `tree`, the tree of a run with "Data" that ran to its
    // end. Reads the tree once; keeps the table nodes' states and the row
    // nodes (at most MaxRows a table).
    explicit RunFindings(const MemoryResultTree& tree);

    // True when the run found the table the same in both databases.
    bool TableSame(const std::string& table) const;
    // Every row the run found different in the table, in its key order, when
    // it matched the rows by key and has a node for each (none left out past
    // MaxRows); nullptr otherwise.
    const std::vector<RowFinding>* Rows(const std::string& table) const;

  private:
    std::unordered_map<std::string, bool> sameTables_;
    std::unordered_map<std::string, std::vector<RowFinding>> rows_;
};

}  // namespace kesmark::sync
