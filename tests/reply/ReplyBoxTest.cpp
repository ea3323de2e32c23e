#include "TestMain.h"
#include "reply/ReplyBox.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <limits>

namespace {
// Cells the view has drawn something in, scanned over the given columns of one line.
QList<qsizetype> inkedColumns(ReplyBox& box, qsizetype line, qsizetype from, qsizetype to)
{
    box.viewport()->repaint();
    const QImage image = box.viewport()->grab().toImage();
    const QRgb base = box.palette().color(QPalette::Base).rgb();
    QList<qsizetype> inked;
    for (qsizetype column = from; column < to; ++column) {
        const QPointF corner = box.cellPosition(line, column);
        const QRect cell = QRectF(corner, QSizeF(box.charWidth(), box.lineHeight())).toAlignedRect()
                               .adjusted(1, 0, -1, 0); // neighbours' antialiasing stays out
        bool ink = false;
        for (int y = cell.top(); y <= cell.bottom() && !ink; ++y)
            for (int x = cell.left(); x <= cell.right() && !ink; ++x)
                ink = image.rect().contains(x, y) && image.pixel(x, y) != base;
        if (ink)
            inked.append(column);
    }
    return inked;
}

// A point in the left quarter of a character cell: the caret lands before it.
QPoint pointAt(const ReplyBox& box, qsizetype line, qsizetype column)
{
    return (box.cellPosition(line, column) + QPointF(box.charWidth() / 4, box.lineHeight() / 2.0)).toPoint();
}
} // namespace

class ReplyBoxTest : public QObject
{
    Q_OBJECT

private slots:
    void keepsEveryByte();
    void columnsInLongLinesWithTabs();
    void setSelectionClampsAndSignals_data();
    void setSelectionClampsAndSignals();
    void selectAllAndClear();
    void droppedLinesTakeSelectionAndViewAlong_data();
    void droppedLinesTakeSelectionAndViewAlong();
    void noteMovesTheViewOnlyAtTheEnd_data();
    void noteMovesTheViewOnlyAtTheEnd();
    void accessibleTextAndCellsFollowCharacters_data();
    void accessibleTextAndCellsFollowCharacters();
    void emptyAndClearedTextStayUsable();
    void keysMoveAndExtendTheCaret_data();
    void keysMoveAndExtendTheCaret();
    void typingNeverEditsAndCopyKeysPassOn();
    void mouseSelects();
    void paintsTabsAndControlsInTheirCells_data();
    void paintsTabsAndControlsInTheirCells();
    void hugeLineStaysFast_data();
    void hugeLineStaysFast();
};

void ReplyBoxTest::keepsEveryByte()
{
    ReplyBox box;
    const QByteArray bytes("nul\0cr\rff\xff" "crlf\r\nlf\n\x1b[2J\x7f\x80", 26);
    box.append(bytes.left(10));
    box.append(bytes.mid(10));
    QCOMPARE(box.data(), bytes);
    QCOMPARE(box.length(), bytes.size());
    QCOMPARE(box.text().at(3), QChar(0));
    QCOMPARE(box.text().at(9), QChar(0xFF));

    box.selectAll();
    QCOMPARE(box.selectedText(), QString::fromLatin1(bytes));

    // Text set as a string keeps its Latin-1 characters byte for byte too.
    box.setText(QString::fromLatin1(bytes));
    QCOMPARE(box.data(), bytes);
}

void ReplyBoxTest::columnsInLongLinesWithTabs()
{
    // Tabs scattered through a line far longer than the view, arriving in odd blocks.
    QByteArray line;
    for (int i = 0; i < 20000; ++i)
        line += (i % 97 == 5 || i % 1013 == 0) ? '\t' : char('a' + i % 26);
    ReplyBox box;
    box.append(QByteArray("first\r\n"));
    for (qsizetype at = 0; at < line.size(); at += 777)
        box.append(line.mid(at, 777));
    box.append(QByteArray("\r\nlast"));

    QList<qsizetype> columnOfByte;
    qsizetype column = 0;
    for (char c : line) {
        columnOfByte.append(column);
        column = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
    }
    const qsizetype start = box.lineStart(1);
    for (qsizetype i = 0; i < line.size(); i += 37)
        QCOMPARE(box.columnOf(start + i), columnOfByte.at(i));
    QCOMPARE(box.columnOf(box.lineEnd(1)), column);
    QCOMPARE(box.widestLine(), column);

    // A click far to the right lands on the character drawn there.
    box.resize(400, 200);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    for (qsizetype i : {qsizetype(4200), qsizetype(12345), qsizetype(19990)}) {
        box.setSelection(start + i, 0);
        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, pointAt(box, 1, columnOfByte.at(i)));
        QCOMPARE(box.caretPosition(), start + i);
    }
}

