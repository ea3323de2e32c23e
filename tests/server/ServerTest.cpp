#include "ProgramTest.h"
#include "ResidentMemory.h"
#include "RecordingPlatform.h"
#include "ServerTestSupport.h"
#include "TestMain.h"
#include "app/Settings.h"
#include "net/ReverseLookupCache.h"
#include "net/SocketComponent.h"
#include "reply/ReplyBox.h"
#include "server/FingerServerSetup.h"
#include "server/FingerService.h"
#include "server/ServerReply.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QHostInfo>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <memory>
#include <optional>
#include <vector>

using namespace ServerTesting;

namespace {
// Takes the right to bind low ports out of this thread's effective set for a
// while, so a run as root meets the refusal an ordinary user meets; it stays
// in the permitted set and comes back at the end.
class WithoutBindCapability
{
public:
    WithoutBindCapability()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        if (syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[CAP_TO_INDEX(CAP_NET_BIND_SERVICE)].effective &= ~CAP_TO_MASK(CAP_NET_BIND_SERVICE);
        m_dropped = syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutBindCapability()
    {
        if (m_dropped)
            syscall(SYS_capset, &m_header, m_saved);
    }
    Q_DISABLE_COPY_MOVE(WithoutBindCapability)

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

const QByteArray kBannerLine = "Finger Quobix Server v2.2\r\n";

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).count()) - 2; // . and ..
}

int visitorLines(const finger& w)
{
    return int(w.text1->data().count("Being fingered by "));
}
} // namespace

class ServerTest : public ProgramTest
{
    Q_OBJECT

private slots:
    void init()
    {
        resetEnvironment();
    }
    void cleanup() { stopProgram(); }

    void startupReplyReachesTheClient_data()
    {
        QTest::addColumn<QStringList>("profile");
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("expected");

        const QStringList full{"Ann Example", "ann@example.org", "http://example.org/ann", "Likes tea\r\nand finger"};
        const QByteArray fullReply = "Name: Ann Example\r\nEmail: ann@example.org\r\nWWW: http://example.org/ann\r\n"
                                     "\r\nLikes tea\r\nand finger\r\n\r\n"
            + kBannerLine;
        QTest::newRow("empty query") << full << QByteArray("\r\n") << fullReply;
        QTest::newRow("user name") << full << QByteArray("ann\r\n") << fullReply;
        QTest::newRow("long switch") << full << QByteArray("/W ann\r\n") << fullReply;
        QTest::newRow("no name: banner alone")
            << QStringList{"", "ann@example.org", "http://example.org/ann", "text"} << QByteArray("\r\n")
            << kBannerLine;
        QTest::newRow("empty description: three empty lines")
            << QStringList{"Ann", "", "", ""} << QByteArray("\r\n")
            << "Name: Ann\r\nEmail: \r\nWWW: \r\n\r\n\r\n\r\n" + kBannerLine;
        QTest::newRow("description holds the banner")
            << QStringList{"Ann", "", "", "Run by Finger Quobix Server v2.2 here"} << QByteArray("\r\n")
            << QByteArray("Name: Ann\r\nEmail: \r\nWWW: \r\n\r\nRun by Finger Quobix Server v2.2 here\r\n");
        QTest::newRow("8-bit characters")
            << QStringList{QString::fromLatin1("Zo\xEB"), "", "", QString::fromLatin1("\xA0\xFF")}
            << QByteArray("\r\n") << "Name: Zo\xEB\r\nEmail: \r\nWWW: \r\n\r\n\xA0\xFF\r\n\r\n" + kBannerLine;
        // One character past Latin-1 sends the whole reply as UTF-8, the Latin-1 ones too.
        QTest::newRow("beyond Latin-1: all UTF-8")
            << QStringList{QString::fromUtf8("\u0141ukasz"), "", "", QString::fromUtf8("\u20ac 5, na\u00efve")}
            << QByteArray("\r\n")
            << "Name: \xC5\x81ukasz\r\nEmail: \r\nWWW: \r\n\r\n\xE2\x82\xAC 5, na\xC3\xAFve\r\n\r\n" + kBannerLine;
    }
    void startupReplyReachesTheClient()
    {
        QFETCH(QStringList, profile);
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, expected);
        storeProfile(profile);
        finger& w = launch().window();
        QVERIFY(w.text1->data().endsWith("Starting Finger Server\r\nFinger Server Ready!\r\n"));

