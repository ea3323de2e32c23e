#include "DesktopSession.h"

#include "TestMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <initializer_list>
#include <utility>

namespace {
constexpr int kStartTimeoutMs = 15000;

// Reads one line from fd within the time; empty when none came.
QByteArray readLine(int fd, int timeoutMs)
{
    QByteArray line;
    QDeadlineTimer deadline(timeoutMs);
    char c = 0;
    while (!deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(deadline.remainingTime())) <= 0)
            break;
        const ssize_t got = ::read(fd, &c, 1);
        if (got <= 0 || c == '\n')
            break;
        line += c;
    }
    return line;
}

// A list of texts as the NULL-ended array of C strings that exec wants.
class CStrings
{
public:
    explicit CStrings(const QStringList& texts)
    {
        for (const QString& text : texts)
            m_storage.push_back(text.toLocal8Bit());
        for (QByteArray& text : m_storage)
            m_pointers.push_back(text.data());
        m_pointers.push_back(nullptr);
    }
    char** data() { return m_pointers.data(); }

private:
    std::vector<QByteArray> m_storage;
    std::vector<char*> m_pointers;
};

// Spawns command with fds dup2'ed as given ({from, to}); -1 on failure.
pid_t spawn(const QStringList& command, const QProcessEnvironment& environment,
            std::initializer_list<std::pair<int, int>> fds)
{
    CStrings argv(command);
    CStrings env(environment.toStringList());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    for (const auto& [from, to] : fds)
        posix_spawn_file_actions_adddup2(&actions, from, to);
    // Each child leads its own process group, so stopping it reaches what it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv.data()[0], &actions, &attributes, argv.data(), env.data()) != 0)
        pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}
} // namespace

struct DesktopSession::Child
{
    pid_t pid = -1;
    int log = -1; // what it printed, to say why it failed

    Child()
    {
        char path[] = "/tmp/desktop-session-XXXXXX";
        log = ::mkostemp(path, O_CLOEXEC);
        if (log >= 0)
            ::unlink(path);
    }

    // The end of what it printed, for a failure message.
    QString output() const
    {
        char buffer[400];
        const off_t size = log >= 0 ? ::lseek(log, 0, SEEK_END) : 0;
        const ssize_t got = size > 0 ? ::pread(log, buffer, sizeof buffer, std::max<off_t>(0, size - off_t(sizeof buffer))) : 0;
        return got > 0 ? QStringLiteral(": ") + QString::fromLocal8Bit(buffer, got).trimmed() : QString();
    }

    bool hasExited() const { return pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == pid; }

