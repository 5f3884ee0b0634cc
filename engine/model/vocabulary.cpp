#include "engine/model/vocabulary.h"

#include <algorithm>
#include <array>

#include "engine/model/dao.h"
#include "engine/model/text.h"

namespace kesmark::vocabulary {

namespace {

// One rule of a type-name table: a type whose name contains (or is) `part`,
// ASCII letter case ignored, has DAO type `type`.
struct TypeNameRule {
    std::string_view part;
    int type;
};

// SQLite's NUMERIC affinity refined by the usual names, tried in this order.
constexpr std::array<TypeNameRule, 17> kNumericTypeNames = {{
    {"bool", dao::kBoolean},
    {"bit", dao::kBoolean},
    {"timestamp", dao::kTimeStamp},
    {"datetime", dao::kTimeStamp},
    {"date", dao::kDate},
    {"time", dao::kTime},
    {"money", dao::kCurrency},
    {"currency", dao::kCurrency},
    {"varbinary", dao::kVarBinary},
    {"binary", dao::kBinary},
    {"guid", dao::kGuid},
    {"uuid", dao::kGuid},
    {"uniqueidentifier", dao::kGuid},
    {"single", dao::kSingle},
    {"memo", dao::kMemo},
    {"image", dao::kLongBinary},
    {"ole", dao::kLongBinary},
}};

// ODBC SQL data type codes (sql.h, sqlext.h, sqlucode.h) and their DAO types.
struct SqlTypeRule {
    int sqlType;
    int daoType;
};
constexpr std::array<SqlTypeRule, 25> kSqlTypes = {{
    {-7, dao::kBoolean},     // SQL_BIT
    {-6, dao::kByte},        // SQL_TINYINT
    {5, dao::kInteger},      // SQL_SMALLINT
    {4, dao::kLong},         // SQL_INTEGER
    {-5, dao::kBigInt},      // SQL_BIGINT
    {7, dao::kSingle},       // SQL_REAL
    {6, dao::kDouble},       // SQL_FLOAT
    {8, dao::kDouble},       // SQL_DOUBLE
    {3, dao::kDecimal},      // SQL_DECIMAL
    {2, dao::kDecimal},      // SQL_NUMERIC: the same exact number as DECIMAL
    {1, dao::kText},         // SQL_CHAR: text, as a declared CHAR(n) reads in SQLite
    {-8, dao::kText},        // SQL_WCHAR
    {12, dao::kText},        // SQL_VARCHAR
    {-9, dao::kText},        // SQL_WVARCHAR
    {-1, dao::kMemo},        // SQL_LONGVARCHAR
    {-10, dao::kMemo},       // SQL_WLONGVARCHAR
    {-2, dao::kBinary},      // SQL_BINARY
    {-3, dao::kVarBinary},   // SQL_VARBINARY
    {-4, dao::kLongBinary},  // SQL_LONGVARBINARY
    {91, dao::kDate},        // SQL_TYPE_DATE
    {9, dao::kDate},         // SQL_DATE (ODBC 2)
    {92, dao::kTime},        // SQL_TYPE_TIME
    {10, dao::kTime},        // SQL_TIME (ODBC 2)
    {93, dao::kTimeStamp},   // SQL_TYPE_TIMESTAMP
    {11, dao::kTimeStamp},   // SQL_TIMESTAMP (ODBC 2)
}};
constexpr int kSqlGuid = -11;

// PostgreSQL type names whose driver SQL type says less than the name.
constexpr std::array<TypeNameRule, 2> kPostgresTypes = {{
    {"bool", dao::kBoolean},
    {"money", dao::kCurrency},
}};

// Table types spelled otherwise than their lower case.
struct Spelling {
    std::string_view spelled;  // folded to lower case
    std::string_view canonical;
};
constexpr std::array<Spelling, 1> kTableTypes = {{
    {"base table", "table"},
}};

// The engines' names for the current date and time, folded to lower case
// with blanks outside quotes removed.
constexpr std::array<Spelling, 13> kDefaultFunctions = {{
    {"now()", "CURRENT_TIMESTAMP"},
    {"current_timestamp", "CURRENT_TIMESTAMP"},
    {"current_timestamp()", "CURRENT_TIMESTAMP"},
    {"datetime('now')", "CURRENT_TIMESTAMP"},
    {"localtimestamp", "CURRENT_TIMESTAMP"},
    {"date()", "CURRENT_DATE"},
    {"current_date", "CURRENT_DATE"},
    {"current_date()", "CURRENT_DATE"},
    {"date('now')", "CURRENT_DATE"},
    {"time()", "CURRENT_TIME"},
    {"current_time", "CURRENT_TIME"},
    {"time('now')", "CURRENT_TIME"},
    {"localtime", "CURRENT_TIME"},
}};

// A Boolean column's default, folded: true and false in the engines' words.
constexpr std::array<std::string_view, 7> kTrueWords = {"1", "-1", "true", "yes", "on", "t", "y"};
constexpr std::array<std::string_view, 6> kFalseWords = {"0", "false", "no", "off", "f", "n"};

constexpr std::array<std::string_view, 8> kNameProperties = {
    "Name",        "Table",       "ForeignTable",    "ForeignName",
    "SourceTable", "SourceField", "SourceTableName", "Container",
};

constexpr std::array<std::string_view, 2> kGeneratedIndexPrefixes = {"sqlite_autoindex_",
                                                                     "sqlite_rowid"};
constexpr std::array<std::string_view, 2> kGeneratedIndexSuffixes = {"_pkey", "_key"};

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Calls visit(i, depth) for every character outside quoted text, with the
// depth of parentheses it stands in.
template <class Visit>
void ScanOutsideQuotes(std::string_view text, Visit&& visit) {
    int depth = 0;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote) {
            if (c == quote) {
                if (i + 1 < text.size() && text[i + 1] == quote) {
                    ++i;  // a doubled quote stands for itself
                } else {
                    quote = 0;
                }
            }
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            continue;
        }
        if (c == '(') {
            ++depth;
        }
        if (!visit(i, depth)) {
            return;
        }
        if (c == ')') {
            --depth;
        }
    }
}

