// The main window driven as a user would: fields, Compare and Cancel, node
// selection, resizing and closing, on real SQLite files.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/open_database.h"
#include "tests/support/test_support.h"
#include "ui/main_window.h"
#include "ui/property_list_widget.h"
#include "ui/twips.h"

namespace kesmark::ui {
namespace {

constexpr const char* kShopV1 =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER, Note TEXT);"
    "CREATE INDEX OrdersByCustomer ON Orders(CustomerID);"
    "INSERT INTO Customers VALUES (1, 'Ada'), (2, 'Brian');";
constexpr const char* kShopV2 =
    "CREATE TABLE Customers(ID INTEGER PRIMARY KEY, Name TEXT NOT NULL);"
    "CREATE TABLE Orders(ID INTEGER PRIMARY KEY, CustomerID INTEGER);"
    "CREATE UNIQUE INDEX OrdersByCustomer ON Orders(CustomerID);"
    "CREATE TABLE Shipments(ID INTEGER PRIMARY KEY);"
    "INSERT INTO Customers VALUES (1, 'Ada'), (2, 'Bryan');";

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        settingsPath_ = test::DefaultSettings(dir_.Path());
        a_ = test::MakeSqlite(dir_ / "a.db", kShopV1).string();
        b_ = test::MakeSqlite(dir_ / "b.db", kShopV2).string();
        window_ = std::make_unique<frmMain>(settingsPath_, OpenDatabase);
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

    // key -> image of every node of the window's tree.
    std::map<std::string, int> TreeImages() const {
        std::map<std::string, int> images;
        std::vector<QTreeWidgetItem*> pending;
        for (int i = 0; i < window_->tvCompare->topLevelItemCount(); ++i) {
            pending.push_back(window_->tvCompare->topLevelItem(i));
        }
        while (!pending.empty()) {
            QTreeWidgetItem* item = pending.back();
            pending.pop_back();
            const std::string key = QtResultTree::KeyOf(item);
            images[key] = PictureNumber(window_->ResultTreeInterface().ImageOf(key));
            for (int i = 0; i < item->childCount(); ++i) {
                pending.push_back(item->child(i));
            }
        }
        return images;
    }

    QTreeWidgetItem* FindItem(const std::string& key) const {
        const auto found = window_->tvCompare->findItems(QStringLiteral("*"),
                                                         Qt::MatchWildcard | Qt::MatchRecursive);
        for (QTreeWidgetItem* item : found) {
            if (QtResultTree::KeyOf(item) == key) {
                return item;
            }
        }
        return nullptr;
    }

    test::TempDir dir_;
    std::filesystem::path settingsPath_;
    std::string a_;
    std::string b_;
    std::unique_ptr<frmMain> window_;
    std::vector<std::string> messages_;
};

TEST_F(MainWindowTest, LoadsAsDesigned) {
    EXPECT_EQ(
        window_->windowTitle(),
        QStringLiteral("Kesmark v%1.%2").arg(KESMARK_VERSION_MAJOR).arg(KESMARK_VERSION_MINOR));
    EXPECT_EQ(window_->cmdCompare->text(), "Compare");
    // The results take the design places of the tree and the list.
    EXPECT_EQ(window_->splResults->geometry().topLeft(),
              QPoint(TwipsToPixels(120, window_.get()), TwipsToPixels(1920, window_.get())));
    EXPECT_EQ(window_->splResults->width(), TwipsToPixels(10575, window_.get()));
    EXPECT_EQ(window_->lvProperties->headerItem()->text(0), "Property");
    EXPECT_EQ(window_->lvProperties->headerItem()->text(2), "Database 2");
    EXPECT_EQ(window_->txtDatabase1->nextInFocusChain(), window_->cmdBrowseDB1);
    EXPECT_EQ(window_->menuBar()->actions().size(), 3);
    EXPECT_EQ(window_->mnuHelpAbout->text(), "About Kesmark...");
    EXPECT_TRUE(Status().isEmpty());
}

