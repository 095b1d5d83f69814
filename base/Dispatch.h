// The parked-exception scope of nested dispatch loops.
//
// A loop of the program's own that dispatches events while it waits (a TWait countdown, the
// FTP client's data loop) opens a DispatchScope for each pass. An exception that a handler
// raises during the pass is parked in the innermost scope by Guarded() and rethrown by the loop
// once its dispatch returns, so it leaves the waiting call into its caller as if it had been
// thrown there.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <exception>
#include <functional>

class QObject;

namespace quelmark {

// Marks one run of a nested dispatch loop. While a scope is alive, exceptions caught by
// Guarded() are parked in the innermost scope instead of being reported.
class DispatchScope {
public:
    DispatchScope();
    ~DispatchScope();
    Q_DISABLE_COPY(DispatchScope)

    // True when a handler parked an exception during this scope.
    bool HasParked() const noexcept { return static_cast<bool>(m_parked); }
    // Rethrows the parked exception, if any, and clears it.
    void RethrowParked();

    // Parks an exception in the innermost live scope; false when there is none.
    static bool Park(const std::exception_ptr &error) noexcept;
    static bool Active() noexcept;

private:
    std::exception_ptr m_parked;
    DispatchScope *m_outer = nullptr;
};

// Runs the application's events until over() is true, calling poll every pollMs meanwhile; an
// exception a handler raised leaves here once its dispatch pass has returned.
void RunEventsUntil(QObject &context, std::int64_t pollMs, const std::function<bool()> &over,
                    const std::function<void()> &poll);

} // namespace quelmark
