#include "catalogue/Catalogue.h"

#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "catalogue/SiteRecord.h"

namespace quelmark {

TCatalogue::TCatalogue(QWidget *window, QWidget *page, QString basePath)
    : m_window(window), m_shown(page), m_basePath(std::move(basePath))
{
}

TSite TCatalogue::CurrentSite() const
{
    TSite site = m_shown.Site();
    site.name = m_currentSiteName;
    return site;
}

void TCatalogue::SaveCurrentSite()
{
    if (!m_currentSiteName.isEmpty()) {
        const TSite site = CurrentSite();
        const TSite stored = PasswordForStore(site, UseKeyring ? UseKeyring() : site.passwordInKeyring);
        m_shown.SetPasswordInKeyring(stored.passwordInKeyring);
    }
    // The list pass deletes the whole site key, so the fields are written in a second pass;
    // one transaction around both keeps a failure from leaving the site without its rows.
    TStoreTransaction transaction;
    m_shown.SetListSite(m_currentSiteName);
    m_shown.SetFieldsSite(QString());
    SaveRegControls(m_window, m_basePath);
    m_shown.SetListSite(QString());
    m_shown.SetFieldsSite(m_currentSiteName);
    SaveRegControls(m_window, m_basePath);
    transaction.Commit();
}

void TCatalogue::LoadSite(const QString &name)
{
    if (name.isEmpty())
        return;
    m_shown.SetListSite(name);
    m_shown.SetFieldsSite(name);
    // A site field the key lacks keeps the text the site before left, but an option the key
    // lacks means what the site did before options existed.
    m_shown.ClearOptions();
    LoadRegControls(m_window, m_basePath);
    TSite site = m_shown.Site();
    if (!site.passwordInKeyring)
        return;
    site.name = name;
    FetchPassword(site);
    m_shown.SetKeyringPassword(site.password, site.passwordProblem);
}

void TCatalogue::DeleteSiteKey(const QString &name)
{
    if (name.isEmpty())
        return;
    // The deletion is one transaction of its own.
    TRegIniFile sites(m_basePath + QLatin1Char('\\') + store::WWWSites);
    sites.DeleteSection(name);
    ForgetPassword(name);
}

void TCatalogue::RenameSite(const QString &name, const QString &newName)
{
    // The shown site's edits go with it: they are written under the old name first, in the
    // same transaction as the move.
    TStoreTransaction transaction;
    if (m_currentSiteName == name)
        SaveCurrentSite();
    TRegIniFile sites(m_basePath + QLatin1Char('\\') + store::WWWSites);
    sites.MoveKey(name, newName);
    transaction.Commit();
    if (m_currentSiteName == name)
        m_currentSiteName = newName;
}

QStringList TCatalogue::ListSites()
{
    return StoredSiteNames(m_basePath);
}

} // namespace quelmark
