#pragma once

// The object hierarchy that a comparison walks, described once: every level
// (the databases, tables, their fields and indexes, ...) with its collection
// tag, its parent, the collection it is read from, its pictures, its status
// text, its lookup rule and the particular rules of its walk. The walks, the
// result view's key resolution, the options dialog, the command line and the
// tests all read this table.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/node_key.h"

namespace kesmark {

// The pictures of the result tree and the property list, numbered from 1 as
// in the image list: odd numbers show a kind of object with a green check
// (same), even numbers the same kind with a red cross (differs).
enum class Picture : int {
    None = 0,
    TableSame = 1,
    TableDiffers = 2,
    FieldSame = 3,
    FieldDiffers = 4,
    IndexSame = 5,
    IndexDiffers = 6,
    PropertySame = 7,     // a property row whose values are equal
    PropertyDiffers = 8,  // a property row that differs or is missing on one side
    QuerySame = 9,
    QueryDiffers = 10,
    DatabasesSame = 11,
    DatabasesDiffers = 12,
    RelationSame = 13,
    RelationDiffers = 14,
    ContainerSame = 15,
    ContainerDiffers = 16,
    ParameterSame = 17,
    ParameterDiffers = 18,
    DocumentSame = 19,
    DocumentDiffers = 20,
    PropertySkipped = 21,  // a property row that is not compared
    // Rows of the data comparison matched by key.
    RowOnlyIn1 = 22,
    RowOnlyIn2 = 24,
    RowChanged = 26,
    // An object a stopped run never finished comparing, and the root of such
    // a run. Even, so that no reader of the numbers takes them for "same".
    NotCompared = 28,
    DatabasesIncomplete = 30,
};

// The number of the last picture of the image list.
inline constexpr int kLastPicture = 30;

inline constexpr int PictureNumber(Picture picture) {
    return static_cast<int>(picture);
}

// What a node's picture says of its object.
enum class NodeState { Same, Differs, NotCompared };

inline constexpr NodeState StateOf(Picture picture) {
    if (picture == Picture::NotCompared || picture == Picture::DatabasesIncomplete) {
        return NodeState::NotCompared;
    }
    return PictureNumber(picture) % 2 == 0 ? NodeState::Differs : NodeState::Same;
}

// True for the pictures that mean "differs" (the even ones, the pictures of
// objects not compared included: nothing unfinished reads as same).
inline constexpr bool IsDiffersPicture(Picture picture) {
    return picture != Picture::None && PictureNumber(picture) % 2 == 0;
}

// The levels of the hierarchy. Each has a collection tag; all but the rows of
// the data comparison are at once a section of the settings file, a node of
// the options dialog's tree and the argument of the skip-list loading. The
// order is that of the options tree.
enum class Level : std::uint8_t {
    Databases,
    TableDefs,
    TableFields,
    Records,
    Indexes,
    IndexFields,
    QueryDefs,
    QueryFields,
    Parameters,
    Relations,
    RelationFields,
    Containers,
    Documents,
    // The rows of a table that differ when records are matched by key. No
    // section of its own: it is listed with the Records lists.
    Rows,
};
inline constexpr std::size_t kLevelCount = 14;

// How the result view finds the member a key names in its collection.
enum class Lookup : std::uint8_t {
    Root,          // the databases themselves
    ByName,        // by name, paired with its partner as the run pairs them
    RecordNumber,  // the n-th record of the field's table, counted from 1
    RowKey,        // the row of the table whose key values the name gives (node_key.h)
};

// The particular rules of a level's walk, as flags.
enum WalkRule : std::uint8_t {
    kNoRule = 0,
    // The objects' own properties are compared before their sub-walks run.
    kPropertiesFirst = 1 << 0,
    // Before matching, database 1's collection is counted; when that fails
    // the walk adds nothing and finds no difference (some tables' indexes
    // cannot be read).
    kProbeDatabase1 = 1 << 1,
    // Database 2 is opened afresh before each common member is taken from it.
    kReopenDatabase2 = 1 << 2,
    // With data comparison on, the record counts are compared first and the
    // stored values of every common member afterwards.
    kComparesData = 1 << 3,
    // The walk moves the progress from 10 to 90 over its members.
    kReportsProgress = 1 << 4,
};

struct LevelInfo {
    Level level;
    std::string_view tag;         // collection tag: settings section and skip-list tag
    Level parent;                 // the owner's level (Databases for itself)
    std::string_view collection;  // the collection read in the owner, and the key's part
    std::string_view title;       // the options dialog's text for the level
    std::string_view kind;        // what one member is called ("table", "field")
    Picture same;
    Picture differs;
    // The walk's status text; "{1}" is replaced by the owner's name, "{2}" by
    // the owner's owner's name.
    std::string_view status;
    Lookup lookup;
    bool hasCompareFlag;  // the level's walk runs only when its Compare flag is set
    std::uint8_t rules;   // WalkRule flags
    // The level whose settings section (Compare flag, Skip list) governs this
    // one when it has none of its own; nullopt: its own tag's section.
    std::optional<Level> listedWith{};
};

inline constexpr std::array<LevelInfo, kLevelCount> kLevels = {{
    {Level::Databases, "Databases", Level::Databases, "", "Databases", "database",
     Picture::DatabasesSame, Picture::DatabasesDiffers, "Comparing databases", Lookup::Root, false,
     kNoRule},
    {Level::TableDefs, "TableDefs", Level::Databases, "TableDefs", "Tables", "table",
     Picture::TableSame, Picture::TableDiffers, "Comparing tables", Lookup::ByName, true,
     kReportsProgress},
    {Level::TableFields, "TableFields", Level::TableDefs, "Fields", "Fields", "field",
     Picture::FieldSame, Picture::FieldDiffers, "Comparing fields of table {1}", Lookup::ByName,
     true, kPropertiesFirst | kComparesData},
    {Level::Records, "Records", Level::TableFields, "Records", "Records", "record", Picture::None,
     Picture::TableDiffers, "", Lookup::RecordNumber, false, kNoRule},
    {Level::Indexes, "Indexes", Level::TableDefs, "Indexes", "Indexes", "index", Picture::IndexSame,
     Picture::IndexDiffers, "Comparing index of table {1}", Lookup::ByName, true, kProbeDatabase1},
    {Level::IndexFields, "IndexFields", Level::Indexes, "Fields", "Fields", "index field",
     Picture::FieldSame, Picture::FieldDiffers, "Comparing fields of index {1} of table {2}",
     Lookup::ByName, true, kPropertiesFirst},
    {Level::QueryDefs, "QueryDefs", Level::Databases, "QueryDefs", "Queries", "query",
     Picture::QuerySame, Picture::QueryDiffers, "Comparing queries", Lookup::ByName, true, kNoRule},
    {Level::QueryFields, "QueryFields", Level::QueryDefs, "Fields", "Fields", "query field",
     Picture::FieldSame, Picture::FieldDiffers, "Comparing fields of query {1}", Lookup::ByName,
     true, kPropertiesFirst},
    {Level::Parameters, "Parameters", Level::QueryDefs, "Parameters", "Parameters", "parameter",
     Picture::ParameterSame, Picture::ParameterDiffers, "Comparing parameters of query {1}",
     Lookup::ByName, true, kPropertiesFirst},
    {Level::Relations, "Relations", Level::Databases, "Relations", "Relations", "relation",
     Picture::RelationSame, Picture::RelationDiffers, "Comparing relations", Lookup::ByName, true,
     kPropertiesFirst | kReopenDatabase2},
    {Level::RelationFields, "RelationFields", Level::Relations, "Fields", "Fields",
     "relation field", Picture::FieldSame, Picture::FieldDiffers,
     "Comparing fields of relation {1}", Lookup::ByName, true, kPropertiesFirst},
    {Level::Containers, "Containers", Level::Databases, "Containers", "Containers", "container",
     Picture::ContainerSame, Picture::ContainerDiffers, "Comparing containters", Lookup::ByName,
     true, kPropertiesFirst},
    {Level::Documents, "Documents", Level::Containers, "Documents", "Documents", "document",
     Picture::DocumentSame, Picture::DocumentDiffers, "Comparing documents of container {1}",
     Lookup::ByName, true, kPropertiesFirst},
    {Level::Rows, "Rows", Level::TableDefs, "Rows", "Rows", "row", Picture::None,
     Picture::RowChanged, "", Lookup::RowKey, false, kNoRule, Level::Records},
}};

// The table is indexed by Level: each entry must sit at its level's place.
constexpr bool LevelsInOrder() {
    for (std::size_t i = 0; i < kLevels.size(); ++i) {
        if (static_cast<std::size_t>(kLevels[i].level) != i) {
            return false;
        }
    }
    return true;
}
static_assert(LevelsInOrder(), "kLevels lists every level at its place");

inline constexpr const LevelInfo& Describe(Level level) {
    return kLevels[static_cast<std::size_t>(level)];
}

// The collection tag whose settings section and lists govern `level`: its
// own, or that of the level it is listed with.
inline constexpr std::string_view SettingsTag(Level level) {
    const LevelInfo& info = Describe(level);
    return info.listedWith ? Describe(*info.listedWith).tag : info.tag;
}

// True for the levels with a settings section of their own: the collection
// tags of the settings file and of the options tree.
inline constexpr bool HasOwnSettings(Level level) {
    return !Describe(level).listedWith;
}

// The number of collection tags with a settings section (thirteen).
inline constexpr std::size_t kSettingsTagCount = [] {
    std::size_t count = 0;
    for (const auto& info : kLevels) {
        count += HasOwnSettings(info.level) ? 1 : 0;
    }
    return count;
}();

// Settings levels come first, so that index i of the settings tags is level i.
constexpr bool SettingsLevelsFirst() {
    for (std::size_t i = 0; i < kLevels.size(); ++i) {
        if (HasOwnSettings(kLevels[i].level) != (i < kSettingsTagCount)) {
            return false;
        }
    }
    return true;
}
static_assert(SettingsLevelsFirst(), "levels without a settings section come last");

// The level of a collection tag ("TableFields"), matched exactly.
std::optional<Level> LevelOfTag(std::string_view tag);

// The levels whose parent is `level`, in table order (the order of the walks),
// the level itself left out.
std::vector<Level> ChildLevels(Level level);

// The child level of `level` read from the collection `collection`, if any.
std::optional<Level> ChildLevel(Level level, std::string_view collection);

// The level of the object a key names (Databases for the root); nullopt when
// a collection of the key is not one of the hierarchy.
std::optional<Level> LevelOfKey(const NodeKey& key);

// The walk status text of `level` for the owner names of its key, innermost
// first ("Comparing fields of index PK of table Orders").
std::string StatusText(Level level, std::span<const std::string> ownerNamesInnermostFirst);

}  // namespace kesmark
