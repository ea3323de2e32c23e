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
    void lineIndexMatchesAPlainScan_data();
    void lineIndexMatchesAPlainScan();
    void columnsExpandTabs_data();
    void columnsExpandTabs();
    void changesAreSignalled();
    void pastTheLimitOldestLinesGo_data();
    void pastTheLimitOldestLinesGo();
    void replyShowsAsUtf8OnlyWhenItIsUtf8_data();
    void replyShowsAsUtf8OnlyWhenItIsUtf8();
    void replyAfterALargeOneHoldsOnlyItsOwnText_data();
    void replyAfterALargeOneHoldsOnlyItsOwnText();
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

void ReplyTextTest::lineIndexMatchesAPlainScan_data()
{
    QTest::addColumn<QByteArray>("pattern"); // repeated to fill the text
    QTest::addColumn<qsizetype>("blockSize");
    QTest::addColumn<qsizetype>("limit"); // 0: none

    // Texts of 40 000 bytes cross many checkpoints, by lines and by bytes.
    QTest::newRow("bare LF") << QByteArray("\n") << qsizetype(4096) << qsizetype(0);
    QTest::newRow("bare CR, one byte a block") << QByteArray("\r") << qsizetype(1) << qsizetype(0);
    QTest::newRow("CR LF split over blocks") << QByteArray("ab\r\n") << qsizetype(333) << qsizetype(0);
    QTest::newRow("every break kind") << QByteArray("x\r\r\n\n\ryz\n\r\n") << qsizetype(7) << qsizetype(0);
    QTest::newRow("one long line") << QByteArray("abcdefg") << qsizetype(5000) << qsizetype(0);
    QTest::newRow("long lines among short ones") << QByteArray(9000, 'w') + "\r\n\n" + QByteArray(300, 'v') + "\n"
                                                 << qsizetype(1000) << qsizetype(0);
    QTest::newRow("UTF-8 text with tabs") << QByteArray("Gr\xc3\xbc\xc3\x9f" "e\t\xe4\xb8\xad\xe6\x96\x87 caf\xc3\xa9\r\n")
                                          << qsizetype(1001) << qsizetype(0);
    QTest::newRow("bare LF past the limit") << QByteArray("\n") << qsizetype(999) << qsizetype(15000);
    QTest::newRow("80-column lines past the limit") << QByteArray(78, 'q') + "\r\n" << qsizetype(4096)
                                                    << qsizetype(12345);
}

