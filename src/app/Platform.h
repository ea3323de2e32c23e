#pragma once

#include <QDateTime>
#include <QSize>
#include <QString>
#include <QWidget>

#include <memory>

class QMenu;
class QAction;
class PrinterDevice;

// Everything that opens a modal window or reaches outside the process goes
// through this seam, so tests can answer instead of a person.
class Platform
{
public:
    enum class Icon { None, Information, Exclamation, Critical, Question };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    struct SaveResult
    {
        QString fileName; // empty when the user cancelled
        bool failed = false; // the dialog itself failed (not a cancel)
    };

    virtual ~Platform() = default;

    // A modal message box. An empty caption means the default, the application title.
    virtual Answer messageBox(QWidget* parent, const QString& text, Icon icon, const QString& caption,
                              Buttons buttons = Buttons::Ok) = 0;

    // The Save As dialog with overwrite confirmation, all files listed.
    virtual SaveResult saveFileName(QWidget* parent, const QString& proposedName) = 0;

    // Pops up a menu at a screen position and returns the action picked (or null).
    virtual QAction* popupMenu(QMenu* menu, const QPoint& at) = 0;

    // Hands a URL, mailto: address or file to its default handler; the
    // parameters keep the shell call's order. Below 32 means failure.
    virtual int LaunchDocument(const QString& target, const QString& parameters = {}, int showCommand = 1,
                               const QString& directory = {}, const QString& operation = {},
                               WId ownerWindow = 0) = 0;

    // The default printer, or null when none is installed (errorText says why).
    virtual std::unique_ptr<PrinterDevice> defaultPrinter(QString* errorText) = 0;

    virtual QDateTime now() = 0;

    // The primary screen's size in pixels.
    virtual QSize screenSize() = 0;
};

// The caption a message box shows: its own, or the application title when it names none.
QString messageBoxCaption(const QString& caption);

// The program-wide platform services, set once at start-up.
Platform& platform();
void setPlatform(Platform* services);
