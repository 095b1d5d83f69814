#include "catalogue/Catalogue.h"

#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"

namespace quelmark {

namespace {

const QString kSitesSection = QStringLiteral("WWWSites");

QString SiteSection(const QString &name)
{
    return kSitesSection + QLatin1Char('\\') + name;
}

} // namespace

QString BaseKeyPath()
{
    return QStringLiteral("\\Software\\Varnholt\\Quelmark");
}

void ConfigureFileList(TRegListView *list)
{
    list->SetColumns({QStringLiteral("Local File"), QStringLiteral("Host File Name"), QStringLiteral("File Type"),
                      QStringLiteral("IP Parameter"), QStringLiteral("Status"), QStringLiteral("File Date & Time"),
                      QStringLiteral("File Size"), QStringLiteral("Attribs")},
                     {100, 150, 60, 80, 0, 100, 75, 0});
}

TCatalogue::TCatalogue(QWidget *window, const TSiteControls &controls, QString basePath)
    : m_window(window), m_controls(controls), m_basePath(std::move(basePath))
{
    m_controls.lvFileDetails->SetRegSection(kSitesSection);
    m_controls.edtFTPServer->SetRegKeyword(QStringLiteral("FTPServer"));
    m_controls.edtUserName->SetRegKeyword(QStringLiteral("UserName"));
    m_controls.edtPassword->SetRegKeyword(QStringLiteral("Password"));
    m_controls.edtDefaultDir->SetRegKeyword(QStringLiteral("DefaultDir"));
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
        SetSiteFieldsSection(SiteSection(m_currentSiteName));
    SaveRegControls(m_window, m_basePath);
    transaction.Commit();
}

void TCatalogue::LoadSite(const QString &name)
{
    if (name.isEmpty())
        return;
    m_controls.lvFileDetails->SetRegKeyword(name);
    SetSiteFieldsSection(SiteSection(name));
    LoadRegControls(m_window, m_basePath);
}

void TCatalogue::DeleteSiteKey(const QString &name)
{
    if (name.isEmpty())
        return;
    // The deletion is one transaction of its own.
    TRegIniFile sites(m_basePath + QLatin1Char('\\') + kSitesSection);
    sites.DeleteSection(name);
}

QStringList TCatalogue::ListSites()
{
    TStoreTransaction transaction;
    TRegIniFile sites(m_basePath + QLatin1Char('\\') + kSitesSection);
    QStringList names;
    sites.ListSections(names);
    transaction.Commit();
    return names;
}

} // namespace quelmark
