#include "net/SocketErrors.h"

#include <QCoreApplication>

namespace SocketError {

int fromQt(QAbstractSocket::SocketError error, const QString& text)
{
    using E = QAbstractSocket::SocketError;
    switch (error) {
    case E::ConnectionRefusedError:
    case E::ProxyConnectionRefusedError:
        return ConnectionRefused;
    case E::RemoteHostClosedError:
    case E::ProxyConnectionClosedError:
        return ConnectionReset;
    case E::HostNotFoundError:
    case E::ProxyNotFoundError:
        return HostNotFound;
    case E::SocketAccessError:
        return PermissionDenied;
    case E::SocketResourceError:
        return NoBufferSpace;
    case E::SocketTimeoutError:
    case E::ProxyConnectionTimeoutError:
        return TimedOut;
    case E::DatagramTooLargeError:
        return MessageSize;
    case E::NetworkError:
        // Qt folds several causes into NetworkError; only its message tells them apart.
        if (text == QCoreApplication::translate("QNativeSocketEngine", "Network unreachable"))
            return NetworkUnreachable;
        if (text == QCoreApplication::translate("QNativeSocketEngine", "Connection timed out"))
            return TimedOut;
        return HostUnreachable;
    case E::AddressInUseError:
        return AddressInUse;
    case E::SocketAddressNotAvailableError:
        return AddressNotAvailable;
    case E::UnsupportedSocketOperationError:
        return FamilyNotSupported;
    case E::UnfinishedSocketOperationError:
        return InProgress;
    case E::TemporaryError:
        return WouldBlock;
    case E::OperationError:
        return InvalidArgument;
    default:
        return NetworkDown;
    }
}

QString text(int code)
{
    switch (code) {
    case TimedOut:
        return QCoreApplication::translate("SocketComponent", "Connection timed out");
    case ConnectionReset:
        return QCoreApplication::translate("SocketComponent", "Connection reset by peer");
    default:
        return {};
    }
}

} // namespace SocketError
