#include "engine/backends/odbc/odbc_catalog.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>

#include "engine/backends/odbc/odbc_catalog_rows.h"
#include "engine/backends/odbc/odbc_dialect.h"
#include "engine/backends/odbc/odbc_indexes.h"
#include "engine/backends/odbc/odbc_types.h"

namespace kesmark::odbc {

namespace {

using dao::kAutoIncrField;
using dao::kFixedField;
using dao::kParamInput;
using dao::kParamInputOutput;
using dao::kParamOutput;
using dao::kQueryProcedure;
using dao::kQuerySelect;
using dao::kSystemObject;
using dao::kVariableField;

constexpr std::string_view kTablesContainer = "Tables";
constexpr std::string_view kRelationshipsContainer = "Relationships";
constexpr std::string_view kTriggersContainer = "Triggers";

std::string Upper(std::string text) {
    for (auto& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// Schemas that hold the database system's own objects, left out of the
// procedures and views.
bool IsSystemSchema(const std::optional<std::string>& schema) {
    if (!schema) {
        return false;
    }
    const std::string folded = FoldAsciiCase(*schema);
    return folded == "pg_catalog" || folded == "information_schema" || folded == "sys" ||
           folded.starts_with("pg_toast");
}

bool IsFixedSizeDaoType(int type) {
    return type != dao::kText && type != dao::kChar && type != dao::kMemo && type != dao::kBinary &&
           type != dao::kVarBinary && type != dao::kLongBinary;
}

std::string JoinNames(const std::vector<std::string>& names, std::string_view separator) {
    std::string joined;
    for (const auto& name : names) {
        if (!joined.empty()) {
            joined += separator;
        }
        joined += name;
    }
    return joined;
}

DbError Closed() {
    return DbError(errors::kNotSupported, "The database is closed.", "ODBC");
}

void AddFieldProperties(Properties& p, const std::string& name, const ColumnFacts& facts,
                        int position) {
    const int type = DaoTypeFromSqlType(facts.dataType);
    int attributes = IsFixedSizeDaoType(type) ? kFixedField : kVariableField;
    if (facts.autoIncrement) {
        attributes |= kAutoIncrField;
    }
    p.Add("Name", dao::kText, name);
    p.Add("Type", dao::kInteger, type);
    p.Add("Size", dao::kLong, DaoSize(type, facts.size));
    p.Add("OrdinalPosition", dao::kInteger, position);
    p.Add("Required", dao::kBoolean, facts.nullable == SQL_NO_NULLS);
    p.Add("DefaultValue", dao::kText, facts.defaultValue.value_or(""));
    p.Add("Attributes", dao::kLong, attributes);
    p.Add("TypeName", dao::kText, facts.typeName);
    p.Add("Precision", dao::kLong, NumberOrNull(facts.size));
    p.Add("Scale", dao::kInteger, NumberOrNull(facts.digits));
    p.Add("Description", dao::kText, TextOrNull(facts.remarks));
}

// The fields of a table, view or procedure result, in column order.
void AddFields(CollectionNode& fields, const std::vector<ColumnFacts>& columns) {
    std::vector<std::string> names;
    for (const auto& column : columns) {
        names.push_back(column.name);
    }
    const auto keys = UniqueNames(names);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        AddFieldProperties(fields.Add(keys[i]).properties, keys[i], columns[i],
                           static_cast<int>(i));
    }
}

}  // namespace

std::vector<std::string> UniqueKeys(
    const std::vector<std::pair<std::string, std::string>>& candidates) {
    std::unordered_map<std::string, int> preferredCount;
    for (const auto& candidate : candidates) {
        ++preferredCount[candidate.first];
    }
    std::vector<std::string> keys;
    keys.reserve(candidates.size());
    for (const auto& [preferred, qualified] : candidates) {
        keys.push_back(preferredCount[preferred] > 1 ? qualified : preferred);
    }
    // The first holder of a key keeps it; later ones get a number.
    std::set<std::string> used(keys.begin(), keys.end());
    std::set<std::string> held;
    for (auto& key : keys) {
        if (held.insert(key).second) {
            continue;
        }
        for (int n = 2;; ++n) {
            std::string numbered = key + " #" + std::to_string(n);
            if (used.insert(numbered).second) {
                key = std::move(numbered);
                break;
            }
        }
    }
    return keys;
}

std::vector<std::string> UniqueNames(const std::vector<std::string>& names) {
    std::vector<std::pair<std::string, std::string>> candidates;
    for (const auto& name : names) {
        candidates.emplace_back(name, name);
    }
    return UniqueKeys(candidates);
}

// A table or view as SQLTables lists it.
struct TableEntry {
    std::string key;
    std::optional<std::string> schema;
    std::string name;
    std::string type;
    Cell remarks;
    bool system = false;
    bool view = false;
};

// One foreign key constraint.
struct RelationEntry {
    std::string key;
    std::string fkName;  // as the source names it, empty when unnamed
    std::string table;   // TableDefs key of the referenced table
    std::string foreignTable;
    std::vector<std::string> primaryColumns;
    std::vector<std::string> foreignColumns;
    std::string onUpdate;
    std::string onDelete;
    std::string deferrability;
};

// A procedure or function as SQLProcedures lists it (one overload of a name).
struct ProcedureEntry {
    std::string key;
    std::optional<std::string> schema;
    std::string name;
    std::optional<std::int64_t> procedureType;
    Cell remarks;
    std::optional<std::vector<ColumnFacts>> columns;  // loaded on first use
};

struct TriggerEntry {
    std::string key;
    std::string table;
    std::string sql;
};

class CatalogReader : public std::enable_shared_from_this<CatalogReader> {
  public:
    explicit CatalogReader(Connection& connection) : connection_(&connection) {}

    void Detach() noexcept { connection_ = nullptr; }

