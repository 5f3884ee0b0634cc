#include "engine/sync/schema.h"

#include <algorithm>

#include "engine/model/dao.h"
#include "engine/model/node_key.h"
#include "engine/model/text.h"

namespace kesmark::sync {

namespace {

std::optional<Value> Read(const Properties& properties, std::string_view name) {
    const Property* property = properties.Find(name);
    if (!property) {
        return std::nullopt;
    }
    try {
        return property->GetValue();
    } catch (const DbError&) {
        return std::nullopt;
    }
}

std::string Text(const Properties& properties, std::string_view name) {
    const auto value = Read(properties, name);
    if (!value || value->IsNull()) {
        return {};
    }
    if (const auto* text = value->As<std::string>()) {
        return *text;
    }
    return PlainText(*value);
}

std::int64_t Number(const Properties& properties, std::string_view name) {
    const auto value = Read(properties, name);
    if (!value || !value->IsNumeric()) {
        return 0;
    }
    return static_cast<std::int64_t>(NumericValue(*value));
}

bool Flag(const Properties& properties, std::string_view name) {
    return Number(properties, name) != 0;
}

template <class T>
const T* FindByName(const std::vector<T>& list, const std::string& name) {
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const T& item) { return item.name == name; });
    return it == list.end() ? nullptr : &*it;
}

// Calls `each` with every member of the collection `name` of `owner` (none
// when the object has no such collection).
template <class Each>
void ForEachMember(DbObject& owner, std::string_view name, Each each) {
    std::unique_ptr<Collection> collection;
    try {
        collection = owner.GetCollection(name);
    } catch (const DbError& e) {
        if (e.Number() == errors::kNotSupported) {
            return;
        }
        throw;
    }
    const std::size_t count = collection->Count();
    for (std::size_t i = 0; i < count; ++i) {
        auto member = collection->ItemAt(i);
        each(collection->NameAt(i), *member);
    }
}

Column ReadColumn(const std::string& name, DbObject& field) {
    const Properties p = field.GetProperties();
    Column column;
    column.name = name;
    column.type = static_cast<int>(Number(p, "Type"));
    column.declaredType = Text(p, "DeclaredType");
    column.typeName = Text(p, "TypeName");
    column.precision = Number(p, "Precision");
    column.scale = Number(p, "Scale");
    column.required = Flag(p, "Required");
    column.primaryKey = Number(p, "PrimaryKeyPosition") > 0;
    column.autoIncrement = (Number(p, "Attributes") & dao::kAutoIncrField) != 0;
    column.defaultValue = Text(p, "DefaultValue");
    column.generated = Text(p, "Generated");
    column.hidden = Flag(p, "Hidden");
    return column;
}

Index ReadIndex(const std::string& name, DbObject& object) {
    const Properties p = object.GetProperties();
    Index index;
    index.name = name;
    index.sql = Text(p, "SQL");
    index.unique = Flag(p, "Unique");
    index.primary = Flag(p, "Primary");
    index.foreign = Flag(p, "Foreign");
    index.condition = Text(p, "Condition");
    ForEachMember(object, collections::kFields, [&](const std::string& field, DbObject& member) {
        const Properties f = member.GetProperties();
        index.fields.push_back(field);
        index.descending.push_back(Flag(f, "Descending"));
    });
    return index;
}

}  // namespace

const Column* Table::FindColumn(const std::string& name) const {
    return FindByName(columns, name);
}
const Index* Table::FindIndex(const std::string& name) const {
    return FindByName(indexes, name);
}
const Table* Schema::FindTable(const std::string& name) const {
    return FindByName(tables, name);
}
const View* Schema::FindView(const std::string& name) const {
    return FindByName(views, name);
}
const Trigger* Schema::FindTrigger(const std::string& name) const {
    return FindByName(triggers, name);
}
const Relation* Schema::FindRelation(const std::string& name) const {
    return FindByName(relations, name);
}

bool Schema::HasName(const std::string& name) const {
    const std::string folded = FoldAsciiCase(name);
    auto same = [&](const std::string& other) { return FoldAsciiCase(other) == folded; };
    for (const Table& table : tables) {
        if (same(table.name)) {
            return true;
        }
    }
    return std::any_of(views.begin(), views.end(), [&](const View& v) { return same(v.name); }) ||
           std::any_of(triggers.begin(), triggers.end(),
                       [&](const Trigger& t) { return same(t.name); });
}

std::optional<Value> Schema::DatabaseProperty(const std::string& name) const {
    return Read(properties, name);
}

