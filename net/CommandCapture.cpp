#include "net/CommandCapture.h"

#include "base/Exception.h"
#include "net/appexec.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <utility>

namespace quelmark {

namespace {

// Reads per notification, so a program that writes without pause cannot hold the loop.
constexpr int kReadsPerWakeUp = 16;

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The pipe's ends until they are handed on; the write end always closes here, since the
// program has its own copy.
struct OutputPipe {
    int fds[2] = {-1, -1};
    ~OutputPipe()
    {
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    int TakeReadEnd() { return std::exchange(fds[0], -1); }
};

// A watcher may be the very sender being handled: it is switched off and left to the event
// loop to delete.
void Retire(QSocketNotifier *&notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    std::exchange(notifier, nullptr)->deleteLater();
}

} // namespace

TCommandCapture::TCommandCapture(QObject *owner) : QObject(owner), m_bound(new QTimer(this))
{
    m_bound->setSingleShot(true);
    connect(m_bound, &QTimer::timeout, this, [this] { Guarded([this] { TimeOut(); }); });
}

TCommandCapture::~TCommandCapture()
{
    if (m_end == TCaptureEnd::Running) {
        ::kill(-m_pid, SIGKILL);
        ReapWhenEnded(m_pid);
    }
    Release();
}

bool TCommandCapture::Start(const QString &commandLine, int timeoutMs)
{
    QString why;
    const std::optional<QStringList> words = Words(commandLine, why);
    return words ? StartWords(*words, timeoutMs) : StartWords({}, timeoutMs, why);
}

std::optional<QStringList> TCommandCapture::Words(const QString &commandLine, QString &why)
{
    if (commandLine.size() > TAppExec::kMaxCommandLength) {
        why = QStringLiteral("the command line is longer than %1 characters").arg(TAppExec::kMaxCommandLength);
        return std::nullopt;
    }
    std::optional<QStringList> words = SplitCommandLine(commandLine);
    if (!words)
        why = QStringLiteral("the command line has a quote that is not closed");
    else if (words->isEmpty())
        why = QStringLiteral("the command line is empty");
    else
        return words;
    return std::nullopt;
}

bool TCommandCapture::StartWords(const QStringList &words, int timeoutMs)
{
    return StartWords(words, timeoutMs, QStringLiteral("the command line is empty"));
}

bool TCommandCapture::StartWords(const QStringList &words, int timeoutMs, const QString &whyNoWords)
{
    if (m_end == TCaptureEnd::Running)
        return Refuse(QStringLiteral("a command started earlier still runs"));
    m_end = TCaptureEnd::Idle;
    m_status = 0;
    m_output.clear();
    m_startError.clear();
    if (words.isEmpty())
        return Refuse(whyNoWords);

    OutputPipe pipe;
    if (::pipe2(pipe.fds, O_CLOEXEC) != 0)
        return Refuse(ErrnoText(errno));
    const int error = SpawnInSession(words, pipe.fds[1], m_pid);
    if (error != 0)
        return Refuse(ErrnoText(error));
    // Only our end is non-blocking: the program's end shares no file status with it.
    m_outputFd = pipe.TakeReadEnd();
    ::fcntl(m_outputFd, F_SETFL, ::fcntl(m_outputFd, F_GETFL) | O_NONBLOCK);
    m_end = TCaptureEnd::Running;
    m_outputNotifier = new QSocketNotifier(m_outputFd, QSocketNotifier::Read, this);
    connect(m_outputNotifier, &QSocketNotifier::activated, this, [this] { Guarded([this] { ReadOutput(); }); });
    WatchEnd();
    m_bound->start(timeoutMs);
    return true;
}

bool TCommandCapture::Refuse(const QString &why)
{
    m_startError = why;
    return false;
}

// A pidfd tells the moment the program ends; kernels without one are asked again and again.
void TCommandCapture::WatchEnd()
{
    m_endWatch = new TChildEndWatch(m_pid, 50, this);
    m_endWatch->OnSign = [this] { TryReap(); };
}

void TCommandCapture::ReadOutput()
{
    char buffer[8192];
    for (int reads = 0; reads < kReadsPerWakeUp; ++reads) {
        const ssize_t n = ::read(m_outputFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return;
        if (n == 0) {
            // The end of the output is readable for ever: stop listening for it.
            m_outputNotifier->setEnabled(false);
            return;
        }
        m_output.append(buffer, std::min<qsizetype>(n, kMaxOutput - m_output.size()));
    }
}

void TCommandCapture::TryReap()
{
    int status = 0;
    const pid_t reaped = ::waitpid(m_pid, &status, WNOHANG);
    if (reaped == 0 || (reaped < 0 && errno == EINTR))
        return;
    // What the program wrote before it ended is in the pipe by now; a child it left behind
    // may write on, and is not waited for.
    ReadOutput();
    if (reaped > 0 && WIFSIGNALED(status))
        Finish(TCaptureEnd::Signalled, WTERMSIG(status));
    else
        Finish(TCaptureEnd::Exited, reaped > 0 ? WEXITSTATUS(status) : -1);
}

void TCommandCapture::TimeOut()
{
    ::kill(-m_pid, SIGKILL);
    ReapWhenEnded(m_pid);
    Finish(TCaptureEnd::TimedOut, 0);
}

void TCommandCapture::Finish(TCaptureEnd end, int status)
{
    m_end = end;
    m_status = status;
    Release();
    // A copy: the handler may schedule the capture's end.
    const TNotifyEvent handler = OnFinished;
    if (handler)
        handler(this);
}

void TCommandCapture::Release()
{
    m_bound->stop();
    Retire(m_outputNotifier);
    if (m_endWatch) {
        m_endWatch->Stop();
        std::exchange(m_endWatch, nullptr)->deleteLater();
    }
    if (m_outputFd >= 0)
        ::close(std::exchange(m_outputFd, -1));
}

} // namespace quelmark
