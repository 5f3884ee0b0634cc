#include "ui/about_box.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "ui/twips.h"

namespace kesmark::ui {

QString frmAbout::VersionText() {
    return QStringLiteral("Version %1.%2.%3")
        .arg(KESMARK_VERSION_MAJOR)
        .arg(KESMARK_VERSION_MINOR)
        .arg(KESMARK_VERSION_PATCH);
}

frmAbout::frmAbout(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("About Kesmark"));
    setModal(true);
    setFixedSize(TwipsToPixels(4050, this), TwipsToPixels(2760, this));

    fraAbout = new QFrame(this);
    fraAbout->setFrameShape(QFrame::Box);
    fraAbout->setFrameShadow(QFrame::Sunken);
    Place(fraAbout, 120, 120, 2295, 1215);

    lblTitle = new QLabel(QStringLiteral("Kesmark"), fraAbout);
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(13.5);
    lblTitle->setFont(titleFont);
    Place(lblTitle, 120, 120, 1095, 360);

    lblVersion = new QLabel(VersionText(), fraAbout);
    QFont versionFont = lblVersion->font();
    versionFont.setPointSizeF(9.75);
    lblVersion->setFont(versionFont);
    Place(lblVersion, 120, 480, 1575, 225);

    lblEmail = new QLabel(QString::fromLatin1(kWebPage), fraAbout);
    lblEmail->setStyleSheet(QStringLiteral("color: blue;"));
    lblEmail->setCursor(Qt::PointingHandCursor);
    lblEmail->installEventFilter(this);
    Place(lblEmail, 120, 840, 2055, 255);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setDefault(true);
    Place(cmdOK, 2640, 240, 1215, 375);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    cmdOK->setFocus();
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lblEmail && event->type() == QEvent::MouseButtonRelease) {
        // When no browser can open it, nothing happens and the box stays.
        QDesktopServices::openUrl(QUrl(QString::fromLatin1(kWebPage)));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kesmark::ui
