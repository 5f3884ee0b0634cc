#include "ui/odbc_logon.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <utility>

#include "engine/open_database.h"
#include "ui/twips.h"

namespace kesmark::ui {

namespace {

// Client area, in twips.
constexpr int kClientWidth = 4470;
constexpr int kClientHeight = 3180;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Sorts the way the lists show it: by letter ignoring case, then by case.
void SortForDisplay(QStringList& items) {
    std::sort(items.begin(), items.end(), [](const QString& a, const QString& b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
}

std::string Text(const QLineEdit* field) {
    return field->text().toStdString();
}

}  // namespace

std::string ConnectStringValue(std::string_view value) {
    const bool braced = value.find_first_of(";{}") != std::string_view::npos ||
                        (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())));
    if (!braced) {
        return std::string(value);
    }
    std::string out = "{";
    for (const char c : value) {
        out += c;
        if (c == '}') {
            out += '}';
        }
    }
    out += '}';
    return out;
}

bool IsUsableConnectValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string BuildOdbcConnectString(const OdbcLogonValues& values) {
    std::string source;
    std::string rest;
    if (!values.dataSource.empty()) {
        source = "DSN=" + ConnectStringValue(values.dataSource) + ";";
    } else {
        rest = "Driver=" + ConnectStringValue(values.driver) + ";" +
               "Server=" + ConnectStringValue(values.server) + ";";
    }
    rest += "UID=" + ConnectStringValue(values.user) + ";";
    rest += "PWD=" + ConnectStringValue(values.password) + ";";
    if (!values.database.empty()) {
        rest += "Database=" + ConnectStringValue(values.database) + ";";
    }
    return "ODBC;" + source + rest;
}

frmODBCLogon::frmODBCLogon(QWidget* owner) : QDialog(owner) {
    // The design places and sizes were made for an 8-point font.
    QFont designFont = font();
    designFont.setPointSizeF(8.0);
    setFont(designFont);
    setWindowTitle(QStringLiteral("ODBC Logon"));
    setModal(true);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(TwipsToPixels(kClientWidth, this), TwipsToPixels(kClientHeight, this));

    fraStep3 = new QGroupBox(QStringLiteral("Connection Values"), this);
    Place(fraStep3, 120, 120, 4230, 2415);

    const std::array<std::pair<const char*, int>, 6> labels = {{{"&DSN:", 240},
                                                                {"&UID:", 600},
                                                                {"&Password:", 930},
                                                                {"Data&base:", 1260},
                                                                {"Dri&ver:", 1590},
                                                                {"&Server:", 1935}}};
    for (std::size_t i = 0; i < labels.size(); ++i) {
        lblStep3[i] = new QLabel(QString::fromLatin1(labels[i].first), fraStep3);
        Place(lblStep3[i], 135, labels[i].second, 975, 300);
    }

    cboDSNList = new QComboBox(fraStep3);
    Place(cboDSNList, 1125, 240, 3000, 315);
    txtUID = new QLineEdit(fraStep3);
    Place(txtUID, 1125, 600, 3015, 300);
    txtPWD = new QLineEdit(fraStep3);
    txtPWD->setEchoMode(QLineEdit::Password);
    Place(txtPWD, 1125, 930, 3015, 300);
    txtDatabase = new QLineEdit(fraStep3);
    Place(txtDatabase, 1125, 1260, 3015, 300);
    cboDrivers = new QComboBox(fraStep3);
    Place(cboDrivers, 1125, 1590, 3015, 315);
    txtServer = new QLineEdit(fraStep3);
    Place(txtServer, 1125, 1935, 3015, 330);

    const std::array<QWidget*, 6> fields = {cboDSNList,  txtUID,     txtPWD,
                                            txtDatabase, cboDrivers, txtServer};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        lblStep3[i]->setBuddy(fields[i]);
    }

    cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    Place(cmdOK, 915, 2655, 1440, 450);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    Place(cmdCancel, 2520, 2655, 1440, 450);

    QWidget::setTabOrder(cboDSNList, txtUID);
    QWidget::setTabOrder(txtUID, txtPWD);
    QWidget::setTabOrder(txtPWD, txtDatabase);
    QWidget::setTabOrder(txtDatabase, cboDrivers);
    QWidget::setTabOrder(cboDrivers, txtServer);
    QWidget::setTabOrder(txtServer, cmdOK);
    QWidget::setTabOrder(cmdOK, cmdCancel);

    connect(cboDSNList, &QComboBox::currentIndexChanged, this, &frmODBCLogon::cboDSNList_Click);
    connect(cmdOK, &QPushButton::clicked, this, &frmODBCLogon::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmODBCLogon::cmdCancel_Click);

    GetDSNsAndDrivers();
}

QString frmODBCLogon::GetODBCString(QWidget* owner) {
    frmODBCLogon dialog(owner);
    dialog.exec();
    return dialog.Result();
}

void frmODBCLogon::GetDSNsAndDrivers() {
    QStringList names;
    QStringList drivers;
    for (const auto& source : ListOdbcDataSources()) {
        names << QString::fromStdString(source.name);
        const QString driver = QString::fromStdString(source.driver);
        if (!drivers.contains(driver)) {
            drivers << driver;
        }
    }
    SortForDisplay(names);
    SortForDisplay(drivers);

    cboDSNList->clear();
    cboDSNList->addItem(QString::fromLatin1(kNone));
    cboDSNList->addItems(names);
    cboDrivers->clear();
    cboDrivers->addItems(drivers);
    cboDrivers->setCurrentIndex(-1);
    cboDSNList->setCurrentIndex(0);
    cboDSNList_Click();
}

void frmODBCLogon::cboDSNList_Click() {
    const bool none = cboDSNList->currentIndex() <= 0;
    txtServer->setEnabled(none);
    cboDrivers->setEnabled(none);
}

void frmODBCLogon::cmdOK_Click() {
    const std::array<std::pair<QLabel*, QString>, 6> values = {{
        {lblStep3[0], cboDSNList->currentText()},
        {lblStep3[1], txtUID->text()},
        {lblStep3[2], txtPWD->text()},
        {lblStep3[3], txtDatabase->text()},
        {lblStep3[4], cboDrivers->currentText()},
        {lblStep3[5], txtServer->text()},
    }};
    for (const auto& [label, value] : values) {
        if (!IsUsableConnectValue(value.toStdString())) {
            const QString field = label->text().remove(QLatin1Char('&')).remove(QLatin1Char(':'));
            QMessageBox::warning(
                this, windowTitle(),
                QStringLiteral("The %1 cannot contain a line break or a NUL character.")
                    .arg(field));
            if (label->buddy()) {
                label->buddy()->setFocus();
            }
            return;
        }
    }

    OdbcLogonValues logon;
    if (cboDSNList->currentIndex() > 0) {
        logon.dataSource = cboDSNList->currentText().toStdString();
    } else {
        logon.driver = cboDrivers->currentText().toStdString();
        logon.server = Text(txtServer);
    }
    logon.user = Text(txtUID);
    logon.password = Text(txtPWD);
    logon.database = Text(txtDatabase);
    result_ = QString::fromStdString(BuildOdbcConnectString(logon));
    accept();
}

void frmODBCLogon::cmdCancel_Click() {
    reject();
}

void frmODBCLogon::reject() {
    result_.clear();
    QDialog::reject();
}

}  // namespace kesmark::ui
