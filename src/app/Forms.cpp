#include "app/Forms.h"

#include "app/Platform.h"
#include "app/WindowFront.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <map>
#include <utility>

namespace {
// The window manager's frames as last seen around shown windows, by kind (a
// fixed-size window may lack a resizable one's grips): a window placed before
// its own frame exists is centred with its kind's, or else the last one seen.
std::map<std::pair<int, bool>, QMargins> g_frames;
QMargins g_lastFrame;

std::pair<int, bool> kindOf(const QWidget* window)
{
    return {int(window->windowType()), window->minimumSize() == window->maximumSize()};
}

QMargins knownFrame(const QWidget* window)
{
    const auto known = g_frames.find(kindOf(window));
    return known != g_frames.end() ? known->second : g_lastFrame;
}

// How long after its show a window follows the frame it is given.
constexpr int kFrameWaitMs = 1000;
constexpr int kFrameLookMs = 10;

void place(QWidget* window, const QMargins& frame)
{
    const QSize screen = platform().screenSize();
    const QSize outer = window->size().grownBy(frame);
    window->move((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2);
}

QMargins frameOf(const QWidget* window)
{
    const QRect inner = window->geometry();
    const QRect outer = window->frameGeometry();
    return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
            outer.bottom() - inner.bottom()};
}

// Watches, for a while after the window shows, the frame the window manager
// gives it, and centres the framed window again whenever that frame differs
// from the one it was placed with (a manager may decorate a window twice).
class FrameWatch : public QTimer
{
public:
    FrameWatch(QWidget* window, const QMargins& placedWith) : QTimer(window), m_window(window), m_placedWith(placedWith)
    {
        setObjectName(QStringLiteral("centreOnScreenFrameWatch"));
        setInterval(kFrameLookMs);
        connect(this, &QTimer::timeout, this, &FrameWatch::look);
        start();
    }

private:
    void look()
    {
        if (!m_window->isVisible())
            return; // not shown yet: the watch starts with the show
        const QMargins frame = frameOf(m_window);
        if (!frame.isNull() && frame != m_placedWith) {
            g_frames[kindOf(m_window)] = g_lastFrame = frame;
            place(m_window, frame);
            m_placedWith = frame;
        }
        m_looked += kFrameLookMs;
        if (m_looked >= kFrameWaitMs)
            deleteLater();
    }

    QWidget* m_window;
    QMargins m_placedWith;
    int m_looked = 0;
};
} // namespace

namespace Forms {
void centreOnScreen(QWidget* window)
{
    // Wayland clients cannot place their windows: the compositor does.
    if (onWayland())
        return;
    const QMargins own = window->isVisible() ? frameOf(window) : QMargins();
    const QMargins frame = own.isNull() ? knownFrame(window) : own;
    place(window, frame);
    delete window->findChild<QTimer*>(QStringLiteral("centreOnScreenFrameWatch"), Qt::FindDirectChildrenOnly);
    if (own.isNull())
        new FrameWatch(window, frame);
}

QAction* addAction(QMenu* menu, const QString& caption, const char* name)
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

QAction* addSeparator(QMenu* menu, const char* name)
{
    QAction* separator = menu->addSeparator();
    separator->setObjectName(QLatin1String(name));
    return separator;
}
} // namespace Forms