void ReplyBoxTest::setSelectionClampsAndSignals_data()
{
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<qsizetype>("selStart");
    QTest::addColumn<qsizetype>("selLength");
    QTest::addColumn<QString>("selected");

    // The text is "one\r\ntwo".
    QTest::newRow("inside") << qsizetype(1) << qsizetype(2) << qsizetype(1) << qsizetype(2) << "ne";
    QTest::newRow("across the break") << qsizetype(2) << qsizetype(4) << qsizetype(2) << qsizetype(4)
                                      << "e\r\nt";
    QTest::newRow("length past the end") << qsizetype(6) << qsizetype(50) << qsizetype(6) << qsizetype(2)
                                         << "wo";
    QTest::newRow("start past the end") << qsizetype(99) << qsizetype(3) << qsizetype(8) << qsizetype(0) << "";
    QTest::newRow("negative start") << qsizetype(-4) << qsizetype(2) << qsizetype(0) << qsizetype(2) << "on";
    QTest::newRow("negative length") << qsizetype(5) << qsizetype(-3) << qsizetype(2) << qsizetype(3)
                                     << "e\r\n";
    constexpr qsizetype most = std::numeric_limits<qsizetype>::max();
    constexpr qsizetype least = std::numeric_limits<qsizetype>::min();
    QTest::newRow("largest length") << qsizetype(2) << most << qsizetype(2) << qsizetype(6) << "e\r\ntwo";
    QTest::newRow("smallest length") << qsizetype(6) << least << qsizetype(0) << qsizetype(6) << "one\r\nt";
    QTest::newRow("largest start") << most << most << qsizetype(8) << qsizetype(0) << "";
}

void ReplyBoxTest::setSelectionClampsAndSignals()
{
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, length);
    QFETCH(qsizetype, selStart);
    QFETCH(qsizetype, selLength);
    QFETCH(QString, selected);

    ReplyBox box;
    box.append(QByteArray("one\r\ntwo"));
    QSignalSpy changed(&box, &ReplyBox::selectionChanged);
    box.setSelection(start, length);
    QCOMPARE(box.selStart(), selStart);
    QCOMPARE(box.selLength(), selLength);
    QCOMPARE(box.selectedText(), selected);
    QCOMPARE(changed.count(), 1);
    box.setSelection(start, length);
    QCOMPARE(changed.count(), 1);
}

void ReplyBoxTest::selectAllAndClear()
{
    ReplyBox box;
    box.append(QByteArray("abc\r\n"));
    box.selectAll();
    QCOMPARE(box.selStart(), 0);
    QCOMPARE(box.selLength(), 5);

    // Appending keeps the selection where it was.
    box.append(QByteArray("def"));
    QCOMPARE(box.selectedText(), QStringLiteral("abc\r\n"));

    QSignalSpy changed(&box, &ReplyBox::selectionChanged);
    box.clear();
    QCOMPARE(box.length(), 0);
    QCOMPARE(box.lineCount(), 1);
    QCOMPARE(box.widestLine(), 0);
    QCOMPARE(box.selStart(), 0);
    QCOMPARE(box.selLength(), 0);
    QCOMPARE(changed.count(), 1);

    box.setText(QStringLiteral("x\ny"));
    QCOMPARE(box.lineCount(), 2);
    box.selectAll();
    QCOMPARE(box.selectedText(), QStringLiteral("x\ny"));
}

void ReplyBoxTest::droppedLinesTakeSelectionAndViewAlong_data()
{
    QTest::addColumn<qsizetype>("start");
    QTest::addColumn<qsizetype>("length");
    QTest::addColumn<int>("top");
    QTest::addColumn<QString>("selected"); // afterwards
    QTest::addColumn<QString>("topLine"); // afterwards

    // Lines of 10 bytes; the append past the limit drops the first 4.
    QTest::newRow("both on kept lines") << qsizetype(250) << qsizetype(8) << 8 << "line 025" << "line 008";
    QTest::newRow("partly dropped") << qsizetype(30) << qsizetype(30) << 2 << "line 004\r\nline 005\r\n"
                                    << "line 004";
    QTest::newRow("wholly dropped") << qsizetype(30) << qsizetype(-20) << 0 << "" << "line 004";
}

