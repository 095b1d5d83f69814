#include "engine/StoreSites.h"

#include "engine/UploadCopy.h"

namespace quelmark {

namespace {

// Sets column text k of a row, appending empty texts first when the row holds fewer, as the
// file list does.
void SetText(TStoredRow &row, int k, const QString &text)
{
    while (row.texts.size() <= k)
        row.texts.append(QString());
    row.texts[k] = text;
}

} // namespace

TStoreSites::TStoreSites(QString basePath) : TStoreSites(std::move(basePath), InitialOptions(DefaultUploadCopyPath()))
{
}

TStoreSites::TStoreSites(QString basePath, const TOptions &initial)
    : m_basePath(std::move(basePath)), m_options(initial)
{
}

void TStoreSites::LoadOptions()
{
    m_options = quelmark::LoadOptions(m_basePath, m_options);
}

void TStoreSites::Save()
{
    SaveSiteRecord(m_basePath, m_open, &m_options);
}

TSiteEntries TStoreSites::EntriesOf(const TSiteRecord &record)
{
    TSiteEntries site{SiteInUse(record.site), {}};
    for (const TStoredRow &row : record.rows)
        site.entries.append(PushEntryOf(FileEntryOf(row)));
    return site;
}

QStringList TStoreSites::SiteNames()
{
    return StoredSiteNames(m_basePath);
}

TSiteEntries TStoreSites::ReadSite(const QString &name)
{
    if (!name.isEmpty() && name == m_open.site.name)
        return EntriesOf(m_open);
    return EntriesOf(LoadSiteRecord(m_basePath, name));
}

TSiteEntries TStoreSites::ShownSite()
{
    return m_open.site.name.isEmpty() ? TSiteEntries{} : EntriesOf(m_open);
}

TSiteEntries TStoreSites::OpenSite(const QString &name)
{
    Save();
    // Until the next site has been read whole, what is open is no site's: a read that fails
    // part-way must not be stored under the previous site's name by the walk's end.
    m_open.site.name.clear();
    m_open = LoadSiteRecord(m_basePath, name, m_open.site);
    FetchPassword(m_open.site);
    return EntriesOf(m_open);
}

void TStoreSites::EndWalk()
{
    Save();
    m_open.site.name.clear();
}

void TStoreSites::SetStatus(int row, TFileStatus status, const TFileDetails *details)
{
    if (m_open.site.name.isEmpty() || row < 0 || row >= m_open.rows.size())
        return;
    TStoredRow &stored = m_open.rows[row];
    SetText(stored, colStatus, FileStatusText(status));
    if (!details)
        return;
    SetText(stored, colFileDateTime, details->dateTime);
    SetText(stored, colFileSize, details->size);
    SetText(stored, colAttribs, details->attribs);
}

void TStoreSites::TrustCertificate(const QString &site, const QString &fingerprint)
{
    if (site.isEmpty() || site != m_open.site.name)
        return;
    m_open.site.trustedCertificate = fingerprint;
    Save();
}

} // namespace quelmark
