// How the reply box draws its text: only the cells in view, plain characters
// in runs, tabs as space and control characters as framed symbols.
#include "reply/ReplyBox.h"
#include "reply/ReplyGlyphs.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>

namespace {
using ReplyGlyphs::Glyph;
constexpr auto glyphKind = ReplyGlyphs::kind;
} // namespace

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
    auto [p, column] = m_text.locateColumn(line, firstColumn);

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
    ReplyText::Chars chars = m_text.chars(p);
    ReplyText::Char ch;
    while (column < lastColumn && chars.next(ch, end)) {
        if (ch.width == 0)
            continue; // the rest of a character a note split: drawn at its start
        const bool selected = ch.position >= selectionStart && ch.position < selectionEnd;
        if (ch.multiByte) {
            flush();
            if (ch.code <= 0xFF && glyphKind(uchar(ch.code)) == Glyph::Symbol) {
                painter.drawPixmap(QPointF(xOf(column), y), symbolPixmap(uchar(ch.code), selected));
            } else {
                // On its own in its cells: wide and combining characters keep the
                // grid, a wide one centred in its two.
                const QString character = QString::fromUcs4(&ch.code, 1);
                qreal x = xOf(column);
                if (ch.width == 2)
                    x += std::max<qreal>(0, (2 * m_charWidth - QFontMetricsF(font()).horizontalAdvance(character)) / 2);
                painter.setPen(selected ? selectedColour : textColour);
                painter.drawText(QPointF(x, y + m_ascent), character);
            }
            column += ch.width;
            continue;
        }
        const auto c = uchar(ch.code);
        switch (glyphKind(c)) {
        case Glyph::Tab:
            flush();
            column = ReplyText::nextTabStop(column);
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
    paintLinks(painter, line, y, firstColumn, lastColumn);
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
        // A dotted frame in the margin tells a keyboard user where the focus is.
        painter.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
        painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
    }
}
