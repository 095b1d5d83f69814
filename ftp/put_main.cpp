// quelmark-put: uploads files with the program's FTP client (FTPS with --tls), from the command
// line; with --sftp, with its SFTP client.
//
// Prints each display line as it comes, then the error text when there is one. The password
// comes from --password, --password-file, QUELMARK_PASSWORD, ~/.netrc or the terminal
// (ftp/put_password.h). One --local and
// --remote pair is one session; several pairs go over one session, in the order given. Exits 0
// when the server confirmed every file, 1 when an upload failed, 2 for bad arguments, which it
// names in one line on standard error.
#include "base/Exception.h"
#include "base/Printable.h"
#include "base/QtMessages.h"
#include "base/ServerField.h"
#include "base/Wait.h"
#include "ftp/Ftpcli.h"
#include "ftp/put_password.h"
#include "ftp/put_sftp.h"
#include "ftp/put_upload.h"
#include "net/TlsSession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>

using namespace quelmark;

namespace {

constexpr int kMaxRetries = 10;

void AddOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("Uploads files to an FTP, FTPS or SFTP server."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("host"),
         QStringLiteral("Server: host name or address, host:port, an IPv6 address or [IPv6 address]:port."),
         QStringLiteral("server")},
        {QStringLiteral("port"), QStringLiteral("Control port or service name (default ftp, or the port of --host)."),
         QStringLiteral("port")},
        {QStringLiteral("user"), QStringLiteral("User name."), QStringLiteral("name")},
        {QStringLiteral("password"),
         QStringLiteral("Password; other users may see it while the program starts: rather use --password-file, "
                        "QUELMARK_PASSWORD, ~/.netrc or the question on the terminal."),
         QStringLiteral("text")},
        {QStringLiteral("password-file"), QStringLiteral("Read the password from the first line of this file."),
         QStringLiteral("path")},
        {QStringLiteral("dir"), QStringLiteral("Server directory to change to."), QStringLiteral("path")},
        {QStringLiteral("remote"), QStringLiteral("Name to store a file under; once per --local."),
         QStringLiteral("name")},
        {QStringLiteral("local"), QStringLiteral("Local file to send; may be given several times."),
         QStringLiteral("path")},
        {QStringLiteral("ascii"), QStringLiteral("A text file: announce type A; with --sftp, send each CR LF as LF.")},
        {QStringLiteral("binary"), QStringLiteral("Send the file as it is, announcing type I (default).")},
        {QStringLiteral("timeout"), QStringLiteral("Seconds to wait for each reply (default 15)."),
         QStringLiteral("seconds"), QStringLiteral("15")},
        {QStringLiteral("passive"), QStringLiteral("Open the data connection from here (EPSV, PASV).")},
        {QStringLiteral("create-dirs"), QStringLiteral("Create missing folders of the remote name.")},
        {QStringLiteral("via-temp"), QStringLiteral("Store under a temporary name, then rename into place.")},
        {QStringLiteral("retries"), QStringLiteral("Tries after a passing failure, 0 to 10 (default 0)."),
         QStringLiteral("count"), QStringLiteral("0")},
        {QStringLiteral("retry-delay"),
         QStringLiteral("Milliseconds before the first retry (default 2000); each further one waits twice as long."),
         QStringLiteral("ms"), QStringLiteral("2000")},
        {QStringLiteral("tls"), QStringLiteral("Explicit FTP over TLS: AUTH TLS, then everything encrypted.")},
        {QStringLiteral("fingerprint"),
         QStringLiteral("With --tls: accept the server certificate with this SHA-256 fingerprint although it fails "
                        "the check."),
         QStringLiteral("hex")},
        {QStringLiteral("ca-file"), QStringLiteral("With --tls: also trust the CA certificates in this PEM file."),
         QStringLiteral("path")},
    });
    AddSftpOptions(parser);
}

bool ReadNumber(const QCommandLineParser &parser, const char *name, int low, int high, int &value)
{
    bool ok = false;
    value = parser.value(QLatin1String(name)).toInt(&ok);
    return ok && value >= low && value <= high;
}

// A number names the port itself and must be one; any other text is a service name, looked up
// when connecting.
bool PortUsable(const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    if (!number.match(text).hasMatch())
        return true;
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    return ok && port >= 1 && port <= 65535;
}

// Returns an empty text when the arguments make sense, else what is wrong with them.
QString CheckArguments(const QCommandLineParser &parser)
{
    for (const char *required : {"host", "remote", "local"}) {
        if (parser.value(QLatin1String(required)).isEmpty())
            return QStringLiteral("--%1 is required").arg(QLatin1String(required));
    }
    if (parser.values(QStringLiteral("local")).size() != parser.values(QStringLiteral("remote")).size())
        return QStringLiteral("every --local needs its --remote");
    if (const TServerField server = ParseServerField(parser.value(QStringLiteral("host"))); !server.Valid())
        return QStringLiteral("--host: ") + server.error;
    if (!PortUsable(parser.value(QStringLiteral("port"))))
        return QStringLiteral("--port needs a port number from 1 to 65535 or a service name");
    if (parser.isSet(QStringLiteral("password")) && parser.isSet(QStringLiteral("password-file")))
        return QStringLiteral("--password and --password-file exclude each other");
    if (parser.isSet(QStringLiteral("ascii")) && parser.isSet(QStringLiteral("binary")))
        return QStringLiteral("--ascii and --binary exclude each other");
    int number = 0;
    if (!ReadNumber(parser, "timeout", 1, 1000000, number))
        return QStringLiteral("--timeout needs a positive number of seconds");
    if (!ReadNumber(parser, "retries", 0, kMaxRetries, number))
        return QStringLiteral("--retries needs a number from 0 to %1").arg(kMaxRetries);
    if (!ReadNumber(parser, "retry-delay", 0, 60000, number))
        return QStringLiteral("--retry-delay needs a number of milliseconds from 0 to 60000");
    if (!parser.isSet(QStringLiteral("tls")) &&
        (parser.isSet(QStringLiteral("fingerprint")) || parser.isSet(QStringLiteral("ca-file"))))
        return QStringLiteral("--fingerprint and --ca-file need --tls");
    if (parser.isSet(QStringLiteral("fingerprint")) && !ParseFingerprint(parser.value(QStringLiteral("fingerprint"))))
        return QStringLiteral("--fingerprint needs a SHA-256 fingerprint: 64 hex digits, in pairs separated by ':' "
                              "or not");
    if (!parser.positionalArguments().isEmpty())
        return QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
    return CheckSftpArguments(parser);
}

