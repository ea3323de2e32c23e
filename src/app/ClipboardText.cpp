#include "app/ClipboardText.h"

#include <QMimeData>

#include <algorithm>

namespace {
class ReplySelectionData final : public QMimeData
{
public:
    ReplySelectionData(const QByteArray& reply, qsizetype start, qsizetype length)
        : m_reply(reply), m_start(start), m_length(length)
    {
    }

    bool hasFormat(const QString& mimeType) const override { return mimeType == QLatin1String("text/plain"); }
    QStringList formats() const override { return {QStringLiteral("text/plain")}; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override
    {
        if (!hasFormat(mimeType))
            return QVariant();
        const QString text =
            ClipboardText::withPlatformLineEnds(QString::fromLatin1(QByteArrayView(m_reply).sliced(m_start, m_length)));
        if (type.id() == QMetaType::QByteArray)
            return text.toUtf8();
        return text;
    }

private:
    QByteArray m_reply;
    qsizetype m_start;
    qsizetype m_length;
};
} // namespace

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

QMimeData* replySelection(const QByteArray& reply, qsizetype start, qsizetype length)
{
    start = std::clamp<qsizetype>(start, 0, reply.size());
    length = std::clamp<qsizetype>(length, 0, reply.size() - start);
    return new ReplySelectionData(reply, start, length);
}

} // namespace ClipboardText
