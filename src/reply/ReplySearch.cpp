#include "reply/ReplySearch.h"

#include "reply/ReplyText.h"
#include "reply/ShownText.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {
uchar foldAscii(uchar c)
{
    return c >= 'A' && c <= 'Z' ? uchar(c + ('a' - 'A')) : c;
}

bool isAscii(const char* d, qsizetype from, qsizetype to)
{
    qsizetype p = from;
    for (; p + 8 <= to; p += 8) {
        quint64 word;
        std::memcpy(&word, d + p, 8);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; p < to; ++p) {
        if (uchar(d[p]) >= 0x80)
            return false;
    }
    return true;
}
} // namespace

ReplySearch::ReplySearch(const ReplyText& text, Options options, qsizetype start)
    : m_text(text), m_options(std::move(options)), m_end(text.length())
{
    m_start = text.characterStart(std::clamp<qsizetype>(start, 0, m_end));
    m_asciiWhat = true;
    for (const QChar c : m_options.what)
        m_asciiWhat = m_asciiWhat && c.unicode() < 0x80;
    if (m_asciiWhat)
        m_whatBytes = m_options.what.toLatin1();
    if (m_options.what.isEmpty()) {
        m_state = State::NotFound;
        return;
    }
    if (m_options.backward) {
        m_low = 0;
        m_high = m_start;
    } else {
        m_low = m_start;
        m_high = m_end;
    }
    m_cursor = m_options.backward ? m_high : m_low;
}

ReplySearch::State ReplySearch::run()
{
    while (step() == State::Running) {
    }
    return m_state;
}

ReplySearch::State ReplySearch::step(qsizetype bytes)
{
    if (m_state != State::Running)
        return m_state;
    const bool more = m_options.backward ? backwardSlice(bytes) : forwardSlice(bytes);
    if (m_state == State::Running && !more && !nextPass())
        m_state = State::NotFound;
    return m_state;
}

bool ReplySearch::nextPass()
{
    if (m_wrapped)
        return false;
    m_wrapped = true;
    if (m_options.backward) {
        m_low = m_start;
        m_high = m_end;
        m_cursor = m_high;
    } else {
        m_low = 0;
        m_high = m_start;
        m_cursor = m_low;
    }
    return m_low < m_high;
}

// Any match that starts in [startsFrom, startsTo) lies inside the decoded
// stretch, since the stretch runs on past startsTo by the longest a match can be.
bool ReplySearch::matchIn(qsizetype decodeFrom, qsizetype decodeTo, qsizetype startsFrom, qsizetype startsTo)
{
    // ASCII reads the same in every decoding, so an ASCII word in ASCII text
    // is looked for in the bytes themselves, without making the text.
    const char* d = m_text.data().constData();
    if (m_asciiWhat && isAscii(d, decodeFrom, decodeTo))
        return asciiMatchIn(decodeFrom, decodeTo, startsFrom, startsTo);
    const ShownText shown(m_text, decodeFrom, decodeTo);
    const Qt::CaseSensitivity cs = m_options.matchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const QString& haystack = shown.text();
    const qsizetype units = m_options.what.size();
    if (!m_options.backward) {
        for (qsizetype k = haystack.indexOf(m_options.what, 0, cs); k >= 0;
             k = haystack.indexOf(m_options.what, k + 1, cs)) {
            const qsizetype at = shown.positionOf(k);
            if (at >= startsTo)
                return false;
            if (at >= startsFrom) {
                m_matchFrom = at;
                m_matchTo = shown.positionOf(k + units);
                return true;
            }
        }
        return false;
    }
    for (qsizetype k = haystack.lastIndexOf(m_options.what, -1, cs); k >= 0;
         k = k > 0 ? haystack.lastIndexOf(m_options.what, k - 1, cs) : -1) {
        const qsizetype at = shown.positionOf(k);
        if (at < startsFrom)
            return false;
        if (at < startsTo) {
            m_matchFrom = at;
            m_matchTo = shown.positionOf(k + units);
            return true;
        }
    }
    return false;
}

