#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_file.h"

namespace kesmark {

// The thirteen collection tags, in the order of the options tree. Each is a
// section of the settings file and the argument of LoadSkipList.
inline constexpr std::array<std::string_view, 13> kCollectionTags = {
    "Databases",      "TableDefs",  "TableFields", "Records",    "Indexes",
    "IndexFields",    "QueryDefs",  "QueryFields", "Parameters", "Relations",
    "RelationFields", "Containers", "Documents"};

inline constexpr std::string_view kStrictSection = "Strict";
inline constexpr std::string_view kDataSection = "Data";
inline constexpr std::string_view kGeneralSection = "General";

// The current skip list: property names never compared for the kind of object
// it was loaded for. Ordered as loaded; duplicates and empty names kept.
using SkipList = std::vector<std::string>;

// The two switches of a comparison that decide which lists join the skip list.
struct ComparisonSwitches {
    bool strict = false;  // "Strict" ticked: Strict-list properties are compared
    bool data = false;    // "Data" ticked: Data-list properties and stored values are compared
};

// A stored list: NumSkip entries Skip1..SkipN of `section` (a missing entry
// reads as an empty name; a negative or absent NumSkip reads as no entries).
// N is bounded by the highest Skip key present, so the empty names that
// would follow it are not made.
std::vector<std::string> ReadStoredList(const IniFile& settings, std::string_view section);
std::vector<std::string> ReadStoredList(const IniFile::View& settings, std::string_view section);

// Writes `names` as Skip1..SkipN and then NumSkip=N. Higher-numbered keys of
// an earlier, longer list stay in the file and are never read. Returns false
// when a write failed.
bool WriteStoredList(IniFile& settings, std::string_view section,
                     const std::vector<std::string>& names);

// The skip list for `tag`: the tag's own Skip list, then the Strict list
// unless strict comparison is on, then the Data list unless data comparison is
// on. Read from the file at each call.
SkipList LoadSkipList(const IniFile& settings, std::string_view tag, ComparisonSwitches switches);

// True when the Compare flag of `tag` is non-zero (absent reads as 0).
bool CompareFlag(const IniFile& settings, std::string_view tag);

}  // namespace kesmark
