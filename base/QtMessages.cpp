#include "base/QtMessages.h"

#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <cstdio>

namespace quelmark {

namespace {

void QuietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtFatalMsg)
        return;
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, message.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

void InstallQuietMessageHandler()
{
    if (qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        return;
    qInstallMessageHandler(QuietHandler);
}

} // namespace quelmark
