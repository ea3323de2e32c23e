#include "DesktopSession.h"
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "../client/ClientHarness.h"
#include "app/Twips.h"
#include "client/frmhost.h"
#include "contact/About.h"
#include "contact/SendForm.h"
#include "reply/FindWindow.h"
#include "reply/ReplyBox.h"
#include "server/FingerServerSetup.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

// The main window on a real desktop: Xvfb, openbox and a system tray, driven
// through the X server the way a user's keyboard and mouse would.
static TestSupport::RunOnDesktop desktop({.windowManager = true, .tray = true, .dbus = true});

class DesktopTest : public ProgramTest
{
    Q_OBJECT

    DesktopSession* m_desktop = nullptr;

    QByteArray tool(const QString& name, const QStringList& arguments) { return m_desktop->run(name, arguments); }
    QString windowId() { return QString::number(window().winId()); }
    QString xwininfo(const QStringList& arguments, const QString& field)
    {
        const QRegularExpression line(QRegularExpression::escape(field) + QStringLiteral(":\\s*(\\S+)"));
        return line.match(QString::fromLocal8Bit(tool(QStringLiteral("xwininfo"), arguments))).captured(1);
    }
    QString mapState(const QString& id) { return xwininfo({"-id", id}, "Map State"); }
    // The window manager's frame around a window (the root window once it lets go).
    QString parentOf(const QString& id) { return xwininfo({"-children", "-id", id}, "Parent window id"); }
    QString rootId() { return xwininfo({"-root"}, "Window id"); }
    bool key(const QStringList& keys) { return !tool(QStringLiteral("xdotool"), QStringList{"key"} + keys).isNull(); }
    QPoint onScreen(qsizetype line, qsizetype column)
    {
        const ReplyBox* box = window().text1;
        const QPointF cell = box->cellPosition(line, column) + QPointF(1, box->lineHeight() / 2.0);
        return box->viewport()->mapToGlobal(cell.toPoint());
    }

    bool click(const QPoint& at, const QStringList& around = {}, const QString& button = QStringLiteral("1"))
    {
        QStringList arguments{"mousemove", QString::number(at.x()), QString::number(at.y())};
        arguments += around.isEmpty() ? QStringList{"click", button} : around;
        return !tool(QStringLiteral("xdotool"), arguments).isNull();
    }
    // The whole screen, for the record, when the run names a folder for it.
    void screenshot(const QString& name)
    {
        const QString folder = qEnvironmentVariable("FQ_SHOTS");
        if (folder.isEmpty())
            return;
        QApplication::processEvents();
        QGuiApplication::primaryScreen()->grabWindow(0).save(folder + "/readui-" + name + ".png");
    }
    static constexpr const char* kProfile =
        "Login: joe\t\t\tName: Joe Brandt\r\n"
        "Directory: /home/joe\t\tShell: /bin/bash\r\n"
        "Plan:\r\n"
        "  My pages are at https://www.example.org/~joe/ (new).\r\n"
        "  Mail me: mailto:joe@example.org, or finger://127.0.0.1/zoe\r\n"
        "  Gopher: gopher://gopher.example.org/1/joe.\r\n";

private slots:
    void initTestCase()
    {
        m_desktop = TestSupport::desktopForThisRun();
        if (!m_desktop || !m_desktop->isRunning())
            QSKIP(qPrintable(QStringLiteral("No private desktop: ") + (m_desktop ? m_desktop->whyNot() : QString())));
        if (const QString missing = DesktopSession::missingTool({"xdotool", "xclip"}); !missing.isEmpty())
            QSKIP(qPrintable(missing + " is not installed (scripts/install-deps.sh --tests installs it)"));
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        QTRY_VERIFY(QSystemTrayIcon::isSystemTrayAvailable());
    }

