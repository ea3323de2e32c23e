#include "client/FingerClient.h"

#include "app/Config.h"
#include "app/Forms.h"
#include "app/MainWindowPort.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/Text.h"
#include "client/FingerQuery.h"
#include "client/FingerTarget.h"
#include "client/frmhost.h"
#include "net/SocketComponent.h"
#include "reply/ReplyBox.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include <algorithm>

namespace {
constexpr int kKeyEnter = 13;
constexpr int kClientBufferBytes = 4096;
constexpr int kFamilyInternet = 2;
constexpr int kProtocolTcp = 6;
// Without a pause the box repaints after every socket read, which costs more
// than the reading itself; 40 ms still looks like a live stream.
constexpr int kPaintIntervalMs = 40;

QString cutText(const QString& host)
{
    return QStringLiteral("Reply from %1 cut at %2 MiB").arg(host).arg(FingerClient::kReplyLimit / (1024 * 1024));
}
} // namespace

FingerClient::FingerClient(MainWindowPort& window, SocketComponent& socket, int queryLimitMs)
    : m_window(window), m_socket(socket)
{
    m_queryLimit.setSingleShot(true);
    m_queryLimit.setInterval(queryLimitMs);
    connect(&m_queryLimit, &QTimer::timeout, this, [this] { finger_socket_Timeout(0); });

    m_paintHold.setSingleShot(true);
    m_paintHold.setInterval(kPaintIntervalMs);
    connect(&m_paintHold, &QTimer::timeout, this, &FingerClient::releasePainting);
}

FingerClient::~FingerClient() = default;

// --- Host list -------------------------------------------------------------

void FingerClient::fillHostBox(const QStringList& table)
{
    QComboBox* box = m_window.hostBox();
    for (qsizetype n = 0; n < std::min<qsizetype>(table.size(), kHostListSize); ++n) {
        // A host with a control character could only have been written by
        // something else; it is never shown or queried.
        if (!table.at(n).isEmpty() && !hostHasControlCharacter(table.at(n)))
            box->addItem(table.at(n));
    }
    if (box->count() > 0)
        box->setCurrentIndex(0);
}

void FingerClient::captureHostBox(QStringList& table)
{
    QComboBox* box = m_window.hostBox();
    // An emptied list empties the table too: keeping what was loaded would
    // bring back, at the next start, every host the user removed.
    table.clear();
    for (int j = 0; j < box->count(); ++j)
        table.append(box->itemText(j));
}

void FingerClient::addHost(const QString& host, HostRemoval removal)
{
    QComboBox* box = m_window.hostBox();
    if (host.isEmpty() || hostHasControlCharacter(host))
        return;
    for (int i = 0; i < box->count(); ++i) {
        if (box->itemText(i) == host)
            return;
    }
    box->insertItem(0, host);
    if (box->count() <= kHostListSize)
        return;
    const int last = box->count() - 1;
    // Selecting or removing the last entry makes the box show another host;
    // the next click must query the one just typed, so it comes back.
    const QString typed = box->currentText();
    if (removal == HostRemoval::SelectThenRemove) {
        box->setCurrentIndex(last);
        box->removeItem(box->currentIndex());
    } else {
        box->removeItem(last);
    }
    box->setEditText(typed);
}

void FingerClient::mnuHost_Click()
{
    // One Remover at a time: a second copy of the list would undo the first one's "&OK".
    if (m_remover && m_remover->isVisible()) {
        m_remover->raise();
        m_remover->activateWindow();
        return;
    }
    auto* dialog = new frmhost(m_window.hostBox(), m_window.dialogParent());
    m_remover = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    Forms::centreOnScreen(dialog);
    dialog->show();
}

// --- Keys and focus --------------------------------------------------------

void FingerClient::Text2_KeyDown(int& KeyCode, int Shift)
{
    Q_UNUSED(Shift);
    if (KeyCode == kKeyEnter) {
        Command1_Click();
        KeyCode = 0;
    }
}

void FingerClient::Text3_KeyDown(int& KeyCode, int Shift)
{
    Q_UNUSED(Shift);
    if (KeyCode == kKeyEnter) {
        Command1_Click();
        KeyCode = 0;
    }
}

void FingerClient::Text2_GotFocus()
{
    m_window.hostBox()->lineEdit()->selectAll();
}

void FingerClient::Text3_GotFocus()
{
    m_window.userBox()->selectAll();
}

