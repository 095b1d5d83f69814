#include "catalogue/Catalogue.h"

#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"

namespace quelmark {

QString BaseKeyPath()
{
    return store::BaseKey;
}

void ConfigureFileList(TRegListView *list)
{
    // 0: the standard width.
    list->SetColumns(FileListHeaders, {100, 150, 60, 80, 0, 100, 75, 0});
}

TCatalogue::TCatalogue(QWidget *window, const TSiteControls &controls, QString basePath)
    : m_window(window), m_controls(controls), m_basePath(std::move(basePath))
{
    m_controls.lvFileDetails->SetRegSection(store::WWWSites);
    m_controls.edtFTPServer->SetRegKeyword(store::FTPServer);
    m_controls.edtUserName->SetRegKeyword(store::UserName);
    m_controls.edtPassword->SetRegKeyword(store::Password);
    m_controls.edtDefaultDir->SetRegKeyword(store::DefaultDir);
}

void TCatalogue::SetSiteFieldsSection(const QString &section)
{
    m_controls.edtFTPServer->SetRegSection(section);
    m_controls.edtUserName->SetRegSection(section);
    m_controls.edtPassword->SetRegSection(section);
    m_controls.edtDefaultDir->SetRegSection(section);
}

void TCatalogue::SaveCurrentSite()
{
    // The list pass deletes the whole site key, so the fields are written in a second pass;
    // one transaction around both keeps a failure from leaving the site without its rows.
    TStoreTransaction transaction;
    m_controls.lvFileDetails->SetRegKeyword(m_currentSiteName);
    SetSiteFieldsSection(QString());
    SaveRegControls(m_window, m_basePath);
    m_controls.lvFileDetails->SetRegKeyword(QString());
    if (!m_currentSiteName.isEmpty())
        SetSiteFieldsSection(store::SiteSection(m_currentSiteName));
    SaveRegControls(m_window, m_basePath);
    transaction.Commit();
}

void TCatalogue::LoadSite(const QString &name)
{
    if (name.isEmpty())
        return;
    m_controls.lvFileDetails->SetRegKeyword(name);
    SetSiteFieldsSection(store::SiteSection(name));
    LoadRegControls(m_window, m_basePath);
}

void TCatalogue::DeleteSiteKey(const QString &name)
{
    if (name.isEmpty())
        return;
    // The deletion is one transaction of its own.
    TRegIniFile sites(m_basePath + QLatin1Char('\\') + store::WWWSites);
    sites.DeleteSection(name);
}

QStringList TCatalogue::ListSites()
{
    TStoreTransaction transaction;
    TRegIniFile sites(m_basePath + QLatin1Char('\\') + store::WWWSites);
    QStringList names;
    sites.ListSections(names);
    transaction.Commit();
    return names;
}

} // namespace quelmark
