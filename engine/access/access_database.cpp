#include "engine/access/access_database.h"

#include <filesystem>

namespace kesmark::access {

namespace {

DbError FromWire(const WireError& error, const std::string& fileLabel) {
    return DbError(error.number, "'" + fileLabel + "': " + error.description, kSource);
}

std::string Bracketed(std::string_view name) {
    return "[" + std::string(name) + "]";
}

class AccessDatabase : public Database {
  public:
    AccessDatabase(std::string name, std::unique_ptr<WorkerClient> reader, const WireNode& schema)
        : name_(std::move(name)),
          reader_(std::move(reader)),
          root_(std::make_shared<ObjectNode>()) {
        FillObjectNode(root_.Node(), schema, name_);
        root_.Node().name = name_;
        Properties properties;
        properties.Add("Name", dao::kText, name_);
        for (std::size_t i = 0; i < root_.Node().properties.Count(); ++i) {
            properties.Add(root_.Node().properties.Item(i));
        }
        root_.Node().properties = std::move(properties);
    }
    ~AccessDatabase() override { Close(); }

    std::string Name() override { return name_; }
    Properties GetProperties() override {
        CheckOpen();
        return root_.GetProperties();
    }
    std::unique_ptr<Collection> GetCollection(std::string_view name) override {
        CheckOpen();
        return root_.GetCollection(name);
    }
    std::unique_ptr<Recordset> OpenRecordset(std::string_view table,
                                             const std::vector<std::string>&) override {
        CheckOpen();
        throw DbError(errors::kNotSupported,
                      "Reading the records of Access tables is not supported yet (table '" +
                          std::string(table) + "' of '" + name_ + "').",
                      kSource);
    }
    std::string RecordsetStatement(std::string_view table,
                                   const std::vector<std::string>& fields) override {
        std::string sql = "SELECT ";
        for (std::size_t i = 0; i < fields.size(); ++i) {
            sql += (i ? ", " : "") + Bracketed(fields[i]);
        }
        return sql + " FROM " + Bracketed(table);
    }
    void Close() override {
        reader_.reset();
        closed_ = true;
    }

  private:
    void CheckOpen() const {
        if (closed_) {
            throw DbError(errors::kNotSupported, "The database is closed.", kSource);
        }
    }

    std::string name_;
    std::unique_ptr<WorkerClient> reader_;
    TreeObject root_;
    bool closed_ = false;
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
    auto reader = std::make_unique<WorkerClient>(path, options);

    Request open;
    open.kind = RequestKind::kOpenFile;
    open.path = ec ? path : absolute.string();
    Reply reply = reader->Call(open, "the file header");
    if (reply.kind == ReplyKind::kError) {
        throw DbError(reply.error.number, reply.error.description, kSource);
    }

    Request schema;
    schema.kind = RequestKind::kReadSchema;
    reply = reader->Call(schema, "the schema");
    if (reply.kind == ReplyKind::kError) {
        throw DbError(reply.error.number, reply.error.description, kSource);
    }
    if (reply.kind != ReplyKind::kSchema) {
        throw DbError(kReaderFailed,
                      "Reading the schema of '" + path +
                          "' failed: the Access reader answered with something else.",
                      kSource);
    }
    return std::make_unique<AccessDatabase>(path, std::move(reader), reply.schema);
}

}  // namespace kesmark::access
