// The launcher's command-line splitter: words as a POSIX shell splits them, without any
// expansion. The input is the command line (UTF-8).
#include "net/appexec.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QString>
#include <QStringList>

#include <optional>

using namespace quelmark;

namespace {

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

// Quotes a word so that a shell reads it back as it is: single quotes, and each single quote
// of the word closed, escaped and reopened.
QString Quoted(QString word)
{
    return QLatin1Char('\'') + word.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
}

// A line without quotes or backslashes splits at its blanks and nowhere else.
QStringList PlainWords(const QString &line)
{
    QStringList words;
    QString word;
    for (const QChar c : line) {
        if (!IsBlank(c)) {
            word += c;
        } else if (!word.isEmpty()) {
            words << word;
            word.clear();
        }
    }
    if (!word.isEmpty())
        words << word;
    return words;
}

bool HasQuoting(const QString &line)
{
    return line.contains(QLatin1Char('\'')) || line.contains(QLatin1Char('"')) || line.contains(QLatin1Char('\\'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString line = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QStringList> words = SplitCommandLine(line);
    if (!words) {
        // Only an open quote makes a line unreadable.
        FUZZ_REQUIRE(line.contains(QLatin1Char('\'')) || line.contains(QLatin1Char('"')));
        return 0;
    }
    if (!HasQuoting(line))
        FUZZ_REQUIRE(*words == PlainWords(line));

    // Quoting removes characters and never adds any.
    qsizetype characters = 0;
    QStringList quoted;
    for (const QString &word : *words) {
        characters += word.size();
        quoted << Quoted(word);
    }
    FUZZ_REQUIRE(characters <= line.size());
    // The words quoted again and joined by blanks split into the same words.
    FUZZ_REQUIRE(SplitCommandLine(quoted.join(QLatin1Char(' '))) == words);
    return 0;
}
