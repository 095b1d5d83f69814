// TSettleTimer: turns a burst of events into one call, made once the burst has settled.
//
// Each Nudge says that something happened. The call follows when nothing more has happened for
// QuietMs, and at the latest LongestMs after the first nudge of the burst, so a stream of events
// that never pauses is still heard now and then. Between bursts no timer is armed: a program
// that waits for events wakes for nothing else.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace quelmark {

class TSettleTimer : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(QObject *sender)>;

    TSettleTimer(int quietMs, int longestMs, QObject *owner = nullptr);

    // Notes an event: starts a burst, or extends the one that runs.
    void Nudge();
    // Forgets the burst that runs, if any; OnSettled does not follow for it.
    void Cancel();
    // True from a burst's first nudge until its call.
    bool Pending() const { return m_timer.isActive(); }

    int QuietMs() const { return m_quietMs; }
    int LongestMs() const { return m_longestMs; }

    // Called once per burst, after it has settled; the handler may nudge again.
    TNotifyEvent OnSettled;

private:
    void Expire();

    const int m_quietMs;
    const int m_longestMs;
    QTimer m_timer;
    // Since the burst's first nudge, and since its last one.
    QElapsedTimer m_sinceFirst;
    QElapsedTimer m_sinceLast;
};

} // namespace quelmark
