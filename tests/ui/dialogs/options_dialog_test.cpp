// The options dialog on real settings files: what it shows when loaded, what
// Apply and OK write for the page shown, and its keyboard.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>

#include "settings/option_lists.h"
#include "tests/support/test_support.h"
#include "tests/ui/dialogs/dialog_test_support.h"
#include "ui/options_dialog.h"

namespace kesmark::ui {
namespace {

using test::dialogs::WhenShown;
using Names = std::vector<std::string>;

QStringList RowTexts(const QTreeWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        texts << list->topLevelItem(i)->text(0);
    }
    return texts;
}

QTreeWidgetItem* Row(const QTreeWidget* list, const QString& text) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0) == text) {
            return list->topLevelItem(i);
        }
    }
    return nullptr;
}

void Add(QLineEdit* field, QPushButton* add, const QString& name) {
    field->setText(name);
    add->click();
}

void PressKey(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
}

class OptionsDialogTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    std::filesystem::path path_ = dir_ / "Kesmark.ini";
    IniFile ini_{path_};
};

TEST_F(OptionsDialogTest, WithoutASettingsFileEverythingIsTickedAndApplyWritesThirteenFlags) {
    frmOptions dialog(ini_);
    EXPECT_EQ(dialog.tbsOptions->tabToolTip(2), "Set properties used for comparing data");
    EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Skip);
    for (const auto& node : kCompareTree) {
        QTreeWidgetItem* item = dialog.Node(node.tag);
        ASSERT_NE(item, nullptr) << node.tag;
        EXPECT_EQ(item->checkState(0), Qt::Checked) << node.tag;
        EXPECT_FALSE(item->isExpanded()) << node.tag;
    }
    EXPECT_TRUE(dialog.tvCompare->selectedItems().isEmpty());
    EXPECT_EQ(dialog.lvStrict->topLevelItemCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(path_)) << "loading writes nothing";

    dialog.cmdApply->click();
    ASSERT_TRUE(std::filesystem::exists(path_));
    for (const auto tag : kCollectionTags) {
        EXPECT_EQ(ini_.ReadIniString(tag, "Compare", "absent"), "0") << tag;
    }
    EXPECT_EQ(test::ReadFile(path_).find("NumSkip"), std::string::npos);
}

TEST_F(OptionsDialogTest, FieldsUnderQueriesEditsTheQueryFieldsList) {
    test::WriteFile(path_,
                    "[TableFields]\nCompare=1\nNumSkip=1\nSkip1=Size\n"
                    "[QueryFields]\nCompare=1\nNumSkip=2\nSkip1=SourceTable\nSkip2=Size\n");
    frmOptions dialog(ini_);
    EXPECT_EQ(dialog.Node("TableFields")->checkState(0), Qt::Unchecked);
    QTreeWidgetItem* fields = nullptr;
    for (QTreeWidgetItem* item : dialog.tvCompare->findItems("Fields", Qt::MatchRecursive)) {
        if (item->parent() && item->parent()->text(0) == "Queries") {
            fields = item;
        }
    }
    ASSERT_NE(fields, nullptr);
    dialog.tvCompare->setCurrentItem(fields);
    EXPECT_EQ(RowTexts(dialog.lvProperties), (QStringList{"SourceTable", "Size"}));

    Row(dialog.lvProperties, "Size")->setCheckState(0, Qt::Unchecked);
    Add(dialog.txtProperty, dialog.cmdAdd, "Attributes");
    dialog.cmdApply->click();
    EXPECT_EQ(ReadStoredList(ini_, "QueryFields"), (Names{"SourceTable", "Attributes"}));
    EXPECT_EQ(ReadStoredList(ini_, "TableFields"), Names{"Size"});
    // After Apply the unticked row stays in sight, unticked.
    EXPECT_EQ(Row(dialog.lvProperties, "Size")->checkState(0), Qt::Unchecked);
}

