#include "tests/engine/backends/access/sqlite_copy.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "engine/model/dao.h"
#include "engine/model/text.h"
#include "engine/model/vocabulary.h"
#include "engine/open_database.h"

namespace kesmark::test {

namespace {

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinalizeStatement {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using SqliteHandle = std::unique_ptr<sqlite3, CloseDatabase>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

constexpr std::int64_t kHyperlinkField = 32768;  // dbHyperlinkField

std::string Quoted(std::string_view name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string JoinQuoted(const std::vector<std::string>& names) {
    std::string joined;
    for (const auto& name : names) {
        joined += (joined.empty() ? "" : ", ") + Quoted(name);
    }
    return joined;
}

Value PropertyOf(DbObject& object, std::string_view name) {
    const Properties properties = object.GetProperties();
    const Property* property = properties.Find(name);
    return property ? property->GetValue() : Value();
}

std::int64_t NumberOf(DbObject& object, std::string_view name) {
    const Value value = PropertyOf(object, name);
    if (const auto* number = value.As<std::int64_t>()) {
        return *number;
    }
    return 0;
}

bool FlagOf(DbObject& object, std::string_view name) {
    const Value value = PropertyOf(object, name);
    const auto* flag = value.As<bool>();
    return flag && *flag;
}

std::string TextOf(DbObject& object, std::string_view name) {
    const Value value = PropertyOf(object, name);
    const auto* text = value.As<std::string>();
    return text ? *text : std::string();
}

struct Column {
    std::string name;
    int type = dao::kText;
    std::int64_t size = 0;
    bool required = false;
    bool autoNumber = false;
    bool hyperlink = false;
    std::string defaultValue;  // in the vocabulary's spelling
};

struct IndexKey {
    std::string name;
    bool descending = false;
};

struct Index {
    std::string name;
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
    std::vector<IndexKey> keys;
};

struct ForeignKey {
    std::string table;  // the one side
    std::vector<std::string> columns;
    std::vector<std::string> foreignColumns;
    std::int64_t attributes = 0;
};

struct Table {
    std::string name;
    std::vector<Column> columns;
    std::vector<Index> indexes;
    std::vector<ForeignKey> foreignKeys;
};

std::string DeclaredType(const Column& column) {
    switch (column.type) {
        case dao::kBoolean:
            return "BOOLEAN";
        case dao::kByte:
            return "TINYINT";
        case dao::kInteger:
            return "SMALLINT";
        case dao::kLong:
            return "INT";  // not INTEGER: a key of that type would be the rowid
        case dao::kCurrency:
            return "CURRENCY";
        case dao::kSingle:
            return "SINGLE";
        case dao::kDouble:
            return "DOUBLE";
        case dao::kDate:
            return "DATE";
        case dao::kBinary:
            return "BINARY(" + std::to_string(column.size) + ")";
        case dao::kText:
            return "VARCHAR(" + std::to_string(column.size) + ")";
        case dao::kLongBinary:
            return "BLOB";
        case dao::kMemo:
            return "TEXT";
        case dao::kGuid:
            return "GUID";
        case dao::kBigInt:
            return "BIGINT";
        case dao::kDecimal:
            return "DECIMAL";
        default:
            ADD_FAILURE() << "no SQLite type for DAO type " << column.type << " of column "
                          << column.name;
            return "BLOB";
    }
}

// The default as SQLite's DEFAULT clause takes it: literals and the names of
// the current date and time as they are, anything else in parentheses.
std::string DefaultClause(const std::string& canonical) {
    const bool literal = canonical.front() == '\'' ||
                         canonical.find_first_not_of("-+.0123456789") == std::string::npos ||
                         canonical.starts_with("CURRENT_");
    return " DEFAULT " + (literal ? canonical : "(" + canonical + ")");
}

Table ReadTable(Database& db, const std::string& name) {
    Table table;
    table.name = name;
    auto object = db.GetCollection(collections::kTableDefs)->Item(name);
    auto fields = object->GetCollection(collections::kFields);
    for (std::size_t i = 0; i < fields->Count(); ++i) {
        auto field = fields->ItemAt(i);
        Column column;
        column.name = field->Name();
        column.type = static_cast<int>(NumberOf(*field, "Type"));
        column.size = NumberOf(*field, "Size");
        column.required = FlagOf(*field, "Required");
        const std::int64_t attributes = NumberOf(*field, "Attributes");
        column.autoNumber = (attributes & dao::kAutoIncrField) != 0;
        column.hyperlink = (attributes & kHyperlinkField) != 0;
        column.defaultValue = TextOf(*field, "DefaultValue");
        table.columns.push_back(std::move(column));
    }
    auto indexes = object->GetCollection(collections::kIndexes);
    for (std::size_t i = 0; i < indexes->Count(); ++i) {
        auto object2 = indexes->ItemAt(i);
        Index index;
        index.name = object2->Name();
        index.primary = FlagOf(*object2, "Primary");
        index.unique = FlagOf(*object2, "Unique");
        index.ignoreNulls = FlagOf(*object2, "IgnoreNulls");
        auto keys = object2->GetCollection(collections::kFields);
        for (std::size_t k = 0; k < keys->Count(); ++k) {
            auto key = keys->ItemAt(k);
            index.keys.push_back({key->Name(), FlagOf(*key, "Descending")});
        }
        table.indexes.push_back(std::move(index));
    }
    return table;
}

void Execute(sqlite3* db, const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        ADD_FAILURE() << "SQLite refused: " << sql << "\n" << (message ? message : "");
    }
    sqlite3_free(message);
}

std::string CreateTable(const Table& table) {
    const Index* primary = nullptr;
    for (const auto& index : table.indexes) {
        if (index.primary) {
            primary = &index;
        }
    }
    std::string sql = "CREATE TABLE " + Quoted(table.name) + " (";
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const Column& column = table.columns[i];
        sql += (i ? ", " : "") + Quoted(column.name) + " " + DeclaredType(column);
        if (column.required) {
            sql += " NOT NULL";
        }
        const std::string canonical =
            vocabulary::CanonicalDefault(column.defaultValue, column.type);
        if (!canonical.empty()) {
            sql += DefaultClause(canonical);
        }
    }
    if (primary) {
        sql += ", PRIMARY KEY (";
        for (std::size_t k = 0; k < primary->keys.size(); ++k) {
            sql += (k ? ", " : "") + Quoted(primary->keys[k].name) +
                   (primary->keys[k].descending ? " DESC" : "");
        }
        sql += ")";
    }
    for (const auto& key : table.foreignKeys) {
        sql += ", FOREIGN KEY (" + JoinQuoted(key.foreignColumns) + ") REFERENCES " +
               Quoted(key.table) + " (" + JoinQuoted(key.columns) + ")";
        if (key.attributes & dao::kRelationUpdateCascade) {
            sql += " ON UPDATE CASCADE";
        }
        if (key.attributes & dao::kRelationDeleteCascade) {
            sql += " ON DELETE CASCADE";
        }
    }
    return sql + ")";
}

void BindValue(sqlite3_stmt* stmt, int position, const Value& value) {
    if (value.IsNull()) {
        sqlite3_bind_null(stmt, position);
    } else if (const auto* flag = value.As<bool>()) {
        sqlite3_bind_int(stmt, position, *flag ? 1 : 0);
    } else if (const auto* integer = value.As<std::int64_t>()) {
        sqlite3_bind_int64(stmt, position, *integer);
    } else if (const auto* real = value.As<double>()) {
        sqlite3_bind_double(stmt, position, *real);
    } else if (const auto* bytes = value.As<Bytes>()) {
        sqlite3_bind_blob64(stmt, position, bytes->data(), bytes->size(), SQLITE_TRANSIENT);
    } else {
        // Text, and exact numbers and dates as their text: a column of
        // numeric affinity stores "12.5" as the number, dates stay ISO text.
        const std::string text = PlainText(value);
        sqlite3_bind_text64(stmt, position, text.data(), text.size(), SQLITE_TRANSIENT,
                            SQLITE_UTF8);
    }
}

void CopyRows(Database& access, sqlite3* db, const Table& table) {
    std::vector<std::string> names;
    for (const auto& column : table.columns) {
        names.push_back(column.name);
    }
    std::string sql = "INSERT INTO " + Quoted(table.name) + " (" + JoinQuoted(names) + ") VALUES (";
    for (std::size_t i = 0; i < names.size(); ++i) {
        sql += i ? ", ?" : "?";
    }
    sql += ")";
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "SQLite refused: " << sql << "\n" << sqlite3_errmsg(db);
        return;
    }
    StatementHandle insert(raw);
    auto rows = access.OpenRecordset(table.name, names);
    while (!rows->IsEof()) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            BindValue(insert.get(), static_cast<int>(i + 1), rows->Field(i).GetValue());
        }
        if (sqlite3_step(insert.get()) != SQLITE_DONE) {
            ADD_FAILURE() << "inserting into " << table.name << ": " << sqlite3_errmsg(db);
            return;
        }
        sqlite3_reset(insert.get());
        rows->MoveNext();
    }
    rows->Close();
}

}  // namespace

