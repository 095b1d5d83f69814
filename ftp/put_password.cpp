#include "ftp/put_password.h"

#include "base/Printable.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace quelmark {

namespace {

constexpr char kOption[] = "--password";
// A password file or a .netrc is a few lines; a larger one is not what the user meant.
constexpr qint64 kMaxSecretFile = 64 * 1024;

void Overwrite(char *text)
{
    std::memset(text, 'x', std::strlen(text));
}

// The first line of a text, without its line break.
QString FirstLine(const QByteArray &bytes)
{
    const qsizetype end = bytes.indexOf('\n');
    QByteArray line = end < 0 ? bytes : bytes.left(end);
    if (line.endsWith('\r'))
        line.chop(1);
    return QString::fromLocal8Bit(line);
}

bool ReadSecretFile(const QString &path, QByteArray &bytes, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(PrintableText(path), file.errorString());
        return false;
    }
    bytes = file.read(kMaxSecretFile);
    return true;
}

// Others' eyes on a .netrc make its passwords theirs: such a file is passed over, as other FTP
// clients do.
std::optional<TNetrcEntry> NetrcEntry(const QString &host, const QString &user, QString &note)
{
    const QString path = QDir::homePath() + QStringLiteral("/.netrc");
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        note = QStringLiteral("%1 may be read by others, so it was not read").arg(PrintableText(path));
        return std::nullopt;
    }
    QByteArray bytes;
    QString error;
    if (!ReadSecretFile(path, bytes, error))
        return std::nullopt;
    return FindNetrcEntry(QString::fromLocal8Bit(bytes), host, user);
}

// Switches the terminal's echo off while it lives.
class TEchoOff {
public:
    explicit TEchoOff(int fd) : m_fd(fd)
    {
        if (::tcgetattr(fd, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        m_active = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~TEchoOff()
    {
        if (m_active)
            ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    }
    TEchoOff(const TEchoOff &) = delete;
    TEchoOff &operator=(const TEchoOff &) = delete;

private:
    int m_fd;
    termios m_saved{};
    bool m_active = false;
};

QString AskOnTerminal(const QString &user, const QString &host)
{
    std::fputs(PrintableText(QStringLiteral("Password for %1@%2: ").arg(user, host)).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    QByteArray answer;
    {
        const TEchoOff quiet(STDIN_FILENO);
        char c = 0;
        while (answer.size() < kMaxSecretFile && ::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
            answer.append(c);
    }
    std::fputs("\n", stderr);
    std::fflush(stderr);
    if (answer.endsWith('\r'))
        answer.chop(1);
    return QString::fromLocal8Bit(answer);
}

// The tokens of a .netrc text; a macro definition, which runs from "macdef" to the first empty
// line, gives none.
QStringList NetrcTokens(const QString &text)
{
    static const QRegularExpression blanks(QStringLiteral("[ \\t\\r]+"));
    QStringList tokens;
    bool inMacro = false;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        const QStringList words = line.split(blanks, Qt::SkipEmptyParts);
        if (inMacro) {
            inMacro = !words.isEmpty();
            continue;
        }
        for (const QString &word : words) {
            if (word == QLatin1String("macdef")) {
                inMacro = true;
                break;
            }
            tokens << word;
        }
    }
    return tokens;
}

} // namespace

std::optional<QString> TakePasswordArgument(int argc, char **argv)
{
    std::optional<QString> password;
    const std::size_t length = std::strlen(kOption);
    for (int i = 1; i < argc; ++i) {
        char *argument = argv[i];
        if (std::strcmp(argument, "--") == 0)
            break;
        if (std::strcmp(argument, kOption) == 0 && i + 1 < argc) {
            password = QString::fromLocal8Bit(argv[++i]);
            Overwrite(argv[i]);
        } else if (std::strncmp(argument, kOption, length) == 0 && argument[length] == '=') {
            password = QString::fromLocal8Bit(argument + length + 1);
            Overwrite(argument + length + 1);
        }
    }
    return password;
}

std::optional<TNetrcEntry> FindNetrcEntry(const QString &text, const QString &host, const QString &user)
{
    const QStringList tokens = NetrcTokens(text);
    std::optional<TNetrcEntry> fallback;
    for (qsizetype i = 0; i < tokens.size();) {
        const bool isDefault = tokens[i] == QLatin1String("default");
        if (!isDefault && (tokens[i] != QLatin1String("machine") || i + 1 >= tokens.size())) {
            ++i;
            continue;
        }
        const QString machine = isDefault ? QString() : tokens[i + 1];
        i += isDefault ? 1 : 2;
        TNetrcEntry entry;
        for (; i + 1 < tokens.size() && tokens[i] != QLatin1String("machine") && tokens[i] != QLatin1String("default");
             i += 2) {
            if (tokens[i] == QLatin1String("login"))
                entry.login = tokens[i + 1];
            else if (tokens[i] == QLatin1String("password"))
                entry.password = tokens[i + 1];
        }
        const bool userFits = user.isEmpty() || entry.login.isEmpty() || entry.login == user;
        if (!isDefault && userFits && machine.compare(host, Qt::CaseInsensitive) == 0)
            return entry;
        if (isDefault && userFits && !fallback)
            fallback = entry;
    }
    return fallback;
}

TPasswordChoice ChoosePassword(const TPasswordSources &sources)
{
    TPasswordChoice choice{sources.user, QString(), QString(), QString()};
    if (sources.argument) {
        choice.password = *sources.argument;
        return choice;
    }
    if (!sources.passwordFile.isEmpty()) {
        QByteArray bytes;
        if (ReadSecretFile(sources.passwordFile, bytes, choice.error))
            choice.password = FirstLine(bytes);
        return choice;
    }
    if (qEnvironmentVariableIsSet(kPasswordVariable)) {
        choice.password = qEnvironmentVariable(kPasswordVariable);
        return choice;
    }
    if (const std::optional<TNetrcEntry> entry = NetrcEntry(sources.host, sources.user, choice.note)) {
        if (choice.user.isEmpty())
            choice.user = entry->login;
        choice.password = entry->password;
        return choice;
    }
    if (sources.mayAsk)
        choice.password = AskOnTerminal(choice.user, sources.host);
    return choice;
}

bool InputIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

} // namespace quelmark
