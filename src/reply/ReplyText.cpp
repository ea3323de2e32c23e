#include "reply/ReplyText.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
bool isContinuation(uchar c)
{
    return (c & 0xC0) == 0x80;
}

bool isWordChar(uchar c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'
        || c == 0xAA || c == 0xB5 || c == 0xBA || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}
} // namespace

ReplyText::ReplyText(QObject* parent) : QObject(parent)
{
    resetIndex();
}

ReplyText::~ReplyText() = default;

void ReplyText::setData(const QByteArray& data)
{
    emit aboutToReplace();
    m_data = data;
    Spans().swap(m_closedSpans);
    m_replyFrom = -1;
    reindex();
    dropOldest();
    emit replaced();
}

void ReplyText::setLimit(qsizetype bytes)
{
    m_limit = std::max<qsizetype>(1, bytes);
    if (const auto [bytesDropped, lines] = dropOldest(); bytesDropped > 0)
        emit dropped(bytesDropped, lines);
}

void ReplyText::clear()
{
    setData(QByteArray());
}

void ReplyText::append(const QByteArray& block)
{
    if (block.isEmpty())
        return;
    const qsizetype from = m_data.size();
    m_data.append(block);
    bool relaid = false;
    const bool utf8 = isUtf8At(from);
    if (utf8) {
        m_replyCheck.feed(block.constData(), block.size());
        if (!m_replyCheck.valid) {
            // Not UTF-8 after all: the whole reply is one byte a character.
            reindex();
            relaid = true;
        }
    }
    if (!relaid)
        indexRange(from, m_data.size(), utf8);
    const auto [bytes, lines] = dropOldest();
    if (bytes > 0)
        emit dropped(bytes, lines);
    const qsizetype start = std::max<qsizetype>(0, from - bytes);
    emit appended(start, m_data.size() - start);
    if (relaid)
        emit relaidOut();
}

std::pair<qsizetype, qsizetype> ReplyText::dropOldest()
{
    if (m_data.size() <= m_limit)
        return {0, 0};
    // Down to a sixteenth below the limit, so a drop comes once per such
    // chunk of appends, not with every append.
    const qsizetype excess = m_data.size() - (m_limit - m_limit / 16);
    const qsizetype line = lineOf(excess);
    qsizetype cut = excess;
    bool wholeLines = true;
    if (lineStart(line) != excess) {
        if (line + 1 < lineCount() && lineStart(line + 1) < m_data.size()) {
            cut = lineStart(line + 1);
        } else if (m_data.size() - lineStart(line) <= m_limit) {
            // The last line with text would go too: it stays, as it fits.
            cut = lineStart(line);
        } else {
            // A line longer than the limit: its start goes, never half of a CR LF pair.
            wholeLines = false;
            if (m_data.at(cut - 1) == '\r' && m_data.at(cut) == '\n')
                ++cut;
            cut = characterStart(cut);
            if (cut == 0)
                return {0, 0};
        }
    }
    const qsizetype lines = lineOf(cut);

    // Moved within the buffer: its pages are in memory already, and removing
    // at the front instead would leave them unused while the buffer grew on.
    char* d = m_data.data();
    std::memmove(d, d + cut, static_cast<size_t>(m_data.size() - cut));
    m_data.truncate(m_data.size() - cut);

    // The replies shown as UTF-8 move along; those dropped whole go.
    Spans kept;
    for (const Span& span : m_closedSpans) {
        if (span.to > cut)
            kept.push_back({std::max<qsizetype>(0, span.from - cut), span.to - cut});
    }
    m_closedSpans.swap(kept);
    if (m_replyFrom >= 0)
        m_replyFrom = std::max<qsizetype>(0, m_replyFrom - cut);

    if (!wholeLines) {
        // A line cut short starts its columns afresh. It is the last line
        // with text, so indexing it again is one pass of memchr.
        reindex();
        return {cut, lines};
    }
    m_lineStarts.dropFront(lines, cut);
    m_lineNeedsScan.erase(m_lineNeedsScan.begin(), m_lineNeedsScan.begin() + lines);
    const auto firstKept = std::lower_bound(m_marks.begin(), m_marks.end(), cut,
                                            [](const Mark& mark, qsizetype pos) { return mark.position < pos; });
    m_marks.erase(m_marks.begin(), firstKept);
    for (Mark& mark : m_marks)
        mark.position -= cut;
    // The widest line may have gone. The open last line keeps its columns;
    // a closed line's width is the distance to the next start less its break.
    m_widestLine = m_openColumns;
    qsizetype n = -1;
    qsizetype previous = 0;
    m_lineStarts.forEach([&](qsizetype start) {
        if (n >= 0) {
            const qsizetype breakLength = d[start - 1] == '\n' && start - 2 >= previous && d[start - 2] == '\r' ? 2 : 1;
            const qsizetype end = start - breakLength;
            m_widestLine = std::max(m_widestLine, lineNeedsScan(n) ? columnOf(end) : end - previous);
        }
        previous = start;
        ++n;
    });
    return {cut, lines};
}

