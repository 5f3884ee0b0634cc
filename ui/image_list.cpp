#include "ui/image_list.h"

#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <cmath>

// The pictures are compiled into this static library; its resources must be
// registered by name, since nothing else refers to them.
static void RegisterImageResources() {
    Q_INIT_RESOURCE(images);
}

namespace kesmark::ui {

ImageList::ImageList(double devicePixelRatio) {
    RegisterImageResources();
    for (int n = 1; n <= kCount; ++n) {
        const QString resource = QStringLiteral(":/images/%1.svg").arg(n, 2, 10, QChar('0'));
        if (QFile::exists(resource)) {
            icons_[n - 1] = RenderSvgIcon(resource, devicePixelRatio);
        }
    }
}

QIcon RenderSvgIcon(const QString& resource, double devicePixelRatio) {
    QSvgRenderer renderer(resource);
    const int side = static_cast<int>(std::lround(16 * devicePixelRatio));
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return QIcon(pixmap);
}

QIcon ImageList::Icon(int number) const {
    if (number < 1 || number > kCount) {
        return {};
    }
    return icons_[number - 1];
}

}  // namespace kesmark::ui
