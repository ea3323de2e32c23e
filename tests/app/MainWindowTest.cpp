#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/ClipboardText.h"
#include "app/StatusLine.h"
#include "app/Twips.h"
#include "client/frmhost.h"
#include "reply/ReplyBox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

using TestSupport::startProgram;

namespace {
// The pointer shown over a control: its own, or the nearest one set above it.
Qt::CursorShape pointerOver(const QWidget* control)
{
    while (control && !control->testAttribute(Qt::WA_SetCursor))
        control = control->parentWidget();
    return control ? control->cursor().shape() : Qt::ArrowCursor;
}

// The access keys (Alt + letter) a window answers to: its menu bar's menus,
// its buttons and the labels that lead to a control.
QList<QKeySequence> accessKeys(const QWidget* window)
{
    QList<QKeySequence> keys;
    if (const auto* main = qobject_cast<const QMainWindow*>(window); main && main->menuWidget())
        for (const QAction* menu : main->menuBar()->actions())
            keys.append(QKeySequence::mnemonic(menu->text()));
    for (const QAbstractButton* button : window->findChildren<QAbstractButton*>())
        keys.append(button->shortcut());
    for (const QLabel* label : window->findChildren<QLabel*>())
        if (label->buddy())
            keys.append(QKeySequence::mnemonic(label->text()));
    keys.removeAll(QKeySequence());
    return keys;
}
} // namespace

class MainWindowTest : public ProgramTest
{
    Q_OBJECT

private slots:
    void init()
    {
        resetEnvironment();
        launch();
    }
    void cleanup() { stopProgram(); }

    void controlsCarryTheirNamesAndCaptions()
    {
        finger& w = window();
        QCOMPARE(w.windowTitle(), QString("Finger Quobix 2.2"));
        QCOMPARE(w.findChild<QPushButton*>("Command1")->text(), QString("Short &Finger"));
        QCOMPARE(w.findChild<QPushButton*>("Command3")->text(), QString("Long Fi&nger"));
        QVERIFY(w.findChild<QComboBox*>("text2")->isEditable());
        QVERIFY(w.findChild<QLineEdit*>("Text3"));
        QVERIFY(w.findChild<ReplyBox*>("text1"));
        QVERIFY(w.findChild<StatusLine*>("StatusBar1"));
        const QRect button = w.Command1->geometry();
        QCOMPARE(button, Twips::toPixels(4200, 240, 1095, 300));
        QStringList captions;
        for (QAction* item : w.mnuFile->actions())
            captions << item->text();
        QCOMPARE(captions, (QStringList{"Save &As...", "&Print", "", "Hi&de"}));
        QCOMPARE(w.mnuCopy->shortcut(), QKeySequence("Ctrl+C"));
        QCOMPARE(w.mnuSelect->shortcut(), QKeySequence("Ctrl+A"));
    }

    void focusStartsInUserBoxAndTabFollowsTheOrder()
    {
        finger& w = window();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.Text3);
        const QList<QWidget*> order{w.Command1, w.Command3, w.text1, w.text2, w.Text3};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        for (qsizetype i = order.size() - 2; i >= 0; --i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget(), order.at(i));
        }
    }

    void messageBoxWithoutCaptionShowsTheTitle()
    {
        QCOMPARE(messageBoxCaption(QString()), QString("Finger Quobix 2.2"));
        QCOMPARE(messageBoxCaption("Print Error"), QString("Print Error"));
    }

    void menuEnabling_data()
    {
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("select");
        // Expected: save/print, copy, select all, server, about.
        QTest::addColumn<QList<bool>>("expected");
        QTest::newRow("idle, empty") << false << "" << false << QList<bool>{false, false, false, true, true};
        QTest::newRow("idle, text, no selection")
            << false << "reply\r\n" << false << QList<bool>{true, false, true, true, true};
        QTest::newRow("idle, text, selection") << false << "reply\r\n" << true << QList<bool>{true, true, true, true, true};
        QTest::newRow("busy, text, selection")
            << true << "reply\r\n" << true << QList<bool>{false, false, false, false, false};
    }
    void menuEnabling()
    {
        QFETCH(bool, busy);
        QFETCH(QString, text);
        QFETCH(bool, select);
        QFETCH(QList<bool>, expected);
        finger& w = window();
        w.text1->setText(text);
        if (select)
            w.text1->setSelection(0, 3);
        w.setBusy(busy);
        for (QMenu* menu : {w.mnuFile, w.mnuEdit, w.mnuSetup, w.mnuHelp})
            emit menu->aboutToShow();
        QCOMPARE(w.mnuSave->isEnabled(), expected[0]);
        QCOMPARE(w.mnuPrint->isEnabled(), expected[0]);
        QCOMPARE(w.mnuCopy->isEnabled(), expected[1]);
        QCOMPARE(w.mnuSelect->isEnabled(), expected[2]);
        QCOMPARE(w.mnuServer->isEnabled(), expected[3]);
        QCOMPARE(w.mnuAbout->isEnabled(), expected[4]);
        // Items the rules never name stay enabled.
        QVERIFY(w.mnuHide->isEnabled() && w.mnuHost->isEnabled() && w.mnuEmail->isEnabled());
    }

    void selectAllThenCopyReplacesClipboard()
    {
        finger& w = window();
        w.text1->setText(QString::fromLatin1("line one\r\nline\0two", 18));
        w.mnuSelect->trigger();
        QCOMPARE(w.text1->selStart(), 0);
        QCOMPARE(w.text1->selLength(), w.text1->length());
        emit w.mnuEdit->aboutToShow();
        QVERIFY(w.mnuCopy->isEnabled());
        w.mnuCopy->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1("line one\nline\0two", 17));
        QCOMPARE(w.text1->text(), QString::fromLatin1("line one\r\nline\0two", 18));
    }

    void clipboardGetsThePlatformsLineEnds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("CR LF") << "a\r\nb\r\n" << "a\nb\n";
        QTest::newRow("lone CR, LF") << "a\rb\nc" << "a\nb\nc";
        QTest::newRow("CR CR LF") << "a\r\r\nb" << "a\n\nb";
        QTest::newRow("LF CR") << "a\n\rb\r" << "a\n\nb\n";
        QTest::newRow("none") << "a\tb" << "a\tb";
    }
    void clipboardGetsThePlatformsLineEnds()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
