#pragma once

// A small shop schema that uses every kind of object the SQLite backend
// presents, and helpers to walk an opened database's object model.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/model/object_model.h"

namespace kesmark::test {

inline constexpr std::string_view kShopSql = R"sql(
CREATE TABLE Customers(
  ID INTEGER PRIMARY KEY AUTOINCREMENT,
  Name VARCHAR(50) NOT NULL COLLATE NOCASE,
  Email TEXT DEFAULT '',
  Created DATETIME DEFAULT CURRENT_TIMESTAMP,
  Balance DECIMAL(10,2) DEFAULT 0,
  Code TEXT GENERATED ALWAYS AS (upper(Name)) VIRTUAL,
  Slug TEXT AS (lower(Name)) STORED,
  UNIQUE(Email));
CREATE TABLE Orders(
  ID INTEGER PRIMARY KEY,
  CustomerID INTEGER NOT NULL REFERENCES Customers ON DELETE CASCADE,
  Placed DATE,
  Note);
CREATE INDEX OrdersByCustomer ON Orders(CustomerID);
CREATE INDEX OrdersRecent ON Orders(Placed DESC, lower(Note) COLLATE NOCASE)
  WHERE Placed IS NOT NULL;
CREATE TABLE OrderLines(
  OrderID INTEGER REFERENCES Orders(ID) ON UPDATE CASCADE,
  Line INT,
  Product TEXT COLLATE RTRIM,
  PRIMARY KEY(OrderID, Line)) WITHOUT ROWID, STRICT;
CREATE VIEW CustomerOrders AS
  SELECT c.Name, o.ID, o.Placed, count(*) AS Lines
  FROM Customers c JOIN Orders o ON o.CustomerID = c.ID
  JOIN OrderLines l ON l.OrderID = o.ID GROUP BY o.ID;
CREATE TRIGGER CustomerOrdersInsert INSTEAD OF INSERT ON CustomerOrders BEGIN SELECT 1; END;
CREATE VIEW PlainOrders AS SELECT ID, Placed FROM Orders;
CREATE TRIGGER OrdersTouched AFTER UPDATE ON Orders BEGIN SELECT 1; END;
INSERT INTO Customers(Name, Email) VALUES ('Ann', 'ann@example.com'), ('Bob', 'bob@example.com');
)sql";

// One step of an object path: collection name and member name.
using PathStep = std::pair<std::string, std::string>;

// The object at `path` below `db` (the members must exist).
inline std::unique_ptr<DbObject> ObjectAt(Database& db, const std::vector<PathStep>& path) {
    std::unique_ptr<DbObject> object;
    DbObject* current = &db;
    for (const auto& [collection, name] : path) {
        object = current->GetCollection(collection)->Item(name);
        current = object.get();
    }
    return object;
}

// Member names of a collection below `db`, by position.
inline std::vector<std::string> NamesAt(Database& db, const std::vector<PathStep>& owner,
                                        std::string_view collection) {
    if (owner.empty()) {
        return db.GetCollection(collection)->Names();
    }
    return ObjectAt(db, owner)->GetCollection(collection)->Names();
}

// Every property of an object: name -> value.
inline std::map<std::string, Value> PropertyValues(DbObject& object) {
    std::map<std::string, Value> values;
    const Properties properties = object.GetProperties();
    for (std::size_t i = 0; i < properties.Count(); ++i) {
        values.emplace(properties.Item(i).Name(), properties.Item(i).GetValue());
    }
    return values;
}

}  // namespace kesmark::test
