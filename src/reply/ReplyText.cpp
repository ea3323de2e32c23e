#include "reply/ReplyText.h"

#include <QChar>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(Q_OS_LINUX)
#include <sys/mman.h>
#include <unistd.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {
using Span = ReplyText::Span;
using Spans = ReplyText::Spans;
using Char = ReplyText::Char;

bool isContinuation(uchar c)
{
    return (c & 0xC0) == 0x80;
}

bool isWordChar(uchar c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'
        || c == 0xAA || c == 0xB5 || c == 0xBA || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

bool isWord(const Char& ch)
{
    if (ch.width == 0)
        return true; // the rest of a split character goes with its start
    if (!ch.multiByte)
        return isWordChar(uchar(ch.code));
    return QChar::isLetterOrNumber(ch.code) || QChar::isMark(ch.code);
}

// Bytes a well-formed sequence starting with lead has; 0 for no lead.
int sequenceLength(uchar lead)
{
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

// The byte after the lead: no overlong forms, no surrogates, nothing past U+10FFFF.
bool fitsSecond(uchar lead, uchar c)
{
    if (!isContinuation(c))
        return false;
    switch (lead) {
    case 0xE0:
        return c >= 0xA0;
    case 0xED:
        return c <= 0x9F;
    case 0xF0:
        return c >= 0x90;
    case 0xF4:
        return c <= 0x8F;
    default:
        return true;
    }
}

// The first stretch that ends after p (spans.size() when none).
size_t spanAfter(const Spans& spans, qsizetype p)
{
    return size_t(std::upper_bound(spans.begin(), spans.end(), p,
                                   [](qsizetype pos, const Span& span) { return pos < span.to; })
                  - spans.begin());
}

bool inSpan(const Spans& spans, size_t si, qsizetype p)
{
    return si < spans.size() && spans[si].from <= p;
}

// The reply's byte after q (in stretch si), over a note into the same
// reply's next stretch; -1 at the end of what the reply has so far.
qsizetype streamNext(const Spans& spans, size_t& si, qsizetype q)
{
    if (q + 1 < spans[si].to)
        return q + 1;
    if (spans[si].continued && si + 1 < spans.size())
        return spans[++si].from;
    return -1;
}

qsizetype streamPrevious(const Spans& spans, size_t& si, qsizetype q)
{
    if (q > spans[si].from)
        return q - 1;
    if (si > 0 && spans[si - 1].continued)
        return spans[--si].to - 1;
    return -1;
}

struct Sequence
{
    enum State { None, Whole, Waiting } state = None;
    char32_t code = 0;
    qsizetype contiguousEnd = 0; // after its bytes that follow the lead with no note between
};

Sequence sequenceAt(const char* d, const Spans& spans, size_t si, qsizetype p)
{
    Sequence seq;
    const auto lead = uchar(d[p]);
    const int n = sequenceLength(lead);
    if (n == 0)
        return seq;
    char32_t code = lead & (0x7F >> n);
    qsizetype q = p;
    qsizetype contiguousEnd = p + 1;
    for (int k = 1; k < n; ++k) {
        const qsizetype next = streamNext(spans, si, q);
        if (next < 0) {
            if (spans[si].open) {
                seq.state = Sequence::Waiting;
                seq.code = 0xFFFD;
                seq.contiguousEnd = contiguousEnd;
            }
            return seq;
        }
        const auto c = uchar(d[next]);
        if (k == 1 ? !fitsSecond(lead, c) : !isContinuation(c))
            return seq;
        if (next == q + 1 && contiguousEnd == q + 1)
            contiguousEnd = next + 1;
        code = code << 6 | (c & 0x3F);
        q = next;
    }
    seq.state = Sequence::Whole;
    seq.code = code;
    seq.contiguousEnd = contiguousEnd;
    return seq;
}

struct Lead
{
    qsizetype position = -1; // -1: the byte belongs to no sequence
    int distance = 0; // reply bytes from the lead to the byte
    bool note = false; // a note lies between
};

// The sequence a continuation byte p (in stretch si) belongs to.
Lead leadOf(const char* d, const Spans& spans, size_t si, qsizetype p)
{
    Lead lead;
    qsizetype q = p;
    for (int k = 1; k <= 3; ++k) {
        const size_t before = si;
        q = streamPrevious(spans, si, q);
        if (q < 0)
            break;
        lead.note = lead.note || si != before;
        const auto c = uchar(d[q]);
        if (isContinuation(c))
            continue;
        if (sequenceLength(c) > k && sequenceAt(d, spans, si, q).state != Sequence::None) {
            lead.position = q;
            lead.distance = k;
            return lead;
        }
        break;
    }
    return Lead();
}

// The character at p, a character start (si: the first stretch ending after p).
Char charAt(const char* d, const Spans& spans, size_t si, qsizetype p)
{
    const auto c = uchar(d[p]);
    if (c < 0x80 || !inSpan(spans, si, p))
        return {p, p + 1, c, 1, false, false};
    if (isContinuation(c)) {
        if (p == spans[si].from && si > 0 && spans[si - 1].continued) {
            const Lead lead = leadOf(d, spans, si, p);
            if (lead.position >= 0) {
                // The rest of a character a note split: it shows at its start.
                const qsizetype rest = sequenceLength(uchar(d[lead.position])) - lead.distance;
                return {p, std::min(p + rest, spans[si].to), 0, 0, true, false};
            }
        }
        return {p, p + 1, c, 1, false, false};
    }
    const Sequence seq = sequenceAt(d, spans, si, p);
    if (seq.state == Sequence::None)
        return {p, p + 1, c, 1, false, false};
    const bool waiting = seq.state == Sequence::Waiting;
    return {p, seq.contiguousEnd, seq.code, waiting ? 1 : ReplyText::cellWidth(seq.code), true, waiting};
}

qsizetype characterStartIn(const char* d, qsizetype size, const Spans& spans, qsizetype p)
{
    if (p <= 0 || p >= size || !isContinuation(uchar(d[p])))
        return p;
    const size_t si = spanAfter(spans, p);
    if (!inSpan(spans, si, p))
        return p;
    const Lead lead = leadOf(d, spans, si, p);
    if (lead.position < 0)
        return p;
    // Past a note the rest of the character starts its stretch.
    return lead.note ? spans[si].from : lead.position;
}

// The first byte at or after p and before end that UTF-8 may read otherwise than Latin-1.
qsizetype nextHigh(const char* d, qsizetype p, qsizetype end)
{
    while (p < end && (p & 7) != 0) {
        if (uchar(d[p]) & 0x80)
            return p;
        ++p;
    }
    for (; p + 8 <= end; p += 8) {
        quint64 word;
        std::memcpy(&word, d + p, 8);
        if (word & 0x8080808080808080ULL)
            break;
    }
    while (p < end && !(uchar(d[p]) & 0x80))
        ++p;
    return p;
}

// Filling megabytes of fresh memory page by page is most of what taking in a
// large reply costs; large pages take a fault per 2 MiB instead of per 4 KiB.
void adviseLargePages(QByteArray& data)
{
#if defined(Q_OS_LINUX) && defined(MADV_HUGEPAGE)
    constexpr quintptr kLarge = 2 << 20;
    const auto begin = (quintptr(data.data()) + kLarge - 1) & ~(kLarge - 1);
    const auto end = (quintptr(data.data()) + quintptr(data.capacity())) & ~(kLarge - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    Q_UNUSED(data);
#endif
}

// The pages of data's room past its end hold nothing: the kernel may reclaim
// them, and until it does writing them again costs no fault.
void releasePages(QByteArray& data)
{
#if defined(Q_OS_LINUX) && defined(MADV_FREE)
    const auto page = quintptr(::sysconf(_SC_PAGESIZE));
    // The room ends where the allocation does, which after dropped lines lies
    // short of data() + capacity().
    const auto last = quintptr(data.data()) + quintptr(data.size() + data.data_ptr().freeSpaceAtEnd());
    // Past the text and its closing NUL.
    const auto begin = (quintptr(data.data()) + quintptr(data.size()) + 1 + page - 1) & ~(page - 1);
    const auto end = last & ~(page - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_FREE);
#else
    Q_UNUSED(data);
#endif
}

// The first byte at or after p and before end that may break a line (below 0x0E).
inline qsizetype nextControl(const char* d, qsizetype p, qsizetype end)
{
    // Lines of a byte or two are common (a flood of bare line breaks).
    if (p < end && uchar(d[p]) < 0x0E)
        return p;
    for (; p + 8 <= end; p += 8) {
        quint64 word;
        std::memcpy(&word, d + p, 8);
        // The lowest byte flagged is below 0x0E (flags above it may be borrows).
        const quint64 low = (word - 0x0E0E0E0E0E0E0E0EULL) & ~word & 0x8080808080808080ULL;
        if (low)
            return p + std::countr_zero(low) / 8;
    }
    for (; p < end; ++p) {
        if (uchar(d[p]) < 0x0E)
            return p;
    }
    return end;
}

// The first byte at or after p and before end below 0x0E or, with high, from 0x80.
template<bool high>
qsizetype nextSpecialOf(const char* d, qsizetype p, qsizetype end)
{
#if defined(__SSE2__)
    const __m128i limit = _mm_set1_epi8(0x0E);
    const __m128i largestLow = _mm_set1_epi8(0x0D);
    for (; p + 16 <= end; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + p));
        // Signed, bytes from 0x80 are below 0x0E too; unsigned, only the low ones.
        const __m128i hit = high ? _mm_cmplt_epi8(bytes, limit)
                                 : _mm_cmpeq_epi8(_mm_min_epu8(bytes, largestLow), bytes);
        if (const int mask = _mm_movemask_epi8(hit))
            return p + std::countr_zero(unsigned(mask));
    }
#endif
    constexpr quint64 highBits = high ? 0x8080808080808080ULL : 0;
    for (; p + 8 <= end; p += 8) {
        quint64 word;
        std::memcpy(&word, d + p, 8);
        const quint64 hit = ((word - 0x0E0E0E0E0E0E0E0EULL) & ~word & 0x8080808080808080ULL) | (word & highBits);
        if (hit)
            return p + std::countr_zero(hit) / 8;
    }
    for (; p < end; ++p) {
        const auto c = uchar(d[p]);
        if (c < 0x0E || (high && c >= 0x80))
            return p;
    }
    return end;
}

qsizetype nextSpecial(const char* d, qsizetype p, qsizetype end, bool high)
{
    return high ? nextSpecialOf<true>(d, p, end) : nextSpecialOf<false>(d, p, end);
}

// East Asian wide and fullwidth characters.
struct Range
{
    char32_t first;
    char32_t last;
};
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},   {0x23F0, 0x23F0},
    {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},   {0x2648, 0x2653},   {0x267F, 0x267F},
    {0x2693, 0x2693},   {0x26A1, 0x26A1},   {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},
    {0x26CE, 0x26CE},   {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},   {0x2728, 0x2728},
    {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},   {0x2757, 0x2757},   {0x2795, 0x2797},
    {0x27B0, 0x27B0},   {0x27BF, 0x27BF},   {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},
    {0x2E80, 0x2E99},   {0x2E9B, 0x2EF3},   {0x2F00, 0x2FD5},   {0x2FF0, 0x2FFF},   {0x3000, 0x303E},
    {0x3041, 0x3096},   {0x3099, 0x30FF},   {0x3105, 0x312F},   {0x3131, 0x318E},   {0x3190, 0x31E3},
    {0x31EF, 0x321E},   {0x3220, 0x3247},   {0x3250, 0x4DBF},   {0x4E00, 0xA48C},   {0xA490, 0xA4C6},
    {0xA960, 0xA97C},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE52},
    {0xFE54, 0xFE66},   {0xFE68, 0xFE6B},   {0xFF01, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x16FF0, 0x16FF1}, {0x17000, 0x187F7}, {0x18800, 0x18CD5}, {0x18D00, 0x18D08}, {0x1AFF0, 0x1AFFE},
    {0x1B000, 0x1B122}, {0x1B132, 0x1B132}, {0x1B150, 0x1B152}, {0x1B155, 0x1B155}, {0x1B164, 0x1B167},
    {0x1B170, 0x1B2FB}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A},
    {0x1F200, 0x1F202}, {0x1F210, 0x1F23B}, {0x1F240, 0x1F248}, {0x1F250, 0x1F251}, {0x1F260, 0x1F265},
    {0x1F300, 0x1F320}, {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
    {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E}, {0x1F440, 0x1F440},
    {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E}, {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A},
    {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4}, {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC},
    {0x1F6D0, 0x1F6D2}, {0x1F6D5, 0x1F6D7}, {0x1F6DC, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC},
    {0x1F7E0, 0x1F7EB}, {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF},
    {0x1FA70, 0x1FA7C}, {0x1FA80, 0x1FA88}, {0x1FA90, 0x1FABD}, {0x1FABF, 0x1FAC5}, {0x1FACE, 0x1FADB},
    {0x1FAE0, 0x1FAE8}, {0x1FAF0, 0x1FAF8}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};
} // namespace