    void init()
    {
        resetEnvironment();
        launch();
        window().activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window()));
    }
    void cleanup() { stopProgram(); }

    void minimisingHidesIntoTheTrayAndFingerBringsItBack()
    {
        finger& w = window();
        const QString id = windowId();
        const QString root = rootId();
        for (int round = 1; round <= 3; ++round) {
            const QString frame = parentOf(id);
            QVERIFY2(frame != root, "openbox manages the window");
            QVERIFY(!tool("xdotool", {"windowminimize", id}).isNull());
            QTRY_VERIFY(!w.isVisible());
            // A window mapped again behind Qt's back shows up within moments.
            QTest::qWait(500);
            QCOMPARE(mapState(id), QString("IsUnMapped"));
            const QString frameNow = parentOf(id);
            if (frameNow != root)
                QCOMPARE(mapState(frameNow), QString("IsUnMapped"));

            tray().mnufinger->trigger();
            QTRY_COMPARE(mapState(id), QString("IsViewable"));
            QVERIFY(!w.isMinimized());
            QVERIFY(tool("xprop", {"-id", id, "WM_STATE"}).contains("Normal"));
        }
    }

    // Panels that start after the program, or restart: the tray is used once it is there, and only then.
    void trayComingLaterIsUsedUntilItGoes()
    {
        stopProgram();
        m_desktop->stopXEmbedTray();
        QTRY_VERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        m_program = TestSupport::startProgramOnTray();
        finger& w = window();
        QVERIFY(w.isVisible());
        QVERIFY2(m_desktop->startXEmbedTray(), qPrintable(m_desktop->whyNot()));
        QTRY_VERIFY(w.canHideToTray);
        QVERIFY(!w.close());
        QVERIFY(!w.isVisible());
        tray().mnufinger->trigger();
        QTRY_COMPARE(mapState(windowId()), QString("IsViewable"));
        m_desktop->stopXEmbedTray();
        QTRY_VERIFY(!w.canHideToTray);
        // Without a tray closing ends the program, as nothing could bring the window back.
        w.close();
        QTRY_COMPARE(m_program->quitCalls, 1);
        QVERIFY2(m_desktop->startXEmbedTray(), qPrintable(m_desktop->whyNot()));
    }

    void altFOpensTheFileMenuEveryTime()
    {
        finger& w = window();
        for (int press = 1; press <= 3; ++press) {
            QVERIFY(key({"alt+f"}));
            QTRY_VERIFY2(QApplication::activePopupWidget() == w.mnuFile, qPrintable(QString("press %1").arg(press)));
            QVERIFY(key({"Escape"}));
            QTRY_VERIFY(!QApplication::activePopupWidget());
            QVERIFY(key({"Escape"}));
        }
        QCOMPARE(QApplication::focusWidget(), w.Text3);
    }

    // Below the menu bar the window has its designed client area.
    void clientAreaBelowTheMenuBarHasTheDesignedSize()
    {
        finger& w = window();
        QVERIFY(w.menuBar()->height() > 0);
        QCOMPARE(w.menuBar()->y(), 0);
        QCOMPARE(w.height() - w.menuBar()->height(), Twips::toPixelsY(3945));
        QCOMPARE(w.width(), Twips::toPixelsX(7065));
    }

    // Each window opens centred with the frame openbox gives it; opened again,
    // with a frame of its kind seen, it is in its place at once (no jump).
    void windowsOpenCentredWithTheirFrame_data()
    {
        QTest::addColumn<QString>("which");
        for (const char* which : {"main", "setup", "remover", "about", "feedback"})
            QTest::newRow(which) << which;
    }
    void windowsOpenCentredWithTheirFrame()
    {
        QFETCH(QString, which);
        const QPoint centre = QRect(QPoint(0, 0), recordingPlatform().screen).center();
        for (int opening = 1; opening <= (which == "main" ? 1 : 2); ++opening) {
            QWidget* shown = openWindow(which);
            QVERIFY(shown);
            QCOMPARE(shown == &window(), which == "main");
            const QPoint placed = shown->pos();
            QTRY_VERIFY(shown->frameGeometry().height() > shown->height());
            QTRY_VERIFY2((shown->frameGeometry().center() - centre).manhattanLength() <= 2,
                         qPrintable(QStringLiteral("opening %1: frame centred at %2,%3")
                                        .arg(opening)
                                        .arg(shown->frameGeometry().center().x())
                                        .arg(shown->frameGeometry().center().y())));
            if (opening == 2)
                QCOMPARE(shown->pos(), placed);
            // Its frame settled (the watch that follows it has ended) before the next opening.
            if (opening == 1 && which != "main")
                QTRY_VERIFY(!shown->findChild<QTimer*>("centreOnScreenFrameWatch"));
            if (shown != &window()) {
                shown->close();
                QTRY_VERIFY(!shown->isVisible());
            }
        }
    }

    void replySelectionIsThePrimarySelectionWithLinuxLineEnds_data()
    {
        QTest::addColumn<bool>("mouse");
        QTest::newRow("mouse") << true;
        QTest::newRow("shift+keys") << false;
    }
    void replySelectionIsThePrimarySelectionWithLinuxLineEnds()
    {
        QFETCH(bool, mouse);
        finger& w = window();
        const QByteArray reply("alpha\r\nbeta\rgamma\n");
        w.text1->setData(reply);
        if (mouse) {
            const QPoint from = onScreen(0, 0);
            const QPoint to = onScreen(2, 0);
            QVERIFY(!tool("xdotool", {"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1",
                                      "mousemove", QString::number(to.x()), QString::number(to.y()), "mouseup", "1"})
                         .isNull());
        } else {
            w.text1->setFocus();
            w.text1->setSelection(0, 0);
            QVERIFY(key({"shift+Down", "shift+Down"}));
        }
        QTRY_COMPARE(w.text1->selectedText(), QString("alpha\r\nbeta\r"));
        QTRY_COMPARE(tool("xclip", {"-o", "-selection", "primary"}), QByteArray("alpha\nbeta\n"));

        w.Text3->setFocus();
        QVERIFY(key({"ctrl+c"}));
        QTRY_COMPARE(tool("xclip", {"-o", "-selection", "clipboard"}), QByteArray("alpha\nbeta\n"));
        QCOMPARE(w.text1->data(), reply);
    }

    void rightClickOpensTheMenuAtThePointerAndCopyCopies()
    {
        finger& w = window();
        RecordingPlatform& platform = recordingPlatform();
        // The real menu, at the place the box asks for, so the window manager shows it.
        platform.whileMenuUp = [&platform](QMenu* menu) { menu->popup(platform.menuPositions.last()); };
        w.text1->setData(kProfile);
        const qsizetype word = w.text1->data().indexOf("Brandt");
        w.text1->setSelection(word, 6);
        const QPoint pointer = onScreen(0, w.text1->columnOf(word) + 2);
        QVERIFY(click(pointer, {}, "3"));
        QMenu* menu = w.text1->contextMenu();
        QTRY_VERIFY(menu->isVisible());
        QVERIFY2((menu->pos() - pointer).manhattanLength() <= 2, "the menu opens at the pointer");
        QCOMPARE(w.text1->selectedText(), QString("Brandt"));
        screenshot("context-menu");

        QAction* copy = menu->findChild<QAction*>("copy");
        QVERIFY(copy && copy->isEnabled());
        QVERIFY(click(menu->mapToGlobal(menu->actionGeometry(copy).center())));
        QTRY_VERIFY(!menu->isVisible());
        QTRY_COMPARE(tool("xclip", {"-o", "-selection", "clipboard"}), QByteArray("Brandt"));

        // The Menu key opens it once, at the caret.
        w.text1->setFocus();
        QVERIFY(key({"Menu"}));
        QTRY_VERIFY(menu->isVisible());
        QTest::qWait(200);
        QCOMPARE(platform.menusShown.size(), 2);
        const QPointF caret = w.text1->cellPosition(w.text1->lineOf(w.text1->caretPosition()),
                                                    w.text1->columnOf(w.text1->caretPosition()));
        QCOMPARE(platform.menuPositions.last(),
                 w.text1->viewport()->mapToGlobal(caret.toPoint() + QPoint(0, w.text1->lineHeight())));
        QVERIFY(key({"Escape"}));
        QTRY_VERIFY(!menu->isVisible());
    }

    void ctrlClickOnAFingerLinkRunsItsQuery()
    {
        ScriptedServer server;
        QVERIFY(server.isListening());
        finger& w = launch(clientConfig(server.port())).window();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.text1->setData(kProfile);
        const qsizetype link = w.text1->data().indexOf("finger://");
        const qsizetype line = w.text1->lineOf(link);
        QVERIFY(click(onScreen(line, w.text1->columnOf(link) + 4), {"keydown", "ctrl", "click", "1", "keyup", "ctrl"}));
        QTRY_COMPARE(server.received, QByteArray("zoe\r\n"));
        QCOMPARE(w.text2->currentText(), QString("127.0.0.1"));
    }

    void ctrlFThenEnterFindsAWord()
    {
        finger& w = window();
        w.text1->setData(kProfile);
        w.Text3->setFocus();
        QVERIFY(key({"ctrl+f"}));
        QTRY_VERIFY(w.text1->findWindow() && w.text1->findWindow()->isActiveWindow());
        FindWindow* find = w.text1->findWindow();
        QVERIFY(!tool("xdotool", {"type", "--delay", "20", "gopher"}).isNull());
        QTRY_COMPARE(find->findWhat->text(), QString("gopher"));
        QVERIFY(key({"Return"}));
        QTRY_COMPARE(w.text1->selectedText(), QString("Gopher"));
        // Beside the main window where the screen has room, here below it.
        QVERIFY(w.screen()->availableGeometry().contains(find->frameGeometry()));
        QVERIFY(!find->frameGeometry().intersects(w.frameGeometry()));
        screenshot("find-window");
        QVERIFY(key({"Escape"}));
        QTRY_VERIFY(!find->isVisible());
    }

    void zoomedReplyKeepsItsTopLine()
    {
        finger& w = window();
        w.text1->setData(QByteArray(kProfile).repeated(20));
        w.text1->verticalScrollBar()->setValue(6);
        // Plus as a US keyboard types it, and from the keypad.
        QVERIFY(key({"ctrl+shift+equal"}));
        QTRY_COMPARE(w.text1->fontPointSize(), 12.0);
        QVERIFY(key({"ctrl+KP_Add"}));
        QTRY_COMPARE(w.text1->fontPointSize(), 14.0);
        QVERIFY(key({"ctrl+plus"}));
        QTRY_COMPARE(w.text1->fontPointSize(), 16.0);
        QCOMPARE(w.text1->firstVisibleLine(), 6);
        screenshot("zoomed-reply");
        QVERIFY(key({"ctrl+0"}));
        QTRY_COMPARE(w.text1->fontPointSize(), 11.25);
    }
};

static TestRegistration<DesktopTest> registration;
#include "DesktopTest.moc"
