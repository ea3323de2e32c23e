#pragma once

#include "app/Settings.h"

#include <QByteArray>
#include <QString>

// The texts the finger server sends and logs. Pure functions, so the rules
// can be checked without sockets or windows.
namespace ServerReply {
inline const QString kBanner = QStringLiteral("Finger Quobix Server v2.2");
inline const QString kLineEnd = QStringLiteral("\r\n");

// The reply built at start-up: name, e-mail and WWW lines (labels even when
// empty), an empty line and the description. With no name, `current` stays.
QString startupReply(const Profile& profile, const QString& current);

// What the setup dialog's OK makes of its four boxes: the reply with only the
// lines of filled fields, and the profile to keep. A field that gives no line
// is stored empty, so it does not come back at the next start.
struct SetupOutcome
{
    QString reply;
    Profile profile;
};
SetupOutcome setupReply(const QString& name, const QString& email, const QString& homepage,
                        const QString& description);

// Adds the banner to the shared reply once: alone when the reply is empty,
// after an empty line when the reply does not hold it yet.
void completeWithBanner(QString& reply);

// What a client receives for the reply text: the text and CR LF, one byte a
// character (Latin-1) while every character fits in one, otherwise the whole
// reply in UTF-8, so that no character of the profile turns into "?".
QByteArray wireBytes(const QString& reply);

// The reply box's note of one visit, ending in CR LF: the peer's name, or its
// address when no name is known or the name holds control characters.
QString visitorLine(const QString& partnerName, const QString& partnerAddress);

// The reply box's lines when the server cannot listen on the finger port:
// why, and what to do about it, each line at most kNoticeColumns wide so it
// fits the reply box at its design size. retryMs > 0: the server tries again that often.
inline constexpr int kNoticeColumns = 48;
QString listenFailureLines(int port, int errorCode, const QString& errorString, int retryMs);
} // namespace ServerReply
