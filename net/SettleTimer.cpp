#include "net/SettleTimer.h"

#include "base/Exception.h"

#include <algorithm>

namespace quelmark {

TSettleTimer::TSettleTimer(int quietMs, int longestMs, QObject *owner)
    : QObject(owner), m_quietMs(quietMs), m_longestMs(std::max(quietMs, longestMs))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { Guarded([this] { Expire(); }); });
}

void TSettleTimer::Nudge()
{
    // A nudge only notes the time: a stream of events (a large file written block by block)
    // must not re-arm the timer for each of them.
    m_sinceLast.start();
    if (m_timer.isActive())
        return;
    m_sinceFirst.start();
    m_timer.start(m_quietMs);
}

void TSettleTimer::Cancel()
{
    m_timer.stop();
}

void TSettleTimer::Expire()
{
    const qint64 quietFor = m_sinceLast.elapsed();
    const qint64 burstFor = m_sinceFirst.elapsed();
    if (quietFor < m_quietMs && burstFor < m_longestMs) {
        m_timer.start(static_cast<int>(std::min<qint64>(m_quietMs - quietFor, m_longestMs - burstFor)));
        return;
    }
    // A copy: the handler may destroy the timer.
    const TNotifyEvent handler = OnSettled;
    if (handler)
        handler(this);
}

} // namespace quelmark
