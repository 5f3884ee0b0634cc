#pragma once

// What a comparison reads from the program's options: the Compare flag of
// each collection tag, the skip list of properties never compared and the
// filters on node keys that leave objects out (see filter.h). The
// settings layer implements it over the settings file, reading the file at
// each call, so that options saved between two runs take effect at the next.

#include <string>
#include <string_view>
#include <vector>

namespace kesmark {

// The current skip list: property names never compared for the kind of object
// it was loaded for. Ordered as loaded; duplicates and empty names kept.
using SkipList = std::vector<std::string>;

// The two switches of a comparison that decide which lists join the skip list.
struct ComparisonSwitches {
    bool strict = false;  // "Strict" ticked: Strict-list properties are compared
    bool data = false;    // "Data" ticked: Data-list properties and stored values are compared
};

// Glob patterns on node keys: objects to take in (all when there is none)
// and objects to leave out. See filter.h for their form.
struct FilterPatterns {
    std::vector<std::string> include;
    std::vector<std::string> exclude;
    friend bool operator==(const FilterPatterns&, const FilterPatterns&) = default;
};

class ComparisonOptions {
  public:
    virtual ~ComparisonOptions() = default;

    // True when the walk over the collection `tag` runs.
    virtual bool CompareFlag(std::string_view tag) const = 0;
    // The skip list for `tag` under `switches`.
    virtual SkipList LoadSkipList(std::string_view tag, ComparisonSwitches switches) const = 0;
    // The filter patterns of the options (none by default).
    virtual FilterPatterns Filters() const { return {}; }
};

}  // namespace kesmark
