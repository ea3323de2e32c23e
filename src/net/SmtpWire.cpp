#include "net/SmtpWire.h"

namespace {
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
} // namespace

void SmtpReplyParser::feed(const QByteArray& bytes)
{
    m_buffer.append(bytes);
}

void SmtpReplyParser::clear()
{
    m_buffer.clear();
    m_replyStart = m_lineStart = m_scanned = 0;
    m_reply = SmtpReply();
}

SmtpReply SmtpReplyParser::takeReply()
{
    SmtpReply reply = std::move(m_reply);
    m_reply = SmtpReply();
    m_replyStart = m_lineStart;
    // Drop what was read only once it outweighs what is left, so dropping stays linear too.
    if (m_replyStart == m_buffer.size() || m_replyStart > m_buffer.size() / 2) {
        m_buffer.remove(0, m_replyStart);
        m_lineStart -= m_replyStart;
        m_scanned = m_lineStart;
        m_replyStart = 0;
    }
    return reply;
}

std::optional<SmtpReply> SmtpReplyParser::next()
{
    for (;;) {
        const qsizetype lineEnd = m_buffer.indexOf('\n', m_scanned);
        if (lineEnd < 0) {
            m_scanned = m_buffer.size();
            if (m_buffer.size() - m_replyStart <= kMaxReplyBytes)
                return std::nullopt;
            m_reply.lines.append(QString::fromLatin1(m_buffer.mid(m_lineStart)));
            m_reply.valid = false;
            m_lineStart = m_scanned;
            return takeReply();
        }
        QByteArray line = m_buffer.mid(m_lineStart, lineEnd - m_lineStart);
        if (line.endsWith('\r'))
            line.chop(1);
        m_lineStart = m_scanned = lineEnd + 1;
        m_reply.lines.append(QString::fromLatin1(line));

        const bool wellFormed = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && isDigit(line[1])
                                && isDigit(line[2]) && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
        const int code = wellFormed ? line.left(3).toInt() : 0;
        if (!wellFormed || (m_reply.code != 0 && code != m_reply.code)
            || m_lineStart - m_replyStart > kMaxReplyBytes) {
            m_reply.code = code;
            m_reply.valid = false;
            return takeReply();
        }
        m_reply.code = code;
        if (line.size() == 3 || line[3] == ' ') {
            m_reply.valid = true;
            return takeReply();
        }
    }
}

QByteArray SmtpDataEncoder::encode(const QString& block)
{
    const QByteArray bytes = block.toLatin1();
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 32 + 4);
    for (const char c : bytes) {
        if (m_pendingCr) {
            m_pendingCr = false;
            out.append("\r\n");
            m_atLineStart = true;
            if (c == '\n')
                continue;
        }
        if (c == '\r') {
            // Held back: the LF that completes it may start the next block.
            m_pendingCr = true;
            continue;
        }
        if (c == '\n') {
            out.append("\r\n");
            m_atLineStart = true;
            continue;
        }
        if (m_atLineStart && c == '.')
            out.append('.');
        out.append(c);
        m_atLineStart = false;
    }
    return out;
}

QByteArray SmtpDataEncoder::finish()
{
    QByteArray out;
    if (m_pendingCr || !m_atLineStart)
        out.append("\r\n");
    out.append(".\r\n");
    reset();
    return out;
}

void SmtpDataEncoder::reset()
{
    m_atLineStart = true;
    m_pendingCr = false;
}
