#include "tests/support/memory_backend.h"

#include <algorithm>

namespace kesmark {

namespace {

const char* const kSource = "Kesmark memory";

class MemoryField : public RecordsetField {
  public:
    MemoryField(MemoryDatabaseState& state, const MemoryTableData& table, std::size_t column,
                const std::size_t& row, std::string tableName)
        : state_(state),
          table_(table),
          column_(column),
          row_(row),
          tableName_(std::move(tableName)) {}

    std::string Name() override { return table_.columns[column_]; }
    int Type() override { return table_.types[column_]; }
    Value GetValue() override {
        const Value& value = Current();
        const int type = Type();
        if ((type == dao::kLongBinary || type == dao::kMemo) &&
            SizeOf(value) > static_cast<std::int64_t>(kLongValuePiece)) {
            ++state_.wholeLongValuesRead;
        }
        return value;
    }
    std::int64_t FieldSize() override { return SizeOf(Current()); }
    Bytes GetChunk(std::int64_t offset, std::size_t count) override {
        state_.largestPieceRead = std::max(state_.largestPieceRead, count);
        const Value& v = Current();
        std::string_view all;
        if (const auto* s = v.As<std::string>()) {
            all = *s;
        } else if (const auto* b = v.As<Bytes>()) {
            all = std::string_view(reinterpret_cast<const char*>(b->data()), b->size());
        }
        if (offset < 0 || static_cast<std::size_t>(offset) >= all.size()) {
            return {};
        }
        const auto piece = all.substr(static_cast<std::size_t>(offset), count);
        return Bytes(piece.begin(), piece.end());
    }
    std::string SourceTable() override { return tableName_; }
    std::string SourceField() override { return Name(); }

  private:
    const Value& Current() const {
        if (row_ >= table_.rows.size()) {
            throw DbError(errors::kNoCurrentRecord, "No current record.", kSource);
        }
        return table_.rows[row_][column_];
    }
    static std::int64_t SizeOf(const Value& v) {
        if (const auto* s = v.As<std::string>()) {
            return static_cast<std::int64_t>(s->size());
        }
        if (const auto* b = v.As<Bytes>()) {
            return static_cast<std::int64_t>(b->size());
        }
        return 0;
    }

    MemoryDatabaseState& state_;  // Not owned.
    const MemoryTableData& table_;
    std::size_t column_;
    const std::size_t& row_;
    std::string tableName_;
};

class MemoryRecordset : public Recordset {
  public:
    MemoryRecordset(MemoryDatabaseState& state, const MemoryTableData& table,
                    const std::string& tableName, const std::vector<std::string>& fields)
        : state_(state), table_(table) {
        for (const auto& f : fields) {
            std::size_t column = 0;
            while (column < table.columns.size() && table.columns[column] != f) {
                ++column;
            }
            if (column == table.columns.size()) {
                throw DbError(errors::kItemNotFound, "Unknown field '" + f + "'.", kSource);
            }
            fields_.push_back(std::make_unique<MemoryField>(state, table, column, row_, tableName));
        }
    }

    bool IsEof() override { return row_ >= table_.rows.size(); }
    void MoveNext() override {
        if (IsEof()) {
            throw DbError(errors::kNoCurrentRecord, "No current record.", kSource);
        }
        ++row_;
        ++state_.recordsRead;
        if (state_.onRecord) {
            state_.onRecord(state_.recordsRead);
        }
    }
    void Move(std::int64_t rows) override {
        for (std::int64_t i = 0; i < rows && !IsEof(); ++i) {
            MoveNext();
        }
    }
    void Close() override {}
    std::size_t FieldCount() override { return fields_.size(); }
    RecordsetField& Field(std::size_t index) override { return *fields_.at(index); }

  private:
    MemoryDatabaseState& state_;
    const MemoryTableData& table_;
    std::size_t row_ = 0;
    std::vector<std::unique_ptr<MemoryField>> fields_;
};

class MemoryDatabase : public Database {
  public:
    explicit MemoryDatabase(std::shared_ptr<MemoryDatabaseState> state)
        : state_(std::move(state)), root_(state_->root) {
        ++state_->opens;
    }
    ~MemoryDatabase() override { Close(); }

