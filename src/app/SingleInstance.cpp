#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

namespace {
// The second start must be gone within a second, whatever the running copy does.
constexpr int kHandOverMs = 800;
// Start-ups that overlap take turns; the turn is held only while deciding.
constexpr int kLockWaitMs = 150;
// A peer that connects and never finishes its message is dropped.
constexpr int kReceiveLimitMs = 5000;
// Arguments are a few links; anything longer is no start of this program.
constexpr quint32 kMaxMessage = 64 * 1024;
const QByteArray kAcknowledge = QByteArrayLiteral("ok\n");

// Marks the activation token's field, which follows the arguments. A start
// without a token sends the arguments alone, so copies that know no token
// and copies that do read each other's messages alike.
constexpr char kTokenMark = '\x01';

// Length, then the arguments and the activation token in UTF-8, each ended by
// a NUL (none holds one).
QByteArray encode(const QStringList& arguments, const QByteArray& activationToken)
{
    QByteArray payload;
    for (const QString& argument : arguments)
        payload += argument.toUtf8() + '\0';
    const QByteArray token = QByteArray(activationToken).replace('\0', "");
    if (!token.isEmpty())
        payload += kTokenMark + token + '\0';
    QByteArray message(4, '\0');
    qToBigEndian<quint32>(quint32(payload.size()), message.data());
    return message + payload;
}

QStringList decodeFields(const QByteArray& payload)
{
    QStringList arguments;
    qsizetype start = 0;
    for (qsizetype end = payload.indexOf('\0'); end >= 0; end = payload.indexOf('\0', start)) {
        arguments << QString::fromUtf8(payload.mid(start, end - start));
        start = end + 1;
    }
    return arguments;
}
} // namespace

SingleInstance::SingleInstance(const QString& folder, QObject* parent) : QObject(parent), m_folder(folder)
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server.nextPendingConnection()) {
            peer->setParent(this);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] { receive(peer); });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            QTimer::singleShot(kReceiveLimitMs, peer, [peer] { peer->abort(); });
        }
    });
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::runtimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::socketPath() const
{
    return m_folder + QStringLiteral("/finger-quobix.socket");
}

QByteArray SingleInstance::activationTokenFromEnvironment()
{
    const QByteArray token = qgetenv("XDG_ACTIVATION_TOKEN");
    return token.isEmpty() ? qgetenv("DESKTOP_STARTUP_ID") : token;
}

SingleInstance::Role SingleInstance::start(const QStringList& arguments, const QByteArray& activationToken)
{
    if (m_folder.isEmpty() || !QDir().mkpath(m_folder)) {
        m_error = QStringLiteral("A second start cannot reach this one: there is no runtime folder.");
        return Role::Running;
    }
    // Two starts at once would otherwise both find no socket and both listen.
    QLockFile turn(m_folder + QStringLiteral("/finger-quobix.lock"));
    turn.tryLock(kLockWaitMs);

    const QDeadlineTimer deadline(kHandOverMs);
    QLocalSocket peer;
    peer.connectToServer(socketPath());
    if (peer.waitForConnected(int(deadline.remainingTime()))) {
        if (handOver(peer, encode(arguments, activationToken), deadline))
            return Role::HandedOver;
        m_error = QStringLiteral("Finger Quobix is running but did not answer: ") + peer.errorString();
        return Role::Unanswered;
    }
    if (peer.error() != QLocalSocket::ServerNotFoundError && peer.error() != QLocalSocket::ConnectionRefusedError) {
        m_error = QStringLiteral("Finger Quobix is running but did not answer: ") + peer.errorString();
        return Role::Unanswered;
    }
    // Nobody answers on a socket that a crashed run left behind.
    QLocalServer::removeServer(socketPath());
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(socketPath()))
        m_error = QStringLiteral("A second start cannot reach this one (%1): %2")
                      .arg(QDir::toNativeSeparators(socketPath()), m_server.errorString());
    return Role::Running;
}

bool SingleInstance::handOver(QLocalSocket& peer, const QByteArray& message, const QDeadlineTimer& deadline)
{
    peer.write(message);
    while (peer.bytesToWrite() > 0) {
        if (!peer.waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    while (peer.bytesAvailable() < kAcknowledge.size()) {
        if (!peer.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return peer.read(kAcknowledge.size()) == kAcknowledge;
}

void SingleInstance::receive(QLocalSocket* peer)
{
    if (peer->bytesAvailable() < 4)
        return;
    const QByteArray header = peer->peek(4);
    const quint32 length = qFromBigEndian<quint32>(header.constData());
    if (length > kMaxMessage) {
        peer->abort();
        return;
    }
    if (peer->bytesAvailable() < 4 + qint64(length))
        return;
    peer->skip(4);
    QStringList arguments = decodeFields(peer->read(length));
    QByteArray activationToken;
    if (!arguments.isEmpty() && arguments.last().startsWith(QLatin1Char(kTokenMark)))
        activationToken = arguments.takeLast().mid(1).toUtf8();
    peer->write(kAcknowledge);
    peer->disconnectFromServer();
    // The query lets events run, which may delete this peer: never inside its own signal.
    QMetaObject::invokeMethod(
        this, [this, arguments, activationToken] { emit argumentsReceived(arguments, activationToken); },
        Qt::QueuedConnection);
}
