#include "net/LocalStack.h"

#include <QNetworkInterface>
#include <QSysInfo>

#include <algorithm>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#endif

namespace {
constexpr int kSocketLimitCap = 32767;
} // namespace

namespace LocalStack {

QString firstIPv4Address()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& networkInterface : interfaces) {
        const auto flags = networkInterface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = networkInterface.addressEntries();
        for (const QNetworkAddressEntry& entry : entries) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
                return address.toString();
        }
    }
    return {};
}

QString stackDescription()
{
    QString kernel = QSysInfo::kernelType();
    if (kernel == u"linux")
        kernel = QStringLiteral("Linux");
    else if (kernel == u"winnt")
        kernel = QStringLiteral("Windows NT");
    else if (!kernel.isEmpty())
        kernel[0] = kernel[0].toUpper();
    return QStringLiteral("Qt Network %1 TCP/IP on %2 %3").arg(QString::fromLatin1(qVersion()), kernel,
                                                                QSysInfo::kernelVersion()).trimmed();
}

int socketLimit()
{
#if defined(Q_OS_UNIX)
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kSocketLimitCap;
    return int(std::min<rlim_t>(limit.rlim_cur, kSocketLimitCap));
#else
    return kSocketLimitCap;
#endif
}

} // namespace LocalStack
