#pragma once

#include <QPointer>
#include <QTcpServer>

class SocketComponent;

// Hands every accepted descriptor to the owner's Accept event instead of
// queueing a QTcpSocket, so another component can take it over.
class ListenServer : public QTcpServer
{
public:
    explicit ListenServer(SocketComponent* owner);

    // The owner is going away: no more Accept events.
    void release();

    // True, once, for a descriptor an Accept event has just announced.
    static bool claim(qintptr descriptor);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QPointer<SocketComponent> m_owner;
};
