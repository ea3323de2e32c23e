#include "TestMain.h"
#include "contact/MailText.h"
#include "contact/SendForm.h"
#include "net/SmtpClient.h"
#include "net/SmtpWire.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The pieces of the mail path that decide something: reply parsing, the
// data on the wire, the date header, line ends and blocks, and the client's
// time limit.
class SmtpPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void replyParser_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        // Codes of the replies that come out, 0 for a malformed one.
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QString>("firstText");
        QTest::newRow("one line") << QList<QByteArray>{"220 ready\r\n"} << QList<int>{220} << "220 ready";
        QTest::newRow("multi-line") << QList<QByteArray>{"250-host\r\n250-SIZE 10\r\n250 HELP\r\n"}
                                    << QList<int>{250} << "250-host\n250-SIZE 10\n250 HELP";
        QTest::newRow("split anywhere") << QList<QByteArray>{"250-ho", "st\r", "\n25", "0 OK\r\n"} << QList<int>{250}
                                        << "250-host\n250 OK";
        QTest::newRow("code alone") << QList<QByteArray>{"250\r\n"} << QList<int>{250} << "250";
        QTest::newRow("bare LF") << QList<QByteArray>{"354 go ahead\n"} << QList<int>{354} << "354 go ahead";
        QTest::newRow("two in one read") << QList<QByteArray>{"250 a\r\n221 bye\r\n"} << QList<int>{250, 221}
                                         << "250 a";
        QTest::newRow("unfinished") << QList<QByteArray>{"250-first\r\n250 sec"} << QList<int>{} << "";
        QTest::newRow("not SMTP") << QList<QByteArray>{"HTTP/1.1 400 Bad\r\n"} << QList<int>{0} << "HTTP/1.1 400 Bad";
        QTest::newRow("codes differ") << QList<QByteArray>{"250-a\r\n550 b\r\n"} << QList<int>{0} << "250-a\n550 b";
        QTest::newRow("bad separator") << QList<QByteArray>{"250_x\r\n"} << QList<int>{0} << "250_x";
        QTest::newRow("endless line") << QList<QByteArray>{QByteArray(70000, 'x')} << QList<int>{0}
                                      << "";
        QTest::newRow("endless line after a first") << QList<QByteArray>{"250-a\r\n", QByteArray(70000, 'x')}
                                                    << QList<int>{0} << "250-a\n" + QString(70000, 'x');
    }
    void replyParser()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<int>, codes);
        QFETCH(QString, firstText);
        SmtpReplyParser parser;
        QList<SmtpReply> replies;
        for (const QByteArray& chunk : chunks) {
            parser.feed(chunk);
            while (std::optional<SmtpReply> reply = parser.next())
                replies.append(*reply);
        }
        QList<int> got;
        for (const SmtpReply& reply : replies)
            got.append(reply.valid ? reply.code : 0);
        QCOMPARE(got, codes);
        if (!replies.isEmpty() && !firstText.isEmpty())
            QCOMPARE(replies.first().text(), firstText);
    }

    // A server that trickles a long reply a byte at a time must not cost the
    // GUI thread the reply's length squared (it once took seconds for 64 KB).
    void replyTrickledByteByByteStaysLinear()
    {
        const QByteArray line = "250-" + QByteArray(60, 'x') + "\r\n";
        QByteArray wire;
        while (wire.size() + line.size() + 8 < SmtpReplyParser::kMaxReplyBytes)
            wire += line;
        const qsizetype lines = wire.size() / line.size() + 2;
        wire += "250 OK\r\n221 bye\r\n";
        SmtpReplyParser parser;
        QList<SmtpReply> replies;
        QElapsedTimer clock;
        clock.start();
        for (const char c : wire) {
            parser.feed(QByteArray(1, c));
            while (std::optional<SmtpReply> reply = parser.next())
                replies.append(*reply);
        }
        QVERIFY2(clock.elapsed() < 300, qPrintable(QString::number(clock.elapsed()) + " ms"));
        QCOMPARE(replies.size(), 2);
        QVERIFY(replies[0].valid && replies[1].valid);
        QCOMPARE(replies[0].lines.size() + 1, lines);
        QCOMPARE(replies[1].code, 221);
        QVERIFY(parser.isEmpty());
    }

    void dataOnTheWire_data()
    {
        QTest::addColumn<QStringList>("blocks");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("plain") << QStringList{"Hi\r\n"} << QByteArray("Hi\r\n.\r\n");
        QTest::newRow("lone dot line") << QStringList{"a\r\n.\r\nb\r\n"} << QByteArray("a\r\n..\r\nb\r\n.\r\n");
        QTest::newRow("dot first") << QStringList{".hidden\r\n"} << QByteArray("..hidden\r\n.\r\n");
        QTest::newRow("dot after a block boundary") << QStringList{"a\r\n", ".b\r\n"} << QByteArray("a\r\n..b\r\n.\r\n");
        QTest::newRow("CR LF split over blocks") << QStringList{"a\r", "\n.b\r\n"} << QByteArray("a\r\n..b\r\n.\r\n");
        QTest::newRow("dot inside a line") << QStringList{"a.b\r\n"} << QByteArray("a.b\r\n.\r\n");
        QTest::newRow("bare LF") << QStringList{"a\n.b\n"} << QByteArray("a\r\n..b\r\n.\r\n");
        QTest::newRow("lone CR") << QStringList{"a\r.b"} << QByteArray("a\r\n..b\r\n.\r\n");
        QTest::newRow("no last line end") << QStringList{"text"} << QByteArray("text\r\n.\r\n");
        QTest::newRow("empty blocks between") << QStringList{"a\r\n", "", ".\r\n", ""}
                                              << QByteArray("a\r\n..\r\n.\r\n");
        QTest::newRow("no data") << QStringList{} << QByteArray(".\r\n");
        QTest::newRow("8-bit text") << QStringList{QStringLiteral("caf\u00e9\r\n")} << QByteArray("caf\xe9\r\n.\r\n");
    }
    void dataOnTheWire()
    {
        QFETCH(QStringList, blocks);
        QFETCH(QByteArray, wire);
        SmtpDataEncoder encoder;
        QByteArray out;
        for (const QString& block : blocks)
            out += encoder.encode(block);
        out += encoder.finish();
        QCOMPARE(out, wire);
    }

    void dateText_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("text");
        QTest::newRow("east of UTC") << QDateTime(QDate(2026, 12, 8), QTime(14, 30, 15), QTimeZone(3600))
                                     << "Tue, 08 Dec 2026 14:30:15 +0100";
        QTest::newRow("half hours west") << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59), QTimeZone(-16200))
                                         << "Thu, 29 Feb 2024 23:59:59 -0430";
        QTest::newRow("UTC") << QDateTime(QDate(1999, 1, 3), QTime(0, 0), Qt::UTC) << "Sun, 03 Jan 1999 00:00:00 +0000";
    }
    void dateText()
    {
        QFETCH(QDateTime, when);
        QFETCH(QString, text);
        // Day and month names stay English whatever the user's language.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        QCOMPARE(SmtpClient::formatDate(when), text);
        SmtpClient client;
        client.setClock([when] { return when; });
        QCOMPARE(client.DateText(), text);
    }

    void lineEndsBecomeCrLf_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("sent");
        QTest::newRow("LF") << "a\nb" << "a\r\nb";
        QTest::newRow("CR LF kept") << "a\r\nb" << "a\r\nb";
        QTest::newRow("lone CR") << "a\rb" << "a\r\nb";
        QTest::newRow("empty lines") << "\n\n" << "\r\n\r\n";
        QTest::newRow("CR then CR LF") << "a\r\r\nb" << "a\r\n\r\nb";
    }
    void lineEndsBecomeCrLf()
    {
        QFETCH(QString, typed);
        QFETCH(QString, sent);
        QCOMPARE(MailText::toCrLf(typed), sent);
    }

    void longLinesBreakAtBlanks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("sent");
        QTest::newRow("short lines untouched") << "abc\r\ndef" << 10 << "abc\r\ndef";
        QTest::newRow("exactly the limit") << "aaaaaaaaaa" << 10 << "aaaaaaaaaa";
        QTest::newRow("after the last blank") << "aaaa bbbb cccc" << 10 << "aaaa bbbb \r\ncccc";
        QTest::newRow("tab counts as blank") << "aaaa\tbbbbbbb" << 10 << "aaaa\t\r\nbbbbbbb";
        QTest::newRow("no blank: at the limit") << "aaaaaaaaaaaa" << 10 << "aaaaaaaaaa\r\naa";
        QTest::newRow("several pieces") << QString(25, 'x') << 10
                                        << QString(10, 'x') + "\r\n" + QString(10, 'x') + "\r\n" + QString(5, 'x');
        QTest::newRow("leading blank only") << " aaaaaaaaaaaa" << 10 << " aaaaaaaaa\r\naaa";
        QTest::newRow("each line alone") << "aaaa bbbb cccc\r\nshort" << 10 << "aaaa bbbb \r\ncccc\r\nshort";
        QTest::newRow("mail limit") << QString(2046, 'y') << 998
                                    << QString(998, 'y') + "\r\n" + QString(998, 'y') + "\r\n" + QString(50, 'y');
    }
    void longLinesBreakAtBlanks()
    {
        QFETCH(QString, text);
        QFETCH(int, limit);
        QFETCH(QString, sent);
        QCOMPARE(MailText::wrapLongLines(text, limit), sent);
    }

    void bodyBlocks_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<QList<qsizetype>>("sizes");
        QTest::newRow("2046-character text") << 2050 << QList<qsizetype>{1024, 1024, 2};
        QTest::newRow("1020-character text") << 1024 << QList<qsizetype>{1024, 0};
        QTest::newRow("short") << 1023 << QList<qsizetype>{1023};
        QTest::newRow("empty") << 0 << QList<qsizetype>{0};
    }
    void bodyBlocks()
    {
        QFETCH(int, length);
        QFETCH(QList<qsizetype>, sizes);
        QString body;
        for (int i = 0; i < length; ++i)
            body += QChar(u'a' + i % 26);
        const QStringList blocks = MailText::blocks(body, SendForm::kBlockSize);
        QList<qsizetype> got;
        for (const QString& block : blocks)
            got.append(block.size());
        QCOMPARE(got, sizes);
        QCOMPARE(blocks.join(QString()), body);
    }

    void silentServerEndsAtTheTimeLimit()
    {
        // The kernel completes the connection, but no greeting ever comes.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        SmtpClient client;
        int reports = 0;
        int reportedCode = 0;
        connect(&client, &SmtpClient::LastError, this, [&](int code, const QString&, int*) {
            ++reports;
            reportedCode = code;
        });
        client.setServerHost(QStringLiteral("127.0.0.1"));
        client.setServerPort(silent.serverPort());
        client.setTimeLimit(1);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!client.OpenConnection());
        QVERIFY(clock.elapsed() < 10000);
        QVERIFY(!client.IsConnected());
        QCOMPARE(reports, 1);
        QCOMPARE(reportedCode, SmtpError::TimedOut);
        // Nothing more happens on a dead connection; each step says so.
        QVERIFY(!client.BeginMessage());
        QCOMPARE(client.LastErrorCode(), SmtpError::NotConnected);
        QVERIFY(client.CloseConnection());
    }

    // Socket failures carry the socket component's codes, with the mail window's words.
    void socketFailuresReportSharedCodes_data()
    {
        QTest::addColumn<bool>("listening"); // false: nothing listens, the connect is refused
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("refused") << false << SocketError::ConnectionRefused
                                 << "The SMTP server refused the connection.";
        QTest::newRow("hangs up at once") << true << SocketError::ConnectionReset
                                          << "The SMTP server closed the connection.";
    }
    void socketFailuresReportSharedCodes()
    {
        QFETCH(bool, listening);
        QFETCH(int, code);
        QFETCH(QString, text);
        // A plain socket on a thread of its own: the client blocks this one.
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        QVERIFY(listener >= 0);
        const auto closeListener = qScopeGuard([listener] { ::close(listener); });
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        QCOMPARE(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
        QCOMPARE(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
        // Bound but not listening, the port refuses; nobody else can take it meanwhile.
        if (listening)
            QCOMPARE(::listen(listener, 1), 0);
        std::thread peer([listener, listening] {
            if (!listening)
                return;
            if (const int connection = ::accept(listener, nullptr, nullptr); connection >= 0)
                ::close(connection);
        });
        SmtpClient client;
        client.setServerHost(QStringLiteral("127.0.0.1"));
        client.setServerPort(ntohs(address.sin_port));
        client.setTimeLimit(5);
        const bool opened = client.OpenConnection();
        ::shutdown(listener, SHUT_RDWR); // ends a wait in accept, should none have come
        peer.join();
        QVERIFY(!opened);
        QCOMPARE(client.LastErrorCode(), code);
        QCOMPARE(client.LastErrorString(), text);
        QVERIFY(!client.IsConnected());
    }

    // Host names are looked up within the time limit, and each address the
    // lookup gives is tried in turn.
    void hostNameLookup_data()
    {
        QTest::addColumn<QString>("answer"); // "none": the lookup never answers
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("never answers") << "none" << SmtpError::TimedOut
                                       << "The SMTP server's host mail.example.invalid could not be looked up within 1 "
                                          "seconds.";
        QTest::newRow("unknown host") << "" << SmtpError::HostNotFound
                                      << "The SMTP server's host mail.example.invalid was not found.";
        // Nothing listens on ::1; the next address reaches the silent server.
        QTest::newRow("second address") << "::1 127.0.0.1" << SmtpError::TimedOut
                                        << "The SMTP server did not answer within 1 seconds.";
    }
    void hostNameLookup()
    {
        QFETCH(QString, answer);
        QFETCH(int, code);
        QFETCH(QString, text);
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        SmtpClient client;
        QStringList looked;
        client.setHostLookup([&](const QString& name, QObject* context, std::function<void(const QHostInfo&)> done) {
            looked.append(name);
            if (answer != "none") {
                QTimer::singleShot(0, context, [answer, done] {
                    QHostInfo info;
                    QList<QHostAddress> addresses;
                    for (const QString& address : answer.split(' ', Qt::SkipEmptyParts))
                        addresses.append(QHostAddress(address));
                    info.setAddresses(addresses);
                    if (addresses.isEmpty())
                        info.setError(QHostInfo::HostNotFound);
                    done(info);
                });
            }
            return 1;
        });
        client.setServerHost(QStringLiteral("mail.example.invalid"));
        client.setServerPort(silent.serverPort());
        client.setTimeLimit(1);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!client.OpenConnection());
        QVERIFY(clock.elapsed() < 10000);
        QCOMPARE(looked, QStringList{"mail.example.invalid"});
        QCOMPARE(client.LastErrorCode(), code);
        QCOMPARE(client.LastErrorString(), text);
        QVERIFY(!client.IsConnected());
    }
};

static TestRegistration<SmtpPartsTest> registration;

#include "SmtpPartsTest.moc"
