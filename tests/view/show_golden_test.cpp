// kesmark-diff --show end to end: SQLite pairs built by the test, the real
// program run, its listing compared.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "tests/support/test_support.h"

namespace kesmark {
namespace {

using nlohmann::json;

constexpr std::size_t kPiece = 64 << 10;  // kLongValuePiece

constexpr std::string_view kShop1 =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER REFERENCES Customers(ID),"
    "  Total REAL);"
    "CREATE INDEX OrdersByCustomer ON Orders(CustomerID);"
    "CREATE VIEW BigOrders AS SELECT ID, Total FROM Orders WHERE Total > 100;"
    "CREATE TRIGGER OrdersAudit AFTER INSERT ON Orders BEGIN SELECT 1; END;"
    "CREATE TABLE Blobs(ID INTEGER PRIMARY KEY, Data BLOB);"
    "INSERT INTO Blobs VALUES (1, X'07'), (2, X'000102030405060708090A'),"
    "  (3, X'000102030405060708090A0B');"
    "CREATE TABLE Notes(ID INTEGER PRIMARY KEY, Note TEXT);"
    "INSERT INTO Notes VALUES (1, NULL);";

// Database 2: no Customers, an Extra table, a twelve-byte value that differs
// only in its last byte, and a note where database 1 has Null.
constexpr std::string_view kShop2 =
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER REFERENCES Customers(ID),"
    "  Total REAL);"
    "CREATE INDEX OrdersByCustomer ON Orders(CustomerID);"
    "CREATE VIEW BigOrders AS SELECT ID, Total FROM Orders WHERE Total > 100;"
    "CREATE TRIGGER OrdersAudit AFTER INSERT ON Orders BEGIN SELECT 1; END;"
    "CREATE TABLE Blobs(ID INTEGER PRIMARY KEY, Data BLOB);"
    "INSERT INTO Blobs VALUES (1, X'07'), (2, X'000102030405060708090A'),"
    "  (3, X'000102030405060708090A0C');"
    "CREATE TABLE Notes(ID INTEGER PRIMARY KEY, Note TEXT);"
    "INSERT INTO Notes VALUES (1, 'x');"
    "CREATE TABLE Extra(ID INTEGER);";

class ShowTest : public ::testing::Test {
  protected:
    test::DiffResult Show(const std::string& key, bool asJson = false) {
        std::vector<std::string> args = {"--settings", settings_.string(), "--show", key};
        if (asJson) {
            args.push_back("--json");
        }
        args.insert(args.end(), {a_.string(), b_.string()});
        return test::RunDiff(args);
    }

    // The row named `name` of the key's listing, without its name; checks
    // that the listing showed no message.
    json RowOf(const std::string& key, const std::string& name) {
        const auto result = Show(key, true);
        const json doc = json::parse(result.out, nullptr, false);
        EXPECT_EQ(result.err, "") << key;
        for (const auto& row : doc.is_discarded() ? json::array() : doc["rows"]) {
            if (row["name"] == name) {
                json cells = row;
                cells.erase("name");
                return cells;
            }
        }
        return nullptr;
    }

    static json Row(std::string_view text1, std::string_view text2, int icon, int colour) {
        return json{{"text1", text1}, {"text2", text2}, {"icon", icon}, {"colour", colour}};
    }

    // The nodes of a run over the pair with "Data" on.
    json RunNodes() {
        const auto run =
            test::RunDiff({"--json", "--data", "--settings", settings_.string(), a_, b_});
        const json tree = json::parse(run.out, nullptr, false);
        EXPECT_FALSE(tree.is_discarded()) << run.out << run.err;
        return tree.is_discarded() ? json::array() : tree["nodes"];
    }

