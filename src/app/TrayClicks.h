#pragma once

#include <QString>
#include <QtGlobal>

// Which kind of tray shows the icon, as far as its clicks go.
enum class TrayHost {
    XEmbed, // reports presses and double-clicks itself
    StatusNotifier, // one Activate per click (Plasma and most panels)
    GnomeShell, // opens the menu on a click itself; one Activate is a double-click
};

// A status-notifier tray is GNOME Shell's when its watcher is owned by the
// gnome-shell process or the desktop names itself GNOME.
TrayHost statusNotifierHost(const QString& watcherProcess, const QString& currentDesktop);

// Turns what the tray reports into the icon's mouse codes. Status-notifier
// trays never report a double-click: on them two activations within the
// double-click time are one.
class TrayClicks
{
public:
    static constexpr int kNone = 0;
    static constexpr int kLeftDown = 513;
    static constexpr int kLeftDoubleClick = 515;
    static constexpr int kRightUp = 517;

    enum class Event { Trigger, DoubleClick, Context, Other };

    explicit TrayClicks(TrayHost host = TrayHost::XEmbed, int doubleClickMs = 400)
        : m_host(host), m_doubleClickMs(doubleClickMs)
    {
    }

    void setHost(TrayHost host);
    TrayHost host() const { return m_host; }

    // The code an event stands for at a time in milliseconds (kNone: nothing).
    int code(Event event, qint64 atMs);

private:
    TrayHost m_host;
    int m_doubleClickMs;
    // The time of an activation that may still become a double-click.
    qint64 m_firstActivation = -1;
};