TEST_F(OptionsDialogTest, SelectingANodeReloadsItsListDroppingUnsavedChanges) {
    test::WriteFile(path_, "[TableDefs]\nNumSkip=2\nSkip1=Name\nSkip2=Updatable\n");
    frmOptions dialog(ini_);
    dialog.tvCompare->setCurrentItem(dialog.Node("TableDefs"));
    Row(dialog.lvProperties, "Name")->setCheckState(0, Qt::Unchecked);
    Add(dialog.txtProperty, dialog.cmdAdd, "Connect");
    EXPECT_EQ(RowTexts(dialog.lvProperties), (QStringList{"Name", "Updatable", "Connect"}));

    // Adding again finds the row: one copy, and an unticked row stays so.
    Add(dialog.txtProperty, dialog.cmdAdd, "Name");
    EXPECT_EQ(RowTexts(dialog.lvProperties), (QStringList{"Name", "Updatable", "Connect"}));
    EXPECT_EQ(Row(dialog.lvProperties, "Name")->checkState(0), Qt::Unchecked);
    EXPECT_EQ(dialog.txtProperty->text(), "Name") << "the text box keeps its text";

    dialog.tvCompare->setCurrentItem(dialog.Node("Indexes"));
    EXPECT_EQ(dialog.lvProperties->topLevelItemCount(), 0);
    dialog.tvCompare->setCurrentItem(dialog.Node("TableDefs"));
    EXPECT_EQ(RowTexts(dialog.lvProperties), (QStringList{"Name", "Updatable"}));
    EXPECT_EQ(Row(dialog.lvProperties, "Name")->checkState(0), Qt::Checked);
}

TEST_F(OptionsDialogTest, StrictPageWritesTickedRowsOnly) {
    test::WriteFile(path_, "[Strict]\nNumSkip=3\nSkip1=X\nSkip2=Y\nSkip3=Old\n");
    frmOptions dialog(ini_);
    EXPECT_EQ(RowTexts(dialog.lvStrict), (QStringList{"X", "Y", "Old"}));
    dialog.tbsOptions->setCurrentIndex(1);
    EXPECT_TRUE(dialog.picOptions[1]->isEnabled());
    EXPECT_FALSE(dialog.picOptions[0]->isEnabled());

    dialog.lvStrict->clear();
    Add(dialog.txtStrict, dialog.cmdAddStrict, "A");
    Add(dialog.txtStrict, dialog.cmdAddStrict, "B");
    Add(dialog.txtStrict, dialog.cmdAddStrict, "C");
    Row(dialog.lvStrict, "B")->setCheckState(0, Qt::Unchecked);
    dialog.cmdApply->click();

    EXPECT_EQ(ini_.ReadIniString("Strict", "Skip1"), "A");
    EXPECT_EQ(ini_.ReadIniString("Strict", "Skip2"), "C");
    EXPECT_EQ(ini_.ReadIniString("Strict", "NumSkip"), "2");
    EXPECT_EQ(ini_.ReadIniString("Strict", "Skip3"), "Old") << "left, and never read";
    EXPECT_EQ(ini_.ReadIniString("TableDefs", "Compare", "absent"), "absent");
}

TEST_F(OptionsDialogTest, DataPageChoosesHowRecordsAreMatched) {
    test::WriteFile(path_, "[Data]\nNumSkip=1\nSkip1=RecordCount\nMatchRecords=Position\n");
    frmOptions dialog(ini_);
    EXPECT_EQ(dialog.cboMatchRecords->currentText(), "By position");
    EXPECT_EQ(dialog.lblMatchRecords->buddy(), dialog.cboMatchRecords);
    dialog.tbsOptions->setCurrentIndex(2);
    dialog.cboMatchRecords->setCurrentIndex(dialog.cboMatchRecords->findText("By key"));
    dialog.cmdApply->click();
    EXPECT_EQ(ini_.ReadIniString("Data", "MatchRecords"), "Key");
    EXPECT_EQ(ReadStoredList(ini_, "Data"), Names{"RecordCount"});
    EXPECT_EQ(ReadDataOptions(ini_).matching, RecordMatching::Key);

    // Nothing stored reads as by key; another page's Apply leaves it alone.
    std::filesystem::remove(path_);
    frmOptions fresh(ini_);
    EXPECT_EQ(fresh.cboMatchRecords->currentText(), "By key");
    fresh.cboMatchRecords->setCurrentIndex(fresh.cboMatchRecords->findText("By position"));
    fresh.tbsOptions->setCurrentIndex(1);
    fresh.cmdApply->click();
    EXPECT_EQ(ini_.ReadIniString("Data", "MatchRecords", "absent"), "absent");
}

