#pragma once

// The sums of a run's result tree that every report shows: how many objects
// of each kind differ, how many exist in one database only, the row counts of
// the tables compared by key, and what the filters left out.

#include <array>
#include <cstdint>
#include <optional>

#include "engine/compare/result_tree.h"
#include "engine/model/hierarchy.h"

namespace kesmark {

struct RunSummary {
    // Differing objects by level (Databases: the databases' own properties
    // differ). Rows of tables compared by key are counted in `rows` only.
    std::array<std::int64_t, kLevelCount> differing{};
    std::int64_t onlyIn1 = 0;      // objects of database 1 only
    std::int64_t onlyIn2 = 0;      // objects of database 2 only
    std::int64_t notCompared = 0;  // objects a stopped run did not finish
    // The sums of the row counts of every table compared by key; nullopt when
    // no table was.
    std::optional<RowCounts> rows;
    std::int64_t filteredOut = 0;  // objects the filters left out
    // False when the run stopped before its end: the sums are of what it
    // found until then. Summarize leaves it true; the run's caller knows.
    bool complete = true;

    // True when no object differs and none was left uncompared.
    bool NothingDiffers() const;
};

RunSummary Summarize(const MemoryResultTree& tree);

// The level of a node of the tree (Databases for the root); nullopt for a key
// that names no level of the hierarchy.
std::optional<Level> LevelOfNode(const MemoryResultTree::Node& node);

// True for the pictures of rows matched by key.
bool IsRowPicture(Picture picture);

}  // namespace kesmark
