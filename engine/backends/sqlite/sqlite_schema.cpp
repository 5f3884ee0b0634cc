#include "engine/backends/sqlite/sqlite_schema.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/backends/sqlite/sqlite_catalog.h"
#include "engine/backends/sqlite/sqlite_sql_text.h"
#include "engine/model/vocabulary.h"

namespace kesmark::sqlite {

namespace {

using dao::kAutoIncrField;
using dao::kDescending;
using dao::kFixedField;
using dao::kQuerySelect;
using dao::kSystemObject;
using dao::kVariableField;
using vocabulary::DaoSizeFromDeclaredType;
using vocabulary::DaoTypeFromDeclaredType;
using vocabulary::IsFixedSizeDaoType;

// The index that stands for a rowid primary key, which has no index of its
// own. Users cannot give an index a name beginning with "sqlite_".
constexpr std::string_view kRowidIndexName = "sqlite_rowid";

constexpr std::string_view kTablesContainer = "Tables";
constexpr std::string_view kRelationshipsContainer = "Relationships";
constexpr std::string_view kTriggersContainer = "Triggers";

struct RelationField {
    std::string name;         // column of the referenced table
    std::string foreignName;  // column of the table holding the key
};

struct Relation {
    std::string name;
    std::string table;         // referenced (parent) table
    std::string foreignTable;  // table holding the key
    std::vector<RelationField> fields;
    std::string onUpdate;
    std::string onDelete;
    std::string match;
};

// What the loaders of one database share: the reader and the relations,
// which both Relations and the Relationships container list.
struct SchemaContext {
    SchemaContext(std::shared_ptr<SchemaReader> owned, std::string file)
        : owner(std::move(owned)), reader(*owner), file(std::move(file)) {}

    std::shared_ptr<SchemaReader> owner;
    SchemaReader& reader;
    std::string file;  // the database's name, for errors
    std::shared_ptr<const std::vector<Relation>> relations;
};

using ContextPtr = std::shared_ptr<SchemaContext>;

// A collection loader that names the file and what it was reading in its
// errors ("'shop.db': reading the fields of table 'Orders': ...").
template <typename Load>
std::function<void(CollectionNode&)> Guarded(const ContextPtr& context, std::string what,
                                             Load load) {
    return [context, what = std::move(what), load](CollectionNode& collection) {
        try {
            load(collection);
        } catch (const DbError& e) {
            throw ReadingError(e, context->file, what);
        }
    };
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && FoldAsciiCase(text.substr(0, prefix.size())) == prefix;
}

// `name`, or "name #2", "name #3", ... when `name` is already in `used`.
// Adds the result to `used`.
std::string UniqueName(const std::string& name, std::unordered_set<std::string>& used) {
    std::string candidate = name;
    for (int n = 2; used.count(candidate) != 0; ++n) {
        candidate = name + " #" + std::to_string(n);
    }
    used.insert(candidate);
    return candidate;
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const auto& name : names) {
        joined += (joined.empty() ? "" : ", ") + name;
    }
    return joined;
}

bool SameNamesIgnoringCase(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) {
            return false;
        }
    }
    return true;
}

