#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

class MainWindowPort;
class QEvent;
class SocketComponent;
class frmhost;

// The finger client behind the main window's host box, user box and query
// buttons, and the host list with its Hostname Remover. It reaches the window
// through its port; the window wires its buttons, its boxes' keys (this object
// is their event filter) and the client socket's events to the handlers here.
class FingerClient : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FingerClient)

public:
    // A reply is cut here so a server that never stops cannot exhaust memory.
    static constexpr qint64 kReplyLimit = 64LL * 1024 * 1024;

    // How Add drops the entry pushed past the end of a full host list.
    enum class HostRemoval {
        Direct, // the short query removes the last entry
        SelectThenRemove, // the long query selects the last entry, then removes the selection
    };

    // queryLimitMs: however the server trickles, a query ends as timed out this long after it started connecting.
    FingerClient(MainWindowPort& window, SocketComponent& socket, int queryLimitMs);
    ~FingerClient() override;

    // Start-up: the host box's list from the host-list table.
    void fillHostBox(const QStringList& table);
    // Exit: the host-list table from the host box's list, one slot per entry.
    void captureHostBox(QStringList& table);
    // "&Hostnames..": the Hostname Remover, modal.
    void mnuHost_Click();

    // Offers a host to the list: added at the top unless listed already, at most 20 kept.
    void addHost(const QString& host, HostRemoval removal);

    // "Short &Finger", and Enter in the host box or the user box.
    void Command1_Click();
    // "Long Fi&nger".
    void Command3_Click();
    // Key code 13 starts a short query and is then discarded (set to 0).
    void Text2_KeyDown(int& KeyCode, int Shift);
    void Text3_KeyDown(int& KeyCode, int Shift);
    void Text2_GotFocus();
    void Text3_GotFocus();

    // Events of the client socket.
    void finger_socket_Connect();
    void finger_socket_Read(int DataLength, bool IsUrgent);
    void finger_socket_Disconnect();
    void finger_socket_LastError(int ErrorCode, const QString& ErrorString);
    void finger_socket_Timeout(int Status);

    // Escape: a running query ends at once, its reply so far kept. Nothing
    // happens when no query runs.
    void stopQuery();
    bool queryRunning() const { return m_running; }

    // The last query's host as typed and its query text.
    QString queryHost() const { return m_queryHost; }
    QString queryText() const { return m_queryText; }
    // The host and user box texts of the query whose reply the reply box shows;
    // false before the first query.
    bool replyShown() const { return m_replyShown; }
    QString replyHost() const { return m_replyHost; }
    QString replyUser() const { return m_replyUser; }

    // Focus and Enter in the host and user boxes.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startQuery(bool longQuery);
    // Closes the socket and leaves the busy state with a status text.
    void endQuery(const QString& status);
    // While a reply streams in, the reply box is painted at most once per interval.
    void holdPainting();
    void releasePainting();

    MainWindowPort& m_window;
    SocketComponent& m_socket;
    QString m_queryHost;
    QString m_queryText;
    QString m_replyHost;
    QString m_replyUser;
    bool m_replyShown = false;
    qint64 m_replyBytes = 0;
    QPointer<frmhost> m_remover;
    // Ends a query that a trickling server would otherwise hold for ever.
    QTimer m_queryLimit;
    bool m_running = false;
    QTimer m_paintHold;
    bool m_paintHeld = false;
};
