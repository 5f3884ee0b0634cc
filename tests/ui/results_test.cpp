// The main window as a diff tool, driven as a user would on real SQLite
// files: the tree's tools (only differences, expand and collapse, find), the
// keyboard, the difference pane under the property list, Null told from
// empty text, the listing of the run's own databases, stopped runs that say
// so, double clicks on Compare, masked passwords, and texts that fit.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/open_database.h"
#include "tests/support/test_support.h"
#include "ui/about_box.h"
#include "ui/cut_text_delegate.h"
#include "ui/main_window.h"

namespace kesmark::ui {
namespace {

constexpr const char* kShopV1 =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER, Note TEXT);"
    "CREATE TABLE OrderLines(OrderID INTEGER, Quantity INTEGER);"
    "CREATE TABLE Notes(ID INTEGER PRIMARY KEY, Note TEXT, Memo TEXT, Picture BLOB);"
    "INSERT INTO Notes VALUES (1, NULL, 'Null', x'000102030405060708090A0B0C0D0E0F1011');";
constexpr const char* kShopV2 =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER, Note TEXT NOT NULL);"
    "CREATE TABLE OrderLines(OrderID INTEGER, Quantity INTEGER);"
    "CREATE TABLE Notes(ID INTEGER PRIMARY KEY, Note TEXT, Memo TEXT, Picture BLOB);"
    "CREATE TABLE Shipments(ID INTEGER PRIMARY KEY);"
    "INSERT INTO Notes VALUES (1, '', NULL, x'000102030405060708090A0B0C0D0E0F10FF');";

class ResultsTest : public ::testing::Test {
  protected:
    ResultsTest() {
        settingsPath_ = test::DefaultSettings(dir_.Path());
        a_ = test::MakeSqlite(dir_ / "a.db", kShopV1).string();
        b_ = test::MakeSqlite(dir_ / "b.db", kShopV2).string();
        MakeWindow(OpenDatabase);
    }

    void MakeWindow(DatabaseOpener opener) {
        window_ = std::make_unique<frmMain>(settingsPath_, std::move(opener));
        window_->SetMessageHandler(
            [this](const std::string& text, const std::string& caption, MessageIcon) {
                messages_.push_back(caption + ": " + text);
            });
        window_->txtDatabase1->setText(QString::fromStdString(a_));
        window_->txtDatabase2->setText(QString::fromStdString(b_));
    }

    QString Status() const {
        QString text;
        int type = 0;
        window_->sbStatusBar.GetText(0, text, type);
        return text;
    }

    QTreeWidgetItem* Item(const std::string& key) const {
        return window_->ResultTreeInterface().ItemOf(key);
    }

    // The row of the property list named `name`, or null.
    QTreeWidgetItem* Row(const QString& name) const {
        for (int i = 0; i < window_->lvProperties->topLevelItemCount(); ++i) {
            if (window_->lvProperties->topLevelItem(i)->text(0) == name) {
                return window_->lvProperties->topLevelItem(i);
            }
        }
        return nullptr;
    }

    // Selects the node `key` as a click would, then its property `name`.
    void Select(const std::string& key, const QString& name = {}) {
        QTreeWidgetItem* node = Item(key);
        ASSERT_NE(node, nullptr) << key;
        window_->tvCompare->setCurrentItem(node);
        if (!name.isEmpty()) {
            QTreeWidgetItem* row = Row(name);
            ASSERT_NE(row, nullptr) << name.toStdString();
            window_->lvProperties->setCurrentItem(row);
        }
    }

    // The names the list shows, in order.
    std::vector<std::string> ListedNames() const {
        std::vector<std::string> names;
        for (int i = 0; i < window_->lvProperties->topLevelItemCount(); ++i) {
            names.push_back(window_->lvProperties->topLevelItem(i)->text(0).toStdString());
        }
        return names;
    }