void LoadTableFields(SchemaContext& context, const std::string& table, CollectionNode& fields) {
    const TableShape& shape = context.reader.Shape(table);
    for (std::size_t i = 0; i < shape.columns.size(); ++i) {
        const ColumnInfo& column = shape.columns[i];
        const int type = DaoTypeFromDeclaredType(column.declaredType);
        int attributes = IsFixedSizeDaoType(type) ? kFixedField : kVariableField;
        if (static_cast<int>(i) == shape.rowidColumn) {
            attributes |= kAutoIncrField;
        }
        Properties& p = fields.Add(column.name).properties;
        p.Add("Name", dao::kText, column.name);
        p.Add("Type", dao::kInteger, type);
        p.Add("DeclaredType", dao::kText, column.declaredType);
        p.Add("Size", dao::kLong, DaoSizeFromDeclaredType(column.declaredType, type));
        p.Add("OrdinalPosition", dao::kInteger, static_cast<int>(i));
        // A key column is required: SQLite numbers the rowid column itself,
        // and a NULL key is a fault of SQLite's that other engines refuse.
        p.Add("Required", dao::kBoolean, column.notNull || column.primaryKeyPosition > 0);
        p.Add("DefaultValue", dao::kText,
              vocabulary::CanonicalDefault(column.defaultValue.value_or(""), type));
        p.Add("Attributes", dao::kLong, attributes);
        p.Add("PrimaryKeyPosition", dao::kInteger, column.primaryKeyPosition);
        p.Add("Collation", dao::kText, column.collation);
        p.Add("AutoIncrement", dao::kBoolean, column.autoIncrement);
        p.Add("Generated", dao::kText,
              column.hidden == 2   ? "VIRTUAL"
              : column.hidden == 3 ? "STORED"
                                   : "");
        p.Add("Hidden", dao::kBoolean, column.hidden == 1);
    }
}

std::string OriginText(const std::string& origin) {
    if (origin == "pk") {
        return "PRIMARY KEY";
    }
    if (origin == "u") {
        return "UNIQUE";
    }
    return "CREATE INDEX";
}

struct IndexDescription {
    std::string name;
    bool primary = false;
    bool unique = false;
    bool clustered = false;
    bool partial = false;
    std::string condition;
    std::string origin;
    std::string sql;
    std::vector<IndexColumnInfo> keys;  // names already unique within the index
};

void AddIndex(CollectionNode& indexes, const IndexDescription& index,
              const std::vector<ForeignKeyInfo>& foreignKeys) {
    std::vector<std::string> plainNames;
    bool plain = true;
    for (const auto& key : index.keys) {
        plain = plain && key.column >= 0;
        plainNames.push_back(key.name);
    }
    bool foreign = false;
    for (const auto& key : foreignKeys) {
        foreign = foreign || (plain && SameNamesIgnoringCase(key.from, plainNames));
    }

    ObjectNode& node = indexes.Add(index.name);
    Properties& p = node.properties;
    p.Add("Name", dao::kText, index.name);
    p.Add("Primary", dao::kBoolean, index.primary);
    p.Add("Unique", dao::kBoolean, index.unique);
    p.Add("Foreign", dao::kBoolean, foreign);
    p.Add("IgnoreNulls", dao::kBoolean,
          index.partial && plain && ConditionExcludesNulls(index.condition, plainNames));
    p.Add("Clustered", dao::kBoolean, index.clustered);
    p.Add("Partial", dao::kBoolean, index.partial);
    p.Add("Condition", dao::kText, index.condition);
    p.Add("Origin", dao::kText, index.origin);
    p.Add("SQL", dao::kMemo, index.sql);
    p.Add("Required", dao::kBoolean, index.primary);

    CollectionNode& fields = node.Collection(collections::kFields);
    for (std::size_t k = 0; k < index.keys.size(); ++k) {
        const IndexColumnInfo& key = index.keys[k];
        Properties& f = fields.Add(key.name).properties;
        f.Add("Name", dao::kText, key.name);
        f.Add("Attributes", dao::kLong, key.descending ? kDescending : 0);
        f.Add("OrdinalPosition", dao::kInteger, static_cast<int>(k));
        f.Add("Descending", dao::kBoolean, key.descending);
        f.Add("Collation", dao::kText, key.collation);
    }
}