bool FingerClient::eventFilter(QObject* watched, QEvent* event)
{
    const bool hostBox = watched == m_window.hostBox() || watched == m_window.hostBox()->lineEdit();
    const bool userBox = watched == m_window.userBox();
    if (!hostBox && !userBox)
        return false;
    if (event->type() == QEvent::FocusIn) {
        if (hostBox)
            Text2_GotFocus();
        else
            Text3_GotFocus();
        return false;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    // Consumed here, before the combo box could act on Enter itself.
    int keyCode = kKeyEnter;
    const int shift = int(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
    if (hostBox)
        Text2_KeyDown(keyCode, shift);
    else
        Text3_KeyDown(keyCode, shift);
    return keyCode == 0;
}

// --- Queries ---------------------------------------------------------------

void FingerClient::Command1_Click()
{
    startQuery(false);
}

void FingerClient::Command3_Click()
{
    startQuery(true);
}

void FingerClient::startQuery(bool longQuery)
{
    if (m_window.isBusy())
        return;
    m_window.setBusy(true);
    m_running = true;
    try {
        const FingerQuery::BoxTarget target =
            FingerQuery::boxTarget(m_window.hostBox()->currentText(), m_window.userBox()->text());
        if (target.host != m_window.hostBox()->currentText()) {
            // The boxes show what is asked, so the next query asks the same.
            m_window.hostBox()->setEditText(target.host);
            m_window.userBox()->setText(target.user);
        }
        m_queryHost = target.host;
        m_queryText = FingerQuery::queryText(target.user, longQuery);
        m_replyBytes = 0;

        if (m_queryHost.isEmpty()) {
            platform().messageBox(m_window.dialogParent(), QStringLiteral("Please enter a Host name"), Platform::Icon::Exclamation,
                                  kAppTitle);
            m_window.setStatusText(QStringLiteral("Please enter a Host name"));
            m_running = false;
            m_window.setBusy(false);
            m_window.hostBox()->setFocus();
            return;
        }
        // Checked first: a query refused for want of a host keeps the reply box as it was.
        m_window.replyBox()->clear();
        m_replyHost = m_queryHost;
        m_replyUser = target.user;
        m_replyShown = true;

        if (hostHasControlCharacter(m_queryHost)) {
            endQuery(QStringLiteral("Error trying to connect to ") + visibleControls(m_queryHost));
            return;
        }

        addHost(m_queryHost, longQuery ? HostRemoval::SelectThenRemove : HostRemoval::Direct);

        // Other handlers may run while pending events are let through; the
        // busy pointer keeps a second query out, the program may be ending
        // and the user may have stopped the query meanwhile.
        const QPointer<FingerClient> alive(this);
        auto letEventsRun = [this, &alive] {
            QCoreApplication::processEvents();
            return alive && m_running;
        };

        m_window.setStatusText(QStringLiteral("Connecting to ") + m_queryHost);
        if (!letEventsRun())
            return;

        m_socket.setBindPort(0);
        m_socket.setFamily(kFamilyInternet);
        m_socket.setProtocolNumber(kProtocolTcp);
        m_socket.setOptionA(false);
        m_socket.setBufferBytes(kClientBufferBytes);
        m_socket.setOptionB(false);
        if (!longQuery && !letEventsRun())
            return;

        m_socket.setTargetHost(longQuery ? m_queryHost : trimBlanks(m_queryHost));
        m_socket.setTargetPort(RuntimeConfig::kFingerPort);
        if (!letEventsRun())
            return;

        m_queryLimit.start();
        m_socket.setOperation(SocketComponent::OpConnect);
        // What the server's notices appended meanwhile is not part of the reply.
        m_window.replyBox()->clear();
        m_window.replyBox()->beginReply();
    } catch (...) {
        // Never leave the window busy with no query running.
        endQuery(QStringLiteral("Error trying to connect to ") + m_queryHost);
    }
}

void FingerClient::stopQuery()
{
    if (m_running)
        endQuery(QStringLiteral("Stopped by the user"));
}

void FingerClient::endQuery(const QString& status)
{
    m_queryLimit.stop();
    m_running = false;
    m_socket.setOperation(SocketComponent::OpClose);
    m_window.replyBox()->endReply();
    releasePainting();
    m_window.setStatusText(status);
    m_window.setBusy(false);
}

void FingerClient::holdPainting()
{
    if (m_paintHeld)
        return;
    m_paintHeld = true;
    m_window.replyBox()->setUpdatesEnabled(false);
    m_paintHold.start();
}

void FingerClient::releasePainting()
{
    m_paintHold.stop();
    if (!m_paintHeld)
        return;
    m_paintHeld = false;
    // Enabling again schedules the paint of everything held back.
    m_window.replyBox()->setUpdatesEnabled(true);
}

// --- Socket events ---------------------------------------------------------

void FingerClient::finger_socket_Connect()
{
    const QString line = FingerQuery::queryLine(m_queryText);
    m_socket.setWriteCount(line.size());
    m_socket.setWriteData(line);
    const QString target = m_socket.TargetHost();
    m_window.setStatusText(QStringLiteral("Connected to ") + (target.isEmpty() ? m_socket.TargetAddress() : target));
}

void FingerClient::finger_socket_Read(int DataLength, bool IsUrgent)
{
    Q_UNUSED(IsUrgent);
    m_socket.setReadCount(DataLength);
    const QByteArray received = m_socket.ReadBytes();
    QByteArray block = FingerQuery::transformBlock(received);
    if (m_replyBytes + block.size() <= kReplyLimit) {
        m_replyBytes += block.size();
        m_window.replyBox()->append(block);
        holdPainting();
        return;
    }
    qsizetype room = kReplyLimit - m_replyBytes;
    // A cut between the CR put in front of the last LF and that LF would keep
    // a CR the server never sent.
    if (block.size() > received.size() && room == block.size() - 1)
        --room;
    block.truncate(room);
    m_replyBytes = kReplyLimit;
    m_window.replyBox()->append(block);
    endQuery(cutText(m_queryHost));
}

void FingerClient::finger_socket_Disconnect()
{
    endQuery(QStringLiteral("Finger Quobix 2.1"));
}

void FingerClient::finger_socket_LastError(int ErrorCode, const QString& ErrorString)
{
    Q_UNUSED(ErrorString);
    if (ErrorCode == SocketError::TimedOut)
        endQuery(QStringLiteral("Timed out trying to connect to ") + m_queryHost);
    else
        endQuery(QStringLiteral("Error trying to connect to ") + m_queryHost);
}

void FingerClient::finger_socket_Timeout(int Status)
{
    Q_UNUSED(Status);
    endQuery(QStringLiteral("Timed out trying to connect to ") + m_queryHost);
}