int ReplyText::cellWidth(char32_t code)
{
    if (code < kWide[0].first)
        return 1;
    const auto it = std::upper_bound(std::begin(kWide), std::end(kWide), code,
                                     [](char32_t c, const Range& range) { return c < range.first; });
    return it != std::begin(kWide) && code <= (it - 1)->last ? 2 : 1;
}

// --- Characters ------------------------------------------------------------

ReplyText::Chars::Chars(const QByteArray& data, const Spans& spans, qsizetype from)
    : m_data(data.constData()), m_size(data.size()), m_spans(&spans)
{
    m_position = characterStartIn(m_data, m_size, spans, std::clamp<qsizetype>(from, 0, m_size));
    m_span = spanAfter(spans, m_position);
}

bool ReplyText::Chars::next(Char& out, qsizetype to)
{
    if (m_position >= std::min(to, m_size))
        return false;
    while (m_span < m_spans->size() && (*m_spans)[m_span].to <= m_position)
        ++m_span;
    out = charAt(m_data, *m_spans, m_span, m_position);
    m_position = out.end;
    return true;
}

QString ReplyText::decode(const QByteArray& data, const Spans& spans, qsizetype from, qsizetype to)
{
    QString out;
    from = std::clamp<qsizetype>(from, 0, data.size());
    to = std::clamp<qsizetype>(to, from, data.size());
    out.reserve(to - from);
    const char* d = data.constData();
    // A character that starts before from is left out.
    qsizetype p = from;
    if (characterStartIn(d, data.size(), spans, p) < p) {
        Chars skip(data, spans, p);
        Char ch;
        skip.next(ch, data.size());
        p = ch.end;
    }
    size_t si = spanAfter(spans, p);
    while (p < to) {
        while (si < spans.size() && spans[si].to <= p)
            ++si;
        // Runs that are one byte a character go at once.
        const qsizetype runEnd = !inSpan(spans, si, p) ? std::min(to, si < spans.size() ? spans[si].from : to)
                                                       : nextHigh(d, p, std::min(to, spans[si].to));
        if (runEnd > p) {
            out += QLatin1String(d + p, runEnd - p);
            p = runEnd;
            continue;
        }
        const Char ch = charAt(d, spans, si, p);
        if (ch.width > 0) {
            if (QChar::requiresSurrogates(ch.code)) {
                out += QChar(QChar::highSurrogate(ch.code));
                out += QChar(QChar::lowSurrogate(ch.code));
            } else {
                out += QChar(char16_t(ch.code));
            }
        }
        p = ch.end;
    }
    return out;
}