void ReplyText::beginReply()
{
    endReply();
    m_replyFrom = m_data.size();
    m_replyCheck = Utf8Check();
}

void ReplyText::endReply()
{
    if (m_replyFrom < 0)
        return;
    const bool wasUtf8 = m_replyCheck.valid;
    // A sequence cut off at the end is no UTF-8 either.
    const bool utf8 = wasUtf8 && m_replyCheck.pending == 0;
    if (utf8 && m_data.size() > m_replyFrom)
        m_closedSpans.push_back({m_replyFrom, m_data.size()});
    m_replyFrom = -1;
    if (wasUtf8 && !utf8) {
        reindex();
        emit relaidOut();
    }
}

ReplyText::Spans ReplyText::utf8Spans() const
{
    Spans spans = m_closedSpans;
    if (m_replyFrom >= 0 && m_replyCheck.valid && m_data.size() > m_replyFrom)
        spans.push_back({m_replyFrom, m_data.size()});
    return spans;
}

bool ReplyText::isUtf8At(qsizetype position) const
{
    if (m_replyFrom >= 0 && position >= m_replyFrom)
        return m_replyCheck.valid;
    const auto after = std::upper_bound(m_closedSpans.begin(), m_closedSpans.end(), position,
                                        [](qsizetype pos, const Span& span) { return pos < span.from; });
    return after != m_closedSpans.begin() && position < (after - 1)->to;
}

qsizetype ReplyText::characterStart(qsizetype position) const
{
    const char* d = m_data.constData();
    while (position > 0 && position < m_data.size() && isContinuation(uchar(d[position])) && isUtf8At(position))
        --position;
    return position;
}

QString ReplyText::decode(const QByteArray& data, const Spans& spans, qsizetype from, qsizetype to)
{
    QString out;
    out.reserve(to - from);
    const char* d = data.constData();
    qsizetype p = from;
    for (const Span& span : spans) {
        if (span.to <= p)
            continue;
        if (span.from >= to)
            break;
        if (span.from > p) {
            out += QLatin1String(d + p, span.from - p);
            p = span.from;
        }
        const qsizetype end = std::min(span.to, to);
        out += QString::fromUtf8(d + p, end - p);
        p = end;
    }
    if (p < to)
        out += QLatin1String(d + p, to - p);
    return out;
}

void ReplyText::Utf8Check::feed(const char* bytes, qsizetype size)
{
    // The well-formed sequences only: no overlong forms, no surrogates,
    // nothing past U+10FFFF.
    for (qsizetype i = 0; i < size && valid; ++i) {
        const uchar c = static_cast<uchar>(bytes[i]);
        if (pending > 0) {
            valid = c >= low && c <= high;
            --pending;
            low = 0x80;
            high = 0xBF;
        } else if (c < 0x80) {
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            pending = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            pending = 2;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            pending = 3;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            valid = false;
        }
    }
}

void ReplyText::resetIndex()
{
    m_lineStarts.reset(0);
    std::vector<bool>{false}.swap(m_lineNeedsScan);
    std::vector<Mark>().swap(m_marks);
    m_openColumns = 0;
    m_widestLine = 0;
}

// Indexes the whole text again, each stretch read as it is now.
void ReplyText::reindex()
{
    resetIndex();
    qsizetype p = 0;
    for (const Span& span : utf8Spans()) {
        indexRange(p, span.from, false);
        indexRange(span.from, span.to, true);
        p = span.to;
    }
    indexRange(p, m_data.size(), false);
}

qsizetype ReplyText::plainColumns(qsizetype from, qsizetype to, bool utf8) const
{
    if (!utf8)
        return to - from;
    const char* d = m_data.constData();
    qsizetype columns = 0;
    for (qsizetype p = from; p < to; ++p)
        columns += isContinuation(static_cast<uchar>(d[p])) ? 0 : 1;
    return columns;
}

// Extends the index over m_data[from..to), read as UTF-8 or one byte a
// character; only the last line can be open, so the work is proportional to
// the new bytes.
void ReplyText::indexRange(qsizetype from, qsizetype to, bool utf8)
{
    const char* d = m_data.constData();
    const qsizetype size = to;
    qsizetype start = m_lineStarts.back();
    qsizetype columns = m_openColumns;
    bool needsScan = m_lineNeedsScan.back();
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
            qsizetype p = i;
            qsizetype column = columns;
            for (; nextMark < special; nextMark += kMarkSpacing) {
                column += plainColumns(p, nextMark, utf8);
                p = nextMark;
                m_marks.push_back({nextMark, column});
            }
            column += plainColumns(p, special, utf8);
            // Multi-byte characters: columns are no longer byte offsets.
            needsScan = needsScan || column - columns != special - i;
            columns = column;
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
            columns = nextTabStop(columns);
            needsScan = true;
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
            m_lineNeedsScan.back() = needsScan;
            start = i + 1;
            m_lineStarts.push_back(start);
            m_lineNeedsScan.push_back(false);
            columns = 0;
            needsScan = false;
            nextMark = start + kMarkSpacing;
        }
        if (c == '\n')
            nextLf = nextOf('\n', ++i);
        else
            nextCr = nextOf('\r', ++i);
    }
    m_lineNeedsScan.back() = needsScan;
    m_openColumns = columns;
    m_widestLine = std::max(widest, columns);
}

