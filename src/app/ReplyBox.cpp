#include "app/ReplyBox.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QtMath>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
// Space between the viewport's edge and the first line and column.
constexpr int kMargin = 2;

int clampToInt(qsizetype value)
{
    return static_cast<int>(std::clamp<qsizetype>(value, 0, INT_MAX));
}

enum class Glyph { Plain, Tab, Symbol };

Glyph glyphKind(uchar c)
{
    if (c == '\t')
        return Glyph::Tab;
    // C0 and C1 controls have no glyph (and would lose their cell), the soft
    // hyphen is dropped by text shaping: draw all of them on their own.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD)
        return Glyph::Symbol;
    return Glyph::Plain;
}

bool isWordChar(uchar c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'
        || c == 0xAA || c == 0xB5 || c == 0xBA || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}
} // namespace

ReplyBox::ReplyBox(QWidget* parent) : QAbstractScrollArea(parent)
{
    resetIndex();
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
}

ReplyBox::~ReplyBox() = default;

// --- Text and line index -------------------------------------------------

void ReplyBox::setText(const QString& text)
{
    setData(text.toLatin1());
}

void ReplyBox::setData(const QByteArray& data)
{
    m_data = data;
    resetIndex();
    indexFrom(0);
    m_goalColumn = -1;
    setAnchorAndCaret(0, 0);
    updateScrollBars();
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void ReplyBox::clear()
{
    // Release the memory of a large reply, not only its contents.
    m_data = QByteArray();
    setData(m_data);
}

void ReplyBox::append(const QByteArray& block)
{
    if (block.isEmpty())
        return;
    const qsizetype from = m_data.size();
    m_data.append(block);
    indexFrom(from);
    updateScrollBars();
    viewport()->update();
}

void ReplyBox::resetIndex()
{
    m_lineStarts.reset(0);
    std::vector<bool>{false}.swap(m_lineHasTab);
    std::vector<Mark>().swap(m_marks);
    m_openColumns = 0;
    m_widestLine = 0;
}

// Extends the index over m_data[from..]; only the last line can be open, so
// the work is proportional to the new bytes.
void ReplyBox::indexFrom(qsizetype from)
{
    const char* d = m_data.constData();
    const qsizetype size = m_data.size();
    qsizetype start = m_lineStarts.back();
    qsizetype columns = m_openColumns;
    bool hasTab = m_lineHasTab.back();
    qsizetype widest = m_widestLine;
    const qsizetype marksSoFar = std::max<qsizetype>(1, (from - start + kMarkSpacing - 1) / kMarkSpacing);
    qsizetype nextMark = start + marksSoFar * kMarkSpacing;

    // Only LF, CR and tab need a look of their own; the plain runs between
    // them are skipped with memchr, which keeps large replies cheap.
    auto nextOf = [d, size](char wanted, qsizetype at) {
        const void* found = at < size ? std::memchr(d + at, wanted, static_cast<size_t>(size - at)) : nullptr;
        return found ? static_cast<qsizetype>(static_cast<const char*>(found) - d) : size;
    };
    qsizetype nextLf = nextOf('\n', from);
    qsizetype nextCr = nextOf('\r', from);
    qsizetype nextTab = nextOf('\t', from);

    qsizetype i = from;
    while (i < size) {
        const qsizetype special = std::min({nextLf, nextCr, nextTab});
        if (special > i) {
            for (; nextMark < special; nextMark += kMarkSpacing)
                m_marks.push_back({nextMark, columns + (nextMark - i)});
            columns += special - i;
            i = special;
            if (i >= size)
                break;
        }
        const char c = d[i];
        if (c == '\t') {
            if (i == nextMark) {
                m_marks.push_back({i, columns});
                nextMark += kMarkSpacing;
            }
            columns = (columns / kTabWidth + 1) * kTabWidth;
            hasTab = true;
            nextTab = nextOf('\t', ++i);
            continue;
        }
        if (c == '\n' && i > 0 && d[i - 1] == '\r') {
            // The CR before (maybe from the previous block) already broke
            // the line; the pair is one break, so the new line starts later.
            start = i + 1;
            m_lineStarts.pop_back();
            m_lineStarts.push_back(start);
            nextMark = start + kMarkSpacing;
        } else {
            widest = std::max(widest, columns);
            m_lineHasTab.back() = hasTab;
            start = i + 1;
            m_lineStarts.push_back(start);
            m_lineHasTab.push_back(false);
            columns = 0;
            hasTab = false;
            nextMark = start + kMarkSpacing;
        }
        if (c == '\n')
            nextLf = nextOf('\n', ++i);
        else
            nextCr = nextOf('\r', ++i);
    }
    m_lineHasTab.back() = hasTab;
    m_openColumns = columns;
    m_widestLine = std::max(widest, columns);
}

qsizetype ReplyBox::lineEnd(qsizetype line) const
{
    if (line + 1 >= lineCount())
        return m_data.size();
    const qsizetype next = lineStart(line + 1);
    if (m_data.at(next - 1) == '\n' && next - 2 >= lineStart(line) && m_data.at(next - 2) == '\r')
        return next - 2;
    return next - 1;
}

QByteArray ReplyBox::lineText(qsizetype line) const
{
    if (line < 0 || line >= lineCount())
        return {};
    const qsizetype start = lineStart(line);
    return m_data.mid(start, lineEnd(line) - start);
}

qsizetype ReplyBox::lineOf(qsizetype position) const
{
    return m_lineStarts.lineAt(position);
}

qsizetype ReplyBox::columnOf(qsizetype position) const
{
    const qsizetype line = lineOf(position);
    const qsizetype start = lineStart(line);
    const qsizetype target = std::clamp(position, start, lineEnd(line));
    if (!lineHasTab(line))
        return target - start;

    qsizetype p = start;
    qsizetype column = 0;
    auto it = std::upper_bound(m_marks.begin(), m_marks.end(), target,
                               [](qsizetype pos, const Mark& mark) { return pos < mark.position; });
    if (it != m_marks.begin() && (it - 1)->position >= start) {
        p = (it - 1)->position;
        column = (it - 1)->column;
    }
    const char* d = m_data.constData();
    for (; p < target; ++p)
        column = d[p] == '\t' ? (column / kTabWidth + 1) * kTabWidth : column + 1;
    return column;
}

std::pair<qsizetype, qsizetype> ReplyBox::locateColumn(qsizetype line, qsizetype column) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = lineEnd(line);
    column = std::max<qsizetype>(0, column);
    if (!lineHasTab(line)) {
        // Without tabs a column is a byte offset: no scan, however long the line.
        if (column >= end - start)
            return {end, end - start};
        return {start + column, column};
    }

    const auto byPosition = [](const Mark& mark, qsizetype pos) { return mark.position < pos; };
    const auto first = std::lower_bound(m_marks.begin(), m_marks.end(), start, byPosition);
    const auto last = std::lower_bound(first, m_marks.end(), end, byPosition);
    const auto after = std::upper_bound(first, last, column,
                                        [](qsizetype col, const Mark& mark) { return col < mark.column; });
    qsizetype p = start;
    qsizetype c = 0;
    if (after != first) {
        p = (after - 1)->position;
        c = (after - 1)->column;
    }
    const char* d = m_data.constData();
    for (; p < end; ++p) {
        const qsizetype width = d[p] == '\t' ? kTabWidth - c % kTabWidth : 1;
        if (c + width > column)
            return {p, c};
        c += width;
    }
    return {end, c};
}

