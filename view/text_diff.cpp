#include "view/text_diff.h"

#include <dtl/dtl.hpp>

#include <algorithm>

namespace kesmark {

namespace {

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        const bool last = end == std::string_view::npos;
        if (last) {
            end = text.size();
        }
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        if (!(last && line.empty() && !lines.empty())) {
            lines.emplace_back(line);
        }
        if (last) {
            break;
        }
        start = end + 1;
    }
    return lines;
}

// The UTF-8 characters of a line, each as its byte range.
std::vector<std::pair<std::size_t, std::size_t>> Characters(std::string_view text) {
    std::vector<std::pair<std::size_t, std::size_t>> characters;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = i + 1;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
        characters.emplace_back(i, end);
        i = end;
    }
    return characters;
}

void AddRange(std::vector<std::pair<std::size_t, std::size_t>>& ranges,
              std::pair<std::size_t, std::size_t> range) {
    if (!ranges.empty() && ranges.back().second == range.first) {
        ranges.back().second = range.second;
    } else {
        ranges.push_back(range);
    }
}

// Marks the characters that differ between the two texts of a changed line.
void DiffCharacters(DiffLine& line) {
    if (line.text1.size() > kMaxCharacterDiffBytes || line.text2.size() > kMaxCharacterDiffBytes) {
        if (!line.text1.empty()) {
            line.changed1.emplace_back(0, line.text1.size());
        }
        if (!line.text2.empty()) {
            line.changed2.emplace_back(0, line.text2.size());
        }
        return;
    }
    const auto characters1 = Characters(line.text1);
    const auto characters2 = Characters(line.text2);
    std::vector<std::string_view> a;
    std::vector<std::string_view> b;
    for (const auto& [first, last] : characters1) {
        a.push_back(std::string_view(line.text1).substr(first, last - first));
    }
    for (const auto& [first, last] : characters2) {
        b.push_back(std::string_view(line.text2).substr(first, last - first));
    }
    dtl::Diff<std::string_view> diff(a, b);
    diff.compose();
    for (const auto& [element, info] : diff.getSes().getSequence()) {
        if (info.type == dtl::SES_DELETE) {
            AddRange(line.changed1, characters1[static_cast<std::size_t>(info.beforeIdx - 1)]);
        } else if (info.type == dtl::SES_ADD) {
            AddRange(line.changed2, characters2[static_cast<std::size_t>(info.afterIdx - 1)]);
        }
    }
}

}  // namespace

TextDiff DiffTexts(std::string_view text1, std::string_view text2) {
    TextDiff result;
    auto cut = [&](std::string_view text) {
        if (text.size() <= kMaxDiffBytes) {
            return text;
        }
        result.cut = true;
        std::size_t end = kMaxDiffBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
        return text.substr(0, end);
    };
    const std::vector<std::string> lines1 = SplitLines(cut(text1));
    const std::vector<std::string> lines2 = SplitLines(cut(text2));

    dtl::Diff<std::string> diff(lines1, lines2, true);  // deletions before additions
    diff.onHuge();
    diff.compose();

    // Pending runs of removed and added lines, paired when the run ends.
    std::vector<DiffLine> removed;
    std::vector<DiffLine> added;
    auto flush = [&] {
        const std::size_t paired = std::min(removed.size(), added.size());
        for (std::size_t k = 0; k < paired; ++k) {
            DiffLine line;
            line.kind = DiffLine::Kind::Changed;
            line.line1 = removed[k].line1;
            line.text1 = std::move(removed[k].text1);
            line.line2 = added[k].line2;
            line.text2 = std::move(added[k].text2);
            DiffCharacters(line);
            result.lines.push_back(std::move(line));
        }
        for (std::size_t k = paired; k < removed.size(); ++k) {
            result.lines.push_back(std::move(removed[k]));
        }
        for (std::size_t k = paired; k < added.size(); ++k) {
            result.lines.push_back(std::move(added[k]));
        }
        removed.clear();
        added.clear();
    };
    for (const auto& [text, info] : diff.getSes().getSequence()) {
        DiffLine line;
        if (info.type == dtl::SES_COMMON) {
            flush();
            line.kind = DiffLine::Kind::Same;
            line.line1 = static_cast<std::size_t>(info.beforeIdx);
            line.line2 = static_cast<std::size_t>(info.afterIdx);
            line.text1 = text;
            line.text2 = text;
            result.lines.push_back(std::move(line));
        } else if (info.type == dtl::SES_DELETE) {
            if (!added.empty()) {
                flush();
            }
            line.kind = DiffLine::Kind::Removed;
            line.line1 = static_cast<std::size_t>(info.beforeIdx);
            line.text1 = text;
            removed.push_back(std::move(line));
        } else {
            line.kind = DiffLine::Kind::Added;
            line.line2 = static_cast<std::size_t>(info.afterIdx);
            line.text2 = text;
            added.push_back(std::move(line));
        }
    }
    flush();
    return result;
}

}  // namespace kesmark