        QCOMPARE(fingerOnce(w, query), expected);
        QCOMPARE(w.service().poolCount(), 0);
        // The second client gets the same bytes: the banner went in once.
        QCOMPARE(fingerOnce(w, query), expected);
        QCOMPARE(visitorLines(w), 2);
    }

    void queryInPiecesIsAnsweredAtTheFirstPiece()
    {
        storeProfile({"Ann", "", "", "Hi"});
        finger& w = launch().window();
        Visitor visitor(w);
        visitor.send("an");
        QTRY_VERIFY(visitor.closed);
        QCOMPARE(visitor.received, "Name: Ann\r\nEmail: \r\nWWW: \r\n\r\nHi\r\n\r\n" + kBannerLine);
        QCOMPARE(visitorLines(w), 1);
        QCOMPARE(w.service().poolCount(), 0);
    }

    void bannerIsAddedOnceAndAgainAfterSetup()
    {
        storeProfile({"Ann", "", "", ""});
        finger& w = launch().window();
        fingerOnce(w);
        fingerOnce(w);
        QCOMPARE(w.service().replyText().count(ServerReply::kBanner), 1);

        w.service().showSetup(false);
        FingerServerSetup* setup = w.service().setupDialog();
        QVERIFY(setup);
        setup->Text1->setText("Bob");
        setup->Text2->clear();
        setup->Text3->setText("http://");
        setup->Text4->clear();
        setup->cmdOk->click();
        QCOMPARE(w.service().replyText(), QString("Name: Bob\r\n"));

        // All optional boxes empty: an empty line, another one, then the banner.
        const QByteArray expected = "Name: Bob\r\n\r\n\r\n" + kBannerLine;
        QCOMPARE(fingerOnce(w), expected);
        QCOMPARE(fingerOnce(w), expected);
        QCOMPARE(w.service().replyText().count(ServerReply::kBanner), 1);
    }

    void socketsAreNumberedFromOneAndClosedOnesReused()
    {
        finger& w = launch().window();
        FingerService& server = w.service();
        Visitor first(w);
        QTRY_COMPARE(server.poolCount(), 1);
        Visitor second(w);
        QTRY_COMPARE(server.poolCount(), 2);
        SocketComponent* one = server.FingerServer(1);
        QVERIFY(one && one->ConnectedState());
        QVERIFY(server.FingerServer(2) && server.FingerServer(2)->ConnectedState());

        // Socket 1's client leaves without a query: closed, kept, given to the next client.
        first.socket.disconnectFromHost();
        QTRY_VERIFY(!one->ConnectedState());
        QCOMPARE(server.FingerServer(1), one);
        QCOMPARE(server.poolCount(), 2);
        QVERIFY(first.received.isEmpty());
        Visitor third(w);
        QTRY_VERIFY(one->ConnectedState());
        QCOMPARE(server.FingerServer(1), one);
        QCOMPARE(server.poolCount(), 2);

        third.send("\r\n");
        second.send("\r\n");
        QTRY_VERIFY(third.closed && second.closed);
        QCOMPARE(third.received, kBannerLine);
        QCOMPARE(second.received, kBannerLine);
        QCOMPARE(server.poolCount(), 0);
        QCOMPARE(visitorLines(w), 2);
    }

    void endsOutOfOrderKeepThePoolConsistent()
    {
        finger& w = launch().window();
        FingerService& server = w.service();
        std::vector<std::unique_ptr<Visitor>> visitors;
        for (int n = 1; n <= 3; ++n) {
            visitors.push_back(std::make_unique<Visitor>(w));
            QTRY_COMPARE(server.poolCount(), n);
        }
        // The middle one is served first: its socket goes, the others stay.
        visitors[1]->send("\r\n");
        QTRY_VERIFY(visitors[1]->closed);
        QCOMPARE(server.poolCount(), 2);
        QVERIFY(!server.FingerServer(2));
        QVERIFY(server.FingerServer(1) && server.FingerServer(3));

        // The next client gets the lowest free number, made anew.
        visitors.push_back(std::make_unique<Visitor>(w));
        QTRY_COMPARE(server.poolCount(), 3);
        QTRY_VERIFY(server.FingerServer(2) && server.FingerServer(2)->ConnectedState());

        // Closing the same number twice lowers the count once.
        server.QuitFingerServer(3);
        server.QuitFingerServer(3);
        QCOMPARE(server.poolCount(), 2);
        QVERIFY(!server.FingerServer(3));
        QTRY_VERIFY(visitors[2]->closed);
        QVERIFY(visitors[2]->received.isEmpty());

        for (int n : {0, 3})
            visitors[n]->send("\r\n");
        QTRY_VERIFY(visitors[0]->closed && visitors[3]->closed);
        QCOMPARE(visitors[0]->received, kBannerLine);
        QCOMPARE(visitors[3]->received, kBannerLine);
        QCOMPARE(server.poolCount(), 0);
        QVERIFY(!server.FingerServer(1) && !server.FingerServer(2));
    }

    void fiftyFirstClientIsServedWhenASocketFrees()
    {
        // Clients that wait for their query longer than the test are not made to give way.
        RuntimeConfig config = TestSupport::testConfig();
        config.serverQueryGraceMs = 60000;
        finger& w = launch(config).window();
        FingerService& server = w.service();
        std::vector<std::unique_ptr<Visitor>> visitors;
        for (int n = 0; n < FingerService::kPoolLimit; ++n)
            visitors.push_back(std::make_unique<Visitor>(w));
        QTRY_COMPARE(server.poolCount(), FingerService::kPoolLimit);

        // The 51st waits in the backlog with its query, neither served nor dropped.
        Visitor late(w);
        late.send("\r\n");
        QSignalSpy lateEvents(&late.socket, &QIODevice::readyRead);
        QVERIFY(!lateEvents.wait(300));
        QVERIFY(!late.closed);
        QCOMPARE(server.poolCount(), FingerService::kPoolLimit);

        SocketComponent* seventh = server.FingerServer(7);
        visitors[6]->socket.disconnectFromHost();
        QTRY_VERIFY(late.closed);
        QCOMPARE(late.received, kBannerLine);
        QCOMPARE(visitorLines(w), 1);
        // It was served on the socket the leaver freed, which the serving step then ended.
        QVERIFY(!server.FingerServer(7));
        QVERIFY(seventh);
        QCOMPARE(server.poolCount(), FingerService::kPoolLimit - 1);
        for (int n = 0; n < FingerService::kPoolLimit; ++n)
            QVERIFY(n == 6 || !visitors[size_t(n)]->closed);
    }

    void burstBeyondTheLimitWaitsForSockets()
    {
        finger& w = launch().window();
        FingerService& server = w.service();
        constexpr int kExtra = 5;
        fingerOnce(w); // the lookup machinery's own descriptors
        const int descriptorsBefore = openDescriptors();
        std::vector<std::unique_ptr<Visitor>> visitors;
        // All connect before the server sees any of them.
        for (int n = 0; n < FingerService::kPoolLimit + kExtra; ++n) {
            visitors.push_back(std::make_unique<Visitor>(w));
            visitors.back()->send("/W someone\r\n");
        }
        QTRY_COMPARE_WITH_TIMEOUT(visitorLines(w), 1 + FingerService::kPoolLimit + kExtra, 10000);
        for (const auto& visitor : visitors) {
            QTRY_VERIFY(visitor->closed);
            QCOMPARE(visitor->received, kBannerLine);
        }
        QCOMPARE(server.poolCount(), 0);
        // Every connection's descriptors are given back once both ends have closed.
        visitors.clear();
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptorsBefore, 10000);
    }

    void silentConnectionsDoNotLockVisitorsOut_data()
    {
        QTest::addColumn<int>("silent");
        QTest::addColumn<int>("queryDelayMs");
        QTest::newRow("pool and queue full of silent connections") << FingerService::kPoolLimit + 10 << 0;
        QTest::newRow("slow visitor, no pressure")
            << FingerService::kPoolLimit - 1 << 3 * RuntimeConfig().serverQueryGraceMs;
    }
    void silentConnectionsDoNotLockVisitorsOut()
    {
        QFETCH(int, silent);
        QFETCH(int, queryDelayMs);
        finger& w = launch().window(); // the 30 s idle limit
        std::vector<std::unique_ptr<RawClient>> silentOnes;
        for (int n = 0; n < silent; ++n) {
            silentOnes.push_back(std::make_unique<RawClient>(w.service().listenPort()));
            QVERIFY(silentOnes.back()->isConnected());
        }
        QTRY_COMPARE(w.service().poolCount(), std::min(silent, int(FingerService::kPoolLimit)));

        QElapsedTimer took;
        took.start();
        Visitor visitor(w);
        if (queryDelayMs > 0)
            QTest::qWait(queryDelayMs);
        visitor.send("\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(visitor.closed, 2000 + queryDelayMs);
        QVERIFY(took.elapsed() < 2000 + queryDelayMs);
        QCOMPARE(visitor.received, kBannerLine);
        // Without pressure no waiting connection is ended early.
        if (silent < FingerService::kPoolLimit) {
            for (const auto& client : silentOnes)
                QVERIFY(!client->readSome());
        }
    }

    void idleClientIsTimedOut()
    {
        RuntimeConfig config = TestSupport::testConfig();
        config.server.idleTimeoutMs = 200;
        finger& w = launch(config).window();
        Visitor idle(w);
        QTRY_COMPARE(w.service().poolCount(), 1);
        QTRY_VERIFY(idle.closed);
        QVERIFY(idle.received.isEmpty());
        QCOMPARE(w.service().poolCount(), 0);
        QVERIFY(!w.service().FingerServer(1));
        QCOMPARE(visitorLines(w), 0);
        // The server goes on serving.
        QCOMPARE(fingerOnce(w), kBannerLine);
    }

    void megabytesFromAClientDoNotGrowTheServer()
    {
        constexpr qint64 kTotal = 32 * 1024 * 1024;
        finger& w = launch().window();
        fingerOnce(w); // warm up
        const qint64 before = TestSupport::residentBytes();

        // The query never ends: the server answers its first piece and then
        // reads and drops the rest until the client stops.
        RawClient flood(w.service().listenPort());
        QVERIFY(flood.isConnected());
        const QByteArray chunk(256 * 1024, 'x');
        qint64 sent = 0;
        // Sends as fast as the server takes it, letting the server run in between.
        const QDeadlineTimer deadline(30000);
        while (sent < kTotal && !deadline.hasExpired()) {
            const qint64 n = flood.sendSome(chunk);
            if (n < 0)
                break;
            sent += n;
            flood.readSome();
            QCoreApplication::processEvents();
        }
        QCOMPARE_GE(sent, kTotal);
        flood.shutdownWrite();
        QTRY_VERIFY(flood.readSome());
        QCOMPARE(flood.received, kBannerLine);
        const qint64 growth = TestSupport::residentBytes() - before;
        QVERIFY2(growth < 16 * 1024 * 1024, qPrintable(QString("grew by %1 bytes").arg(growth)));
        QCOMPARE(visitorLines(w), 2);
        QCOMPARE(w.service().poolCount(), 0);
    }

    void replyReachesASlowReaderWhole_data()
    {
        QTest::addColumn<bool>("endsItsSide");
        QTest::newRow("reads late") << false;
        // Like `nc -N`: the end of its stream must not cut the reply short.
        QTest::newRow("ends its side after the query") << true;
    }
    void replyReachesASlowReaderWhole()
    {
        QFETCH(bool, endsItsSide);
        QByteArray description;
        for (int n = 0; description.size() < 3 * 1024 * 1024; ++n)
            description += "Line " + QByteArray::number(n) + " of a long description.\r\n";
        storeProfile({"Ann", "", "", QString::fromLatin1(description)});
        finger& w = launch().window();

        // It reads nothing until the server has ended the connection on its side.
        RawClient slow(w.service().listenPort(), 4096);
        QVERIFY(slow.isConnected());
        QCOMPARE(slow.sendSome("\r\n"), qint64(2));
        if (endsItsSide)
            slow.shutdownWrite();
        QTRY_COMPARE(visitorLines(w), 1);
        QTRY_COMPARE(w.service().poolCount(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(slow.readSome(), 20000);
        const QByteArray expected = "Name: Ann\r\nEmail: \r\nWWW: \r\n\r\n" + description + "\r\n\r\n" + kBannerLine;
        QCOMPARE(slow.received.size(), expected.size());
        QVERIFY(slow.received == expected);
    }

    void sendWaitEndsWhenItsConnectionIsTimedOut()
    {
        RuntimeConfig config = TestSupport::testConfig();
        config.server.idleTimeoutMs = 300;
        auto program = TestSupport::startProgram(config);
        FingerService& server = program->window().service();
        RawClient stalled(server.listenPort(), 4096);
        QVERIFY(stalled.isConnected());
        QTRY_VERIFY(server.FingerServer(1) && server.FingerServer(1)->ConnectedState());

        // The peer reads nothing, so this stays queued and the socket busy.
        server.Send_Finger_Client(1, QString(8 * 1024 * 1024, u'x'));
        QVERIFY(server.FingerServer(1)->BusyState());
        // Other clients are served while the next send waits, and the
        // program's exit may be asked for meanwhile.
        Visitor other(program->window());
        other.send("\r\n");
        QTimer::singleShot(50, program->tray.get(), [&] { program->tray->mnuMain->trigger(); });
        // The time-out ends the connection meanwhile and the wait with it.
        server.Send_Finger_Client(1, QStringLiteral("more"));
        QVERIFY(!server.FingerServer(1));
        QCOMPARE(server.poolCount(), 0);
        // The serving step's own close comes second and changes nothing.
        server.QuitFingerServer(1);
        QCOMPARE(server.poolCount(), 0);
        QTRY_VERIFY(other.closed);
        QCOMPARE(other.received, kBannerLine);
        QCOMPARE(program->quitCalls, 1);
    }

    // A burst of clients that query and then reset costs the server one build
    // of the reply's bytes (1 MB here), not one per client, and the bytes are
    // built again only when the reply text changes.
    void queryThenResetBurstIsServedFromOneBuffer()
    {
        const QString description = QString(1024 * 1024, u'd');
        storeProfile({"Ann", "", "", description});
        finger& w = launch().window();
        const QByteArray expected =
            "Name: Ann\r\nEmail: \r\nWWW: \r\n\r\n" + description.toLatin1() + "\r\n\r\n" + kBannerLine;
        QCOMPARE(fingerOnce(w), expected);
        const char* const built = w.service().replyBytes().constData();

        constexpr int kBurst = 300;
        std::vector<std::unique_ptr<RawClient>> burst;
        for (int n = 0; n < kBurst; ++n) {
            burst.push_back(std::make_unique<RawClient>(w.service().listenPort(), 4096));
            QVERIFY(burst.back()->isConnected());
            burst.back()->sendSome("\r\n");
        }
        QTRY_COMPARE(visitorLines(w), kBurst + 1);
        for (const auto& client : burst)
            client->reset();
        QCOMPARE(fingerOnce(w), expected);
        QCOMPARE(w.service().replyBytes().constData(), built);

        w.service().setReplyText("Name: Bob\r\n");
        QCOMPARE(fingerOnce(w), "Name: Bob\r\n\r\n\r\n" + kBannerLine);
    }

    void portFreedLaterIsListenedOn()
    {
        RuntimeConfig config = TestSupport::testConfig();
        config.listenRetryMs = 50;
        auto holder = std::make_unique<QTcpServer>();
        QVERIFY(holder->listen(QHostAddress::LocalHost, 0));
        const quint16 port = holder->serverPort();
        config.server.portMap.insert(RuntimeConfig::kFingerPort, port);
        auto program = TestSupport::startProgram(config);
        finger& w = program->window();
        QVERIFY(!w.service().isListening());
        QVERIFY(w.text1->text().endsWith("Trying again every 0.05 seconds.\r\n"));
        holder.reset();
        QTRY_VERIFY(w.service().isListening());
        QVERIFY(w.text1->text().endsWith("seconds.\r\nFinger Server Ready!\r\n"));
        QCOMPARE(w.service().listenPort(), int(port));
        QCOMPARE(fingerOnce(w), kBannerLine);
        QCOMPARE(w.text1->text().count("Finger Server Ready!"), 1);
    }

    // A first visit is served at once, but its line waits for the visitor's
    // name (or the wait's end), and lines keep the order the visitors came in.
    void visitorLinesWaitForNamesInVisitorOrder_data()
    {
        QTest::addColumn<QString>("firstName"); // null: the first look-up never answers
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("named") << "a.example" << 60000 << "Being fingered by a.example\r\n";
        QTest::newRow("no name found") << "" << 60000 << "Being fingered by 127.0.0.1\r\n";
        QTest::newRow("no answer in time") << QString() << 200 << "Being fingered by 127.0.0.1\r\n";
    }
    void visitorLinesWaitForNamesInVisitorOrder()
    {
        QFETCH(QString, firstName);
        QFETCH(int, waitMs);
        QFETCH(QString, firstLine);
        QHash<QString, ReverseLookupCache::Done> pending;
        ReverseLookupCache names([&](const QString& address, ReverseLookupCache::Done done) {
            pending.insert(address, std::move(done));
        }, [] { return qint64(0); });
        SocketOptions options;
        options.listenAddress = QHostAddress::LocalHost;
        options.portMap.insert(RuntimeConfig::kFingerPort, 0);
        Profile profile;
        FingerService service(options, profile, 100, waitMs, 0, &names);
        service.ConfigFingerServer();
        QSignalSpy lines(&service, &FingerService::visitorNotice);

        std::array<QTcpSocket, 2> visitors;
        for (int n = 0; n < 2; ++n) {
            visitors[n].bind(QHostAddress(QStringLiteral("127.0.0.%1").arg(n + 1)));
            visitors[n].connectToHost(QHostAddress::LocalHost, quint16(service.listenPort()));
            QVERIFY(visitors[n].waitForConnected(5000));
            visitors[n].write("\r\n");
            // Served before any name is known.
            QByteArray received;
            QTRY_COMPARE(received += visitors[n].readAll(), kBannerLine);
        }
        QCOMPARE(pending.size(), 2);
        pending.take("127.0.0.2")("b.example");
        QCOMPARE(lines.count(), 0);
        if (!firstName.isNull())
            pending.take("127.0.0.1")(firstName);
        QTRY_COMPARE(lines.count(), 2);
        QCOMPARE(lines[0][0].toString(), firstLine);
        QCOMPARE(lines[1][0].toString(), QString("Being fingered by b.example\r\n"));
    }

    void visitorLineNamesThePeer_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("line");
        QTest::newRow("name known") << "host.example" << "192.0.2.1" << "Being fingered by host.example\r\n";
        QTest::newRow("no name: address") << "" << "192.0.2.1" << "Being fingered by 192.0.2.1\r\n";
        QTest::newRow("neither") << "" << "" << "Being fingered by \r\n";
        // A hostile name server cannot forge lines of the record.
        QTest::newRow("name with a line break") << "evil\r\nFinger Server Ready!" << "192.0.2.1"
                                                << "Being fingered by 192.0.2.1\r\n";
        QTest::newRow("name with a bare LF") << "a\nb" << "192.0.2.1" << "Being fingered by 192.0.2.1\r\n";
        QTest::newRow("name with an escape") << "a\x1b[2Jb" << "192.0.2.1" << "Being fingered by 192.0.2.1\r\n";
        QTest::newRow("name with a C1 control") << QString("a") + QChar(0x85) + "b" << "192.0.2.1"
                                                << "Being fingered by 192.0.2.1\r\n";
        QTest::newRow("name with odd but printable characters")
            << "under_score.-x" << "192.0.2.1" << "Being fingered by under_score.-x\r\n";
    }
    void visitorLineNamesThePeer()
    {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QString, line);
        QCOMPARE(ServerReply::visitorLine(name, address), line);
    }

    void visitorLineGoesToTheEndOfALongReplyBoxAndTheViewOnlyFromTheEnd()
    {
        finger& w = launch().window();
        for (int n = 0; n < 2000; ++n)
            w.text1->append(QByteArray("A line that makes the reply box longer than 64 KiB.\r\n"));
        QVERIFY(w.text1->length() > 100000);
        w.text1->setSelection(10, 20);
        QCOMPARE(w.text1->verticalScrollBar()->value(), 0);

        // Before the reverse lookup has answered, or after: the address or the name.
        const QString name = QHostInfo::fromName(QStringLiteral("127.0.0.1")).hostName();
        fingerOnce(w);
        const QString text = w.text1->text();
        QVERIFY2(text.endsWith("Being fingered by 127.0.0.1\r\n")
                     || text.endsWith("Being fingered by " + name + "\r\n"),
                 qPrintable(text.right(60)));
        // A reader above the end holding a selection is left where they are.
        QCOMPARE(w.text1->selStart(), 10);
        QCOMPARE(w.text1->selLength(), 20);
        QCOMPARE(w.text1->verticalScrollBar()->value(), 0);
        // At the end with nothing selected, the insertion point follows the
        // note, and the box scrolls to show it.
        w.text1->setSelection(w.text1->length(), 0);
        fingerOnce(w);
        QCOMPARE(w.text1->selStart(), w.text1->length());
        QCOMPARE(w.text1->selLength(), 0);
        QCOMPARE(w.text1->verticalScrollBar()->value(), w.text1->verticalScrollBar()->maximum());

        // A query that comes after the lookup logs the name.
        if (name.isEmpty() || name == u"127.0.0.1")
            QSKIP("127.0.0.1 has no host name on this machine");
        Visitor visitor(w);
        QTRY_VERIFY(w.service().FingerServer(1));
        QTRY_COMPARE(w.service().FingerServer(1)->PartnerName(), name);
        visitor.send("\r\n");
        QTRY_VERIFY(visitor.closed);
        QVERIFY(w.text1->text().endsWith("Being fingered by " + name + "\r\n"));
    }

    void clientOverIPv6IsServed()
    {
        RuntimeConfig config = TestSupport::testConfig();
        config.server.listenAddress = QHostAddress::LocalHostIPv6;
        storeProfile({"Ann", "", "", ""});
        finger& w = launch(config).window();
        if (!w.service().isListening())
            QSKIP("this machine has no IPv6 loopback");
        Visitor visitor(w, QHostAddress::LocalHostIPv6);
        visitor.send("\r\n");
        QTRY_VERIFY(visitor.closed);
        QCOMPARE(visitor.received, "Name: Ann\r\nEmail: \r\nWWW: \r\n\r\n\r\n\r\n" + kBannerLine);
        QCOMPARE(visitorLines(w), 1);
    }

    // Every reason, the ones this machine cannot bring about included, says
    // what to do in lines the reply box shows whole.
    void listenFailureLinesFitTheBox_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("errorString");
        QTest::addColumn<QString>("said");
        QTest::newRow("in use") << int(SocketError::AddressInUse) << "" << "the port is in use by another program";
        QTest::newRow("no right") << int(SocketError::PermissionDenied) << ""
                                  << "binding port 79 needs the cap_net_bind_service capability: install the "
                                     "package, or run ./run.sh";
        QTest::newRow("the system's long text") << 10047 << QString(20, u'w').repeated(4).replace("ww", "w w")
                                                << "(error 10047)";
    }
    void listenFailureLinesFitTheBox()
    {
        QFETCH(int, code);
        QFETCH(QString, errorString);
        QFETCH(QString, said);
        const QString text = ServerReply::listenFailureLines(RuntimeConfig::kFingerPort, code, errorString, 0);
        QVERIFY(text.endsWith("\r\n"));
        const QStringList lines = text.chopped(2).split("\r\n");
        QCOMPARE(lines.first(), QString("Finger Server could not listen on port 79:"));
        for (const QString& line : lines)
            QVERIFY2(line.size() <= ServerReply::kNoticeColumns, qPrintable(line));
        QVERIFY2(lines.mid(1).join(' ').contains(said), qPrintable(text));
    }

    void failedListenIsReported_data()
    {
        QTest::addColumn<bool>("portTaken");
        QTest::addColumn<QString>("line");
        QTest::newRow("port taken") << true
                                    << "Finger Server could not listen on port 79:\r\n"
                                       "the port is in use by another program\r\n"
                                       "(error 24048)\r\nTrying again every 30 seconds.\r\n";
        QTest::newRow("needs privileges") << false
                                          << "Finger Server could not listen on port 79:\r\n"
                                             "binding port 79 needs the cap_net_bind_service\r\n"
                                             "capability: install the package, or run ./run.sh\r\n"
                                             "(error 24013)\r\n";
    }
    void failedListenIsReported()
    {
        QFETCH(bool, portTaken);
        QFETCH(QString, line);
        RuntimeConfig config = TestSupport::testConfig();
        QTcpServer holder;
        std::optional<WithoutBindCapability> unprivileged;
        if (portTaken) {
            QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
            config.server.portMap.insert(RuntimeConfig::kFingerPort, holder.serverPort());
        } else {
            unprivileged.emplace();
            QTcpServer probe;
            if (probe.listen(QHostAddress::LocalHost, RuntimeConfig::kFingerPort))
                QSKIP("this user may listen on port 79");
            if (probe.serverError() != QAbstractSocket::SocketAccessError)
                QSKIP("port 79 is taken by another program");
            config.server.portMap.insert(RuntimeConfig::kFingerPort, RuntimeConfig::kFingerPort);
        }
        storeProfile({"Ann", "", "", ""});
        auto program = TestSupport::startProgram(config);
        finger& w = program->window();
        QVERIFY(!w.service().isListening());
        QVERIFY(w.text1->text().endsWith("Starting Finger Server\r\n" + line));
        QVERIFY(!w.text1->text().contains("Finger Server Ready!"));
        // The rest of the program works on.
        QCOMPARE(w.statusText(), QString("Finger Quobix is ready for action!"));
        QVERIFY(w.Command1->isEnabled());
        QCOMPARE(w.service().replyText(), QString("Name: Ann\r\nEmail: \r\nWWW: \r\n\r\n"));
        QCOMPARE(w.text1->text().count(line), 1);
        // Each line shows whole in the reply box at its design size.
        const QFontMetricsF metrics(w.text1->font());
        QVERIFY(metrics.horizontalAdvance(QString(ServerReply::kNoticeColumns, u'x')) <= w.text1->viewport()->width());
        for (const QString& part : line.split("\r\n"))
            QVERIFY2(metrics.horizontalAdvance(part) <= w.text1->viewport()->width(), qPrintable(part));
    }
};

static TestRegistration<ServerTest> registration;
#include "ServerTest.moc"
