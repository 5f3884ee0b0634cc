#include "engine/model/connect_string.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "engine/model/text.h"

namespace kesmark {

bool IsOdbcConnectString(const std::string& text) {
    return text.size() >= 5 && FoldAsciiCase(text.substr(0, 5)) == "odbc;";
}

namespace {

// One ";"-separated part of a connect string: its text, and for a password
// ("PWD=" or "Password=", any case) where its value starts.
struct Part {
    std::string text;
    std::size_t valueStart = std::string::npos;  // npos: not a password
};

std::vector<Part> SplitParts(const std::string& text) {
    std::vector<Part> parts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        auto end = text.find(';', pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        // A braced value ("PWD={a;b}", "}}" standing for "}") may hold
        // semicolons: the part runs on to the first one after the brace.
        const auto equals = text.find('=', pos);
        if (equals < end) {
            const auto valueStart = text.find_first_not_of(' ', equals + 1);
            if (valueStart != std::string::npos && text[valueStart] == '{') {
                std::size_t close = valueStart + 1;
                while (close < text.size()) {
                    const bool doubled = close + 1 < text.size() && text[close + 1] == '}';
                    if (text[close] == '}' && !doubled) {
                        break;
                    }
                    close += text[close] == '}' ? 2 : 1;
                }
                end = std::min(text.find(';', close), text.size());
            }
        }
        Part part{text.substr(pos, end - pos)};
        const auto eq = part.text.find('=');
        std::string key = eq == std::string::npos ? "" : FoldAsciiCase(part.text.substr(0, eq));
        while (!key.empty() && key.front() == ' ') {
            key.erase(0, 1);
        }
        while (!key.empty() && key.back() == ' ') {
            key.pop_back();
        }
        if (key == "pwd" || key == "password") {
            part.valueStart = eq + 1;
        }
        parts.push_back(std::move(part));
        pos = end + 1;
    }
    return parts;
}

// The parts joined again; `endsWithSeparator` restores a final ";".
std::string Join(const std::vector<Part>& parts, bool endsWithSeparator) {
    std::string out;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        out += parts[k].text;
        if (k + 1 < parts.size() || endsWithSeparator) {
            out += ';';
        }
    }
    return out;
}

constexpr std::string_view kMask = "***";

}  // namespace

std::string MaskPasswords(const std::string& text) {
    auto parts = SplitParts(text);
    for (auto& part : parts) {
        if (part.valueStart != std::string::npos) {
            part.text = part.text.substr(0, part.valueStart) + std::string(kMask);
        }
    }
    return Join(parts, !text.empty() && text.back() == ';' && !parts.empty());
}

std::string RestorePasswords(const std::string& masked, const std::string& original) {
    std::vector<std::string> passwords;
    for (const auto& part : SplitParts(original)) {
        if (part.valueStart != std::string::npos) {
            passwords.push_back(part.text.substr(part.valueStart));
        }
    }
    auto parts = SplitParts(masked);
    std::size_t n = 0;
    for (auto& part : parts) {
        if (part.valueStart == std::string::npos) {
            continue;
        }
        if (part.text.substr(part.valueStart) == kMask && n < passwords.size()) {
            part.text = part.text.substr(0, part.valueStart) + passwords[n];
        }
        ++n;
    }
    return Join(parts, !masked.empty() && masked.back() == ';' && !parts.empty());
}

}  // namespace kesmark
