#include "app/Twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace {
double logicalDpi(bool horizontal)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 96.0;
    const double dpi = horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
    return dpi > 0 ? dpi : 96.0;
}
} // namespace

namespace Twips {
double perPixelX() { return 1440.0 / logicalDpi(true); }
double perPixelY() { return 1440.0 / logicalDpi(false); }
int toPixelsX(int twips) { return static_cast<int>(std::lround(twips / perPixelX())); }
int toPixelsY(int twips) { return static_cast<int>(std::lround(twips / perPixelY())); }
int fromPixelsX(int pixels) { return static_cast<int>(std::lround(pixels * perPixelX())); }
int fromPixelsY(int pixels) { return static_cast<int>(std::lround(pixels * perPixelY())); }

QRect toPixels(int left, int top, int width, int height)
{
    return QRect(toPixelsX(left), toPixelsY(top), toPixelsX(width), toPixelsY(height));
}

void place(QWidget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(toPixels(left, top, width, height));
}
} // namespace Twips
