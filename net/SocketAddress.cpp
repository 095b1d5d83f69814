#include "net/SocketAddress.h"

#include "net/UniqueFd.h"

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>
#include <cstring>

namespace quelmark {

namespace {

const sockaddr_in &In4(const sockaddr_storage &address)
{
    return reinterpret_cast<const sockaddr_in &>(address);
}

const sockaddr_in6 &In6(const sockaddr_storage &address)
{
    return reinterpret_cast<const sockaddr_in6 &>(address);
}

bool InGlobalUnicastRange(const in6_addr &address)
{
    return (address.s6_addr[0] & 0xE0u) == 0x20u;
}

} // namespace

sockaddr_storage Ipv4Address(std::uint32_t address, std::uint16_t port)
{
    sockaddr_storage record{};
    auto &v4 = reinterpret_cast<sockaddr_in &>(record);
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = address;
    v4.sin_port = htons(port);
    return record;
}

socklen_t AddressLength(const sockaddr_storage &address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

std::uint16_t AddressPort(const sockaddr_storage &address)
{
    return ntohs(address.ss_family == AF_INET6 ? In6(address).sin6_port : In4(address).sin_port);
}

void SetAddressPort(sockaddr_storage &address, std::uint16_t port)
{
    if (address.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 &>(address).sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in &>(address).sin_port = htons(port);
}

QString AddressText(const sockaddr_storage &address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6)
        ::inet_ntop(AF_INET6, &In6(address).sin6_addr, text, sizeof text);
    else
        ::inet_ntop(AF_INET, &In4(address).sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

bool SameHost(const sockaddr_storage &a, const sockaddr_storage &b)
{
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET6)
        return std::memcmp(&In6(a).sin6_addr, &In6(b).sin6_addr, sizeof(in6_addr)) == 0;
    return In4(a).sin_addr.s_addr == In4(b).sin_addr.s_addr;
}

std::optional<sockaddr_storage> NumericAddress(const QByteArray &text)
{
    // The C library would read only up to a NUL and take the rest for nothing.
    if (text.isEmpty() || text.contains('\0'))
        return std::nullopt;
    // inet_pton takes exactly "a.b.c.d", where the resolver would also take "127.1".
    in_addr v4{};
    if (::inet_pton(AF_INET, text.constData(), &v4) == 1)
        return Ipv4Address(v4.s_addr);
    if (!text.contains(':'))
        return std::nullopt;
    // The resolver, numeric only, is what reads a zone after the address.
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo *found = nullptr;
    if (::getaddrinfo(text.constData(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    sockaddr_storage record{};
    std::memcpy(&record, found->ai_addr, std::min<std::size_t>(found->ai_addrlen, sizeof record));
    ::freeaddrinfo(found);
    SetAddressPort(record, 0);
    return record;
}

std::vector<sockaddr_storage> OrderForConnecting(const std::vector<sockaddr_storage> &addresses, bool ipv6First)
{
    std::vector<sockaddr_storage> ordered;
    const auto add = [&ordered](const sockaddr_storage &address) {
        const bool seen = std::any_of(ordered.begin(), ordered.end(),
                                      [&](const sockaddr_storage &known) { return SameHost(known, address); });
        if (!seen)
            ordered.push_back(address);
    };
    const int first = ipv6First ? AF_INET6 : AF_INET;
    for (const sockaddr_storage &address : addresses)
        if (address.ss_family == first)
            add(address);
    for (const sockaddr_storage &address : addresses)
        if (address.ss_family != first && (address.ss_family == AF_INET || address.ss_family == AF_INET6))
            add(address);
    return ordered;
}

std::vector<sockaddr_storage> ConnectionTries(const std::vector<sockaddr_storage> &addresses, std::uint16_t port)
{
    if (addresses.empty())
        return {};
    std::vector<sockaddr_storage> tries{addresses.front()};
    const auto other = std::find_if(addresses.begin(), addresses.end(), [&](const sockaddr_storage &address) {
        return address.ss_family != tries.front().ss_family;
    });
    if (other != addresses.end())
        tries.push_back(*other);
    for (sockaddr_storage &address : tries)
        SetAddressPort(address, port);
    return tries;
}

bool HasGlobalIpv6Route()
{
    // Connecting a datagram socket sends nothing: it only asks the system for the route and the
    // source address it would use.
    const UniqueFd probe(::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!probe.Valid())
        return false;
    sockaddr_in6 target{};
    target.sin6_family = AF_INET6;
    target.sin6_port = htons(9);
    ::inet_pton(AF_INET6, "2000::1", &target.sin6_addr);
    if (::connect(probe.Get(), reinterpret_cast<const sockaddr *>(&target), sizeof target) != 0)
        return false;
    sockaddr_in6 source{};
    socklen_t length = sizeof source;
    if (::getsockname(probe.Get(), reinterpret_cast<sockaddr *>(&source), &length) != 0)
        return false;
    return InGlobalUnicastRange(source.sin6_addr);
}

} // namespace quelmark
