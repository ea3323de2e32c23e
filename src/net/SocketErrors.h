#pragma once

#include <QAbstractSocket>
#include <QString>

// The one table of network error codes: 14000 plus the Windows Sockets
// number. The socket component reports them through LastError and the SMTP
// client through its own LastError, so a code means the same in both.
namespace SocketError {

constexpr int PermissionDenied = 24013;
constexpr int InvalidArgument = 24022;
constexpr int WouldBlock = 24035;
constexpr int InProgress = 24036;
constexpr int NotSocket = 24038;
constexpr int MessageSize = 24040;
constexpr int OperationNotSupported = 24045;
constexpr int FamilyNotSupported = 24047;
constexpr int AddressInUse = 24048;
constexpr int AddressNotAvailable = 24049;
constexpr int NetworkDown = 24050;
constexpr int NetworkUnreachable = 24051;
constexpr int ConnectionReset = 24054;
constexpr int NoBufferSpace = 24055;
constexpr int NotConnected = 24057;
constexpr int TimedOut = 24060;
constexpr int ConnectionRefused = 24061;
constexpr int HostUnreachable = 24065;
constexpr int HostNotFound = 25001;

// The code for an error Qt reported; text is Qt's errorString() with it.
int fromQt(QAbstractSocket::SocketError error, const QString& text);

// The words for the codes the program raises itself, where Qt gives none:
// TimedOut and ConnectionReset.
QString text(int code);

} // namespace SocketError
