// The user's commands that change the catalogue: new and deleted sites, added, edited and
// removed file entries, files dropped on the window, and the tidying of the default directory.
//
// They work on the shown site's controls; the results reach the store with the next save of
// the shown site, except a deleted site, whose key goes at once. Refusals are information boxes,
// destructive commands ask first.
#pragma once

#include "catalogue/P_Types.h"

#include <QObject>
#include <QString>

#include <functional>

class QLineEdit;
class QWidget;

namespace quelmark {

class TCatalogue;
class TFileDrag;
class TNavigator;
class TNavigatorNode;
class TShownSite;
class TfrmAddNewFile;
class TfrmAddNewWebSite;
class TfrmRenameWebSite;

// Captures a local file's date/time, size and attribute texts; leaves them unchanged and
// returns false when the file cannot be examined.
using TFileDetailsFn = std::function<bool(const QString &path, QString &dateTime, QString &size, QString &attribs)>;

// What the commands work on, all owned by the main window.
struct TSiteEditingParts {
    QWidget *window = nullptr;
    TNavigator *navigator = nullptr;
    TCatalogue *catalogue = nullptr;
    TfrmAddNewWebSite *siteDialog = nullptr;
    TfrmAddNewFile *fileDialog = nullptr;
    QLineEdit *edtDefaultIPParam = nullptr;
    TFileDrag *fileDrag = nullptr;
    TfrmRenameWebSite *renameDialog = nullptr;
};

class TSiteEditor : public QObject {
    Q_OBJECT
public:
    // Attaches to the parts: the drop target's OnDrop and the default directory's focus loss.
    explicit TSiteEditor(const TSiteEditingParts &parts, QObject *parent = nullptr);

    // Asks for a new site, adds its node and shows it with the fields typed in the dialog.
    void NewWebSite();
    // Deletes the selected site, after asking, from the store and the navigator.
    void DeleteWebSite();
    // Asks for another name for the selected site and moves the site's key, rows and values
    // included, under it; the site stays shown under its new name.
    void RenameWebSite();
    // Asks for a new file entry and appends it to the shown list.
    void NewFile();
    // Edits the selected row, or the shared texts of several selected rows.
    void EditFiles();
    // Removes the selected rows, after asking.
    void RemoveFiles();
    // Appends a row for the entry, its file details taken now, unless one with exactly this
    // local file is listed; returns whether it did.
    bool AddFileEntry(TFileEntry entry);
    // Tidies the shown site's default directory.
    void edtDefaultDirExit();
    // Adds each dropped file as a new binary entry named after the default directory.
    void FileDragDrop(TFileDrag *sender);

    // True while one of the commands above runs, its dialogs and questions included: the sites
    // and rows it works on must not be reloaded under it.
    bool Editing() const { return m_editing > 0; }

    // Supplies the detail texts of a new entry; without one they stay empty.
    TFileDetailsFn FileDetails;
    // Called when a command above has ended, however it ended: the sites or entries may have
    // changed.
    std::function<void()> OnEdited;

signals:
    // A site's key was moved to another name, or deleted.
    void SiteRenamed(const QString &from, const QString &to);
    void SiteDeleted(const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    class TEditingMark;

    void EditSingleFile();
    void EditSeveralFiles();
    void AddSiteNode(const QString &name);
    TNavigatorNode *SelectedSite(const QString &refusal);
    QString SiteRefusal(const QString &name) const;
    TShownSite &Shown();

    TSiteEditingParts m_parts;
    int m_editing = 0;
};

} // namespace quelmark