// Returns what the parser found wrong; an unknown option is named as it was given.
QString ParseError(const QCommandLineParser &parser, const QStringList &arguments)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        for (const QString &argument : arguments.mid(1)) {
            const QString name = argument.section(QLatin1Char('='), 0, 0);
            const qsizetype dashes = name.startsWith(QStringLiteral("--")) ? 2 : 1;
            if (name.startsWith(QLatin1Char('-')) && unknown.contains(name.mid(dashes)))
                return QStringLiteral("unknown option '%1'").arg(name);
        }
        // Letters run together ("-xv") are options of their own.
        return QStringLiteral("unknown option '-%1'").arg(unknown.first());
    }
    // Qt's own texts read "Missing value after '--host'."; the line goes on after them.
    QString text = parser.errorText();
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

// Says in one line what is wrong with the arguments, the user's text in it shown as one line
// whatever it holds; returns the exit status for them.
int RefuseArguments(const QString &wrong)
{
    PrintError(PrintableText(wrong) + QStringLiteral("; see --help"));
    return 2;
}

// The password and user name from wherever the user keeps them; argument is the --password that
// main took out of the argument list.
TPasswordChoice Login(const QCommandLineParser &parser, const std::optional<QString> &argument)
{
    TPasswordSources sources;
    sources.argument = argument;
    sources.passwordFile = parser.value(QStringLiteral("password-file"));
    sources.host = ParseServerField(parser.value(QStringLiteral("host"))).host;
    sources.user = parser.value(QStringLiteral("user"));
    sources.mayAsk = !sources.user.isEmpty() && !parser.isSet(QStringLiteral("key")) && InputIsTerminal();
    return ChoosePassword(sources);
}

void Configure(TFtpClient &client, const QCommandLineParser &parser, const TPasswordChoice &login)
{
    const TServerField server = ParseServerField(parser.value(QStringLiteral("host")));
    TUploadSite &site = client.Site();
    site.host = server.host;
    // --port wins over a port in --host.
    if (parser.isSet(QStringLiteral("port")))
        site.port = parser.value(QStringLiteral("port"));
    else if (server.port != 0)
        site.port = QString::number(server.port);
    site.user = login.user;
    site.password = login.password;
    site.folder = parser.value(QStringLiteral("dir"));
    site.passive = parser.isSet(QStringLiteral("passive"));
    site.createFolders = parser.isSet(QStringLiteral("create-dirs"));
    site.viaTemporaryName = parser.isSet(QStringLiteral("via-temp"));
    site.retries = parser.value(QStringLiteral("retries")).toInt();
    site.retryDelayMs = parser.value(QStringLiteral("retry-delay")).toInt();
    site.tls = parser.isSet(QStringLiteral("tls"));
    site.trustedCertificate = parser.value(QStringLiteral("fingerprint"));
    site.caFile = parser.value(QStringLiteral("ca-file"));
    client.File().binary = !parser.isSet(QStringLiteral("ascii"));
    client.SetTimeOut(parser.value(QStringLiteral("timeout")).toInt());
    client.SetModeAdvice(TFtpClient::TModeAdvice::CommandLine);
    client.OnDisplay = [](QObject *, QString &msg) { PrintLine(stdout, msg); };
}

} // namespace

int main(int argc, char **argv)
{
    // First of all: the password leaves the argument list before anything else can be looked at.
    const std::optional<QString> passwordArgument = TakePasswordArgument(argc, argv);
    InstallQuietMessageHandler();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quelmark-put"));
    SetTopLevelReporter([](const QString &message) { PrintError(message); });

    QCommandLineParser parser;
    AddOptions(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return RefuseArguments(ParseError(parser, QCoreApplication::arguments()));
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (const QString wrong = CheckArguments(parser); !wrong.isEmpty())
        return RefuseArguments(wrong);

    const TPasswordChoice login = Login(parser, passwordArgument);
    if (!login.note.isEmpty())
        PrintError(login.note);
    if (!login.error.isEmpty()) {
        PrintError(QStringLiteral("--password-file: ") + login.error);
        return 2;
    }
    if (parser.isSet(QStringLiteral("sftp")))
        return RunSftp(parser, login.user, login.password);

    TWait wait;
    wait.SetInterval(1000);
    TFtpClient client;
    client.SetWait(&wait);
    Configure(client, parser, login);
    int status = 1;
    try {
        status = UploadPairs(client, parser.values(QStringLiteral("local")), parser.values(QStringLiteral("remote")),
                             [](const QString &line) { PrintLine(stdout, line); })
                     ? 0
                     : 1;
    } catch (const std::exception &) {
        PrintLine(stdout, ExceptionMessage(std::current_exception()));
    }
    return status;
}
