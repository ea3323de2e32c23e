#include "net/DescriptorDrain.h"

#if defined(Q_OS_LINUX)
#include "net/SocketDrain.h"

#include <QCoreApplication>

#include <cerrno>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

DescriptorDrain::DescriptorDrain(int descriptor, QByteArray unsent)
    : QObject(QCoreApplication::instance())
    , m_descriptor(descriptor)
    , m_unsent(std::move(unsent))
    , m_readable(descriptor, QSocketNotifier::Read)
    , m_writable(descriptor, QSocketNotifier::Write)
{
    m_writable.setEnabled(false);
    m_linger.setSingleShot(true);
    m_deadline.setSingleShot(true);
    connect(&m_linger, &QTimer::timeout, this, &DescriptorDrain::finish);
    connect(&m_deadline, &QTimer::timeout, this, &DescriptorDrain::finish);
    connect(&m_readable, &QSocketNotifier::activated, this, &DescriptorDrain::readAndDrop);
    connect(&m_writable, &QSocketNotifier::activated, this, &DescriptorDrain::writeSome);
    m_linger.start(SocketDrain::kLingerMs);
    m_deadline.start(SocketDrain::kLimitMs);
    writeSome();
}

DescriptorDrain::~DescriptorDrain()
{
    closeDescriptor();
}

void DescriptorDrain::writeSome()
{
    while (!m_finished && m_sent < m_unsent.size()) {
        const ssize_t n = ::send(m_descriptor, m_unsent.constData() + m_sent, size_t(m_unsent.size() - m_sent),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            m_sent += n;
            m_linger.start(SocketDrain::kLingerMs); // progress: a slow reader still gets all of it
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_writable.setEnabled(true);
            return;
        } else {
            finish();
            return;
        }
    }
    if (m_finished)
        return;
    m_writable.setEnabled(false);
    m_unsent = QByteArray();
    m_sent = 0;
    m_halfClosed = true;
    ::shutdown(m_descriptor, SHUT_WR);
    if (m_peerEnded)
        finish();
    else
        m_linger.start(SocketDrain::kLingerMs);
}

void DescriptorDrain::readAndDrop()
{
    char buffer[16 * 1024];
    // A bounded amount per wake-up, so a flooding peer cannot hold the thread.
    for (int round = 0; round < 16; ++round) {
        const ssize_t n = ::recv(m_descriptor, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n < 0) {
            finish();
            return;
        }
        // End of the peer's stream: what is left of the reply still goes.
        m_peerEnded = true;
        m_readable.setEnabled(false);
        if (m_halfClosed)
            finish();
        return;
    }
}

void DescriptorDrain::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_linger.stop();
    m_deadline.stop();
    closeDescriptor();
    deleteLater();
}

void DescriptorDrain::closeDescriptor()
{
    m_readable.setEnabled(false);
    m_writable.setEnabled(false);
    if (m_descriptor >= 0)
        ::close(std::exchange(m_descriptor, -1));
}
#endif