// --- Changes ---------------------------------------------------------------

ReplyText::ReplyText(QObject* parent) : QObject(parent)
{
    resetIndex();
}

ReplyText::~ReplyText() = default;

void ReplyText::setData(const QByteArray& data)
{
    emit aboutToReplace();
    m_data = data;
    Spans().swap(m_spans);
    m_replyOpen = false;
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
    // A large reply's room is kept for the next reply: filling fresh memory
    // costs a zeroed page per page, which a reused one does not. The kernel
    // may still take the pages back while they hold nothing.
    QByteArray room;
    if (m_data.capacity() > kReserveFrom && m_data.isDetached()) {
        room = std::exchange(m_data, QByteArray());
        room.resize(0);
        releasePages(room);
    }
    setData(room);
}

void ReplyText::append(const QByteArray& block)
{
    appendBlock(block, true);
}

void ReplyText::appendNote(const QByteArray& block)
{
    appendBlock(block, false);
}

void ReplyText::appendBlock(const QByteArray& block, bool partOfReply)
{
    if (block.isEmpty())
        return;
    const qsizetype from = m_data.size();
    if (from + block.size() > m_data.capacity() && from + block.size() > kReserveFrom) {
        // Room up to the limit at once: growing step by step copies the text
        // each time (the allocator keeps blocks this size on the heap), and
        // old and new copy side by side are twice the text in memory. Pages
        // not written yet take no memory.
        m_data.reserve(std::max(from + block.size(), m_limit + kReserveSlack));
        adviseLargePages(m_data);
    }
    m_data.append(block);
    const bool reply = partOfReply && m_replyOpen;
    if (reply) {
        if (!m_spans.empty() && m_spans.back().open && m_spans.back().to == from) {
            m_spans.back().to = m_data.size();
        } else {
            if (!m_spans.empty() && m_spans.back().open) {
                // A note came between: the reply goes on here.
                m_spans.back().open = false;
                m_spans.back().continued = true;
            }
            m_spans.push_back({from, m_data.size(), false, true});
        }
    }
    const qsizetype waiting = reply ? std::exchange(m_waiting, -1) : -1;
    if (waiting >= 0)
        settleWaiting(waiting);
    else
        indexRange(from, m_data.size());
    const auto [bytes, lines] = dropOldest();
    if (bytes > 0)
        emit dropped(bytes, lines);
    const qsizetype start = std::max<qsizetype>(0, from - bytes);
    emit appended(start, m_data.size() - start);
    if (waiting >= 0)
        emit relaidOut();
}

