#include "../client/ClientHarness.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/SingleInstance.h"
#include "shell/LinkQuery.h"

#include <QElapsedTimer>
#include <QLocalSocket>
#include <QtEndian>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

using namespace User;

// The running copy is this process; later starts are the real program, on a
// runtime folder of the test's own.
class LaunchTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_runtime;
    std::unique_ptr<TestSupport::Program> m_program;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<LinkQuery> m_links;

    finger& window() { return m_program->window(); }

    void startRunningCopy(quint16 fingerPort)
    {
        m_program = TestSupport::startProgram(clientConfig(fingerPort));
        m_instance = std::make_unique<SingleInstance>(m_runtime->path());
        QCOMPARE(m_instance->start({}), SingleInstance::Role::Running);
        QCOMPARE(m_instance->errorText(), QString());
        m_links = std::make_unique<LinkQuery>(*m_program->tray);
        connect(m_instance.get(), &SingleInstance::argumentsReceived, m_links.get(), &LinkQuery::handOver);
        // Closed to the tray: a later start must bring it back.
        window().close();
        QVERIFY(!window().isVisible());
    }

    // Starts the program again and waits, with this copy's event loop running, until it ends.
    void secondStart(const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_runtime->path());
        process.setProcessEnvironment(env);
        QSignalSpy finished(&process, &QProcess::finished);
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(FINGER_QUOBIX_BINARY), arguments);
        // It ends within a second; the bound leaves room for a loaded machine.
        const bool ended = finished.wait(5000);
        if (!ended)
            process.kill();
        QVERIFY2(ended, process.readAllStandardError().constData());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        qInfo("second start ended after %lld ms", clock.elapsed());
    }

private slots:
    void init()
    {
        TestSupport::clearSettings();
        freshPlatform();
        m_runtime = std::make_unique<QTemporaryDir>();
        QVERIFY(m_runtime->isValid());
    }
    void cleanup()
    {
        m_links.reset();
        m_instance.reset();
        m_program.reset();
        m_runtime.reset();
    }

    void secondStartHandsItsLinkOver_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("user");
        QTest::newRow("finger://HOST/USER") << "finger://127.0.0.1/joe" << "joe";
        QTest::newRow("%2FW sent as typed") << "finger://127.0.0.1/%2FWjoe" << "/Wjoe";
        QTest::newRow("USER@HOST") << "ann@127.0.0.1" << "ann";
        QTest::newRow("@HOST") << "@127.0.0.1" << "";
    }
    void secondStartHandsItsLinkOver()
    {
        QFETCH(QString, link);
        QFETCH(QString, user);
        ScriptedServer server;
        startRunningCopy(server.port());
        secondStart({link});
        QTRY_COMPARE(server.received, user.toLatin1() + "\r\n");
        QVERIFY(window().isVisible());
        // Typed into the boxes, so the host list learned the host like any query.
        QCOMPARE(window().Text3->text(), user);
        QCOMPARE(hostList(window()).value(0), QString("127.0.0.1"));
        QCOMPARE(server.connections, 1);
    }

    // Starts of builds with and without activation tokens read each other's hand-over alike.
    void handOverCarriesArgumentsAndToken_data()
    {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("token");
        QTest::newRow("link, no token") << QByteArray("finger://h/joe\0", 15) << QStringList{"finger://h/joe"}
                                        << QByteArray();
        QTest::newRow("bare start") << QByteArray() << QStringList{} << QByteArray();
        QTest::newRow("link and token") << QByteArray("finger://h/joe\0\x01tok-1\0", 22)
                                        << QStringList{"finger://h/joe"} << QByteArray("tok-1");
        QTest::newRow("token alone") << QByteArray("\x01tok-2\0", 7) << QStringList{} << QByteArray("tok-2");
    }
    void handOverCarriesArgumentsAndToken()
    {
        QFETCH(QByteArray, payload);
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, token);
        SingleInstance running(m_runtime->path());
        QCOMPARE(running.start({}), SingleInstance::Role::Running);
        QSignalSpy received(&running, &SingleInstance::argumentsReceived);
        QLocalSocket peer;
        peer.connectToServer(running.socketPath());
        QVERIFY(peer.waitForConnected(2000));
        QByteArray message(4, '\0');
        qToBigEndian<quint32>(quint32(payload.size()), message.data());
        peer.write(message + payload);
        QVERIFY(received.wait(2000));
        QCOMPARE(received.at(0).at(0).toStringList(), arguments);
        QCOMPARE(received.at(0).at(1).toByteArray(), token);
    }

    void staleSocketIsReplacedAndBareStartOnlyShows()
    {
        // What a crashed run leaves: the socket file with nobody listening.
        const QString path = SingleInstance(m_runtime->path()).socketPath();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof(address.sun_path) - 1);
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
        QVERIFY(QFile::exists(path));

        ScriptedServer server;
        startRunningCopy(server.port());
        secondStart({});
        QTRY_VERIFY(window().isVisible());
        QCOMPARE(server.connections, 0);
    }

    void refusedLinkIsReportedNeverSent()
    {
        ScriptedServer server;
        startRunningCopy(server.port());
        m_links->handOver({"finger://127.0.0.1/joe%0D%0Aann"});
        QCOMPARE(recordingPlatform().boxTexts(),
                 QStringList{"Cannot finger \"finger://127.0.0.1/joe%0D%0Aann\": the user part holds a line break "
                             "or another control character."});
        QVERIFY(window().isVisible());
        QCOMPARE(server.connections, 0);
        QCOMPARE(hostList(window()), QStringList{});
    }

    // The window, the tray and the About box show the compiled-in drawing, crisp at any size.
    void iconComesFromTheDrawing()
    {
        ScriptedServer server;
        startRunningCopy(server.port());
        const QIcon icon = window().windowIcon();
        QCOMPARE(m_program->tray->trayIcon()->icon().cacheKey(), icon.cacheKey());
        QCOMPARE(icon.pixmap(16, 16).size(), QSize(16, 16));
        const QImage big = icon.pixmap(256, 256).toImage();
        QCOMPARE(big.size(), QSize(256, 256));
        // Drawn, not scaled up from 128 pixels: the corner is rounded off at the new size.
        QCOMPARE(qAlpha(big.pixel(0, 0)), 0);
        QVERIFY(qAlpha(big.pixel(128, 128)) == 255);
    }

    void linkWaitsForTheRunningQuery()
    {
        ScriptedServer server;
        startRunningCopy(server.port());
        typeHost(window(), "127.0.0.1");
        clickShort(window());
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        m_links->handOver({"ann@127.0.0.1"});
        QCOMPARE(server.connections, 1);
        server.close();
        QTRY_COMPARE(server.received, QByteArray("\r\nann\r\n"));
        QCOMPARE(server.connections, 2);
    }
};

static TestRegistration<LaunchTest> registration;
#include "LaunchTest.moc"
