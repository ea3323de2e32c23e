#pragma once

#include "app/Config.h"

#include <QObject>
#include <QPointer>

class QWidget;
class About;
class SendForm;

// The author's links, the About box and the feedback mail form.
class Contact : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Contact)

public:
    Contact(QWidget* mainWindow, const RuntimeConfig& config);
    ~Contact() override;

    // Opens the author's home page, or says that no browser could be started.
    void openHomePage(QWidget* owner = nullptr);
    // Starts a mail to the author; the feedback form (modal or not) when that fails.
    void mailAuthor(bool modal);
    void showAbout(bool modal);
    void showSendForm(bool modal);

    static QString mailTarget();

    // The open windows, if any.
    SendForm* sendForm() const;
    About* aboutBox() const;

private:
    void open(QWidget* window, bool modal);

    QWidget* m_mainWindow;
    RuntimeConfig m_config;
    QPointer<SendForm> m_sendForm;
    QPointer<About> m_about;
};
