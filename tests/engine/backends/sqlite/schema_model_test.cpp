// The SQLite backend's object model, read from files the tests build: what
// each collection holds, each property's value and DAO type, names as stored,
// lookups, and failures with SQLite's own message and code.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <set>

#include "engine/backends/sqlite/sqlite_database.h"
#include "engine/open_database.h"
#include "tests/engine/backends/sqlite/schema_fixtures.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

using test::NamesAt;
using test::ObjectAt;
using test::PropertyValues;
using Props = std::map<std::string, Value>;

// The statement sqlite_schema holds for an object, read directly.
std::string StoredSql(const std::filesystem::path& path, const std::string& name) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_schema WHERE name = ?1", -1, &stmt, nullptr);
    sqlite3_bind_text(stmt, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    std::string sql;
    if (sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_text(stmt, 0)) {
        sql = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return sql;
}

class SqliteSchemaTest : public ::testing::Test {
  protected:
    std::unique_ptr<Database> OpenShop() {
        shop_ = test::MakeSqlite(dir_ / "shop.db", test::kShopSql);
        return OpenDatabase(shop_.string(), "");
    }
    std::unique_ptr<Database> Open(std::string_view name, std::string_view sql) {
        const auto path = test::MakeSqlite(dir_ / std::string(name), sql);
        return OpenDatabase(path.string(), "");
    }
    Props At(Database& db, const std::vector<test::PathStep>& path) {
        return PropertyValues(*ObjectAt(db, path));
    }

    test::TempDir dir_;
    std::filesystem::path shop_;
};

constexpr std::int64_t kSystemObject = -2147483646;

TEST_F(SqliteSchemaTest, TableDefsHoldEveryTableWithSqlitesOwnMarkedAsSystemObjects) {
    auto db = OpenShop();
    EXPECT_EQ(NamesAt(*db, {}, "TableDefs"),
              (std::vector<std::string>{"Customers", "sqlite_sequence", "Orders", "OrderLines"}));
    struct Expected {
        const char* table;
        std::int64_t attributes;
        bool withoutRowid;
        bool strict;
    };
    for (const auto& e :
         {Expected{"sqlite_sequence", kSystemObject, false, false},
          Expected{"Orders", 0, false, false}, Expected{"Customers", 0, false, false},
          Expected{"OrderLines", 0, true, true}}) {
        const Props p = At(*db, {{"TableDefs", e.table}});
        EXPECT_EQ(p.at("Name"), Value(e.table));
        EXPECT_EQ(p.at("Attributes"), Value(e.attributes)) << e.table;
        EXPECT_EQ(p.at("WithoutRowid"), Value(e.withoutRowid)) << e.table;
        EXPECT_EQ(p.at("Strict"), Value(e.strict)) << e.table;
        EXPECT_EQ(p.at("TableType"), Value("table")) << e.table;
        EXPECT_EQ(p.at("SQL"), Value(StoredSql(shop_, e.table))) << e.table;
    }
    EXPECT_EQ(At(*db, {{"TableDefs", "Customers"}}).at("RecordCount"), Value(2));
}

TEST_F(SqliteSchemaTest, VirtualAndShadowTablesAndTheirKinds) {
    auto db = Open("fts.db", "CREATE VIRTUAL TABLE Notes USING fts5(title, body);");
    const auto names = NamesAt(*db, {}, "TableDefs");
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
              (std::set<std::string>{"Notes", "Notes_data", "Notes_idx", "Notes_content",
                                     "Notes_docsize", "Notes_config"}));
    EXPECT_EQ(At(*db, {{"TableDefs", "Notes"}}).at("TableType"), Value("virtual"));
    EXPECT_EQ(At(*db, {{"TableDefs", "Notes_data"}}).at("TableType"), Value("shadow"));
    EXPECT_EQ(At(*db, {{"TableDefs", "Notes"}, {"Fields", "rank"}}).at("Hidden"), Value(true));
    EXPECT_EQ(At(*db, {{"TableDefs", "Notes"}, {"Fields", "body"}}).at("Hidden"), Value(false));
}

