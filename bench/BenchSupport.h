#pragma once

#include <QSize>
#include <QtGlobal>

// What every benchmark sets up the same way.
namespace Bench {
// Figures come from the offscreen platform unless the caller names another.
inline void offscreenUnlessSet()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The main window's reply box at its design size, 7080 x 3045 twips at 96 dpi.
inline constexpr QSize kReplyBoxSize{472, 203};
} // namespace Bench
