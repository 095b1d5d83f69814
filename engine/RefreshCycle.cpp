#include "engine/RefreshCycle.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "engine/ActivityLog.h"
#include "engine/AddressChoice.h"
#include "engine/PushCommands.h"
#include "net/appexec.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace quelmark {

namespace {

// How soon a cue that found checks held back is tried again.
constexpr int kCueRetryMs = 1000;

// Runs a function when it goes, however the scope ends.
template <typename F> class TAtExit {
public:
    explicit TAtExit(F f) : m_f(std::move(f)) {}
    ~TAtExit() { m_f(); }
    Q_DISABLE_COPY(TAtExit)

private:
    F m_f;
};

} // namespace

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
    tmrRefresh->setInterval(kDefaultInterval);
    connect(tmrRefresh, &QTimer::timeout, this, &TRefreshCycle::RunTick);

    appExec = new TAppExec(this);
    appExec->setObjectName(QStringLiteral("appExec"));
    appExec->SetChangeDir(false);
    appExec->SetWait(false);
    appExec->SetWindowState(wsNormal);

    ChangeWatch = new TChangeWatch(m_parts, m_log, this);
    ChangeWatch->setObjectName(QStringLiteral("ChangeWatch"));
    ChangeWatch->OnCue = [this](QObject *, TCheckCue cue) { CheckAtOnce(cue); };
    ChangeWatch->OnWatchingChange = [this](QObject *) { ArmTimer(); };
    m_cueRetry.setSingleShot(true);
    m_cueRetry.setInterval(kCueRetryMs);
    connect(&m_cueRetry, &QTimer::timeout, this, [this] { RunGuarded([this] { RunWaitingCue(); }); });
}

void TRefreshCycle::btnStartStopClick()
{
    const bool start = m_tag == 0;
    m_tag = start ? 1 : 0;
    if (start) {
        // Whatever length a tick was given before the start is the one the timer counts in.
        m_tickMs = std::max(1, tmrRefresh->interval());
        m_ticksArmed = 1;
        m_armed.invalidate();
        tmrRefresh->start();
    } else {
        CountSleptTicks();
        m_armed.invalidate();
        tmrRefresh->stop();
        tmrRefresh->setInterval(m_tickMs);
        m_cueRetry.stop();
        m_waitingCue.reset();
    }
    ChangeWatch->Follow(start);
    ArmTimer();
    m_events.TimerChanged(start);
}

void TRefreshCycle::OptionsChanged()
{
    ChangeWatch->Follow(m_tag != 0);
    ArmTimer();
}

void TRefreshCycle::RunTick()
{
    // The timer may have slept through ticks that would only have been counted.
    CountSleptTicks();
    m_armed.invalidate();
    RunGuarded([this] { tmrRefreshTimer(); });
}