    // The rows the list shows, each as "name|text 1|text 2".
    std::vector<std::string> ListedRows() const {
        std::vector<std::string> rows;
        for (int i = 0; i < window_->lvProperties->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = window_->lvProperties->topLevelItem(i);
            rows.push_back(
                (item->text(0) + "|" + item->text(1) + "|" + item->text(2)).toStdString());
        }
        return rows;
    }

    // The rows `kesmark-diff --show` lists for `key` on `one` and `two`, as
    // ListedRows gives them; only the names when `namesOnly`.
    std::vector<std::string> ShownRows(const std::string& key, const std::string& one,
                                       const std::string& two, bool namesOnly = false) const {
        const auto cli = test::RunDiff(
            {"--show", key, "--json", "--settings", settingsPath_.string(), one, two});
        const auto document = nlohmann::json::parse(cli.out);
        std::vector<std::string> rows;
        for (const auto& row : document.at("rows")) {
            rows.push_back(namesOnly ? row["name"].get<std::string>()
                                     : row["name"].get<std::string>() + "|" +
                                           row["text1"].get<std::string>() + "|" +
                                           row["text2"].get<std::string>());
        }
        return rows;
    }
    std::vector<std::string> ShownNames(const std::string& key, const std::string& one,
                                        const std::string& two) const {
        return ShownRows(key, one, two, true);
    }

    test::TempDir dir_;
    std::filesystem::path settingsPath_;
    std::string a_;
    std::string b_;
    std::unique_ptr<frmMain> window_;
    std::vector<std::string> messages_;
};

TEST_F(ResultsTest, OnlyDifferencesHidesWhatIsTheSameAndShowsItAgain) {
    window_->cmdCompare->click();
    ASSERT_EQ(Status(), "Done");
    window_->chkOnlyDifferences->setChecked(true);
    EXPECT_FALSE(Item("Databases")->isHidden());
    EXPECT_TRUE(Item("TableDefs[Customers]")->isHidden());
    EXPECT_TRUE(Item("TableDefs[OrderLines]")->isHidden());
    EXPECT_FALSE(Item("TableDefs[Orders]")->isHidden());
    EXPECT_FALSE(Item("TableDefs[Shipments]")->isHidden());
    EXPECT_TRUE(Item("TableDefs[Orders].Fields[ID]")->isHidden());
    EXPECT_FALSE(Item("TableDefs[Orders].Fields[Note]")->isHidden());

    // A run with the filter on hides as it goes.
    window_->cmdCompare->click();
    EXPECT_TRUE(Item("TableDefs[Customers]")->isHidden());

    window_->chkOnlyDifferences->setChecked(false);
    EXPECT_FALSE(Item("TableDefs[Customers]")->isHidden());
    EXPECT_FALSE(Item("TableDefs[Orders].Fields[ID]")->isHidden());
}

TEST_F(ResultsTest, ExpandAllAndCollapseAll) {
    window_->cmdCompare->click();
    window_->cmdExpandAll->click();
    EXPECT_TRUE(Item("TableDefs[Orders]")->isExpanded());
    window_->cmdCollapseAll->click();
    EXPECT_FALSE(Item("TableDefs[Orders]")->isExpanded());
    EXPECT_TRUE(Item("Databases")->isExpanded()) << "the root stays open";
}

TEST_F(ResultsTest, ObjectsOfOneDatabaseOnlySaySo) {
    window_->cmdCompare->click();
    EXPECT_EQ(Item("TableDefs[Shipments]")->text(0), "Shipments (only in database 2)");
    EXPECT_EQ(Item("TableDefs[Orders]")->text(0), "Orders");
}

