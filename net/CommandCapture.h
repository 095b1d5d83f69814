// TCommandCapture: runs one command line for what it writes to standard output, within a time
// bound and without blocking the event loop.
//
// The line is split and the program started as the launcher does it (net/appexec.h): no
// shell, in a session of its own, standard input from /dev/null, standard error shared with
// this program. Standard output arrives through a pipe; the first kMaxOutput bytes are kept and
// the rest is read and dropped, so a talkative program is never blocked. A program still
// running when the bound runs out is killed together with its process group.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include <sys/types.h>

class QSocketNotifier;
class QTimer;

namespace quelmark {

class TChildEndWatch;

enum class TCaptureEnd {
    Idle, // nothing started, or the start failed
    Running,
    Exited,    // Status() is the exit status
    Signalled, // Status() is the signal number
    TimedOut,  // killed at the bound
};

class TCommandCapture : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *sender)>;

    static constexpr qsizetype kMaxOutput = 64 * 1024;

    explicit TCommandCapture(QObject *owner = nullptr);
    // Kills a program that still runs, with its process group.
    ~TCommandCapture() override;

    // Starts the command line, to be ended after timeoutMs at the latest; OnFinished follows
    // from the event loop. Returns false with StartError() set, and calls nothing, when the
    // line is refused (empty, longer than the launcher takes, a quote not closed), the program
    // cannot be started, or a program started earlier still runs.
    bool Start(const QString &commandLine, int timeoutMs);
    // Starts the program named by the first word with all the words as its arguments, as Start
    // does with the words of a line.
    bool StartWords(const QStringList &words, int timeoutMs);

    // Returns the words of a command line, or nothing with the reason in why when the line is
    // refused: empty, longer than the launcher takes, or with a quote not closed.
    static std::optional<QStringList> Words(const QString &commandLine, QString &why);

    TCaptureEnd End() const { return m_end; }
    int Status() const { return m_status; }
    QByteArray Output() const { return m_output; }
    QString StartError() const { return m_startError; }

    // Called once the program has ended or been killed; the handler may destroy the capture.
    TNotifyEvent OnFinished;

private:
    bool StartWords(const QStringList &words, int timeoutMs, const QString &whyNoWords);
    bool Refuse(const QString &why);
    void WatchEnd();
    void ReadOutput();
    void TryReap();
    void TimeOut();
    void Finish(TCaptureEnd end, int status);
    void Release();

    TCaptureEnd m_end = TCaptureEnd::Idle;
    int m_status = 0;
    QByteArray m_output;
    QString m_startError;
    pid_t m_pid = 0;
    int m_outputFd = -1;
    QSocketNotifier *m_outputNotifier = nullptr;
    TChildEndWatch *m_endWatch = nullptr;
    QTimer *m_bound = nullptr;
};

} // namespace quelmark
