#pragma once

#include <QApplication>
#include <QSize>
#include <QTemporaryDir>
#include <QWidget>
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

// Shows a reply box at its design size and lets it lay out.
inline void showAtDesignSize(QWidget& box)
{
    box.resize(kReplyBoxSize);
    box.show();
    QApplication::processEvents();
}

// Settings in a folder of the run's own, never the real user's, while it lives.
class PrivateSettings
{
public:
    PrivateSettings() { qputenv("XDG_CONFIG_HOME", m_folder.path().toLocal8Bit()); }
    Q_DISABLE_COPY_MOVE(PrivateSettings)

private:
    QTemporaryDir m_folder;
};
} // namespace Bench
