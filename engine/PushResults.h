// What the pushes of this run came to, file by file and site by site: the window shows it in
// the status bar, the file list's tooltips, the navigator and the list of sites, and the tray
// tells when a site starts or stops failing. Kept in memory for as long as the program runs.
//
// A file's push that failed stands until the same file (same local file and host file name on
// the same site) is pushed, or until the site no longer lists it as failed; a site fails while
// one of its failures stands.
#pragma once

#include "engine/EngineObserver.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

namespace quelmark {

// One file's push as it ended.
struct TFileOutcome {
    TFileResult result;
    QDateTime time;
};

// A site's pushes of this run.
struct TSiteOutcome {
    // The last file's push, pushed or not.
    TFileOutcome last;
    // The failures that stand, oldest first.
    QList<TFileOutcome> failures;

    bool Failing() const { return !failures.isEmpty(); }
};

// Returns the protocol a site pushes over: "FTP", "FTPS" (FTP under TLS) or "SFTP".
QString ProtocolText(const TSite &site);

// Returns the line that tells a failed push: "Push of <file> to <site> failed: <reason>".
QString PushFailedText(const TFileResult &result);

// Returns what a site's pushes came to in one line: "OK", "failed: <reason>" of its newest
// standing failure, or "" when it was not pushed in this run.
QString SiteResultText(const std::optional<TSiteOutcome> &site);

class TPushResults {
public:
    // Keeps a file's push that ended at time; returns whether the site started or stopped
    // failing with it.
    bool Record(const TFileResult &result, const QDateTime &time);
    // Keeps, of the site's standing failures, only those of the listed files: the rows (local
    // file, host file name) the site still shows as failed. Returns whether any went.
    bool KeepFailures(const QString &site, const QList<std::pair<QString, QString>> &failedRows);
    // Moves a site's pushes to its new name; forgets those of a deleted site.
    void RenameSite(const QString &from, const QString &to);
    void ForgetSite(const QString &site);

    // Returns the standing failure of a file, if there is one.
    std::optional<TFileOutcome> Failure(const QString &site, const QString &localFile,
                                        const QString &hostFileName) const;
    // Returns the site's pushes; none when it was not pushed in this run.
    std::optional<TSiteOutcome> Site(const QString &site) const;
    // Returns the newest standing failure of all sites, if there is one.
    std::optional<TFileOutcome> NewestFailure() const;

    // Told with a site's name after each change of what is kept for it.
    std::function<void(const QString &site)> OnChange;

private:
    void Changed(const QString &site);

    QHash<QString, TSiteOutcome> m_sites;
};

} // namespace quelmark
