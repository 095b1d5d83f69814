// What the tests of changes pushed at once share: a network namespace with one interface whose
// address they change, a store whose one site has a page with the address and a plain page, and
// saving a page as editors do.
#pragma once

#include "tests/support/FtpServers.h"
#include "tests/support/HttpServer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

namespace quelmark::test {

// The interface the tests change, its address at first and after the change.
inline const QString kWatchedInterface = QStringLiteral("qw0");
inline const QString kFirstAddress = QStringLiteral("10.26.1.1");
inline const QString kNewAddress = QStringLiteral("10.26.1.2");

// The set-up of the namespace: a veth pair whose first end holds kFirstAddress.
QString WatchedInterfaceSetUp();

// Gives the interface the address in place of the ones it has; true when ip did.
bool SetInterfaceAddress(const QString &address);

// Writes a new file beside path and renames it over path, as many editors save; true when it
// worked.
bool SaveByRename(const QString &path, const QByteArray &bytes);

struct WatchedSiteOptions {
    // "WatchChanges"; not stored when null.
    const char *watch = "1";
    // The "Web" source's URL; the "Interface" source on kWatchedInterface when empty.
    QString url;
};

// Writes folder/index.html (with the address) and folder/plain.txt, removes both from the server,
// and writes the store file: the timer started with the window, the period an hour, "Last IP Address:" kFirstAddress,
// "Command on a new address:" printing "<new> after <old>", and one site on the server with both pages, new. Returns
// what went wrong, empty when nothing did.
QString WriteWatchedSite(const QString &storeFile, const QString &folder, const FtpServerProcess &server,
                         const WatchedSiteOptions &options);

// What the tests push to and ask, started inside the namespace: a real FTP server and the
// address server.
struct WatchedServers {
    PyFtpServer ftp;
    HttpAddressServer &http = SharedHttpAddressServer();

    // Why one of them is not running; empty when both are.
    QString Failure() const;
    // A web check that answers 503.
    QString Unavailable() const { return http.Url(QStringLiteral("/status/503")); }
};

// One change the watches see, and what becomes of it.
struct WatchedChange {
    const char *what;
    WatchedSiteOptions store;
    std::function<bool()> change; // makes the change; true when it could
    const char *file;             // where the change shows on the server
    QString shows;                // what it shows there
    bool atOnce;                  // within seconds, or not before the next check
    QStringList logged;           // lines the log holds
    bool checkFailed = false;     // the address check fails: the page with the address waits
};

// The changes the tests make to the site WriteWatchedSite wrote with its pages in folder: a new
// address and a page saved in place or by rename, pushed at once; with the option off, neither
// before the next check; a page saved while the address check fails, pushed alone.
QList<WatchedChange> WatchedChanges(const QString &folder, const WatchedServers &servers);

} // namespace quelmark::test
