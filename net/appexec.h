// TAppExec: starts another program from one command line.
//
// The line is split into words the way a POSIX shell splits them (blanks, single and double
// quotes, backslash) without any expansion, and the program named by the first word is looked
// up on PATH and started directly, in a session of its own, with standard input from
// /dev/null. Programs that are not waited for are reaped when they end, so none is left behind
// as a zombie.
#pragma once

#include "base/Exception.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QSocketNotifier;
class QTimer;

#include <cstdint>
#include <functional>
#include <optional>

#include <sys/types.h>

namespace quelmark {

class EAppExec : public Exception {
public:
    using Exception::Exception;
};

// Raised when the working folder cannot be changed; nothing has been started.
class EAppExecChDir : public EAppExec {
public:
    using EAppExec::EAppExec;
};

// Raised when the program cannot be started or the command line is refused.
class EAppExecWinExec : public EAppExec {
public:
    using EAppExec::EAppExec;
};

enum TWindowState { wsNormal, wsMinimized, wsMaximized };

// Returns the message for a launcher error number (ErrNo).
QString ExecErrorText(std::int32_t errNo);

// Returns the launcher error number for an errno value from a failed start.
std::int32_t ExecErrorFromErrno(int errnoValue);

// Splits a command line into words as a POSIX shell does, without expansion: blanks separate
// words; single quotes keep everything literally; double quotes keep everything but a
// backslash before $ ` " \ or newline; an unquoted backslash keeps the next character. Returns
// nothing when a quote is not closed.
std::optional<QStringList> SplitCommandLine(const QString &line);

// Starts the program named by the first word, looked up on PATH, with all the words as its
// arguments, in a session of its own, with standard input from /dev/null and standard output
// to outputFd (or this program's own when it is -1); no other descriptor is passed on. Returns
// 0 with the process id in pid, or the errno value of the failed start.
int SpawnInSession(const QStringList &words, int outputFd, pid_t &pid);

// Collects the exit status of a started program when it ends, so it is not left behind as a
// zombie.
void ReapWhenEnded(pid_t pid);

// Tells when a started program may have ended: through its pidfd where the kernel offers one,
// else by asking every pollMs. OnSign reaps it, or finds it still running.
class TChildEndWatch : public QObject {
public:
    TChildEndWatch(pid_t pid, int pollMs, QObject *parent);
    ~TChildEndWatch() override;

    // Gives no further sign; the pidfd stays readable until the watch is deleted.
    void Stop();

    std::function<void()> OnSign;

private:
    int m_pidfd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
};

class TAppExec : public QObject {
    Q_OBJECT
public:
    // The longest command line that is started; longer ones are refused, never cut.
    static constexpr int kMaxCommandLength = 511;

    explicit TAppExec(QObject *owner = nullptr);
    ~TAppExec() override;

    // Starts the command line, after changing the working folder when ChangeDir is set and
    // ExePath is not empty; with Wait set, returns only when the program has ended. Raises
    // EAppExecChDir or EAppExecWinExec on failure.
    void Execute();

    // Returns ExeName followed by one blank and each line of ExeParams.
    QString CommandLine() const;

    bool ChangeDir() const { return m_changeDir; }
    void SetChangeDir(bool changeDir) { m_changeDir = changeDir; }
    std::int32_t ErrNo() const { return m_errNo; }
    QString ExeName() const { return m_exeName; }
    void SetExeName(const QString &name) { m_exeName = name; }
    QStringList ExeParams() const { return m_exeParams; }
    void SetExeParams(const QStringList &params) { m_exeParams = params; }
    QString ExePath() const { return m_exePath; }
    // Stores the folder without one trailing "/", unless it is the root "/".
    void SetExePath(const QString &path);
    bool Wait() const { return m_wait; }
    void SetWait(bool wait) { m_wait = wait; }
    TWindowState WindowState() const { return m_windowState; }
    // Stores the state and the show code that belongs to it (1, 2 or 3).
    void SetWindowState(TWindowState state);
    std::uint16_t ShowCommand() const { return m_showCommand; }

private:
    QStringList CheckedWords(const QString &line) const;
    void EnterExePath() const;
    void Start(const QStringList &words);

    std::int32_t m_errNo = -1;
    QString m_exeName;
    QString m_exePath;
    QStringList m_exeParams;
    TWindowState m_windowState = wsNormal;
    std::uint16_t m_showCommand = 1;
    bool m_changeDir = true;
    bool m_wait = false;
};

} // namespace quelmark
