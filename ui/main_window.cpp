#include "ui/main_window.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cmath>
#include <cstdio>

#include "engine/sync/sync_file.h"
#include "settings/option_lists.h"
#include "ui/about_box.h"
#include "ui/cut_text_delegate.h"
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

// The kinds of file a database field can name: first every database file the
// program reads, then Access databases of both formats and SQLite databases
// apart, then any file (a SQLite file is recognised by its content whatever
// its name).
constexpr const char* kDatabaseMask =
    "Databases (*.mdb;*.accdb;*.db;*.sqlite;*.sqlite3;*.db3)|"
    "*.mdb;*.accdb;*.db;*.sqlite;*.sqlite3;*.db3|"
    "Microsoft Access Databases (*.mdb)|*.mdb|"
    "Microsoft Access 2007+ Databases (*.accdb)|*.accdb|"
    "SQLite Databases (*.db;*.sqlite;*.sqlite3;*.db3)|*.db;*.sqlite;*.sqlite3;*.db3|"
    "All Files (*.*)|*.*";

// Keeps the columns of a list filling its width: each column keeps its share
// of the width as the list grows or shrinks, and a column the user resizes
// takes its width from the last column, whose share follows.
class ColumnShare : public QObject {
  public:
    // `list` is not owned; the object lives as the list's child.
    ColumnShare(QTreeView* list, std::vector<double> shares)
        : QObject(list), list_(list), shares_(std::move(shares)) {
        QHeaderView* header = list_->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(QHeaderView::Interactive);
        list_->viewport()->installEventFilter(this);
        QObject::connect(header, &QHeaderView::sectionResized, this,
                         [this](int column, int, int) { TakeUserWidth(column); });
        Apply();
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == list_->viewport() && event->type() == QEvent::Resize) {
            Apply();
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    int Width() const { return list_->viewport()->width(); }

    void Apply() {
        const int width = Width();
        if (width <= 0) {
            return;
        }
        applying_ = true;
        int used = 0;
        const int last = static_cast<int>(shares_.size()) - 1;
        for (int column = 0; column < last; ++column) {
            const int w = static_cast<int>(std::lround(shares_[column] * width));
            list_->setColumnWidth(column, w);
            used += w;
        }
        list_->setColumnWidth(last, std::max(kMinimumWidth, width - used));
        applying_ = false;
    }

    void TakeUserWidth(int column) {
        if (applying_) {
            return;
        }
        const int last = static_cast<int>(shares_.size()) - 1;
        if (column != last) {
            int others = 0;
            for (int c = 0; c < last; ++c) {
                others += list_->columnWidth(c);
            }
            applying_ = true;
            list_->setColumnWidth(last, std::max(kMinimumWidth, Width() - others));
            applying_ = false;
        }
        int total = 0;
        for (int c = 0; c <= last; ++c) {
            total += list_->columnWidth(c);
        }
        for (int c = 0; c <= last && total > 0; ++c) {
            shares_[c] = static_cast<double>(list_->columnWidth(c)) / total;
        }
    }

    static constexpr int kMinimumWidth = 30;
    QTreeView* list_;  // Not owned.
    std::vector<double> shares_;
    bool applying_ = false;
};

// The first line of a failure's description, for the status bar.
QString FirstLine(const std::string& text) {
    const QString all = QString::fromStdString(text);
    return all.left(all.indexOf(QRegularExpression(QStringLiteral("[\r\n]"))));
}

}  // namespace