TEST_F(OptionsDialogTest, DataPageChoosesWhetherTablesAreComparedByChecksums) {
    test::WriteFile(path_, "[Data]\nChecksums=off\n");
    frmOptions dialog(ini_);
    EXPECT_EQ(dialog.cboChecksums->currentText(), "Off");
    EXPECT_EQ(dialog.lblChecksums->buddy(), dialog.cboChecksums);
    dialog.tbsOptions->setCurrentIndex(2);
    dialog.cboChecksums->setCurrentIndex(dialog.cboChecksums->findText("Auto"));
    dialog.cmdApply->click();
    EXPECT_EQ(ini_.ReadIniString("Data", "Checksums"), "Auto");
    EXPECT_EQ(ReadDataOptions(ini_).checksums, ChecksumUse::Auto);
    dialog.cboChecksums->setCurrentIndex(dialog.cboChecksums->findText("Off"));
    dialog.cmdApply->click();
    EXPECT_EQ(ReadDataOptions(ini_).checksums, ChecksumUse::Off);

    // Nothing stored reads as Auto.
    std::filesystem::remove(path_);
    frmOptions fresh(ini_);
    EXPECT_EQ(fresh.cboChecksums->currentText(), "Auto");
}

TEST_F(OptionsDialogTest, EnginePageAndTheNameCaseBoxAreSavedLikeTheOtherOptions) {
    test::WriteFile(path_,
                    "[General]\nIgnoreNameCase=1\n"
                    "[Engine]\nNumSkip=2\nSkip1=DeclaredType\nSkip2=Collation\n");
    {
        frmOptions dialog(ini_);
        EXPECT_EQ(RowTexts(dialog.lvEngine), (QStringList{"DeclaredType", "Collation"}));
        EXPECT_TRUE(dialog.chkIgnoreCase->isChecked());
        EXPECT_EQ(dialog.tbsOptions->tabToolTip(3),
                  "Set properties compared only between databases of the same kind");
        dialog.tbsOptions->setCurrentIndex(3);
        EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Engine);
        Row(dialog.lvEngine, "Collation")->setCheckState(0, Qt::Unchecked);
        Add(dialog.txtEngine, dialog.cmdAddEngine, "TypeName");
        dialog.chkIgnoreCase->setChecked(false);
        dialog.cmdOK->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(ReadStoredList(ini_, "Engine"), (Names{"DeclaredType", "TypeName"}));
    EXPECT_FALSE(IgnoreNameCase(ini_));
    EXPECT_EQ(ini_.ReadIniString("Databases", "Compare", "absent"), "absent")
        << "the Skip page is not saved";

    // The box is saved with any page; Cancel saves nothing.
    {
        frmOptions dialog(ini_);
        EXPECT_FALSE(dialog.chkIgnoreCase->isChecked());
        dialog.chkIgnoreCase->setChecked(true);
        dialog.cmdCancel->click();
    }
    EXPECT_FALSE(IgnoreNameCase(ini_));
    {
        frmOptions dialog(ini_);
        dialog.chkIgnoreCase->setChecked(true);
        dialog.tbsOptions->setCurrentIndex(1);
        dialog.cmdApply->click();
    }
    EXPECT_TRUE(IgnoreNameCase(ini_));
}

TEST_F(OptionsDialogTest, OkSavesThePageShownOnly) {
    frmOptions dialog(ini_);
    dialog.tbsOptions->setCurrentIndex(1);
    Add(dialog.txtStrict, dialog.cmdAddStrict, "DateCreated");
    dialog.tbsOptions->setCurrentIndex(0);
    dialog.cmdOK->click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(ini_.ReadIniString("Databases", "Compare"), "0") << "the Skip page was saved";
    EXPECT_EQ(ini_.ReadIniString("Strict", "NumSkip", "absent"), "absent");
}

TEST_F(OptionsDialogTest, CancelAndEscWriteNothing) {
    for (const bool escape : {false, true}) {
        frmOptions dialog(ini_);
        dialog.Node("TableDefs")->setCheckState(0, Qt::Unchecked);
        dialog.tbsOptions->setCurrentIndex(2);
        Add(dialog.txtData, dialog.cmdAddData, "RecordCount");
        if (escape) {
            PressKey(dialog.txtData, Qt::Key_Escape, Qt::NoModifier);
        } else {
            dialog.cmdCancel->click();
        }
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_FALSE(std::filesystem::exists(path_)) << (escape ? "Esc" : "Cancel");
    }
}

