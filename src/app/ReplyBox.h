#pragma once

#include "app/LineStarts.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QPixmap>
#include <QString>

#include <unordered_map>
#include <utility>
#include <vector>

class QPainter;

// The reply box: a read-only text view that keeps the exact text it was given
// (every CR, LF and NUL) and paints only the lines and columns in view, so a
// hostile reply of one huge line or many megabytes cannot freeze the window.
// A line ends at CR LF, LF or a lone CR; a CR ending one append and an LF
// starting the next are one break. Characters are one byte each (Latin-1).
// Tabs advance to the next multiple of 8 columns; other control characters
// are shown as visible symbols.
class ReplyBox : public QAbstractScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyBox)

public:
    static constexpr int kTabWidth = 8;

    explicit ReplyBox(QWidget* parent = nullptr);
    ~ReplyBox() override;

    // The exact text, one byte per character.
    const QByteArray& data() const { return m_data; }
    QString text() const { return QString::fromLatin1(m_data); }
    qsizetype length() const { return m_data.size(); }

    // Replacing the text puts the caret at the start and scrolls there.
    void setText(const QString& text);
    void setData(const QByteArray& data);
    void append(const QByteArray& block);
    void append(const QString& block) { append(block.toLatin1()); }
    void append(const char* block) { append(QByteArray(block)); }
    void clear();

    // Selection, in characters of the exact text. The anchor stays where the
    // selection began; the caret is the end that moves.
    qsizetype selStart() const;
    qsizetype selLength() const;
    QString selectedText() const;
    // Anchor at start, caret at start + length (a negative length puts the
    // caret before the anchor); both are clamped to the text. Scrolls the
    // caret into view.
    void setSelection(qsizetype start, qsizetype length);
    void selectAll();
    qsizetype anchorPosition() const { return m_anchor; }
    qsizetype caretPosition() const { return m_caret; }

    // The line index: number of lines and where each starts.
    qsizetype lineCount() const { return m_lineStarts.size(); }
    qsizetype lineStart(qsizetype line) const { return m_lineStarts.at(line); }
    // Where the line's text ends (its line end, if any, follows).
    qsizetype lineEnd(qsizetype line) const;
    // The text of one line without its line end.
    QByteArray lineText(qsizetype line) const;
    // The line holding a character position (a position inside a CR LF pair
    // belongs to the line the pair ends).
    qsizetype lineOf(qsizetype position) const;
    // The column where the character at position starts, tabs expanded.
    qsizetype columnOf(qsizetype position) const;
    // The widest line, in columns.
    qsizetype widestLine() const { return m_widestLine; }

    // Geometry of the character grid, for the window and tests.
    qreal charWidth() const { return m_charWidth; }
    int lineHeight() const { return m_lineHeight; }
    int firstVisibleLine() const;
    qsizetype firstVisibleColumn() const;
    // Viewport point of the top left corner of a character cell, relative to the scroll position.
    QPointF cellPosition(qsizetype line, qsizetype column) const;

signals:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // A known (byte, column) pair inside a long line, so finding a column in
    // a line with tabs scans a bounded stretch instead of the whole line.
    struct Mark
    {
        qsizetype position;
        qsizetype column;
    };
    static constexpr qsizetype kMarkSpacing = 4096;

    void resetIndex();
    void indexFrom(qsizetype from);
    void updateMetrics();
    void updateScrollBars();
    int visibleLines() const;
    qsizetype visibleColumns() const;
    bool lineHasTab(qsizetype line) const { return m_lineHasTab[static_cast<size_t>(line)]; }
    // The character covering column in line: its position and start column,
    // or the line end and its column when the line is shorter.
    std::pair<qsizetype, qsizetype> locateColumn(qsizetype line, qsizetype column) const;
    // The caret position nearest to a (fractional) column in line.
    qsizetype positionAtColumn(qsizetype line, qreal column) const;
    // The line and fractional column under a viewport point, the line clamped to the text.
    std::pair<qsizetype, qreal> cellAt(const QPoint& point) const;
    qsizetype positionAt(const QPoint& point) const;
    qsizetype nextPosition(qsizetype position) const;
    qsizetype previousPosition(qsizetype position) const;
    const QPixmap& symbolPixmap(uchar c, bool selected) const;
    void paintLine(QPainter& painter, qsizetype line, int y, qsizetype firstColumn, qsizetype columns) const;
    void moveCaret(qsizetype position, bool extend, bool keepGoalColumn = false);
    void setAnchorAndCaret(qsizetype anchor, qsizetype caret);
    void ensureCaretVisible();

    QByteArray m_data;
    LineStarts m_lineStarts;
    std::vector<bool> m_lineHasTab{false};
    std::vector<Mark> m_marks;
    qsizetype m_openColumns = 0; // columns of the last line so far
    qsizetype m_anchor = 0;
    qsizetype m_caret = 0;
    qsizetype m_goalColumn = -1; // column kept while moving up and down
    qsizetype m_widestLine = 0; // in columns, for the horizontal scroll range
    qreal m_charWidth = 1;
    int m_lineHeight = 1;
    int m_ascent = 0;
    bool m_dragging = false;
    mutable std::unordered_map<int, QPixmap> m_symbols; // drawn control symbols, by byte and selection
};
