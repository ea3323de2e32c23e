#include "RecordingPlatform.h"
#include "TestMain.h"
#include "reply/FindWindow.h"
#include "reply/ReplyBox.h"
#include "reply/ReplyBoxAccessible.h"
#include "reply/ReplyFinder.h"
#include "reply/ReplyZoom.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
QPoint middleOf(const ReplyBox& box, qsizetype line, qsizetype column)
{
    return (box.cellPosition(line, column) + QPointF(box.charWidth() / 2, box.lineHeight() / 2.0)).toPoint();
}

// The menu's items as a user sees them: shown ones only, "-" for a separator, "!" before a disabled one.
QStringList itemsOf(const QMenu* menu)
{
    QStringList items;
    for (const QAction* action : menu->actions()) {
        if (action->isVisible())
            items << (action->isSeparator() ? QStringLiteral("-") : (action->isEnabled() ? "" : "!") + action->text());
    }
    return items;
}
} // namespace

// The reply box as a reader: its context menu, links, Find window and zoom.
class ReplyReaderTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ReplyBox> m_box;

    ReplyBox& shownBox(const QByteArray& reply)
    {
        m_box = std::make_unique<ReplyBox>();
        m_box->resize(500, 200);
        m_box->setData(reply);
        m_box->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(m_box.get());
        return *m_box;
    }

