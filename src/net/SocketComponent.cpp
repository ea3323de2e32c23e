#include "net/SocketComponent.h"

#include "net/ReverseLookupCache.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QSet>
#include <QSocketNotifier>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

#if defined(Q_OS_WIN)
#include <winsock2.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#if defined(Q_OS_LINUX)
#include <netinet/in.h>
#include <netinet/tcp.h>

#include <cerrno>
#endif

namespace {
constexpr int kDefaultBufferBytes = 4096;
constexpr int kMaxDataLength = 32767; // DataLength travels as a 16-bit value
constexpr qint64 kMinReadBuffer = 64 * 1024;
constexpr int kLingerMs = 5000;
constexpr int kDrainLimitMs = 60000;
constexpr int kAcceptRetryMs = 1000;
constexpr int kSocketLimitCap = 32767;
constexpr int kDefaultPendingConnections = 30; // QTcpServer's own default
// Room in the kernel for clients that come while every connection socket is
// busy, so a burst waits its turn instead of having its connects dropped.
constexpr int kListenBacklog = 1024;

// Windows Sockets numbers plus 14000 for the cases the header does not name.
constexpr int kInvalidArgument = 24022;
constexpr int kInProgress = 24036;
constexpr int kNotSocket = 24038;
constexpr int kMessageSize = 24040;
constexpr int kOperationNotSupported = 24045;
constexpr int kFamilyNotSupported = 24047;
constexpr int kAddressNotAvailable = 24049;
constexpr int kNetworkDown = 24050;
constexpr int kNetworkUnreachable = 24051;
constexpr int kNoBufferSpace = 24055;

int errorCode(QAbstractSocket::SocketError error, const QString& text)
{
    using E = QAbstractSocket::SocketError;
    switch (error) {
    case E::ConnectionRefusedError:
    case E::ProxyConnectionRefusedError:
        return SocketError::ConnectionRefused;
    case E::RemoteHostClosedError:
    case E::ProxyConnectionClosedError:
        return SocketError::ConnectionReset;
    case E::HostNotFoundError:
    case E::ProxyNotFoundError:
        return SocketError::HostNotFound;
    case E::SocketAccessError:
        return SocketError::PermissionDenied;
    case E::SocketResourceError:
        return kNoBufferSpace;
    case E::SocketTimeoutError:
    case E::ProxyConnectionTimeoutError:
        return SocketError::TimedOut;
    case E::DatagramTooLargeError:
        return kMessageSize;
    case E::NetworkError:
        // Qt folds several causes into NetworkError; only its message tells them apart.
        if (text == QCoreApplication::translate("QNativeSocketEngine", "Network unreachable"))
            return kNetworkUnreachable;
        if (text == QCoreApplication::translate("QNativeSocketEngine", "Connection timed out"))
            return SocketError::TimedOut;
        return SocketError::HostUnreachable;
    case E::AddressInUseError:
        return SocketError::AddressInUse;
    case E::SocketAddressNotAvailableError:
        return kAddressNotAvailable;
    case E::UnsupportedSocketOperationError:
        return kFamilyNotSupported;
    case E::UnfinishedSocketOperationError:
        return kInProgress;
    case E::TemporaryError:
        return SocketError::WouldBlock;
    case E::OperationError:
        return kInvalidArgument;
    default:
        return kNetworkDown;
    }
}

// Peers reached over IPv6 sockets show IPv4 clients as ::ffff:a.b.c.d.
QString addressText(const QHostAddress& address)
{
    if (address.isNull())
        return {};
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}

void closeDescriptor(qintptr descriptor)
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

// A second descriptor for the same connection: it outlives Qt's own when Qt
// closes on end of stream, long enough to ask the kernel how the peer ended.
qintptr spareDescriptorFor(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    return descriptor < 0 ? -1 : ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
#else
    Q_UNUSED(descriptor);
    return -1;
#endif
}

// Qt reports a reset exactly like an orderly close; after a FIN the kernel
// waits in CLOSE_WAIT for our side, after a reset the connection is gone.
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

// Descriptors announced by an Accept event and not yet taken over.
QSet<qintptr>& unclaimedDescriptors()
{
    static QSet<qintptr> descriptors;
    return descriptors;
}

// Carries a connection its owner closed to its end: the written data drains,
// the write side is shut, and what the peer still sends is read and dropped
// until it closes too. Closing with unread data would send a reset that
// destroys the reply the peer is still reading.
class SocketDrain : public QObject
{
public:
    // spare: a second descriptor of the connection, or -1; unsent: the
    // bytes written lately, of which the socket may still hold the tail.
    static void start(QTcpSocket* socket, qintptr spare, QByteArray unsent);

private:
    explicit SocketDrain(QTcpSocket* socket)
        : QObject(QCoreApplication::instance())
        , m_socket(socket)
    {
        socket->setParent(this);
        m_linger.setSingleShot(true);
        m_deadline.setSingleShot(true);
        connect(&m_linger, &QTimer::timeout, this, &SocketDrain::finish);
        connect(&m_deadline, &QTimer::timeout, this, &SocketDrain::finish);
        connect(socket, &QAbstractSocket::bytesWritten, this, [this] {
            if (!m_halfClosed)
                m_linger.start(kLingerMs); // progress: a slow reader still gets all of it
            halfCloseWhenFlushed();
        });
        connect(socket, &QIODevice::readyRead, this, [this] { m_socket->readAll(); });
        connect(socket, &QAbstractSocket::disconnected, this, &SocketDrain::finish);
        connect(socket, &QAbstractSocket::errorOccurred, this, &SocketDrain::finish);
        m_linger.start(kLingerMs);
        m_deadline.start(kDrainLimitMs);
        socket->readAll();
        socket->flush();
        halfCloseWhenFlushed();
    }