void ReplyText::beginReply()
{
    endReply();
    m_replyOpen = true;
}

void ReplyText::endReply()
{
    if (!m_replyOpen)
        return;
    m_replyOpen = false;
    if (!m_spans.empty())
        m_spans.back().open = false;
    // A sequence cut off at the end is bytes of their own after all.
    if (const qsizetype waiting = std::exchange(m_waiting, -1); waiting >= 0) {
        settleWaiting(waiting);
        emit relaidOut();
    }
}

// The character waiting for its rest got it or never will: its columns and
// those of the rest of it (after a note, maybe lines later) change, so the
// index goes back to the mark before it and on from there. What it covers
// is what came since the character, a few notes at most.
void ReplyText::settleWaiting(qsizetype lead)
{
    const qsizetype line = lineOf(lead);
    const qsizetype start = lineStart(line);
    const auto [p, column] = markBefore(start, lead);
    while (m_stretches.size() > 1 && m_stretches.back().line > line) {
        m_stretches.pop_back();
        m_checkpoints.pop_back();
    }
    while (m_lineBlocks.size() > 1 && qsizetype(m_lineBlocks.size() - 1) * kLineBlock > line)
        m_lineBlocks.pop_back();
    while (!m_byteBlocks.empty() && qsizetype(m_byteBlocks.size() - 1) * kByteBlock >= m_checkpoints.back())
        m_byteBlocks.pop_back();
    m_marks.erase(std::upper_bound(m_marks.begin(), m_marks.end(), p,
                                   [](qsizetype pos, const Mark& mark) { return pos < mark.position; }),
                  m_marks.end());
    // Columns only grow as a character settles, so the widths kept stay true bounds.
    m_lineCount = line + 1;
    m_openStart = start;
    m_openColumns = column;
    m_nextMark = p + kMarkSpacing;
    m_cachedLine = -1;
    indexRange(p, m_data.size());
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
    const qsizetype firstKept = m_checkpoints.lineAt(cut);
    const bool firstCut = m_checkpoints.at(firstKept) != cut;

    // Moved within the buffer: its pages are in memory already, and removing
    // at the front instead would leave them unused while the buffer grew on.
    char* d = m_data.data();
    std::memmove(d, d + cut, static_cast<size_t>(m_data.size() - cut));
    m_data.truncate(m_data.size() - cut);

    // The replies' stretches move along; those dropped whole go.
    Spans kept;
    for (const Span& span : m_spans) {
        if (span.to > cut)
            kept.push_back({std::max<qsizetype>(0, span.from - cut), span.to - cut, span.continued, span.open});
    }
    m_spans.swap(kept);
    m_cachedLine = -1;

    // A character whose start went (it began before a note) is bytes of its own now.
    const bool restAtStart = !m_data.isEmpty() && isContinuation(uchar(d[0])) && !m_spans.empty()
        && m_spans.front().from == 0;
    if (!wholeLines || restAtStart) {
        // A line cut short starts its columns afresh. It is the last line
        // with text, so indexing it again is one pass of memchr.
        reindex();
        return {cut, lines};
    }
    m_checkpoints.dropFront(firstKept, cut);
    m_stretches.erase(m_stretches.begin(), m_stretches.begin() + qsizetype(firstKept));
    for (Stretch& stretch : m_stretches)
        stretch.line = std::max<qsizetype>(0, stretch.line - lines);
    const auto firstMark = std::lower_bound(m_marks.begin(), m_marks.end(), cut,
                                            [](const Mark& mark, qsizetype pos) { return mark.position < pos; });
    m_marks.erase(m_marks.begin(), firstMark);
    for (Mark& mark : m_marks)
        mark.position -= cut;
    m_lineCount -= lines;
    rebuildBlocks();
    m_openStart -= cut;
    m_nextMark -= cut;
    if (m_waiting >= 0)
        m_waiting = m_waiting >= cut ? m_waiting - cut : -1;
    if (firstCut) {
        // The first stretch lost lines: its widest from the lines kept.
        Stretch& first = m_stretches.front();
        const qsizetype last = m_stretches.size() > 1 ? m_stretches[1].line : m_lineCount;
        first.widest = 0;
        for (qsizetype l = 0; l < last; ++l)
            first.widest = std::max(first.widest, l + 1 == m_lineCount ? m_openColumns : columnOf(lineEnd(l)));
    }
    m_widestLine = 0;
    for (const Stretch& stretch : m_stretches)
        m_widestLine = std::max(m_widestLine, stretch.widest);
    return {cut, lines};
}

