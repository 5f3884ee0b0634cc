#include "engine/model/connect_string.h"

#include <algorithm>

#include "engine/model/text.h"

namespace kesmark {

namespace {

constexpr std::string_view kBlanks = " \t";
// Shorter secrets are hidden where they stand as a value, not everywhere they
// occur: "a" would hide every "a" of the text.
constexpr std::size_t kShortestHiddenEverywhere = 4;

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

// A secret word inside an option value: its place in the value.
struct Span {
    std::size_t begin;
    std::size_t end;
    std::string value;
};

// The secret words of a value made of "key=value" words separated by blanks,
// a value in single quotes with "\" escaping the next character (the
// PostgreSQL client library's connection options).
std::vector<Span> SecretWords(std::string_view text) {
    std::vector<Span> spans;
    std::size_t i = 0;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        const std::size_t keyBegin = i;
        while (i < text.size() && text[i] != '=' && !isBlank(text[i])) {
            ++i;
        }
        const std::string_view key = text.substr(keyBegin, i - keyBegin);
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        if (i >= text.size() || text[i] != '=' || key.empty()) {
            ++i;
            continue;
        }
        ++i;
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        Span span{i, i, {}};
        if (i < text.size() && text[i] == '\'') {
            for (++i; i < text.size() && text[i] != '\''; ++i) {
                if (text[i] == '\\' && i + 1 < text.size()) {
                    ++i;
                }
                span.value += text[i];
            }
            i = std::min(i + 1, text.size());
        } else {
            for (; i < text.size() && !isBlank(text[i]); ++i) {
                span.value += text[i];
            }
        }
        span.end = i;
        if (IsSecretKey(key)) {
            spans.push_back(std::move(span));
        }
    }
    return spans;
}

// `value` as it must stand in a connect string to read back as itself.
std::string Encoded(const std::string& value, bool braced) {
    if (!braced) {
        return value;
    }
    std::string out = "{";
    for (const char c : value) {
        out += c;
        if (c == '}') {
            out += '}';
        }
    }
    return out + "}";
}

bool NeedsBraces(const std::string& value) {
    return value.find_first_of(";{}") != std::string::npos ||
           (!value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                               kBlanks.find(value.back()) != std::string_view::npos));
}

}  // namespace

bool IsOdbcConnectString(const std::string& text) {
    return text.size() >= 5 && FoldAsciiCase(text.substr(0, 5)) == "odbc;";
}

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

bool IsSecretKey(std::string_view key) {
    const std::string folded = FoldAsciiCase(Trimmed(key));
    for (const std::string_view word : {"pwd", "passw", "passphrase", "secret", "token"}) {
        if (folded.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> ConnectStringSecrets(std::string_view text) {
    std::vector<std::string> secrets;
    for (const auto& attribute : ConnectAttributes(text)) {
        if (IsSecretKey(attribute.key)) {
            if (!attribute.value.empty()) {
                secrets.push_back(attribute.value);
            }
            continue;
        }
        for (auto& word : SecretWords(attribute.value)) {
            if (!word.value.empty()) {
                secrets.push_back(std::move(word.value));
            }
        }
    }
    return secrets;
}

std::string MaskPasswords(const std::string& text) {
    const auto attributes = ConnectAttributes(text);
    const auto secrets = ConnectStringSecrets(text);
    std::string out;
    std::size_t copied = 0;
    for (const auto& attribute : attributes) {
        std::string replacement;
        if (IsSecretKey(attribute.key) ||
            (!attribute.value.empty() &&
             std::find(secrets.begin(), secrets.end(), attribute.value) != secrets.end())) {
            replacement = "***";
        } else if (const auto words = SecretWords(attribute.value); !words.empty()) {
            std::string value = attribute.value;
            for (auto word = words.rbegin(); word != words.rend(); ++word) {
                value.replace(word->begin, word->end - word->begin, "***");
            }
            const bool braced = text[attribute.valueBegin] == '{';
            replacement = Encoded(value, braced || NeedsBraces(value));
        } else {
            continue;
        }
        out.append(text, copied, attribute.valueBegin - copied);
        out += replacement;
        copied = attribute.valueEnd;
    }
    out.append(text, copied);
    for (const auto& secret : secrets) {
        if (secret.size() < kShortestHiddenEverywhere) {
            continue;
        }
        for (std::size_t pos = 0; (pos = out.find(secret, pos)) != std::string::npos; pos += 3) {
            out.replace(pos, secret.size(), "***");
        }
    }
    return out;
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
    std::string out = connect;
    if (!out.empty() && out.back() != ';') {
        out += ';';
    }
    return out + "PWD=" + Encoded(password, NeedsBraces(password));
}

std::string RestorePasswords(const std::string& masked, const std::string& original) {
    // The secret values of the original as written, braces included.
    std::vector<std::string> secrets;
    for (const auto& attribute : ConnectAttributes(original)) {
        if (IsSecretKey(attribute.key)) {
            secrets.push_back(
                original.substr(attribute.valueBegin, attribute.valueEnd - attribute.valueBegin));
        }
    }
    std::string out;
    std::size_t copied = 0;
    std::size_t n = 0;
    for (const auto& attribute : ConnectAttributes(masked)) {
        if (!IsSecretKey(attribute.key)) {
            continue;
        }
        if (attribute.value == "***" && n < secrets.size()) {
            out.append(masked, copied, attribute.valueBegin - copied);
            out += secrets[n];
            copied = attribute.valueEnd;
        }
        ++n;
    }
    out.append(masked, copied, std::string::npos);
    return out;
}

}  // namespace kesmark
