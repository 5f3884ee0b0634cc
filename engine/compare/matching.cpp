#include "engine/compare/matching.h"

#include <algorithm>
#include <utility>

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

std::vector<std::size_t> OrdinalOrder(const std::vector<std::string>& names) {
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const int c = CompareOrdinal(names[a], names[b]);
        return c != 0 ? c < 0 : a < b;
    });
    return order;
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
    if (!VariantEqual(value1, value2)) {
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
