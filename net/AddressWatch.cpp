#include "net/AddressWatch.h"

#include "base/Exception.h"
#include "net/SettleTimer.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

namespace quelmark {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
// Enough room for the announcements of a busy moment, so few are ever dropped.
constexpr int kReceiveBuffer = 256 * 1024;
// Reads per notification, so a flood of announcements cannot hold the loop.
constexpr int kReadsPerWakeUp = 16;

enum class TChange { Added, Removed };

struct TAnnouncement {
    TChange change;
    QByteArray key;
};

template <typename T> void AppendRaw(QByteArray &key, T value)
{
    key.append(reinterpret_cast<const char *>(&value), sizeof value);
}

template <typename T> T ReadRaw(const rtattr &attribute)
{
    T value{};
    if (RTA_PAYLOAD(&attribute) >= sizeof value)
        std::memcpy(&value, RTA_DATA(&attribute), sizeof value);
    return value;
}

QByteArray Bytes(const rtattr &attribute)
{
    return QByteArray(static_cast<const char *>(RTA_DATA(&attribute)), static_cast<qsizetype>(RTA_PAYLOAD(&attribute)));
}

bool Inet(int family)
{
    return family == AF_INET || family == AF_INET6;
}

// An address, keyed by its family, interface, prefix length and bytes. One whose duplicate check
// has not passed is announced as it comes and goes, but is not in use yet.
std::optional<TAnnouncement> AddressAnnouncement(const nlmsghdr &header)
{
    if (header.nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg)))
        return std::nullopt;
    const auto *message = static_cast<const ifaddrmsg *>(NLMSG_DATA(&header));
    if (!Inet(message->ifa_family))
        return std::nullopt;
    QByteArray local;
    QByteArray address;
    std::uint32_t flags = message->ifa_flags;
    int length = static_cast<int>(IFA_PAYLOAD(&header));
    for (const rtattr *attribute = IFA_RTA(message); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        if (attribute->rta_type == IFA_LOCAL)
            local = Bytes(*attribute);
        else if (attribute->rta_type == IFA_ADDRESS)
            address = Bytes(*attribute);
        else if (attribute->rta_type == IFA_FLAGS)
            flags = ReadRaw<std::uint32_t>(*attribute);
    }
    // On a point-to-point link IFA_ADDRESS is the peer's; IFA_LOCAL is this machine's.
    const QByteArray &own = local.isEmpty() ? address : local;
    if (own.isEmpty())
        return std::nullopt;
    QByteArray key("a");
    AppendRaw(key, message->ifa_family);
    AppendRaw(key, message->ifa_index);
    AppendRaw(key, message->ifa_prefixlen);
    key += own;
    const bool inUse = header.nlmsg_type == RTM_NEWADDR && (flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) == 0;
    return TAnnouncement{inUse ? TChange::Added : TChange::Removed, key};
}

// A default route of the main table, keyed by its family, interface, metric and gateway.
std::optional<TAnnouncement> RouteAnnouncement(const nlmsghdr &header)
{
    if (header.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg)))
        return std::nullopt;
    const auto *message = static_cast<const rtmsg *>(NLMSG_DATA(&header));
    if (!Inet(message->rtm_family) || message->rtm_dst_len != 0 || message->rtm_type != RTN_UNICAST)
        return std::nullopt;
    std::uint32_t table = message->rtm_table;
    std::uint32_t outInterface = 0;
    std::uint32_t priority = 0;
    QByteArray gateway;
    int length = static_cast<int>(RTM_PAYLOAD(&header));
    for (const rtattr *attribute = RTM_RTA(message); RTA_OK(attribute, length);
         attribute = RTA_NEXT(attribute, length)) {
        if (attribute->rta_type == RTA_TABLE)
            table = ReadRaw<std::uint32_t>(*attribute);
        else if (attribute->rta_type == RTA_OIF)
            outInterface = ReadRaw<std::uint32_t>(*attribute);
        else if (attribute->rta_type == RTA_PRIORITY)
            priority = ReadRaw<std::uint32_t>(*attribute);
        else if (attribute->rta_type == RTA_GATEWAY)
            gateway = Bytes(*attribute);
    }
    if (table != RT_TABLE_MAIN)
        return std::nullopt;
    QByteArray key("r");
    AppendRaw(key, message->rtm_family);
    AppendRaw(key, outInterface);
    AppendRaw(key, priority);
    key += gateway;
    return TAnnouncement{header.nlmsg_type == RTM_NEWROUTE ? TChange::Added : TChange::Removed, key};
}

std::optional<TAnnouncement> Announcement(const nlmsghdr &header)
{
    switch (header.nlmsg_type) {
    case RTM_NEWADDR:
    case RTM_DELADDR:
        return AddressAnnouncement(header);
    case RTM_NEWROUTE:
    case RTM_DELROUTE:
        return RouteAnnouncement(header);
    default:
        return std::nullopt;
    }
}

// Applies an announcement to a set of keys; returns true when it changed the set in a way that
// counts: any address, or a default route that is new.
bool ApplyTo(QSet<QByteArray> &keys, const TAnnouncement &announcement)
{
    if (announcement.change == TChange::Removed)
        return keys.remove(announcement.key) && announcement.key.startsWith('a');
    if (keys.contains(announcement.key))
        return false;
    keys.insert(announcement.key);
    return true;
}

} // namespace

