#pragma once

#include "app/LineStarts.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <utility>
#include <vector>

// The text of the reply box and its line index, without any widget: the
// exact bytes it was given (every CR, LF and NUL, one Latin-1 character
// each) and where each line starts, kept up to date as blocks arrive.
// A line ends at CR LF, LF or a lone CR; a CR ending one append and an LF
// starting the next are one break. Tabs advance to the next multiple of
// kTabWidth columns; every other character takes one column.
//
// Positions are byte offsets into the text; lines and columns count from 0.
// Views follow the text through the signals: replaced() when the whole text
// was set anew, appended() when bytes were added at its end.
class ReplyText : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyText)

public:
    static constexpr int kTabWidth = 8;
    static constexpr qsizetype nextTabStop(qsizetype column) { return (column / kTabWidth + 1) * kTabWidth; }

    explicit ReplyText(QObject* parent = nullptr);
    ~ReplyText() override;

    // The exact text, one byte per character.
    const QByteArray& data() const { return m_data; }
    QString text() const { return QString::fromLatin1(m_data); }
    qsizetype length() const { return m_data.size(); }
    QString textAt(qsizetype position, qsizetype length) const
    {
        return QString::fromLatin1(m_data.mid(position, length));
    }

    void setData(const QByteArray& data);
    void append(const QByteArray& block);
    // Releases the memory of a large text, not only its contents.
    void clear();

    // The line index: number of lines (at least one) and where each starts.
    qsizetype lineCount() const { return m_lineStarts.size(); }
    qsizetype lineStart(qsizetype line) const { return m_lineStarts.at(line); }
    // Where the line's text ends (its line end, if any, follows).
    qsizetype lineEnd(qsizetype line) const;
    // The text of one line without its line end; empty for a line out of range.
    QByteArray lineText(qsizetype line) const;
    // The line holding a character position (a position inside a CR LF pair
    // belongs to the line the pair ends).
    qsizetype lineOf(qsizetype position) const { return m_lineStarts.lineAt(position); }

    // The column where the character at position starts, tabs expanded.
    qsizetype columnOf(qsizetype position) const;
    // The widest line, in columns.
    qsizetype widestLine() const { return m_widestLine; }
    // The character covering column in line: its position and start column,
    // or the line end and its column when the line is shorter.
    std::pair<qsizetype, qsizetype> locateColumn(qsizetype line, qsizetype column) const;
    // The caret position nearest to a (fractional) column in line.
    qsizetype positionAtColumn(qsizetype line, qreal column) const;

    // Caret steps: one character, with a CR LF pair stepped over as one.
    qsizetype nextPosition(qsizetype position) const;
    qsizetype previousPosition(qsizetype position) const;
    // The word holding position (which lies before the end of line) as
    // [from, to); a character that is no word character stands alone.
    std::pair<qsizetype, qsizetype> wordAround(qsizetype line, qsizetype position) const;
    // Anchor at start, caret at start + length (a negative length puts the
    // caret before the anchor), both clamped to the text: {anchor, caret}.
    std::pair<qsizetype, qsizetype> clampSelection(qsizetype start, qsizetype length) const;

signals:
    // The whole text is about to be set anew (still readable here), then was.
    void aboutToReplace();
    void replaced();
    // Bytes were added at from; the lines from lineOf(from) on may have changed.
    void appended(qsizetype from, qsizetype length);

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
    bool lineHasTab(qsizetype line) const { return m_lineHasTab[static_cast<size_t>(line)]; }

    QByteArray m_data;
    LineStarts m_lineStarts;
    std::vector<bool> m_lineHasTab{false};
    std::vector<Mark> m_marks;
    qsizetype m_openColumns = 0; // columns of the last line so far
    qsizetype m_widestLine = 0; // in columns, for the horizontal scroll range
};
