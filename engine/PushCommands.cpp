#include "engine/PushCommands.h"

#include "base/Exception.h"
#include "catalogue/Catalogue.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/Transfer.h"

#include <QLineEdit>

namespace quelmark {

// Marks a command as running for exactly as long as it runs, however it ends.
class TPushCommands::TPushingMark {
public:
    explicit TPushingMark(bool &pushing) : m_pushing(pushing) { m_pushing = true; }
    ~TPushingMark() { m_pushing = false; }
    TPushingMark(const TPushingMark &) = delete;
    TPushingMark &operator=(const TPushingMark &) = delete;

private:
    bool &m_pushing;
};

// The end of a push-all, which runs however the walk ends: the window enabled, the address
// fields refreshed ("Last IP Address:" only after a walk that completed), and the node the user
// had selected handled again as a selection change, which stores the site still on screen and
// shows the user's page.
class TPushCommands::TPushAllCleanup {
public:
    explicit TPushAllCleanup(TPushCommands &commands) : m_commands(commands)
    {
        const TEngineParts &c = m_commands.m_parts;
        if (c.mainWindow)
            c.mainWindow->setEnabled(false);
        m_remembered = c.navigator ? c.navigator->currentItem() : nullptr;
    }

    ~TPushAllCleanup()
    {
        if (m_done)
            return;
        // The walk's own error is already on its way out; a second one from here can only be
        // reported, or it would end the program.
        try {
            Run();
        } catch (...) {
            ReportTopLevel(std::current_exception());
        }
    }

    TPushAllCleanup(const TPushAllCleanup &) = delete;
    TPushAllCleanup &operator=(const TPushAllCleanup &) = delete;

    // Runs the clean-up after a walk that completed; its errors go to the caller.
    void Finish()
    {
        m_done = true;
        Run();
    }

private:
    void Run()
    {
        const TEngineParts &c = m_commands.m_parts;
        if (c.mainWindow)
            c.mainWindow->setEnabled(true);
        if (c.localAddress && !m_commands.m_stopping) {
            if (c.edtLocalAddress)
                c.edtLocalAddress->setText(c.localAddress());
            // Sites the walk never reached still hold entries that the old address made due;
            // they must stay due for the next check.
            if (m_done)
                m_commands.LastIPAddress()->setText(c.localAddress());
        }
        if (c.navigator)
            c.navigator->SelectNode(m_remembered);
    }

    TPushCommands &m_commands;
    QTreeWidgetItem *m_remembered = nullptr;
    bool m_done = false;
};

TPushCommands::TPushCommands(const TEngineParts &parts, TTransfer &transfer, TActivityLog &log)
    : m_parts(parts), m_transfer(transfer), m_log(log)
{
}

void TPushCommands::btnPushAllNowClick()
{
    if (m_pushing || m_stopping)
        return;
    TPushingMark mark(m_pushing);
    m_tally = {};
    m_log.AddToLog(QStringLiteral(">>>> Checking all files..."));
    if (!m_parts.navigator || m_parts.navigator->SiteNodes().isEmpty()) {
        m_tally.completed = true;
        return;
    }
    TPushAllCleanup cleanup(*this);
    WalkSites();
    cleanup.Finish();
    m_tally.completed = !m_stopping;
    m_log.AddToLog(m_stopping ? QStringLiteral(">>>> Stopped checking files...")
                              : QStringLiteral(">>>> Done checking all files..."));
}

void TPushCommands::btnPushAllSiteNowClick()
{
    if (m_pushing || m_stopping)
        return;
    TPushingMark mark(m_pushing);
    m_tally = {};
    PushSite();
    m_tally.completed = true;
}

void TPushCommands::btnPushSelectedNowClick()
{
    if (m_pushing || m_stopping)
        return;
    TPushingMark mark(m_pushing);
    PushSelected();
}

void TPushCommands::Stop()
{
    m_stopping = true;
    m_transfer.TransferCancelled = true;
}

void TPushCommands::mniPopFilesPushFileClick()
{
    if (m_pushing || m_stopping)
        return;
    TPushingMark mark(m_pushing);
    const QList<TListRow *> selected = FileList()->SelectedRows();
    if (selected.isEmpty())
        TMessageBox::Information(m_parts.mainWindow, QStringLiteral("No files selected to push..."));
    else if (selected.size() == 1)
        PushSelected();
    else
        PushSelectedRows(selected);
}

void TPushCommands::WalkSites()
{
    TCatalogue &catalogue = *m_parts.catalogue;
    QStringList names;
    for (const TNavigatorNode *node : m_parts.navigator->SiteNodes())
        names.append(node->text(0));
    for (const QString &name : names) {
        if (m_stopping)
            break;
        catalogue.SaveCurrentSite();
        // Until the next site has loaded whole, the list is no site's: a load that fails
        // part-way must not be stored under the previous site's name by the clean-up.
        catalogue.SetCurrentSiteName(QString());
        m_parts.navigator->ShowSitePage(name);
        catalogue.LoadSite(name);
        catalogue.SetCurrentSiteName(name);
        PushSite();
    }
}

void TPushCommands::PushSite()
{
    TRegListView *list = FileList();
    const QString lastIPAddress = LastIPAddress()->text();
    const int count = list->RowCount();
    for (int i = 0; i < count && !m_stopping; ++i) {
        TListRow *row = list->Row(i);
        if (!row || !FileNeedsPush(FileEntryOf(*row), lastIPAddress, m_parts.localAddress))
            continue;
        const bool pushed = PushRow(*row);
        SetFileStatus(*row, pushed ? FileStatus::Moved : FileStatus::Error);
        if (pushed) {
            ++m_tally.pushed;
        } else if (m_tally.failed++ == 0) {
            m_tally.firstFailure = m_transfer.LastFailure();
        }
    }
}

void TPushCommands::PushSelected()
{
    const QList<TListRow *> selected = FileList()->SelectedRows();
    if (selected.isEmpty())
        return;
    TListRow *row = selected.first();
    const QString question = QStringLiteral("Push the file: ") + row->Caption() + QStringLiteral("?");
    if (TMessageBox::ConfirmOkCancel(m_parts.mainWindow, question) != TMessageBox::TAnswer::Ok)
        return;
    // Only the status: the stored details stay those of the last push that change detection
    // asked for, so a file changed since then is still found due.
    row->SetSubItem(colStatus, PushRow(*row) ? FileStatus::Moved : FileStatus::Error);
}

void TPushCommands::PushSelectedRows(const QList<TListRow *> &rows)
{
    const QString question = QStringLiteral("Push the %1 selected files?").arg(rows.size());
    if (TMessageBox::ConfirmOkCancel(m_parts.mainWindow, question) != TMessageBox::TAnswer::Ok)
        return;
    // Forced like a single selected file: whatever their state, and only the status written.
    for (TListRow *row : rows)
        row->SetSubItem(colStatus, PushRow(*row) ? FileStatus::Moved : FileStatus::Error);
}

bool TPushCommands::PushRow(TListRow &row)
{
    return m_transfer.TransferFile(m_parts.catalogue->CurrentSite(), FileEntryOf(row));
}

TRegListView *TPushCommands::FileList() const
{
    return m_parts.catalogue->Shown().lvFileDetails;
}

QLineEdit *TPushCommands::LastIPAddress() const
{
    return m_parts.options->edtLastIPAddress;
}

} // namespace quelmark
