#include "client/FingerQuery.h"

namespace FingerQuery {

QString queryText(const QString& userName, bool longQuery)
{
    if (!longQuery || userName.startsWith(QLatin1String("/w")))
        return userName;
    return QStringLiteral("/w ") + userName;
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
