#include "server/ServerReply.h"

#include "app/Text.h"
#include "net/ReverseLookupCache.h"
#include "net/SocketComponent.h"


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

QString listenFailureLine(int port, int errorCode, const QString& errorString)
{
    QString reason;
    switch (errorCode) {
    case SocketError::AddressInUse:
        reason = QStringLiteral("the port is already in use by another program");
        break;
    case SocketError::PermissionDenied:
        reason = QStringLiteral("permission denied (ports below 1024 need administrator privileges)");
        break;
    default:
        reason = errorString.isEmpty() ? QStringLiteral("unknown error") : errorString;
        break;
    }
    // One pass, so a % in the system's error text cannot be taken for a marker.
    QString line = QStringLiteral("Finger Server could not listen on port %1: %2")
                       .arg(QString::number(port), reason);
    if (errorCode != 0)
        line += QStringLiteral(" (error %1)").arg(errorCode);
    return line + kLineEnd;
}
} // namespace ServerReply
