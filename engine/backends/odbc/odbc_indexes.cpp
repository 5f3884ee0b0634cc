#include "engine/backends/odbc/odbc_indexes.h"

#include <algorithm>

#include "engine/backends/odbc/odbc_catalog.h"

namespace kesmark::odbc {

namespace {

constexpr std::string_view kPrimaryKeyName = "PrimaryKey";

bool SameNamesIgnoringCase(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size() || a.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<IndexEntry> GatherIndexes(const std::vector<StatisticsRow>& rows,
                                      const Dialect& dialect) {
    std::vector<IndexEntry> list;
    for (const auto& row : rows) {
        auto found = std::find_if(list.begin(), list.end(), [&](const IndexEntry& index) {
            return index.name == row.indexName;
        });
        if (found == list.end()) {
            IndexEntry index;
            index.name = row.indexName;
            index.unique = row.unique;
            index.type = row.type;
            index.condition = row.condition;
            list.push_back(std::move(index));
            found = list.end() - 1;
        }
        IndexKey key;
        key.position = row.position.value_or(static_cast<std::int64_t>(found->keys.size()) + 1);
        key.name =
            row.columnName ? *row.columnName : "(expression " + std::to_string(key.position) + ")";
        key.descending = row.descending;
        found->keys.push_back(std::move(key));
    }
    for (auto& index : list) {
        std::stable_sort(
            index.keys.begin(), index.keys.end(),
            [](const IndexKey& a, const IndexKey& b) { return a.position < b.position; });
        dialect.RenameIndex(index.name, index.type);
    }
    return list;
}

PrimaryKey GatherPrimaryKey(const std::vector<PrimaryKeysRow>& rows) {
    std::vector<std::pair<std::int64_t, std::string>> columns;
    PrimaryKey key;
    for (const auto& row : rows) {
        columns.emplace_back(row.sequence, row.columnName);
        if (key.name.empty()) {
            key.name = row.keyName;
        }
    }
    std::stable_sort(columns.begin(), columns.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& column : columns) {
        key.columns.push_back(column.second);
    }
    return key;
}

std::vector<std::string> KeyColumns(const IndexEntry& index) {
    std::vector<std::string> names;
    for (const auto& key : index.keys) {
        names.push_back(key.name);
    }
    return names;
}

void MarkPrimaryKey(std::vector<IndexEntry>& indexes, const PrimaryKey& key) {
    if (key.columns.empty()) {
        return;
    }
    IndexEntry* primary = nullptr;
    if (!key.name.empty()) {
        for (auto& index : indexes) {
            if (index.name == key.name) {
                primary = &index;
                break;
            }
        }
    }
    for (auto& index : indexes) {
        if (!primary && index.unique && KeyColumns(index) == key.columns) {
            primary = &index;
        }
    }
    if (!primary) {
        IndexEntry own;
        own.name = key.name.empty() ? std::string(kPrimaryKeyName) : key.name;
        own.unique = true;
        for (std::size_t k = 0; k < key.columns.size(); ++k) {
            own.keys.push_back({key.columns[k], false, static_cast<std::int64_t>(k + 1)});
        }
        indexes.insert(indexes.begin(), std::move(own));
        primary = &indexes.front();
    }
    primary->primary = true;
}

void AddIndexNodes(CollectionNode& indexes, const std::vector<IndexEntry>& list,
                   const std::vector<std::vector<std::string>>& foreignKeys) {
    std::vector<std::string> names;
    for (const auto& index : list) {
        names.push_back(index.name);
    }
    const auto keys = UniqueNames(names);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const IndexEntry& index = list[i];
        const std::vector<std::string> columns = KeyColumns(index);
        bool foreign = false;
        for (const auto& foreignColumns : foreignKeys) {
            foreign = foreign || SameNamesIgnoringCase(foreignColumns, columns);
        }
        ObjectNode& node = indexes.Add(keys[i]);
        Properties& p = node.properties;
        p.Add("Name", dao::kText, keys[i]);
        p.Add("Primary", dao::kBoolean, index.primary);
        p.Add("Unique", dao::kBoolean, index.unique);
        p.Add("Foreign", dao::kBoolean, foreign);
        p.Add("Required", dao::kBoolean, index.primary);
        p.Add("IgnoreNulls", dao::kBoolean, false);
        p.Add("Clustered", dao::kBoolean, index.type == SQL_INDEX_CLUSTERED);
        p.Add("IndexType", dao::kText, IndexTypeText(index.type));
        p.Add("Condition", dao::kText, index.condition);
        CollectionNode& fields = node.Collection(collections::kFields);
        const auto fieldKeys = UniqueNames(columns);
        for (std::size_t k = 0; k < index.keys.size(); ++k) {
            Properties& f = fields.Add(fieldKeys[k]).properties;
            f.Add("Name", dao::kText, fieldKeys[k]);
            f.Add("Attributes", dao::kLong, index.keys[k].descending ? dao::kDescending : 0);
            f.Add("OrdinalPosition", dao::kInteger, static_cast<int>(k));
            f.Add("Descending", dao::kBoolean, index.keys[k].descending);
        }
    }
}

}  // namespace kesmark::odbc