TAddressWatch::TAddressWatch(QObject *owner) : QObject(owner), m_settle(new TSettleTimer(kSettleMs, kLongestMs, this))
{
    m_settle->OnSettled = [this](QObject *) {
        const TNotifyEvent handler = OnChanged;
        if (handler)
            handler(this);
    };
}

TAddressWatch::~TAddressWatch() = default;

bool TAddressWatch::Start()
{
    if (Running())
        return true;
    m_error.clear();
    UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket.Valid())
        return Fail(QStringLiteral("socket"), errno);
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(socket.Get(), reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
        return Fail(QStringLiteral("bind"), errno);
    socklen_t length = sizeof local;
    if (::getsockname(socket.Get(), reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return Fail(QStringLiteral("getsockname"), errno);
    m_portId = local.nl_pid;
    m_socket = std::move(socket);
    m_buffer.resize(kBufferSize);
    m_known.clear();
    m_ready = false;
    m_listAgain = false;
    if (!AskForList(TListing::Addresses)) {
        const int error = errno;
        Stop();
        return Fail(QStringLiteral("sendto"), error);
    }
    m_notifier = new QSocketNotifier(m_socket.Get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { Guarded([this] { ReadAnnouncements(); }); });
    return true;
}

void TAddressWatch::Stop()
{
    m_settle->Cancel();
    if (m_notifier) {
        // The notifier may be the very sender being handled.
        m_notifier->setEnabled(false);
        std::exchange(m_notifier, nullptr)->deleteLater();
    }
    m_socket.Reset();
    m_listing = TListing::None;
}

bool TAddressWatch::Fail(const QString &what, int error)
{
    m_error = QStringLiteral("The network's announcements cannot be heard (%1: %2)")
                  .arg(what, QString::fromLocal8Bit(std::strerror(error)));
    return false;
}

// Asks the kernel to list its addresses or routes; the answers come as announcements do, marked
// with this socket's port.
bool TAddressWatch::AskForList(TListing listing)
{
    struct {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof request.body);
    request.header.nlmsg_type = listing == TListing::Addresses ? RTM_GETADDR : RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++m_sequence;
    request.body.rtgen_family = AF_UNSPEC;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (listing == TListing::Addresses)
        m_listed.clear();
    const ssize_t sent = ::sendto(m_socket.Get(), &request, request.header.nlmsg_len, 0,
                                  reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel);
    if (sent < 0)
        return false;
    m_listing = listing;
    return true;
}

void TAddressWatch::ReadAnnouncements()
{
    for (int reads = 0; reads < kReadsPerWakeUp && Running(); ++reads) {
        sockaddr_nl sender{};
        iovec part{m_buffer.data(), m_buffer.size()};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        const ssize_t received = ::recvmsg(m_socket.Get(), &message, 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received < 0 && errno == ENOBUFS) {
            Dropped();
            continue;
        }
        if (received <= 0)
            return;
        // Only the kernel speaks for the network; another program could write to this port.
        if (sender.nl_pid != 0)
            continue;
        if (message.msg_flags & MSG_TRUNC) {
            Dropped();
            continue;
        }
        HandleMessages(m_buffer.data(), static_cast<std::size_t>(received));
    }
}

void TAddressWatch::HandleMessages(const char *data, std::size_t size)
{
    auto length = static_cast<unsigned int>(size);
    for (const auto *header = reinterpret_cast<const nlmsghdr *>(data); NLMSG_OK(header, length);
         header = NLMSG_NEXT(header, length)) {
        const bool fromOurListing =
            m_listing != TListing::None && header->nlmsg_pid == m_portId && header->nlmsg_seq == m_sequence;
        if (fromOurListing && (header->nlmsg_type == NLMSG_DONE || header->nlmsg_type == NLMSG_ERROR))
            ListingStepDone();
        else
            Apply(*header, fromOurListing);
        if (!Running())
            return;
    }
}

void TAddressWatch::Apply(const nlmsghdr &header, bool fromOurListing)
{
    const std::optional<TAnnouncement> announcement = Announcement(header);
    if (!announcement)
        return;
    // Changes announced while the lists are read go into both the lists and what is known.
    const bool listedChanged = m_listing != TListing::None && ApplyTo(m_listed, *announcement);
    if (fromOurListing)
        return;
    const bool knownChanged = ApplyTo(m_known, *announcement);
    // Before the first lists are whole, nothing is known to compare with: a change announced
    // then counts when the lists read so far did not hold it, once more than needed at worst.
    if (m_ready ? knownChanged : listedChanged)
        m_settle->Nudge();
}

void TAddressWatch::ListingStepDone()
{
    if (m_listing == TListing::Addresses) {
        if (AskForList(TListing::Routes))
            return;
        // Without the routes the addresses alone are known; a new default route then counts
        // once more than needed.
    }
    m_listing = TListing::None;
    m_known = m_listed;
    m_ready = true;
    if (std::exchange(m_listAgain, false))
        AskForList(TListing::Addresses);
}

// Announcements were lost: something may have changed unheard, and what is known may be wrong.
void TAddressWatch::Dropped()
{
    m_settle->Nudge();
    if (m_listing != TListing::None)
        m_listAgain = true;
    else
        AskForList(TListing::Addresses);
}

} // namespace quelmark