qsizetype ReplyText::widthAt(qsizetype position, qsizetype column) const
{
    const uchar c = static_cast<uchar>(m_data.at(position));
    if (c == '\t')
        return kTabWidth - column % kTabWidth;
    return isContinuation(c) && isUtf8At(position) ? 0 : 1;
}

qsizetype ReplyText::lineEnd(qsizetype line) const
{
    if (line + 1 >= lineCount())
        return m_data.size();
    const qsizetype next = lineStart(line + 1);
    if (m_data.at(next - 1) == '\n' && next - 2 >= lineStart(line) && m_data.at(next - 2) == '\r')
        return next - 2;
    return next - 1;
}

QByteArray ReplyText::lineText(qsizetype line) const
{
    if (line < 0 || line >= lineCount())
        return {};
    const qsizetype start = lineStart(line);
    return m_data.mid(start, lineEnd(line) - start);
}

qsizetype ReplyText::columnOf(qsizetype position) const
{
    const qsizetype line = lineOf(position);
    const qsizetype start = lineStart(line);
    const qsizetype target = std::clamp(position, start, lineEnd(line));
    if (!lineNeedsScan(line))
        return target - start;

    qsizetype p = start;
    qsizetype column = 0;
    auto it = std::upper_bound(m_marks.begin(), m_marks.end(), target,
                               [](qsizetype pos, const Mark& mark) { return pos < mark.position; });
    if (it != m_marks.begin() && (it - 1)->position >= start) {
        p = (it - 1)->position;
        column = (it - 1)->column;
    }
    for (; p < target; ++p)
        column += widthAt(p, column);
    return column;
}

std::pair<qsizetype, qsizetype> ReplyText::locateColumn(qsizetype line, qsizetype column) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = lineEnd(line);
    column = std::max<qsizetype>(0, column);
    if (!lineNeedsScan(line)) {
        // Without tabs or multi-byte characters a column is a byte offset:
        // no scan, however long the line.
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
    for (; p < end; ++p) {
        const qsizetype width = widthAt(p, c);
        if (c + width > column)
            return {p, c};
        c += width;
    }
    return {end, c};
}

qsizetype ReplyText::positionAtColumn(qsizetype line, qreal column) const
{
    const auto [p, c] = locateColumn(line, static_cast<qsizetype>(std::floor(column)));
    if (p >= lineEnd(line))
        return p;
    const qsizetype width = widthAt(p, c);
    // The caret goes to the nearer edge of the character.
    return column - static_cast<qreal>(c) > width / 2.0 ? nextPosition(p) : p;
}

qsizetype ReplyText::nextPosition(qsizetype position) const
{
    if (position >= m_data.size())
        return m_data.size();
    if (m_data.at(position) == '\r' && position + 1 < m_data.size() && m_data.at(position + 1) == '\n')
        return position + 2;
    // A multi-byte character is one step.
    qsizetype next = position + 1;
    while (next < m_data.size() && isContinuation(static_cast<uchar>(m_data.at(next))) && isUtf8At(next))
        ++next;
    return next;
}

qsizetype ReplyText::previousPosition(qsizetype position) const
{
    if (position <= 0)
        return 0;
    if (m_data.at(position - 1) == '\n' && position >= 2 && m_data.at(position - 2) == '\r')
        return position - 2;
    return characterStart(position - 1);
}

std::pair<qsizetype, qsizetype> ReplyText::wordAround(qsizetype line, qsizetype position) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = lineEnd(line);
    const char* d = m_data.constData();
    // In UTF-8 every non-ASCII byte counts as part of a word (its letters
    // take several bytes); elsewhere the Latin-1 letters do.
    const auto wordByte = [this, d](qsizetype p) {
        const uchar c = static_cast<uchar>(d[p]);
        return isWordChar(c) || (c >= 0x80 && isUtf8At(p));
    };
    position = characterStart(position);
    qsizetype from = position;
    qsizetype to = nextPosition(position);
    if (wordByte(position)) {
        while (from > start && wordByte(from - 1))
            --from;
        while (to < end && wordByte(to))
            ++to;
    }
    return {from, to};
}

std::pair<qsizetype, qsizetype> ReplyText::clampSelection(qsizetype start, qsizetype length) const
{
    const qsizetype size = m_data.size();
    const qsizetype anchor = std::clamp<qsizetype>(start, 0, size);
    // Clamped before adding, so no length can overflow the sum.
    const qsizetype caret = length >= 0 ? (length > size - anchor ? size : anchor + length)
                                        : (length < -anchor ? 0 : anchor + length);
    return {anchor, caret};
}
