#include "engine/compare/filter.h"

#include <algorithm>

namespace kesmark {

namespace {

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The end of the UTF-8 character that starts at `i`.
std::size_t NextCharacter(std::string_view text, std::size_t i) {
    ++i;
    while (i < text.size() && IsContinuationByte(text[i])) {
        ++i;
    }
    return i;
}

// The leading `count` segments of `key` against those of `pattern`.
bool SegmentsMatch(const NodeKey& pattern, const NodeKey& key, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) {
        const auto& p = pattern.Segments()[k];
        const auto& s = key.Segments()[k];
        if (!GlobMatch(p.collection, s.collection) || !GlobMatch(p.name, s.name)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool GlobMatch(std::string_view pattern, std::string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    // The last star seen, and the text position it is to absorb from next.
    std::size_t starP = std::string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = ++p;
            starT = t;
            continue;
        }
        if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            t = NextCharacter(text, t);
            continue;
        }
        if (p < pattern.size()) {
            std::size_t literal = p;
            if (pattern[p] == '\\' && p + 1 < pattern.size()) {
                ++literal;
            }
            if (pattern[literal] == text[t]) {
                p = literal + 1;
                ++t;
                continue;
            }
        }
        if (starP == std::string_view::npos) {
            return false;
        }
        // Let the last star absorb one more character and try again.
        p = starP;
        starT = NextCharacter(text, starT);
        t = starT;
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::string CheckFilterPattern(std::string_view pattern) {
    NodeKey key;
    if (!NodeKey::Parse(pattern, key)) {
        return "pattern '" + std::string(pattern) +
               "' is not a node key such as TableDefs[tmp_*] (write names in brackets, "
               "doubling a bracket inside a name)";
    }
    if (key.IsRoot()) {
        return "pattern '" + std::string(pattern) +
               "' names the databases, which are always compared";
    }
    return {};
}

std::optional<NodeFilter> NodeFilter::Make(const FilterPatterns& patterns, std::string& error) {
    NodeFilter filter;
    auto add = [&](const std::vector<std::string>& texts, std::vector<NodeKey>& keys) {
        for (const auto& text : texts) {
            error = CheckFilterPattern(text);
            if (!error.empty()) {
                return false;
            }
            NodeKey key;
            NodeKey::Parse(text, key);
            keys.push_back(std::move(key));
        }
        return true;
    };
    if (!add(patterns.include, filter.include_) || !add(patterns.exclude, filter.exclude_)) {
        return std::nullopt;
    }
    return filter;
}

bool NodeFilter::Admits(const NodeKey& key) const {
    if (key.IsRoot()) {
        return true;
    }
    const std::size_t depth = key.Segments().size();
    for (const auto& pattern : exclude_) {
        const std::size_t length = pattern.Segments().size();
        if (depth >= length && SegmentsMatch(pattern, key, length)) {
            return false;
        }
    }
    if (include_.empty()) {
        return true;
    }
    return std::any_of(include_.begin(), include_.end(), [&](const NodeKey& pattern) {
        return SegmentsMatch(pattern, key, std::min(depth, pattern.Segments().size()));
    });
}

}  // namespace kesmark
