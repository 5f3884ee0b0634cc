#pragma once

// Saved queries of an Access file: the rows of MSysQueries that define one
// query, and the query rebuilt from them as Access shows it (its DAO type,
// its SQL text, its output columns and its parameters). Runs inside the
// reader process; RebuildQuery itself reads no file.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kesmark::access {

// MSysQueries.Attribute: what one row of a query definition says.
enum class QueryAttribute : std::uint8_t {
    kStart = 0,
    kType = 1,         // Flag: the query type (QueryKind)
    kParameter = 2,    // Name1: name; Flag: DAO data type
    kSelectFlags = 3,  // Flag: SelectFlag bits; Name1: the TOP count
    kTable = 5,        // Name1: table or query; Name2: alias; Expression: a union part
    kColumn = 6,       // Expression; Name1: alias (action queries: target column)
    kJoin = 7,         // Name1 JOIN Name2 ON Expression; Flag: 1 inner, 2 left, 3 right
    kWhere = 8,
    kGroupBy = 9,
    kHaving = 10,
    kOrderBy = 11,  // Name1 "D": descending
    kEnd = 255,
};

// One row of MSysQueries. Null columns are empty optionals.
struct QueryRow {
    std::uint8_t attribute = 0;
    std::vector<std::uint8_t> order;  // the rows' order within one attribute
    std::optional<std::string> name1;
    std::optional<std::string> name2;
    std::optional<std::string> expression;
    std::optional<int> flag;
};

// One output column of a query. `sourceTable`/`sourceField` are set when the
// column is a plain column of one source (aliases resolved), else empty.
struct QueryOutput {
    std::string name;
    std::string sourceTable;
    std::string sourceField;
};

struct QueryParameter {
    std::string name;
    int type = 0;  // DAO data type code
};

// A query rebuilt from its rows.
struct RebuiltQuery {
    int type = 0;  // DAO QueryDef.Type: dbQSelect 0, dbQCrosstab 16, ...
    bool returnsRecords = true;
    std::string sql;  // as Access shows it: clauses on lines of their own, ending ";"
    std::vector<QueryOutput> fields;
    std::vector<QueryParameter> parameters;
};

// Rebuilds one query from all its rows (any order; they are sorted here by
// attribute and Order). Never throws for odd rows: an unknown query type
// gives a select query, rows it does not know are left out.
RebuiltQuery RebuildQuery(std::vector<QueryRow> rows);

// A table, query, alias or parameter name as it appears in SQL text: bare
// when it is a plain identifier, else in square brackets.
std::string SqlName(const std::string& name);

}  // namespace kesmark::access