TEST_F(ResultsTest, FindSelectsTheNextNameAndWrapsAround) {
    window_->cmdCompare->click();
    window_->show();
    window_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    QTest::keyClick(window_.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), window_->txtFind) << "Ctrl+F goes to the find field";

    // Every node whose name holds "order", in the order the tree reads with
    // every node open, among those `visible` accepts.
    auto matches = [&](bool onlyVisible) {
        std::vector<std::string> keys;
        for (QTreeWidgetItemIterator it(window_->tvCompare); *it; ++it) {
            const QTreeWidgetItem* item = *it;
            const QString name = item->data(0, QtResultTree::kNameRole).toString();
            if (name.contains("order", Qt::CaseInsensitive) &&
                (!onlyVisible || !item->isHidden())) {
                keys.push_back(QtResultTree::KeyOf(item));
            }
        }
        return keys;
    };
    auto findNext = [&] {
        QTest::keyClick(window_->txtFind, Qt::Key_Return);
        return QtResultTree::KeyOf(window_->tvCompare->currentItem());
    };
    window_->txtFind->setText("order");
    const auto all = matches(false);
    ASSERT_GE(all.size(), 4u);
    EXPECT_EQ(all[0], "TableDefs[OrderLines]");
    EXPECT_EQ(all[1], "TableDefs[OrderLines].Fields[OrderID]") << "children before siblings";
    for (const auto& key : all) {
        EXPECT_EQ(findNext(), key);
    }
    EXPECT_EQ(findNext(), all[0]) << "after the last match, the first again";
    EXPECT_TRUE(Item(all[1])->parent()->isExpanded()) << "a match in a closed node opens it";
    EXPECT_EQ(window_->lvProperties->topLevelItemCount() > 0, true) << "the match is listed";
    QTest::keyClick(window_.get(), Qt::Key_F3);
    EXPECT_EQ(QtResultTree::KeyOf(window_->tvCompare->currentItem()), all[1]) << "F3 finds on";

    window_->chkOnlyDifferences->setChecked(true);
    const auto shown = matches(true);
    ASSERT_LT(shown.size(), all.size());
    window_->tvCompare->setCurrentItem(Item("Databases"));
    EXPECT_EQ(findNext(), shown[0]) << "hidden nodes are passed over";

    window_->txtFind->setText("nothing like it");
    findNext();
    EXPECT_EQ(Status(), "No differing object's name contains \"nothing like it\"");
}

TEST_F(ResultsTest, TheKeyboardListsTheCurrentNodeLikeAClick) {
    window_->cmdCompare->click();
    window_->show();
    window_->tvCompare->setFocus();
    window_->tvCompare->setCurrentItem(Item("Databases"));
    const auto rootNames = ListedNames();
    EXPECT_EQ(rootNames, ShownNames("Databases", a_, b_));

    QTest::keyClick(window_->tvCompare, Qt::Key_Down);
    ASSERT_EQ(QtResultTree::KeyOf(window_->tvCompare->currentItem()), "TableDefs[Customers]");
    EXPECT_EQ(ListedNames(), ShownNames("TableDefs[Customers]", a_, b_));
    EXPECT_NE(ListedNames(), rootNames);

    // A click on the current node lists it again; the click that makes a node
    // current lists it once.
    int listings = 0;
    QObject counting;  // ends the count with the test
    QObject::connect(window_->lvProperties->model(), &QAbstractItemModel::modelReset, &counting,
                     [&] { ++listings; });
    const QRect customers = window_->tvCompare->visualItemRect(Item("TableDefs[Customers]"));
    QTest::mouseClick(window_->tvCompare->viewport(), Qt::LeftButton, {}, customers.center());
    EXPECT_EQ(listings, 1);
    const QRect orders = window_->tvCompare->visualItemRect(Item("TableDefs[Orders]"));
    QTest::mouseClick(window_->tvCompare->viewport(), Qt::LeftButton, {}, orders.center());
    EXPECT_EQ(listings, 2);
    EXPECT_EQ(ListedNames(), ShownNames("TableDefs[Orders]", a_, b_));
}

