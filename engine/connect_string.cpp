#include "engine/connect_string.h"

#include <algorithm>

#include "engine/object_tree.h"

namespace kesmark {

namespace {

constexpr std::string_view kBlanks = " \t";

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool IsPasswordKey(std::string_view key) {
    const std::string folded = FoldAsciiCase(key);
    return folded == "pwd" || folded == "password";
}

}  // namespace

std::vector<ConnectAttribute> ConnectAttributes(std::string_view text) {
    std::vector<ConnectAttribute> attributes;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto eq = text.find('=', pos);
        const auto semicolon = text.find(';', pos);
        if (eq == std::string_view::npos || semicolon < eq) {
            if (semicolon == std::string_view::npos) {
                break;
            }
            pos = semicolon + 1;
            continue;
        }
        ConnectAttribute attribute;
        attribute.key = std::string(Trimmed(text.substr(pos, eq - pos)));
        std::size_t valueStart = text.find_first_not_of(kBlanks, eq + 1);
        if (valueStart == std::string_view::npos) {
            valueStart = text.size();
        }
        std::size_t end = 0;
        if (valueStart < text.size() && text[valueStart] == '{') {
            std::size_t i = valueStart + 1;
            for (; i < text.size(); ++i) {
                if (text[i] == '}') {
                    if (i + 1 < text.size() && text[i + 1] == '}') {
                        attribute.value += '}';
                        ++i;
                        continue;
                    }
                    break;
                }
                attribute.value += text[i];
            }
            attribute.valueBegin = valueStart;
            attribute.valueEnd = std::min(i + 1, text.size());
            end = text.find(';', attribute.valueEnd);
        } else {
            end = text.find(';', valueStart);
            const auto raw =
                text.substr(valueStart, end == std::string_view::npos ? std::string_view::npos
                                                                      : end - valueStart);
            attribute.value = std::string(Trimmed(raw));
            attribute.valueBegin = valueStart;
            attribute.valueEnd = valueStart + raw.find_last_not_of(kBlanks) + 1;
            if (attribute.value.empty()) {
                attribute.valueEnd = valueStart;
            }
        }
        attributes.push_back(std::move(attribute));
        if (end == std::string_view::npos) {
            break;
        }
        pos = end + 1;
    }
    return attributes;
}

bool HasPassword(std::string_view text) {
    for (const auto& attribute : ConnectAttributes(text)) {
        if (IsPasswordKey(attribute.key)) {
            return true;
        }
    }
    return false;
}

std::string WithPassword(const std::string& connect, const std::string& password) {
    if (HasPassword(connect)) {
        return connect;
    }
    const bool braced =
        password.find_first_of(";{}") != std::string::npos ||
        (!password.empty() && (kBlanks.find(password.front()) != std::string::npos ||
                               kBlanks.find(password.back()) != std::string::npos));
    std::string value = password;
    if (braced) {
        value.clear();
        for (const char c : password) {
            value += c;
            if (c == '}') {
                value += '}';
            }
        }
        value = "{" + value + "}";
    }
    std::string out = connect;
    if (!out.empty() && out.back() != ';') {
        out += ';';
    }
    return out + "PWD=" + value;
}

}  // namespace kesmark
