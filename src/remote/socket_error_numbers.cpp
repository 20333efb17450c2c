#include "remote/socket_error_numbers.h"

namespace tallowcrest {

int winsockErrorNumber(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::SocketAccessError:
        return 10013;  // WSAEACCES
    case QAbstractSocket::DatagramTooLargeError:
        return 10040;  // WSAEMSGSIZE
    case QAbstractSocket::UnsupportedSocketOperationError:
        return 10045;  // WSAEOPNOTSUPP
    case QAbstractSocket::AddressInUseError:
        return 10048;  // WSAEADDRINUSE
    case QAbstractSocket::SocketAddressNotAvailableError:
        return 10049;  // WSAEADDRNOTAVAIL
    case QAbstractSocket::NetworkError:
        return 10053;  // WSAECONNABORTED
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;  // WSAECONNRESET
    case QAbstractSocket::SocketResourceError:
        return 10055;  // WSAENOBUFS
    case QAbstractSocket::SocketTimeoutError:
        return 10060;  // WSAETIMEDOUT
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;  // WSAECONNREFUSED
    case QAbstractSocket::HostNotFoundError:
        return 11001;  // WSAHOST_NOT_FOUND
    default:
        return 10000;
    }
}

}  // namespace tallowcrest
