// The main window's browse buttons and Tools > Options..., with the real
// dialogs driven while they run.

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "engine/open_database.h"
#include "tests/support/test_support.h"
#include "tests/ui/dialogs/dialog_test_support.h"
#include "ui/main_window.h"
#include "ui/odbc_logon.h"
#include "ui/options_dialog.h"
#include "ui/result_tree_widget.h"

namespace kesmark::ui {
namespace {

using test::dialogs::WhenShown;

class MainWindowDialogsTest : public ::testing::Test {
  protected:
    MainWindowDialogsTest() {
        test::dialogs::UseTestOdbcSetup();
        window_ = std::make_unique<frmMain>(settingsPath_, OpenDatabase);
        window_->SetMessageHandler([this](const std::string& text, const std::string&,
                                          MessageIcon) { messages_.push_back(text); });
        window_->txtDatabase1->setText("one.mdb");
        window_->txtConnect1->setText("ODBC;DSN=first;");
        window_->txtDatabase2->setText("two.mdb");
        window_->txtConnect2->setText("ODBC;DSN=second;");
    }

    // The four fields, side 1 then side 2.
    QStringList Fields() const {
        return {window_->txtDatabase1->text(), window_->txtConnect1->ConnectString(),
                window_->txtDatabase2->text(), window_->txtConnect2->ConnectString()};
    }

    bool HasNode(const std::string& key) const {
        for (QTreeWidgetItem* item : window_->tvCompare->findItems(
                 QStringLiteral("*"), Qt::MatchWildcard | Qt::MatchRecursive)) {
            if (QtResultTree::KeyOf(item) == key) {
                return true;
            }
        }
        return false;
    }

    test::TempDir dir_;
    std::filesystem::path settingsPath_ = dir_ / "Kesmark.ini";  // no file yet
    std::unique_ptr<frmMain> window_;
    std::vector<std::string> messages_;
};

TEST_F(MainWindowDialogsTest, AChosenFileFillsItsSideAndClearsThatSidesConnectString) {
    const auto file = test::MakeSqlite(dir_ / "shop.db", "CREATE TABLE t(x);");
    WhenShown<QFileDialog>([&](QFileDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Select Database");
        EXPECT_EQ(
            test::dialogs::ShownFilters(dialog),
            (QStringList{"Databases (*.mdb;*.accdb;*.db;*.sqlite;*.sqlite3;*.db3)",
                         "Microsoft Access Databases (*.mdb)",
                         "Microsoft Access 2007+ Databases (*.accdb)",
                         "SQLite Databases (*.db;*.sqlite;*.sqlite3;*.db3)", "All Files (*.*)"}));
        // The dialog opens on the filter of every database file, so that a
        // folder of SQLite files does not look empty.
        const auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(types, nullptr);
        EXPECT_EQ(types->currentIndex(), 0);
        dialog.selectFile(QString::fromStdString(file.string()));
        test::dialogs::ClickAccept(dialog);
    });
    window_->cmdBrowseDB2->click();
    EXPECT_EQ(Fields(), (QStringList{"one.mdb", "ODBC;DSN=first;",
                                     QString::fromStdString(file.string()), ""}));

    WhenShown<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    window_->cmdBrowseDB1->click();
    EXPECT_EQ(Fields(), (QStringList{"one.mdb", "ODBC;DSN=first;",
                                     QString::fromStdString(file.string()), ""}));
}

TEST_F(MainWindowDialogsTest, ABuiltConnectStringFillsItsSideAndClearsThatSidesFile) {
    WhenShown<frmODBCLogon>([](frmODBCLogon& dialog) {
        dialog.cboDSNList->setCurrentText("kesmark_one");
        dialog.txtUID->setText("u");
        dialog.txtPWD->setText("a;b}");
        dialog.txtDatabase->setText("d");
        dialog.cmdOK->click();
    });
    window_->cmdBrowseODBC1->click();
    EXPECT_EQ(Fields(), (QStringList{"", "ODBC;DSN=kesmark_one;UID=u;PWD={a;b}}};Database=d;",
                                     "two.mdb", "ODBC;DSN=second;"}));
    EXPECT_EQ(window_->txtConnect1->text(), "ODBC;DSN=kesmark_one;UID=u;PWD=***;Database=d;")
        << "the password does not show";

    const QStringList before = Fields();
    WhenShown<frmODBCLogon>([](frmODBCLogon& dialog) {
        dialog.txtUID->setText("typed, then cancelled");
        dialog.cmdCancel->click();
    });
    window_->cmdBrowseODBC2->click();
    EXPECT_EQ(Fields(), before);
}

TEST_F(MainWindowDialogsTest, OptionsSavedFromTheToolsMenuSteerTheNextRun) {
    const auto a = test::MakeSqlite(dir_ / "a.db", "CREATE TABLE Orders(ID INTEGER);");
    const auto b = test::MakeSqlite(dir_ / "b.db", "CREATE TABLE Orders(ID TEXT);");
    window_->txtDatabase1->setText(QString::fromStdString(a.string()));
    window_->txtConnect1->clear();
    window_->txtDatabase2->setText(QString::fromStdString(b.string()));
    window_->txtConnect2->clear();

    // No settings file: nothing but the database properties is compared.
    window_->cmdCompare->click();
    ASSERT_TRUE(messages_.empty()) << messages_.front();
    EXPECT_TRUE(HasNode("Databases"));
    EXPECT_FALSE(HasNode("TableDefs[Orders]"));

    WhenShown<frmOptions>([](frmOptions& dialog) {
        EXPECT_EQ(dialog.Node("TableDefs")->checkState(0), Qt::Checked);
        dialog.Node("TableDefs")->setCheckState(0, Qt::Unchecked);
        dialog.cmdApply->click();
        dialog.cmdCancel->click();  // what Apply wrote stays written
    });
    window_->mnuToolsOptions->trigger();
    EXPECT_EQ(IniFile(settingsPath_).ReadIniString("TableDefs", "Compare"), "1");

    window_->cmdCompare->click();
    ASSERT_TRUE(messages_.empty()) << messages_.front();
    EXPECT_TRUE(HasNode("TableDefs[Orders]"));
    EXPECT_FALSE(HasNode("TableDefs[Orders].Fields[ID]")) << "fields are still not compared";
}

}  // namespace
}  // namespace kesmark::ui
