#include "engine/backends/access/access_schema.h"

#include <algorithm>
#include <bit>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "engine/backends/access/access_queries.h"
#include "engine/backends/access/property_block.h"
#include "engine/model/dao.h"
#include "engine/model/text.h"
#include "engine/model/vocabulary.h"

namespace kesmark::access {

namespace {

// MSysObjects: containers hang below this parent id; object types.
constexpr std::int32_t kContainerParent = 0x0F000000;
constexpr int kTypeLocalTable = 1;
constexpr int kTypeContainer = 3;
constexpr int kTypeOdbcTable = 4;
constexpr int kTypeLinkedTable = 6;
constexpr int kTypeQuery = 5;
constexpr std::uint32_t kCatalogPage = 2;

constexpr std::size_t kMaxCatalogRows = 1'000'000;
constexpr std::size_t kMaxPropertyBlockBytes = 16u << 20;
constexpr std::size_t kMaxLinkTextBytes = 1u << 20;
constexpr std::size_t kMaxQueryRows = 1'000'000;
constexpr std::size_t kMaxQueryExpressionBytes = 1u << 20;

// Adds properties to a node, keeping the first of two that share a name
// (names are case-insensitive, as in DAO).
class PropertyAdder {
  public:
    explicit PropertyAdder(WireNode& node) : node_(node) {
        for (const auto& p : node_.properties) {
            seen_.insert(FoldAsciiCase(p.name));
        }
    }
    void Add(std::string name, int type, Value value) {
        if (seen_.insert(FoldAsciiCase(name)).second) {
            node_.properties.push_back(WireProperty{std::move(name), type, std::move(value), {}});
        }
    }
    void AddFailing(std::string name, int type, WireError error) {
        if (seen_.insert(FoldAsciiCase(name)).second) {
            node_.properties.push_back(WireProperty{std::move(name), type, Value(), error});
        }
    }

  private:
    WireNode& node_;
    std::unordered_set<std::string> seen_;
};

// Adds members to a collection, keeping the first of two that share a name.
class MemberAdder {
  public:
    explicit MemberAdder(WireCollection& collection) : collection_(collection) {}
    WireNode* Add(const std::string& name) {
        if (!seen_.insert(FoldAsciiCase(name)).second) {
            return nullptr;
        }
        collection_.members.emplace_back();
        collection_.members.back().name = name;
        return &collection_.members.back();
    }

  private:
    WireCollection& collection_;
    std::unordered_set<std::string> seen_;
};

WireCollection& AddCollection(WireNode& node, std::string name) {
    node.collections.push_back(WireCollection{std::move(name), {}, {}});
    return node.collections.back();
}

// One row of MSysObjects.
struct CatalogRow {
    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::string name;
    int type = 0;
    std::uint32_t flags = 0;
    Value created;
    Value updated;
    std::optional<Bytes> owner;
    Bytes lvProp;   // the long value header (and inline data); empty when Null
    Bytes connect;  // memo header, linked tables
    std::string foreignName;
};

struct StoredProperties {
    std::vector<PropertyMap> maps;
    std::optional<WireError> failure;

