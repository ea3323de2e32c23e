#pragma once

#include "app/Config.h"
#include "app/MainWindowPort.h"
#include "app/Settings.h"

#include <QCursor>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class ReplyBox;
class StatusLine;
class SocketComponent;
class FingerClient;
class FingerService;
class Transcript;
class Contact;

// The main window: host and user boxes, the two query buttons, the reply box
// and the status line. It owns the program-wide state (profile, host-list
// table) and the subsystems that do the work behind its controls, wires its
// controls to their handlers and offers them its port.
class finger : public QMainWindow, public MainWindowPort
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(finger)

public:
    explicit finger(const RuntimeConfig& config = {}, QWidget* parent = nullptr);
    ~finger() override;

    // Start-up: register, report, load settings, start the server, fill the host box, show.
    void Form_Load();

    // Controls, named as the window's controls.
    QLabel* Label1_0;
    QComboBox* text2;
    QLabel* Label1_1;
    QLineEdit* Text3;
    QPushButton* Command1;
    QPushButton* Command3;
    QFrame* Frame1;
    ReplyBox* text1;
    StatusLine* StatusBar1;
    SocketComponent* finger_socket;

    // Menus and their items.
    QMenu* mnuFile;
    QAction* mnuSave;
    QAction* mnuPrint;
    QAction* mnuHide;
    QMenu* mnuEdit;
    QAction* mnuCopy;
    QAction* mnuSelect;
    QMenu* mnuSetup;
    QAction* mnuHost;
    QAction* mnuServer;
    QMenu* mnuHelp;
    QMenu* mnuYarbo;
    QAction* mnuEmail;
    QAction* mnuAboutYarbo;
    QAction* mnuAbout;

    // Set by the tray's "Exit" so that closing really ends the program.
    bool ExitRequested = false;
    // Whether closing and minimising may hide the window (false without a system tray).
    bool canHideToTray = true;

    // The port, for the subsystems behind the controls. The busy pointer is
    // the window's own hourglass, the query-in-progress state.
    QWidget* dialogParent() override { return this; }
    ReplyBox* replyBox() override { return text1; }
    QComboBox* hostBox() override { return text2; }
    QLineEdit* userBox() override { return Text3; }
    QString replyHost() override;
    QString replyUser() override;
    bool isBusy() const override;
    void setBusy(bool busy) override;
    QString statusText() const override;
    void setStatusText(const QString& text) override;

    Profile& profile() { return m_profile; }
    QStringList& hostTable() { return m_hostTable; }
    const RuntimeConfig& config() const { return m_config; }

    FingerClient& client() { return *m_client; }
    FingerService& service() { return *m_service; }
    Transcript& transcript() { return *m_transcript; }
    Contact& contact() { return *m_contact; }

    // The window's outer size in twips, as the resize rule measures it.
    QSize outerSizeTwips() const;

    void Form_Resize();
    void mnuFile_Click();
    void mnuEdit_Click();
    void mnuSetup_Click();
    void mnuHelp_Click();
    void mnuCopy_Click();
    void mnuSelect_Click();
    void mnuHide_Click();
    // A link followed in the reply box: finger: links run their query here, the
    // others go to the desktop's handler.
    void openReplyLink(const QString& target);

    // The close request: hides the window unless the program is exiting, in
    // which case the host list is captured and the settings saved.
    void Form_QueryUnload(QCloseEvent* event);

signals:
    // Closing was asked for while no tray can bring the window back.
    void exitWanted();
    // A finger: link in a reply asks for its query, as the same link on the command line does.
    void fingerLinkWanted(const QString& link);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createControls();
    void createMenus();
    void wireHandlers();
    void appendLine(const QString& line);

    RuntimeConfig m_config;
    Profile m_profile;
    QStringList m_hostTable;
    std::unique_ptr<FingerClient> m_client;
    std::unique_ptr<FingerService> m_service;
    std::unique_ptr<Transcript> m_transcript;
    std::unique_ptr<Contact> m_contact;
    // Controls with a pointer of their own, which the busy pointer covers for a while.
    std::vector<std::pair<QPointer<QWidget>, QCursor>> m_ownCursors;
    // The status Find last set, and the text it replaced.
    QString m_findStatus;
    QString m_statusBeforeFind;
};
