#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "engine/open_database.h"
#include "tests/support/test_support.h"

namespace kesmark {
namespace {

Value DatabaseProperty(Database& db, std::string_view name) {
    return db.GetProperties().Item(name).GetValue();
}

TEST(SqliteOpen, ReadsTheDatabasePropertiesWithoutTouchingTheFile) {
    test::TempDir dir;
    const auto path = test::MakeSqlite(dir / "shop.db",
                                       "PRAGMA page_size=8192; PRAGMA user_version=42;"
                                       "PRAGMA application_id=1234; CREATE TABLE t(x);");
    const std::string before = test::ReadFile(path);
    {
        auto db = OpenDatabase(path.string(), "");
        EXPECT_EQ(DatabaseProperty(*db, "UserVersion"), Value(42));
        EXPECT_EQ(DatabaseProperty(*db, "ApplicationId"), Value(1234));
        EXPECT_EQ(DatabaseProperty(*db, "PageSize"), Value(8192));
        EXPECT_EQ(DatabaseProperty(*db, "Encoding"), Value("UTF-8"));
        EXPECT_EQ(DatabaseProperty(*db, "Name"), Value(path.string()));
        EXPECT_EQ(DatabaseProperty(*db, "Updatable"), Value(false));
        db->Close();
        EXPECT_THROW(db->GetProperties(), DbError);
    }
    EXPECT_EQ(test::ReadFile(path), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(SqliteOpen, SeesRowsCommittedOnlyToTheWriteAheadLog) {
    test::TempDir dir;
    const auto path = dir / "wal.db";
    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                           "CREATE TABLE t(x); PRAGMA user_version=7;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    ASSERT_TRUE(std::filesystem::exists(path.string() + "-wal"));
    const std::string mainBefore = test::ReadFile(path);
    const std::string walBefore = test::ReadFile(path.string() + "-wal");
    {
        auto db = OpenDatabase(path.string(), "");
        EXPECT_EQ(DatabaseProperty(*db, "UserVersion"), Value(7));
        EXPECT_EQ(DatabaseProperty(*db, "JournalMode"), Value("WAL"));
    }
    EXPECT_EQ(test::ReadFile(path), mainBefore);
    EXPECT_EQ(test::ReadFile(path.string() + "-wal"), walBefore);
    sqlite3_close(writer);
}

TEST(SqliteOpen, NeverWritesEvenWhenTheFileIsWritable) {
    test::TempDir dir;
    const auto path =
        test::MakeSqlite(dir / "rw.db", "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
    auto db = OpenDatabase(path.string(), "");
    auto rs = db->OpenRecordset("t", {"x"});
    EXPECT_FALSE(rs->IsEof());
    EXPECT_EQ(rs->Field(0).GetValue(), Value(1));
    rs->MoveNext();
    EXPECT_TRUE(rs->IsEof());
    EXPECT_THROW(rs->Field(0).GetValue(), DbError);
}

TEST(OpenDatabase, BadInputsGiveClearErrorsNamingTheFile) {
    test::TempDir dir;
    test::WriteFile(dir / "empty.db", "");
    ASSERT_EQ(::mkfifo((dir / "pipe.db").c_str(), 0600), 0);
    test::WriteFile(dir / "text.db", "just some text, no database here\n");
    test::WriteFile(dir / "broken.db",
                    std::string("SQLite format 3\0", 16) + std::string(200, 'x'));
    struct Case {
        const char* scenario;
        std::string name;
        std::string connect;
        std::string expected;  // a part of the description
    };
    const Case cases[] = {
        {"missing file", (dir / "nope.db").string(), "", "Could not find file"},
        {"a folder", dir.Path().string(), "", "is a folder"},
        {"a named pipe", (dir / "pipe.db").string(), "", "not a regular file"},
        {"an empty file", (dir / "empty.db").string(), "", "is empty"},
        {"an unknown file", (dir / "text.db").string(), "", "Unrecognized database format"},
        {"a damaged SQLite file", (dir / "broken.db").string(), "", "not a database"},
        {"no name at all", "", "", "No database file"},
        {"a connect string without ODBC;", "x.db", "DSN=x;PWD=secret", "does not begin with"},
    };
    for (const auto& c : cases) {
        try {
            OpenDatabase(c.name, c.connect);
            ADD_FAILURE() << c.scenario << ": opened";
        } catch (const DbError& e) {
            EXPECT_NE(e.Description().find(c.expected), std::string::npos)
                << c.scenario << ": " << e.Description();
            EXPECT_EQ(e.Description().find("secret"), std::string::npos) << c.scenario;
            if (!c.name.empty() && c.name != "x.db") {
                EXPECT_NE(e.Description().find(c.name), std::string::npos) << c.scenario;
            }
        }
    }
}

TEST(MaskPasswords, HidesEveryPasswordValue) {
    EXPECT_EQ(MaskPasswords("ODBC;DSN=shop;UID=me;PWD=secret;"), "ODBC;DSN=shop;UID=me;PWD=***;");
    EXPECT_EQ(MaskPasswords("ODBC;Driver=x;pwd=a=b"), "ODBC;Driver=x;pwd=***");
    EXPECT_EQ(MaskPasswords("ODBC;Password=p;Server=s"), "ODBC;Password=***;Server=s");
    EXPECT_EQ(MaskPasswords("plain.db"), "plain.db");
}

}  // namespace
}  // namespace kesmark
