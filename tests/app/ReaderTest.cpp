#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "../client/ClientHarness.h"
#include "app/StatusLine.h"
#include "reply/FindWindow.h"
#include "reply/ReplyBox.h"
#include "reply/ReplyFinder.h"

#include <QApplication>
#include <QClipboard>
#include <QMenu>
#include <QTest>

// The reply box's reader parts as the main window wires them: the context
// menu's Copy and Select All, links followed, Find's status texts, zoom kept.
class ReaderTest : public ProgramTest
{
    Q_OBJECT

    QPoint onLink(const ReplyBox& box, qsizetype line, qsizetype column)
    {
        return (box.cellPosition(line, column) + QPointF(box.charWidth() / 2, box.lineHeight() / 2.0)).toPoint();
    }

private slots:
    void cleanup() { stopProgram(); }

    void contextMenuCopiesAndSelectsAsTheEditMenu()
    {
        RecordingPlatform& platform = resetEnvironment();
        finger& w = launch().window();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.text1->setData("first line\r\nsecond\rthird");
        w.text1->setSelection(6, 12);
        QGuiApplication::clipboard()->setText("before");
        platform.menuPicks = {"&Copy"};
        w.text1->openContextMenu(QPoint(), -1);
        const QString viaMenu = QGuiApplication::clipboard()->text();
        w.mnuCopy->trigger();
        QCOMPARE(viaMenu, QGuiApplication::clipboard()->text());
        QCOMPARE(viaMenu, QString("line\nsecond"));

        w.Text3->setFocus();
        platform.menuPicks = {"Select &All"};
        w.text1->openContextMenu(QPoint(), -1);
        QCOMPARE(w.text1->selLength(), w.text1->length());
        QCOMPARE(QApplication::focusWidget(), w.text1);
    }

    void fingerLinkInAReplyRunsItsQueryHere()
    {
        ScriptedServer server;
        QVERIFY(server.isListening());
        resetEnvironment();
        finger& w = launch(clientConfig(server.port())).window();
        w.text1->setData("Try finger://127.0.0.1/%2FWjoe for more.\r\n");
        QTest::mouseClick(w.text1->viewport(), Qt::LeftButton, Qt::ControlModifier, onLink(*w.text1, 0, 10));
        QTRY_COMPARE(server.received, QByteArray("/Wjoe\r\n"));
        QCOMPARE(w.text2->currentText(), QString("127.0.0.1"));
        QCOMPARE(w.Text3->text(), QString("/Wjoe"));
    }

    void otherLinksGoToTheLauncherAndAFailureIsSaid()
    {
        RecordingPlatform& platform = resetEnvironment();
        finger& w = launch().window();
        w.text1->setData("home: www.example.org/joe, mail mailto:joe@example.org");
        platform.launchResult = 32;
        QTest::mouseClick(w.text1->viewport(), Qt::LeftButton, Qt::ControlModifier, onLink(*w.text1, 0, 8));
        QCOMPARE(platform.launched, QStringList{"http://www.example.org/joe"});
        QCOMPARE(w.statusText(), QString("Finger Quobix is ready for action!"));
        platform.launchResult = 31;
        platform.menuPicks = {"&Open Link"};
        w.text1->openContextMenu(QPoint(), 40);
        QCOMPARE(platform.launched.last(), QString("mailto:joe@example.org"));
        QCOMPARE(w.statusText(), QString("Unable to open mailto:joe@example.org"));
        // Whatever reaches the window, no other scheme is ever handed on.
        w.openReplyLink("file:///etc/passwd");
        w.openReplyLink("javascript:alert(1)");
        QCOMPARE(platform.launched.size(), 2);
        QVERIFY(platform.boxes.isEmpty());
    }

    void findSaysMissesAndWrapsInTheStatusLine()
    {
        resetEnvironment();
        finger& w = launch().window();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.text1->setData("alpha\r\nbeta\r\nalpha\r\n");
        w.setStatusText("Finger Quobix 2.1");
        w.text1->setFocus();
        QTest::keyClick(w.text1, Qt::Key_F3);
        QVERIFY2(w.text1->findWindow() && w.text1->findWindow()->isVisible(), "F3 with no search yet asks what to find");
        w.text1->findWindow()->close();
        w.text1->finder().find({"gamma", false, false});
        QCOMPARE(w.statusText(), QString("Cannot find \"gamma\""));
        w.text1->finder().find({"alpha", false, false});
        QCOMPARE(w.text1->selStart(), 0);
        QCOMPARE(w.statusText(), QString("Finger Quobix 2.1"));
        QTest::keyClick(w.Text3, Qt::Key_F3);
        QCOMPARE(w.text1->selStart(), 13);
        QTest::keyClick(w.Text3, Qt::Key_F3);
        QCOMPARE(w.text1->selStart(), 0);
        QVERIFY(w.statusText().contains("from the top"));
        QTest::keyClick(w.Text3, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(w.text1->selStart(), 13);
    }

    void zoomIsKeptAcrossARestartAndTheLayoutStays()
    {
        resetEnvironment();
        finger& first = launch().window();
        QVERIFY(QTest::qWaitForWindowActive(&first));
        const QRect replyGeometry = first.text1->geometry();
        const QFont statusFont = first.StatusBar1->font();
        QTest::keyClick(first.Text3, Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(first.Text3, Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(first.text1->fontPointSize(), 14.0);
        QCOMPARE(first.text1->geometry(), replyGeometry);
        QCOMPARE(first.StatusBar1->font(), statusFont);
        stopProgram();

        finger& next = launch().window();
        QVERIFY(QTest::qWaitForWindowActive(&next));
        QCOMPARE(next.text1->fontPointSize(), 14.0);
        QTest::keyClick(next.Text3, Qt::Key_0, Qt::ControlModifier);
        stopProgram();
        QCOMPARE(launch().window().text1->fontPointSize(), 11.25);
    }
};

static TestRegistration<ReaderTest> registration;
#include "ReaderTest.moc"