// True when the opening parenthesis at the start closes at the very end.
bool WrappedInParentheses(std::string_view text) {
    if (text.size() < 2 || text.front() != '(' || text.back() != ')') {
        return false;
    }
    bool whole = true;
    ScanOutsideQuotes(text, [&](std::size_t i, int depth) {
        if (text[i] == ')' && depth == 1 && i + 1 < text.size()) {
            whole = false;
            return false;
        }
        return true;
    });
    return whole;
}

// The text before the first "::" that stands outside quotes and parentheses.
std::string_view WithoutCast(std::string_view text) {
    std::size_t cut = std::string_view::npos;
    ScanOutsideQuotes(text, [&](std::size_t i, int depth) {
        if (depth == 0 && text[i] == ':' && i + 1 < text.size() && text[i + 1] == ':') {
            cut = i;
            return false;
        }
        return true;
    });
    return cut == std::string_view::npos ? text : Trim(text.substr(0, cut));
}

// Strips casts, outer parentheses and Access's "=" until none is left.
std::string_view Bare(std::string_view text) {
    text = Trim(text);
    if (!text.empty() && text.front() == '=') {
        text = Trim(text.substr(1));
    }
    for (;;) {
        const std::string_view before = text;
        text = WithoutCast(text);
        if (WrappedInParentheses(text)) {
            text = Trim(text.substr(1, text.size() - 2));
        }
        if (text == before) {
            return text;
        }
    }
}

// The content of a literal quoted with `quote` at both ends, its doubled
// quotes undone; nullopt when `text` is not one such literal.
std::optional<std::string> Unquoted(std::string_view text, char quote) {
    if (text.size() < 2 || text.front() != quote || text.back() != quote) {
        return std::nullopt;
    }
    std::string content;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] == quote) {
            if (i + 2 < text.size() && text[i + 1] == quote) {
                content += quote;
                ++i;
                continue;
            }
            return std::nullopt;  // the literal ends before the text does
        }
        content += text[i];
    }
    return content;
}

std::string SingleQuoted(std::string_view content) {
    std::string quoted = "'";
    for (const char c : content) {
        quoted += c;
        if (c == '\'') {
            quoted += '\'';
        }
    }
    return quoted + "'";
}

bool IsNumericDaoType(int daoType) {
    switch (daoType) {
        case dao::kByte:
        case dao::kInteger:
        case dao::kLong:
        case dao::kCurrency:
        case dao::kSingle:
        case dao::kDouble:
        case dao::kBigInt:
        case dao::kNumeric:
        case dao::kDecimal:
        case dao::kFloat:
            return true;
        default:
            return false;
    }
}

// Lower case, blanks outside quoted text removed: "Datetime( 'now' )" reads
// "datetime('now')".
std::string FoldedWithoutBlanks(std::string_view text) {
    std::string folded;
    char quote = 0;
    for (const char c : text) {
        if (quote) {
            folded += c;
            if (c == quote) {
                quote = 0;
            }
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
        }
        if (c != ' ' && c != '\t') {
            folded += c;
        }
    }
    return FoldAsciiCase(folded);
}

}  // namespace

bool IsNumberText(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        ++i;
    }
    bool digits = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digits = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