// The oracle: line starts found by a plain scan of the bytes kept.
void ReplyTextTest::lineIndexMatchesAPlainScan()
{
    QFETCH(QByteArray, pattern);
    QFETCH(qsizetype, blockSize);
    QFETCH(qsizetype, limit);

    QByteArray all;
    while (all.size() < 40000)
        all += pattern;
    ReplyText text;
    if (limit > 0)
        text.setLimit(limit);
    text.beginReply();
    for (qsizetype at = 0; at < all.size(); at += blockSize)
        text.append(all.mid(at, blockSize));
    const QByteArray& d = text.data();
    QVERIFY(limit > 0 ? all.endsWith(d) && d.size() <= limit : d == all);

    QList<qsizetype> starts{0};
    for (qsizetype i = 0; i < d.size(); ++i) {
        if (d[i] == '\n' || (d[i] == '\r' && (i + 1 == d.size() || d[i + 1] != '\n')))
            starts.append(i + 1);
    }
    QCOMPARE(text.lineCount(), starts.size());
    // Backwards and forwards, so no remembered lookup answers for another line.
    for (qsizetype line = starts.size() - 1; line >= 0; --line)
        QCOMPARE(text.lineStart(line), starts.at(line));
    for (qsizetype line = 0; line + 1 < starts.size(); ++line) {
        const qsizetype next = starts.at(line + 1);
        const qsizetype end = d.at(next - 1) == '\n' && next - 2 >= starts.at(line) && d.at(next - 2) == '\r' ? next - 2
                                                                                                          : next - 1;
        QCOMPARE(text.lineEnd(line), end);
    }
    for (qsizetype position = d.size(); position >= 0; position -= 1 + position % 13) {
        const qsizetype line = std::upper_bound(starts.begin(), starts.end(), position) - starts.begin() - 1;
        QCOMPARE(text.lineOf(position), line);
    }

    // The same bytes indexed whole have the same columns.
    ReplyText whole;
    whole.beginReply();
    whole.append(d);
    QCOMPARE(text.widestLine(), whole.widestLine());
    for (qsizetype line = 0; line < starts.size(); line += 1 + line % 5)
        QCOMPARE(text.columnOf(text.lineEnd(line)), whole.columnOf(whole.lineEnd(line)));
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
    QTest::newRow("wide characters take two columns") << QByteArray() << Blocks{"\xe4\xb8\xad\xe6\x96\x87x"} << true
                                                      << QString::fromUtf8("中文x") << qsizetype(5) << 3;
    QTest::newRow("a tab after a wide character") << QByteArray() << Blocks{"\xe4\xb8\xad\tx"} << true
                                                  << QString::fromUtf8("中\tx") << qsizetype(9) << 3;
    QTest::newRow("outside the BMP, wide") << QByteArray() << Blocks{"\xf0\x9f\x98\x80!"} << true
                                           << QString::fromUtf8("\xf0\x9f\x98\x80!") << qsizetype(3) << 2;
    QTest::newRow("surrogate code is three bytes") << QByteArray() << Blocks{"\xed\xa0\x80"} << true
                                                   << QString::fromLatin1("\xed\xa0\x80") << qsizetype(3) << 3;
    QTest::newRow("stray bytes among characters") << QByteArray() << Blocks{"Zo\xc3\xab \xff\xc3(\xe2\x82"} << true
                                                  << QString::fromUtf8("Zoë ÿÃ(â\xc2\x82") << qsizetype(9) << 9;
    // A note arriving between the bytes of one character: the character shows
    // whole at its first byte, its rest after the note takes no cell or step.
    QTest::newRow("note inside a character") << QByteArray() << Blocks{"na\xc3", "note:V\r\n", "\xafve"} << true
                                             << QString::fromUtf8("naïV\r\nve") << qsizetype(4) << 7;
    QTest::newRow("note inside a wide character") << QByteArray() << Blocks{"\xe4", "note:N\r\n", "\xb8", "\xad!"}
                                                  << true << QString::fromUtf8("中N\r\n!") << qsizetype(3) << 4;
    QTest::newRow("two notes inside a character")
        << QByteArray() << Blocks{"\xe2", "note:A\n", "\x82", "note:B\n", "\xac"} << true
        << QString::fromUtf8("€A\nB\n") << qsizetype(2) << 5;
    QTest::newRow("a character split by a note turns out not to be one")
        << QByteArray() << Blocks{"\xe4", "note:\r", "\xb8", "\xc3"} << true << QString::fromLatin1("\xe4\r\xb8\xc3")
        << qsizetype(2) << 4;
    QTest::newRow("note before a stray byte") << QByteArray() << Blocks{"ab", "note:N", "\xaf" "c"} << true
                                              << QString::fromLatin1("abN\xaf" "c") << qsizetype(5) << 5;
    QTest::newRow("character waiting past a note") << QByteArray() << Blocks{"x\xc3", "note:N\r\n"} << false
                                                   << QStringLiteral("x\uFFFDN\r\n") << qsizetype(3) << 4;
    QTest::newRow("reply ends while a character waits past a note")
        << QByteArray() << Blocks{"x\xe4\xb8", "note:N\r\n"} << true << QString::fromLatin1("x\xe4\xb8N\r\n")
        << qsizetype(4) << 5;
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
        // "note:" marks a note of the program's own, no part of the reply.
        const bool note = block.startsWith("note:");
        const QByteArray appended = note ? block.mid(5) : block;
        if (note)
            text.appendNote(appended);
        else
            text.append(appended);
        bytes += appended;
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

void ReplyTextTest::replyAfterALargeOneHoldsOnlyItsOwnText_data()
{
    QTest::addColumn<qsizetype>("limit");

    QTest::newRow("the large reply kept whole") << qsizetype(64 << 20);
    QTest::newRow("the large reply lost its oldest lines") << qsizetype(3 << 20);
}

// Clearing keeps a large reply's room for the next reply: nothing of the old
// text or its index may show through, however its oldest lines went.
void ReplyTextTest::replyAfterALargeOneHoldsOnlyItsOwnText()
{
    QFETCH(qsizetype, limit);
    QByteArray block;
    for (int i = 0; block.size() < 4096; ++i)
        block += QByteArray(78, char('a' + i % 26)) + "\r\n";
    QByteArray large;
    for (int i = 0; i < 1024; ++i)
        large += block;

    ReplyText text;
    text.setLimit(limit);
    for (int round = 0; round < 2; ++round) {
        text.clear();
        text.beginReply();
        for (qsizetype at = 0; at < large.size(); at += block.size())
            text.append(block);
        text.endReply();
        QVERIFY(large.endsWith(text.data()));
        QVERIFY(text.length() > std::min(large.size(), limit - limit / 16) - block.size());
        ReplyText whole;
        whole.setData(text.data());
        QCOMPARE(text.lineCount(), whole.lineCount());
        QCOMPARE(text.lineStart(text.lineCount() / 2), whole.lineStart(whole.lineCount() / 2));

        text.clear();
        text.beginReply();
        text.append("short\n");
        text.endReply();
        QCOMPARE(text.data(), QByteArray("short\n"));
        QCOMPARE(text.lineCount(), 2);
        QCOMPARE(text.lineText(0), QByteArray("short"));
        QCOMPARE(text.lineText(1), QByteArray());
        QCOMPARE(text.widestLine(), 5);
    }
}

static TestRegistration<ReplyTextTest> registration;

#include "ReplyTextTest.moc"
