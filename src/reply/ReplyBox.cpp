#include "reply/ReplyBox.h"

#include "reply/ReplyBoxAccessible.h"
#include "reply/ReplySelection.h"

#include <QClipboard>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QtMath>

#include <algorithm>
#include <climits>

namespace {
int clampToInt(qsizetype value)
{
    return static_cast<int>(std::clamp<qsizetype>(value, 0, INT_MAX));
}
} // namespace

ReplyBox::ReplyBox(QWidget* parent) : QAbstractScrollArea(parent)
{
    // First, so a reader hears of a cleared text before the caret moves back.
    ReplyBoxAccessible::watch(this);
    connect(&m_text, &ReplyText::replaced, this, &ReplyBox::textReplaced);
    connect(&m_text, &ReplyText::appended, this, &ReplyBox::textAppended);
    connect(&m_text, &ReplyText::dropped, this, &ReplyBox::textDropped);
    connect(&m_text, &ReplyText::relaidOut, this, &ReplyBox::textRelaidOut);
    connect(this, &ReplyBox::selectionChanged, this, &ReplyBox::offerPrimarySelection);
    QFont face(QStringLiteral("Courier New"));
    face.setPointSizeF(11.25);
    face.setStyleHint(QFont::TypeWriter);
    face.setFixedPitch(true);
    setFont(face);

    QPalette colours = palette();
    colours.setColor(QPalette::Base, Qt::black);
    colours.setColor(QPalette::Text, QColor(0, 255, 0));
    setPalette(colours);

    setFocusPolicy(Qt::StrongFocus);
    // Both bars always show, as in a text box with both scroll bars; the view
    // also keeps its size while a reply streams in.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setCursor(Qt::IBeamCursor);
    updateMetrics();
    updateScrollBars();
    setUpReader();
}

ReplyBox::~ReplyBox() = default;

void ReplyBox::offerPrimarySelection()
{
    // A selection is also the primary selection, as in any X11 text view.
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->supportsSelection() && selLength() > 0)
        clipboard->setMimeData(replySelection(m_text, selStart(), selLength()), QClipboard::Selection);
}

void ReplyBox::setText(const QString& text)
{
    setData(text.toLatin1());
}

void ReplyBox::setData(const QByteArray& data)
{
    m_text.setData(data);
}

void ReplyBox::clear()
{
    m_text.clear();
}

void ReplyBox::append(const QByteArray& block)
{
    m_text.append(block);
}

void ReplyBox::appendNote(const QString& line, Follow follow)
{
    QScrollBar* vertical = verticalScrollBar();
    const bool follows = follow == Follow::IfAtEnd && selLength() == 0 && vertical->value() >= vertical->maximum();
    m_text.appendNote(line.toLatin1());
    // At the end of the box, however long its text has grown; the caret
    // ends up after it, so the box shows the note.
    if (follows)
        setSelection(length(), 0);
}