void ReplyBoxTest::droppedLinesTakeSelectionAndViewAlong()
{
    QFETCH(qsizetype, start);
    QFETCH(qsizetype, length);
    QFETCH(int, top);
    QFETCH(QString, selected);
    QFETCH(QString, topLine);

    ReplyBox box;
    box.resize(400, 200);
    box.setLimit(400);
    auto lines = [&box](int from, int to) {
        for (int n = from; n < to; ++n)
            box.append(QStringLiteral("line %1\r\n").arg(n, 3, 10, QLatin1Char('0')));
    };
    lines(0, 38);
    box.setSelection(start, length);
    box.verticalScrollBar()->setValue(top);
    lines(38, 43);
    QCOMPARE(box.lineText(0), QByteArray("line 004"));
    QCOMPARE(box.selectedText(), selected);
    QCOMPARE(box.lineText(box.firstVisibleLine()), topLine.toLatin1());
}

void ReplyBoxTest::noteMovesTheViewOnlyAtTheEnd_data()
{
    QTest::addColumn<int>("lines"); // of the text before the note
    QTest::addColumn<int>("top"); // -1: the end
    QTest::addColumn<qsizetype>("selectFrom");
    QTest::addColumn<qsizetype>("selectLength");
    QTest::addColumn<bool>("follows");

    QTest::newRow("reading above the end") << 200 << 31 << qsizetype(400) << qsizetype(0) << false;
    QTest::newRow("a selection above the end") << 200 << 31 << qsizetype(310) << qsizetype(25) << false;
    QTest::newRow("a selection held at the end") << 200 << -1 << qsizetype(1990) << qsizetype(-5) << false;
    QTest::newRow("at the end") << 200 << -1 << qsizetype(1000) << qsizetype(0) << true;
    QTest::newRow("a text that fits") << 3 << 0 << qsizetype(4) << qsizetype(0) << true;
}

void ReplyBoxTest::noteMovesTheViewOnlyAtTheEnd()
{
    QFETCH(int, lines);
    QFETCH(int, top);
    QFETCH(qsizetype, selectFrom);
    QFETCH(qsizetype, selectLength);
    QFETCH(bool, follows);

    ReplyBox box;
    box.resize(400, 200);
    for (int n = 0; n < lines; ++n)
        box.append(QStringLiteral("line %1\r\n").arg(n, 3, 10, QLatin1Char('0')));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.setSelection(selectFrom, selectLength);
    QScrollBar* vertical = box.verticalScrollBar();
    vertical->setValue(top < 0 ? vertical->maximum() : top);
    const int shown = vertical->value();
    const qsizetype anchor = box.anchorPosition();
    const qsizetype caret = box.caretPosition();
    const QByteArray before = box.data();

    const QString note = QStringLiteral("Being fingered by 192.0.2.7\r\n");
    box.appendNote(note, ReplyBox::Follow::IfAtEnd);
    QCOMPARE(box.data(), before + note.toLatin1());
    if (follows) {
        QCOMPARE(box.caretPosition(), box.length());
        QCOMPARE(box.selLength(), 0);
        QCOMPARE(vertical->value(), vertical->maximum());
    } else {
        QCOMPARE(vertical->value(), shown);
        QCOMPARE(box.anchorPosition(), anchor);
        QCOMPARE(box.caretPosition(), caret);
    }
}

void ReplyBoxTest::accessibleTextAndCellsFollowCharacters_data()
{
    QTest::addColumn<QList<QByteArray>>("blocks"); // of one reply; "note:" marks a note
    QTest::addColumn<QString>("spoken");
    QTest::addColumn<QList<int>>("cells"); // each character's cells, from its first byte

    QTest::newRow("a stray byte among characters") << QList<QByteArray>{"\xc3\xab\xff!"}
                                                   << QString::fromUtf16(u"\u00eb\u200d\u00ff!") << QList<int>{1, 1, 1};
    QTest::newRow("wide characters") << QList<QByteArray>{"\xe4\xb8\xadx\xf0\x9f\x98\x80"}
                                     << QString::fromUtf16(u"\u4e2d\u200d\u200dx\U0001F600\u200d\u200d")
                                     << QList<int>{2, 1, 2};
    QTest::newRow("a note inside a character") << QList<QByteArray>{"\xc3", "note:N\n", "\xaf"}
                                               << QString::fromUtf16(u"\u00efN\n\u200d") << QList<int>{1, 1};
}