void LoadIndexes(SchemaContext& context, const CatalogTable& table, CollectionNode& indexes) {
    const auto kind = context.reader.Kind(table);
    const TableShape& shape = context.reader.Shape(table.name);
    // sqlite_schema lists every index but the primary key of a WITHOUT ROWID
    // table; a table with neither has no index list to read.
    static const std::vector<IndexInfo> kNone;
    const auto& list =
        table.indexCount > 0 || kind.withoutRowid ? context.reader.IndexList(table.name) : kNone;
    if (list.empty() && shape.rowidColumn < 0) {
        return;
    }
    const auto statements = list.empty() ? decltype(context.reader.IndexStatements(table))()
                                         : context.reader.IndexStatements(table);
    const auto foreignKeys = context.reader.ForeignKeys(table.name);

    if (shape.rowidColumn >= 0) {
        IndexDescription rowid;
        rowid.name = kRowidIndexName;
        rowid.primary = rowid.unique = rowid.clustered = true;
        rowid.origin = "rowid";
        const auto& column = shape.columns[static_cast<std::size_t>(shape.rowidColumn)];
        rowid.keys.push_back({shape.rowidColumn, column.name, false, "BINARY"});
        AddIndex(indexes, rowid, foreignKeys);
    }
    for (const IndexInfo& info : list) {
        IndexDescription index;
        index.name = info.name;
        index.primary = info.origin == "pk";
        index.unique = info.unique;
        index.clustered = index.primary && kind.withoutRowid;
        index.partial = info.partial;
        index.origin = OriginText(info.origin);
        for (const auto& [name, sql] : statements) {
            if (name == info.name) {
                index.sql = sql;
            }
        }
        const auto parts = index.sql.empty() ? std::nullopt : SplitCreateIndex(index.sql);
        if (info.partial && parts) {
            index.condition = parts->condition;
        }
        std::unordered_set<std::string> used;
        index.keys = context.reader.IndexKeyColumns(table.name, info.name);
        for (std::size_t k = 0; k < index.keys.size(); ++k) {
            auto& key = index.keys[k];
            if (key.column == -2) {
                key.name = parts && k < parts->keys.size() ? parts->keys[k] : "(expression)";
            } else if (key.column == -1) {
                key.name = "rowid";
            }
            key.name = UniqueName(key.name, used);
        }
        AddIndex(indexes, index, foreignKeys);
    }
}

void DescribeTable(const ContextPtr& context, std::size_t position, ObjectNode& node) {
    const CatalogTable& table = context->reader.GetCatalog().tables[position];
    Properties& p = node.properties;
    p.Add("Name", dao::kText, table.name);
    p.Add("Attributes", dao::kLong,
          StartsWithIgnoringCase(table.name, "sqlite_") ? kSystemObject : 0);
    p.Add("SQL", dao::kMemo, context->reader.StatementOf(table.rowid));
    const auto kind = context->reader.Kind(table);
    p.Add("TableType", dao::kText, Value(kind.type));
    p.Add("Updatable", dao::kBoolean, false);
    p.Add("WithoutRowid", dao::kBoolean, kind.withoutRowid);
    p.Add("Strict", dao::kBoolean, kind.strict);
    const std::string name = table.name;
    p.Add(Property("RecordCount", dao::kLong, Property::Reader([context, name] {
                       try {
                           return Value(context->reader.CountRows(name));
                       } catch (const DbError& e) {
                           throw ReadingError(e, context->file,
                                              "the number of rows of table '" + name + "'");
                       }
                   })));
    node.Collection(collections::kFields).loader = Guarded(
        context, "the fields of table '" + name + "'",
        [context, name](CollectionNode& fields) { LoadTableFields(*context, name, fields); });
    node.Collection(collections::kIndexes).loader =
        Guarded(context, "the indexes of table '" + name + "'",
                [context, position](CollectionNode& indexes) {
                    LoadIndexes(*context, context->reader.GetCatalog().tables[position], indexes);
                });
}

void LoadTableDefs(const ContextPtr& context, CollectionNode& tables) {
    const Catalog& catalog = context->reader.GetCatalog();
    tables.source = MemberSource{
        catalog.tables.size(),
        [context](std::size_t i) { return context->reader.GetCatalog().tables[i].name; },
        [context](std::size_t i, ObjectNode& node) {
            try {
                DescribeTable(context, i, node);
            } catch (const DbError& e) {
                throw ReadingError(e, context->file, "table '" + node.name + "'");
            }
        }};
}