TEST_F(OptionsDialogTest, CtrlTabGoesToTheNextTabFromAnywhereAndEnterPressesNothing) {
    frmOptions dialog(ini_);
    dialog.show();
    dialog.tbsOptions->setCurrentIndex(2);
    PressKey(dialog.lvData, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Engine) << "from Data to Engine";
    PressKey(dialog.lvEngine, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Filter);
    PressKey(dialog.lvExclude, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Skip) << "from Filter, the last, back to Skip";
    EXPECT_TRUE(dialog.picOptions[0]->isEnabled());
    EXPECT_FALSE(dialog.picOptions[4]->isEnabled());

    PressKey(dialog.txtProperty, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Strict);
    PressKey(dialog.txtStrict, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Strict) << "Ctrl+Shift+Tab does nothing here";
    PressKey(dialog.txtStrict, Qt::Key_Tab, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Strict);

    dialog.txtStrict->setText("Name");
    PressKey(dialog.txtStrict, Qt::Key_Return, Qt::NoModifier);
    EXPECT_EQ(dialog.lvStrict->topLevelItemCount(), 0) << "Enter is not Add";
    EXPECT_EQ(dialog.result(), 0) << "nor OK";
    EXPECT_FALSE(std::filesystem::exists(path_));
}

TEST_F(OptionsDialogTest, FilterPageEditsTheIncludeAndExcludePatterns) {
    test::WriteFile(path_,
                    "[Filter]\nNumInclude=1\nInclude1=TableDefs[Orders*]\n"
                    "NumExclude=1\nExclude1=QueryDefs[~sq_*]\n[Strict]\nNumSkip=1\nSkip1=A\n");
    frmOptions dialog(ini_);
    EXPECT_EQ(RowTexts(dialog.lvInclude), QStringList{"TableDefs[Orders*]"});
    EXPECT_EQ(RowTexts(dialog.lvExclude), QStringList{"QueryDefs[~sq_*]"});
    dialog.tbsOptions->setCurrentIndex(4);
    EXPECT_EQ(dialog.SelectedPage(), OptionsPage::Filter);
    EXPECT_TRUE(dialog.picOptions[4]->isEnabled());

    QString message;
    WhenShown<QMessageBox>([&](QMessageBox& box) {
        message = box.text();
        box.accept();
    });
    Add(dialog.txtExclude, dialog.cmdAddExclude, "Orders");
    EXPECT_EQ(message.toStdString(),
              "Pattern 'Orders' is not a node key such as TableDefs[tmp_*] (write names in "
              "brackets, doubling a bracket inside a name).");
    EXPECT_EQ(RowTexts(dialog.lvExclude), QStringList{"QueryDefs[~sq_*]"});
    Add(dialog.txtExclude, dialog.cmdAddExclude, "TableDefs[tmp_*]");
    Row(dialog.lvInclude, "TableDefs[Orders*]")->setCheckState(0, Qt::Unchecked);
    dialog.cmdApply->click();
    const FilterPatterns saved = ReadFilterPatterns(ini_);
    EXPECT_EQ(saved.include, Names{});
    EXPECT_EQ(saved.exclude, (Names{"QueryDefs[~sq_*]", "TableDefs[tmp_*]"}));
    EXPECT_EQ(ReadStoredList(ini_, "Strict"), Names{"A"}) << "only the page shown is saved";
}

TEST_F(OptionsDialogTest, ASettingsFileThatCannotBeWrittenIsReportedAndOkStays) {
    test::WriteFile(dir_ / "plain-file", "");
    IniFile unwritable(dir_ / "plain-file" / "Kesmark.ini");
    frmOptions dialog(unwritable);
    QString message;
    WhenShown<QMessageBox>([&](QMessageBox& box) {
        message = box.text();
        box.accept();
    });
    dialog.cmdOK->click();
    EXPECT_TRUE(message.startsWith("The options could not be saved to ")) << message.toStdString();
    EXPECT_NE(dialog.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace kesmark::ui
