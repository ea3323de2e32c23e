#include "../client/ClientHarness.h"
#include "DesktopSession.h"
#include "ProgramTest.h"
#include "RecordingPlatform.h"
#include "TestMain.h"
#include "app/SingleInstance.h"
#include "app/TrayClicks.h"
#include "shell/LinkQuery.h"

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

// The tray icon on a status-notifier tray: the tests' own watcher on a
// private session bus, on X11 (Xvfb and openbox) or on Wayland (sway).
#ifdef TRAY_ON_WAYLAND
static TestSupport::RunOnDesktop desktop({.windowManager = false, .dbus = true, .wayland = true});
static constexpr bool kWayland = true;
#else
static TestSupport::RunOnDesktop desktop({.windowManager = true, .dbus = true});
static constexpr bool kWayland = false;
#endif

using Event = TrayClicks::Event;

class TrayTest : public ProgramTest
{
    Q_OBJECT

    DesktopSession* m_desktop = nullptr;
    std::unique_ptr<QDBusConnection> m_bus;
    QString m_item;

    // The program's item as the watcher lists it ("service/path"), once it registered.
    QString registeredItem()
    {
        const QDBusMessage reply = m_bus->call(property("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                                        "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems"),
                                               QDBus::Block, 2000);
        const QStringList items = reply.arguments().value(0).value<QDBusVariant>().variant().toStringList();
        // Each test starts a watcher of its own: the program's is the only item.
        return items.value(0);
    }
    static QDBusMessage property(const QString& service, const QString& path, const QString& interface,
                                 const QString& name)
    {
        QDBusMessage get = QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
        get << interface << name;
        return get;
    }
    QDBusMessage itemCall(const QString& method, const QVariantList& arguments = {})
    {
        QDBusMessage call = QDBusMessage::createMethodCall(m_item.section('/', 0, 0), "/StatusNotifierItem",
                                                           "org.kde.StatusNotifierItem", method);
        call.setArguments(arguments);
        return call;
    }
    // The program answers on this thread: a call waits with the event loop running.
    QDBusMessage ask(const QDBusMessage& call)
    {
        QDBusPendingCall pending = m_bus->asyncCall(call, 5000);
        QDBusPendingCallWatcher watcher(pending);
        QSignalSpy done(&watcher, &QDBusPendingCallWatcher::finished);
        if (!pending.isFinished())
            done.wait(5000);
        return pending.reply();
    }
    QVariant itemProperty(const QString& name)
    {
        return ask(property(m_item.section('/', 0, 0), "/StatusNotifierItem", "org.kde.StatusNotifierItem", name))
            .arguments()
            .value(0)
            .value<QDBusVariant>()
            .variant();
    }
    // The exported menu as the tray reads it, in gdbus's notation.
    QString menuLayout()
    {
        const QString menu = itemProperty("Menu").value<QDBusObjectPath>().path();
        return QString::fromUtf8(m_desktop->run("gdbus", {"call", "--session", "--dest", m_item.section('/', 0, 0),
                                                          "--object-path", menu, "--method",
                                                          "com.canonical.dbusmenu.GetLayout", "--", "0", "-1", "@as []"}));
    }
    // Starts the watcher (under that process name) and the program, and waits for its item;
    // the caller checks m_item.
    void startOnTray(const QString& watcherProcess = {})
    {
        QVERIFY2(m_desktop->startStatusNotifierWatcher(watcherProcess), qPrintable(m_desktop->whyNot()));
        m_program = TestSupport::startProgramOnTray();
        QTRY_VERIFY(!(m_item = registeredItem()).isEmpty());
    }
    QJsonObject swayWindow(const QString& title)
    {
        const QJsonDocument tree = QJsonDocument::fromJson(m_desktop->run("swaymsg", {"-t", "get_tree"}));
        std::function<QJsonObject(const QJsonObject&)> find = [&](const QJsonObject& node) -> QJsonObject {
            if (node.value("name").toString() == title && node.contains("app_id"))
                return node;
            for (const QString key : {"nodes", "floating_nodes"}) {
                for (const QJsonValue child : node.value(key).toArray()) {
                    if (const QJsonObject found = find(child.toObject()); !found.isEmpty())
                        return found;
                }
            }
            return {};
        };
        return find(tree.object());
    }
    void screenshot(const QString& name)
    {
        // For the documentation: where TRAY_SHOTS names a folder, grim takes the screen.
        if (const QString folder = qEnvironmentVariable("TRAY_SHOTS"); kWayland && !folder.isEmpty()) {
            // sway redraws title bars lazily: setting the border they have makes it draw them now.
            m_desktop->run("swaymsg", {"[app_id=.*] border normal"});
            m_desktop->run("grim", {folder + "/" + name + ".png"});
        }
    }

private slots:
    void initTestCase()
    {
        m_desktop = TestSupport::desktopForThisRun();
        if (!m_desktop || !m_desktop->isRunning())
            QSKIP(qPrintable(QStringLiteral("No private desktop: ") + (m_desktop ? m_desktop->whyNot() : QString())));
        if (const QString missing = DesktopSession::missingTool({"gdbus"}); !missing.isEmpty())
            QSKIP(qPrintable(missing + " is not installed (scripts/install-deps.sh --tests installs it)"));
        QCOMPARE(QGuiApplication::platformName(), QString(kWayland ? "wayland" : "xcb"));
        m_bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(m_desktop->dbusAddress(), QStringLiteral("tray-test")));
        QVERIFY(m_bus->isConnected());
    }
    void init()
    {
        resetEnvironment();
        qunsetenv("XDG_CURRENT_DESKTOP");
    }
    void cleanup()
    {
        stopProgram();
        m_desktop->stopStatusNotifierWatcher();
        m_item.clear();
    }