void LoadQueryFields(SchemaContext& context, const std::string& view, CollectionNode& fields) {
    const auto columns = context.reader.ViewColumns(view);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const ViewColumnInfo& column = columns[i];
        const int type = DaoTypeFromDeclaredType(column.declaredType);
        Properties& p = fields.Add(column.name).properties;
        p.Add("Name", dao::kText, column.name);
        p.Add("Type", dao::kInteger, type);
        p.Add("DeclaredType", dao::kText, column.declaredType);
        p.Add("Size", dao::kLong, DaoSizeFromDeclaredType(column.declaredType, type));
        p.Add("OrdinalPosition", dao::kInteger, static_cast<int>(i));
        // A view's column may always be Null and has no default of its own.
        p.Add("Required", dao::kBoolean, false);
        p.Add("DefaultValue", dao::kText, "");
        p.Add("Attributes", dao::kLong, IsFixedSizeDaoType(type) ? kFixedField : kVariableField);
        p.Add("SourceTable", dao::kText, column.sourceTable);
        p.Add("SourceField", dao::kText, column.sourceField);
    }
}

void DescribeQuery(const ContextPtr& context, std::size_t position, ObjectNode& node) {
    const Catalog& catalog = context->reader.GetCatalog();
    const CatalogView& view = catalog.views[position];
    Properties& p = node.properties;
    p.Add("Name", dao::kText, view.name);
    p.Add("SQL", dao::kMemo, context->reader.StatementOf(view.rowid));
    p.Add("Type", dao::kInteger, kQuerySelect);
    p.Add("ReturnsRecords", dao::kBoolean, true);
    p.Add("Updatable", dao::kBoolean, catalog.HasTriggers(view.name));
    const std::string name = view.name;
    node.Collection(collections::kFields).loader = Guarded(
        context, "the fields of view '" + name + "'",
        [context, name](CollectionNode& fields) { LoadQueryFields(*context, name, fields); });
    node.Collection(collections::kParameters);
}

void LoadQueryDefs(const ContextPtr& context, CollectionNode& queries) {
    queries.source = MemberSource{
        context->reader.GetCatalog().views.size(),
        [context](std::size_t i) { return context->reader.GetCatalog().views[i].name; },
        [context](std::size_t i, ObjectNode& node) {
            try {
                DescribeQuery(context, i, node);
            } catch (const DbError& e) {
                throw ReadingError(e, context->file, "view '" + node.name + "'");
            }
        }};
}

// The parent columns of a foreign key by their stored names: as the
// constraint names them, or the parent's primary key when it names none.
// Empty when they cannot be known (no such parent, no declared key).
std::vector<std::string> ParentColumns(SchemaContext& context, const ForeignKeyInfo& key) {
    const Catalog& catalog = context.reader.GetCatalog();
    if (!catalog.StoredName(key.parent)) {
        bool named = false;
        for (const auto& column : key.to) {
            named = named || !column.empty();
        }
        return named ? key.to : std::vector<std::string>{};
    }
    const TableShape* shape = nullptr;
    try {
        shape = &context.reader.Shape(key.parent);
    } catch (const DbError&) {
        // A virtual table whose module this SQLite lacks: its columns are
        // unknown, and the constraint's own words are all there is.
    }
    std::vector<std::string> columns;
    if (key.to.empty() || key.to.front().empty()) {
        columns = shape ? shape->PrimaryKey() : std::vector<std::string>{};
        return columns.size() == key.from.size() ? columns : std::vector<std::string>{};
    }
    for (const auto& name : key.to) {
        std::string stored = name;
        if (shape) {
            for (const auto& column : shape->columns) {
                if (FoldAsciiCase(column.name) == FoldAsciiCase(name)) {
                    stored = column.name;
                }
            }
        }
        columns.push_back(stored);
    }
    return columns;
}