void ReplyBox::textReplaced()
{
    m_goalColumn = -1;
    setAnchorAndCaret(0, 0);
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void ReplyBox::textAppended()
{
    updateScrollBars();
    viewport()->update();
}

// The selection and the view stay on the same text where it is still there.
void ReplyBox::textDropped(qsizetype bytes, qsizetype lines)
{
    QScrollBar* vertical = verticalScrollBar();
    const qsizetype top = std::max<qsizetype>(0, vertical->value() - lines);
    setAnchorAndCaret(m_text.characterStart(std::max<qsizetype>(0, m_anchor - bytes)),
                      m_text.characterStart(std::max<qsizetype>(0, m_caret - bytes)));
    updateScrollBars();
    vertical->setValue(clampToInt(top));
    viewport()->update();
}

void ReplyBox::textRelaidOut()
{
    // The same bytes in other columns: keep the selection on whole characters.
    m_goalColumn = -1;
    setAnchorAndCaret(m_text.characterStart(m_anchor), m_text.characterStart(m_caret));
    updateScrollBars();
    viewport()->update();
}

std::pair<qsizetype, qreal> ReplyBox::cellAt(const QPoint& point) const
{
    const qsizetype row = static_cast<qsizetype>(std::floor(qreal(point.y() - kMargin) / m_lineHeight));
    const qsizetype line = std::clamp<qsizetype>(firstVisibleLine() + row, 0, lineCount() - 1);
    const qreal column = firstVisibleColumn() + (point.x() - kMargin) / m_charWidth;
    return {line, std::max<qreal>(0, column)};
}

qsizetype ReplyBox::positionAt(const QPoint& point) const
{
    const auto [line, column] = cellAt(point);
    return m_text.positionAtColumn(line, column);
}

qsizetype ReplyBox::selStart() const
{
    return std::min(m_anchor, m_caret);
}

qsizetype ReplyBox::selLength() const
{
    return std::abs(m_caret - m_anchor);
}

QString ReplyBox::selectedText() const
{
    return m_text.textAt(selStart(), selLength());
}

void ReplyBox::setSelection(qsizetype start, qsizetype length)
{
    const auto [anchor, caret] = m_text.clampSelection(start, length);
    m_goalColumn = -1;
    setAnchorAndCaret(anchor, caret);
    ensureCaretVisible();
}

void ReplyBox::selectAll()
{
    setSelection(0, length());
}

void ReplyBox::setAnchorAndCaret(qsizetype anchor, qsizetype caret)
{
    if (anchor == m_anchor && caret == m_caret)
        return;
    m_anchor = anchor;
    m_caret = caret;
    viewport()->update();
    emit selectionChanged();
}

void ReplyBox::moveCaret(qsizetype position, bool extend, bool keepGoalColumn)
{
    if (!keepGoalColumn)
        m_goalColumn = -1;
    setAnchorAndCaret(extend ? m_anchor : position, position);
    ensureCaretVisible();
}

void ReplyBox::ensureCaretVisible()
{
    const qsizetype line = lineOf(m_caret);
    const qsizetype lines = visibleLines();
    const qsizetype top = firstVisibleLine();
    if (line < top)
        verticalScrollBar()->setValue(clampToInt(line));
    else if (line >= top + lines)
        verticalScrollBar()->setValue(clampToInt(line - lines + 1));

    const qsizetype column = columnOf(m_caret);
    const qsizetype columns = visibleColumns();
    const qsizetype left = firstVisibleColumn();
    if (column < left)
        horizontalScrollBar()->setValue(clampToInt(column));
    else if (column >= left + columns)
        horizontalScrollBar()->setValue(clampToInt(column - columns + 1));
}

// --- Geometry ------------------------------------------------------------

void ReplyBox::updateMetrics()
{
    const QFontMetricsF metrics(font());
    m_charWidth = metrics.horizontalAdvance(QLatin1Char('M'));
    if (m_charWidth <= 0)
        m_charWidth = 1;
    m_lineHeight = std::max(1, qCeil(metrics.lineSpacing()));
    m_ascent = qRound(metrics.ascent());
    m_symbols.clear();
}

int ReplyBox::visibleLines() const
{
    return std::max(1, (viewport()->height() - kMargin) / m_lineHeight);
}

qsizetype ReplyBox::visibleColumns() const
{
    return std::max<qsizetype>(1, static_cast<qsizetype>((viewport()->width() - kMargin) / m_charWidth));
}

int ReplyBox::firstVisibleLine() const
{
    return verticalScrollBar()->value();
}

qsizetype ReplyBox::firstVisibleColumn() const
{
    return horizontalScrollBar()->value();
}

QPointF ReplyBox::cellPosition(qsizetype line, qsizetype column) const
{
    return {kMargin + (column - firstVisibleColumn()) * m_charWidth,
            qreal(kMargin + (line - firstVisibleLine()) * m_lineHeight)};
}

void ReplyBox::updateScrollBars()
{
    // Both bars always show, so a range that only grew needs no new layout
    // of the area, which Qt queues for every range change it hears of: a
    // reply of thousands of blocks would queue thousands.
    const auto setMaximum = [](QScrollBar* bar, int maximum) {
        const QSignalBlocker quiet(maximum >= bar->maximum() && bar->value() <= maximum ? bar : nullptr);
        bar->setRange(0, maximum);
    };
    const int lines = visibleLines();
    QScrollBar* vertical = verticalScrollBar();
    setMaximum(vertical, clampToInt(lineCount() - lines));
    vertical->setPageStep(lines);
    vertical->setSingleStep(1);

    // One column more than the widest line, so the caret after its last character shows.
    const qsizetype columns = visibleColumns();
    QScrollBar* horizontal = horizontalScrollBar();
    setMaximum(horizontal, clampToInt(widestLine() + 1 - columns));
    horizontal->setPageStep(clampToInt(columns));
    horizontal->setSingleStep(1);
}

void ReplyBox::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ReplyBox::changeEvent(QEvent* event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        updateMetrics();
        updateScrollBars();
        viewport()->update();
    }
}