    void Attach(ObjectNode& root) {
        std::weak_ptr<CatalogReader> weak = weak_from_this();
        root.Collection(collections::kTableDefs).loader = [weak](CollectionNode& tables) {
            Lock(weak)->LoadTableDefs(tables);
        };
        root.Collection(collections::kQueryDefs).loader = [weak](CollectionNode& queries) {
            Lock(weak)->LoadQueryDefs(queries);
        };
        root.Collection(collections::kRelations).loader = [weak](CollectionNode& relations) {
            Lock(weak)->LoadRelations(relations);
        };
        CollectionNode& containers = root.Collection(collections::kContainers);
        AddContainer(containers, kTablesContainer, &CatalogReader::LoadTableDocuments);
        AddContainer(containers, kRelationshipsContainer,
                     &CatalogReader::LoadRelationshipDocuments);
        AddContainer(containers, kTriggersContainer, &CatalogReader::LoadTriggerDocuments);
    }

    std::string SelectSource(std::string_view key) {
        const auto& entries = Tables();
        if (const auto found = byKey_.find(key); found != byKey_.end()) {
            return QualifiedName(entries[found->second]);
        }
        return Conn().QuoteIdentifier(key);
    }

  private:
    using Loader = void (CatalogReader::*)(CollectionNode&);

    static std::shared_ptr<CatalogReader> Lock(const std::weak_ptr<CatalogReader>& weak) {
        auto reader = weak.lock();
        if (!reader) {
            throw Closed();
        }
        return reader;
    }

    Connection& Conn() const {
        if (!connection_) {
            throw Closed();
        }
        return *connection_;
    }

    // What the backend reads differently for the source's database system.
    const Dialect& SourceDialect() const { return DialectFor(Conn().Kind()); }

    void AddContainer(CollectionNode& containers, std::string_view name, Loader load) {
        ObjectNode& node = containers.Add(std::string(name));
        node.properties.Add("Name", dao::kText, Value(name));
        std::weak_ptr<CatalogReader> weak = weak_from_this();
        node.Collection(collections::kDocuments).loader = [weak, load](CollectionNode& documents) {
            auto reader = Lock(weak);
            ((*reader).*load)(documents);
        };
    }

    // Runs one catalog function; nullopt when the driver does not implement
    // it (said by SQLGetFunctions, or by the call's SQLSTATE).
    std::optional<ResultSet> RunCatalog(SQLUSMALLINT function,
                                        const std::function<void(Statement&)>& call,
                                        std::string_view context) {
        std::optional<ResultSet> result;
        RunCatalogEach(
            function, call, context,
            [&](const std::vector<std::string>&, TextRow& row) {
                result->rows.push_back(std::move(row));
            },
            [&](const std::vector<std::string>& columns) {
                result.emplace(ResultSet{columns, {}});
            });
        return result;
    }

    // As RunCatalog, handing each row to `each` as it comes (after `started`,
    // called with the result's column names once the driver has answered);
    // false when the driver does not implement the function.
    bool RunCatalogEach(
        SQLUSMALLINT function, const std::function<void(Statement&)>& call,
        std::string_view context,
        const std::function<void(const std::vector<std::string>& columns, TextRow& row)>& each,
        const std::function<void(const std::vector<std::string>& columns)>& started = {}) {
        Connection& connection = Conn();
        if (!connection.HasFunction(function)) {
            return false;
        }
        Statement statement = connection.NewStatement();
        try {
            call(statement);
        } catch (const DbError&) {
            if (IsNotImplemented(statement.LastState())) {
                return false;
            }
            throw;
        }
        if (started) {
            started(statement.ColumnNames());
        }
        statement.FetchEach(context, each);
        return true;
    }

    // Runs a query on the source's own catalog; nullopt when it fails for any
    // reason but a lost connection (the source is not what we took it for,
    // or the user may not read that catalog).
    std::optional<ResultSet> TryQuery(std::string_view sql, std::string_view context) {
        Statement statement = Conn().NewStatement();
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

    std::optional<std::string> Pattern(const std::optional<std::string>& name) const {
        if (!name) {
            return std::nullopt;
        }
        return Conn().EscapePattern(*name);
    }

    std::string QualifiedName(const TableEntry& entry) const {
        const Connection& connection = Conn();
        std::string text;
        if (entry.schema && connection.Info().schemasInStatements) {
            text = connection.QuoteIdentifier(*entry.schema) + ".";
        }
        return text + connection.QuoteIdentifier(entry.name);
    }

    // The key an object of `schema` named `name` prefers, and its fully
    // quoted form for when two prefer the same.
    std::pair<std::string, std::string> KeyCandidates(const std::optional<std::string>& schema,
                                                      const std::string& name) {
        const Connection& connection = Conn();
        auto quote = [&](const std::string& part) {
            return connection.Info().identifierQuote.empty() ? "\"" + part + "\""
                                                             : connection.QuoteIdentifier(part);
        };
        if (!schema) {
            return {name, quote(name)};
        }
        const std::string qualified = quote(*schema) + "." + quote(name);
        if (defaultSchema_ && *schema == *defaultSchema_) {
            return {name, qualified};
        }
        return {*schema + "." + name, qualified};
    }

    // The schema whose objects keep their plain names.
    std::optional<std::string> FindDefaultSchema(const std::set<std::string>& schemas) {
        if (schemas.empty()) {
            return std::nullopt;
        }
        const Connection& connection = Conn();
        if (const auto query = SourceDialect().DefaultSchemaQuery()) {
            if (auto result = TryQuery(*query, "reading the default schema")) {
                if (!result->rows.empty() && At(result->rows.front(), 1)) {
                    return *At(result->rows.front(), 1);
                }
            }
            return std::nullopt;
        }
        const std::string& user = connection.Info().userName;
        if (schemas.count(user)) {
            return user;
        }
        if (connection.Info().dbmsName.find("SQL Server") != std::string::npos &&
            schemas.count("dbo")) {
            return std::string("dbo");
        }
        if (schemas.size() == 1) {
            return *schemas.begin();
        }
        return std::nullopt;
    }

    const std::vector<TableEntry>& Tables() {
        if (tables_) {
            return *tables_;
        }
        std::vector<TableEntry> entries;
        // Every schema's tables ("%"): with no schema given, some drivers
        // list only the schemas on the search path. A driver that refuses a
        // schema pattern is asked without one.
        const char* context = "reading the list of tables";
        auto result = RunCatalog(
            SQL_API_SQLTABLES,
            [&](Statement& s) {
                s.Tables(std::string("%"), std::string("%"), std::nullopt, context);
            },
            context);
        if (!result) {
            result = RunCatalog(
                SQL_API_SQLTABLES,
                [&](Statement& s) {
                    s.Tables(std::nullopt, std::string("%"), std::nullopt, context);
                },
                context);
        }
        std::set<std::string> schemas;
        if (result) {
            for (const auto& row : result->rows) {
                TablesRow table = ReadTablesRow(row);
                TableEntry entry;
                entry.schema = std::move(table.schema);
                entry.name = std::move(table.name);
                entry.type = std::move(table.type);
                entry.remarks = std::move(table.remarks);
                const std::string type = Upper(entry.type);
                entry.view = type.find("VIEW") != std::string::npos;
                entry.system =
                    type.starts_with("SYSTEM") || SourceDialect().IsSystemTable(entry.name);
                if (entry.name.empty() ||
                    (entry.view && (entry.system || IsSystemSchema(entry.schema)))) {
                    continue;
                }
                if (entry.schema) {
                    schemas.insert(*entry.schema);
                }
                entries.push_back(std::move(entry));
            }
        }
        defaultSchema_ = FindDefaultSchema(schemas);
        std::vector<std::pair<std::string, std::string>> candidates;
        for (const auto& entry : entries) {
            candidates.push_back(KeyCandidates(entry.schema, entry.name));
        }
        const auto keys = UniqueKeys(candidates);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].key = keys[i];
        }
        tables_ = std::move(entries);
        // Indexes into the list, by key and by name: a large schema is
        // looked up once a table, not read through each time.
        for (std::size_t i = 0; i < tables_->size(); ++i) {
            byKey_.emplace((*tables_)[i].key, i);
            byName_.emplace((*tables_)[i].name, i);
        }
        return *tables_;
    }

