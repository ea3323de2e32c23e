#include "contact/Contact.h"

#include "app/Platform.h"
#include "app/Settings.h"
#include "app/WindowFront.h"
#include "contact/About.h"
#include "contact/SendForm.h"

#include <QApplication>
#include <QIcon>

namespace {
// The shell's convention: below 32 nothing was opened.
constexpr int kLaunchSucceeded = 32;
} // namespace

Contact::Contact(QWidget* mainWindow, const RuntimeConfig& config) : m_mainWindow(mainWindow), m_config(config) {}

Contact::~Contact()
{
    // The windows have no parent (they must show while the main window is
    // hidden), so they go with the object that opened them.
    delete m_sendForm.data();
    delete m_about.data();
}

SendForm* Contact::sendForm() const
{
    return m_sendForm.data();
}

About* Contact::aboutBox() const
{
    return m_about.data();
}

QString Contact::mailTarget()
{
    return QStringLiteral("mailto:") + kAuthorMailbox;
}

void Contact::openHomePage(QWidget* owner)
{
    // A box that names no caption of its own carries the application title.
    if (platform().LaunchDocument(kAuthorHomePage) < kLaunchSucceeded)
        platform().messageBox(owner, QStringLiteral("Unable to launch the default Web Browser"),
                              Platform::Icon::Exclamation, kAppTitle);
}

void Contact::mailAuthor(bool modal)
{
    if (platform().LaunchDocument(mailTarget()) < kLaunchSucceeded)
        showSendForm(modal);
}

void Contact::showSendForm(bool modal)
{
    // One form at a time: a second request brings the open one forward.
    if (m_sendForm) {
        bringToFront(m_sendForm);
        return;
    }
    m_sendForm = new SendForm(m_config);
    open(m_sendForm, modal);
}

void Contact::showAbout(bool modal)
{
    if (m_about) {
        bringToFront(m_about);
        return;
    }
    const QIcon icon = m_mainWindow ? m_mainWindow->windowIcon() : QApplication::windowIcon();
    m_about = new About(icon);
    About* about = m_about;
    connect(about, &About::mailLinkClicked, this, [this] { mailAuthor(false); });
    connect(about, &About::webLinkClicked, this, [this, about] { openHomePage(about); });
    open(about, modal);
}

void Contact::open(QWidget* window, bool modal)
{
    window->setAttribute(Qt::WA_DeleteOnClose);
    // A window opened modeless while one of ours is application-modal could
    // not be used until that one closed; it opens modal on top of it instead.
    if (modal || QApplication::activeModalWidget())
        window->setWindowModality(Qt::ApplicationModal);
    window->show();
}
