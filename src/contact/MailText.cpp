#include "contact/MailText.h"

namespace MailText {

QString toCrLf(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            out += kCrLf;
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('\n')) {
            out += kCrLf;
        } else {
            out += c;
        }
    }
    return out;
}

QString wrapLongLines(const QString& text, qsizetype limit)
{
    QString out;
    out.reserve(text.size() + 2 * (text.size() / limit));
    const QStringList lines = text.split(kCrLf);
    for (qsizetype n = 0; n < lines.size(); ++n) {
        if (n > 0)
            out += kCrLf;
        QStringView rest(lines[n]);
        while (rest.size() > limit) {
            qsizetype cut = limit;
            for (qsizetype i = limit - 1; i > 0; --i) {
                if (rest[i] == QLatin1Char(' ') || rest[i] == QLatin1Char('\t')) {
                    cut = i + 1;
                    break;
                }
            }
            out += rest.left(cut);
            out += kCrLf;
            rest = rest.mid(cut);
        }
        out += rest;
    }
    return out;
}

QStringList blocks(const QString& text, qsizetype size)
{
    QStringList result;
    qsizetype pos = 0;
    while (text.size() - pos >= size) {
        result.append(text.mid(pos, size));
        pos += size;
    }
    result.append(text.mid(pos));
    return result;
}

} // namespace MailText