    const TableEntry* FindEntry(const std::optional<std::string>& schema, const std::string& name) {
        const auto& entries = Tables();
        // The first listed of that name in that schema.
        std::optional<std::size_t> first;
        const auto [begin, end] = byName_.equal_range(name);
        for (auto it = begin; it != end; ++it) {
            const TableEntry& entry = entries[it->second];
            if ((!schema || !entry.schema || *entry.schema == *schema) &&
                (!first || it->second < *first)) {
                first = it->second;
            }
        }
        return first ? &entries[*first] : nullptr;
    }

    // The key of the table `name` of `schema`, also when it is not listed
    // (a table of another catalog, or one the user may not see).
    std::string TableKey(const std::optional<std::string>& schema, const std::string& name) {
        if (const TableEntry* entry = FindEntry(schema, name)) {
            return entry->key;
        }
        return KeyCandidates(schema, name).first;
    }

    // True when a catalog row's schema and table columns name `entry`.
    static bool Names(const TextRow& row, std::size_t schemaColumn, std::size_t nameColumn,
                      const TableEntry& entry) {
        return NamesTable(row, schemaColumn, nameColumn, entry.schema, entry.name);
    }

    // The SQLColumns rows of a table or view. The columns of a whole schema
    // are read with one call the first time any of its tables is asked for.
    std::vector<ColumnFacts> ColumnsOf(const TableEntry& entry) {
        const std::string schemaKey = entry.schema.value_or("");
        auto it = schemaColumns_.find(schemaKey);
        if (it == schemaColumns_.end()) {
            const std::string context = entry.schema
                                            ? "reading the columns of schema " + *entry.schema
                                            : "reading the columns of the tables";
            // Each row is kept as its facts as it comes: a schema of many
            // tables has very many columns.
            SchemaColumns bucket;
            bucket.implemented = RunCatalogEach(
                SQL_API_SQLCOLUMNS,
                [&](Statement& s) { s.Columns(Pattern(entry.schema), std::string("%"), context); },
                context,
                [&](const std::vector<std::string>&, TextRow& row) {
                    const auto schema = NonEmpty(row, columns_column::kSchema);
                    if (entry.schema && schema && *schema != *entry.schema) {
                        return;
                    }
                    bucket.columns[Text(row, columns_column::kTable)].push_back(
                        ReadColumnsRow(row, bucket.autoIncrementColumn));
                },
                [&](const std::vector<std::string>& names) {
                    bucket.autoIncrementColumn =
                        ResultSet{names, {}}.ColumnNumber(columns_column::kAutoIncrementName);
                });
            it = schemaColumns_.emplace(schemaKey, std::move(bucket)).first;
        }
        SchemaColumns& bucket = it->second;
        if (!bucket.implemented) {
            return {};
        }
        std::vector<ColumnFacts> columns;
        if (auto found = bucket.columns.find(entry.name); found != bucket.columns.end()) {
            columns = found->second;
        } else {
            // Not in the schema's listing: ask for this table alone.
            const std::string context = "reading the columns of table " + entry.key;
            const auto result = RunCatalog(
                SQL_API_SQLCOLUMNS,
                [&](Statement& s) {
                    s.Columns(Pattern(entry.schema), Conn().EscapePattern(entry.name), context);
                },
                context);
            if (result) {
                for (const auto& row : result->rows) {
                    if (Names(row, columns_column::kSchema, columns_column::kTable, entry)) {
                        columns.push_back(ReadColumnsRow(row, bucket.autoIncrementColumn));
                    }
                }
            }
        }
        std::stable_sort(columns.begin(), columns.end(),
                         [](const ColumnFacts& a, const ColumnFacts& b) {
                             return a.ordinal.value_or(0) < b.ordinal.value_or(0);
                         });
        return columns;
    }

