// Socket addresses of either family, IPv4 or IPv6, held in one platform record
// (sockaddr_storage), and what the network code asks of them: the family's record length, the
// port, the address as text, whether two name the same host, reading a numeric address, and
// which family to try first when a name has addresses of both.
#pragma once

#include <QByteArray>
#include <QString>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace quelmark {

// Returns an IPv4 address record; the address is in network byte order, the port in host order.
sockaddr_storage Ipv4Address(std::uint32_t address, std::uint16_t port = 0);

// Returns the length of the platform record of the address's family.
socklen_t AddressLength(const sockaddr_storage &address);

// Returns the port in host byte order.
std::uint16_t AddressPort(const sockaddr_storage &address);

// Sets the port (host byte order) of an IPv4 or IPv6 address.
void SetAddressPort(sockaddr_storage &address, std::uint16_t port);

// Returns the address part as text, without brackets or port: "192.0.2.7", "2001:db8::5".
QString AddressText(const sockaddr_storage &address);

// Tells whether two records hold the same family and address; ports do not matter.
bool SameHost(const sockaddr_storage &a, const sockaddr_storage &b);

// Reads a numeric address that is the whole text: a dotted IPv4 address, or an IPv6 address,
// which may carry a zone ("fe80::1%eth0"). The port is 0; anything else gives nothing.
std::optional<sockaddr_storage> NumericAddress(const QByteArray &text);

// Returns the addresses in the order to try them: those of the preferred family first, each
// family in the order given, every address once.
std::vector<sockaddr_storage> OrderForConnecting(const std::vector<sockaddr_storage> &addresses, bool ipv6First);

// Returns the addresses a connection tries, in turn, each with port: the first address, then the
// first one of the other family when there is one, since a name with addresses of both families
// may be reachable over one of them only. Empty when addresses is.
std::vector<sockaddr_storage> ConnectionTries(const std::vector<sockaddr_storage> &addresses, std::uint16_t port);

// Tells whether this machine reaches the IPv6 Internet: the system has a route to the global
// unicast range (2000::/3) and would send from a global unicast address of its own.
bool HasGlobalIpv6Route();

} // namespace quelmark
