#pragma once

#include <QString>
#include <QtGlobal>

class QComboBox;
class QLineEdit;
class QWidget;
class ReplyBox;

// What the subsystems behind the main window may use of it. The window
// implements it; the client and the transcript get it at construction and
// never see the window itself.
class MainWindowPort
{
    Q_DISABLE_COPY_MOVE(MainWindowPort)

public:
    virtual ~MainWindowPort() = default;

    // The owner of the dialogs and message boxes opened for the window.
    virtual QWidget* dialogParent() = 0;
    // The reply box (text1), the host box (text2) and the user box (Text3).
    virtual ReplyBox* replyBox() = 0;
    virtual QComboBox* hostBox() = 0;
    virtual QLineEdit* userBox() = 0;

    // The host and user of the query whose reply the reply box shows (what the
    // boxes hold while no query has run), for the printed header.
    virtual QString replyHost() = 0;
    virtual QString replyUser() = 0;

    // The busy pointer: set while a query or a save is under way.
    virtual bool isBusy() const = 0;
    virtual void setBusy(bool busy) = 0;

    // The status line's text.
    virtual QString statusText() const = 0;
    virtual void setStatusText(const QString& text) = 0;

protected:
    MainWindowPort() = default;
};
