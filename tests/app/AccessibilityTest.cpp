#include "ProgramTest.h"
#include "TestMain.h"
#include "client/frmhost.h"
#include "contact/SendForm.h"
#include "reply/ReplyBox.h"
#include "reply/ReplyBoxAccessible.h"
#include "server/FingerServerSetup.h"

#include <QAccessible>
#include <QComboBox>
#include <QTest>

#include <functional>
#include <memory>

namespace {
// The change events heard, one line each: "insert 7 Ready!", "caret 5", "selection 2-5 caret 5".
QStringList g_heard;

void hear(QAccessibleEvent* event)
{
    const auto* cursor = static_cast<QAccessibleTextCursorEvent*>(event);
    switch (event->type()) {
    case QAccessible::TextInserted: {
        const auto* inserted = static_cast<QAccessibleTextInsertEvent*>(event);
        g_heard << QStringLiteral("insert %1 ").arg(inserted->changePosition()) + inserted->textInserted();
        break;
    }
    case QAccessible::TextRemoved: {
        const auto* removed = static_cast<QAccessibleTextRemoveEvent*>(event);
        g_heard << QStringLiteral("remove %1 ").arg(removed->changePosition()) + removed->textRemoved();
        break;
    }
    case QAccessible::TextCaretMoved:
        g_heard << QStringLiteral("caret %1").arg(cursor->cursorPosition());
        break;
    case QAccessible::TextSelectionChanged: {
        const auto* selection = static_cast<QAccessibleTextSelectionEvent*>(event);
        g_heard << QStringLiteral("selection %1-%2 caret %3")
                       .arg(selection->selectionStart())
                       .arg(selection->selectionEnd())
                       .arg(cursor->cursorPosition());
        break;
    }
    default:
        break;
    }
}

// What a screen reader says a control is called: its label, else its own name.
QString spokenName(QObject* object)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(object);
    const auto labels = iface->relations(QAccessible::Label);
    return labels.isEmpty() ? iface->text(QAccessible::Name) : labels.first().first->text(QAccessible::Name);
}

const QByteArray kLines("one two\r\nthree\nfour");
} // namespace

class AccessibilityTest : public ProgramTest
{
    Q_OBJECT

private slots:
    void init()
    {
        m_box = std::make_unique<ReplyBox>();
        m_box->resize(400, 200);
        m_box->show();
        g_heard.clear();
        m_previousListener = ReplyBoxAccessible::setListener(hear);
    }
    void cleanup()
    {
        ReplyBoxAccessible::setListener(m_previousListener);
        m_box.reset();
    }

    void replyBoxIsReadOnlyTextShownAsDrawn();
    void boundaries_data();
    void boundaries();
    void hugeRangesAreBounded();
    void selectionAndCaret();
    void changesAreAnnounced();
    void droppedLinesAreAnnouncedAsRemoved();
    void geometryIsOnScreen();
    void controlsAreNamedByTheirLabels_data();
    void controlsAreNamedByTheirLabels();

private:
    QAccessibleTextInterface* text() const
    {
        return QAccessible::queryAccessibleInterface(m_box.get())->textInterface();
    }

    std::unique_ptr<ReplyBox> m_box;
    ReplyBoxAccessible::Listener m_previousListener = nullptr;
};

