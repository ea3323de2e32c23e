#include "app/TrayWatch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QSystemTrayIcon>

namespace {
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
// A watcher that does not answer at once is taken as absent until the next look.
constexpr int kAskMs = 500;

// Qt registers its icon only with a watcher that has a host, so neither does this.
bool hostRegistered(QDBusConnection& bus)
{
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcherService, QStringLiteral("/StatusNotifierWatcher"),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage reply = bus.call(get, QDBus::Block, kAskMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
           && reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

QString ownerProcess(QDBusConnection& bus)
{
    const QDBusReply<uint> pid = bus.interface()->servicePid(kWatcherService);
    if (!pid.isValid())
        return QString();
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid.value()));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}
} // namespace

TrayWatch::TrayWatch(int pollMs, QObject* parent) : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_busWatch = new QDBusServiceWatcher(kWatcherService, bus,
                                             QDBusServiceWatcher::WatchForRegistration
                                                 | QDBusServiceWatcher::WatchForUnregistration,
                                             this);
        connect(m_busWatch, &QDBusServiceWatcher::serviceRegistered, this, &TrayWatch::check);
        connect(m_busWatch, &QDBusServiceWatcher::serviceUnregistered, this, &TrayWatch::check);
    }
    m_poll.setInterval(pollMs);
    connect(&m_poll, &QTimer::timeout, this, &TrayWatch::check);
    check();
}

TrayWatch::~TrayWatch() = default;

void TrayWatch::watchXEmbed()
{
    m_watchXEmbed = true;
    check();
}

void TrayWatch::check()
{
    const bool before = isPresent();
    const QString processBefore = m_watcherProcess;
    m_statusNotifier = false;
    m_watcherProcess.clear();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface()->isServiceRegistered(kWatcherService)) {
        m_statusNotifier = hostRegistered(bus);
        m_watcherProcess = ownerProcess(bus);
    }
    m_xembed = m_watchXEmbed && QSystemTrayIcon::isSystemTrayAvailable();

    // The bus announces a watcher coming and going; a host registering later and
    // an XEmbed tray manager are looked for.
    const bool nothingToLookFor = !m_busWatch || m_statusNotifier;
    if (nothingToLookFor && !m_watchXEmbed)
        m_poll.stop();
    else if (!m_poll.isActive())
        m_poll.start();
    if (isPresent() != before || m_watcherProcess != processBefore)
        emit changed();
}
