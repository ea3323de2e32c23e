#pragma once

#include <QObject>
#include <QString>

class finger;

// The finger server on port 79 and the profile it serves, with its setup dialog.
class FingerService : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FingerService)

public:
    explicit FingerService(finger& window);
    ~FingerService() override;

    // Start-up: builds the reply text from the profile and starts listening.
    void ConfigFingerServer();
    // The setup dialog: modal from the main window, modeless from the tray.
    void showSetup(bool modal);

private:
    finger& m_window;
};