int DaoTypeFromDeclaredType(std::string_view declaredType) {
    const std::string t = FoldAsciiCase(declaredType);
    auto has = [&](std::string_view part) { return Contains(t, part); };
    // SQLite's affinity rules, in their order: INTEGER, TEXT, BLOB, REAL,
    // then NUMERIC for everything else; each refined by the usual names.
    if (has("int")) {
        if (has("big") || has("int8")) {
            return dao::kBigInt;
        }
        if (has("smallint") || has("int2")) {
            return dao::kInteger;
        }
        if (has("tinyint")) {
            return dao::kByte;
        }
        return dao::kLong;
    }
    if (has("char") || has("clob") || has("text")) {
        const bool unbounded = has("clob") || (has("text") && !has("("));
        return unbounded ? dao::kMemo : dao::kText;
    }
    if (t.empty() || has("blob")) {
        return dao::kLongBinary;
    }
    if (has("real") || has("floa") || has("doub")) {
        return dao::kDouble;  // SQLite keeps every real number in 8 bytes
    }
    for (const auto& rule : kNumericTypeNames) {
        if (has(rule.part)) {
            return rule.type;
        }
    }
    return dao::kDecimal;
}

int DaoSizeFromDeclaredType(std::string_view declaredType, int daoType) {
    switch (daoType) {
        case dao::kText:
        case dao::kChar:
        case dao::kBinary:
        case dao::kVarBinary: {
            const auto open = declaredType.find('(');
            if (open == std::string_view::npos) {
                return 0;
            }
            int size = 0;
            bool digits = false;
            for (auto i = open + 1; i < declaredType.size(); ++i) {
                const char c = declaredType[i];
                if (c >= '0' && c <= '9') {
                    digits = true;
                    if (size < 100000000) {
                        size = size * 10 + (c - '0');
                    }
                } else if (digits || (c != ' ' && c != '+')) {
                    break;
                }
            }
            return size;
        }
        default:
            return static_cast<int>(DaoSize(daoType, std::nullopt));
    }
}

int DaoTypeFromSqlType(int sqlType) {
    if (sqlType == kSqlGuid) {
        return dao::kGuid;
    }
    for (const auto& rule : kSqlTypes) {
        if (rule.sqlType == sqlType) {
            return rule.daoType;
        }
    }
    return dao::kText;
}

std::optional<int> DaoTypeFromPostgresType(std::string_view typeName) {
    const std::string name = FoldAsciiCase(Trim(typeName));
    for (const auto& rule : kPostgresTypes) {
        if (name == rule.part) {
            return rule.type;
        }
    }
    return std::nullopt;
}

std::int64_t DaoSize(int daoType, std::optional<std::int64_t> columnSize) {
    if (daoType == dao::kDecimal || daoType == dao::kNumeric) {
        return 16;
    }
    if (const int fixed = dao::FixedSize(daoType)) {
        return fixed;
    }
    if (daoType == dao::kMemo || daoType == dao::kLongBinary) {
        return 0;
    }
    return columnSize.value_or(0);
}

bool IsFixedSizeDaoType(int daoType) {
    switch (daoType) {
        case dao::kText:
        case dao::kMemo:
        case dao::kBinary:
        case dao::kVarBinary:
        case dao::kLongBinary:
        case dao::kChar:
            return false;
        default:
            return true;
    }
}

std::string CanonicalTableType(std::string_view spelled) {
    const std::string folded = FoldAsciiCase(Trim(spelled));
    for (const auto& spelling : kTableTypes) {
        if (folded == spelling.spelled) {
            return std::string(spelling.canonical);
        }
    }
    return folded;
}

std::string CanonicalDefault(std::string_view expression, int daoType) {
    const std::string_view bare = Bare(expression);
    const std::string folded = FoldedWithoutBlanks(bare);
    if (bare.empty() || folded == "null") {
        return {};
    }
    if (daoType == dao::kBoolean) {
        std::string word = folded;
        if (const auto content = Unquoted(word, '\'')) {
            word = *content;
        }
        if (std::find(kTrueWords.begin(), kTrueWords.end(), word) != kTrueWords.end()) {
            return "1";
        }
        if (std::find(kFalseWords.begin(), kFalseWords.end(), word) != kFalseWords.end()) {
            return "0";
        }
    }
    for (const auto& function : kDefaultFunctions) {
        if (folded == function.spelled) {
            return std::string(function.canonical);
        }
    }
    if (const auto content = Unquoted(bare, '"')) {
        return SingleQuoted(*content);  // Access writes its strings in double quotes
    }
    if (IsNumericDaoType(daoType)) {
        if (const auto content = Unquoted(bare, '\''); content && IsNumberText(*content)) {
            return *content;
        }
    }
    return std::string(bare);
}

bool IsNumberingDefault(std::string_view expression) {
    return FoldedWithoutBlanks(Trim(expression)).starts_with("nextval(");
}

bool IsGeneratedIndexName(std::string_view name) {
    for (const auto prefix : kGeneratedIndexPrefixes) {
        if (name.starts_with(prefix)) {
            return true;
        }
    }
    for (const auto suffix : kGeneratedIndexSuffixes) {
        if (name.size() > suffix.size() && name.ends_with(suffix)) {
            return true;
        }
    }
    return false;
}

bool IsNameProperty(std::string_view property) {
    return std::find(kNameProperties.begin(), kNameProperties.end(), property) !=
           kNameProperties.end();
}

}  // namespace kesmark::vocabulary