TEST_F(SqliteSchemaTest, RecordCountIsCountedOnlyWhenRead) {
    // A virtual table of a module this SQLite lacks cannot be counted: its
    // properties still list, and only reading RecordCount fails.
    const auto path = test::MakeSqlite(dir_ / "vt.db",
                                       "CREATE TABLE t(x); INSERT INTO t VALUES (1), (2), (3);"
                                       "PRAGMA writable_schema=ON;"
                                       "INSERT INTO sqlite_schema VALUES('table', 'vt', 'vt', 0,"
                                       " 'CREATE VIRTUAL TABLE vt USING nosuchmodule(a)');");
    auto db = OpenDatabase(path.string(), "");
    auto table = ObjectAt(*db, {{"TableDefs", "vt"}});
    const Properties properties = table->GetProperties();
    EXPECT_EQ(properties.Item("TableType").GetValue(), Value("virtual"));
    try {
        properties.Item("RecordCount").GetValue();
        ADD_FAILURE() << "counted a table without its module";
    } catch (const DbError& e) {
        EXPECT_EQ(e.Number(), SQLITE_ERROR);
        EXPECT_EQ(e.Description(), "'" + path.string() +
                                       "': reading the number of rows of table 'vt': no such "
                                       "module: nosuchmodule");
        EXPECT_EQ(e.Source(), "SQLite");
    }
    // Its columns cannot be read either: the collection fails the same way.
    try {
        table->GetCollection("Fields")->Count();
        ADD_FAILURE() << "read the columns of a table without its module";
    } catch (const DbError& e) {
        EXPECT_EQ(e.Number(), SQLITE_ERROR);
        EXPECT_EQ(e.Description(), "'" + path.string() +
                                       "': reading the fields of table 'vt': no such module: "
                                       "nosuchmodule");
    }
    // Nor its indexes (which the index walk tolerates); other tables read
    // normally.
    EXPECT_THROW(table->GetCollection("Indexes")->Count(), DbError);
    EXPECT_EQ(At(*db, {{"TableDefs", "t"}}).at("RecordCount"), Value(3));
}

TEST_F(SqliteSchemaTest, TableFieldsDescribeEachColumn) {
    auto db = OpenShop();
    EXPECT_EQ(
        NamesAt(*db, {{"TableDefs", "Customers"}}, "Fields"),
        (std::vector<std::string>{"ID", "Name", "Email", "Created", "Balance", "Code", "Slug"}));
    struct Case {
        const char* scenario;
        const char* field;
        Props expected;
    };
    const Case cases[] = {
        {"rowid alias with AUTOINCREMENT",
         "ID",
         {{"Name", "ID"},
          {"Type", dao::kLong},
          {"DeclaredType", "INTEGER"},
          {"Size", 4},
          {"OrdinalPosition", 0},
          {"Required", true},  // a key column, though not declared NOT NULL
          {"DefaultValue", ""},
          {"Attributes", 1 | 16},
          {"PrimaryKeyPosition", 1},
          {"Collation", "BINARY"},
          {"AutoIncrement", true},
          {"Generated", ""},
          {"Hidden", false}}},
        {"NOT NULL text with a length and a collation",
         "Name",
         {{"Name", "Name"},
          {"Type", dao::kText},
          {"DeclaredType", "VARCHAR(50)"},
          {"Size", 50},
          {"OrdinalPosition", 1},
          {"Required", true},
          {"DefaultValue", ""},
          {"Attributes", 2},
          {"PrimaryKeyPosition", 0},
          {"Collation", "NOCASE"},
          {"AutoIncrement", false},
          {"Generated", ""},
          {"Hidden", false}}},
        {"text default of an empty string",
         "Email",
         {{"Type", dao::kMemo}, {"Size", 0}, {"DefaultValue", "''"}, {"Attributes", 2}}},
        {"default expression",
         "Created",
         {{"Type", dao::kTimeStamp}, {"DefaultValue", "CURRENT_TIMESTAMP"}, {"Size", 8}}},
        {"decimal", "Balance", {{"Type", dao::kDecimal}, {"DefaultValue", "0"}, {"Size", 16}}},
        {"generated virtual column",
         "Code",
         {{"Generated", "VIRTUAL"}, {"OrdinalPosition", 5}, {"Hidden", false}}},
        {"generated stored column", "Slug", {{"Generated", "STORED"}, {"OrdinalPosition", 6}}},
    };
    for (const auto& c : cases) {
        const Props actual = At(*db, {{"TableDefs", "Customers"}, {"Fields", c.field}});
        for (const auto& [name, value] : c.expected) {
            ASSERT_TRUE(actual.count(name)) << c.scenario << ": no " << name;
            EXPECT_EQ(actual.at(name), value) << c.scenario << ": " << name;
        }
    }
    const Props line = At(*db, {{"TableDefs", "OrderLines"}, {"Fields", "Line"}});
    EXPECT_EQ(line.at("PrimaryKeyPosition"), Value(2));
    EXPECT_EQ(line.at("Attributes"), Value(1)) << "a WITHOUT ROWID key is no rowid";
    EXPECT_EQ(At(*db, {{"TableDefs", "OrderLines"}, {"Fields", "Product"}}).at("Collation"),
              Value("RTRIM"));
    EXPECT_EQ(At(*db, {{"TableDefs", "Orders"}, {"Fields", "Note"}}).at("Type"),
              Value(dao::kLongBinary));
}

