#include "ftp/Dispatch.h"

#include <cstdio>

namespace quelmark {

namespace {
DispatchScope *g_innermost = nullptr;

TopLevelReporter &reporter()
{
    static TopLevelReporter r;
    return r;
}
} // namespace

Exception::Exception(QString message)
    : m_message(std::move(message)), m_utf8(m_message.toUtf8().toStdString())
{
}

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

void ReportTopLevel(const std::exception_ptr &error) noexcept
{
    try {
        const QString message = ExceptionMessage(error);
        if (reporter())
            reporter()(message);
        else
            std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    } catch (...) {
        // The display itself failed; there is nobody left to tell.
    }
}

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

} // namespace quelmark