SqliteCopyReport CopyAccessToSqlite(const std::filesystem::path& access,
                                    const std::filesystem::path& sqlite) {
    SqliteCopyReport report;
    auto source = OpenDatabase(access.string(), "");

    std::vector<Table> tables;
    auto tableDefs = source->GetCollection(collections::kTableDefs);
    for (std::size_t i = 0; i < tableDefs->Count(); ++i) {
        auto table = tableDefs->ItemAt(i);
        if (NumberOf(*table, "Attributes") != 0 || !TextOf(*table, "Connect").empty()) {
            continue;  // system and linked tables stay behind
        }
        tables.push_back(ReadTable(*source, table->Name()));
    }
    auto relations = source->GetCollection(collections::kRelations);
    for (std::size_t i = 0; i < relations->Count(); ++i) {
        auto relation = relations->ItemAt(i);
        ForeignKey key;
        key.table = TextOf(*relation, "Table");
        key.attributes = NumberOf(*relation, "Attributes");
        auto fields = relation->GetCollection(collections::kFields);
        for (std::size_t k = 0; k < fields->Count(); ++k) {
            auto field = fields->ItemAt(k);
            key.columns.push_back(TextOf(*field, "Name"));
            key.foreignColumns.push_back(TextOf(*field, "ForeignName"));
        }
        const std::string foreignTable = TextOf(*relation, "ForeignTable");
        for (auto& table : tables) {
            if (table.name == foreignTable) {
                table.foreignKeys.push_back(std::move(key));
                break;
            }
        }
    }

    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(sqlite.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot create " << sqlite;
        sqlite3_close(raw);
        return report;
    }
    SqliteHandle db(raw);
    Execute(db.get(), "BEGIN");
    std::set<std::string> indexNames;  // SQLite's index names are one namespace, any case
    for (const auto& table : tables) {
        Execute(db.get(), CreateTable(table));
        report.tables.push_back(table.name);
        for (const auto& column : table.columns) {
            if (column.autoNumber || column.hyperlink) {
                report.changedFields.push_back({table.name, column.name});
            }
        }
        for (const auto& index : table.indexes) {
            if (index.primary) {
                continue;
            }
            std::string name = index.name;
            if (indexNames.count(FoldAsciiCase(name)) != 0) {
                name = table.name + "_" + index.name;
                report.renamedIndexes.push_back({table.name, index.name, name});
            }
            indexNames.insert(FoldAsciiCase(name));
            std::string sql = std::string("CREATE ") + (index.unique ? "UNIQUE " : "") + "INDEX " +
                              Quoted(name) + " ON " + Quoted(table.name) + " (";
            std::string condition;
            for (std::size_t k = 0; k < index.keys.size(); ++k) {
                sql += (k ? ", " : "") + Quoted(index.keys[k].name) +
                       (index.keys[k].descending ? " DESC" : "");
                condition += (k ? " AND " : "") + Quoted(index.keys[k].name) + " IS NOT NULL";
            }
            sql += ")";
            if (index.ignoreNulls) {
                sql += " WHERE " + condition;
            }
            Execute(db.get(), sql);
        }
        CopyRows(*source, db.get(), table);
    }
    Execute(db.get(), "COMMIT");
    source->Close();
    return report;
}

}  // namespace kesmark::test
