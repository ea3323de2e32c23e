#pragma once

#include "reply/LineStarts.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <algorithm>
#include <utility>
#include <vector>

// The text of the reply box and its line index, without any widget: the
// exact bytes it was given (every CR, LF and NUL) and where each line
// starts, kept up to date as blocks arrive. A line ends at CR LF, LF or a
// lone CR; a CR ending one append and an LF starting the next are one break.
//
// Bytes are Latin-1 characters, one each, except inside a reply: the bytes
// appended between beginReply() and endReply() are read as UTF-8 as long as
// they are valid UTF-8 (an incomplete sequence is allowed at the end while
// the reply is still open). A reply that turns out not to be UTF-8 is one
// byte per character again, as a whole. The bytes never change either way.
//
// Tabs advance to the next multiple of kTabWidth columns; every other
// character takes one column, however many bytes it has.
//
// Past its limit (64 MiB) the text drops its oldest whole lines, as a
// terminal's scrollback does, so a flood of any length cannot exhaust memory;
// what remains is exact. It drops a chunk at a time, so appends stay cheap.
//
// Positions are byte offsets into the text; lines and columns count from 0.
// Views follow the text through the signals: replaced() when the whole text
// was set anew, appended() when bytes were added at its end, dropped() when
// its oldest bytes went.
class ReplyText : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyText)

public:
    static constexpr int kTabWidth = 8;
    static constexpr qsizetype nextTabStop(qsizetype column) { return (column / kTabWidth + 1) * kTabWidth; }

    static constexpr qsizetype kDefaultLimit = 64LL * 1024 * 1024;

    explicit ReplyText(QObject* parent = nullptr);
    ~ReplyText() override;

    // A stretch of bytes [from, to) read as UTF-8.
    struct Span
    {
        qsizetype from;
        qsizetype to;
    };
    using Spans = std::vector<Span>;

    // The exact bytes.
    const QByteArray& data() const { return m_data; }
    qsizetype length() const { return m_data.size(); }
    // The text as shown: UTF-8 stretches decoded, the rest one byte a character.
    QString text() const { return decode(m_data, utf8Spans(), 0, m_data.size()); }
    QString textAt(qsizetype position, qsizetype length) const
    {
        const auto [anchor, caret] = clampSelection(position, length);
        return decode(m_data, utf8Spans(), std::min(anchor, caret), std::max(anchor, caret));
    }
    // The bytes [from, to) of data as shown, given its UTF-8 stretches.
    static QString decode(const QByteArray& data, const Spans& spans, qsizetype from, qsizetype to);

    void setData(const QByteArray& data);
    void append(const QByteArray& block);
    // Releases the memory of a large text, not only its contents.
    void clear();
    // The most bytes kept; tests set a small one.
    void setLimit(qsizetype bytes);
    qsizetype limit() const { return m_limit; }

    // What is appended from now on is one reply, until endReply().
    void beginReply();
    void endReply();
    // The stretches read as UTF-8, in order (an open reply up to the end).
    Spans utf8Spans() const;
    // Whether the byte at position belongs to a stretch read as UTF-8.
    bool isUtf8At(qsizetype position) const;
    // Where the character holding the byte at position starts.
    qsizetype characterStart(qsizetype position) const;

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
    // The bytes stayed, but columns changed (a reply turned out not to be UTF-8).
    void relaidOut();
    // Bytes were added at from; the lines from lineOf(from) on may have changed.
    void appended(qsizetype from, qsizetype length);
    // The oldest bytes went, whole lines (only a line longer than the limit
    // loses its start): every position moved back by bytes, every line by
    // lines. Comes before the appended() of the block that caused it.
    void dropped(qsizetype bytes, qsizetype lines);

private:
    // A known (byte, column) pair inside a long line, so finding a column in
    // a line with tabs scans a bounded stretch instead of the whole line.
    struct Mark
    {
        qsizetype position;
        qsizetype column;
    };
    static constexpr qsizetype kMarkSpacing = 4096;

    // Checks a reply's bytes as they come: valid UTF-8 so far, and how many
    // continuation bytes the sequence under way still needs.
    struct Utf8Check
    {
        int pending = 0;
        uchar low = 0x80;
        uchar high = 0xBF;
        bool valid = true;
        void feed(const char* bytes, qsizetype size);
    };

    void resetIndex();
    // Drops the oldest lines when the text is past the limit; {bytes, lines} dropped.
    std::pair<qsizetype, qsizetype> dropOldest();
    void reindex();
    void indexRange(qsizetype from, qsizetype to, bool utf8);
    // Columns of the bytes [from, to) of one line (no tab in between).
    qsizetype plainColumns(qsizetype from, qsizetype to, bool utf8) const;
    // Columns a byte takes at column (a tab up to the next stop, a UTF-8 continuation none).
    qsizetype widthAt(qsizetype position, qsizetype column) const;
    bool lineNeedsScan(qsizetype line) const { return m_lineNeedsScan[static_cast<size_t>(line)]; }

    QByteArray m_data;
    LineStarts m_lineStarts;
    // Lines whose columns are not their byte offsets (tabs, multi-byte characters).
    std::vector<bool> m_lineNeedsScan{false};
    Spans m_closedSpans; // finished replies that are UTF-8
    qsizetype m_replyFrom = -1; // the open reply's start, -1 when none
    Utf8Check m_replyCheck;
    std::vector<Mark> m_marks;
    qsizetype m_openColumns = 0; // columns of the last line so far
    qsizetype m_widestLine = 0; // in columns, for the horizontal scroll range
    qsizetype m_limit = kDefaultLimit;
};
