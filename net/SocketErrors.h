// Fixed English texts for socket error numbers, and the translation of the system's error
// codes into those numbers.
//
// Numbers follow the classic socket-library convention: 10000 plus the BSD error number for
// 10004..10071, 10091..10093 for the state of the socket library, 11001..11004 for name
// resolution. Messages shown to the user always carry these numbers, whatever the platform.
#pragma once

#include <QString>

#include <cstdint>

namespace quelmark {

// Returns the socket's text for an error number; numbers without a row give
// "Not a WinSock error".
QString SocketErrorDesc(std::int32_t error);

// Returns the address lookup's text for an error number. It differs from SocketErrorDesc in
// three rows: 0, 10049 and 10053.
QString WinsockErrorText(std::int32_t error);

// Returns the socket error number for an errno value; values without an equivalent keep their
// own number.
std::int32_t SocketErrorFromErrno(int errnoValue);

// Returns the socket error number for a getaddrinfo() failure code (EAI_*): 11001 host not
// found, 11002 try again, 11003 non-recoverable, 11004 no data. EAI_SYSTEM maps errno.
std::int32_t SocketErrorFromResolver(int eaiCode, int errnoValue = 0);

} // namespace quelmark
