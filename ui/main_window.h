#pragma once

// frmMain, the program's one window: the two databases to compare, the
// Compare command with its "Data" and "Strict" switches, the result tree, the
// property list of the selected node, and a status bar with a progress bar.

#include <QMainWindow>
#include <atomic>
#include <filesystem>
#include <memory>

#include "engine/compare/comparison_run.h"
#include "settings/ini_file.h"
#include "settings/option_lists.h"
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
    // from the settings file at `settingsPath`. Databases are opened through
    // `opener`.
    frmMain(const std::filesystem::path& settingsPath, DatabaseOpener opener,
            QWidget* parent = nullptr);
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
    QLineEdit* txtConnect1 = nullptr;
    QPushButton* cmdBrowseODBC1 = nullptr;
    QLabel* lblDatabase2 = nullptr;
    QLineEdit* txtDatabase2 = nullptr;
    QPushButton* cmdBrowseDB2 = nullptr;
    QLabel* lblConnect2 = nullptr;
    QLineEdit* txtConnect2 = nullptr;
    QPushButton* cmdBrowseODBC2 = nullptr;
    QGroupBox* fraCompare = nullptr;
    QCheckBox* chkData = nullptr;
    QCheckBox* chkStict = nullptr;
    QPushButton* cmdCompare = nullptr;
    QTreeWidget* tvCompare = nullptr;
    QTreeWidget* lvProperties = nullptr;
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

  public slots:
    // Compare, or Cancel while a run is in progress.
    void cmdCompare_Click();
    // Lists the properties of the selected node's objects.
    void tvCompare_NodeClick(QTreeWidgetItem* node);
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

    IniFile settings_;
    IniComparisonOptions options_{settings_};
    DatabaseOpener opener_;
    std::unique_ptr<QtResultTree> resultTree_;
    std::unique_ptr<QtPropertyList> propertyList_;
    QtHost host_;
    std::unique_ptr<ResultView> view_;
    bool closeAfterRun_ = false;
    bool exiting_ = false;
};

}  // namespace kesmark::ui
