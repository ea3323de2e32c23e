#include "client/FingerQuery.h"

#include <algorithm>

namespace FingerQuery {

QString queryText(const QString& userName, bool longQuery)
{
    if (!longQuery || userName.startsWith(QLatin1String("/w")))
        return userName;
    return QStringLiteral("/w ") + userName;
}

BoxTarget boxTarget(const QString& hostBox, const QString& userBox)
{
    const qsizetype at = hostBox.lastIndexOf(QLatin1Char('@'));
    if (!userBox.isEmpty() || at < 0 || hostBox.mid(at + 1).trimmed().isEmpty())
        return {hostBox, userBox};
    return {hostBox.mid(at + 1), hostBox.left(at)};
}

QString queryLine(const QString& queryText)
{
    return queryText + QStringLiteral("\r\n");
}

QByteArray transformBlock(QByteArray block)
{
    if (block.endsWith('\n') && !block.endsWith("\r\n"))
        block.insert(block.size() - 1, '\r');
    return block;
}

} // namespace FingerQuery

QValidator::State SingleLineValidator::validate(QString& input, int& pos) const
{
    const auto lineBreak = [&input] {
        const auto at = std::find_if(input.cbegin(), input.cend(), [](QChar c) { return c == u'\r' || c == u'\n'; });
        return at - input.cbegin();
    };
    qsizetype at = lineBreak();
    // The box held no break before, so a break came with the text just put
    // in, which ends at the cursor: that text is kept up to its break.
    if (at < pos) {
        input.remove(at, pos - at);
        pos = int(at);
        at = lineBreak();
    }
    input.truncate(at);
    pos = std::min(pos, int(input.size()));
    return Acceptable;
}
