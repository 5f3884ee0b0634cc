#include "ui/file_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace kesmark::ui {

QStringList ConvertMask(const QString& mask) {
    if (mask.isEmpty()) {
        return {QStringLiteral("All Files (*.*) (*)")};
    }
    const QStringList parts = mask.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'))) {
            const QString trimmed = pattern.trimmed();
            if (trimmed == QLatin1String("*.*")) {
                patterns << QStringLiteral("*");
            } else if (!trimmed.isEmpty()) {
                patterns << trimmed;
            }
        }
        if (!patterns.isEmpty()) {
            // The dialog hides the last parenthesised part, the patterns it
            // matches with, and shows the description as it was given.
            filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                           QLatin1Char(')');
        }
    }
    return filters;
}

void CFileDialog::SetDialogMode(FileDialogMode mode) {
    mode_ = mode;
    switch (mode) {
        case FileDialogMode::Open:
            flags_ = kOpenFlags;
            break;
        case FileDialogMode::Save:
            flags_ = kSaveFlags;
            break;
        default:
            flags_ = 0;
            break;
    }
}

QString CFileDialog::FileName() {
    const QStringList files = Show();
    return files.isEmpty() ? QString() : files.front();
}

QStringList CFileDialog::FileNames() {
    return Show();
}

QString CFileDialog::GetFileTitle(const QString& fileName) {
    return QFileInfo(fileName).fileName();
}

void CFileDialog::ResetRecord() {
    flags_ = 0;
    owner_ = nullptr;
    mask_.clear();
    defaultFilterIndex_ = 0;
    fileName_.clear();
    fileTitle_.clear();
    path_.clear();
    title_.clear();
    extension_.clear();
    customFilter_.clear();
    fileOffset_ = 0;
    extensionOffset_ = 0;
}

QStringList CFileDialog::Show() {
    if (mode_ != FileDialogMode::Open && mode_ != FileDialogMode::Save) {
        return {};
    }
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        lastError_ = kCdErrInitialization;
        ResetRecord();
        return {};
    }
    if (flags_ == 0) {
        flags_ = mode_ == FileDialogMode::Open ? kOpenFlags : kSaveFlags;
    }
    lastError_ = 0;
    const bool multiple = (flags_ & kOfnAllowMultiSelect) != 0;

    QFileDialog dialog(owner_, title_, path_);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    if (mode_ == FileDialogMode::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite, (flags_ & kOfnOverwritePrompt) == 0);
    } else if (multiple) {
        dialog.setFileMode(QFileDialog::ExistingFiles);
    } else {
        dialog.setFileMode((flags_ & kOfnFileMustExist) != 0 ? QFileDialog::ExistingFile
                                                             : QFileDialog::AnyFile);
    }
    const QStringList filters = ConvertMask(mask_);
    dialog.setNameFilters(filters);
    if (defaultFilterIndex_ >= 1 && defaultFilterIndex_ <= filters.size()) {
        dialog.selectNameFilter(filters[defaultFilterIndex_ - 1]);
    }
    if (!extension_.isEmpty()) {
        dialog.setDefaultSuffix(extension_);
    }
    if (!fileName_.isEmpty()) {
        dialog.selectFile(fileName_);
    }

    const QStringList chosen =
        dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
    if (chosen.isEmpty()) {
        ResetRecord();
        return {};
    }

    fileName_ = chosen.front();
    fileOffset_ = static_cast<int>(fileName_.lastIndexOf(QLatin1Char('/')) + 1);
    path_ = fileName_.left(fileOffset_);
    customFilter_.clear();
    if (chosen.size() > 1) {
        fileTitle_.clear();
        extension_.clear();
        extensionOffset_ = 0;
        return chosen;
    }
    const QString title = fileName_.mid(fileOffset_);
    const auto dot = title.lastIndexOf(QLatin1Char('.'));
    extensionOffset_ =
        dot < 0 ? static_cast<int>(fileName_.size()) : fileOffset_ + static_cast<int>(dot) + 1;
    extension_ = fileName_.mid(extensionOffset_);
    fileTitle_ = multiple ? QString() : title;
    return chosen;
}

}  // namespace kesmark::ui
