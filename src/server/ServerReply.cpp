#include "server/ServerReply.h"

#include "app/Text.h"
#include "net/ReverseLookupCache.h"
#include "net/SocketComponent.h"

#include <QStringList>

#include <algorithm>


namespace ServerReply {
QString startupReply(const Profile& profile, const QString& current)
{
    if (profile.name.isEmpty())
        return current;
    return QStringLiteral("Name: ") + profile.name + kLineEnd + QStringLiteral("Email: ") + profile.email + kLineEnd
        + QStringLiteral("WWW: ") + profile.homepage + kLineEnd + kLineEnd + profile.description;
}

SetupOutcome setupReply(const QString& name, const QString& email, const QString& homepage,
                        const QString& description)
{
    SetupOutcome outcome;
    outcome.reply = QStringLiteral("Name: ") + name + kLineEnd;
    outcome.profile.name = name;
    if (!email.isEmpty()) {
        outcome.reply += QStringLiteral("Email: ") + email + kLineEnd;
        outcome.profile.email = email;
    }
    const QString page = trimBlanks(homepage);
    if (!page.isEmpty() && page != QStringLiteral("http://")) {
        outcome.reply += QStringLiteral("WWW: ") + homepage + kLineEnd;
        outcome.profile.homepage = homepage;
    }
    if (!trimBlanks(description).isEmpty()) {
        outcome.reply += kLineEnd + description;
        outcome.profile.description = description;
    }
    return outcome;
}

void completeWithBanner(QString& reply)
{
    if (reply.isEmpty())
        reply = kBanner;
    else if (!reply.contains(kBanner))
        reply += kLineEnd + kLineEnd + kBanner;
}


QString visitorLine(const QString& partnerName, const QString& partnerAddress)
{
    const bool useName = ReverseLookupCache::isUsableName(partnerName);
    return QStringLiteral("Being fingered by ") + (useName ? partnerName : partnerAddress) + kLineEnd;
}

QByteArray wireBytes(const QString& reply)
{
    const QString text = reply + kLineEnd;
    const bool latin1 = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() <= 0xff; });
    return latin1 ? text.toLatin1() : text.toUtf8();
}

namespace {
// Words to lines of at most kNoticeColumns; a longer word stands alone.
QStringList wrapped(const QStringList& words)
{
    QStringList lines;
    QString line;
    for (const QString& word : words) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > kNoticeColumns) {
            lines.append(line);
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}
} // namespace

QString listenFailureLines(int port, int errorCode, const QString& errorString, int retryMs)
{
    QString reason;
    switch (errorCode) {
    case SocketError::AddressInUse:
        reason = QStringLiteral("the port is in use by another program");
        break;
    case SocketError::PermissionDenied:
        reason = QStringLiteral("binding port %1 needs the cap_net_bind_service capability: install the package, "
                                "or run ./run.sh")
                     .arg(port);
        break;
    default:
        reason = errorString.isEmpty() ? QStringLiteral("unknown error") : errorString;
        break;
    }
    QStringList words = reason.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (errorCode != 0)
        words.append(QStringLiteral("(error %1)").arg(errorCode)); // kept on one line
    QStringList lines{QStringLiteral("Finger Server could not listen on port %1:").arg(port)};
    lines += wrapped(words);
    if (retryMs > 0)
        lines += QStringLiteral("Trying again every %1 seconds.").arg(retryMs / 1000.0);
    return lines.join(kLineEnd) + kLineEnd;
}
} // namespace ServerReply