void AccessibilityTest::replyBoxIsReadOnlyTextShownAsDrawn()
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(m_box.get());
    QVERIFY(iface && iface->textInterface());
    QCOMPARE(iface->role(), QAccessible::EditableText);
    QCOMPARE(iface->childCount(), 0);
    const QAccessible::State state = iface->state();
    QVERIFY(state.readOnly && state.multiLine && state.focusable && !state.editable);

    // Controls as their pictures (C1 as the replacement mark), soft hyphen as the
    // hyphen drawn; tabs, line ends and Latin-1 letters as they are, one per byte.
    m_box->append(QByteArray("a\0\x1b\x7f\t\xad\x85\xe9\r\nb", 11));
    QCOMPARE(text()->characterCount(), 11);
    QCOMPARE(text()->text(0, -1), QString::fromUtf16(u"a\u2400\u241b\u2421\t-\ufffd\u00e9\r\nb"));
    QCOMPARE(text()->text(9, 99), QStringLiteral("\nb"));

    // A UTF-8 reply: each character at its first byte, silent joiners after it.
    m_box->beginReply();
    m_box->append("caf\xc3\xa9 \xf0\x9f\x98\x80 \xc2\x85");
    m_box->endReply();
    QCOMPARE(text()->text(11, -1), QString::fromUtf16(u"caf\u00e9\u200d \U0001F600\u200d\u200d \ufffd\u200d"));
    int start = 0;
    int end = 0;
    QCOMPARE(text()->textAtOffset(15, QAccessible::WordBoundary, &start, &end), QString::fromUtf16(u"bcaf\u00e9\u200d"));
    QCOMPARE(QPair(start, end), QPair(10, 16));
    QCOMPARE(text()->text(18, 20), QString::fromUtf16(u"\xDE00\u200d")); // from inside a character

    m_box->setFocus();
    QTRY_VERIFY(iface->state().focused);
}

void AccessibilityTest::boundaries_data()
{
    QTest::addColumn<int>("boundary");
    QTest::addColumn<int>("side"); // -1 before, 0 at, 1 after
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");

    const int chars = QAccessible::CharBoundary;
    const int words = QAccessible::WordBoundary;
    const int lines = QAccessible::LineBoundary;
    QTest::newRow("char") << chars << 0 << 4 << "t" << 4 << 5;
    QTest::newRow("CR LF is one char") << chars << 0 << 7 << "\r\n" << 7 << 9;
    QTest::newRow("char after") << chars << 1 << 0 << "n" << 1 << 2;
    QTest::newRow("word") << words << 0 << 5 << "two" << 4 << 7;
    QTest::newRow("word before") << words << -1 << 4 << " " << 3 << 4;
    QTest::newRow("word after across the break") << words << 1 << 7 << "three" << 9 << 14;
    QTest::newRow("line with its CR LF") << lines << 0 << 2 << "one two\r\n" << 0 << 9;
    QTest::newRow("line on its CR") << lines << 0 << 7 << "one two\r\n" << 0 << 9;
    QTest::newRow("line before") << lines << -1 << 10 << "one two\r\n" << 0 << 9;
    QTest::newRow("line after") << lines << 1 << 10 << "four" << 15 << 19;
    QTest::newRow("nothing before the first line") << lines << -1 << 3 << "" << -1 << -1;
    QTest::newRow("last line at the end (-1)") << lines << 0 << -1 << "four" << 15 << 19;
    QTest::newRow("line at the caret (-2)") << lines << 0 << -2 << "three\n" << 9 << 15;
    QTest::newRow("sentence is the line") << int(QAccessible::SentenceBoundary) << 0 << 11 << "three\n" << 9 << 15;
    QTest::newRow("offset past the end") << words << 0 << 99 << "" << -1 << -1;
}

void AccessibilityTest::boundaries()
{
    QFETCH(int, boundary);
    QFETCH(int, side);
    QFETCH(int, offset);
    m_box->append(kLines);
    m_box->setSelection(12, 0);
    const auto type = QAccessible::TextBoundaryType(boundary);
    int start = -5;
    int end = -5;
    const QString item = side < 0   ? text()->textBeforeOffset(offset, type, &start, &end)
                         : side > 0 ? text()->textAfterOffset(offset, type, &start, &end)
                                    : text()->textAtOffset(offset, type, &start, &end);
    QTEST(item, "item");
    QTEST(start, "start");
    QTEST(end, "end");
}

