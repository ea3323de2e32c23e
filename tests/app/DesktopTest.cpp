#include "DesktopSession.h"
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/Twips.h"
#include "client/frmhost.h"
#include "contact/About.h"
#include "contact/SendForm.h"
#include "reply/ReplyBox.h"
#include "server/FingerServerSetup.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
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
        recordingPlatform().launchResult = 2; // no mail program: the feedback form
        const auto open = [&]() -> QWidget* {
            if (which == "setup")
                window().mnuServer->trigger();
            else if (which == "remover")
                window().mnuHost->trigger();
            else if (which == "feedback")
                tray().mnuYarbo->trigger();
            else if (which == "about")
                tray().mnuAbout->trigger();
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (top->isVisible() && (qobject_cast<FingerServerSetup*>(top) || qobject_cast<frmhost*>(top)
                                         || qobject_cast<SendForm*>(top) || qobject_cast<About*>(top)))
                    return top;
            }
            return &window();
        };
        const QPoint centre = QRect(QPoint(0, 0), recordingPlatform().screen).center();
        for (int opening = 1; opening <= (which == "main" ? 1 : 2); ++opening) {
            QWidget* shown = open();
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
};

static TestRegistration<DesktopTest> registration;
#include "DesktopTest.moc"
