#include "base/ServerField.h"

#include <arpa/inet.h>

#include <algorithm>

namespace quelmark {

namespace {

TServerField Refused(const QString &why)
{
    TServerField field;
    field.error = why;
    return field;
}

TServerField Accepted(const QString &host, std::uint16_t port = 0)
{
    TServerField field;
    field.host = host;
    field.port = port;
    return field;
}

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// An interface name or number, as a zone of an IPv6 address names one.
bool IsZone(QStringView zone)
{
    if (zone.isEmpty())
        return false;
    for (const QChar c : zone) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('-') && c != QLatin1Char('_') &&
            c != QLatin1Char('.'))
            return false;
    }
    return true;
}

// An IPv6 address, perhaps with a zone after '%' ("fe80::1%eth0").
bool IsIpv6Address(const QString &text)
{
    const qsizetype percent = text.indexOf(QLatin1Char('%'));
    if (percent == 0 || (percent > 0 && !IsZone(QStringView(text).mid(percent + 1))))
        return false;
    const QString address = percent < 0 ? text : text.left(percent);
    for (const QChar c : address) {
        if (c.unicode() > 127)
            return false;
    }
    in6_addr parsed{};
    return ::inet_pton(AF_INET6, address.toLatin1().constData(), &parsed) == 1;
}

TServerField WithPort(const QString &host, const QString &port, const QString &whole)
{
    qsizetype digits = 0;
    while (digits < port.size() && IsAsciiDigit(port.at(digits)))
        ++digits;
    if (digits == 0)
        return Refused(QStringLiteral("The port in \"%1\" is not a number from 1 to 65535").arg(whole));
    if (digits < port.size())
        return Refused(QStringLiteral("Unexpected text after the port in \"%1\"").arg(whole));
    int value = 0;
    for (const QChar c : port)
        value = std::min(value * 10 + (c.unicode() - '0'), 100000);
    if (value < 1 || value > 65535)
        return Refused(QStringLiteral("The port %1 in \"%2\" is outside 1 to 65535").arg(port, whole));
    return Accepted(host, static_cast<std::uint16_t>(value));
}

TServerField Bracketed(const QString &text)
{
    const qsizetype close = text.indexOf(QLatin1Char(']'));
    if (close < 0)
        return Refused(QStringLiteral("Unbalanced \"[\" in \"%1\"").arg(text));
    const QString host = text.mid(1, close - 1);
    if (!IsIpv6Address(host))
        return Refused(QStringLiteral("Only an IPv6 address may stand in brackets: \"%1\"").arg(text));
    const QString rest = text.mid(close + 1);
    if (rest.isEmpty())
        return Accepted(host);
    if (!rest.startsWith(QLatin1Char(':')))
        return Refused(QStringLiteral("Unexpected text after \"]\" in \"%1\"").arg(text));
    return WithPort(host, rest.mid(1), text);
}

} // namespace

TServerField ParseServerField(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return Refused(QStringLiteral("No server given"));
    // No name or address holds one; inside a command they would only cause harm.
    const bool strange = std::any_of(trimmed.begin(), trimmed.end(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format;
    });
    if (strange)
        return Refused(QStringLiteral("A server name holds no blanks or control characters"));
    if (trimmed.startsWith(QLatin1Char('[')))
        return Bracketed(trimmed);
    if (trimmed.contains(QLatin1Char('[')) || trimmed.contains(QLatin1Char(']')))
        return Refused(QStringLiteral("Unbalanced bracket in \"%1\"").arg(trimmed));
    const qsizetype colons = trimmed.count(QLatin1Char(':'));
    if (colons == 0)
        return Accepted(trimmed);
    // Two colons or more are an IPv6 address, which has no room for a port without brackets.
    if (colons > 1) {
        if (IsIpv6Address(trimmed))
            return Accepted(trimmed);
        return Refused(QStringLiteral("\"%1\" is neither a host with a port nor an IPv6 address (write an IPv6 "
                                      "address with a port as [address]:port)")
                           .arg(trimmed));
    }
    const qsizetype colon = trimmed.indexOf(QLatin1Char(':'));
    if (colon == 0)
        return Refused(QStringLiteral("No host before the port in \"%1\"").arg(trimmed));
    return WithPort(trimmed.left(colon), trimmed.mid(colon + 1), trimmed);
}

} // namespace quelmark
