#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/compare/options.h"
#include "engine/model/hierarchy.h"
#include "settings/ini_file.h"

namespace kesmark {

// The thirteen collection tags, in the order of the options tree. Each is a
// section of the settings file and the argument of LoadSkipList.
inline constexpr std::array<std::string_view, kSettingsTagCount> kCollectionTags = [] {
    std::array<std::string_view, kSettingsTagCount> tags{};
    for (std::size_t i = 0; i < kSettingsTagCount; ++i) {
        tags[i] = kLevels[i].tag;
    }
    return tags;
}();

inline constexpr std::string_view kStrictSection = "Strict";
inline constexpr std::string_view kDataSection = "Data";
// Properties one kind of database offers, or spells its own way: compared
// only when both databases are of the same kind.
inline constexpr std::string_view kEngineSection = "Engine";
inline constexpr std::string_view kGeneralSection = "General";
inline constexpr std::string_view kFilterSection = "Filter";
// [General] IgnoreNameCase=1: names that differ only in letter case name one
// object.
inline constexpr std::string_view kIgnoreNameCaseKey = "IgnoreNameCase";

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
// on, then the Engine list unless the two databases are of the same kind.
// Read from the file at each call.
SkipList LoadSkipList(const IniFile& settings, std::string_view tag, ComparisonSwitches switches);

// The filter patterns of [Filter]: NumInclude entries Include1..IncludeN and
// NumExclude entries Exclude1..ExcludeN, in stored order. Empty entries (a
// missing key) are left out.
FilterPatterns ReadFilterPatterns(const IniFile& settings);

// Writes the patterns as Include1..N then NumInclude=N, Exclude1..M then
// NumExclude=M. Returns false when a write failed.
bool WriteFilterPatterns(IniFile& settings, const FilterPatterns& patterns);

// True when the Compare flag of `tag` is non-zero (absent reads as 0).
bool CompareFlag(const IniFile& settings, std::string_view tag);

// The keys of the data comparison's settings, in the Data section.
inline constexpr std::string_view kMatchRecordsKey = "MatchRecords";
inline constexpr std::string_view kMaxRowsKey = "MaxRows";
inline constexpr std::string_view kChecksumsKey = "Checksums";
inline constexpr std::string_view kChecksumRangeRowsKey = "ChecksumRangeRows";

// The data comparison's settings: MatchRecords "Position" (ASCII letter case
// ignored) pairs records by position, any other value or none by key;
// MaxRows is the number of differing rows shown per table, 1000 when absent,
// 0 for a negative or unreadable value; Checksums "Off" (letter case
// ignored) reads every row, any other value or none is Auto;
// ChecksumRangeRows is the size of a differing key range that is read
// rather than cut further, 10000 when absent, at least 1.
DataOptions ReadDataOptions(const IniFile& settings);

// The text MatchRecords stores for `matching`: "Key" or "Position".
std::string_view MatchRecordsText(RecordMatching matching);
// The text Checksums stores for `use`: "Auto" or "Off".
std::string_view ChecksumsText(ChecksumUse use);

// True when [General] IgnoreNameCase is non-zero (absent reads as 0).
bool IgnoreNameCase(const IniFile& settings);

// The comparison options as the settings file gives them, read at each call.
class IniComparisonOptions : public ComparisonOptions {
  public:
    // `settings` is not owned and must outlive this object.
    explicit IniComparisonOptions(const IniFile& settings) : settings_(settings) {}

    bool CompareFlag(std::string_view tag) const override;
    SkipList LoadSkipList(std::string_view tag, ComparisonSwitches switches) const override;
    FilterPatterns Filters() const override;
    DataOptions Data() const override;
    // The setting, unless OverrideIgnoreNameCase said otherwise.
    bool IgnoreNameCase() const override;

    // Matches names ignoring letter case (or not) whatever the file says, as
    // the command line's --ignore-case asks.
    void OverrideIgnoreNameCase(bool ignore) { ignoreNameCase_ = ignore; }

  private:
    const IniFile& settings_;  // Not owned.
    std::optional<bool> ignoreNameCase_;
};

}  // namespace kesmark
