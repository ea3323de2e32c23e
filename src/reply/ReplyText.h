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
// Bytes are Latin-1 characters, one each, except inside a reply: there each
// well-formed UTF-8 sequence is its character and every other byte is one
// Latin-1 character again, so a stray byte costs one character, not the
// reply. A note of the program's own appended while a reply is open
// (appendNote) is no part of it: a character whose bytes a note splits shows
// whole at its first byte, its rest after the note takes no cell. While the
// reply is open, a sequence at its end waits for its rest (shown as U+FFFD).
// The bytes never change either way.
//
// Tabs advance to the next multiple of kTabWidth columns; East Asian wide
// characters take two columns, every other character one, however many
// bytes it has.
//
// The line index is sparse, so a reply of nothing but line breaks costs a
// few bytes of index per hundred lines: a checkpoint every kCheckpointLines
// lines or kCheckpointBytes bytes, whichever comes first, and the lines in
// between are found by scanning that stretch.
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
    static constexpr qsizetype kCheckpointLines = 128;
    static constexpr qsizetype kCheckpointBytes = 1024;

    explicit ReplyText(QObject* parent = nullptr);
    ~ReplyText() override;

    // A stretch of bytes [from, to) of a reply, read as UTF-8 sequence by sequence.
    struct Span
    {
        qsizetype from;
        qsizetype to;
        // The same reply goes on in the next stretch (a note came in between),
        // so a character may carry on there.
        bool continued = false;
        // The reply is still open and this is its latest stretch: a sequence
        // at its end waits for its rest.
        bool open = false;
    };
    using Spans = std::vector<Span>;

    // One character of the text as shown.
    struct Char
    {
        qsizetype position; // its first byte here
        qsizetype end; // after its last byte here
        // The character (a byte's Latin-1 one, a decoded one, U+FFFD while it
        // waits for its rest); 0 for the rest of a character a note split, after the note.
        char32_t code;
        int width; // cells: 0, 1 or 2 (a tab counts 1 here; columns widen it)
        bool multiByte; // decoded from several bytes (or waiting for them)
        bool waiting; // at the open reply's end, waiting for its rest
        // The column after this character when it starts at column.
        qsizetype advance(qsizetype column) const
        {
            return code == '\t' && !multiByte ? nextTabStop(column) : column + width;
        }
    };

    // Walks the characters of data (given its reply stretches) from the one
    // holding a position on; the text must not change meanwhile.
    class Chars
    {
    public:
        Chars(const QByteArray& data, const Spans& spans, qsizetype from);
        // The next character starting before `to`; false at the end.
        bool next(Char& out, qsizetype to);
        qsizetype position() const { return m_position; }

    private:
        const char* m_data;
        qsizetype m_size;
        const Spans* m_spans;
        qsizetype m_position;
        size_t m_span = 0; // the first stretch that ends after m_position
    };

    // The columns a character takes on a screen of fixed-width cells.
    static int cellWidth(char32_t code);

    // The exact bytes.
    const QByteArray& data() const { return m_data; }
    qsizetype length() const { return m_data.size(); }
    // The text as shown: replies decoded, the rest one byte a character.
    QString text() const { return decode(m_data, m_spans, 0, m_data.size()); }
    QString textAt(qsizetype position, qsizetype length) const
    {
        const auto [anchor, caret] = clampSelection(position, length);
        return decode(m_data, m_spans, std::min(anchor, caret), std::max(anchor, caret));
    }
    // The bytes [from, to) of data as shown, given its reply stretches; a
    // character starting before from is left out.
    static QString decode(const QByteArray& data, const Spans& spans, qsizetype from, qsizetype to);
    Chars chars(qsizetype from) const { return Chars(m_data, m_spans, from); }

    void setData(const QByteArray& data);
    void append(const QByteArray& block);
    // Text of the program's own: never part of an open reply.
    void appendNote(const QByteArray& block);
    // Releases the memory of a large text, not only its contents.
    void clear();
    // The most bytes kept; tests set a small one.
    void setLimit(qsizetype bytes);
    qsizetype limit() const { return m_limit; }

    // What is appended from now on is one reply, until endReply().
    void beginReply();
    void endReply();
    // The reply stretches, in order.
    const Spans& utf8Spans() const { return m_spans; }
    // Whether the byte at position belongs to a reply stretch.
    bool isUtf8At(qsizetype position) const;
    // Where the character holding the byte at position starts.
    qsizetype characterStart(qsizetype position) const;
    // The columns the character at position takes when it starts at column.
    qsizetype characterColumns(qsizetype position, qsizetype column) const;

    // The line index: number of lines (at least one) and where each starts.
    qsizetype lineCount() const { return m_lineCount; }
    qsizetype lineStart(qsizetype line) const;
    // Where the line's text ends (its line end, if any, follows).
    qsizetype lineEnd(qsizetype line) const;
    // The text of one line without its line end; empty for a line out of range.
    QByteArray lineText(qsizetype line) const;
    // The line holding a character position (a position inside a CR LF pair
    // belongs to the line the pair ends).
    qsizetype lineOf(qsizetype position) const;

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
    // The bytes stayed, but characters changed (a character waiting for its
    // rest got it, or never will).
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
    // A text past this reserves room up to its limit (and some for the block past it).
    static constexpr qsizetype kReserveFrom = 1 << 20;
    static constexpr qsizetype kReserveSlack = 1 << 20;

    // The lines from a checkpoint to the next one.
    struct Stretch
    {
        qsizetype line; // the checkpoint's line
        qsizetype widest; // the widest of its lines, in columns
        bool plain; // every column is a byte offset (no tab, no byte read as UTF-8)
    };

    void appendBlock(const QByteArray& block, bool partOfReply);
    void resetIndex();
    // Drops the oldest lines when the text is past the limit; {bytes, lines} dropped.
    std::pair<qsizetype, qsizetype> dropOldest();
    void reindex();
    void indexRange(qsizetype from, qsizetype to);
    // The character waiting for its rest got it or never will: indexes anew from just before it.
    void settleWaiting(qsizetype lead);
    size_t stretchOfLine(qsizetype line) const;
    size_t stretchAt(qsizetype position) const;
    // The block tables anew from the stretches (after a drop).
    void rebuildBlocks();
    // After `lines` line breaks from p on.
    qsizetype skipLines(qsizetype p, qsizetype lines) const;
    qsizetype pastRest(qsizetype position) const;
    // The last mark at or before position in the line starting at start: {position, column}.
    std::pair<qsizetype, qsizetype> markBefore(qsizetype start, qsizetype position) const;

    QByteArray m_data;
    LineStarts m_checkpoints; // where each stretch's first line starts
    std::vector<Stretch> m_stretches;
    // Which stretch holds line k * kLineBlock, and which position
    // k * kByteBlock (up to the last checkpoint): a random lookup searches a
    // few stretches instead of all of them.
    static constexpr qsizetype kLineBlock = 1024;
    static constexpr qsizetype kByteBlock = 1 << 16;
    std::vector<quint32> m_lineBlocks;
    std::vector<quint32> m_byteBlocks;
    qsizetype m_lineCount = 1;
    qsizetype m_openStart = 0; // where the last line starts
    qsizetype m_openColumns = 0; // columns of the last line so far
    qsizetype m_nextMark = kMarkSpacing;
    qsizetype m_waiting = -1; // a character at the open reply's end waiting for its rest
    std::vector<Mark> m_marks;
    qsizetype m_widestLine = 0; // in columns, for the horizontal scroll range
    Spans m_spans; // the replies' stretches
    bool m_replyOpen = false;
    qsizetype m_limit = kDefaultLimit;
    // The last line looked up and its start, as painting asks line after line.
    mutable qsizetype m_cachedLine = -1;
    mutable qsizetype m_cachedStart = 0;
};
