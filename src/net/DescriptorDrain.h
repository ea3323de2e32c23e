#pragma once

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

// The drain below Qt, for connections with a spare descriptor. Qt shuts a
// socket down as soon as the peer's end of stream arrives, dropping what it
// has not sent yet, so a client that ends its sending side after the query
// would lose the tail of a long reply. This drain owns the spare descriptor
// and the unsent bytes, and sends them whatever the peer has closed. It
// deletes itself when done.
class DescriptorDrain : public QObject
{
public:
    DescriptorDrain(int descriptor, QByteArray unsent);
    ~DescriptorDrain() override;

private:
    void writeSome();
    void readAndDrop();
    void finish();
    void closeDescriptor();

    int m_descriptor;
    QByteArray m_unsent;
    qsizetype m_sent = 0;
    QSocketNotifier m_readable;
    QSocketNotifier m_writable;
    QTimer m_linger;
    QTimer m_deadline;
    bool m_halfClosed = false;
    bool m_peerEnded = false;
    bool m_finished = false;
};
#endif
