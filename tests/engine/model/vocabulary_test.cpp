// The vocabulary's tables: the same declared meaning reads alike whichever
// engine declared it.

#include "engine/model/vocabulary.h"

#include <gtest/gtest.h>

#include "engine/model/dao.h"

namespace kesmark {
namespace {

TEST(DaoTypeFromDeclaredType, FollowsTheAffinityRulesRefinedByName) {
    struct Case {
        const char* declared;
        int type;
        int size;
    };
    const Case cases[] = {
        {"INTEGER", dao::kLong, 4},
        {"int", dao::kLong, 4},
        {"UNSIGNED BIG INT", dao::kBigInt, 8},
        {"INT8", dao::kBigInt, 8},
        {"SMALLINT", dao::kInteger, 2},
        {"TINYINT", dao::kByte, 1},
        {"MEDIUMINT", dao::kLong, 4},
        {"POINT", dao::kLong, 4},  // contains INT: integer affinity, as in SQLite
        {"VARCHAR(50)", dao::kText, 50},
        {"NVARCHAR( 20 )", dao::kText, 20},
        {"CHARACTER", dao::kText, 0},
        {"TEXT", dao::kMemo, 0},
        {"LongText", dao::kMemo, 0},
        {"TEXT(20)", dao::kText, 20},
        {"CLOB", dao::kMemo, 0},
        {"", dao::kLongBinary, 0},
        {"BLOB", dao::kLongBinary, 0},
        {"REAL", dao::kDouble, 8},
        {"DOUBLE PRECISION", dao::kDouble, 8},
        {"FLOAT", dao::kDouble, 8},
        {"BOOLEAN", dao::kBoolean, 1},
        {"BIT", dao::kBoolean, 1},
        {"DATETIME", dao::kTimeStamp, 8},
        {"TIMESTAMP", dao::kTimeStamp, 8},
        {"DATE", dao::kDate, 8},
        {"TIME", dao::kTime, 8},
        {"MONEY", dao::kCurrency, 8},
        {"VARBINARY(16)", dao::kVarBinary, 16},
        {"BINARY(8)", dao::kBinary, 8},
        {"UUID", dao::kGuid, 16},
        {"UNIQUEIDENTIFIER", dao::kGuid, 16},
        {"SINGLE", dao::kSingle, 4},
        {"MEMO", dao::kMemo, 0},
        {"IMAGE", dao::kLongBinary, 0},
        {"NUMERIC", dao::kDecimal, 16},
        {"DECIMAL(10,2)", dao::kDecimal, 16},
        {"NUMBER", dao::kDecimal, 16},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vocabulary::DaoTypeFromDeclaredType(c.declared), c.type) << c.declared;
        EXPECT_EQ(vocabulary::DaoSizeFromDeclaredType(c.declared, c.type), c.size) << c.declared;
    }
}

TEST(DaoTypeFromSqlType, GivesOneCodePerMeaning) {
    struct Case {
        const char* scenario;
        int sqlType;
        int daoType;
    };
    const Case cases[] = {
        {"NUMERIC is the exact number DECIMAL is", 2, dao::kDecimal},
        {"DECIMAL", 3, dao::kDecimal},
        {"CHAR reads as text, as a declared CHAR(n) in SQLite", 1, dao::kText},
        {"WCHAR", -8, dao::kText},
        {"VARCHAR", 12, dao::kText},
        {"WLONGVARCHAR", -10, dao::kMemo},
        {"BIT", -7, dao::kBoolean},
        {"BIGINT", -5, dao::kBigInt},
        {"REAL is a single", 7, dao::kSingle},
        {"FLOAT is a double", 6, dao::kDouble},
        {"TYPE_TIMESTAMP", 93, dao::kTimeStamp},
        {"TYPE_DATE", 91, dao::kDate},
        {"GUID", -11, dao::kGuid},
        {"an interval has no DAO code: text", 101, dao::kText},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vocabulary::DaoTypeFromSqlType(c.sqlType), c.daoType) << c.scenario;
    }
    EXPECT_EQ(vocabulary::DaoTypeFromPostgresType("bool"), dao::kBoolean);
    EXPECT_EQ(vocabulary::DaoTypeFromPostgresType("money"), dao::kCurrency);
    EXPECT_EQ(vocabulary::DaoTypeFromPostgresType("int4"), std::nullopt);
    EXPECT_EQ(vocabulary::DaoSize(dao::kDecimal, 10), 16);
    EXPECT_EQ(vocabulary::DaoSize(dao::kText, 60), 60);
    EXPECT_EQ(vocabulary::DaoSize(dao::kMemo, 8190), 0);
}

