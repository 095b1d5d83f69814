#include "ftp/FtpReplies.h"

#include <algorithm>
#include <limits>

namespace quelmark {

namespace {

bool IsAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

void SkipBlanks(const QString &text, qsizetype &i)
{
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
}

// Reads a number of at most maxDigits decimal digits at i; -1 when there is none or it is
// longer.
int ReadNumber(const QString &text, qsizetype &i, int maxDigits)
{
    int value = 0;
    int digits = 0;
    while (i < text.size() && IsAsciiDigit(text.at(i))) {
        if (++digits > maxDigits)
            return -1;
        value = value * 10 + (text.at(i).unicode() - '0');
        ++i;
    }
    return digits == 0 ? -1 : value;
}

// Reads "h1,h2,h3,h4,p1,p2" starting at i.
std::optional<TPassiveAddress> PasvTupleAt(const QString &reply, qsizetype i)
{
    int values[6];
    for (int n = 0; n < 6; ++n) {
        if (n > 0) {
            SkipBlanks(reply, i);
            if (i >= reply.size() || reply.at(i) != QLatin1Char(','))
                return std::nullopt;
            ++i;
            SkipBlanks(reply, i);
        }
        values[n] = ReadNumber(reply, i, 3);
        if (values[n] < 0 || values[n] > 255)
            return std::nullopt;
    }
    if (i < reply.size() && reply.at(i) == QLatin1Char(','))
        return std::nullopt;
    TPassiveAddress found;
    found.address = std::uint32_t(values[0]) << 24 | std::uint32_t(values[1]) << 16 | std::uint32_t(values[2]) << 8 |
                    std::uint32_t(values[3]);
    found.port = static_cast<std::uint16_t>(values[4] << 8 | values[5]);
    return found;
}

// Reads "<d><d><d>port<d>)" starting at i, just after an opening parenthesis.
std::optional<std::uint16_t> EpsvPortAt(const QString &reply, qsizetype i)
{
    if (reply.size() - i < 5)
        return std::nullopt;
    const QChar d = reply.at(i);
    if (d.unicode() < 33 || d.unicode() > 126 || IsAsciiDigit(d))
        return std::nullopt;
    if (reply.at(i + 1) != d || reply.at(i + 2) != d)
        return std::nullopt;
    i += 3;
    const int port = ReadNumber(reply, i, 5);
    if (port < 1 || port > 65535 || reply.size() - i < 2 || reply.at(i) != d || reply.at(i + 1) != QLatin1Char(')'))
        return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

} // namespace

std::int32_t ReplyCode(const QString &line)
{
    constexpr std::int64_t max = std::numeric_limits<std::int32_t>::max();
    qsizetype i = 0;
    while (i < line.size() && line.at(i) == QLatin1Char(' '))
        ++i;
    std::int64_t value = 0;
    for (; i < line.size() && line.at(i).isDigit() && line.at(i).unicode() < 128; ++i)
        value = std::min(max, value * 10 + (line.at(i).unicode() - '0'));
    return static_cast<std::int32_t>(value);
}

bool ReplyContinues(const QString &line)
{
    return line.size() >= 4 && line.at(3) == QLatin1Char('-');
}

bool ReplyEnds(const QString &opening, const QString &line)
{
    if (!ReplyContinues(opening))
        return true;
    const QStringView code = QStringView(opening).left(3);
    return line.startsWith(code) && (line.size() == 3 || line.at(3) == QLatin1Char(' '));
}

QString PortArgument(std::uint32_t address, std::uint16_t port)
{
    return QStringLiteral("%1,%2,%3,%4,%5,%6")
        .arg((address >> 24) & 0xFFu)
        .arg((address >> 16) & 0xFFu)
        .arg((address >> 8) & 0xFFu)
        .arg(address & 0xFFu)
        .arg((port >> 8) & 0xFFu)
        .arg(port & 0xFFu);
}

std::optional<TPassiveAddress> ParsePasvReply(const QString &reply)
{
    for (qsizetype i = 0; i < reply.size(); ++i) {
        // A tuple begins at a number that is not part of a longer number or tuple.
        if (!IsAsciiDigit(reply.at(i)) || (i > 0 && IsAsciiDigit(reply.at(i - 1))))
            continue;
        qsizetype before = i - 1;
        while (before >= 0 && reply.at(before) == QLatin1Char(' '))
            --before;
        if (before >= 0 && reply.at(before) == QLatin1Char(','))
            continue;
        if (const std::optional<TPassiveAddress> found = PasvTupleAt(reply, i))
            return found->port != 0 ? found : std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::uint16_t> ParseEpsvReply(const QString &reply)
{
    for (qsizetype i = reply.indexOf(QLatin1Char('(')); i >= 0; i = reply.indexOf(QLatin1Char('('), i + 1)) {
        if (const std::optional<std::uint16_t> port = EpsvPortAt(reply, i + 1))
            return port;
    }
    return std::nullopt;
}

QString EprtArgument(bool ipv6, const QString &address, std::uint16_t port)
{
    return QStringLiteral("|%1|%2|%3|").arg(ipv6 ? 2 : 1).arg(address).arg(port);
}

QStringList FolderPrefixes(const QString &hostFileName)
{
    const QStringList parts = hostFileName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path = hostFileName.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
    QStringList prefixes;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        if (i > 0)
            path += QLatin1Char('/');
        path += parts.at(i);
        prefixes += path;
    }
    return prefixes;
}

std::int64_t RetryPauseMs(int retry, std::int64_t baseMs)
{
    constexpr std::int64_t cap = 60000;
    std::int64_t delay = std::clamp<std::int64_t>(baseMs, 0, cap);
    for (int i = 1; i < retry && delay < cap; ++i)
        delay = std::min(cap, delay * 2);
    return delay;
}

std::int64_t TransferRate(std::int64_t count, std::int64_t elapsedMs)
{
    // Small counts get the exact rate; above 32767 the rate is computed per millisecond first,
    // which the line has always shown that way.
    if (count <= 32767)
        return count * 1000 / elapsedMs;
    // No real transfer comes near it, but a count or a clock gone wrong must not overflow the
    // rate the line shows.
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const std::int64_t perMs = count / elapsedMs;
    return perMs > largest / 1000 ? largest : perMs * 1000;
}

QString StatisticsLine(const QString &head, std::int64_t count, std::int64_t elapsedMs)
{
    QString line = head + QStringLiteral(", %1 Seconds elapsed").arg(elapsedMs / 1000);
    if (elapsedMs > 0)
        line += QStringLiteral(", %1 Bytes/Sec").arg(TransferRate(count, elapsedMs));
    return line;
}

QString SessionClosedLine(std::int64_t count, std::int64_t elapsedMs)
{
    return StatisticsLine(QStringLiteral("Data: session closed, %1 bytes transfered").arg(count), count, elapsedMs);
}

bool ContainsLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

bool ContainsControl(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

QString ShownCommand(const QString &line)
{
    if (line.startsWith(QLatin1String("PASS ")))
        return QStringLiteral("PASS ****");
    return line;
}

} // namespace quelmark
