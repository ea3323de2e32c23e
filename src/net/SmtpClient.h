#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QDeadlineTimer;
class QHostInfo;
class QTcpSocket;

// Error codes that LastError reports besides the server's own reply codes
// (which it passes on as they are, 421 to 554). Socket failures keep the
// socket component's numbering: 14000 plus the Windows Sockets number.
namespace SmtpError {
constexpr int TimedOut = 24060;
constexpr int ConnectionReset = 24054;
constexpr int NotConnected = 24057;
constexpr int ConnectionRefused = 24061;
constexpr int HostUnreachable = 24065;
constexpr int HostNotFound = 25001;
constexpr int SocketFailure = 24000;
// The server sent something that is not an SMTP reply.
constexpr int BadReply = 20000;
// A sender or recipient address that would break the command line.
constexpr int BadAddress = 20001;
} // namespace SmtpError

// One reply of the server: its code and its lines as sent (CR LF removed).
struct SmtpReply
{
    int code = 0;
    QStringList lines;
    bool valid = false;

    bool isPositive() const { return valid && code >= 200 && code < 300; }
    bool isIntermediate() const { return valid && code >= 300 && code < 400; }
    QString text() const { return lines.join(QLatin1Char('\n')); }
};

// Splits the bytes a server sends into replies. A reply is one or more lines
// "ddd-text" ending with a line "ddd text" or "ddd"; every line of one reply
// must carry the same code. Lines end with CR LF (a bare LF is taken too).
class SmtpReplyParser
{
public:
    // A server that sends this much without finishing a reply is not an SMTP server.
    static constexpr qsizetype kMaxReplyBytes = 64 * 1024;

    void feed(const QByteArray& bytes);
    // The next complete reply (valid false when it is malformed), or nothing
    // while the reply is still incomplete.
    std::optional<SmtpReply> next();
    void clear() { m_buffer.clear(); }
    bool isEmpty() const { return m_buffer.isEmpty(); }

private:
    QByteArray m_buffer;
};

// Turns message data into what goes on the wire between DATA and the final
// dot: one byte per character, every line end CR LF (a bare LF or lone CR
// too, so no server can read a different end of data than this one), and a
// "." at the start of a line doubled. Line starts are tracked across blocks.
class SmtpDataEncoder
{
public:
    QByteArray encode(const QString& block);
    // The end of the data: the last line ended, then the lone dot.
    QByteArray finish();
    void reset();

private:
    bool m_atLineStart = true;
    bool m_pendingCr = false;
};

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
    // False (and the connection dropped) when reply data came before it was asked for.
    bool noStaleReply();
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
