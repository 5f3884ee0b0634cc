#include "engine/backends/access/access_database.h"

#include <algorithm>
#include <filesystem>

namespace kesmark::access {

namespace {

DbError FromWire(const WireError& error, const std::string& fileLabel) {
    return DbError(error.number, "'" + fileLabel + "': " + error.description, kSource);
}

std::string Bracketed(std::string_view name) {
    return "[" + std::string(name) + "]";
}

// Rows asked of the reader at a time.
constexpr std::uint32_t kRowsPerRequest = 1024;
// Longest long binary value GetValue reads whole.
constexpr std::int64_t kMaxWholeLongValue = std::int64_t{1} << 30;

class AccessRecordset;

// One column of an AccessRecordset. Long binary values outside their row
// are read from the reader piece by piece, when asked for.
class AccessRecordsetField : public RecordsetField {
  public:
    AccessRecordsetField(AccessRecordset& owner, std::size_t index, std::string name, int type,
                         std::string table)
        : owner_(owner),
          index_(index),
          name_(std::move(name)),
          type_(type),
          table_(std::move(table)) {}

    std::string Name() override { return name_; }
    int Type() override { return type_; }
    Value GetValue() override;
    std::int64_t FieldSize() override;
    Bytes GetChunk(std::int64_t offset, std::size_t count) override;
    std::string SourceTable() override { return table_; }
    std::string SourceField() override { return name_; }

  private:
    AccessRecordset& owner_;
    std::size_t index_;
    std::string name_;
    int type_;
    std::string table_;
};

// Rows of one table in its stored order, fetched from the reader in batches.
// The reader (WorkerClient) serialises the calls of all recordsets of one
// database; a recordset itself is used by one thread at a time.
class AccessRecordset : public Recordset {
  public:
    AccessRecordset(WorkerClient& reader, std::string fileLabel, std::string table,
                    std::vector<std::string> fields, const std::vector<int>& types)
        : reader_(reader),
          fileLabel_(std::move(fileLabel)),
          table_(std::move(table)),
          fieldNames_(std::move(fields)) {
        for (std::size_t i = 0; i < fieldNames_.size(); ++i) {
            fields_.push_back(
                std::make_unique<AccessRecordsetField>(*this, i, fieldNames_[i], types[i], table_));
        }
        Fetch();
    }

    bool IsEof() override { return row_ >= rows_.size(); }
    void MoveNext() override {
        CurrentRow();
        if (++row_ >= rows_.size() && !tableEnded_) {
            Fetch();
        }
    }
    void Move(std::int64_t rows) override {
        for (std::int64_t i = 0; i < rows && !IsEof(); ++i) {
            MoveNext();
        }
    }
    void Close() override {
        rows_.clear();
        row_ = 0;
        tableEnded_ = true;
    }
    std::size_t FieldCount() override { return fields_.size(); }
    RecordsetField& Field(std::size_t index) override {
        if (index >= fields_.size()) {
            throw DbError(errors::kItemNotFound, "Item not found in this collection.", kSource);
        }
        return *fields_[index];
    }

    // The current row's cells. Throws DbError 3021 at EOF.
    const std::vector<WireCell>& CurrentRow() const {
        if (row_ >= rows_.size()) {
            throw DbError(errors::kNoCurrentRecord, "No current record.", kSource);
        }
        return rows_[row_];
    }

    // A piece of a long binary value.
    Bytes ReadPiece(const WireCell& cell, std::int64_t offset, std::size_t count) {
        Request request;
        request.kind = RequestKind::kReadChunk;
        request.longValue = cell.longValue;
        request.offset = static_cast<std::uint64_t>(std::max<std::int64_t>(offset, 0));
        request.count = static_cast<std::uint32_t>(std::min<std::size_t>(count, kMaxChunkBytes));
        Reply reply = reader_.Call(request, "a long value of table '" + table_ + "'");
        Check(reply, ReplyKind::kChunk);
        if (reply.chunk.size() > request.count) {
            throw DbError(errors::kDamaged,
                          "'" + fileLabel_ +
                              "': the Access reader sent more of a long value "
                              "than was asked for.",
                          kSource);
        }
        return std::move(reply.chunk);
    }

  private:
    void Check(const Reply& reply, ReplyKind expected) const {
        if (reply.kind == ReplyKind::kError) {
            throw DbError(reply.error.number, "'" + fileLabel_ + "': " + reply.error.description,
                          kSource);
        }
        if (reply.kind != expected) {
            throw DbError(errors::kDamaged,
                          "Reading table '" + table_ + "' of '" + fileLabel_ +
                              "' failed: the Access reader answered with something else.",
                          kSource);
        }
    }

