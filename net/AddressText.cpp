#include "net/AddressText.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>

namespace quelmark {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsWordChar(char c)
{
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool InIpv4Run(char c)
{
    return IsDigit(c) || c == '.';
}

bool InIpv6Run(char c)
{
    return IsHexDigit(c) || c == ':' || c == '.';
}

// QHostAddress also takes the resolver's old shortened and octal forms ("1.2.3" is 1.2.0.3,
// "010" is 8); an answer meant for people never uses them, so only the plain form counts.
bool IsDottedQuad(const QByteArray &text)
{
    const QList<QByteArray> parts = text.split('.');
    if (parts.size() != 4)
        return false;
    for (const QByteArray &part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.startsWith('0')))
            return false;
        for (char c : part) {
            if (!IsDigit(c))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

// Only an address of one machine can be this machine's: not "this network" (0/8, ::), a
// multicast group (224/4, ff00::/8), the reserved block (240/4) or the broadcast address
// 255.255.255.255. An IPv4-mapped IPv6 address is judged by its IPv4 part.
bool IsUnicast(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (address.protocol() == QAbstractSocket::IPv4Protocol || mapped)
        return (v4 >> 24) != 0 && (v4 >> 28) != 0xE && (v4 >> 28) != 0xF;
    return address != QHostAddress::AnyIPv6 && !address.isMulticast();
}

QString Parsed(const QByteArray &text, QAbstractSocket::NetworkLayerProtocol protocol)
{
    QHostAddress address;
    if (!address.setAddress(QString::fromLatin1(text)) || address.protocol() != protocol || !IsUnicast(address))
        return {};
    return address.toString();
}

QString Ipv4Candidate(const QByteArray &run)
{
    return IsDottedQuad(run) ? Parsed(run, QAbstractSocket::IPv4Protocol) : QString();
}

// A run that touches a word carries that word's last letters up to a colon ("IPv6:2001:db8::1"
// gives "6:2001:db8::1", "Address:2001:db8::1" gives ":2001:db8::1"), or its first ones after
// the last colon: they are cut off there, and a run with no colon to cut at is part of the word.
QString Ipv6Candidate(const QByteArray &text, qsizetype begin, qsizetype end)
{
    QByteArray run = text.mid(begin, end - begin);
    if (begin > 0 && IsWordChar(text.at(begin - 1))) {
        const qsizetype colon = run.indexOf(':');
        if (colon < 0)
            return {};
        run.remove(0, colon + 1);
    }
    if (end < text.size() && IsWordChar(text.at(end))) {
        const qsizetype colon = run.lastIndexOf(':');
        if (colon < 0)
            return {};
        run.truncate(colon);
    }
    // A lone colon at either end ends a label or starts a port, unlike the "::" of the address.
    if (run.startsWith(':') && !run.startsWith("::"))
        run.remove(0, 1);
    if (run.endsWith(':') && !run.endsWith("::"))
        run.chop(1);
    if (run.contains('.') && !IsDottedQuad(run.mid(run.lastIndexOf(':') + 1)))
        return {};
    return Parsed(run, QAbstractSocket::IPv6Protocol);
}

TAddressKind ClassifyIpv4(std::uint32_t a)
{
    if (a == 0)
        return TAddressKind::Unspecified;
    if ((a >> 24) == 127)
        return TAddressKind::Loopback;
    if ((a >> 24) == 10 || (a >> 20) == 0xAC1 || (a >> 16) == 0xC0A8)
        return TAddressKind::Private;
    if ((a >> 16) == 0xA9FE)
        return TAddressKind::LinkLocal;
    if ((a >> 22) == (100u << 2 | 1u))
        return TAddressKind::SharedCgnat;
    return TAddressKind::Public;
}

TAddressKind ClassifyIpv6(const in6_addr &a)
{
    const std::uint8_t *b = a.s6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&a))
        return ClassifyIpv4(std::uint32_t(b[12]) << 24 | std::uint32_t(b[13]) << 16 | std::uint32_t(b[14]) << 8 |
                            b[15]);
    if (IN6_IS_ADDR_UNSPECIFIED(&a))
        return TAddressKind::Unspecified;
    if (IN6_IS_ADDR_LOOPBACK(&a))
        return TAddressKind::Loopback;
    if (b[0] == 0xFE && (b[1] & 0xC0) == 0x80)
        return TAddressKind::LinkLocal;
    if ((b[0] & 0xFE) == 0xFC || (b[0] == 0xFE && (b[1] & 0xC0) == 0xC0))
        return TAddressKind::Private;
    return TAddressKind::Public;
}

} // namespace

QString AddressFamilyName(TAddressFamily family)
{
    return family == TAddressFamily::IPv6 ? QStringLiteral("IPv6") : QStringLiteral("IPv4");
}

std::optional<TAddressFamily> AddressFamilyFromName(const QString &name)
{
    if (name == QLatin1String("IPv4"))
        return TAddressFamily::IPv4;
    if (name == QLatin1String("IPv6"))
        return TAddressFamily::IPv6;
    return std::nullopt;
}

TAddressResult TAddressResult::Failed(const QString &reason)
{
    return {QString(), QStringLiteral("Address check failed: ") + reason};
}

QString FindAddress(const QByteArray &text, TAddressFamily family)
{
    const bool v6 = family == TAddressFamily::IPv6;
    const auto inRun = v6 ? InIpv6Run : InIpv4Run;
    qsizetype i = 0;
    while (i < text.size()) {
        if (!inRun(text.at(i))) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < text.size() && inRun(text.at(end)))
            ++end;
        // Full stops around a run end or open a sentence; they never belong to the address.
        qsizetype begin = i;
        qsizetype last = end;
        while (begin < last && text.at(begin) == '.')
            ++begin;
        while (last > begin && text.at(last - 1) == '.')
            --last;
        const QString found = v6 ? Ipv6Candidate(text, begin, last) : Ipv4Candidate(text.mid(begin, last - begin));
        if (!found.isEmpty())
            return found;
        i = end;
    }
    return {};
}

TAddressKind ClassifyAddress(const QString &address)
{
    const QByteArray text = address.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return ClassifyIpv4(ntohl(v4.s_addr));
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6) == 1)
        return ClassifyIpv6(v6);
    return TAddressKind::Invalid;
}

QString AddressKindName(TAddressKind kind)
{
    // In the order of the kinds.
    static const char *const names[] = {"public", "private", "loopback", "link-local", "CGNAT", "unspecified"};
    const auto index = static_cast<std::size_t>(kind);
    return QString::fromLatin1(index < std::size(names) ? names[index] : "invalid");
}

} // namespace quelmark
