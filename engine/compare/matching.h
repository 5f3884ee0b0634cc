#pragma once

// The small tools of collection matching and property comparison: name
// sorting, the three-way name comparison, the skip test and the property
// value test. Used by the comparison run and by the property listing.

#include <string>
#include <string_view>
#include <vector>

#include "engine/compare/options.h"
#include "engine/model/object_model.h"

namespace kesmark {

// Sorts names[low..high] (inclusive) in place into ascending ordinal order
// (UTF-16 code units, case-sensitive). Does nothing when low >= high.
void SortNames(std::vector<std::string>& names, std::ptrdiff_t low, std::ptrdiff_t high);

// Three-way comparison of the entries at i and j of two sorted name lists:
// -1 when the next name is list2[j] (list 1 exhausted, or list2[j] sorts
// first), 1 when it is list1[i] (list 2 exhausted, or list1[i] sorts first),
// 0 when both entries are equal. Call only while one list has entries left.
int CompareItemNames(const std::vector<std::string>& list1, const std::vector<std::string>& list2,
                     std::size_t i, std::size_t j);

// Walks two sorted name lists in step, one distinct name at a time in
// ascending ordinal order: onlyIn1(name) for a name of list 1 alone,
// onlyIn2(name) for one of list 2 alone, inBoth(name1, name2) for a name of
// both lists.
template <class OnlyIn1, class OnlyIn2, class InBoth>
void MergeNames(const std::vector<std::string>& list1, const std::vector<std::string>& list2,
                OnlyIn1&& onlyIn1, OnlyIn2&& onlyIn2, InBoth&& inBoth) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < list1.size() || j < list2.size()) {
        switch (CompareItemNames(list1, list2, i, j)) {
            case -1:
                onlyIn2(list2[j++]);
                break;
            case 1:
                onlyIn1(list1[i++]);
                break;
            default:
                inBoth(list1[i++], list2[j++]);
                break;
        }
    }
}

// True when `name` is on the skip list (exact, case-sensitive).
bool IsSkipped(const SkipList& skipList, std::string_view name);

// True when two long values are equal: their sizes first, then their bytes,
// a piece of kLongValuePiece bytes from each at a time, stopping at the first
// piece that differs. Reading may throw DbError.
bool LongValuesEqualInPieces(const LongValueReader& a, const LongValueReader& b);

// What, beyond the variant rules, decides whether two property values are
// equal.
struct EqualityRules {
    // The databases are of different kinds: values compare by meaning
    // (ValuesEqualByMeaning), 1.98 as a decimal and as a real alike.
    bool byMeaning = false;
    // Name-valued properties (vocabulary::IsNameProperty) compare ignoring
    // ASCII letter case.
    bool ignoreNameCase = false;
    // The two objects were paired by what they are, not by name (an index the
    // engine named): their Name properties count as equal.
    bool pairedByDefinition = false;
};

// Clears `equal` when the values of the two properties differ; never sets it.
// Long values read in pieces (Property::LongValue) compare piece by piece,
// and differ from any value held whole. Byte arrays (type 9 or 11 on
// property 1) compare by length and every byte; other values by the variant
// rules (see VariantEqual: Null on one side only is a difference, Null on
// both sides is equal). Reading a value may throw DbError; the caller decides
// what that means.
void PropertyValuesEqual(const Property& property1, const Property& property2, bool& equal);
// As above, under `rules`. With default rules the same as above.
void PropertyValuesEqual(const Property& property1, const Property& property2, bool& equal,
                         const EqualityRules& rules);

// The names of a Properties collection, by position.
std::vector<std::string> PropertyNames(const Properties& properties);

}  // namespace kesmark