    ~Child()
    {
        if (log >= 0)
            ::close(log);
        if (pid <= 0)
            return;
        ::kill(-pid, SIGTERM);
        QDeadlineTimer deadline(3000);
        while (::waitpid(pid, nullptr, WNOHANG) == 0) {
            if (deadline.hasExpired()) {
                ::kill(-pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                break;
            }
            QThread::msleep(10);
        }
    }
};

DesktopSession::DesktopSession(const Options& options)
{
    QStringList tools = options.wayland ? QStringList{QStringLiteral("sway"), QStringLiteral("swaymsg")}
                                        : QStringList{QStringLiteral("Xvfb"), QStringLiteral("xprop"),
                                                      QStringLiteral("xwininfo")};
    if (options.windowManager && !options.wayland)
        tools << QStringLiteral("openbox");
    if (options.tray && !options.wayland)
        tools << QStringLiteral("trayer");
    if (options.dbus)
        tools << QStringLiteral("dbus-daemon");
    if (const QString missing = missingTool(tools); !missing.isEmpty()) {
        m_whyNot = missing + QStringLiteral(" is not installed (scripts/install-deps.sh --tests installs it)");
        return;
    }
    if (options.wayland) {
        if (!startSway(options.screen))
            return;
    } else if (!startXvfb(options.screen)) {
        return;
    }
    if (options.dbus && !startDbus())
        return;
    if (options.wayland)
        return;
    if (options.windowManager
        && (!startChild({QStringLiteral("openbox"), QStringLiteral("--sm-disable")}, "openbox")
            || !waitUntil({QStringLiteral("xprop"), QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")},
                          "window id", "openbox")))
        return;
    if (options.tray && !startXEmbedTray())
        return;
}

bool DesktopSession::startXEmbedTray()
{
    if (!startChild({QStringLiteral("trayer"), QStringLiteral("--edge"), QStringLiteral("bottom"),
                     QStringLiteral("--align"), QStringLiteral("right"), QStringLiteral("--widthtype"),
                     QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("24")},
                    "trayer"))
        return false;
    m_xembedTray = m_children.back().get();
    return waitUntil({QStringLiteral("xwininfo"), QStringLiteral("-root"), QStringLiteral("-tree")}, "\"Trayer\"",
                     "trayer");
}

void DesktopSession::stopXEmbedTray()
{
    stopChild(std::exchange(m_xembedTray, nullptr));
}

bool DesktopSession::startStatusNotifierWatcher(const QString& processName)
{
    QStringList command{QStringLiteral(SNI_WATCHER_BINARY)};
    if (!processName.isEmpty())
        command << QStringLiteral("--comm") << processName;
    QByteArray ready;
    const bool started = startChild(command, "the status-notifier watcher", &ready);
    m_watcher = m_children.back().get();
    return started;
}

void DesktopSession::stopStatusNotifierWatcher()
{
    stopChild(std::exchange(m_watcher, nullptr));
}

bool DesktopSession::newestChildEnded(QString* output) const
{
    *output = m_children.back()->output();
    return m_children.back()->hasExited();
}

void DesktopSession::stopChild(Child* child)
{
    const auto at = std::find_if(m_children.begin(), m_children.end(), [child](const auto& c) { return c.get() == child; });
    if (child && at != m_children.end())
        m_children.erase(at);
}

DesktopSession::~DesktopSession()
{
    while (!m_children.empty())
        m_children.pop_back();
    if (!m_swayFolder.isEmpty())
        QDir(m_swayFolder).removeRecursively();
}

QString DesktopSession::missingTool(const QStringList& tools)
{
    for (const QString& tool : tools) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return tool;
    }
    return QString();
}

bool DesktopSession::startXvfb(const QSize& screen)
{
    // Xvfb picks a free display itself and reports its number.
    QByteArray number;
    if (!startChild({QStringLiteral("Xvfb"), QStringLiteral("-displayfd"), QStringLiteral("3"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                    "Xvfb", &number))
        return false;
    m_display = QLatin1Char(':') + QString::fromLatin1(number);
    return true;
}

bool DesktopSession::startDbus()
{
    QByteArray address;
    if (!startChild({QStringLiteral("dbus-daemon"), QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--nosyslog"), QStringLiteral("--print-address=3")},
                    "dbus-daemon", &address))
        return false;
    m_dbusAddress = QString::fromLatin1(address);
    return true;
}

bool DesktopSession::startChild(const QStringList& command, const char* what, QByteArray* report,
                                const QProcessEnvironment* env)
{
    int pipeFds[2] = {-1, -1};
    if (report && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        m_whyNot = QStringLiteral("cannot make a pipe for ") + QString::fromLatin1(what);
        return false;
    }
    auto child = std::make_unique<Child>();
    const int log = child->log;
    // A child that reports (a display number, a bus address) writes one line to fd 3.
    const QProcessEnvironment childEnv = env ? *env : environment();
    child->pid = report ? spawn(command, childEnv, {{pipeFds[1], 3}, {log, STDOUT_FILENO}, {log, STDERR_FILENO}})
                        : spawn(command, childEnv, {{log, STDOUT_FILENO}, {log, STDERR_FILENO}});
    bool started = child->pid > 0;
    if (report) {
        ::close(pipeFds[1]);
        *report = started ? readLine(pipeFds[0], kStartTimeoutMs) : QByteArray();
        ::close(pipeFds[0]);
        started = !report->isEmpty();
    }
    if (!started)
        m_whyNot = QString::fromLatin1(what) + QStringLiteral(" did not start") + child->output();
    m_children.push_back(std::move(child));
    return started;
}

QByteArray DesktopSession::probe(const QStringList& command) const
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return QByteArray();
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = spawn(command, environment(), {{pipeFds[1], STDOUT_FILENO}, {devNull, STDERR_FILENO}});
    ::close(devNull);
    ::close(pipeFds[1]);
    QByteArray output;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got > 0)
            output.append(buffer, got);
        else if (got == 0 || errno != EINTR)
            break;
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (pid > 0)
        ::waitpid(pid, &status, 0);
    return output;
}

bool DesktopSession::waitUntil(const QStringList& command, const QByteArray& needle, const char* what)
{
    QDeadlineTimer deadline(kStartTimeoutMs);
    const Child& child = *m_children.back();
    while (!probe(command).contains(needle)) {
        if (deadline.hasExpired() || child.hasExited()) {
            m_whyNot = QString::fromLatin1(what) + QStringLiteral(" did not come up on ") + m_display + child.output();
            return false;
        }
        QThread::msleep(50);
    }
    return true;
}

QProcessEnvironment DesktopSession::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (isWayland()) {
        env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_waylandDisplay);
        env.insert(QStringLiteral("SWAYSOCK"), m_swaySocket);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        env.remove(QStringLiteral("DISPLAY"));
    } else {
        env.insert(QStringLiteral("DISPLAY"), m_display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    // The user's own cookie file has nothing for this display.
    env.remove(QStringLiteral("XAUTHORITY"));
    if (!m_dbusAddress.isEmpty())
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_dbusAddress);
    return env;
}

void DesktopSession::useInThisProcess() const
{
    if (isWayland()) {
        qputenv("WAYLAND_DISPLAY", m_waylandDisplay.toLocal8Bit());
        qputenv("SWAYSOCK", m_swaySocket.toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "wayland");
        qunsetenv("DISPLAY");
    } else {
        qputenv("DISPLAY", m_display.toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qunsetenv("WAYLAND_DISPLAY");
    }
    qunsetenv("XAUTHORITY");
    if (!m_dbusAddress.isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_dbusAddress.toLocal8Bit());
}

QByteArray DesktopSession::run(const QString& tool, const QStringList& arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessEnvironment(environment());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(tool, arguments);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return QByteArray();
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QByteArray();
    QByteArray output = process.readAllStandardOutput();
    // A tool that succeeded without output still differs from one that failed.
    if (output.isNull())
        output = QByteArray("");
    return output;
}

namespace TestSupport {
namespace {
std::unique_ptr<DesktopSession> g_desktop;
} // namespace

RunOnDesktop::RunOnDesktop(const DesktopSession::Options& options)
{
    beforeApplication([options] {
        g_desktop = std::make_unique<DesktopSession>(options);
        if (g_desktop->isRunning())
            g_desktop->useInThisProcess();
    });
}

DesktopSession* desktopForThisRun()
{
    return g_desktop.get();
}
} // namespace TestSupport
