#pragma once

// The walks over the object model: four top-level walks (tables, queries,
// relations, containers) and their nested walks (fields and indexes of a
// table, fields of an index, fields and parameters of a query, fields of a
// relation, documents of a container). They share one pattern; each is
// described by a WalkPlan, and the few rules particular to one walk are
// named in it.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kesmark {

enum class WalkKind {
    Tables,
    TableFields,
    Indexes,
    IndexFields,
    Queries,
    QueryFields,
    Parameters,
    Relations,
    RelationFields,
    Containers,
    Documents,
};

// The path of an object from the database: (collection, name) pairs, such as
// {("TableDefs", "Orders"), ("Indexes", "PK")}.
using ObjectPath = std::vector<std::pair<std::string, std::string>>;

// The result-tree key of an object path: "TableDefs[Orders].Indexes[PK]".
std::string PathKey(const ObjectPath& path);

struct WalkPlan {
    WalkKind kind;
    std::string_view tag;         // skip-list tag and section of the Compare flag
    std::string_view collection;  // the collection walked, in the owner object
    int sameImage;
    int differsImage;
    bool propertiesFirst;            // compare the object's properties before its sub-walks
    std::vector<WalkKind> subWalks;  // in order; each runs when its Compare flag is set
};

const WalkPlan& GetWalkPlan(WalkKind kind);

// The status text a walk shows for its owner ("Comparing fields of table T").
std::string WalkStatusText(WalkKind kind, const ObjectPath& owner);

}  // namespace kesmark
