#include "TestMain.h"
#include "reply/LineStarts.h"
#include "reply/ReplyText.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

namespace {
using Blocks = QList<QByteArray>;
} // namespace

class ReplyTextTest : public QObject
{
    Q_OBJECT

private slots:
    void lineIndexFollowsEveryBreakKind_data();
    void lineIndexFollowsEveryBreakKind();
    void crAtBlockEndAndLfAtNextStartAreOneBreak();
    void lineStartsKeepFullPositionsPastEachStep_data();
    void lineStartsKeepFullPositionsPastEachStep();
    void columnsExpandTabs_data();
    void columnsExpandTabs();
    void changesAreSignalled();
    void pastTheLimitOldestLinesGo_data();
    void pastTheLimitOldestLinesGo();
    void replyShowsAsUtf8OnlyWhenItIsUtf8_data();
    void replyShowsAsUtf8OnlyWhenItIsUtf8();
};

void ReplyTextTest::lineIndexFollowsEveryBreakKind_data()
{
    QTest::addColumn<Blocks>("blocks");
    QTest::addColumn<Blocks>("lines");

    QTest::newRow("empty text is one line") << Blocks{} << Blocks{""};
    QTest::newRow("CR LF") << Blocks{"a\r\nb"} << Blocks{"a", "b"};
    QTest::newRow("bare LF") << Blocks{"a\nb"} << Blocks{"a", "b"};
    QTest::newRow("lone CR") << Blocks{"a\rb"} << Blocks{"a", "b"};
    QTest::newRow("CR and LF split over two blocks") << Blocks{"a\r", "\nb"} << Blocks{"a", "b"};
    QTest::newRow("LF then CR are two breaks") << Blocks{"a\n\rb"} << Blocks{"a", "", "b"};
    QTest::newRow("CR then CR LF") << Blocks{"a\r\r\nb"} << Blocks{"a", "", "b"};
    QTest::newRow("LF split after LF") << Blocks{"a\n", "\nb"} << Blocks{"a", "", "b"};
    QTest::newRow("ends in CR LF") << Blocks{"a\r\n"} << Blocks{"a", ""};
    QTest::newRow("ends in lone CR") << Blocks{"a\r"} << Blocks{"a", ""};
    QTest::newRow("only breaks") << Blocks{"\r\n\n\r"} << Blocks{"", "", "", ""};
    QTest::newRow("one byte a block") << Blocks{"x", "\r", "\n", "y", "\r", "\r", "z", "\n", "\r", "\n"}
                                      << Blocks{"x", "y", "", "z", "", ""};
    QTest::newRow("a line spread over blocks") << Blocks{"ab", "cd", "e\r\nf"} << Blocks{"abcde", "f"};
}

void ReplyTextTest::lineIndexFollowsEveryBreakKind()
{
    QFETCH(Blocks, blocks);
    QFETCH(Blocks, lines);

    ReplyText text;
    QByteArray all;
    for (const QByteArray& block : blocks) {
        text.append(block);
        all += block;
    }
    QCOMPARE(text.data(), all);
    Blocks seen;
    for (qsizetype line = 0; line < text.lineCount(); ++line)
        seen.append(text.lineText(line));
    QCOMPARE(seen, lines);

    // The same text given at once is indexed the same way.
    ReplyText whole;
    whole.setData(all);
    QCOMPARE(whole.lineCount(), text.lineCount());
    for (qsizetype line = 0; line < text.lineCount(); ++line)
        QCOMPARE(whole.lineStart(line), text.lineStart(line));
}

void ReplyTextTest::crAtBlockEndAndLfAtNextStartAreOneBreak()
{
    ReplyText text;
    text.append(QByteArray("a\r"));
    QCOMPARE(text.lineCount(), 2);
    QCOMPARE(text.lineText(1), QByteArray());
    text.append(QByteArray("\n"));
    QCOMPARE(text.lineCount(), 2);
    QCOMPARE(text.lineStart(1), 3);
    text.append(QByteArray("b"));
    QCOMPARE(text.lineText(1), QByteArray("b"));
}

