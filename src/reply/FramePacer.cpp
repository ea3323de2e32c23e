#include "reply/FramePacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <algorithm>

FramePacer::FramePacer(QWidget* window) : QObject(window), m_window(window)
{
    m_due.setSingleShot(true);
    // The held-back request goes out again once the frame is due; Qt asks
    // for no other paint of the window until that one has been handled.
    connect(&m_due, &QTimer::timeout, this, [this] {
        QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    });
    window->installEventFilter(this);
}

bool FramePacer::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    if (m_lastPaint.isValid() && !m_lastPaint.hasExpired(kFrameMs)) {
        if (!m_due.isActive()) {
            ++m_heldBack;
            m_due.start(int(std::max<qint64>(0, kFrameMs - m_lastPaint.elapsed())));
        }
        return true;
    }
    m_due.stop();
    m_lastPaint.start();
    return false;
}
