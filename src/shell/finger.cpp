#include "shell/finger.h"

#include "app/AccessKeys.h"
#include "app/ClipboardText.h"
#include "app/Forms.h"
#include "app/Platform.h"
#include "app/ProgramIcon.h"
#include "app/StatusLine.h"
#include "app/Text.h"
#include "app/Twips.h"
#include "app/WindowFront.h"
#include "client/FingerClient.h"
#include "client/FingerQuery.h"
#include "contact/Contact.h"
#include "net/SocketComponent.h"
#include "output/Transcript.h"
#include "reply/FramePacer.h"
#include "reply/ReplyBox.h"
#include "reply/ReplyLinks.h"
#include "reply/ReplyZoom.h"
#include "server/FingerService.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace {
// Design-time client area and the reply box's fixed top, in twips.
constexpr int kClientWidth = 7065;
constexpr int kClientHeight = 3945;
constexpr int kStatusHeight = 270;
constexpr int kReplyTop = 630;
// The smallest client area: room for the last button and a reply box a few lines high.
constexpr int kMinClientWidth = 5400 + 1095 + 120;
constexpr int kMinReplyHeight = 1400;
// The frame and caption that the resize rule's outer size includes, for
// window systems that report no decoration of their own.
constexpr int kNominalFrameWidth = 120;
constexpr int kNominalFrameHeight = 420;
} // namespace

finger::finger(const RuntimeConfig& config, QWidget* parent) : QMainWindow(parent), m_config(config)
{
    setObjectName(QStringLiteral("finger"));
    setWindowTitle(kAppTitle);
    setWindowIcon(programIcon());
    createControls();
    createMenus();
    // Only now does the menu bar have its height: the designed client area lies below it.
    resize(Twips::toPixelsX(kClientWidth), menuBar()->sizeHint().height() + Twips::toPixelsY(kClientHeight));
    new FramePacer(this);
    yieldAccessKeysToMenuBar(this);
    // The Edit menu's keys are checked against its rules as they are pressed, wherever the focus is.
    qApp->installEventFilter(this);

    m_client = std::make_unique<FingerClient>(*this, *finger_socket, m_config.queryLimitMs);
    m_service = std::make_unique<FingerService>(m_config.server, m_profile, m_config.serverQueryGraceMs,
                                               m_config.visitorNameWaitMs, m_config.listenRetryMs);
    m_transcript = std::make_unique<Transcript>(*this);
    m_contact = std::make_unique<Contact>(this, m_config);
    wireHandlers();
}