TEST_F(MainWindowTest, CompareFillsTheTreeLikeTheCommandLine) {
    window_->cmdCompare->click();
    EXPECT_TRUE(messages_.empty()) << messages_.front();
    EXPECT_EQ(Status(), "Done");
    EXPECT_EQ(window_->pbarProgress.Value(), 0);

    const auto cli = test::RunDiff({"--json", "--settings", settingsPath_.string(), a_, b_});
    ASSERT_EQ(cli.exitCode, 1) << cli.err;
    std::map<std::string, int> expected;
    const auto document = nlohmann::json::parse(cli.out);
    for (const auto& node : document["nodes"]) {
        expected[node["key"].get<std::string>()] = node["image"].get<int>();
    }
    EXPECT_EQ(TreeImages(), expected);
    EXPECT_EQ(TreeImages().at("TableDefs[Orders]"), 2);
}

TEST_F(MainWindowTest, ButtonReadsCancelDuringTheRunAndCompareAfter) {
    QString captionDuringRun;
    QTimer::singleShot(0, [&] { captionDuringRun = window_->cmdCompare->text(); });
    window_->cmdCompare->click();
    EXPECT_EQ(captionDuringRun, "Cancel");
    EXPECT_EQ(window_->cmdCompare->text(), "Compare");
    EXPECT_FALSE(window_->gComparing);
}

TEST_F(MainWindowTest, CancelDuringALongDataComparison) {
    const char* big =
        "CREATE TABLE big(v INTEGER, w TEXT);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 400000)"
        "INSERT INTO big SELECT i, 'row ' || i FROM n;";
    const auto one = test::MakeSqlite(dir_ / "big1.db", big);
    std::filesystem::copy_file(one, dir_ / "big2.db");
    window_->txtDatabase1->setText(QString::fromStdString(one.string()));
    window_->txtDatabase2->setText(QString::fromStdString((dir_ / "big2.db").string()));
    window_->chkData->setChecked(true);

    // Clicks further apart than a double click.
    const int interval = QApplication::doubleClickInterval();
    QApplication::setDoubleClickInterval(1);
    QString statusAfterClick;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (Status().startsWith("Comparing data of")) {
            poll.stop();
            window_->cmdCompare->click();  // "Cancel"
            statusAfterClick = Status();
            window_->cmdCompare->click();  // a second click changes nothing more
        }
    });
    poll.start();
    window_->cmdCompare->click();
    QApplication::setDoubleClickInterval(interval);
    EXPECT_EQ(statusAfterClick, "Cancelling...");
    EXPECT_EQ(Status(), "Cancelled");
    EXPECT_EQ(window_->pbarProgress.Value(), 0);
    EXPECT_EQ(window_->cmdCompare->text(), "Compare");
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(FindItem("TableDefs[big].Fields[v].Records[1]"), nullptr);
}

TEST_F(MainWindowTest, NodeClickListsWhatShowPrints) {
    window_->cmdCompare->click();
    const std::string key = "TableDefs[Orders].Indexes[OrdersByCustomer]";
    QTreeWidgetItem* node = FindItem(key);
    ASSERT_NE(node, nullptr);
    window_->SetStatus("left over");
    window_->tvCompare_NodeClick(node);
    EXPECT_TRUE(Status().isEmpty());

    const auto cli =
        test::RunDiff({"--show", key, "--json", "--settings", settingsPath_.string(), a_, b_});
    const auto rows = nlohmann::json::parse(cli.out)["rows"];
    ASSERT_EQ(window_->lvProperties->topLevelItemCount(), static_cast<int>(rows.size()));
    for (int i = 0; i < window_->lvProperties->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* item = window_->lvProperties->topLevelItem(i);
        SCOPED_TRACE(item->text(0).toStdString());
        EXPECT_EQ(item->text(0).toStdString(), rows[i]["name"]);
        EXPECT_EQ(item->text(1).toStdString(), rows[i]["text1"]);
        EXPECT_EQ(item->text(2).toStdString(), rows[i]["text2"]);
        EXPECT_EQ(item->data(0, QtPropertyList::kIconNumberRole).toInt(), rows[i]["icon"]);
        const bool red = item->foreground(0).color() == QColor(255, 0, 0);
        EXPECT_EQ(red, rows[i]["colour"] == 255);
    }
}

