// Exceptions across the event loop.
//
// The program reports failures between its layers with exceptions, yet no exception may unwind
// through a Qt frame. Every handler that Qt calls runs its body through Guarded(). When the
// handler runs inside one of the program's own nested dispatch loops (a TWait countdown), the
// exception is parked in that loop's DispatchScope and rethrown by the loop once its dispatch
// pass returns, so it leaves the waiting call into its caller as if it had been thrown there.
// Outside any such loop the exception goes to the application's general error display.
#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <string>

namespace quelmark {

// Base of the program's own exceptions; the message is the text the user sees.
class Exception : public std::exception {
public:
    explicit Exception(QString message);

    const QString &Message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.c_str(); }

private:
    QString m_message;
    std::string m_utf8;
};

// Returns the user-facing text of any exception.
QString ExceptionMessage(const std::exception_ptr &error);

// Shows an exception that reached the top of a handler. The application installs the general
// error display here; until it does, the message goes to standard error.
using TopLevelReporter = std::function<void(const QString &message)>;
void SetTopLevelReporter(TopLevelReporter reporter);
void ReportTopLevel(const std::exception_ptr &error) noexcept;

// Marks one run of a nested dispatch loop. While a scope is alive, exceptions caught by
// Guarded() are parked in the innermost scope instead of being reported.
class DispatchScope {
public:
    DispatchScope();
    ~DispatchScope();
    DispatchScope(const DispatchScope &) = delete;
    DispatchScope &operator=(const DispatchScope &) = delete;

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

// Runs a handler body so that no exception leaves it: parked when a nested loop runs,
// otherwise shown by the top-level reporter.
template <typename F>
void Guarded(F &&body) noexcept
{
    try {
        std::forward<F>(body)();
    } catch (...) {
        std::exception_ptr error = std::current_exception();
        if (!DispatchScope::Park(error))
            ReportTopLevel(error);
    }
}

} // namespace quelmark