void finger::wireHandlers()
{
    FingerClient* client = m_client.get();
    connect(Command1, &QPushButton::clicked, client, &FingerClient::Command1_Click);
    connect(Command3, &QPushButton::clicked, client, &FingerClient::Command3_Click);
    // The client sees focus and Enter in the boxes before the combo box could act on Enter itself.
    text2->installEventFilter(client);
    text2->lineEdit()->installEventFilter(client);
    Text3->installEventFilter(client);
    connect(finger_socket, &SocketComponent::Connect, client, &FingerClient::finger_socket_Connect);
    connect(finger_socket, &SocketComponent::Read, client, &FingerClient::finger_socket_Read);
    connect(finger_socket, &SocketComponent::Disconnect, client, &FingerClient::finger_socket_Disconnect);
    connect(finger_socket, &SocketComponent::LastError, client, &FingerClient::finger_socket_LastError);
    connect(finger_socket, &SocketComponent::Timeout, client, &FingerClient::finger_socket_Timeout);
    // Escape anywhere in the window stops a running query.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, client, &FingerClient::stopQuery);
    connect(escape, &QShortcut::activated, text1, &ReplyBox::stopSearch);

    // The reply box's context menu copies and selects as the Edit menu does.
    connect(text1, &ReplyBox::copyRequested, this, &finger::mnuCopy_Click);
    connect(text1, &ReplyBox::selectAllRequested, this, &finger::mnuSelect_Click);
    connect(text1, &ReplyBox::linkActivated, this, &finger::openReplyLink);
    connect(text1, &ReplyBox::searchEnded, this, [this](bool, const QString& status) {
        // A match found after a "Cannot find" takes that stale word back.
        if (!status.isEmpty()) {
            if (m_findStatus.isEmpty() || statusText() != m_findStatus)
                m_statusBeforeFind = statusText();
            setStatusText(m_findStatus = status);
        } else if (!m_findStatus.isEmpty() && statusText() == m_findStatus) {
            setStatusText(m_statusBeforeFind);
            m_findStatus.clear();
        }
    });

    connect(m_service.get(), &FingerService::listenNotice, this,
            [this](const QString& line) { text1->appendNote(line); });
    // Appended at the end, however long the text has grown; the view follows
    // only a reader who is at the end with nothing selected.
    connect(m_service.get(), &FingerService::visitorNotice, this,
            [this](const QString& line) { text1->appendNote(line, ReplyBox::Follow::IfAtEnd); });

    connect(mnuSave, &QAction::triggered, this, [this] { m_transcript->mnuSave_Click(); });
    connect(mnuPrint, &QAction::triggered, this, [this] { m_transcript->mnuPrint_Click(); });
    connect(mnuHost, &QAction::triggered, this, [this] { m_client->mnuHost_Click(); });
    connect(mnuServer, &QAction::triggered, this, [this] { m_service->showSetup(true); });
    connect(mnuEmail, &QAction::triggered, this, [this] { m_contact->mailAuthor(true); });
    connect(mnuAboutYarbo, &QAction::triggered, this, [this] { m_contact->openHomePage(); });
    connect(mnuAbout, &QAction::triggered, this, [this] { m_contact->showAbout(true); });
}

finger::~finger() = default;

void finger::createControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(client);

    using Twips::place;

    Label1_0 = new QLabel(tr("Hostname:"), client);
    place(Label1_0, "Label1_0", 120, 40, 765, 195);
    text2 = new QComboBox(client);
    text2->setEditable(true);
    text2->setInsertPolicy(QComboBox::NoInsert);
    // The host box holds exactly what was typed: no completion that could
    // swap "HOST" for a listed "host" when the field loses the focus.
    text2->setCompleter(nullptr);
    text2->setValidator(new SingleLineValidator(text2));
    place(text2, "text2", 120, 240, 1930, 315);
    Label1_1 = new QLabel(tr("Username (optional):"), client);
    place(Label1_1, "Label1_1", 2160, 45, 1455, 195);
    Text3 = new QLineEdit(client);
    Text3->setValidator(new SingleLineValidator(Text3));
    place(Text3, "Text3", 2160, 240, 1935, 315);
    Command1 = new QPushButton(tr("Short &Finger"), client);
    place(Command1, "Command1", 4200, 240, 1095, 300);
    Command3 = new QPushButton(tr("Long Fi&nger"), client);
    place(Command3, "Command3", 5400, 240, 1095, 300);
    // Enter on a focused button presses it, as Space does; outside a dialog
    // Qt buttons would otherwise ignore it.
    Command1->setAutoDefault(true);
    Command3->setAutoDefault(true);
    Frame1 = new QFrame(client);
    Frame1->setFrameShape(QFrame::HLine);
    Frame1->setFrameShadow(QFrame::Sunken);
    place(Frame1, "Frame1", -80, 0, 7500, 30);
    text1 = new ReplyBox(client);
    place(text1, "text1", 0, kReplyTop, 7080, 3045);

    // The labels name their boxes for screen readers; the reply box has no label of its own.
    Label1_0->setBuddy(text2);
    Label1_1->setBuddy(Text3);
    text1->setAccessibleName(tr("Reply"));
    for (QLabel* label : {Label1_0, Label1_1}) {
        label->setFocusPolicy(Qt::NoFocus);
        // Fonts here run a little wider than the ones the layout was made for; never clip a caption.
        label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
    }
    Frame1->setFocusPolicy(Qt::NoFocus);
    // The user box has the focus first; Tab then visits the buttons, the reply and the host box.
    setTabOrder(Text3, Command1);
    setTabOrder(Command1, Command3);
    setTabOrder(Command3, text1);
    setTabOrder(text1, text2);

    StatusBar1 = new StatusLine(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(StatusBar1);

    finger_socket = new SocketComponent(m_config.client, this);
    finger_socket->setObjectName(QStringLiteral("finger_socket"));

    // Made smaller, the window would push the buttons and boxes out of sight.
    client->setMinimumSize(Twips::toPixelsX(kMinClientWidth), Twips::toPixelsY(kReplyTop + kMinReplyHeight));
    StatusBar1->setFixedHeight(std::max(Twips::toPixelsY(kStatusHeight), StatusBar1->sizeHint().height()));
}

