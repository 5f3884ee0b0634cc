#include "engine/backends/access/access_queries.h"

#include <algorithm>
#include <map>
#include <set>
#include <tuple>

namespace kesmark::access {

namespace {

// MSysQueries type codes (attribute 1's Flag).
enum class QueryKind : int {
    kSelect = 1,
    kMakeTable = 2,
    kAppend = 3,
    kUpdate = 4,
    kDelete = 5,
    kCrosstab = 6,
    kDdl = 7,
    kPassThrough = 8,
    kUnion = 9,
};

// Bits of attribute 3's Flag.
namespace select_flags {
constexpr int kStar = 0x01;
constexpr int kDistinct = 0x02;
constexpr int kOwnerAccess = 0x04;
constexpr int kDistinctRow = 0x08;
constexpr int kTop = 0x10;
constexpr int kPercent = 0x20;
}  // namespace select_flags

// Crosstab columns (attribute 6's Flag); 0 is the value (TRANSFORM).
constexpr int kPivotColumn = 1;
constexpr int kRowHeading = 2;

// DAO QueryDef.Type for a MSysQueries type code.
int DaoQueryType(QueryKind kind) {
    switch (kind) {
        case QueryKind::kSelect:
            return 0;  // dbQSelect
        case QueryKind::kCrosstab:
            return 16;  // dbQCrosstab
        case QueryKind::kDelete:
            return 32;  // dbQDelete
        case QueryKind::kUpdate:
            return 48;  // dbQUpdate
        case QueryKind::kAppend:
            return 64;  // dbQAppend
        case QueryKind::kMakeTable:
            return 80;  // dbQMakeTable
        case QueryKind::kDdl:
            return 96;  // dbQDDL
        case QueryKind::kPassThrough:
            return 112;  // dbQSQLPassThrough
        case QueryKind::kUnion:
            return 128;  // dbQSetOperation
    }
    return 0;
}

// The type name a PARAMETERS clause uses for a DAO data type.
std::string ParameterTypeName(int daoType) {
    switch (daoType) {
        case 1:
            return "Bit";
        case 2:
            return "Byte";
        case 3:
            return "Short";
        case 4:
            return "Long";
        case 5:
            return "Currency";
        case 6:
            return "IEEESingle";
        case 7:
            return "IEEEDouble";
        case 8:
            return "DateTime";
        case 9:
            return "Binary";
        case 10:
            return "Text ( 255 )";
        case 11:
            return "LongBinary";
        case 12:
            return "Memo";
        case 15:
            return "Guid";
        case 16:
            return "BigInt";
        case 20:
            return "Decimal";
        default:
            return "Value";
    }
}

std::string Text(const std::optional<std::string>& s) {
    return s ? *s : std::string();
}

bool IsIdentifierChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// The parts of an expression that is a plain, possibly qualified name
// ("Orders.OrderID", "[Order Details].[UnitPrice]", "[Cost]", "Invoices.*"),
// unbracketed; empty when the expression is anything else.
std::vector<std::string> NameParts(const std::string& expression) {
    std::vector<std::string> parts;
    std::size_t i = 0;
    const std::size_t n = expression.size();
    while (i < n) {
        std::string part;
        if (expression[i] == '[') {
            const auto close = expression.find(']', i + 1);
            if (close == std::string::npos) {
                return {};
            }
            part = expression.substr(i + 1, close - i - 1);
            i = close + 1;
        } else if (expression[i] == '*') {
            part = "*";
            ++i;
        } else {
            const std::size_t start = i;
            while (i < n && IsIdentifierChar(expression[i])) {
                ++i;
            }
            if (i == start) {
                return {};
            }
            part = expression.substr(start, i - start);
        }
        parts.push_back(std::move(part));
        if (i == n) {
            break;
        }
        if (expression[i] != '.' || i + 1 == n) {
            return {};
        }
        ++i;
    }
    return parts;
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        out += (i ? separator : "") + items[i];
    }
    return out;
}

std::string TrimEnd(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n' ||
                          s.back() == '\t' || s.back() == ';')) {
        s.pop_back();
    }
    return s;
}