TEST_F(MainWindowTest, RowsThatDifferByKeyAreNodesWithTheirOwnPicturesAndListings) {
    test::MakeSqlite(a_, "INSERT INTO Orders VALUES (7, 1, 'gone');");
    test::MakeSqlite(b_, "INSERT INTO Customers VALUES (3, 'Cy');");
    window_->chkData->setChecked(true);
    window_->cmdCompare->click();
    EXPECT_TRUE(messages_.empty()) << messages_.front();
    const auto images = TreeImages();
    EXPECT_EQ(images.at("TableDefs[Customers].Rows[2]"), PictureNumber(Picture::RowChanged));
    EXPECT_EQ(images.at("TableDefs[Customers].Rows[3]"), PictureNumber(Picture::RowOnlyIn2));
    EXPECT_EQ(images.at("TableDefs[Orders].Rows[7]"), PictureNumber(Picture::RowOnlyIn1));
    for (const char* key : {"TableDefs[Customers].Rows[2]", "TableDefs[Customers].Rows[3]",
                            "TableDefs[Orders].Rows[7]"}) {
        SCOPED_TRACE(key);
        QTreeWidgetItem* node = FindItem(key);
        ASSERT_NE(node, nullptr);
        EXPECT_FALSE(node->icon(0).isNull()) << "a picture of its own";
    }
    EXPECT_EQ(FindItem("TableDefs[Customers].Rows[2]")->text(0), "Row 2");

    window_->tvCompare_NodeClick(FindItem("TableDefs[Customers].Rows[2]"));
    ASSERT_EQ(window_->lvProperties->topLevelItemCount(), 2);
    const QTreeWidgetItem* name = window_->lvProperties->topLevelItem(1);
    EXPECT_EQ(name->text(0), "Name");
    EXPECT_EQ(name->text(1), "Brian");
    EXPECT_EQ(name->text(2), "Bryan");
    EXPECT_EQ(name->data(0, QtPropertyList::kIconNumberRole).toInt(),
              PictureNumber(Picture::PropertyDiffers));
}

TEST_F(MainWindowTest, AWrongDatabaseGivesOneMessage) {
    window_->txtDatabase2->setText(QString::fromStdString((dir_ / "missing.db").string()));
    window_->cmdCompare->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].starts_with("Kesmark: Unable to open database '")) << messages_[0];
    EXPECT_EQ(window_->tvCompare->topLevelItemCount(), 0);
    // The status bar keeps saying why the tree is empty.
    EXPECT_EQ(Status(), "Stopped by an error: Unable to open database '" +
                            QString::fromStdString((dir_ / "missing.db").string()) + "'");
}

TEST_F(MainWindowTest, ResizingFollowsTheOuterSizeAndTheColumnsShareTheWidth) {
    window_->show();
    window_->resize(900, 700);
    QCoreApplication::processEvents();
    const QRect outer = window_->frameGeometry();
    const auto twips = [&](int px) { return PixelsToTwips(px, window_.get()); };
    EXPECT_EQ(window_->splResults->height(),
              TwipsToPixels(std::lround(twips(outer.height()) - 3075), window_.get()));
    EXPECT_EQ(window_->splResults->width(),
              TwipsToPixels(std::lround(twips(outer.width()) - 390), window_.get()));
    const QRect resultsBefore = window_->splResults->geometry();
    const QRect progressBefore = window_->pbarProgress.hWnd()->geometry();
    const int treeBefore = window_->tvCompare->width();
    const auto columns = [&] {
        std::vector<int> widths;
        for (int c = 0; c < 3; ++c) {
            widths.push_back(window_->lvProperties->columnWidth(c));
        }
        return widths;
    };
    const auto sum = [](const std::vector<int>& w) { return w[0] + w[1] + w[2]; };
    EXPECT_EQ(sum(columns()), window_->lvProperties->viewport()->width());
    const std::vector<int> narrow = columns();

    // Wider: the tree and every column grow, and the columns still fill the list.
    window_->resize(1200, 700);
    QCoreApplication::processEvents();
    EXPECT_GT(window_->tvCompare->width(), treeBefore);
    const std::vector<int> wide = columns();
    EXPECT_EQ(sum(wide), window_->lvProperties->viewport()->width());
    for (int c = 0; c < 3; ++c) {
        EXPECT_GT(wide[c], narrow[c]) << "column " << c;
    }
    // A column the user widens takes its width from the last one.
    window_->lvProperties->header()->resizeSection(0, wide[0] + 40);
    EXPECT_EQ(window_->lvProperties->columnWidth(2), wide[2] - 40);
    EXPECT_EQ(sum(columns()), window_->lvProperties->viewport()->width());

    // Too low: the results keep their last height, and stay shown.
    window_->resize(900, 700);
    QCoreApplication::processEvents();
    window_->resize(900, 120);
    EXPECT_EQ(window_->splResults->size(), resultsBefore.size());
    EXPECT_TRUE(window_->splResults->isVisible());
    EXPECT_EQ(window_->pbarProgress.hWnd()->geometry(), progressBefore);
}

