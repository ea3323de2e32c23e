#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/Settings.h"
#include "contact/MailText.h"
#include "contact/SendForm.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <csignal>

namespace {
const QString kPython = QStringLiteral("/usr/bin/python3");

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct Received
{
    QString helo;
    bool extended = false;
    QString mailFrom;
    QStringList recipients;
    QByteArray data;
};
} // namespace

// The feedback window against a real SMTP server (aiosmtpd on loopback) that
// records the envelope and the exact data of what it accepts.
class SmtpPeerTest : public ProgramTest
{
    Q_OBJECT

    QTemporaryDir m_folder;
    QProcess m_server;
    quint16 m_port = 0;

    bool serverAnswers() const
    {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        const bool up = probe.waitForConnected(1000);
        probe.abort();
        return up;
    }

    void setFlag(const QString& name, bool on)
    {
        QFile flag(m_folder.filePath(name));
        if (on) {
            flag.open(QIODevice::WriteOnly);
            flag.close();
        } else {
            flag.remove();
        }
    }

    std::optional<Received> received() const
    {
        QFile file(m_folder.filePath(QStringLiteral("message.json")));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
        Received message;
        message.helo = record.value("helo").toString();
        message.extended = record.value("extended").toBool();
        message.mailFrom = record.value("mail_from").toString();
        for (const QJsonValue& to : record.value("rcpt_tos").toArray())
            message.recipients.append(to.toString());
        message.data = QByteArray::fromBase64(record.value("data").toString().toLatin1());
        return message;
    }

    // (Re)starts the program with its mail relay at host:port.
    void startWithRelay(const QString& host, quint16 port, int timeLimitSeconds)
    {
        RuntimeConfig config = TestSupport::testConfig();
        config.smtpHost = host;
        config.smtpPort = port;
        config.smtpTimeLimitSeconds = timeLimitSeconds;
        launch(config);
    }

    // Opens the feedback form the way a user does when no mail program starts.
    SendForm* openForm()
    {
        m_program->window().mnuEmail->trigger();
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* form = qobject_cast<SendForm*>(widget); form && form->isVisible())
                return form;
        return nullptr;
    }

    static QByteArray expectedData(const QString& sender, const QByteArray& text)
    {
        return "From: " + sender.toLatin1()
               + "\r\nTo: yarbo@example.org\r\nDate: Tue, 08 Dec 2026 14:30:15 +0100\r\nSubject: I'm using Finger "
                 "Quobix!\r\nX-Mailer: Finger Quobix 2.1\r\n\r\n\r\n"
               + text + "\r\n";
    }

