#pragma once

#include "app/Platform.h"

// The real platform services, over Qt's dialogs, desktop services and printer.
class QtPlatform final : public Platform
{
public:
    // launchWaitMs: how long LaunchDocument waits for the launcher's verdict.
    explicit QtPlatform(int launchWaitMs = 3000);

    Answer messageBox(QWidget* parent, const QString& text, Icon icon, const QString& caption,
                      Buttons buttons) override;
    SaveResult saveFileName(QWidget* parent, const QString& proposedName) override;
    QAction* popupMenu(QMenu* menu, const QPoint& at) override;
    int LaunchDocument(const QString& target, const QString& parameters, int showCommand,
                       const QString& directory, const QString& operation, WId ownerWindow) override;
    std::unique_ptr<PrinterDevice> defaultPrinter(QString* errorText) override;
    QDateTime now() override;
    QSize screenSize() override;

private:
    int m_launchWaitMs;
};