TEST_F(ResultsTest, TheDifferencePaneMarksTheChangedCharactersOfTheSelectedProperty) {
    window_->cmdCompare->click();
    Select("TableDefs[Orders]");
    // The first differing property is selected and shown at once.
    ASSERT_NE(window_->lvProperties->currentItem(), nullptr);
    EXPECT_EQ(window_->lvProperties->currentItem()->text(0), "SQL");
    DiffPane& pane = *window_->pnlDiff;
    EXPECT_EQ(pane.ShownText(1),
              "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER, Note TEXT)");
    // "... Note TEXT)" against "... Note TEXT NOT NULL)": " NOT NULL" added.
    const int at = static_cast<int>(pane.ShownText(1).indexOf("TEXT)")) + 4;
    EXPECT_TRUE(pane.MarkedCharacters(1).empty());
    EXPECT_EQ(pane.MarkedCharacters(2), (std::vector<std::pair<int, int>>{{at, 9}}));
    EXPECT_EQ(pane.ShadedLines(1), std::vector<int>{0});
    EXPECT_EQ(pane.Summary(), "SQL: differs");

    // A row that is equal shows both values without marks.
    window_->lvProperties->setCurrentItem(Row("Attributes"));
    EXPECT_EQ(pane.Summary(), "Attributes: equal");
    EXPECT_TRUE(pane.ShadedLines(2).empty());
}

TEST_F(ResultsTest, NullIsToldFromEmptyTextAndFromTheTextNull) {
    window_->chkData->setChecked(true);
    window_->cmdCompare->click();
    ASSERT_TRUE(messages_.empty()) << messages_.front();
    Select("TableDefs[Notes].Fields[Note].Records[1]");
    QTreeWidgetItem* value = Row("Value");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->text(1), "Null");
    EXPECT_TRUE(value->font(1).italic());
    EXPECT_EQ(value->text(2), "");
    EXPECT_FALSE(value->font(2).italic());
    EXPECT_EQ(window_->pnlDiff->Summary(), "Value; database 1: Null; database 2: empty text");

    // A text that reads "Null" against a Null: the same words, not the same look.
    Select("TableDefs[Notes].Fields[Memo].Records[1]");
    value = Row("Value");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->text(1), "Null");
    EXPECT_FALSE(value->font(1).italic());
    EXPECT_TRUE(value->font(2).italic());
}

TEST_F(ResultsTest, ByteArraysShowAsHexWithTheFirstDifferingOffset) {
    window_->chkData->setChecked(true);
    window_->cmdCompare->click();
    Select("TableDefs[Notes].Fields[Picture].Records[1]", "Value");
    DiffPane& pane = *window_->pnlDiff;
    EXPECT_EQ(pane.Summary(), "Value: 18 bytes and 18 bytes; first difference at offset 17 (0x11)");
    const QStringList lines = pane.ShownText(2).split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[1].toStdString(), "00000010  10 FF" + std::string(44, ' ') + "|..|");
    // Byte 0x11 is the second of the second line: "FF" and its character.
    const int secondLine = static_cast<int>(pane.ShownText(2).indexOf('\n')) + 1;
    EXPECT_EQ(pane.MarkedCharacters(2),
              (std::vector<std::pair<int, int>>{{secondLine + 13, 2}, {secondLine + 61, 1}}));

    // The cell shows the first bytes; its tool tip the bytes in hexadecimal.
    QTreeWidgetItem* value = Row("Value");
    EXPECT_EQ(value->text(2), "0 1 2 3 4 5 6 7 8 9 10 ...");
    EXPECT_TRUE(value->data(2, CutTextDelegate::kFullTextRole)
                    .toString()
                    .startsWith("18 bytes\n00000000  00 01 02"));

    // Each side copies its own value.
    pane.cmdCopy[1]->click();
    EXPECT_TRUE(QApplication::clipboard()->text().endsWith("|..|"));
    EXPECT_TRUE(QApplication::clipboard()->text().contains("10 FF"));
    pane.cmdCopy[0]->click();
    EXPECT_TRUE(QApplication::clipboard()->text().contains("10 11"));
}

