#include "net/Sockets.h"

#include "net/NetworkInterfaces.h"
#include "net/SocketErrors.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace quelmark {

namespace {

bool IsLoopback(std::uint32_t address)
{
    return (address >> 24) == 127;
}

struct AddrInfoFree {
    void operator()(addrinfo *list) const { freeaddrinfo(list); }
};

// The host name's IPv4 addresses in the resolver's order; empty when it cannot be resolved.
// No AI_ADDRCONFIG: with only loopback configured it would refuse to resolve at all, and a
// disconnected machine must still come out as loopback rather than as unresolvable.
std::vector<std::uint32_t> ResolveHostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM; // one entry per address, not one per socket type
    addrinfo *raw = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &raw) != 0)
        return {};
    std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    std::vector<std::uint32_t> addresses;
    for (const addrinfo *ai = list.get(); ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr)
            addresses.push_back(ntohl(reinterpret_cast<const sockaddr_in *>(ai->ai_addr)->sin_addr.s_addr));
    }
    return addresses;
}

std::vector<InterfaceAddress> ListInterfaces()
{
    std::vector<InterfaceAddress> addresses;
    for (const TNetworkInterface &entry : ListNetworkInterfaces()) {
        for (const QString &text : entry.ipv4) {
            in_addr address{};
            if (inet_pton(AF_INET, text.toLatin1().constData(), &address) == 1)
                addresses.push_back({ntohl(address.s_addr), entry.up, entry.loopback});
        }
    }
    return addresses;
}

} // namespace

QString DottedQuad(std::uint32_t address)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg((address >> 24) & 0xFF)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

QString SelectLocalAddress(const std::vector<std::uint32_t> &resolved, const std::vector<InterfaceAddress> &interfaces)
{
    if (resolved.empty())
        return QStringLiteral("0.0.0.0");
    for (std::uint32_t address : resolved) {
        if (!IsLoopback(address))
            return DottedQuad(address);
    }
    // Hosts files commonly map the machine's own name to a loopback address even while an
    // interface carries a real one; only when none does is the machine disconnected.
    for (const InterfaceAddress &entry : interfaces) {
        if (entry.up && !entry.loopback && !IsLoopback(entry.address))
            return DottedQuad(entry.address);
    }
    return QStringLiteral("127.0.0.1");
}

// Starting and cleaning up the socket library needs no call on this system; only the mark of
// having done so is kept.
TSockets::TSockets(QObject *owner) : QObject(owner), m_started(true) {}

TSockets::~TSockets()
{
    m_started = false;
}

QString TSockets::LocalIPAddress() const
{
    const std::vector<std::uint32_t> resolved = ResolveHostName();
    if (resolved.empty())
        return SelectLocalAddress(resolved, {});
    return SelectLocalAddress(resolved, ListInterfaces());
}

void TSockets::ReportWinsockError(std::int32_t socket, const QString &function, std::int32_t error)
{
    const QString text = WinsockErrorText(error);
    if (OnErrorOccurred) {
        OnErrorOccurred(this, socket, error, text);
        return;
    }
    throw EWinsockError(QStringLiteral("Winsock Error: %1 in function %2\r\n%3").arg(error).arg(function, text));
}

} // namespace quelmark
