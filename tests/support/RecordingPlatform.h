#pragma once

#include "app/Platform.h"

#include <QList>
#include <QStringList>

#include <functional>

// Platform services for tests: records every request and answers at once
// from a script, so no test ever waits on a modal window.
class RecordingPlatform final : public Platform
{
public:
    struct Box
    {
        QString text;
        Icon icon;
        QString caption;
        Buttons buttons;
    };

    // Message boxes shown, in order, and the answers to give (Ok/Yes when the queue is empty).
    QList<Box> boxes;
    QList<Answer> answers;
    // Runs while a box is "up", as a nested event loop would let other events run.
    std::function<void(const Box&)> whileBoxUp;

    // Save As: the queued results (a cancel when the queue is empty) and the names proposed.
    QList<SaveResult> saveResults;
    QStringList proposedNames;

    // Pop-up menus: the menus shown, and the caption of the item to pick (none when empty).
    QList<QMenu*> menusShown;
    QList<QPoint> menuPositions; // where each was asked to open, in screen coordinates
    QStringList menuPicks;
    std::function<void(QMenu*)> whileMenuUp;

    // LaunchDocument: the targets handed over and the result to give, or the
    // launcher that answers instead (a real one, for instance).
    QStringList launched;
    int launchResult = 33;
    std::function<int(const QString&)> launcher;

    // The printer to hand out (none when unset).
    std::function<std::unique_ptr<PrinterDevice>()> printerFactory;
    QString noPrinterText = QStringLiteral("No printer is installed.");

    QDateTime clock = QDateTime(QDate(2026, 12, 8), QTime(14, 30, 15));
    QSize screen = QSize(1024, 768);

    Answer messageBox(QWidget* parent, const QString& text, Icon icon, const QString& caption,
                      Buttons buttons) override;
    SaveResult saveFileName(QWidget* parent, const QString& proposedName) override;
    QAction* popupMenu(QMenu* menu, const QPoint& at) override;
    int LaunchDocument(const QString& target, const QString& parameters, int showCommand,
                       const QString& directory, const QString& operation, WId ownerWindow) override;
    std::unique_ptr<PrinterDevice> defaultPrinter(QString* errorText) override;
    QDateTime now() override { return clock; }
    QSize screenSize() override { return screen; }

    QStringList boxTexts() const;
};

// The recording platform the test main installed, reset to a fresh state.
RecordingPlatform& freshPlatform();
RecordingPlatform& recordingPlatform();
