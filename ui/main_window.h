#pragma once

// frmMain, the program's one window: the two databases to compare, the
// Compare command with its "Data" and "Strict" switches, the result tree with
// its tools (only differences, expand and collapse all, find), the property
// list of the selected node with the difference pane of the selected
// property under it, and a status bar with a progress bar.

#include <QElapsedTimer>
#include <QMainWindow>
#include <atomic>
#include <filesystem>
#include <memory>

#include "engine/compare/comparison_run.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"
#include "settings/settings_location.h"
#include "ui/connect_field.h"
#include "ui/diff_pane.h"
#include "ui/image_list.h"
#include "ui/property_list_widget.h"
#include "ui/qt_host.h"
#include "ui/result_tree_widget.h"
#include "ui/status_bar_ctl.h"

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace kesmark {
class ResultView;
}

namespace kesmark::ui {

class frmMain : public QMainWindow {
    Q_OBJECT
  public:
    // Loads the window: bars, caption, list columns, the four database fields
    // from the settings file at `settings` (which the window and its options
    // dialog also write). Databases are opened through `opener`. A settings
    // file that cannot be used is said on standard error and, once the event
    // loop runs, in a message box; the window goes on with the defaults.
    frmMain(const SettingsLocation& settings, DatabaseOpener opener, QWidget* parent = nullptr);
    ~frmMain() override;

    // The status text (part 0 of the status bar) and the progress position.
    void SetStatus(const QString& text);
    void SetProgress(int position);

    // Where messages go instead of message boxes (tests).
    void SetMessageHandler(QtHost::MessageHandler handler);

    // The run's state: true while a run started by cmdCompare is in progress,
    // and the cancel request that run polls.
    bool gComparing = false;
    std::atomic<bool> gCancelRequested{false};

    // Controls, named as on the form; owned by the window.
    QLabel* lblDatabase1 = nullptr;
    QLineEdit* txtDatabase1 = nullptr;
    QPushButton* cmdBrowseDB1 = nullptr;
    QLabel* lblConnect1 = nullptr;
    ConnectField* txtConnect1 = nullptr;
    QPushButton* cmdBrowseODBC1 = nullptr;
    QLabel* lblDatabase2 = nullptr;
    QLineEdit* txtDatabase2 = nullptr;
    QPushButton* cmdBrowseDB2 = nullptr;
    QLabel* lblConnect2 = nullptr;
    ConnectField* txtConnect2 = nullptr;
    QPushButton* cmdBrowseODBC2 = nullptr;
    QGroupBox* fraCompare = nullptr;
    QCheckBox* chkData = nullptr;
    QCheckBox* chkStict = nullptr;
    QPushButton* cmdCompare = nullptr;
    // The results below the Compare frame: the tree and its tools on the
    // left; the property list over the difference pane on the right.
    QSplitter* splResults = nullptr;
    QCheckBox* chkOnlyDifferences = nullptr;
    QToolButton* cmdExpandAll = nullptr;
    QToolButton* cmdCollapseAll = nullptr;
    QLineEdit* txtFind = nullptr;
    QTreeWidget* tvCompare = nullptr;
    QSplitter* splProperties = nullptr;
    QTreeWidget* lvProperties = nullptr;
    DiffPane* pnlDiff = nullptr;
    QMenu* mnuFile = nullptr;
    QAction* mnuFileExit = nullptr;
    QMenu* mnuTools = nullptr;
    QAction* mnuToolsOptions = nullptr;
    QMenu* mnuHelp = nullptr;
    QAction* mnuHelpAbout = nullptr;

    ImageList ilTreeview;
    CStatusBarCtl sbStatusBar;
    CProgressBarCtl pbarProgress;

    // The result tree as the engine writes it.
    QtResultTree& ResultTreeInterface() { return *resultTree_; }
    // The property list as the result view writes it.
    const QtPropertyList& PropertyListInterface() const { return *propertyList_; }

  public slots:
    // Compare, or Cancel while a run is in progress. A click that comes
    // within the double-click interval of the one that started the run is
    // the second half of a double click, and changes nothing.
    void cmdCompare_Click();
    // Lists the properties of the selected node's objects, as the databases
    // and switches of the run that built the tree give them.
    void tvCompare_NodeClick(QTreeWidgetItem* node);
    // Shows the selected property's two values in the difference pane.
    void lvProperties_RowSelected(QTreeWidgetItem* row);
    // Selects the next node whose name contains the find field's text.
    void FindNext();
    void cmdBrowseDB1_Click();
    void cmdBrowseDB2_Click();
    void cmdBrowseODBC1_Click();
    void cmdBrowseODBC2_Click();
    // Ends the program at once, without saving the database fields.
    void mnuFileExit_Click();
    // Shows the options dialog; what it saves is used by the next run.
    void mnuToolsOptions_Click();
    void mnuHelpAbout_Click();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateControls();
    void CreateMenus();
    void LoadForm();
    RunInputs CurrentInputs() const;
    // A file chosen in the file dialog fills `database` and empties
    // `connect`; cancelling changes neither.
    void BrowseDatabase(QLineEdit* database, QLineEdit* connect);
    // A connect string built in the ODBC dialog fills `connect` and empties
    // `database`; cancelling changes neither.
    void BrowseOdbc(QLineEdit* connect, QLineEdit* database);
    // Says that the settings file cannot be used (see the constructor).
    void ReportSettingsProblem(const std::string& message);

    IniFile settings_;
    IniComparisonOptions options_{settings_};
    // The inputs of the run that built the tree: the listing of a node reads
    // these, whatever the fields say now.
    RunInputs runInputs_;
    // Why the tree is incomplete ("Cancelled", the failure that stopped the
    // run), kept in the status bar; empty after a run that finished.
    QString runStopped_;
    QElapsedTimer runStarted_;
    // How often the current node changed, in all and when the mouse was last
    // pressed on the tree: a click that changed it has listed it already.
    int currentChanges_ = 0;
    int currentChangesAtPress_ = 0;
    DatabaseOpener opener_;
    std::unique_ptr<QtResultTree> resultTree_;
    std::unique_ptr<QtPropertyList> propertyList_;
    QtHost host_;
    std::unique_ptr<ResultView> view_;
    bool closeAfterRun_ = false;
    bool exiting_ = false;
};

}  // namespace kesmark::ui