frmMain::frmMain(const SettingsLocation& settings, DatabaseOpener opener, QWidget* parent)
    : QMainWindow(parent),
      ilTreeview(1.0),
      settings_(settings.file, settings.fallback),
      opener_(std::move(opener)),
      host_(*this) {
    settings_.SetProblemHandler(
        [this](const std::string& message) { ReportSettingsProblem(message); });
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
    auto connectField = [&](int l, int t, int w, int h) {
        auto* x = new ConnectField(client);
        Place(x, l, t, w, h);
        return x;
    };

    lblConnect1 = label("Connect 1", 5160, 240, 855, 255);
    txtConnect1 = connectField(6000, 240, 4095, 285);
    cmdBrowseODBC1 = button("...", client, 10200, 240, 495, 375);
    lblDatabase2 = label("Database 2", 120, 600, 975, 255);
    txtDatabase2 = field(1080, 600, 3375, 285);
    cmdBrowseDB2 = button("...", client, 4560, 600, 495, 375);
    lblConnect2 = label("Connect 2", 5160, 600, 855, 255);
    txtConnect2 = connectField(6000, 600, 4095, 285);
    cmdBrowseODBC2 = button("...", client, 10200, 600, 495, 375);

    fraCompare = new QGroupBox(QStringLiteral("Compare"), client);
    Place(fraCompare, 120, 960, 10575, 855);
    chkData = new QCheckBox(QStringLiteral("Data"), fraCompare);
    Place(chkData, 120, 240, 735, 255);
    chkStict = new QCheckBox(QStringLiteral("Strict"), fraCompare);
    Place(chkStict, 120, 480, 855, 255);
    cmdCompare = button("Compare", fraCompare, 960, 240, 9495, 495);

    // The results fill the design places of the tree and the list, and share
    // the width between them as the window grows.
    splResults = new QSplitter(Qt::Horizontal, client);
    splResults->setChildrenCollapsible(false);
    Place(splResults, 120, 1920, 10575, 3855);

    auto* pnlTree = new QWidget(splResults);
    auto* treeLayout = new QVBoxLayout(pnlTree);
    treeLayout->setContentsMargins(0, 0, 0, 0);
    treeLayout->setSpacing(2);
    auto* tools = new QHBoxLayout();
    tools->setSpacing(2);
    chkOnlyDifferences = new QCheckBox(QStringLiteral("Only differences"), pnlTree);
    chkOnlyDifferences->setToolTip(QStringLiteral("Hide the objects that are the same"));
    cmdExpandAll = new QToolButton(pnlTree);
    cmdExpandAll->setText(QStringLiteral("Expand all"));
    cmdCollapseAll = new QToolButton(pnlTree);
    cmdCollapseAll->setText(QStringLiteral("Collapse all"));
    tools->addWidget(chkOnlyDifferences);
    tools->addStretch(1);
    tools->addWidget(cmdExpandAll);
    tools->addWidget(cmdCollapseAll);
    treeLayout->addLayout(tools);
    txtFind = new QLineEdit(pnlTree);
    txtFind->setPlaceholderText(QStringLiteral("Find a name (Ctrl+F, then Enter or F3)"));
    txtFind->setClearButtonEnabled(true);
    treeLayout->addWidget(txtFind);
    tvCompare = new QTreeWidget(pnlTree);
    tvCompare->setHeaderHidden(true);
    tvCompare->setColumnCount(1);
    tvCompare->setIconSize(QSize(16, 16));
    tvCompare->setItemDelegate(new CutTextDelegate(tvCompare));
    treeLayout->addWidget(tvCompare, 1);

    splProperties = new QSplitter(Qt::Vertical, splResults);
    splProperties->setChildrenCollapsible(false);
    lvProperties = new QTreeWidget(splProperties);
    lvProperties->setRootIsDecorated(false);
    lvProperties->setColumnCount(3);
    lvProperties->setIconSize(QSize(16, 16));
    lvProperties->setAllColumnsShowFocus(true);
    lvProperties->setUniformRowHeights(true);
    lvProperties->setWordWrap(false);
    lvProperties->setItemDelegate(new CutTextDelegate(lvProperties));
    pnlDiff = new DiffPane(splProperties);
    splProperties->setStretchFactor(0, 3);
    splProperties->setStretchFactor(1, 2);

    splResults->setStretchFactor(0, 2);
    splResults->setStretchFactor(1, 3);
    splResults->setSizes({TwipsToPixels(3975, this), TwipsToPixels(6495, this)});

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
    QWidget::setTabOrder(cmdCompare, chkOnlyDifferences);
    QWidget::setTabOrder(chkOnlyDifferences, cmdExpandAll);
    QWidget::setTabOrder(cmdExpandAll, cmdCollapseAll);
    QWidget::setTabOrder(cmdCollapseAll, txtFind);
    QWidget::setTabOrder(txtFind, tvCompare);
    QWidget::setTabOrder(tvCompare, lvProperties);
    QWidget::setTabOrder(lvProperties, pnlDiff->txtSide[0]);
    QWidget::setTabOrder(pnlDiff->txtSide[0], pnlDiff->cmdCopy[0]);
    QWidget::setTabOrder(pnlDiff->cmdCopy[0], pnlDiff->txtSide[1]);
    QWidget::setTabOrder(pnlDiff->txtSide[1], pnlDiff->cmdCopy[1]);

    connect(cmdCompare, &QPushButton::clicked, this, &frmMain::cmdCompare_Click);
    // A node becomes current by a click or by the keyboard: either lists it.
    // The click that made it current does not list it a second time; a click
    // on the current node lists it again.
    connect(tvCompare, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                ++currentChanges_;
                tvCompare_NodeClick(current);
            });
    tvCompare->viewport()->installEventFilter(this);
    connect(tvCompare, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item, int) {
        if (currentChanges_ != currentChangesAtPress_) {
            return;  // this click made the node current, which listed it
        }
        tvCompare_NodeClick(item);
    });
    connect(
        lvProperties, &QTreeWidget::currentItemChanged, this,
        [this](QTreeWidgetItem* current, QTreeWidgetItem*) { lvProperties_RowSelected(current); });
    connect(chkOnlyDifferences, &QCheckBox::toggled, this, [this](bool only) {
        resultTree_->SetOnlyDifferences(only);
        if (QTreeWidgetItem* current = tvCompare->currentItem()) {
            tvCompare->scrollToItem(current);
        }
    });
    connect(cmdExpandAll, &QToolButton::clicked, tvCompare, &QTreeWidget::expandAll);
    connect(cmdCollapseAll, &QToolButton::clicked, this, [this] {
        tvCompare->collapseAll();
        // The root stays open: its tables, queries, relations and containers
        // are the first thing to look at.
        for (int i = 0; i < tvCompare->topLevelItemCount(); ++i) {
            tvCompare->topLevelItem(i)->setExpanded(true);
        }
    });
    connect(txtFind, &QLineEdit::returnPressed, this, &frmMain::FindNext);
    auto* find = new QShortcut(QKeySequence::Find, this);
    connect(find, &QShortcut::activated, this, [this] {
        txtFind->setFocus(Qt::ShortcutFocusReason);
        txtFind->selectAll();
    });
    auto* findNext = new QShortcut(QKeySequence::FindNext, this);
    connect(findNext, &QShortcut::activated, this, &frmMain::FindNext);
    connect(cmdBrowseDB1, &QPushButton::clicked, this, &frmMain::cmdBrowseDB1_Click);
    connect(cmdBrowseDB2, &QPushButton::clicked, this, &frmMain::cmdBrowseDB2_Click);
    connect(cmdBrowseODBC1, &QPushButton::clicked, this, &frmMain::cmdBrowseODBC1_Click);
    connect(cmdBrowseODBC2, &QPushButton::clicked, this, &frmMain::cmdBrowseODBC2_Click);
}

