// The shown site: the site fields, the site's options and the file list of the "Web Sites" page.
//
// TShownSite makes these controls, ties each to its store name, and hands out what they show as
// values: the site (TSite) and its file entries (TFileEntry). The catalogue points them at a
// site's key before each save or load; everything else reads and writes them through here.
#pragma once

#include "catalogue/P_Types.h"
#include "catalogue/SiteOptions.h"

#include <QList>

#include <memory>

class QWidget;

namespace quelmark {

class TListRow;
class TRegEdit;
class TRegPasswordEdit;
class TRegListView;

// Gives a file list its eight columns ("Local File", "Host File Name", ...) and widths.
void ConfigureFileList(TRegListView *list);

// Returns the file entry a row of the file list holds; texts the row lacks are empty.
TFileEntry FileEntryOf(const TListRow &row);

class TShownSite {
public:
    // Makes the site fields, the option controls and the file list as children of page, in the
    // order they are stored, each named as the window's controls are ("edtFTPServer", ...,
    // "chkPassive", ..., "lvFileDetails").
    explicit TShownSite(QWidget *page);
    Q_DISABLE_COPY(TShownSite)

    // Returns the site the fields show; the name is left empty (the catalogue knows it).
    TSite Site() const;
    // Shows a site's values in the fields and the option controls; the name is not a field.
    void SetSite(const TSite &site);
    // Shows the options of a site whose key holds none, as a load does before it reads them: an
    // option the key lacks must not keep the previous site's choice.
    void ClearOptions();

    // Points the fields and the option controls at the key of the named site, or at none for an
    // empty name: a control without a key is neither saved nor loaded.
    void SetFieldsSite(const QString &name);
    // Names the site whose rows the list saves and loads; empty: none.
    void SetListSite(const QString &name);

    // Says where the shown password is kept: in the desktop keyring or in the store.
    void SetPasswordInKeyring(bool inKeyring);
    // Shows the password the keyring gave, or none and why the keyring could not give it.
    void SetKeyringPassword(const QString &password, const QString &problem);

    // Returns the entries of the list, first row to last.
    QList<TFileEntry> Entries() const;
    // Appends a row as the program makes them: the caption and seven column texts.
    TListRow *AddEntry(const TFileEntry &entry);
    // Tells whether a row with exactly this local file is listed.
    bool Lists(const QString &localFile) const;

    TRegEdit *edtFTPServer = nullptr;
    TRegEdit *edtUserName = nullptr;
    TRegEdit *edtPassword = nullptr;
    TRegEdit *edtDefaultDir = nullptr;
    TRegListView *lvFileDetails = nullptr;

    // The option controls, on a panel of their own that the window places.
    TSiteOptionControls &Options() const { return *m_options; }

private:
    std::unique_ptr<TSiteOptionControls> m_options;
    // edtPassword, as the box it is.
    TRegPasswordEdit *m_password = nullptr;
};

} // namespace quelmark
