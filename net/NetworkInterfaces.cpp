#include "net/NetworkInterfaces.h"

#include "base/Printable.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <memory>

namespace quelmark {

namespace {

struct IfAddrsFree {
    void operator()(ifaddrs *list) const { freeifaddrs(list); }
};

QString AddressText(const sockaddr *address)
{
    char text[INET6_ADDRSTRLEN] = {};
    const void *raw = address->sa_family == AF_INET6
                          ? static_cast<const void *>(&reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr)
                          : static_cast<const void *>(&reinterpret_cast<const sockaddr_in *>(address)->sin_addr);
    return inet_ntop(address->sa_family, raw, text, sizeof text) ? QString::fromLatin1(text) : QString();
}

TNetworkInterface &EntryFor(std::vector<TNetworkInterface> &interfaces, const ifaddrs *ifa)
{
    const QString name = QString::fromLocal8Bit(ifa->ifa_name);
    auto it = std::find_if(interfaces.begin(), interfaces.end(),
                           [&](const TNetworkInterface &entry) { return entry.name == name; });
    if (it != interfaces.end())
        return *it;
    TNetworkInterface &entry = interfaces.emplace_back();
    entry.name = name;
    entry.up = (ifa->ifa_flags & IFF_UP) != 0;
    entry.loopback = (ifa->ifa_flags & IFF_LOOPBACK) != 0;
    return entry;
}

bool IsGlobal(const QString &address)
{
    const TAddressKind kind = ClassifyAddress(address);
    return kind != TAddressKind::LinkLocal && kind != TAddressKind::Loopback && kind != TAddressKind::Unspecified;
}

} // namespace

std::vector<TNetworkInterface> ListNetworkInterfaces()
{
    ifaddrs *raw = nullptr;
    if (getifaddrs(&raw) != 0)
        return {};
    std::unique_ptr<ifaddrs, IfAddrsFree> list(raw);
    std::vector<TNetworkInterface> interfaces;
    // Every interface has an entry without an address or a link-level one as well, so one
    // without any IP address is listed too.
    for (const ifaddrs *ifa = list.get(); ifa; ifa = ifa->ifa_next) {
        TNetworkInterface &entry = EntryFor(interfaces, ifa);
        if (!ifa->ifa_addr)
            continue;
        if (ifa->ifa_addr->sa_family == AF_INET)
            entry.ipv4 << AddressText(ifa->ifa_addr);
        else if (ifa->ifa_addr->sa_family == AF_INET6)
            entry.ipv6 << AddressText(ifa->ifa_addr);
    }
    return interfaces;
}

QStringList NetworkInterfaceNames()
{
    QStringList names;
    for (const TNetworkInterface &entry : ListNetworkInterfaces())
        names << entry.name;
    return names;
}

TAddressResult SelectInterfaceAddress(const std::vector<TNetworkInterface> &interfaces, const QString &name,
                                      TAddressFamily family)
{
    if (name.isEmpty())
        return TAddressResult::Failed(QStringLiteral("no interface is chosen"));
    auto it = std::find_if(interfaces.begin(), interfaces.end(),
                           [&](const TNetworkInterface &entry) { return entry.name == name; });
    if (it == interfaces.end())
        return TAddressResult::Failed(QStringLiteral("interface %1 does not exist").arg(PrintableText(name)));
    if (!it->up)
        return TAddressResult::Failed(QStringLiteral("interface %1 is down").arg(PrintableText(name)));
    const QStringList &addresses = it->Addresses(family);
    for (const QString &address : addresses) {
        if (ClassifyAddress(address) != TAddressKind::LinkLocal)
            return TAddressResult::Found(address);
    }
    const QString why = addresses.isEmpty() ? QStringLiteral("interface %1 has no %2 address")
                                            : QStringLiteral("interface %1 has only link-local %2 addresses");
    return TAddressResult::Failed(why.arg(PrintableText(name), AddressFamilyName(family)));
}

TAddressResult SelectGlobalIpv6Address(const std::vector<TNetworkInterface> &interfaces)
{
    for (const TNetworkInterface &entry : interfaces) {
        if (!entry.up || entry.loopback)
            continue;
        for (const QString &address : entry.ipv6) {
            if (IsGlobal(address))
                return TAddressResult::Found(address);
        }
    }
    return TAddressResult::Failed(QStringLiteral("no global IPv6 address on an interface that is up"));
}

} // namespace quelmark
