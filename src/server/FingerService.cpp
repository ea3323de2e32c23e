#include "server/FingerService.h"

#include "app/Config.h"
#include "app/Settings.h"
#include "app/WindowFront.h"
#include "net/SocketComponent.h"
#include "net/ReverseLookupCache.h"
#include "server/FingerServerSetup.h"
#include "server/ServerReply.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <utility>

namespace {
constexpr int kFamilyInternet = 2;
constexpr int kProtocolTcp = 6;
// The component takes no answer back; handlers set Response for their own record.
constexpr int kResponseUntouched = 1;
} // namespace

FingerService::FingerService(const SocketOptions& options, Profile& profile, int queryGraceMs, int visitorNameWaitMs,
                             int listenRetryMs, ReverseLookupCache* names)
    : m_options(options)
    , m_queryGraceMs(queryGraceMs)
    , m_profile(profile)
    , m_names(names ? *names : ReverseLookupCache::shared())
    , m_visitorNameWaitMs(visitorNameWaitMs)
    , m_listenRetryMs(listenRetryMs)
{
    m_clock.start();
    m_graceTimer.setSingleShot(true);
    connect(&m_graceTimer, &QTimer::timeout, this, &FingerService::acceptOnlyWithRoom);
    m_visitTimer.setSingleShot(true);
    connect(&m_visitTimer, &QTimer::timeout, this, [this] {
        const qint64 now = m_clock.elapsed();
        for (Visit& visit : m_visits) {
            if (visit.deadline > now)
                break;
            if (!visit.known) {
                m_names.cancel(std::exchange(visit.ticket, 0));
                visit.known = true;
            }
        }
        flushVisitors();
    });
    m_listenRetry.setInterval(listenRetryMs);
    connect(&m_listenRetry, &QTimer::timeout, this, &FingerService::retryListen);
    createSocket(0);
}

FingerService::~FingerService()
{
    for (const Visit& visit : m_visits)
        m_names.cancel(visit.ticket);
    // The dialog has no parent (it must show while the main window is
    // hidden), so it goes with the service. The sockets are children.
    delete m_setup.data();
}

