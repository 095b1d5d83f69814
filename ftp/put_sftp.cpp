#include "ftp/put_sftp.h"

#include "base/Exception.h"
#include "ftp/Sftpcli.h"
#include "ftp/Wait.h"

#include <QCommandLineParser>
#include <QStandardPaths>

#include <cstdio>

namespace quelmark {

namespace {

void PrintLine(const QString &line)
{
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

// The program's own known-hosts file, so that a key accepted in the window counts here as well
// and the other way round.
QString ProgramKnownHostsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Varnholt/Quelmark/known_hosts");
}

// The server as the client takes it: --host, with --port added when it is given.
QString ServerField(const QCommandLineParser &parser)
{
    const QString host = parser.value(QStringLiteral("host"));
    if (!parser.isSet(QStringLiteral("port")))
        return host;
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':') +
           parser.value(QStringLiteral("port"));
}

void Configure(TSftpClient &client, const QCommandLineParser &parser)
{
    client.SetHostName(ServerField(parser));
    client.SetUserName(parser.value(QStringLiteral("user")));
    client.SetPassWord(parser.value(QStringLiteral("password")));
    client.SetHostDirName(parser.value(QStringLiteral("dir")));
    client.SetTimeOut(parser.value(QStringLiteral("timeout")).toInt());
    client.SetCreateFolders(parser.isSet(QStringLiteral("create-folders")));
    client.SetKnownHostsFile(parser.isSet(QStringLiteral("known-hosts")) ? parser.value(QStringLiteral("known-hosts"))
                                                                         : ProgramKnownHostsFile());
    client.SetAcceptedHostKey(parser.value(QStringLiteral("accept-host-key")));
    if (parser.isSet(QStringLiteral("key"))) {
        client.SetAuth(TSshAuth::Key);
        client.SetKeyFile(parser.value(QStringLiteral("key")));
    }
    client.OnDisplay = [](QObject *, QString &msg) { PrintLine(msg); };
}

} // namespace

void AddSftpOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("sftp"),
         QStringLiteral("Upload over SFTP (SSH); --host may be host:port, port 22 by default.")},
        {QStringLiteral("key"),
         QStringLiteral("SFTP: log in with this private key, the password being its passphrase; an empty path "
                        "tries ~/.ssh/id_ed25519, id_ecdsa, id_rsa and the ssh-agent."),
         QStringLiteral("path")},
        {QStringLiteral("known-hosts"),
         QStringLiteral("SFTP: the program's own known-hosts file (default: the one in its configuration folder)."),
         QStringLiteral("path")},
        {QStringLiteral("accept-host-key"),
         QStringLiteral("SFTP: accept and store an unknown host key with this fingerprint."),
         QStringLiteral("SHA256:...")},
        {QStringLiteral("create-folders"), QStringLiteral("SFTP: create missing folders of the remote name.")},
    });
}

QString CheckSftpArguments(const QCommandLineParser &parser)
{
    const bool sftp = parser.isSet(QStringLiteral("sftp"));
    for (const char *option : {"key", "known-hosts", "accept-host-key", "create-folders"}) {
        if (!sftp && parser.isSet(QLatin1String(option)))
            return QStringLiteral("--%1 needs --sftp").arg(QLatin1String(option));
    }
    if (!sftp)
        return {};
    if (parser.values(QStringLiteral("local")).size() != parser.values(QStringLiteral("remote")).size())
        return QStringLiteral("--local and --remote come in pairs");
    if (!ParseServerAddress(ServerField(parser)))
        return QStringLiteral("--host and --port name no server: ") + ServerField(parser);
    return {};
}

int RunSftp(const QCommandLineParser &parser)
{
    TWait wait;
    wait.SetInterval(1000);
    TSftpClient client;
    client.SetWait(&wait);
    Configure(client, parser);
    const QStringList locals = parser.values(QStringLiteral("local"));
    const QStringList remotes = parser.values(QStringLiteral("remote"));
    int failures = 0;
    try {
        if (locals.size() > 1 && !client.Open()) {
            PrintLine(client.ErrorMessage());
            return 1;
        }
        for (qsizetype i = 0; i < locals.size(); ++i) {
            client.SetLocalFileName(locals.at(i));
            client.SetHostFileName(remotes.at(i));
            if (!client.Put()) {
                PrintLine(client.ErrorMessage());
                ++failures;
            }
        }
        client.Close();
    } catch (const std::exception &) {
        PrintLine(ExceptionMessage(std::current_exception()));
        return 1;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace quelmark
