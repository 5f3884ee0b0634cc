#pragma once

// What the options dialog reads and writes: the tree of collection tags with
// their Compare flags, the rows of its lists, the rule for adding a name,
// what Apply stores for the page shown, and the setting that names differing
// only in letter case name one object. The dialog only displays
// these and hands its rows back.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/ini_file.h"
#include "settings/option_lists.h"

namespace kesmark {

// One node of the options tree: the level it stands for, its collection tag,
// its text and the tag of its parent ("" for the root). Each node is the last
// child of its parent when added in this order.
struct CompareTreeNode {
    Level level;
    std::string_view tag;
    std::string_view text;
    std::string_view parent;
};

// The thirteen nodes, in the order of kCollectionTags, from the hierarchy.
inline constexpr std::array<CompareTreeNode, kSettingsTagCount> kCompareTree = [] {
    std::array<CompareTreeNode, kSettingsTagCount> tree{};
    for (std::size_t i = 0; i < kSettingsTagCount; ++i) {
        const LevelInfo& info = kLevels[i];
        tree[i] = {info.level, info.tag, info.title,
                   info.level == Level::Databases ? std::string_view() : Describe(info.parent).tag};
    }
    return tree;
}();

// The ticks of the tree, one per node in kCompareTree order. A tick means
// "skip": the collection is not compared (Compare=0).
using SkipTicks = std::array<bool, kCompareTree.size()>;

// The ticks as the settings file holds them now: ticked where the Compare flag
// reads 0 (absent included).
SkipTicks ReadSkipTicks(const IniFile& settings);

// One row of a list of property names. A ticked row is kept by the next Apply
// of its page, an unticked one is dropped.
struct OptionRow {
    std::string name;
    bool ticked = true;
};
using OptionRows = std::vector<OptionRow>;

// The stored list of `section` as rows, all ticked, in stored order. A list
// holds each name once, so the second copy of a name is left out, and so are
// empty names (a missing Skip key), which no property has.
OptionRows ReadOptionRows(const IniFile& settings, std::string_view section);

enum class AddResult {
    Ignored,   // the name is empty: nothing happens
    Refused,   // the name holds a line break or a NUL and could never be stored
    Existing,  // a row of that exact name (letter case counts) is there already
    Added,     // a new ticked row was appended
};
struct AddOutcome {
    AddResult result;
    std::size_t row = 0;  // the existing or new row (Existing, Added)
};

// Adds `name` to `rows` as typed, blanks included. An existing row keeps its
// tick, ticked or not.
AddOutcome AddOptionRow(OptionRows& rows, std::string_view name);

// The names of the ticked rows, in row order.
std::vector<std::string> TickedNames(const OptionRows& rows);

// The pages of the dialog, in tab order.
enum class OptionsPage { Skip, Strict, Data, Engine, Filter };

// The Skip page as Apply sees it: the tree's ticks, and the list of the
// selected node (none when no node is selected).
struct SkipPageState {
    SkipTicks ticks{};
    std::optional<std::string> selectedTag;
    OptionRows rows;
};

// Apply on the Skip page: the thirteen Compare flags in tree order ("0" for a
// ticked node, "1" for an unticked one), every one of them written whether it
// changed or not; then, when a node is selected, the ticked rows as that tag's
// Skip1..SkipN followed by NumSkip=N. Goes on past a failed write and returns
// false when any write failed.
bool ApplySkipPage(IniFile& settings, const SkipPageState& page);

// Writes [General] IgnoreNameCase: "1" when names differing only in letter
// case name one object, "0" otherwise. Returns false when the write failed.
bool ApplyIgnoreNameCase(IniFile& settings, bool ignore);

// The patterns of the Filter page's include list (`include`) or exclude
// list, as stored in [Filter], all ticked; repeated and empty ones left out.
OptionRows ReadFilterRows(const IniFile& settings, bool include);

// Adds a filter pattern to `rows` as AddOptionRow adds a name; a pattern
// that is not a node key pattern (see filter.h) is Refused, with `error`
// saying why.
AddOutcome AddFilterRow(OptionRows& rows, std::string_view pattern, std::string& error);

// Apply on the Filter page: the ticked rows of each list as Include1..N
// (NumInclude=N) and Exclude1..M (NumExclude=M) of [Filter]. Returns false
// when any write failed.
bool ApplyFilterPage(IniFile& settings, const OptionRows& include, const OptionRows& exclude);

// Apply on the Strict or the Data page: the ticked rows as Skip1..SkipN of
// `section`, then NumSkip=N; nothing else is written. Higher-numbered keys of
// a longer earlier list stay in the file and are never read. Returns false
// when any write failed.
bool ApplyListPage(IniFile& settings, std::string_view section, const OptionRows& rows);

// Apply on the Data page: the Data list as ApplyListPage writes it, then how
// records are matched, as MatchRecords ("Key" or "Position"). Returns false
// when any write failed.
bool ApplyDataPage(IniFile& settings, const OptionRows& rows, RecordMatching matching);
// As above, and whether key ranges are compared by checksums, as Checksums
// ("Auto" or "Off").
bool ApplyDataPage(IniFile& settings, const OptionRows& rows, RecordMatching matching,
                   ChecksumUse checksums);

}  // namespace kesmark
