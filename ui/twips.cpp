#include "ui/twips.h"

#include <QWidget>
#include <cmath>

namespace kesmark::ui {

namespace {
double Dpi(const QWidget* widget) {
    return widget ? widget->logicalDpiX() : 96.0;
}
}  // namespace

int TwipsToPixels(double twips, const QWidget* widget) {
    return static_cast<int>(std::lround(twips * Dpi(widget) / 1440.0));
}

double PixelsToTwips(int pixels, const QWidget* widget) {
    return pixels * 1440.0 / Dpi(widget);
}

void Place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(TwipsToPixels(left, w), TwipsToPixels(top, w), TwipsToPixels(width, w),
                   TwipsToPixels(height, w));
}

void SizeControl(QWidget* control, int left, int top, int width, int height, int minWidth,
                 int maxWidth, int minHeight, int maxHeight) {
    // Work in pixels, the unit the control really has: a size in twips that
    // falls between two pixels reads back rounded, and must not count as a
    // failure to place the control.
    QRect wanted = control->geometry();
    if (left >= 0) {
        wanted.moveLeft(TwipsToPixels(left, control));
    }
    if (top >= 0) {
        wanted.moveTop(TwipsToPixels(top, control));
    }
    auto bounded = [](int value, int minimum, int maximum) {
        if (minimum >= 0 && value < minimum) {
            value = minimum;
        }
        if (maximum >= 0 && value > maximum) {
            value = maximum;
        }
        return value;
    };
    if (width >= 0) {
        wanted.setWidth(TwipsToPixels(bounded(width, minWidth, maxWidth), control));
    }
    if (height >= 0) {
        wanted.setHeight(TwipsToPixels(bounded(height, minHeight, maxHeight), control));
    }
    control->setGeometry(wanted);
    control->setVisible(control->geometry() == wanted);
}

}  // namespace kesmark::ui
