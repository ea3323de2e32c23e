#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QDBusServiceWatcher;

// Whether a system tray is there to hold the icon, followed for the whole run:
// panels often start after the programs of a session, and they restart.
// A status-notifier tray is a watcher on the session bus with a host
// registered; an XEmbed tray is a tray manager on the X display.
class TrayWatch : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrayWatch)

public:
    // pollMs: how often it looks for a tray the bus or the display did not announce.
    explicit TrayWatch(int pollMs = 1000, QObject* parent = nullptr);
    ~TrayWatch() override;

    bool isPresent() const { return m_statusNotifier || m_xembed; }
    bool hasStatusNotifierHost() const { return m_statusNotifier; }
    // The name of the process that owns the status-notifier watcher.
    QString watcherProcess() const { return m_watcherProcess; }

    // Also follows an XEmbed tray manager on X11. Only once the icon exists:
    // asking Qt about the tray earlier would settle its choice of tray for the run.
    void watchXEmbed();

signals:
    void changed();

private:
    void check();

    QDBusServiceWatcher* m_busWatch = nullptr;
    QTimer m_poll;
    bool m_watchXEmbed = false;
    bool m_statusNotifier = false;
    bool m_xembed = false;
    QString m_watcherProcess;
};