// --- The index -------------------------------------------------------------

void ReplyText::resetIndex()
{
    m_checkpoints.reset(0);
    std::vector<Stretch>{{0, 0, true}}.swap(m_stretches);
    std::vector<quint32>{0}.swap(m_lineBlocks);
    std::vector<quint32>().swap(m_byteBlocks);
    m_lineCount = 1;
    m_openStart = 0;
    m_openColumns = 0;
    m_nextMark = kMarkSpacing;
    m_waiting = -1;
    std::vector<Mark>().swap(m_marks);
    m_widestLine = 0;
    m_cachedLine = -1;
}

void ReplyText::reindex()
{
    resetIndex();
    indexRange(0, m_data.size());
}

// Extends the index over m_data[from..to); only the last line can be open,
// so the work is proportional to the new bytes.
void ReplyText::indexRange(qsizetype from, qsizetype to)
{
    const char* d = m_data.constData();
    size_t si = spanAfter(m_spans, from);
    qsizetype columns = m_openColumns;
    qsizetype nextMark = m_nextMark;
    qsizetype checkpoint = m_checkpoints.back();
    Stretch* stretch = &m_stretches.back();
    qsizetype widest = m_widestLine;

    // A line break at i: a CR LF pair is one break, so its LF only moves the
    // new line's start (and a checkpoint set at it) past itself.
    const auto indexBreak = [&](qsizetype at) {
        if (d[at] == '\n' && at > 0 && d[at - 1] == '\r') {
            // The CR before (maybe from the previous block) already broke the line.
            if (checkpoint == at) {
                m_checkpoints.pop_back();
                m_checkpoints.push_back(at + 1);
                checkpoint = at + 1;
            }
        } else {
            widest = std::max(widest, columns);
            stretch->widest = std::max(stretch->widest, columns);
            ++m_lineCount;
            if (m_lineCount - 1 - stretch->line >= kCheckpointLines || at + 1 - checkpoint >= kCheckpointBytes) {
                checkpoint = at + 1;
                const auto last = quint32(m_stretches.size() - 1);
                while (qsizetype(m_byteBlocks.size()) * kByteBlock < checkpoint)
                    m_byteBlocks.push_back(last);
                m_checkpoints.push_back(checkpoint);
                m_stretches.push_back({m_lineCount - 1, 0, true});
                stretch = &m_stretches.back();
            }
            if ((m_lineCount - 1) % kLineBlock == 0)
                m_lineBlocks.push_back(quint32(m_stretches.size() - 1));
            columns = 0;
        }
        m_openStart = at + 1;
    };

    qsizetype i = from;
    while (i < to) {
        while (si < m_spans.size() && m_spans[si].to <= i)
            ++si;
        // Only line breaks, tabs (and the controls near them) and, in a
        // reply, bytes from 0x80 need a look of their own; the runs between
        // them are passed eight bytes at a time.
        const bool inReply = inSpan(m_spans, si, i);
        const qsizetype runEnd = std::min(to, inReply ? m_spans[si].to : si < m_spans.size() ? m_spans[si].from : to);
        // Line after line within the run, until a byte other than a break needs a look.
        for (;;) {
            const qsizetype special = nextSpecial(d, i, runEnd, inReply);
            if (special > i) {
                nextMark = std::max(nextMark, i);
                for (; nextMark < special; nextMark += kMarkSpacing)
                    m_marks.push_back({nextMark, columns + (nextMark - i)});
                columns += special - i;
                i = special;
            }
            if (i >= runEnd || (d[i] != '\n' && d[i] != '\r'))
                break;
            indexBreak(i);
            nextMark = i + 1 + kMarkSpacing;
            ++i;
        }
        if (i >= runEnd)
            continue;
        const char c = d[i];
        if (i >= nextMark) {
            m_marks.push_back({i, columns});
            nextMark = i + kMarkSpacing;
        }
        if (c == '\t') {
            stretch->plain = false;
            columns = nextTabStop(columns);
            ++i;
            continue;
        }
        if (uchar(c) < 0x80) {
            // A control shown as its symbol, one cell.
            ++columns;
            ++i;
            continue;
        }
        // A byte a reply reads as UTF-8 (or as one Latin-1 character, if it is no part of a sequence).
        stretch->plain = false;
        const Char ch = charAt(d, m_spans, si, i);
        if (ch.waiting)
            m_waiting = i;
        columns += ch.width;
        i = ch.end;
    }
    m_openColumns = columns;
    m_nextMark = nextMark;
    stretch->widest = std::max(stretch->widest, columns);
    m_widestLine = std::max(widest, columns);
}