private slots:
    void init() { freshPlatform(); }
    void cleanup() { m_box.reset(); }

    void contextMenuOffersWhatTheStateAllows_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<qsizetype>("selFrom");
        QTest::addColumn<qsizetype>("selLength");
        QTest::addColumn<bool>("fromKeyboard");
        QTest::addColumn<QStringList>("items");
        const QStringList plain{"!&Copy", "Select &All", "-", "&Find..."};
        const QStringList selected{"&Copy", "Select &All", "-", "&Find..."};
        const QStringList overLink{"&Open Link", "Copy &Link Address", "-", "!&Copy", "Select &All", "-", "&Find..."};
        QTest::newRow("empty box") << QByteArray() << qsizetype(0) << qsizetype(0) << false
                                   << QStringList{"!&Copy", "!Select &All", "-", "!&Find..."};
        QTest::newRow("text, no selection") << QByteArray("hello there") << qsizetype(0) << qsizetype(0) << false << plain;
        QTest::newRow("a selection") << QByteArray("hello there") << qsizetype(0) << qsizetype(5) << true << selected;
        QTest::newRow("caret in a link") << QByteArray("see www.example.org now") << qsizetype(8) << qsizetype(0) << true << overLink;
        QTest::newRow("caret after a link") << QByteArray("www.example.org") << qsizetype(15) << qsizetype(0) << true << overLink;
        QTest::newRow("no link at the caret") << QByteArray("see www.example.org now") << qsizetype(1) << qsizetype(0) << true << plain;
    }
    void contextMenuOffersWhatTheStateAllows()
    {
        QFETCH(QByteArray, reply);
        QFETCH(qsizetype, selFrom);
        QFETCH(qsizetype, selLength);
        QFETCH(bool, fromKeyboard);
        QFETCH(QStringList, items);
        ReplyBox& box = shownBox(reply);
        box.setSelection(selFrom, selLength);
        box.setFocus();
        RecordingPlatform& platform = recordingPlatform();
        if (fromKeyboard) {
            QTest::keyClick(&box, Qt::Key_F10, Qt::ShiftModifier);
        } else {
            const QPoint at = middleOf(box, 0, 0);
            QTest::mouseClick(box.viewport(), Qt::RightButton, {}, at);
            // Offscreen, no window system turns the click into the menu event.
            if (platform.menusShown.isEmpty()) {
                QContextMenuEvent event(QContextMenuEvent::Mouse, at, box.viewport()->mapToGlobal(at));
                QApplication::sendEvent(box.viewport(), &event);
            }
        }
        QCOMPARE(platform.menusShown.size(), 1);
        QCOMPARE(itemsOf(platform.menusShown.first()), items);
        if (fromKeyboard) {
            QTest::keyClick(&box, Qt::Key_Menu);
            QCOMPARE(platform.menusShown.size(), 2);
        }
    }

    void linkItemsCopyTheAddressAndFindOpensTheWindow()
    {
        ReplyBox& box = shownBox("mail mailto:joe@example.org today");
        recordingPlatform().menuPicks = {"Copy &Link Address", "&Find..."};
        box.openContextMenu(QPoint(), 7);
        QCOMPARE(QApplication::clipboard()->text(), QString("mailto:joe@example.org"));
        box.openContextMenu(QPoint(), -1);
        QVERIFY(box.findWindow() && box.findWindow()->isVisible());
        QCOMPARE(box.findWindow()->windowTitle(), QString("Find"));
    }

    void rightClickKeepsASelectionUnderItAndMovesTheCaretElsewhere()
    {
        ReplyBox& box = shownBox("alpha beta gamma\r\nsecond line");
        box.setSelection(6, 4);
        QTest::mouseClick(box.viewport(), Qt::RightButton, {}, middleOf(box, 0, 7));
        QCOMPARE(box.selectedText(), QString("beta"));
        QTest::mouseClick(box.viewport(), Qt::RightButton, {}, middleOf(box, 1, 2) - QPoint(int(box.charWidth() / 3), 0));
        QCOMPARE(box.selLength(), 0);
        QCOMPARE(box.caretPosition(), box.lineStart(1) + 2);
    }

    void ctrlClickFollowsALinkAndAPlainClickSelects()
    {
        ReplyBox& box = shownBox("profile: finger://host.example/joe and more");
        QSignalSpy link(&box, &ReplyBox::linkActivated);
        QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::ControlModifier, middleOf(box, 0, 12));
        QCOMPARE(link.size(), 1);
        QCOMPARE(link.at(0).at(0).toString(), QString("finger://host.example/joe"));
        QCOMPARE(box.caretPosition(), 0);

        QTest::mouseClick(box.viewport(), Qt::LeftButton, {}, middleOf(box, 0, 12));
        QCOMPARE(link.size(), 1);
        QVERIFY(box.caretPosition() > 0);
        QTest::mouseClick(box.viewport(), Qt::LeftButton, Qt::ControlModifier, middleOf(box, 0, 2));
        QCOMPARE(link.size(), 1);

        // The pointer is a hand over the link only.
        QTest::mouseMove(box.viewport(), middleOf(box, 0, 12));
        QTRY_COMPARE(box.viewport()->cursor().shape(), Qt::PointingHandCursor);
        QTest::mouseMove(box.viewport(), middleOf(box, 0, 2));
        QTRY_COMPARE(box.viewport()->cursor().shape(), Qt::IBeamCursor);
    }

    void linksAreUnderlinedInTheTextColour()
    {
        ReplyBox& box = shownBox("xx www.example.org xx");
        box.viewport()->repaint();
        const QImage image = box.viewport()->grab().toImage();
        const QColor text = box.palette().color(QPalette::Text);
        // Under the cells the link covers there is a line of text colour; under the others none.
        const auto underlined = [&](qsizetype column) {
            const QPointF cell = box.cellPosition(0, column);
            for (int y = int(cell.y() + box.lineHeight() / 2); y < int(cell.y() + box.lineHeight()); ++y) {
                bool line = true;
                for (int dx = 0; dx < int(box.charWidth()) - 1 && line; ++dx)
                    line = image.pixelColor(int(cell.x()) + dx, y) == text;
                if (line)
                    return true;
            }
            return false;
        };
        QVERIFY(underlined(3));
        QVERIFY(underlined(17));
        QVERIFY(!underlined(1));
        QVERIFY(!underlined(19));
    }

    void screenReadersGetLinkRanges()
    {
        ReplyBox& box = shownBox("line one\r\nweb https://example.org/a;b, mail");
        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(&box);
        QVERIFY(reader && reader->textInterface());
        int from = 0;
        int to = 0;
        const int link = int(box.lineStart(1)) + 4;
        const QString attributes = reader->textInterface()->attributes(link + 3, &from, &to);
        QCOMPARE(from, link);
        QCOMPARE(to, link + int(QByteArray("https://example.org/a;b").size()));
        QVERIFY2(attributes.contains("link:https%3A//example.org/a%3Bb;"), qPrintable(attributes));
        QVERIFY(reader->textInterface()->attributes(link - 2, &from, &to).isEmpty());
        QCOMPARE(to, link);
        const int end = link + int(QByteArray("https://example.org/a;b").size());
        QVERIFY(reader->textInterface()->attributes(end + 1, &from, &to).isEmpty());
        QCOMPARE(from, end);
    }

    void findWindowFindsWithEnterAndRemembers()
    {
        ReplyBox& box = shownBox("one two three\r\nTwo two\r\n");
        box.setFocus();
        QTest::keyClick(&box, Qt::Key_F, Qt::ControlModifier);
        FindWindow* find = box.findWindow();
        QVERIFY(find);
        QTRY_VERIFY(find->isVisible());
        QVERIFY(!find->isModal());
        QVERIFY(!find->findNext->isEnabled());
        QTest::keyClicks(find->findWhat, "two");
        find->matchCase->setChecked(true);
        QTest::keyClick(find->findWhat, Qt::Key_Return);
        QCOMPARE(box.selectedText(), QString("two"));
        // F3 and Shift+F3 in the window itself, with its case.
        QTest::keyClick(find->findWhat, Qt::Key_F3);
        QCOMPARE(box.selStart(), box.lineStart(1) + 4);
        QTest::keyClick(find->findWhat, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(box.selStart(), 4);
        QTest::keyClick(find->findWhat, Qt::Key_Escape);
        QVERIFY(!find->isVisible());

        // Opened again: the last search, selected, ready to be typed over.
        box.showFind();
        QCOMPARE(find->findWhat->text(), QString("two"));
        QCOMPARE(find->findWhat->selectedText(), QString("two"));
        QVERIFY(find->matchCase->isChecked());
    }

    void findWindowGoesBesideItsOwner_data()
    {
        QTest::addColumn<QRect>("owner");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("room on the right") << QRect(100, 100, 500, 400) << QPoint(608, 100);
        QTest::newRow("room on the left only") << QRect(500, 100, 500, 400) << QPoint(192, 100);
        QTest::newRow("room below only") << QRect(0, 100, 1024, 400) << QPoint(1024 - 300, 508);
        QTest::newRow("room above only") << QRect(0, 300, 1024, 460) << QPoint(1024 - 300, 300 - 8 - 120);
        QTest::newRow("no room outside") << QRect(0, 0, 1024, 768) << QPoint(1023 - 300 - 16, 32);
    }
    void findWindowGoesBesideItsOwner()
    {
        QFETCH(QRect, owner);
        QFETCH(QPoint, expected);
        QCOMPARE(FindWindow::placeBeside(owner, QSize(300, 120), QRect(0, 0, 1024, 768)), expected);
    }

    void zoomKeysStepTheFontAndKeepTheTopLine()
    {
        QByteArray reply;
        for (int i = 0; i < 300; ++i)
            reply += "line " + QByteArray::number(i) + "\n";
        ReplyBox& box = shownBox(reply);
        box.verticalScrollBar()->setValue(120);
        const double start = box.fontPointSize();
        QCOMPARE(start, ReplyZoom::kDefaultPoints);
        QTest::keyClick(&box, Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(box.fontPointSize(), 12.0);
        QTest::keyClick(&box, Qt::Key_Equal, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(box.fontPointSize(), 14.0);
        QTest::keyClick(&box, Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
        QCOMPARE(box.fontPointSize(), 16.0);
        QCOMPARE(box.firstVisibleLine(), 120);
        QTest::keyClick(&box, Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(box.fontPointSize(), 14.0);
        QWheelEvent wheel(middleOf(box, 0, 0), box.viewport()->mapToGlobal(middleOf(box, 0, 0)), QPoint(), QPoint(0, 240),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box.viewport(), &wheel);
        QCOMPARE(box.fontPointSize(), 18.0);
        QCOMPARE(box.firstVisibleLine(), 120);
        QTest::keyClick(&box, Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(box.fontPointSize(), ReplyZoom::kDefaultPoints);
        QCOMPARE(ReplyZoom::smaller(ReplyZoom::kSmallest), ReplyZoom::kSmallest);
        QCOMPARE(ReplyZoom::larger(ReplyZoom::kLargest), ReplyZoom::kLargest);
    }

    void storedZoomIsReadWithCare_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<double>("shown");
        QTest::newRow("nothing stored") << QString() << ReplyZoom::kDefaultPoints;
        QTest::newRow("between steps") << "13.5" << 13.5;
        QTest::newRow("too small") << "2" << ReplyZoom::kDefaultPoints;
        QTest::newRow("too large") << "1000" << ReplyZoom::kDefaultPoints;
        QTest::newRow("not a number") << "nan" << ReplyZoom::kDefaultPoints;
    }
    void storedZoomIsReadWithCare()
    {
        QFETCH(QString, stored);
        QFETCH(double, shown);
        QCOMPARE(ReplyZoom::fromSetting(stored), shown);
        QCOMPARE(ReplyZoom::larger(shown), shown == 13.5 ? 14.0 : 12.0);
    }
};

static TestRegistration<ReplyReaderTest> registration;
#include "ReplyReaderTest.moc"
