#include "engine/compare/differences.h"

#include <algorithm>

#include "engine/model/utf8.h"

namespace kesmark {

namespace {

constexpr std::size_t kMaxListedBytes = 11;
constexpr std::string_view kEllipsis = "…";
// How far before the first difference an excerpt of a single-line text starts.
constexpr std::size_t kLeadBytes = 40;

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// `position` moved back to the start of the UTF-8 sequence it lies in.
std::size_t CharacterStart(std::string_view text, std::size_t position) {
    while (position > 0 && position < text.size() && IsContinuationByte(text[position])) {
        --position;
    }
    return position;
}

std::size_t CharacterCount(std::string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuationByte(c); }));
}

// The byte position at which two texts part (the shorter one's length when
// one is the start of the other), at a character boundary.
std::size_t PartingPosition(std::string_view a, std::string_view b) {
    const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    return CharacterStart(a, static_cast<std::size_t>(mismatch.first - a.begin()));
}

// At most kExcerptBytes of `text` from `start`, cut at a character boundary,
// with an ellipsis where text was left out.
std::string Excerpt(std::string_view text, std::size_t start, bool& truncated) {
    start = std::min(start, text.size());
    std::size_t end = std::min(text.size(), start + kExcerptBytes);
    if (end < text.size()) {
        end = CharacterStart(text, end);
    }
    std::string out;
    if (start > 0) {
        out += kEllipsis;
        truncated = true;
    }
    out.append(text.substr(start, end - start));
    if (end < text.size()) {
        out += kEllipsis;
        truncated = true;
    }
    return out;
}

std::string PlainOrNull(const Value& value) {
    try {
        return value.IsNull() ? std::string("Null") : PlainText(value);
    } catch (const std::exception&) {
        return "Null";
    }
}

}  // namespace

std::string DisplayText(int type, const Value& value) {
    if ((type != dao::kBinary && type != dao::kLongBinary) || !value.IsBytes()) {
        return PlainOrNull(value);
    }
    const Bytes& bytes = *value.As<Bytes>();
    std::string text;
    for (std::size_t k = 0; k < bytes.size() && k < kMaxListedBytes; ++k) {
        if (k > 0) {
            text += ' ';
        }
        text += std::to_string(bytes[k]);
    }
    if (bytes.size() > kMaxListedBytes) {
        text += " ...";
    }
    return text;
}

bool IsShortText(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos &&
           CharacterCount(text) <= kShortValueCharacters;
}

PropertyDifference DescribeDifference(std::string name, int type, const Value* value1,
                                      const Value* value2) {
    PropertyDifference difference;
    difference.name = std::move(name);
    if (value1) {
        difference.value1 = DisplayText(type, *value1);
    }
    if (value2) {
        difference.value2 = DisplayText(type, *value2);
    }
    if (!value1 && !value2) {
        return difference;  // on neither side: nothing to show
    }
    if (!value1 || !value2) {
        // One side only: its value, cut when long.
        auto& text = value1 ? *difference.value1 : *difference.value2;
        if (!IsShortText(text)) {
            text = Excerpt(text, 0, difference.truncated);
        }
        return difference;
    }

    const Bytes* bytes1 = value1->As<Bytes>();
    const Bytes* bytes2 = value2->As<Bytes>();
    if ((type == dao::kBinary || type == dao::kLongBinary) && bytes1 && bytes2) {
        if (bytes1->size() <= kMaxListedBytes && bytes2->size() <= kMaxListedBytes) {
            return difference;
        }
        const auto mismatch =
            std::mismatch(bytes1->begin(), bytes1->end(), bytes2->begin(), bytes2->end());
        if (mismatch.first == bytes1->end() || mismatch.second == bytes2->end()) {
            difference.where = std::to_string(bytes1->size()) + " bytes → " +
                               std::to_string(bytes2->size()) + " bytes";
        } else {
            difference.where =
                "bytes differ at byte " + std::to_string(mismatch.first - bytes1->begin() + 1);
        }
        return difference;
    }

    const std::string& text1 = *difference.value1;
    const std::string& text2 = *difference.value2;
    if (IsShortText(text1) && IsShortText(text2)) {
        return difference;
    }
    const std::size_t parting = PartingPosition(text1, text2);
    const std::string_view before = std::string_view(text1).substr(0, parting);
    std::size_t start = 0;
    if (text1.find('\n') != std::string::npos || text2.find('\n') != std::string::npos) {
        const auto line = std::count(before.begin(), before.end(), '\n') + 1;
        difference.where = "text differs at line " + std::to_string(line);
        const std::size_t lineStart = before.rfind('\n');
        start = lineStart == std::string_view::npos ? 0 : lineStart + 1;
    } else {
        difference.where =
            "text differs at character " + std::to_string(CharacterCount(before) + 1);
        start = parting > kLeadBytes ? CharacterStart(text1, parting - kLeadBytes) : 0;
    }
    // Both excerpts start at the same place: the texts agree up to `parting`.
    difference.value1 = Excerpt(text1, start, difference.truncated);
    difference.value2 = Excerpt(text2, start, difference.truncated);
    return difference;
}

PropertyDifference UnreadableDifference(std::string name, std::string_view description) {
    const std::string text = "Error: " + std::string(description);
    return PropertyDifference{std::move(name), text, text, "value cannot be read", false};
}

}  // namespace kesmark
