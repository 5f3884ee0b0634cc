#include <gtest/gtest.h>

#include <cmath>

#include "engine/model/db_error.h"
#include "engine/model/value.h"

namespace kesmark {
namespace {

TEST(CompareOrdinal, SortsByUtf16CodeUnitsCaseSensitive) {
    EXPECT_LT(CompareOrdinal("ORDERS", "Orders"), 0);  // capitals before small letters
    EXPECT_LT(CompareOrdinal("Order", "Orders"), 0);   // a prefix first
    EXPECT_EQ(CompareOrdinal("Orders", "Orders"), 0);
    EXPECT_GT(CompareOrdinal("b", "B"), 0);
    // U+FF21 (one unit, 0xFF21) sorts after U+1F600 (surrogates 0xD83D ...)
    // by UTF-16 units, although its code point is smaller.
    EXPECT_GT(CompareOrdinal("\xEF\xBC\xA1", "\xF0\x9F\x98\x80"), 0);
    EXPECT_LT(CompareOrdinal("z", "\xC3\xA9"), 0);  // 'z' (0x7A) before U+00E9
}

TEST(VariantEqual, FollowsTheVariantRules) {
    struct Case {
        const char* scenario;
        Value a;
        Value b;
        bool equal;
    };
    const Case cases[] = {
        {"integers by value", Value(5), Value(5), true},
        {"integer against equal double", Value(5), Value(5.0), true},
        {"integer against different double", Value(5), Value(5.5), false},
        {"texts are case-sensitive", Value("abc"), Value("ABC"), false},
        {"equal texts", Value("abc"), Value("abc"), true},
        {"number against numeric text differs", Value(5), Value("5"), false},
        {"Null against Null is equal", Value(), Value(), true},
        {"Null against a value differs", Value(), Value(0), false},
        {"Null against empty text differs", Value(), Value(""), false},
        {"True is -1", Value(true), Value(-1), true},
        {"currency against double", Value(Currency{125000}), Value(12.5), true},
        {"decimals compare by value", Value(Decimal{"12.50"}), Value(Decimal{"012.5"}), true},
        {"different decimals", Value(Decimal{"12.51"}), Value(Decimal{"12.5"}), false},
        {"dates by serial", Value(DateTime{45000.5}), Value(DateTime{45000.5}), true},
        {"byte arrays by content", Value(Bytes{1, 2}), Value(Bytes{1, 2}), true},
        {"byte arrays of other length", Value(Bytes{1, 2}), Value(Bytes{1, 2, 0}), false},
        {"large integers stay exact", Value(9007199254740993LL), Value(9007199254740992LL), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VariantEqual(c.a, c.b), c.equal) << c.scenario;
        EXPECT_EQ(VariantEqual(c.b, c.a), c.equal) << c.scenario << " (swapped)";
    }
}

TEST(ValuesEqualByMeaning, EqualsWhatTwoEnginesStoreForOneValue) {
    struct Case {
        const char* scenario;
        Value a;
        Value b;
        bool equal;
    };
    const Case cases[] = {
        {"a decimal and the real nearest to it", Value(Decimal{"1.98"}), Value(1.98), true},
        {"a decimal and a real one step away", Value(Decimal{"1.98"}),
         Value(std::nextafter(1.98, 2.0)), false},
        {"a decimal with trailing zeros and its real", Value(Decimal{"0.10"}), Value(0.1), true},
        {"currency and its real", Value(Currency{125000}), Value(12.5), true},
        {"an integer and a decimal without fraction", Value(2), Value(Decimal{"2.00"}), true},
        {"an integer and a decimal with a fraction", Value(2), Value(Decimal{"2.01"}), false},
        {"large integers stay exact against decimals", Value(9007199254740993LL),
         Value(Decimal{"9007199254740992"}), false},
        {"currency and a decimal", Value(Currency{9900}), Value(Decimal{"0.99"}), true},
        {"True and 1", Value(true), Value(1), true},
        {"False and 0", Value(false), Value(0), true},
        {"True and -1 differ", Value(true), Value(-1), false},
        {"True and 0 differ", Value(true), Value(0), false},
        {"True and the decimal 1", Value(true), Value(Decimal{"1.0"}), true},
        {"a date and its midnight text", Value(DateTime{23060}), Value("1963-02-18 00:00:00"),
         true},
        {"a date and its date text", Value(DateTime{23060}), Value("1963-02-18"), true},
        {"a date and another day", Value(DateTime{23060}), Value("1963-02-19"), false},
        {"a date and a time of that day", Value(DateTime{23060}), Value("1963-02-18 00:00:01"),
         false},
        {"a date and time with T and milliseconds", Value(DateTime{45000.5}),
         Value("2023-03-15T12:00:00.000"), true},
        {"a date and time to the minute", Value(DateTime{45000.5}), Value("2023-03-15 12:00"),
         true},
        {"a time of day 0 and its text", Value(DateTime{0.25}), Value("06:00:00"), true},
        {"a date before day 0 counts its time forwards", Value(DateTime{-1.25}),
         Value("1899-12-29 06:00:00"), true},
        {"a time zone is not read", Value(DateTime{45000.5}), Value("2023-03-15 12:00:00Z"), false},
        {"no 30th of February", Value(DateTime{45000}), Value("2023-02-30"), false},
        {"a date against a number", Value(DateTime{45000}), Value(45000), false},
        {"texts stay byte-exact", Value("abc"), Value("ABC"), false},
        {"a text against a number", Value("1"), Value(1), false},
        {"Null on both sides", Value(), Value(), true},
        {"Null and empty text", Value(), Value(""), false},
        {"bytes by content", Value(Bytes{1, 2}), Value(Bytes{1, 2}), true},
        {"reals by value", Value(0.1), Value(0.1), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ValuesEqualByMeaning(c.a, c.b), c.equal) << c.scenario;
        EXPECT_EQ(ValuesEqualByMeaning(c.b, c.a), c.equal) << c.scenario << " (swapped)";
    }
}

TEST(PlainText, ConvertsEachKindOfValue) {
    EXPECT_EQ(PlainText(Value(true)), "True");
    EXPECT_EQ(PlainText(Value(false)), "False");
    EXPECT_EQ(PlainText(Value(-42)), "-42");
    EXPECT_EQ(PlainText(Value(0.1)), "0.1");
    EXPECT_EQ(PlainText(Value(Currency{-125000})), "-12.5");
    EXPECT_EQ(PlainText(Value(DateTime{45000.5})), "2023-03-15 12:00:00");
    EXPECT_EQ(PlainText(Value(DateTime{45000})), "2023-03-15");
    EXPECT_EQ(PlainText(Value(DateTime{0.25})), "06:00:00");
    EXPECT_EQ(PlainText(Value(DateTime{-1.5})), "1899-12-29 12:00:00");
    // Byte arrays read as UTF-16LE text.
    EXPECT_EQ(PlainText(Value(Bytes{'H', 0, 'i', 0})), "Hi");
    EXPECT_EQ(PlainText(Value(Bytes{0xE9, 0x00})), "\xC3\xA9");
    try {
        PlainText(Value());
        FAIL() << "Null has no text";
    } catch (const DbError& e) {
        EXPECT_EQ(e.Number(), errors::kInvalidUseOfNull);
        EXPECT_EQ(e.Description(), "Invalid use of Null");
    }
}

}  // namespace
}  // namespace kesmark
