#include "net/ListenServer.h"

#include "net/SocketComponent.h"
#include "net/SocketDescriptor.h"

#include <QSet>

namespace {
// Descriptors announced by an Accept event and not yet taken over.
QSet<qintptr>& unclaimedDescriptors()
{
    static QSet<qintptr> descriptors;
    return descriptors;
}
} // namespace

ListenServer::ListenServer(SocketComponent* owner)
    : m_owner(owner)
{
}

void ListenServer::release()
{
    m_owner = nullptr;
}

bool ListenServer::claim(qintptr descriptor)
{
    return unclaimedDescriptors().remove(descriptor);
}

void ListenServer::incomingConnection(qintptr descriptor)
{
    unclaimedDescriptors().insert(descriptor);
    if (m_owner)
        emit m_owner->Accept(descriptor);
    // Nobody took it: close it so the client sees the end instead of waiting.
    if (claim(descriptor))
        SocketDescriptor::close(descriptor);
}