// Relations by schema, kept for the life of the program: the relation walk
// opens database 2 afresh before every relation it compares, and reading the
// foreign keys of every table again each time would cost far more than the
// comparison. Relations depend on nothing but the statements in
// sqlite_schema, so a digest of those is the key.
class RelationCache {
  public:
    std::shared_ptr<const std::vector<Relation>> Find(const SchemaDigest& digest) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first == digest) {
                entries_.splice(entries_.begin(), entries_, it);
                return entries_.front().second;
            }
        }
        return nullptr;
    }
    void Keep(const SchemaDigest& digest, std::shared_ptr<const std::vector<Relation>> relations) {
        std::lock_guard lock(mutex_);
        entries_.emplace_front(digest, std::move(relations));
        if (entries_.size() > kEntries) {
            entries_.pop_back();
        }
    }

  private:
    static constexpr std::size_t kEntries = 4;
    std::mutex mutex_;
    std::list<std::pair<SchemaDigest, std::shared_ptr<const std::vector<Relation>>>> entries_;
};

RelationCache& Cache() {
    static RelationCache cache;
    return cache;
}

std::vector<Relation> ReadRelations(SchemaContext& context) {
    std::vector<Relation> relations;
    std::unordered_set<std::string> usedNames;
    for (const ForeignKeyInfo& key : context.reader.AllForeignKeys()) {
        const auto parentColumns = ParentColumns(context, key);
        Relation relation;
        relation.table = key.parent;
        relation.foreignTable = key.table;
        std::string name = key.table + "(" + JoinNames(key.from) + ") -> " + key.parent;
        if (!parentColumns.empty()) {
            name += "(" + JoinNames(parentColumns) + ")";
        }
        relation.name = UniqueName(name, usedNames);
        std::unordered_set<std::string> usedFields;
        for (std::size_t i = 0; i < key.from.size(); ++i) {
            const std::string& parentColumn =
                i < parentColumns.size() ? parentColumns[i] : key.from[i];
            relation.fields.push_back({UniqueName(parentColumn, usedFields), key.from[i]});
        }
        relation.onUpdate = key.onUpdate;
        relation.onDelete = key.onDelete;
        relation.match = key.match;
        relations.push_back(std::move(relation));
    }
    return relations;
}

const std::vector<Relation>& Relations(SchemaContext& context) {
    if (!context.relations) {
        const SchemaDigest& key = context.reader.Digest();
        context.relations = Cache().Find(key);
        if (!context.relations) {
            context.relations =
                std::make_shared<const std::vector<Relation>>(ReadRelations(context));
            Cache().Keep(key, context.relations);
        }
    }
    return *context.relations;
}

void DescribeRelation(const Relation& relation, ObjectNode& node) {
    Properties& p = node.properties;
    const int attributes = dao::RelationAttributes(relation.onUpdate, relation.onDelete);
    p.Add("Name", dao::kText, relation.name);
    p.Add("Table", dao::kText, relation.table);
    p.Add("ForeignTable", dao::kText, relation.foreignTable);
    p.Add("Attributes", dao::kLong, attributes);
    p.Add("OnUpdate", dao::kText, relation.onUpdate);
    p.Add("OnDelete", dao::kText, relation.onDelete);
    p.Add("Match", dao::kText, relation.match);
    CollectionNode& fields = node.Collection(collections::kFields);
    for (std::size_t i = 0; i < relation.fields.size(); ++i) {
        Properties& f = fields.Add(relation.fields[i].name).properties;
        f.Add("Name", dao::kText, relation.fields[i].name);
        f.Add("ForeignName", dao::kText, relation.fields[i].foreignName);
        f.Add("OrdinalPosition", dao::kInteger, static_cast<int>(i));
    }
}

