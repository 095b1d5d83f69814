#include "base/Exception.h"

#include "base/Dispatch.h"
#include "base/Printable.h"

#include <cstdio>
#include <utility>

namespace quelmark {

namespace {
TopLevelReporter &reporter()
{
    static TopLevelReporter r;
    return r;
}
} // namespace

Exception::Exception(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8().toStdString()) {}

QString ExceptionMessage(const std::exception_ptr &error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const Exception &e) {
        return e.Message();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
    return QString();
}

void SetTopLevelReporter(TopLevelReporter r)
{
    reporter() = std::move(r);
}

UnattendedScope::UnattendedScope(TopLevelReporter r) : m_previous(std::exchange(reporter(), std::move(r))) {}

UnattendedScope::~UnattendedScope()
{
    reporter() = std::move(m_previous);
}

void ReportTopLevel(const std::exception_ptr &error) noexcept
{
    try {
        const QString message = ExceptionMessage(error);
        if (reporter())
            reporter()(message);
        else
            PrintLine(stderr, message);
    } catch (...) {
        // The display itself failed; there is nobody left to tell.
    }
}

void ParkOrReport(const std::exception_ptr &error) noexcept
{
    if (!DispatchScope::Park(error))
        ReportTopLevel(error);
}

} // namespace quelmark
