#pragma once

#include "app/Settings.h"
#include "shell/finger.h"
#include "server/FingerService.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QStringList>
#include <QTcpSocket>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

// A finger client on loopback for the server tests: it keeps what arrives
// and notes the server's close. Never blocks: the server runs in this thread.
namespace ServerTesting {
struct Visitor
{
    QTcpSocket socket;
    QByteArray received;
    bool closed = false;

    explicit Visitor(finger& w, const QHostAddress& host = QHostAddress::LocalHost)
    {
        QObject::connect(&socket, &QIODevice::readyRead, &socket, [this] { received += socket.readAll(); });
        QObject::connect(&socket, &QAbstractSocket::disconnected, &socket, [this] {
            received += socket.readAll();
            closed = true;
        });
        socket.connectToHost(host, quint16(w.service().listenPort()));
    }

    // Written as soon as the connection is up.
    void send(const QByteArray& bytes) { socket.write(bytes); }
};

// A plain socket for what QTcpSocket cannot do: stay unread, or keep
// sending after the server's close. Connecting needs no event loop, the
// kernel completes it from the listen backlog.
class RawClient
{
public:
    // A receive buffer set before connecting stays that small (no autotuning).
    explicit RawClient(int port, int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 && receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~RawClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(RawClient)

    bool isConnected() const { return m_fd >= 0; }

    // What the kernel takes now, without waiting; -1 once the peer refuses more.
    qint64 sendSome(const QByteArray& bytes)
    {
        const ssize_t n = ::send(m_fd, bytes.constData(), size_t(bytes.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }

    // Takes what has arrived; true once the peer has closed.
    bool readSome()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0) {
                received.append(buffer, n);
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                ended = true;
            return ended;
        }
    }

    void shutdownWrite() { ::shutdown(m_fd, SHUT_WR); }

    // Closes with a reset instead of an orderly end.
    void reset()
    {
        const linger hard{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(std::exchange(m_fd, -1));
    }

    QByteArray received;
    bool ended = false;

private:
    int m_fd = -1;
};

// One query, answered and closed; the bytes the server sent.
inline QByteArray fingerOnce(finger& w, const QByteArray& query = "\r\n")
{
    Visitor visitor(w);
    visitor.send(query);
    QSignalSpy closed(&visitor.socket, &QAbstractSocket::disconnected);
    if (!visitor.closed && !closed.wait(10000))
        return "(no close)";
    return visitor.received;
}

// Name, e-mail address, homepage and description into the settings the program starts from.
inline void storeProfile(const QStringList& fields)
{
    const QStringList keys{"Real Name", "Email Address", "Homepage", "General Description"};
    for (int n = 0; n < keys.size(); ++n)
        Settings::write(kAppName, QStringLiteral("Finger"), keys[n], fields.value(n));
}
} // namespace ServerTesting
