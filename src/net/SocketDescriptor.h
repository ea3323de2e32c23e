#pragma once

#include <QtGlobal>

// A connection's descriptor below Qt: what the drains and the socket
// component ask the kernel directly, because Qt does not tell or has already
// let go.
namespace SocketDescriptor {

void close(qintptr descriptor);

// Ends our sending side only; what the peer still sends can be read.
void shutdownWrite(qintptr descriptor);

// A second descriptor for the same connection: it outlives Qt's own when Qt
// closes on end of stream, long enough to ask the kernel how the peer ended.
// -1 where the platform offers none.
qintptr spareFor(qintptr descriptor);

// Qt reports a reset exactly like an orderly close; after a FIN the kernel
// waits in CLOSE_WAIT for our side, after a reset the connection is gone.
bool resetByPeer(qintptr spare);

} // namespace SocketDescriptor
