#include "engine/model/connect_string.h"

#include <algorithm>

#include "engine/model/text.h"

namespace kesmark {

bool IsOdbcConnectString(const std::string& text) {
    return text.size() >= 5 && FoldAsciiCase(text.substr(0, 5)) == "odbc;";
}

std::string MaskPasswords(const std::string& text) {
    std::string out;
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
        const std::string part = text.substr(pos, end - pos);
        const auto eq = part.find('=');
        std::string key = eq == std::string::npos ? "" : FoldAsciiCase(part.substr(0, eq));
        while (!key.empty() && key.front() == ' ') {
            key.erase(0, 1);
        }
        while (!key.empty() && key.back() == ' ') {
            key.pop_back();
        }
        if (key == "pwd" || key == "password") {
            out += part.substr(0, eq + 1) + "***";
        } else {
            out += part;
        }
        if (end < text.size()) {
            out += ';';
        }
        pos = end + 1;
    }
    return out;
}

}  // namespace kesmark
