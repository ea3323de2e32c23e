#include "TestMain.h"
#include "net/SocketComponent.h"

#include <QFile>
#include <QHostInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>
#include <utility>

#if defined(Q_OS_LINUX)
#include <linux/capability.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {
// A loopback peer: a QTcpServer whose accepted sockets collect what they receive.
struct Peer
{
    QTcpServer server;
    QTcpSocket* client = nullptr;
    QByteArray received;
    bool closed = false;

    explicit Peer(const QHostAddress& address = QHostAddress::LocalHost)
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            client = server.nextPendingConnection();
            QObject::connect(client, &QIODevice::readyRead, client, [this] { received += client->readAll(); });
            QObject::connect(client, &QAbstractSocket::disconnected, client, [this] { closed = true; });
        });
        server.listen(address, 0);
    }
};

// Everything a component reports, in order, with the data its Read handler took.
struct Recorder
{
    QStringList events;
    QByteArray data;
    qsizetype dataAtDisconnect = -1;
    int largestRead = 0;

    explicit Recorder(SocketComponent& s)
    {
        QObject::connect(&s, &SocketComponent::Connect, &s, [this] { events << "Connect"; });
        QObject::connect(&s, &SocketComponent::Disconnect, &s, [this] {
            events << "Disconnect";
            dataAtDisconnect = data.size();
        });
        QObject::connect(&s, &SocketComponent::Timeout, &s, [this] { events << "Timeout"; });
        QObject::connect(&s, &SocketComponent::LastError, &s,
                         [this](int code) { events << QStringLiteral("LastError %1").arg(code); });
        QObject::connect(&s, &SocketComponent::Read, &s, [this, &s](int length) {
            largestRead = std::max(largestRead, length);
            s.setReadCount(length);
            data += s.ReadData().toLatin1();
        });
    }
};

SocketOptions loopbackOptions()
{
    SocketOptions options;
    options.listenAddress = QHostAddress::LocalHost;
    options.connectTimeoutMs = 5000;
    return options;
}

// Connects through the program's port 79, which the options redirect to a test port.
void connectTo(SocketComponent& s, const QString& host = QStringLiteral("127.0.0.1"))
{
    s.setTargetHost(host);
    s.setTargetPort(79);
    s.setOperation(SocketComponent::OpConnect);
}

#if defined(Q_OS_LINUX)
// Root binds low ports through CAP_NET_BIND_SERVICE; dropping it from this
// thread's effective set lets the test see what an ordinary user sees.
class WithoutBindCapability
{
public:
    WithoutBindCapability()
    {
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        if (syscall(SYS_capget, &header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~(1u << CAP_NET_BIND_SERVICE);
        header = {_LINUX_CAPABILITY_VERSION_3, 0};
        m_active = syscall(SYS_capset, &header, reduced) == 0;
    }
    ~WithoutBindCapability()
    {
        __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
        if (m_active)
            syscall(SYS_capset, &header, m_saved);
    }
    bool active() const { return m_active || geteuid() != 0; }

private:
    __user_cap_data_struct m_saved[2] {};
    bool m_active = false;
};
#endif
} // namespace

class SocketComponentTest : public QObject
{
    Q_OBJECT

private slots:
    void connectSendsQueryExactly_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("listenOn");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("writeCount");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("ipv4") << "127.0.0.1" << "127.0.0.1" << "joe\r\n" << 5 << QByteArray("joe\r\n");
        QTest::newRow("ipv6 literal") << "::1" << "::1" << "\r\n" << 2 << QByteArray("\r\n");
        QTest::newRow("bracketed ipv6") << "[::1]" << "::1" << "x\r\n" << 3 << QByteArray("x\r\n");
        QTest::newRow("name") << "localhost" << "127.0.0.1" << "/w \r\n" << 5 << QByteArray("/w \r\n");
        QTest::newRow("write count cuts") << "127.0.0.1" << "127.0.0.1" << "ab\r\ncd" << 4 << QByteArray("ab\r\n");
        QTest::newRow("every byte") << "127.0.0.1" << "127.0.0.1" << QString::fromLatin1("\xff\0\r", 3)
                                    << 0 << QByteArray("\xff\0\r", 3);
    }
    void connectSendsQueryExactly()
    {
        QFETCH(QString, host);
        QFETCH(QString, listenOn);
        QFETCH(QString, text);
        QFETCH(int, writeCount);
        QFETCH(QByteArray, wire);
        Peer peer {QHostAddress(listenOn)};
        if (!peer.server.isListening())
            QSKIP("This machine cannot listen on " + listenOn.toLatin1());
        SocketOptions options = loopbackOptions();
        options.portMap.insert(79, peer.server.serverPort());
        SocketComponent s(options);
        Recorder record(s);
        QObject::connect(&s, &SocketComponent::Connect, &s, [&] {
            s.setWriteCount(writeCount);
            // A count keeps what follows it off the wire; 0 sends everything.
            s.setWriteData(writeCount > 0 ? text + QStringLiteral("tail") : text);
        });
        s.setTargetHost(host);
        s.setTargetPort(79);
        s.setOperation(SocketComponent::OpConnect);
        QVERIFY(record.events.isEmpty());
        QVERIFY(s.BusyState());
        QTRY_COMPARE(peer.received, wire);
        QCOMPARE(record.events, QStringList {"Connect"});
        QVERIFY(s.ConnectedState());
        QVERIFY(!s.BusyState());
        QCOMPARE(s.TargetHost(), host);
        QCOMPARE(s.TargetAddress(), listenOn);
        QVERIFY(s.LocalPort() > 0);
    }