void TRefreshCycle::RunGuarded(const std::function<void()> &work)
{
    // Errors met deep inside the check (a clean-up's second error, say) take the same way as
    // the check's own: nobody is there to click a box away, and the timer would wait for it.
    UnattendedScope unattended([this](const QString &message) { ShowUnattendedError(message); });
    try {
        work();
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
    CountSleptTicks();
    const TAtExit rearm([this] { ArmTimer(); });
    ++MinuteCount;
    // Pushes never nest, and none starts while pushes are stopped or while the user edits sites
    // or entries: a push-all reloads the file list whose rows the editing works on. Any other
    // window may stay open as long as it likes. MinuteCount stays at N or above, so the check
    // follows at the first tick after.
    if (ChecksHeldBack())
        return;
    if (MinuteCount < m_parts.data->Options().testFilesMinutes)
        return;
    if (BeforeCheck)
        BeforeCheck();
    Check();
    AfterCheck();
}

bool TRefreshCycle::ChecksHeldBack() const
{
    return m_push.Pushing() || m_push.Stopping() || (m_parts.checksHeld && m_parts.checksHeld());
}

void TRefreshCycle::CheckAtOnce(TCheckCue cue)
{
    // A saved page is pushed whatever the address does; a new address asks for less.
    if (!m_waitingCue || cue == TCheckCue::Files)
        m_waitingCue = cue;
    RunGuarded([this] { RunWaitingCue(); });
}

void TRefreshCycle::RunWaitingCue()
{
    if (!m_waitingCue)
        return;
    if (m_tag == 0) {
        m_waitingCue.reset();
        return;
    }
    if (ChecksHeldBack()) {
        m_cueRetry.start();
        return;
    }
    const TCheckCue cue = *std::exchange(m_waitingCue, std::nullopt);
    CountSleptTicks();
    const TAtExit rearm([this] { ArmTimer(); });
    if (BeforeCheck)
        BeforeCheck();
    Check(cue);
    AfterCheck();
}

// The options and the sites may have changed with the check (a program without a window reads
// them afresh before it).
void TRefreshCycle::AfterCheck()
{
    const bool watching = ChangeWatch->Watching();
    ChangeWatch->Follow(m_tag != 0);
    if (watching && ChangeWatch->Watching())
        ChangeWatch->RefreshFiles();
}

// While the watches run, the minute ticks between two checks would only be counted: the timer
// sleeps through them to the tick that checks, and they are counted when it wakes or stops.
// Without the watches it ticks every minute, as it always did.
void TRefreshCycle::ArmTimer()
{
    if (m_tag == 0)
        return;
    CountSleptTicks();
    int ticks = 1;
    if (ChangeWatch->Watching())
        ticks = std::max(1, m_parts.data->Options().testFilesMinutes - MinuteCount);
    if (ticks == 1 && m_ticksArmed == 1 && tmrRefresh->isActive())
        return;
    m_ticksArmed = ticks;
    m_ticksCounted = 0;
    m_armed.start();
    tmrRefresh->start(static_cast<int>(std::min<qint64>(qint64(ticks) * m_tickMs, INT_MAX)));
}

// Counts the whole ticks slept through since the timer was armed, short of the one it wakes
// for; each only once, however often this is asked.
void TRefreshCycle::CountSleptTicks()
{
    if (!m_armed.isValid() || m_ticksArmed <= 1)
        return;
    const int slept = static_cast<int>(std::min<qint64>(m_armed.elapsed() / m_tickMs, m_ticksArmed - 1));
    MinuteCount += slept - m_ticksCounted;
    m_ticksCounted = slept;
}

void TRefreshCycle::Check(std::optional<TCheckCue> cue)
{
    m_checkStart = QDateTime::currentDateTime();
    const TAddressResult found = m_push.CheckAddress();
    // The window stays open to the user while a slow source is asked: an edit of the sites or
    // the end of the program that began meanwhile holds the push back, and the check stays due.
    if (m_push.Stopping() || (m_parts.checksHeld && m_parts.checksHeld()))
        return;
    if (found.Connected()) {
        // After a new address or route the address has often stayed as it was.
        if (cue == TCheckCue::Address && found.address == m_parts.data->Options().lastIPAddress) {
            CheckDone(QStringLiteral("the address stayed %1").arg(found.address), QString());
            return;
        }
        Publish(found.address);
        return;
    }
    // The source failed, not the line: what needs no address goes out as usual.
    if (found.address.isEmpty() && MachineHasOwnAddress()) {
        PushWithoutAddress(found);
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

void TRefreshCycle::Publish(const QString &address)
{
    m_push.PushAll(address);
    if (m_push.Stopping())
        return;
    m_events.AddressInUse(address);
    m_parts.data->SetLastIPAddress(address);
    MinuteCount = 1;
    const TPushTally &tally = m_push.LastTally();
    CheckDone(CheckResultText(tally), tally.firstFailure);
}

// The pages with an address keep the one they have until a check finds the address; the next
// check comes after a full period, as after any other.
void TRefreshCycle::PushWithoutAddress(const TAddressResult &found)
{
    m_log.AddToLog(PagesWaitLine(found));
    m_push.PushAll(QString());
    if (m_push.Stopping())
        return;
    MinuteCount = 1;
    const TPushTally &tally = m_push.LastTally();
    CheckDone(CheckResultText(tally) + QStringLiteral("; pages with an address wait"), tally.firstFailure,
              found.failure);
}

void TRefreshCycle::CheckDone(const QString &result, const QString &failure, const QString &addressFailure)
{
    m_lastCheck = TCheckReport{m_checkStart, result, failure, addressFailure};
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
