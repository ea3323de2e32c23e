#include "reply/ReplySelection.h"

#include "app/ClipboardText.h"
#include "reply/ReplyText.h"

#include <QMimeData>

#include <algorithm>

namespace {
class ReplySelectionData final : public QMimeData
{
public:
    ReplySelectionData(const ReplyText& text, qsizetype from, qsizetype to)
        : m_reply(text.data()), m_spans(text.utf8Spans()), m_from(from), m_to(to)
    {
    }

    bool hasFormat(const QString& mimeType) const override { return mimeType == QLatin1String("text/plain"); }
    QStringList formats() const override { return {QStringLiteral("text/plain")}; }

protected:
    QVariant retrieveData(const QString& mimeType, QMetaType type) const override
    {
        if (!hasFormat(mimeType))
            return QVariant();
        const QString text = ClipboardText::withPlatformLineEnds(ReplyText::decode(m_reply, m_spans, m_from, m_to));
        if (type.id() == QMetaType::QByteArray)
            return text.toUtf8();
        return text;
    }

private:
    QByteArray m_reply;
    ReplyText::Spans m_spans;
    qsizetype m_from;
    qsizetype m_to;
};
} // namespace

QMimeData* replySelection(const ReplyText& text, qsizetype start, qsizetype length)
{
    start = std::clamp<qsizetype>(start, 0, text.length());
    length = std::clamp<qsizetype>(length, 0, text.length() - start);
    return new ReplySelectionData(text, start, start + length);
}
