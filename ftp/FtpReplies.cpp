#include "ftp/FtpReplies.h"

#include <limits>

namespace quelmark {

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

QString SessionClosedLine(std::int64_t count, std::int64_t elapsedMs)
{
    QString line = QStringLiteral("Data: session closed, %1 bytes transfered, %2 Seconds elapsed")
                       .arg(count)
                       .arg(elapsedMs / 1000);
    if (elapsedMs != 0)
        line += QStringLiteral(", %1 Bytes/Sec").arg(TransferRate(count, elapsedMs));
    return line;
}

bool ContainsLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

QString ShownCommand(const QString &line)
{
    if (line.startsWith(QLatin1String("PASS ")))
        return QStringLiteral("PASS ****");
    return line;
}

} // namespace quelmark
