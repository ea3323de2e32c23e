#pragma once

#include "net/SmtpWire.h"
#include "net/SocketErrors.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QDeadlineTimer;
class QHostInfo;
class QTcpSocket;

// Error codes that LastError reports besides the server's own reply codes
// (which it passes on as they are, 421 to 554). Socket failures report the
// shared table's codes (SocketError), so they read as the socket
// component's; the client raises these few itself.
namespace SmtpError {
constexpr int TimedOut = SocketError::TimedOut;
constexpr int NotConnected = SocketError::NotConnected;
constexpr int HostNotFound = SocketError::HostNotFound;
// The server sent something that is not an SMTP reply.
constexpr int BadReply = 20000;
// A sender or recipient address that would break the command line.
constexpr int BadAddress = 20001;
} // namespace SmtpError

// A small blocking SMTP client: each action talks to the server and returns
// when the server has answered or the time limit has passed. Failures raise
// LastError and make the action return false.
class SmtpClient : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SmtpClient)

public:
    explicit SmtpClient(QObject* parent = nullptr);
    ~SmtpClient() override;

    // Only the blocking mode exists; the setting is kept for callers that set it.
    void setBlocking(bool blocking) { m_blocking = blocking; }
    bool Blocking() const { return m_blocking; }
    void setServerHost(const QString& host) { m_host = host; }
    QString ServerHost() const { return m_host; }
    void setServerPort(int port) { m_port = port; }
    int ServerPort() const { return m_port; }
    // Seconds that any one wait (connect, a reply, a write) may last.
    void setTimeLimit(int seconds) { m_timeLimit = seconds; }
    int TimeLimit() const { return m_timeLimit; }

    // Connects, takes the greeting and introduces itself (EHLO, or HELO when
    // the server does not know EHLO).
    bool OpenConnection();
    bool IsConnected() const;

    void setSender(const QString& address) { m_sender = address; }
    QString Sender() const { return m_sender; }
    // MAIL FROM with the sender just set.
    bool BeginMessage();
    // RCPT TO: setting the recipient names it to the server.
    bool setRecipient(const QString& address);
    QString Recipient() const { return m_recipient; }

    // The current date and time as a mail header value (RFC 5322).
    QString DateText() const;
    static QString formatDate(const QDateTime& when);
    // Where DateText takes the time from.
    void setClock(std::function<QDateTime()> clock) { m_clock = std::move(clock); }

    // Starts looking up a host name; the answer goes to done, through the
    // event loop, unless context is gone by then. Returns the lookup's id.
    using HostLookup = std::function<int(const QString& name, QObject* context,
                                         std::function<void(const QHostInfo&)> done)>;
    // Where host names are looked up (QHostInfo unless set).
    void setHostLookup(HostLookup lookup) { m_lookup = std::move(lookup); }

    void setSendCount(qint64 count) { m_sendCount = count; }
    qint64 SendCount() const { return m_sendCount; }
    // Sends the first SendCount characters of the block (DATA first, when it
    // is the message's first block).
    bool setSendData(const QString& block);
    // Ends the data; true once the server has accepted the message.
    bool EndMessage();
    // QUIT and close. A conversation broken off inside the data is dropped
    // without QUIT, so the server discards the partial message.
    bool CloseConnection();

    int LastErrorCode() const { return m_errorCode; }
    QString LastErrorString() const { return m_errorString; }
    // The server's last reply, whatever it was.
    SmtpReply LastReply() const { return m_lastReply; }

signals:
    // Response is an out-value for the receiver; this client ignores it.
    void LastError(int ErrorCode, const QString& ErrorString, int* Response);

private:
    bool fail(int code, const QString& text);
    bool failFromSocket(const QDeadlineTimer& deadline);
    bool failFromReply(const SmtpReply& reply);
    QDeadlineTimer newDeadline() const;
    bool writeBytes(const QByteArray& bytes, const QDeadlineTimer& deadline);
    std::optional<SmtpReply> readReply(const QDeadlineTimer& deadline);
    // Sends one command line and reads its reply (nothing when the exchange broke).
    std::optional<SmtpReply> command(const QByteArray& line);
    bool connectSocket(const QDeadlineTimer& deadline);
    std::optional<QHostInfo> lookUpHost(const QDeadlineTimer& deadline);
    bool startData();
    void quitAndDrop();
    void dropConnection();
    QByteArray domainLiteral() const;

    bool m_blocking = true;
    QString m_host;
    int m_port = 25;
    int m_timeLimit = 30;
    QString m_sender;
    QString m_recipient;
    qint64 m_sendCount = 0;
    std::function<QDateTime()> m_clock;
    HostLookup m_lookup;

    QTcpSocket* m_socket = nullptr;
    bool m_ready = false;
    bool m_inData = false;
    SmtpReplyParser m_parser;
    SmtpDataEncoder m_encoder;
    SmtpReply m_lastReply;
    int m_errorCode = 0;
    QString m_errorString;
};
