#include "engine/model/hierarchy.h"

namespace kesmark {

std::optional<Level> LevelOfTag(std::string_view tag) {
    for (const auto& info : kLevels) {
        if (info.tag == tag) {
            return info.level;
        }
    }
    return std::nullopt;
}

std::vector<Level> ChildLevels(Level level) {
    std::vector<Level> children;
    for (const auto& info : kLevels) {
        if (info.parent == level && info.level != level) {
            children.push_back(info.level);
        }
    }
    return children;
}

std::optional<Level> ChildLevel(Level level, std::string_view collection) {
    for (const auto& info : kLevels) {
        if (info.parent == level && info.level != level && info.collection == collection) {
            return info.level;
        }
    }
    return std::nullopt;
}

std::optional<Level> LevelOfKey(const NodeKey& key) {
    Level level = Level::Databases;
    for (const auto& segment : key.Segments()) {
        const auto child = ChildLevel(level, segment.collection);
        if (!child) {
            return std::nullopt;
        }
        level = *child;
    }
    return level;
}

std::string StatusText(Level level, std::span<const std::string> ownerNamesInnermostFirst) {
    const std::string_view pattern = Describe(level).status;
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '{' && i + 2 < pattern.size() && pattern[i + 2] == '}' &&
            pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (index < ownerNamesInnermostFirst.size()) {
                text += ownerNamesInnermostFirst[index];
            }
            i += 2;
            continue;
        }
        text += pattern[i];
    }
    return text;
}

}  // namespace kesmark
