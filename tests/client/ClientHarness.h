#pragma once

#include "ProgramHarness.h"
#include "reply/ReplyBox.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// A scripted finger server on loopback: it records every byte that clients
// send, counts connections and sends exactly the blocks a test gives it.
class ScriptedServer : public QObject
{
public:
    explicit ScriptedServer(const QHostAddress& address = QHostAddress::LocalHost)
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++connections;
                socket->setParent(this);
                connect(socket, &QIODevice::readyRead, this, [this, socket] { received += socket->readAll(); });
                connect(socket, &QAbstractSocket::disconnected, this, [this] { clientClosed = true; });
                if (!peer)
                    peer = socket;
            }
        });
        m_server.listen(address, 0);
    }

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }

    void send(const QByteArray& bytes)
    {
        peer->write(bytes);
        peer->flush();
    }
    // An orderly close once everything written has gone out.
    void close() { peer->disconnectFromHost(); }

    QByteArray received;
    int connections = 0;
    bool clientClosed = false;
    QPointer<QTcpSocket> peer;

private:
    QTcpServer m_server;
};

// A loopback port that nothing listens on.
inline quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The program with its client port 79 sent to a test port.
inline RuntimeConfig clientConfig(quint16 port, int idleTimeoutMs = 60000)
{
    RuntimeConfig config = TestSupport::testConfig();
    config.client.portMap.insert(RuntimeConfig::kFingerPort, port);
    config.client.connectTimeoutMs = 5000;
    config.client.idleTimeoutMs = idleTimeoutMs;
    return config;
}

// What a user does in the main window.
namespace User {
inline void typeHost(finger& w, const QString& host)
{
    w.text2->lineEdit()->clear();
    QTest::keyClicks(w.text2->lineEdit(), host);
}

inline void typeUser(finger& w, const QString& user)
{
    w.Text3->clear();
    QTest::keyClicks(w.Text3, user);
}

inline void clickShort(finger& w)
{
    QTest::mouseClick(w.Command1, Qt::LeftButton);
}

inline void clickLong(finger& w)
{
    QTest::mouseClick(w.Command3, Qt::LeftButton);
}

inline QStringList hostList(const finger& w)
{
    QStringList hosts;
    for (int i = 0; i < w.text2->count(); ++i)
        hosts << w.text2->itemText(i);
    return hosts;
}
} // namespace User
