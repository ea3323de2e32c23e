#include "TestMain.h"
#include "reply/ReplyLinks.h"
#include "reply/ReplyText.h"

#include <QElapsedTimer>
#include <QTest>

using ReplyLinks::Link;

class ReplyLinksTest : public QObject
{
    Q_OBJECT

private slots:
    void findsLinksInALine_data()
    {
        QTest::addColumn<QString>("line");
        // Each link as its text in the line, then its target.
        QTest::addColumn<QStringList>("expected");
        const auto both = [](const QString& link) { return QStringList{link, link}; };
        QTest::newRow("plain text") << "Plan: read the mail, then lunch." << QStringList{};
        QTest::newRow("web") << "Home page: https://example.org/~joe/" << both("https://example.org/~joe/");
        QTest::newRow("every scheme")
            << "http://a.example gopher://b.example gemini://c.example ftp://d.example finger://e.example/joe mailto:f@example.org"
            << QStringList{"http://a.example", "http://a.example", "gopher://b.example", "gopher://b.example",
                           "gemini://c.example", "gemini://c.example", "ftp://d.example", "ftp://d.example",
                           "finger://e.example/joe", "finger://e.example/joe", "mailto:f@example.org", "mailto:f@example.org"};
        QTest::newRow("bare www is http") << "see www.example.org." << QStringList{"www.example.org", "http://www.example.org"};
        QTest::newRow("scheme written in capitals") << "HTTPS://EXAMPLE.ORG/A" << QStringList{"HTTPS://EXAMPLE.ORG/A", "https://EXAMPLE.ORG/A"};
        QTest::newRow("sentence punctuation stays out")
            << "Try http://x.example/a, http://x.example/b; http://x.example/c! Or 'http://x.example/d'?"
            << QStringList{"http://x.example/a", "http://x.example/a", "http://x.example/b", "http://x.example/b",
                           "http://x.example/c", "http://x.example/c", "http://x.example/d", "http://x.example/d"};
        QTest::newRow("several marks at the end") << "(at http://x.example/q?)..." << both("http://x.example/q");
        QTest::newRow("closing bracket outside") << "(see http://x.example/wiki)" << both("http://x.example/wiki");
        QTest::newRow("bracket the link holds") << "(see http://x.example/Foo_(bar))." << both("http://x.example/Foo_(bar)");
        QTest::newRow("query inside stays") << "http://x.example/?a=1&b=2;c" << both("http://x.example/?a=1&b=2;c");
        QTest::newRow("ends at angle brackets and quotes")
            << "<http://x.example/a>\"http://x.example/b\"" << QStringList{"http://x.example/a", "http://x.example/a",
                                                                          "http://x.example/b", "http://x.example/b"};
        QTest::newRow("ends at a control character") << QString("http://x.example/a\x01rest") << both("http://x.example/a");
        QTest::newRow("ends at a tab") << "http://x.example/a\tb" << both("http://x.example/a");
        QTest::newRow("non-ASCII address") << QString::fromUtf8("Zoë: https://zoë.example/ok") << both(QString::fromUtf8("https://zoë.example/ok"));
        QTest::newRow("scheme alone") << "http:// and www. and mailto:" << QStringList{};
        QTest::newRow("only punctuation after it") << "http://..." << QStringList{};
        QTest::newRow("inside a word") << "xhttp://x.example nowww.example.org" << QStringList{};
        QTest::newRow("www inside an address") << "joe@www.example.org" << QStringList{};
        QTest::newRow("other schemes stay text")
            << "file:///etc/passwd javascript:alert(1) data:text/html,x news:x irc://x.example" << QStringList{};
    }
    void findsLinksInALine()
    {
        QFETCH(QString, line);
        QFETCH(QStringList, expected);
        QStringList found;
        for (const Link& link : ReplyLinks::find(line))
            found << line.mid(link.from, link.to - link.from) << link.target;
        QCOMPARE(found, expected);
    }

    void onlyItsOwnSchemesOpen_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("kind");
        QTest::newRow("finger") << "finger://host/joe" << int(ReplyLinks::Kind::Finger);
        QTest::newRow("finger in capitals") << "FINGER://host" << int(ReplyLinks::Kind::Finger);
        QTest::newRow("web") << "https://example.org" << int(ReplyLinks::Kind::Document);
        QTest::newRow("mail") << "mailto:joe@example.org" << int(ReplyLinks::Kind::Document);
        QTest::newRow("file") << "file:///etc/passwd" << int(ReplyLinks::Kind::None);
        QTest::newRow("script") << "javascript:alert(1)" << int(ReplyLinks::Kind::None);
        QTest::newRow("data") << "data:text/html,x" << int(ReplyLinks::Kind::None);
        QTest::newRow("scheme alone") << "http://" << int(ReplyLinks::Kind::None);
    }
    void onlyItsOwnSchemesOpen()
    {
        QFETCH(QString, target);
        QFETCH(int, kind);
        QCOMPARE(int(ReplyLinks::kindOf(target)), kind);
    }

    void linksInTheTextAreByteRanges()
    {
        ReplyText text;
        text.append("start-up line\r\n");
        text.beginReply();
        text.append(QByteArray("Zo\xc3\xab Brandt <mailto:zoe@example.org>\r\nweb: www.example.org/z\xc3\xab."));
        text.endReply();
        const QByteArray& data = text.data();
        const std::vector<Link> first = ReplyLinks::inLine(text, 1, text.lineStart(1), text.lineEnd(1));
        QCOMPARE(first.size(), size_t(1));
        QCOMPARE(data.mid(first[0].from, first[0].to - first[0].from), QByteArray("mailto:zoe@example.org"));
        const Link second = ReplyLinks::at(text, text.lineStart(2) + 6);
        QCOMPARE(data.mid(second.from, second.to - second.from), QByteArray("www.example.org/z\xc3\xab"));
        QCOMPARE(second.target, QString::fromUtf8("http://www.example.org/zë"));
        QVERIFY(ReplyLinks::at(text, text.lineStart(2) + 1).target.isEmpty());
    }

    void aHugeLineIsSearchedAroundThePartAsked()
    {
        // 32 MiB without a break, one link deep inside: found where the view is, and cheaply.
        ReplyText text;
        QByteArray line(32 << 20, 'x');
        const QByteArray link("http://deep.example/x");
        const qsizetype at = 20 << 20;
        line.replace(at - 1, 1, " ").replace(at, link.size(), link).replace(at + link.size(), 1, " ");
        text.append(line);
        QElapsedTimer clock;
        clock.start();
        const std::vector<Link> links = ReplyLinks::inLine(text, 0, at - 100, at + 100);
        QVERIFY2(clock.elapsed() < 200, "only the part in view is read");
        QCOMPARE(links.size(), size_t(1));
        QCOMPARE(links[0].from, at);
        QCOMPARE(links[0].target, QString::fromLatin1(link));
        QVERIFY(ReplyLinks::inLine(text, 0, 1000, 1100).empty());
    }
};

static TestRegistration<ReplyLinksTest> registration;
#include "ReplyLinksTest.moc"