    // The foreign keys held by one table, each constraint once.
    const std::vector<RelationEntry>& ForeignKeysOf(const TableEntry& entry) {
        if (auto it = foreignKeys_.find(entry.key); it != foreignKeys_.end()) {
            return it->second;
        }
        const std::string context = "reading the foreign keys of table " + entry.key;
        const auto result = CatalogRowsOf(
            entry, foreignKeyRows_, SourceDialect().ForeignKeysQuery(),
            foreign_keys_column::kForeignTable, SQL_API_SQLFOREIGNKEYS,
            [&](Statement& s) { s.ForeignKeys(entry.schema, entry.name, context); }, context);
        std::vector<RelationEntry> relations;
        // Rows come ordered by referenced table and KEY_SEQ; a named
        // constraint is gathered by its name, an unnamed one runs from its
        // KEY_SEQ 1 row to the next.
        std::vector<std::vector<std::int64_t>> sequences;
        if (result) {
            for (const auto& row : result->rows) {
                if (!Names(row, foreign_keys_column::kForeignSchema,
                           foreign_keys_column::kForeignTable, entry)) {
                    continue;
                }
                const ForeignKeysRow key = ReadForeignKeysRow(row);
                const std::string& fkName = key.name;
                const std::string parent = TableKey(key.primarySchema, key.primaryTable);
                const std::int64_t sequence = key.sequence;
                RelationEntry* relation = nullptr;
                std::vector<std::int64_t>* order = nullptr;
                if (!fkName.empty()) {
                    for (std::size_t i = 0; i < relations.size(); ++i) {
                        if (relations[i].fkName == fkName && relations[i].table == parent) {
                            relation = &relations[i];
                            order = &sequences[i];
                        }
                    }
                } else if (!relations.empty() && sequence != 1 && relations.back().fkName.empty() &&
                           relations.back().table == parent) {
                    relation = &relations.back();
                    order = &sequences.back();
                }
                if (!relation) {
                    RelationEntry created;
                    created.fkName = fkName;
                    created.table = parent;
                    created.foreignTable = entry.key;
                    created.onUpdate = RuleText(key.updateRule);
                    created.onDelete = RuleText(key.deleteRule);
                    created.deferrability = DeferrabilityText(key.deferrability);
                    relations.push_back(std::move(created));
                    sequences.emplace_back();
                    relation = &relations.back();
                    order = &sequences.back();
                }
                relation->primaryColumns.push_back(key.primaryColumn);
                relation->foreignColumns.push_back(key.foreignColumn);
                order->push_back(sequence);
            }
        }
        // Columns in KEY_SEQ order.
        for (std::size_t i = 0; i < relations.size(); ++i) {
            std::vector<std::size_t> positions(sequences[i].size());
            for (std::size_t k = 0; k < positions.size(); ++k) {
                positions[k] = k;
            }
            std::stable_sort(positions.begin(), positions.end(), [&](std::size_t a, std::size_t b) {
                return sequences[i][a] < sequences[i][b];
            });
            RelationEntry sorted = relations[i];
            for (std::size_t k = 0; k < positions.size(); ++k) {
                sorted.primaryColumns[k] = relations[i].primaryColumns[positions[k]];
                sorted.foreignColumns[k] = relations[i].foreignColumns[positions[k]];
            }
            relations[i] = std::move(sorted);
        }
        return foreignKeys_.emplace(entry.key, std::move(relations)).first->second;
    }

    // A catalogue of every table read at once (Dialect::ForeignKeysQuery
    // and the like): its rows by the name of the table each is about.
    struct BulkCatalog {
        explicit BulkCatalog(std::string_view reading) : what(reading) {}
        std::string_view what;  // for the message of a lost connection
        bool read = false;
        std::optional<std::map<std::string, std::vector<TextRow>>> byTable;
    };

    // The rows of `bulk`, read with `query` the first time, where the
    // dialect has one and the source answers it; nullptr where the driver is
    // to be asked table by table.
    const std::map<std::string, std::vector<TextRow>>* ReadBulk(
        BulkCatalog& bulk, std::optional<std::string_view> query, std::size_t tableColumn) {
        if (!bulk.read) {
            bulk.read = true;
            if (query) {
                if (auto result = TryQuery(*query, bulk.what)) {
                    std::map<std::string, std::vector<TextRow>> byTable;
                    for (auto& row : result->rows) {
                        byTable[Text(row, tableColumn)].push_back(std::move(row));
                    }
                    bulk.byTable = std::move(byTable);
                }
            }
        }
        return bulk.byTable ? &*bulk.byTable : nullptr;
    }

    // The catalogue rows about `entry`: from `bulk` where it could be read,
    // else from `function` called for the table alone.
    std::optional<ResultSet> CatalogRowsOf(const TableEntry& entry, BulkCatalog& bulk,
                                           std::optional<std::string_view> query,
                                           std::size_t tableColumn, SQLUSMALLINT function,
                                           const std::function<void(Statement&)>& call,
                                           std::string_view context) {
        if (const auto* all = ReadBulk(bulk, query, tableColumn)) {
            ResultSet result;
            if (auto it = all->find(entry.name); it != all->end()) {
                result.rows = it->second;
            }
            return result;
        }
        return RunCatalog(function, call, context);
    }

    // Every foreign key of the database, with its Relations key.
    const std::vector<RelationEntry>& Relations() {
        if (relations_) {
            return *relations_;
        }
        std::vector<RelationEntry> relations;
        for (const auto& entry : Tables()) {
            if (entry.view) {
                continue;
            }
            for (const auto& relation : ForeignKeysOf(entry)) {
                relations.push_back(relation);
            }
        }
        std::vector<std::pair<std::string, std::string>> candidates;
        for (const auto& relation : relations) {
            // An unnamed constraint is named after what it links:
            // "Orders(CustomerID) -> Customers(ID)".
            const std::string described =
                relation.foreignTable + "(" + JoinNames(relation.foreignColumns, ", ") + ") -> " +
                relation.table + "(" + JoinNames(relation.primaryColumns, ", ") + ")";
            if (relation.fkName.empty()) {
                candidates.emplace_back(described, described);
            } else {
                candidates.emplace_back(relation.fkName,
                                        relation.foreignTable + "." + relation.fkName);
            }
        }
        const auto keys = UniqueKeys(candidates);
        for (std::size_t i = 0; i < relations.size(); ++i) {
            relations[i].key = keys[i];
        }
        relations_ = std::move(relations);
        return *relations_;
    }

