#include "base/QtMessages.h"

#include "base/Printable.h"

#include <QString>
#include <QtGlobal>

namespace quelmark {

namespace {

void QuietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtFatalMsg)
        return;
    PrintError(message);
}

} // namespace

void InstallQuietMessageHandler()
{
    if (qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        return;
    qInstallMessageHandler(QuietHandler);
}

} // namespace quelmark