void frmMain::CreateMenus() {
    mnuFile = menuBar()->addMenu(QStringLiteral("File"));
    mnuFileSaveSync = mnuFile->addAction(QStringLiteral("Save sync script..."));
    mnuFileSaveSync->setEnabled(false);
    mnuFile->addSeparator();
    mnuFileExit = mnuFile->addAction(QStringLiteral("Exit"));
    mnuTools = menuBar()->addMenu(QStringLiteral("Tools"));
    mnuToolsOptions = mnuTools->addAction(QStringLiteral("Options..."));
    mnuHelp = menuBar()->addMenu(QStringLiteral("Help"));
    mnuHelpAbout = mnuHelp->addAction(QStringLiteral("About Kesmark..."));
    connect(mnuFileSaveSync, &QAction::triggered, this, &frmMain::mnuFileSaveSync_Click);
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

    // The columns start in the proportions of the design (1800 twips for the
    // name, the rest shared by the two values) and keep sharing the width.
    lvProperties->setHeaderLabels(
        {QStringLiteral("Property"), QStringLiteral("Database 1"), QStringLiteral("Database 2")});
    constexpr double kDesignListWidth = 6495.0;
    constexpr double kValueWidth = (kDesignListWidth - 1800.0) / 2.0 - 300.0;
    constexpr double kColumns = 1800.0 + 2 * kValueWidth;
    new ColumnShare(lvProperties,
                    {1800.0 / kColumns, kValueWidth / kColumns, kValueWidth / kColumns});

    auto read = [&](const char* key) {
        return QString::fromStdString(settings_.ReadIniString(kGeneralSection, key, ""));
    };
    txtDatabase1->setText(read("Database1"));
    txtConnect1->setText(read("Connect1"));
    txtDatabase2->setText(read("Database2"));
    txtConnect2->setText(read("Connect2"));

    SetStatus(QString());
}

