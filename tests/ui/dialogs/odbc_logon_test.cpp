// The ODBC logon dialog: its lists from the real driver manager, and the
// connect strings its OK builds from what the user chose and typed.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "tests/ui/dialogs/dialog_test_support.h"
#include "ui/odbc_logon.h"

namespace kesmark::ui {
namespace {

using test::dialogs::UseTestOdbcSetup;
using test::dialogs::WhenShown;

QStringList Items(const QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i) {
        items << list->itemText(i);
    }
    return items;
}

TEST(OdbcLogon, ListsNoneFirstThenEverySourceAndEachDriverOnce) {
    UseTestOdbcSetup();
    frmODBCLogon dialog;
    EXPECT_EQ(dialog.windowTitle(), "ODBC Logon");
    EXPECT_EQ(Items(dialog.cboDSNList),
              (QStringList{"(None)", "Archive", "kesmark_one", "kesmark_two"}));
    EXPECT_EQ(Items(dialog.cboDrivers), (QStringList{"Kesmark Reports", "Kesmark SQLite3"}));
    EXPECT_EQ(dialog.cboDSNList->currentIndex(), 0);
    EXPECT_EQ(dialog.cboDrivers->currentIndex(), -1) << "no driver chosen at first";
    EXPECT_EQ(dialog.txtPWD->echoMode(), QLineEdit::Password);

    // Server and driver only count without a data source.
    EXPECT_TRUE(dialog.txtServer->isEnabled() && dialog.cboDrivers->isEnabled());
    dialog.cboDSNList->setCurrentText("kesmark_two");
    EXPECT_FALSE(dialog.txtServer->isEnabled() || dialog.cboDrivers->isEnabled());
    dialog.cboDSNList->setCurrentIndex(0);
    EXPECT_TRUE(dialog.txtServer->isEnabled() && dialog.cboDrivers->isEnabled());
}

TEST(OdbcLogon, OkBuildsTheConnectStringFromTheFields) {
    struct Case {
        const char* scenario;
        const char* dsn;  // "" leaves "(None)"
        const char* driver;
        const char* server;
        const char* uid;
        const char* pwd;
        const char* database;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"data source, user, password and database", "kesmark_one", "", "", "u", "p", "d",
         "ODBC;DSN=kesmark_one;UID=u;PWD=p;Database=d;"},
        {"no data source and no driver", "", "", "db.example.org", "", "", "",
         "ODBC;Driver=;Server=db.example.org;UID=;PWD=;"},
        {"no data source, a listed driver", "", "Kesmark SQLite3", "", "sa", "", "/tmp/x.db",
         "ODBC;Driver=Kesmark SQLite3;Server=;UID=sa;PWD=;Database=/tmp/x.db;"},
        {"an empty database gives no Database key", "kesmark_two", "", "", "u", "", "",
         "ODBC;DSN=kesmark_two;UID=u;PWD=;"},
        {"a data source leaves out driver and server typed before", "Archive", "Kesmark SQLite3",
         "old-server", "", "", "", "ODBC;DSN=Archive;UID=;PWD=;"},
        {"a password with ; and } is braced", "kesmark_one", "", "", "u", "a;b}", "",
         "ODBC;DSN=kesmark_one;UID=u;PWD={a;b}}};"},
    };
    UseTestOdbcSetup();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        frmODBCLogon dialog;
        if (*c.driver) {
            dialog.cboDrivers->setCurrentText(c.driver);
            ASSERT_EQ(dialog.cboDrivers->currentText(), c.driver);
        }
        dialog.txtServer->setText(c.server);
        if (*c.dsn) {
            dialog.cboDSNList->setCurrentText(c.dsn);
            ASSERT_EQ(dialog.cboDSNList->currentText(), c.dsn);
        }
        dialog.txtUID->setText(c.uid);
        dialog.txtPWD->setText(c.pwd);
        dialog.txtDatabase->setText(c.database);
        dialog.cmdOK->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.Result().toStdString(), c.expected);
    }
}

TEST(OdbcLogon, CancelAndEscReturnTheEmptyString) {
    UseTestOdbcSetup();
    {
        frmODBCLogon dialog;
        dialog.txtUID->setText("u");
        dialog.cmdCancel->click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_TRUE(dialog.Result().isEmpty());
    }
    {
        frmODBCLogon dialog;
        dialog.cboDSNList->setCurrentText("kesmark_one");
        dialog.cmdOK->click();  // a result from an earlier OK
        ASSERT_FALSE(dialog.Result().isEmpty());
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog.txtPWD, &escape);
        EXPECT_TRUE(dialog.Result().isEmpty());
    }
}

TEST(OdbcLogon, AValueWithALineBreakIsRefusedWithAMessage) {
    UseTestOdbcSetup();
    frmODBCLogon dialog;
    dialog.txtDatabase->setText(QStringLiteral("first\nsecond"));
    ASSERT_TRUE(dialog.txtDatabase->text().contains('\n'));
    QString message;
    WhenShown<QMessageBox>([&](QMessageBox& box) {
        message = box.text();
        box.accept();
    });
    dialog.cmdOK->click();
    EXPECT_EQ(message, "The Database cannot contain a line break or a NUL character.");
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.Result().isEmpty());

    // Once mended, the string is built.
    dialog.txtDatabase->setText("second");
    dialog.cmdOK->click();
    EXPECT_EQ(dialog.Result(), "ODBC;Driver=;Server=;UID=;PWD=;Database=second;");
}

TEST(ConnectStringValue, BracesOnlyWhatCouldBreakTheString) {
    struct Case {
        const char* scenario;
        std::string value;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"plain", "secret", "secret"},
        {"empty", "", ""},
        {"semicolon", "a;b", "{a;b}"},
        {"closing braces doubled", "a}b}", "{a}}b}}}"},
        {"opening brace", "a{b", "{a{b}"},
        {"leading blank", " a", "{ a}"},
        {"trailing tab", "a\t", "{a\t}"},
        {"inner blank", "a b", "a b"},
        {"equals, quotes, brackets", "a='b'[c]", "a='b'[c]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(ConnectStringValue(c.value), c.expected);
    }
}

}  // namespace
}  // namespace kesmark::ui