#ifdef Q_OS_WIN
        expected.replace("\n", "\r\n");
#endif
        QCOMPARE(ClipboardText::withPlatformLineEnds(text), expected);
    }

    // Ctrl+A and Ctrl+C act on the reply box wherever the focus is, except in a
    // host or user box holding text, which selects and copies its own text.
    // The Edit menu's items always act on the reply box.
    void editKeysFollowTheReplyBoxWhereverTheFocusIs_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("boxText"); // what the focused box holds
        QTest::addColumn<bool>("boxActs");
        QTest::newRow("user box with text") << "Text3" << "joe" << true;
        QTest::newRow("host box with text") << "text2" << "example.org" << true;
        QTest::newRow("empty user box") << "Text3" << "" << false;
        QTest::newRow("empty host box") << "text2" << "" << false;
        QTest::newRow("button") << "Command1" << "" << false;
        QTest::newRow("reply box") << "text1" << "" << false;
    }
    void editKeysFollowTheReplyBoxWhereverTheFocusIs()
    {
        QFETCH(QString, focus);
        QFETCH(QString, boxText);
        QFETCH(bool, boxActs);
        finger& w = window();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.Text3->setText(focus == "Text3" ? boxText : "joe");
        w.text2->setEditText(focus == "text2" ? boxText : "other.example");
        w.text1->setText("one\r\ntwo");
        // The menu opened once with nothing selected: its Copy was disabled then.
        emit w.mnuEdit->aboutToShow();
        QVERIFY(!w.mnuCopy->isEnabled());
        QWidget* control = w.findChild<QWidget*>(focus);

        control->setFocus();
        QWidget* focused = QApplication::focusWidget();
        QLineEdit* field = focus == "text2" ? w.text2->lineEdit() : qobject_cast<QLineEdit*>(focused);
        if (field)
            field->deselect();
        QTest::keyClick(focused, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w.text1->selLength(), boxActs ? 0 : w.text1->length());
        if (boxActs) {
            QCOMPARE(QApplication::focusWidget(), focused);
            QCOMPARE(field->selectedText(), boxText);
        }

        QGuiApplication::clipboard()->setText("older");
        control->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), boxActs ? boxText : QString("one\ntwo"));

        // The menu's Select All is the reply box's, wherever the focus is.
        control->setFocus();
        w.mnuSelect->trigger();
        QCOMPARE(w.text1->selLength(), w.text1->length());
    }

    void noTwoControlsOfAWindowShareAnAccessKey()
    {
        finger& w = window();
        recordingPlatform().launchResult = 2; // no mail program: the feedback form opens
        tray().mnuAbout->trigger();
        tray().mnuServer->trigger();
        tray().mnuYarbo->trigger();
        frmhost remover(w.text2);
        QWidgetList windows{&remover};
        for (QWidget* shown : QApplication::topLevelWidgets())
            if (shown->isVisible() && !qobject_cast<QMenu*>(shown))
                windows.append(shown);
        QVERIFY2(windows.size() >= 5, qPrintable(QString::number(windows.size())));
        for (const QWidget* window : windows) {
            const QList<QKeySequence> keys = accessKeys(window);
            for (const QKeySequence& key : keys)
                QVERIFY2(keys.count(key) == 1,
                         qPrintable(window->objectName() + ": " + key.toString() + " belongs to two controls"));
        }
        // The button gave up Alt+F to the File menu but keeps its caption.
        QCOMPARE(w.Command1->text(), QString("Short &Finger"));
    }

    void busyPointerCoversTheWholeWindow()
    {
        finger& w = window();
        const QList<QWidget*> parts{w.text1->viewport(), w.Text3, w.text2->lineEdit(), w.Command1, w.StatusBar1};
        w.setBusy(true);
        for (const QWidget* part : parts)
            QCOMPARE(pointerOver(part), Qt::WaitCursor);
        QVERIFY(w.isBusy());
        w.setBusy(false);
        QVERIFY(!w.isBusy());
        QCOMPARE(pointerOver(w.text1->viewport()), Qt::IBeamCursor);
        QCOMPARE(pointerOver(w.Text3), Qt::IBeamCursor);
        QCOMPARE(pointerOver(w.Command1), Qt::ArrowCursor);
    }

    void utf8ReplyIsCopiedAsUtf8()
    {
        finger& w = window();
        w.text1->clear();
        w.text1->beginReply();
        w.text1->append(QByteArray("Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac"));
        w.text1->endReply();
        w.text1->setSelection(2, 5);
        w.mnuCopy_Click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromUtf8("üße"));
    }

    void copyWithEmptySelectionEmptiesClipboard()
    {
        finger& w = window();
        QGuiApplication::clipboard()->setText("something older");
        w.text1->setText("reply");
        w.text1->setSelection(2, 0);
        w.mnuCopy_Click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString());
    }

    void resizeFollowsOuterSize()
    {
        finger& w = window();
        const int before = w.text1->width();
        const int left = w.text1->x();
        w.resize(w.width() + Twips::toPixelsX(1000), w.height());
        QCOMPARE(w.text1->x(), left);
        QCOMPARE(w.text1->x(), 0);
        QVERIFY(qAbs(w.text1->width() - before - Twips::toPixelsX(1000)) <= 1);
        QCOMPARE(Twips::fromPixelsY(w.text1->y()), 630);
        const QSize outer = w.outerSizeTwips();
        QVERIFY(qAbs(Twips::fromPixelsX(w.text1->width()) - (outer.width() - 100)) <= 15);
        QVERIFY(qAbs(Twips::fromPixelsY(w.text1->height()) - (outer.height() - 1630)) <= 15);
        QVERIFY(w.Frame1->width() > w.width());
    }

    void replyBoxStaysAboveTheStatusLine()
    {
        // A status line taller than the rule expects stands for a thick window frame.
        finger& w = window();
        w.StatusBar1->setFixedHeight(Twips::toPixelsY(1200));
        w.resize(w.width(), w.height() + 1);
        QApplication::processEvents();
        const QWidget* client = w.centralWidget();
        QVERIFY2(w.text1->geometry().bottom() < client->height(),
                 qPrintable(QStringLiteral("reply box ends at %1, status line starts at %2")
                                .arg(w.text1->geometry().bottom())
                                .arg(client->height())));
        QVERIFY(w.text1->height() > 0);
        QVERIFY(w.text1->geometry().right() < client->width());
    }

    void longStatusTextNeverWidensTheWindow()
    {
        finger& w = window();
        const QSize before = w.size();
        const QString status = QStringLiteral("Connecting to ") + QString(3000, QLatin1Char('h'));
        w.setStatusText(status);
        QApplication::processEvents();
        w.resize(before);
        QApplication::processEvents();
        QCOMPARE(w.size(), before);
        QVERIFY(w.minimumSizeHint().width() < before.width());
        QCOMPARE(w.statusText(), status);
    }

    void tinyWindowKeepsPositiveSizesAndText()
    {
        finger& w = window();
        const QByteArray before = w.text1->data();
        w.resize(1, 1);
        w.Form_Resize();
        QVERIFY(w.text1->width() >= 1);
        QVERIFY(w.text1->height() >= 1);
        QCOMPARE(w.text1->data(), before);
    }

    void smallestWindowKeepsEveryControlInView()
    {
        finger& w = window();
        w.resize(1, 1);
        QApplication::processEvents();
        const QRect client = w.centralWidget()->rect();
        for (const QWidget* control : {static_cast<QWidget*>(w.Label1_0), static_cast<QWidget*>(w.text2),
                                       static_cast<QWidget*>(w.Label1_1), static_cast<QWidget*>(w.Text3),
                                       static_cast<QWidget*>(w.Command1), static_cast<QWidget*>(w.Command3)})
            QVERIFY2(client.contains(control->geometry()), qPrintable(control->objectName()));
        // The reply box still follows the resize rule, a few lines high.
        const QSize outer = w.outerSizeTwips();
        QVERIFY(qAbs(Twips::fromPixelsX(w.text1->width()) - (outer.width() - 100)) <= 15);
        QVERIFY(qAbs(Twips::fromPixelsY(w.text1->height()) - (outer.height() - 1630)) <= 15);
        QVERIFY(w.text1->viewport()->height() >= 3 * w.text1->lineHeight());
    }
};

static TestRegistration<MainWindowTest> registration;
#include "MainWindowTest.moc"