qsizetype ReplyBox::positionAtColumn(qsizetype line, qreal column) const
{
    const auto [p, c] = locateColumn(line, static_cast<qsizetype>(std::floor(column)));
    if (p >= lineEnd(line))
        return p;
    const qsizetype width = m_data.at(p) == '\t' ? kTabWidth - c % kTabWidth : 1;
    // The caret goes to the nearer edge of the character.
    return column - static_cast<qreal>(c) > width / 2.0 ? p + 1 : p;
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
    return positionAtColumn(line, column);
}

qsizetype ReplyBox::nextPosition(qsizetype position) const
{
    if (position >= m_data.size())
        return m_data.size();
    if (m_data.at(position) == '\r' && position + 1 < m_data.size() && m_data.at(position + 1) == '\n')
        return position + 2;
    return position + 1;
}

qsizetype ReplyBox::previousPosition(qsizetype position) const
{
    if (position <= 0)
        return 0;
    if (m_data.at(position - 1) == '\n' && position >= 2 && m_data.at(position - 2) == '\r')
        return position - 2;
    return position - 1;
}

// --- Selection -----------------------------------------------------------

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
    return QString::fromLatin1(m_data.mid(selStart(), selLength()));
}

void ReplyBox::setSelection(qsizetype start, qsizetype length)
{
    const qsizetype size = m_data.size();
    const qsizetype anchor = std::clamp<qsizetype>(start, 0, size);
    // Clamped before adding, so no length can overflow the sum.
    const qsizetype caret = length >= 0 ? (length > size - anchor ? size : anchor + length)
                                        : (length < -anchor ? 0 : anchor + length);
    m_goalColumn = -1;
    setAnchorAndCaret(anchor, caret);
    ensureCaretVisible();
}