void AccessibilityTest::hugeRangesAreBounded()
{
    const int most = ReplyBoxAccessible::kMaxTextLength;
    m_box->append(QByteArray(3 * most, 'x') + "\nlast");
    QCOMPARE(text()->characterCount(), 3 * most + 5);
    QCOMPARE(text()->text(0, -1).size(), most);
    QCOMPARE(text()->text(3 * most - 2, 3 * most + 5), QStringLiteral("xx\nlast"));
    // The insert event was bounded the same way.
    QCOMPARE(g_heard.size(), 1);
    QCOMPARE(g_heard.first().size(), QStringLiteral("insert 0 ").size() + most);

    // A line longer than any answer comes as the piece around the offset.
    int start = 0;
    int end = 0;
    const QString piece = text()->textAtOffset(2 * most, QAccessible::LineBoundary, &start, &end);
    QCOMPARE(piece.size(), most);
    QVERIFY(start <= 2 * most && 2 * most < end);
    QCOMPARE(end - start, most);
    QCOMPARE(text()->textAfterOffset(2 * most, QAccessible::LineBoundary, &start, &end), QStringLiteral("last"));
    QCOMPARE(text()->textAtOffset(0, QAccessible::NoBoundary, &start, &end).size(), most);
    QCOMPARE(text()->textAtOffset(2 * most, QAccessible::WordBoundary, &start, &end).size(), 2 * 8192);
}

void AccessibilityTest::selectionAndCaret()
{
    m_box->append(kLines);
    g_heard.clear();
    text()->setSelection(0, 2, 5);
    QCOMPARE(m_box->selStart(), 2);
    QCOMPARE(m_box->selLength(), 3);
    QCOMPARE(text()->cursorPosition(), 5);
    QCOMPARE(text()->selectionCount(), 1);
    int start = 0;
    int end = 0;
    text()->selection(0, &start, &end);
    QCOMPARE(QPair(start, end), QPair(2, 5));

    // A selection made backwards keeps its caret at the start.
    text()->addSelection(9, 4);
    QCOMPARE(m_box->selectedText(), QStringLiteral("two\r\n"));
    QCOMPARE(text()->cursorPosition(), 4);
    text()->removeSelection(0);
    QCOMPARE(text()->selectionCount(), 0);
    QCOMPARE(text()->cursorPosition(), 4);
    text()->setCursorPosition(999);
    QCOMPARE(m_box->caretPosition(), kLines.size());

    QCOMPARE(g_heard, QStringList({"caret 5", "selection 2-5 caret 5", "caret 4", "selection 4-9 caret 4",
                                   "selection 4-4 caret 4", "caret 19", "selection 19-19 caret 19"}));
}

void AccessibilityTest::changesAreAnnounced()
{
    m_box->append("Finger ");
    m_box->append(QByteArray("Ready!\x07", 7));
    m_box->setFocus();
    QTest::keyClick(m_box.get(), Qt::Key_Right);
    QTest::keyClick(m_box.get(), Qt::Key_Right, Qt::ShiftModifier);
    // A visitor line arriving leaves the caret where the reader is.
    m_box->append("\r\nBeing fingered by 127.0.0.1");
    m_box->clear();

    QCOMPARE(g_heard, QStringList({"insert 0 Finger ", QString::fromUtf16(u"insert 7 Ready!\u2407"), "caret 1",
                                   "selection 1-1 caret 1", "caret 2", "selection 1-2 caret 2",
                                   "insert 14 \r\nBeing fingered by 127.0.0.1",
                                   QString::fromUtf16(u"remove 0 Finger Ready!\u2407\r\nBeing fingered by 127.0.0.1"),
                                   "caret 0", "selection 0-0 caret 0"}));
}

