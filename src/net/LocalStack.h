#pragma once

#include <QString>

// What the socket component reports about this machine's own network.
namespace LocalStack {

// The first non-loopback IPv4 address of an interface that is up, empty when
// there is none.
QString firstIPv4Address();
// Names the TCP/IP layer and its version.
QString stackDescription();
// The process's limit on open sockets, at most 32767.
int socketLimit();

} // namespace LocalStack
