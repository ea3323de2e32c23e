#include "DesktopSession.h"
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/Settings.h"
#include "app/Twips.h"
#include "net/SocketComponent.h"
#include "reply/ReplyBox.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QLineEdit>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using TestSupport::startProgram;

namespace {
QStringList lines(const QString& text)
{
    return text.split(QStringLiteral("\r\n"));
}

// The real program in a home of its own: settings with a profile and a host
// list, a private runtime folder (so it never hands over to another copy).
struct RealRun
{
    QTemporaryDir home;
    QString config = home.path() + "/config";
    QProcess process;

    // On the desktop given, or offscreen.
    explicit RealRun(const DesktopSession* desktop = nullptr)
    {
        QProcessEnvironment env = desktop ? desktop->environment() : QProcessEnvironment::systemEnvironment();
        {
            QSettings store(config + "/Finger Quobix.conf", QSettings::IniFormat);
            store.setValue("Finger/Real Name", "Ann Example");
            store.setValue("Setup/Host List0", "a.example");
            store.setValue("Setup/Host List5", "b.example");
        }
        QDir(home.path()).mkpath("runtime");
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("XDG_RUNTIME_DIR", home.path() + "/runtime");
        if (!desktop)
            env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
    }
    ~RealRun()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }

    // SIGTERM, then whether the run ended at once, with status 0 and the exit's save.
    void terminate()
    {
        QElapsedTimer clock;
        clock.start();
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        // A question left open would hold it for ever; an end takes milliseconds.
        QVERIFY2(process.waitForFinished(5000), "the program did not end on SIGTERM");
        qInfo("ended %lld ms after SIGTERM", clock.elapsed());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QSettings store(config + "/Finger Quobix.conf", QSettings::IniFormat);
        QCOMPARE(store.value("Finger/Real Name").toString(), QString("Ann Example"));
        // The host box closed the gap; only the exit save writes that.
        QCOMPARE(store.value("Setup/Host List1").toString(), QString("b.example"));
        QCOMPARE(store.value("Setup/Host List5").toString(), QString());
    }
};
} // namespace

class LifeTest : public ProgramTest
{
    Q_OBJECT

private slots:
    void init()
    {
        resetEnvironment();
    }

    void startupReportsTheMachineAndEndsReady()
    {
        RuntimeConfig config = TestSupport::testConfig();
        config.client.ownAddress = QStringLiteral("192.0.2.7");
        auto program = startProgram(config);
        finger& w = program->window();
        const SocketComponent& socket = *w.finger_socket;
        const QStringList report = lines(w.text1->text()).mid(0, 7);
        QCOMPARE(report, (QStringList{"Local Address: 192.0.2.7", "Local Hostname: " + socket.OwnHostName(),
                                      "Winsock: " + socket.StackDescription(),
                                      "Max Sockets Available: " + QString::number(socket.SocketLimit()), "",
                                      "Finger Client Ready!", "Starting Finger Server"}));
        QCOMPARE(w.statusText(), QString("Finger Quobix is ready for action!"));
        QVERIFY(w.isVisible());
        QVERIFY(!w.isBusy());
        QVERIFY(w.Command1->isEnabled() && w.Command3->isEnabled());
        QCOMPARE(Settings::read(kMakerRegister, "Installed Apps", "App Description1"), kAppTitle);
#ifdef Q_OS_WIN
        QVERIFY(Settings::read(kMakerRegister, "Installed Apps", "App1").endsWith(".exe"));
#else
        // The record names the executable that runs, and finds it again in its own slot.
        const QString app1 = Settings::read(kMakerRegister, "Installed Apps", "App1");
        QCOMPARE(app1, QCoreApplication::applicationFilePath());
        QVERIFY(QFileInfo(app1).isExecutable());
        Settings::write(kMakerRegister, "Installed Apps", "App1", "/opt/old/" + QFileInfo(app1).fileName());
        QCOMPARE(registerInstalledProgram(), 1);
        QCOMPARE(Settings::read(kMakerRegister, "Installed Apps", "App1"), app1);
#endif
    }