size_t ReplyText::stretchOfLine(qsizetype line) const
{
    const auto block = size_t(line / kLineBlock);
    const auto first = m_stretches.begin() + (block < m_lineBlocks.size() ? m_lineBlocks[block] : m_lineBlocks.back());
    const auto last = block + 1 < m_lineBlocks.size() ? m_stretches.begin() + m_lineBlocks[block + 1] + 1 : m_stretches.end();
    const auto it = std::upper_bound(first, last, line,
                                     [](qsizetype l, const Stretch& stretch) { return l < stretch.line; });
    return size_t(std::max<qsizetype>(0, (it - m_stretches.begin()) - 1));
}

size_t ReplyText::stretchAt(qsizetype position) const
{
    const auto block = size_t(position / kByteBlock);
    const qsizetype count = m_checkpoints.size();
    qsizetype low = block < m_byteBlocks.size() ? m_byteBlocks[block] : (m_byteBlocks.empty() ? 0 : m_byteBlocks.back());
    qsizetype high = block + 1 < m_byteBlocks.size() ? qsizetype(m_byteBlocks[block + 1]) + 1 : count;
    // The last checkpoint at or before position, in [low, high).
    while (high - low > 1) {
        const qsizetype middle = low + (high - low) / 2;
        if (m_checkpoints.at(middle) <= position)
            low = middle;
        else
            high = middle;
    }
    return size_t(low);
}

