// The refresh cycle: the timer that makes the program work unattended.
//
// The timer ticks once a minute. Every N ticks ("Test local files every (mins):") the machine's
// address is looked up from the source the user chose: an address found means connected, and
// all sites are pushed as due with it; "127.0.0.1" from the "Local" rule, or a check that fails
// (its reason goes to the log), means not connected, and with "Auto-reconnect" the reconnect
// command is started and the check repeated at the next tick, without it the fact is only
// logged. A toolbar button starts and stops the timer; a small animation plays while it runs.
//
// Nobody watches the timer's work: its errors never open a modal box (which would stop the
// timer until someone clicked it away) but go to the log and the status bar and into the report
// of the check, and the next tick checks again.
#pragma once

#include "engine/EngineParts.h"

#include <QDateTime>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QAction;
class QToolBar;

namespace quelmark {

class TActivityLog;
class TAppExec;
class TPushCommands;
struct TPushTally;

// Returns N, the ticks between checks, for the text of "Test local files every (mins):": the
// integer the text holds, or 1 when it holds none.
int TestFilesMinutes(const QString &text);

// What one check of the refresh cycle found, for whoever shows it.
struct TCheckReport {
    // When the check began.
    QDateTime time;
    // One line: "2 files pushed", "nothing was due", "not connected", ...
    QString result;
    // The first error the check met: a file's failure or the error that stopped the check;
    // empty when it met none.
    QString failure;
};

// Returns the result line of a check whose push went as tally says: the files pushed, or how
// many of the files it tried failed.
QString CheckResultText(const TPushTally &tally);

// A small spinner, 20 by 20, that turns while playing and on show: visible, in a window that
// is neither hidden nor minimised. Out of sight it keeps no timer, so a program that waits in
// the tray or on the task bar for its next check is not woken for it.
class TAnimation : public QWidget {
    Q_OBJECT
public:
    explicit TAnimation(QWidget *parent = nullptr);

    void Play();
    void Stop();
    // True from Play to Stop, on show or not.
    bool Playing() const { return m_playing; }
    // True while the frames change: playing and on show.
    bool Turning() const { return m_frames.isActive(); }

    QSize sizeHint() const override { return {20, 20}; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void WatchAncestors();
    void TurnWhenOnShow();

    QTimer m_frames;
    int m_frame = 0;
    bool m_playing = false;
    // The widgets between this one and its window, the window included, whose changes of
    // window state and parent it follows.
    QList<QPointer<QWidget>> m_ancestors;
};

class TRefreshCycle : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultInterval = 60000;

    // Creates the timer (stopped, one tick a minute) and the reconnect launcher, gives the
    // parts' start/stop button its picture and hint and ties its clicks to btnStartStopClick.
    // A check pushes all through push and notes what it does in log.
    TRefreshCycle(const TEngineParts &parts, TPushCommands &push, TActivityLog &log, QObject *owner = nullptr);
    ~TRefreshCycle() override;

    // The tick: counts the minute and, when a check is due, looks up the address and pushes,
    // reconnects or notes the disconnection. A tick during a push or an address check, while
    // pushes are stopped or while the parts' checksHeld says so, counts its minute only, so the
    // check it would have made comes at the first tick after; so does a check whose push was
    // stopped or held back after its look-up, which leaves both address fields alone. Raises
    // the launcher's error when the reconnect command cannot be started, and a push-all's
    // error, with MinuteCount left at N or above.
    void tmrRefreshTimer();
    // What the timer runs at each tick: tmrRefreshTimer, with every error it raises written to
    // the log and the status bar and reported as the check's failure; none is shown in a box.
    void RunTick();
    // Starts the timer when stopped (Tag 0), stops it when running.
    void btnStartStopClick();

    // The button's state: 0 stopped, 1 running. The window's first show sets it to 0 and clicks
    // to start the timer under "Auto-process".
    int Tag() const { return m_tag; }
    void SetTag(int tag) { m_tag = tag; }
    // True while the animation is on show.
    bool AnimationShown() const;
    // The report of the last check; none before the first.
    const std::optional<TCheckReport> &LastCheck() const { return m_lastCheck; }

    // Raised when the timer starts or stops, sender first.
    std::function<void(QObject *sender)> OnRunningChange;
    // Raised after every check with its report, sender first.
    std::function<void(QObject *sender, const TCheckReport &report)> OnCheckDone;

    QTimer *tmrRefresh = nullptr;
    TAppExec *appExec = nullptr;
    // Lives on the toolbar when there is one, otherwise with the cycle.
    QPointer<TAnimation> Animation;
    QIcon imgStart;
    QIcon imgStop;
    // Ticks counted towards the next check; survives stopping and starting.
    std::int32_t MinuteCount = 0;
    // Runs at a tick that makes a check, just before it; a program without a window reads the
    // options and the site list afresh here. What it raises ends the tick with the check still
    // due.
    std::function<void()> BeforeCheck;

private:
    void PlaceAnimation();
    void ShowAnimation(bool show);
    void Check();
    void Reconnect();
    void ShowUnattendedError(const QString &message) noexcept;
    void CheckDone(const QString &result, const QString &failure);

    TEngineParts m_parts;
    TPushCommands &m_push;
    TActivityLog &m_log;
    QPointer<QAction> m_animationAction;
    int m_tag = 0;
    QDateTime m_checkStart;
    std::optional<TCheckReport> m_lastCheck;
};

} // namespace quelmark
