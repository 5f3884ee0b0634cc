#include "cli/terminal.h"

#include <cstdio>

#include "engine/model/utf8.h"

namespace kesmark::cli {

namespace {

bool IsHiddenCodePoint(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void AppendByteEscape(std::string& out, unsigned char byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02X", byte);
    out += escape;
}

std::string Escape(std::string_view text, bool keepLines) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            ++i;
            if (keepLines && (byte == '\n' || byte == '\r')) {
                if (byte == '\r' && i < text.size() && text[i] == '\n') {
                    ++i;
                }
                out += '\n';
            } else if (byte == '\n') {
                out += "\\n";
            } else if (byte == '\r') {
                out += "\\r";
            } else if (byte == '\t') {
                out += "\\t";
            } else if (byte < 0x20 || byte == 0x7F) {
                AppendByteEscape(out, byte);
            } else {
                out += static_cast<char>(byte);
            }
            continue;
        }
        const std::size_t start = i;
        const char32_t c = DecodeUtf8(text, i);
        const std::string_view sequence = text.substr(start, i - start);
        if (c == kReplacementCharacter && sequence != "\xEF\xBF\xBD") {
            for (const char invalid : sequence) {
                AppendByteEscape(out, static_cast<unsigned char>(invalid));
            }
        } else if (IsHiddenCodePoint(c)) {
            char escape[16];
            std::snprintf(escape, sizeof escape, "\\u{%X}", static_cast<unsigned>(c));
            out += escape;
        } else {
            out.append(sequence);
        }
    }
    return out;
}

}  // namespace

std::string SafeText(std::string_view text) {
    return Escape(text, false);
}

std::string SafeLines(std::string_view text) {
    return Escape(text, true);
}

std::optional<ColourMode> ParseColourMode(std::string_view text) {
    if (text == "auto") {
        return ColourMode::Auto;
    }
    if (text == "always") {
        return ColourMode::Always;
    }
    if (text == "never") {
        return ColourMode::Never;
    }
    return std::nullopt;
}

bool UseColour(ColourMode mode, bool toTerminal, const char* noColour, const char* term) {
    switch (mode) {
        case ColourMode::Always:
            return true;
        case ColourMode::Never:
            return false;
        case ColourMode::Auto:
            break;
    }
    if (noColour && *noColour) {
        return false;
    }
    if (term && std::string_view(term) == "dumb") {
        return false;
    }
    return toTerminal;
}

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++width;
        }
    }
    return width;
}

}  // namespace kesmark::cli