    void Fetch() {
        Request request;
        request.kind = RequestKind::kReadRows;
        request.table = table_;
        request.fields = fieldNames_;
        request.firstRow = nextRow_;
        request.maxRows = kRowsPerRequest;
        Reply reply = reader_.Call(request, "the records of table '" + table_ + "'");
        Check(reply, ReplyKind::kRows);
        for (const auto& row : reply.rows) {
            if (row.size() != fieldNames_.size()) {
                throw DbError(errors::kDamaged,
                              "Reading table '" + table_ + "' of '" + fileLabel_ +
                                  "' failed: the Access reader sent rows of the wrong width.",
                              kSource);
            }
        }
        if (reply.rows.empty() && !reply.tableEnds) {
            throw DbError(errors::kDamaged,
                          "Reading table '" + table_ + "' of '" + fileLabel_ +
                              "' failed: the Access reader sent no rows and no end.",
                          kSource);
        }
        nextRow_ += reply.rows.size();
        rows_ = std::move(reply.rows);
        row_ = 0;
        tableEnded_ = reply.tableEnds;
    }

    WorkerClient& reader_;
    std::string fileLabel_;
    std::string table_;
    std::vector<std::string> fieldNames_;
    std::vector<std::unique_ptr<AccessRecordsetField>> fields_;
    std::vector<std::vector<WireCell>> rows_;  // the current batch
    std::size_t row_ = 0;                      // the current row in it
    std::uint64_t nextRow_ = 0;                // the table row after the batch
    bool tableEnded_ = false;
};

Value AccessRecordsetField::GetValue() {
    const WireCell& cell = owner_.CurrentRow()[index_];
    if (!cell.isLongReference) {
        return cell.value;
    }
    if (cell.longSize > kMaxWholeLongValue) {
        throw DbError(errors::kNotSupported,
                      "The value of field '" + name_ + "' is " + std::to_string(cell.longSize) +
                          " bytes long, too long to read whole; read it in pieces.",
                      kSource);
    }
    Bytes whole;
    whole.reserve(static_cast<std::size_t>(cell.longSize));
    while (static_cast<std::int64_t>(whole.size()) < cell.longSize) {
        const Bytes piece =
            owner_.ReadPiece(cell, static_cast<std::int64_t>(whole.size()), kMaxChunkBytes);
        if (piece.empty()) {
            throw DbError(errors::kDamaged,
                          "The long value of field '" + name_ + "' ends before its length.",
                          kSource);
        }
        whole.insert(whole.end(), piece.begin(), piece.end());
    }
    return Value(std::move(whole));
}

std::int64_t AccessRecordsetField::FieldSize() {
    const WireCell& cell = owner_.CurrentRow()[index_];
    if (cell.isLongReference) {
        return cell.longSize;
    }
    if (const auto* text = cell.value.As<std::string>()) {
        return static_cast<std::int64_t>(text->size());
    }
    if (const auto* bytes = cell.value.As<Bytes>()) {
        return static_cast<std::int64_t>(bytes->size());
    }
    return 0;
}

Bytes AccessRecordsetField::GetChunk(std::int64_t offset, std::size_t count) {
    const WireCell& cell = owner_.CurrentRow()[index_];
    if (cell.isLongReference) {
        return owner_.ReadPiece(cell, offset, count);
    }
    const auto slice = [&](const auto& whole) {
        const auto size = static_cast<std::int64_t>(whole.size());
        const auto from = std::clamp<std::int64_t>(offset, 0, size);
        const auto to = from + static_cast<std::int64_t>(std::min<std::uint64_t>(
                                   count, static_cast<std::uint64_t>(size - from)));
        return Bytes(whole.begin() + from, whole.begin() + to);
    };
    if (const auto* text = cell.value.As<std::string>()) {
        return slice(*text);
    }
    if (const auto* bytes = cell.value.As<Bytes>()) {
        return slice(*bytes);
    }
    return Bytes();
}

// The schema is held by the reader: Kesmark keeps the database's properties
// and the names of the members of its collections, and asks the reader for
// a member (a table with its fields and indexes, a query, ...) when the
// member is read; the member then belongs to its reader.
class AccessDatabase : public TreeDatabase {
  public:
    AccessDatabase(std::string name, std::shared_ptr<WorkerClient> reader, const WireNode& outline)
        : TreeDatabase(std::move(name), kSource), reader_(std::move(reader)) {
        Root().name = DatabaseName();
        Properties properties;
        properties.Add("Name", dao::kText, DatabaseName());
        for (const auto& p : outline.properties) {
            if (p.failure) {
                properties.Add(
                    Property::Failing(p.name, p.type, FromWire(*p.failure, DatabaseName())));
            } else {
                properties.Add(p.name, p.type, p.value);
            }
        }
        Root().properties = std::move(properties);
        if (outline.propertiesFailure) {
            Root().propertiesFailure = FromWire(*outline.propertiesFailure, DatabaseName());
        }
        for (const auto& c : outline.collections) {
            CollectionNode& collection = Root().Collection(c.name);
            if (c.failure) {
                collection.failure = FromWire(*c.failure, DatabaseName());
                continue;
            }
            auto names = std::make_shared<std::vector<std::string>>();
            for (const auto& member : c.members) {
                names->push_back(member.name);
            }
            collection.source =
                MemberSource{names->size(), [names](std::size_t i) { return (*names)[i]; },
                             [reader = std::weak_ptr<WorkerClient>(reader_), file = DatabaseName(),
                              name = c.name](std::size_t i, ObjectNode& node) {
                                 DescribeMember(reader, file, name, i, node);
                             }};
        }
    }
    ~AccessDatabase() override { Close(); }
    std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                             const std::vector<std::string>& fields) override {
        CheckOpen();
        // The field types come from the schema, which names the table and
        // fields exactly as the reader will look them up.
        auto tableDef = GetCollection(collections::kTableDefs)->Item(table);
        auto tableFields = tableDef->GetCollection(collections::kFields);
        std::vector<std::string> names;
        std::vector<int> types;
        for (const auto& f : fields) {
            auto field = tableFields->Item(f);
            names.push_back(field->Name());
            const Value type = field->GetProperties().Item("Type").GetValue();
            const auto* code = type.As<std::int64_t>();
            types.push_back(code ? static_cast<int>(*code) : dao::kBinary);
        }
        return std::make_unique<AccessRecordset>(*reader_, DatabaseName(), tableDef->Name(),
                                                 std::move(names), types);
    }
    std::string RecordsetStatement(std::string_view table,
                                   const std::vector<std::string>& fields) override {
        return SelectStatement(fields, table, Bracketed);
    }
    void Close() override {
        MarkClosed();
        reader_.reset();
    }