    test::TempDir dir_;
    std::filesystem::path settings_ = test::DefaultSettings(dir_.Path());
    std::filesystem::path a_ = test::MakeSqlite(dir_ / "a.db", kShop1);
    std::filesystem::path b_ = test::MakeSqlite(dir_ / "b.db", kShop2);
};

TEST_F(ShowTest, DatabasesKeyListsBothDatabasesSideBySide) {
    const auto same = Show("Databases");
    EXPECT_EQ(same.exitCode, 0) << same.err;
    EXPECT_EQ(same.err, "");
    EXPECT_EQ(same.out,
              "         Property           Database 1       Database 2\n"
              "same     ApplicationId      0                0\n"
              "same     AutoVacuum         NONE             NONE\n"
              "skipped  Connect            skipped          skipped\n"
              "same     Encoding           UTF-8            UTF-8\n"
              "skipped  FileChangeCounter  skipped          skipped\n"
              "skipped  FreelistCount      skipped          skipped\n"
              "same     JournalMode        rollback         rollback\n"
              "skipped  LastWriterVersion  skipped          skipped\n"
              "skipped  Name               skipped          skipped\n"
              "skipped  PageCount          skipped          skipped\n"
              "same     PageSize           4096             4096\n"
              "same     ReservedBytes      0                0\n"
              "same     SchemaFormat       4                4\n"
              "skipped  SchemaVersion      skipped          skipped\n"
              "same     Transactions       True             True\n"
              "same     Updatable          False            False\n"
              "same     UserVersion        0                0\n"
              "same     Version            SQLite format 3  SQLite format 3\n");

    test::MakeSqlite(b_, "PRAGMA user_version=2;");
    const auto changed = Show("Databases");
    EXPECT_EQ(changed.exitCode, 1);
    EXPECT_NE(changed.out.find("\ndiffers  UserVersion        0                2\n"),
              std::string::npos)
        << changed.out;
}

TEST_F(ShowTest, FailedListingGivesItsOneMessageAndNoRows) {
    const auto asJson = Show("databases", true);
    EXPECT_EQ(asJson.exitCode, 2);
    EXPECT_EQ(asJson.out,
              "{\n"
              "  \"key\": \"databases\",\n"
              "  \"rows\": [],\n"
              "  \"messages\": [\n"
              "    {\n"
              "      \"text\": \"Unkown collection 'databases'\",\n"
              "      \"caption\": \"Kesmark\"\n"
              "    }\n"
              "  ]\n"
              "}\n");

    const std::string notFound = "Item not found in this collection.";
    const std::pair<std::string, std::string> cases[] = {
        {"databases", "Unkown collection 'databases'"},
        {"Foo[Bar]", "Unkown collection 'Foo'"},
        {"tabledefs[Orders]", "Unkown collection 'tabledefs'"},
        {"TableDefs", notFound},
        {"TableDefs[Nowhere]", notFound},
        {"TableDefs[Orders].Columns[ID]", "Unkown collection 'Columns'"},
        {"TableDefs[Orders].Fields[ID].Extra[1]", "Unkown collection 'Extra'"},
        {"TableDefs[Orders].Indexes[OrdersByCustomer].Fields[CustomerID].Extra[1]",
         "Unkown collection 'Extra[1]'"},
        {"TableDefs[Blobs].Fields[Data].Records[x]",
         "Invalid record number 'x': records are numbered from 1."},
        {"TableDefs[Blobs].Fields[Data].Records[0]",
         "Invalid record number '0': records are numbered from 1."},
    };
    for (const auto& [key, message] : cases) {
        SCOPED_TRACE(key);
        const auto result = Show(key);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err, "Kesmark: " + message + "\n");
        EXPECT_EQ(result.out, "(listing stopped before its end)\n");
    }

