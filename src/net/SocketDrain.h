#pragma once

#include <QByteArray>
#include <QtGlobal>

class QTcpSocket;

// Carries a connection its owner closed to its end: the written data drains,
// the write side is shut, and what the peer still sends is read and dropped
// until it closes too. Closing with unread data would send a reset that
// destroys the reply the peer is still reading.
namespace SocketDrain {

// A drain gives up after this long without progress, and after kLimitMs in all.
constexpr int kLingerMs = 5000;
constexpr int kLimitMs = 60000;

// Takes the socket over (its owner has disconnected from it). spare: a second
// descriptor of the connection, or -1; unsent: the bytes written lately, of
// which the socket may still hold the tail.
void start(QTcpSocket* socket, qintptr spare, QByteArray unsent);

} // namespace SocketDrain
