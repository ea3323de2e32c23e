#include "app/Forms.h"

#include "app/Platform.h"

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

// How long a shown window waits for its frame before it keeps its place.
constexpr int kFrameWaitMs = 2000;
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

// Looks, once the window shows, for the frame the window manager gave it, and
// centres the framed window again when that frame differs from the one guessed.
class FrameWatch : public QTimer
{
public:
    explicit FrameWatch(QWidget* window) : QTimer(window), m_window(window)
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
            return; // not shown yet: the wait starts with the show
        m_looked += kFrameLookMs;
        const QMargins frame = frameOf(m_window);
        if (frame.isNull() && m_looked < kFrameWaitMs)
            return;
        if (!frame.isNull()) {
            g_frames[kindOf(m_window)] = g_lastFrame = frame;
            place(m_window, frame);
        }
        deleteLater();
    }

    QWidget* m_window;
    int m_looked = 0;
};
} // namespace

namespace Forms {
void centreOnScreen(QWidget* window)
{
    // Wayland clients cannot place their windows: the compositor does.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    const QMargins frame = window->isVisible() ? frameOf(window) : QMargins();
    place(window, frame.isNull() ? knownFrame(window) : frame);
    delete window->findChild<QTimer*>(QStringLiteral("centreOnScreenFrameWatch"), Qt::FindDirectChildrenOnly);
    if (frame.isNull())
        new FrameWatch(window);
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
