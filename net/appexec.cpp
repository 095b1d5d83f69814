#include "net/appexec.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <utility>
#include <vector>

extern char **environ;

namespace quelmark {

namespace {

// Spawn attributes and file actions, destroyed on every path out of a start.
class SpawnSetup {
public:
    explicit SpawnSetup(int outputFd)
    {
        posix_spawnattr_init(&m_attr);
        posix_spawn_file_actions_init(&m_actions);
        // A session of its own, so the started program outlives us and never shares our
        // terminal's signals; a clean signal mask, and SIGPIPE at its default.
        sigset_t none;
        sigset_t pipe;
        sigemptyset(&none);
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        posix_spawnattr_setsigmask(&m_attr, &none);
        posix_spawnattr_setsigdefault(&m_attr, &pipe);
        posix_spawnattr_setflags(&m_attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_addopen(&m_actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (outputFd >= 0)
            posix_spawn_file_actions_adddup2(&m_actions, outputFd, STDOUT_FILENO);
        // Our sockets and files are none of the started program's business.
        posix_spawn_file_actions_addclosefrom_np(&m_actions, STDERR_FILENO + 1);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attr);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;

    const posix_spawnattr_t *Attributes() const { return &m_attr; }
    const posix_spawn_file_actions_t *Actions() const { return &m_actions; }

private:
    posix_spawnattr_t m_attr;
    posix_spawn_file_actions_t m_actions;
};

void WaitForEnd(pid_t pid)
{
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void AppendDoubleQuoted(const QString &line, qsizetype &i, QString &word, bool &closed)
{
    static const QString escapable = QStringLiteral("$`\"\\\n");
    for (++i; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"')) {
            closed = true;
            return;
        }
        if (c == QLatin1Char('\\') && i + 1 < line.size() && escapable.contains(line.at(i + 1))) {
            ++i;
            if (line.at(i) != QLatin1Char('\n'))
                word += line.at(i);
            continue;
        }
        word += c;
    }
    closed = false;
}

bool IsBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

} // namespace

QString ExecErrorText(std::int32_t errNo)
{
    static const std::pair<std::int32_t, const char *> texts[] = {
        {-1, "No execution"},
        {0, "System was out of memory, executable file was corrupt, or relocations were invalid"},
        {2, "File was not found"},
        {3, "Path was not found"},
        {5, "Attempt was made to dynamically link to a task, or there was a sharing or network-protection error"},
        {6, "Library required separate data segments for each task"},
        {8, "There was insufficient memory to start the application"},
        {10, "Windows version was incorrect"},
        {11, "Executable file was invalid. Either it was not a Windows application or there was an error in the .EXE "
             "image"},
        {12, "Application was designed for a different operating system"},
        {13, "Application was designed for MS-DOS 4.0"},
        {14, "Type of executable file was unknown"},
        {15, "Attempt was made to load a real-mode application (developed for an earlier version of Windows)"},
        {16, "Attempt to load second instance of an executable containing multiple data segments not marked read-only"},
        {19, "Attempt was made to load a compressed executable file. The file must be decompressed before it can be "
             "loaded"},
        {20,
         "Dynamic-link library (DLL) file was invalid. One of the DLLs required to run this application was corrupt"},
        {21, "Application requires 32-bit extensions"},
    };
    for (const auto &[number, text] : texts) {
        if (number == errNo)
            return QString::fromLatin1(text);
    }
    return errNo >= 32 ? QStringLiteral("No error") : QString();
}

std::int32_t ExecErrorFromErrno(int errnoValue)
{
    switch (errnoValue) {
    case ENOENT:
        return 2;
    case ENOTDIR:
        return 3;
    case EACCES:
    case EPERM:
        return 5;
    case ENOMEM:
        return 8;
    case ENOEXEC:
        return 11;
    default:
        return errnoValue;
    }
}

std::optional<QStringList> SplitCommandLine(const QString &line)
{
    QStringList words;
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('\\') && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('\n')) {
            ++i; // a continued line joins its neighbours and makes no word of its own
            continue;
        }
        if (IsBlank(c)) {
            if (inWord)
                words << std::exchange(word, QString());
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\\')) {
            // A backslash at the very end has nothing to escape and stays as written.
            word += i + 1 < line.size() ? line.at(++i) : c;
        } else if (c == QLatin1Char('\'')) {
            const qsizetype close = line.indexOf(QLatin1Char('\''), i + 1);
            if (close < 0)
                return std::nullopt;
            word += line.mid(i + 1, close - i - 1);
            i = close;
        } else if (c == QLatin1Char('"')) {
            bool closed = false;
            AppendDoubleQuoted(line, i, word, closed);
            if (!closed)
                return std::nullopt;
        } else {
            word += c;
        }
    }
    if (inWord)
        words << word;
    return words;
}

int SpawnInSession(const QStringList &words, int outputFd, pid_t &pid)
{
    if (words.isEmpty())
        return ENOENT;
    std::vector<QByteArray> encoded;
    std::vector<char *> argv;
    for (const QString &word : words)
        encoded.push_back(QFile::encodeName(word));
    for (QByteArray &word : encoded)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const SpawnSetup setup(outputFd);
    // glibc's posix_spawnp reports a failed exec in the child through its result.
    return posix_spawnp(&pid, argv[0], setup.Actions(), setup.Attributes(), argv.data(), environ);
}

// The watch lives under the application object, so it outlives the launcher that started the
// program; it looks again every second where it has no pidfd.
void ReapWhenEnded(pid_t pid)
{
    auto *watch = new TChildEndWatch(pid, 1000, QCoreApplication::instance());
    watch->OnSign = [watch, pid] {
        const pid_t result = waitpid(pid, nullptr, WNOHANG);
        if (result == 0 || (result < 0 && errno == EINTR))
            return;
        // Reaped, or no longer ours to reap: either way there is nothing left to watch.
        watch->Stop();
        watch->deleteLater();
    };
}

TChildEndWatch::TChildEndWatch(pid_t pid, int pollMs, QObject *parent) : QObject(parent)
{
    const auto sign = [this] {
        Guarded([this] {
            if (OnSign)
                OnSign();
        });
    };
    m_pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (m_pidfd >= 0) {
        m_notifier = new QSocketNotifier(m_pidfd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, sign);
    } else {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, sign);
        m_timer->start(pollMs);
    }
}

