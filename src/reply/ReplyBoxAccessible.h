#pragma once

#include <QAccessibleWidget>

class ReplyBox;

// What assistive technology reads of the reply box: a read-only, multi-line
// text with a caret and a selection, told as the box shows it (see ReplyGlyphs;
// UTF-8 replies decoded), one unit per byte, so offsets are positions in the
// record. Every range is
// bounded: a screen reader asking for all of a 64 MiB reply gets its first
// MiB at once instead of stalling the program while 64 MiB are copied.
class ReplyBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    // The most characters one request or one change event carries.
    static constexpr int kMaxTextLength = 1 << 20;

    explicit ReplyBoxAccessible(ReplyBox* box);

    // Called by every reply box as it is made: installs the accessible
    // factory (once) and tells assistive technology of the box's changes:
    // text inserted and removed, the caret moved, the selection changed.
    static void watch(ReplyBox* box);

    // Qt passes the change events on only while a bridge to assistive
    // technology is up, which no offscreen run has; a listener set here
    // hears them instead (and then they never reach Qt). Returns the previous one.
    using Listener = void (*)(QAccessibleEvent* event);
    static Listener setListener(Listener listener);

    QAccessible::State state() const override;
    using QAccessibleWidget::text;
    void* interface_cast(QAccessible::InterfaceType type) override;
    // A leaf, like a text entry: its viewport and scroll bars are no stops for a reader.
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    // Text, in characters of the box's text; -1 as an end means the end of the text.
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                             int* endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                            int* endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int* startOffset,
                         int* endOffset) const override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

    // Caret and selection: one selection at most, the caret at its moving end.
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    int selectionCount() const override;
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;

    // Geometry in screen coordinates, so a magnifier can follow the caret.
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;

private:
    enum class Side { Before, At, After };

    ReplyBox* box() const;
    qsizetype resolveOffset(int offset) const;
    QString lineItem(qsizetype offset, Side side, int* startOffset, int* endOffset) const;
    QString stretchItem(qsizetype offset, Side side, QAccessible::TextBoundaryType boundaryType,
                        int* startOffset, int* endOffset) const;
};