void ReplyBox::selectAll()
{
    setSelection(0, m_data.size());
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
    const int lines = visibleLines();
    QScrollBar* vertical = verticalScrollBar();
    vertical->setRange(0, clampToInt(lineCount() - lines));
    vertical->setPageStep(lines);
    vertical->setSingleStep(1);

    // One column more than the widest line, so the caret after its last character shows.
    const qsizetype columns = visibleColumns();
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setRange(0, clampToInt(m_widestLine + 1 - columns));
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

// --- Painting ------------------------------------------------------------

const QPixmap& ReplyBox::symbolPixmap(uchar c, bool selected) const
{
    const int key = c | (selected ? 0x100 : 0);
    auto it = m_symbols.find(key);
    if (it != m_symbols.end())
        return it->second;

    const qreal ratio = devicePixelRatioF();
    const QSizeF cell(m_charWidth, m_lineHeight);
    QPixmap pixmap((cell * ratio).toSize());
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const QColor colour = palette().color(selected ? QPalette::HighlightedText : QPalette::Text);
    painter.setPen(colour);
    if (c == 0xAD) {
        painter.setFont(font());
        painter.drawText(QPointF(0, m_ascent), QStringLiteral("-"));
    } else {
        // Controls show as their code in a small frame, so NUL, ESC and the
        // rest can be told apart and never act on the view.
        const QRectF frame = QRectF(QPointF(0, 0), cell).adjusted(0.5, 1.5, -0.5, -1.5);
        painter.drawRect(frame);
        QFont small = font();
        small.setPixelSize(std::max(5, (m_lineHeight - 4) / 2));
        painter.setFont(small);
        const QString code = QStringLiteral("%1").arg(int(c), 2, 16, QLatin1Char('0')).toUpper();
        painter.drawText(frame, Qt::AlignCenter, code.left(1) + QLatin1Char('\n') + code.mid(1));
    }
    return m_symbols.emplace(key, std::move(pixmap)).first->second;
}

void ReplyBox::paintLine(QPainter& painter, qsizetype line, int y, qsizetype firstColumn,
                         qsizetype columns) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = lineEnd(line);
    const qsizetype lastColumn = firstColumn + columns;
    const qsizetype selectionStart = selStart();
    const qsizetype selectionEnd = selectionStart + selLength();
    const auto xOf = [&](qsizetype column) { return kMargin + (column - firstColumn) * m_charWidth; };

    // Selection background first; a selected line end shows as one more cell.
    if (selectionEnd > selectionStart && selectionStart <= end && selectionEnd > start) {
        qsizetype from = columnOf(std::max(selectionStart, start));
        qsizetype to = columnOf(std::min(selectionEnd, end));
        if (selectionEnd > end && line + 1 < lineCount())
            ++to;
        from = std::max(from, firstColumn);
        to = std::min(to, lastColumn);
        if (from < to)
            painter.fillRect(QRectF(xOf(from), y, (to - from) * m_charWidth, m_lineHeight),
                             palette().brush(QPalette::Highlight));
    }

    const QColor textColour = palette().color(QPalette::Text);
    const QColor selectedColour = palette().color(QPalette::HighlightedText);
    const char* d = m_data.constData();
    auto [p, column] = locateColumn(line, firstColumn);

    // Plain characters are drawn in runs of one colour; the font is fixed
    // pitch, so a run covers exactly its columns.
    QString run;
    qsizetype runColumn = 0;
    bool runSelected = false;
    const auto flush = [&] {
        if (run.isEmpty())
            return;
        painter.setPen(runSelected ? selectedColour : textColour);
        painter.drawText(QPointF(xOf(runColumn), y + m_ascent), run);
        run.clear();
    };
    for (; p < end && column < lastColumn; ++p) {
        const uchar c = static_cast<uchar>(d[p]);
        const bool selected = p >= selectionStart && p < selectionEnd;
        switch (glyphKind(c)) {
        case Glyph::Tab:
            flush();
            column = (column / kTabWidth + 1) * kTabWidth;
            break;
        case Glyph::Symbol:
            flush();
            painter.drawPixmap(QPointF(xOf(column), y), symbolPixmap(c, selected));
            ++column;
            break;
        case Glyph::Plain:
            if (!run.isEmpty() && selected != runSelected)
                flush();
            if (run.isEmpty()) {
                runColumn = column;
                runSelected = selected;
            }
            run.append(QChar(c));
            ++column;
            break;
        }
    }
    flush();
}

void ReplyBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().brush(QPalette::Base));
    painter.setFont(font());

    const qsizetype top = firstVisibleLine();
    const qsizetype left = firstVisibleColumn();
    // One column more than fits, for the partly visible cell at the right edge.
    const qsizetype columns = visibleColumns() + 1;
    const int firstRow = std::max(0, (event->rect().top() - kMargin) / m_lineHeight);
    const int lastRow = std::max(0, (event->rect().bottom() - kMargin) / m_lineHeight);
    for (int row = firstRow; row <= lastRow && top + row < lineCount(); ++row)
        paintLine(painter, top + row, kMargin + row * m_lineHeight, left, columns);

    if (hasFocus()) {
        const QPointF caret = cellPosition(lineOf(m_caret), columnOf(m_caret));
        if (caret.y() >= 0 && caret.y() < viewport()->height() && caret.x() >= 0 && caret.x() <= viewport()->width())
            painter.fillRect(QRectF(caret.x(), caret.y(), 1, m_lineHeight), palette().brush(QPalette::Text));
    }
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
        moveCaret(positionAtColumn(target, qreal(m_goalColumn)), shift, true);
    };

    switch (event->key()) {
    case Qt::Key_Left:
        moveCaret(previousPosition(m_caret), shift);
        break;
    case Qt::Key_Right:
        moveCaret(nextPosition(m_caret), shift);
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
        moveCaret(control ? m_data.size() : lineEnd(line), shift);
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
    const qsizetype position = locateColumn(line, static_cast<qsizetype>(column)).first;
    const qsizetype start = lineStart(line);
    const qsizetype end = lineEnd(line);
    if (position >= end) {
        moveCaret(position, false);
        m_dragging = false;
        return;
    }
    const char* d = m_data.constData();
    qsizetype from = position;
    qsizetype to = position + 1;
    if (isWordChar(static_cast<uchar>(d[position]))) {
        while (from > start && isWordChar(static_cast<uchar>(d[from - 1])))
            --from;
        while (to < end && isWordChar(static_cast<uchar>(d[to])))
            ++to;
    }
    m_goalColumn = -1;
    setAnchorAndCaret(from, to);
    ensureCaretVisible();
    m_dragging = false;
    event->accept();
}
