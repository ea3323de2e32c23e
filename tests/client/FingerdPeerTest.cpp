#include "ClientHarness.h"
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>

using namespace User;

namespace {
const QString kFingerd = QStringLiteral("/usr/sbin/in.fingerd");

// Sends one query line on a plain socket and collects everything until the server closes.
QByteArray rawQuery(quint16 port, const QByteArray& line, bool* complete)
{
    QTcpSocket socket;
    QByteArray reply;
    bool closed = false;
    QObject::connect(&socket, &QIODevice::readyRead, &socket, [&] { reply += socket.readAll(); });
    QObject::connect(&socket, &QAbstractSocket::disconnected, &socket, [&] { closed = true; });
    QObject::connect(&socket, &QAbstractSocket::connected, &socket, [&] { socket.write(line); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    *complete = QTest::qWaitFor([&] { return closed || socket.state() == QAbstractSocket::UnconnectedState; }, 10000);
    reply += socket.readAll();
    return reply;
}
} // namespace

// A real finger daemon, served on a loopback port by socat.
class FingerdPeerTest : public ProgramTest
{
    Q_OBJECT

    QProcess m_socat;
    quint16 m_port = 0;

private slots:
    void initTestCase()
    {
        const QString socat = QStandardPaths::findExecutable(QStringLiteral("socat"));
        if (socat.isEmpty())
            QSKIP("socat is not installed (Debian package socat); the real finger daemon cannot be served");
        if (!QFileInfo(kFingerd).isExecutable())
            QSKIP("in.fingerd is not installed (Debian package fingerd)");
        m_port = closedPort();
        m_socat.setProgram(socat);
        m_socat.setArguments({QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(m_port),
                              QStringLiteral("EXEC:") + kFingerd});
        m_socat.start();
        QVERIFY2(m_socat.waitForStarted(), qPrintable(m_socat.errorString()));
        // Listening once a connection goes through; the daemon forked for it sees the close and ends.
        QVERIFY(QTest::qWaitFor(
            [this] {
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, m_port);
                return probe.waitForConnected(200);
            },
            10000));
    }

    void cleanupTestCase()
    {
        if (m_socat.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_socat.processId()), SIGTERM);
        QVERIFY(m_socat.waitForFinished(5000));
    }

    void cleanup() { stopProgram(); }

    void replyArrivesWhole_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<bool>("longQuery");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("who is on") << "" << false << QByteArray("\r\n");
        QTest::newRow("root") << "root" << false << QByteArray("root\r\n");
        QTest::newRow("root, long") << "root" << true << QByteArray("/w root\r\n");
    }
    void replyArrivesWhole()
    {
        QFETCH(QString, user);
        QFETCH(bool, longQuery);
        QFETCH(QByteArray, line);
        bool complete = false;
        const QByteArray reference = rawQuery(m_port, line, &complete);
        QVERIFY(complete);
        QVERIFY2(reference.endsWith("\r\n"), reference.constData());

        resetEnvironment();
        launch(clientConfig(m_port));
        finger& w = m_program->window();
        typeHost(w, QStringLiteral("127.0.0.1"));
        typeUser(w, user);
        longQuery ? clickLong(w) : clickShort(w);
        QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), QString("Finger Quobix 2.1"), 10000);
        QVERIFY(!w.isBusy());
        QCOMPARE(w.text1->data(), reference);
    }
};

static TestRegistration<FingerdPeerTest> registration;

#include "FingerdPeerTest.moc"
