#pragma once

// A line diff of two texts with the changed characters of each changed line,
// for showing a long value (a query's SQL, a memo) of two databases side by
// side. Plain data in, plain data out: any view (the HTML report, a window's
// pane) draws it as it likes.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kesmark {

// One line of a side-by-side diff.
struct DiffLine {
    enum class Kind {
        Same,     // the line is in both texts
        Removed,  // a line of text 1 only
        Added,    // a line of text 2 only
        Changed,  // a line of text 1 replaced by a line of text 2
    };
    Kind kind = Kind::Same;
    std::size_t line1 = 0;  // line number in text 1, from 1; 0 for Added
    std::size_t line2 = 0;  // line number in text 2, from 1; 0 for Removed
    std::string text1;      // without its line break; empty for Added
    std::string text2;      // without its line break; empty for Removed
    // For Changed lines: the byte ranges [first, second) of text1 and text2
    // that differ, at character boundaries, in order.
    std::vector<std::pair<std::size_t, std::size_t>> changed1;
    std::vector<std::pair<std::size_t, std::size_t>> changed2;
};

struct TextDiff {
    std::vector<DiffLine> lines;
    // True when the texts were longer than kMaxDiffBytes and only their
    // first kMaxDiffBytes were compared.
    bool cut = false;
};

// The most of each text that is compared, in bytes.
inline constexpr std::size_t kMaxDiffBytes = 256 * 1024;
// Lines longer than this are marked changed as a whole, without a
// character diff.
inline constexpr std::size_t kMaxCharacterDiffBytes = 4096;

// The diff of two texts, split into lines at LF (a CR before it is dropped).
// Runs of removed lines followed by added lines are paired into Changed
// lines, the k-th removed with the k-th added; what is left over stays
// Removed or Added.
TextDiff DiffTexts(std::string_view text1, std::string_view text2);

}  // namespace kesmark
