#include "net/SmtpClient.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {
// An address goes between angle brackets on a command line; a line break
// in it would end the command and start another.
bool breaksCommandLine(const QString& address)
{
    return address.contains(QLatin1Char('\r')) || address.contains(QLatin1Char('\n'))
           || address.contains(QChar(0));
}

// A reply as the user is shown it. One reply may run to the parser's limit,
// far more than a message box can usefully hold.
QString shownText(const SmtpReply& reply)
{
    constexpr qsizetype kShown = 1000;
    QString text = reply.text();
    if (text.size() > kShown) {
        text.truncate(kShown);
        text += QStringLiteral("...");
    }
    return text;
}

int remainingMs(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 0, std::numeric_limits<int>::max()));
}
} // namespace

SmtpClient::SmtpClient(QObject* parent) : QObject(parent) {}

SmtpClient::~SmtpClient() = default;

QString SmtpClient::formatDate(const QDateTime& when)
{
    // Names from fixed tables: the mail standard wants English whatever the locale.
    static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime t = when.isValid() ? when : QDateTime::currentDateTime();
    const QDate date = t.date();
    const QTime time = t.time();
    const int offsetMinutes = t.offsetFromUtc() / 60;
    const int absMinutes = std::abs(offsetMinutes);
    return QString::asprintf("%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", kDays[date.dayOfWeek() - 1], date.day(),
                             kMonths[date.month() - 1], date.year(), time.hour(), time.minute(), time.second(),
                             offsetMinutes < 0 ? '-' : '+', absMinutes / 60, absMinutes % 60);
}

QString SmtpClient::DateText() const
{
    return formatDate(m_clock ? m_clock() : QDateTime::currentDateTime());
}

bool SmtpClient::IsConnected() const
{
    return m_ready && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool SmtpClient::OpenConnection()
{
    dropConnection();
    m_errorCode = 0;
    m_errorString.clear();
    m_lastReply = SmtpReply();

    m_socket = new QTcpSocket(this);
    if (!connectSocket(newDeadline()))
        return false;

    const std::optional<SmtpReply> greeting = readReply(newDeadline());
    if (!greeting)
        return false;
    if (!greeting->isPositive()) {
        failFromReply(*greeting);
        quitAndDrop();
        return false;
    }

    std::optional<SmtpReply> hello = command("EHLO " + domainLiteral());
    if (!hello)
        return false;
    // A server that does not know EHLO says so with a 5xx reply; it still knows HELO.
    if (!hello->isPositive() && hello->code >= 500) {
        hello = command("HELO " + domainLiteral());
        if (!hello)
            return false;
    }
    if (!hello->isPositive()) {
        failFromReply(*hello);
        quitAndDrop();
        return false;
    }
    m_ready = true;
    return true;
}

// Resolves the host name within the deadline too: QAbstractSocket would
// resolve it inside waitForConnected() with a lookup that nothing cuts short.
bool SmtpClient::connectSocket(const QDeadlineTimer& deadline)
{
    QList<QHostAddress> addresses;
    if (QHostAddress literal; literal.setAddress(m_host)) {
        addresses.append(literal);
    } else {
        const std::optional<QHostInfo> found = lookUpHost(deadline);
        if (found)
            addresses = found->addresses();
        if (addresses.isEmpty()) {
            dropConnection();
            if (found)
                return fail(SmtpError::HostNotFound, tr("The SMTP server's host %1 was not found.").arg(m_host));
            return fail(SmtpError::TimedOut,
                        tr("The SMTP server's host %1 could not be looked up within %2 seconds.")
                            .arg(m_host)
                            .arg(m_timeLimit));
        }
    }
    // Each address in turn while time is left, as the socket itself would.
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        m_socket->connectToHost(addresses[i], static_cast<quint16>(m_port));
        if (m_socket->waitForConnected(remainingMs(deadline)))
            return true;
        if (i + 1 == addresses.size() || deadline.hasExpired())
            break;
        m_socket->abort();
    }
    return failFromSocket(deadline);
}

