#include "app/FitText.h"

#include <QLabel>

#include <algorithm>

namespace {
// Space from the label's left edge to its parent's right edge or to the
// nearest sibling beside it, whichever comes first.
int roomToTheRight(const QLabel* label)
{
    const QWidget* parent = label->parentWidget();
    int right = parent->width();
    const QRect own = label->geometry();
    for (const QObject* child : parent->children()) {
        const auto* sibling = qobject_cast<const QWidget*>(child);
        if (!sibling || sibling == label || sibling->isWindow())
            continue;
        const QRect other = sibling->geometry();
        if (other.left() >= own.right() && other.top() < own.bottom() && other.bottom() > own.top())
            right = std::min(right, other.left());
    }
    return right - own.left();
}
} // namespace

void fitTexts(QWidget* window)
{
    // Space left below a label that had to grow the window.
    constexpr int kBottomMargin = 4;
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->text().isEmpty() || !label->isVisibleTo(window))
            continue;
        if (!label->wordWrap() && label->sizeHint().width() > label->width()) {
            if (label->sizeHint().width() <= roomToTheRight(label))
                label->resize(label->sizeHint().width(), label->height());
            else
                label->setWordWrap(true);
        }
        const int needed = label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height();
        if (needed > label->height())
            label->resize(label->width(), needed);
        const int room = label->parentWidget()->height() - label->y();
        if (label->height() > room)
            label->resize(label->width(), std::max(needed, room));

        const int bottom = label->mapTo(window, QPoint(0, label->height())).y();
        if (bottom > window->height()) {
            const int grow = bottom + kBottomMargin - window->height();
            window->setFixedSize(window->width(), window->height() + grow);
            // A client area inside the window grows with it.
            for (QWidget* parent = label->parentWidget(); parent && parent != window; parent = parent->parentWidget())
                parent->resize(parent->width(), std::max(parent->height(), label->mapTo(parent, QPoint(0, label->height())).y()));
        }
    }
}