void ReplyTextTest::lineStartsKeepFullPositionsPastEachStep_data()
{
    // With 3 low bits the high part steps every 8 positions, as it does every 4 GiB in the view.
    QTest::addColumn<QList<qsizetype>>("starts");
    QTest::newRow("one line") << QList<qsizetype>{0};
    QTest::newRow("dense across steps") << QList<qsizetype>{0, 1, 2, 5, 7, 8, 9, 15, 16, 17, 23, 24};
    QTest::newRow("lines longer than a step") << QList<qsizetype>{0, 3, 30, 31, 64, 65, 200};
    QTest::newRow("first step on a line of its own") << QList<qsizetype>{0, 8, 16, 40};
}

void ReplyTextTest::lineStartsKeepFullPositionsPastEachStep()
{
    QFETCH(QList<qsizetype>, starts);

    auto check = [](const LineStarts& index, const QList<qsizetype>& expected) {
        QCOMPARE(index.size(), expected.size());
        for (qsizetype line = 0; line < expected.size(); ++line)
            QCOMPARE(index.at(line), expected.at(line));
        for (qsizetype position = -2; position <= expected.last() + 20; ++position) {
            const qsizetype line = std::upper_bound(expected.begin(), expected.end(), position) - expected.begin() - 1;
            QCOMPARE(index.lineAt(position), std::max<qsizetype>(line, 0));
        }
    };
    LineStarts index(3);
    index.reset(starts.first());
    for (qsizetype start : starts.mid(1))
        index.push_back(start);
    check(index, starts);
    if (QTest::currentTestFailed())
        return;

    // Moving the last start on, the way a CR LF split over two blocks does, also across a step.
    QList<qsizetype> moved = starts;
    for (qsizetype by : {1, 7, 1}) {
        moved.last() += by;
        index.pop_back();
        index.push_back(moved.last());
        check(index, moved);
        if (QTest::currentTestFailed())
            return;
    }

    // Dropping the first line moves the others back, across the steps too.
    if (starts.size() > 2) {
        LineStarts dropped(3);
        dropped.reset(starts.first());
        for (qsizetype start : starts.mid(1))
            dropped.push_back(start);
        QList<qsizetype> rest = starts.mid(2);
        const qsizetype by = rest.first();
        for (qsizetype& start : rest)
            start -= by;
        dropped.dropFront(2, by);
        check(dropped, rest);
        if (QTest::currentTestFailed())
            return;
    }

    // The program's own split gives the same answers.
    LineStarts full;
    full.reset(starts.first());
    for (qsizetype start : starts.mid(1))
        full.push_back(start);
    check(full, starts);
}

void ReplyTextTest::columnsExpandTabs_data()
{
    QTest::addColumn<Blocks>("blocks");
    QTest::addColumn<qsizetype>("widest");

    QTest::newRow("plain") << Blocks{"abc\r\nde"} << qsizetype(3);
    QTest::newRow("tab at start") << Blocks{"\tx"} << qsizetype(9);
    QTest::newRow("tab after 8") << Blocks{"12345678\tx"} << qsizetype(17);
    QTest::newRow("controls take one column") << Blocks{QByteArray("\0\x01\x1b", 3)} << qsizetype(3);
    QTest::newRow("line grown over blocks") << Blocks{"abc", "def\n", "x"} << qsizetype(6);
    QTest::newRow("tab in a later block") << Blocks{"ab", "\tc"} << qsizetype(9);
    QTest::newRow("widest is not the last") << Blocks{"longest line\nshort"} << qsizetype(12);
}

