#include "app/WindowFront.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace {
// Asks for activation once the compositor shows the window: a request for a
// surface not yet mapped is dropped, and the token with it.
class ActivateWhenExposed final : public QObject
{
public:
    ActivateWhenExposed(QWindow* window, const QByteArray& token) : QObject(window), m_window(window), m_token(token)
    {
        window->installEventFilter(this);
    }

    static void activate(QWindow* window, const QByteArray& token)
    {
        // Qt's Wayland client takes the token from here at the next activation request.
        if (!token.isEmpty())
            qputenv("XDG_ACTIVATION_TOKEN", token);
        window->requestActivate();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Expose && m_window->isExposed()) {
            m_window->removeEventFilter(this);
            activate(m_window, m_token);
            deleteLater();
        }
        return false;
    }

private:
    QWindow* m_window;
    QByteArray m_token;
};
} // namespace

bool onWayland()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void bringToFront(QWidget* window)
{
    // Modality only changes on a hidden window.
    QWidget* modalWindow = QApplication::activeModalWidget();
    if (modalWindow && modalWindow != window && window->windowModality() == Qt::NonModal) {
        window->hide();
        window->setWindowModality(Qt::ApplicationModal);
    }
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
}

void showWindowInFront(QWidget* window, const QByteArray& activationToken)
{
    // A window closed or hidden while maximised comes back maximised.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    if (!onWayland()) {
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    // No client can tell whether the compositor minimised its window: without
    // a token, mapping it afresh is what brings it back.
    if (window->isVisible() && activationToken.isEmpty() && !window->isActiveWindow())
        window->hide();
    const bool mapped = window->isVisible();
    window->show();
    QWindow* handle = window->windowHandle();
    if (!handle)
        return;
    if (mapped && handle->isExposed())
        ActivateWhenExposed::activate(handle, activationToken);
    else if (!activationToken.isEmpty())
        new ActivateWhenExposed(handle, activationToken);
}
