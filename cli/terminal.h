#pragma once

// Text that is safe to put on a terminal, and whether to colour it.

#include <optional>
#include <string>
#include <string_view>

namespace kesmark::cli {

// `text` with everything that could move the cursor, change the terminal's
// state or hide what follows written as a visible escape, so that a name
// always prints as one line of plain characters:
//   line feed, carriage return, tab         \n \r \t
//   other control bytes, DEL, invalid UTF-8  \x1B, \x7F, \xFF
//   C1 controls (U+0080..U+009F), bidirectional and line-separator
//   characters (U+200E, U+200F, U+2028, U+2029, U+202A..U+202E,
//   U+2066..U+2069)                          \u{9B}, \u{202E}
// Everything else, other scripts included, is kept as it is.
std::string SafeText(std::string_view text);

// As SafeText, but line breaks are kept (CR LF and CR become LF), for
// messages of several lines.
std::string SafeLines(std::string_view text);

// When the text output is coloured.
enum class ColourMode { Auto, Always, Never };

// The mode an option value names ("auto", "always", "never"); nullopt for
// anything else.
std::optional<ColourMode> ParseColourMode(std::string_view text);

// Whether to colour: Always and Never say so; Auto colours a terminal unless
// NO_COLOR is set to a non-empty value or TERM is "dumb". `noColour` and
// `term` are the variables' values, null when unset.
bool UseColour(ColourMode mode, bool toTerminal, const char* noColour, const char* term);

// The number of characters a UTF-8 text shows (sequences, not bytes).
std::size_t DisplayWidth(std::string_view text);

}  // namespace kesmark::cli