TChildEndWatch::~TChildEndWatch()
{
    delete m_notifier;
    if (m_pidfd >= 0)
        ::close(m_pidfd);
}

void TChildEndWatch::Stop()
{
    if (m_notifier)
        m_notifier->setEnabled(false);
    if (m_timer)
        m_timer->stop();
}

TAppExec::TAppExec(QObject *owner) : QObject(owner) {}

TAppExec::~TAppExec() = default;

QString TAppExec::CommandLine() const
{
    QString line = m_exeName;
    for (const QString &param : m_exeParams)
        line += QLatin1Char(' ') + param;
    return line;
}

void TAppExec::SetExePath(const QString &path)
{
    if (path == m_exePath)
        return;
    m_exePath = path;
    if (m_exePath.size() > 1 && m_exePath.endsWith(QLatin1Char('/')))
        m_exePath.chop(1);
}

void TAppExec::SetWindowState(TWindowState state)
{
    if (state == m_windowState)
        return;
    m_windowState = state;
    m_showCommand = state == wsMinimized ? 2 : state == wsMaximized ? 3 : 1;
}

void TAppExec::Execute()
{
    const QStringList words = CheckedWords(CommandLine());
    if (m_changeDir && !m_exePath.isEmpty())
        EnterExePath();
    Start(words);
}

// The line is refused before anything else happens, so a refusal leaves the working folder
// as it was.
QStringList TAppExec::CheckedWords(const QString &line) const
{
    if (line.size() > kMaxCommandLength) {
        throw EAppExecWinExec(QStringLiteral("The command line is longer than %1 characters; nothing was started")
                                  .arg(kMaxCommandLength));
    }
    std::optional<QStringList> words = SplitCommandLine(line);
    if (!words)
        throw EAppExecWinExec(QStringLiteral("The command line has a quote that is not closed; nothing was started"));
    return *words;
}

void TAppExec::EnterExePath() const
{
    if (::chdir(QFile::encodeName(m_exePath).constData()) != 0)
        throw EAppExecChDir(QString::fromLocal8Bit(std::strerror(errno)));
}

void TAppExec::Start(const QStringList &words)
{
    pid_t pid = 0;
    const int error = SpawnInSession(words, -1, pid);
    if (error != 0) {
        m_errNo = ExecErrorFromErrno(error);
        throw EAppExecWinExec(ExecErrorText(m_errNo));
    }
    if (m_wait) {
        WaitForEnd(pid);
        m_errNo = 0;
    } else {
        ReapWhenEnded(pid);
    }
}

} // namespace quelmark