TEST_F(ResultsTest, CutTextsShowWholeInAToolTip) {
    const std::string longName(80, 'n');
    test::MakeSqlite(a_, "CREATE TABLE " + longName + "(x);");
    test::MakeSqlite(b_, "CREATE TABLE " + longName + "(x);");
    window_->show();
    window_->cmdCompare->click();
    Select("TableDefs[" + longName + "]", "SQL");

    auto tip = [](QTreeWidget* view, QTreeWidgetItem* item, int column) {
        const QModelIndex index = view->indexFromItem(item, column);
        QStyleOptionViewItem option;
        option.initFrom(view->viewport());
        option.rect = view->visualRect(index);
        option.widget = view->viewport();
        auto* delegate = static_cast<CutTextDelegate*>(view->itemDelegate());
        return delegate->ToolTipText(option, index);
    };
    EXPECT_EQ(tip(window_->tvCompare, Item("TableDefs[" + longName + "]"), 0),
              QString::fromStdString(longName));
    EXPECT_EQ(tip(window_->tvCompare, Item("Databases"), 0), "") << "a name that fits";
    QTreeWidgetItem* sql = Row("SQL");
    EXPECT_EQ(tip(window_->lvProperties, sql, 1), sql->text(1));
    EXPECT_EQ(tip(window_->lvProperties, Row("Strict"), 1), "");
}

TEST_F(ResultsTest, TheListReadsTheDatabasesOfTheRunThatBuiltTheTree) {
    window_->cmdCompare->click();
    // Edited after the run: another database 2, and one that does not exist.
    const auto other =
        test::MakeSqlite(dir_ / "other.db", "CREATE TABLE Orders(Whatever TEXT);").string();
    for (const std::string& edited : {other, (dir_ / "missing.db").string()}) {
        window_->txtDatabase2->setText(QString::fromStdString(edited));
        window_->chkStict->setChecked(true);
        Select("TableDefs[Orders].Fields[Note]");
        EXPECT_TRUE(messages_.empty()) << messages_.front();
        EXPECT_EQ(ListedRows(), ShownRows("TableDefs[Orders].Fields[Note]", a_, b_));
    }
}

TEST_F(ResultsTest, ACancelledRunMarksWhatItDidNotCompareAndSaysWhy) {
    std::string many;
    for (int i = 0; i < 60; ++i) {
        many += "CREATE TABLE t" + std::to_string(100 + i) + "(id INTEGER, a TEXT);";
    }
    test::MakeSqlite(dir_ / "many1.db", many);
    test::MakeSqlite(dir_ / "many2.db", many);
    window_->txtDatabase1->setText(QString::fromStdString((dir_ / "many1.db").string()));
    window_->txtDatabase2->setText(QString::fromStdString((dir_ / "many2.db").string()));
    const int interval = QApplication::doubleClickInterval();
    QApplication::setDoubleClickInterval(1);
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (Status() == "Comparing fields of table t120") {
            poll.stop();
            window_->cmdCompare->click();  // "Cancel"
        }
    });
    poll.start();
    window_->cmdCompare->click();
    QApplication::setDoubleClickInterval(interval);

    const QtResultTree& tree = window_->ResultTreeInterface();
    EXPECT_EQ(tree.ImageOf("Databases"), Picture::DatabasesIncomplete);
    EXPECT_FALSE(Item("Databases")->toolTip(0).isEmpty());
    EXPECT_EQ(tree.ImageOf("TableDefs[t100]"), Picture::TableSame);
    EXPECT_EQ(tree.ImageOf("TableDefs[t120]"), Picture::NotCompared);
    EXPECT_EQ(tree.ImageOf("TableDefs[t159]"), Picture::NotCompared);
    EXPECT_FALSE(Item("TableDefs[t159]")->toolTip(0).isEmpty());
    EXPECT_FALSE(window_->ilTreeview.Icon(PictureNumber(Picture::NotCompared)).isNull());
    EXPECT_EQ(Status(), "Cancelled");

    // Only differences keeps the objects not compared in sight.
    window_->chkOnlyDifferences->setChecked(true);
    EXPECT_TRUE(Item("TableDefs[t100]")->isHidden());
    EXPECT_FALSE(Item("TableDefs[t159]")->isHidden());

    // Looking around the incomplete tree does not make the status forget.
    Select("TableDefs[t100]");
    EXPECT_EQ(Status(), "Cancelled");
}