void finger::createMenus()
{
    mnuFile = menuBar()->addMenu(tr("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuSave = Forms::addAction(mnuFile, tr("Save &As..."), "mnuSave");
    mnuPrint = Forms::addAction(mnuFile, tr("&Print"), "mnuPrint");
    Forms::addSeparator(mnuFile, "mnudiv1");
    mnuHide = Forms::addAction(mnuFile, tr("Hi&de"), "mnuHide");

    mnuEdit = menuBar()->addMenu(tr("&Edit"));
    mnuEdit->setObjectName(QStringLiteral("mnuEdit"));
    mnuCopy = Forms::addAction(mnuEdit, tr("&Copy"), "mnuCopy");
    mnuCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    mnuSelect = Forms::addAction(mnuEdit, tr("Selec&t All"), "mnuSelect");
    mnuSelect->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));

    mnuSetup = menuBar()->addMenu(tr("&Setup"));
    mnuSetup->setObjectName(QStringLiteral("mnuSetup"));
    mnuHost = Forms::addAction(mnuSetup, tr("&Hostnames.."), "mnuHost");
    mnuServer = Forms::addAction(mnuSetup, tr("Ser&ver"), "mnuServer");

    mnuHelp = menuBar()->addMenu(tr("&Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuYarbo = mnuHelp->addMenu(tr("&Yarbo on the Web"));
    mnuYarbo->setObjectName(QStringLiteral("mnuYarbo"));
    mnuEmail = Forms::addAction(mnuYarbo, tr("Email Yarbo"), "mnuEmail");
    mnuAboutYarbo = Forms::addAction(mnuYarbo, tr("Visit the Land of Yarbo"), "mnuAboutYarbo");
    mnuAbout = Forms::addAction(mnuHelp, tr("&About Finger Quobix"), "mnuAbout");

    connect(mnuFile, &QMenu::aboutToShow, this, &finger::mnuFile_Click);
    connect(mnuEdit, &QMenu::aboutToShow, this, &finger::mnuEdit_Click);
    connect(mnuSetup, &QMenu::aboutToShow, this, &finger::mnuSetup_Click);
    connect(mnuHelp, &QMenu::aboutToShow, this, &finger::mnuHelp_Click);
    connect(mnuCopy, &QAction::triggered, this, &finger::mnuCopy_Click);
    connect(mnuSelect, &QAction::triggered, this, &finger::mnuSelect_Click);
    connect(mnuHide, &QAction::triggered, this, &finger::mnuHide_Click);
}

void finger::Form_Load()
{
    Forms::centreOnScreen(this);

    // Said now, not found out at exit with the session's changes gone.
    if (QString problem; !Settings::prepareFolder(&problem))
        platform().messageBox(nullptr, problem, Platform::Icon::Exclamation, kAppTitle);
    registerInstalledProgram();

    Command1->setEnabled(false);
    Command3->setEnabled(false);
    setStatusText(QStringLiteral("Loading TCP/IP & System information"));
    setBusy(true);

    QString ownAddress = finger_socket->OwnAddress();
    if (trimBlanks(ownAddress).isEmpty())
        ownAddress = QStringLiteral("127.0.0.1");
    appendLine(QStringLiteral("Local Address: ") + ownAddress);
    appendLine(QStringLiteral("Local Hostname: ") + finger_socket->OwnHostName());
    appendLine(QStringLiteral("Winsock: ") + finger_socket->StackDescription());
    appendLine(QStringLiteral("Max Sockets Available: ")
               + QString::number(static_cast<qint16>(std::min(finger_socket->SocketLimit(), 32767))));
    appendLine(QString());
    appendLine(QStringLiteral("Finger Client Ready!"));
    appendLine(QStringLiteral("Starting Finger Server"));

    initFinger(m_profile, m_hostTable);
    ReplyZoom::keepInSettings(*text1);
    m_service->ConfigFingerServer();
    m_client->fillHostBox(m_hostTable);

    Command1->setEnabled(true);
    Command3->setEnabled(true);
    setBusy(false);
    setStatusText(QStringLiteral("Finger Quobix is ready for action!"));
    // The host box comes first among the children; the user box must still take the focus first.
    Text3->setFocus();
    show();
    // On Wayland the window's own decoration minimises by a request that no
    // state change of the window follows: the request is all there is to see.
    if (QWindow* handle = windowHandle(); handle && onWayland()) {
        connect(handle, &QWindow::windowStateChanged, this, [this, handle](Qt::WindowState state) {
            if (state != Qt::WindowMinimized || !canHideToTray)
                return;
            QTimer::singleShot(0, this, [this, handle] {
                setWindowState(Qt::WindowNoState);
                handle->setWindowState(Qt::WindowNoState);
                hide();
            });
        });
    }
}

void finger::appendLine(const QString& line)
{
    text1->append(line + QStringLiteral("\r\n"));
}

QString finger::replyHost()
{
    return m_client->replyShown() ? m_client->replyHost() : text2->currentText();
}

QString finger::replyUser()
{
    return m_client->replyShown() ? m_client->replyUser() : Text3->text();
}

bool finger::isBusy() const
{
    return testAttribute(Qt::WA_SetCursor) && cursor().shape() == Qt::WaitCursor;
}

void finger::setBusy(bool busy)
{
    if (busy == isBusy())
        return;
    if (!busy) {
        unsetCursor();
        for (const auto& [control, own] : m_ownCursors) {
            if (control)
                control->setCursor(own);
        }
        m_ownCursors.clear();
        return;
    }
    setCursor(Qt::WaitCursor);
    // The text boxes show their I-beam over the window's pointer; while busy the hourglass covers them too.
    for (QWidget* control : findChildren<QWidget*>()) {
        if (control->window() == this && control->testAttribute(Qt::WA_SetCursor)) {
            m_ownCursors.emplace_back(control, control->cursor());
            control->setCursor(Qt::WaitCursor);
        }
    }
}

QString finger::statusText() const
{
    return StatusBar1->text();
}

void finger::setStatusText(const QString& text)
{
    StatusBar1->setText(text);
}

QSize finger::outerSizeTwips() const
{
    QSize outer = frameGeometry().size();
    const QSize inner = size();
    if (outer == inner)
        outer += QSize(Twips::toPixelsX(kNominalFrameWidth), Twips::toPixelsY(kNominalFrameHeight));
    return QSize(Twips::fromPixelsX(outer.width()), Twips::fromPixelsY(outer.height()));
}

void finger::Form_Resize()
{
    if (isMinimized())
        return; // changeEvent hides a minimised window
    const QSize outer = outerSizeTwips();
    // A window made tiny keeps a reply box of at least one pixel; its text is never touched.
    const int replyWidth = std::max(outer.width() - 100, 1);
    const int replyHeight = std::max(outer.height() - (kReplyTop + 1000), 1);
    // The rule counts on a thin frame; a thicker one (a tall title bar) must not
    // push the box's edges and scroll bars under the status line or off the window.
    const int top = Twips::toPixelsY(kReplyTop);
    const QSize room = centralWidget()->size();
    const int width = std::min(Twips::toPixelsX(replyWidth), room.width());
    const int height = std::min(Twips::toPixelsY(replyHeight), room.height() - top);
    text1->setGeometry(0, top, std::max(width, 1), std::max(height, 1));
    Frame1->resize(Twips::toPixelsX(outer.width() + 500), Frame1->height());
}

void finger::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void finger::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || !canHideToTray)
        return;
    // Minimising hides to the tray; the next show comes back at normal size,
    // also when the window was maximised before. Once the state change is done,
    // the state goes back to normal before the window hides: on X11 changing the
    // state of a hidden, minimised window maps it again, and the window manager
    // would frame a window that Qt believes hidden.
    QTimer::singleShot(0, this, [this] {
        setWindowState(Qt::WindowNoState);
        hide();
    });
}