void ReplyBoxTest::accessibleTextAndCellsFollowCharacters()
{
    QFETCH(QList<QByteArray>, blocks);
    QFETCH(QString, spoken);
    QFETCH(QList<int>, cells);

    ReplyBox box;
    box.resize(400, 200);
    box.beginReply();
    for (const QByteArray& block : blocks) {
        if (block.startsWith("note:"))
            box.appendNote(QString::fromLatin1(block.mid(5)));
        else
            box.append(block);
    }
    box.endReply();
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(&box);
    QVERIFY(iface && iface->textInterface());
    QCOMPARE(iface->textInterface()->text(0, -1), spoken);
    QList<int> seen;
    for (qsizetype p = 0; p < box.length() && box.data().at(p) != '\n'; p = box.model().nextPosition(p))
        seen.append(qRound(iface->textInterface()->characterRect(int(p)).width() / box.charWidth()));
    QCOMPARE(seen, cells);
}

void ReplyBoxTest::emptyAndClearedTextStayUsable()
{
    ReplyBox box;
    box.resize(400, 200);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    // Both bars show even with nothing to scroll.
    QVERIFY(box.horizontalScrollBar()->isVisible());
    QVERIFY(box.verticalScrollBar()->isVisible());

    QWidget* view = box.viewport();
    auto useEverything = [&] {
        box.setFocus();
        view->repaint();
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_End, Qt::Key_Up, Qt::Key_PageUp, Qt::Key_Home,
                            Qt::Key_Left, Qt::Key_Right}) {
            QTest::keyClick(&box, key, Qt::ShiftModifier);
            QTest::keyClick(&box, key, Qt::ControlModifier);
        }
        QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(view->width() - 1, view->height() - 1));
        QTest::mouseDClick(view, Qt::LeftButton, {}, QPoint(view->width() - 1, view->height() - 1));
        QTest::mousePress(view, Qt::LeftButton, {}, QPoint(-50, -50));
        QTest::mouseMove(view, QPoint(5000, 5000));
        QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(5000, 5000));
        view->repaint();
    };
    useEverything();
    QCOMPARE(box.caretPosition(), 0);
    QCOMPARE(box.selLength(), 0);

    // Cleared while scrolled far down and right with a selection at the end.
    QByteArray text;
    for (int i = 0; i < 2000; ++i)
        text += QByteArray(300, char('a' + i % 26)) + "\r\n";
    box.append(text);
    box.setSelection(box.length(), -500);
    QVERIFY(box.verticalScrollBar()->value() > 0);
    QVERIFY(box.horizontalScrollBar()->value() > 0);
    box.clear();
    QCOMPARE(box.verticalScrollBar()->value(), 0);
    QCOMPARE(box.horizontalScrollBar()->value(), 0);
    QCOMPARE(box.verticalScrollBar()->maximum(), 0);
    QCOMPARE(box.anchorPosition(), 0);
    QCOMPARE(box.caretPosition(), 0);
    QCOMPARE(box.selectedText(), QString());
    useEverything();
    QCOMPARE(box.caretPosition(), 0);
    QCOMPARE(box.data(), QByteArray());
}

void ReplyBoxTest::keysMoveAndExtendTheCaret_data()
{
    QTest::addColumn<qsizetype>("caret");
    QTest::addColumn<QList<int>>("keys"); // key | modifiers
    QTest::addColumn<qsizetype>("anchor");
    QTest::addColumn<qsizetype>("newCaret");

    // The text: "alpha\r\nbe\tta\rgamma\n" (lines start at 0, 7, 13; end at 5, 12, 18).
    const int shift = int(Qt::ShiftModifier);
    const int control = int(Qt::ControlModifier);
    QTest::newRow("shift right thrice") << qsizetype(0) << QList<int>{Qt::Key_Right | shift, Qt::Key_Right | shift,
                                                                       Qt::Key_Right | shift}
                                        << qsizetype(0) << qsizetype(3);
    QTest::newRow("right steps over CR LF") << qsizetype(5) << QList<int>{Qt::Key_Right} << qsizetype(7)
                                            << qsizetype(7);
    QTest::newRow("shift left over CR LF") << qsizetype(7) << QList<int>{Qt::Key_Left | shift} << qsizetype(7)
                                           << qsizetype(5);
    QTest::newRow("shift end") << qsizetype(1) << QList<int>{Qt::Key_End | shift} << qsizetype(1) << qsizetype(5);
    // Column 3 of "alpha" falls inside the tab of "be<tab>ta": nearer its start.
    QTest::newRow("shift down into a tab") << qsizetype(3) << QList<int>{Qt::Key_Down | shift} << qsizetype(3)
                                           << qsizetype(9);
    QTest::newRow("down keeps the column") << qsizetype(4) << QList<int>{Qt::Key_Down, Qt::Key_Down}
                                           << qsizetype(17) << qsizetype(17);
    QTest::newRow("goal column survives a tab") << qsizetype(13 + 5) << QList<int>{Qt::Key_Up, Qt::Key_Up}
                                            << qsizetype(5) << qsizetype(5);
    QTest::newRow("up on the first line") << qsizetype(2) << QList<int>{Qt::Key_Up} << qsizetype(2)
                                          << qsizetype(2);
    QTest::newRow("ctrl shift end") << qsizetype(2) << QList<int>{Qt::Key_End | shift | control} << qsizetype(2)
                                    << qsizetype(19);
    QTest::newRow("moving without shift drops the selection")
        << qsizetype(0) << QList<int>{Qt::Key_Right | shift, Qt::Key_Right} << qsizetype(2) << qsizetype(2);
    QTest::newRow("shift page down") << qsizetype(0) << QList<int>{Qt::Key_PageDown | shift} << qsizetype(0)
                                     << qsizetype(19);
    QTest::newRow("page up") << qsizetype(19) << QList<int>{Qt::Key_PageUp} << qsizetype(0) << qsizetype(0);
}

