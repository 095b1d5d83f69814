#include "engine/RefreshCycle.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "engine/ActivityLog.h"
#include "engine/PushCommands.h"
#include "net/appexec.h"

namespace quelmark {

QString CheckResultText(const TPushTally &tally)
{
    if (tally.failed > 0)
        return QStringLiteral("%1 of %2 files failed").arg(tally.failed).arg(tally.pushed + tally.failed);
    if (tally.pushed == 0)
        return QStringLiteral("nothing was due");
    return tally.pushed == 1 ? QStringLiteral("1 file pushed") : QStringLiteral("%1 files pushed").arg(tally.pushed);
}

TRefreshCycle::TRefreshCycle(const TEngineParts &parts, TEngineObserver &events, TPushCommands &push, TActivityLog &log,
                             QObject *owner)
    : QObject(owner), m_parts(parts), m_events(events), m_push(push), m_log(log)
{
    tmrRefresh = new QTimer(this);
    tmrRefresh->setObjectName(QStringLiteral("tmrRefresh"));
    tmrRefresh->setInterval(DefaultInterval);
    connect(tmrRefresh, &QTimer::timeout, this, &TRefreshCycle::RunTick);

    appExec = new TAppExec(this);
    appExec->setObjectName(QStringLiteral("appExec"));
    appExec->SetChangeDir(false);
    appExec->SetWait(false);
    appExec->SetWindowState(wsNormal);
}

void TRefreshCycle::btnStartStopClick()
{
    const bool start = m_tag == 0;
    m_tag = start ? 1 : 0;
    if (start)
        tmrRefresh->start();
    else
        tmrRefresh->stop();
    m_events.TimerChanged(start);
}

void TRefreshCycle::RunTick()
{
    // Errors met deep inside the check (a clean-up's second error, say) take the same way as
    // the check's own: nobody is there to click a box away, and the timer would wait for it.
    UnattendedScope unattended([this](const QString &message) { ShowUnattendedError(message); });
    try {
        tmrRefreshTimer();
    } catch (...) {
        const QString message = ExceptionMessage(std::current_exception());
        ShowUnattendedError(message);
        try {
            CheckDone(QStringLiteral("stopped by an error"), message);
        } catch (...) {
            // Whoever shows reports failed as well; the log holds the error already.
        }
    }
}

void TRefreshCycle::ShowUnattendedError(const QString &message) noexcept
{
    try {
        m_log.AddToLog(message);
        m_events.Note(message);
    } catch (...) {
        // The log itself failed; there is nowhere left to write, and the next tick tries again.
    }
}

void TRefreshCycle::tmrRefreshTimer()
{
    ++MinuteCount;
    // Pushes never nest, and none starts while pushes are stopped or while the user edits sites
    // or entries: a push-all reloads the file list whose rows the editing works on. Any other
    // window may stay open as long as it likes. MinuteCount stays at N or above, so the check
    // follows at the first tick after.
    if (m_push.Pushing() || m_push.Stopping() || (m_parts.checksHeld && m_parts.checksHeld()))
        return;
    if (MinuteCount < m_parts.data->Options().testFilesMinutes)
        return;
    if (BeforeCheck)
        BeforeCheck();
    Check();
}

void TRefreshCycle::Check()
{
    m_checkStart = QDateTime::currentDateTime();
    const TAddressResult found = m_push.CheckAddress();
    // The window stays open to the user while a slow source is asked: an edit of the sites or
    // the end of the program that began meanwhile holds the push back, and the check stays due.
    if (m_push.Stopping() || (m_parts.checksHeld && m_parts.checksHeld()))
        return;
    if (found.Connected()) {
        m_push.PushAll(found.address);
        if (m_push.Stopping())
            return;
        m_events.AddressInUse(found.address);
        m_parts.data->SetLastIPAddress(found.address);
        MinuteCount = 1;
        const TPushTally &tally = m_push.LastTally();
        CheckDone(CheckResultText(tally), tally.firstFailure);
        return;
    }
    // A failed check is logged with its reason; the "Local" rule's "127.0.0.1" is the machine
    // without a network, told as it always was.
    const QString failure = found.address.isEmpty() ? found.failure : QString();
    if (!failure.isEmpty())
        m_log.AddToLog(failure);
    if (m_parts.data->Options().autoReconnect) {
        Reconnect();
        --MinuteCount;
        CheckDone(QStringLiteral("not connected, reconnect command started"), failure);
    } else {
        m_log.AddToLog(QStringLiteral("!!!!!Not connected to the network..."));
        MinuteCount = 0;
        CheckDone(QStringLiteral("not connected"), failure);
    }
}

void TRefreshCycle::CheckDone(const QString &result, const QString &failure)
{
    m_lastCheck = TCheckReport{m_checkStart, result, failure};
    m_events.CheckDone(*m_lastCheck);
}

void TRefreshCycle::Reconnect()
{
    const QString command = m_parts.data->Options().redialCommand;
    m_log.AddToLog(QStringLiteral("*****Disconnected from network..."));
    m_log.AddToLog(QStringLiteral("*****Running command: ") + PrintableText(command));
    m_log.AddToLog(QStringLiteral("*****Waiting for one minute..."));
    appExec->SetExeName(command);
    appExec->Execute();
}

} // namespace quelmark
