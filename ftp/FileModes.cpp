#include "ftp/FileModes.h"

#include <array>

namespace quelmark {

namespace {

constexpr std::uint32_t kModeBits = 07777;

// The value of one fact ("name=value") among the facts of an MLST line, the name read in any
// case; nothing when the line does not hold it.
std::optional<QString> Fact(const QString &facts, QLatin1String name)
{
    for (const QString &fact : facts.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype equals = fact.indexOf(QLatin1Char('='));
        if (equals > 0 && fact.left(equals).compare(name, Qt::CaseInsensitive) == 0)
            return fact.mid(equals + 1);
    }
    return std::nullopt;
}

// Reads one triplet of letters ("rwx", "r-s", "-wT") into its three bits, and the special bit
// its third letter may carry (set-user-ID, set-group-ID, sticky).
bool ReadTriplet(QStringView letters, char special, std::uint32_t &bits, bool &specialSet)
{
    const auto is = [](QChar c, char letter) { return c == QLatin1Char(letter); };
    if (!(is(letters[0], 'r') || is(letters[0], '-')) || !(is(letters[1], 'w') || is(letters[1], '-')))
        return false;
    bits = (is(letters[0], 'r') ? 4 : 0) | (is(letters[1], 'w') ? 2 : 0);
    const QChar third = letters[2];
    const QChar lower = QLatin1Char(special);
    const QChar upper = QLatin1Char(special - 'a' + 'A');
    if (is(third, 'x') || third == lower)
        bits |= 1;
    else if (!is(third, '-') && third != upper)
        return false;
    specialSet = third == lower || third == upper;
    return true;
}

// Reads "-rwxr-x---" into its mode; nothing for another kind of entry or other letters.
std::optional<std::uint32_t> ModeFromLetters(QStringView letters)
{
    if (letters.size() != 10 || letters[0] != QLatin1Char('-'))
        return std::nullopt;
    static constexpr std::array<char, 3> specials{'s', 's', 't'};
    static constexpr std::array<std::uint32_t, 3> specialBits{04000, 02000, 01000};
    std::uint32_t mode = 0;
    for (int i = 0; i < 3; ++i) {
        std::uint32_t bits = 0;
        bool special = false;
        if (!ReadTriplet(letters.mid(1 + 3 * i, 3), specials[i], bits, special))
            return std::nullopt;
        mode |= bits << (6 - 3 * i);
        if (special)
            mode |= specialBits[i];
    }
    return mode;
}

} // namespace

std::optional<std::uint32_t> MlstFileMode(const QStringList &replyLines)
{
    for (const QString &line : replyLines) {
        if (!line.startsWith(QLatin1Char(' ')))
            continue;
        // The facts end at the blank before the name.
        const QString facts = line.mid(1).section(QLatin1Char(' '), 0, 0);
        const std::optional<QString> type = Fact(facts, QLatin1String("type"));
        const std::optional<QString> mode = Fact(facts, QLatin1String("unix.mode"));
        if (!type || type->compare(QLatin1String("file"), Qt::CaseInsensitive) != 0 || !mode)
            return std::nullopt;
        bool ok = false;
        const uint value = mode->toUInt(&ok, 8);
        if (!ok || mode->isEmpty() || mode->size() > 4 || value > kModeBits)
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::optional<std::uint32_t> ListingFileMode(const QStringList &replyLines, const QString &name)
{
    const QString last = name.section(QLatin1Char('/'), -1);
    if (last.isEmpty())
        return std::nullopt;
    std::optional<std::uint32_t> found;
    for (const QString &line : replyLines) {
        const QString entry = line.trimmed();
        if (!entry.endsWith(QLatin1Char(' ') + last) && !entry.endsWith(QLatin1Char(' ') + name))
            continue;
        const std::optional<std::uint32_t> mode = ModeFromLetters(QStringView(entry).left(10));
        if (!mode)
            continue;
        // A name that the server read as a pattern may list several files: none of them is
        // known to be this one.
        if (found)
            return std::nullopt;
        found = mode;
    }
    return found;
}

QString ChmodArgument(std::uint32_t mode)
{
    return QStringLiteral("%1").arg(mode & kModeBits, 3, 8, QLatin1Char('0'));
}

} // namespace quelmark
