#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

// Paints a window at most once a frame. A busy server notes visitors many
// times a frame; each note scrolls the reply box, and painting the window
// for every one of them would cost more than serving them. What the widgets
// hold changes at once; only the painting waits, at most one frame.
class FramePacer : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FramePacer)

public:
    static constexpr int kFrameMs = 16;

    // Paces the top-level window; it owns this object.
    explicit FramePacer(QWidget* window);

    int paintsHeldBack() const { return m_heldBack; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* m_window;
    QElapsedTimer m_lastPaint;
    QTimer m_due;
    int m_heldBack = 0;
};
