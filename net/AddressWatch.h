// TAddressWatch: tells when the machine's addresses or its default route change, as the
// kernel announces it.
//
// A routing socket (rtnetlink) that listens to the address and route announcements of IPv4 and
// IPv6 delivers each change as it happens, through the event loop; nothing polls. The watch
// keeps the set of addresses (interface, address, prefix length) and default routes it knows,
// learnt first from the kernel's own lists, and only what changes that set counts: an address
// added or removed, a default route that was not there. An announcement that changes nothing
// (an IPv6 address whose lifetimes a router renewed, any route but a default one, a default
// route going away) is not a change, and an address still being checked for duplicates counts
// once the check has passed. A burst of changes (an interface coming up with its addresses and
// its route) settles into one OnChanged, kSettleMs after the last of them and at most kLongestMs
// after the first. When the kernel had to drop announcements, that counts as a change, and the
// lists are read again.
#pragma once

#include "net/UniqueFd.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

class QSocketNotifier;
struct nlmsghdr;

namespace quelmark {

class TSettleTimer;

class TAddressWatch : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *sender)>;

    static constexpr int kSettleMs = 500;
    static constexpr int kLongestMs = 1000;

    explicit TAddressWatch(QObject *owner = nullptr);
    ~TAddressWatch() override;

    // Starts listening; does nothing when the watch runs already. Returns false with Error() set
    // when the system refuses the routing socket.
    bool Start();
    // Stops listening and forgets a burst that has not settled yet.
    void Stop();
    bool Running() const { return m_socket.Valid(); }
    // Why the last Start failed; empty after one that succeeded.
    QString Error() const { return m_error; }

    // Called once a burst of changes has settled; the handler may stop or destroy the watch.
    TNotifyEvent OnChanged;

private:
    enum class TListing { None, Addresses, Routes };

    bool Fail(const QString &what, int error);
    bool AskForList(TListing listing);
    void ReadAnnouncements();
    void HandleMessages(const char *data, std::size_t size);
    void Apply(const nlmsghdr &header, bool fromOurListing);
    void ListingStepDone();
    void Dropped();

    UniqueFd m_socket;
    std::vector<char> m_buffer;
    std::uint32_t m_portId = 0;
    std::uint32_t m_sequence = 0;
    QSocketNotifier *m_notifier = nullptr;
    TSettleTimer *m_settle = nullptr;
    // What is known of the addresses and default routes, one key each; while the lists are
    // read, what they say so far.
    QSet<QByteArray> m_known;
    QSet<QByteArray> m_listed;
    TListing m_listing = TListing::None;
    // True once the first lists have been read whole.
    bool m_ready = false;
    bool m_listAgain = false;
    QString m_error;
};

} // namespace quelmark