TEST_F(SqliteSchemaTest, IndexesIncludeAutomaticOnesAndTheRowid) {
    auto db = OpenShop();
    EXPECT_EQ(NamesAt(*db, {{"TableDefs", "Customers"}}, "Indexes"),
              (std::vector<std::string>{"sqlite_rowid", "sqlite_autoindex_Customers_1"}));
    struct Case {
        const char* scenario;
        const char* table;
        const char* index;
        Props expected;
        std::vector<std::string> fields;
    };
    const Case cases[] = {
        {"rowid primary key",
         "Orders",
         "sqlite_rowid",
         {{"Primary", true},
          {"Unique", true},
          {"Clustered", true},
          {"Foreign", false},
          {"Origin", "rowid"},
          {"SQL", ""}},
         {"ID"}},
        {"UNIQUE constraint",
         "Customers",
         "sqlite_autoindex_Customers_1",
         {{"Primary", false}, {"Unique", true}, {"Clustered", false}, {"Origin", "UNIQUE"}},
         {"Email"}},
        {"index on a foreign key",
         "Orders",
         "OrdersByCustomer",
         {{"Primary", false},
          {"Unique", false},
          {"Foreign", true},
          {"Partial", false},
          {"Condition", ""},
          {"IgnoreNulls", false},
          {"Origin", "CREATE INDEX"},
          {"SQL", "CREATE INDEX OrdersByCustomer ON Orders(CustomerID)"}},
         {"CustomerID"}},
        {"partial index with an expression key",
         "Orders",
         "OrdersRecent",
         {{"Partial", true},
          {"Condition", "Placed IS NOT NULL"},
          {"IgnoreNulls", false},
          {"Foreign", false}},
         {"Placed", "lower(Note)"}},
        {"primary key of a WITHOUT ROWID table",
         "OrderLines",
         "sqlite_autoindex_OrderLines_1",
         {{"Primary", true},
          {"Unique", true},
          {"Clustered", true},
          {"Foreign", false},
          {"Origin", "PRIMARY KEY"}},
         {"OrderID", "Line"}},
    };
    for (const auto& c : cases) {
        const Props actual = At(*db, {{"TableDefs", c.table}, {"Indexes", c.index}});
        EXPECT_EQ(actual.at("Name"), Value(c.index));
        for (const auto& [name, value] : c.expected) {
            EXPECT_EQ(actual.at(name), value) << c.scenario << ": " << name;
        }
        EXPECT_EQ(NamesAt(*db, {{"TableDefs", c.table}, {"Indexes", c.index}}, "Fields"), c.fields)
            << c.scenario;
    }
    const Props placed =
        At(*db, {{"TableDefs", "Orders"}, {"Indexes", "OrdersRecent"}, {"Fields", "Placed"}});
    EXPECT_EQ(placed, (Props{{"Name", "Placed"},
                             {"Attributes", 1},
                             {"OrdinalPosition", 0},
                             {"Descending", true},
                             {"Collation", "BINARY"}}));
    const Props expression =
        At(*db, {{"TableDefs", "Orders"}, {"Indexes", "OrdersRecent"}, {"Fields", "lower(Note)"}});
    EXPECT_EQ(expression.at("Collation"), Value("NOCASE"));
    EXPECT_EQ(expression.at("Descending"), Value(false));
    EXPECT_EQ(expression.at("OrdinalPosition"), Value(1));
}

