#pragma once

// Small readings of the statements SQLite keeps in sqlite_schema, for the
// parts of an index that no pragma reports: the text of key expressions and
// the condition of a partial index. The statements are SQLite's own (they
// parsed when the schema was created), so a light tokenizer is enough: it
// knows quoted identifiers ("x", [x], `x`), string literals, comments and
// parentheses, nothing of the grammar beyond that.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kesmark::sqlite {

struct CreateIndexParts {
    // One entry per indexed column, in order: the column or expression as
    // written, without its COLLATE clause and ASC/DESC ("lower(Name)").
    std::vector<std::string> keys;
    // The WHERE condition of a partial index as written; empty when none.
    std::string condition;
};

// Splits a CREATE INDEX statement into its keys and condition. Returns
// nullopt when the statement has no parenthesised column list.
// Example: `CREATE INDEX i ON t(lower(a) COLLATE NOCASE DESC, b) WHERE b > 0`
// gives keys {"lower(a)", "b"} and condition "b > 0".
std::optional<CreateIndexParts> SplitCreateIndex(std::string_view sql);

// True when `condition` is nothing but terms "X IS NOT NULL", "X NOT NULL" or
// "X NOTNULL" joined by AND, and every name of `columns` is such an X
// (names compared ignoring ASCII case; X may be quoted). Such a partial index
// leaves out exactly the rows with a Null key.
bool ConditionExcludesNulls(std::string_view condition, const std::vector<std::string>& columns);

// Every word, quoted name and string of a statement, without its quotes:
// all that could name a table or view in it (SQLite takes a string where a
// name is expected). Keywords and column names come too.
std::vector<std::string> SqlIdentifiers(std::string_view sql);

}  // namespace kesmark::sqlite
