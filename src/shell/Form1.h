#pragma once

#include "app/Config.h"
#include "app/TrayClicks.h"

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QAction;
class QMenu;
class QSocketNotifier;
class QSystemTrayIcon;
class TrayWatch;
class finger;
class LinkQuery;

// The hidden tray form: it owns the tray icon and its menu, starts the main
// window and ends the program.
class Form1 : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Form1)

public:
    // Tray notification codes: the mouse messages the icon reports.
    static constexpr int kLeftDown = TrayClicks::kLeftDown;
    static constexpr int kLeftDoubleClick = TrayClicks::kLeftDoubleClick;
    static constexpr int kRightUp = TrayClicks::kRightUp;

    explicit Form1(const RuntimeConfig& config = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // Program start: the icon, then the main window and its start-up.
    void Form_Load();
    // Program end: removes the icon, saves through the main window's close, quits.
    void Form_QueryUnload();
    // A notification from the tray icon; x carries the mouse message in twips.
    void pichook_MouseMove(double x);
    void notify(int code);

    finger* mainWindow() const { return m_finger.get(); }
    // Runs the queries of finger: links, from the command line, a later start or a reply.
    LinkQuery& links() const { return *m_links; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    QMenu* trayMenu() const { return mnuBar; }
    int lastCode() const { return m_lastCode; }
    bool isNotifying() const { return m_busy; }
    bool hasEnded() const { return m_ended; }

    // Whether the tray shows the icon's menu by itself (so the program does not pop it up).
    bool trayShowsMenu = true;
    // Whether a tray is there to hold the icon: the icon then shows and the
    // main window hides into it; without one the window stays reachable.
    void setTrayPresent(bool present);
    // Follows trays coming and going for the rest of the run (a panel that
    // starts after the program, or restarts).
    void watchTray();
    TrayHost trayHost() const { return m_clicks.host(); }
    // How the program really ends; tests replace it.
    std::function<void()> quit;

    // Ends the program through the exit path when SIGTERM or SIGINT arrives.
    void watchTerminationSignals();
    // "Finger...": the main window shown and in front. activationToken: the
    // compositor's token of a later start (Wayland), or its startup id (X11).
    void showMainWindow(const QByteArray& activationToken = {});

    QMenu* mnuBar;
    QAction* mnuvisit;
    QAction* mnuYarbo;
    QAction* mnudiv;
    QAction* mnuAbout;
    QAction* mnudiv1;
    QAction* mnufinger;
    QAction* mnuServer;
    QAction* mnudiv2;
    QAction* mnuMain;

private:
    void createTrayIcon();
    void updateTrayHost();
    // While a box of the tray is up its menu offers nothing, also where the
    // tray shows the menu itself from what the program exports.
    void setTrayMenuOffered(bool offered);

    RuntimeConfig m_config;
    std::unique_ptr<finger> m_finger;
    std::unique_ptr<LinkQuery> m_links;
    QSystemTrayIcon* m_tray = nullptr;
    QSocketNotifier* m_signalNotifier = nullptr;
    TrayWatch* m_trayWatch = nullptr;
    TrayClicks m_clicks;
    QElapsedTimer m_clickClock;
    bool m_statusNotifierIcon = false;
    std::vector<QAction*> m_itemsTakenAway;
    int m_lastCode = 0;
    bool m_busy = false;
    bool m_ended = false;
};
