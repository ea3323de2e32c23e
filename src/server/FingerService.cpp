#include "server/FingerService.h"

#include "app/Config.h"
#include "app/Settings.h"
#include "app/WindowFront.h"
#include "net/SocketComponent.h"
#include "server/FingerServerSetup.h"
#include "server/ServerReply.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

#include <utility>

namespace {
constexpr int kFamilyInternet = 2;
constexpr int kProtocolTcp = 6;
// The component takes no answer back; handlers set Response for their own record.
constexpr int kResponseUntouched = 1;
} // namespace

FingerService::FingerService(const SocketOptions& options, Profile& profile)
    : m_options(options)
    , m_profile(profile)
{
    createSocket(0);
}

FingerService::~FingerService()
{
    // The dialog has no parent (it must show while the main window is
    // hidden), so it goes with the service. The sockets are children.
    delete m_setup.data();
}

SocketComponent* FingerService::createSocket(int Index)
{
    auto* socket = new SocketComponent(m_options, this);
    socket->setObjectName(QStringLiteral("FingerServer_%1").arg(Index));
    connect(socket, &SocketComponent::Read, this,
            [this, Index](int DataLength, bool IsUrgent) { FingerServer_Read(Index, DataLength, IsUrgent); });
    connect(socket, &SocketComponent::Disconnect, this, [this, Index] { FingerServer_Disconnect(Index); });
    connect(socket, &SocketComponent::LastError, this, [this, Index](int ErrorCode, const QString& ErrorString) {
        int Response = kResponseUntouched;
        FingerServer_LastError(Index, ErrorCode, ErrorString, Response);
    });
    connect(socket, &SocketComponent::Timeout, this, [this, Index](int Status) {
        int Response = kResponseUntouched;
        FingerServer_Timeout(Index, Status, Response);
    });
    if (Index == 0)
        connect(socket, &SocketComponent::Accept, this,
                [this](qintptr SocketId) { FingerServer_Accept(0, SocketId); });
    m_sockets[Index] = socket;
    return socket;
}

void FingerService::destroySocket(int Index)
{
    SocketComponent* socket = std::exchange(m_sockets[Index], nullptr);
    m_serving[Index] = false;
    // The close lets the written reply drain; no event of this element follows.
    socket->setOperation(SocketComponent::OpClose);
    disconnect(socket, nullptr, this, nullptr);
    socket->deleteLater();
}

SocketComponent* FingerService::FingerServer(int Index) const
{
    return Index >= 0 && Index <= kPoolLimit ? m_sockets[Index] : nullptr;
}

FingerServerSetup* FingerService::setupDialog() const
{
    return m_setup.data();
}

bool FingerService::isListening() const
{
    return m_sockets[0]->LocalPort() > 0;
}

int FingerService::listenPort() const
{
    return m_sockets[0]->LocalPort();
}

void FingerService::ConfigFingerServer()
{
    m_replyText = ServerReply::startupReply(m_profile, m_replyText);

    SocketComponent* listener = m_sockets[0];
    listener->setFamily(kFamilyInternet);
    listener->setProtocolNumber(kProtocolTcp);
    listener->setOptionA(true);
    listener->setOptionB(false);
    listener->setBindPort(RuntimeConfig::kFingerPort);
    listener->setOptionC(true);
    m_listenError.reset();
    m_awaitingListen = true;
    listener->setOperation(SocketComponent::OpListen);
    // The listen itself is done by now; a failure's reason comes as a queued
    // LastError. Deliver just the listener's own pending events, so the line
    // below can say why without running anything else of the program.
    if (!isListening())
        QCoreApplication::sendPostedEvents(listener, QEvent::MetaCall);
    m_awaitingListen = false;

    m_poolCount = 0;
    if (isListening()) {
        emit listenNotice(QStringLiteral("Finger Server Ready!") + ServerReply::kLineEnd);
    } else {
        const auto [code, text] = m_listenError.value_or(std::pair<int, QString>{0, QString()});
        emit listenNotice(ServerReply::listenFailureLine(RuntimeConfig::kFingerPort, code, text));
    }
}

int FingerService::freeSocket() const
{
    for (int i = 1; i <= kPoolLimit; ++i) {
        const SocketComponent* socket = m_sockets[i];
        if (!socket || (!socket->ConnectedState() && !m_serving[i]))
            return i;
    }
    return 0;
}

// Pause accepting at the pool limit so the kernel's backlog holds the next
// client instead of an accepted connection that no socket owns.
void FingerService::acceptOnlyWithRoom()
{
    const bool room = freeSocket() != 0;
    if (!room && !m_acceptPaused) {
        m_acceptPaused = true;
        m_sockets[0]->pauseAccepting();
    } else if (room && m_acceptPaused) {
        m_acceptPaused = false;
        m_sockets[0]->resumeAccepting();
    }
}

