#pragma once

// What a comparison reads from the program's options: the Compare flag of
// each collection tag, the skip list of properties never compared, whether
// names are matched ignoring letter case, and the filters on node keys that
// leave objects out (see filter.h). The settings layer implements it over the
// settings file, reading the file at each call, so that options saved
// between two runs take effect at the next.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesmark {

// The current skip list: property names never compared for the kind of object
// it was loaded for. Ordered as loaded; duplicates and empty names kept.
using SkipList = std::vector<std::string>;

// What decides which lists join the skip list: the two switches of a
// comparison, and whether its two databases are of one kind.
struct ComparisonSwitches {
    bool strict = false;  // "Strict" ticked: Strict-list properties are compared
    bool data = false;    // "Data" ticked: Data-list properties and stored values are compared
    // Both databases are of the same kind (the same backend, and for ODBC the
    // same database system): the Engine-list properties are compared. The
    // run and the result view set it once both databases are open.
    bool sameKind = true;
};

// How the data comparison pairs the records of a table.
enum class RecordMatching {
    Key,       // by the key both tables share; by position where they share none
    Position,  // the n-th record with the n-th (in key order where there is a key)
};

// Whether records paired by key are compared by checksums of key ranges
// that each database computes itself (docs/checksums.md).
enum class ChecksumUse {
    Auto,  // where both databases can and one of them is a server
    Off,   // always read the rows
};

// The data comparison's settings: how records are paired, how many rows of
// one table that differ become nodes, and whether and how key ranges are
// compared by checksums.
struct DataOptions {
    RecordMatching matching = RecordMatching::Key;
    std::int64_t maxRows = 1000;
    ChecksumUse checksums = ChecksumUse::Auto;
    // A range that differs is read row by row once neither database holds
    // more rows of it than this; larger ones are cut into smaller ranges.
    std::int64_t checksumRangeRows = 10000;
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

    // The data comparison's settings; the defaults when the options say
    // nothing.
    virtual DataOptions Data() const { return {}; }

    // True when the walk over the collection `tag` runs.
    virtual bool CompareFlag(std::string_view tag) const = 0;
    // The skip list for `tag` under `switches`.
    virtual SkipList LoadSkipList(std::string_view tag, ComparisonSwitches switches) const = 0;
    // The filter patterns of the options (none by default).
    virtual FilterPatterns Filters() const { return {}; }
    // True when names that differ only in ASCII letter case name one object
    // ("Album" and "album"): such members pair up, and name-valued properties
    // compare ignoring case.
    virtual bool IgnoreNameCase() const = 0;
};

// Options that are those of `base` but for the record matching, which is
// `matching` when given (a choice on the command line that outranks the
// settings). Nothing of `base` is read before it is asked for.
class MatchingOverride : public ComparisonOptions {
  public:
    // `base` is not owned and must outlive this object.
    // The checksum use is `checksums` where given.
    MatchingOverride(const ComparisonOptions& base, std::optional<RecordMatching> matching,
                     std::optional<ChecksumUse> checksums = std::nullopt)
        : base_(base), matching_(matching), checksums_(checksums) {}

    bool CompareFlag(std::string_view tag) const override { return base_.CompareFlag(tag); }
    SkipList LoadSkipList(std::string_view tag, ComparisonSwitches switches) const override {
        return base_.LoadSkipList(tag, switches);
    }
    bool IgnoreNameCase() const override { return base_.IgnoreNameCase(); }
    FilterPatterns Filters() const override { return base_.Filters(); }
    DataOptions Data() const override {
        DataOptions data = base_.Data();
        data.matching = matching_.value_or(data.matching);
        data.checksums = checksums_.value_or(data.checksums);
        return data;
    }

  private:
    const ComparisonOptions& base_;  // Not owned.
    std::optional<RecordMatching> matching_;
    std::optional<ChecksumUse> checksums_;
};

}  // namespace kesmark
