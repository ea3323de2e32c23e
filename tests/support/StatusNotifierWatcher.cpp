// A status-notifier watcher of the tests' own: it owns
// org.kde.StatusNotifierWatcher on the session bus, says a host is there and
// records the items that register. With "--comm NAME" it runs under that
// process name (gnome-shell, to pass for GNOME Shell's tray). It reports
// "ready" on fd 3 once the bus knows it.
#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QStringList>

#include <sys/prctl.h>
#include <unistd.h>

class Watcher : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    explicit Watcher(QObject* parent) : QDBusAbstractAdaptor(parent)
    {
        m_owners.setConnection(QDBusConnection::sessionBus());
        m_owners.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        connect(&m_owners, &QDBusServiceWatcher::serviceUnregistered, this, [this](const QString& service) {
            for (const QString& item : QStringList(m_items)) {
                if (item.section(QLatin1Char('/'), 0, 0) == service) {
                    m_items.removeAll(item);
                    emit StatusNotifierItemUnregistered(item);
                }
            }
        });
    }
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString& serviceOrPath, const QDBusMessage& message)
    {
        const QString item = serviceOrPath.startsWith(QLatin1Char('/')) ? message.service() + serviceOrPath
                                                                        : serviceOrPath + "/StatusNotifierItem";
        m_items.removeAll(item);
        m_items << item;
        m_owners.addWatchedService(item.section(QLatin1Char('/'), 0, 0));
        emit StatusNotifierItemRegistered(item);
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& item);
    void StatusNotifierItemUnregistered(const QString& item);
    void StatusNotifierHostRegistered();

private:
    QStringList m_items;
    QDBusServiceWatcher m_owners;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (const qsizetype at = arguments.indexOf("--comm"); at >= 0 && at + 1 < arguments.size())
        prctl(PR_SET_NAME, arguments[at + 1].toLocal8Bit().constData(), 0, 0, 0);
    QObject root;
    new Watcher(&root);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject("/StatusNotifierWatcher", &root)
        || !bus.registerService("org.kde.StatusNotifierWatcher"))
        return 1;
    [[maybe_unused]] const auto written = ::write(3, "ready\n", 6);
    return app.exec();
}

#include "StatusNotifierWatcher.moc"
