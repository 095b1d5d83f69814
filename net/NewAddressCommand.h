// TNewAddressCommand: runs the user's command after the pages got a new address, so that what
// else points at the machine (a DNS record, a provider's update URL) follows the same address.
//
// The command line is split into words as the reconnect command's is, never by a shell; then
// "%IP%" in its arguments becomes the new address and "%OLDIP%" the one before. An address is
// thus always exactly one argument, whatever it holds. The program runs at most kTimeoutMs and is
// killed with its process group past that; its exit status and the first line it printed make
// one line for the log. A new address that comes while the command still runs waits for its end,
// and of several that wait only the latest runs.
#pragma once

#include "net/CommandCapture.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quelmark {

// Returns the words with every "%IP%" after the first word replaced by address and every
// "%OLDIP%" by oldAddress; a text put in is not read again.
QStringList NewAddressWords(const QStringList &words, const QString &address, const QString &oldAddress);

// Returns the log line for a command that ended as end and status say, after it printed output.
QString NewAddressCommandOutcome(TCaptureEnd end, int status, const QByteArray &output, int timeoutMs);

class TNewAddressCommand : public QObject {
    Q_OBJECT
public:
    using TReport = std::function<void(QObject *sender, const QString &line)>;

    static constexpr int kTimeoutMs = 60000;
    // The most of the first line of output that goes into the log.
    static constexpr qsizetype kMaxShownOutput = 200;

    explicit TNewAddressCommand(QObject *owner = nullptr);
    // Kills a command that still runs, with its process group; what waits is dropped.
    ~TNewAddressCommand() override;

    // Runs the command line for the change from oldAddress to address, now or after the one that
    // runs. A line that cannot be started is reported at once.
    void Run(const QString &commandLine, const QString &address, const QString &oldAddress);
    bool Running() const { return m_capture->End() == TCaptureEnd::Running; }

    int Timeout() const { return m_timeoutMs; }
    void SetTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    // Receives the line the log gets: the command's end, or why it could not start.
    TReport OnReport;

private:
    struct TPending {
        QString commandLine;
        QString address;
        QString oldAddress;
    };

    void StartNow(const TPending &run);
    void Finished();
    void Report(const QString &line);

    TCommandCapture *m_capture;
    std::optional<TPending> m_waiting;
    int m_timeoutMs = kTimeoutMs;
};

} // namespace quelmark
