// The difference pane on its own: what each side shows, which lines are
// shaded and which characters marked, the summary, and copying; and the
// pictures it and the tree draw on.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPushButton>

#include "ui/diff_pane.h"
#include "ui/image_list.h"

namespace kesmark::ui {
namespace {

using Marks = std::vector<std::pair<int, int>>;

PropertyRow Pair(const char* name, std::optional<Value> value1, std::optional<Value> value2,
                 std::string text1 = "", std::string text2 = "") {
    return PropertyRow{name, std::move(text1),  std::move(text2), Picture::PropertyDiffers,
                       255,  std::move(value1), std::move(value2)};
}

TEST(DiffPane, ShowsBothValuesWithTheirDifferencesMarked) {
    struct Case {
        const char* scenario;
        PropertyRow row;
        QString shown1;
        QString shown2;
        std::vector<int> shaded;  // the same on both sides
        Marks marks1;
        Marks marks2;
        QString summary;
    };
    const Case cases[] = {
        {"a changed line between equal ones",
         Pair("SQL", Value("SELECT a,\n  b\nFROM t"), Value("SELECT a,\n  c\nFROM t")),
         "SELECT a,\n  b\nFROM t",
         "SELECT a,\n  c\nFROM t",
         {1},
         {{12, 1}},
         {{12, 1}},
         "SQL: 1 of 3 lines differ"},
        {"the last character changed",
         Pair("SQL", Value("CREATE VIEW v AS SELECT 1"), Value("CREATE VIEW v AS SELECT 2")),
         "CREATE VIEW v AS SELECT 1",
         "CREATE VIEW v AS SELECT 2",
         {0},
         {{24, 1}},
         {{24, 1}},
         "SQL: differs"},
        {"a line on one side only leaves an empty line on the other",
         Pair("SQL", Value("a\nc"), Value("a\nb\nc")),
         "a\n\nc",
         "a\nb\nc",
         {1},
         {},
         {},
         "SQL: 1 of 3 lines differ"},
        {"a multi-byte character is one position",
         Pair("Name", Value("Chlo\xC3\xA9!"), Value("Chloe!")),
         QString::fromUtf8("Chlo\xC3\xA9!"),
         "Chloe!",
         {0},
         {{4, 1}},
         {{4, 1}},
         "Name: differs"},
        {"numbers compare as their text",
         Pair("Size", Value(12), Value(13)),
         "12",
         "13",
         {0},
         {{1, 1}},
         {{1, 1}},
         "Size: differs"},
        {"equal values", Pair("Name", Value("x"), Value("x")), "x", "x", {}, {}, {}, "Name: equal"},
        {"Null against empty text is shown, not compared",
         Pair("Value", Value(), Value("")),
         "Null",
         "",
         {},
         {},
         {},
         "Value; database 1: Null; database 2: empty text"},
        {"a value against \"not found\"",
         Pair("Format", Value("General"), std::nullopt, "General", "not found"),
         "General",
         "not found",
         {},
         {},
         {},
         "Format; database 2: not found"},
    };
    DiffPane pane(nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        pane.ShowRow(c.row);
        EXPECT_EQ(pane.ShownText(1), c.shown1);
        EXPECT_EQ(pane.ShownText(2), c.shown2);
        EXPECT_EQ(pane.ShadedLines(1), c.shaded);
        EXPECT_EQ(pane.ShadedLines(2), c.shaded);
        EXPECT_EQ(pane.MarkedCharacters(1), c.marks1);
        EXPECT_EQ(pane.MarkedCharacters(2), c.marks2);
        EXPECT_EQ(pane.Summary(), c.summary);
    }
    pane.Clear();
    EXPECT_EQ(pane.ShownText(1), "");
    EXPECT_EQ(pane.Summary(), "");
    EXPECT_FALSE(pane.cmdCopy[0]->isEnabled());
}

TEST(DiffPane, ByteArraysOfDifferentLengths) {
    DiffPane pane(nullptr);
    Bytes shorter(16, 0x41);
    Bytes longer = shorter;
    longer.push_back(0x42);
    pane.ShowRow(Pair("Data", Value(shorter), Value(longer)));
    EXPECT_EQ(pane.Summary(), "Data: 16 bytes and 17 bytes; first difference at offset 16 (0x10)");
    EXPECT_EQ(pane.ShownText(1).count('\n'), 1) << "an empty line stands for the missing one";
    EXPECT_EQ(pane.ShadedLines(1), std::vector<int>{1});
    EXPECT_TRUE(pane.ShownText(2).endsWith("|B|"));
}

TEST(DiffPane, EachSideCopiesItsWholeValue) {
    DiffPane pane(nullptr);
    const std::string long1 = std::string(200'000, 'a') + "1";
    const std::string long2 = std::string(200'000, 'a') + "2";
    pane.ShowRow(Pair("Memo", Value(long1), Value(long2)));
    EXPECT_TRUE(pane.Summary().contains("compared: the first")) << pane.Summary().toStdString();
    ASSERT_TRUE(pane.cmdCopy[1]->isEnabled());
    pane.cmdCopy[1]->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), long2)
        << "the whole value, not only what the pane compared";
    pane.cmdCopy[0]->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), long1);

    pane.ShowRow(Pair("Format", std::nullopt, Value("x"), "skipped", "x"));
    EXPECT_FALSE(pane.cmdCopy[0]->isEnabled()) << "a note is not a value to copy";
}

TEST(ImageList, HasThePicturesOfRowsAndOfStoppedRuns) {
    const ImageList images;
    for (const Picture picture :
         {Picture::RowOnlyIn1, Picture::RowOnlyIn2, Picture::RowChanged, Picture::NotCompared,
          Picture::DatabasesIncomplete, Picture::TableSame, Picture::PropertySkipped}) {
        EXPECT_FALSE(images.Icon(PictureNumber(picture)).isNull()) << PictureNumber(picture);
    }
    EXPECT_TRUE(images.Icon(23).isNull()) << "a number without a picture";
    EXPECT_TRUE(images.Icon(kLastPicture + 1).isNull());
    EXPECT_EQ(ImageList::kCount, 30);
}

}  // namespace
}  // namespace kesmark::ui