void LoadRelations(const ContextPtr& context, CollectionNode& relations) {
    relations.source =
        MemberSource{Relations(*context).size(),
                     [context](std::size_t i) { return Relations(*context)[i].name; },
                     [context](std::size_t i, ObjectNode& node) {
                         DescribeRelation(Relations(*context)[i], node);
                     }};
}

void DescribeDocument(ObjectNode& node, std::string_view container) {
    node.properties.Add("Name", dao::kText, node.name);
    node.properties.Add("Container", dao::kText, Value(container));
}

void LoadTableDocuments(const ContextPtr& context, CollectionNode& documents) {
    // The tables, then the views.
    const Catalog& catalog = context->reader.GetCatalog();
    documents.source = MemberSource{
        catalog.tables.size() + catalog.views.size(),
        [context](std::size_t i) {
            const Catalog& catalog = context->reader.GetCatalog();
            return i < catalog.tables.size() ? catalog.tables[i].name
                                             : catalog.views[i - catalog.tables.size()].name;
        },
        [context](std::size_t i, ObjectNode& node) {
            const Catalog& catalog = context->reader.GetCatalog();
            DescribeDocument(node, kTablesContainer);
            node.properties.Add(
                "ObjectType", dao::kText,
                i < catalog.tables.size() ? Value(catalog.tables[i].type) : Value("view"));
        }};
}

void LoadRelationshipDocuments(const ContextPtr& context, CollectionNode& documents) {
    documents.source = MemberSource{
        Relations(*context).size(),
        [context](std::size_t i) { return Relations(*context)[i].name; },
        [](std::size_t, ObjectNode& node) { DescribeDocument(node, kRelationshipsContainer); }};
}

void LoadTriggerDocuments(const ContextPtr& context, CollectionNode& documents) {
    documents.source = MemberSource{
        context->reader.GetCatalog().triggers.size(),
        [context](std::size_t i) { return context->reader.GetCatalog().triggers[i].name; },
        [context](std::size_t i, ObjectNode& node) {
            const CatalogTrigger& trigger = context->reader.GetCatalog().triggers[i];
            DescribeDocument(node, kTriggersContainer);
            node.properties.Add("Table", dao::kText, trigger.table);
            node.properties.Add("SQL", dao::kMemo, context->reader.StatementOf(trigger.rowid));
        }};
}

void AddContainer(CollectionNode& containers, std::string_view name, const ContextPtr& context,
                  void (*load)(const ContextPtr&, CollectionNode&)) {
    ObjectNode& node = containers.Add(std::string(name));
    node.properties.Add("Name", dao::kText, Value(name));
    node.Collection(collections::kDocuments).loader =
        Guarded(context, "the documents of container '" + std::string(name) + "'",
                [context, load](CollectionNode& documents) { load(context, documents); });
}

}  // namespace

void BuildSchema(std::shared_ptr<SchemaReader> reader, ObjectNode& root, const std::string& file) {
    auto context = std::make_shared<SchemaContext>(std::move(reader), file);
    root.Collection(collections::kTableDefs).loader =
        Guarded(context, "the list of tables",
                [context](CollectionNode& tables) { LoadTableDefs(context, tables); });
    root.Collection(collections::kQueryDefs).loader =
        Guarded(context, "the list of views",
                [context](CollectionNode& queries) { LoadQueryDefs(context, queries); });
    root.Collection(collections::kRelations).loader =
        Guarded(context, "the foreign keys",
                [context](CollectionNode& relations) { LoadRelations(context, relations); });
    CollectionNode& containers = root.Collection(collections::kContainers);
    AddContainer(containers, kTablesContainer, context, LoadTableDocuments);
    AddContainer(containers, kRelationshipsContainer, context, LoadRelationshipDocuments);
    AddContainer(containers, kTriggersContainer, context, LoadTriggerDocuments);
}

}  // namespace kesmark::sqlite
