#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

class QDeadlineTimer;
class QLocalSocket;

// One running copy per user. The first start listens on a local socket in the
// user's runtime folder; a later start hands its arguments over that socket
// and ends, so one tray icon and one finger server stay.
class SingleInstance : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)

public:
    enum class Role {
        Running, // this is the running copy (errorText() says if others cannot reach it)
        HandedOver, // the running copy has the arguments: this start ends
        Unanswered, // a copy runs but did not take the arguments (errorText() says why)
    };

    // folder: where the socket lives, the user's runtime folder unless a test names another.
    explicit SingleInstance(const QString& folder = runtimeFolder(), QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString runtimeFolder();
    QString socketPath() const;

    // Becomes the running copy, or hands arguments to the copy already running,
    // with the launcher's activation token (Wayland) or startup id (X11), so
    // that the running copy may take the focus with it.
    // A socket left behind by a run that crashed is replaced.
    Role start(const QStringList& arguments, const QByteArray& activationToken = {});
    // The token a launcher gave this start, read before Qt consumes it.
    static QByteArray activationTokenFromEnvironment();
    QString errorText() const { return m_error; }

signals:
    // A later start's arguments (empty: it only wants the window shown).
    void argumentsReceived(const QStringList& arguments, const QByteArray& activationToken);

private:
    bool handOver(QLocalSocket& peer, const QByteArray& message, const QDeadlineTimer& deadline);
    void receive(QLocalSocket* peer);

    QString m_folder;
    QString m_error;
    QLocalServer m_server;
};
