// quelmark-put: uploads one file with the program's FTP client, from the command line.
//
// Prints each display line as it comes, then the error text when there is one. Exits 0 when the
// server confirmed the file, 1 when the upload failed, 2 for bad arguments.
#include "base/Exception.h"
#include "ftp/Ftpcli.h"
#include "ftp/Wait.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

using namespace quelmark;

namespace {

void PrintLine(const QString &line, FILE *stream = stdout)
{
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stream);
}

void AddOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Uploads one file to an FTP server in active mode."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("host"), QStringLiteral("Server host name or address."), QStringLiteral("name")},
        {QStringLiteral("port"), QStringLiteral("Control port or service name (default ftp)."), QStringLiteral("port"),
         QStringLiteral("ftp")},
        {QStringLiteral("user"), QStringLiteral("User name."), QStringLiteral("name")},
        {QStringLiteral("password"), QStringLiteral("Password."), QStringLiteral("text")},
        {QStringLiteral("dir"), QStringLiteral("Server directory to change to."), QStringLiteral("path")},
        {QStringLiteral("remote"), QStringLiteral("Name to store the file under."), QStringLiteral("name")},
        {QStringLiteral("local"), QStringLiteral("Local file to send."), QStringLiteral("path")},
        {QStringLiteral("ascii"), QStringLiteral("Announce type A.")},
        {QStringLiteral("binary"), QStringLiteral("Announce type I (default).")},
        {QStringLiteral("timeout"), QStringLiteral("Seconds to wait for each reply (default 15)."),
         QStringLiteral("seconds"), QStringLiteral("15")},
    });
}

// Returns an empty text when the arguments make sense, else what is wrong with them.
QString CheckArguments(const QCommandLineParser &parser)
{
    for (const char *required : {"host", "remote", "local"}) {
        if (parser.value(QLatin1String(required)).isEmpty())
            return QStringLiteral("--%1 is required").arg(QLatin1String(required));
    }
    if (parser.isSet(QStringLiteral("ascii")) && parser.isSet(QStringLiteral("binary")))
        return QStringLiteral("--ascii and --binary exclude each other");
    bool ok = false;
    const int timeout = parser.value(QStringLiteral("timeout")).toInt(&ok);
    if (!ok || timeout <= 0)
        return QStringLiteral("--timeout needs a positive number of seconds");
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
    return {};
}

void Configure(TFtpClient &client, const QCommandLineParser &parser)
{
    client.SetHostName(parser.value(QStringLiteral("host")));
    client.SetPort(parser.value(QStringLiteral("port")));
    client.SetUserName(parser.value(QStringLiteral("user")));
    client.SetPassWord(parser.value(QStringLiteral("password")));
    client.SetHostDirName(parser.value(QStringLiteral("dir")));
    client.SetHostFileName(parser.value(QStringLiteral("remote")));
    client.SetLocalFileName(parser.value(QStringLiteral("local")));
    client.SetBinary(!parser.isSet(QStringLiteral("ascii")));
    client.SetTimeOut(parser.value(QStringLiteral("timeout")).toInt());
    client.OnDisplay = [](QObject *, QString &msg) { PrintLine(msg); };
}

} // namespace

int main(int argc, char **argv)
{
    // The wait control is a widget, so a platform is needed even without a screen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quelmark-put"));
    SetTopLevelReporter([](const QString &message) { PrintLine(message, stderr); });

    QCommandLineParser parser;
    AddOptions(parser);
    if (!parser.parse(QApplication::arguments())) {
        PrintLine(parser.errorText(), stderr);
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (const QString wrong = CheckArguments(parser); !wrong.isEmpty()) {
        PrintLine(wrong, stderr);
        return 2;
    }

    TWait wait;
    wait.SetInterval(1000);
    TFtpClient client;
    client.SetWait(&wait);
    Configure(client, parser);
    bool stored = false;
    try {
        stored = client.Put();
    } catch (const std::exception &) {
        PrintLine(ExceptionMessage(std::current_exception()));
        return 1;
    }
    if (!client.ErrorMessage().isEmpty())
        PrintLine(client.ErrorMessage());
    return stored ? 0 : 1;
}
