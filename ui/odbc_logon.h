#pragma once

// frmODBCLogon, "ODBC Logon": builds an ODBC connect string from a data
// source of the driver manager (or a driver and a server), a user, a password
// and a database.

#include <QDialog>
#include <array>
#include <string>
#include <string_view>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kesmark::ui {

// What the dialog's fields hold when OK builds the connect string.
struct OdbcLogonValues {
    std::string dataSource;  // empty for "(None)"
    std::string driver;      // used with "(None)" only
    std::string server;      // used with "(None)" only
    std::string user;
    std::string password;
    std::string database;
};

// `value` as it goes into a connect string: enclosed in braces, with every "}"
// doubled, when it holds ";", "{" or "}" or begins or ends with a blank (so
// that the driver gets it whole and it cannot add attributes of its own);
// otherwise unchanged. "a;b}" -> "{a;b}}}", "secret" -> "secret".
std::string ConnectStringValue(std::string_view value);

// False when `value` holds a line break or a NUL character, which no connect
// string can carry.
bool IsUsableConnectValue(std::string_view value);

// "ODBC;DSN=x;" or, without a data source, "ODBC;Driver=d;Server=s;", then
// "UID=u;PWD=p;" and, when the database is not empty, "Database=d;". Every
// key is written even when its value is empty ("UID=;").
std::string BuildOdbcConnectString(const OdbcLogonValues& values);

class frmODBCLogon : public QDialog {
    Q_OBJECT
  public:
    // Loads the dialog: the data sources and their drivers listed afresh,
    // every field empty, "(None)" selected.
    explicit frmODBCLogon(QWidget* owner = nullptr);

    // Shows a freshly loaded dialog modally over `owner` and returns the
    // connect string built by OK, or an empty string when it was cancelled
    // (Cancel, Esc or the window's close button).
    static QString GetODBCString(QWidget* owner);

    // The connect string of the last OK; empty after Cancel or before OK.
    const QString& Result() const { return result_; }

    // Fills cboDSNList ("(None)" first, then the data sources, sorted) and
    // cboDrivers (the drivers of those sources, each once, sorted; none
    // selected), and selects "(None)".
    void GetDSNsAndDrivers();

    // Controls, named as on the form; owned by the dialog.
    QGroupBox* fraStep3 = nullptr;
    // Labels of cboDSNList, txtUID, txtPWD, txtDatabase, cboDrivers, txtServer.
    std::array<QLabel*, 6> lblStep3{};
    QComboBox* cboDSNList = nullptr;
    QLineEdit* txtUID = nullptr;
    QLineEdit* txtPWD = nullptr;
    QLineEdit* txtDatabase = nullptr;
    QComboBox* cboDrivers = nullptr;
    QLineEdit* txtServer = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;

    // The text of the first entry of cboDSNList.
    static constexpr const char* kNone = "(None)";

  public slots:
    // Server and driver are asked for only when no data source is chosen.
    void cboDSNList_Click();
    // Builds the connect string and closes the dialog; a field that holds a
    // line break or a NUL is refused with a message and the dialog stays.
    void cmdOK_Click();
    void cmdCancel_Click();

  protected:
    void reject() override;

  private:
    QString result_;
};

}  // namespace kesmark::ui
