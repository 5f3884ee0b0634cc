#pragma once

// What the dialog tests share: driving a modal dialog while its exec() runs,
// and the test-local ODBC set-up.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

namespace kesmark::test::dialogs {

// The visible top-level widget of type T shown last, or null.
template <class T>
T* FindShown() {
    T* found = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* typed = qobject_cast<T*>(widget); typed && typed->isVisible()) {
            found = typed;
        }
    }
    return found;
}

// Once the event loop runs (that is, once the modal dialog about to be shown
// is running), hands the shown dialog of type T to `action`, which must close
// it. When no such dialog is shown, the test fails and the modal widget that
// is open, if any, is closed so that the test does not hang.
template <class T>
void WhenShown(std::function<void(T&)> action) {
    QTimer::singleShot(0, [action = std::move(action)] {
        if (T* dialog = FindShown<T>()) {
            action(*dialog);
            return;
        }
        ADD_FAILURE() << "the expected dialog was not shown";
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            modal->reject();
        }
    });
}

// Clicks the Open (or Save) button of Qt's file dialog, as the user would.
inline void ClickAccept(QFileDialog& dialog) {
    const auto* box = dialog.findChild<QDialogButtonBox*>();
    for (QAbstractButton* button : box ? box->buttons() : QList<QAbstractButton*>()) {
        if (box->buttonRole(button) == QDialogButtonBox::AcceptRole) {
            EXPECT_TRUE(button->isEnabled());
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "the file dialog has no accept button";
    dialog.reject();
}

// The filter texts the file dialog's file-type box shows.
inline QStringList ShownFilters(const QFileDialog& dialog) {
    QStringList shown;
    if (const auto* box = dialog.findChild<QComboBox*>("fileTypeCombo")) {
        for (int i = 0; i < box->count(); ++i) {
            shown << box->itemText(i);
        }
    }
    return shown;
}

// The names the test-local driver manager knows:
// - drivers "Kesmark SQLite3" and "Kesmark Reports" (both the SQLite ODBC
//   driver found when building, if any);
// - user data sources "kesmark_two" and "kesmark_one" (both "Kesmark
//   SQLite3"), system data sources "Archive" ("Kesmark Reports") and again
//   "kesmark_one".
inline constexpr const char* kSqliteDriver = "Kesmark SQLite3";
inline constexpr const char* kReportsDriver = "Kesmark Reports";

// Writes the test-local odbcinst.ini and odbc.ini files once per process and
// points the driver manager at them; call before the process's first ODBC
// call.
void UseTestOdbcSetup();

}  // namespace kesmark::test::dialogs
