#include "ClientHarness.h"
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "client/FingerClient.h"
#include "client/FingerQuery.h"
#include "net/SocketComponent.h"

#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTimer>

using namespace User;

class ClientQueryTest : public ProgramTest
{
    Q_OBJECT

    void start(const RuntimeConfig& config)
    {
        resetEnvironment();
        launch(config);
    }

    // Starts the program against the scripted server.
    finger& startAgainst(ScriptedServer& server, int idleTimeoutMs = 60000)
    {
        start(clientConfig(server.port(), idleTimeoutMs));
        return window();
    }

    // Starts the program against the scripted server and runs a short query
    // with no user name to 127.0.0.1; the caller waits for it on the wire.
    finger& startEmptyQuery(ScriptedServer& server, int idleTimeoutMs = 60000)
    {
        finger& w = startAgainst(server, idleTimeoutMs);
        typeHost(w, "127.0.0.1");
        clickShort(w);
        return w;
    }

private slots:
    void cleanup() { stopProgram(); }

    void queryLineOnTheWire_data()
    {
        QTest::addColumn<bool>("longQuery");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("short, empty") << false << "" << QByteArray("\r\n");
        QTest::newRow("short, joe") << false << "joe" << QByteArray("joe\r\n");
        QTest::newRow("short, blanks kept") << false << "  joe " << QByteArray("  joe \r\n");
        QTest::newRow("short, /wjoe") << false << "/wjoe" << QByteArray("/wjoe\r\n");
        QTest::newRow("long, empty") << true << "" << QByteArray("/w \r\n");
        QTest::newRow("long, joe") << true << "joe" << QByteArray("/w joe\r\n");
        QTest::newRow("long, /wjoe unchanged") << true << "/wjoe" << QByteArray("/wjoe\r\n");
        QTest::newRow("long, /Wjoe is no switch") << true << "/Wjoe" << QByteArray("/w /Wjoe\r\n");
        QTest::newRow("long, blanks kept") << true << " joe  " << QByteArray("/w  joe  \r\n");
    }
    void queryLineOnTheWire()
    {
        QFETCH(bool, longQuery);
        QFETCH(QString, user);
        QFETCH(QByteArray, wire);
        ScriptedServer server;
        finger& w = startAgainst(server);
        typeHost(w, "127.0.0.1");
        typeUser(w, user);
        longQuery ? clickLong(w) : clickShort(w);
        QVERIFY(w.isBusy());
        QCOMPARE(w.statusText(), QString("Connecting to 127.0.0.1"));
        QTRY_COMPARE(server.received, wire);
        QCOMPARE(w.statusText(), QString("Connected to 127.0.0.1"));
        QVERIFY(w.isBusy());

        server.send("Login: joe\r\n");
        server.close();
        QTRY_COMPARE(w.statusText(), QString("Finger Quobix 2.1"));
        QVERIFY(!w.isBusy());
        QCOMPARE(w.text1->data(), QByteArray("Login: joe\r\n"));
        QCOMPARE(server.received, wire);
        QCOMPARE(server.connections, 1);
        QCOMPARE(hostList(w), QStringList {"127.0.0.1"});
    }

    // A single-line box takes a pasted text up to its first line break, so
    // the query is one line and the host is a name.
    void pastedLineBreaksNeverReachTheQuery_data()
    {
        QTest::addColumn<bool>("inHostBox");
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("kept");
        QTest::newRow("user, second line") << false << "" << 0 << "joe\r\nroot\r\n" << "joe";
        QTest::newRow("user, lone CR") << false << "" << 0 << "joe\rroot" << "joe";
        QTest::newRow("user, into the middle") << false << "ab" << 1 << "x\ny" << "axb";
        QTest::newRow("host, trailing LF") << true << "" << 0 << "127.0.0.1\n" << "127.0.0.1";
        QTest::newRow("host, at the end") << true << "127.0.0.1" << 9 << "\r\nlocalhost" << "127.0.0.1";
    }
    void pastedLineBreaksNeverReachTheQuery()
    {
        QFETCH(bool, inHostBox);
        QFETCH(QString, before);
        QFETCH(int, cursor);
        QFETCH(QString, pasted);
        QFETCH(QString, kept);
        ScriptedServer server;
        finger& w = startAgainst(server);
        typeHost(w, inHostBox ? before : QStringLiteral("127.0.0.1"));
        typeUser(w, inHostBox ? QString() : before);
        QLineEdit* box = inHostBox ? w.text2->lineEdit() : w.Text3;
        box->setCursorPosition(cursor);
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keySequence(box, QKeySequence::Paste);
        QCOMPARE(box->text(), kept);
        clickShort(w);
        QTRY_COMPARE(server.received, (inHostBox ? QByteArray() : kept.toLatin1()) + "\r\n");
        QCOMPARE(w.statusText(), QString("Connected to 127.0.0.1"));
        QCOMPARE(hostList(w), QStringList {"127.0.0.1"});
        server.close();
        QTRY_VERIFY(!w.isBusy());
    }

