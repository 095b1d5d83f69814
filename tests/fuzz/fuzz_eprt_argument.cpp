// The argument of EPRT (RFC 2428, section 2): "|1|a.b.c.d|port|" or "|2|IPv6 address|port|".
// The input is a family byte (odd: IPv6), sixteen address bytes (four for IPv4) and two port
// bytes; the argument must hand back exactly that address and port.
#include "ftp/FtpReplies.h"
#include "net/SocketAddress.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QStringList>

#include <arpa/inet.h>

#include <cstring>

using namespace quelmark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    const bool ipv6 = input.Byte() & 1;
    std::uint8_t address[16];
    for (std::uint8_t &byte : address)
        byte = input.Byte();
    const auto port = static_cast<std::uint16_t>(input.Number(2));
    char text[INET6_ADDRSTRLEN] = {};
    FUZZ_REQUIRE(::inet_ntop(ipv6 ? AF_INET6 : AF_INET, address, text, sizeof text) != nullptr);

    const QStringList fields = EprtArgument(ipv6, QString::fromLatin1(text), port).split(QLatin1Char('|'));
    FUZZ_REQUIRE(fields.size() == 5 && fields[0].isEmpty() && fields[4].isEmpty());
    FUZZ_REQUIRE(fields[1] == (ipv6 ? QStringLiteral("2") : QStringLiteral("1")));
    FUZZ_REQUIRE(fields[3] == QString::number(port));
    const std::optional<sockaddr_storage> read = NumericAddress(fields[2].toLatin1());
    FUZZ_REQUIRE(read && read->ss_family == (ipv6 ? AF_INET6 : AF_INET));
    const void *bytes = ipv6 ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in6 &>(*read).sin6_addr)
                             : static_cast<const void *>(&reinterpret_cast<const sockaddr_in &>(*read).sin_addr);
    FUZZ_REQUIRE(std::memcmp(bytes, address, ipv6 ? 16 : 4) == 0);
    return 0;
}