TEST_F(SqliteSchemaTest, RowidPrimaryKeyOnlyWhereSqliteMakesOne) {
    struct Case {
        const char* scenario;
        const char* sql;
        std::vector<std::string> indexes;
        std::int64_t idAttributes;
    };
    const Case cases[] = {
        {"INTEGER PRIMARY KEY", "CREATE TABLE t(id INTEGER PRIMARY KEY, x)", {"sqlite_rowid"}, 17},
        {"table constraint on an INTEGER column",
         "CREATE TABLE t(id integer, x, PRIMARY KEY(id))",
         {"sqlite_rowid"},
         17},
        {"INT is no rowid alias",
         "CREATE TABLE t(id INT PRIMARY KEY, x)",
         {"sqlite_autoindex_t_1"},
         1},
        {"INTEGER PRIMARY KEY DESC is no rowid alias",
         "CREATE TABLE t(id INTEGER PRIMARY KEY DESC, x)",
         {"sqlite_autoindex_t_1"},
         1},
        {"WITHOUT ROWID",
         "CREATE TABLE t(id INTEGER PRIMARY KEY, x) WITHOUT ROWID",
         {"sqlite_autoindex_t_1"},
         1},
        {"two-column key",
         "CREATE TABLE t(id INTEGER, x INTEGER, PRIMARY KEY(id, x))",
         {"sqlite_autoindex_t_1"},
         1},
        {"no primary key", "CREATE TABLE t(id INTEGER, x)", {}, 1},
    };
    int n = 0;
    for (const auto& c : cases) {
        auto db = Open("rowid" + std::to_string(++n) + ".db", c.sql);
        EXPECT_EQ(NamesAt(*db, {{"TableDefs", "t"}}, "Indexes"), c.indexes) << c.scenario;
        EXPECT_EQ(At(*db, {{"TableDefs", "t"}, {"Fields", "id"}}).at("Attributes"),
                  Value(c.idAttributes))
            << c.scenario;
    }
}

TEST_F(SqliteSchemaTest, IndexFieldNamesStayUniqueAndNullExclusionIsRecognised) {
    auto db = Open("ix.db",
                   "CREATE TABLE t(a, b, c);"
                   "CREATE INDEX twice ON t(a, a DESC, abs(b), abs(b));"
                   "CREATE INDEX nonulls ON t(a, \"B\") WHERE a IS NOT NULL AND b NOTNULL;"
                   "CREATE UNIQUE INDEX someNulls ON t(c) WHERE c > 0;");
    EXPECT_EQ(NamesAt(*db, {{"TableDefs", "t"}, {"Indexes", "twice"}}, "Fields"),
              (std::vector<std::string>{"a", "a #2", "abs(b)", "abs(b) #2"}));
    EXPECT_EQ(
        At(*db, {{"TableDefs", "t"}, {"Indexes", "twice"}, {"Fields", "a #2"}}).at("Descending"),
        Value(true));
    EXPECT_EQ(At(*db, {{"TableDefs", "t"}, {"Indexes", "nonulls"}}).at("IgnoreNulls"), Value(true));
    const Props someNulls = At(*db, {{"TableDefs", "t"}, {"Indexes", "someNulls"}});
    EXPECT_EQ(someNulls.at("IgnoreNulls"), Value(false));
    EXPECT_EQ(someNulls.at("Unique"), Value(true));
    EXPECT_EQ(someNulls.at("Condition"), Value("c > 0"));
}

