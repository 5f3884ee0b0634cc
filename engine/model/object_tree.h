#pragma once

// A ready-made implementation of the object model over plain data: objects
// with properties and named child collections. The in-memory test backend is
// built on it, and real backends use it for their schema: they describe each
// object once (a collection may fill itself on first use) and get the
// DbObject/Collection classes, name lookup and failure behaviour for free.
//
// Memory: a member read from a collection belongs to its reader. Its
// collections that fill themselves are filled for that reader and go when the
// reader lets go of the member, so a comparison that lets go of each table
// once compared holds one table's fields and indexes at a time, however many
// tables there are. A collection with very many members (the tables of a
// large database) can list them through a MemberSource instead: then only
// their names, or whatever the backend keeps to name them, stay.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/model/object_model.h"
#include "engine/model/text.h"

namespace kesmark {

struct ObjectNode;

// The members of a collection described one at a time: how many there are,
// the name of the member at a position, and how to describe it. `describe`
// fills a fresh node whose name is set; it may throw DbError (the read of
// that member fails). Both functions are called with positions below
// `count` only.
struct MemberSource {
    std::size_t count = 0;
    std::function<std::string(std::size_t index)> nameAt;
    std::function<void(std::size_t index, ObjectNode& member)> describe;
};

// A collection of object nodes: `members` held, or, when `source` is set,
// members described when they are read. `failure`, when set, is thrown by
// every read (a collection the backend cannot read for this object).
// `loader`, when set, runs once on the first read to fill `members` or
// `source` (or set `failure`); a loader that throws DbError leaves that error
// as the collection's failure, thrown again by every later read without
// running the loader again.
struct CollectionNode {
    std::vector<std::shared_ptr<ObjectNode>> members;
    std::optional<MemberSource> source;
    std::optional<DbError> failure;
    std::function<void(CollectionNode&)> loader;

    ObjectNode& Add(std::string name);
    // Runs the loader if it has not run yet, then throws `failure` if set.
    void EnsureLoaded();
    // The number of members and the name of one (DbError 3265 past the end).
    std::size_t Count();
    std::string NameAt(std::size_t index);
    // The member at `index` for a reader of its own: a held member is
    // copied, except that its collections that fill themselves start unfilled
    // in the copy (filled collections are shared); a described member is
    // described afresh. Throws DbError 3265 past the end.
    std::shared_ptr<ObjectNode> Read(std::size_t index);
    // Member index by exact name, else by name ignoring ASCII case; -1 if none.
    std::ptrdiff_t IndexOf(std::string_view name);

  private:
    std::unordered_map<std::string, std::size_t> exactIndex_;
    std::unordered_map<std::string, std::size_t> foldedIndex_;
    std::size_t indexedCount_ = 0;
    std::vector<std::uint32_t> sourceOrder_;  // positions of a source's members by name
};

// One object: its name, its properties and its child collections by name.
// `propertiesFailure`, when set, is thrown by GetProperties.
struct ObjectNode {
    std::string name;
    Properties properties;
    std::optional<DbError> propertiesFailure;
    std::map<std::string, std::shared_ptr<CollectionNode>, std::less<>> collections;

    // The child collection of that name, created empty if absent.
    CollectionNode& Collection(std::string_view collectionName);
};

// DbObject over an ObjectNode. Shares ownership of the node.
class TreeObject : public DbObject {
  public:
    explicit TreeObject(std::shared_ptr<ObjectNode> node) : node_(std::move(node)) {}

    std::string Name() override { return node_->name; }
    Properties GetProperties() override;
    std::unique_ptr<Collection> GetCollection(std::string_view name) override;

    ObjectNode& Node() { return *node_; }

  private:
    std::shared_ptr<ObjectNode> node_;
};

// Collection over a CollectionNode. Shares ownership of the node.
class TreeCollection : public Collection {
  public:
    explicit TreeCollection(std::shared_ptr<CollectionNode> node) : node_(std::move(node)) {}

    std::size_t Count() override;
    std::string NameAt(std::size_t index) override;
    std::unique_ptr<DbObject> ItemAt(std::size_t index) override;
    std::unique_ptr<DbObject> Find(std::string_view name) override;

  private:
    std::shared_ptr<CollectionNode> node_;
};

// A database whose object model is held in an ObjectNode tree: the name, the
// database's properties and its collections come from the root node, and
// every read after Close() throws "The database is closed.". Backends fill
// Root() and implement the recordsets and Close (calling MarkClosed()).
// The database's kind is its backend, the `source` of its errors ("SQLite"),
// with the database system a backend sets through SetSystem.
class TreeDatabase : public Database {
  public:
    TreeDatabase(std::string name, std::string source);

    DatabaseKind Kind() const override { return {source_, system_}; }
    std::string Name() override { return name_; }
    Properties GetProperties() override;
    std::unique_ptr<Collection> GetCollection(std::string_view name) override;

  protected:
    ObjectNode& Root() { return root_.Node(); }
    // Throws DbError when the database has been closed.
    void CheckOpen() const;
    void MarkClosed() { closed_ = true; }
    const std::string& DatabaseName() const { return name_; }
    // The database system behind the backend (ODBC: SQL_DBMS_NAME).
    void SetSystem(std::string system) { system_ = std::move(system); }

  private:
    std::string name_;
    std::string source_;
    std::string system_;
    TreeObject root_;
    bool closed_ = false;
};

// "SELECT a, b FROM t": the fields and the table each quoted by `quote`.
std::string SelectStatement(const std::vector<std::string>& fields, std::string_view table,
                            const std::function<std::string(std::string_view)>& quote);

}  // namespace kesmark
