#pragma once

#include <QRect>

class QWidget;

// Window geometry is kept in twips (1/1440 inch); these convert with the
// screen's logical DPI (15 twips a pixel at 96 DPI).
namespace Twips {
double perPixelX();
double perPixelY();
int toPixelsX(int twips);
int toPixelsY(int twips);
int fromPixelsX(int pixels);
int fromPixelsY(int pixels);
QRect toPixels(int left, int top, int width, int height);
// Names a control and sets its design-time geometry.
void place(QWidget* widget, const char* name, int left, int top, int width, int height);
} // namespace Twips
