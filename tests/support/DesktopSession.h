#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// A private X desktop for the tests that need a real one: Xvfb on a free
// display, and on request a window manager, a system tray and a D-Bus session
// bus. Everything it starts it stops again by process id, newest first.
// It needs no application object, so it can start before one exists and the
// test's own windows can run on it.
class DesktopSession
{
public:
    struct Options
    {
        bool windowManager = true; // openbox
        bool tray = false; // trayer, a system tray with the XEmbed protocol
        bool dbus = false; // a private session bus
        // sway on the headless back end instead of Xvfb (and no window manager or XEmbed tray)
        bool wayland = false;
        QSize screen = QSize(1024, 768);
    };

    DesktopSession() : DesktopSession(Options{}) {}
    explicit DesktopSession(const Options& options);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // False when a tool is missing or failed to start; whyNot() says which, for QSKIP.
    bool isRunning() const { return m_whyNot.isEmpty(); }
    QString whyNot() const { return m_whyNot; }

    QString display() const { return m_display; }
    bool isWayland() const { return !m_waylandDisplay.isEmpty(); }
    // The compositor's socket, an absolute path, and its control socket for swaymsg.
    QString waylandDisplay() const { return m_waylandDisplay; }
    QString swaySocket() const { return m_swaySocket; }
    QString dbusAddress() const { return m_dbusAddress; }
    // The environment of a child program that should run on this desktop (Qt on xcb).
    QProcessEnvironment environment() const;
    // Points this process at the desktop, before its application object exists.
    void useInThisProcess() const;

    // A tray comes or goes while the test runs: the XEmbed tray (trayer), or the
    // tests' own status-notifier watcher on the session bus, under a process
    // name of the test's choice. False (whyNot() says why) when it cannot start.
    bool startXEmbedTray();
    void stopXEmbedTray();
    bool startStatusNotifierWatcher(const QString& processName = {});
    void stopStatusNotifierWatcher();

    // The first of these tools not found on PATH, or an empty string.
    static QString missingTool(const QStringList& tools);
    // Runs a tool on this desktop and returns its standard output, or a null
    // array when it did not exit with status 0 within the time. The event loop
    // keeps running meanwhile, so the tool may talk to this process's windows
    // (xclip asking for a selection this process owns). Needs the application object.
    QByteArray run(const QString& tool, const QStringList& arguments, int timeoutMs = 10000) const;

private:
    struct Child;
    bool startXvfb(const QSize& screen);
    bool startSway(const QSize& screen);
    void stopChild(Child* child);
    // Whether the child started last has ended; output: the end of what it printed.
    bool newestChildEnded(QString* output) const;
    bool startDbus();
    // report: where a child that reports a line on fd 3 puts it.
    // env: its environment when not this desktop's.
    bool startChild(const QStringList& command, const char* what, QByteArray* report = nullptr,
                    const QProcessEnvironment* env = nullptr);
    // Runs a tool to its end without the event loop (before the application exists).
    QByteArray probe(const QStringList& command) const;
    bool waitUntil(const QStringList& command, const QByteArray& needle, const char* what);

    QString m_whyNot;
    QString m_display;
    QString m_dbusAddress;
    QString m_waylandDisplay;
    QString m_swaySocket;
    QString m_swayFolder;
    Child* m_xembedTray = nullptr;
    Child* m_watcher = nullptr;
    std::vector<std::unique_ptr<Child>> m_children;
};

namespace TestSupport {
// The desktop that this test executable's windows run on: started before the
// application object, with Qt pointed at it through xcb. A test skips with
// desktopForThisRun()->whyNot() when it is not running. Declare once per executable:
//   static TestSupport::RunOnDesktop desktop({.windowManager = true, .tray = true});
struct RunOnDesktop
{
    explicit RunOnDesktop(const DesktopSession::Options& options);
};
DesktopSession* desktopForThisRun();
} // namespace TestSupport
