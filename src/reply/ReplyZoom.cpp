#include "reply/ReplyZoom.h"

#include "app/Settings.h"
#include "reply/ReplyBox.h"

#include <array>
#include <cmath>

namespace {
constexpr std::array kSteps{6.0, 7.0, 8.0, 9.0, 10.0, 11.25, 12.0, 14.0, 16.0, 18.0, 20.0,
                            22.0, 24.0, 28.0, 32.0, 36.0, 40.0, 44.0, 48.0};
const QString kSection = QStringLiteral("Reply");
const QString kKey = QStringLiteral("Font Size");
// Sizes closer than this are the same step (a size read back from text).
constexpr double kSame = 0.01;
} // namespace

namespace ReplyZoom {
double larger(double points)
{
    for (const double step : kSteps) {
        if (step > points + kSame)
            return step;
    }
    return kLargest;
}

double smaller(double points)
{
    for (auto it = kSteps.rbegin(); it != kSteps.rend(); ++it) {
        if (*it < points - kSame)
            return *it;
    }
    return kSmallest;
}

double fromSetting(const QString& value)
{
    bool ok = false;
    const double points = value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(points) || points < kSmallest || points > kLargest)
        return kDefaultPoints;
    return points;
}

QString toSetting(double points)
{
    return QString::number(points, 'g', 6);
}

void keepInSettings(ReplyBox& box)
{
    box.setFontPointSize(fromSetting(Settings::read(kAppName, kSection, kKey)));
    QObject::connect(&box, &ReplyBox::fontPointSizeChanged, &box, [](double points) {
        Settings::write(kAppName, kSection, kKey, toSetting(points));
    });
}
} // namespace ReplyZoom