// The rows of one query by attribute, each list in its stored order.
class QueryRows {
  public:
    explicit QueryRows(std::vector<QueryRow> rows) {
        std::stable_sort(rows.begin(), rows.end(), [](const QueryRow& a, const QueryRow& b) {
            return std::tie(a.attribute, a.order) < std::tie(b.attribute, b.order);
        });
        for (auto& row : rows) {
            byAttribute_[row.attribute].push_back(std::move(row));
        }
    }

    const std::vector<QueryRow>& All(QueryAttribute attribute) const {
        static const std::vector<QueryRow> none;
        const auto it = byAttribute_.find(static_cast<std::uint8_t>(attribute));
        return it == byAttribute_.end() ? none : it->second;
    }
    const QueryRow* First(QueryAttribute attribute) const {
        const auto& all = All(attribute);
        return all.empty() ? nullptr : &all.front();
    }
    std::vector<std::string> Expressions(QueryAttribute attribute) const {
        std::vector<std::string> out;
        for (const auto& row : All(attribute)) {
            if (row.expression) {
                out.push_back(*row.expression);
            }
        }
        return out;
    }

  private:
    std::map<std::uint8_t, std::vector<QueryRow>> byAttribute_;
};

// One table, or tables joined, of a FROM clause.
struct JoinGroup {
    std::string text;  // without the outer parentheses
    std::set<std::string> names;
};

class QueryBuilder {
  public:
    explicit QueryBuilder(std::vector<QueryRow> rows) : rows_(std::move(rows)) {
        const QueryRow* typeRow = rows_.First(QueryAttribute::kType);
        const int code = typeRow && typeRow->flag ? *typeRow->flag : 1;
        kind_ = code >= 1 && code <= 9 ? static_cast<QueryKind>(code) : QueryKind::kSelect;
        typeRow_ = typeRow;
        const QueryRow* flagsRow = rows_.First(QueryAttribute::kSelectFlags);
        selectFlags_ = flagsRow && flagsRow->flag ? *flagsRow->flag : 0;
        topCount_ = flagsRow ? Text(flagsRow->name1) : "";
        for (const auto& table : rows_.All(QueryAttribute::kTable)) {
            if (table.name1) {
                sourceByAlias_[table.name2 ? *table.name2 : *table.name1] = *table.name1;
            }
        }
    }

    RebuiltQuery Build() {
        RebuiltQuery q;
        q.type = DaoQueryType(kind_);
        q.returnsRecords = kind_ == QueryKind::kSelect || kind_ == QueryKind::kCrosstab ||
                           kind_ == QueryKind::kUnion || kind_ == QueryKind::kPassThrough;
        for (const auto& p : rows_.All(QueryAttribute::kParameter)) {
            q.parameters.push_back(QueryParameter{Text(p.name1), p.flag ? *p.flag : 0});
        }
        q.sql = Parameters(q.parameters) + Body() + Ending();
        q.fields = Fields();
        return q;
    }

  private:
    static std::string Parameters(const std::vector<QueryParameter>& parameters) {
        if (parameters.empty()) {
            return "";
        }
        std::vector<std::string> items;
        for (const auto& p : parameters) {
            items.push_back(SqlName(p.name) + " " + ParameterTypeName(p.type));
        }
        return "PARAMETERS " + Join(items, ", ") + ";\r\n";
    }

    std::string Ending() const {
        if (kind_ == QueryKind::kDdl || kind_ == QueryKind::kPassThrough) {
            return "";
        }
        return (selectFlags_ & select_flags::kOwnerAccess ? "\r\nWITH OWNERACCESS OPTION" : "") +
               std::string(";\r\n");
    }