TEST_F(MainWindowTest, ClosingSavesTheFourFieldsAndExitDoesNot) {
    window_->txtConnect1->setText("ODBC;DSN=one;");
    window_->mnuFileExit_Click();
    window_.reset();
    EXPECT_EQ(IniFile(settingsPath_).ReadIniString("General", "Connect1"), "");

    // A settings file without a General section shows the order of the writes.
    std::filesystem::remove(settingsPath_);
    window_ = std::make_unique<frmMain>(settingsPath_, OpenDatabase);
    window_->txtDatabase1->setText(QString::fromStdString(a_));
    window_->txtConnect2->setText("ODBC;DSN=two;");
    window_->show();
    EXPECT_TRUE(window_->close());
    const IniFile saved(settingsPath_);
    EXPECT_EQ(saved.ReadIniString("General", "Database1"), a_);
    EXPECT_EQ(saved.ReadIniString("General", "Connect2"), "ODBC;DSN=two;");
    const std::string file = test::ReadFile(settingsPath_);
    EXPECT_LT(file.find("Database1="), file.find("Database2="));
    EXPECT_LT(file.find("Database2="), file.find("Connect1="));

    // The next window starts with what was saved.
    frmMain next(settingsPath_, OpenDatabase);
    EXPECT_EQ(next.txtDatabase1->text().toStdString(), a_);
    EXPECT_EQ(next.txtConnect2->text(), "ODBC;DSN=two;");
}

TEST_F(MainWindowTest, ClosingDuringARunWaitsForTheRunAndSaves) {
    window_->show();
    bool closeAccepted = true;
    QTimer::singleShot(0, [&] { closeAccepted = window_->close(); });
    window_->cmdCompare->click();
    EXPECT_FALSE(closeAccepted) << "the close waits for the run";
    EXPECT_EQ(Status(), "Cancelled");
    // The close comes back once the run has returned.
    for (int i = 0; i < 20 && window_->isVisible(); ++i) {
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(IniFile(settingsPath_).ReadIniString("General", "Database2"), b_);
}

TEST_F(MainWindowTest, TheFirstCloseCreatesTheUsersFileFromTheShippedDefault) {
    const auto file = dir_ / "config" / "kesmark" / "Kesmark.ini";
    frmMain window(SettingsLocation(file, settingsPath_), OpenDatabase);
    EXPECT_EQ(window.txtDatabase1->text(), "") << "read from the shipped default";
    window.txtDatabase1->setText(QString::fromStdString(a_));
    window.show();
    EXPECT_TRUE(window.close());
    const IniFile saved(file);
    EXPECT_EQ(saved.ReadIniString("General", "Database1"), a_);
    EXPECT_EQ(saved.ReadIniInt("TableDefs", "Compare"), 1) << "the options came along";
    EXPECT_EQ(test::ReadFile(settingsPath_).find(a_), std::string::npos)
        << "the shipped default is never written";
}

TEST_F(MainWindowTest, AnUnusableSettingsFileIsSaidOnceInAMessageBox) {
    const auto folder = dir_ / "folder.ini";
    std::filesystem::create_directory(folder);
    test::SetIni(settingsPath_, "General", "Database1", "from-the-default.db");
    messages_.clear();
    window_ = std::make_unique<frmMain>(SettingsLocation(folder, settingsPath_), OpenDatabase);
    window_->SetMessageHandler([this](const std::string& text, const std::string& caption,
                                      MessageIcon) { messages_.push_back(caption + ": " + text); });
    QCoreApplication::processEvents();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "Kesmark: The settings file '" + folder.string() +
                                "' is a folder, not a file. Kesmark goes on with the default "
                                "settings ('" +
                                settingsPath_.string() + "').");
    EXPECT_EQ(window_->txtDatabase1->text(), "from-the-default.db");
    // A run reads the settings many times; the problem is not said again.
    window_->txtDatabase1->setText(QString::fromStdString(a_));
    window_->txtDatabase2->setText(QString::fromStdString(b_));
    window_->cmdCompare->click();
    QCoreApplication::processEvents();
    EXPECT_EQ(messages_.size(), 1u) << messages_.back();
    EXPECT_GT(window_->tvCompare->topLevelItemCount(), 0);
}

}  // namespace
}  // namespace kesmark::ui
