#include "shell/LinkQuery.h"

#include "app/Platform.h"
#include "shell/Form1.h"
#include "shell/finger.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <cstdio>
#include <utility>

namespace {
// How often a waiting link looks whether the running query has ended.
constexpr int kWaitStepMs = 200;
} // namespace

LinkQuery::LinkQuery(Form1& tray) : m_tray(tray)
{
    m_wait.setInterval(kWaitStepMs);
    connect(&m_wait, &QTimer::timeout, this, &LinkQuery::typeAndEnter);
}

void LinkQuery::run(const FingerTarget& target, const QByteArray& activationToken)
{
    m_tray.showMainWindow(activationToken);
    // Typed while a query runs, the Enter would do nothing and the link would be lost.
    m_pending = target;
    typeAndEnter();
}

void LinkQuery::handOver(const QStringList& arguments, const QByteArray& activationToken)
{
    // A later start can arrive while this one is still making its windows.
    if (!m_tray.mainWindow()) {
        QTimer::singleShot(kWaitStepMs, this, [this, arguments, activationToken] { handOver(arguments, activationToken); });
        return;
    }
    if (arguments.isEmpty()) {
        m_tray.showMainWindow(activationToken);
        return;
    }
    QString error;
    const std::optional<FingerTarget> target = parseFingerTarget(arguments.first(), &error);
    if (!target) {
        m_tray.showMainWindow(activationToken);
        reportBadLink(error, m_tray.mainWindow());
        return;
    }
    run(*target, activationToken);
}

void LinkQuery::typeAndEnter()
{
    finger& window = *m_tray.mainWindow();
    if (m_pending && window.isBusy()) {
        if (!m_wait.isActive())
            m_wait.start();
        return;
    }
    m_wait.stop();
    if (!m_pending)
        return;
    const FingerTarget target = *std::exchange(m_pending, std::nullopt);
    window.text2->setEditText(target.host);
    window.Text3->setText(target.user);
    window.Text3->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(window.Text3, &enter);
}

void reportBadLink(const QString& error, QWidget* parent, bool onStandardError)
{
    if (onStandardError)
        std::fprintf(stderr, "finger-quobix: %s\n", qPrintable(error));
    platform().messageBox(parent, error, Platform::Icon::Exclamation, QString());
}
