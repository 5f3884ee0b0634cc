#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cmath>

#include "settings/option_lists.h"
#include "ui/about_box.h"
#include "ui/file_dialog.h"
#include "ui/odbc_logon.h"
#include "ui/options_dialog.h"
#include "ui/twips.h"
#include "view/result_view.h"

namespace kesmark::ui {

namespace {

// Design size of the client area, in twips.
constexpr int kClientWidth = 10845;
constexpr int kClientHeight = 6120;
// Right edge of the status text part, in pixels.
constexpr int kStatusPartEdge = 380;

std::string Text(const QLineEdit* field) {
    return field->text().toStdString();
}

// The kinds of file a database field can name: Access databases of both
// formats and SQLite databases, then any file (a SQLite file is recognised by
// its content whatever its name).
constexpr const char* kDatabaseMask =
    "Microsoft Access Databases (*.mdb)|*.mdb|"
    "Microsoft Access 2007+ Databases (*.accdb)|*.accdb|"
    "SQLite Databases (*.db;*.sqlite;*.sqlite3;*.db3)|*.db;*.sqlite;*.sqlite3;*.db3|"
    "All Files (*.*)|*.*";

}  // namespace

frmMain::frmMain(const std::filesystem::path& settingsPath, DatabaseOpener opener, QWidget* parent)
    : QMainWindow(parent),
      ilTreeview(1.0),
      settings_(settingsPath),
      opener_(std::move(opener)),
      host_(*this) {
    CreateControls();
    CreateMenus();
    LoadForm();
}

frmMain::~frmMain() = default;

void frmMain::CreateControls() {
    // The form's design places and sizes were made for an 8-point font.
    QFont designFont = font();
    designFont.setPointSizeF(8.0);
    setFont(designFont);

    auto* client = new QWidget(this);
    setCentralWidget(client);

    auto label = [&](const char* caption, int l, int t, int w, int h) {
        auto* x = new QLabel(QString::fromLatin1(caption), client);
        Place(x, l, t, w, h);
        return x;
    };
    auto field = [&](int l, int t, int w, int h) {
        auto* x = new QLineEdit(client);
        Place(x, l, t, w, h);
        return x;
    };
    auto button = [&](const char* caption, QWidget* parent, int l, int t, int w, int h) {
        auto* x = new QPushButton(QString::fromLatin1(caption), parent);
        Place(x, l, t, w, h);
        return x;
    };

    lblDatabase1 = label("Database 1", 120, 240, 975, 255);
    txtDatabase1 = field(1080, 240, 3375, 285);
    cmdBrowseDB1 = button("...", client, 4560, 240, 495, 375);
    lblConnect1 = label("Connect 1", 5160, 240, 855, 255);
    txtConnect1 = field(6000, 240, 4095, 285);
    cmdBrowseODBC1 = button("...", client, 10200, 240, 495, 375);
    lblDatabase2 = label("Database 2", 120, 600, 975, 255);
    txtDatabase2 = field(1080, 600, 3375, 285);
    cmdBrowseDB2 = button("...", client, 4560, 600, 495, 375);
    lblConnect2 = label("Connect 2", 5160, 600, 855, 255);
    txtConnect2 = field(6000, 600, 4095, 285);
    cmdBrowseODBC2 = button("...", client, 10200, 600, 495, 375);

    fraCompare = new QGroupBox(QStringLiteral("Compare"), client);
    Place(fraCompare, 120, 960, 10575, 855);
    chkData = new QCheckBox(QStringLiteral("Data"), fraCompare);
    Place(chkData, 120, 240, 735, 255);
    chkStict = new QCheckBox(QStringLiteral("Strict"), fraCompare);
    Place(chkStict, 120, 480, 855, 255);
    cmdCompare = button("Compare", fraCompare, 960, 240, 9495, 495);

    tvCompare = new QTreeWidget(client);
    tvCompare->setHeaderHidden(true);
    tvCompare->setColumnCount(1);
    tvCompare->setIconSize(QSize(16, 16));
    Place(tvCompare, 120, 1920, 3975, 3855);

    lvProperties = new QTreeWidget(client);
    lvProperties->setRootIsDecorated(false);
    lvProperties->setColumnCount(3);
    lvProperties->setIconSize(QSize(16, 16));
    lvProperties->setAllColumnsShowFocus(true);
    Place(lvProperties, 4200, 1920, 6495, 3855);

    resultTree_ = std::make_unique<QtResultTree>(*tvCompare, ilTreeview);
    propertyList_ = std::make_unique<QtPropertyList>(*lvProperties, ilTreeview);

    QWidget::setTabOrder(txtDatabase1, cmdBrowseDB1);
    QWidget::setTabOrder(cmdBrowseDB1, txtConnect1);
    QWidget::setTabOrder(txtConnect1, cmdBrowseODBC1);
    QWidget::setTabOrder(cmdBrowseODBC1, txtDatabase2);
    QWidget::setTabOrder(txtDatabase2, cmdBrowseDB2);
    QWidget::setTabOrder(cmdBrowseDB2, txtConnect2);
    QWidget::setTabOrder(txtConnect2, cmdBrowseODBC2);
    QWidget::setTabOrder(cmdBrowseODBC2, chkData);
    QWidget::setTabOrder(chkData, chkStict);
    QWidget::setTabOrder(chkStict, cmdCompare);
    QWidget::setTabOrder(cmdCompare, tvCompare);
    QWidget::setTabOrder(tvCompare, lvProperties);

    connect(cmdCompare, &QPushButton::clicked, this, &frmMain::cmdCompare_Click);
    connect(tvCompare, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { tvCompare_NodeClick(item); });
    connect(cmdBrowseDB1, &QPushButton::clicked, this, &frmMain::cmdBrowseDB1_Click);
    connect(cmdBrowseDB2, &QPushButton::clicked, this, &frmMain::cmdBrowseDB2_Click);
    connect(cmdBrowseODBC1, &QPushButton::clicked, this, &frmMain::cmdBrowseODBC1_Click);
    connect(cmdBrowseODBC2, &QPushButton::clicked, this, &frmMain::cmdBrowseODBC2_Click);
}

void frmMain::CreateMenus() {
    mnuFile = menuBar()->addMenu(QStringLiteral("File"));
    mnuFileExit = mnuFile->addAction(QStringLiteral("Exit"));
    mnuTools = menuBar()->addMenu(QStringLiteral("Tools"));
    mnuToolsOptions = mnuTools->addAction(QStringLiteral("Options..."));
    mnuHelp = menuBar()->addMenu(QStringLiteral("Help"));
    mnuHelpAbout = mnuHelp->addAction(QStringLiteral("About Kesmark..."));
    connect(mnuFileExit, &QAction::triggered, this, &frmMain::mnuFileExit_Click);
    connect(mnuToolsOptions, &QAction::triggered, this, &frmMain::mnuToolsOptions_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &frmMain::mnuHelpAbout_Click);
}

void frmMain::LoadForm() {
    // The design size, so that the status bar's parts have their real width
    // when the progress bar is placed in the second one.
    resize(TwipsToPixels(kClientWidth, this),
           TwipsToPixels(kClientHeight, this) + menuBar()->sizeHint().height());

    sbStatusBar.Create(this, QString(), 0);
    layout()->activate();
    sbStatusBar.SetParts({kStatusPartEdge, -1});
    const QRect part = sbStatusBar.GetRect(1);
    pbarProgress.Create(part.left(), part.top(), part.width(), part.height(), sbStatusBar.hWnd());

    setWindowTitle(
        QStringLiteral("Kesmark v%1.%2").arg(KESMARK_VERSION_MAJOR).arg(KESMARK_VERSION_MINOR));

    lvProperties->setHeaderLabels(
        {QStringLiteral("Property"), QStringLiteral("Database 1"), QStringLiteral("Database 2")});
    const float listWidth = static_cast<float>(PixelsToTwips(lvProperties->width(), this));
    const float valueWidth = (listWidth - 1800.0f) / 2.0f - 300.0f;
    lvProperties->setColumnWidth(0, TwipsToPixels(1800, this));
    lvProperties->setColumnWidth(1, TwipsToPixels(valueWidth, this));
    lvProperties->setColumnWidth(2, TwipsToPixels(valueWidth, this));

    auto read = [&](const char* key) {
        return QString::fromStdString(settings_.ReadIniString(kGeneralSection, key, ""));
    };
    txtDatabase1->setText(read("Database1"));
    txtConnect1->setText(read("Connect1"));
    txtDatabase2->setText(read("Database2"));
    txtConnect2->setText(read("Connect2"));

    SetStatus(QString());
}

void frmMain::SetStatus(const QString& text) {
    sbStatusBar.SetText(0, text, 0);
}

void frmMain::SetProgress(int position) {
    pbarProgress.SetValue(position);
}

void frmMain::SetMessageHandler(QtHost::MessageHandler handler) {
    host_.SetMessageHandler(std::move(handler));
}

RunInputs frmMain::CurrentInputs() const {
    RunInputs inputs;
    inputs.database1 = Text(txtDatabase1);
    inputs.connect1 = Text(txtConnect1);
    inputs.database2 = Text(txtDatabase2);
    inputs.connect2 = Text(txtConnect2);
    inputs.switches.strict = chkStict->isChecked();
    inputs.switches.data = chkData->isChecked();
    return inputs;
}

void frmMain::cmdCompare_Click() {
    if (gComparing) {
        // A click while the run lets the window handle events: cancel it at
        // its next boundary.
        SetStatus(QStringLiteral("Cancelling..."));
        gCancelRequested = true;
        return;
    }
    resultTree_->Clear();
    propertyList_->Clear();
    gCancelRequested = false;
    gComparing = true;
    cmdCompare->setText(QStringLiteral("Cancel"));

    ComparisonRun run(CurrentInputs(), options_, *resultTree_, host_, opener_);
    run.RunComparison();

    SetProgress(0);
    if (gCancelRequested) {
        SetStatus(QStringLiteral("Cancelled"));
    }
    cmdCompare->setText(QStringLiteral("Compare"));
    gComparing = false;
    if (closeAfterRun_) {
        // The window was asked to close during the run: close it now that
        // the run has let go of everything it used.
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void frmMain::tvCompare_NodeClick(QTreeWidgetItem* node) {
    SetStatus(QString());
    propertyList_->Clear();
    if (!node) {
        return;
    }
    if (!view_) {
        view_ =
            std::make_unique<ResultView>(CurrentInputs(), options_, host_, *propertyList_, opener_);
    }
    view_->SetInputs(CurrentInputs());
    view_->ShowNodeProperties(QtResultTree::KeyOf(node));
}

void frmMain::BrowseDatabase(QLineEdit* database, QLineEdit* connect) {
    CFileDialog dialog;
    dialog.SetDialogMode(FileDialogMode::Open);
    dialog.SetFlags(kOfnExplorer | kOfnFileMustExist | kOfnHideReadOnly);
    dialog.SethwndOwner(this);
    dialog.SetMask(QString::fromLatin1(kDatabaseMask));
    dialog.SetTitle(QStringLiteral("Select Database"));
    const QString file = dialog.FileName();
    if (file.isEmpty()) {
        return;  // cancelled: nothing changes
    }
    database->setText(file);
    connect->clear();
}

void frmMain::cmdBrowseDB1_Click() {
    BrowseDatabase(txtDatabase1, txtConnect1);
}

void frmMain::cmdBrowseDB2_Click() {
    BrowseDatabase(txtDatabase2, txtConnect2);
}

void frmMain::BrowseOdbc(QLineEdit* connect, QLineEdit* database) {
    const QString built = frmODBCLogon::GetODBCString(this);
    if (built.isEmpty()) {
        return;  // cancelled: nothing changes
    }
    connect->setText(built);
    database->clear();
}

void frmMain::cmdBrowseODBC1_Click() {
    BrowseOdbc(txtConnect1, txtDatabase1);
}

void frmMain::cmdBrowseODBC2_Click() {
    BrowseOdbc(txtConnect2, txtDatabase2);
}

void frmMain::mnuFileExit_Click() {
    exiting_ = true;
    gCancelRequested = true;  // a run in progress unwinds at its next boundary
    QCoreApplication::exit(0);
}

void frmMain::mnuToolsOptions_Click() {
    frmOptions options(settings_, this);
    options.exec();
}

void frmMain::mnuHelpAbout_Click() {
    frmAbout about(this);
    about.exec();
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!tvCompare || !lvProperties) {
        return;
    }
    sbStatusBar.Resize();
    const QRect outer = frameGeometry();
    const double height = PixelsToTwips(outer.height(), this);
    const double width = PixelsToTwips(outer.width(), this);
    const auto twips = [](double value) { return static_cast<int>(std::lround(value)); };
    SizeControl(tvCompare, -1, -1, -1, twips(height - 3075), -1, -1, -1, -1);
    SizeControl(lvProperties, -1, -1, twips(width - 4470), twips(height - 3075), -1, -1, -1, -1);
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (exiting_) {
        event->accept();
        return;
    }
    if (gComparing) {
        // The run still uses the bars and the tree: ask it to stop and close
        // when it has returned.
        gCancelRequested = true;
        SetStatus(QStringLiteral("Cancelling..."));
        closeAfterRun_ = true;
        event->ignore();
        return;
    }
    pbarProgress.Destroy();
    sbStatusBar.Destroy();
    // Failures to write are not fatal: the program closes all the same.
    settings_.WriteIniString(kGeneralSection, "Database1", Text(txtDatabase1));
    settings_.WriteIniString(kGeneralSection, "Database2", Text(txtDatabase2));
    settings_.WriteIniString(kGeneralSection, "Connect1", Text(txtConnect1));
    settings_.WriteIniString(kGeneralSection, "Connect2", Text(txtConnect2));
    event->accept();
}

}  // namespace kesmark::ui