    DatabaseKind Kind() const override { return state_->kind; }
    std::string Name() override { return root_.Name(); }
    Properties GetProperties() override { return root_.GetProperties(); }
    std::unique_ptr<Collection> GetCollection(std::string_view name) override {
        return root_.GetCollection(name);
    }
    std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                             const std::vector<std::string>& fields) override {
        const auto it = state_->data.find(table);
        if (it == state_->data.end()) {
            throw DbError(errors::kItemNotFound, "Unknown table '" + std::string(table) + "'.",
                          kSource);
        }
        return std::make_unique<MemoryRecordset>(*state_, it->second, std::string(table), fields);
    }
    std::unique_ptr<Recordset> OpenOrderedRecordset(
        std::string_view table, const std::vector<std::string>& fields,
        const std::vector<std::string>& keyFields) override {
        if (state_->ignoresKeyOrder) {
            return OpenRecordset(table, fields);
        }
        return Database::OpenOrderedRecordset(table, fields, keyFields);
    }
    std::string RecordsetStatement(std::string_view table,
                                   const std::vector<std::string>& fields) override {
        std::string sql = "SELECT ";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            sql += (i ? ", [" : "[") + fields[i] + "]";
        }
        return sql + " FROM [" + std::string(table) + "]";
    }
    void Close() override {
        if (!closed_) {
            closed_ = true;
            ++state_->closes;
        }
    }

  private:
    std::shared_ptr<MemoryDatabaseState> state_;
    TreeObject root_;
    bool closed_ = false;
};

}  // namespace

MemoryDatabaseState::MemoryDatabaseState() : root(std::make_shared<ObjectNode>()) {
    for (auto name : {"TableDefs", "QueryDefs", "Relations", "Containers"}) {
        root->Collection(name);
    }
}

ObjectNode& MemoryDatabaseState::AddTable(const std::string& name,
                                          const std::vector<std::string>& fields) {
    auto& table = root->Collection("TableDefs").Add(name);
    table.properties.Add("Name", dao::kText, name);
    auto& data = this->data[name];
    data.columns = fields;
    data.types.assign(fields.size(), dao::kText);
    auto& fieldCollection = table.Collection("Fields");
    for (const auto& f : fields) {
        auto& field = fieldCollection.Add(f);
        field.properties.Add("Name", dao::kText, f);
        field.properties.Add("Type", dao::kInteger, dao::kText);
    }
    table.Collection("Indexes");
    auto* rows = &data.rows;
    table.properties.Add(Property("RecordCount", dao::kLong, Property::Reader([rows] {
                                      return Value(static_cast<std::int64_t>(rows->size()));
                                  })));
    return table;
}

ObjectNode& MemoryDatabaseState::AddKey(const std::string& table, const std::string& index,
                                        const std::vector<std::string>& fields, bool primary) {
    ObjectNode& tableNode =
        *root->Collection("TableDefs")
             .members.at(static_cast<std::size_t>(root->Collection("TableDefs").IndexOf(table)));
    auto& node = tableNode.Collection("Indexes").Add(index);
    node.properties.Add("Name", dao::kText, index);
    node.properties.Add("Primary", dao::kBoolean, primary);
    node.properties.Add("Unique", dao::kBoolean, true);
    auto& keyFields = node.Collection("Fields");
    auto& tableFields = tableNode.Collection("Fields");
    for (const auto& f : fields) {
        keyFields.Add(f).properties.Add("Name", dao::kText, f);
        auto& field = *tableFields.members.at(static_cast<std::size_t>(tableFields.IndexOf(f)));
        if (!field.properties.Find("Required")) {
            field.properties.Add("Required", dao::kBoolean, true);
        }
    }
    return node;
}

MemoryDatabaseState& MemoryServer::Create(const std::string& name) {
    auto state = std::make_shared<MemoryDatabaseState>();
    state->root->name = name;
    databases_[name] = state;
    return *state;
}

DatabaseOpener MemoryServer::Opener() {
    return [this](const std::string& name, const std::string&) -> std::unique_ptr<Database> {
        const auto it = databases_.find(name);
        if (it == databases_.end()) {
            throw DbError(errors::kCannotOpen, "Could not find file '" + name + "'.", kSource);
        }
        if (it->second->openFailure) {
            throw *it->second->openFailure;
        }
        return std::make_unique<MemoryDatabase>(it->second);
    };
}

}  // namespace kesmark
