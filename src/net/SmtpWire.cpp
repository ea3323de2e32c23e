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

std::optional<SmtpReply> SmtpReplyParser::next()
{
    SmtpReply reply;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype lineEnd = m_buffer.indexOf('\n', pos);
        if (lineEnd < 0) {
            if (m_buffer.size() <= kMaxReplyBytes)
                return std::nullopt;
            reply.lines.append(QString::fromLatin1(m_buffer.mid(pos)));
            m_buffer.clear();
            return reply;
        }
        QByteArray line = m_buffer.mid(pos, lineEnd - pos);
        if (line.endsWith('\r'))
            line.chop(1);
        pos = lineEnd + 1;
        reply.lines.append(QString::fromLatin1(line));

        const bool wellFormed = line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && isDigit(line[1])
                                && isDigit(line[2]) && (line.size() == 3 || line[3] == ' ' || line[3] == '-');
        const int code = wellFormed ? line.left(3).toInt() : 0;
        if (!wellFormed || (reply.code != 0 && code != reply.code) || pos > kMaxReplyBytes) {
            reply.code = code;
            reply.valid = false;
            m_buffer.remove(0, pos);
            return reply;
        }
        reply.code = code;
        if (line.size() == 3 || line[3] == ' ') {
            reply.valid = true;
            m_buffer.remove(0, pos);
            return reply;
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