private slots:
    void initTestCase()
    {
        if (!QFileInfo::exists(kPython))
            QSKIP("/usr/bin/python3 is missing; install python3-aiosmtpd to run the SMTP peer tests");
        QProcess probe;
        probe.start(kPython, {"-c", "import aiosmtpd"});
        if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
            QSKIP("aiosmtpd is missing for /usr/bin/python3; install python3-aiosmtpd to run the SMTP peer tests");

        QVERIFY(m_folder.isValid());
        m_port = freePort();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PYTHONPATH", QStringLiteral(QUOBIX_CONTACT_TEST_DATA));
        environment.insert("PYTHONDONTWRITEBYTECODE", "1");
        m_server.setProcessEnvironment(environment);
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(kPython, {"-m", "aiosmtpd", "-n", "-l", QStringLiteral("127.0.0.1:%1").arg(m_port), "-c",
                                 "smtp_recorder.Recorder", m_folder.path()});
        QVERIFY(m_server.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(m_server.state() != QProcess::Running || serverAnswers(), 30000);
        QVERIFY2(m_server.state() == QProcess::Running, m_server.readAll().constData());
    }

    void cleanupTestCase()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        const auto pid = static_cast<pid_t>(m_server.processId());
        ::kill(pid, SIGTERM);
        if (!m_server.waitForFinished(10000)) {
            ::kill(pid, SIGKILL);
            m_server.waitForFinished(10000);
        }
    }

    void init()
    {
        RecordingPlatform& p = resetEnvironment();
        p.launchResult = 2; // no mail program: the feedback form takes over
        p.clock = QDateTime(QDate(2026, 12, 8), QTime(14, 30, 15), QTimeZone(3600));
        for (const char* name : {"message.json", "refuse-ehlo", "refuse-rcpt"})
            QFile::remove(m_folder.filePath(name));
        startWithRelay(QStringLiteral("127.0.0.1"), m_port, 10);
    }
    void cleanup() { stopProgram(); }

    void sendsTheMessageExactly_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("byKeyboard");
        QTest::addColumn<QByteArray>("onTheWire");
        // Lines of 62 characters: 64 with their CR LF, as the form counts them.
        auto lines = [](int count) {
            QString text;
            for (int n = 0; n < count; ++n)
                text += QString(62, QChar(u'a' + n % 26)) + '\n';
            return text;
        };
        auto wire = [](const QString& text) { return MailText::toCrLf(text).toLatin1(); };
        QTest::newRow("one line") << "Hello Yarbo!" << false << QByteArray("Hello Yarbo!");
        QTest::newRow("typed line breaks") << "first\nsecond\n\nfourth" << true
                                           << QByteArray("first\r\nsecond\r\n\r\nfourth");
        QTest::newRow("dot lines") << ".\n..two\nmiddle\n.\nend ." << false
                                   << QByteArray(".\r\n..two\r\nmiddle\r\n.\r\nend .");
        const QString text2046 = lines(31) + QString(62, 'z');
        QTest::newRow("2046 characters: blocks 1024, 1024, 2") << text2046 << false << wire(text2046);
        const QString text1020 = lines(15) + QString(60, 'z');
        QTest::newRow("1020 characters: blocks 1024, 0") << text1020 << false << wire(text1020);
        // The body's second block starts with a dot line.
        const QString boundary = lines(15) + QString(60, 'z') + "\n.b";
        QTest::newRow("dot line on a block boundary") << boundary << false << wire(boundary);
        // One paragraph longer than a mail line goes out in lines at its blanks.
        QString paragraph;
        while (paragraph.size() < 2040)
            paragraph += QStringLiteral("word ");
        QByteArray paragraphWire = paragraph.left(995).toLatin1() + "\r\n" + paragraph.mid(995, 995).toLatin1()
                                   + "\r\n" + paragraph.mid(1990).toLatin1();
        QTest::newRow("long paragraph") << paragraph << false << paragraphWire;
        QTest::newRow("8-bit text") << QStringLiteral("caf\u00e9") << false << QByteArray("caf\xe9");
    }
    void sendsTheMessageExactly()
    {
        QFETCH(QString, text);
        QFETCH(bool, byKeyboard);
        QFETCH(QByteArray, onTheWire);
        QPointer<SendForm> form = openForm();
        QVERIFY(form);
        QTest::keyClicks(form->txtfrom, "me@example.net");
        if (byKeyboard) {
            const QStringList lines = text.split('\n');
            for (qsizetype i = 0; i < lines.size(); ++i) {
                if (i > 0)
                    QTest::keyClick(form->msgtext, Qt::Key_Return);
                QTest::keyClicks(form->msgtext, lines[i]);
            }
            QCOMPARE(form->msgtext->toPlainText(), text);
        } else {
            form->msgtext->setPlainText(text);
        }
        const QString body = "\r\n" + MailText::toCrLf(text) + "\r\n";
        if (QTest::currentDataTag() == QByteArray("2046 characters: blocks 1024, 1024, 2"))
            QCOMPARE(body.size(), 2050);
        if (QTest::currentDataTag() == QByteArray("1020 characters: blocks 1024, 0"))
            QCOMPARE(body.size(), 1024);
        if (QTest::currentDataTag() == QByteArray("dot line on a block boundary"))
            QCOMPARE(body.indexOf("\r\n.b"), 1022);
        QTest::mouseClick(form->SendBtn, Qt::LeftButton);

        const std::optional<Received> message = received();
        QVERIFY2(message, qPrintable(recordingPlatform().boxTexts().join(" | ")));
        QCOMPARE(message->mailFrom, QString("me@example.net"));
        QCOMPARE(message->recipients, QStringList{kAuthorMailbox});
        QVERIFY(message->extended);
        QCOMPARE(message->data, expectedData("me@example.net", onTheWire));
        // Sent: the window closes without asking, the pointer is back.
        QVERIFY(recordingPlatform().boxes.isEmpty());
        QTRY_VERIFY(!form);
        QVERIFY(!QApplication::overrideCursor());
    }

    void refusedRecipientKeepsTheMessage()
    {
        setFlag("refuse-rcpt", true);
        QPointer<SendForm> form = openForm();
        QVERIFY(form);
        QTest::keyClicks(form->txtfrom, "me@example.net");
        form->msgtext->setPlainText("Please keep this text");
        QTest::mouseClick(form->SendBtn, Qt::LeftButton);

        RecordingPlatform& p = recordingPlatform();
        QCOMPARE(p.boxTexts(), QStringList{"The message was not sent. The SMTP server answered:\n"
                                           "550 5.1.1 <yarbo@example.org>: Recipient address rejected"});
        QCOMPARE(p.boxes.first().icon, Platform::Icon::Exclamation);
        QCOMPARE(p.boxes.first().caption, kAppTitle);
        QVERIFY(!received());
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->msgtext->toPlainText(), QString("Please keep this text"));
        QCOMPARE(form->txtfrom->text(), QString("me@example.net"));
        QVERIFY(form->SendBtn->isEnabled());
        QVERIFY(!QApplication::overrideCursor());

        // Once the server takes it, the same text goes out.
        setFlag("refuse-rcpt", false);
        QTest::mouseClick(form->SendBtn, Qt::LeftButton);
        const std::optional<Received> message = received();
        QVERIFY(message);
        QCOMPARE(message->data, expectedData("me@example.net", "Please keep this text"));
        QTRY_VERIFY(!form);
    }

    // The relay named by host name: looked up, then each address tried.
    void sendsThroughTheRelaysHostName()
    {
        startWithRelay(QStringLiteral("localhost"), m_port, 10);
        QPointer<SendForm> form = openForm();
        QVERIFY(form);
        QTest::keyClicks(form->txtfrom, "me@example.net");
        form->msgtext->setPlainText("By name");
        QTest::mouseClick(form->SendBtn, Qt::LeftButton);
        const std::optional<Received> message = received();
        QVERIFY2(message, qPrintable(recordingPlatform().boxTexts().join(" | ")));
        QCOMPARE(message->data, expectedData("me@example.net", "By name"));
        QTRY_VERIFY(!form);
    }

    // Servers that misbehave: every wait ends within the time limit, the
    // message stays, what the user reads stays short, and a server that
    // refused to talk still hears QUIT.
    void misbehavingServer_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("box"); // the start of the message shown
        QTest::addColumn<bool>("quit");
        const QString noConnection = SendForm::kNoConnection;
        QTest::newRow("huge reply") << "huge-reply"
                                    << "The message was not sent. The SMTP server answered:\n550 zzzz" << true;
        QTest::newRow("endless multi-line reply") << "endless-reply" << noConnection << false;
        QTest::newRow("reply dripping in") << "drip" << noConnection << false;
        QTest::newRow("no line end") << "no-line-end" << noConnection << false;
        QTest::newRow("greeting 554") << "greeting-554" << noConnection << true;
        QTest::newRow("EHLO and HELO refused") << "hello-refused" << noConnection << true;
    }
    void misbehavingServer()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, box);
        QFETCH(bool, quit);
        QProcess server;
        server.start(kPython, {QStringLiteral(QUOBIX_CONTACT_TEST_DATA "/smtp_script.py"), scenario});
        QVERIFY(server.waitForStarted(10000));
        const auto stop = qScopeGuard([&server] {
            ::kill(static_cast<pid_t>(server.processId()), SIGKILL);
            server.waitForFinished(10000);
        });
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += server.readAllStandardOutput()).contains('\n'), 30000);
        const quint16 port = output.mid(5, output.indexOf('\n') - 5).toUShort();
        QVERIFY(output.startsWith("PORT ") && port != 0);

        startWithRelay(QStringLiteral("127.0.0.1"), port, 2);
        QPointer<SendForm> form = openForm();
        QVERIFY(form);
        QTest::keyClicks(form->txtfrom, "me@example.net");
        form->msgtext->setPlainText("Keep me");
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(form->SendBtn, Qt::LeftButton);

        // At most one wait each for the connection, the greeting, EHLO and HELO.
        QVERIFY2(clock.elapsed() < 4 * 2000 + 2000, qPrintable(QString::number(clock.elapsed())));
        const QStringList boxes = recordingPlatform().boxTexts();
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes.first().startsWith(box), qPrintable(boxes.first().left(200)));
        QVERIFY2(boxes.first().size() < 1100, qPrintable(QString::number(boxes.first().size())));
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->msgtext->toPlainText(), QString("Keep me"));
        QVERIFY(form->SendBtn->isEnabled());
        QVERIFY(!QApplication::overrideCursor());
        if (quit)
            QTRY_VERIFY_WITH_TIMEOUT((output += server.readAllStandardOutput()).contains("C: QUIT"), 10000);
    }

    void fallsBackToHeloWhenEhloIsRefused()
    {
        setFlag("refuse-ehlo", true);
        QPointer<SendForm> form = openForm();
        QVERIFY(form);
        QTest::keyClicks(form->txtfrom, "me@example.net");
        form->msgtext->setPlainText("Hello");
        QTest::mouseClick(form->SendBtn, Qt::LeftButton);
        const std::optional<Received> message = received();
        QVERIFY2(message, qPrintable(recordingPlatform().boxTexts().join(" | ")));
        QVERIFY(!message->extended);
        QCOMPARE(message->helo, QString("[127.0.0.1]"));
        QCOMPARE(message->data, expectedData("me@example.net", "Hello"));
    }
};

static TestRegistration<SmtpPeerTest> registration;

#include "SmtpPeerTest.moc"
