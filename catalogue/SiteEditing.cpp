#include "catalogue/SiteEditing.h"

#include "base/Exception.h"
#include "catalogue/Catalogue.h"
#include "catalogue/F_NewFil.h"
#include "catalogue/F_NewWWW.h"
#include "catalogue/F_RenWWW.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"
#include "catalogue/SiteRecord.h"
#include "catalogue/filedrag.h"

#include <QEvent>
#include <QLineEdit>

namespace quelmark {

// Marks an editing command as running for exactly as long as it runs, however it ends; the end
// of the outermost one is told.
class TSiteEditor::TEditingMark {
public:
    explicit TEditingMark(TSiteEditor &editor) : m_editor(editor) { ++m_editor.m_editing; }
    ~TEditingMark()
    {
        if (--m_editor.m_editing == 0 && m_editor.OnEdited)
            Guarded(m_editor.OnEdited);
    }
    Q_DISABLE_COPY(TEditingMark)

private:
    TSiteEditor &m_editor;
};

TSiteEditor::TSiteEditor(const TSiteEditingParts &parts, QObject *parent) : QObject(parent), m_parts(parts)
{
    if (m_parts.fileDrag)
        m_parts.fileDrag->OnDrop = [this](TFileDrag *sender) { FileDragDrop(sender); };
    if (m_parts.siteDialog)
        m_parts.siteDialog->Refusal = [this](const TSite &site) { return SiteRefusal(site.name); };
    if (m_parts.renameDialog)
        m_parts.renameDialog->Refusal = [this](const QString &name) { return SiteRefusal(name); };
    Shown().edtDefaultDir->installEventFilter(this);
}

bool TSiteEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && watched == Shown().edtDefaultDir)
        Guarded([this] { edtDefaultDirExit(); });
    return QObject::eventFilter(watched, event);
}

void TSiteEditor::NewWebSite()
{
    TEditingMark mark(*this);
    TfrmAddNewWebSite *dialog = m_parts.siteDialog;
    if (dialog->exec() != QDialog::Accepted)
        return;
    const TSite site = dialog->Site();
    // The dialog refuses such a name already; asked again in case it ran without its refusal.
    if (const QString refusal = SiteRefusal(site.name); !refusal.isEmpty()) {
        TMessageBox::Information(m_parts.window, refusal);
        return;
    }
    AddSiteNode(site.name);
    Shown().SetSite(site);
}

QString TSiteEditor::SiteRefusal(const QString &name) const
{
    // A "\" would make the name a path to a key below another site's key.
    if (name.contains(QLatin1Char('\\')))
        return QStringLiteral("A web site name cannot contain the character \"\\\".");
    if (m_parts.navigator->SiteExists(name))
        return QStringLiteral("A web site with that name already exists...");
    return QString();
}

TShownSite &TSiteEditor::Shown()
{
    return m_parts.catalogue->Shown();
}

void TSiteEditor::AddSiteNode(const QString &name)
{
    TNavigator *navigator = m_parts.navigator;
    TNavigatorNode *node = navigator->AddNavigatorNode(navigator->WebSitesNode, {nkSite}, name);
    try {
        navigator->SelectNode(node);
    } catch (...) {
        // The site shown before is still shown; the new site must not appear without a key.
        if (navigator->currentItem() != node)
            navigator->RemoveSiteNode(node);
        throw;
    }
}

TNavigatorNode *TSiteEditor::SelectedSite(const QString &refusal)
{
    QTreeWidgetItem *selected = m_parts.navigator->currentItem();
    if (NodeKindOf(selected) == nkSite)
        return static_cast<TNavigatorNode *>(selected);
    TMessageBox::Information(m_parts.window, refusal);
    return nullptr;
}

void TSiteEditor::DeleteWebSite()
{
    TEditingMark mark(*this);
    TNavigator *navigator = m_parts.navigator;
    TNavigatorNode *selected = SelectedSite(QStringLiteral("You can only delete web sites."));
    if (!selected)
        return;
    const QString name = selected->text(0);
    if (TMessageBox::Confirm(m_parts.window, QStringLiteral("Delete site: ") + name + QLatin1Char('?')) !=
        TMessageBox::TAnswer::Yes)
        return;
    m_parts.catalogue->DeleteSiteKey(name);
    m_parts.catalogue->SetCurrentSiteName(QString());
    emit SiteDeleted(name);
    navigator->RemoveSiteNode(selected);
    navigator->SelectNode(navigator->WebSitesNode);
}

void TSiteEditor::RenameWebSite()
{
    TEditingMark mark(*this);
    TNavigatorNode *node = SelectedSite(QStringLiteral("You can only rename web sites."));
    if (!node || m_parts.renameDialog->RunRename(node->text(0)) != QDialog::Accepted)
        return;
    const QString name = node->text(0);
    const QString newName = m_parts.renameDialog->NewName();
    if (newName == name)
        return;
    if (const QString refusal = SiteRefusal(newName); !refusal.isEmpty()) {
        TMessageBox::Information(m_parts.window, refusal);
        return;
    }
    m_parts.catalogue->RenameSite(name, newName);
    emit SiteRenamed(name, newName);
    node->setText(0, newName);
    // Shown again as a selection change shows a site: titled with its new name, read back from
    // its moved key.
    m_parts.navigator->SelectNode(node);
}

