#include "app/ReplyText.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
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
    resetIndex();
    indexFrom(0);
    emit replaced();
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
    indexFrom(from);
    emit appended(from, block.size());
}

void ReplyText::resetIndex()
{
    m_lineStarts.reset(0);
    std::vector<bool>{false}.swap(m_lineHasTab);
    std::vector<Mark>().swap(m_marks);
    m_openColumns = 0;
    m_widestLine = 0;
}

// Extends the index over m_data[from..]; only the last line can be open, so
// the work is proportional to the new bytes.
void ReplyText::indexFrom(qsizetype from)
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
            columns = nextTabStop(columns);
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
        column = d[p] == '\t' ? nextTabStop(column) : column + 1;
    return column;
}

std::pair<qsizetype, qsizetype> ReplyText::locateColumn(qsizetype line, qsizetype column) const
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

qsizetype ReplyText::positionAtColumn(qsizetype line, qreal column) const
{
    const auto [p, c] = locateColumn(line, static_cast<qsizetype>(std::floor(column)));
    if (p >= lineEnd(line))
        return p;
    const qsizetype width = m_data.at(p) == '\t' ? kTabWidth - c % kTabWidth : 1;
    // The caret goes to the nearer edge of the character.
    return column - static_cast<qreal>(c) > width / 2.0 ? p + 1 : p;
}

qsizetype ReplyText::nextPosition(qsizetype position) const
{
    if (position >= m_data.size())
        return m_data.size();
    if (m_data.at(position) == '\r' && position + 1 < m_data.size() && m_data.at(position + 1) == '\n')
        return position + 2;
    return position + 1;
}

qsizetype ReplyText::previousPosition(qsizetype position) const
{
    if (position <= 0)
        return 0;
    if (m_data.at(position - 1) == '\n' && position >= 2 && m_data.at(position - 2) == '\r')
        return position - 2;
    return position - 1;
}

std::pair<qsizetype, qsizetype> ReplyText::wordAround(qsizetype line, qsizetype position) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = lineEnd(line);
    const char* d = m_data.constData();
    qsizetype from = position;
    qsizetype to = position + 1;
    if (isWordChar(static_cast<uchar>(d[position]))) {
        while (from > start && isWordChar(static_cast<uchar>(d[from - 1])))
            --from;
        while (to < end && isWordChar(static_cast<uchar>(d[to])))
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