// The answer comes through the event loop, so one runs until it comes or the
// deadline passes; it leaves user input and sockets waiting, like every other
// wait of this blocking client.
std::optional<QHostInfo> SmtpClient::lookUpHost(const QDeadlineTimer& deadline)
{
    std::optional<QHostInfo> answer;
    QEventLoop loop;
    // Gone when this call returns, so a late answer is dropped.
    QObject context;
    auto done = [&answer, &loop](const QHostInfo& info) {
        answer = info;
        loop.quit();
    };
    const int id = m_lookup ? m_lookup(m_host, &context, done) : QHostInfo::lookupHost(m_host, &context, done);
    if (!answer) {
        QTimer limit;
        limit.setSingleShot(true);
        connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(remainingMs(deadline));
        loop.exec(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    }
    if (!answer)
        QHostInfo::abortHostLookup(id);
    return answer;
}

bool SmtpClient::BeginMessage()
{
    if (!IsConnected())
        return fail(SmtpError::NotConnected, tr("Not connected to the SMTP server."));
    if (breaksCommandLine(m_sender))
        return fail(SmtpError::BadAddress, tr("The sender's address holds a line break."));
    m_encoder.reset();
    const std::optional<SmtpReply> reply = command("MAIL FROM:<" + m_sender.toLatin1() + '>');
    if (!reply)
        return false;
    return reply->isPositive() || failFromReply(*reply);
}

bool SmtpClient::setRecipient(const QString& address)
{
    m_recipient = address;
    if (!IsConnected())
        return fail(SmtpError::NotConnected, tr("Not connected to the SMTP server."));
    if (breaksCommandLine(address))
        return fail(SmtpError::BadAddress, tr("The recipient's address holds a line break."));
    const std::optional<SmtpReply> reply = command("RCPT TO:<" + address.toLatin1() + '>');
    if (!reply)
        return false;
    return reply->isPositive() || failFromReply(*reply);
}

bool SmtpClient::startData()
{
    const std::optional<SmtpReply> reply = command("DATA");
    if (!reply)
        return false;
    if (!reply->isIntermediate())
        return failFromReply(*reply);
    m_inData = true;
    m_encoder.reset();
    return true;
}

bool SmtpClient::setSendData(const QString& block)
{
    if (!IsConnected())
        return fail(SmtpError::NotConnected, tr("Not connected to the SMTP server."));
    if (!m_inData && !startData())
        return false;
    const qsizetype count = std::clamp<qint64>(m_sendCount, 0, block.size());
    const QByteArray wire = m_encoder.encode(block.left(count));
    return wire.isEmpty() || writeBytes(wire, newDeadline());
}

bool SmtpClient::EndMessage()
{
    if (!IsConnected())
        return fail(SmtpError::NotConnected, tr("Not connected to the SMTP server."));
    if (!m_inData && !startData())
        return false;
    const QDeadlineTimer deadline = newDeadline();
    if (!writeBytes(m_encoder.finish(), deadline))
        return false;
    m_inData = false;
    const std::optional<SmtpReply> reply = readReply(deadline);
    if (!reply)
        return false;
    return reply->isPositive() || failFromReply(*reply);
}

bool SmtpClient::CloseConnection()
{
    if (!m_socket)
        return true;
    if (!IsConnected() || m_inData) {
        dropConnection();
        return true;
    }
    const std::optional<SmtpReply> reply = command("QUIT");
    if (!reply)
        return false; // already dropped
    m_ready = false;
    m_socket->disconnectFromHost();
    dropConnection();
    return reply->isPositive() || failFromReply(*reply);
}

std::optional<SmtpReply> SmtpClient::command(const QByteArray& line)
{
    const QDeadlineTimer deadline = newDeadline();
    if (!writeBytes(line + "\r\n", deadline))
        return std::nullopt;
    return readReply(deadline);
}

bool SmtpClient::writeBytes(const QByteArray& bytes, const QDeadlineTimer& deadline)
{
    if (m_socket->write(bytes) != bytes.size())
        return failFromSocket(deadline);
    while (m_socket->bytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(remainingMs(deadline)))
            return failFromSocket(deadline);
    }
    return true;
}

