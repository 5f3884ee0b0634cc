#pragma once

// CFileDialog: the open or save file dialog of one browse, configured through
// the properties of the platform's open-file record and shown by reading
// FileName. It always uses Qt's own file dialog (never the desktop's), which
// shows up among the application's top-level widgets while it runs.
//
//   CFileDialog dialog;
//   dialog.SetDialogMode(FileDialogMode::Open);
//   dialog.SethwndOwner(window);
//   dialog.SetMask("Text Files (*.txt)|*.txt|All Files (*.*)|*.*");
//   dialog.SetTitle("Select File");
//   const QString chosen = dialog.FileName();  // empty when cancelled

#include <QString>
#include <QStringList>
#include <cstdint>

class QWidget;

namespace kesmark::ui {

// Which dialog reading FileName shows. Any other value shows nothing.
enum class FileDialogMode : std::int32_t { None = 0, Open = 1, Save = 2 };

// Flags of the open-file record, as the Flags property holds them.
inline constexpr std::uint32_t kOfnOverwritePrompt = 0x2;  // ask before replacing a file
inline constexpr std::uint32_t kOfnHideReadOnly = 0x4;     // no read-only box (Qt has none)
inline constexpr std::uint32_t kOfnNoChangeDir = 0x8;      // Qt never changes the current folder
inline constexpr std::uint32_t kOfnAllowMultiSelect = 0x200;
inline constexpr std::uint32_t kOfnPathMustExist = 0x800;
inline constexpr std::uint32_t kOfnFileMustExist = 0x1000;
inline constexpr std::uint32_t kOfnCreatePrompt = 0x2000;
inline constexpr std::uint32_t kOfnExplorer = 0x80000;  // the dialog's modern look

// The flags each mode sets (Open: explorer, file and path must exist, no
// change of folder, no read-only box; Save: explorer, create and overwrite
// prompts, path must exist, no change of folder, no read-only box).
inline constexpr std::uint32_t kOpenFlags = 0x8180C;
inline constexpr std::uint32_t kSaveFlags = 0x8280E;

// LastError when the dialog could not be created at all (no GUI application).
inline constexpr std::int32_t kCdErrInitialization = 0x0002;

// The Qt name filters of a mask of descriptions and patterns separated by
// vertical bars ("Text Files (*.txt)|*.txt|All Files (*.*)|*.*"). Each filter
// shows its description as it stands (the dialog hides the pattern part
// appended to it); several patterns of one filter are separated by ";", and
// "*.*" matches every file, with or without an extension. A description
// without patterns is left out. An empty mask gives "All Files (*.*)".
QStringList ConvertMask(const QString& mask);

class CFileDialog {
  public:
    CFileDialog() = default;
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    FileDialogMode DialogMode() const { return mode_; }
    // Also sets Flags: kOpenFlags for Open, kSaveFlags for Save, 0 otherwise.
    void SetDialogMode(FileDialogMode mode);

    std::uint32_t Flags() const { return flags_; }
    // 0 stands for the mode's own flags when the dialog is shown.
    void SetFlags(std::uint32_t flags) { flags_ = flags; }

    // The window the dialog belongs to and is centred over. Not owned.
    QWidget* hwndOwner() const { return owner_; }
    void SethwndOwner(QWidget* owner) { owner_ = owner; }

    const QString& Mask() const { return mask_; }
    void SetMask(const QString& mask) { mask_ = mask; }

    // The filter selected first, counted from 1; 0 (or one beyond the mask)
    // selects the first.
    int DefaultFilterIndex() const { return defaultFilterIndex_; }
    void SetDefaultFilterIndex(int index) { defaultFilterIndex_ = index; }

    // Shows the dialog modally and returns the full path of the chosen file
    // (with kOfnAllowMultiSelect, the first of them), or an empty string when
    // the user cancelled or the dialog failed (see LastError). After a cancel
    // every property but DialogMode and LastError is back to empty or 0.
    QString FileName();
    // As FileName, returning every chosen file (one without
    // kOfnAllowMultiSelect); empty when cancelled.
    QStringList FileNames();
    // The file name the dialog starts with.
    void SetFileName(const QString& fileName) { fileName_ = fileName; }

    // After a single choice: the name part of the chosen file; empty with
    // kOfnAllowMultiSelect.
    const QString& FileTitle() const { return fileTitle_; }

    // Before: the folder the dialog starts in. After a choice: the folder of
    // the chosen files, ending with "/".
    const QString& Path() const { return path_; }
    void SetPath(const QString& path) { path_ = path; }

    const QString& Title() const { return title_; }
    void SetTitle(const QString& title) { title_ = title; }

    // Before: the extension added to a name typed without one (no dot).
    // After a single choice: the chosen file's extension, without the dot,
    // empty when it has none.
    const QString& Extension() const { return extension_; }
    void SetExtension(const QString& extension) { extension_ = extension; }

    // A filter pattern the user typed. Qt's dialog offers no such field, so
    // this is always empty.
    const QString& CustomFilter() const { return customFilter_; }

    // Offsets within the chosen path of the file name and of its extension
    // (the path's length when it has no extension); 0 before a choice, and
    // the extension offset is 0 when several files were chosen.
    int FileOffset() const { return fileOffset_; }
    int ExtensionOffset() const { return extensionOffset_; }

    // 0 after a successful or cancelled dialog, kCdErrInitialization when no
    // dialog could be shown.
    std::int32_t LastError() const { return lastError_; }

    // The name part of `fileName` as shown to the user ("/a/b.mdb" -> "b.mdb").
    static QString GetFileTitle(const QString& fileName);

  private:
    QStringList Show();
    void ResetRecord();

    FileDialogMode mode_ = FileDialogMode::None;
    std::uint32_t flags_ = 0;
    QWidget* owner_ = nullptr;  // Not owned.
    QString mask_;
    int defaultFilterIndex_ = 0;
    QString fileName_;
    QString fileTitle_;
    QString path_;
    QString title_;
    QString extension_;
    QString customFilter_;
    int fileOffset_ = 0;
    int extensionOffset_ = 0;
    std::int32_t lastError_ = 0;
};

}  // namespace kesmark::ui
