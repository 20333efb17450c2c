#pragma once

#include <QAbstractSocket>

namespace tallowcrest {

// The Winsock error number that users and client authors know for a Qt socket
// error (10048 address in use, 10054 reset, ...). Errors without an obvious
// counterpart get the generic 10000.
int winsockErrorNumber(QAbstractSocket::SocketError error);

}  // namespace tallowcrest
