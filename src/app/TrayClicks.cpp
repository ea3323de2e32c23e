#include "app/TrayClicks.h"

#include <QStringList>

TrayHost statusNotifierHost(const QString& watcherProcess, const QString& currentDesktop)
{
    if (watcherProcess == QLatin1String("gnome-shell"))
        return TrayHost::GnomeShell;
    // A colon-separated list, most specific first ("ubuntu:GNOME").
    for (const QString& desktop : currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (desktop.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0)
            return TrayHost::GnomeShell;
    }
    return TrayHost::StatusNotifier;
}

void TrayClicks::setHost(TrayHost host)
{
    m_host = host;
    m_firstActivation = -1;
}

int TrayClicks::code(Event event, qint64 atMs)
{
    switch (event) {
    case Event::Context: return kRightUp;
    case Event::Other: return kNone;
    case Event::DoubleClick: return m_host == TrayHost::XEmbed ? kLeftDoubleClick : kNone;
    case Event::Trigger: break;
    }
    switch (m_host) {
    case TrayHost::XEmbed: return kLeftDown;
    case TrayHost::GnomeShell: return kLeftDoubleClick;
    case TrayHost::StatusNotifier: break;
    }
    if (m_firstActivation >= 0 && atMs - m_firstActivation <= m_doubleClickMs) {
        // A third click starts afresh, as a third click of a mouse does.
        m_firstActivation = -1;
        return kLeftDoubleClick;
    }
    m_firstActivation = atMs;
    return kLeftDown;
}
