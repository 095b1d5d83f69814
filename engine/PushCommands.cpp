#include "engine/PushCommands.h"

#include "base/Exception.h"
#include "catalogue/Catalogue.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/Transfer.h"

#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>

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

// The end of a push-all, which runs however the walk ends: the window enabled, both address
// fields refreshed, and the node the user had selected handled again as a selection change,
// which stores the site still on screen and shows the user's page.
class TPushCommands::TPushAllCleanup {
public:
    explicit TPushAllCleanup(TPushCommands &commands) : m_commands(commands)
    {
        const TPushControls &c = m_commands.m_controls;
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
        const TPushControls &c = m_commands.m_controls;
        if (c.mainWindow)
            c.mainWindow->setEnabled(true);
        if (m_commands.m_localAddress) {
            if (c.edtLocalAddress)
                c.edtLocalAddress->setText(m_commands.m_localAddress());
            if (c.edtLastIPAddress)
                c.edtLastIPAddress->setText(m_commands.m_localAddress());
        }
        if (c.navigator)
            c.navigator->SelectNode(m_remembered);
    }

    TPushCommands &m_commands;
    QTreeWidgetItem *m_remembered = nullptr;
    bool m_done = false;
};

TPushCommands::TPushCommands(const TPushControls &controls, TAddressLookup localAddress)
    : m_controls(controls), m_localAddress(std::move(localAddress))
{
}

void TPushCommands::btnPushAllNowClick()
{
    if (m_pushing)
        return;
    TPushingMark mark(m_pushing);
    AddToLog(QStringLiteral(">>>> Checking all files..."));
    if (!m_controls.navigator || m_controls.navigator->SiteNodes().isEmpty())
        return;
    TPushAllCleanup cleanup(*this);
    WalkSites();
    cleanup.Finish();
    AddToLog(QStringLiteral(">>>> Done checking all files..."));
}

void TPushCommands::btnPushAllSiteNowClick()
{
    if (m_pushing)
        return;
    TPushingMark mark(m_pushing);
    PushSite();
}

void TPushCommands::btnPushSelectedNowClick()
{
    if (m_pushing)
        return;
    TPushingMark mark(m_pushing);
    PushSelected();
}

void TPushCommands::mniPopFilesPushFileClick()
{
    if (m_pushing)
        return;
    TPushingMark mark(m_pushing);
    const qsizetype selected = FileList()->SelectedRows().size();
    if (selected == 0)
        TMessageBox::Information(m_controls.mainWindow, QStringLiteral("No files selected to push..."));
    else if (selected == 1)
        PushSelected();
    else
        PushSite();
}

void TPushCommands::WalkSites()
{
    TCatalogue &catalogue = *m_controls.catalogue;
    QStringList names;
    for (const TNavigatorNode *node : m_controls.navigator->SiteNodes())
        names.append(node->text(0));
    for (const QString &name : names) {
        catalogue.SaveCurrentSite();
        // Until the next site has loaded whole, the list is no site's: a load that fails
        // part-way must not be stored under the previous site's name by the clean-up.
        catalogue.SetCurrentSiteName(QString());
        ShowSite(name);
        catalogue.LoadSite(name);
        catalogue.SetCurrentSiteName(name);
        PushSite();
    }
}

void TPushCommands::ShowSite(const QString &name)
{
    if (m_controls.nbDetail && m_controls.webSitesPage)
        m_controls.nbDetail->setCurrentWidget(m_controls.webSitesPage);
    if (m_controls.pnlDetailTitle)
        m_controls.pnlDetailTitle->setText(pages::SiteInformationFor + name);
}

void TPushCommands::PushSite()
{
    TRegListView *list = FileList();
    const QString lastIPAddress = m_controls.edtLastIPAddress ? m_controls.edtLastIPAddress->text() : QString();
    const int count = list->RowCount();
    for (int i = 0; i < count; ++i) {
        TListRow *row = list->Row(i);
        if (row && FileNeedsPush(FileEntryOf(*row), lastIPAddress, m_localAddress))
            SetFileStatus(*row, PushRow(*row) ? FileStatus::Moved : FileStatus::Error);
    }
}

void TPushCommands::PushSelected()
{
    const QList<TListRow *> selected = FileList()->SelectedRows();
    if (selected.isEmpty())
        return;
    TListRow *row = selected.first();
    const QString question = QStringLiteral("Push the file: ") + row->Caption() + QStringLiteral("?");
    if (TMessageBox::ConfirmOkCancel(m_controls.mainWindow, question) != TMessageBox::TAnswer::Ok)
        return;
    // Only the status: the stored details stay those of the last push that change detection
    // asked for, so a file changed since then is still found due.
    row->SetSubItem(colStatus, PushRow(*row) ? FileStatus::Moved : FileStatus::Error);
}

bool TPushCommands::PushRow(TListRow &row)
{
    return m_controls.transfer->TransferFile(m_controls.catalogue->CurrentSite(), FileEntryOf(row));
}

TRegListView *TPushCommands::FileList() const
{
    return m_controls.catalogue->Shown().lvFileDetails;
}

void TPushCommands::AddToLog(const QString &message)
{
    if (m_controls.log)
        m_controls.log->AddToLog(message);
}

} // namespace quelmark