std::optional<SmtpReply> SmtpClient::readReply(const QDeadlineTimer& deadline)
{
    for (;;) {
        m_parser.feed(m_socket->readAll());
        if (std::optional<SmtpReply> reply = m_parser.next()) {
            m_lastReply = *reply;
            if (reply->valid)
                return reply;
            dropConnection();
            fail(SmtpError::BadReply, tr("The SMTP server sent no valid reply: %1").arg(shownText(*reply)));
            return std::nullopt;
        }
        if (!m_socket->waitForReadyRead(remainingMs(deadline)) && m_socket->bytesAvailable() == 0) {
            failFromSocket(deadline);
            return std::nullopt;
        }
    }
}

QDeadlineTimer SmtpClient::newDeadline() const
{
    return QDeadlineTimer(std::max(m_timeLimit, 0) * qint64(1000));
}

bool SmtpClient::fail(int code, const QString& text)
{
    m_errorCode = code;
    m_errorString = text;
    int response = 0;
    emit LastError(code, text, &response);
    return false;
}

bool SmtpClient::failFromReply(const SmtpReply& reply)
{
    return fail(reply.code, shownText(reply));
}

bool SmtpClient::failFromSocket(const QDeadlineTimer& deadline)
{
    if (!m_socket)
        return fail(SmtpError::NotConnected, tr("Not connected to the SMTP server."));
    // A server that answered before it hung up says best what went wrong.
    m_parser.feed(m_socket->readAll());
    if (std::optional<SmtpReply> reply = m_parser.next(); reply && reply->valid && !reply->isPositive()) {
        m_lastReply = *reply;
        dropConnection();
        return failFromReply(*reply);
    }

    const QAbstractSocket::SocketError error = m_socket->error();
    const bool late = error == QAbstractSocket::SocketTimeoutError || deadline.hasExpired();
    const int code = late ? SmtpError::TimedOut : SocketError::fromQt(error, m_socket->errorString());
    QString text;
    if (late) {
        text = m_socket->state() == QAbstractSocket::ConnectedState
                   ? tr("The SMTP server did not answer within %1 seconds.").arg(m_timeLimit)
                   : tr("The SMTP server could not be reached within %1 seconds.").arg(m_timeLimit);
    } else {
        switch (code) {
        case SocketError::ConnectionRefused:
            text = tr("The SMTP server refused the connection.");
            break;
        case SocketError::ConnectionReset:
            text = tr("The SMTP server closed the connection.");
            break;
        case SocketError::HostNotFound:
            text = tr("The SMTP server's host %1 was not found.").arg(m_host);
            break;
        case SocketError::HostUnreachable:
        case SocketError::NetworkUnreachable:
        case SocketError::TimedOut: // the kernel gave up before our own limit
            text = tr("The SMTP server cannot be reached.");
            break;
        default:
            text = m_socket->errorString();
            break;
        }
    }
    dropConnection();
    return fail(code, text);
}

// A server that refused to talk still gets its QUIT before the line is
// closed, as the protocol asks. Nothing depends on how that goes, so its
// failures are not reported.
void SmtpClient::quitAndDrop()
{
    const QDeadlineTimer deadline = newDeadline();
    if (m_socket && m_socket->write("QUIT\r\n") == 6) {
        while (m_socket->bytesToWrite() > 0 && m_socket->waitForBytesWritten(remainingMs(deadline))) {
        }
        // Its answer, if one comes in time.
        m_parser.feed(m_socket->readAll());
        while (!m_parser.next() && m_socket->waitForReadyRead(remainingMs(deadline)))
            m_parser.feed(m_socket->readAll());
    }
    dropConnection();
}

void SmtpClient::dropConnection()
{
    if (m_socket) {
        // Whatever was not sent is dropped on purpose: a message broken off
        // inside the data must never be completed by a late end of data.
        // After QUIT the socket is already closed and this changes nothing.
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_ready = false;
    m_inData = false;
    m_parser.clear();
    m_encoder.reset();
}

QByteArray SmtpClient::domainLiteral() const
{
    QHostAddress local = m_socket ? m_socket->localAddress() : QHostAddress(QHostAddress::LocalHost);
    bool isV4 = false;
    const quint32 v4 = local.toIPv4Address(&isV4);
    if (isV4)
        return '[' + QHostAddress(v4).toString().toLatin1() + ']';
    if (local.protocol() == QAbstractSocket::IPv6Protocol)
        return "[IPv6:" + local.toString().toLatin1() + ']';
    return "[127.0.0.1]";
}