    std::string Body() const {
        switch (kind_) {
            case QueryKind::kDdl:
            case QueryKind::kPassThrough:
                return typeRow_ ? Text(typeRow_->expression) : "";
            case QueryKind::kUnion:
                return Union();
            case QueryKind::kCrosstab:
                return Crosstab();
            case QueryKind::kMakeTable:
                return Select(Columns(false), " INTO " + Target()) + FromOn() + Tail();
            case QueryKind::kAppend:
                return Append();
            case QueryKind::kUpdate:
                return Update();
            case QueryKind::kDelete:
                return "DELETE" + Modifiers() + " " + Join(Columns(false), ", ") + FromOn() +
                       Tail();
            case QueryKind::kSelect:
                break;
        }
        return Select(Columns(false), "") + FromOn() + Tail();
    }

    // The destination of a make-table or append query, with its database.
    std::string Target() const {
        std::string target = typeRow_ ? SqlName(Text(typeRow_->name1)) : "";
        if (typeRow_ && typeRow_->name2 && !typeRow_->name2->empty()) {
            target += " IN '" + *typeRow_->name2 + "'";
        }
        return target;
    }

    std::string Modifiers() const {
        std::string out;
        if (selectFlags_ & select_flags::kDistinct) {
            out += " DISTINCT";
        } else if (selectFlags_ & select_flags::kDistinctRow) {
            out += " DISTINCTROW";
        }
        if (selectFlags_ & select_flags::kTop) {
            out += " TOP " + topCount_;
            if (selectFlags_ & select_flags::kPercent) {
                out += " PERCENT";
            }
        }
        return out;
    }

    std::string Select(std::vector<std::string> columns, const std::string& into) const {
        if (selectFlags_ & select_flags::kStar) {
            columns.insert(columns.begin(), "*");
        }
        return "SELECT" + Modifiers() + " " + Join(columns, ", ") + into;
    }

    static std::string WithAlias(const QueryRow& column) {
        std::string out = Text(column.expression);
        if (column.name1 && !column.name1->empty()) {
            out += " AS " + SqlName(*column.name1);
        }
        return out;
    }

    // Output columns with their aliases; `rowHeadingsOnly` for a crosstab.
    std::vector<std::string> Columns(bool rowHeadingsOnly) const {
        std::vector<std::string> out;
        for (const auto& c : rows_.All(QueryAttribute::kColumn)) {
            if (!rowHeadingsOnly || c.flag.value_or(0) == kRowHeading) {
                out.push_back(WithAlias(c));
            }
        }
        return out;
    }

    std::string Append() const {
        std::vector<std::string> targets;
        std::vector<std::string> values;
        for (const auto& c : rows_.All(QueryAttribute::kColumn)) {
            values.push_back(Text(c.expression));
            const auto& target = c.name2 ? c.name2 : c.name1;
            if (target) {
                targets.push_back(SqlName(*target));
            }
        }
        std::string out = "INSERT INTO " + Target();
        if (!targets.empty()) {
            out += " ( " + Join(targets, ", ") + " )";
        }
        return out + "\r\n" + Select(values, "") + FromOn() + Tail();
    }

    std::string Update() const {
        std::vector<std::string> sets;
        for (const auto& c : rows_.All(QueryAttribute::kColumn)) {
            const auto& target = c.name2 ? c.name2 : c.name1;
            sets.push_back(Text(target ? target : c.expression) + " = " + Text(c.expression));
        }
        std::string out = "UPDATE" + Modifiers() + " " + FromList();
        if (!sets.empty()) {
            out += " SET " + Join(sets, ", ");
        }
        return out + Where();
    }