    // The tables are listed by name and each is described when it is read,
    // so that a schema of very many tables holds their names only.
    void LoadTableDefs(CollectionNode& tables) {
        std::weak_ptr<CatalogReader> weak = weak_from_this();
        auto positions = std::make_shared<std::vector<std::uint32_t>>();
        const auto& entries = Tables();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].view) {
                positions->push_back(static_cast<std::uint32_t>(i));
            }
        }
        MemberSource source;
        source.count = positions->size();
        source.nameAt = [weak, positions](std::size_t at) {
            return Lock(weak)->Tables()[(*positions)[at]].key;
        };
        source.describe = [weak, positions](std::size_t at, ObjectNode& node) {
            Lock(weak)->DescribeTable((*positions)[at], node);
        };
        tables.source = std::move(source);
    }

    // The table of entry `i`: its properties, and its fields and indexes
    // read when asked for.
    void DescribeTable(std::size_t i, ObjectNode& node) {
        std::weak_ptr<CatalogReader> weak = weak_from_this();
        const TableEntry& entry = Tables()[i];
        Properties& p = node.properties;
        p.Add("Name", dao::kText, entry.key);
        p.Add("Attributes", dao::kLong, entry.system ? kSystemObject : 0);
        p.Add("TableType", dao::kText, entry.type);
        p.Add("SchemaName", dao::kText, entry.schema ? Value(*entry.schema) : Value());
        p.Add("SourceTableName", dao::kText, entry.name);
        p.Add("Description", dao::kText, TextOrNull(entry.remarks));
        p.Add("Updatable", dao::kBoolean, false);
        // Counted once: the data comparison and the table's properties
        // speak of the same count, and a large table is not read twice.
        p.Add(
            Property("RecordCount", dao::kLong,
                     Property::Reader([weak, i, count = std::make_shared<std::optional<Value>>()] {
                         if (!*count) {
                             *count = Lock(weak)->CountRows(i);
                         }
                         return **count;
                     })));
        node.Collection(collections::kFields).loader = [weak, i](CollectionNode& fields) {
            auto reader = Lock(weak);
            AddFields(fields, reader->ColumnsOf(reader->Tables()[i]));
        };
        node.Collection(collections::kIndexes).loader = [weak, i](CollectionNode& indexes) {
            auto reader = Lock(weak);
            reader->LoadIndexes(reader->Tables()[i], indexes);
        };
    }

    Value CountRows(std::size_t index) {
        // The session's locks let go of now and then: each table counted
        // holds one to the end of the transaction.
        constexpr int kCountsPerTransaction = 256;
        if (++counts_ % kCountsPerTransaction == 0) {
            Conn().EndTransactionKeepingSnapshot();
        }
        const TableEntry& entry = Tables()[index];
        const std::string context = "counting the rows of table " + entry.key;
        Statement statement = Conn().NewStatement();
        statement.Execute("SELECT COUNT(*) FROM " + QualifiedName(entry), context);
        if (!statement.Fetch(context)) {
            return Value();
        }
        const auto text = statement.GetText(1, context);
        statement.CloseCursor();
        return text ? ValueFromText(SQL_BIGINT, *text) : Value();
    }

    // The table's indexes (SQLStatistics), its primary key (SQLPrimaryKeys)
    // marked among them, and its foreign keys for their Foreign flag.
    void LoadIndexes(const TableEntry& entry, CollectionNode& indexes) {
        std::vector<IndexEntry> list = GatherIndexes(StatisticsOf(entry), SourceDialect());
        MarkPrimaryKey(list, PrimaryKeyOf(entry));
        std::vector<std::vector<std::string>> foreignKeys;
        for (const auto& relation : ForeignKeysOf(entry)) {
            foreignKeys.push_back(relation.foreignColumns);
        }
        AddIndexNodes(indexes, list, foreignKeys);
    }

    // The SQLStatistics rows of the table's index keys.
    std::vector<StatisticsRow> StatisticsOf(const TableEntry& entry) {
        const std::string context = "reading the indexes of table " + entry.key;
        const auto result = CatalogRowsOf(
            entry, statisticsRows_, SourceDialect().StatisticsQuery(), statistics_column::kTable,
            SQL_API_SQLSTATISTICS,
            [&](Statement& s) { s.Statistics(entry.schema, entry.name, context); }, context);
        std::vector<StatisticsRow> rows;
        if (result) {
            for (const auto& row : result->rows) {
                if (!Names(row, statistics_column::kSchema, statistics_column::kTable, entry)) {
                    continue;
                }
                if (auto key = ReadStatisticsRow(row)) {
                    rows.push_back(std::move(*key));
                }
            }
        }
        return rows;
    }

    // The table's primary key (SQLPrimaryKeys); no columns when it has none.
    PrimaryKey PrimaryKeyOf(const TableEntry& entry) {
        const std::string context = "reading the primary key of table " + entry.key;
        const auto result = CatalogRowsOf(
            entry, primaryKeyRows_, SourceDialect().PrimaryKeysQuery(), primary_keys_column::kTable,
            SQL_API_SQLPRIMARYKEYS,
            [&](Statement& s) { s.PrimaryKeys(entry.schema, entry.name, context); }, context);
        std::vector<PrimaryKeysRow> rows;
        if (result) {
            for (const auto& row : result->rows) {
                if (Names(row, primary_keys_column::kSchema, primary_keys_column::kTable, entry)) {
                    rows.push_back(ReadPrimaryKeysRow(row));
                }
            }
        }
        return GatherPrimaryKey(rows);
    }

    // The definitions of the views, by schema and name, from the source's
    // own catalog; empty where it cannot be read.
    const std::map<std::pair<std::string, std::string>, std::string>& ViewDefinitions() {
        if (viewDefinitions_) {
            return *viewDefinitions_;
        }
        std::optional<ResultSet> result;
        if (const auto query = SourceDialect().ViewDefinitionsQuery()) {
            result = TryQuery(*query, "reading the definitions of the views");
        }
        std::map<std::pair<std::string, std::string>, std::string> definitions;
        if (result) {
            namespace c = view_definitions_column;
            for (const auto& row : result->rows) {
                if (const Cell& definition = At(row, c::kDefinition)) {
                    definitions[{Text(row, c::kSchema), Text(row, c::kName)}] = *definition;
                }
            }
        }
        viewDefinitions_ = std::move(definitions);
        return *viewDefinitions_;
    }

    Value ViewDefinition(const std::optional<std::string>& schema, const std::string& name) {
        const auto& definitions = ViewDefinitions();
        if (auto it = definitions.find({schema.value_or(""), name}); it != definitions.end()) {
            return Value(it->second);
        }
        return Value();
    }

    const std::vector<ProcedureEntry>& Procedures() {
        if (procedures_) {
            return *procedures_;
        }
        const auto result = RunCatalog(
            SQL_API_SQLPROCEDURES,
            [](Statement& s) {
                s.Procedures(std::string("%"), std::string("%"), "reading the list of procedures");
            },
            "reading the list of procedures");
        std::vector<ProcedureEntry> entries;
        if (result) {
            for (const auto& row : result->rows) {
                ProceduresRow procedure = ReadProceduresRow(row);
                ProcedureEntry entry;
                entry.schema = std::move(procedure.schema);
                entry.name = std::move(procedure.name);
                entry.remarks = std::move(procedure.remarks);
                entry.procedureType = procedure.type;
                if (entry.name.empty() || IsSystemSchema(entry.schema)) {
                    continue;
                }
                entries.push_back(std::move(entry));
            }
        }
        Tables();  // the default schema
        // Overloads of one name are told apart by their parameters' types,
        // which only their columns give.
        std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> byName;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            byName[{entries[i].schema.value_or(""), entries[i].name}].push_back(i);
        }
        std::vector<ProcedureEntry> split;
        std::vector<std::pair<std::string, std::string>> candidates;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto& same = byName[{entries[i].schema.value_or(""), entries[i].name}];
            const auto base = KeyCandidates(entries[i].schema, entries[i].name);
            if (same.size() == 1) {
                split.push_back(entries[i]);
                candidates.push_back(base);
                continue;
            }
            if (same.front() != i) {
                continue;  // the overloads were handled with the first of them
            }
            auto groups = OverloadColumns(entries[i].schema, entries[i].name);
            for (std::size_t g = 0; g < std::max(groups.size(), same.size()); ++g) {
                ProcedureEntry overload = entries[same[std::min(g, same.size() - 1)]];
                std::vector<std::string> types;
                if (g < groups.size()) {
                    for (const auto& column : groups[g]) {
                        if (column.columnType == SQL_PARAM_INPUT ||
                            column.columnType == SQL_PARAM_INPUT_OUTPUT) {
                            types.push_back(column.typeName);
                        }
                    }
                    overload.columns = std::move(groups[g]);
                } else {
                    overload.columns.emplace();
                }
                const std::string signature = "(" + JoinNames(types, ", ") + ")";
                candidates.emplace_back(base.first + signature, base.second + signature);
                split.push_back(std::move(overload));
            }
        }
        // Views and procedures share QueryDefs: a procedure whose key a view
        // already has gets a number.
        std::vector<std::pair<std::string, std::string>> all;
        for (const auto& entry : Tables()) {
            if (entry.view) {
                all.emplace_back(entry.key, entry.key);
            }
        }
        const std::size_t views = all.size();
        const auto procedureKeys = UniqueKeys(candidates);
        for (const auto& key : procedureKeys) {
            all.emplace_back(key, key);
        }
        const auto keys = UniqueKeys(all);
        for (std::size_t i = 0; i < split.size(); ++i) {
            split[i].key = keys[views + i];
        }
        procedures_ = std::move(split);
        return *procedures_;
    }

    // The SQLProcedureColumns rows of one procedure name, split into one
    // group per overload: a group ends where the ordinal positions start
    // again.
    std::vector<std::vector<ColumnFacts>> OverloadColumns(const std::optional<std::string>& schema,
                                                          const std::string& name) {
        const std::string context = "reading the parameters of procedure " + name;
        auto run = [&](const std::optional<std::string>& schemaPattern) {
            return RunCatalog(
                SQL_API_SQLPROCEDURECOLUMNS,
                [&](Statement& s) {
                    s.ProcedureColumns(schemaPattern, Conn().EscapePattern(name), context);
                },
                context);
        };
        auto collect = [&](const std::optional<ResultSet>& result) {
            std::vector<TextRow> rows;
            if (result) {
                for (const auto& row : result->rows) {
                    if (NamesTable(row, procedure_columns_column::kSchema,
                                   procedure_columns_column::kProcedure, schema, name)) {
                        rows.push_back(row);
                    }
                }
            }
            return rows;
        };
        auto rows = collect(run(Pattern(schema)));
        if (rows.empty() && schema) {
            // Some drivers find nothing when given the schema: ask without it.
            rows = collect(run(std::nullopt));
        }
        std::vector<std::vector<ColumnFacts>> groups;
        std::optional<std::int64_t> previous;
        for (const auto& row : rows) {
            ColumnFacts facts = ReadProcedureColumnsRow(row);
            const std::int64_t ordinal = facts.ordinal.value_or(0);
            if (groups.empty() || (previous && ordinal <= *previous)) {
                groups.emplace_back();
            }
            previous = ordinal;
            groups.back().push_back(std::move(facts));
        }
        return groups;
    }

    const std::vector<ColumnFacts>& ProcedureColumns(std::size_t index) {
        Procedures();
        ProcedureEntry& entry = (*procedures_)[index];
        if (!entry.columns) {
            auto groups = OverloadColumns(entry.schema, entry.name);
            entry.columns = groups.empty() ? std::vector<ColumnFacts>{} : std::move(groups.front());
        }
        return *entry.columns;
    }

    // The definition of a procedure from the source's own catalog, found by
    // schema, name and its input parameters' type names; Null where the
    // source gives none.
    Value ProcedureDefinition(std::size_t index) {
        const ProcedureEntry& entry = Procedures()[index];
        const auto query = SourceDialect().FunctionDefinitionsQuery();
        if (!query) {
            return Value();
        }
        if (!functionDefinitions_) {
            std::multimap<std::pair<std::string, std::string>, std::pair<std::string, std::string>>
                definitions;
            const auto result = TryQuery(*query, "reading the definitions of the functions");
            if (result) {
                namespace c = function_definitions_column;
                for (const auto& row : result->rows) {
                    if (const Cell& definition = At(row, c::kDefinition)) {
                        definitions.emplace(
                            std::make_pair(Text(row, c::kSchema), Text(row, c::kName)),
                            std::make_pair(Text(row, c::kInputTypes), *definition));
                    }
                }
            }
            functionDefinitions_ = std::move(definitions);
        }
        std::vector<std::string> types;
        for (const auto& column : ProcedureColumns(index)) {
            if (column.columnType == SQL_PARAM_INPUT ||
                column.columnType == SQL_PARAM_INPUT_OUTPUT) {
                types.push_back(column.typeName);
            }
        }
        const std::string signature = JoinNames(types, ",");
        const auto range =
            functionDefinitions_->equal_range({entry.schema.value_or(""), entry.name});
        std::optional<std::string> only;
        std::size_t count = 0;
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second.first == signature) {
                return Value(it->second.second);
            }
            only = it->second.second;
            ++count;
        }
        return count == 1 ? Value(*only) : Value();
    }

    void LoadQueryDefs(CollectionNode& queries) {
        std::weak_ptr<CatalogReader> weak = weak_from_this();
        const auto& entries = Tables();
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const TableEntry& entry = entries[i];
            if (!entry.view) {
                continue;
            }
            ObjectNode& node = queries.Add(entry.key);
            Properties& p = node.properties;
            p.Add("Name", dao::kText, entry.key);
            p.Add(Property("SQL", dao::kMemo, Property::Reader([weak, i] {
                               auto reader = Lock(weak);
                               const TableEntry& view = reader->Tables()[i];
                               return reader->ViewDefinition(view.schema, view.name);
                           })));
            p.Add("Type", dao::kInteger, kQuerySelect);
            p.Add("ReturnsRecords", dao::kBoolean, true);
            p.Add("Updatable", dao::kBoolean, false);
            p.Add("ObjectType", dao::kText, entry.type);
            p.Add("Description", dao::kText, TextOrNull(entry.remarks));
            node.Collection(collections::kFields).loader = [weak, i](CollectionNode& fields) {
                auto reader = Lock(weak);
                AddFields(fields, reader->ColumnsOf(reader->Tables()[i]));
            };
            node.Collection(collections::kParameters);
        }
        const auto& procedures = Procedures();
        for (std::size_t i = 0; i < procedures.size(); ++i) {
            const ProcedureEntry& entry = procedures[i];
            ObjectNode& node = queries.Add(entry.key);
            Properties& p = node.properties;
            p.Add("Name", dao::kText, entry.key);
            p.Add(Property("SQL", dao::kMemo, Property::Reader([weak, i] {
                               return Lock(weak)->ProcedureDefinition(i);
                           })));
            p.Add("Type", dao::kInteger, kQueryProcedure);
            p.Add(Property("ReturnsRecords", dao::kBoolean, Property::Reader([weak, i] {
                               for (const auto& column : Lock(weak)->ProcedureColumns(i)) {
                                   if (column.columnType == SQL_RESULT_COL ||
                                       column.columnType == SQL_RETURN_VALUE) {
                                       return Value(true);
                                   }
                               }
                               return Value(false);
                           })));
            p.Add("Updatable", dao::kBoolean, false);
            p.Add("ObjectType", dao::kText,
                  entry.procedureType == SQL_PT_FUNCTION    ? "function"
                  : entry.procedureType == SQL_PT_PROCEDURE ? "procedure"
                                                            : "");
            p.Add(Property("ReturnType", dao::kText, Property::Reader([weak, i] {
                               for (const auto& column : Lock(weak)->ProcedureColumns(i)) {
                                   if (column.columnType == SQL_RETURN_VALUE) {
                                       return Value(column.typeName);
                                   }
                               }
                               return Value();
                           })));
            p.Add("Description", dao::kText, TextOrNull(entry.remarks));
            node.Collection(collections::kFields).loader = [weak, i](CollectionNode& fields) {
                std::vector<ColumnFacts> results;
                for (const auto& column : Lock(weak)->ProcedureColumns(i)) {
                    if (column.columnType == SQL_RESULT_COL) {
                        results.push_back(column);
                    }
                }
                AddFields(fields, results);
            };
            node.Collection(collections::kParameters).loader = [weak,
                                                                i](CollectionNode& parameters) {
                Lock(weak)->LoadParameters(i, parameters);
            };
        }
    }

    void LoadParameters(std::size_t index, CollectionNode& parameters) {
        std::vector<ColumnFacts> list;
        std::vector<std::string> names;
        for (const auto& column : ProcedureColumns(index)) {
            if (column.columnType != SQL_PARAM_INPUT && column.columnType != SQL_PARAM_OUTPUT &&
                column.columnType != SQL_PARAM_INPUT_OUTPUT) {
                continue;
            }
            list.push_back(column);
            // An unnamed parameter is known by its position, "$1".
            names.push_back(column.name.empty() ? "$" + std::to_string(column.ordinal.value_or(
                                                            static_cast<std::int64_t>(list.size())))
                                                : column.name);
        }
        const auto keys = UniqueNames(names);
        for (std::size_t k = 0; k < list.size(); ++k) {
            const ColumnFacts& column = list[k];
            const int direction = column.columnType == SQL_PARAM_INPUT    ? kParamInput
                                  : column.columnType == SQL_PARAM_OUTPUT ? kParamOutput
                                                                          : kParamInputOutput;
            const int type = DaoTypeFromSqlType(column.dataType);
            Properties& p = parameters.Add(keys[k]).properties;
            p.Add("Name", dao::kText, keys[k]);
            p.Add("Type", dao::kInteger, type);
            p.Add("Direction", dao::kInteger, direction);
            p.Add("TypeName", dao::kText, column.typeName);
            p.Add("Size", dao::kLong, DaoSize(type, column.size));
            p.Add("Precision", dao::kLong, NumberOrNull(column.size));
            p.Add("Scale", dao::kInteger, NumberOrNull(column.digits));
            p.Add("DefaultValue", dao::kText, column.defaultValue.value_or(""));
            p.Add("OrdinalPosition", dao::kInteger, static_cast<int>(k));
        }
    }

    void LoadRelations(CollectionNode& relations) {
        for (const auto& relation : Relations()) {
            ObjectNode& node = relations.Add(relation.key);
            Properties& p = node.properties;
            const int attributes = dao::RelationAttributes(relation.onUpdate, relation.onDelete);
            p.Add("Name", dao::kText, relation.key);
            p.Add("Table", dao::kText, relation.table);
            p.Add("ForeignTable", dao::kText, relation.foreignTable);
            p.Add("Attributes", dao::kLong, attributes);
            p.Add("OnUpdate", dao::kText, relation.onUpdate);
            p.Add("OnDelete", dao::kText, relation.onDelete);
            p.Add("Deferrability", dao::kText, relation.deferrability);
            CollectionNode& fields = node.Collection(collections::kFields);
            const auto keys = UniqueNames(relation.primaryColumns);
            for (std::size_t k = 0; k < keys.size(); ++k) {
                Properties& f = fields.Add(keys[k]).properties;
                f.Add("Name", dao::kText, keys[k]);
                f.Add("ForeignName", dao::kText, relation.foreignColumns[k]);
                f.Add("OrdinalPosition", dao::kInteger, static_cast<int>(k));
            }
        }
    }

    static Properties& AddDocument(CollectionNode& documents, const std::string& name,
                                   std::string_view container) {
        Properties& p = documents.Add(name).properties;
        p.Add("Name", dao::kText, name);
        p.Add("Container", dao::kText, Value(container));
        return p;
    }

    void LoadTableDocuments(CollectionNode& documents) {
        for (const auto& entry : Tables()) {
            AddDocument(documents, entry.key, kTablesContainer)
                .Add("ObjectType", dao::kText, FoldAsciiCase(entry.type));
        }
    }

    void LoadRelationshipDocuments(CollectionNode& documents) {
        for (const auto& relation : Relations()) {
            AddDocument(documents, relation.key, kRelationshipsContainer);
        }
    }

    // Triggers are no part of the ODBC catalog: they come from the source's
    // own catalog where the backend knows it, and are absent otherwise.
    void LoadTriggerDocuments(CollectionNode& documents) {
        const auto query = SourceDialect().TriggersQuery();
        if (!query) {
            return;
        }
        const auto result = TryQuery(*query, "reading the triggers");
        if (!result) {
            return;
        }
        namespace c = triggers_column;
        std::vector<TriggerEntry> triggers;
        std::vector<std::pair<std::string, std::string>> candidates;
        for (const auto& row : result->rows) {
            TriggerEntry trigger;
            trigger.table = TableKey(NonEmpty(row, c::kSchema), Text(row, c::kTable));
            trigger.sql = Text(row, c::kDefinition);
            const std::string name = Text(row, c::kName);
            candidates.emplace_back(name, trigger.table + "." + name);
            triggers.push_back(std::move(trigger));
        }
        const auto keys = UniqueKeys(candidates);
        for (std::size_t i = 0; i < triggers.size(); ++i) {
            Properties& p = AddDocument(documents, keys[i], kTriggersContainer);
            p.Add("Table", dao::kText, triggers[i].table);
            p.Add("SQL", dao::kMemo, triggers[i].sql);
        }
    }

    struct SchemaColumns {
        bool implemented = false;
        std::optional<std::size_t> autoIncrementColumn;
        // By table name, as read: the rows themselves would take several
        // times the memory.
        std::map<std::string, std::vector<ColumnFacts>> columns;
    };

    Connection* connection_;  // Not owned; null once detached.
    std::optional<std::vector<TableEntry>> tables_;
    int counts_ = 0;  // tables counted
    // Positions in tables_ by key and by name (views into tables_, which
    // does not change once read).
    std::unordered_map<std::string_view, std::size_t> byKey_;
    std::unordered_multimap<std::string_view, std::size_t> byName_;
    std::optional<std::string> defaultSchema_;
    std::map<std::string, SchemaColumns> schemaColumns_;
    std::map<std::string, std::vector<RelationEntry>> foreignKeys_;
    BulkCatalog foreignKeyRows_{"reading the foreign keys of every table"};
    BulkCatalog statisticsRows_{"reading the indexes of every table"};
    BulkCatalog primaryKeyRows_{"reading the primary keys of every table"};
    std::optional<std::vector<RelationEntry>> relations_;
    std::optional<std::vector<ProcedureEntry>> procedures_;
    std::optional<std::map<std::pair<std::string, std::string>, std::string>> viewDefinitions_;
    std::optional<
        std::multimap<std::pair<std::string, std::string>, std::pair<std::string, std::string>>>
        functionDefinitions_;
};

Catalog::Catalog(Connection& connection) : reader_(std::make_shared<CatalogReader>(connection)) {}

Catalog::~Catalog() = default;

void Catalog::Attach(ObjectNode& root) {
    reader_->Attach(root);
}

std::string Catalog::SelectSource(std::string_view key) {
    return reader_->SelectSource(key);
}

void Catalog::Detach() noexcept {
    reader_->Detach();
}

}  // namespace kesmark::odbc
