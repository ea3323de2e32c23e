#include "shell/Form1.h"

#include "app/Forms.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/ProgramIcon.h"
#include "app/TrayWatch.h"
#include "app/Twips.h"
#include "app/WindowFront.h"
#include "shell/LinkQuery.h"
#include "shell/finger.h"
#include "contact/Contact.h"
#include "server/FingerService.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QStyleHints>
#include <QSystemTrayIcon>

#include <cmath>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {
// How often the program looks for a tray that no bus or display announced.
constexpr int kTrayLookMs = 1000;

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const auto written = ::write(g_signalPipe[0], &byte, 1);
}
#endif
} // namespace

Form1::Form1(const RuntimeConfig& config, QWidget* parent)
    // exit(), not quit(): quit() first asks every open window to close, and a
    // window with a question (an unsent feedback mail) would hold the end up.
    // The settings are saved by then; exit() also ends any box's own loop.
    : QWidget(parent), quit([] { QCoreApplication::exit(0); }), m_config(config),
      m_links(std::make_unique<LinkQuery>(*this))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kAppTitle);

    mnuBar = new QMenu(QStringLiteral("PopupMenu"), this);
    mnuBar->setObjectName(QStringLiteral("mnuBar"));
    mnuvisit = Forms::addAction(mnuBar, tr("Visit The Land of Yarbo"), "mnuvisit");
    mnuYarbo = Forms::addAction(mnuBar, tr("Email Yarbo"), "mnuYarbo");
    mnudiv = Forms::addSeparator(mnuBar, "mnudiv");
    mnuAbout = Forms::addAction(mnuBar, tr("About Finger Quobix"), "mnuAbout");
    mnudiv1 = Forms::addSeparator(mnuBar, "mnudiv1");
    mnufinger = Forms::addAction(mnuBar, tr("Finger..."), "mnufinger");
    mnuServer = Forms::addAction(mnuBar, tr("Server Setup"), "mnuServer");
    mnudiv2 = Forms::addSeparator(mnuBar, "mnudiv2");
    mnuMain = Forms::addAction(mnuBar, tr("Exit"), "mnuMain");

    connect(mnuvisit, &QAction::triggered, this, [this] { m_finger->contact().openHomePage(); });
    connect(mnuYarbo, &QAction::triggered, this, [this] { m_finger->contact().mailAuthor(false); });
    connect(mnuAbout, &QAction::triggered, this, [this] { m_finger->contact().showAbout(false); });
    connect(mnufinger, &QAction::triggered, this, [this] { showMainWindow(); });
    connect(mnuServer, &QAction::triggered, this, [this] { m_finger->service().showSetup(false); });
    // Queued, so the menu has closed before the program ends.
    connect(mnuMain, &QAction::triggered, this, &Form1::Form_QueryUnload, Qt::QueuedConnection);

    // The session ending saves like "Exit" and never holds up the logout.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { Form_QueryUnload(); });
}

Form1::~Form1()
{
#ifdef Q_OS_UNIX
    if (m_signalNotifier) {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        ::close(g_signalPipe[0]);
        ::close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }
#endif
}

void Form1::Form_Load()
{
    // The windows were laid out for an 8-point sans serif; its metric twin keeps captions whole.
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setPointSizeF(8.25);
    QApplication::setFont(font);

    // Panels, docks and the compositor know the program by these names,
    // whatever the executable is called (the app id on Wayland, the tray item's title).
    QCoreApplication::setApplicationName(QStringLiteral("Finger Quobix"));
    QGuiApplication::setDesktopFileName(kProgramIconName);

    m_finger = std::make_unique<finger>(m_config);
    setWindowIcon(m_finger->windowIcon());
    connect(m_finger.get(), &finger::exitWanted, this, &Form1::Form_QueryUnload);
    connect(m_finger.get(), &finger::fingerLinkWanted, m_links.get(),
            [this](const QString& link) { m_links->handOver({link}); });
    watchTray();

    hide();
    m_finger->Form_Load();
}

void Form1::watchTray()
{
    if (m_trayWatch)
        return;
    m_trayWatch = new TrayWatch(kTrayLookMs, this);
    connect(m_trayWatch, &TrayWatch::changed, this, [this] {
        updateTrayHost();
        setTrayPresent(m_trayWatch->isPresent());
    });
    // On X11 Qt's own icon waits for a tray manager to appear; elsewhere an
    // icon made before a status-notifier tray exists would never reach one.
    if (onX11())
        createTrayIcon();
    setTrayPresent(m_trayWatch->isPresent());
}

