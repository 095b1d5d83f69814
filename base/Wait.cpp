#include "base/Wait.h"

#include "base/Dispatch.h"
#include "base/Exception.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace quelmark {

namespace {

// Tells OnWaiting that a wait runs for exactly as long as it runs, so an exception leaving
// Execute ends it too.
class TWaitingScope {
public:
    explicit TWaitingScope(const std::function<void(bool)> &onWaiting) : m_onWaiting(onWaiting)
    {
        if (m_onWaiting)
            m_onWaiting(true);
    }
    ~TWaitingScope()
    {
        if (m_onWaiting)
            m_onWaiting(false);
    }
    Q_DISABLE_COPY(TWaitingScope)

private:
    std::function<void(bool)> m_onWaiting;
};

} // namespace

std::int32_t ReadCount(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    std::int64_t value = 0;
    while (i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > INT32_MAX)
            value = INT32_MAX;
        ++i;
    }
    return static_cast<std::int32_t>(value);
}

TWait::TWait(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { Guarded([this] { Tick(); }); });
}

TWait::~TWait() = default;

std::uint16_t TWait::Interval() const
{
    return static_cast<std::uint16_t>(m_timer->interval());
}

void TWait::SetInterval(std::uint16_t milliseconds)
{
    m_timer->setInterval(milliseconds);
}

bool TWait::Waiting() const
{
    return m_timer->isActive();
}

void TWait::Execute()
{
    TWaitingScope waiting(OnWaiting);
    DispatchScope scope;
    m_modalResult = 0;
    m_startCount = ReadCount(m_caption);
    if (m_startCount == 0) {
        m_startCount = 15;
        m_caption = QStringLiteral("15");
    }
    m_timer->start();
    // Block until the next event rather than spinning: an idle wait costs no CPU. Each pass
    // handles what is pending; the loop tests the timer between passes, so a Stop from a
    // handler ends the wait at the end of the pass that called it.
    while (m_timer->isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
        if (scope.HasParked()) {
            m_timer->stop();
            m_caption = QString::number(m_startCount);
            scope.RethrowParked();
        }
    }
}

void TWait::Stop()
{
    m_modalResult = 1;
    m_timer->stop();
    m_caption = QString::number(m_startCount);
    // Wake a wait that is blocked for the next event, so it sees the stopped timer.
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

void TWait::Tick()
{
    const std::int32_t n = ReadCount(m_caption) - 1;
    if (OnWaitEvent)
        OnWaitEvent(this, n);
    // A handler that stopped the wait has ended it already: the count must not overwrite the
    // start count that Stop put back, nor a time-out override its result.
    if (!m_timer->isActive())
        return;
    if (n > 0) {
        m_caption = QString::number(n);
    } else {
        m_timer->stop();
        m_modalResult = 2;
        m_caption = QString::number(m_startCount);
        if (OnTimeoutEvent)
            OnTimeoutEvent(this);
    }
}

} // namespace quelmark