    void clicksFollowTheTray_data()
    {
        QTest::addColumn<TrayHost>("host");
        QTest::addColumn<QList<int>>("events"); // Event, time in ms, Event, time ...
        QTest::addColumn<QList<int>>("codes");
        const int trigger = int(Event::Trigger), twice = int(Event::DoubleClick), context = int(Event::Context);
        QTest::newRow("XEmbed double-click greets once")
            << TrayHost::XEmbed << QList<int>{trigger, 0, trigger, 100, twice, 100} << QList<int>{513, 513, 515};
        QTest::newRow("Plasma: two activations are a double-click")
            << TrayHost::StatusNotifier << QList<int>{trigger, 0, trigger, 300} << QList<int>{513, 515};
        QTest::newRow("Plasma: too far apart are two clicks")
            << TrayHost::StatusNotifier << QList<int>{trigger, 0, trigger, 401} << QList<int>{513, 513};
        QTest::newRow("Plasma: a third click starts afresh")
            << TrayHost::StatusNotifier << QList<int>{trigger, 0, trigger, 100, trigger, 200, trigger, 300}
            << QList<int>{513, 515, 513, 515};
        QTest::newRow("Plasma: right button") << TrayHost::StatusNotifier << QList<int>{context, 0} << QList<int>{517};
        QTest::newRow("GNOME: one activation is the double-click")
            << TrayHost::GnomeShell << QList<int>{trigger, 0, trigger, 100} << QList<int>{515, 515};
        QTest::newRow("middle button") << TrayHost::GnomeShell << QList<int>{int(Event::Other), 0} << QList<int>{0};
    }
    void clicksFollowTheTray()
    {
        QFETCH(TrayHost, host);
        QFETCH(QList<int>, events);
        QFETCH(QList<int>, codes);
        TrayClicks clicks(host, 400);
        QList<int> got;
        for (qsizetype i = 0; i + 1 < events.size(); i += 2)
            got << clicks.code(Event(events[i]), events[i + 1]);
        QCOMPARE(got, codes);
    }

    void gnomeShellIsKnownByItsProcessOrTheDesktop_data()
    {
        QTest::addColumn<QString>("process");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<TrayHost>("host");
        QTest::newRow("Plasma") << "kded6" << "KDE" << TrayHost::StatusNotifier;
        QTest::newRow("gnome-shell owns the watcher") << "gnome-shell" << "" << TrayHost::GnomeShell;
        QTest::newRow("desktop list names GNOME") << "" << "ubuntu:GNOME" << TrayHost::GnomeShell;
        QTest::newRow("GNOME Flashback is not the Shell") << "" << "GNOME-Flashback" << TrayHost::StatusNotifier;
    }
    void gnomeShellIsKnownByItsProcessOrTheDesktop()
    {
        QFETCH(QString, process);
        QFETCH(QString, desktop);
        QFETCH(TrayHost, host);
        QCOMPARE(statusNotifierHost(process, desktop), host);
    }

