#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/compare/matching.h"

namespace kesmark {
namespace {

TEST(SortNames, SortsAnyOrderIntoOrdinalOrder) {
    std::vector<std::string> names = {"b", "Orders", "ORDERS", "a", "Order", "_x", "\xC3\xA9", "Z"};
    SortNames(names, 0, static_cast<std::ptrdiff_t>(names.size()) - 1);
    const std::vector<std::string> expected = {"ORDERS", "Order", "Orders", "Z",
                                               "_x",     "a",     "b",      "\xC3\xA9"};
    EXPECT_EQ(names, expected);

    // A large shuffled list (above the 16-bit counters of old) sorts too.
    std::vector<std::string> many;
    for (int i = 0; i < 40000; ++i) {
        many.push_back("T" + std::to_string(i));
    }
    auto sorted = many;
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return CompareOrdinal(a, b) < 0; });
    std::shuffle(many.begin(), many.end(), std::mt19937(7));
    SortNames(many, 0, static_cast<std::ptrdiff_t>(many.size()) - 1);
    EXPECT_EQ(many, sorted);

    std::vector<std::string> empty;
    SortNames(empty, 0, -1);
    EXPECT_TRUE(empty.empty());
}

TEST(CompareItemNames, TellsWhichSideTheNextNameIsOn) {
    const std::vector<std::string> one = {"A", "C"};
    const std::vector<std::string> two = {"B", "C"};
    EXPECT_EQ(CompareItemNames(one, two, 0, 0), 1);   // A only in list 1
    EXPECT_EQ(CompareItemNames(one, two, 1, 0), -1);  // B only in list 2
    EXPECT_EQ(CompareItemNames(one, two, 1, 1), 0);   // C in both
    EXPECT_EQ(CompareItemNames(one, two, 2, 1), -1);  // list 1 exhausted
    EXPECT_EQ(CompareItemNames(one, two, 1, 2), 1);   // list 2 exhausted
}

TEST(SkipTest, MatchesExactNamesOnly) {
    const SkipList list = {"Name", "DateCreated"};
    EXPECT_TRUE(kesmark::IsSkipped(list, "Name"));
    EXPECT_FALSE(kesmark::IsSkipped(list, "name"));
    EXPECT_FALSE(kesmark::IsSkipped(list, "Names"));
    EXPECT_FALSE(kesmark::IsSkipped(SkipList{}, "Name"));
}

TEST(PropertyValuesEqual, ComparesBinaryByEveryByteAndOnlyEverClears) {
    bool equal = true;
    PropertyValuesEqual(Property("P", dao::kBinary, Value(Bytes{1, 2, 3})),
                        Property("P", dao::kBinary, Value(Bytes{1, 2, 3})), equal);
    EXPECT_TRUE(equal);
    PropertyValuesEqual(Property("P", dao::kBinary, Value(Bytes{1, 2, 3})),
                        Property("P", dao::kBinary, Value(Bytes{1, 2})), equal);
    EXPECT_FALSE(equal);
    // Never sets the flag back.
    PropertyValuesEqual(Property("P", dao::kLong, Value(1)), Property("P", dao::kLong, Value(1)),
                        equal);
    EXPECT_FALSE(equal);

    bool nullAgainstValue = true;
    PropertyValuesEqual(Property("P", dao::kText, Value()), Property("P", dao::kText, Value("x")),
                        nullAgainstValue);
    EXPECT_FALSE(nullAgainstValue);
    bool bothNull = true;
    PropertyValuesEqual(Property("P", dao::kText, Value()), Property("P", dao::kText, Value()),
                        bothNull);
    EXPECT_TRUE(bothNull);
}

TEST(PropertyValuesEqual, LetsAReadFailureReachTheCaller) {
    bool equal = true;
    const auto failing = Property::Failing("P", dao::kText, DbError(5, "cannot read", "test"));
    EXPECT_THROW(PropertyValuesEqual(failing, Property("P", dao::kText, Value("x")), equal),
                 DbError);
}

}  // namespace
}  // namespace kesmark
