#pragma once

// Side-by-side differences of two values, for a reader who wants to see
// where they differ: texts line by line, with the changed characters inside
// each changed line, and byte arrays as hexadecimal lines aligned by offset
// with the differing bytes and the first differing offset. The window's
// difference pane and the HTML report show these; nothing here knows how.
//
// Lines are found with the O(NP) shortest-edit-script algorithm of Wu,
// Manber and Myers (the dtl library), after the common first and last lines
// are set aside; characters are compared as Unicode code points, so a
// change never splits a UTF-8 sequence. Inputs beyond the limits below are
// compared up to the limit and the result says so: the cost of a
// comparison never grows past them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesmark {

// A run of changed characters in one line: byte offset and byte length in the
// line's UTF-8 text.
struct TextRange {
    std::size_t begin = 0;
    std::size_t length = 0;
    friend bool operator==(const TextRange&, const TextRange&) = default;
};

enum class LineChange {
    Same,     // the line is on both sides, unchanged
    Changed,  // a line of side 1 replaced by a line of side 2
    Only1,    // a line on side 1 only (removed)
    Only2,    // a line on side 2 only (added)
};

// One row of the side-by-side view: a line of each side, or of one side
// only. For Changed rows the ranges mark the characters that differ.
struct DiffRow {
    LineChange change = LineChange::Same;
    std::optional<std::size_t> line1;  // index into TextDiff::lines1
    std::optional<std::size_t> line2;  // index into TextDiff::lines2
    std::vector<TextRange> ranges1;
    std::vector<TextRange> ranges2;
    friend bool operator==(const DiffRow&, const DiffRow&) = default;
};

struct TextDiff {
    std::vector<std::string> lines1;
    std::vector<std::string> lines2;
    std::vector<DiffRow> rows;  // in reading order, every line of each side once
    bool truncated = false;     // a side was longer than the limit and was cut
    // True when no row differs.
    bool Same() const;
    // The number of rows that are not Same.
    std::size_t ChangedRows() const;
};

struct DiffLimits {
    // Bytes of each side taken into the comparison (the rest is not shown).
    std::size_t maxBytes = 128 * 1024;
    // Longest pair of lines (in code points, after their common start and end
    // are set aside) compared character by character; a longer changed middle
    // is marked as one range.
    std::size_t maxLineCharacters = 4000;
    // The character comparisons of one text together: the sum, over the
    // changed pairs, of the product of their middles' lengths. Pairs past it
    // are marked as one range each.
    std::size_t maxCharacterWork = 32'000'000;
};

// The lines of a text: split at "\n", "\r\n" and "\r", the separators left
// out. An empty text has no lines; a text ending with a separator has no
// empty last line ("a\n" is one line, "a\n\n" two).
std::vector<std::string> SplitLines(std::string_view text);

// Compares two texts line by line and, within each pair of changed lines,
// character by character. Within a run of removed and added lines, the k-th
// removed line is paired with the k-th added line (a Changed row); the rest
// are Only1 or Only2 rows.
//
//   DiffTexts("a\nb\nc", "a\nB\nc") -> rows Same, Changed{ranges1 {0,1},
//   ranges2 {0,1}}, Same
TextDiff DiffTexts(std::string_view text1, std::string_view text2, const DiffLimits& limits = {});

// The changed characters of two lines: byte ranges in each. Equal lines give
// no ranges; a pair with little in common gives its whole differing middle.
void DiffCharacters(std::string_view line1, std::string_view line2, std::vector<TextRange>& ranges1,
                    std::vector<TextRange>& ranges2, std::size_t maxLineCharacters = 4000);

// Bytes per line of a hexadecimal view.
inline constexpr std::size_t kHexBytesPerLine = 16;

// Two byte arrays as hexadecimal lines, aligned by offset:
// "00000010  41 42 43 ..  |ABC.............|". The ranges of a Changed row
// mark each byte that differs from the other side's byte at the same offset
// (or has none there), in both the hexadecimal and the character column.
struct BinaryDiff {
    TextDiff lines;
    std::optional<std::uint64_t> firstDifference;  // offset; none when equal
    std::uint64_t size1 = 0;
    std::uint64_t size2 = 0;
};

BinaryDiff DiffBytes(const std::vector<std::uint8_t>& bytes1,
                     const std::vector<std::uint8_t>& bytes2, const DiffLimits& limits = {});

// The offset of the first byte that differs, counting a byte present on one
// side only; none when the arrays are equal.
std::optional<std::uint64_t> FirstDifference(const std::vector<std::uint8_t>& bytes1,
                                             const std::vector<std::uint8_t>& bytes2);

// The hexadecimal lines of one byte array (at most `maxBytes` of it).
std::vector<std::string> HexLines(const std::vector<std::uint8_t>& bytes,
                                  std::size_t maxBytes = 128 * 1024);

}  // namespace kesmark
