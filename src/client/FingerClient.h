#pragma once

#include <QObject>
#include <QStringList>

class finger;

// The finger client behind the main window's host box, user box and query
// buttons, and the host list with its Hostname Remover.
class FingerClient : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FingerClient)

public:
    explicit FingerClient(finger& window);
    ~FingerClient() override;

    // Start-up: the host box's list from the host-list table.
    void fillHostBox(const QStringList& table);
    // Exit: the host-list table from the host box's list (unchanged when the list is empty).
    void captureHostBox(QStringList& table);
    // "&Hostnames..": the Hostname Remover, modal.
    void mnuHost_Click();

private:
    finger& m_window;
};