    std::string Crosstab() const {
        std::string value;
        std::string pivot;
        for (const auto& c : rows_.All(QueryAttribute::kColumn)) {
            const int flag = c.flag.value_or(0);
            if (flag == kPivotColumn && pivot.empty()) {
                pivot = Text(c.expression);
            } else if (flag != kPivotColumn && flag != kRowHeading && value.empty()) {
                value = WithAlias(c);
            }
        }
        std::vector<std::string> groups;
        for (const auto& g : rows_.All(QueryAttribute::kGroupBy)) {
            if (g.flag.value_or(0) != kPivotColumn && g.expression) {
                groups.push_back(*g.expression);
            }
        }
        std::string out = "TRANSFORM " + value + "\r\n" + Select(Columns(true), "") + FromOn() +
                          Where() + Clause("GROUP BY", groups) +
                          Clause("HAVING", rows_.Expressions(QueryAttribute::kHaving)) + OrderBy();
        if (!pivot.empty()) {
            out += "\r\nPIVOT " + pivot;
        }
        return out;
    }

    std::string Union() const {
        std::vector<std::string> parts;
        for (const auto& t : rows_.All(QueryAttribute::kTable)) {
            if (t.expression) {
                parts.push_back(TrimEnd(*t.expression));
            }
        }
        const bool distinct = (selectFlags_ & select_flags::kDistinct) != 0;
        return Join(parts, distinct ? "\r\nUNION " : "\r\nUNION ALL ") + OrderBy();
    }

    static std::string Clause(const std::string& keyword, const std::vector<std::string>& items) {
        return items.empty() ? "" : "\r\n" + keyword + " " + Join(items, ", ");
    }

    std::string Where() const {
        const auto items = rows_.Expressions(QueryAttribute::kWhere);
        return items.empty() ? "" : "\r\nWHERE " + Join(items, " AND ");
    }

    std::string OrderBy() const {
        std::vector<std::string> items;
        for (const auto& o : rows_.All(QueryAttribute::kOrderBy)) {
            if (o.expression) {
                const bool descending = o.name1 && (*o.name1 == "D" || *o.name1 == "d");
                items.push_back(*o.expression + (descending ? " DESC" : ""));
            }
        }
        return Clause("ORDER BY", items);
    }

    // WHERE, GROUP BY, HAVING and ORDER BY.
    std::string Tail() const {
        const auto having = rows_.Expressions(QueryAttribute::kHaving);
        std::string out = Where() + Clause("GROUP BY", rows_.Expressions(QueryAttribute::kGroupBy));
        if (!having.empty()) {
            out += "\r\nHAVING " + Join(having, " AND ");
        }
        return out + OrderBy();
    }

    std::string FromOn() const {
        const auto list = FromList();
        return list.empty() ? "" : "\r\nFROM " + list;
    }

    static std::string SourceText(const QueryRow& table) {
        std::string out = SqlName(Text(table.name1));
        if (table.name2 && !table.name2->empty()) {
            out += " AS " + SqlName(*table.name2);
        }
        return out;
    }