TEST_F(SqliteSchemaTest, QueryDefsAreViewsWithTheirResultColumns) {
    auto db = OpenShop();
    EXPECT_EQ(NamesAt(*db, {}, "QueryDefs"),
              (std::vector<std::string>{"CustomerOrders", "PlainOrders"}));
    const Props view = At(*db, {{"QueryDefs", "CustomerOrders"}});
    EXPECT_EQ(view, (Props{{"Name", "CustomerOrders"},
                           {"SQL", StoredSql(shop_, "CustomerOrders")},
                           {"Type", 0},
                           {"ReturnsRecords", true},
                           {"Updatable", true}}));
    EXPECT_EQ(At(*db, {{"QueryDefs", "PlainOrders"}}).at("Updatable"), Value(false));
    EXPECT_EQ(NamesAt(*db, {{"QueryDefs", "CustomerOrders"}}, "Fields"),
              (std::vector<std::string>{"Name", "ID", "Placed", "Lines"}));
    EXPECT_EQ(At(*db, {{"QueryDefs", "CustomerOrders"}, {"Fields", "Name"}}),
              (Props{{"Name", "Name"},
                     {"Type", dao::kText},
                     {"DeclaredType", "VARCHAR(50)"},
                     {"Size", 50},
                     {"OrdinalPosition", 0},
                     {"Required", false},
                     {"DefaultValue", ""},
                     {"Attributes", 2},
                     {"SourceTable", "Customers"},
                     {"SourceField", "Name"}}));
    const Props lines = At(*db, {{"QueryDefs", "CustomerOrders"}, {"Fields", "Lines"}});
    EXPECT_EQ(lines.at("DeclaredType"), Value(""));
    EXPECT_EQ(lines.at("SourceTable"), Value(""));
    EXPECT_EQ(lines.at("OrdinalPosition"), Value(3));
    EXPECT_EQ(NamesAt(*db, {{"QueryDefs", "CustomerOrders"}}, "Parameters"),
              std::vector<std::string>{});
}

TEST_F(SqliteSchemaTest, ViewThatNoLongerCompilesFailsWithSqlitesMessage) {
    const auto path =
        test::MakeSqlite(dir_ / "broken.db",
                         "CREATE TABLE Gone(x); CREATE VIEW Orphan AS SELECT x FROM Gone;"
                         "CREATE VIEW Dup AS SELECT 1 AS a, 2 AS a;");
    test::MakeSqlite(path, "DROP TABLE Gone;");
    auto db = OpenDatabase(path.string(), "");
    EXPECT_EQ(NamesAt(*db, {}, "QueryDefs"), (std::vector<std::string>{"Orphan", "Dup"}));
    EXPECT_EQ(NamesAt(*db, {{"QueryDefs", "Dup"}}, "Fields"),
              (std::vector<std::string>{"a", "a:1"}));
    try {
        ObjectAt(*db, {{"QueryDefs", "Orphan"}})->GetCollection("Fields")->Count();
        ADD_FAILURE() << "read the columns of a broken view";
    } catch (const DbError& e) {
        EXPECT_EQ(e.Number(), SQLITE_ERROR);
        EXPECT_EQ(e.Description(), "'" + path.string() +
                                       "': reading the fields of view 'Orphan': no such table: "
                                       "main.Gone");
        EXPECT_EQ(e.Source(), "SQLite");
    }
}

TEST_F(SqliteSchemaTest, RelationsAreForeignKeysNamedAfterWhatTheyLink) {
    auto db = OpenShop();
    EXPECT_EQ(NamesAt(*db, {}, "Relations"),
              (std::vector<std::string>{"Orders(CustomerID) -> Customers(ID)",
                                        "OrderLines(OrderID) -> Orders(ID)"}));
    EXPECT_EQ(At(*db, {{"Relations", "Orders(CustomerID) -> Customers(ID)"}}),
              (Props{{"Name", "Orders(CustomerID) -> Customers(ID)"},
                     {"Table", "Customers"},
                     {"ForeignTable", "Orders"},
                     {"Attributes", 4096},
                     {"OnUpdate", "NO ACTION"},
                     {"OnDelete", "CASCADE"},
                     {"Match", "NONE"}}));
    EXPECT_EQ(At(*db, {{"Relations", "OrderLines(OrderID) -> Orders(ID)"}}).at("Attributes"),
              Value(256));
    EXPECT_EQ(At(*db, {{"Relations", "Orders(CustomerID) -> Customers(ID)"}, {"Fields", "ID"}}),
              (Props{{"Name", "ID"}, {"ForeignName", "CustomerID"}, {"OrdinalPosition", 0}}));
}

