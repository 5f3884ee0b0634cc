// CFileDialog over Qt's file dialog: the mask, the flags of each mode, and
// what reading FileName leaves in the properties after a choice or a cancel.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFileDialog>

#include "tests/support/test_support.h"
#include "tests/ui/dialogs/dialog_test_support.h"
#include "ui/file_dialog.h"

namespace kesmark::ui {
namespace {

using test::dialogs::WhenShown;

QString Q(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

TEST(ConvertMask, PairsOfDescriptionAndPatterns) {
    struct Case {
        const char* scenario;
        QString mask;
        QStringList filters;
    };
    const std::vector<Case> cases = {
        {"the database mask",
         "Microsoft Access Databases (*.mdb)|*.mdb|All Files (*.*)|*.*",
         {"Microsoft Access Databases (*.mdb) (*.mdb)", "All Files (*.*) (*)"}},
        {"an empty mask is every file", "", {"All Files (*.*) (*)"}},
        {"several patterns of one filter",
         "SQLite (*.db;*.sqlite)|*.db; *.sqlite",
         {"SQLite (*.db;*.sqlite) (*.db *.sqlite)"}},
        {"a description without patterns is left out",
         "Text (*.txt)|*.txt|Orphan",
         {"Text (*.txt) (*.txt)"}},
        {"empty patterns are left out", "Nothing||Text|*.txt", {"Text (*.txt)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(ConvertMask(c.mask), c.filters);
    }
}

TEST(CFileDialog, DialogModeSetsTheFlagsOfTheMode) {
    CFileDialog dialog;
    dialog.SetDialogMode(FileDialogMode::Open);
    EXPECT_EQ(dialog.Flags(), 0x8180Cu);
    dialog.SetDialogMode(FileDialogMode::Save);
    EXPECT_EQ(dialog.Flags(), 0x8280Eu);
    dialog.SetDialogMode(FileDialogMode::None);
    EXPECT_EQ(dialog.Flags(), 0u);
    bool shown = false;
    QTimer::singleShot(0, [&] {
        if (auto* opened = test::dialogs::FindShown<QFileDialog>()) {
            shown = true;
            opened->reject();
        }
    });
    EXPECT_TRUE(dialog.FileName().isEmpty());
    QCoreApplication::processEvents();
    EXPECT_FALSE(shown) << "no mode shows nothing";
}

TEST(CFileDialog, AChosenFileFillsNameTitlePathAndExtension) {
    test::TempDir dir;
    const auto file = dir / "shop.v1.mdb";
    test::WriteFile(file, "x");
    CFileDialog dialog;
    dialog.SetDialogMode(FileDialogMode::Open);
    dialog.SetMask("Microsoft Access Databases (*.mdb)|*.mdb|All Files (*.*)|*.*");
    dialog.SetDefaultFilterIndex(2);
    dialog.SetTitle("Select Database");
    dialog.SetPath(Q(dir.Path()));

    WhenShown<QFileDialog>([&](QFileDialog& shown) {
        EXPECT_EQ(shown.windowTitle(), "Select Database");
        EXPECT_EQ(test::dialogs::ShownFilters(shown),
                  (QStringList{"Microsoft Access Databases (*.mdb)", "All Files (*.*)"}));
        const auto* types = shown.findChild<QComboBox*>("fileTypeCombo");
        EXPECT_TRUE(types && types->currentIndex() == 1) << "the default filter is the second";
        EXPECT_EQ(shown.fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(shown.acceptMode(), QFileDialog::AcceptOpen);
        EXPECT_EQ(shown.directory().absolutePath(), Q(dir.Path()));
        shown.selectFile(Q(file));
        test::dialogs::ClickAccept(shown);
    });
    const QString chosen = dialog.FileName();

    EXPECT_EQ(chosen, Q(file));
    EXPECT_EQ(dialog.FileTitle(), "shop.v1.mdb");
    EXPECT_EQ(dialog.Path(), Q(dir.Path()) + "/");
    EXPECT_EQ(dialog.Extension(), "mdb");
    EXPECT_EQ(dialog.FileOffset(), dialog.Path().size());
    EXPECT_EQ(chosen.mid(dialog.ExtensionOffset()), "mdb");
    EXPECT_EQ(dialog.LastError(), 0);
    EXPECT_EQ(dialog.Title(), "Select Database") << "kept after a choice";
    EXPECT_EQ(CFileDialog::GetFileTitle(chosen), "shop.v1.mdb");
}

TEST(CFileDialog, CancelEmptiesTheRecordButModeAndError) {
    CFileDialog dialog;
    dialog.SetDialogMode(FileDialogMode::Open);
    dialog.SetFlags(kOfnExplorer | kOfnFileMustExist);
    dialog.SetMask("Text (*.txt)|*.txt");
    dialog.SetTitle("Pick");
    dialog.SetPath("/tmp");
    dialog.SetFileName("notes.txt");
    WhenShown<QFileDialog>([](QFileDialog& shown) { shown.reject(); });

    EXPECT_TRUE(dialog.FileName().isEmpty());
    EXPECT_EQ(dialog.DialogMode(), FileDialogMode::Open);
    EXPECT_EQ(dialog.LastError(), 0);
    EXPECT_EQ(dialog.Flags(), 0u);
    EXPECT_TRUE(dialog.Mask().isEmpty());
    EXPECT_TRUE(dialog.Title().isEmpty());
    EXPECT_TRUE(dialog.Path().isEmpty());
}

TEST(CFileDialog, MultipleSelectionReturnsEveryChosenFile) {
    test::TempDir dir;
    test::WriteFile(dir / "a.db", "x");
    test::WriteFile(dir / "b.db", "x");
    CFileDialog dialog;
    dialog.SetDialogMode(FileDialogMode::Open);
    dialog.SetFlags(kOpenFlags | kOfnAllowMultiSelect);
    dialog.SetPath(Q(dir.Path()));
    WhenShown<QFileDialog>([](QFileDialog& shown) {
        EXPECT_EQ(shown.fileMode(), QFileDialog::ExistingFiles);
        shown.selectFile("\"a.db\" \"b.db\"");
        test::dialogs::ClickAccept(shown);
    });
    const QStringList chosen = dialog.FileNames();
    EXPECT_EQ(chosen, (QStringList{Q(dir / "a.db"), Q(dir / "b.db")}));
    EXPECT_EQ(dialog.Path(), Q(dir.Path()) + "/");
    EXPECT_TRUE(dialog.FileTitle().isEmpty());
    EXPECT_EQ(dialog.ExtensionOffset(), 0);
}

TEST(CFileDialog, SaveModeAsksBeforeReplacingAndAddsTheDefaultExtension) {
    test::TempDir dir;
    CFileDialog dialog;
    dialog.SetDialogMode(FileDialogMode::Save);
    dialog.SetPath(Q(dir.Path()));
    dialog.SetExtension("mdb");
    WhenShown<QFileDialog>([](QFileDialog& shown) {
        EXPECT_EQ(shown.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_FALSE(shown.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(shown.defaultSuffix(), "mdb");
        shown.selectFile("new");
        test::dialogs::ClickAccept(shown);
    });
    EXPECT_EQ(dialog.FileName(), Q(dir / "new.mdb"));
    EXPECT_EQ(dialog.FileTitle(), "new.mdb");
}

}  // namespace
}  // namespace kesmark::ui
