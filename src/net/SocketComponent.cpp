#include "net/SocketComponent.h"

#include "net/ListenServer.h"
#include "net/LocalStack.h"
#include "net/ReverseLookupCache.h"
#include "net/SocketDescriptor.h"
#include "net/SocketDrain.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
constexpr int kDefaultBufferBytes = 4096;
constexpr int kMaxDataLength = 32767; // DataLength travels as a 16-bit value
constexpr qint64 kMinReadBuffer = 64 * 1024;
constexpr int kAcceptRetryMs = 1000;
constexpr int kDefaultPendingConnections = 30; // QTcpServer's own default
// Room in the kernel for clients that come while every connection socket is
// busy, so a burst waits its turn instead of having its connects dropped.
constexpr int kListenBacklog = 1024;

// Peers reached over IPv6 sockets show IPv4 clients as ::ffff:a.b.c.d.
QString addressText(const QHostAddress& address)
{
    if (address.isNull())
        return {};
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return isIPv4 ? QHostAddress(ipv4).toString() : address.toString();
}
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
            SocketDescriptor::close(std::exchange(spareDescriptor, -1));
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
            postError(SocketError::AddressNotAvailable, SocketComponent::tr("Invalid port %1").arg(port));
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
            postError(SocketError::AddressNotAvailable, SocketComponent::tr("Invalid port %1").arg(port));
            return;
        }
        auto* s = new ListenServer(q);
        s->setProxy(QNetworkProxy::NoProxy);
        s->setListenBacklogSize(kListenBacklog);
        if (!s->listen(options.listenAddress, quint16(port))) {
            const QString text = s->errorString();
            const int code = SocketError::fromQt(s->serverError(), text);
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
        if (!ListenServer::claim(descriptor)) {
            postError(SocketError::NotSocket,
                      SocketComponent::tr("No pending connection has the handle %1").arg(descriptor));
            return;
        }
        QTcpSocket* s = makeSocket();
        if (!s->setSocketDescriptor(descriptor)) {
            const QString text = s->errorString();
            const int code = SocketError::fromQt(s->error(), text);
            QObject::disconnect(s, nullptr, q, nullptr);
            s->deleteLater();
            SocketDescriptor::close(descriptor);
            postError(code, text);
            return;
        }
        socket = s;
        connected = true;
        partnerAddress = addressText(s->peerAddress());
        localPort = s->localPort();
        spareDescriptor = SocketDescriptor::spareFor(descriptor);
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
        spareDescriptor = SocketDescriptor::spareFor(socket->socketDescriptor());
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
            peerReset = SocketDescriptor::resetByPeer(spareDescriptor);
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
        emit q->LastError(SocketError::fromQt(error, text), text);
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
            emit q->LastError(SocketError::ConnectionReset, SocketError::text(SocketError::ConnectionReset));
        else
            emit q->Disconnect();
        return alive && gen == generation;
    }

    void connectTimedOut()
    {
        if (!connecting)
            return;
        release(false);
        emit q->LastError(SocketError::TimedOut, SocketError::text(SocketError::TimedOut));
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
        emit q->LastError(SocketError::fromQt(error, text), text);
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
        d->postError(SocketError::OperationNotSupported, tr("Operation %1 is not supported").arg(operation));
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
    const qint64 count = d->writeCount;
    d->writeCount = 0;
    setWriteBytes((part ? data.left(count) : data).toLatin1());
    d->writeCount = count;
}

void SocketComponent::setWriteBytes(const QByteArray& data)
{
    if (!d->socket || !d->connected)
        return;
    const bool part = d->writeCount > 0 && d->writeCount < data.size();
    const QByteArray bytes = part ? data.left(d->writeCount) : data;
    const qint64 queuedBefore = d->socket->bytesToWrite();
    d->socket->write(bytes);
    d->wroteAny = true;
    // Keep only what the socket may still hold: its queue is the newest bytes written.
    if (d->unsent.size() > queuedBefore)
        d->unsent.remove(0, d->unsent.size() - queuedBefore);
    if (d->unsent.isEmpty())
        d->unsent = bytes; // shared with the caller's buffer
    else
        d->unsent += bytes;
}

void SocketComponent::setReadCount(qint64 count)
{
    d->readCount = count;
}

QString SocketComponent::ReadData()
{
    return QString::fromLatin1(ReadBytes());
}

QByteArray SocketComponent::ReadBytes()
{
    if (!d->socket)
        return {};
    const qint64 wanted = d->readCount > 0 ? d->readCount : d->socket->bytesAvailable();
    QByteArray bytes = d->socket->read(wanted);
    d->consumed += bytes.size();
    return bytes;
}

bool SocketComponent::hasUnreadData() const
{
    if (!d->socket)
        return false;
    if (d->socket->bytesAvailable() > 0)
        return true;
    return SocketDescriptor::hasUnreadBytes(d->socket->socketDescriptor());
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
    return d->options.ownAddress ? *d->options.ownAddress : LocalStack::firstIPv4Address();
}

QString SocketComponent::OwnHostName() const
{
    return QHostInfo::localHostName();
}

QString SocketComponent::StackDescription() const
{
    return LocalStack::stackDescription();
}

int SocketComponent::SocketLimit() const
{
    return LocalStack::socketLimit();
}
