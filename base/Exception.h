// The program's exceptions, and how they are kept from unwinding through Qt.
//
// The program reports failures between its layers with exceptions, yet no exception may unwind
// through a Qt frame. Every handler that Qt calls runs its body through Guarded(). When the
// handler runs inside one of the program's own nested dispatch loops (base/Dispatch.h), the
// exception is parked there and leaves the waiting call into its caller; outside any such loop
// it goes to the application's general error display.
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

// While one lives, ReportTopLevel hands errors to its own reporter instead of the general error
// display: work that nobody started by hand (the refresh timer's) must never wait at a modal
// box for someone to click it away. Scopes nest; the innermost one reports.
class UnattendedScope {
public:
    explicit UnattendedScope(TopLevelReporter reporter);
    ~UnattendedScope();
    Q_DISABLE_COPY(UnattendedScope)

private:
    TopLevelReporter m_previous;
};

// Hands an exception that left a handler to the innermost nested dispatch loop, or to the
// top-level reporter when no such loop runs.
void ParkOrReport(const std::exception_ptr &error) noexcept;

// Runs a handler body so that no exception leaves it: parked when a nested loop runs,
// otherwise shown by the top-level reporter.
template <typename F> void Guarded(F &&body) noexcept
{
    try {
        std::forward<F>(body)();
    } catch (...) {
        ParkOrReport(std::current_exception());
    }
}

// Returns a handler for a Qt connection that runs body through Guarded, so no exception
// reaches Qt.
template <typename F> auto GuardedHandler(F body)
{
    return [body] { Guarded(body); };
}

} // namespace quelmark
