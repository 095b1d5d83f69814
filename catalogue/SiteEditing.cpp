#include "catalogue/SiteEditing.h"

#include "base/Exception.h"
#include "catalogue/Catalogue.h"
#include "catalogue/F_NewFil.h"
#include "catalogue/F_NewWWW.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/P_Utils.h"
#include "catalogue/RegControls.h"
#include "catalogue/filedrag.h"

#include <QEvent>
#include <QLineEdit>

namespace quelmark {

TSiteEditor::TSiteEditor(const TSiteEditingParts &parts, QObject *parent) : QObject(parent), m_parts(parts)
{
    if (m_parts.fileDrag)
        m_parts.fileDrag->OnDrop = [this](TFileDrag *sender) { FileDragDrop(sender); };
    m_parts.catalogue->Controls().edtDefaultDir->installEventFilter(this);
}

bool TSiteEditor::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusOut && watched == m_parts.catalogue->Controls().edtDefaultDir)
        Guarded([this] { edtDefaultDirExit(); });
    return QObject::eventFilter(watched, event);
}

void TSiteEditor::NewWebSite()
{
    TfrmAddNewWebSite *dialog = m_parts.siteDialog;
    if (dialog->exec() != QDialog::Accepted)
        return;
    const QString name = dialog->edtFTPServer->text();
    // A "\" would make the name a path to a key below another site's key.
    if (name.contains(QLatin1Char('\\'))) {
        TMessageBox::Information(m_parts.window,
                                 QStringLiteral("A web site name cannot contain the character \"\\\"."));
        return;
    }
    if (m_parts.navigator->SiteExists(name)) {
        TMessageBox::Information(m_parts.window, QStringLiteral("A web site with that name already exists..."));
        return;
    }
    AddSiteNode(name);
    CopySiteFields();
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

void TSiteEditor::CopySiteFields()
{
    const TSiteControls &fields = m_parts.catalogue->Controls();
    const TfrmAddNewWebSite *dialog = m_parts.siteDialog;
    fields.edtFTPServer->setText(dialog->edtFTPServer->text());
    fields.edtUserName->setText(dialog->edtUserName->text());
    fields.edtPassword->setText(dialog->edtPassword->text());
    fields.edtDefaultDir->setText(dialog->edtDefaultHostDir->text());
}

void TSiteEditor::DeleteWebSite()
{
    TNavigator *navigator = m_parts.navigator;
    QTreeWidgetItem *selected = navigator->currentItem();
    if (NodeKindOf(selected) != nkSite) {
        TMessageBox::Information(m_parts.window, QStringLiteral("You can only delete web sites."));
        return;
    }
    const QString name = selected->text(0);
    if (TMessageBox::Confirm(m_parts.window, QStringLiteral("Delete site: ") + name + QLatin1Char('?')) !=
        TMessageBox::TAnswer::Yes)
        return;
    m_parts.catalogue->DeleteSiteKey(name);
    m_parts.catalogue->SetCurrentSiteName(QString());
    navigator->RemoveSiteNode(static_cast<TNavigatorNode *>(selected));
    navigator->SelectNode(navigator->WebSitesNode);
}

void TSiteEditor::NewFile()
{
    const QString defaultParam = m_parts.edtDefaultIPParam->text();
    TFileEntryTexts texts{QString(), QString(), FileType::Ascii, defaultParam, FileStatus::New};
    if (m_parts.fileDialog->RunFileDialog(QStringLiteral("Add a new file..."), TEditMode::New, defaultParam, texts) !=
        QDialog::Accepted)
        return;
    if (!AddFileEntry(texts.localFile, texts.hostFileName, texts.fileType, texts.ipParameter, texts.status))
        TMessageBox::Information(m_parts.window, QStringLiteral("The file you are adding already exists..."));
}

bool TSiteEditor::AddFileEntry(const QString &localFile, const QString &hostFileName, const QString &fileType,
                               const QString &ipParameter, const QString &status)
{
    TRegListView *list = m_parts.catalogue->Controls().lvFileDetails;
    for (int i = 0; i < list->RowCount(); ++i) {
        if (list->Row(i)->Caption() == localFile)
            return false;
    }
    QString dateTime, size, attribs;
    if (FileDetails)
        FileDetails(localFile, dateTime, size, attribs);
    TListRow *row = list->AddRow();
    row->SetCaption(localFile);
    row->SetSubItems({hostFileName, fileType, ipParameter, status, dateTime, size, attribs});
    return true;
}

void TSiteEditor::EditFiles()
{
    const int selected = static_cast<int>(m_parts.catalogue->Controls().lvFileDetails->SelectedRows().size());
    if (selected == 0)
        return;
    if (selected == 1)
        EditSingleFile();
    else
        EditSeveralFiles();
}

void TSiteEditor::EditSingleFile()
{
    TListRow *row = m_parts.catalogue->Controls().lvFileDetails->SelectedRows().first();
    const QString defaultParam = m_parts.edtDefaultIPParam->text();
    TFileEntryTexts texts{row->Caption(), row->SubItem(colHostFileName), row->SubItem(colFileType),
                          row->SubItem(colIPParameter), FileStatus::Edited};
    if (m_parts.fileDialog->RunFileDialog(QStringLiteral("Edit single file..."), TEditMode::SingleEdit, defaultParam,
                                          texts) != QDialog::Accepted)
        return;
    row->SetCaption(texts.localFile);
    row->SetSubItem(colHostFileName, texts.hostFileName);
    row->SetSubItem(colFileType, texts.fileType);
    row->SetSubItem(colIPParameter, texts.ipParameter);
    row->SetSubItem(colStatus, texts.status);
}

void TSiteEditor::EditSeveralFiles()
{
    TFileEntryTexts texts;
    if (m_parts.fileDialog->RunFileDialog(QStringLiteral("Multiple file edit..."), TEditMode::MultiEdit,
                                          m_parts.edtDefaultIPParam->text(), texts) != QDialog::Accepted)
        return;
    const QList<TListRow *> rows = m_parts.catalogue->Controls().lvFileDetails->SelectedRows();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        TListRow *row = *it;
        if (!texts.fileType.isEmpty())
            row->SetSubItem(colFileType, texts.fileType);
        // The IP parameter has no "leave alone" state: an empty field clears it everywhere.
        row->SetSubItem(colIPParameter, texts.ipParameter);
        if (!texts.status.isEmpty())
            row->SetSubItem(colStatus, texts.status);
    }
}

void TSiteEditor::RemoveFiles()
{
    TRegListView *list = m_parts.catalogue->Controls().lvFileDetails;
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
    QLineEdit *edit = m_parts.catalogue->Controls().edtDefaultDir;
    QString dir = edit->text();
    NormalizeHostDir(dir);
    if (dir != edit->text())
        edit->setText(dir);
}

void TSiteEditor::FileDragDrop(TFileDrag *sender)
{
    const QString dir = m_parts.catalogue->Controls().edtDefaultDir->text();
    for (int i = 0; i < sender->FileCount(); ++i) {
        // A file already listed is passed over without a word.
        AddFileEntry(sender->NameWithPath(i), dir + sender->NameOnly(i), FileType::Binary, QString(), FileStatus::New);
    }
}

} // namespace quelmark