    const auto missing = (dir_ / "missing.db").string();
    b_ = missing;
    const auto unopened = Show("Databases");
    EXPECT_EQ(unopened.exitCode, 2);
    EXPECT_EQ(unopened.err, "Kesmark: Unable to open database '" + missing +
                                "'\nDescription: Could not find file '" + missing +
                                "'.\nNumber: 3024\nSource: Kesmark\n");
    EXPECT_EQ(unopened.out, "(listing stopped before its end)\n");
}

TEST_F(ShowTest, EveryKindOfObjectListsItsTwoObjects) {
    // Relation and trigger names are the backend's: take them from the tree.
    std::pair<std::string, std::string> relationField;
    std::string triggerDocument;
    for (const auto& node : RunNodes()) {
        const auto key = node["key"].get<std::string>();
        if (key.starts_with("Relations[") && key.find("].Fields[") != std::string::npos) {
            relationField = {key, node["text"].get<std::string>()};
        }
        if (key.starts_with("Containers[") && node["text"] == "OrdersAudit") {
            triggerDocument = key;
        }
    }
    ASSERT_NE(relationField.first, "") << "no relation field in the tree";
    ASSERT_NE(triggerDocument, "") << "no trigger document in the tree";

    const std::pair<std::string, std::string> bothSides[] = {
        {"TableDefs[Orders]", "Orders"},
        {"TableDefs[Orders].Fields[Total]", "Total"},
        {"TableDefs[Orders]xFields[Total]", "Total"},
        {"TableDefs[Orders].Indexes[OrdersByCustomer].Fields[CustomerID]", "CustomerID"},
        {"QueryDefs[BigOrders].Fields[Total]", "Total"},
        relationField,
        {triggerDocument, "OrdersAudit"},
    };
    for (const auto& [key, name] : bothSides) {
        SCOPED_TRACE(key);
        EXPECT_EQ(RowOf(key, "Name"), Row(name, name, 7, 0));
    }
    EXPECT_EQ(RowOf("TableDefs[Extra]", "Name"), Row("not found", "Extra", 8, 255));
    // The table is missing from database 2: the table is listed, not its field.
    EXPECT_EQ(RowOf("TableDefs[Customers].Fields[ID]", "Name"),
              Row("Customers", "not found", 8, 255));
}

TEST_F(ShowTest, RecordKeysListTheValueOfThatRow) {
    const std::string eleven = "0 1 2 3 4 5 6 7 8 9 10";
    const std::pair<std::string, json> cases[] = {
        {"TableDefs[Blobs].Fields[Data].Records[1]", Row("7", "7", 7, 0)},
        {"TableDefs[Blobs].Fields[Data].Records[2]", Row(eleven, eleven, 7, 0)},
        {"TableDefs[Blobs].Fields[Data].Records[3]", Row(eleven + " ...", eleven + " ...", 8, 255)},
        {"TableDefs[Blobs].Fields[Data].Records[1]]ignored", Row("7", "7", 7, 0)},
        {"TableDefs[Notes].Fields[Note].Records[1]", Row("Null", "x", 8, 255)},
    };
    for (const auto& [key, value] : cases) {
        SCOPED_TRACE(key);
        EXPECT_EQ(RowOf(key, "Value"), value);
    }
    EXPECT_EQ(Show("TableDefs[Blobs].Fields[Data].Records[3]").exitCode, 1);
}

// Long values, read in pieces: the listing shows their size and their first
// bytes (a text its first piece and " ..."), and tells equal from different
// by every byte.
TEST_F(ShowTest, RecordsOfLongValuesListTheirSizeAndFirstBytes) {
    const std::string sql =
        "CREATE TABLE Long(ID INTEGER PRIMARY KEY, B BLOB, M TEXT);"
        "INSERT INTO Long VALUES (1, zeroblob(200000), printf('%.*c', 100000, 'a')),"
        "  (2, zeroblob(200000), 'Text ' || printf('%.*c', 100000, 'a')),"
        "  (3, CAST(printf('%.*c', 90000, 'x') AS TEXT), NULL);";
    const std::string changed =
        "CREATE TABLE Long(ID INTEGER PRIMARY KEY, B BLOB, M TEXT);"
        "INSERT INTO Long VALUES (1, CAST(zeroblob(199999) || x'01' AS BLOB),"
        "  printf('%.*c', 99999, 'a') || 'b'),"
        "  (2, zeroblob(200000), 'Text ' || printf('%.*c', 100000, 'a')),"
        "  (3, CAST(printf('%.*c', 90000, 'x') AS TEXT), NULL);";
    a_ = test::MakeSqlite(dir_ / "long1.db", sql).string();
    b_ = test::MakeSqlite(dir_ / "long2.db", changed).string();
    const std::string zeros = "0 0 0 0 0 0 0 0 0 0 0 ...";
    const std::string piece(kPiece, 'a');
    const std::string xs(kPiece, 'x');
    struct Case {
        const char* key;
        json size;
        json value;
    };
    const Case cases[] = {
        {"TableDefs[Long].Fields[B].Records[1]", Row("200000", "200000", 7, 0),
         Row(zeros, zeros, 8, 255)},
        {"TableDefs[Long].Fields[B].Records[2]", Row("200000", "200000", 7, 0),
         Row(zeros, zeros, 7, 0)},
        {"TableDefs[Long].Fields[M].Records[1]", Row("100000", "100000", 7, 0),
         Row(piece + " ...", piece + " ...", 8, 255)},
        {"TableDefs[Long].Fields[M].Records[2]", Row("100005", "100005", 7, 0),
         Row("Text " + piece.substr(5) + " ...", "Text " + piece.substr(5) + " ...", 7, 0)},
        // Text kept in a BLOB column lists as text.
        {"TableDefs[Long].Fields[B].Records[3]", Row("90000", "90000", 7, 0),
         Row(xs + " ...", xs + " ...", 7, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(RowOf(c.key, "Size"), c.size);
        EXPECT_EQ(RowOf(c.key, "Value"), c.value);
    }
    // A row lists its long values the same way, read in pieces.
    EXPECT_EQ(RowOf("TableDefs[Long].Rows[1]", "B"), Row(zeros, zeros, 8, 255));
    EXPECT_EQ(RowOf("TableDefs[Long].Rows[1]", "M"), Row(piece + " ...", piece + " ...", 8, 255));
    EXPECT_EQ(RowOf("TableDefs[Long].Rows[2]", "M"),
              Row("Text " + piece.substr(5) + " ...", "Text " + piece.substr(5) + " ...", 7, 0));
    EXPECT_EQ(RowOf("TableDefs[Long].Rows[3]", "M"), Row("Null", "Null", 7, 0));
}

TEST_F(ShowTest, ARecordInOneDatabaseOnlyListsAgainstNotFound) {
    // Records paired by position: the third record of a two-row table. (By
    // key a record number names a row of database 1 and the row of the same
    // key in database 2: below.)
    test::SetIni(settings_, "Data", "MatchRecords", "Position");
    test::MakeSqlite(a_, "INSERT INTO Notes VALUES (3, 'three');");
    test::MakeSqlite(b_, "INSERT INTO Notes VALUES (2, 'two'), (3, 'three'), (4, 'four');");
    EXPECT_EQ(RowOf("TableDefs[Notes].Fields[Note].Records[2]", "Value"),
              Row("three", "two", 8, 255));
    EXPECT_EQ(RowOf("TableDefs[Notes].Fields[Note].Records[3]", "Value"),
              Row("not found", "three", 8, 255));
    EXPECT_EQ(RowOf("TableDefs[Notes].Fields[Note].Records[3]", "Name"),
              Row("not found", "Note", 8, 255));
    EXPECT_EQ(Show("TableDefs[Notes].Fields[Note].Records[4]").exitCode, 1);

    const auto beyond = Show("TableDefs[Notes].Fields[Note].Records[5]");
    EXPECT_EQ(beyond.exitCode, 2);
    EXPECT_EQ(beyond.err, "Kesmark: Record 5 of table 'Notes' exists in neither database.\n");

    // By key, record 2 is database 1's second row (ID 3) against the row of
    // ID 3 in database 2; past database 1's rows, database 2's n-th row in
    // key order stands alone.
    test::SetIni(settings_, "Data", "MatchRecords", "Key");
    EXPECT_EQ(RowOf("TableDefs[Notes].Fields[Note].Records[2]", "Value"),
              Row("three", "three", 7, 0));
    EXPECT_EQ(RowOf("TableDefs[Notes].Fields[Note].Records[4]", "Value"),
              Row("not found", "four", 8, 255));
}

// Every node a run writes can be selected; a node marked same lists no
// difference (one marked differs may differ only below it).
TEST_F(ShowTest, EveryKeyOfARunResolves) {
    const json nodes = RunNodes();
    EXPECT_NE(nodes.dump().find("\"TableDefs[Blobs].Fields[Data].Records[3]\""), std::string::npos);
    for (const auto& node : nodes) {
        const auto key = node["key"].get<std::string>();
        SCOPED_TRACE(key);
        const auto result = Show(key);
        EXPECT_EQ(result.err, "");
        EXPECT_LE(result.exitCode, node["image"].get<int>() % 2 == 1 ? 0 : 1) << result.out;
    }
}

}  // namespace
}  // namespace kesmark