TEST_F(SqliteSchemaTest, RelationNamesAreStableUniqueAndReadable) {
    struct Case {
        const char* scenario;
        const char* child;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"parent and columns written in another letter case",
         "CREATE TABLE c(x REFERENCES PARENT(iD))",
         {"c(x) -> Parent(Id)"}},
        {"composite key, both cascades",
         "CREATE TABLE c(a, b, FOREIGN KEY(a, b) REFERENCES Pair(p, q)"
         " ON DELETE CASCADE ON UPDATE CASCADE)",
         {"c(a, b) -> Pair(p, q)"}},
        {"missing parent without columns",
         "CREATE TABLE c(x REFERENCES Nowhere)",
         {"c(x) -> Nowhere"}},
        {"missing parent with columns",
         "CREATE TABLE c(x REFERENCES Nowhere(y))",
         {"c(x) -> Nowhere(y)"}},
        {"parent without a declared key",
         "CREATE TABLE c(x REFERENCES Keyless)",
         {"c(x) -> Keyless"}},
        {"the same link twice",
         "CREATE TABLE c(x REFERENCES Parent, FOREIGN KEY(x) REFERENCES Parent(Id))",
         {"c(x) -> Parent(Id)", "c(x) -> Parent(Id) #2"}},
    };
    constexpr std::string_view kParents =
        "CREATE TABLE Parent(Id INTEGER PRIMARY KEY);"
        "CREATE TABLE Pair(p, q, PRIMARY KEY(p, q));"
        "CREATE TABLE Keyless(y);";
    int n = 0;
    for (const auto& c : cases) {
        auto db = Open("rel" + std::to_string(++n) + ".db", std::string(kParents) + c.child);
        const auto names = NamesAt(*db, {}, "Relations");
        EXPECT_EQ(names, c.names) << c.scenario;
        for (const auto& name : names) {
            EXPECT_EQ(At(*db, {{"Relations", name}}).at("ForeignTable"), Value("c")) << c.scenario;
        }
    }
    auto composite = Open("composite.db", std::string(kParents) +
                                              "CREATE TABLE c(a, b, FOREIGN KEY(a, b) "
                                              "REFERENCES Pair(p, q) ON DELETE CASCADE "
                                              "ON UPDATE CASCADE)");
    EXPECT_EQ(At(*composite, {{"Relations", "c(a, b) -> Pair(p, q)"}}).at("Attributes"),
              Value(256 | 4096));
    EXPECT_EQ(At(*composite, {{"Relations", "c(a, b) -> Pair(p, q)"}, {"Fields", "q"}}),
              (Props{{"Name", "q"}, {"ForeignName", "b"}, {"OrdinalPosition", 1}}));

    // The order of the constraints in the statement does not change the names.
    auto forward =
        Open("forward.db", std::string(kParents) +
                               "CREATE TABLE c(x REFERENCES Parent, y REFERENCES Keyless(y))");
    auto backward =
        Open("backward.db", std::string(kParents) +
                                "CREATE TABLE c(y REFERENCES Keyless(y), x REFERENCES Parent)");
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(NamesAt(*forward, {}, "Relations")),
              sorted(NamesAt(*backward, {}, "Relations")));
}

