#include "engine/compare/matching.h"

#include <algorithm>
#include <utility>

#include "engine/model/text.h"
#include "engine/model/vocabulary.h"

namespace kesmark {

void SortNames(std::vector<std::string>& names, std::ptrdiff_t low, std::ptrdiff_t high) {
    // Hoare quicksort around the middle element; recurse into the smaller
    // part and loop over the larger one so that the stack stays shallow.
    while (low < high) {
        const std::string pivot = names[static_cast<std::size_t>(low + (high - low) / 2)];
        std::ptrdiff_t i = low;
        std::ptrdiff_t j = high;
        while (i <= j) {
            while (CompareOrdinal(names[static_cast<std::size_t>(i)], pivot) < 0) {
                ++i;
            }
            while (CompareOrdinal(names[static_cast<std::size_t>(j)], pivot) > 0) {
                --j;
            }
            if (i <= j) {
                std::swap(names[static_cast<std::size_t>(i)], names[static_cast<std::size_t>(j)]);
                ++i;
                --j;
            }
        }
        if (j - low < high - i) {
            SortNames(names, low, j);
            low = i;
        } else {
            SortNames(names, i, high);
            high = j;
        }
    }
}

int CompareItemNames(const std::vector<std::string>& list1, const std::vector<std::string>& list2,
                     std::size_t i, std::size_t j) {
    if (i >= list1.size()) {
        return -1;
    }
    if (j >= list2.size()) {
        return 1;
    }
    const int order = CompareOrdinal(list1[i], list2[j]);
    if (order > 0) {
        return -1;
    }
    if (order < 0) {
        return 1;
    }
    return 0;
}

bool IsSkipped(const SkipList& skipList, std::string_view name) {
    for (const auto& entry : skipList) {
        if (entry == name) {
            return true;
        }
    }
    return false;
}

bool LongValuesEqualInPieces(const LongValueReader& a, const LongValueReader& b) {
    if (a.size != b.size) {
        return false;
    }
    for (std::int64_t offset = 0; offset < a.size;
         offset += static_cast<std::int64_t>(kLongValuePiece)) {
        const Bytes piece1 = a.read(offset, kLongValuePiece);
        const Bytes piece2 = b.read(offset, kLongValuePiece);
        if (piece1 != piece2) {
            return false;
        }
        if (piece1.empty()) {
            break;  // both ended early: nothing more to compare
        }
    }
    return true;
}

void PropertyValuesEqual(const Property& property1, const Property& property2, bool& equal) {
    PropertyValuesEqual(property1, property2, equal, EqualityRules{});
}

void PropertyValuesEqual(const Property& property1, const Property& property2, bool& equal,
                         const EqualityRules& rules) {
    const LongValueReader* long1 = property1.LongValue();
    const LongValueReader* long2 = property2.LongValue();
    if (long1 || long2) {
        if (!long1 || !long2 || !LongValuesEqualInPieces(*long1, *long2)) {
            equal = false;
        }
        return;
    }
    const int type = property1.Type();
    const Value value1 = property1.GetValue();
    const Value value2 = property2.GetValue();
    if ((type == dao::kBinary || type == dao::kLongBinary) && value1.IsBytes() &&
        value2.IsBytes()) {
        if (!BytesEqual(*value1.As<Bytes>(), *value2.As<Bytes>())) {
            equal = false;
        }
        return;
    }
    const std::string& name = property1.Name();
    if (rules.pairedByDefinition && name == "Name") {
        return;
    }
    if (rules.ignoreNameCase && vocabulary::IsNameProperty(name) && value1.IsText() &&
        value2.IsText()) {
        if (FoldAsciiCase(*value1.As<std::string>()) != FoldAsciiCase(*value2.As<std::string>())) {
            equal = false;
        }
        return;
    }
    if (!(rules.byMeaning ? ValuesEqualByMeaning(value1, value2) : VariantEqual(value1, value2))) {
        equal = false;
    }
}

std::vector<std::string> PropertyNames(const Properties& properties) {
    std::vector<std::string> names;
    names.reserve(properties.Count());
    for (std::size_t i = 0; i < properties.Count(); ++i) {
        names.push_back(properties.Item(i).Name());
    }
    return names;
}

}  // namespace kesmark
