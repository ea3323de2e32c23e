#pragma once

#include "net/SocketComponent.h"

#include <QString>

// The author's links and the relay that feedback mail goes through.
inline const QString kAuthorHomePage = QStringLiteral("https://www.example.org/yarbo/");
inline const QString kAuthorHomePageShort = QStringLiteral("www.example.org");
inline const QString kAuthorMailbox = QStringLiteral("yarbo@example.org");
inline const QString kSmtpRelayHost = QStringLiteral("localhost");

// What a run of the program talks to. The program uses the defaults; tests
// and benchmarks substitute free loopback ports and short limits.
struct RuntimeConfig
{
    static constexpr int kFingerPort = 79;

    // A reply that stays silent for a minute ends the query as timed out.
    SocketOptions client{30000, 60000, {}, QHostAddress::Any, std::nullopt};
    // However the server trickles, a query ends as timed out this long after it started connecting.
    int queryLimitMs = 5 * 60 * 1000;
    // An accepted client that sends nothing for 30 s is dropped.
    SocketOptions server{30000, 30000, {}, QHostAddress::Any, std::nullopt};
    // While all 50 server sockets are taken, a client that has sent nothing
    // for this long gives its socket to the next one, so connections that
    // never send a query cannot lock real visitors out.
    int serverQueryGraceMs = 100;
    // A visitor's line waits this long for the visitor's name before it names the address.
    int visitorNameWaitMs = 2000;
    // While another program holds the finger port, listening is tried again this often.
    int listenRetryMs = 30000;

    QString smtpHost = kSmtpRelayHost;
    int smtpPort = 25;
    int smtpTimeLimitSeconds = 30;
};
