#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "ServerTestSupport.h"
#include "TestMain.h"
#include "reply/ReplyBox.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

using namespace ServerTesting;

// The system's finger client against the running server. The client only
// talks to port 79, so the server listens on 127.0.0.2:79, which needs root.
class FingerPeerTest : public ProgramTest
{
    Q_OBJECT

private slots:
    void init()
    {
        resetEnvironment();
    }

    void realClientShowsTheProfile_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("finger @host") << QStringList{"@127.0.0.2"};
        QTest::newRow("finger -l user@host") << QStringList{"-l", "user@127.0.0.2"};
    }
    void realClientShowsTheProfile()
    {
        QFETCH(QStringList, arguments);
        const QString client = QStandardPaths::findExecutable(QStringLiteral("finger"));
        if (client.isEmpty())
            QSKIP("the finger client is not installed (Debian package finger)");
        if (::geteuid() != 0)
            QSKIP("listening on port 79 for the finger client needs root");

        storeProfile({"Ann Example", "ann@example.org", "http://example.org/ann", "Likes tea\r\nand finger"});
        RuntimeConfig config;
        config.server.listenAddress = QHostAddress(QStringLiteral("127.0.0.2"));
        auto program = TestSupport::startProgram(config);
        finger& w = program->window();
        if (!w.service().isListening())
            QSKIP(qPrintable("cannot listen on 127.0.0.2:79: " + w.text1->text().section("\r\n", -2, -2)));
        QCOMPARE(w.service().listenPort(), 79);

        QProcess finger;
        finger.setProcessChannelMode(QProcess::MergedChannels);
        finger.start(client, arguments);
        QVERIFY(finger.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(finger.state(), QProcess::NotRunning, 15000);
        const QString output = QString::fromLatin1(finger.readAll());
        QCOMPARE(finger.exitCode(), 0);
        const QStringList expected{"Name: Ann Example", "Email: ann@example.org", "WWW: http://example.org/ann",
                                   "Likes tea", "and finger", "Finger Quobix Server v2.2"};
        QString remaining = output;
        for (const QString& line : expected) {
            const qsizetype at = remaining.indexOf(line);
            QVERIFY2(at >= 0, qPrintable("missing or out of order: " + line + "\n" + output));
            remaining = remaining.mid(at + line.size());
        }
        // The line may wait a moment for the visitor's name.
        QTRY_VERIFY(w.text1->text().contains("Being fingered by "));
        QTRY_COMPARE(w.service().poolCount(), 0);
    }
};

static TestRegistration<FingerPeerTest> registration;
#include "FingerPeerTest.moc"
