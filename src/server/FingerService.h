#pragma once

#include "app/Config.h"
#include "net/SocketComponent.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

class FingerServerSetup;
class ReverseLookupCache;
struct Profile;

// The finger server on port 79 and the profile it serves, with its setup dialog.
// The socket array FingerServer: element 0 listens for the window's whole
// life, elements 1 to 50 serve one accepted connection each. What it has to
// tell the reply box it emits; the main window shows it.
class FingerService : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FingerService)

public:
    static constexpr int kPoolLimit = 50;
    static constexpr int kConnectionBufferBytes = 1024;

    // options: of every socket of the array; profile: what the reply is built from and the dialog edits;
    // queryGraceMs: how long a client may send nothing before it gives way to the next while all 50 are taken;
    // visitorNameWaitMs: how long a visitor's line waits for its reverse look-up;
    // listenRetryMs: how often listening is tried again while another program holds the port;
    // names: where visitors' names are looked up (null: the program's shared cache).
    FingerService(const SocketOptions& options, Profile& profile, int queryGraceMs = RuntimeConfig().serverQueryGraceMs,
                  int visitorNameWaitMs = RuntimeConfig().visitorNameWaitMs,
                  int listenRetryMs = RuntimeConfig().listenRetryMs, ReverseLookupCache* names = nullptr);
    ~FingerService() override;

    // Start-up: builds the reply text from the profile and starts listening.
    void ConfigFingerServer();
    // The setup dialog: modal from the main window, modeless from the tray.
    void showSetup(bool modal);

    void Send_Finger_Client(int xs, const QString& sbuf);
    void QuitFingerServer(int Index);

    // Events of the socket array, Index first.
    void FingerServer_Accept(int Index, qintptr SocketId);
    void FingerServer_Read(int Index, int DataLength, bool IsUrgent);
    void FingerServer_Disconnect(int Index);
    void FingerServer_LastError(int Index, int ErrorCode, const QString& ErrorString, int& Response);
    void FingerServer_Timeout(int Index, int Status, int& Response);

    // Element Index of the array, null when it does not exist.
    SocketComponent* FingerServer(int Index) const;
    // The number of connection sockets the array holds.
    int poolCount() const { return m_poolCount; }
    bool isListening() const;
    // The port really listened on (the finger port unless the configuration maps it).
    int listenPort() const;

    // The text every client receives (the banner is added when the next client is served).
    const QString& replyText() const { return m_replyText; }
    void setReplyText(const QString& text);
    // The bytes every client was last sent for it, shared by all of them.
    const QByteArray& replyBytes() const { return m_replyWire; }

    // The open setup dialog, if any.
    FingerServerSetup* setupDialog() const;

signals:
    // Start-up: whether the server listens, as a line for the reply box.
    void listenNotice(const QString& line);
    // A visitor came: a line for the end of the reply box, which shows it.
    void visitorNotice(const QString& line);

private:
    SocketComponent* createSocket(int Index);
    void destroySocket(int Index);
    // The lowest connection socket number that is absent or idle; 0 when all 50 are busy.
    int freeSocket() const;
    bool waitsForQuery(int Index) const;
    // The connection that has waited longest for its query, past the grace
    // time and with nothing of it arrived; 0 when there is none.
    int evictableSocket() const;
    void acceptOnlyWithRoom();
    // Makes the listen request; the listener's error, if any, is in m_listenError after it.
    bool listenNow();
    void retryListen();
    void sendBytes(int xs, const QByteArray& wire);
    // Visitor lines go out in the order the visitors came, each once its
    // name is known or its wait is over.
    void noteVisitor(const QString& name, const QString& address);
    void flushVisitors();

    SocketOptions m_options;
    const int m_queryGraceMs;
    Profile& m_profile;
    std::array<SocketComponent*, kPoolLimit + 1> m_sockets{};
    // Closed sockets kept for the next element of the same number.
    std::array<SocketComponent*, kPoolLimit + 1> m_retired{};
    // Counts the elements each number has had, so a step that let events run
    // can tell its own element from a later one on the same object.
    std::array<quint64, kPoolLimit + 1> m_tenure{};
    // Sockets whose serving step runs, possibly waiting inside Send_Finger_Client.
    std::array<bool, kPoolLimit + 1> m_serving{};
    // When each connection socket took its connection, on m_clock.
    std::array<qint64, kPoolLimit + 1> m_acceptedAt{};
    QElapsedTimer m_clock;
    // Wakes the paused listener when a waiting connection passes the grace time.
    QTimer m_graceTimer;
    int m_poolCount = 0;
    bool m_acceptPaused = false;
    QString m_replyText;
    // The reply's bytes as every client receives them, built once per change of the reply text.
    QByteArray m_replyWire;
    bool m_replyWireBuilt = false;

    struct Visit
    {
        quint64 id;
        QString address;
        QString name;
        bool known;
        std::uint64_t ticket; // of the name look-up, 0 when none runs
        qint64 deadline;
    };
    ReverseLookupCache& m_names;
    const int m_visitorNameWaitMs;
    std::deque<Visit> m_visits;
    quint64 m_lastVisit = 0;
    QTimer m_visitTimer;

    const int m_listenRetryMs;
    QTimer m_listenRetry;

    // While the listen request is being made: the listener's error, once reported.
    bool m_awaitingListen = false;
    std::optional<std::pair<int, QString>> m_listenError;

    QPointer<FingerServerSetup> m_setup;
};