    // A NUL, tab or DEL in the host box names no host: nothing connects and nothing is saved.
    void hostWithControlCharacterIsRefused_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("longQuery");
        QTest::addColumn<QString>("shown");
        QTest::newRow("NUL after an IP literal") << QString("127.0.0.1") + QChar(0) + "evil.example" << false
                                                 << "127.0.0.1\u2400evil.example";
        QTest::newRow("tab") << "127.0.0.1\t" << false << "127.0.0.1\u2409";
        QTest::newRow("DEL, long query") << "127.0.0.1\x7f" << true << "127.0.0.1\u2421";
        QTest::newRow("user@host") << QString("joe@127.0.0.1") + QChar(1) << false << "127.0.0.1\u2401";
    }
    void hostWithControlCharacterIsRefused()
    {
        QFETCH(QString, host);
        QFETCH(bool, longQuery);
        QFETCH(QString, shown);
        ScriptedServer server;
        finger& w = startAgainst(server);
        w.text2->lineEdit()->clear();
        QGuiApplication::clipboard()->setText(host);
        QTest::keySequence(w.text2->lineEdit(), QKeySequence::Paste);
        longQuery ? clickLong(w) : clickShort(w);
        QVERIFY(!w.isBusy());
        QCOMPARE(w.statusText(), "Error trying to connect to " + shown);
        QVERIFY(hostList(w).isEmpty());
        QCoreApplication::processEvents();
        QCOMPARE(server.connections, 0);
    }

    // "user@host" in the host box with the user box empty asks for user at host.
    void userAtHostInTheHostBox_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("longQuery");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("user");
        QTest::newRow("user@host") << "joe@127.0.0.1" << false << QByteArray("joe\r\n") << "joe";
        QTest::newRow("long") << "joe@127.0.0.1" << true << QByteArray("/w joe\r\n") << "joe";
        QTest::newRow("@host") << "@127.0.0.1" << false << QByteArray("\r\n") << "";
        QTest::newRow("forwarding") << "joe@a.example@127.0.0.1" << false << QByteArray("joe@a.example\r\n")
                                    << "joe@a.example";
    }
    void userAtHostInTheHostBox()
    {
        QFETCH(QString, typed);
        QFETCH(bool, longQuery);
        QFETCH(QByteArray, sent);
        QFETCH(QString, user);
        ScriptedServer server;
        finger& w = startAgainst(server);
        typeHost(w, typed);
        longQuery ? clickLong(w) : clickShort(w);
        QTRY_COMPARE(server.received, sent);
        QCOMPARE(w.statusText(), QString("Connected to 127.0.0.1"));
        QCOMPARE(hostList(w), QStringList {"127.0.0.1"});
        QCOMPARE(w.text2->currentText(), QString("127.0.0.1"));
        QCOMPARE(w.Text3->text(), user);
        server.close();
        QTRY_VERIFY(!w.isBusy());
    }

    void hostTrimmedForShortQueryOnly_data()
    {
        QTest::addColumn<bool>("longQuery");
        QTest::addColumn<QString>("targetHost");
        QTest::newRow("short trims") << false << "127.0.0.1";
        QTest::newRow("long keeps blanks") << true << "  127.0.0.1 ";
    }
    void hostTrimmedForShortQueryOnly()
    {
        QFETCH(bool, longQuery);
        QFETCH(QString, targetHost);
        ScriptedServer server;
        finger& w = startAgainst(server);
        typeHost(w, "  127.0.0.1 ");
        longQuery ? clickLong(w) : clickShort(w);
        QCOMPARE(w.statusText(), QString("Connecting to   127.0.0.1 "));
        QCOMPARE(w.finger_socket->TargetHost(), targetHost);
        QCOMPARE(hostList(w), QStringList {"  127.0.0.1 "});
        // The address parser reads past the blanks, so both kinds reach the server.
        QTRY_COMPARE(server.received.size(), longQuery ? 5 : 2);
        QCOMPARE(w.statusText(), "Connected to " + targetHost);
        server.close();
        QTRY_VERIFY(!w.isBusy());
    }

    void readBlocksStoredExactly_data()
    {
        QTest::addColumn<QList<QByteArray>>("blocks");
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("bare LF inside kept, last one gets CR")
            << QList<QByteArray> {"a\nb\n"} << QByteArray("a\nb\r\n") << QStringList {"a", "b", ""};
        QTest::newRow("single LF after a CR block") << QList<QByteArray> {"x\r", "\n"} << QByteArray("x\r\r\n")
                                                    << QStringList {"x", "", ""};
        QTest::newRow("CR LF end unchanged") << QList<QByteArray> {"a\r\n"} << QByteArray("a\r\n")
                                             << QStringList {"a", ""};
        QTest::newRow("CR end unchanged") << QList<QByteArray> {"a\r"} << QByteArray("a\r") << QStringList {"a", ""};
        QTest::newRow("LF CR end unchanged") << QList<QByteArray> {"a\n\r"} << QByteArray("a\n\r")
                                             << QStringList {"a", "", ""};
        QTest::newRow("CR LF split across blocks is one break")
            << QList<QByteArray> {"one\r", "\ntwo\r\n"} << QByteArray("one\r\ntwo\r\n")
            << QStringList {"one", "two", ""};
        QTest::newRow("every byte survives")
            << QList<QByteArray> {QByteArray("\0\xff\t\x1b[2J", 7), "\n\n"} << QByteArray("\0\xff\t\x1b[2J\n\r\n", 10)
            << QStringList {QString::fromLatin1("\0\xff\t\x1b[2J", 7), "", ""};
        // A reply that is UTF-8 shows as UTF-8, its bytes kept as sent.
        QTest::newRow("UTF-8 split inside a character")
            << QList<QByteArray> {"Gr\xc3", "\xbc\xc3\x9f" "e\r\n"} << QByteArray("Gr\xc3\xbc\xc3\x9f" "e\r\n")
            << QStringList {QString::fromLatin1("Gr\xc3\xbc\xc3\x9f" "e"), ""};
        QTest::newRow("UTF-8 then a Latin-1 byte: that byte alone is Latin-1")
            << QList<QByteArray> {"\xc3\xa9\r\n", "caf\xe9\r\n"} << QByteArray("\xc3\xa9\r\ncaf\xe9\r\n")
            << QStringList {QString::fromLatin1("\xc3\xa9"), QString::fromLatin1("caf\xe9"), ""};
    }
    void readBlocksStoredExactly()
    {
        QFETCH(QList<QByteArray>, blocks);
        QFETCH(QByteArray, stored);
        QFETCH(QStringList, lines);
        ScriptedServer server;
        finger& w = startEmptyQuery(server);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        QByteArray expected;
        for (const QByteArray& block : blocks) {
            server.send(block);
            expected += FingerQuery::transformBlock(block);
            // One block at a time, so each arrives as a read of its own.
            QTRY_COMPARE(w.text1->data(), expected);
        }
        server.close();
        QTRY_COMPARE(w.statusText(), QString("Finger Quobix 2.1"));
        QCOMPARE(w.text1->data(), stored);
        // Each well-formed UTF-8 sequence is its character, every other byte a Latin-1 one.
        QString shownText;
        for (qsizetype i = 0; i < stored.size();) {
            qsizetype length = 1;
            for (qsizetype n = 4; n >= 2 && length == 1; --n) {
                const QString one = QString::fromUtf8(stored.mid(i, n));
                if (uchar(stored.at(i)) >= 0xC0 && i + n <= stored.size() && one.toUcs4().size() == 1
                    && !one.contains(QChar::ReplacementCharacter))
                    length = n;
            }
            shownText += length > 1 ? QString::fromUtf8(stored.mid(i, length)) : QString(QChar(uchar(stored.at(i))));
            i += length;
        }
        QCOMPARE(w.text1->text(), shownText);
        // Painting held back while the reply streamed in is never left off.
        QVERIFY(w.text1->updatesEnabled());
        QStringList shown;
        for (qsizetype line = 0; line < w.text1->lineCount(); ++line)
            shown << QString::fromLatin1(w.text1->lineText(line));
        QCOMPARE(shown, lines);
    }

    void endOfConversation_data()
    {
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<QString>("status");
        QTest::newRow("24060 timed out") << SocketError::TimedOut << "Timed out trying to connect to 127.0.0.1";
        QTest::newRow("24054 reset") << SocketError::ConnectionReset << "Error trying to connect to 127.0.0.1";
        QTest::newRow("25001 not found") << SocketError::HostNotFound << "Error trying to connect to 127.0.0.1";
    }
    void endOfConversation()
    {
        QFETCH(int, errorCode);
        QFETCH(QString, status);
        ScriptedServer server;
        finger& w = startEmptyQuery(server);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        server.send("partial\r\n");
        QTRY_COMPARE(w.text1->data(), QByteArray("partial\r\n"));
        // The error codes the component can report mid-conversation.
        emit w.finger_socket->LastError(errorCode, QString());
        QCOMPARE(w.statusText(), status);
        QVERIFY(!w.isBusy());
        QVERIFY(!w.finger_socket->ConnectedState());
        QTRY_VERIFY(server.clientClosed);
        QCOMPARE(w.text1->data(), QByteArray("partial\r\n"));
    }

    void refusedPortReportsError()
    {
        start(clientConfig(closedPort()));
        finger& w = window();
        typeHost(w, "127.0.0.1");
        clickLong(w);
        QTRY_COMPARE(w.statusText(), QString("Error trying to connect to 127.0.0.1"));
        QVERIFY(!w.isBusy());
        QVERIFY(recordingPlatform().boxes.isEmpty());
    }

    void silentPeerTimesOutKeepingReply()
    {
        ScriptedServer server;
        finger& w = startEmptyQuery(server, 300);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        server.send("so far\r\n");
        QTRY_COMPARE(w.statusText(), QString("Timed out trying to connect to 127.0.0.1"));
        QVERIFY(!w.isBusy());
        QCOMPARE(w.text1->data(), QByteArray("so far\r\n"));
        QVERIFY(w.text1->updatesEnabled());
        QTRY_VERIFY(server.clientClosed);
    }

    // A server that trickles a byte at a time never lets the idle limit
    // pass: the query's own limit ends it, or the user does with Escape.
    // Either way the reply so far stays and the connection closes.
    void tricklingServerEnds_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::addColumn<QString>("status");
        QTest::newRow("at the query's limit") << false << "Timed out trying to connect to 127.0.0.1";
        QTest::newRow("on Escape") << true << "Stopped by the user";
    }
    void tricklingServerEnds()
    {
        QFETCH(bool, escape);
        QFETCH(QString, status);
        ScriptedServer server;
        RuntimeConfig config = clientConfig(server.port(), 1000);
        config.queryLimitMs = escape ? 60000 : 2000;
        start(config);
        finger& w = window();
        typeHost(w, "127.0.0.1");
        clickShort(w);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        QByteArray sent;
        QTimer trickle;
        connect(&trickle, &QTimer::timeout, &server, [&] {
            if (server.peer && server.peer->state() == QAbstractSocket::ConnectedState) {
                sent += char('a' + sent.size() % 26);
                server.send(sent.right(1));
            }
        });
        trickle.start(200);

        if (escape) {
            QTRY_VERIFY(w.text1->length() >= 3);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            QCOMPARE(w.statusText(), status);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 5000);
        QCOMPARE(w.statusText(), status);
        QVERIFY(w.text1->length() >= 3);
        QVERIFY(sent.startsWith(w.text1->data()));
        QTRY_VERIFY(server.clientClosed);

        // With no query running, Escape changes nothing.
        const QByteArray reply = w.text1->data();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(w.statusText(), status);
        QCOMPARE(w.text1->data(), reply);
    }

    void lateDataOfAnEndedQueryIsDropped()
    {
        ScriptedServer server;
        finger& w = startEmptyQuery(server, 300);
        QTRY_COMPARE(w.statusText(), QString("Timed out trying to connect to 127.0.0.1"));
        const QPointer<QTcpSocket> first = server.peer;
        QVERIFY(first);

        clickShort(w);
        QTRY_COMPARE(server.connections, 2);
        QTRY_COMPARE(w.statusText(), QString("Connected to 127.0.0.1"));
        // Both queries read, so no close below leaves unread data that would reset the client.
        QTRY_COMPARE(server.received, QByteArray("\r\n\r\n"));
        // The first peer answers only now, and closes.
        server.send("stale\r\n");
        server.close();
        QTRY_VERIFY(!first || first->state() == QAbstractSocket::UnconnectedState);
        QVERIFY(w.isBusy());
        QVERIFY(w.text1->data().isEmpty());

        QTcpSocket* second = nullptr;
        for (QTcpSocket* socket : server.findChildren<QTcpSocket*>()) {
            if (socket != first)
                second = socket;
        }
        QVERIFY(second);
        second->write("fresh\r\n");
        second->disconnectFromHost();
        QTRY_COMPARE(w.statusText(), QString("Finger Quobix 2.1"));
        QCOMPARE(w.text1->data(), QByteArray("fresh\r\n"));
    }

    void blankHostEndsIdleWithError_data()
    {
        QTest::addColumn<bool>("longQuery");
        QTest::newRow("short") << false;
        QTest::newRow("long") << true;
    }
    void blankHostEndsIdleWithError()
    {
        QFETCH(bool, longQuery);
        start(clientConfig(closedPort()));
        finger& w = window();
        typeHost(w, "   ");
        longQuery ? clickLong(w) : clickShort(w);
        QTRY_VERIFY(!w.isBusy());
        QCOMPARE(w.statusText(), QString("Error trying to connect to    "));
        QCOMPARE(hostList(w), QStringList {"   "});
    }

    void secondStartWhileBusyDoesNothing()
    {
        ScriptedServer server;
        finger& w = startAgainst(server);
        typeHost(w, "127.0.0.1");
        typeUser(w, "first");
        clickShort(w);
        QTRY_COMPARE(server.received, QByteArray("first\r\n"));
        server.send("reply\r\n");
        QTRY_COMPARE(w.text1->data(), QByteArray("reply\r\n"));

        typeHost(w, "localhost");
        typeUser(w, "second");
        clickShort(w);
        clickLong(w);
        QTest::keyClick(w.text2->lineEdit(), Qt::Key_Return);
        QTest::keyClick(w.Text3, Qt::Key_Enter);
        QCOMPARE(w.statusText(), QString("Connected to 127.0.0.1"));
        QCOMPARE(w.text1->data(), QByteArray("reply\r\n"));
        QCOMPARE(hostList(w), QStringList {"127.0.0.1"});

        server.close();
        QTRY_COMPARE(w.statusText(), QString("Finger Quobix 2.1"));
        QCOMPARE(server.connections, 1);
        QCOMPARE(server.received, QByteArray("first\r\n"));
    }

    // The start lets pending events run: other handlers get in before the connect.
    void eventsWhileQueryStarts_data()
    {
        QTest::addColumn<QString>("event");
        QTest::newRow("server log line") << "log";
        QTest::newRow("second start by buttons and Enter") << "start";
        QTest::newRow("window closed") << "close";
        QTest::newRow("exit from the tray") << "exit";
    }
    void eventsWhileQueryStarts()
    {
        QFETCH(QString, event);
        ScriptedServer server;
        finger& w = startAgainst(server);
        typeHost(w, "127.0.0.1");
        typeUser(w, "joe");
        QTimer::singleShot(0, this, [&] {
            if (event == "log") {
                w.text1->append("Being fingered by visitor\r\n");
            } else if (event == "start") {
                typeUser(w, "second");
                clickShort(w);
                clickLong(w);
                QTest::keyClick(w.text2->lineEdit(), Qt::Key_Return);
                QTest::keyClick(w.Text3, Qt::Key_Return);
            } else if (event == "close") {
                w.close();
            } else {
                m_program->tray->Form_QueryUnload();
            }
        });
        clickShort(w);
        QVERIFY(w.text1->data().isEmpty());
        QCOMPARE(hostList(w), QStringList {"127.0.0.1"});
        if (event == "exit") {
            // The host was offered before the events ran, so the exit saved it.
            QCOMPARE(m_program->quitCalls, 1);
            QCOMPARE(Settings::read(kAppName, "Setup", "Host List0"), QString("127.0.0.1"));
            return;
        }
        QVERIFY(w.isBusy());
        QTRY_COMPARE(server.received, QByteArray("joe\r\n"));
        QCOMPARE(w.isVisible(), event != "close");
        server.send("reply\r\n");
        server.close();
        QTRY_COMPARE(w.statusText(), QString("Finger Quobix 2.1"));
        QCOMPARE(w.text1->data(), QByteArray("reply\r\n"));
        QCOMPARE(server.connections, 1);
        QCOMPARE(server.received, QByteArray("joe\r\n"));
    }

    void emptyHostLeavesProgramIdle_data()
    {
        QTest::addColumn<int>("how"); // 0 short button, 1 long button, 2 Enter in the host box
        QTest::newRow("short") << 0;
        QTest::newRow("long") << 1;
        QTest::newRow("enter") << 2;
    }
    void emptyHostLeavesProgramIdle()
    {
        QFETCH(int, how);
        ScriptedServer server;
        finger& w = startAgainst(server);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.text1->setText("older text\r\n");
        w.Text3->setFocus();
        if (how == 0)
            clickShort(w);
        else if (how == 1)
            clickLong(w);
        else
            QTest::keyClick(w.text2->lineEdit(), Qt::Key_Return);
        const QList<RecordingPlatform::Box> boxes = recordingPlatform().boxes;
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QString("Please enter a Host name"));
        QCOMPARE(boxes[0].icon, Platform::Icon::Exclamation);
        QCOMPARE(boxes[0].caption, QString("Finger Quobix 2.2"));
        QCOMPARE(w.statusText(), QString("Please enter a Host name"));
        QVERIFY(!w.isBusy());
        QVERIFY(w.text2->hasFocus());
        // Nothing was queried, so the reply box keeps what it showed.
        QCOMPARE(w.text1->data(), QByteArray("older text\r\n"));
        QVERIFY(hostList(w).isEmpty());
        QCOMPARE(server.connections, 0);

        typeHost(w, "127.0.0.1");
        clickShort(w);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
    }

    void enterStartsTheQuery_data()
    {
        // Where the key goes: the widget that has the focus after focusing the
        // named one, or the host box's own edit field.
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("key");
        QTest::addColumn<QByteArray>("sent");
        const QByteArray shortQuery("joe\r\n");
        QTest::newRow("host box, Return") << "text2" << int(Qt::Key_Return) << shortQuery;
        QTest::newRow("host box, keypad Enter") << "text2" << int(Qt::Key_Enter) << shortQuery;
        QTest::newRow("host box's edit field, Return") << "text2 edit" << int(Qt::Key_Return) << shortQuery;
        QTest::newRow("user box, Return") << "Text3" << int(Qt::Key_Return) << shortQuery;
        // Enter on a focused button presses it, as Space does.
        QTest::newRow("Short Finger, Return") << "Command1" << int(Qt::Key_Return) << shortQuery;
        QTest::newRow("Long Finger, keypad Enter") << "Command3" << int(Qt::Key_Enter) << QByteArray("/w joe\r\n");
    }
    void enterStartsTheQuery()
    {
        QFETCH(QString, target);
        QFETCH(int, key);
        QFETCH(QByteArray, sent);
        ScriptedServer server;
        finger& w = startAgainst(server);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        typeHost(w, "127.0.0.1");
        typeUser(w, "joe");
        QWidget* widget = target == "text2 edit" ? w.text2->lineEdit() : w.findChild<QWidget*>(target);
        QVERIFY(widget);
        widget->setFocus(Qt::TabFocusReason);
        QWidget* receiver = target == "text2 edit" ? widget : QApplication::focusWidget();
        QVERIFY(receiver);
        QTest::keyClick(receiver, Qt::Key(key));
        QTRY_COMPARE(server.received, sent);
        // The combo box itself inserted nothing: the one entry comes from the query.
        QCOMPARE(hostList(w), QStringList {"127.0.0.1"});
        QCOMPARE(w.text2->currentText(), QString("127.0.0.1"));
        server.close();
        QTRY_VERIFY(!w.isBusy());
    }

    void connectedNamesAddressWhenHostReadsEmpty()
    {
        ScriptedServer server;
        finger& w = startEmptyQuery(server);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        w.finger_socket->setTargetHost(QString());
        w.client().finger_socket_Connect();
        QCOMPARE(w.statusText(), QString("Connected to 127.0.0.1"));
        server.close();
        QTRY_VERIFY(!w.isBusy());
    }

    void hostNamesAndIpv6Literals_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("listenOn");
        QTest::newRow("ipv6 literal") << "::1" << "::1";
        QTest::newRow("name") << "localhost" << "127.0.0.1";
    }
    void hostNamesAndIpv6Literals()
    {
        QFETCH(QString, host);
        QFETCH(QString, listenOn);
        ScriptedServer server {QHostAddress(listenOn)};
        if (!server.isListening())
            QSKIP(qPrintable("This machine cannot listen on " + listenOn));
        finger& w = startAgainst(server);
        typeHost(w, host);
        // The window keeps handling events while the name is looked up and connected.
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(0);
        clickShort(w);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        QVERIFY(ticks > 0);
        QCOMPARE(w.statusText(), "Connected to " + host);
        server.send("here\n");
        server.close();
        QTRY_COMPARE(w.statusText(), QString("Finger Quobix 2.1"));
        QCOMPARE(w.text1->data(), QByteArray("here\r\n"));
    }

    void hugeReplyIsCutAtTheLimit()
    {
        ScriptedServer server;
        finger& w = startEmptyQuery(server);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        QByteArray line(78, 'x');
        line += "\r\n";
        const qsizetype lines = FingerClient::kReplyLimit / line.size() + 2;
        QByteArray reply;
        reply.reserve(lines * line.size());
        for (qsizetype i = 0; i < lines; ++i)
            reply += line;
        server.send(reply);
        QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 60000);
        QCOMPARE(w.statusText(), QString("Reply from 127.0.0.1 cut at 64 MiB"));
        QCOMPARE(w.text1->length(), FingerClient::kReplyLimit);
        QVERIFY(w.text1->data() == reply.left(FingerClient::kReplyLimit));
        QVERIFY(w.text1->updatesEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(server.clientClosed, 60000);
    }

    void replyOfExactlyTheLimitIsKeptWhole()
    {
        ScriptedServer server;
        finger& w = startEmptyQuery(server);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        QByteArray reply(FingerClient::kReplyLimit, 'y');
        reply[reply.size() - 2] = '\r';
        reply[reply.size() - 1] = '\n';
        server.send(reply);
        server.close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 60000);
        QCOMPARE(w.statusText(), QString("Finger Quobix 2.1"));
        QCOMPARE(w.text1->length(), FingerClient::kReplyLimit);
    }

    // A block of one LF becomes CR LF, two bytes, when the reply is at or next to the limit.
    void lineEndAtTheLimit_data()
    {
        QTest::addColumn<qsizetype>("before");
        QTest::addColumn<qsizetype>("stored");
        QTest::addColumn<QString>("status");
        QTest::newRow("CR LF fits") << FingerClient::kReplyLimit - 2 << FingerClient::kReplyLimit
                                    << "Finger Quobix 2.1";
        QTest::newRow("only the added CR would fit") << FingerClient::kReplyLimit - 1
                                                     << FingerClient::kReplyLimit - 1
                                                     << "Reply from 127.0.0.1 cut at 64 MiB";
    }
    void lineEndAtTheLimit()
    {
        QFETCH(qsizetype, before);
        QFETCH(qsizetype, stored);
        QFETCH(QString, status);
        ScriptedServer server;
        finger& w = startEmptyQuery(server);
        QTRY_COMPARE(server.received, QByteArray("\r\n"));
        const QByteArray reply(before, 'y');
        server.send(reply);
        QTRY_COMPARE_WITH_TIMEOUT(w.text1->length(), before, 60000);
        server.send("\n");
        server.close();
        QTRY_VERIFY_WITH_TIMEOUT(!w.isBusy(), 60000);
        QCOMPARE(w.statusText(), status);
        QCOMPARE(w.text1->length(), stored);
        // Never a CR the server did not send.
        QVERIFY(w.text1->data() == (stored > before ? reply + "\r\n" : reply));
    }
};

static TestRegistration<ClientQueryTest> registration;

#include "ClientQueryTest.moc"
