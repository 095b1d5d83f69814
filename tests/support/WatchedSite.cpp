#include "tests/support/WatchedSite.h"

#include "tests/support/Files.h"
#include "tests/support/StoreScript.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>

namespace quelmark::test {

namespace {

bool RunIp(const QString &arguments)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), QProcess::splitCommand(arguments));
    return ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0;
}

} // namespace

QString WatchedInterfaceSetUp()
{
    // No link-local IPv6 addresses: they would come, unasked, while the test runs.
    return QStringLiteral("ip link add %1 type veth peer name qw1 && ip link set %1 addrgenmode none && "
                          "ip link set qw1 addrgenmode none && ip link set %1 up && ip link set qw1 up && "
                          "ip addr add %2/24 dev %1")
        .arg(kWatchedInterface, kFirstAddress);
}

bool SetInterfaceAddress(const QString &address)
{
    return RunIp(QStringLiteral("addr flush dev ") + kWatchedInterface) &&
           RunIp(QStringLiteral("addr add %1/24 dev %2").arg(address, kWatchedInterface));
}

bool SaveByRename(const QString &path, const QByteArray &bytes)
{
    const QString written = path + QStringLiteral(".new");
    return WriteFile(written, bytes) &&
           std::rename(QFile::encodeName(written).constData(), QFile::encodeName(path).constData()) == 0;
}

QString WriteWatchedSite(const QString &storeFile, const QString &folder, const FtpServerProcess &server,
                         const WatchedSiteOptions &options)
{
    const QDir pages(folder);
    if (!WriteFile(pages.filePath(QStringLiteral("index.html")), "<p>%IP%</p>\n") ||
        !WriteFile(pages.filePath(QStringLiteral("plain.txt")), "plain\n"))
        return QStringLiteral("the pages cannot be written in ") + folder;
    for (const char *name : {"index.html", "plain.txt"})
        QFile::remove(QDir(server.Home()).filePath(QString::fromLatin1(name)));
    StoreScript script;
    // The window starts the timer at once; the service does anyway.
    script.Option(QStringLiteral("Autoprocess"), QStringLiteral("1"));
    script.Option(QStringLiteral("MinsTestFiles"), QStringLiteral("60"));
    script.Option(QStringLiteral("TempFileName"), pages.filePath(QStringLiteral("upload.tmp")));
    script.Option(QStringLiteral("LastIPAddress"), kFirstAddress);
    script.Option(QStringLiteral("AddressSource"),
                  options.url.isEmpty() ? QStringLiteral("Interface") : QStringLiteral("Web"));
    script.Option(QStringLiteral("AddressInterface"), kWatchedInterface);
    script.Option(QStringLiteral("AddressURL"), options.url);
    script.Option(QStringLiteral("AddressChangedCommand"), QStringLiteral("sh -c 'echo \"$0 after $1\"' %IP% %OLDIP%"));
    if (options.watch)
        script.Option(QStringLiteral("WatchChanges"), QString::fromLatin1(options.watch));
    script.Site(QStringLiteral("s"), QStringLiteral("127.0.0.1:") + server.PortText(), server.User(), server.Password(),
                {{pages.filePath(QStringLiteral("index.html")), "index.html", "Ascii", "%IP%", "New", "", "", ""},
                 {pages.filePath(QStringLiteral("plain.txt")), "plain.txt", "Ascii", "", "New", "", "", ""}});
    QFile::remove(storeFile);
    if (!QDir().mkpath(QFileInfo(storeFile).path()))
        return QStringLiteral("the store's folder cannot be made");
    return script.WriteTo(storeFile);
}

QString WatchedServers::Failure() const
{
    return ftp.Running() ? http.Failure() : ftp.Failure();
}

QList<WatchedChange> WatchedChanges(const QString &folder, const WatchedServers &servers)
{
    const QString plain = QDir(folder).filePath(QStringLiteral("plain.txt"));
    const auto newAddress = [] { return SetInterfaceAddress(kNewAddress); };
    const auto saveInPlace = [plain] { return WriteFile(plain, "saved in place\n"); };
    const auto saveByRename = [plain] { return SaveByRename(plain, "saved by rename\n"); };
    const QString unavailable = servers.Unavailable();
    // The change, then the end of the command on a new address.
    const QStringList newAddressLines = {
        QStringLiteral("Address changed: %1 -> %2").arg(kFirstAddress, kNewAddress),
        QStringLiteral("Command on a new address ended with exit status 0: %1 after %2")
            .arg(kNewAddress, kFirstAddress)};
    return {
        {"a new address", {}, newAddress, "index.html", kNewAddress, true, newAddressLines},
        {"a page saved in place", {}, saveInPlace, "plain.txt", "saved in place", true, {}},
        {"a page saved by rename, the option not stored",
         {nullptr, {}},
         saveByRename,
         "plain.txt",
         "saved by rename",
         true,
         {}},
        {"a failing check, a page saved",
         {"1", unavailable},
         saveInPlace,
         "plain.txt",
         "saved in place",
         true,
         {QStringLiteral("Address check failed (%1 answered 503); pages with an address wait").arg(unavailable)},
         true},
        {"a new address, the option off", {"0", {}}, newAddress, "index.html", kNewAddress, false, {}},
        {"a page saved, the option off", {"0", {}}, saveByRename, "plain.txt", "saved by rename", false, {}},
    };
}

} // namespace quelmark::test