void ReplyBox::scrollContentsBy(int, int)
{
    // The view scrolls in whole lines and columns; painting reads the scroll bars.
    viewport()->update();
}

void ReplyBox::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ReplyBox::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

// --- Keyboard and mouse --------------------------------------------------

void ReplyBox::keyPressEvent(QKeyEvent* event)
{
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool control = event->modifiers() & Qt::ControlModifier;
    const qsizetype line = lineOf(m_caret);

    const auto verticalMove = [&](qsizetype lines) {
        if (m_goalColumn < 0)
            m_goalColumn = columnOf(m_caret);
        const qsizetype target = std::clamp<qsizetype>(line + lines, 0, lineCount() - 1);
        moveCaret(m_text.positionAtColumn(target, qreal(m_goalColumn)), shift, true);
    };

    switch (event->key()) {
    case Qt::Key_Left:
        moveCaret(m_text.previousPosition(m_caret), shift);
        break;
    case Qt::Key_Right:
        moveCaret(m_text.nextPosition(m_caret), shift);
        break;
    case Qt::Key_Up:
        verticalMove(-1);
        break;
    case Qt::Key_Down:
        verticalMove(1);
        break;
    case Qt::Key_PageUp:
        verticalScrollBar()->setValue(verticalScrollBar()->value() - visibleLines());
        verticalMove(-visibleLines());
        break;
    case Qt::Key_PageDown:
        verticalScrollBar()->setValue(verticalScrollBar()->value() + visibleLines());
        verticalMove(visibleLines());
        break;
    case Qt::Key_Home:
        moveCaret(control ? 0 : lineStart(line), shift);
        break;
    case Qt::Key_End:
        moveCaret(control ? length() : lineEnd(line), shift);
        break;
    case Qt::Key_Menu:
        openContextMenu(caretMenuPoint(), m_caret);
        break;
    case Qt::Key_F10:
        if (!shift || control) {
            event->ignore();
            return;
        }
        openContextMenu(caretMenuPoint(), m_caret);
        break;
    default:
        // Typing never edits the record; Copy and Select All belong to the
        // window's menu, so those keys travel on to it.
        event->ignore();
        return;
    }
    event->accept();
}

void ReplyBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        // The menu itself comes with the context menu event that follows.
        rightPress(event->position().toPoint());
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier)) {
        // Ctrl+click follows a link; a plain click still places the caret.
        if (const ReplyLinks::Link link = linkAtPoint(event->position().toPoint()); !link.target.isEmpty()) {
            emit linkActivated(link.target);
            event->accept();
            return;
        }
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    moveCaret(positionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
    event->accept();
}

void ReplyBox::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton)) {
        if (event->buttons() == Qt::NoButton)
            showLinkPointer(event->position().toPoint());
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    // A point above, below or beside the view lands on the next hidden line or
    // column, and keeping the caret in view scrolls there.
    moveCaret(positionAt(event->position().toPoint()), true);
    event->accept();
}

void ReplyBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    event->accept();
}

void ReplyBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mouseDoubleClickEvent(event);
        return;
    }
    // The word under the pointer, not the one after the nearest caret place.
    const auto [line, column] = cellAt(event->position().toPoint());
    const qsizetype position = m_text.locateColumn(line, static_cast<qsizetype>(column)).first;
    if (position >= lineEnd(line)) {
        moveCaret(position, false);
        m_dragging = false;
        return;
    }
    const auto [from, to] = m_text.wordAround(line, position);
    m_goalColumn = -1;
    setAnchorAndCaret(from, to);
    ensureCaretVisible();
    m_dragging = false;
    event->accept();
}
