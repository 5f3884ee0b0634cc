#pragma once

// How the members of two collections pair up into the nodes of a
// comparison: by name, and where an engine names its objects itself, by what
// the objects are. The comparison run's matching and the result view's
// lookup both use it, so that a node's listing shows the very objects the run
// compared under that node.

#include <string>
#include <vector>

#include "engine/model/hierarchy.h"
#include "engine/model/object_model.h"

namespace kesmark {

// One node's members: the member of database 1 and its partner in database 2.
struct MemberPair {
    std::string name1;  // the member in database 1; empty when it is only in database 2
    std::string name2;  // the member in database 2; empty when it is only in database 1
    // Paired by what the members are rather than by name: their names may
    // differ in more than letter case.
    bool byDefinition = false;

    bool InBoth() const { return !name1.empty() && !name2.empty(); }
    // The name the member's node is keyed by: database 1's name, or database
    // 2's for a member only there.
    const std::string& KeyName() const { return name1.empty() ? name2 : name1; }
};

struct PairingRules {
    // Names that differ only in ASCII letter case name one member.
    bool ignoreNameCase = false;
};

// Pairs the members of the collection of `level` owned by `owner1` (in
// `db1`) with those owned by `owner2` (in `db2`):
//   1. members of the same name pair; with `ignoreNameCase`, then members
//      whose names differ only in ASCII letter case;
//   2. of the members left on both sides, at the Indexes level the two
//      primary keys pair, and an index whose name the engine generated
//      (vocabulary::IsGeneratedIndexName) pairs with an index of the same
//      fields, in order, and the same uniqueness; at the Relations level two
//      relations pair that link the same table and fields to the same
//      foreign table and fields; at the Documents level of the
//      Relationships container, the documents of two relations paired so.
// Names that users give their indexes keep pairing by name only. Returns
// every member once, sorted by KeyName in ordinal order (CompareOrdinal).
// Throws DbError when either collection cannot be read; a member whose
// definition cannot be read pairs by name only.
std::vector<MemberPair> PairMembers(Level level, Database& db1, DbObject& owner1, Database& db2,
                                    DbObject& owner2, const PairingRules& rules);

}  // namespace kesmark
