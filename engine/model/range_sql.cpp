#include "engine/model/range_sql.h"

#include <algorithm>

#include "engine/model/key_order.h"

namespace kesmark {

std::string RangeSql::Compare(std::string_view op, const std::vector<Value>& key,
                              std::vector<KeyParameter>& parameters) const {
    std::string left;
    std::string right;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
        left += (i ? ", " : "") + terms_[i];
        parameters.push_back({i, i < key.size() ? key[i] : Value()});
        right += (i ? ", ?" : "?") + (numbered_ ? std::to_string(parameters.size()) : "");
    }
    if (terms_.size() == 1) {
        return left + " " + std::string(op) + " " + right;
    }
    return "(" + left + ") " + std::string(op) + " (" + right + ")";
}

std::string RangeSql::RangePredicate(const KeyRange& range,
                                     std::vector<KeyParameter>& parameters) const {
    std::string sql;
    if (!range.after.empty()) {
        sql = Compare(">", range.after, parameters);
    }
    if (!range.upTo.empty()) {
        sql += (sql.empty() ? "" : " AND ") + Compare("<=", range.upTo, parameters);
    }
    return sql;
}

std::string RangeSql::KeyNotNull() const {
    std::string sql;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
        sql += (i ? " AND " : "") + columns_[i] + " IS NOT NULL";
    }
    return sql;
}

std::string RangeSql::Search(const std::vector<std::vector<Value>>& boundaries, std::size_t first,
                             std::size_t last, std::vector<KeyParameter>& parameters) const {
    if (first == last) {
        return std::to_string(first);
    }
    const std::size_t middle = first + (last - first) / 2;
    std::string sql = "CASE WHEN " + Compare("<=", boundaries[middle], parameters) + " THEN ";
    sql += Search(boundaries, first, middle, parameters);
    sql += " ELSE " + Search(boundaries, middle + 1, last, parameters) + " END";
    return sql;
}

std::string RangeSql::PartExpression(const std::vector<std::vector<Value>>& boundaries,
                                     std::vector<KeyParameter>& parameters) const {
    if (terms_.empty()) {
        return "0";
    }
    std::string anyNull;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
        anyNull += (i ? " OR " : "") + columns_[i] + " IS NULL";
    }
    return "CASE WHEN " + anyNull + " THEN -1 ELSE " +
           Search(boundaries, 0, boundaries.size(), parameters) + " END";
}

std::string RangeSql::OrderBy() const {
    std::string sql;
    for (std::size_t i = 0; i < terms_.size(); ++i) {
        sql += (i ? ", " : "") + terms_[i];
    }
    return sql;
}

std::int64_t BoundaryEvery(std::int64_t rows, std::int64_t parts) {
    parts = std::max<std::int64_t>(parts, 1);
    return std::max<std::int64_t>((rows + parts - 1) / parts, 1);
}

std::vector<std::vector<Value>> BoundariesOfSample(std::vector<std::vector<Value>> keys,
                                                   std::int64_t parts) {
    std::vector<std::vector<Value>> boundaries;
    if (parts < 2 || keys.size() < static_cast<std::size_t>(parts)) {
        return boundaries;
    }
    const auto count = static_cast<std::size_t>(parts);
    for (std::size_t j = 1; j < count; ++j) {
        auto& key = keys[j * keys.size() / count - 1];
        if (boundaries.empty() || CompareKeys(boundaries.back(), key) < 0) {
            boundaries.push_back(std::move(key));
        }
    }
    return boundaries;
}

std::string CanonicalPieceSql(std::string_view column, char tag, std::string_view expression) {
    return "CASE WHEN " + std::string(column) + " IS NULL THEN 'N' ELSE '" + std::string(1, tag) +
           "' || " + std::string(expression) + " || ';' END";
}

std::string CanonicalTextPieceSql(std::string_view column, std::string_view expression,
                                  std::string_view lengthFunction) {
    const std::string e(expression);
    return "CASE WHEN " + std::string(column) + " IS NULL THEN 'N' ELSE 't' || CAST(" +
           std::string(lengthFunction) + "(" + e + ") AS TEXT) || ':' || " + e + " END";
}

}  // namespace kesmark
