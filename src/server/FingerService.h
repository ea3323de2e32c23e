#pragma once

#include "net/SocketComponent.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <optional>
#include <utility>

class FingerServerSetup;
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

    // options: of every socket of the array; profile: what the reply is built from and the dialog edits.
    FingerService(const SocketOptions& options, Profile& profile);
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
    void setReplyText(const QString& text) { m_replyText = text; }

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
    void acceptOnlyWithRoom();

    SocketOptions m_options;
    Profile& m_profile;
    std::array<SocketComponent*, kPoolLimit + 1> m_sockets{};
    // Sockets whose serving step runs, possibly waiting inside Send_Finger_Client.
    std::array<bool, kPoolLimit + 1> m_serving{};
    int m_poolCount = 0;
    bool m_acceptPaused = false;
    QString m_replyText;

    // While the listen request is being made: the listener's error, once reported.
    bool m_awaitingListen = false;
    std::optional<std::pair<int, QString>> m_listenError;

    QPointer<FingerServerSetup> m_setup;
};