void Form1::setTrayPresent(bool present)
{
    if (present)
        createTrayIcon();
    if (m_tray && !m_ended && !m_tray->isVisible())
        m_tray->show();
    // Without a tray nothing could show a hidden window again.
    m_finger->canHideToTray = present;
}

void Form1::createTrayIcon()
{
    if (m_tray)
        return;
    m_tray = new QSystemTrayIcon(this);
    m_tray->setObjectName(QStringLiteral("pichook"));
    m_tray->setToolTip(QStringLiteral("Finger Quobix"));
    m_tray->setIcon(m_finger->windowIcon());
    // Qt chooses the kind of icon once, by the tray that is there when the first icon is made.
    m_statusNotifierIcon = m_trayWatch && m_trayWatch->hasStatusNotifierHost();
    m_clicks = TrayClicks(TrayHost::XEmbed, QGuiApplication::styleHints()->mouseDoubleClickInterval());
    updateTrayHost();
    m_clickClock.start();

    // Trays that show the menu by themselves (status-notifier trays) get it
    // from the icon; the busy rule below takes it away while a box is up.
    if (trayShowsMenu)
        m_tray->setContextMenu(mnuBar);
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        TrayClicks::Event event = TrayClicks::Event::Other;
        switch (reason) {
        case QSystemTrayIcon::Trigger: event = TrayClicks::Event::Trigger; break;
        case QSystemTrayIcon::DoubleClick: event = TrayClicks::Event::DoubleClick; break;
        case QSystemTrayIcon::Context: event = TrayClicks::Event::Context; break;
        default: break;
        }
        if (const int code = m_clicks.code(event, m_clickClock.elapsed()); code != TrayClicks::kNone)
            notify(code);
    });
    if (!m_statusNotifierIcon && m_trayWatch && onX11())
        m_trayWatch->watchXEmbed();
}

void Form1::updateTrayHost()
{
    const TrayHost host = m_statusNotifierIcon && m_trayWatch
                              ? statusNotifierHost(m_trayWatch->watcherProcess(),
                                                   qEnvironmentVariable("XDG_CURRENT_DESKTOP"))
                              : TrayHost::XEmbed;
    if (host != m_clicks.host())
        m_clicks.setHost(host);
}

void Form1::setTrayMenuOffered(bool offered)
{
    if (m_tray && trayShowsMenu)
        m_tray->setContextMenu(offered ? mnuBar : nullptr);
    if (offered) {
        for (QAction* item : m_itemsTakenAway)
            item->setEnabled(true);
        m_itemsTakenAway.clear();
        return;
    }
    for (QAction* item : mnuBar->actions()) {
        if (!item->isSeparator() && item->isEnabled()) {
            item->setEnabled(false);
            m_itemsTakenAway.push_back(item);
        }
    }
}

void Form1::pichook_MouseMove(double x)
{
    notify(static_cast<int>(std::lround(x / Twips::perPixelX())));
}

void Form1::notify(int code)
{
    m_lastCode = code;
    if (m_busy)
        return;
    m_busy = true;
    // Only what opens a box or a menu of its own needs the tray's menu away.
    const bool opensWindow = code == kLeftDoubleClick || (code == kRightUp && !trayShowsMenu);
    if (opensWindow)
        setTrayMenuOffered(false);
    switch (code) {
    case kLeftDoubleClick:
        platform().messageBox(nullptr, QStringLiteral("Hello hello hello"), Platform::Icon::None, kAppTitle);
        break;
    case kRightUp:
        if (!trayShowsMenu)
            platform().popupMenu(mnuBar, QCursor::pos());
        break;
    default:
        break;
    }
    if (opensWindow)
        setTrayMenuOffered(true);
    m_busy = false;
}

void Form1::showMainWindow(const QByteArray& activationToken)
{
    showWindowInFront(m_finger.get(), activationToken);
}

void Form1::Form_QueryUnload()
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_tray)
        m_tray->hide();
    m_finger->ExitRequested = true;
    m_finger->close();
    quit();
}

void Form1::watchTerminationSignals()
{
#ifdef Q_OS_UNIX
    if (m_signalNotifier || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    m_signalNotifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(g_signalPipe[1], &byte, 1);
        Form_QueryUnload();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
#endif
}
