// The order of keys, their text and the text read back, and the bounded
// sort and the key filter that back the default key order of a database.

#include <gtest/gtest.h>

#include <cmath>

#include "engine/model/key_order.h"
#include "engine/model/range_sql.h"
#include "engine/model/sorted_recordset.h"
#include "tests/support/memory_backend.h"

namespace kesmark {
namespace {

int Sign(int c) {
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

TEST(CompareKeyValues, OrdersKeysAsTheEnginesOrderThem) {
    struct Case {
        const char* scenario;
        Value a;
        Value b;
        int order;
    };
    const Case cases[] = {
        {"integer 5, real 5.0 and decimal 5 are one key", Value(5), Value(5.0), 0},
        {"integer and decimal", Value(5), Value(Decimal{"5.000"}), 0},
        {"decimal and real", Value(Decimal{"5"}), Value(5.0), 0},
        {"currency and integer", Value(Currency{50000}), Value(5), 0},
        {"integers by value, not by text", Value(9), Value(10), -1},
        {"negative before positive", Value(-1), Value(0), -1},
        {"decimals exactly beyond double precision", Value(Decimal{"12345678901234567890.1"}),
         Value(Decimal{"12345678901234567890.2"}), -1},
        {"a large integer against a nearby real", Value(std::int64_t{9007199254740993}),
         Value(9007199254740992.0), 1},
        {"negative decimals", Value(Decimal{"-2.5"}), Value(Decimal{"-2.25"}), -1},
        {"NaN after every other number", Value(std::nan("")), Value(1e308), 1},
        {"NaN is one key", Value(std::nan("")), Value(std::nan("")), 0},
        {"Null first", Value(), Value(-1e308), -1},
        {"numbers before texts", Value(99), Value("1"), -1},
        {"texts before byte arrays", Value("zzz"), Value(Bytes{0}), -1},
        {"texts by bytes: capitals first", Value("B"), Value("a"), -1},
        {"texts by bytes: a prefix first", Value("ab"), Value("abc"), -1},
        {"texts by code point, not by UTF-16 unit", Value("\xEF\xBC\xA1"),
         Value("\xF0\x9F\x98\x80"), -1},
        {"bytes as unsigned", Value(Bytes{0x7F}), Value(Bytes{0x80}), -1},
        {"equal texts", Value("k]1,2"), Value("k]1,2"), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(Sign(CompareKeyValues(c.a, c.b)), c.order);
        EXPECT_EQ(Sign(CompareKeyValues(c.b, c.a)), -c.order);
    }
    const std::vector<Value> k1{Value(1), Value("b")};
    const std::vector<Value> k2{Value(1.0), Value("c")};
    EXPECT_LT(CompareKeys(k1, k2), 0);
    EXPECT_EQ(CompareKeys(k1, k1), 0);
}

TEST(KeyValueText, ReadsBackAsTheSameKey) {
    struct Case {
        const char* scenario;
        Value value;
        int daoType;
        const char* text;
    };
    const Case cases[] = {
        {"an integer", Value(42), dao::kLong, "42"},
        {"a negative big integer", Value(std::int64_t{-9000000000}), dao::kBigInt, "-9000000000"},
        {"a real", Value(2.5), dao::kDouble, "2.5"},
        {"a whole real", Value(5.0), dao::kDouble, "5"},
        {"a decimal keeps its scale", Value(Decimal{"20.50"}), dao::kDecimal, "20.50"},
        {"a currency amount", Value(Currency{-12345}), dao::kCurrency, "-1.2345"},
        {"a date and time", Value(DateTime{45000.5}), dao::kDate, "2023-03-15 12:00:00"},
        {"a date before 1899-12-30", Value(DateTime{-1.25}), dao::kDate, "1899-12-29 06:00:00"},
        {"a time of day", Value(DateTime{0.75}), dao::kTime, "18:00:00"},
        {"a Boolean", Value(true), dao::kBoolean, "True"},
        {"bytes in hexadecimal", Value(Bytes{0x00, 0xAB}), dao::kBinary, "0x00ab"},
        {"a text with commas and brackets", Value("a, b]"), dao::kText, "a, b]"},
        {"a number in a text column stays text", Value("007"), dao::kMemo, "007"},
        {"an integer in a column without a type", Value(7), dao::kLongBinary, "7"},
        {"text in an integer column (SQLite)", Value("n/a"), dao::kLong, "n/a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(KeyValueText(c.value), c.text);
        const Value back = KeyValueFromText(c.text, c.daoType);
        EXPECT_EQ(CompareKeyValues(back, c.value), 0);
        EXPECT_EQ(back.IsText(), c.value.IsText());
    }
    DateTime date;
    EXPECT_FALSE(ParseDateTimeText("2023-3-15", date));
    EXPECT_FALSE(ParseDateTimeText("2023-13-01", date));
    EXPECT_FALSE(ParseDateTimeText("2023-01-01T10:00:00", date));
}

// A source of rows in a given order, as a backend without an order of its
// own delivers them.
struct Rows {
    MemoryServer server;
    MemoryDatabaseState* state = &server.Create("db");
    std::unique_ptr<Database> db;

    explicit Rows(std::vector<std::vector<Value>> rows) {
        state->AddTable("T", {"k", "v"});
        state->data["T"].rows = std::move(rows);
        db = server.Opener()("db", "");
    }
};

std::vector<std::string> ReadAll(Recordset& recordset) {
    std::vector<std::string> out;
    for (; !recordset.IsEof(); recordset.MoveNext()) {
        std::string row;
        for (std::size_t f = 0; f < recordset.FieldCount(); ++f) {
            row += (f ? "|" : "") + KeyValueText(recordset.Field(f).GetValue());
        }
        out.push_back(row);
    }
    return out;
}

TEST(SortRecordset, SortsInMemoryAndThroughTemporaryFilesAlike) {
    std::vector<std::vector<Value>> rows;
    std::vector<std::string> expected;
    for (int i = 0; i < 500; ++i) {
        const int k = (i * 7919) % 500;  // every key once, scattered
        rows.push_back({Value(k), Value("v" + std::to_string(k))});
    }
    for (int k = 0; k < 500; ++k) {
        expected.push_back(std::to_string(k) + "|v" + std::to_string(k));
    }
    for (const std::size_t runBytes : {kSortRunBytes, std::size_t{1000}, std::size_t{1}}) {
        SCOPED_TRACE(runBytes);
        Rows source(rows);
        auto sorted = SortRecordset(source.db->OpenRecordset("T", {"k", "v"}), {0}, 2, runBytes);
        EXPECT_EQ(sorted->Field(0).Name(), "k");
        EXPECT_EQ(ReadAll(*sorted), expected);
    }
}

TEST(SortRecordset, KeepsTheReadingOrderOfEqualKeysAndHidesColumnsOnlyUsedToSort) {
    Rows source({{Value(2), Value("first")},
                 {Value(1), Value("x")},
                 {Value(2.0), Value("second")},
                 {Value(Decimal{"2"}), Value("third")}});
    for (const std::size_t runBytes : {kSortRunBytes, std::size_t{1}}) {
        SCOPED_TRACE(runBytes);
        auto sorted = SortRecordset(source.db->OpenRecordset("T", {"v", "k"}), {1}, 1, runBytes);
        EXPECT_EQ(sorted->FieldCount(), 1u);
        EXPECT_EQ(ReadAll(*sorted), (std::vector<std::string>{"x", "first", "second", "third"}));
    }
}

TEST(DefaultKeyOrder, OrdersAndFindsRowsOfABackendWithoutAnOrder) {
    Rows source({{Value("b"), Value(2)}, {Value("B"), Value(3)}, {Value("a"), Value(1)}});
    auto ordered = source.db->OpenOrderedRecordset("T", {"v"}, {"k"});
    EXPECT_EQ(ReadAll(*ordered), (std::vector<std::string>{"3", "1", "2"}));
    auto one = source.db->OpenKeyedRecordset("T", {"v", "k"}, {"k"}, {Value("B")});
    EXPECT_EQ(ReadAll(*one), (std::vector<std::string>{"3|B"}));
    auto none = source.db->OpenKeyedRecordset("T", {"v"}, {"k"}, {Value("c")});
    EXPECT_TRUE(none->IsEof());

    // A date is found by its text, to the second, whatever the last bits of
    // its stored fraction.
    const double stored = 45000.0 + 37 / 86400.0 + 1e-10;
    Rows dates({{Value(DateTime{stored}), Value(1)}});
    const Value wanted = KeyValueFromText(KeyValueText(Value(DateTime{stored})), dao::kDate);
    EXPECT_NE(CompareKeyValues(wanted, Value(DateTime{stored})), 0);
    auto dated = dates.db->OpenKeyedRecordset("T", {"v"}, {"k"}, {wanted});
    EXPECT_EQ(ReadAll(*dated), (std::vector<std::string>{"1"}));
}

// Boundaries taken from a sample of keys: every n-th key of the sample,
// never one twice, and none from a sample too small to tell.
TEST(KeyBoundariesOfASample, CutTheSampleIntoEqualParts) {
    auto keys = [](std::initializer_list<int> values) {
        std::vector<std::vector<Value>> result;
        for (const int v : values) {
            result.push_back({Value(v)});
        }
        return result;
    };
    EXPECT_EQ(BoundariesOfSample(keys({1, 2, 3, 4, 5, 6, 7, 8}), 4), keys({2, 4, 6}));
    EXPECT_EQ(BoundariesOfSample(keys({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), 3), keys({3, 6}));
    // Integer 2 and real 2.0 are one key: it bounds one part only.
    std::vector<std::vector<Value>> repeated = keys({1, 2});
    repeated.push_back({Value(2.0)});
    repeated.push_back({Value(3)});
    EXPECT_EQ(BoundariesOfSample(repeated, 4), keys({1, 2}));
    EXPECT_TRUE(BoundariesOfSample(keys({1, 2, 3}), 4).empty());
    EXPECT_TRUE(BoundariesOfSample(keys({1, 2, 3}), 1).empty());

    EXPECT_EQ(BoundaryEvery(100, 32), 4);
    EXPECT_EQ(BoundaryEvery(96, 32), 3);
    EXPECT_EQ(BoundaryEvery(0, 32), 1);
    EXPECT_EQ(BoundaryEvery(10, 0), 10);
}

}  // namespace
}  // namespace kesmark
