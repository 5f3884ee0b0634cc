#pragma once

class QWidget;

namespace kesmark::ui {

// Form geometry is given in twips (1/1440 inch): 15 twips make a pixel at 96
// dots per inch, and the conversion follows the screen's logical resolution.
int TwipsToPixels(double twips, const QWidget* widget);
double PixelsToTwips(int pixels, const QWidget* widget);

// Places a widget at its design place and size, in twips.
void Place(QWidget* widget, int left, int top, int width, int height);

// Places `control` (a window or a child widget) in twips: a negative left,
// top, width or height leaves that value as it is; a width or height is kept
// within its minimum and maximum (a negative bound means no bound). The
// control stays visible only when it now has exactly the place and size
// asked for (or kept), and is hidden otherwise.
void SizeControl(QWidget* control, int left, int top, int width, int height, int minWidth,
                 int maxWidth, int minHeight, int maxHeight);

}  // namespace kesmark::ui