    void blankAddressFallsBackToLoopback_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks") << "   ";
    }
    void blankAddressFallsBackToLoopback()
    {
        QFETCH(QString, address);
        RuntimeConfig config = TestSupport::testConfig();
        config.client.ownAddress = address;
        auto program = startProgram(config);
        QVERIFY(program->window().text1->text().startsWith("Local Address: 127.0.0.1\r\n"));
    }

    void startupFillsHostBoxFromSettings()
    {
        Settings::write(kAppName, "Setup", "Host List0", "first.example");
        Settings::write(kAppName, "Setup", "Host List3", "second.example");
        auto program = startProgram();
        QComboBox* box = program->window().text2;
        QCOMPARE(box->count(), 2);
        QCOMPARE(box->currentText(), QString("first.example"));
    }

    void trayDoubleClickGreetsAndBlocksTheMenuWhileUp()
    {
        auto program = startProgram();
        Form1& tray = *program->tray;
        RecordingPlatform& recorder = recordingPlatform();
        int menusWhileUp = -1;
        recorder.whileBoxUp = [&](const RecordingPlatform::Box&) {
            tray.pichook_MouseMove(Form1::kRightUp * Twips::perPixelX());
            menusWhileUp = recorder.menusShown.size();
        };
        tray.pichook_MouseMove(Form1::kLeftDoubleClick * Twips::perPixelX());
        QCOMPARE(recorder.boxes.size(), 1);
        QCOMPARE(recorder.boxes[0].text, QString("Hello hello hello"));
        QCOMPARE(recorder.boxes[0].caption, QString("Finger Quobix 2.2"));
        QCOMPARE(menusWhileUp, 0);
        QCOMPARE(tray.lastCode(), Form1::kRightUp);

        recorder.whileBoxUp = nullptr;
        tray.pichook_MouseMove(Form1::kRightUp * Twips::perPixelX());
        QCOMPARE(recorder.menusShown.size(), 1);
        QCOMPARE(recorder.menusShown[0], tray.trayMenu());
        tray.notify(Form1::kLeftDown);
        QCOMPARE(recorder.boxes.size(), 1);
    }

    void trayShowingItsOwnMenuLosesItWhileBusy()
    {
        auto program = startProgram();
        Form1& tray = *program->tray;
        tray.trayShowsMenu = true;
        tray.trayIcon()->setContextMenu(tray.trayMenu());
        QMenu* menuWhileUp = tray.trayMenu();
        recordingPlatform().whileBoxUp = [&](const RecordingPlatform::Box&) {
            menuWhileUp = tray.trayIcon()->contextMenu();
        };
        tray.notify(Form1::kLeftDoubleClick);
        QCOMPARE(menuWhileUp, nullptr);
        QCOMPARE(tray.trayIcon()->contextMenu(), tray.trayMenu());
        tray.notify(Form1::kRightUp);
        QVERIFY(recordingPlatform().menusShown.isEmpty());
    }

    void trayMenuHasItsItemsInOrder()
    {
        auto program = startProgram();
        QStringList captions;
        for (QAction* item : program->tray->trayMenu()->actions())
            captions << (item->isSeparator() ? QStringLiteral("-") : item->text());
        QCOMPARE(captions, (QStringList{"Visit The Land of Yarbo", "Email Yarbo", "-", "About Finger Quobix", "-",
                                        "Finger...", "Server Setup", "-", "Exit"}));
        QCOMPARE(program->tray->trayIcon()->toolTip(), QString("Finger Quobix"));
    }

    void hidingKeepsContentsAndFingerShowsThemAgain()
    {
        auto program = startProgram();
        finger& w = program->window();
        w.Text3->setText("joe");
        const QByteArray text = w.text1->data();

        QVERIFY(!w.close());
        QVERIFY(!w.isVisible());
        program->tray->mnufinger->trigger();
        QVERIFY(w.isVisible());

        w.mnuHide->trigger();
        QVERIFY(!w.isVisible());
        program->tray->mnufinger->trigger();

        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(!w.isMinimized());
        program->tray->mnufinger->trigger();
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMinimized());

        QCOMPARE(w.text1->data(), text);
        QCOMPARE(w.Text3->text(), QString("joe"));
        QCOMPARE(w.statusText(), QString("Finger Quobix is ready for action!"));
        QCOMPARE(program->quitCalls, 0);
    }

    void fingerShowsTheWindowInTheStateItWasHiddenIn()
    {
        auto program = startProgram();
        finger& w = program->window();
        w.showMaximized();
        QVERIFY(!w.close());
        QVERIFY(!w.isVisible());
        program->tray->mnufinger->trigger();
        QVERIFY(w.isVisible());
        QVERIFY(w.isMaximized());

        // Minimising brings it back at its normal size.
        w.showMinimized();
        QTRY_VERIFY(!w.isVisible());
        program->tray->mnufinger->trigger();
        QVERIFY(w.isVisible());
        QVERIFY(!w.isMaximized());
        QVERIFY(!w.isMinimized());
    }

    void exitCapturesHostBoxAndSaves_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("box");
        QTest::addColumn<QStringList>("saved");
        QTest::newRow("emptied box empties the table") << QStringList{"a", "", "b"} << QStringList{}
                                                       << QStringList{};
        QStringList twenty;
        for (int n = 0; n < 20; ++n)
            twenty << QStringLiteral("h%1").arg(n);
        QTest::newRow("full box") << QStringList{"old"} << twenty << twenty;
        QTest::newRow("shorter box clears the rest")
            << QStringList{"a", "b", "c"} << QStringList{"new", "a"} << QStringList{"new", "a"};
    }
    void exitCapturesHostBoxAndSaves()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, box);
        QFETCH(QStringList, saved);
        for (int n = 0; n < stored.size(); ++n)
            Settings::write(kAppName, "Setup", QStringLiteral("Host List%1").arg(n), stored[n]);
        auto program = startProgram();
        finger& w = program->window();
        w.text2->clear();
        w.text2->addItems(box);
        w.profile().name = "Ann Example";
        w.mnuHide->trigger(); // "Exit" usually comes while the window sits hidden in the tray

        program->tray->mnuMain->trigger();
        QTRY_COMPARE(program->quitCalls, 1);
        QVERIFY(program->tray->hasEnded());
        QVERIFY(!program->tray->trayIcon()->isVisible());
        QVERIFY(w.ExitRequested);
        QVERIFY(!w.isVisible());
        for (int n = 0; n < 20; ++n)
            QCOMPARE(Settings::read(kAppName, "Setup", QStringLiteral("Host List%1").arg(n)), saved.value(n));
        QCOMPARE(Settings::read(kAppName, "Finger", "Real Name"), QString("Ann Example"));
    }

    // Settings that cannot be written are said at start-up (no folder can be
    // made) and at exit, naming the file, before the program ends. Ways that
    // stop root too: a file where a folder must go, a folder where the file must go.
    void unwritableSettingsAreReported_data()
    {
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("atStart");
        QTest::newRow("folder below a file") << "file" << "file is a file, not a folder" << true;
        QTest::newRow("folder where the file goes")
            << "config/Finger Quobix.conf/" << "a folder of that name is in the way" << false;
    }
    void unwritableSettingsAreReported()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, reason);
        QFETCH(bool, atStart);
        QTemporaryDir dir;
        const QString config = dir.filePath(atStart ? "file/config" : "config");
        if (blocker.endsWith('/')) {
            QVERIFY(QDir().mkpath(dir.filePath(blocker)));
        } else {
            QFile file(dir.filePath(blocker));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
        const auto restore = qScopeGuard([] {
            QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, TestSupport::settingsFolder());
        });
        const QString named = "File: " + QDir::toNativeSeparators(config + "/Finger Quobix.conf") + "\nReason: ";

        auto program = startProgram();
        RecordingPlatform& p = recordingPlatform();
        QCOMPARE(p.boxes.size(), atStart ? 1 : 0);
        if (atStart)
            QVERIFY2(p.boxes[0].text.startsWith("The settings folder cannot be created")
                         && p.boxes[0].text.contains(named) && p.boxes[0].text.endsWith(reason),
                     qPrintable(p.boxes[0].text));
        program->window().profile().name = "Ann Example";
        program->tray->mnuMain->trigger();
        QTRY_COMPARE(program->quitCalls, 1);
        QCOMPARE(p.boxes.size(), atStart ? 2 : 1);
        const RecordingPlatform::Box& box = p.boxes.last();
        QVERIFY2(box.text.startsWith("The settings could not be saved") && box.text.contains(named)
                     && box.text.endsWith(reason),
                 qPrintable(box.text));
        QCOMPARE(box.icon, Platform::Icon::Exclamation);
    }

    void withoutTrayClosingEndsTheProgram()
    {
        auto program = startProgram(TestSupport::testConfig(), false);
        finger& w = program->window();
        w.text2->addItem("kept.example");
        w.close();
        QTRY_COMPARE(program->quitCalls, 1);
        QCOMPARE(Settings::read(kAppName, "Setup", "Host List0"), QString("kept.example"));

        // Minimising without a tray is an ordinary minimise.
        auto second = startProgram(TestSupport::testConfig(), false);
        second->window().showMinimized();
        // Hiding would come from a zero timer: let it run.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(second->window().isVisible());
        QVERIFY(second->window().isMinimized());

        // So is "Hide": a hidden window could never come back.
        second->window().showNormal();
        second->window().mnuHide->trigger();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QVERIFY(second->window().isVisible());
        QVERIFY(second->window().isMinimized());
        QCOMPARE(second->quitCalls, 0);
    }

    void terminationSignalSavesSettings()
    {
        const QString binary = QStringLiteral(FINGER_QUOBIX_BINARY);
        QVERIFY2(QFile::exists(binary), qPrintable(binary));
        RealRun run;
        run.process.start(binary, {});
        QVERIFY(run.process.waitForStarted());
        // Registration is the first thing start-up writes; the signal handler is in place before it.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(run.config + "/Tesselwick Solutions.conf"), 10000);
        run.terminate();
    }

    // An unreadable link is reported by the running program: the finger server
    // answers while the box is up, and SIGTERM still ends the run as Exit does.
    void unreadableLinkWaitsForTheRunningProgram()
    {
        RealRun run;
        run.process.start(QStringLiteral(FINGER_QUOBIX_BINARY), {"finger://%00"});
        QVERIFY(run.process.waitForStarted());
        QByteArray reply;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&reply] {
                QTcpSocket visitor;
                visitor.connectToHost(QHostAddress::LocalHost, 79);
                if (!visitor.waitForConnected(1000))
                    return false;
                visitor.write("\r\n");
                while (visitor.waitForReadyRead(2000))
                    reply += visitor.readAll();
                return !reply.isEmpty();
            }(),
            10000);
        QVERIFY2(reply.contains("Ann Example"), reply.constData());
        QVERIFY(run.process.state() == QProcess::Running);
        run.terminate();
        QVERIFY(run.process.readAllStandardError().contains("finger://%00"));
    }

    // SIGTERM asks nothing, not even about an unsent feedback mail.
    void terminationSignalAsksNothing()
    {
        DesktopSession desktop;
        if (!desktop.isRunning())
            QSKIP(qPrintable("No private desktop: " + desktop.whyNot()));
        if (const QString missing = DesktopSession::missingTool({"xdotool"}); !missing.isEmpty())
            QSKIP(qPrintable(missing + " is not installed (scripts/install-deps.sh --tests installs it)"));
        const QString xdotool = QStandardPaths::findExecutable("xdotool");
        RealRun run(&desktop);
        // No desktop launcher on its PATH: "Email Yarbo" falls back to the feedback form.
        QDir(run.home.path()).mkpath("bin");
        QProcessEnvironment env = run.process.processEnvironment();
        env.insert("PATH", run.home.path() + "/bin");
        run.process.setProcessEnvironment(env);
        run.process.start(QStringLiteral(FINGER_QUOBIX_BINARY), {});
        QVERIFY(run.process.waitForStarted());
        auto tool = [&](const QStringList& arguments) { return !desktop.run(xdotool, arguments).isNull(); };
        QVERIFY(tool({"search", "--sync", "--onlyvisible", "--name", "^Finger Quobix 2.2$", "windowactivate", "--sync"}));
        // Help, "&Yarbo on the Web", its first item "Email Yarbo".
        QVERIFY(tool({"key", "--delay", "100", "alt+h", "y", "Return"}));
        QVERIFY(tool({"search", "--sync", "--onlyvisible", "--name", "send an email", "windowactivate", "--sync"}));
        QVERIFY(tool({"key", "Tab"}));
        QVERIFY(tool({"type", "unsent words"}));
        run.terminate();
    }
};

static TestRegistration<LifeTest> registration;
#include "LifeTest.moc"