TEST_F(SqliteSchemaTest, ContainersListTablesRelationshipsAndTriggers) {
    auto db = OpenShop();
    EXPECT_EQ(NamesAt(*db, {}, "Containers"),
              (std::vector<std::string>{"Tables", "Relationships", "Triggers"}));
    EXPECT_EQ(At(*db, {{"Containers", "Triggers"}}), (Props{{"Name", "Triggers"}}));
    EXPECT_EQ(NamesAt(*db, {{"Containers", "Tables"}}, "Documents"),
              (std::vector<std::string>{"Customers", "sqlite_sequence", "Orders", "OrderLines",
                                        "CustomerOrders", "PlainOrders"}));
    EXPECT_EQ(At(*db, {{"Containers", "Tables"}, {"Documents", "PlainOrders"}}),
              (Props{{"Name", "PlainOrders"}, {"Container", "Tables"}, {"ObjectType", "view"}}));
    EXPECT_EQ(NamesAt(*db, {{"Containers", "Relationships"}}, "Documents"),
              NamesAt(*db, {}, "Relations"));
    EXPECT_EQ(NamesAt(*db, {{"Containers", "Triggers"}}, "Documents"),
              (std::vector<std::string>{"CustomerOrdersInsert", "OrdersTouched"}));
    EXPECT_EQ(At(*db, {{"Containers", "Triggers"}, {"Documents", "OrdersTouched"}}),
              (Props{{"Name", "OrdersTouched"},
                     {"Container", "Triggers"},
                     {"Table", "Orders"},
                     {"SQL", StoredSql(shop_, "OrdersTouched")}}));
}

TEST_F(SqliteSchemaTest, NamesComeBackAsStoredAndAreFoundByPositionAndName) {
    auto db = Open("names.db",
                   "CREATE TABLE \"Order Details\"(\"Unit Price\" REAL, [qu\"ote] INT);"
                   "CREATE TABLE \"Ünïcödé\"(\"名前\" TEXT);"
                   "CREATE TABLE MiXeD(x);"
                   "CREATE INDEX \"idx.with.dots\" ON MiXeD(x);");
    auto tables = db->GetCollection("TableDefs");
    EXPECT_EQ(tables->Names(), (std::vector<std::string>{"Order Details", "Ünïcödé", "MiXeD"}));
    for (std::size_t i = 0; i < tables->Count(); ++i) {
        EXPECT_EQ(tables->ItemAt(i)->Name(), tables->NameAt(i));
        EXPECT_EQ(tables->Find(tables->NameAt(i))->Name(), tables->NameAt(i));
    }
    EXPECT_EQ(tables->Find("mixed")->Name(), "MiXeD") << "SQLite's lookup ignores ASCII case";
    EXPECT_EQ(tables->Find("Mixed Up"), nullptr);
    EXPECT_THROW(tables->Item("Mixed Up"), DbError);
    EXPECT_EQ(NamesAt(*db, {{"TableDefs", "Order Details"}}, "Fields"),
              (std::vector<std::string>{"Unit Price", "qu\"ote"}));
    EXPECT_EQ(NamesAt(*db, {{"TableDefs", "Ünïcödé"}}, "Fields"),
              (std::vector<std::string>{"名前"}));
    EXPECT_EQ(NamesAt(*db, {{"TableDefs", "MiXeD"}}, "Indexes"),
              (std::vector<std::string>{"idx.with.dots"}));
}

