// The Wayland side of DesktopSession: sway on its headless back end, on a
// runtime folder of its own.
#include "DesktopSession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kStartTimeoutMs = 15000;

QString firstEntry(const QString& folder, const QString& pattern)
{
    const QStringList found = QDir(folder).entryList({pattern}, QDir::System | QDir::Files);
    return found.isEmpty() ? QString() : folder + QLatin1Char('/') + found.first();
}
} // namespace

bool DesktopSession::startSway(const QSize& screen)
{
    char folder[] = "/tmp/fq-sway-XXXXXX";
    if (!::mkdtemp(folder)) {
        m_whyNot = QStringLiteral("cannot make a runtime folder for sway");
        return false;
    }
    m_swayFolder = QString::fromLocal8Bit(folder);
    // sway refuses to run as root: then it runs as nobody, on a folder nobody owns.
    QStringList command;
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || missingTool({QStringLiteral("setpriv")}) == QStringLiteral("setpriv")) {
            m_whyNot = QStringLiteral("sway cannot run as root, and there is no user nobody or no setpriv to leave root");
            return false;
        }
        [[maybe_unused]] const int owned = ::chown(folder, nobody->pw_uid, nobody->pw_gid);
        command << QStringLiteral("setpriv") << QStringLiteral("--reuid=nobody") << QStringLiteral("--regid=nogroup")
                << QStringLiteral("--clear-groups");
    }
    ::chmod(folder, 0700);
    QFile config(m_swayFolder + QStringLiteral("/config"));
    if (!config.open(QIODevice::WriteOnly)) {
        m_whyNot = QStringLiteral("cannot write sway's configuration");
        return false;
    }
    // A window that a launcher's token asks for comes to the front, as on the big desktops.
    config.write(QStringLiteral("output HEADLESS-1 mode %1x%2\n"
                                "xwayland disable\n"
                                "focus_on_window_activation focus\n")
                     .arg(screen.width())
                     .arg(screen.height())
                     .toUtf8());
    config.close();
    command << QStringLiteral("sway") << QStringLiteral("--config") << config.fileName();

    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_swayFolder);
    env.insert(QStringLiteral("HOME"), m_swayFolder);
    env.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    env.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("SWAYSOCK"));
    if (!startChild(command, "sway", nullptr, &env))
        return false;

    QDeadlineTimer deadline(kStartTimeoutMs);
    QString output;
    for (;;) {
        m_waylandDisplay = firstEntry(m_swayFolder, QStringLiteral("wayland-?"));
        m_swaySocket = firstEntry(m_swayFolder, QStringLiteral("sway-ipc.*.sock"));
        if (!m_waylandDisplay.isEmpty() && !m_swaySocket.isEmpty())
            return true;
        if (newestChildEnded(&output) || deadline.hasExpired()) {
            m_waylandDisplay.clear();
            m_whyNot = QStringLiteral("sway did not come up") + output;
            return false;
        }
        QThread::msleep(20);
    }
}