void ReplyBoxTest::keysMoveAndExtendTheCaret()
{
    QFETCH(qsizetype, caret);
    QFETCH(QList<int>, keys);
    QFETCH(qsizetype, anchor);
    QFETCH(qsizetype, newCaret);

    ReplyBox box;
    box.resize(400, 200);
    box.append(QByteArray("alpha\r\nbe\tta\rgamma\n"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.setSelection(caret, 0);
    for (int key : keys)
        QTest::keyClick(&box, Qt::Key(key & ~Qt::KeyboardModifierMask),
                        Qt::KeyboardModifiers(key & Qt::KeyboardModifierMask));
    QCOMPARE(box.anchorPosition(), anchor);
    QCOMPARE(box.caretPosition(), newCaret);
    QCOMPARE(box.selStart(), std::min(anchor, newCaret));
    QCOMPARE(box.selLength(), std::abs(newCaret - anchor));
}

void ReplyBoxTest::typingNeverEditsAndCopyKeysPassOn()
{
    ReplyBox box;
    const QByteArray text("keep\r\nme");
    box.append(text);
    box.setSelection(1, 2);
    QTest::keyClicks(&box, QStringLiteral("typed"));
    for (Qt::Key key : {Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Return, Qt::Key_Tab, Qt::Key_Space})
        QTest::keyClick(&box, key);
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(&box, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(box.data(), text);

    // The window's Copy and Select All shortcuts must see these keys.
    for (Qt::Key key : {Qt::Key_C, Qt::Key_A}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier);
        QApplication::sendEvent(&box, &press);
        QVERIFY(!press.isAccepted());
    }
    QCOMPARE(box.selStart(), 1);
    QCOMPARE(box.selLength(), 2);
}

void ReplyBoxTest::mouseSelects()
{
    ReplyBox box;
    box.resize(400, 200);
    box.append(QByteArray("first line\r\nsecond words here\nx"));
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QWidget* view = box.viewport();
    const qsizetype second = box.lineStart(1);

    QTest::mouseClick(view, Qt::LeftButton, {}, pointAt(box, 1, 3));
    QCOMPARE(box.caretPosition(), second + 3);
    QCOMPARE(box.selLength(), 0);
    QVERIFY(box.hasFocus());
    // The right part of a character puts the caret after it.
    const QPointF rightPart = box.cellPosition(1, 3) + QPointF(box.charWidth() * 0.8, box.lineHeight() / 2.0);
    QTest::mouseClick(view, Qt::LeftButton, {}, rightPart.toPoint());
    QCOMPARE(box.caretPosition(), second + 4);

    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, pointAt(box, 0, 6));
    QCOMPARE(box.selStart(), 6);
    QCOMPARE(box.selectedText(), QStringLiteral("line\r\nseco"));

    // Dragging from a character past the end of a line selects to that line end.
    QTest::mousePress(view, Qt::LeftButton, {}, pointAt(box, 0, 1));
    QTest::mouseMove(view, pointAt(box, 1, 2));
    QTest::mouseMove(view, pointAt(box, 0, 40));
    QTest::mouseRelease(view, Qt::LeftButton, {}, pointAt(box, 0, 40));
    QCOMPARE(box.selectedText(), QStringLiteral("irst line"));

    // A click below the last line goes to that line.
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint(5, view->height() - 2));
    QCOMPARE(box.caretPosition(), box.lineStart(2));

    QTest::mouseDClick(view, Qt::LeftButton, {}, pointAt(box, 1, 9));
    QCOMPARE(box.selectedText(), QStringLiteral("words"));
}

