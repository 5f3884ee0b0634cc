#pragma once

// frmOptions, "Options": edits the comparison options of the settings file.
// The Skip page ticks the kinds of object not to compare and lists, for the
// selected kind, the properties never compared; the Strict and Data pages list
// the properties compared only in strict comparison and only with data
// comparison; the Data page also chooses how records are matched; the Engine
// page those compared only between two databases of the same kind; the
// Filter page lists node key patterns of the objects to compare (include) and
// to leave out (exclude). Apply (and OK) save the page shown, and only that
// page, and the check box below the pages, "Ignore case in names".

#include <QDialog>
#include <QIcon>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "settings/ini_file.h"
#include "settings/options_model.h"

class QComboBox;
class QLabel;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace kesmark::ui {

class frmOptions : public QDialog {
    Q_OBJECT
  public:
    // Loads the dialog from `settings` (which must outlive it): the Strict
    // and Data lists, and the tree with a tick on every kind of object whose
    // Compare flag is 0. The Skip page shows first, with no node selected and
    // an empty list. The dialog is centred on the screen.
    explicit frmOptions(IniFile& settings, QWidget* owner = nullptr);

    // Controls, named as on the form; owned by the dialog.
    QTabWidget* tbsOptions = nullptr;
    std::array<QWidget*, 5> picOptions{};  // the pages, in tab order
    QTreeWidget* tvCompare = nullptr;
    QLineEdit* txtProperty = nullptr;
    QPushButton* cmdAdd = nullptr;
    QTreeWidget* lvProperties = nullptr;
    QLineEdit* txtStrict = nullptr;
    QPushButton* cmdAddStrict = nullptr;
    QTreeWidget* lvStrict = nullptr;
    QLineEdit* txtData = nullptr;
    QPushButton* cmdAddData = nullptr;
    QTreeWidget* lvData = nullptr;
    QLabel* lblMatchRecords = nullptr;
    // How the data comparison matches records: "By key" or "By position".
    QComboBox* cboMatchRecords = nullptr;
    QLabel* lblChecksums = nullptr;
    QComboBox* cboChecksums = nullptr;
    QLineEdit* txtEngine = nullptr;
    QPushButton* cmdAddEngine = nullptr;
    QTreeWidget* lvEngine = nullptr;
    // Ticked: names that differ only in letter case name one object
    // ([General] IgnoreNameCase).
    QCheckBox* chkIgnoreCase = nullptr;
    QLineEdit* txtInclude = nullptr;
    QPushButton* cmdAddInclude = nullptr;
    QTreeWidget* lvInclude = nullptr;
    QLineEdit* txtExclude = nullptr;
    QPushButton* cmdAddExclude = nullptr;
    QTreeWidget* lvExclude = nullptr;
    QPushButton* cmdOK = nullptr;
    QPushButton* cmdCancel = nullptr;
    QPushButton* cmdApply = nullptr;

    // The tree node of a collection tag; null for an unknown tag.
    QTreeWidgetItem* Node(std::string_view tag) const;
    // The page of the selected tab.
    OptionsPage SelectedPage() const;

  public slots:
    // Shows the page of the selected tab, enabled, and disables the others.
    void tbsOptions_Click();
    // Shows the Skip list of `node`'s tag, as stored, in lvProperties (empty
    // for no node). Runs whenever the tree's selection changes.
    void tvCompare_NodeClick(QTreeWidgetItem* node);
    void cmdAdd_Click();
    void cmdAddStrict_Click();
    void cmdAddData_Click();
    void cmdAddEngine_Click();
    // Adds the pattern typed; a text that is no node key pattern is refused
    // with a message saying why.
    void cmdAddInclude_Click();
    void cmdAddExclude_Click();
    // Saves the page shown and the check box "Ignore case in names". Returns
    // false, after telling the user, when the settings file could not be
    // written.
    bool cmdApply_Click();
    // Saves the page shown and closes the dialog; stays open when saving
    // failed.
    void cmdOK_Click();
    // Closes the dialog without saving (also Esc and the close button).
    void cmdCancel_Click();

  protected:
    // Sees every key first, wherever the focus is: Ctrl+Tab selects the next
    // tab (the first after the last).
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void LoadCompareTree();
    void LoadStrictList();
    void LoadDataList();
    void LoadEngineList();
    void LoadFilterLists();
    void AddName(QLineEdit* field, QTreeWidget* list);
    void AddPattern(QLineEdit* field, QTreeWidget* list);

    IniFile& settings_;
    std::array<QIcon, 9> ilTreeview;
    // The tag whose Skip list lvProperties shows; none while no node is
    // selected.
    std::optional<std::string> listTag_;
};

}  // namespace kesmark::ui
