#include <gtest/gtest.h>

#include <QLayout>
#include <QMainWindow>
#include <QPointer>

#include "ui/status_bar_ctl.h"
#include "ui/twips.h"

namespace kesmark::ui {
namespace {

TEST(StatusBarCtl, CreatesPartsAndTextsAndDestroysOnlyWhatItCreated) {
    QMainWindow window;
    window.resize(600, 300);
    CStatusBarCtl bar;
    ASSERT_NE(bar.Create(&window, QString(), 0), nullptr);
    EXPECT_EQ(bar.Create(&window, QString(), 0), nullptr) << "a second Create does nothing";
    window.layout()->activate();
    ASSERT_TRUE(bar.SetParts({380, -1}));
    const QRect part1 = bar.GetRect(1);
    EXPECT_GT(part1.left(), 380);
    EXPECT_EQ(part1.right() + 1, bar.hWnd()->width());

    QString text = "untouched";
    int type = 7;
    EXPECT_EQ(bar.GetText(0, text, type), 0) << "an empty part";
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(type, 7);
    ASSERT_TRUE(bar.SetText(0, "Comparing tables", 0));
    EXPECT_EQ(bar.GetText(0, text, type), 16);
    EXPECT_EQ(text, "Comparing tables");
    EXPECT_EQ(type, 0);

    QPointer<StatusBarWindow> created = bar.hWnd();
    bar.Destroy();
    EXPECT_TRUE(created.isNull());
    bar.Destroy();  // twice: nothing happens
    EXPECT_EQ(bar.hWnd(), nullptr);
    EXPECT_FALSE(bar.SetText(0, "x", 0));

    QPointer<StatusBarWindow> foreign = new StatusBarWindow(&window);
    bar.Attach(foreign);
    EXPECT_FALSE(bar.Owned());
    bar.Destroy();
    EXPECT_FALSE(foreign.isNull()) << "an attached bar outlives Destroy";
    EXPECT_EQ(bar.hWnd(), nullptr);
}

TEST(ProgressBarCtl, StaysWhereItWasCreatedWhenTheStatusBarIsResized) {
    QMainWindow window;
    window.resize(600, 300);
    CStatusBarCtl status;
    status.Create(&window, QString(), 0);
    window.layout()->activate();
    status.SetParts({380, -1});
    const QRect part = status.GetRect(1);
    CProgressBarCtl progress;
    ASSERT_NE(progress.Create(part.left(), part.top(), part.width(), part.height(), status.hWnd()),
              nullptr);
    progress.SetValue(42);
    EXPECT_EQ(progress.Value(), 42);
    window.resize(900, 300);
    window.layout()->activate();
    status.Resize();
    EXPECT_EQ(progress.hWnd()->geometry(), part);
    progress.Destroy();
    progress.Destroy();
    EXPECT_EQ(progress.Value(), 0);
    progress.SetValue(5);  // no bar: no effect, no crash
}

TEST(SizeControl, AppliesGivenValuesKeepsNegativeOnesAndBounds) {
    QWidget parent;
    parent.resize(1000, 1000);
    QWidget control(&parent);
    const int pxPerTwip15 = TwipsToPixels(1500, &control);  // 100 px at 96 dpi
    control.setGeometry(10, 20, 30, 40);
    control.show();
    SizeControl(&control, -1, -1, 1500, -1, -1, -1, -1, -1);
    EXPECT_EQ(control.geometry(), QRect(10, 20, pxPerTwip15, 40));
    EXPECT_TRUE(control.isVisibleTo(&parent));
    // Bounds: width raised to its minimum, height lowered to its maximum.
    SizeControl(&control, 0, 0, 150, 9000, 750, -1, -1, 3000);
    EXPECT_EQ(control.width(), TwipsToPixels(750, &control));
    EXPECT_EQ(control.height(), TwipsToPixels(3000, &control));
    // A size between two pixels still counts as placed.
    SizeControl(&control, -1, -1, 1507, -1, -1, -1, -1, -1);
    EXPECT_TRUE(control.isVisibleTo(&parent));
}

}  // namespace
}  // namespace kesmark::ui