TEST_F(ResultsTest, ASecondClickWithinTheDoubleClickIntervalDoesNotCancel) {
    const int interval = QApplication::doubleClickInterval();
    QApplication::setDoubleClickInterval(60'000);
    QTimer::singleShot(0, [&] { window_->cmdCompare->click(); });
    window_->cmdCompare->click();
    QApplication::setDoubleClickInterval(interval);
    EXPECT_EQ(Status(), "Done");
    EXPECT_EQ(window_->ResultTreeInterface().ImageOf("Databases"), Picture::DatabasesDiffers);
    EXPECT_FALSE(window_->gCancelRequested);
}

TEST_F(ResultsTest, PasswordsAreMaskedOnDisplayAndKeptForTheRunAndTheSettings) {
    std::string opened;
    MakeWindow([&](const std::string& name, const std::string& connect) {
        opened += connect + "|";
        return OpenDatabase(name, "");
    });
    ConnectField& field = *window_->txtConnect1;
    field.setText("ODBC;DSN=kesmark;UID=me;PWD=s3cret;");
    EXPECT_EQ(field.text(), "ODBC;DSN=kesmark;UID=me;PWD=***;");
    EXPECT_EQ(field.ConnectString(), "ODBC;DSN=kesmark;UID=me;PWD=s3cret;");

    // Typing elsewhere in the field keeps the password; a new one is taken
    // as typed and masked once the field is left.
    window_->show();
    field.setFocus();
    field.setCursorPosition(static_cast<int>(field.text().size()));
    QTest::keyClicks(&field, "Database=d;");
    EXPECT_EQ(field.ConnectString(), "ODBC;DSN=kesmark;UID=me;PWD=s3cret;Database=d;");
    window_->txtDatabase1->setFocus();
    EXPECT_EQ(field.text(), "ODBC;DSN=kesmark;UID=me;PWD=***;Database=d;");

    window_->cmdCompare->click();
    EXPECT_NE(opened.find("PWD=s3cret;Database=d;|"), std::string::npos) << opened;
    ASSERT_TRUE(window_->close());
    EXPECT_EQ(IniFile(settingsPath_).ReadIniString("General", "Connect1"),
              "ODBC;DSN=kesmark;UID=me;PWD=s3cret;Database=d;");
}

// Texts fit their controls whatever the font: the status bar's line, the
// about box's title, version and web address.
TEST(TextsFit, AtEveryFontSize) {
    test::TempDir dir;
    const QFont original = QApplication::font();
    for (const double points : {8.0, 12.0, 20.0}) {
        SCOPED_TRACE(points);
        QFont font = original;
        font.setPointSizeF(points);
        QApplication::setFont(font);

        frmMain window(dir / "Kesmark.ini", OpenDatabase);
        window.sbStatusBar.hWnd()->setFont(font);
        window.SetStatus("sqlite_rowid: Comparing fields of table Shipping_Rules");
        window.show();
        QCoreApplication::processEvents();
        const QLabel* part = window.sbStatusBar.hWnd()->PartLabel(0);
        ASSERT_NE(part, nullptr);
        EXPECT_GE(part->contentsRect().height(), part->fontMetrics().height());

        QWidget owner;
        owner.setFont(font);
        frmAbout about(&owner);
        for (const QLabel* label : {about.lblTitle, about.lblVersion, about.lblEmail}) {
            EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
            EXPECT_GE(label->height(), label->sizeHint().height()) << label->text().toStdString();
            EXPECT_TRUE(about.fraAbout->contentsRect().contains(label->geometry()))
                << label->text().toStdString();
        }
        EXPECT_TRUE(about.rect().contains(about.fraAbout->geometry()));
        EXPECT_TRUE(about.rect().contains(about.cmdOK->geometry()));
        EXPECT_FALSE(about.cmdOK->geometry().intersects(about.fraAbout->geometry()));
    }
    QApplication::setFont(original);
}

}  // namespace
}  // namespace kesmark::ui
