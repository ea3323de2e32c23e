#pragma once

#include "net/SocketErrors.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QTcpSocket;
class QTimer;

// Limits and redirections fixed when a socket is made. The program uses the
// defaults; tests and benchmarks pass free ports and short limits.
struct SocketOptions
{
    int connectTimeoutMs = 30000; // a connect not done by then reports 24060
    int idleTimeoutMs = 0; // an open connection silent this long reports Timeout; 0 = never
    QHash<int, int> portMap; // a port the program names -> the port really used
    QHostAddress listenAddress = QHostAddress::Any; // Any listens on IPv4 and IPv6
    std::optional<QString> ownAddress; // replaces the machine's own address when set
};

// The event-driven TCP socket the program's finger networking goes through.
// Settings are written before use; writing Operation starts a connect, a
// listen or a close, and every outcome arrives later as a signal from the
// event loop, never inside the call that started it. Text on the wire is one
// byte per character (Latin-1 both ways).
class SocketComponent : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SocketComponent)

public:
    enum OperationCode { OpConnect = 2, OpListen = 3, OpClose = 7 };

    explicit SocketComponent(const SocketOptions& options = {}, QObject* parent = nullptr);
    ~SocketComponent() override;

    // Settings.
    // A close is graceful: data already written still reaches the peer, and
    // no event of that connection follows. A second close does nothing.
    void setOperation(int operation);
    int Operation() const;
    void setFamily(int family);
    int Family() const;
    void setProtocolNumber(int protocol);
    int ProtocolNumber() const;
    void setBindPort(int port);
    int BindPort() const;
    void setTargetHost(const QString& host);
    void setTargetPort(int port);
    int TargetPort() const;
    void setBufferBytes(int bytes);
    int BufferBytes() const;
    void setOptionA(bool on);
    void setOptionB(bool on);
    void setOptionC(bool on);
    bool OptionA() const;
    bool OptionB() const;
    bool OptionC() const;
    // Takes over the pending connection named by an Accept event's SocketId.
    // Must be set while that event is handled: a connection nobody took is
    // closed when its Accept handlers return, and any other number is refused
    // with LastError rather than taken.
    void setAcceptHandle(qintptr socketId);
    void setWriteCount(qint64 count);
    // Sends the first WriteCount characters of data (all of it when WriteCount
    // is 0 or more than its length). Dropped when not connected.
    void setWriteData(const QString& data);
    // The same for bytes already encoded; a buffer that many sockets send
    // (one reply for every client) is shared, not copied.
    void setWriteBytes(const QByteArray& bytes);
    void setReadCount(qint64 count);
    // Up to ReadCount bytes of what has arrived (all of it when ReadCount is
    // 0), one character per byte.
    QString ReadData();
    // The same bytes as they came, without the string of one character a
    // byte: a client taking in megabytes saves two conversions a block.
    QByteArray ReadBytes();

    // True when the peer has sent bytes that no Read has taken yet, whether
    // they wait in the socket or still in the kernel.
    bool hasUnreadData() const;

    // Listener only: while paused the kernel's backlog holds new clients.
    void pauseAccepting();
    void resumeAccepting();

    // Values.
    bool ConnectedState() const;
    // True while a connect is under way or written data is still queued.
    bool BusyState() const;
    QString TargetHost() const;
    QString TargetAddress() const;
    // The peer's name by reverse lookup, empty until it arrives or when there is none.
    QString PartnerName() const;
    QString PartnerAddress() const;
    // The port really listened on (after the port map; the kernel's choice for 0).
    int LocalPort() const;

    // The machine's first non-loopback IPv4 address (or SocketOptions::ownAddress),
    // empty when there is none.
    QString OwnAddress() const;
    QString OwnHostName() const;
    // Names the TCP/IP layer and its version.
    QString StackDescription() const;
    // The process's limit on open sockets, at most 32767.
    int SocketLimit() const;

signals:
    // Disconnect follows the last Read of the connection; a connection the
    // peer reset ends with LastError 24054 instead.
    void Connect();
    void Disconnect();
    void Read(int DataLength, bool IsUrgent);
    void LastError(int ErrorCode, const QString& ErrorString);
    void Timeout(int Status);
    void Accept(qintptr SocketId);

private:
    class Private;
    std::unique_ptr<Private> d;
};
