#include "base/QtMessages.h"

#include "base/Printable.h"

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
    PrintLine(stderr, QString::fromLocal8Bit(program_invocation_short_name) + QStringLiteral(": ") + message);
}

} // namespace

void InstallQuietMessageHandler()
{
    if (qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        return;
    qInstallMessageHandler(QuietHandler);
}

} // namespace quelmark