    // Over the bus, as the trays send them: Plasma one Activate per click, GNOME Shell one per double-click.
    void activationsGreetAsTheTrayMeansThem_data()
    {
        QTest::addColumn<QString>("process");
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<int>("activations");
        QTest::addColumn<int>("greetings");
        QTest::newRow("Plasma: a click does nothing") << "" << "KDE" << 1 << 0;
        QTest::newRow("Plasma: a double-click greets") << "" << "KDE" << 2 << 1;
        QTest::newRow("GNOME Shell's watcher") << "gnome-shell" << "" << 1 << 1;
        QTest::newRow("GNOME session") << "" << "GNOME" << 1 << 1;
    }
    void activationsGreetAsTheTrayMeansThem()
    {
        QFETCH(QString, process);
        QFETCH(QString, desktop);
        QFETCH(int, activations);
        QFETCH(int, greetings);
        qputenv("XDG_CURRENT_DESKTOP", desktop.toLocal8Bit());
        startOnTray(process);
        QVERIFY(!m_item.isEmpty());
        // Sent at once, as a double-click's clicks come.
        QList<QDBusPendingCall> calls;
        for (int n = 0; n < activations; ++n)
            calls << m_bus->asyncCall(itemCall("Activate", {0, 0}));
        // A reply to a later call means the activations have been handled.
        QCOMPARE(itemProperty("Title").toString(), QString("Finger Quobix"));
        QCOMPARE(recordingPlatform().boxTexts(), QStringList(greetings, "Hello hello hello"));
        if (greetings)
            QCOMPARE(recordingPlatform().boxes[0].caption, QString("Finger Quobix 2.2"));
    }