    void halfCloseWhenFlushed()
    {
        if (m_finished || m_halfClosed || m_socket->bytesToWrite() > 0)
            return;
        m_halfClosed = true;
        shutdownWrite(m_socket->socketDescriptor());
        m_linger.start(kLingerMs);
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

#if defined(Q_OS_LINUX)
// The same below Qt, for connections with a spare descriptor. Qt shuts a
// socket down as soon as the peer's end of stream arrives, dropping what it
// has not sent yet, so a client that ends its sending side after the query
// would lose the tail of a long reply. This drain owns the spare descriptor
// and the unsent bytes, and sends them whatever the peer has closed.
class DescriptorDrain : public QObject
{
public:
    DescriptorDrain(int descriptor, QByteArray unsent)
        : QObject(QCoreApplication::instance())
        , m_descriptor(descriptor)
        , m_unsent(std::move(unsent))
        , m_readable(descriptor, QSocketNotifier::Read)
        , m_writable(descriptor, QSocketNotifier::Write)
    {
        m_writable.setEnabled(false);
        m_linger.setSingleShot(true);
        m_deadline.setSingleShot(true);
        connect(&m_linger, &QTimer::timeout, this, &DescriptorDrain::finish);
        connect(&m_deadline, &QTimer::timeout, this, &DescriptorDrain::finish);
        connect(&m_readable, &QSocketNotifier::activated, this, &DescriptorDrain::readAndDrop);
        connect(&m_writable, &QSocketNotifier::activated, this, &DescriptorDrain::writeSome);
        m_linger.start(kLingerMs);
        m_deadline.start(kDrainLimitMs);
        writeSome();
    }

    ~DescriptorDrain() override { closeDescriptor(); }

private:
    void writeSome()
    {
        while (!m_finished && m_sent < m_unsent.size()) {
            const ssize_t n = ::send(m_descriptor, m_unsent.constData() + m_sent, size_t(m_unsent.size() - m_sent),
                                     MSG_DONTWAIT | MSG_NOSIGNAL);
            if (n > 0) {
                m_sent += n;
                m_linger.start(kLingerMs); // progress: a slow reader still gets all of it
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                m_writable.setEnabled(true);
                return;
            } else {
                finish();
                return;
            }
        }
        if (m_finished)
            return;
        m_writable.setEnabled(false);
        m_unsent = QByteArray();
        m_sent = 0;
        m_halfClosed = true;
        ::shutdown(m_descriptor, SHUT_WR);
        if (m_peerEnded)
            finish();
        else
            m_linger.start(kLingerMs);
    }

    void readAndDrop()
    {
        char buffer[16 * 1024];
        // A bounded amount per wake-up, so a flooding peer cannot hold the thread.
        for (int round = 0; round < 16; ++round) {
            const ssize_t n = ::recv(m_descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                continue;
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (n < 0) {
                finish();
                return;
            }
            // End of the peer's stream: what is left of the reply still goes.
            m_peerEnded = true;
            m_readable.setEnabled(false);
            if (m_halfClosed)
                finish();
            return;
        }
    }

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        m_linger.stop();
        m_deadline.stop();
        closeDescriptor();
        deleteLater();
    }

    void closeDescriptor()
    {
        m_readable.setEnabled(false);
        m_writable.setEnabled(false);
        if (m_descriptor >= 0)
            ::close(std::exchange(m_descriptor, -1));
    }

    int m_descriptor;
    QByteArray m_unsent;
    qsizetype m_sent = 0;
    QSocketNotifier m_readable;
    QSocketNotifier m_writable;
    QTimer m_linger;
    QTimer m_deadline;
    bool m_halfClosed = false;
    bool m_peerEnded = false;
    bool m_finished = false;
};
#endif

void SocketDrain::start(QTcpSocket* socket, qintptr spare, QByteArray unsent)
{
    if (socket->state() != QAbstractSocket::ConnectedState) {
        if (spare >= 0)
            closeDescriptor(spare);
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
        closeDescriptor(spare);
    new SocketDrain(socket);
}

// Hands every accepted descriptor to the owner's Accept event instead of
// queueing a QTcpSocket, so another component can take it over.
class ListenServer : public QTcpServer
{
public:
    explicit ListenServer(SocketComponent* owner)
        : m_owner(owner)
    {
    }

    void release()
    {
        m_owner = nullptr;
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        unclaimedDescriptors().insert(descriptor);
        if (m_owner)
            emit m_owner->Accept(descriptor);
        // Nobody took it: close it so the client sees the end instead of waiting.
        if (unclaimedDescriptors().remove(descriptor))
            closeDescriptor(descriptor);
    }

private:
    QPointer<SocketComponent> m_owner;
};
} // namespace

class SocketComponent::Private
{
public:
    Private(SocketComponent* owner, const SocketOptions& socketOptions)
        : q(owner)
        , options(socketOptions)
    {
        connectTimer.setSingleShot(true);
        idleTimer.setSingleShot(true);
        acceptRetry.setSingleShot(true);
        QObject::connect(&connectTimer, &QTimer::timeout, q, [this] { connectTimedOut(); });
        QObject::connect(&idleTimer, &QTimer::timeout, q, [this] { idleTimedOut(); });
        QObject::connect(&acceptRetry, &QTimer::timeout, q, [this] {
            if (server && !acceptingPaused)
                server->resumeAccepting();
        });
    }

    int mappedPort(int port) const
    {
        return options.portMap.value(port, port);
    }

    int chunkSize() const
    {
        return std::clamp(bufferBytes > 0 ? bufferBytes : kDefaultBufferBytes, 1, kMaxDataLength);
    }

    qint64 readBufferSize() const
    {
        return std::max<qint64>(chunkSize(), kMinReadBuffer);
    }

    QTcpSocket* makeSocket()
    {
        auto* s = new QTcpSocket;
        s->setProxy(QNetworkProxy::NoProxy);
        s->setReadBufferSize(readBufferSize());
        QObject::connect(s, &QAbstractSocket::connected, q, [this] { onConnected(); });
        QObject::connect(s, &QIODevice::readyRead, q, [this] { onReadyRead(); });
        QObject::connect(s, &QAbstractSocket::errorOccurred, q,
                         [this](QAbstractSocket::SocketError error) { onError(error); });
        QObject::connect(s, &QAbstractSocket::disconnected, q, [this] { onDisconnected(); });
        return s;
    }

    void closeSpare()
    {
        if (spareDescriptor >= 0)
            closeDescriptor(std::exchange(spareDescriptor, -1));
    }

    // Lets go of everything: no event of the old connection or listener
    // reaches the owner afterwards. Sockets are only ever deleted later,
    // since this may run inside one of their own signals.
    void release(bool graceful)
    {
        ++generation;
        connectTimer.stop();
        idleTimer.stop();
        acceptRetry.stop();
        ReverseLookupCache::shared().cancel(std::exchange(lookupTicket, 0));
        if (QTcpSocket* s = std::exchange(socket, nullptr)) {
            QObject::disconnect(s, nullptr, q, nullptr);
            // A connection that was never written to has no reply to protect.
            if (graceful && wroteAny) {
                SocketDrain::start(s, std::exchange(spareDescriptor, -1), std::exchange(unsent, QByteArray()));
            } else {
                s->abort();
                s->deleteLater();
            }
        }
        closeSpare();
        unsent.clear();
        wroteAny = false;
        if (ListenServer* s = std::exchange(server, nullptr)) {
            s->release();
            s->close();
            s->deleteLater();
        }
        connecting = false;
        connected = false;
        peerReset = false;
        endPending = false;
        timeoutReported = false;
        readDepth = 0;
        localPort = 0;
    }

    void postError(int code, const QString& text)
    {
        const quint64 gen = generation;
        QMetaObject::invokeMethod(
            q,
            [this, gen, code, text] {
                if (gen == generation)
                    emit q->LastError(code, text);
            },
            Qt::QueuedConnection);
    }

    void startConnect()
    {
        release(true);
        targetAddress.clear();
        partnerAddress.clear();
        partnerName.clear();
        const int port = mappedPort(targetPort);
        if (port < 1 || port > 65535) {
            postError(kAddressNotAvailable, SocketComponent::tr("Invalid port %1").arg(port));
            return;
        }
        QString host = targetHost;
        if (host.size() > 2 && host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
        socket = makeSocket();
        connecting = true;
        if (options.connectTimeoutMs > 0)
            connectTimer.start(options.connectTimeoutMs);
        const int localBind = mappedPort(bindPort);
        const quint64 gen = generation;
        // Started from the event loop, so even a failure Qt reports at once
        // never reaches the owner inside setOperation.
        QMetaObject::invokeMethod(
            q,
            [this, gen, host, port, localBind] {
                if (gen != generation || !socket)
                    return;
                if (localBind > 0 && localBind <= 65535
                    && !socket->bind(QHostAddress::Any, quint16(localBind))) {
                    fail(socket->error(), socket->errorString());
                    return;
                }
                socket->connectToHost(host, quint16(port));
            },
            Qt::QueuedConnection);
    }

    void startListen()
    {
        release(true);
        acceptingPaused = false;
        const int port = mappedPort(bindPort);
        if (port < 0 || port > 65535) {
            postError(kAddressNotAvailable, SocketComponent::tr("Invalid port %1").arg(port));
            return;
        }
        auto* s = new ListenServer(q);
        s->setProxy(QNetworkProxy::NoProxy);
        s->setListenBacklogSize(kListenBacklog);
        if (!s->listen(options.listenAddress, quint16(port))) {
            const QString text = s->errorString();
            const int code = errorCode(s->serverError(), text);
            s->release();
            s->deleteLater();
            postError(code, text);
            return;
        }
        server = s;
        localPort = s->serverPort();
        QObject::connect(s, &QTcpServer::acceptError, q,
                         [this](QAbstractSocket::SocketError error) { onAcceptError(error); });
    }

    void takeOver(qintptr descriptor)
    {
        release(true);
        targetAddress.clear();
        partnerAddress.clear();
        partnerName.clear();
        // Only a descriptor just announced by Accept: any other number may by
        // now belong to an unrelated file or socket of this process.
        if (!unclaimedDescriptors().remove(descriptor)) {
            postError(kNotSocket, SocketComponent::tr("No pending connection has the handle %1").arg(descriptor));
            return;
        }
        QTcpSocket* s = makeSocket();
        if (!s->setSocketDescriptor(descriptor)) {
            const QString text = s->errorString();
            const int code = errorCode(s->error(), text);
            QObject::disconnect(s, nullptr, q, nullptr);
            s->deleteLater();
            closeDescriptor(descriptor);
            postError(code, text);
            return;
        }
        socket = s;
        connected = true;
        partnerAddress = addressText(s->peerAddress());
        localPort = s->localPort();
        spareDescriptor = spareDescriptorFor(descriptor);
        startIdleTimer();
        startPartnerLookup();
    }

    void startPartnerLookup()
    {
        if (partnerAddress.isEmpty())
            return;
        const quint64 gen = generation;
        auto arrived = [this, gen](const QString& name) {
            if (gen != generation)
                return;
            lookupTicket = 0;
            partnerName = name;
        };
        // A visitor that comes back within the minute is named at once.
        if (std::optional<QString> name = ReverseLookupCache::shared().lookUp(partnerAddress, arrived, lookupTicket))
            partnerName = *name;
    }

    void startIdleTimer()
    {
        if (options.idleTimeoutMs > 0 && !timeoutReported)
            idleTimer.start(options.idleTimeoutMs);
    }

    void onConnected()
    {
        connectTimer.stop();
        connecting = false;
        connected = true;
        targetAddress = addressText(socket->peerAddress());
        partnerAddress = targetAddress;
        localPort = socket->localPort();
        spareDescriptor = spareDescriptorFor(socket->socketDescriptor());
        startIdleTimer();
        emit q->Connect();
    }

    void onReadyRead()
    {
        if (connected)
            startIdleTimer();
        deliverReads();
    }

    // Offers what has arrived in Read events of at most BufferBytes while the
    // owner keeps taking some; a handler that reads nothing ends the round,
    // so a handler that ignores data cannot make this spin. False when the
    // owner closed, restarted or destroyed the component meanwhile.
    bool deliverReads()
    {
        if (!socket || readDepth > 0)
            return true; // a round further out picks up what is new
        ++readDepth;
        const QPointer<SocketComponent> alive(q);
        const quint64 gen = generation;
        for (;;) {
            const qint64 available = socket->bytesAvailable();
            if (available <= 0)
                break;
            const qint64 before = consumed;
            emit q->Read(int(std::min<qint64>(available, chunkSize())), false);
            if (!alive || gen != generation)
                return false;
            if (consumed == before)
                break;
        }
        --readDepth;
        if (endPending) {
            endPending = false;
            return finishPeerClose();
        }
        return true;
    }

    void onError(QAbstractSocket::SocketError error)
    {
        if (!socket)
            return;
        const QString text = socket->errorString();
        if (connected && error == QAbstractSocket::RemoteHostClosedError) {
            // Qt has closed its descriptor already; the spare one still shows
            // whether this was an orderly close or a reset. disconnected follows.
            peerReset = resetByPeer(spareDescriptor);
            closeSpare();
            return;
        }
        fail(error, text);
    }

    void fail(QAbstractSocket::SocketError error, const QString& text)
    {
        if (connected) {
            connected = false;
            if (!deliverReads())
                return;
        }
        release(false);
        emit q->LastError(errorCode(error, text), text);
    }

    void onDisconnected()
    {
        closeSpare();
        idleTimer.stop();
        // Nothing written from now on could reach the peer.
        connected = false;
        if (readDepth > 0)
            endPending = true; // reported once the running round has delivered the rest
        else
            finishPeerClose();
    }

    bool finishPeerClose()
    {
        if (!deliverReads())
            return false;
        const QPointer<SocketComponent> alive(q);
        const quint64 gen = generation;
        if (peerReset)
            emit q->LastError(SocketError::ConnectionReset, SocketComponent::tr("Connection reset by peer"));
        else
            emit q->Disconnect();
        return alive && gen == generation;
    }

    void connectTimedOut()
    {
        if (!connecting)
            return;
        release(false);
        emit q->LastError(SocketError::TimedOut, SocketComponent::tr("Connection timed out"));
    }

    void idleTimedOut()
    {
        if (!connected || timeoutReported)
            return;
        timeoutReported = true;
        emit q->Timeout(0);
    }

    void onAcceptError(QAbstractSocket::SocketError error)
    {
        if (!server)
            return;
        // Qt stops accepting after a hard failure (say, out of descriptors);
        // try again later so the service recovers once descriptors are free.
        if (!acceptingPaused)
            acceptRetry.start(kAcceptRetryMs);
        const QString text = server->errorString();
        emit q->LastError(errorCode(error, text), text);
    }

    SocketComponent* const q;
    const SocketOptions options;

    int operation = 0;
    int family = 2;
    int protocol = 6;
    int bindPort = 0;
    QString targetHost;
    int targetPort = 0;
    int bufferBytes = 0;
    bool optionA = false;
    bool optionB = false;
    bool optionC = false;
    qint64 writeCount = 0;
    qint64 readCount = 0;

    QTcpSocket* socket = nullptr; // deleted only later, never inside its own signals
    ListenServer* server = nullptr; // likewise
    QTimer connectTimer;
    QTimer idleTimer;
    QTimer acceptRetry;
    quint64 generation = 0; // bumped by release(); stale queued work checks it
    bool connecting = false;
    bool connected = false;
    bool peerReset = false;
    bool endPending = false;
    bool timeoutReported = false;
    bool acceptingPaused = false;
    int readDepth = 0;
    qint64 consumed = 0;
    qintptr spareDescriptor = -1;
    // What was written lately; the socket's buffer holds its tail until sent.
    QByteArray unsent;
    bool wroteAny = false;
    ReverseLookupCache::Ticket lookupTicket = 0;
    QString targetAddress;
    QString partnerName;
    QString partnerAddress;
    int localPort = 0;
};

SocketComponent::SocketComponent(const SocketOptions& options, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this, options))
{
}

SocketComponent::~SocketComponent()
{
    d->release(true);
}

void SocketComponent::setOperation(int operation)
{
    d->operation = operation;
    switch (operation) {
    case OpConnect:
        d->startConnect();
        break;
    case OpListen:
        d->startListen();
        break;
    case OpClose:
        d->release(true);
        break;
    default:
        d->postError(kOperationNotSupported, tr("Operation %1 is not supported").arg(operation));
        break;
    }
}

int SocketComponent::Operation() const
{
    return d->operation;
}

void SocketComponent::setFamily(int family)
{
    d->family = family;
}

int SocketComponent::Family() const
{
    return d->family;
}

void SocketComponent::setProtocolNumber(int protocol)
{
    d->protocol = protocol;
}

int SocketComponent::ProtocolNumber() const
{
    return d->protocol;
}

void SocketComponent::setBindPort(int port)
{
    d->bindPort = port;
}

int SocketComponent::BindPort() const
{
    return d->bindPort;
}

void SocketComponent::setTargetHost(const QString& host)
{
    d->targetHost = host;
}

void SocketComponent::setTargetPort(int port)
{
    d->targetPort = port;
}

int SocketComponent::TargetPort() const
{
    return d->targetPort;
}

void SocketComponent::setBufferBytes(int bytes)
{
    d->bufferBytes = bytes;
    if (d->socket)
        d->socket->setReadBufferSize(d->readBufferSize());
}

int SocketComponent::BufferBytes() const
{
    return d->bufferBytes;
}

// Listening sockets get SO_REUSEADDR from QTcpServer anyway; the options are kept for reading back.
void SocketComponent::setOptionA(bool on)
{
    d->optionA = on;
}

void SocketComponent::setOptionB(bool on)
{
    d->optionB = on;
}

void SocketComponent::setOptionC(bool on)
{
    d->optionC = on;
}

bool SocketComponent::OptionA() const
{
    return d->optionA;
}

bool SocketComponent::OptionB() const
{
    return d->optionB;
}

bool SocketComponent::OptionC() const
{
    return d->optionC;
}

void SocketComponent::setAcceptHandle(qintptr socketId)
{
    d->takeOver(socketId);
}

void SocketComponent::setWriteCount(qint64 count)
{
    d->writeCount = count;
}

void SocketComponent::setWriteData(const QString& data)
{
    if (!d->socket || !d->connected)
        return;
    const bool part = d->writeCount > 0 && d->writeCount < data.size();
    const QByteArray bytes = (part ? data.left(d->writeCount) : data).toLatin1();
    const qint64 queuedBefore = d->socket->bytesToWrite();
    d->socket->write(bytes);
    d->wroteAny = true;
    // Keep only what the socket may still hold: its queue is the newest bytes written.
    if (d->unsent.size() > queuedBefore)
        d->unsent.remove(0, d->unsent.size() - queuedBefore);
    d->unsent += bytes;
}

void SocketComponent::setReadCount(qint64 count)
{
    d->readCount = count;
}

QString SocketComponent::ReadData()
{
    if (!d->socket)
        return {};
    const qint64 wanted = d->readCount > 0 ? d->readCount : d->socket->bytesAvailable();
    const QByteArray bytes = d->socket->read(wanted);
    d->consumed += bytes.size();
    return QString::fromLatin1(bytes);
}

bool SocketComponent::hasUnreadData() const
{
    if (!d->socket)
        return false;
    if (d->socket->bytesAvailable() > 0)
        return true;
#if defined(Q_OS_UNIX)
    int waiting = 0;
    return ::ioctl(int(d->socket->socketDescriptor()), FIONREAD, &waiting) == 0 && waiting > 0;
#else
    return false;
#endif
}

void SocketComponent::pauseAccepting()
{
    d->acceptingPaused = true;
    d->acceptRetry.stop();
    if (d->server) {
        // QTcpServer goes on accepting the rest of a burst after a pause made
        // inside Accept; a pending limit of 0 ends that round at once.
        d->server->setMaxPendingConnections(0);
        d->server->pauseAccepting();
    }
}

void SocketComponent::resumeAccepting()
{
    d->acceptingPaused = false;
    if (d->server) {
        d->server->setMaxPendingConnections(kDefaultPendingConnections);
        d->server->resumeAccepting();
    }
}

bool SocketComponent::ConnectedState() const
{
    return d->connected;
}

bool SocketComponent::BusyState() const
{
    return d->connecting || (d->connected && d->socket && d->socket->bytesToWrite() > 0);
}

QString SocketComponent::TargetHost() const
{
    return d->targetHost;
}

QString SocketComponent::TargetAddress() const
{
    return d->targetAddress;
}

QString SocketComponent::PartnerName() const
{
    return d->partnerName;
}

QString SocketComponent::PartnerAddress() const
{
    return d->partnerAddress;
}

int SocketComponent::LocalPort() const
{
    return d->localPort;
}

QString SocketComponent::OwnAddress() const
{
    if (d->options.ownAddress)
        return *d->options.ownAddress;
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

QString SocketComponent::OwnHostName() const
{
    return QHostInfo::localHostName();
}

QString SocketComponent::StackDescription() const
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

int SocketComponent::SocketLimit() const
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
