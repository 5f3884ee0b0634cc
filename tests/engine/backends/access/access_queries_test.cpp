// Saved queries of Access files: the SQL, type, fields and parameters
// rebuilt from the rows of MSysQueries, for made-up definitions of every
// kind and for the real files.

#include <gtest/gtest.h>

#include "engine/backends/access/access_queries.h"
#include "engine/open_database.h"
#include "tests/engine/backends/access/access_fixtures.h"

namespace kesmark {
namespace {

using access::QueryRow;
using access::RebuildQuery;
using Opt = std::optional<std::string>;

QueryRow Row(std::uint8_t attribute, std::uint8_t order, Opt name1, Opt name2, Opt expression,
             std::optional<int> flag) {
    return QueryRow{attribute,        {0, 0, 0, order},      std::move(name1),
                    std::move(name2), std::move(expression), flag};
}
QueryRow Type(int code) {
    return Row(1, 1, {}, {}, {}, code);
}
QueryRow Flags(int flags, Opt top = {}) {
    return Row(3, 1, std::move(top), {}, {}, flags);
}
QueryRow Table(std::uint8_t order, std::string name, Opt alias = {}) {
    return Row(5, order, std::move(name), std::move(alias), {}, {});
}
QueryRow Column(std::uint8_t order, std::string expression, Opt alias = {}, int flag = 0) {
    return Row(6, order, std::move(alias), {}, std::move(expression), flag);
}
QueryRow JoinRow(std::uint8_t order, std::string left, std::string right, std::string on,
                 int kind) {
    return Row(7, order, std::move(left), std::move(right), std::move(on), kind);
}
QueryRow Clause(std::uint8_t attribute, std::uint8_t order, std::string expression,
                Opt name1 = {}) {
    return Row(attribute, order, std::move(name1), {}, std::move(expression), {});
}

TEST(AccessQueryRebuild, EachKindOfQueryReadsAsAccessWritesIt) {
    struct Case {
        const char* scenario;
        std::vector<QueryRow> rows;
        int type;
        bool returnsRecords;
        std::string sql;
    };
    const Case cases[] = {
        {"rows in any order, DISTINCTROW, TOP, descending order",
         {Clause(11, 2, "Products.ProductName"), Clause(11, 1, "Products.UnitPrice", "D"),
          Column(2, "Products.UnitPrice"), Column(1, "Products.ProductName", "Name"), Type(1),
          Flags(0x18, "10"), Table(1, "Products")},
         0,
         true,
         "SELECT DISTINCTROW TOP 10 Products.ProductName AS Name, Products.UnitPrice\r\n"
         "FROM Products\r\nORDER BY Products.UnitPrice DESC, Products.ProductName;\r\n"},
        {"no type row (as ACE writes a select), star, DISTINCT, TOP PERCENT",
         {Flags(0x33, "5"), Table(1, "Asset Items")},
         0,
         true,
         "SELECT DISTINCT TOP 5 PERCENT *\r\nFROM [Asset Items];\r\n"},
        {"parameters, joins nested as they were made, alias, WHERE, GROUP BY, HAVING",
         {Type(1), Row(2, 1, "Beginning Date", {}, {}, 8), Row(2, 2, "Least", {}, {}, 4),
          Table(1, "Employees"), Table(2, "Orders"), Table(3, "Order Subtotals", "S"),
          Column(1, "Employees.Country"), Column(2, "Sum(S.Subtotal)", "Total"),
          JoinRow(1, "Orders", "S", "Orders.OrderID = S.OrderID", 2),
          JoinRow(2, "Employees", "Orders", "Employees.EmployeeID = Orders.EmployeeID", 3),
          Clause(8, 1, "Orders.ShippedDate>[Beginning Date]"), Clause(9, 1, "Employees.Country"),
          Clause(10, 1, "Count(*)>[Least]"), Row(3, 1, {}, {}, {}, 0x04)},
         0,
         true,
         "PARAMETERS [Beginning Date] DateTime, Least Long;\r\n"
         "SELECT Employees.Country, Sum(S.Subtotal) AS Total\r\n"
         "FROM Employees RIGHT JOIN (Orders LEFT JOIN [Order Subtotals] AS S ON Orders.OrderID = "
         "S.OrderID) ON Employees.EmployeeID = Orders.EmployeeID\r\n"
         "WHERE Orders.ShippedDate>[Beginning Date]\r\nGROUP BY Employees.Country\r\n"
         "HAVING Count(*)>[Least]\r\nWITH OWNERACCESS OPTION;\r\n"},
        {"two conditions between the same tables, and a table outside the joins",
         {Type(1), Table(1, "A"), Table(2, "B"), Table(3, "C"), Column(1, "A.x"),
          JoinRow(1, "A", "B", "A.x = B.x", 1), JoinRow(2, "A", "B", "A.y = B.y", 1)},
         0,
         true,
         "SELECT A.x\r\nFROM A INNER JOIN B ON A.x = B.x AND (A.y = B.y), C;\r\n"},
        {"crosstab: value, row headings, pivot left out of GROUP BY",
         {Type(6), Table(1, "Orders"), Column(1, "Orders.CustomerID", {}, 2),
          Column(2, "Year([OrderDate])", "OrderYear", 1), Column(3, "Sum(Orders.Freight)", "F"),
          Row(9, 1, {}, {}, "Orders.CustomerID", 2), Row(9, 2, {}, {}, "Year([OrderDate])", 1)},
         16,
         true,
         "TRANSFORM Sum(Orders.Freight) AS F\r\nSELECT Orders.CustomerID\r\nFROM Orders\r\n"
         "GROUP BY Orders.CustomerID\r\nPIVOT Year([OrderDate]);\r\n"},
        {"union of distinct rows, with the parts' own line ends, sorted",
         {Type(9), Flags(0x03), Row(5, 1, {}, "X1", "SELECT City FROM A\r\n", {}),
          Row(5, 2, {}, "X2", "SELECT City FROM B", {}), Clause(11, 1, "City")},
         128,
         true,
         "SELECT City FROM A\r\nUNION SELECT City FROM B\r\nORDER BY City;\r\n"},
        {"union of all rows",
         {Type(9), Flags(0x01), Row(5, 1, {}, "X1", "SELECT 1", {}),
          Row(5, 2, {}, "X2", "SELECT 2", {})},
         128,
         true,
         "SELECT 1\r\nUNION ALL SELECT 2;\r\n"},
        {"make-table into another database",
         {Row(1, 1, "Old Orders", "C:\\archive.mdb", {}, 2), Table(1, "Orders"),
          Column(1, "Orders.*"), Clause(8, 1, "Orders.OrderDate<#1/1/95#")},
         80,
         false,
         "SELECT Orders.* INTO [Old Orders] IN 'C:\\archive.mdb'\r\nFROM Orders\r\n"
         "WHERE Orders.OrderDate<#1/1/95#;\r\n"},
        {"append with target columns",
         {Row(1, 1, "Archive", {}, {}, 3), Table(1, "Orders"),
          Row(6, 1, {}, "OrderID", "Orders.OrderID", 0),
          Row(6, 2, {}, "Order Day", "Orders.OrderDate", 0)},
         64,
         false,
         "INSERT INTO Archive ( OrderID, [Order Day] )\r\nSELECT Orders.OrderID, "
         "Orders.OrderDate\r\n"
         "FROM Orders;\r\n"},
        {"update of two columns",
         {Type(4), Table(1, "Products"), Row(6, 1, {}, "Products.UnitPrice", "[UnitPrice]*1.1", 0),
          Row(6, 2, {}, "Products.Discontinued", "No", 0), Clause(8, 1, "Products.ProductID=1")},
         48,
         false,
         "UPDATE Products SET Products.UnitPrice = [UnitPrice]*1.1, Products.Discontinued = No\r\n"
         "WHERE Products.ProductID=1;\r\n"},
        {"delete",
         {Type(5), Flags(0x08), Table(1, "Orders"), Column(1, "Orders.*"),
          Clause(8, 1, "Orders.ShipVia=3")},
         32,
         false,
         "DELETE DISTINCTROW Orders.*\r\nFROM Orders\r\nWHERE Orders.ShipVia=3;\r\n"},
        {"data definition: the statement as stored",
         {Row(1, 1, {}, {}, "CREATE TABLE T (A LONG)", 7)},
         96,
         false,
         "CREATE TABLE T (A LONG)"},
        {"pass-through", {Row(1, 1, {}, {}, "EXEC sp_who", 8)}, 112, true, "EXEC sp_who"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto q = RebuildQuery(c.rows);
        EXPECT_EQ(q.type, c.type);
        EXPECT_EQ(q.returnsRecords, c.returnsRecords);
        EXPECT_EQ(q.sql, c.sql);
    }
}

TEST(AccessQueryRebuild, FieldsAreNamedByAliasOrLastNamePartAndStarsAreLeftOut) {
    const auto q = RebuildQuery(
        {Type(1), Table(1, "Order Details", "D"), Table(2, "Products"), Column(1, "D.*"),
         Column(2, "[D].[UnitPrice]"), Column(3, "Products.ProductName", "Product"),
         Column(4, "[Quantity]*2"), Column(5, "[Cost]"), Column(6, "[Quantity]+1")});
    struct Expected {
        std::string name, sourceTable, sourceField;
    };
    const std::vector<Expected> expected = {{"UnitPrice", "Order Details", "UnitPrice"},
                                            {"Product", "Products", "ProductName"},
                                            {"Expr1000", "", ""},
                                            {"Cost", "", "Cost"},
                                            {"Expr1001", "", ""}};
    ASSERT_EQ(q.fields.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(q.fields[i].name, expected[i].name);
        EXPECT_EQ(q.fields[i].sourceTable, expected[i].sourceTable);
        EXPECT_EQ(q.fields[i].sourceField, expected[i].sourceField);
    }
    EXPECT_TRUE(RebuildQuery({Type(4), Table(1, "T"), Row(6, 1, {}, "T.a", "1", 0)}).fields.empty())
        << "an action query returns no fields";
}

class AccessQueries : public ::testing::Test {
  protected:
    void SetUp() override { KESMARK_REQUIRE_SHARED_TESTDATA(); }
};

Value PropertyOf(DbObject& object, std::string_view name) {
    return object.GetProperties().Item(name).GetValue();
}

TEST_F(AccessQueries, NorthwindShowsItsQueriesWithSqlFieldsAndParameters) {
    auto db = OpenDatabase(test::AccessFile("nwind.mdb").string(), "");
    auto queries = db->GetCollection("QueryDefs");
    EXPECT_EQ(queries->Count(), 22u);

    auto sales = queries->Item("Employee Sales by Country");
    EXPECT_EQ(PropertyOf(*sales, "Type"), Value(0));
    EXPECT_EQ(PropertyOf(*sales, "ReturnsRecords"), Value(true));
    EXPECT_TRUE(PropertyOf(*sales, "DateCreated").As<DateTime>());
    EXPECT_EQ(
        PropertyOf(*sales, "SQL"),
        Value("PARAMETERS [Beginning Date] DateTime, [Ending Date] DateTime;\r\n"
              "SELECT DISTINCTROW Employees.Country, Employees.LastName, "
              "Employees.FirstName, Orders.ShippedDate, Orders.OrderID, "
              "[Order Subtotals].Subtotal AS SaleAmount\r\n"
              "FROM Employees INNER JOIN (Orders INNER JOIN [Order Subtotals] ON "
              "Orders.OrderID = [Order Subtotals].OrderID) ON Employees.EmployeeID = "
              "Orders.EmployeeID\r\n"
              "WHERE (((Orders.ShippedDate) Between [Beginning Date] And [Ending Date]));\r\n"));
    auto parameters = sales->GetCollection("Parameters");
    ASSERT_EQ(parameters->Names(), (std::vector<std::string>{"Beginning Date", "Ending Date"}));
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(PropertyOf(*parameters->ItemAt(i), "Type"), Value(8));
    }
    EXPECT_EQ(sales->GetCollection("Fields")->Names(),
              (std::vector<std::string>{"Country", "LastName", "FirstName", "ShippedDate",
                                        "OrderID", "SaleAmount"}));
    auto amount = sales->GetCollection("Fields")->Item("SaleAmount");
    EXPECT_EQ(PropertyOf(*amount, "SourceTable"), Value("Order Subtotals"));
    EXPECT_EQ(PropertyOf(*amount, "SourceField"), Value("Subtotal"));

    struct Case {
        const char* query;
        int type;
        std::size_t fields;
        const char* sqlStart;
    };
    for (const auto& c : {Case{"Customers and Suppliers by City", 128, 0,
                               "SELECT City, CompanyName, ContactName, \"Customers\" AS "
                               "[Relationship] \r\nFROM Customers\r\nUNION SELECT"},
                          Case{"Quarterly Orders by Product", 16, 3, "TRANSFORM Sum("},
                          Case{"Ten Most Expensive Products", 0, 2,
                               "SELECT DISTINCTROW TOP 10 Products.ProductName AS "
                               "TenMostExpensiveProducts, Products.UnitPrice\r\nFROM Products\r\n"
                               "ORDER BY Products.UnitPrice DESC;"},
                          Case{"Current Product List", 0, 2,
                               "SELECT [Product List].ProductID, [Product List].ProductName\r\n"
                               "FROM Products AS [Product List]\r\nWHERE"}}) {
        SCOPED_TRACE(c.query);
        auto q = queries->Item(c.query);
        EXPECT_EQ(PropertyOf(*q, "Type"), Value(c.type));
        EXPECT_EQ(q->GetCollection("Fields")->Count(), c.fields);
        const auto sql = PropertyOf(*q, "SQL");
        ASSERT_TRUE(sql.As<std::string>());
        EXPECT_TRUE(sql.As<std::string>()->starts_with(c.sqlStart)) << *sql.As<std::string>();
    }
}

TEST_F(AccessQueries, TheOtherFilesShowTheirQueries) {
    auto db = OpenDatabase(test::AccessFile("ASampleDatabase.accdb").string(), "");
    auto queries = db->GetCollection("QueryDefs");
    const auto names = queries->Names();
    EXPECT_EQ(names.size(), 6u);
    auto summed = queries->Item("qryCostsSummedByOwner");
    EXPECT_EQ(PropertyOf(*summed, "SQL"),
              Value("SELECT [Asset Items].[Owner], [Asset Items].[Asset Category], "
                    "Sum([Asset Items].[Cost]) AS SumOfCost\r\nFROM [Asset Items]\r\n"
                    "GROUP BY [Asset Items].[Owner], [Asset Items].[Asset Category];\r\n"));
    EXPECT_EQ(summed->GetCollection("Fields")->Names(),
              (std::vector<std::string>{"Owner", "Asset Category", "SumOfCost"}));
}

}  // namespace
}  // namespace kesmark
