#include "engine/backends/odbc/odbc_vocabulary.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "engine/model/vocabulary.h"

namespace kesmark::odbc {

namespace {

// The index the catalog shows for SQLite's rowid primary key.
constexpr std::string_view kSqliteRowidIndex = "sqlite_rowid";

std::optional<std::int64_t> NumberOf(const Properties& properties, std::string_view name) {
    const Property* property = properties.Find(name);
    if (!property) {
        return std::nullopt;
    }
    const Value value = property->GetValue();
    const auto* number = value.As<std::int64_t>();
    return number ? std::optional<std::int64_t>(*number) : std::nullopt;
}

bool FlagOf(const Properties& properties, std::string_view name) {
    const Property* property = properties.Find(name);
    if (!property) {
        return false;
    }
    const Value value = property->GetValue();
    const auto* flag = value.As<bool>();
    return flag && *flag;
}

// What the SQLite driver leaves out of its catalog answers, from the
// database's own pragmas.
struct SqliteDetails {
    // (table, column) -> the default as declared; nullopt for none.
    std::map<std::pair<std::string, std::string>, std::optional<std::string>> defaults;
    bool defaultsRead = false;
    // (index, column) of every descending key column.
    std::set<std::pair<std::string, std::string>> descendingKeys;
};

// Runs a query on the SQLite database's own tables; nullopt when it fails
// (a SQLite older than its table-valued pragmas), unless the connection is
// lost.
std::optional<ResultSet> TrySqliteQuery(Connection& connection, std::string_view sql,
                                        std::string_view context) {
    Statement statement = connection.NewStatement();
    try {
        statement.Execute(sql, context);
        return statement.FetchAll(context);
    } catch (const DbError&) {
        if (IsConnectionFailure(statement.LastState())) {
            throw;
        }
        return std::nullopt;
    }
}

std::shared_ptr<const SqliteDetails> ReadSqliteDetails(Connection& connection) {
    auto details = std::make_shared<SqliteDetails>();
    // Virtual tables are left out: one whose module this SQLite lacks would
    // fail the whole query.
    if (const auto defaults =
            TrySqliteQuery(connection,
                           "SELECT m.name, p.name, p.dflt_value FROM sqlite_master AS m "
                           "JOIN pragma_table_xinfo(m.name) AS p "
                           "WHERE m.type = 'table' AND m.sql NOT LIKE 'CREATE VIRTUAL TABLE%'",
                           "reading the declared defaults")) {
        details->defaultsRead = true;
        for (const auto& row : defaults->rows) {
            if (row.size() == 3 && row[0] && row[1]) {
                details->defaults[{*row[0], *row[1]}] = row[2];
            }
        }
    }
    if (const auto keys = TrySqliteQuery(connection,
                                         "SELECT m.name, p.name FROM sqlite_master AS m "
                                         "JOIN pragma_index_xinfo(m.name) AS p "
                                         "WHERE m.type = 'index' AND p.key = 1 AND p.\"desc\" = 1",
                                         "reading the directions of the index keys")) {
        for (const auto& row : keys->rows) {
            if (row.size() == 2 && row[0] && row[1]) {
                details->descendingKeys.emplace(*row[0], *row[1]);
            }
        }
    }
    return details;
}

// The DAO type a column's own type name gives, where it says more than the
// driver's SQL type.
std::optional<int> NamedType(Dbms dbms, std::string_view typeName) {
    switch (dbms) {
        case Dbms::SQLite:
            // The SQLite driver's type name is the declared type, which the
            // SQLite backend reads too.
            return vocabulary::DaoTypeFromDeclaredType(typeName);
        case Dbms::PostgreSQL:
            return vocabulary::DaoTypeFromPostgresType(typeName);
        case Dbms::Other:
            break;
    }
    return std::nullopt;
}

// Type, Size, Attributes and DefaultValue of each field of `table` (empty
// for a view's fields) in the vocabulary.
void SpeakFields(CollectionNode& fields, Dbms dbms, const std::string& table,
                 const SqliteDetails* sqlite) {
    for (const auto& member : fields.members) {
        Properties& p = member->properties;
        if (member->propertiesFailure || !p.Find("Type")) {
            continue;
        }
        const std::string typeName = TextOfProperty(p, "TypeName");
        int type = static_cast<int>(NumberOf(p, "Type").value_or(dao::kText));
        if (const auto named = NamedType(dbms, typeName); named && *named != type) {
            type = *named;
            p.Set("Type", dao::kInteger, type);
            p.Set("Size", dao::kLong, vocabulary::DaoSize(type, NumberOf(p, "Precision")));
        }
        if (dbms == Dbms::SQLite) {
            p.Set("Size", dao::kLong, vocabulary::DaoSizeFromDeclaredType(typeName, type));
        }
        std::int64_t attributes = NumberOf(p, "Attributes").value_or(0) & dao::kAutoIncrField;
        attributes |= vocabulary::IsFixedSizeDaoType(type) ? dao::kFixedField : dao::kVariableField;
        if (const Property* defaultValue = p.Find("DefaultValue")) {
            std::string expression = TextOfProperty(p, "DefaultValue");
            if (sqlite && sqlite->defaultsRead && !table.empty()) {
                const auto declared = sqlite->defaults.find({table, member->name});
                expression = declared != sqlite->defaults.end() && declared->second
                                 ? *declared->second
                                 : std::string();
            }
            if (vocabulary::IsNumberingDefault(expression)) {
                attributes |= dao::kAutoIncrField;  // a serial column
                p.Set("DefaultValue", defaultValue->Type(), "");
            } else {
                p.Set("DefaultValue", defaultValue->Type(),
                      vocabulary::CanonicalDefault(expression, type));
            }
        }
        p.Set("Attributes", dao::kLong, attributes);
    }
}

// The primary key's columns are Required; SQLite's rowid column numbers
// itself. Reads the table's indexes; when they cannot be read, the fields
// stay as the driver gave them (the index walk reports the failure).
void MarkKeyFields(CollectionNode& fields, CollectionNode& indexes, Dbms dbms) {
    try {
        indexes.EnsureLoaded();
    } catch (const DbError&) {
        return;
    }
    for (const auto& index : indexes.members) {
        if (!FlagOf(index->properties, "Primary")) {
            continue;
        }
        const auto keys = index->collections.find(collections::kFields);
        if (keys == index->collections.end()) {
            continue;
        }
        const bool rowid = dbms == Dbms::SQLite && index->name == kSqliteRowidIndex;
        for (const auto& key : keys->second->members) {
            const auto position = fields.IndexOf(key->name);
            if (position < 0) {
                continue;
            }
            Properties& p = fields.members[static_cast<std::size_t>(position)]->properties;
            p.Set("Required", dao::kBoolean, true);
            if (rowid) {
                p.Set("Attributes", dao::kLong,
                      NumberOf(p, "Attributes").value_or(0) | dao::kAutoIncrField);
            }
        }
    }
}

// The descending keys of every index, which the SQLite driver reports
// ascending.
void MarkDescendingKeys(CollectionNode& indexes, const SqliteDetails& sqlite) {
    for (const auto& index : indexes.members) {
        const auto keys = index->collections.find(collections::kFields);
        if (keys == index->collections.end()) {
            continue;
        }
        for (const auto& key : keys->second->members) {
            if (sqlite.descendingKeys.count({index->name, key->name}) == 0) {
                continue;
            }
            Properties& p = key->properties;
            p.Set("Descending", dao::kBoolean, true);
            p.Set("Attributes", dao::kLong,
                  NumberOf(p, "Attributes").value_or(0) | dao::kDescending);
        }
    }
}

// Runs `after` on the collection once its own loader has filled it.
void AfterLoading(CollectionNode& collection, std::function<void(CollectionNode&)> after) {
    collection.loader = [inner = std::move(collection.loader),
                         after = std::move(after)](CollectionNode& filled) {
        if (inner) {
            inner(filled);
        }
        after(filled);
    };
}

void SpeakTable(ObjectNode& table, Dbms dbms, const std::shared_ptr<const SqliteDetails>& sqlite) {
    if (const Property* type = table.properties.Find("TableType")) {
        table.properties.Set(
            "TableType", type->Type(),
            vocabulary::CanonicalTableType(TextOfProperty(table.properties, "TableType")));
    }
    std::weak_ptr<CollectionNode> indexes;
    if (const auto found = table.collections.find(collections::kIndexes);
        found != table.collections.end()) {
        indexes = found->second;
        if (sqlite) {
            AfterLoading(*found->second,
                         [sqlite](CollectionNode& loaded) { MarkDescendingKeys(loaded, *sqlite); });
        }
    }
    const auto fields = table.collections.find(collections::kFields);
    if (fields == table.collections.end()) {
        return;
    }
    AfterLoading(*fields->second,
                 [dbms, indexes, sqlite, name = table.name](CollectionNode& loaded) {
                     SpeakFields(loaded, dbms, name, sqlite.get());
                     if (const auto keys = indexes.lock()) {
                         MarkKeyFields(loaded, *keys, dbms);
                     }
                 });
}

// Every table, held or described when read.
void SpeakTables(CollectionNode& tables, Dbms dbms,
                 const std::shared_ptr<const SqliteDetails>& sqlite) {
    for (const auto& table : tables.members) {
        SpeakTable(*table, dbms, sqlite);
    }
    if (tables.source) {
        tables.source->describe = [describe = std::move(tables.source->describe), dbms, sqlite](
                                      std::size_t index, ObjectNode& table) {
            describe(index, table);
            SpeakTable(table, dbms, sqlite);
        };
    }
}

void SpeakQueries(CollectionNode& queries, Dbms dbms) {
    for (const auto& query : queries.members) {
        const auto fields = query->collections.find(collections::kFields);
        if (fields != query->collections.end()) {
            AfterLoading(*fields->second, [dbms](CollectionNode& loaded) {
                SpeakFields(loaded, dbms, std::string(), nullptr);
            });
        }
    }
}

}  // namespace

void ApplyVocabulary(ObjectNode& root, Connection& connection) {
    const Dbms dbms = connection.Kind();
    std::shared_ptr<const SqliteDetails> sqlite;
    if (dbms == Dbms::SQLite) {
        sqlite = ReadSqliteDetails(connection);
    }
    AfterLoading(root.Collection(collections::kTableDefs),
                 [dbms, sqlite](CollectionNode& tables) { SpeakTables(tables, dbms, sqlite); });
    AfterLoading(root.Collection(collections::kQueryDefs),
                 [dbms](CollectionNode& queries) { SpeakQueries(queries, dbms); });
}

ResultColumnType ResultColumnTypeOf(Dbms dbms, SQLSMALLINT sqlType, std::string_view typeName) {
    if (!typeName.empty()) {
        if (const auto named = NamedType(dbms, typeName)) {
            // A Boolean read as text ("1", "0") becomes a Boolean value.
            return {*named == dao::kBoolean ? static_cast<SQLSMALLINT>(SQL_BIT) : sqlType, *named};
        }
    }
    return {sqlType, vocabulary::DaoTypeFromSqlType(sqlType)};
}

}  // namespace kesmark::odbc