void finger::mnuFile_Click()
{
    const bool enable = !isBusy() && text1->length() > 0;
    mnuSave->setEnabled(enable);
    // A second print run while one is under way is refused.
    mnuPrint->setEnabled(enable && !m_transcript->isPrinting());
}

void finger::mnuEdit_Click()
{
    if (isBusy() || text1->length() == 0) {
        mnuCopy->setEnabled(false);
        mnuSelect->setEnabled(false);
        return;
    }
    mnuCopy->setEnabled(text1->selLength() > 0);
    mnuSelect->setEnabled(true);
}

void finger::mnuSetup_Click()
{
    mnuServer->setEnabled(!isBusy());
}

void finger::mnuHelp_Click()
{
    mnuAbout->setEnabled(!isBusy());
}

void finger::mnuCopy_Click()
{
    text1->setFocus();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(ClipboardText::withPlatformLineEnds(text1->selectedText()));
}

void finger::mnuSelect_Click()
{
    text1->setFocus();
    text1->setSelection(0, text1->length());
}

void finger::openReplyLink(const QString& target)
{
    switch (ReplyLinks::kindOf(target)) {
    case ReplyLinks::Kind::Finger:
        emit fingerLinkWanted(target);
        break;
    case ReplyLinks::Kind::Document:
        if (platform().LaunchDocument(target) < 32)
            setStatusText(QStringLiteral("Unable to open ") + target);
        break;
    case ReplyLinks::Kind::None:
        break;
    }
}

