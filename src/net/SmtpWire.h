#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What travels on an SMTP connection, decided without a socket: the server's
// replies read, the message data written.

// One reply of the server: its code and its lines as sent (CR LF removed).
struct SmtpReply
{
    int code = 0;
    QStringList lines;
    bool valid = false;

    bool isPositive() const { return valid && code >= 200 && code < 300; }
    bool isIntermediate() const { return valid && code >= 300 && code < 400; }
    QString text() const { return lines.join(QLatin1Char('\n')); }
};

// Splits the bytes a server sends into replies. A reply is one or more lines
// "ddd-text" ending with a line "ddd text" or "ddd"; every line of one reply
// must carry the same code. Lines end with CR LF (a bare LF is taken too).
class SmtpReplyParser
{
public:
    // A server that sends this much without finishing a reply is not an SMTP server.
    static constexpr qsizetype kMaxReplyBytes = 64 * 1024;

    void feed(const QByteArray& bytes);
    // The next complete reply (valid false when it is malformed), or nothing
    // while the reply is still incomplete.
    std::optional<SmtpReply> next();
    void clear();
    bool isEmpty() const { return m_replyStart == m_buffer.size(); }

private:
    SmtpReply takeReply();

    // A reply may arrive a byte at a time: the scan resumes where the last
    // call stopped, so reading it costs its length once, not its length squared.
    QByteArray m_buffer;
    qsizetype m_replyStart = 0; // first byte of the reply being read
    qsizetype m_lineStart = 0; // first byte of the line not yet parsed
    qsizetype m_scanned = 0; // no line end between m_lineStart and here
    SmtpReply m_reply; // the lines of the unfinished reply parsed so far
};

// Turns message data into what goes on the wire between DATA and the final
// dot: one byte per character, every line end CR LF (a bare LF or lone CR
// too, so no server can read a different end of data than this one), and a
// "." at the start of a line doubled. Line starts are tracked across blocks.
class SmtpDataEncoder
{
public:
    QByteArray encode(const QString& block);
    // The end of the data: the last line ended, then the lone dot.
    QByteArray finish();
    void reset();

private:
    bool m_atLineStart = true;
    bool m_pendingCr = false;
};