    // The tables and joins of the FROM clause. Each join row joins two
    // sources (tables or groups joined before); a group joined again is
    // put in parentheses, as Access writes it.
    std::string FromList() const {
        std::map<std::string, std::string> sourceText;  // by the name joins use
        for (const auto& t : rows_.All(QueryAttribute::kTable)) {
            if (t.name1) {
                sourceText[t.name2 ? *t.name2 : *t.name1] = SourceText(t);
            }
        }
        std::vector<JoinGroup> groups;
        const auto groupOf = [&groups](const std::string& name) -> int {
            for (std::size_t i = 0; i < groups.size(); ++i) {
                if (groups[i].names.count(name)) {
                    return static_cast<int>(i);
                }
            }
            return -1;
        };
        const auto operand = [&](const std::string& name, int group) {
            if (group >= 0) {
                return "(" + groups[group].text + ")";
            }
            const auto it = sourceText.find(name);
            return it == sourceText.end() ? SqlName(name) : it->second;
        };
        for (const auto& j : rows_.All(QueryAttribute::kJoin)) {
            const std::string left = Text(j.name1);
            const std::string right = Text(j.name2);
            const int flag = j.flag.value_or(1);
            const char* kind = flag == 2   ? " LEFT JOIN "
                               : flag == 3 ? " RIGHT JOIN "
                                           : " INNER JOIN ";
            const int lg = groupOf(left);
            const int rg = groupOf(right);
            if (lg >= 0 && lg == rg) {
                // A further condition between two sources joined already.
                groups[lg].text += " AND (" + Text(j.expression) + ")";
                continue;
            }
            JoinGroup joined;
            joined.text =
                operand(left, lg) + kind + operand(right, rg) + " ON " + Text(j.expression);
            joined.names.insert(left);
            joined.names.insert(right);
            for (const int g : {std::max(lg, rg), std::min(lg, rg)}) {
                if (g >= 0) {
                    joined.names.insert(groups[g].names.begin(), groups[g].names.end());
                    groups.erase(groups.begin() + g);
                }
            }
            groups.push_back(std::move(joined));
        }
        std::vector<std::string> items;
        std::set<int> emitted;
        for (const auto& t : rows_.All(QueryAttribute::kTable)) {
            if (!t.name1) {
                continue;
            }
            const int g = groupOf(t.name2 ? *t.name2 : *t.name1);
            if (g < 0) {
                items.push_back(SourceText(t));
            } else if (emitted.insert(g).second) {
                items.push_back(groups[g].text);
            }
        }
        for (std::size_t g = 0; g < groups.size(); ++g) {
            if (!emitted.count(static_cast<int>(g))) {
                items.push_back(groups[g].text);  // joins of sources the table rows lack
            }
        }
        return Join(items, ", ");
    }

    // The output columns: select, make-table and union queries show their
    // columns, a crosstab its row headings. `*` and `Table.*` stand for
    // columns of their sources and are not listed; an expression without an
    // alias gets the name Access gives it, "Expr1000" and up.
    std::vector<QueryOutput> Fields() const {
        std::vector<QueryOutput> out;
        if (kind_ != QueryKind::kSelect && kind_ != QueryKind::kMakeTable &&
            kind_ != QueryKind::kCrosstab) {
            return out;
        }
        std::set<std::string> seen;
        int unnamed = 0;
        for (const auto& c : rows_.All(QueryAttribute::kColumn)) {
            if (kind_ == QueryKind::kCrosstab && c.flag.value_or(0) != kRowHeading) {
                continue;
            }
            const auto parts = NameParts(Text(c.expression));
            if (!parts.empty() && parts.back() == "*") {
                continue;
            }
            QueryOutput field;
            if (parts.size() == 2) {
                const auto it = sourceByAlias_.find(parts[0]);
                field.sourceTable = it == sourceByAlias_.end() ? parts[0] : it->second;
                field.sourceField = parts[1];
            } else if (parts.size() == 1) {
                field.sourceField = parts[0];
            }
            if (c.name1 && !c.name1->empty()) {
                field.name = *c.name1;
            } else if (!parts.empty()) {
                field.name = parts.back();
            } else {
                field.name = "Expr" + std::to_string(1000 + unnamed++);
            }
            if (seen.insert(field.name).second) {
                out.push_back(std::move(field));
            }
        }
        return out;
    }

    QueryRows rows_;
    QueryKind kind_ = QueryKind::kSelect;
    const QueryRow* typeRow_ = nullptr;
    int selectFlags_ = 0;
    std::string topCount_;
    std::map<std::string, std::string> sourceByAlias_;
};

}  // namespace

std::string SqlName(const std::string& name) {
    const bool plain = !name.empty() && !(name[0] >= '0' && name[0] <= '9') &&
                       std::all_of(name.begin(), name.end(), IsIdentifierChar);
    return plain ? name : "[" + name + "]";
}

RebuiltQuery RebuildQuery(std::vector<QueryRow> rows) {
    return QueryBuilder(std::move(rows)).Build();
}

}  // namespace kesmark::access
