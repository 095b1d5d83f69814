#include "engine/PushResults.h"

#include "catalogue/P_Types.h"

namespace quelmark {

namespace {

bool SameFile(const TFileResult &a, const QString &localFile, const QString &hostFileName)
{
    return a.localFile == localFile && a.hostFileName == hostFileName;
}

} // namespace

QString ProtocolText(const TSite &site)
{
    if (site.UsesSftp())
        return SiteProtocol::SFTP;
    return site.UsesTls() ? QStringLiteral("FTPS") : SiteProtocol::FTP;
}

QString PushFailedText(const TFileResult &result)
{
    return QStringLiteral("Push of %1 to %2 failed: %3").arg(result.localFile, result.site, result.reason);
}

QString SiteResultText(const std::optional<TSiteOutcome> &site)
{
    if (!site)
        return QString();
    if (site->Failing())
        return QStringLiteral("failed: ") + site->failures.last().result.reason;
    return QStringLiteral("OK");
}

bool TPushResults::Record(const TFileResult &result, const QDateTime &time)
{
    TSiteOutcome &site = m_sites[result.site];
    const bool failing = site.Failing();
    site.last = {result, time};
    site.failures.removeIf([&result](const TFileOutcome &failure) {
        return SameFile(failure.result, result.localFile, result.hostFileName);
    });
    if (!result.pushed)
        site.failures.append(site.last);
    Changed(result.site);
    return failing != site.Failing();
}

bool TPushResults::KeepFailures(const QString &site, const QList<std::pair<QString, QString>> &failedRows)
{
    const auto found = m_sites.find(site);
    if (found == m_sites.end())
        return false;
    const qsizetype gone = found->failures.removeIf([&failedRows](const TFileOutcome &failure) {
        return !failedRows.contains(std::pair(failure.result.localFile, failure.result.hostFileName));
    });
    if (gone > 0)
        Changed(site);
    return gone > 0;
}

void TPushResults::RenameSite(const QString &from, const QString &to)
{
    if (!m_sites.contains(from))
        return;
    TSiteOutcome site = m_sites.take(from);
    site.last.result.site = to;
    for (TFileOutcome &failure : site.failures)
        failure.result.site = to;
    m_sites.insert(to, site);
    Changed(from);
    Changed(to);
}

void TPushResults::ForgetSite(const QString &site)
{
    if (m_sites.remove(site) > 0)
        Changed(site);
}

std::optional<TFileOutcome> TPushResults::Failure(const QString &site, const QString &localFile,
                                                  const QString &hostFileName) const
{
    const auto found = m_sites.constFind(site);
    if (found == m_sites.constEnd())
        return std::nullopt;
    for (const TFileOutcome &failure : found->failures) {
        if (SameFile(failure.result, localFile, hostFileName))
            return failure;
    }
    return std::nullopt;
}

std::optional<TSiteOutcome> TPushResults::Site(const QString &site) const
{
    const auto found = m_sites.constFind(site);
    if (found == m_sites.constEnd())
        return std::nullopt;
    return *found;
}

std::optional<TFileOutcome> TPushResults::NewestFailure() const
{
    std::optional<TFileOutcome> newest;
    for (const TSiteOutcome &site : m_sites) {
        if (site.Failing() && (!newest || site.failures.last().time >= newest->time))
            newest = site.failures.last();
    }
    return newest;
}

void TPushResults::Changed(const QString &site)
{
    if (OnChange)
        OnChange(site);
}

} // namespace quelmark