    void exportedMenuOffersNothingWhileTheBoxIsUp()
    {
        startOnTray("gnome-shell");
        QVERIFY(!m_item.isEmpty());
        const QString before = menuLayout();
        QVERIFY2(before.contains("'Finger...'") && !before.contains("'enabled': <false>"), qPrintable(before));
        QString whileUp;
        bool shownWhileUp = false;
        recordingPlatform().whileBoxUp = [&](const RecordingPlatform::Box&) {
            whileUp = menuLayout();
            window().hide();
            // The tray's click on "Finger..." while the box is up.
            const QString id = QRegularExpression("\\((\\d+), \\{[^}]*'label': <'Finger...'>").match(whileUp).captured(1);
            QVERIFY(!id.isEmpty());
            QDBusMessage event = QDBusMessage::createMethodCall(m_item.section('/', 0, 0), "/MenuBar",
                                                                "com.canonical.dbusmenu", "Event");
            event << id.toInt() << QString("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
            ask(event);
            shownWhileUp = window().isVisible();
        };
        ask(itemCall("Activate", {0, 0}));
        QCOMPARE(recordingPlatform().boxTexts(), QStringList{"Hello hello hello"});
        QCOMPARE(whileUp.count("'enabled': <false>"), 6);
        QVERIFY(!shownWhileUp);
        const QString after = menuLayout();
        QCOMPARE(after.count("'enabled': <false>"), 0);
        QCOMPARE(after.count("'label'"), before.count("'label'"));
    }

    // Panels name and draw the program by its names, whatever the executable is called.
    void itemAndWindowCarryTheProgramsNames()
    {
        startOnTray();
        QVERIFY(!m_item.isEmpty());
        QCOMPARE(itemProperty("Title").toString(), QString("Finger Quobix"));
        QCOMPARE(itemProperty("Id").toString(), QString("Finger Quobix"));
        QCOMPARE(itemProperty("IconName").toString(), QString("finger-quobix"));
        if (kWayland)
            QTRY_COMPARE(swayWindow("Finger Quobix 2.2").value("app_id").toString(), QString("finger-quobix"));
    }

#ifdef TRAY_ON_WAYLAND
    void trayComingLaterIsUsedUntilItGoes()
    {
        m_program = TestSupport::startProgramOnTray();
        finger& w = window();
        QVERIFY(w.isVisible());
        for (int round = 1; round <= 2; ++round) {
            QVERIFY2(m_desktop->startStatusNotifierWatcher(), qPrintable(m_desktop->whyNot()));
            QTRY_VERIFY(!(m_item = registeredItem()).isEmpty());
            QTRY_VERIFY(w.canHideToTray);
            QVERIFY(!w.close());
            QVERIFY(!w.isVisible());
            tray().mnufinger->trigger();
            QVERIFY(w.isVisible());
            m_desktop->stopStatusNotifierWatcher();
            QTRY_VERIFY(!w.canHideToTray);
        }
        // Without a tray closing ends the program, as nothing could bring the window back.
        w.close();
        QTRY_COMPARE(m_program->quitCalls, 1);
    }

    void minimisingFromTheDecorationHidesIntoTheTray()
    {
        startOnTray();
        QVERIFY(!m_item.isEmpty());
        finger& w = window();
        QTRY_VERIFY(!swayWindow("Finger Quobix 2.2").isEmpty());
        screenshot("tray-main-window");
        for (int round = 1; round <= 2; ++round) {
            // What the decoration's minimise button asks of the window.
            w.windowHandle()->setWindowState(Qt::WindowMinimized);
            QTRY_VERIFY(!w.isVisible());
            QTRY_VERIFY(swayWindow("Finger Quobix 2.2").isEmpty());
            tray().mnufinger->trigger();
            QTRY_VERIFY(swayWindow("Finger Quobix 2.2").value("visible").toBool());
            QCOMPARE(w.windowHandle()->windowState(), Qt::WindowNoState);
        }
        // Put away by the compositor, which no client is told of: "Finger..." still brings it back.
        QVERIFY(!m_desktop->run("swaymsg", {"[title=\"Finger Quobix 2.2\"] move scratchpad"}).isNull());
        QTRY_VERIFY(!swayWindow("Finger Quobix 2.2").value("visible").toBool());
        QTRY_VERIFY(!w.isActiveWindow());
        tray().mnufinger->trigger();
        QTRY_VERIFY(swayWindow("Finger Quobix 2.2").value("visible").toBool());
        QVERIFY(w.isVisible());
    }

    void secondStartBringsTheWindowForward()
    {
        if (const QString missing = DesktopSession::missingTool({"grim"}); !missing.isEmpty() && qEnvironmentVariableIsSet("TRAY_SHOTS"))
            QSKIP(qPrintable(missing + " is not installed"));
        QVERIFY2(m_desktop->startStatusNotifierWatcher(), qPrintable(m_desktop->whyNot()));
        ScriptedServer server;
        m_program = TestSupport::startProgramOnTray(clientConfig(server.port()));
        QTemporaryDir runtime;
        SingleInstance instance(runtime.path());
        QCOMPARE(instance.start({}), SingleInstance::Role::Running);
        LinkQuery links(tray());
        connect(&instance, &SingleInstance::argumentsReceived, &links, &LinkQuery::handOver);
        QTRY_VERIFY(window().isActiveWindow());
        // Another program's window takes the focus.
        QWidget other;
        other.setWindowTitle("Another program");
        other.show();
        QTRY_VERIFY(other.isActiveWindow());

        QProcess mint;
        mint.setProcessEnvironment(m_desktop->environment());
        mint.start("/usr/bin/python3", {QStringLiteral(TESTS_SOURCE_DIR "/support/activation_token.py")});
        QVERIFY(mint.waitForFinished(5000));
        const QByteArray token = mint.readAllStandardOutput().trimmed();
        QVERIFY2(!token.isEmpty(), mint.readAllStandardError().constData());

        QProcess second;
        QProcessEnvironment env = m_desktop->environment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        env.insert("XDG_ACTIVATION_TOKEN", QString::fromLatin1(token));
        second.setProcessEnvironment(env);
        QSignalSpy finished(&second, &QProcess::finished);
        second.start(QStringLiteral(FINGER_QUOBIX_BINARY), {"ann@127.0.0.1"});
        QVERIFY2(finished.wait(5000), second.readAllStandardError().constData());
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE(server.received, QByteArray("ann\r\n"));
        QTRY_VERIFY(window().isActiveWindow());
        QTRY_VERIFY(swayWindow("Finger Quobix 2.2").value("focused").toBool());
        screenshot("tray-second-start");
    }

    void waylandRunPrintsNoWarnings()
    {
        static QStringList warnings;
        warnings.clear();
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type != QtDebugMsg && type != QtInfoMsg)
                warnings << text;
        });
        startOnTray();
        QVERIFY(!m_item.isEmpty());
        QTRY_VERIFY(window().isActiveWindow());
        window().mnuHide->trigger();
        tray().mnufinger->trigger();
        QTRY_VERIFY(window().isActiveWindow());
        qInstallMessageHandler(previous);
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }
#endif
};

static TestRegistration<TrayTest> registration;
#include "TrayTest.moc"