void ReplyTextTest::columnsExpandTabs()
{
    QFETCH(Blocks, blocks);
    QFETCH(qsizetype, widest);

    ReplyText text;
    for (const QByteArray& block : blocks)
        text.append(block);
    QCOMPARE(text.widestLine(), widest);
    // The end of the widest line sits at that column.
    qsizetype widestEnd = 0;
    for (qsizetype line = 0; line < text.lineCount(); ++line)
        widestEnd = std::max(widestEnd, text.columnOf(text.lineEnd(line)));
    QCOMPARE(widestEnd, widest);
}

void ReplyTextTest::changesAreSignalled()
{
    // The view rescrolls and repaints on these alone.
    ReplyText text;
    QSignalSpy appended(&text, &ReplyText::appended);
    QSignalSpy replaced(&text, &ReplyText::replaced);
    text.append(QByteArray("ab\r"));
    text.append(QByteArray());
    text.append(QByteArray("\ncd"));
    QCOMPARE(appended.count(), 2);
    QCOMPARE(appended.at(0), (QVariantList{qsizetype(0), qsizetype(3)}));
    QCOMPARE(appended.at(1), (QVariantList{qsizetype(3), qsizetype(3)}));
    QCOMPARE(replaced.count(), 0);

    text.setData(QByteArray("x"));
    text.clear();
    QCOMPARE(replaced.count(), 2);
    QCOMPARE(appended.count(), 2);
    QCOMPARE(text.data(), QByteArray());
    QCOMPARE(text.lineCount(), 1);
}

void ReplyTextTest::pastTheLimitOldestLinesGo_data()
{
    QTest::addColumn<Blocks>("blocks"); // appended in turn, over and over
    QTest::addColumn<bool>("wholeLines"); // every cut falls on a line start

    QTest::newRow("visitor lines") << Blocks{"Being fingered by 192.0.2.7\r\n"} << true;
    QTest::newRow("every break kind, tabs, CR LF split over blocks")
        << Blocks{"a\tb\r", "\nlonger\tline\n", "x\ry\r", "\r\n", "\t\t\n"} << true;
    QTest::newRow("blocks larger than the limit") << Blocks{QByteArray(50, 'w') + "\r\n" + QByteArray(150, 'v') + "\n"}
                                                  << true;
    QTest::newRow("one endless line") << Blocks{"abc\tdefgh"} << false;
}

// The oracle: the text kept is the end of everything appended, and its index
// is the one the same text would get given whole.
void ReplyTextTest::pastTheLimitOldestLinesGo()
{
    QFETCH(Blocks, blocks);
    QFETCH(bool, wholeLines);
    constexpr qsizetype kLimit = 160;

    ReplyText text;
    text.setLimit(kLimit);
    QSignalSpy dropped(&text, &ReplyText::dropped);
    QByteArray all;
    qsizetype droppedBytes = 0;
    for (int round = 0; round < 60; ++round) {
        const QByteArray& block = blocks.at(round % blocks.size());
        ReplyText before;
        before.setData(text.data() + block);
        const qsizetype drops = dropped.count();
        text.append(block);
        all += block;
        if (dropped.count() > drops) {
            const qsizetype bytes = dropped.last().at(0).value<qsizetype>();
            const qsizetype lines = dropped.last().at(1).value<qsizetype>();
            QCOMPARE(before.lineOf(bytes), lines);
            if (wholeLines)
                QCOMPARE(before.lineStart(lines), bytes);
            droppedBytes += bytes;
        }
        QVERIFY(text.length() <= kLimit);
        QCOMPARE(text.data(), all.mid(droppedBytes));

        ReplyText whole;
        whole.setData(text.data());
        QCOMPARE(text.lineCount(), whole.lineCount());
        for (qsizetype line = 0; line < text.lineCount(); ++line) {
            QCOMPARE(text.lineStart(line), whole.lineStart(line));
            QCOMPARE(text.columnOf(text.lineEnd(line)), whole.columnOf(whole.lineEnd(line)));
        }
        QCOMPARE(text.widestLine(), whole.widestLine());
    }
    QVERIFY(droppedBytes > 0);
    // A chunk at a time: at most one drop for every sixteenth of the limit appended.
    QVERIFY2(dropped.count() <= all.size() / (kLimit / 16) + 1, qPrintable(QString::number(dropped.count())));
}