void FingerService::FingerServer_Accept(int Index, qintptr SocketId)
{
    Q_UNUSED(Index);
    // Lowest number first: a closed socket is reused, a missing one created.
    const int i = freeSocket();
    if (i == 0) {
        // All 50 busy: the component closes the connection nobody took.
        acceptOnlyWithRoom();
        return;
    }
    SocketComponent* socket = m_sockets[i];
    if (!socket) {
        socket = createSocket(i);
        ++m_poolCount;
    }
    socket->setFamily(kFamilyInternet);
    socket->setProtocolNumber(kProtocolTcp);
    socket->setOptionA(true);
    socket->setBufferBytes(kConnectionBufferBytes);
    socket->setOptionB(false);
    socket->setAcceptHandle(SocketId);
    socket->setOptionC(true);
    acceptOnlyWithRoom();
}

void FingerService::FingerServer_Read(int Index, int DataLength, bool IsUrgent)
{
    Q_UNUSED(IsUrgent);
    SocketComponent* socket = Index > 0 ? FingerServer(Index) : nullptr;
    if (!socket || m_serving[Index])
        return;
    m_serving[Index] = true;
    const QPointer<SocketComponent> served(socket);

    emit visitorNotice(ServerReply::visitorLine(socket->PartnerName(), socket->PartnerAddress()));

    // The query is read in this bounded piece and dropped: every client gets the same reply.
    socket->setReadCount(DataLength);
    socket->ReadData();

    ServerReply::completeWithBanner(m_replyText);
    const QString reply = m_replyText;
    Send_Finger_Client(Index, reply);

    // A time-out during the send wait may have ended this connection, and a
    // new client may hold the number now: close only the socket served here.
    if (served && m_sockets[Index] == served)
        QuitFingerServer(Index);
}

void FingerService::Send_Finger_Client(int xs, const QString& sbuf)
{
    const QPointer<SocketComponent> socket = xs > 0 ? FingerServer(xs) : nullptr;
    auto stillHere = [&] { return socket && m_sockets[xs] == socket; };
    while (stillHere() && socket->BusyState())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!stillHere() || !socket->ConnectedState())
        return;
    const QString s = sbuf + ServerReply::kLineEnd;
    socket->setWriteCount(s.size());
    socket->setWriteData(s);
}

void FingerService::QuitFingerServer(int Index)
{
    // A second close of the same number finds nothing and changes nothing.
    if (Index < 1 || Index > kPoolLimit || !m_sockets[Index])
        return;
    destroySocket(Index);
    --m_poolCount;
    acceptOnlyWithRoom();
}

void FingerService::FingerServer_Disconnect(int Index)
{
    // Closed but kept: the next accept reuses it.
    if (SocketComponent* socket = Index > 0 ? FingerServer(Index) : nullptr)
        socket->setOperation(SocketComponent::OpClose);
    acceptOnlyWithRoom();
}

void FingerService::FingerServer_LastError(int Index, int ErrorCode, const QString& ErrorString, int& Response)
{
    if (Index == 0 && m_awaitingListen && !m_listenError)
        m_listenError = std::pair<int, QString>{ErrorCode, ErrorString};
    switch (ErrorCode) {
    case SocketError::ConnectionReset:
        if (SocketComponent* socket = Index > 0 ? FingerServer(Index) : nullptr)
            socket->setOperation(SocketComponent::OpClose);
        Response = 0;
        break;
    case SocketError::WouldBlock:
        Response = 0;
        break;
    default:
        break;
    }
    // Any failure of a connection leaves its socket closed and free.
    acceptOnlyWithRoom();
}

void FingerService::FingerServer_Timeout(int Index, int Status, int& Response)
{
    Q_UNUSED(Status);
    // The listener has no connection to time out; only connection sockets are ended.
    if (Index > 0)
        QuitFingerServer(Index);
    Response = 0;
}

void FingerService::showSetup(bool modal)
{
    // One dialog at a time: a second request brings the open one forward.
    if (m_setup) {
        bringToFront(m_setup);
        return;
    }
    m_setup = new FingerServerSetup(m_profile);
    connect(m_setup, &FingerServerSetup::replyChosen, this, &FingerService::setReplyText);
    m_setup->setAttribute(Qt::WA_DeleteOnClose);
    // Opened modeless while another of our windows is application-modal, it
    // could not be used until that one closed; it opens modal on top instead.
    if (modal || QApplication::activeModalWidget())
        m_setup->setWindowModality(Qt::ApplicationModal);
    m_setup->show();
}