    void readsDeliverEveryByteThenDisconnect()
    {
        Peer peer;
        SocketOptions options = loopbackOptions();
        options.portMap.insert(79, peer.server.serverPort());
        SocketComponent s(options);
        s.setBufferBytes(1000);
        Recorder record(s);
        connectTo(s);
        QTRY_VERIFY(peer.client);
        QByteArray sent;
        for (const QByteArray& block : {QByteArray("line\r\n"), QByteArray("\0nul\n\xff", 6), QByteArray("\r")}) {
            peer.client->write(block);
            sent += block;
            QTRY_COMPARE(record.data, sent);
        }
        // More than the read buffer holds, and the close right behind it.
        QByteArray bulk(300 * 1024, '\0');
        for (int i = 0; i < bulk.size(); ++i)
            bulk[i] = char(i * 7);
        peer.client->write(bulk);
        peer.client->disconnectFromHost();
        sent += bulk;
        QTRY_COMPARE(record.events.last(), QStringLiteral("Disconnect"));
        QCOMPARE(record.dataAtDisconnect, sent.size());
        QVERIFY(record.data == sent);
        QCOMPARE(record.largestRead, 1000);
        QCOMPARE(record.events.count("Disconnect"), 1);
        QVERIFY(!s.ConnectedState());
    }

    void lastBlockArrivingInsideReadHandlerComesBeforeDisconnect()
    {
        Peer peer;
        SocketOptions options = loopbackOptions();
        options.portMap.insert(79, peer.server.serverPort());
        SocketComponent s(options);
        Recorder record(s);
        bool first = true;
        // Like a handler that lets pending events run: the peer's last block and
        // its close arrive while the first Read is still being handled.
        QObject::connect(&s, &SocketComponent::Read, &s, [&] {
            if (!std::exchange(first, false))
                return;
            peer.client->write("tail");
            peer.client->disconnectFromHost();
            QTRY_VERIFY(!s.ConnectedState());
            QCOMPARE(record.events, QStringList {"Connect"});
        });
        connectTo(s);
        QTRY_VERIFY(peer.client);
        peer.client->write("head");
        QTRY_COMPARE(record.events, (QStringList {"Connect", "Disconnect"}));
        QCOMPARE(record.data, QByteArray("headtail"));
        QCOMPARE(record.dataAtDisconnect, 8);
    }

    void handlerThatReadsNothingIsNotFlooded()
    {
        Peer peer;
        SocketOptions options = loopbackOptions();
        options.portMap.insert(79, peer.server.serverPort());
        SocketComponent s(options);
        QList<int> lengths;
        QObject::connect(&s, &SocketComponent::Read, &s, [&](int length) { lengths << length; });
        connectTo(s);
        QTRY_VERIFY(peer.client);
        peer.client->write("12345");
        QTRY_COMPARE(lengths, QList<int> {5});
        peer.client->write("678");
        QTRY_COMPARE(lengths, (QList<int> {5, 8}));
        s.setReadCount(8);
        QCOMPARE(s.ReadData(), QStringLiteral("12345678"));
    }

