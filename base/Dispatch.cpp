#include "base/Dispatch.h"

#include "base/Exception.h"

#include <QCoreApplication>
#include <QTimer>

namespace quelmark {

namespace {
DispatchScope *g_innermost = nullptr;
} // namespace

DispatchScope::DispatchScope() : m_outer(g_innermost)
{
    g_innermost = this;
}

DispatchScope::~DispatchScope()
{
    g_innermost = m_outer;
    // A parked exception that nobody collected must not vanish silently.
    if (m_parked && !DispatchScope::Park(m_parked))
        ReportTopLevel(m_parked);
}

void DispatchScope::RethrowParked()
{
    if (!m_parked)
        return;
    std::exception_ptr error = std::move(m_parked);
    m_parked = nullptr;
    std::rethrow_exception(error);
}

bool DispatchScope::Park(const std::exception_ptr &error) noexcept
{
    if (!g_innermost)
        return false;
    // The first failure wins; later ones during the same pass are consequences of it.
    if (!g_innermost->m_parked)
        g_innermost->m_parked = error;
    return true;
}

bool DispatchScope::Active() noexcept
{
    return g_innermost != nullptr;
}

void RunEventsUntil(QObject &context, std::int64_t pollMs, const std::function<bool()> &over,
                    const std::function<void()> &poll)
{
    DispatchScope scope;
    QTimer timer;
    timer.setInterval(static_cast<int>(pollMs));
    QObject::connect(&timer, &QTimer::timeout, &context, [&poll] { Guarded(poll); });
    timer.start();
    while (!over()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        scope.RethrowParked();
    }
}

} // namespace quelmark