void TSiteEditor::NewFile()
{
    TEditingMark mark(*this);
    const QString defaultParam = m_parts.edtDefaultIPParam->text();
    const QString listed = QStringLiteral("The file you are adding already exists...");
    TFileEntry entry{.fileType = FileType::Ascii, .ipParameter = defaultParam, .status = FileStatus::New};
    // Refused in the dialog, so what was typed stays there to be put right.
    const TEntryRefusal refusal = [this, listed](const TFileEntry &typed) {
        return Shown().Lists(typed.localFile) ? listed : QString();
    };
    m_parts.fileDialog->ProposeHostNamesIn(Shown().edtDefaultDir->text());
    if (m_parts.fileDialog->RunFileDialog(QStringLiteral("Add a new file..."), TEditMode::New, defaultParam, entry,
                                          refusal) != QDialog::Accepted)
        return;
    if (!AddFileEntry(entry))
        TMessageBox::Information(m_parts.window, listed);
}

bool TSiteEditor::AddFileEntry(TFileEntry entry)
{
    if (Shown().Lists(entry.localFile))
        return false;
    if (FileDetails)
        FileDetails(entry.localFile, entry.fileDateTime, entry.fileSize, entry.attribs);
    Shown().AddEntry(entry);
    return true;
}

void TSiteEditor::EditFiles()
{
    TEditingMark mark(*this);
    const int selected = static_cast<int>(Shown().lvFileDetails->SelectedRows().size());
    if (selected == 0)
        return;
    if (selected == 1)
        EditSingleFile();
    else
        EditSeveralFiles();
}

void TSiteEditor::EditSingleFile()
{
    TListRow *row = Shown().lvFileDetails->SelectedRows().first();
    const QString defaultParam = m_parts.edtDefaultIPParam->text();
    TFileEntry entry = FileEntryOf(*row);
    entry.status = FileStatus::Edited;
    if (m_parts.fileDialog->RunFileDialog(QStringLiteral("Edit single file..."), TEditMode::SingleEdit, defaultParam,
                                          entry) != QDialog::Accepted)
        return;
    // Column by column: a row keeps the column texts the dialog does not edit, however many.
    row->SetCaption(entry.localFile);
    row->SetSubItem(colHostFileName, entry.hostFileName);
    row->SetSubItem(colFileType, entry.fileType);
    row->SetSubItem(colIPParameter, entry.ipParameter);
    row->SetSubItem(colStatus, entry.status);
}

void TSiteEditor::EditSeveralFiles()
{
    TFileEntry shared;
    if (m_parts.fileDialog->RunFileDialog(QStringLiteral("Multiple file edit..."), TEditMode::MultiEdit,
                                          m_parts.edtDefaultIPParam->text(), shared) != QDialog::Accepted)
        return;
    const QList<TListRow *> rows = Shown().lvFileDetails->SelectedRows();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        TListRow *row = *it;
        // A field the user left alone keeps each row's own value: the rows seldom share one.
        if (!shared.fileType.isEmpty())
            row->SetSubItem(colFileType, shared.fileType);
        if (m_parts.fileDialog->IPParameterChanged())
            row->SetSubItem(colIPParameter, shared.ipParameter);
        if (!shared.status.isEmpty())
            row->SetSubItem(colStatus, shared.status);
    }
}

void TSiteEditor::RemoveFiles()
{
    TEditingMark mark(*this);
    TRegListView *list = Shown().lvFileDetails;
    const QList<TListRow *> rows = list->SelectedRows();
    if (rows.isEmpty()) {
        TMessageBox::Information(m_parts.window, QStringLiteral("Please select a file first..."));
        return;
    }
    const QString question = rows.size() == 1
                                 ? QStringLiteral("Remove the file ") + rows.first()->Caption() + QLatin1Char('?')
                                 : QStringLiteral("Delete the selected files?");
    if (TMessageBox::Confirm(m_parts.window, question) == TMessageBox::TAnswer::No)
        return;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
        list->RemoveRow(*it);
}

void TSiteEditor::edtDefaultDirExit()
{
    QLineEdit *edit = Shown().edtDefaultDir;
    QString dir = edit->text();
    NormalizeHostDir(dir);
    if (dir != edit->text())
        edit->setText(dir);
}

void TSiteEditor::FileDragDrop(TFileDrag *sender)
{
    const QString dir = Shown().edtDefaultDir->text();
    for (int i = 0; i < sender->FileCount(); ++i) {
        // A file already listed is passed over without a word.
        AddFileEntry({.localFile = sender->NameWithPath(i),
                      .hostFileName = dir + sender->NameOnly(i),
                      .fileType = FileType::Binary,
                      .status = FileStatus::New});
    }
}

} // namespace quelmark