SocketComponent* FingerService::createSocket(int Index)
{
    ++m_tenure[Index];
    // A number's socket object outlives its element, so the next connection
    // on that number costs no new object and no new signal connections.
    if (SocketComponent* socket = std::exchange(m_retired[Index], nullptr)) {
        m_sockets[Index] = socket;
        return socket;
    }
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
    m_retired[Index] = socket;
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

void FingerService::setReplyText(const QString& text)
{
    m_replyText = text;
    m_replyWireBuilt = false;
}

bool FingerService::listenNow()
{
    SocketComponent* listener = m_sockets[0];
    m_listenError.reset();
    m_awaitingListen = true;
    listener->setOperation(SocketComponent::OpListen);
    // The listen itself is done by now; a failure's reason comes as a queued
    // LastError. Deliver just the listener's own pending events, so the
    // caller can say why without running anything else of the program.
    if (!isListening())
        QCoreApplication::sendPostedEvents(listener, QEvent::MetaCall);
    m_awaitingListen = false;
    return isListening();
}

void FingerService::ConfigFingerServer()
{
    setReplyText(ServerReply::startupReply(m_profile, m_replyText));

    SocketComponent* listener = m_sockets[0];
    listener->setFamily(kFamilyInternet);
    listener->setProtocolNumber(kProtocolTcp);
    listener->setOptionA(true);
    listener->setOptionB(false);
    listener->setBindPort(RuntimeConfig::kFingerPort);
    listener->setOptionC(true);
    const bool listening = listenNow();

    m_poolCount = 0;
    if (listening) {
        emit listenNotice(QStringLiteral("Finger Server Ready!") + ServerReply::kLineEnd);
        return;
    }
    const auto [code, text] = m_listenError.value_or(std::pair<int, QString>{0, QString()});
    // Another program may let the port go; missing rights do not come by waiting.
    const bool retry = code == SocketError::AddressInUse && m_listenRetryMs > 0;
    emit listenNotice(ServerReply::listenFailureLines(RuntimeConfig::kFingerPort, code, text,
                                                       retry ? m_listenRetryMs : 0));
    if (retry)
        m_listenRetry.start();
}

void FingerService::retryListen()
{
    if (listenNow()) {
        m_listenRetry.stop();
        emit listenNotice(QStringLiteral("Finger Server Ready!") + ServerReply::kLineEnd);
        return;
    }
    const auto [code, text] = m_listenError.value_or(std::pair<int, QString>{0, QString()});
    if (code != SocketError::AddressInUse) {
        m_listenRetry.stop();
        emit listenNotice(ServerReply::listenFailureLines(RuntimeConfig::kFingerPort, code, text, 0));
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

bool FingerService::waitsForQuery(int Index) const
{
    const SocketComponent* socket = m_sockets[Index];
    return socket && socket->ConnectedState() && !m_serving[Index];
}

int FingerService::evictableSocket() const
{
    const qint64 graceEnd = m_clock.elapsed() - m_queryGraceMs;
    int oldest = 0;
    for (int i = 1; i <= kPoolLimit; ++i) {
        if (waitsForQuery(i) && m_acceptedAt[i] <= graceEnd && (!oldest || m_acceptedAt[i] < m_acceptedAt[oldest])
            && !m_sockets[i]->hasUnreadData())
            oldest = i;
    }
    return oldest;
}

// Pause accepting at the pool limit so the kernel's backlog holds the next
// client instead of an accepted connection that no socket owns. A connection
// still waiting for its query makes room once its grace time is over.
void FingerService::acceptOnlyWithRoom()
{
    const bool room = freeSocket() != 0 || evictableSocket() != 0;
    if (!room && !m_acceptPaused) {
        m_acceptPaused = true;
        m_sockets[0]->pauseAccepting();
    } else if (room && m_acceptPaused) {
        m_acceptPaused = false;
        m_sockets[0]->resumeAccepting();
    }
    if (room)
        return;
    const qint64 now = m_clock.elapsed();
    qint64 wait = -1;
    for (int i = 1; i <= kPoolLimit; ++i) {
        const qint64 left = m_acceptedAt[i] + m_queryGraceMs - now;
        if (waitsForQuery(i) && left > 0 && (wait < 0 || left < wait))
            wait = left;
    }
    if (wait > 0 && (!m_graceTimer.isActive() || m_graceTimer.remainingTime() > wait))
        m_graceTimer.start(int(wait));
}

void FingerService::FingerServer_Accept(int Index, qintptr SocketId)
{
    Q_UNUSED(Index);
    // Lowest number first: a closed socket is reused, a missing one created;
    // with all 50 taken, the one that has waited longest for a query gives way.
    int i = freeSocket();
    if (i == 0)
        i = evictableSocket();
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
    m_acceptedAt[i] = m_clock.elapsed();
    acceptOnlyWithRoom();
}

void FingerService::FingerServer_Read(int Index, int DataLength, bool IsUrgent)
{
    Q_UNUSED(IsUrgent);
    SocketComponent* socket = Index > 0 ? FingerServer(Index) : nullptr;
    if (!socket || m_serving[Index])
        return;
    m_serving[Index] = true;
    const quint64 tenure = m_tenure[Index];

    noteVisitor(socket->PartnerName(), socket->PartnerAddress());

    // The query is read in this bounded piece and dropped: every client gets the same reply.
    socket->setReadCount(DataLength);
    socket->ReadData();

    // Built once per change of the reply text and shared by every client, so
    // a burst of clients costs one build, not one per client.
    if (!m_replyWireBuilt) {
        ServerReply::completeWithBanner(m_replyText);
        m_replyWire = ServerReply::wireBytes(m_replyText);
        m_replyWireBuilt = true;
    }
    sendBytes(Index, m_replyWire);

    // A time-out during the send wait may have ended this connection, and a
    // new client may hold the number now: close only the socket served here.
    if (m_sockets[Index] && m_tenure[Index] == tenure)
        QuitFingerServer(Index);
}

void FingerService::Send_Finger_Client(int xs, const QString& sbuf)
{
    sendBytes(xs, ServerReply::wireBytes(sbuf));
}

void FingerService::sendBytes(int xs, const QByteArray& wire)
{
    const QPointer<SocketComponent> socket = xs > 0 ? FingerServer(xs) : nullptr;
    const quint64 tenure = socket ? m_tenure[xs] : 0;
    auto stillHere = [&] { return socket && m_sockets[xs] == socket && m_tenure[xs] == tenure; };
    while (stillHere() && socket->BusyState())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!stillHere() || !socket->ConnectedState())
        return;
    socket->setWriteCount(wire.size());
    socket->setWriteBytes(wire);
}

void FingerService::noteVisitor(const QString& name, const QString& address)
{
    Visit visit{++m_lastVisit, address, name, true, 0, m_clock.elapsed() + m_visitorNameWaitMs};
    // A first visit from an address would otherwise be logged by address while
    // its name is on the way. The name comes from the same cache the socket
    // asked, so a name the socket knows is there at once.
    if (m_visitorNameWaitMs > 0 && !address.isEmpty()) {
        const quint64 id = visit.id;
        const std::optional<QString> cached = m_names.lookUp(
            address,
            [this, id](const QString& found) {
                for (Visit& waiting : m_visits) {
                    if (waiting.id == id) {
                        waiting.name = found;
                        waiting.known = true;
                        waiting.ticket = 0;
                        break;
                    }
                }
                flushVisitors();
            },
            visit.ticket);
        visit.name = cached.value_or(QString());
        visit.known = cached.has_value();
    }
    m_visits.push_back(visit);
    flushVisitors();
}

void FingerService::flushVisitors()
{
    while (!m_visits.empty() && m_visits.front().known) {
        const Visit visit = m_visits.front();
        m_visits.pop_front();
        emit visitorNotice(ServerReply::visitorLine(visit.name, visit.address));
    }
    if (m_visits.empty())
        m_visitTimer.stop();
    else if (!m_visitTimer.isActive())
        m_visitTimer.start(int(std::max<qint64>(0, m_visits.front().deadline - m_clock.elapsed())));
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