    void connectFailuresReportCodes_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("hangingPeer");
        QTest::addColumn<int>("code");
        QTest::newRow("refused") << "127.0.0.1" << false << SocketError::ConnectionRefused;
        QTest::newRow("no answer") << "127.0.0.1" << true << SocketError::TimedOut;
        QTest::newRow("empty host") << "" << false << SocketError::HostNotFound;
        QTest::newRow("blank host") << "   " << false << SocketError::HostNotFound;
    }
    void connectFailuresReportCodes()
    {
        QFETCH(QString, host);
        QFETCH(bool, hangingPeer);
        QFETCH(int, code);
        // A listener with a full backlog that never accepts: the kernel drops
        // further handshakes, so a connect there hangs even on loopback.
        QTcpServer hanging;
        hanging.setListenBacklogSize(0);
        QVERIFY(hanging.listen(QHostAddress::LocalHost, 0));
        hanging.pauseAccepting();
        QTcpSocket filler;
        const quint16 port = hanging.serverPort();
        if (hangingPeer) {
            filler.connectToHost(QHostAddress::LocalHost, port);
            QTRY_COMPARE(filler.state(), QAbstractSocket::ConnectedState);
        } else {
            hanging.close();
        }
        SocketOptions options = loopbackOptions();
        options.connectTimeoutMs = 300;
        options.portMap.insert(79, port);
        SocketComponent s(options);
        Recorder record(s);
        connectTo(s, host);
        QVERIFY(record.events.isEmpty());
        QTRY_COMPARE(record.events, QStringList {QStringLiteral("LastError %1").arg(code)});
        QVERIFY(!s.ConnectedState());
        QVERIFY(!s.BusyState());
        s.setOperation(SocketComponent::OpClose);
    }

    void listenFailuresReportCodes_data()
    {
        QTest::addColumn<bool>("privileged");
        QTest::addColumn<int>("code");
        QTest::newRow("port taken") << false << SocketError::AddressInUse;
        QTest::newRow("privileged port") << true << SocketError::PermissionDenied;
    }
    void listenFailuresReportCodes()
    {
        QFETCH(bool, privileged);
        QFETCH(int, code);
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        SocketOptions options = loopbackOptions();
        if (!privileged)
            options.portMap.insert(79, taken.serverPort());
        SocketComponent s(options);
        Recorder record(s);
        s.setBindPort(79);
        if (privileged) {
#if defined(Q_OS_LINUX)
            QFile start(QStringLiteral("/proc/sys/net/ipv4/ip_unprivileged_port_start"));
            if (start.open(QIODevice::ReadOnly) && start.readAll().trimmed().toInt() <= 79)
                QSKIP("Port 79 needs no privilege on this machine");
            WithoutBindCapability unprivileged;
            if (!unprivileged.active())
                QSKIP("Cannot drop the capability to bind low ports");
            s.setOperation(SocketComponent::OpListen);
#else
            QSKIP("Needs Linux capabilities to act unprivileged");
#endif
        } else {
            s.setOperation(SocketComponent::OpListen);
        }
        QVERIFY(record.events.isEmpty());
        QTRY_COMPARE(record.events, QStringList {QStringLiteral("LastError %1").arg(code)});
    }

    void silentConnectionReportsTimeoutOnce()
    {
        Peer peer;
        SocketOptions options = loopbackOptions();
        options.idleTimeoutMs = 150;
        options.portMap.insert(79, peer.server.serverPort());
        SocketComponent s(options);
        Recorder record(s);
        connectTo(s);
        QTRY_COMPARE(record.events, (QStringList {"Connect", "Timeout"}));
        QVERIFY(s.ConnectedState());
        QSignalSpy again(&s, &SocketComponent::Timeout);
        QVERIFY(!again.wait(500));
    }

    void acceptedConnectionIsServedAndClosedGracefully_data()
    {
        QTest::addColumn<bool>("clientEndsItsSide");
        QTest::newRow("client keeps sending") << false;
        QTest::newRow("client ends its side after the query") << true;
    }
    void acceptedConnectionIsServedAndClosedGracefully()
    {
        QFETCH(bool, clientEndsItsSide);
#if !defined(Q_OS_LINUX)
        if (clientEndsItsSide)
            QSKIP("Ending one side of a connection is done with the Linux socket call here");
#endif
        SocketOptions options = loopbackOptions();
        options.portMap.insert(79, 0);
        SocketComponent listener(options);
        listener.setBindPort(79);
        listener.setOperation(SocketComponent::OpListen);
        QVERIFY(listener.LocalPort() > 0);
        QPointer<SocketComponent> worker;
        QByteArray query;
        QString partnerAddress;
        // The reply is far bigger than the socket buffers, and most of what the
        // client sent stays unread: a plain close would reset the connection.
        const QByteArray reply = QByteArray(4 * 1024 * 1024, 'r') + "\r\nend\r\n";
        QObject::connect(&listener, &SocketComponent::Accept, &listener, [&](qintptr id) {
            worker = new SocketComponent(options, &listener);
            worker->setBufferBytes(1024);
            worker->setAcceptHandle(id);
            partnerAddress = worker->PartnerAddress();
            QObject::connect(worker, &SocketComponent::Read, worker, [&] {
                worker->setReadCount(6);
                query = worker->ReadData().toLatin1();
                worker->setWriteCount(-1);
                worker->setWriteData(QString::fromLatin1(reply));
                worker->setOperation(SocketComponent::OpClose);
                QVERIFY(!worker->ConnectedState());
                worker->setOperation(SocketComponent::OpClose);
                worker->deleteLater();
            });
        });
        QTcpSocket client;
        QByteArray received;
        QObject::connect(&client, &QIODevice::readyRead, &client, [&] { received += client.readAll(); });
        QObject::connect(&client, &QAbstractSocket::connected, &client, [&] {
            if (!clientEndsItsSide) {
                client.write("query\r\n" + QByteArray(200 * 1024, 'x'));
                return;
            }
            // The query and the end of the stream arrive together; the client reads on.
            client.write("query\r\n");
            client.flush();
#if defined(Q_OS_LINUX)
            ::shutdown(int(client.socketDescriptor()), SHUT_WR);
#endif
        });
        client.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
        QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 15000);
        QCOMPARE(query, QByteArray("query\r"));
        QCOMPARE(partnerAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(received.size(), reply.size());
        QVERIFY(received == reply);
        QTRY_VERIFY(!worker);
    }

    void partnerNameComesFromReverseLookup()
    {
        SocketOptions options = loopbackOptions();
        SocketComponent listener(options);
        listener.setOperation(SocketComponent::OpListen);
        SocketComponent worker(options);
        QObject::connect(&listener, &SocketComponent::Accept, &worker, &SocketComponent::setAcceptHandle);
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
        QTRY_VERIFY(worker.ConnectedState());
        const QString name = QHostInfo::fromName(QStringLiteral("127.0.0.1")).hostName();
        if (name.isEmpty() || name == u"127.0.0.1")
            QSKIP("127.0.0.1 has no name on this machine");
        QTRY_COMPARE(worker.PartnerName(), name);
    }

    void untakenConnectionIsClosed()
    {
        SocketComponent listener(loopbackOptions());
        QSignalSpy accepts(&listener, &SocketComponent::Accept);
        listener.setOperation(SocketComponent::OpListen);
        QTcpSocket client;
        QSignalSpy ended(&client, &QAbstractSocket::disconnected);
        client.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
        QVERIFY(ended.wait(5000));
        QCOMPARE(accepts.count(), 1);

        // A number that Accept did not announce is refused, not taken over.
        Peer peer;
        QTcpSocket bystander;
        bystander.connectToHost(QHostAddress::LocalHost, peer.server.serverPort());
        QTRY_VERIFY(peer.client);
        SocketComponent thief(loopbackOptions());
        Recorder record(thief);
        thief.setAcceptHandle(bystander.socketDescriptor());
        QTRY_COMPARE(record.events.size(), 1);
        QVERIFY(record.events.first().startsWith("LastError"));
        QCOMPARE(bystander.state(), QAbstractSocket::ConnectedState);
    }

    void pausedListenerLeavesClientsWaitingAndCloseStopsIt()
    {
        SocketComponent listener(loopbackOptions());
        QSignalSpy accepts(&listener, &SocketComponent::Accept);
        listener.setOperation(SocketComponent::OpListen);
        listener.pauseAccepting();
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, quint16(listener.LocalPort()));
        QVERIFY(!accepts.wait(300));
        listener.resumeAccepting();
        QVERIFY(accepts.wait(5000));

        const quint16 port = quint16(listener.LocalPort());
        listener.setOperation(SocketComponent::OpClose);
        QTcpSocket late;
        QSignalSpy refused(&late, &QAbstractSocket::errorOccurred);
        late.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(refused.wait(5000));
        QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
    }

    void closeIsQuietAndPeerSeesEnd()
    {
        Peer peer;
        SocketOptions options = loopbackOptions();
        options.portMap.insert(79, peer.server.serverPort());
        SocketComponent s(options);
        Recorder record(s);
        connectTo(s);
        QTRY_VERIFY(peer.client && s.ConnectedState());
        s.setWriteData(QStringLiteral("bye"));
        s.setOperation(SocketComponent::OpClose);
        QVERIFY(!s.ConnectedState());
        s.setOperation(SocketComponent::OpClose);
        peer.client->write("late data");
        QTRY_VERIFY(peer.closed);
        QCOMPARE(peer.received, QByteArray("bye"));
        QCOMPARE(record.events, QStringList {"Connect"});
    }

    void peerResetIsReported()
    {
#if defined(Q_OS_LINUX)
        Peer peer;
        SocketOptions options = loopbackOptions();
        options.portMap.insert(79, peer.server.serverPort());
        SocketComponent s(options);
        Recorder record(s);
        connectTo(s);
        QTRY_VERIFY(peer.client && s.ConnectedState());
        const linger abortive {1, 0};
        ::setsockopt(int(peer.client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        peer.client->abort();
        QTRY_COMPARE(record.events,
                     (QStringList {"Connect", QStringLiteral("LastError %1").arg(SocketError::ConnectionReset)}));
#else
        QSKIP("Telling a reset from a close needs Linux");
#endif
    }

    void destroyingInsideItsOwnEventIsSafe_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("Connect") << "Connect";
        QTest::newRow("Read") << "Read";
        QTest::newRow("Disconnect") << "Disconnect";
        QTest::newRow("LastError") << "LastError";
        QTest::newRow("during lookup") << "lookup";
    }
    void destroyingInsideItsOwnEventIsSafe()
    {
        QFETCH(QString, event);
        Peer peer;
        SocketOptions options = loopbackOptions();
        options.portMap.insert(79, peer.server.serverPort());
        if (event == u"LastError")
            peer.server.close();
        QPointer<SocketComponent> s = new SocketComponent(options);
        auto destroy = [&] { delete s.data(); };
        QObject::connect(s, &SocketComponent::Connect, s, [&] {
            if (event == u"Connect")
                destroy();
        });
        QObject::connect(s, &SocketComponent::Disconnect, s, destroy);
        QObject::connect(s, &SocketComponent::LastError, s, destroy);
        QObject::connect(s, &SocketComponent::Read, s, [&] {
            s->setWriteData(QStringLiteral("answer"));
            destroy();
        });
        connectTo(*s, event == u"lookup" ? "localhost" : "127.0.0.1");
        if (event == u"lookup")
            destroy();
        if (event == u"Read" || event == u"Disconnect") {
            QTRY_VERIFY(peer.client);
            if (event == u"Read")
                peer.client->write("q\r\n");
            else
                peer.client->disconnectFromHost();
        }
        QTRY_VERIFY(!s);
        if (event == u"Read")
            QTRY_COMPARE(peer.received, QByteArray("answer"));
        if (event == u"Connect" || event == u"Read")
            QTRY_VERIFY(peer.closed);
    }
};

static TestRegistration<SocketComponentTest> registration;

#include "SocketComponentTest.moc"
