#include "app/ClipboardText.h"

namespace ClipboardText {

QString withPlatformLineEnds(QStringView text)
{
#ifdef Q_OS_WIN
    const QLatin1String lineEnd("\r\n");
#else
    const QLatin1String lineEnd("\n");
#endif
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            result += lineEnd;
        } else if (c == QLatin1Char('\n')) {
            result += lineEnd;
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace ClipboardText