// Every property of every object carries the DAO type the mapping document
// gives it, and every object has exactly the properties it lists.
TEST_F(SqliteSchemaTest, EveryPropertyHasItsDocumentedDaoType) {
    using Types = std::map<std::string, int>;
    const std::map<std::string, Types> documented = {
        {"TableDefs",
         {{"Name", 10},
          {"Attributes", 4},
          {"SQL", 12},
          {"TableType", 10},
          {"Updatable", 1},
          {"WithoutRowid", 1},
          {"Strict", 1},
          {"RecordCount", 4}}},
        {"TableFields",
         {{"Name", 10},
          {"Type", 3},
          {"DeclaredType", 10},
          {"Size", 4},
          {"OrdinalPosition", 3},
          {"Required", 1},
          {"DefaultValue", 10},
          {"Attributes", 4},
          {"PrimaryKeyPosition", 3},
          {"Collation", 10},
          {"AutoIncrement", 1},
          {"Generated", 10},
          {"Hidden", 1}}},
        {"Indexes",
         {{"Name", 10},
          {"Primary", 1},
          {"Unique", 1},
          {"Foreign", 1},
          {"IgnoreNulls", 1},
          {"Clustered", 1},
          {"Partial", 1},
          {"Condition", 10},
          {"Origin", 10},
          {"SQL", 12},
          {"Required", 1}}},
        {"IndexFields",
         {{"Name", 10},
          {"Attributes", 4},
          {"OrdinalPosition", 3},
          {"Descending", 1},
          {"Collation", 10}}},
        {"QueryDefs",
         {{"Name", 10}, {"SQL", 12}, {"Type", 3}, {"ReturnsRecords", 1}, {"Updatable", 1}}},
        {"QueryFields",
         {{"Name", 10},
          {"Type", 3},
          {"DeclaredType", 10},
          {"Size", 4},
          {"OrdinalPosition", 3},
          {"Required", 1},
          {"DefaultValue", 10},
          {"Attributes", 4},
          {"SourceTable", 10},
          {"SourceField", 10}}},
        {"Relations",
         {{"Name", 10},
          {"Table", 10},
          {"ForeignTable", 10},
          {"Attributes", 4},
          {"OnUpdate", 10},
          {"OnDelete", 10},
          {"Match", 10}}},
        {"RelationFields", {{"Name", 10}, {"ForeignName", 10}, {"OrdinalPosition", 3}}},
        {"Containers", {{"Name", 10}}},
        {"TablesDocuments", {{"Name", 10}, {"Container", 10}, {"ObjectType", 10}}},
        {"RelationshipsDocuments", {{"Name", 10}, {"Container", 10}}},
        {"TriggersDocuments", {{"Name", 10}, {"Container", 10}, {"Table", 10}, {"SQL", 12}}},
    };
    auto db = OpenShop();
    std::set<std::string> seen;
    auto check = [&](const std::string& kind, DbObject& object) {
        seen.insert(kind);
        Types actual;
        const Properties properties = object.GetProperties();
        for (std::size_t i = 0; i < properties.Count(); ++i) {
            actual.emplace(properties.Item(i).Name(), properties.Item(i).Type());
        }
        EXPECT_EQ(actual, documented.at(kind)) << kind << " " << object.Name();
    };
    auto each = [](DbObject& owner, std::string_view collection, auto visit) {
        auto members = owner.GetCollection(collection);
        for (std::size_t i = 0; i < members->Count(); ++i) {
            auto member = members->ItemAt(i);
            visit(*member);
        }
    };
    each(*db, "TableDefs", [&](DbObject& table) {
        check("TableDefs", table);
        each(table, "Fields", [&](DbObject& field) { check("TableFields", field); });
        each(table, "Indexes", [&](DbObject& index) {
            check("Indexes", index);
            each(index, "Fields", [&](DbObject& field) { check("IndexFields", field); });
        });
    });
    each(*db, "QueryDefs", [&](DbObject& query) {
        check("QueryDefs", query);
        each(query, "Fields", [&](DbObject& field) { check("QueryFields", field); });
    });
    each(*db, "Relations", [&](DbObject& relation) {
        check("Relations", relation);
        each(relation, "Fields", [&](DbObject& field) { check("RelationFields", field); });
    });
    each(*db, "Containers", [&](DbObject& container) {
        check("Containers", container);
        each(container, "Documents",
             [&](DbObject& document) { check(container.Name() + "Documents", document); });
    });
    EXPECT_EQ(seen.size(), documented.size());
}

TEST_F(SqliteSchemaTest, ReadingAfterCloseFailsInsteadOfTouchingAClosedConnection) {
    auto db = OpenShop();
    auto tables = db->GetCollection("TableDefs");
    auto customers = tables->Item("Customers");
    auto fields = customers->GetCollection("Fields");
    db->Close();
    EXPECT_THROW(fields->Count(), DbError);
    EXPECT_THROW(customers->GetProperties().Item("RecordCount").GetValue(), DbError);
    EXPECT_EQ(tables->Count(), 4u) << "what was read before stays readable";
}

}  // namespace
}  // namespace kesmark