Schema ReadSchema(Database& db) {
    Schema schema;
    try {
        schema.properties = db.GetProperties();
        ForEachMember(db, collections::kTableDefs, [&](const std::string& name, DbObject& object) {
            const Properties p = object.GetProperties();
            Table table;
            table.name = name;
            table.type = Text(p, "TableType");
            table.sql = Text(p, "SQL");
            table.system = (Number(p, "Attributes") & dao::kSystemObject) == dao::kSystemObject;
            table.schemaName = Text(p, "SchemaName");
            table.sourceName = Text(p, "SourceTableName");
            schema.tables.push_back(std::move(table));
        });
        ForEachMember(db, collections::kQueryDefs, [&](const std::string& name, DbObject& object) {
            const Properties p = object.GetProperties();
            if (Number(p, "Type") == dao::kQuerySelect) {
                schema.views.push_back({name, Text(p, "SQL")});
            }
        });
        ForEachMember(db, collections::kRelations, [&](const std::string& name, DbObject& object) {
            const Properties p = object.GetProperties();
            Relation relation;
            relation.name = name;
            relation.table = Text(p, "Table");
            relation.foreignTable = Text(p, "ForeignTable");
            relation.onUpdate = Text(p, "OnUpdate");
            relation.onDelete = Text(p, "OnDelete");
            ForEachMember(object, collections::kFields, [&](const std::string&, DbObject& field) {
                const Properties f = field.GetProperties();
                relation.columns.push_back(Text(f, "Name"));
                relation.foreignColumns.push_back(Text(f, "ForeignName"));
            });
            schema.relations.push_back(std::move(relation));
        });
        ForEachMember(db, collections::kContainers, [&](const std::string& name, DbObject& object) {
            if (name != "Triggers") {
                return;
            }
            ForEachMember(
                object, collections::kDocuments,
                [&](const std::string& trigger, DbObject& document) {
                    const Properties p = document.GetProperties();
                    schema.triggers.push_back({trigger, Text(p, "Table"), Text(p, "SQL")});
                });
        });
    } catch (const DbError& e) {
        throw NamingDatabase(e, db.Name(), "reading its schema for the sync script");
    }
    return schema;
}

TableDetails::TableDetails(Database& db, const Table& table) : table_(table) {
    if (table.detailsLoaded) {
        return;
    }
    try {
        auto object = db.GetCollection(collections::kTableDefs)->Item(table.name);
        ForEachMember(*object, collections::kFields, [&](const std::string& field, DbObject& f) {
            table.columns.push_back(ReadColumn(field, f));
        });
        ForEachMember(*object, collections::kIndexes, [&](const std::string& index, DbObject& i) {
            table.indexes.push_back(ReadIndex(index, i));
        });
    } catch (const DbError& e) {
        table.columns.clear();
        table.indexes.clear();
        throw NamingDatabase(e, db.Name(),
                             "reading table '" + table.name + "' for the sync script");
    }
    table.detailsLoaded = true;
    loadedHere_ = true;
}

TableDetails::~TableDetails() {
    if (loadedHere_) {
        std::vector<Column>().swap(table_.columns);
        std::vector<Index>().swap(table_.indexes);
        table_.detailsLoaded = false;
    }
}

std::string TargetName(const Table& table, Dialect dialect) {
    if (dialect == Dialect::PostgreSQL && !table.schemaName.empty() && !table.sourceName.empty()) {
        return QuoteIdentifier(table.schemaName) + "." + QuoteIdentifier(table.sourceName);
    }
    return QuoteIdentifier(table.sourceName.empty() ? table.name : table.sourceName);
}

bool SameColumnType(const Column& column1, const Column& column2, Dialect dialect) {
    if (dialect == Dialect::SQLite) {
        return column1.declaredType == column2.declaredType;
    }
    if (!column1.typeName.empty() && !column2.typeName.empty()) {
        return FoldAsciiCase(column1.typeName) == FoldAsciiCase(column2.typeName) &&
               column1.precision == column2.precision && column1.scale == column2.scale;
    }
    return column1.type == column2.type;
}

std::string TableKey(const std::string& table) {
    return NodeKey().Child(collections::kTableDefs, table).Text();
}

std::string FieldKey(const std::string& table, const std::string& field) {
    return NodeKey()
        .Child(collections::kTableDefs, table)
        .Child(collections::kFields, field)
        .Text();
}

std::string IndexKey(const std::string& table, const std::string& index) {
    return NodeKey()
        .Child(collections::kTableDefs, table)
        .Child(collections::kIndexes, index)
        .Text();
}

std::string QueryKey(const std::string& query) {
    return NodeKey().Child(collections::kQueryDefs, query).Text();
}

std::string RelationKey(const std::string& relation) {
    return NodeKey().Child(collections::kRelations, relation).Text();
}

std::string TriggerKey(const std::string& trigger) {
    return NodeKey()
        .Child(collections::kContainers, "Triggers")
        .Child(collections::kDocuments, trigger)
        .Text();
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

}  // namespace kesmark::sync