void frmMain::ReportSettingsProblem(const std::string& message) {
    std::fprintf(stderr, "kesmark: %s\n", message.c_str());
    // Not from inside the read that met the problem: the window may still be
    // loading, or a run may be reading its options.
    QTimer::singleShot(0, this, [this, message] {
        host_.ShowMessage(message, "Kesmark", MessageIcon::Exclamation);
    });
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
    inputs.connect1 = txtConnect1->ConnectString().toStdString();
    inputs.database2 = Text(txtDatabase2);
    inputs.connect2 = txtConnect2->ConnectString().toStdString();
    inputs.switches.strict = chkStict->isChecked();
    inputs.switches.data = chkData->isChecked();
    return inputs;
}

void frmMain::cmdCompare_Click() {
    if (gComparing) {
        if (runStarted_.isValid() && runStarted_.elapsed() < QApplication::doubleClickInterval()) {
            // The second click of a double click on Compare: it started the
            // run, and does not cancel it.
            return;
        }
        // A click while the run lets the window handle events: cancel it at
        // its next boundary.
        SetStatus(QStringLiteral("Cancelling..."));
        gCancelRequested = true;
        return;
    }
    runStopped_.clear();
    resultTree_->Clear();
    propertyList_->Clear();
    pnlDiff->Clear();
    gCancelRequested = false;
    gComparing = true;
    cmdCompare->setText(QStringLiteral("Cancel"));
    runInputs_ = CurrentInputs();
    runStarted_.start();
    mnuFileSaveSync->setEnabled(false);

    ComparisonRun run(runInputs_, options_, *resultTree_, host_, opener_);
    const RunOutcome outcome = run.RunComparison();

    SetProgress(0);
    mnuFileSaveSync->setEnabled(outcome == RunOutcome::Done && !gCancelRequested);
    if (outcome == RunOutcome::Stopped) {
        // The tree is incomplete: the status bar says why for as long as the
        // tree stays.
        if (gCancelRequested) {
            runStopped_ = QStringLiteral("Cancelled");
        } else if (!run.Failure().empty()) {
            runStopped_ = QStringLiteral("Stopped by an error: ") + FirstLine(run.Failure());
        } else {
            runStopped_ = QStringLiteral("Stopped by an error");
        }
        SetStatus(runStopped_);
    } else if (gCancelRequested) {
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
    SetStatus(runStopped_);
    propertyList_->Clear();
    pnlDiff->Clear();
    if (!node) {
        return;
    }
    if (!view_) {
        view_ = std::make_unique<ResultView>(runInputs_, options_, host_, *propertyList_, opener_);
    }
    view_->SetInputs(runInputs_);
    view_->ShowNodeProperties(QtResultTree::KeyOf(node));
    // The first property that differs is the first one to look at.
    for (int i = 0; i < lvProperties->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = lvProperties->topLevelItem(i);
        const PropertyRow* shown = propertyList_->RowOf(row);
        if (shown && shown->icon == property_rows::kDifferentIcon) {
            lvProperties->setCurrentItem(row);
            break;
        }
    }
}

void frmMain::lvProperties_RowSelected(QTreeWidgetItem* row) {
    const PropertyRow* shown = propertyList_->RowOf(row);
    if (!shown) {
        pnlDiff->Clear();
        return;
    }
    pnlDiff->ShowRow(*shown);
}

void frmMain::FindNext() {
    const QString text = txtFind->text();
    if (text.isEmpty()) {
        return;
    }
    QTreeWidgetItem* found = resultTree_->FindNext(text, tvCompare->currentItem());
    if (!found) {
        SetStatus(resultTree_->OnlyDifferences()
                      ? QStringLiteral("No differing object's name contains \"%1\"").arg(text)
                      : QStringLiteral("No object's name contains \"%1\"").arg(text));
        return;
    }
    for (QTreeWidgetItem* owner = found->parent(); owner; owner = owner->parent()) {
        owner->setExpanded(true);
    }
    tvCompare->setCurrentItem(found);
    tvCompare->scrollToItem(found);
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

void frmMain::mnuFileSaveSync_Click() {
    CFileDialog dialog;
    dialog.SetDialogMode(FileDialogMode::Save);
    dialog.SethwndOwner(this);
    dialog.SetMask(QStringLiteral("SQL Scripts (*.sql)|*.sql|All Files (*.*)|*.*"));
    dialog.SetTitle(QStringLiteral("Save Sync Script"));
    const QString file = dialog.FileName();
    if (!file.isEmpty()) {
        SaveSyncScript(file);
    }
}

bool frmMain::SaveSyncScript(const QString& path) {
    SetStatus(QStringLiteral("Writing the sync script"));
    host_.SetBusyPointer(true);
    try {
        const sync::SyncSummary summary =
            sync::WriteSyncScriptFile(runInputs_, options_, opener_, path.toStdString(), host_);
        host_.SetBusyPointer(false);
        if (!summary.completed) {
            SetStatus(QStringLiteral("Cancelled"));
            return false;
        }
        SetStatus(QStringLiteral("Sync script saved: %1 statements; %2 changes could not be "
                                 "expressed")
                      .arg(summary.statements)
                      .arg(summary.notExpressible));
        return true;
    } catch (const DbError& e) {
        host_.SetBusyPointer(false);
        SetStatus(QString());
        host_.ShowMessage(e.Description(), e.Source(), MessageIcon::Critical);
        return false;
    }
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

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (tvCompare && watched == tvCompare->viewport() &&
        event->type() == QEvent::MouseButtonPress) {
        currentChangesAtPress_ = currentChanges_;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (!splResults) {
        return;
    }
    sbStatusBar.Resize();
    const QRect outer = frameGeometry();
    const double height = PixelsToTwips(outer.height(), this);
    const double width = PixelsToTwips(outer.width(), this);
    const auto twips = [](double value) { return static_cast<int>(std::lround(value)); };
    // The results keep their left edge and top, and follow the window's width
    // and height: their right edge stays where the list's right edge was
    // designed (the list's width Wd - 4470 from its left edge 4200).
    SizeControl(splResults, -1, -1, twips(width - 390), twips(height - 3075), -1, -1, -1, -1);
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
    // Failures to write are not fatal: the program closes all the same,
    // saying so on standard error.
    bool saved = settings_.WriteIniString(kGeneralSection, "Database1", Text(txtDatabase1));
    saved = settings_.WriteIniString(kGeneralSection, "Database2", Text(txtDatabase2)) && saved;
    saved = settings_.WriteIniString(kGeneralSection, "Connect1",
                                     txtConnect1->ConnectString().toStdString()) &&
            saved;
    saved = settings_.WriteIniString(kGeneralSection, "Connect2",
                                     txtConnect2->ConnectString().toStdString()) &&
            saved;
    if (!saved) {
        std::fprintf(stderr, "kesmark: the databases could not be saved in '%s'\n",
                     settings_.Path().c_str());
    }
    event->accept();
}

}  // namespace kesmark::ui
