#pragma once

// Which objects a comparison takes in: glob patterns on node keys. A pattern
// is written as a node key ("TableDefs[tmp_*]", "QueryDefs[~sq_*]",
// "TableDefs[Orders].Fields[Note*]"), brackets inside a name doubled as in
// keys, and each collection and each name of it may hold the wildcards
//   *  any run of characters, none included
//   ?  exactly one character
//   \  takes the next character literally ("\*" is a star)
// A wildcard stays within its name or collection: "TableDefs[*]" names every
// table but none of their fields by itself. Matching is exact and
// case-sensitive, like keys.
//
// With include patterns, an object is taken in when its key matches one of
// them, lies below a match (the fields of an included table), or lies on the
// way to one (the table of an included field). An object whose key matches
// an exclude pattern, or lies below such a match, is left out; exclusion wins
// over inclusion. The root "Databases" is always taken in.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/compare/options.h"
#include "engine/model/node_key.h"

namespace kesmark {

// True when `text` matches the glob `pattern` (see above) as a whole.
bool GlobMatch(std::string_view pattern, std::string_view text);

class NodeFilter {
  public:
    // A filter that takes in everything.
    NodeFilter() = default;

    // The filter of `patterns`; nullopt, with `error` saying which pattern
    // and why, when a pattern is not a node key pattern (the root
    // "Databases" cannot be filtered either).
    static std::optional<NodeFilter> Make(const FilterPatterns& patterns, std::string& error);

    // True when the object `key` names is to be compared and shown.
    bool Admits(const NodeKey& key) const;
    bool IsEmpty() const { return include_.empty() && exclude_.empty(); }

  private:
    std::vector<NodeKey> include_;
    std::vector<NodeKey> exclude_;
};

// Checks one pattern: an empty text when it is a node key pattern, else why
// not ("pattern 'x' is not a node key such as TableDefs[tmp_*]").
std::string CheckFilterPattern(std::string_view pattern);

}  // namespace kesmark
