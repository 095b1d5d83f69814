// The machine's network interfaces with their addresses, as the system lists them, and the
// choice of one address among them for the "Interface" source and for the "Local" rule of
// IPv6.
#pragma once

#include "net/AddressText.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace quelmark {

struct TNetworkInterface {
    QString name;
    bool up = false;
    bool loopback = false;
    QStringList ipv4; // in the system's order, compressed text
    QStringList ipv6;

    const QStringList &Addresses(TAddressFamily family) const { return family == TAddressFamily::IPv6 ? ipv6 : ipv4; }
};

// Lists the interfaces in the system's order, each once, with their addresses; empty when the
// system cannot list them.
std::vector<TNetworkInterface> ListNetworkInterfaces();

// Returns the names of the machine's interfaces in the system's order.
QStringList NetworkInterfaceNames();

// Returns the first address of the family on the named interface that is not link-local. Fails
// when no name is given, no interface has it, the interface is down, or it has no such address.
TAddressResult SelectInterfaceAddress(const std::vector<TNetworkInterface> &interfaces, const QString &name,
                                      TAddressFamily family);

// Returns the first IPv6 address that is neither loopback nor link-local, on an interface that
// is up and not loopback; fails when there is none.
TAddressResult SelectGlobalIpv6Address(const std::vector<TNetworkInterface> &interfaces);

} // namespace quelmark
