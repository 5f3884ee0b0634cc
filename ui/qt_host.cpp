#include "ui/qt_host.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/main_window.h"

namespace kesmark::ui {

void QtHost::SetStatusText(std::string_view text) {
    window_.SetStatus(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void QtHost::SetProgressPosition(int position) {
    window_.SetProgress(position);
}

void QtHost::ProcessPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool QtHost::CancelRequested() const {
    return window_.gCancelRequested.load();
}

void QtHost::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
    if (messageHandler_) {
        messageHandler_(std::string(text), std::string(caption), icon);
        return;
    }
    QMessageBox::Icon boxIcon = QMessageBox::Critical;
    switch (icon) {
        case MessageIcon::Critical:
            boxIcon = QMessageBox::Critical;
            break;
        case MessageIcon::Exclamation:
            boxIcon = QMessageBox::Warning;
            break;
        case MessageIcon::Information:
            boxIcon = QMessageBox::Information;
            break;
        case MessageIcon::Question:
            boxIcon = QMessageBox::Question;
            break;
        case MessageIcon::None:
            boxIcon = QMessageBox::NoIcon;
            break;
    }
    // Message texts separate their lines with CR LF.
    QString body = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(boxIcon,
                    QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())), body,
                    QMessageBox::Ok, &window_);
    box.exec();
}

void QtHost::SetBusyPointer(bool busy) {
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++busyDepth_;
    } else if (busyDepth_ > 0) {
        QApplication::restoreOverrideCursor();
        --busyDepth_;
    }
}

}  // namespace kesmark::ui
