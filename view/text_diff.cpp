#include "view/text_diff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "engine/model/utf8.h"

namespace kesmark {

namespace {

// The longest start of `text` of at most `maxBytes` bytes that does not end
// inside a UTF-8 sequence.
std::string_view CutAtCharacter(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

// The code points of a line with the byte offset where each starts, and the
// line's length as the last offset. A byte that is not valid UTF-8 stands for
// itself (U+DC80..U+DCFF), so that two different invalid bytes differ.
struct CodePoints {
    std::vector<char32_t> points;
    std::vector<std::size_t> offsets;
};

CodePoints Decode(std::string_view line) {
    CodePoints decoded;
    decoded.points.reserve(line.size());
    decoded.offsets.reserve(line.size() + 1);
    std::size_t i = 0;
    while (i < line.size()) {
        const std::size_t start = i;
        char32_t point = DecodeUtf8(line, i);
        if (point == kReplacementCharacter && line.substr(start, 3) != "\xEF\xBF\xBD") {
            point = 0xDC00 + static_cast<unsigned char>(line[start]);
        }
        decoded.points.push_back(point);
        decoded.offsets.push_back(start);
    }
    decoded.offsets.push_back(line.size());
    return decoded;
}

// Marked code points [from, to) of `decoded` as byte ranges, neighbours merged.
void AppendRanges(const CodePoints& decoded, const std::vector<bool>& marked, std::size_t from,
                  std::vector<TextRange>& ranges) {
    std::size_t k = 0;
    while (k < marked.size()) {
        if (!marked[k]) {
            ++k;
            continue;
        }
        const std::size_t first = k;
        while (k < marked.size() && marked[k]) {
            ++k;
        }
        const std::size_t begin = decoded.offsets[from + first];
        ranges.push_back(TextRange{begin, decoded.offsets[from + k] - begin});
    }
}

// Below this share of common characters in the differing middle of two lines,
// the character differences are noise: the whole middle is marked instead.
constexpr double kMinCommonShare = 0.4;

// An edit script of M and N lines with D edits costs about (M + N) * D steps,
// and D is at least M + N - 2 * (the lines the two have in common). When even
// that lower bound is past this, the two texts have too little in common for
// a line-by-line script to be worth its cost: their lines are paired in order.
constexpr std::size_t kMaxLineWork = 20'000'000;

// How many lines of `a` find an equal line in `b` (each line of `b` used once).
std::size_t CommonLines(const std::vector<std::string_view>& a,
                        const std::vector<std::string_view>& b) {
    std::unordered_map<std::string_view, std::size_t> counts;
    for (const auto line : b) {
        ++counts[line];
    }
    std::size_t common = 0;
    for (const auto line : a) {
        const auto it = counts.find(line);
        if (it != counts.end() && it->second > 0) {
            --it->second;
            ++common;
        }
    }
    return common;
}

}  // namespace

bool TextDiff::Same() const {
    return ChangedRows() == 0;
}

std::size_t TextDiff::ChangedRows() const {
    return static_cast<std::size_t>(std::count_if(rows.begin(), rows.end(), [](const DiffRow& row) {
        return row.change != LineChange::Same;
    }));
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\n' || text[i] == '\r') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = ++i;
            continue;
        }
        ++i;
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

namespace {

// DiffCharacters within what is left of a text's budget of character work,
// which it lessens by what it spends.
void DiffCharactersWithin(std::string_view line1, std::string_view line2,
                          std::vector<TextRange>& ranges1, std::vector<TextRange>& ranges2,
                          std::size_t maxLineCharacters, std::size_t& budget) {
    ranges1.clear();
    ranges2.clear();
    const CodePoints a = Decode(line1);
    const CodePoints b = Decode(line2);
    // The common start and end are never part of a change.
    std::size_t prefix = 0;
    const std::size_t shorter = std::min(a.points.size(), b.points.size());
    while (prefix < shorter && a.points[prefix] == b.points[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           a.points[a.points.size() - 1 - suffix] == b.points[b.points.size() - 1 - suffix]) {
        ++suffix;
    }
    const std::size_t middle1 = a.points.size() - prefix - suffix;
    const std::size_t middle2 = b.points.size() - prefix - suffix;
    auto wholeMiddle = [&] {
        if (middle1 > 0) {
            ranges1.push_back(
                TextRange{a.offsets[prefix], a.offsets[prefix + middle1] - a.offsets[prefix]});
        }
        if (middle2 > 0) {
            ranges2.push_back(
                TextRange{b.offsets[prefix], b.offsets[prefix + middle2] - b.offsets[prefix]});
        }
    };
    if (middle1 == 0 || middle2 == 0 || std::max(middle1, middle2) > maxLineCharacters ||
        middle1 * middle2 > budget) {
        wholeMiddle();
        return;
    }
    budget -= middle1 * middle2;

    const std::vector<char32_t> sequence1(
        a.points.begin() + static_cast<std::ptrdiff_t>(prefix),
        a.points.begin() + static_cast<std::ptrdiff_t>(prefix + middle1));
    const std::vector<char32_t> sequence2(
        b.points.begin() + static_cast<std::ptrdiff_t>(prefix),
        b.points.begin() + static_cast<std::ptrdiff_t>(prefix + middle2));
    dtl::Diff<char32_t, std::vector<char32_t>> diff(sequence1, sequence2);
    diff.compose();
    std::vector<bool> marked1(middle1, false);
    std::vector<bool> marked2(middle2, false);
    std::size_t common = 0;
    for (const auto& [point, info] : diff.getSes().getSequence()) {
        if (info.type == dtl::SES_DELETE) {
            marked1[static_cast<std::size_t>(info.beforeIdx - 1)] = true;
        } else if (info.type == dtl::SES_ADD) {
            marked2[static_cast<std::size_t>(info.afterIdx - 1)] = true;
        } else {
            ++common;
        }
    }
    if (static_cast<double>(common) <
        kMinCommonShare * static_cast<double>(std::max(middle1, middle2))) {
        wholeMiddle();
        return;
    }
    AppendRanges(a, marked1, prefix, ranges1);
    AppendRanges(b, marked2, prefix, ranges2);
}

}  // namespace

void DiffCharacters(std::string_view line1, std::string_view line2, std::vector<TextRange>& ranges1,
                    std::vector<TextRange>& ranges2, std::size_t maxLineCharacters) {
    std::size_t budget = DiffLimits{}.maxCharacterWork;
    DiffCharactersWithin(line1, line2, ranges1, ranges2, maxLineCharacters, budget);
}

TextDiff DiffTexts(std::string_view text1, std::string_view text2, const DiffLimits& limits) {
    TextDiff result;
    const std::string_view cut1 = CutAtCharacter(text1, limits.maxBytes);
    const std::string_view cut2 = CutAtCharacter(text2, limits.maxBytes);
    result.truncated = cut1.size() < text1.size() || cut2.size() < text2.size();
    result.lines1 = SplitLines(cut1);
    result.lines2 = SplitLines(cut2);
    const auto& lines1 = result.lines1;
    const auto& lines2 = result.lines2;
    std::size_t budget = limits.maxCharacterWork;

    auto same = [&](std::size_t i, std::size_t j) {
        result.rows.push_back(DiffRow{LineChange::Same, i, j, {}, {}});
    };
    // A run of removed lines `removed` and added lines `added`: pairs first,
    // then what is left of the longer side.
    auto changes = [&](const std::vector<std::size_t>& removed,
                       const std::vector<std::size_t>& added) {
        const std::size_t pairs = std::min(removed.size(), added.size());
        for (std::size_t k = 0; k < pairs; ++k) {
            DiffRow row{LineChange::Changed, removed[k], added[k], {}, {}};
            DiffCharactersWithin(lines1[removed[k]], lines2[added[k]], row.ranges1, row.ranges2,
                                 limits.maxLineCharacters, budget);
            result.rows.push_back(std::move(row));
        }
        for (std::size_t k = pairs; k < removed.size(); ++k) {
            result.rows.push_back(DiffRow{LineChange::Only1, removed[k], std::nullopt, {}, {}});
        }
        for (std::size_t k = pairs; k < added.size(); ++k) {
            result.rows.push_back(DiffRow{LineChange::Only2, std::nullopt, added[k], {}, {}});
        }
    };

    std::size_t prefix = 0;
    const std::size_t shorter = std::min(lines1.size(), lines2.size());
    while (prefix < shorter && lines1[prefix] == lines2[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           lines1[lines1.size() - 1 - suffix] == lines2[lines2.size() - 1 - suffix]) {
        ++suffix;
    }
    for (std::size_t k = 0; k < prefix; ++k) {
        same(k, k);
    }
    const std::size_t end1 = lines1.size() - suffix;
    const std::size_t end2 = lines2.size() - suffix;
    const std::vector<std::string_view> middle1(
        lines1.begin() + static_cast<std::ptrdiff_t>(prefix),
        lines1.begin() + static_cast<std::ptrdiff_t>(end1));
    const std::vector<std::string_view> middle2(
        lines2.begin() + static_cast<std::ptrdiff_t>(prefix),
        lines2.begin() + static_cast<std::ptrdiff_t>(end2));
    const std::size_t total = middle1.size() + middle2.size();
    std::vector<std::size_t> removed;
    std::vector<std::size_t> added;
    if (middle1.empty() || middle2.empty() ||
        total * (total - 2 * CommonLines(middle1, middle2)) > kMaxLineWork) {
        // One side has nothing here, or the two too little in common: the
        // lines are paired in order.
        for (std::size_t k = prefix; k < end1; ++k) {
            removed.push_back(k);
        }
        for (std::size_t k = prefix; k < end2; ++k) {
            added.push_back(k);
        }
    } else {
        dtl::Diff<std::string_view, std::vector<std::string_view>> diff(middle1, middle2);
        diff.compose();
        for (const auto& [line, info] : diff.getSes().getSequence()) {
            if (info.type == dtl::SES_DELETE) {
                removed.push_back(prefix + static_cast<std::size_t>(info.beforeIdx - 1));
            } else if (info.type == dtl::SES_ADD) {
                added.push_back(prefix + static_cast<std::size_t>(info.afterIdx - 1));
            } else {
                changes(removed, added);
                removed.clear();
                added.clear();
                same(prefix + static_cast<std::size_t>(info.beforeIdx - 1),
                     prefix + static_cast<std::size_t>(info.afterIdx - 1));
            }
        }
    }
    changes(removed, added);
    for (std::size_t k = 0; k < suffix; ++k) {
        same(end1 + k, end2 + k);
    }
    return result;
}

std::optional<std::uint64_t> FirstDifference(const std::vector<std::uint8_t>& bytes1,
                                             const std::vector<std::uint8_t>& bytes2) {
    const auto [at1, at2] =
        std::mismatch(bytes1.begin(), bytes1.end(), bytes2.begin(), bytes2.end());
    if (at1 == bytes1.end() && at2 == bytes2.end()) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(at1 - bytes1.begin());
}

namespace {

// Where byte `column` of a hexadecimal line starts, and where its character is:
// "OOOOOOOO  hh hh ... hh  |cccccccccccccccc|".
constexpr std::size_t kOffsetWidth = 8;
constexpr std::size_t HexColumn(std::size_t column) {
    return kOffsetWidth + 2 + 3 * column;
}
constexpr std::size_t CharacterColumn(std::size_t column) {
    return HexColumn(kHexBytesPerLine) + 2 + column;
}

std::string HexLine(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t end) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%08zX", offset);
    std::string line(buffer);
    line += "  ";
    std::string characters;
    for (std::size_t column = 0; column < kHexBytesPerLine; ++column) {
        if (offset + column < end) {
            const std::uint8_t byte = bytes[offset + column];
            std::snprintf(buffer, sizeof buffer, "%02X ", byte);
            line += buffer;
            characters += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
        } else {
            line += "   ";
        }
    }
    line += " |" + characters + "|";
    return line;
}

}  // namespace

std::vector<std::string> HexLines(const std::vector<std::uint8_t>& bytes, std::size_t maxBytes) {
    const std::size_t end = std::min(bytes.size(), maxBytes);
    std::vector<std::string> lines;
    lines.reserve((end + kHexBytesPerLine - 1) / kHexBytesPerLine);
    for (std::size_t offset = 0; offset < end; offset += kHexBytesPerLine) {
        lines.push_back(HexLine(bytes, offset, end));
    }
    return lines;
}

BinaryDiff DiffBytes(const std::vector<std::uint8_t>& bytes1,
                     const std::vector<std::uint8_t>& bytes2, const DiffLimits& limits) {
    BinaryDiff result;
    result.size1 = bytes1.size();
    result.size2 = bytes2.size();
    result.firstDifference = FirstDifference(bytes1, bytes2);
    TextDiff& diff = result.lines;
    diff.lines1 = HexLines(bytes1, limits.maxBytes);
    diff.lines2 = HexLines(bytes2, limits.maxBytes);
    diff.truncated = bytes1.size() > limits.maxBytes || bytes2.size() > limits.maxBytes;
    const std::size_t end1 = std::min(bytes1.size(), limits.maxBytes);
    const std::size_t end2 = std::min(bytes2.size(), limits.maxBytes);

    const std::size_t rows = std::max(diff.lines1.size(), diff.lines2.size());
    for (std::size_t k = 0; k < rows; ++k) {
        const bool has1 = k < diff.lines1.size();
        const bool has2 = k < diff.lines2.size();
        if (!has1 || !has2) {
            diff.rows.push_back(DiffRow{has1 ? LineChange::Only1 : LineChange::Only2,
                                        has1 ? std::optional<std::size_t>(k) : std::nullopt,
                                        has2 ? std::optional<std::size_t>(k) : std::nullopt,
                                        {},
                                        {}});
            continue;
        }
        DiffRow row{LineChange::Same, k, k, {}, {}};
        for (std::size_t column = 0; column < kHexBytesPerLine; ++column) {
            const std::size_t offset = k * kHexBytesPerLine + column;
            const bool in1 = offset < end1;
            const bool in2 = offset < end2;
            if (!in1 && !in2) {
                break;
            }
            if (in1 && in2 && bytes1[offset] == bytes2[offset]) {
                continue;
            }
            row.change = LineChange::Changed;
            if (in1) {
                row.ranges1.push_back(TextRange{HexColumn(column), 2});
            }
            if (in2) {
                row.ranges2.push_back(TextRange{HexColumn(column), 2});
            }
        }
        // The character column repeats the marks of the hexadecimal one.
        for (auto* ranges : {&row.ranges1, &row.ranges2}) {
            const std::size_t marks = ranges->size();
            for (std::size_t m = 0; m < marks; ++m) {
                const std::size_t column = ((*ranges)[m].begin - HexColumn(0)) / 3;
                ranges->push_back(TextRange{CharacterColumn(column), 1});
            }
        }
        diff.rows.push_back(std::move(row));
    }
    return result;
}

}  // namespace kesmark