bool ReplySearch::asciiMatchIn(qsizetype from, qsizetype to, qsizetype startsFrom, qsizetype startsTo)
{
    const char* d = m_text.data().constData();
    const char* first = d + from;
    const char* last = d + to;
    const auto hash = [](char c) { return std::hash<uchar>()(foldAscii(uchar(c))); };
    const auto same = [](char a, char b) { return foldAscii(uchar(a)) == foldAscii(uchar(b)); };
    const std::boyer_moore_horspool_searcher exact(m_whatBytes.cbegin(), m_whatBytes.cend());
    const std::boyer_moore_horspool_searcher anyCase(m_whatBytes.cbegin(), m_whatBytes.cend(), hash, same);
    const auto search = [&](const char* at) {
        return m_options.matchCase ? std::search(at, last, exact) : std::search(at, last, anyCase);
    };
    qsizetype found = -1;
    for (const char* hit = search(first); hit != last; hit = search(hit + 1)) {
        const qsizetype at = hit - d;
        if (at >= startsTo)
            break;
        if (at >= startsFrom) {
            found = at;
            if (!m_options.backward)
                break;
        }
    }
    if (found < 0)
        return false;
    m_matchFrom = found;
    m_matchTo = found + m_whatBytes.size();
    return true;
}

bool ReplySearch::forwardSlice(qsizetype bytes)
{
    if (m_cursor >= m_high)
        return false;
    // A match of n units takes at most 3n bytes.
    const qsizetype overlap = 3 * m_options.what.size();
    qsizetype sliceEnd = std::min(m_high, m_cursor + std::max<qsizetype>(1, bytes));
    if (sliceEnd < m_high)
        sliceEnd = std::max(m_text.characterStart(sliceEnd), m_text.nextPosition(m_cursor));
    qsizetype decodeTo = std::min(m_end, sliceEnd + overlap);
    if (decodeTo < m_end)
        decodeTo = std::max(sliceEnd, m_text.characterStart(decodeTo));
    if (matchIn(m_cursor, decodeTo, m_cursor, sliceEnd)) {
        m_state = State::Found;
        return true;
    }
    m_cursor = sliceEnd;
    return m_cursor < m_high;
}

bool ReplySearch::backwardSlice(qsizetype bytes)
{
    if (m_cursor <= m_low)
        return false;
    const qsizetype overlap = 3 * m_options.what.size();
    const qsizetype sliceFrom = m_text.characterStart(std::max(m_low, m_cursor - std::max<qsizetype>(1, bytes)));
    qsizetype decodeTo = std::min(m_end, m_cursor + overlap);
    if (decodeTo < m_end)
        decodeTo = std::max(m_cursor, m_text.characterStart(decodeTo));
    if (matchIn(sliceFrom, decodeTo, std::max(sliceFrom, m_low), m_cursor)) {
        m_state = State::Found;
        return true;
    }
    m_cursor = sliceFrom;
    return m_cursor > m_low;
}

void ReplySearch::textDropped(qsizetype bytes)
{
    const auto back = [bytes](qsizetype& position) { position = std::max<qsizetype>(0, position - bytes); };
    back(m_start);
    back(m_end);
    back(m_low);
    back(m_high);
    back(m_cursor);
    if (m_state == State::Found) {
        back(m_matchFrom);
        back(m_matchTo);
    }
}

QString findStatusText(ReplySearch::State state, bool wrapped, bool backward, const QString& what)
{
    if (state == ReplySearch::State::NotFound)
        return QStringLiteral("Cannot find \"%1\"").arg(what);
    if (state == ReplySearch::State::Found && wrapped) {
        if (backward)
            return QCoreApplication::translate("ReplySearch", "Passed the top of the reply, went on from the end");
        return QCoreApplication::translate("ReplySearch", "Passed the end of the reply, went on from the top");
    }
    return {};
}
