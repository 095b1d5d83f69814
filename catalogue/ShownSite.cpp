#include "catalogue/ShownSite.h"

#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"

namespace quelmark {

namespace {

// The text boxes of the site fields, in the order of SiteFieldTable().
TRegEdit *TShownSite::*const kFieldBoxes[] = {&TShownSite::edtFTPServer, &TShownSite::edtUserName,
                                              &TShownSite::edtPassword, &TShownSite::edtDefaultDir};

// The file list's column widths, the caption's first; 0 keeps the standard width.
const QList<int> kColumnWidths = {100, 150, 60, 80, 0, 100, 75, 0};

} // namespace

void ConfigureFileList(TRegListView *list)
{
    list->SetColumns(FileListHeaders, kColumnWidths);
}

TFileEntry FileEntryOf(const TListRow &row)
{
    return FileEntryOf(TStoredRow{.caption = row.Caption(), .texts = row.SubItems()});
}

TShownSite::TShownSite(QWidget *page)
{
    for (std::size_t i = 0; i < std::size(kFieldBoxes); ++i) {
        const TSiteField &f = SiteFieldTable()[i];
        TRegEdit *edit =
            Named(f.value == &TSite::password ? new TRegPasswordEdit(page) : new TRegEdit(page), f.objectName);
        edit->SetRegKeyword(f.storeName);
        this->*kFieldBoxes[i] = edit;
    }
    m_password = static_cast<TRegPasswordEdit *>(edtPassword);
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
    for (std::size_t i = 0; i < std::size(kFieldBoxes); ++i)
        site.*SiteFieldTable()[i].value = (this->*kFieldBoxes[i])->text();
    site.passwordInKeyring = m_password->InKeyring;
    site.passwordProblem = m_password->Problem;
    m_options->Get(site);
    return site;
}

void TShownSite::SetSite(const TSite &site)
{
    for (std::size_t i = 0; i < std::size(kFieldBoxes); ++i)
        (this->*kFieldBoxes[i])->setText(site.*SiteFieldTable()[i].value);
    m_password->InKeyring = site.passwordInKeyring;
    m_password->Problem = site.passwordProblem;
    m_options->Set(site);
}

void TShownSite::ClearOptions()
{
    m_options->Set(TSite{});
}

void TShownSite::SetFieldsSite(const QString &name)
{
    const QString section = name.isEmpty() ? QString() : store::SiteSection(name);
    for (TRegEdit *TShownSite::*box : kFieldBoxes)
        (this->*box)->SetRegSection(section);
    m_options->SetRegSection(section);
}

void TShownSite::SetListSite(const QString &name)
{
    lvFileDetails->SetRegKeyword(name);
}

void TShownSite::SetPasswordInKeyring(bool inKeyring)
{
    m_password->InKeyring = inKeyring;
}

void TShownSite::SetKeyringPassword(const QString &password, const QString &problem)
{
    edtPassword->setText(password);
    m_password->Problem = problem;
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
    const TStoredRow stored = StoredRowOf(entry);
    TListRow *row = lvFileDetails->AddRow();
    row->SetCaption(stored.caption);
    row->SetSubItems(stored.texts);
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