TEST(CanonicalTableType, SpellsEveryTableTypeInLowerCase) {
    EXPECT_EQ(vocabulary::CanonicalTableType("TABLE"), "table");
    EXPECT_EQ(vocabulary::CanonicalTableType("BASE TABLE"), "table");
    EXPECT_EQ(vocabulary::CanonicalTableType("SYSTEM TABLE"), "system table");
    EXPECT_EQ(vocabulary::CanonicalTableType("table"), "table");
    EXPECT_EQ(vocabulary::CanonicalTableType("FOREIGN TABLE"), "foreign table");
}

TEST(CanonicalDefault, SpellsEachEnginesDefaultAlike) {
    struct Case {
        const char* scenario;
        const char* expression;
        int type;
        const char* canonical;
    };
    const Case cases[] = {
        {"no default", "", dao::kText, ""},
        {"SQLite's NULL", "NULL", dao::kText, ""},
        {"PostgreSQL's NULL with its cast", "NULL::character varying", dao::kText, ""},
        {"a string with PostgreSQL's cast", "'USA'::character varying", dao::kText, "'USA'"},
        {"a string as SQLite keeps it", "'USA'", dao::kText, "'USA'"},
        {"Access's double-quoted string", "\"USA\"", dao::kText, "'USA'"},
        {"Access's string holding quotes", "\"it's \"\"x\"\"\"", dao::kText, "'it''s \"x\"'"},
        {"a cast inside the string stays", "'a::b'::text", dao::kText, "'a::b'"},
        {"a negative number PostgreSQL quotes", "'-1'::integer", dao::kLong, "-1"},
        {"a quoted number of a text column stays quoted", "'-1'::text", dao::kText, "'-1'"},
        {"a number in parentheses", "(0)", dao::kLong, "0"},
        {"a decimal with its cast", "(0.00)::numeric", dao::kDecimal, "0.00"},
        {"a number as written", "1", dao::kLong, "1"},
        {"PostgreSQL's false", "false", dao::kBoolean, "0"},
        {"PostgreSQL's true", "true", dao::kBoolean, "1"},
        {"Access's =No", "=No", dao::kBoolean, "0"},
        {"Access's Yes", "Yes", dao::kBoolean, "1"},
        {"Access's True as -1", "-1", dao::kBoolean, "1"},
        {"SQLite's 0 for a Boolean", "0", dao::kBoolean, "0"},
        {"Access's Now()", "Now()", dao::kTimeStamp, "CURRENT_TIMESTAMP"},
        {"PostgreSQL's now()", "now()", dao::kTimeStamp, "CURRENT_TIMESTAMP"},
        {"SQLite's datetime('now')", "datetime( 'now' )", dao::kTimeStamp, "CURRENT_TIMESTAMP"},
        {"Access's =Date()", "=Date()", dao::kDate, "CURRENT_DATE"},
        {"the standard's current_date", "current_date", dao::kDate, "CURRENT_DATE"},
        {"an expression stays as written", "(price * 2)", dao::kDouble, "price * 2"},
        {"a function call is not in parentheses", "(a) + (b)", dao::kLong, "(a) + (b)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vocabulary::CanonicalDefault(c.expression, c.type), c.canonical) << c.scenario;
    }
    EXPECT_TRUE(vocabulary::IsNumberingDefault("nextval('orders_id_seq'::regclass)"));
    EXPECT_FALSE(vocabulary::IsNumberingDefault("0"));
}

TEST(IsGeneratedIndexName, KnowsTheNamesEnginesGive) {
    for (const char* name :
         {"sqlite_autoindex_Customer_1", "sqlite_rowid", "Album_pkey", "Customer_Email_key"}) {
        EXPECT_TRUE(vocabulary::IsGeneratedIndexName(name)) << name;
    }
    for (const char* name : {"PK_Album", "IFK_AlbumArtistId", "PrimaryKey", "_key", "keys"}) {
        EXPECT_FALSE(vocabulary::IsGeneratedIndexName(name)) << name;
    }
}

TEST(IsNameProperty, NamesThePropertiesHoldingNames) {
    for (const char* name : {"Name", "Table", "ForeignTable", "ForeignName", "SourceTable"}) {
        EXPECT_TRUE(vocabulary::IsNameProperty(name)) << name;
    }
    for (const char* name : {"SQL", "DefaultValue", "name"}) {
        EXPECT_FALSE(vocabulary::IsNameProperty(name)) << name;
    }
}

}  // namespace
}  // namespace kesmark
