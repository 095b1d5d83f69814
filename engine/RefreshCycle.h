// The refresh cycle: the timer that makes the program work unattended.
//
// The timer ticks once a minute. Every N ticks ("Test local files every (mins):") the machine's
// address is looked up from the source the user chose: an address found means connected, and
// all sites are pushed as due with it; "127.0.0.1" from the "Local" rule, or a check that fails
// (its reason goes to the log), means not connected, and with "Auto-reconnect" the reconnect
// command is started and the check repeated at the next tick, without it the fact is only
// logged. The observers are told when the timer starts and stops (the window's toolbar button
// and its animation follow it) and what each check found.
//
// A check that fails while the machine still has an address of its own (a "Web" source that
// answers 503, say) is no disconnection: the files without an IP parameter are pushed as usual,
// those with one wait for a check that finds the address.
//
// With "Push changes at once" the cycle also checks at the cues of its change watch (a new
// address or route, a saved page), and between two checks the timer sleeps through the minute
// ticks that would only be counted, so a program that waits wakes for nothing.
//
// Nobody watches the timer's work: its errors never open a modal box (which would stop the
// timer until someone clicked it away) but go to the log and the status line and into the
// report of the check, and the next tick checks again.
#pragma once

#include "engine/ChangeWatch.h"
#include "engine/EngineParts.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>

namespace quelmark {

class TActivityLog;
class TAppExec;
class TPushCommands;
struct TPushTally;

// Returns the result line of a check whose push went as tally says: the files pushed, or how
// many of the files it tried failed.
QString CheckResultText(const TPushTally &tally);

class TRefreshCycle : public QObject {
    Q_OBJECT
public:
    static constexpr int kDefaultInterval = 60000;

    // Creates the timer (stopped, one tick a minute) and the reconnect launcher. A check pushes
    // all through push, notes what it does in log and tells events.
    TRefreshCycle(const TEngineParts &parts, TEngineObserver &events, TPushCommands &push, TActivityLog &log,
                  QObject *owner = nullptr);

    // The tick: counts the minute and, when a check is due, looks up the address and pushes,
    // reconnects or notes the disconnection. A tick during a push or an address check, while
    // pushes are stopped or while the parts' checksHeld says so, counts its minute only, so the
    // check it would have made comes at the first tick after; so does a check whose push was
    // stopped or held back after its look-up, which leaves both address fields alone. Raises
    // the launcher's error when the reconnect command cannot be started, and a push-all's
    // error, with MinuteCount left at N or above.
    void tmrRefreshTimer();
    // What the timer runs at each tick: tmrRefreshTimer, with every error it raises written to
    // the log and the status line and reported as the check's failure; none is shown in a box.
    void RunTick();
    // Starts the timer when stopped (Tag 0), stops it when running.
    void btnStartStopClick();
    // Checks now, for the change watch's cue, as a tick that checks would, without counting a
    // minute. After a new address or route it pushes only when the address is not "Last IP
    // Address:". While a push, an address check or an edit holds checks back, the cue waits and
    // is tried again a second later; a stopped timer drops it.
    void CheckAtOnce(TCheckCue cue);
    // Takes up a change of the options at once, for a program that can tell: the watches start
    // or end with "Push changes at once", and a timer asleep towards its check wakes for the new
    // period. A program without a window reads its options before each check and takes them up
    // after it.
    void OptionsChanged();

    // The button's state: 0 stopped, 1 running. The window's first show sets it to 0 and clicks
    // to start the timer under "Auto-process".
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }
    // The report of the last check; none before the first.
    const std::optional<TCheckReport> &LastCheck() const { return m_lastCheck; }

    QTimer *tmrRefresh = nullptr;
    TAppExec *appExec = nullptr;
    TChangeWatch *ChangeWatch = nullptr;
    // Ticks counted towards the next check; survives stopping and starting.
    std::int32_t MinuteCount = 0;
    // Runs at a tick that makes a check, just before it; a program without a window reads the
    // options and the site list afresh here. What it raises ends the tick with the check still
    // due.
    std::function<void()> BeforeCheck;

private:
    void RunGuarded(const std::function<void()> &work);
    bool ChecksHeldBack() const;
    void Check(std::optional<TCheckCue> cue = std::nullopt);
    void Publish(const QString &address);
    void PushWithoutAddress(const TAddressResult &found);
    void RunWaitingCue();
    void AfterCheck();
    void ArmTimer();
    void CountSleptTicks();
    void Reconnect();
    void ShowUnattendedError(const QString &message) noexcept;
    void CheckDone(const QString &result, const QString &failure, const QString &addressFailure = QString());

    TEngineParts m_parts;
    TEngineObserver &m_events;
    TPushCommands &m_push;
    TActivityLog &m_log;
    int m_tag = 0;
    QDateTime m_checkStart;
    std::optional<TCheckReport> m_lastCheck;
    // A cue that came while checks were held back, and the timer that tries it again.
    std::optional<TCheckCue> m_waitingCue;
    QTimer m_cueRetry;
    // The length of one tick, how many ticks the timer was last armed for and since when, and
    // how many of those have been counted already.
    int m_tickMs = kDefaultInterval;
    int m_ticksArmed = 1;
    int m_ticksCounted = 0;
    QElapsedTimer m_armed;
};

} // namespace quelmark
