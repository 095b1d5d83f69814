#include "ftp/put_sftp.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "base/Wait.h"
#include "ftp/Sftpcli.h"
#include "ftp/put_upload.h"

#include <QCommandLineParser>

#include <cstdio>

namespace quelmark {

namespace {

void Configure(TSftpClient &client, const QCommandLineParser &parser, const QString &user, const QString &password)
{
    TUploadSite &site = client.Site();
    site.host = parser.value(QStringLiteral("host"));
    site.port = parser.value(QStringLiteral("port"));
    site.user = user;
    site.password = password;
    site.folder = parser.value(QStringLiteral("dir"));
    site.createFolders = parser.isSet(QStringLiteral("create-dirs"));
    site.knownHostsFile = parser.isSet(QStringLiteral("known-hosts")) ? parser.value(QStringLiteral("known-hosts"))
                                                                      : ProgramKnownHostsFile();
    site.acceptedHostKey = parser.value(QStringLiteral("accept-host-key"));
    site.keyLogin = parser.isSet(QStringLiteral("key"));
    site.keyFile = parser.value(QStringLiteral("key"));
    client.File().binary = !parser.isSet(QStringLiteral("ascii"));
    client.SetTimeOut(parser.value(QStringLiteral("timeout")).toInt());
    client.OnDisplay = [](QObject *, QString &msg) { PrintLine(stdout, msg); };
}

} // namespace

void AddSftpOptions(QCommandLineParser &parser)
{
    parser.addOptions({
        {QStringLiteral("sftp"), QStringLiteral("Upload over SFTP (SSH), port 22 unless --host or --port names one.")},
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
    });
}

QString CheckSftpArguments(const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("sftp"))) {
        for (const char *option : {"key", "known-hosts", "accept-host-key"}) {
            if (parser.isSet(QLatin1String(option)))
                return QStringLiteral("--%1 needs --sftp").arg(QLatin1String(option));
        }
        return {};
    }
    // SFTP renames into place always and has no data connection to turn round.
    if (parser.isSet(QStringLiteral("passive")))
        return QStringLiteral("--passive is for FTP only");
    if (parser.isSet(QStringLiteral("tls")))
        return QStringLiteral("--tls is for FTP only: SFTP is encrypted by SSH");
    if (parser.value(QStringLiteral("retries")).toInt() != 0)
        return QStringLiteral("--retries is for FTP only");
    if (parser.isSet(QStringLiteral("port"))) {
        bool ok = false;
        const uint port = parser.value(QStringLiteral("port")).toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return QStringLiteral("--port needs a number from 1 to 65535 with --sftp");
    }
    return {};
}

int RunSftp(const QCommandLineParser &parser, const QString &user, const QString &password)
{
    TWait wait;
    wait.SetInterval(1000);
    TSftpClient client;
    client.SetWait(&wait);
    Configure(client, parser, user, password);
    try {
        return UploadPairs(client, parser.values(QStringLiteral("local")), parser.values(QStringLiteral("remote")),
                           [](const QString &line) { PrintLine(stdout, line); })
                   ? 0
                   : 1;
    } catch (const std::exception &) {
        PrintLine(stdout, ExceptionMessage(std::current_exception()));
        return 1;
    }
}

} // namespace quelmark