void ReplyText::rebuildBlocks()
{
    m_lineBlocks.clear();
    m_byteBlocks.clear();
    const size_t count = m_stretches.size();
    size_t k = 0;
    m_checkpoints.forEach([&](qsizetype start) {
        if (k > 0) {
            while (qsizetype(m_byteBlocks.size()) * kByteBlock < start)
                m_byteBlocks.push_back(quint32(k - 1));
        }
        const qsizetype end = k + 1 < count ? m_stretches[k + 1].line : m_lineCount;
        while (qsizetype(m_lineBlocks.size()) * kLineBlock < end)
            m_lineBlocks.push_back(quint32(k));
        ++k;
    });
}

qsizetype ReplyText::skipLines(qsizetype p, qsizetype lines) const
{
    const char* d = m_data.constData();
    const qsizetype size = m_data.size();
    while (lines > 0) {
        p = nextControl(d, p, size);
        if (p >= size)
            return size;
        const char c = d[p++];
        if (c == '\n') {
            --lines;
        } else if (c == '\r') {
            if (p < size && d[p] == '\n')
                ++p;
            --lines;
        }
    }
    return p;
}

qsizetype ReplyText::lineStart(qsizetype line) const
{
    if (line <= 0)
        return 0;
    if (line >= m_lineCount - 1)
        return m_openStart;
    const size_t k = stretchOfLine(line);
    qsizetype n = m_stretches[k].line;
    qsizetype start = m_checkpoints.at(qsizetype(k));
    if (m_cachedLine >= n && m_cachedLine <= line) {
        n = m_cachedLine;
        start = m_cachedStart;
    }
    // The lines before one in a stretch all end within its first kCheckpointBytes.
    start = skipLines(start, line - n);
    m_cachedLine = line;
    m_cachedStart = start;
    return start;
}

qsizetype ReplyText::lineOf(qsizetype position) const
{
    if (position <= 0)
        return 0;
    if (position >= m_openStart)
        return m_lineCount - 1;
    const auto k = qsizetype(stretchAt(position));
    qsizetype n = m_stretches[size_t(k)].line;
    qsizetype start = m_checkpoints.at(k);
    const qsizetype next = size_t(k) + 1 < m_stretches.size() ? m_stretches[size_t(k) + 1].line : m_lineCount;
    if (m_cachedLine >= n && m_cachedLine < next && m_cachedStart <= position) {
        n = m_cachedLine;
        start = m_cachedStart;
    }
    // Every line start between two checkpoints lies within kCheckpointBytes
    // of the first, so no scan goes further, however long the last line is.
    const qsizetype limit = std::min(position + 1, m_checkpoints.at(k) + kCheckpointBytes + 1);
    const char* d = m_data.constData();
    const qsizetype size = m_data.size();
    for (qsizetype q = start; (q = nextControl(d, q, limit)) < limit; ++q) {
        const char c = d[q];
        if (c != '\n' && c != '\r')
            continue;
        const qsizetype after = c == '\r' && q + 1 < size && d[q + 1] == '\n' ? q + 2 : q + 1;
        if (after > position)
            break;
        start = after;
        ++n;
        q = after - 1;
    }
    m_cachedLine = n;
    m_cachedStart = start;
    return n;
}