    // The map of the object itself (no name) or of a column.
    const PropertyMap* Find(std::string_view name) const {
        for (const auto& m : maps) {
            if (m.name == name) {
                return &m;
            }
        }
        const auto folded = FoldAsciiCase(name);
        for (const auto& m : maps) {
            if (!name.empty() && FoldAsciiCase(m.name) == folded) {
                return &m;
            }
        }
        return nullptr;
    }
};

const StoredProperty* FindStored(const PropertyMap* map, std::string_view name) {
    if (!map) {
        return nullptr;
    }
    const auto folded = FoldAsciiCase(name);
    for (const auto& p : map->properties) {
        if (FoldAsciiCase(p.name) == folded) {
            return &p;
        }
    }
    return nullptr;
}

std::string OwnerText(const std::optional<Bytes>& sid) {
    if (!sid) {
        return "";
    }
    static const char* hex = "0123456789ABCDEF";
    std::string out = "0x";
    for (const auto b : *sid) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

// DAO's TableDef.Attributes from the catalog row's flags and type.
std::int64_t TableAttributes(const CatalogRow& row) {
    std::uint32_t attributes = 0;
    if (row.flags & 0x80000002u) {
        attributes |= 0x80000002u;  // dbSystemObject
    }
    if (row.flags & 0x8u) {
        attributes |= 0x1u;  // dbHiddenObject
    }
    if (row.type == kTypeLinkedTable || row.type == kTypeOdbcTable) {
        attributes |= row.type == kTypeLinkedTable ? 0x40000000u   // dbAttachedTable
                                                   : 0x20000000u;  // dbAttachedODBC
        attributes |= row.flags & 0x30000u;  // dbAttachExclusive, dbAttachSavePWD
    }
    return static_cast<std::int32_t>(attributes);
}

// DAO's Field.Type for a Jet column type.
int DaoFieldType(std::uint8_t jetType) {
    switch (jetType) {
        case 0x10:
            return 20;  // dbDecimal
        case 0x12:
            return 101;  // complex column (attachment or multi-valued field)
        case 0x13:
            return 16;  // dbBigInt
        default:
            return jetType;  // 1..12 and 15 are DAO's own numbers
    }
}

// DAO's Field.Size: characters for text, bytes otherwise, 0 for long values.
std::int64_t DaoFieldSize(const ColumnDef& col, bool jet3) {
    switch (col.type) {
        case 0x01:
            return 1;
        case 0x0A:
            return jet3 ? col.length : col.length / 2;
        case 0x0B:
        case 0x0C:
            return 0;
        case 0x10:
            return 16;
        default:
            return col.length;
    }
}

std::int64_t DaoFieldAttributes(const ColumnDef& col) {
    std::int64_t attributes = col.IsFixed() ? 1 : 2;  // dbFixedField, dbVariableField
    if ((col.flags & 0x04) || (col.type == 0x0F && (col.flags & 0x40))) {
        attributes |= 16;  // dbAutoIncrField (long or GUID auto number)
    }
    if (col.flags & 0x80) {
        attributes |= 32768;  // dbHyperlinkField
    }
    return attributes;
}

class SchemaBuilder {
  public:
    explicit SchemaBuilder(JetFile& file) : file_(file) {}

    WireNode Build() {
        ReadCatalog();
        IndexCatalog();
        WireNode root;
        AddDatabaseProperties(root);
        AddTables(AddCollection(root, "TableDefs"));
        AddQueries(AddCollection(root, "QueryDefs"));
        AddRelations(AddCollection(root, "Relations"));
        AddContainers(AddCollection(root, "Containers"));
        MarkForeignIndexes(root);
        return root;
    }

  private:
    TextDecoder NameDecoder() {
        return [this](std::span<const std::uint8_t> b) { return file_.DecodeName(b); };
    }
    TextDecoder TextDecoderForValues() {
        return [this](std::span<const std::uint8_t> b) { return file_.DecodeText(b); };
    }

    void ReadCatalog() {
        try {
            ReadCatalogRows();
        } catch (const FormatError& e) {
            if (file_.Header().databaseKey != 0) {
                throw FormatError(errors::kNotAValidPassword,
                                  "The database is encoded and its catalog cannot be decoded: it "
                                  "is encrypted or damaged (" +
                                      std::string(e.what()) + ").");
            }
            throw FormatError(e.Number(), "The catalog (MSysObjects) cannot be read: " +
                                              std::string(e.what()) + ".");
        }
    }

    void ReadCatalogRows() {
        const TableDef objects = file_.ReadTableDef(kCatalogPage);
        const auto column = [&](std::string_view name, std::initializer_list<int> types,
                                bool required) {
            const int i = objects.ColumnIndex(name);
            const bool typeOk = i >= 0 && std::find(types.begin(), types.end(),
                                                    objects.columns[i].type) != types.end();
            if (required && !typeOk) {
                Damaged("it has no usable column '" + std::string(name) + "'");
            }
            return typeOk ? i : -1;
        };
        const int id = column("Id", {4}, true);
        const int parentId = column("ParentId", {4}, true);
        const int name = column("Name", {10}, true);
        const int type = column("Type", {3}, true);
        const int flags = column("Flags", {4}, false);
        const int created = column("DateCreate", {8}, false);
        const int updated = column("DateUpdate", {8}, false);
        const int owner = column("Owner", {9}, false);
        const int lvProp = column("LvProp", {11}, false);
        const int connect = column("Connect", {12}, false);
        const int foreignName = column("ForeignName", {10}, false);

        const auto int32 = [](const FieldSlice& f) -> std::int32_t {
            if (f.isNull || f.bytes.size() < 4) {
                return 0;
            }
            return static_cast<std::int32_t>(Le32(f.bytes, 0));
        };
        const auto date = [](const FieldSlice& f) -> Value {
            if (f.isNull || f.bytes.size() < 8) {
                return Value();
            }
            std::uint64_t v = 0;
            for (int i = 0; i < 8; ++i) {
                v |= std::uint64_t{f.bytes[i]} << (8 * i);
            }
            return Value(DateTime{std::bit_cast<double>(v)});
        };
        const auto bytes = [](const FieldSlice& f) {
            return f.isNull ? Bytes() : Bytes(f.bytes.begin(), f.bytes.end());
        };

        file_.ForEachRow(objects, [&](std::span<const std::uint8_t> raw) {
            if (rows_.size() >= kMaxCatalogRows) {
                Damaged("it holds more than " + std::to_string(kMaxCatalogRows) + " objects");
            }
            const auto f = file_.CrackRow(objects, raw);
            CatalogRow row;
            row.id = int32(f[id]);
            row.parentId = int32(f[parentId]);
            row.name = f[name].isNull ? std::string() : file_.DecodeText(f[name].bytes);
            row.type = f[type].isNull || f[type].bytes.size() < 2
                           ? 0
                           : static_cast<std::int16_t>(Le16(f[type].bytes, 0));
            row.flags = flags >= 0 ? static_cast<std::uint32_t>(int32(f[flags])) : 0;
            if (created >= 0) {
                row.created = date(f[created]);
            }
            if (updated >= 0) {
                row.updated = date(f[updated]);
            }
            if (owner >= 0 && !f[owner].isNull) {
                row.owner = bytes(f[owner]);
            }
            if (lvProp >= 0) {
                row.lvProp = bytes(f[lvProp]);
            }
            if (connect >= 0) {
                row.connect = bytes(f[connect]);
            }
            if (foreignName >= 0 && !f[foreignName].isNull) {
                row.foreignName = file_.DecodeText(f[foreignName].bytes);
            }
            rows_.push_back(std::move(row));
        });
    }

    void IndexCatalog() {
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            const auto& row = rows_[i];
            if (row.type == kTypeContainer && row.parentId == kContainerParent) {
                containers_.push_back(i);
            }
            children_[row.parentId].push_back(i);
        }
        for (const auto i : containers_) {
            if (!tablesContainer_ && rows_[i].name == "Tables") {
                tablesContainer_ = i;
            }
            if (!databasesContainer_ && rows_[i].name == "Databases") {
                databasesContainer_ = i;
            }
        }
    }

    const std::vector<std::size_t>& Children(std::optional<std::size_t> container) {
        static const std::vector<std::size_t> none;
        if (!container) {
            return none;
        }
        const auto it = children_.find(rows_[*container].id);
        return it == children_.end() ? none : it->second;
    }

    std::optional<std::size_t> ChildNamed(std::optional<std::size_t> container,
                                          std::string_view name) {
        for (const auto i : Children(container)) {
            if (rows_[i].name == name) {
                return i;
            }
        }
        return std::nullopt;
    }

    // The stored properties of a catalog row; a damaged block becomes the
    // failure, described for `what` ("table 'Orders'").
    const StoredProperties& Stored(std::size_t rowIndex, const std::string& what) {
        if (auto it = stored_.find(rowIndex); it != stored_.end()) {
            return it->second;
        }
        StoredProperties result;
        const auto& row = rows_[rowIndex];
        if (!row.lvProp.empty()) {
            try {
                const auto block = file_.ReadLongValue(row.lvProp, kMaxPropertyBlockBytes);
                result.maps = ParsePropertyBlock(block, NameDecoder());
            } catch (const FormatError& e) {
                result.failure =
                    WireError{e.Number(), "The stored properties of " + what +
                                              " cannot be read: " + std::string(e.what()) + "."};
            }
        }
        return stored_.emplace(rowIndex, std::move(result)).first->second;
    }

    void AddStored(PropertyAdder& adder, const PropertyMap* map) {
        if (!map) {
            return;
        }
        const auto decodeText = TextDecoderForValues();
        for (const auto& p : map->properties) {
            adder.Add(p.name, p.type, StoredValue(p, decodeText));
        }
    }

    // A built-in property whose value a stored property of the same name
    // overrides (Required, DefaultValue, ValidationRule, ...).
    void AddBuiltIn(PropertyAdder& adder, const PropertyMap* map, const std::string& name, int type,
                    Value fallback) {
        if (const auto* stored = FindStored(map, name)) {
            adder.Add(name, type, StoredValue(*stored, TextDecoderForValues()));
        } else {
            adder.Add(name, type, std::move(fallback));
        }
    }

    void AddDatabaseProperties(WireNode& root) {
        const auto& h = file_.Header();
        PropertyAdder adder(root);
        adder.Add("Connect", dao::kText, Value(""));
        adder.Add("Version", dao::kText, Value(h.DaoVersion()));
        adder.Add("Format", dao::kText, Value(h.FormatName()));
        adder.Add("Transactions", dao::kBoolean, Value(true));
        adder.Add("Updatable", dao::kBoolean, Value(false));
        adder.Add("CollatingOrder", dao::kLong, Value(static_cast<int>(h.sortOrder)));
        adder.Add("QueryTimeout", dao::kInteger, Value(60));
        adder.Add("CodePage", dao::kInteger, Value(static_cast<int>(h.codePage)));
        for (const char* document : {"MSysDb", "SummaryInfo", "UserDefined"}) {
            const auto row = ChildNamed(databasesContainer_, document);
            if (!row) {
                continue;
            }
            const auto& stored = Stored(*row, std::string("the database (") + document + ")");
            if (stored.failure && !root.propertiesFailure) {
                root.propertiesFailure = stored.failure;
            }
            AddStored(adder, stored.Find(""));
        }
    }

    void AddTables(WireCollection& tableDefs) {
        MemberAdder members(tableDefs);
        for (const auto i : Children(tablesContainer_)) {
            const auto& row = rows_[i];
            if (row.type != kTypeLocalTable && row.type != kTypeLinkedTable &&
                row.type != kTypeOdbcTable) {
                continue;
            }
            if (WireNode* node = members.Add(row.name)) {
                AddTable(*node, i);
            }
        }
    }

    void AddTable(WireNode& node, std::size_t rowIndex) {
        const auto& row = rows_[rowIndex];
        const std::string what = "table '" + row.name + "'";
        const auto& stored = Stored(rowIndex, what);
        node.propertiesFailure = stored.failure;
        const PropertyMap* own = stored.Find("");

        std::optional<TableDef> def;
        std::optional<WireError> defFailure;
        if (row.type == kTypeLocalTable) {
            try {
                def = file_.ReadTableDef(static_cast<std::uint32_t>(row.id) & 0x00FFFFFFu);
            } catch (const FormatError& e) {
                defFailure = WireError{
                    e.Number(), "The definition of " + what + " cannot be read: " + e.what() + "."};
            }
        }

        PropertyAdder adder(node);
        adder.Add("Name", dao::kText, Value(row.name));
        adder.Add("Updatable", dao::kBoolean, Value(false));
        adder.Add("DateCreated", dao::kDate, row.created);
        adder.Add("LastUpdated", dao::kDate, row.updated);
        if (row.type == kTypeLocalTable) {
            adder.Add("Connect", dao::kText, Value(""));
        } else {
            try {
                const auto text = file_.ReadLongValue(row.connect, kMaxLinkTextBytes);
                adder.Add("Connect", dao::kText, Value(file_.DecodeText(text)));
            } catch (const FormatError& e) {
                adder.AddFailing("Connect", dao::kText, WireError{e.Number(), e.what()});
            }
        }
        adder.Add("SourceTableName", dao::kText, Value(row.foreignName));
        adder.Add("Attributes", dao::kLong, Value(static_cast<long long>(TableAttributes(row))));
        adder.Add("TableType", dao::kText,
                  Value(row.type == kTypeLocalTable ? vocabulary::kLocalTable
                                                    : vocabulary::kLinkedTable));
        if (def) {
            adder.Add("RecordCount", dao::kLong, Value(static_cast<long long>(def->rowCount)));
        } else if (defFailure) {
            adder.AddFailing("RecordCount", dao::kLong, *defFailure);
        } else {
            adder.Add("RecordCount", dao::kLong, Value(-1));
        }
        AddBuiltIn(adder, own, "ValidationRule", dao::kText, Value(""));
        AddBuiltIn(adder, own, "ValidationText", dao::kText, Value(""));
        AddStored(adder, own);

        node.collections.reserve(2);
        auto& fields = AddCollection(node, "Fields");
        auto& indexes = AddCollection(node, "Indexes");
        if (defFailure) {
            fields.failure = defFailure;
            indexes.failure = defFailure;
            return;
        }
        if (!def) {
            return;  // a linked table: its fields live in the other database
        }
        AddFields(fields, *def, row.name, stored);
        try {
            AddIndexes(indexes, *def, what);
        } catch (const FormatError& e) {
            indexes.members.clear();
            indexes.failure = WireError{e.Number(), e.what()};
        }
    }

    // The column numbers of the table's primary key.
    static std::unordered_set<std::uint16_t> PrimaryKeyColumns(const TableDef& def) {
        std::unordered_set<std::uint16_t> columns;
        for (const auto& li : def.indexes) {
            if (li.type == 1 && li.realIndex < def.realIndexes.size()) {
                for (const auto& key : def.realIndexes[li.realIndex].keys) {
                    columns.insert(key.column);
                }
            }
        }
        return columns;
    }

    void AddFields(WireCollection& fields, const TableDef& def, const std::string& table,
                   const StoredProperties& stored) {
        const bool jet3 = file_.Header().IsJet3();
        const auto keyColumns = PrimaryKeyColumns(def);
        MemberAdder members(fields);
        int position = 0;
        for (const auto& col : def.columns) {
            WireNode* node = members.Add(col.name);
            if (!node) {
                continue;
            }
            node->propertiesFailure = stored.failure;
            const PropertyMap* own = col.name.empty() ? nullptr : stored.Find(col.name);
            PropertyAdder adder(*node);
            adder.Add("Name", dao::kText, Value(col.name));
            adder.Add("Type", dao::kInteger, Value(DaoFieldType(col.type)));
            adder.Add("Size", dao::kLong, Value(static_cast<long long>(DaoFieldSize(col, jet3))));
            adder.Add("Attributes", dao::kLong,
                      Value(static_cast<long long>(DaoFieldAttributes(col))));
            adder.Add("OrdinalPosition", dao::kInteger, Value(position++));
            if (col.type == 0x0A || col.type == 0x0C) {
                const auto order = col.sortOrder != 0 ? col.sortOrder : file_.Header().sortOrder;
                adder.Add("CollatingOrder", dao::kLong, Value(static_cast<int>(order)));
            }
            const int type = DaoFieldType(col.type);
            if (keyColumns.count(col.number) != 0) {
                adder.Add("Required", dao::kBoolean, Value(true));  // a key column always is
            } else {
                AddBuiltIn(adder, own, "Required", dao::kBoolean, Value(false));
            }
            AddBuiltIn(adder, own, "AllowZeroLength", dao::kBoolean, Value(false));
            if (const auto* stored = FindStored(own, "DefaultValue")) {
                const Value value = StoredValue(*stored, TextDecoderForValues());
                const std::string text = value.IsNull() ? std::string() : PlainText(value);
                adder.Add("DefaultValue", dao::kText,
                          Value(vocabulary::CanonicalDefault(text, type)));
            } else {
                adder.Add("DefaultValue", dao::kText, Value(""));
            }
            AddBuiltIn(adder, own, "ValidationRule", dao::kText, Value(""));
            AddBuiltIn(adder, own, "ValidationText", dao::kText, Value(""));
            adder.Add("SourceTable", dao::kText, Value(table));
            adder.Add("SourceField", dao::kText, Value(col.name));
            AddStored(adder, own);
        }
    }

    void AddIndexes(WireCollection& indexes, const TableDef& def, const std::string& what) {
        MemberAdder members(indexes);
        for (const auto& li : def.indexes) {
            if (li.type == 2 && li.relatedTableType == 1) {
                continue;  // the primary table's side of a relation: not shown by DAO
            }
            if (li.realIndex >= def.realIndexes.size()) {
                Damaged("index '" + li.name + "' of " + what + " refers to a missing index entry");
            }
            const auto& ri = def.realIndexes[li.realIndex];
            WireNode* node = members.Add(li.name);
            if (!node) {
                continue;
            }
            std::string fieldsText;
            auto& keyFields = node->collections.emplace_back(WireCollection{"Fields", {}, {}});
            MemberAdder keyMembers(keyFields);
            for (const auto& key : ri.keys) {
                const int c = def.ColumnByNumber(key.column);
                if (c < 0) {
                    Damaged("index '" + li.name + "' of " + what + " refers to column number " +
                            std::to_string(key.column) + ", which the table lacks");
                }
                const auto& name = def.columns[c].name;
                fieldsText +=
                    (fieldsText.empty() ? "" : ";") + std::string(key.ascending ? "+" : "-") + name;
                if (WireNode* field = keyMembers.Add(name)) {
                    PropertyAdder fieldAdder(*field);
                    fieldAdder.Add("Name", dao::kText, Value(name));
                    fieldAdder.Add("Attributes", dao::kLong, Value(key.ascending ? 0 : 1));
                    fieldAdder.Add("OrdinalPosition", dao::kInteger,
                                   Value(static_cast<int>(keyFields.members.size() - 1)));
                    fieldAdder.Add("Descending", dao::kBoolean, Value(!key.ascending));
                }
            }
            // Properties first in the node, as for every other object.
            WireNode props;
            PropertyAdder adder(props);
            adder.Add("Name", dao::kText, Value(li.name));
            adder.Add("Primary", dao::kBoolean, Value(li.type == 1));
            adder.Add("Unique", dao::kBoolean, Value(li.type == 1 || (ri.flags & 0x01) != 0));
            adder.Add("IgnoreNulls", dao::kBoolean, Value((ri.flags & 0x02) != 0));
            adder.Add("Required", dao::kBoolean, Value(li.type == 1 || (ri.flags & 0x08) != 0));
            adder.Add("Foreign", dao::kBoolean, Value(li.type == 2));
            adder.Add("Clustered", dao::kBoolean, Value(false));
            adder.Add("Fields", dao::kText, Value(fieldsText));
            node->properties = std::move(props.properties);
        }
    }

    // An index is Foreign, as on every engine, when its key columns are
    // exactly the columns of one of the table's foreign keys: the index
    // Access keeps for a relation, and any other index on the same columns.
    static void MarkForeignIndexes(WireNode& root) {
        const auto collection = [](WireNode& node, std::string_view name) -> WireCollection* {
            for (auto& c : node.collections) {
                if (c.name == name) {
                    return &c;
                }
            }
            return nullptr;
        };
        const auto text = [](const WireNode& node, std::string_view name) {
            for (const auto& p : node.properties) {
                if (p.name == name) {
                    if (const auto* t = p.value.As<std::string>()) {
                        return FoldAsciiCase(*t);
                    }
                }
            }
            return std::string();
        };
        std::map<std::string, std::vector<std::vector<std::string>>> foreignKeys;
        if (WireCollection* relations = collection(root, "Relations")) {
            for (auto& relation : relations->members) {
                std::vector<std::string> columns;
                if (WireCollection* fields = collection(relation, "Fields")) {
                    for (const auto& field : fields->members) {
                        columns.push_back(text(field, "ForeignName"));
                    }
                }
                foreignKeys[text(relation, "ForeignTable")].push_back(std::move(columns));
            }
        }
        WireCollection* tables = collection(root, "TableDefs");
        if (!tables) {
            return;
        }
        for (auto& table : tables->members) {
            const auto keys = foreignKeys.find(FoldAsciiCase(table.name));
            WireCollection* indexes = collection(table, "Indexes");
            if (keys == foreignKeys.end() || !indexes) {
                continue;
            }
            for (auto& index : indexes->members) {
                std::vector<std::string> columns;
                if (WireCollection* fields = collection(index, "Fields")) {
                    for (const auto& field : fields->members) {
                        columns.push_back(FoldAsciiCase(field.name));
                    }
                }
                if (std::find(keys->second.begin(), keys->second.end(), columns) ==
                    keys->second.end()) {
                    continue;
                }
                for (auto& p : index.properties) {
                    if (p.name == "Foreign") {
                        p.value = Value(true);
                    }
                }
            }
        }
    }

    // The rows of MSysQueries by the Id of the query they define.
    std::map<std::int32_t, std::vector<QueryRow>> ReadQueryRows() {
        std::map<std::int32_t, std::vector<QueryRow>> byQuery;
        const auto row = ChildNamed(tablesContainer_, "MSysQueries");
        if (!row || rows_[*row].type != kTypeLocalTable) {
            return byQuery;
        }
        const auto def =
            file_.ReadTableDef(static_cast<std::uint32_t>(rows_[*row].id) & 0x00FFFFFFu);
        const auto column = [&](std::string_view name, std::initializer_list<int> types) {
            const int i = def.ColumnIndex(name);
            if (i < 0 ||
                std::find(types.begin(), types.end(), def.columns[i].type) == types.end()) {
                Damaged("MSysQueries has no usable column '" + std::string(name) + "'");
            }
            return i;
        };
        const int objectId = column("ObjectId", {4});
        const int attribute = column("Attribute", {2});
        const int order = column("Order", {9});
        const int name1 = column("Name1", {10});
        const int name2 = column("Name2", {10});
        const int expression = column("Expression", {10, 12});
        const int flag = column("Flag", {3});
        const bool expressionIsMemo = def.columns[expression].type == 12;
        const auto text = [&](const FieldSlice& f) -> std::optional<std::string> {
            if (f.isNull) {
                return std::nullopt;
            }
            return file_.DecodeText(f.bytes);
        };
        std::size_t count = 0;
        file_.ForEachRow(def, [&](std::span<const std::uint8_t> raw) {
            if (++count > kMaxQueryRows) {
                Damaged("MSysQueries holds more than " + std::to_string(kMaxQueryRows) + " rows");
            }
            const auto f = file_.CrackRow(def, raw);
            if (f[objectId].isNull || f[objectId].bytes.size() < 4 || f[attribute].isNull ||
                f[attribute].bytes.empty()) {
                return;
            }
            QueryRow q;
            q.attribute = f[attribute].bytes[0];
            q.order.assign(f[order].bytes.begin(), f[order].bytes.end());
            q.name1 = text(f[name1]);
            q.name2 = text(f[name2]);
            if (!f[expression].isNull) {
                q.expression = expressionIsMemo
                                   ? file_.DecodeText(file_.ReadLongValue(f[expression].bytes,
                                                                          kMaxQueryExpressionBytes))
                                   : file_.DecodeText(f[expression].bytes);
            }
            if (!f[flag].isNull && f[flag].bytes.size() >= 2) {
                q.flag = static_cast<std::int16_t>(Le16(f[flag].bytes, 0));
            }
            byQuery[static_cast<std::int32_t>(Le32(f[objectId].bytes, 0))].push_back(std::move(q));
        });
        return byQuery;
    }

    void AddQueries(WireCollection& queries) {
        std::map<std::int32_t, std::vector<QueryRow>> definitions;
        try {
            definitions = ReadQueryRows();
        } catch (const FormatError& e) {
            queries.failure = WireError{
                e.Number(),
                "The saved queries (MSysQueries) cannot be read: " + std::string(e.what()) + "."};
            return;
        }
        MemberAdder members(queries);
        for (const auto i : Children(tablesContainer_)) {
            const auto& row = rows_[i];
            if (row.type != kTypeQuery) {
                continue;
            }
            WireNode* node = members.Add(row.name);
            if (!node) {
                continue;
            }
            auto it = definitions.find(row.id);
            RebuiltQuery query = RebuildQuery(it == definitions.end() ? std::vector<QueryRow>()
                                                                      : std::move(it->second));
            AddQuery(*node, i, query);
        }
    }

    void AddQuery(WireNode& node, std::size_t rowIndex, const RebuiltQuery& query) {
        const auto& row = rows_[rowIndex];
        const auto& stored = Stored(rowIndex, "query '" + row.name + "'");
        node.propertiesFailure = stored.failure;
        {
            PropertyAdder adder(node);
            adder.Add("Name", dao::kText, Value(row.name));
            adder.Add("DateCreated", dao::kDate, row.created);
            adder.Add("LastUpdated", dao::kDate, row.updated);
            adder.Add("Type", dao::kInteger, Value(query.type));
            adder.Add("SQL", dao::kMemo, Value(query.sql));
            adder.Add("Connect", dao::kText, Value(""));
            adder.Add("ReturnsRecords", dao::kBoolean, Value(query.returnsRecords));
            adder.Add("Updatable", dao::kBoolean, Value(false));
            AddStored(adder, stored.Find(""));
        }
        node.collections.reserve(2);
        auto& fields = AddCollection(node, "Fields");
        MemberAdder fieldMembers(fields);
        for (const auto& f : query.fields) {
            WireNode* field = fieldMembers.Add(f.name);
            if (!field) {
                continue;
            }
            field->propertiesFailure = stored.failure;
            PropertyAdder adder(*field);
            adder.Add("Name", dao::kText, Value(f.name));
            adder.Add("OrdinalPosition", dao::kInteger,
                      Value(static_cast<int>(fields.members.size() - 1)));
            adder.Add("SourceTable", dao::kText, Value(f.sourceTable));
            adder.Add("SourceField", dao::kText, Value(f.sourceField));
            AddStored(adder, stored.Find(f.name));
        }
        auto& parameters = AddCollection(node, "Parameters");
        MemberAdder parameterMembers(parameters);
        for (const auto& p : query.parameters) {
            if (WireNode* parameter = parameterMembers.Add(p.name)) {
                PropertyAdder adder(*parameter);
                adder.Add("Name", dao::kText, Value(p.name));
                adder.Add("Type", dao::kInteger, Value(p.type));
            }
        }
    }

    void AddRelations(WireCollection& relations) {
        const auto row = ChildNamed(tablesContainer_, "MSysRelationships");
        if (!row || rows_[*row].type != kTypeLocalTable) {
            return;
        }
        try {
            const auto def =
                file_.ReadTableDef(static_cast<std::uint32_t>(rows_[*row].id) & 0x00FFFFFFu);
            const auto column = [&](std::string_view name, int type) {
                const int i = def.ColumnIndex(name);
                if (i < 0 || def.columns[i].type != type) {
                    Damaged("MSysRelationships has no usable column '" + std::string(name) + "'");
                }
                return i;
            };
            const int name = column("szRelationship", 10);
            const int grbit = column("grbit", 4);
            const int icolumn = column("icolumn", 4);
            const int object = column("szObject", 10);
            const int objectColumn = column("szColumn", 10);
            const int referenced = column("szReferencedObject", 10);
            const int referencedColumn = column("szReferencedColumn", 10);

            struct RelationField {
                std::int32_t position;
                std::string name;
                std::string foreignName;
            };
            struct Relation {
                std::string table;
                std::string foreignTable;
                std::int32_t attributes = 0;
                std::vector<RelationField> fields;
            };
            std::vector<std::pair<std::string, Relation>> found;
            std::unordered_map<std::string, std::size_t> byName;
            const auto text = [&](const FieldSlice& f) {
                return f.isNull ? std::string() : file_.DecodeText(f.bytes);
            };
            const auto int32 = [](const FieldSlice& f) -> std::int32_t {
                return f.isNull || f.bytes.size() < 4 ? 0
                                                      : static_cast<std::int32_t>(Le32(f.bytes, 0));
            };
            file_.ForEachRow(def, [&](std::span<const std::uint8_t> raw) {
                const auto f = file_.CrackRow(def, raw);
                const std::string relation = text(f[name]);
                auto [it, added] = byName.emplace(relation, found.size());
                if (added) {
                    Relation r;
                    r.table = text(f[referenced]);
                    r.foreignTable = text(f[object]);
                    r.attributes = int32(f[grbit]);
                    found.emplace_back(relation, std::move(r));
                }
                found[it->second].second.fields.push_back(RelationField{
                    int32(f[icolumn]), text(f[referencedColumn]), text(f[objectColumn])});
            });

            MemberAdder members(relations);
            for (auto& [relationName, r] : found) {
                WireNode* node = members.Add(relationName);
                if (!node) {
                    continue;
                }
                PropertyAdder adder(*node);
                adder.Add("Name", dao::kText, Value(relationName));
                adder.Add("Table", dao::kText, Value(r.table));
                adder.Add("ForeignTable", dao::kText, Value(r.foreignTable));
                adder.Add("Attributes", dao::kLong, Value(static_cast<long long>(r.attributes)));
                // The referential actions in SQL's words, as the other
                // engines say them.
                adder.Add(
                    "OnUpdate", dao::kText,
                    Value((r.attributes & dao::kRelationUpdateCascade) ? "CASCADE" : "NO ACTION"));
                adder.Add(
                    "OnDelete", dao::kText,
                    Value((r.attributes & dao::kRelationDeleteCascade) ? "CASCADE" : "NO ACTION"));
                std::stable_sort(r.fields.begin(), r.fields.end(),
                                 [](const RelationField& a, const RelationField& b) {
                                     return a.position < b.position;
                                 });
                auto& fields = AddCollection(*node, "Fields");
                MemberAdder fieldMembers(fields);
                for (const auto& f : r.fields) {
                    if (WireNode* field = fieldMembers.Add(f.name)) {
                        PropertyAdder fieldAdder(*field);
                        fieldAdder.Add("Name", dao::kText, Value(f.name));
                        fieldAdder.Add("ForeignName", dao::kText, Value(f.foreignName));
                        fieldAdder.Add("OrdinalPosition", dao::kInteger,
                                       Value(static_cast<int>(fields.members.size() - 1)));
                    }
                }
            }
        } catch (const FormatError& e) {
            relations.members.clear();
            relations.failure = WireError{
                e.Number(),
                "The relations (MSysRelationships) cannot be read: " + std::string(e.what()) + "."};
        }
    }

    void AddContainers(WireCollection& containers) {
        MemberAdder members(containers);
        for (const auto c : containers_) {
            const auto& row = rows_[c];
            WireNode* node = members.Add(row.name);
            if (!node) {
                continue;
            }
            const auto& stored = Stored(c, "container '" + row.name + "'");
            node->propertiesFailure = stored.failure;
            {
                PropertyAdder adder(*node);
                adder.Add("Name", dao::kText, Value(row.name));
                adder.Add("Owner", dao::kText, Value(OwnerText(row.owner)));
                AddStored(adder, stored.Find(""));
            }
            auto& documents = AddCollection(*node, "Documents");
            MemberAdder documentMembers(documents);
            for (const auto d : Children(c)) {
                const auto& doc = rows_[d];
                WireNode* docNode = documentMembers.Add(doc.name);
                if (!docNode) {
                    continue;
                }
                const auto& docStored =
                    Stored(d, "document '" + doc.name + "' of container '" + row.name + "'");
                docNode->propertiesFailure = docStored.failure;
                PropertyAdder adder(*docNode);
                adder.Add("Name", dao::kText, Value(doc.name));
                adder.Add("Container", dao::kText, Value(row.name));
                adder.Add("Owner", dao::kText, Value(OwnerText(doc.owner)));
                adder.Add("DateCreated", dao::kDate, doc.created);
                adder.Add("LastUpdated", dao::kDate, doc.updated);
                AddStored(adder, docStored.Find(""));
            }
        }
    }

    JetFile& file_;
    std::vector<CatalogRow> rows_;
    std::vector<std::size_t> containers_;
    std::unordered_map<std::int32_t, std::vector<std::size_t>> children_;
    std::optional<std::size_t> tablesContainer_;
    std::optional<std::size_t> databasesContainer_;
    std::map<std::size_t, StoredProperties> stored_;
};

}  // namespace

WireNode ReadSchema(JetFile& file) {
    return SchemaBuilder(file).Build();
}

}  // namespace kesmark::access
