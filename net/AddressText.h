// Addresses as text: the IP version a lookup asks for, the outcome of a lookup, finding an
// address inside an answer of any shape, and telling what kind of address one is.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace quelmark {

enum class TAddressFamily { IPv4, IPv6 };

// Returns "IPv4" or "IPv6".
QString AddressFamilyName(TAddressFamily family);
// Reads "IPv4" or "IPv6"; nothing for any other text.
std::optional<TAddressFamily> AddressFamilyFromName(const QString &name);

// The outcome of one address lookup. A usable address has an empty failure. A failure says
// exactly why, beginning "Address check failed: "; its address is empty, except that the
// "Local" rule for IPv4 keeps the program's own word "127.0.0.1" there for "not connected".
struct TAddressResult {
    QString address;
    QString failure;

    bool Connected() const { return failure.isEmpty(); }

    static TAddressResult Found(const QString &address) { return {address, QString()}; }
    // Prefixes the reason with "Address check failed: ".
    static TAddressResult Failed(const QString &reason);
};

// Returns the first address of the family that stands in the text, in its compressed form
// (IPv6 without brackets), or an empty text when there is none. An address is a whole run of
// the characters an address of that family is written with; whatever stands beside it (a tag,
// a quote, a colon ending a label, a full stop ending a sentence) does not matter, but a run
// that holds more than one address ("1.2.3.4.5") or a longer number ("1.2.3.45" is not
// 1.2.3.4) is no address. Parts with leading zeros, shortened forms ("1.2.3") and addresses
// that name no single machine (0.0.0.0/8 and ::, multicast, 240.0.0.0/4 and the broadcast
// address 255.255.255.255) are skipped.
QString FindAddress(const QByteArray &text, TAddressFamily family);

enum class TAddressKind {
    Public,
    Private,     // 10/8, 172.16/12, 192.168/16; fc00::/7 and the old site-local fec0::/10
    Loopback,    // 127/8, ::1
    LinkLocal,   // 169.254/16, fe80::/10
    SharedCgnat, // 100.64/10, the carriers' shared address space
    Unspecified, // 0.0.0.0, ::
    Invalid,     // not an address at all
};

// Tells what kind of address the text (IPv4 or IPv6, an IPv4-mapped IPv6 address judged by its
// IPv4 part) holds.
TAddressKind ClassifyAddress(const QString &address);

// Returns the kind's name for log lines: "public", "private", "loopback", "link-local",
// "CGNAT", "unspecified", "invalid".
QString AddressKindName(TAddressKind kind);

} // namespace quelmark
