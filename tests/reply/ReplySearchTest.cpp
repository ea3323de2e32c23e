#include "TestMain.h"
#include "reply/ReplyBox.h"
#include "reply/ReplyFinder.h"
#include "reply/ReplySearch.h"
#include "reply/ReplyText.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class ReplySearchTest : public QObject
{
    Q_OBJECT

private slots:
    void findsInTheTextAsShown_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("what");
        QTest::addColumn<bool>("matchCase");
        QTest::addColumn<bool>("backward");
        QTest::addColumn<qsizetype>("start");
        // The match's byte range, -1 when none; and whether it took a wrap.
        QTest::addColumn<qsizetype>("from");
        QTest::addColumn<qsizetype>("to");
        QTest::addColumn<bool>("wrapped");
        const QByteArray lines("Alpha beta\r\nalpha BETA\nGamma\ralpha");
        QTest::newRow("forward, any case") << lines << "BETA" << false << false << qsizetype(0) << qsizetype(6) << qsizetype(10) << false;
        QTest::newRow("forward from past the first") << lines << "beta" << false << false << qsizetype(7) << qsizetype(18) << qsizetype(22) << false;
        QTest::newRow("match case skips the other") << lines << "BETA" << true << false << qsizetype(0) << qsizetype(18) << qsizetype(22) << false;
        QTest::newRow("wraps to the top") << lines << "beta" << true << false << qsizetype(11) << qsizetype(6) << qsizetype(10) << true;
        QTest::newRow("backward") << lines << "alpha" << false << true << qsizetype(29) << qsizetype(12) << qsizetype(17) << false;
        QTest::newRow("backward wraps to the end") << lines << "alpha" << true << true << qsizetype(12) << qsizetype(29) << qsizetype(34) << true;
        QTest::newRow("backward from the end") << lines << "a" << false << true << qsizetype(34) << qsizetype(33) << qsizetype(34) << false;
        QTest::newRow("no match") << lines << "delta" << false << false << qsizetype(0) << qsizetype(-1) << qsizetype(-1) << false;
        QTest::newRow("never across a line end") << lines << "beta alpha" << false << false << qsizetype(0) << qsizetype(-1) << qsizetype(-1) << false;
        QTest::newRow("UTF-8 letters, any case") << QByteArray("x Zo\xc3\xab ZO\xc3\x8b") << QString::fromUtf8("zoë") << false << false << qsizetype(0) << qsizetype(2) << qsizetype(6) << false;
        QTest::newRow("UTF-8 letters, match case") << QByteArray("x Zo\xc3\xab ZO\xc3\x8b") << QString::fromUtf8("ZOË") << true << false << qsizetype(0) << qsizetype(7) << qsizetype(11) << false;
        QTest::newRow("ASCII word in UTF-8 text") << QByteArray("Zo\xc3\xab Brandt") << "brandt" << false << false << qsizetype(0) << qsizetype(5) << qsizetype(11) << false;
        QTest::newRow("a character outside the first plane") << QByteArray("a \xf0\x9f\x98\x80 b") << QString::fromUtf8("😀 b") << true << false << qsizetype(0) << qsizetype(2) << qsizetype(8) << false;
        QTest::newRow("control symbols hold no letters") << QByteArray("a\x01" "b \x1b[0m") << "01" << false << false << qsizetype(0) << qsizetype(-1) << qsizetype(-1) << false;
        QTest::newRow("Latin-1 reply") << QByteArray("caf\xe9 CAF\xc9") << QString::fromLatin1("CAF\xc9") << true << false << qsizetype(0) << qsizetype(5) << qsizetype(9) << false;
    }
    void findsInTheTextAsShown()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, what);
        QFETCH(bool, matchCase);
        QFETCH(bool, backward);
        QFETCH(qsizetype, start);
        QFETCH(qsizetype, from);
        QFETCH(qsizetype, to);
        QFETCH(bool, wrapped);
        ReplyText text;
        text.beginReply();
        text.append(reply);
        text.endReply();
        // Slices of one byte cross every boundary a match can straddle.
        for (const qsizetype slice : {ReplySearch::kSliceBytes, qsizetype(1), qsizetype(3)}) {
            ReplySearch search(text, {what, matchCase, backward}, start);
            while (search.step(slice) == ReplySearch::State::Running) {
            }
            const bool found = search.state() == ReplySearch::State::Found;
            QCOMPARE(found ? search.matchFrom() : -1, from);
            QCOMPARE(found ? search.matchTo() : -1, to);
            QCOMPARE(found && search.wrapped(), wrapped);
        }
    }

    void findSelectsTheMatchAndScrollsToIt()
    {
        ReplyBox box;
        box.resize(300, 120);
        QByteArray reply;
        for (int i = 0; i < 500; ++i)
            reply += "line " + QByteArray::number(i) + "\r\n";
        box.setData(reply);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QSignalSpy ended(&box, &ReplyBox::searchEnded);
        box.finder().find({"LINE 321", false, false});
        QCOMPARE(ended.size(), 1);
        QCOMPARE(ended.at(0).at(0).toBool(), true);
        QCOMPARE(box.selectedText(), QString("line 321"));
        QVERIFY(box.firstVisibleLine() <= 321 && 321 < box.firstVisibleLine() + 10);

        box.finder().find({"line 999", false, false});
        QCOMPARE(ended.last().at(0).toBool(), false);
        QCOMPARE(ended.last().at(1).toString(), QString("Cannot find \"line 999\""));
        QCOMPARE(box.selectedText(), QString("line 321"));
    }

    void aLargeSearchLetsEventsRunAndStops()
    {
        // A match at the end of 48 MiB: the window answers between slices, and a stop ends it.
        ReplyBox box;
        QByteArray reply(48 << 20, 'x');
        for (qsizetype i = 79; i < reply.size(); i += 80) {
            reply[i] = '\n';
            reply[i - 1] = '\xe9'; // text to decode, not only bytes to compare
        }
        reply.replace(reply.size() - 20, 6, "needle");
        box.setData(reply);

        int ticks = 0;
        QTimer ticker;
        ticker.setInterval(0);
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start();
        QSignalSpy ended(&box, &ReplyBox::searchEnded);
        QElapsedTimer clock;
        clock.start();
        box.finder().find({"NEEDLE", false, false});
        QVERIFY2(clock.elapsed() < 10 * ReplyFinder::kSliceMs + 100, "the first slice returns to the event loop");
        QVERIFY(box.finder().isSearching() || !ended.isEmpty());
        if (ended.isEmpty())
            QVERIFY(ended.wait(20000));
        QCOMPARE(box.selStart(), reply.size() - 20);
        QCOMPARE(box.selectedText(), QString("needle"));
        QVERIFY2(ticks > 0, "events ran during the search");

        box.setSelection(0, 0);
        box.finder().find({"no such text", false, false});
        if (box.finder().isSearching()) {
            box.stopSearch();
            QVERIFY(!box.finder().isSearching());
            QCOMPARE(ended.last().at(1).toString(), QString());
        }
        QCOMPARE(box.selLength(), 0);
    }
};

static TestRegistration<ReplySearchTest> registration;
#include "ReplySearchTest.moc"
