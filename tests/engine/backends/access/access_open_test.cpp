// The Access backend through its reader process: the object model of the
// real files, the errors for files it cannot read, and the watchdog over a
// reader that misbehaves.

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>

#include "engine/backends/access/access_database.h"
#include "engine/backends/access/worker_client.h"
#include "engine/open_database.h"
#include "tests/engine/backends/access/access_fixtures.h"

namespace kesmark {
namespace {

Value PropertyOf(DbObject& object, std::string_view name) {
    return object.GetProperties().Item(name).GetValue();
}

std::unique_ptr<DbObject> Path(Database& db, std::initializer_list<std::string_view> steps) {
    std::unique_ptr<DbObject> current;
    DbObject* at = &db;
    auto it = steps.begin();
    while (it != steps.end()) {
        const auto collection = *it++;
        const auto name = *it++;
        current = at->GetCollection(collection)->Item(name);
        at = current.get();
    }
    return current;
}

std::vector<std::string> NamesOf(DbObject& object, std::string_view collection) {
    return object.GetCollection(collection)->Names();
}

class AccessOpen : public ::testing::Test {
  protected:
    void SetUp() override { KESMARK_REQUIRE_SHARED_TESTDATA(); }
    test::TempDir dir_;
};

TEST_F(AccessOpen, NorthwindShowsItsDatabaseTablesFieldsAndIndexes) {
    const auto path = test::AccessFile("nwind.mdb").string();
    auto db = OpenDatabase(path, "");
    EXPECT_EQ(PropertyOf(*db, "Name"), Value(path));
    EXPECT_EQ(PropertyOf(*db, "Version"), Value("3.0"));
    EXPECT_EQ(PropertyOf(*db, "CollatingOrder"), Value(1033));
    EXPECT_EQ(PropertyOf(*db, "CodePage"), Value(1252));
    EXPECT_EQ(PropertyOf(*db, "AccessVersion"), Value("07.53"));      // MSysDb
    EXPECT_EQ(PropertyOf(*db, "Title"), Value("Northwind Traders"));  // SummaryInfo
    EXPECT_EQ(PropertyOf(*db, "NWVersion"), Value("8.0"));            // UserDefined

    const auto tables = NamesOf(*db, "TableDefs");
    for (const char* user : {"Categories", "Customers", "Employees", "Order Details", "Orders",
                             "Products", "Shippers", "Suppliers", "Ums\xC3\xA4tze"}) {
        EXPECT_NE(std::find(tables.begin(), tables.end(), user), tables.end()) << user;
    }
    auto objects = Path(*db, {"TableDefs", "MSysObjects"});
    EXPECT_EQ(PropertyOf(*objects, "Attributes"), Value(-2147483646));  // dbSystemObject
    EXPECT_EQ(PropertyOf(*objects, "RecordCount"), Value(106));

    auto customers = Path(*db, {"TableDefs", "Customers"});
    EXPECT_EQ(PropertyOf(*customers, "Attributes"), Value(0));
    EXPECT_EQ(PropertyOf(*customers, "RecordCount"), Value(91));
    EXPECT_EQ(PropertyOf(*customers, "Description"),
              Value("Customers' names, addresses, and phone numbers."));
    EXPECT_EQ(NamesOf(*customers, "Fields").size(), 11u);

    struct FieldCase {
        const char* table;
        const char* field;
        const char* property;
        Value expected;
    };
    const FieldCase fields[] = {
        {"Customers", "CustomerID", "Type", Value(10)},
        {"Customers", "CustomerID", "Size", Value(5)},
        {"Customers", "CustomerID", "Attributes", Value(2)},  // dbVariableField
        {"Customers", "CustomerID", "OrdinalPosition", Value(0)},
        {"Customers", "CustomerID", "InputMask", Value(">LLLLL")},
        {"Customers", "CustomerID", "Caption", Value("Customer ID")},
        {"Customers", "CompanyName", "Required", Value(true)},
        {"Customers", "ContactName", "Required", Value(false)},
        {"Orders", "OrderID", "Attributes", Value(17)},  // dbFixedField + dbAutoIncrField
        {"Orders", "Freight", "Type", Value(5)},
        {"Orders", "Freight", "DefaultValue", Value("0")},
        {"Orders", "OrderDate", "Format", Value("Medium Date")},
        {"Employees", "BirthDate", "ValidationRule", Value("<Date()")},
        {"Employees", "BirthDate", "ValidationText", Value("Birth date can't be in the future.")},
        {"Employees", "Photo", "Type", Value(11)},
        {"Employees", "Notes", "Type", Value(12)},
        {"Products", "Discontinued", "Type", Value(1)},
        {"Order Details", "Discount", "ValidationRule", Value("Between 0 And 1")},
    };
    for (const auto& f : fields) {
        SCOPED_TRACE(std::string(f.table) + "." + f.field + "." + f.property);
        auto field = Path(*db, {"TableDefs", f.table, "Fields", f.field});
        EXPECT_EQ(PropertyOf(*field, f.property), f.expected);
    }
    const auto property = Path(*db, {"TableDefs", "Customers", "Fields", "CustomerID"})
                              ->GetProperties()
                              .Item("Caption");
    EXPECT_EQ(property.Type(), 12) << "a stored property keeps its stored DAO type";

    auto orders = Path(*db, {"TableDefs", "Orders"});
    EXPECT_EQ(NamesOf(*orders, "Indexes"),
              (std::vector<std::string>{"CustomerID", "CustomersOrders", "EmployeeID",
                                        "EmployeesOrders", "OrderDate", "PrimaryKey", "ShippedDate",
                                        "ShippersOrders", "ShipPostalCode"}))
        << "foreign keys of the many side are indexes; the one side's hidden ones are not";
    auto primary = Path(*db, {"TableDefs", "Orders", "Indexes", "PrimaryKey"});
    EXPECT_EQ(PropertyOf(*primary, "Primary"), Value(true));
    EXPECT_EQ(PropertyOf(*primary, "Unique"), Value(true));
    EXPECT_EQ(PropertyOf(*primary, "Required"), Value(true));
    EXPECT_EQ(PropertyOf(*primary, "Foreign"), Value(false));
    EXPECT_EQ(PropertyOf(*primary, "Fields"), Value("+OrderID"));
    auto foreign = Path(*db, {"TableDefs", "Orders", "Indexes", "CustomersOrders"});
    EXPECT_EQ(PropertyOf(*foreign, "Foreign"), Value(true));
    EXPECT_EQ(PropertyOf(*foreign, "Primary"), Value(false));
    EXPECT_EQ(NamesOf(*foreign, "Fields"), std::vector<std::string>{"CustomerID"});
    auto details = Path(*db, {"TableDefs", "Order Details", "Indexes", "PrimaryKey"});
    EXPECT_EQ(NamesOf(*details, "Fields"), (std::vector<std::string>{"OrderID", "ProductID"}));
    auto keyField =
        Path(*db, {"TableDefs", "Order Details", "Indexes", "PrimaryKey", "Fields", "ProductID"});
    EXPECT_EQ(PropertyOf(*keyField, "Attributes"), Value(0)) << "ascending";
    EXPECT_EQ(PropertyOf(*keyField, "Descending"), Value(false));
    EXPECT_EQ(PropertyOf(*keyField, "OrdinalPosition"), Value(1));
}

TEST_F(AccessOpen, NorthwindShowsItsRelationsAndContainers) {
    auto db = OpenDatabase(test::AccessFile("nwind.mdb").string(), "");
    EXPECT_EQ(NamesOf(*db, "Relations"),
              (std::vector<std::string>{"CategoriesProducts", "CustomersOrders", "EmployeesOrders",
                                        "OrdersOrder Details", "ProductsOrder Details",
                                        "ShippersOrders", "SuppliersProducts"}));
    auto relation = Path(*db, {"Relations", "CustomersOrders"});
    EXPECT_EQ(PropertyOf(*relation, "Table"), Value("Customers"));
    EXPECT_EQ(PropertyOf(*relation, "ForeignTable"), Value("Orders"));
    EXPECT_EQ(PropertyOf(*relation, "Attributes"), Value(256));  // dbRelationUpdateCascade
    EXPECT_EQ(PropertyOf(*Path(*db, {"Relations", "OrdersOrder Details"}), "Attributes"),
              Value(4096));  // dbRelationDeleteCascade
    auto pair = Path(*db, {"Relations", "ShippersOrders", "Fields", "ShipperID"});
    EXPECT_EQ(PropertyOf(*pair, "ForeignName"), Value("ShipVia"));

    EXPECT_EQ(NamesOf(*db, "Containers"),
              (std::vector<std::string>{"Tables", "Databases", "Relationships", "Forms", "Modules",
                                        "Reports", "Scripts", "SysRel", "DataAccessPages"}));
    // A form and a table may share a name: each lives in its own container.
    auto form = Path(*db, {"Containers", "Forms", "Documents", "Customers"});
    EXPECT_EQ(PropertyOf(*form, "Container"), Value("Forms"));
    EXPECT_NE(PropertyOf(*form, "Description").As<std::string>()->find("customer information"),
              std::string::npos);
    auto table = Path(*db, {"Containers", "Tables", "Documents", "Customers"});
    EXPECT_EQ(PropertyOf(*table, "Container"), Value("Tables"));
    EXPECT_EQ(PropertyOf(*table, "Owner"), Value("0x0301"));
    EXPECT_EQ(PropertyOf(*table, "Description"),
              Value("Customers' names, addresses, and phone numbers."));
    EXPECT_EQ(NamesOf(*Path(*db, {"Containers", "Databases"}), "Documents"),
              (std::vector<std::string>{"MSysDb", "AccessLayout", "SummaryInfo", "UserDefined"}));
    EXPECT_EQ(NamesOf(*Path(*db, {"Containers", "Forms"}), "Documents").size(), 21u);
}

TEST_F(AccessOpen, Jet4AndAceFilesShowTheirTablesInUnicode) {
    auto jet4 = OpenDatabase(test::AccessFile("DateTestDatabase.mdb").string(), "");
    EXPECT_EQ(PropertyOf(*jet4, "Version"), Value("4.0"));
    EXPECT_EQ(NamesOf(*Path(*jet4, {"TableDefs", "DateTest"}), "Fields"),
              (std::vector<std::string>{"IDCol", "DateTimeCol", "DateCol", "TimeCol", "LongTextCol",
                                        "ShortTextCol"}));
    auto shortText = Path(*jet4, {"TableDefs", "DateTest", "Fields", "ShortTextCol"});
    EXPECT_EQ(PropertyOf(*shortText, "Size"), Value(255)) << "characters, not bytes";
    EXPECT_EQ(PropertyOf(*shortText, "AllowZeroLength"), Value(true));
    EXPECT_EQ(PropertyOf(*Path(*jet4, {"TableDefs", "DateTest", "Fields", "DateCol"}), "Type"),
              Value(8));

    auto ace = OpenDatabase(test::AccessFile("ASampleDatabase.accdb").string(), "");
    EXPECT_EQ(PropertyOf(*ace, "Version"), Value("12.0"));
    EXPECT_EQ(PropertyOf(*ace, "Title"), Value("Rostrum Assets"));
    auto items = Path(*ace, {"TableDefs", "Asset Items"});
    EXPECT_EQ(PropertyOf(*items, "RecordCount"), Value(65));
    EXPECT_EQ(PropertyOf(*Path(*ace, {"TableDefs", "Asset Items", "Fields", "Cost"}), "Format"),
              Value("$#,##0.00;-$#,##0.00"));
    EXPECT_EQ(
        PropertyOf(*Path(*ace, {"TableDefs", "Asset Items", "Fields", "Asset No"}), "Description"),
        Value("Records the asset number"));
}

TEST_F(AccessOpen, TheSignatureDecidesNotTheExtension) {
    const auto bytes = test::ReadBytes(test::AccessFile("nwind.mdb"));
    for (const char* name : {"northwind.dat", "northwind.db", "northwind"}) {
        SCOPED_TRACE(name);
        test::WriteFile(dir_ / name, bytes);
        auto db = OpenDatabase((dir_ / name).string(), "");
        EXPECT_EQ(PropertyOf(*db, "Version"), Value("3.0"));
    }
}

TEST_F(AccessOpen, FilesItCannotReadGiveAClearErrorNamingTheFile) {
    const auto nwind = test::ReadBytes(test::AccessFile("nwind.mdb"));
    const auto ace = test::ReadBytes(test::AccessFile("ASampleDatabase.accdb"));
    const auto jet4 = test::ReadBytes(test::AccessFile("DateTestDatabase.mdb"));
    struct Case {
        const char* scenario;
        std::string bytes;
        std::size_t offset;
        std::string replacement;
        long number;
        const char* expected;
    };
    const Case cases[] = {
        {"a password-protected Jet 3 file", nwind, 0x42, "\x13", 3031, "protected by a password"},
        {"a password-protected Jet 4 file", jet4, 0x42, "\x13", 3031, "protected by a password"},
        {"an encrypted ACE file", ace, 0x3E, "\x13", 3031, "encrypted with a password"},
        {"a Jet 4 file whose page encoding cannot be undone", jet4, 0x3E, "\x13", 3031,
         "encrypted or damaged"},
        {"an unknown format version", nwind, 0x14, "\x09", 3343, "version 9"},
        {"a file of two pages", nwind.substr(0, 4096), 0, "", 3049, "too few"},
        {"a catalog that is not a table definition", nwind, 2 * 2048, "\x05", 3049,
         "The catalog (MSysObjects) cannot be read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        const auto path =
            test::WritePatched(dir_.Path(), "case.mdb", c.bytes, c.offset, c.replacement);
        try {
            OpenDatabase(path.string(), "");
            ADD_FAILURE() << "no error";
        } catch (const DbError& e) {
            EXPECT_EQ(e.Number(), c.number) << e.Description();
            EXPECT_NE(e.Description().find(c.expected), std::string::npos) << e.Description();
            EXPECT_NE(e.Description().find(path.string()), std::string::npos) << e.Description();
            EXPECT_EQ(e.Source(), "Access");
        }
    }
}

TEST_F(AccessOpen, UnknownTablesAndFieldsAreRefusedAndAClosedDatabaseRefusesReads) {
    auto db = OpenDatabase(test::AccessFile("nwind.mdb").string(), "");
    EXPECT_THROW(db->OpenRecordset("No such table", {"OrderID"}), DbError);
    EXPECT_THROW(db->OpenRecordset("Orders", {"No such field"}), DbError);
    EXPECT_EQ(db->RecordsetStatement("Order Details", {"Unit Price", "Discount"}),
              "SELECT [Unit Price], [Discount] FROM [Order Details]");
    db->Close();
    db->Close();
    EXPECT_THROW(db->GetProperties(), DbError);
}

// A reader built with AddressSanitizer reports a crash itself.
#if defined(__SANITIZE_ADDRESS__)
constexpr const char* kCrashWhy = "crashed (AddressSanitizer: SEGV";
#else
constexpr const char* kCrashWhy = "crashed (SIGSEGV)";
#endif

// The watchdog, proven with a reader asked to misbehave in every way the
// parent must survive.
class Watchdog : public ::testing::Test {
  protected:
    static access::Reply SelfTest(access::WorkerClient& reader, access::SelfTestMode mode) {
        access::Request request;
        request.kind = access::RequestKind::kSelfTest;
        request.mode = mode;
        return reader.Call(request, "the self test");
    }
    static bool Gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }
};

TEST_F(Watchdog, AReaderThatFailsBecomesAnErrorNamingFileWhatAndWhy) {
    using access::SelfTestMode;
    struct Case {
        const char* scenario;
        SelfTestMode mode;
        access::WorkerOptions options;
        const char* why;
    };
    access::WorkerOptions quick;
    quick.timeout = std::chrono::milliseconds(500);
    access::WorkerOptions patient;
    patient.timeout = std::chrono::milliseconds(60000);
    access::WorkerOptions frugalCpu = patient;
    frugalCpu.cpuSeconds = 1;
    access::WorkerOptions smallMemory = patient;
    smallMemory.memoryMegabytes = 256;
    const Case cases[] = {
        {"a reader that stops answering", SelfTestMode::kHang, quick,
         "timed out (no answer within 500 ms)"},
        {"a reader that spins", SelfTestMode::kSpin, frugalCpu,
         "used up its processor time (limit 1 seconds per request)"},
        {"a reader that crashes", SelfTestMode::kCrash, patient, kCrashWhy},
        {"a reader that runs out of memory", SelfTestMode::kExhaustMemory, smallMemory,
         "ran out of memory (limit 256 MB)"},
        {"a reader whose library runs out of memory", SelfTestMode::kExhaustLibraryMemory,
         smallMemory, "ran out of memory (limit 256 MB)"},
        {"a reader that writes a file", SelfTestMode::kWriteFile, patient,
         "tried to write to a file"},
        {"a reader that answers garbage", SelfTestMode::kMalformedReply, patient,
         "sent a malformed answer"},
        {"a reader that announces a huge answer", SelfTestMode::kOversizedReply, patient,
         "announced an answer of 67108865 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        access::WorkerClient reader("some.mdb", c.options);
        const pid_t pid = reader.Pid();
        try {
            const auto reply = SelfTest(reader, c.mode);
            if (reply.kind == access::ReplyKind::kError &&
                reply.error.description.find("sanitizer") != std::string::npos) {
                continue;  // no address-space limit under a sanitizer
            }
            ADD_FAILURE() << "no error";
        } catch (const DbError& e) {
            EXPECT_EQ(e.Number(), errors::kDamaged);
            EXPECT_EQ(e.Source(), "Access");
            EXPECT_NE(e.Description().find("Reading the self test of 'some.mdb' failed: the "
                                           "Access reader "),
                      std::string::npos)
                << e.Description();
            EXPECT_NE(e.Description().find(c.why), std::string::npos) << e.Description();
            // The reader is gone, reaped, and every later request gets the same error.
            EXPECT_TRUE(Gone(pid));
            access::Request read;
            read.kind = access::RequestKind::kReadSchema;
            try {
                reader.Call(read, "the schema");
                ADD_FAILURE() << "a failed reader answered";
            } catch (const DbError& again) {
                EXPECT_EQ(again.Description(), e.Description());
            }
        }
    }
}

TEST_F(Watchdog, WhatTheLibraryPrintsNeverReachesTheProtocol) {
    access::WorkerClient reader("some.mdb", {});
    const auto reply = SelfTest(reader, access::SelfTestMode::kNoiseOnStdout);
    EXPECT_EQ(reply.kind, access::ReplyKind::kOk);
    EXPECT_EQ(reply.text, "quiet");
    access::Request read;
    read.kind = access::RequestKind::kReadSchema;
    EXPECT_EQ(reader.Call(read, "the schema").error.description, "No file is open.");
    const pid_t pid = reader.Pid();
    reader.Close();
    EXPECT_TRUE(Gone(pid));
}

TEST_F(Watchdog, AMissingReaderProgramIsAClearError) {
    access::WorkerOptions options;
    options.program = "/nonexistent/kesmark-mdb-worker";
    try {
        access::WorkerClient reader("some.mdb", options);
        ADD_FAILURE() << "no error";
    } catch (const DbError& e) {
        EXPECT_NE(e.Description().find("'/nonexistent/kesmark-mdb-worker' cannot be started"),
                  std::string::npos)
            << e.Description();
    }
}

}  // namespace
}  // namespace kesmark