void ReplyTextTest::replyShowsAsUtf8OnlyWhenItIsUtf8_data()
{
    QTest::addColumn<QByteArray>("before"); // appended outside any reply
    QTest::addColumn<Blocks>("reply");
    QTest::addColumn<bool>("ended");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<qsizetype>("widest");
    QTest::addColumn<int>("steps"); // caret steps from start to end

    QTest::newRow("UTF-8 with a tab") << QByteArray() << Blocks{"Gr\xc3\xbc\xc3\x9f" "e\tX"} << true
                                      << QString::fromUtf8("Grüße\tX") << qsizetype(9) << 7;
    QTest::newRow("character split across reads") << QByteArray() << Blocks{"\xe2\x82", "\xac 5"} << true
                                                  << QString::fromUtf8("€ 5") << qsizetype(3) << 3;
    QTest::newRow("Latin-1 reply") << QByteArray() << Blocks{"Gr\xfc\xdf" "e"} << true
                                   << QString::fromLatin1("Gr\xfc\xdf" "e") << qsizetype(5) << 5;
    QTest::newRow("a stray byte costs one character, not the reply")
        << QByteArray() << Blocks{"\xc3\xa9t\xc3\xa9\n", "caf\xe9"} << true
        << QString::fromUtf8("\xc3\xa9t\xc3\xa9\ncaf\xc3\xa9") << qsizetype(4) << 8;
    QTest::newRow("overlong form is no UTF-8") << QByteArray() << Blocks{"\xc0\xafx"} << true
                                               << QString::fromLatin1("\xc0\xafx") << qsizetype(3) << 3;
    QTest::newRow("sequence cut off at the end") << QByteArray() << Blocks{"ab\xc3"} << true
                                                 << QString::fromLatin1("ab\xc3") << qsizetype(3) << 3;
    QTest::newRow("open reply waits for the rest of a sequence")
        << QByteArray() << Blocks{"ab\xc3"} << false << QStringLiteral("ab\uFFFD") << qsizetype(3) << 3;
    QTest::newRow("text before the reply stays one byte a character")
        << QByteArray("\xc3\xa9\r\n") << Blocks{"\xc3\xa9"} << true << QString::fromUtf8("Ã©\r\né")
        << qsizetype(2) << 4;
}

void ReplyTextTest::replyShowsAsUtf8OnlyWhenItIsUtf8()
{
    QFETCH(QByteArray, before);
    QFETCH(Blocks, reply);
    QFETCH(bool, ended);
    QFETCH(QString, shown);
    QFETCH(qsizetype, widest);
    QFETCH(int, steps);

    ReplyText text;
    text.append(before);
    text.beginReply();
    QByteArray bytes = before;
    for (const QByteArray& block : reply) {
        text.append(block);
        bytes += block;
    }
    if (ended) {
        text.endReply();
        text.append(QByteArray("\r\n"));
        bytes += "\r\n";
        shown += QStringLiteral("\r\n");
    }

    QCOMPARE(text.data(), bytes);
    QCOMPARE(text.text(), shown);
    QCOMPARE(text.widestLine(), widest);
    int walked = 0;
    for (qsizetype p = 0; p < text.length(); p = text.nextPosition(p))
        ++walked;
    QCOMPARE(walked, steps + (ended ? 1 : 0));
    // Each line ends at the column its characters fill.
    qsizetype widestEnd = 0;
    for (qsizetype line = 0; line < text.lineCount(); ++line)
        widestEnd = std::max(widestEnd, text.columnOf(text.lineEnd(line)));
    QCOMPARE(widestEnd, widest);
}

static TestRegistration<ReplyTextTest> registration;

#include "ReplyTextTest.moc"
