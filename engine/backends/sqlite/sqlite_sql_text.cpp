#include "engine/backends/sqlite/sqlite_sql_text.h"

#include <algorithm>

#include "engine/model/object_tree.h"

namespace kesmark::sqlite {

namespace {

enum class TokenKind { Word, QuotedName, String, Symbol };

struct Token {
    TokenKind kind;
    std::size_t begin;  // byte offsets into the statement
    std::size_t end;
    std::string value;  // a word or a name without its quotes; the symbol
};

bool IsWordByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c >= 0x80;
}

// The tokens of `sql`, comments and white space left out. An unterminated
// quote or comment runs to the end of the text.
std::vector<Token> Tokenize(std::string_view sql) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(sql[i]);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
            ++i;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            const auto eol = sql.find('\n', i);
            i = eol == std::string_view::npos ? n : eol + 1;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            const auto close = sql.find("*/", i + 2);
            i = close == std::string_view::npos ? n : close + 2;
        } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
            const char closing = c == '[' ? ']' : static_cast<char>(c);
            std::string value;
            std::size_t j = i + 1;
            while (j < n) {
                if (sql[j] == closing) {
                    if (closing != ']' && j + 1 < n && sql[j + 1] == closing) {
                        value += closing;
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += sql[j++];
            }
            tokens.push_back(
                {c == '\'' ? TokenKind::String : TokenKind::QuotedName, i, j, std::move(value)});
            i = j;
        } else if (IsWordByte(c)) {
            std::size_t j = i;
            while (j < n && IsWordByte(static_cast<unsigned char>(sql[j]))) {
                ++j;
            }
            tokens.push_back({TokenKind::Word, i, j, std::string(sql.substr(i, j - i))});
            i = j;
        } else {
            tokens.push_back({TokenKind::Symbol, i, i + 1, std::string(1, sql[i])});
            ++i;
        }
    }
    return tokens;
}

bool IsKeyword(const Token& token, std::string_view keyword) {
    return token.kind == TokenKind::Word && FoldAsciiCase(token.value) == FoldAsciiCase(keyword);
}

bool IsSymbol(const Token& token, char symbol) {
    return token.kind == TokenKind::Symbol && token.value[0] == symbol;
}

// The statement text covered by tokens [first, last).
std::string TextOf(std::string_view sql, const std::vector<Token>& tokens, std::size_t first,
                   std::size_t last) {
    if (first >= last) {
        return {};
    }
    return std::string(sql.substr(tokens[first].begin, tokens[last - 1].end - tokens[first].begin));
}

// Splits tokens [first, last) at the top-level tokens for which `isSeparator`
// holds; returns [begin, end) pairs.
template <class Predicate>
std::vector<std::pair<std::size_t, std::size_t>> SplitTopLevel(const std::vector<Token>& tokens,
                                                               std::size_t first, std::size_t last,
                                                               Predicate isSeparator) {
    std::vector<std::pair<std::size_t, std::size_t>> parts;
    int depth = 0;
    std::size_t start = first;
    for (std::size_t i = first; i < last; ++i) {
        if (IsSymbol(tokens[i], '(')) {
            ++depth;
        } else if (IsSymbol(tokens[i], ')')) {
            --depth;
        } else if (depth == 0 && isSeparator(tokens[i])) {
            parts.emplace_back(start, i);
            start = i + 1;
        }
    }
    parts.emplace_back(start, last);
    return parts;
}

}  // namespace

std::optional<CreateIndexParts> SplitCreateIndex(std::string_view sql) {
    const auto tokens = Tokenize(sql);
    // Names cannot hold a bare parenthesis, so the first one opens the list.
    const auto open =
        std::find_if(tokens.begin(), tokens.end(), [](const Token& t) { return IsSymbol(t, '('); });
    if (open == tokens.end()) {
        return std::nullopt;
    }
    const std::size_t first = static_cast<std::size_t>(open - tokens.begin()) + 1;
    std::size_t close = first;
    for (int depth = 1; close < tokens.size(); ++close) {
        if (IsSymbol(tokens[close], '(')) {
            ++depth;
        } else if (IsSymbol(tokens[close], ')') && --depth == 0) {
            break;
        }
    }
    if (close >= tokens.size()) {
        return std::nullopt;
    }

    CreateIndexParts parts;
    for (auto [begin, end] :
         SplitTopLevel(tokens, first, close, [](const Token& t) { return IsSymbol(t, ','); })) {
        if (end > begin &&
            (IsKeyword(tokens[end - 1], "ASC") || IsKeyword(tokens[end - 1], "DESC"))) {
            --end;
        }
        if (end >= begin + 3 && IsKeyword(tokens[end - 2], "COLLATE")) {
            end -= 2;
        }
        parts.keys.push_back(TextOf(sql, tokens, begin, end));
    }

    std::size_t next = close + 1;
    if (next < tokens.size() && IsKeyword(tokens[next], "WHERE")) {
        std::size_t last = tokens.size();
        while (last > next + 1 && IsSymbol(tokens[last - 1], ';')) {
            --last;
        }
        parts.condition = TextOf(sql, tokens, next + 1, last);
    }
    return parts;
}

bool ConditionExcludesNulls(std::string_view condition, const std::vector<std::string>& columns) {
    const auto tokens = Tokenize(condition);
    if (tokens.empty() || columns.empty()) {
        return false;
    }
    std::vector<std::string> excluded;
    for (const auto& [begin, end] : SplitTopLevel(
             tokens, 0, tokens.size(), [](const Token& t) { return IsKeyword(t, "AND"); })) {
        const std::size_t count = end - begin;
        const Token& name = tokens[begin];
        if (count == 0 || (name.kind != TokenKind::Word && name.kind != TokenKind::QuotedName)) {
            return false;
        }
        auto keywordsAre = [&](std::initializer_list<std::string_view> words) {
            if (count != words.size() + 1) {
                return false;
            }
            std::size_t i = begin + 1;
            for (auto word : words) {
                if (!IsKeyword(tokens[i++], word)) {
                    return false;
                }
            }
            return true;
        };
        if (!keywordsAre({"IS", "NOT", "NULL"}) && !keywordsAre({"NOT", "NULL"}) &&
            !keywordsAre({"NOTNULL"})) {
            return false;
        }
        excluded.push_back(FoldAsciiCase(name.value));
    }
    return std::all_of(columns.begin(), columns.end(), [&](const std::string& column) {
        return std::find(excluded.begin(), excluded.end(), FoldAsciiCase(column)) != excluded.end();
    });
}

std::vector<std::string> SqlIdentifiers(std::string_view sql) {
    std::vector<std::string> names;
    for (auto& token : Tokenize(sql)) {
        if (token.kind != TokenKind::Symbol) {
            names.push_back(std::move(token.value));
        }
    }
    return names;
}

}  // namespace kesmark::sqlite
