#include "net/SocketDrain.h"

#include "net/DescriptorDrain.h"
#include "net/SocketDescriptor.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

namespace {
// The drain over Qt, for connections without a spare descriptor.
class GracefulDrain : public QObject
{
public:
    explicit GracefulDrain(QTcpSocket* socket)
        : QObject(QCoreApplication::instance())
        , m_socket(socket)
    {
        socket->setParent(this);
        m_linger.setSingleShot(true);
        m_deadline.setSingleShot(true);
        connect(&m_linger, &QTimer::timeout, this, &GracefulDrain::finish);
        connect(&m_deadline, &QTimer::timeout, this, &GracefulDrain::finish);
        connect(socket, &QAbstractSocket::bytesWritten, this, [this] {
            if (!m_halfClosed)
                m_linger.start(SocketDrain::kLingerMs); // progress: a slow reader still gets all of it
            halfCloseWhenFlushed();
        });
        connect(socket, &QIODevice::readyRead, this, [this] { m_socket->readAll(); });
        connect(socket, &QAbstractSocket::disconnected, this, &GracefulDrain::finish);
        connect(socket, &QAbstractSocket::errorOccurred, this, &GracefulDrain::finish);
        m_linger.start(SocketDrain::kLingerMs);
        m_deadline.start(SocketDrain::kLimitMs);
        socket->readAll();
        socket->flush();
        halfCloseWhenFlushed();
    }

private:
    void halfCloseWhenFlushed()
    {
        if (m_finished || m_halfClosed || m_socket->bytesToWrite() > 0)
            return;
        m_halfClosed = true;
        SocketDescriptor::shutdownWrite(m_socket->socketDescriptor());
        m_linger.start(SocketDrain::kLingerMs);
    }

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        m_linger.stop();
        m_deadline.stop();
        disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
        deleteLater();
    }

    QTcpSocket* m_socket;
    QTimer m_linger;
    QTimer m_deadline;
    bool m_halfClosed = false;
    bool m_finished = false;
};
} // namespace

namespace SocketDrain {

void start(QTcpSocket* socket, qintptr spare, QByteArray unsent)
{
    if (socket->state() != QAbstractSocket::ConnectedState) {
        if (spare >= 0)
            SocketDescriptor::close(spare);
        socket->abort();
        socket->deleteLater();
        return;
    }
#if defined(Q_OS_LINUX)
    if (spare >= 0) {
        socket->flush();
        // The socket's buffer holds the last bytesToWrite() bytes written.
        const qint64 pending = socket->bytesToWrite();
        if (pending < unsent.size())
            unsent.remove(0, unsent.size() - pending);
        if (pending == unsent.size()) {
            new DescriptorDrain(int(spare), std::move(unsent));
            // The spare descriptor keeps the connection open past this close.
            socket->abort();
            socket->deleteLater();
            return;
        }
    }
#endif
    if (spare >= 0)
        SocketDescriptor::close(spare);
    new GracefulDrain(socket);
}

} // namespace SocketDrain