void AccessibilityTest::droppedLinesAreAnnouncedAsRemoved()
{
    m_box->setLimit(16);
    m_box->append("0123456789\r\n");
    g_heard.clear();
    m_box->append("abcdefghij\r\n");

    QCOMPARE(m_box->text(), QStringLiteral("abcdefghij\r\n"));
    QCOMPARE(g_heard.first(), QStringLiteral("remove 0 ") + QString(12, QChar::ReplacementCharacter));
    QCOMPARE(g_heard.at(1), QStringLiteral("insert 0 abcdefghij\r\n"));
}

void AccessibilityTest::geometryIsOnScreen()
{
    m_box->append("a\tb\nline two");
    const QPoint viewport = m_box->viewport()->mapToGlobal(QPoint(0, 0));
    const QRect tab = text()->characterRect(1);
    QCOMPARE(tab.topLeft(), viewport + m_box->cellPosition(0, 1).toPoint());
    QVERIFY(qAbs(tab.width() - 7 * m_box->charWidth()) <= 1);
    QCOMPARE(tab.height(), m_box->lineHeight());

    const QRect n = text()->characterRect(6);
    QCOMPARE(n.topLeft(), viewport + m_box->cellPosition(1, 2).toPoint());
    QCOMPARE(text()->offsetAtPoint(n.center()), 6);
    QCOMPARE(text()->offsetAtPoint(tab.center()), 1);
    QCOMPARE(text()->offsetAtPoint(viewport + QPoint(2, m_box->viewport()->height() - 2)), -1);
    QCOMPARE(text()->offsetAtPoint(viewport - QPoint(5, 5)), -1);

    // Scrolling to a far line moves the view, not the caret.
    m_box->append(QByteArray(500, '\n') + "far");
    text()->scrollToSubstring(m_box->length() - 3, m_box->length());
    QVERIFY(m_box->firstVisibleLine() > 400);
    QCOMPARE(m_box->caretPosition(), 0);
}

void AccessibilityTest::controlsAreNamedByTheirLabels_data()
{
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("name");

    QTest::newRow("host box") << "finger" << "text2" << "Hostname:";
    QTest::newRow("user box") << "finger" << "Text3" << "Username (optional):";
    QTest::newRow("reply box") << "finger" << "text1" << "Reply";
    QTest::newRow("button without its ampersand") << "finger" << "Command3" << "Long Finger";
    QTest::newRow("setup name") << "FingerServerSetup" << "Text1" << "Name:";
    QTest::newRow("setup email") << "FingerServerSetup" << "Text2" << "Email:";
    QTest::newRow("setup URL") << "FingerServerSetup" << "Text3" << "URL:";
    QTest::newRow("setup description") << "FingerServerSetup" << "Text4" << "General Description:";
    QTest::newRow("mail to") << "SendForm" << "Text1" << "To:";
    QTest::newRow("mail subject") << "SendForm" << "txtSubject" << "Subject:";
    QTest::newRow("mail from") << "SendForm" << "txtfrom" << "From:";
    QTest::newRow("mail message") << "SendForm" << "msgtext" << "Message";
    QTest::newRow("host list") << "frmhost" << "List1" << "Configured Hostnames";
}

void AccessibilityTest::controlsAreNamedByTheirLabels()
{
    QFETCH(QString, form);
    QFETCH(QString, control);
    QFETCH(QString, name);
    launch();
    finger& main = window();
    std::unique_ptr<QWidget> dialog;
    if (form == "FingerServerSetup")
        dialog = std::make_unique<FingerServerSetup>(main.profile());
    else if (form == "SendForm")
        dialog = std::make_unique<SendForm>(main.config());
    else if (form == "frmhost")
        dialog = std::make_unique<frmhost>(main.text2);
    QWidget* shown = dialog ? dialog.get() : static_cast<QWidget*>(&main);
    shown->show();
    auto* widget = shown->findChild<QWidget*>(control);
    QVERIFY(widget);
    QCOMPARE(spokenName(widget), name);
}

#include "AccessibilityTest.moc"
static TestRegistration<AccessibilityTest> registration;
