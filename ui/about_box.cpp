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

    fraAbout = new QFrame(this);
    fraAbout->setFrameShape(QFrame::Box);
    fraAbout->setFrameShadow(QFrame::Sunken);

    lblTitle = new QLabel(QStringLiteral("Kesmark"), fraAbout);
    QFont titleFont = lblTitle->font();
    titleFont.setPointSizeF(13.5);
    lblTitle->setFont(titleFont);

    lblVersion = new QLabel(VersionText(), fraAbout);
    QFont versionFont = lblVersion->font();
    versionFont.setPointSizeF(9.75);
    lblVersion->setFont(versionFont);

    lblEmail = new QLabel(QString::fromLatin1(kWebPage), fraAbout);
    lblEmail->setStyleSheet(QStringLiteral("color: blue;"));
    lblEmail->setCursor(Qt::PointingHandCursor);
    lblEmail->installEventFilter(this);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    cmdOK->setFocus();

    LayOut();
}

void frmAbout::LayOut() {
    // The design places, each grown to what its text needs in the fonts of
    // this screen: a label is never narrower or lower than its text, the
    // labels stay one under the other, the frame holds them and the dialog
    // holds the frame and the button.
    const auto px = [this](int twips) { return TwipsToPixels(twips, this); };
    Place(fraAbout, 120, 120, 2295, 1215);
    Place(lblTitle, 120, 120, 1095, 360);
    Place(lblVersion, 120, 480, 1575, 225);
    Place(lblEmail, 120, 840, 2055, 255);
    Place(cmdOK, 2640, 240, 1215, 375);

    int right = 0;
    int previousBottom = -1;
    for (QLabel* label : {lblTitle, lblVersion, lblEmail}) {
        const QSize needed = label->sizeHint();
        QRect place = label->geometry();
        place.moveTop(std::max(place.top(), previousBottom + px(60)));
        place.setWidth(std::max(place.width(), needed.width()));
        place.setHeight(std::max(place.height(), needed.height()));
        label->setGeometry(place);
        previousBottom = place.bottom();
        right = std::max(right, place.right());
    }
    QRect frame = fraAbout->geometry();
    frame.setWidth(std::max(frame.width(), right + px(120)));
    frame.setHeight(std::max(frame.height(), previousBottom + px(120)));
    fraAbout->setGeometry(frame);

    QRect ok = cmdOK->geometry();
    ok.setSize(ok.size().expandedTo(cmdOK->sizeHint()));
    ok.moveLeft(std::max(ok.left(), frame.right() + px(225)));
    cmdOK->setGeometry(ok);

    setFixedSize(std::max(px(4050), ok.right() + px(195)),
                 std::max(px(2760), std::max(frame.bottom(), ok.bottom()) + px(120)));
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
