#include "catalogue/ShownSite.h"

#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"

namespace quelmark {

namespace {

// The site's text values with their store names and their fields. The options have a table of
// their own (SiteOptions.cpp).
struct TSiteField {
    QString TSite::*value;
    const QString &storeName;
    TRegEdit *TShownSite::*field;
    const char *objectName;
};

const TSiteField kSiteFields[] = {
    {&TSite::server, store::FTPServer, &TShownSite::edtFTPServer, "edtFTPServer"},
    {&TSite::user, store::UserName, &TShownSite::edtUserName, "edtUserName"},
    {&TSite::password, store::Password, &TShownSite::edtPassword, "edtPassword"},
    {&TSite::defaultDir, store::DefaultDir, &TShownSite::edtDefaultDir, "edtDefaultDir"},
};

// The file list's column widths, the caption's first; 0 keeps the standard width.
const QList<int> kColumnWidths = {100, 150, 60, 80, 0, 100, 75, 0};

} // namespace

void ConfigureFileList(TRegListView *list)
{
    list->SetColumns(FileListHeaders, kColumnWidths);
}

TFileEntry FileEntryOf(const TListRow &row)
{
    return {row.Caption(),          row.SubItem(colHostFileName), row.SubItem(colFileType), row.SubItem(colIPParameter),
            row.SubItem(colStatus), row.SubItem(colFileDateTime), row.SubItem(colFileSize), row.SubItem(colAttribs)};
}

TShownSite::TShownSite(QWidget *page)
{
    for (const TSiteField &f : kSiteFields) {
        TRegEdit *edit = Named(new TRegEdit(page), f.objectName);
        edit->SetRegKeyword(f.storeName);
        this->*f.field = edit;
    }
    UseStarEcho(edtPassword);
    m_options = std::make_unique<TSiteOptionControls>(page, true);

    lvFileDetails = Named(new TRegListView(page), "lvFileDetails");
    lvFileDetails->SetRegSection(store::WWWSites);
    ConfigureFileList(lvFileDetails);
    // Local files mostly share their leading folders: cut at the left, a narrow column still
    // shows the file names that tell the rows apart.
    lvFileDetails->setTextElideMode(Qt::ElideLeft);
}

TSite TShownSite::Site() const
{
    TSite site;
    for (const TSiteField &f : kSiteFields)
        site.*f.value = (this->*f.field)->text();
    m_options->Get(site);
    return site;
}

void TShownSite::SetSite(const TSite &site)
{
    for (const TSiteField &f : kSiteFields)
        (this->*f.field)->setText(site.*f.value);
    m_options->Set(site);
}

void TShownSite::ClearOptions()
{
    m_options->Set(TSite{});
}

void TShownSite::SetFieldsSite(const QString &name)
{
    const QString section = name.isEmpty() ? QString() : store::SiteSection(name);
    for (const TSiteField &f : kSiteFields)
        (this->*f.field)->SetRegSection(section);
    m_options->SetRegSection(section);
}

void TShownSite::SetListSite(const QString &name)
{
    lvFileDetails->SetRegKeyword(name);
}

QList<TFileEntry> TShownSite::Entries() const
{
    QList<TFileEntry> entries;
    for (int i = 0; i < lvFileDetails->RowCount(); ++i) {
        if (const TListRow *row = lvFileDetails->Row(i))
            entries.append(FileEntryOf(*row));
    }
    return entries;
}

TListRow *TShownSite::AddEntry(const TFileEntry &entry)
{
    TListRow *row = lvFileDetails->AddRow();
    row->SetCaption(entry.localFile);
    row->SetSubItems({entry.hostFileName, entry.fileType, entry.ipParameter, entry.status, entry.fileDateTime,
                      entry.fileSize, entry.attribs});
    return row;
}

bool TShownSite::Lists(const QString &localFile) const
{
    for (int i = 0; i < lvFileDetails->RowCount(); ++i) {
        if (lvFileDetails->Row(i)->Caption() == localFile)
            return true;
    }
    return false;
}

} // namespace quelmark