std::pair<qsizetype, qsizetype> ReplyText::markBefore(qsizetype start, qsizetype position) const
{
    const auto it = std::upper_bound(m_marks.begin(), m_marks.end(), position,
                                     [](qsizetype pos, const Mark& mark) { return pos < mark.position; });
    if (it != m_marks.begin() && (it - 1)->position >= start)
        return {(it - 1)->position, (it - 1)->column};
    return {start, 0};
}

bool ReplyText::isUtf8At(qsizetype position) const
{
    return inSpan(m_spans, spanAfter(m_spans, position), position);
}

qsizetype ReplyText::characterStart(qsizetype position) const
{
    return characterStartIn(m_data.constData(), m_data.size(), m_spans, position);
}

qsizetype ReplyText::characterColumns(qsizetype position, qsizetype column) const
{
    Chars walk = chars(position);
    Char ch;
    if (!walk.next(ch, m_data.size()))
        return 0;
    return ch.advance(column) - column;
}

qsizetype ReplyText::lineEnd(qsizetype line) const
{
    if (line + 1 >= lineCount())
        return m_data.size();
    const qsizetype start = lineStart(line);
    const qsizetype next = lineStart(line + 1);
    if (m_data.at(next - 1) == '\n' && next - 2 >= start && m_data.at(next - 2) == '\r')
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
    if (m_stretches[stretchOfLine(line)].plain)
        return target - start;
    auto [p, column] = markBefore(start, target);
    Chars walk = chars(p);
    Char ch;
    // A position inside a character has the column where it starts.
    while (walk.next(ch, target) && ch.end <= target)
        column = ch.advance(column);
    return column;
}

std::pair<qsizetype, qsizetype> ReplyText::locateColumn(qsizetype line, qsizetype column) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = lineEnd(line);
    column = std::max<qsizetype>(0, column);
    if (m_stretches[stretchOfLine(line)].plain) {
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
    Chars walk = chars(p);
    Char ch;
    while (walk.next(ch, end)) {
        const qsizetype next = ch.advance(c);
        if (next > column)
            return {ch.position, c};
        c = next;
    }
    return {end, c};
}

qsizetype ReplyText::positionAtColumn(qsizetype line, qreal column) const
{
    const auto [p, c] = locateColumn(line, static_cast<qsizetype>(std::floor(column)));
    if (p >= lineEnd(line))
        return p;
    const qsizetype width = characterColumns(p, c);
    // The caret goes to the nearer edge of the character.
    return column - static_cast<qreal>(c) > width / 2.0 ? nextPosition(p) : p;
}

// The rest of a character a note split has no caret stop of its own: past it.
qsizetype ReplyText::pastRest(qsizetype position) const
{
    const char* d = m_data.constData();
    if (position <= 0 || position >= m_data.size() || !isContinuation(uchar(d[position])))
        return position;
    const size_t si = spanAfter(m_spans, position);
    if (!inSpan(m_spans, si, position))
        return position;
    const Char ch = charAt(d, m_spans, si, position);
    return ch.width == 0 ? ch.end : position;
}

qsizetype ReplyText::nextPosition(qsizetype position) const
{
    if (position >= m_data.size())
        return m_data.size();
    if (m_data.at(position) == '\r' && position + 1 < m_data.size() && m_data.at(position + 1) == '\n')
        return pastRest(position + 2);
    if (uchar(m_data.at(position)) < 0x80)
        return pastRest(position + 1);
    // A multi-byte character is one step.
    Chars walk = chars(position);
    Char ch;
    qsizetype next = position + 1;
    if (walk.next(ch, m_data.size()))
        next = std::max(next, ch.end);
    return pastRest(next);
}

qsizetype ReplyText::previousPosition(qsizetype position) const
{
    if (position <= 0)
        return 0;
    if (m_data.at(position - 1) == '\n' && position >= 2 && m_data.at(position - 2) == '\r')
        return position - 2;
    const qsizetype previous = characterStart(position - 1);
    if (previous > 0 && pastRest(previous) != previous)
        return previousPosition(previous);
    return previous;
}

std::pair<qsizetype, qsizetype> ReplyText::wordAround(qsizetype line, qsizetype position) const
{
    const qsizetype start = lineStart(line);
    const qsizetype end = lineEnd(line);
    position = characterStart(position);
    Chars walk = chars(position);
    Char ch;
    if (!walk.next(ch, end))
        return {position, nextPosition(position)};
    if (!isWord(ch))
        return {position, nextPosition(position)};
    qsizetype to = ch.end;
    while (walk.next(ch, end) && isWord(ch))
        to = ch.end;
    qsizetype from = position;
    while (from > start) {
        const qsizetype previous = characterStart(from - 1);
        Chars back = chars(previous);
        if (!back.next(ch, end) || !isWord(ch))
            break;
        from = previous;
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
