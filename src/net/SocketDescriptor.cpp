#include "net/SocketDescriptor.h"

#if defined(Q_OS_WIN)
#include <winsock2.h>
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#if defined(Q_OS_LINUX)
#include <netinet/in.h>
#include <netinet/tcp.h>
#endif

namespace SocketDescriptor {

void close(qintptr descriptor)
{
#if defined(Q_OS_WIN)
    ::closesocket(SOCKET(descriptor));
#else
    ::close(int(descriptor));
#endif
}

void shutdownWrite(qintptr descriptor)
{
    if (descriptor < 0)
        return;
#if defined(Q_OS_WIN)
    ::shutdown(SOCKET(descriptor), SD_SEND);
#else
    ::shutdown(int(descriptor), SHUT_WR);
#endif
}

qintptr spareFor(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    return descriptor < 0 ? -1 : ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
#else
    Q_UNUSED(descriptor);
    return -1;
#endif
}

bool resetByPeer(qintptr spare)
{
#if defined(Q_OS_LINUX)
    if (spare < 0)
        return false;
    tcp_info info {};
    socklen_t length = sizeof info;
    if (::getsockopt(int(spare), IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
        return false;
    return info.tcpi_state == TCP_CLOSE;
#else
    Q_UNUSED(spare);
    return false;
#endif
}

} // namespace SocketDescriptor