void ReplyBoxTest::paintsTabsAndControlsInTheirCells_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qsizetype>("scrollTo");
    QTest::addColumn<QList<qsizetype>>("inked");
    QTest::addColumn<bool>("reply"); // its UTF-8 sequences are characters

    QTest::newRow("tab to column 8") << QByteArray("A\tB C") << qsizetype(0) << QList<qsizetype>{0, 8, 10} << false;
    QTest::newRow("tab after 8") << QByteArray("12345678\tZ") << qsizetype(0)
                                 << QList<qsizetype>{0, 1, 2, 3, 4, 5, 6, 7, 16} << false;
    QTest::newRow("controls are visible") << QByteArray("\0 \x01 \x1b \x7f \x85", 9) << qsizetype(0)
                                          << QList<qsizetype>{0, 2, 4, 6, 8} << false;
    QTest::newRow("latin-1 and soft hyphen") << QByteArray("\xe9 \xff \xad") << qsizetype(0)
                                             << QList<qsizetype>{0, 2, 4} << false;
    QTest::newRow("line ends draw nothing") << QByteArray("a\r\nb") << qsizetype(0) << QList<qsizetype>{0} << false;
    QTest::newRow("scrolled far right") << QByteArray(5000, ' ') + "X Y" + QByteArray(40, ' ')
                                        << qsizetype(4990) << QList<qsizetype>{5000, 5002} << false;
    QTest::newRow("scrolled far right after a tab") << "\t" + QByteArray(5000, ' ') + "X Y" + QByteArray(40, ' ')
                                                    << qsizetype(4995)
                                                    << QList<qsizetype>{5008, 5010} << false;
    // Scrolled past the wide character, which fonts without it draw as they like.
    QTest::newRow("a wide character takes two cells") << QByteArray("\xe4\xb8\xadX \xc3\xa9 Y") + QByteArray(60, ' ')
                                                      << qsizetype(2) << QList<qsizetype>{2, 4, 6} << true;
    QTest::newRow("a stray byte is one cell") << QByteArray("\xff\xc3\xa9 Z") << qsizetype(0) << QList<qsizetype>{0, 1, 3}
                                              << true;
}

void ReplyBoxTest::paintsTabsAndControlsInTheirCells()
{
    QFETCH(QByteArray, text);
    QFETCH(qsizetype, scrollTo);
    QFETCH(QList<qsizetype>, inked);
    QFETCH(bool, reply);

    ReplyBox box;
    box.resize(400, 200);
    if (reply)
        box.beginReply();
    box.append(text);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    box.horizontalScrollBar()->setValue(int(scrollTo));
    QCOMPARE(box.firstVisibleColumn(), scrollTo);
    QCOMPARE(inkedColumns(box, 0, scrollTo, scrollTo + 20), inked);
}

void ReplyBoxTest::hugeLineStaysFast_data()
{
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("letters") << QByteArray(4 << 20, 'x');
    QByteArray tabbed(4 << 20, 'y');
    tabbed[0] = '\t';
    QTest::newRow("with a tab") << tabbed;
    QTest::newRow("control characters") << QByteArray(4 << 20, '\x01');
}

void ReplyBoxTest::hugeLineStaysFast()
{
    QFETCH(QByteArray, line);

    // A guard against the view laying out a whole line; the figures are in bench_replybox.
    ReplyBox box;
    box.resize(600, 300);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QElapsedTimer timer;
    timer.start();
    box.append(line);
    box.viewport()->repaint();
    box.setSelection(box.length() - 10, 10);
    box.viewport()->repaint();
    box.horizontalScrollBar()->setValue(box.horizontalScrollBar()->maximum() / 2);
    QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(100, 5));
    box.viewport()->repaint();
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QStringLiteral("took %1 ms").arg(timer.elapsed())));
    QCOMPARE(box.lineCount(), 1);
    QCOMPARE(box.length(), line.size());
    QVERIFY(box.selLength() > (1 << 20));
}

static TestRegistration<ReplyBoxTest> registration;

#include "ReplyBoxTest.moc"