void finger::mnuHide_Click()
{
    // Without a tray nothing could show a hidden window again: it goes to the task bar instead.
    if (canHideToTray)
        hide();
    else
        showMinimized();
}

bool finger::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride && watched->isWidgetType()
        && static_cast<QWidget*>(watched)->window() == this) {
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        // A host or user box that holds text keeps its own Select All and Copy, as any text field.
        const bool boxWithText = ((watched == text2 || watched == text2->lineEdit()) && !text2->currentText().isEmpty())
                                 || (watched == Text3 && !Text3->text().isEmpty());
        if (!boxWithText && (pressed == mnuCopy->shortcut() || pressed == mnuSelect->shortcut())) {
            // The menu's rules apply to the state at the moment of the key, not at the
            // menu's last opening; and its keys act on the reply box, so the focused
            // box does not claim them while the menu's item is enabled.
            mnuEdit_Click();
            const QAction* item = pressed == mnuCopy->shortcut() ? mnuCopy : mnuSelect;
            if (item->isEnabled()) {
                event->ignore();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void finger::closeEvent(QCloseEvent* event)
{
    Form_QueryUnload(event);
}

void finger::Form_QueryUnload(QCloseEvent* event)
{
    if (!ExitRequested) {
        event->ignore();
        if (canHideToTray) {
            hide();
        } else {
            // Without a tray nothing could bring the window back: closing ends the program.
            QTimer::singleShot(0, this, &finger::exitWanted);
        }
        return;
    }
    m_client->captureHostBox(m_hostTable);
    if (QString problem; !saveFinger(m_profile, m_hostTable, &problem))
        platform().messageBox(nullptr, problem, Platform::Icon::Exclamation, kAppTitle);
    event->accept();
}