  private:
    // Fills `node` with member `index` of the database's collection
    // `collection`, as the reader sends it.
    static void DescribeMember(const std::weak_ptr<WorkerClient>& reader, const std::string& file,
                               const std::string& collection, std::size_t index, ObjectNode& node) {
        const auto client = reader.lock();
        if (!client) {
            throw DbError(errors::kNotSupported, "The database is closed.", kSource);
        }
        Request request;
        request.kind = RequestKind::kReadMember;
        request.collection = collection;
        request.member = static_cast<std::uint32_t>(index);
        const Reply reply = client->Call(request, "the schema");
        if (reply.kind == ReplyKind::kError) {
            throw FromWire(reply.error, file);
        }
        if (reply.kind != ReplyKind::kSchema || reply.schema.name != node.name) {
            throw DbError(errors::kDamaged,
                          "Reading the schema of '" + file +
                              "' failed: the Access reader answered with something else.",
                          kSource);
        }
        FillObjectNode(node, reply.schema, file);
    }

    std::shared_ptr<WorkerClient> reader_;  // the sources of the collections hold it weakly
};

}  // namespace

void FillObjectNode(ObjectNode& node, const WireNode& wire, const std::string& fileLabel) {
    node.name = wire.name;
    for (const auto& p : wire.properties) {
        if (p.failure) {
            node.properties.Add(Property::Failing(p.name, p.type, FromWire(*p.failure, fileLabel)));
        } else {
            node.properties.Add(p.name, p.type, p.value);
        }
    }
    if (wire.propertiesFailure) {
        node.propertiesFailure = FromWire(*wire.propertiesFailure, fileLabel);
    }
    for (const auto& c : wire.collections) {
        auto& collection = node.Collection(c.name);
        if (c.failure) {
            collection.failure = FromWire(*c.failure, fileLabel);
        }
        for (const auto& member : c.members) {
            FillObjectNode(collection.Add(member.name), member, fileLabel);
        }
    }
}

std::unique_ptr<Database> OpenAccessDatabase(const std::string& path,
                                             const WorkerOptions& options) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    auto reader = std::make_shared<WorkerClient>(path, options);

    Request open;
    open.kind = RequestKind::kOpenFile;
    open.path = ec ? path : absolute.string();
    Reply reply = reader->Call(open, "the file header");
    if (reply.kind == ReplyKind::kError) {
        throw DbError(reply.error.number, reply.error.description, kSource);
    }

    Request schema;
    schema.kind = RequestKind::kReadOutline;
    reply = reader->Call(schema, "the schema");
    if (reply.kind == ReplyKind::kError) {
        throw DbError(reply.error.number, reply.error.description, kSource);
    }
    if (reply.kind != ReplyKind::kSchema) {
        throw DbError(errors::kDamaged,
                      "Reading the schema of '" + path +
                          "' failed: the Access reader answered with something else.",
                      kSource);
    }
    return std::make_unique<AccessDatabase>(path, std::move(reader), reply.schema);
}

}  // namespace kesmark::access
