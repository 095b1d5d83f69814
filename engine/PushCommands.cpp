#include "engine/PushCommands.h"

#include "base/Exception.h"
#include "catalogue/Catalogue.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/RegControls.h"
#include "engine/ActivityLog.h"
#include "engine/AddressChoice.h"
#include "engine/Transfer.h"

#include <QLineEdit>
#include <QStatusBar>

#include <algorithm>
#include <utility>

namespace quelmark {

// Marks a command as running for exactly as long as it runs, however it ends. A mark inside a
// running command (its address check) leaves the command marked.
class TPushCommands::TPushingMark {
public:
    explicit TPushingMark(bool &pushing) : m_pushing(pushing), m_before(std::exchange(pushing, true)) {}
    ~TPushingMark() { m_pushing = m_before; }
    TPushingMark(const TPushingMark &) = delete;
    TPushingMark &operator=(const TPushingMark &) = delete;

private:
    bool &m_pushing;
    const bool m_before;
};

namespace {

// Keeps the window from taking commands for as long as it lives, and gives it back as it was.
class TWindowHeld {
public:
    explicit TWindowHeld(QWidget *window) : m_window(window && window->isEnabled() ? window : nullptr)
    {
        if (m_window)
            m_window->setEnabled(false);
    }
    ~TWindowHeld()
    {
        if (m_window)
            m_window->setEnabled(true);
    }
    TWindowHeld(const TWindowHeld &) = delete;
    TWindowHeld &operator=(const TWindowHeld &) = delete;

private:
    QWidget *m_window;
};

// Tells whether a forced push of the entry writes the address into a copy.
bool NeedsAddress(const TFileEntry &entry)
{
    return !entry.ipParameter.isEmpty() && entry.fileType != FileType::Binary;
}

} // namespace

// The end of a push-all, which runs however the walk ends: the window enabled, the address
// fields showing the push's address ("Last IP Address:" only after a walk that completed; neither
// when no address was found), and the node the user had selected handled again as a selection
// change, which stores the site still on screen and shows the user's page.
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

    // The address the walk pushes with, once it is known.
    void SetAddress(const QString &address) { m_address = address; }

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
        if (!m_address.isEmpty() && !m_commands.m_stopping) {
            if (c.edtLocalAddress)
                c.edtLocalAddress->setText(m_address);
            // Sites the walk never reached still hold entries that the old address made due;
            // they must stay due for the next check.
            if (m_done)
                m_commands.LastIPAddress()->setText(m_address);
        }
        if (c.navigator)
            c.navigator->SelectNode(m_remembered);
    }

    TPushCommands &m_commands;
    QTreeWidgetItem *m_remembered = nullptr;
    QString m_address;
    bool m_done = false;
};

TPushCommands::TPushCommands(const TEngineParts &parts, TTransfer &transfer, TActivityLog &log)
    : m_parts(parts), m_transfer(transfer), m_log(log)
{
}

void TPushCommands::btnPushAllNowClick()
{
    // Only the window has somebody to ask.
    TTransfer::TQuestionScope questions(m_transfer, m_parts.mainWindow != nullptr);
    PushAllSites(nullptr);
}

void TPushCommands::PushAll(const QString &address)
{
    PushAllSites(&address);
}

void TPushCommands::PushAllSites(const QString *address)
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    m_tally = {};
    m_log.AddToLog(QStringLiteral(">>>> Checking all files..."));
    if (!m_parts.navigator || m_parts.navigator->SiteNodes().isEmpty()) {
        m_tally.completed = true;
        return;
    }
    TPushAllCleanup cleanup(*this);
    const QString found = address ? *address : AddressForCommand();
    cleanup.SetAddress(found);
    WalkSites(found);
    cleanup.Finish();
    m_tally.completed = !m_stopping;
    m_log.AddToLog(m_stopping ? QStringLiteral(">>>> Stopped checking files...")
                              : QStringLiteral(">>>> Done checking all files..."));
}

void TPushCommands::btnPushAllSiteNowClick()
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    // Only the window has somebody to ask.
    TTransfer::TQuestionScope questions(m_transfer, m_parts.mainWindow != nullptr);
    m_tally = {};
    PushSite(AddressForCommand());
    m_tally.completed = true;
}

void TPushCommands::PushShownSite(const QString &address)
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    m_tally = {};
    PushSite(address);
    m_tally.completed = true;
}

void TPushCommands::btnPushSelectedNowClick()
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    // Only the window has somebody to ask.
    TTransfer::TQuestionScope questions(m_transfer, m_parts.mainWindow != nullptr);
    PushSelected();
}

TAddressResult TPushCommands::CheckAddress()
{
    TPushingMark mark(m_pushing);
    if (!m_parts.localAddress)
        return TAddressResult::Failed(QStringLiteral("there is nothing to look the address up with"));
    const std::optional<TAddressSourceKind> source = ChosenAddressSource(*m_parts.options);
    // A slow source keeps the window open to the user; the status bar says what is going on.
    const bool slow = source == TAddressSourceKind::Web || source == TAddressSourceKind::Command;
    const QString checking = QStringLiteral("Checking the address... ") + AddressSourceText(*m_parts.options);
    if (slow && m_parts.statusBar)
        m_parts.statusBar->showMessage(checking);
    const TAddressResult found = m_parts.localAddress();
    if (slow && m_parts.statusBar && m_parts.statusBar->currentMessage() == checking)
        m_parts.statusBar->clearMessage();
    if (found.Connected() && source)
        NoteOnce(AddressNote(*source, found.address));
    return found;
}

// A command the user started waits for its address with the window held, as for a transfer. A
// failure that leaves no address ends it before anything is pushed; the "Local" rule's
// "127.0.0.1" is pushed as it always was.
QString TPushCommands::AddressForCommand()
{
    TWindowHeld held(m_parts.mainWindow);
    const TAddressResult found = CheckAddress();
    if (found.address.isEmpty()) {
        m_log.AddToLog(found.failure);
        throw Exception(found.failure);
    }
    return found.address;
}

void TPushCommands::NoteOnce(const QString &line)
{
    if (line.isEmpty() || m_notes.contains(line))
        return;
    m_notes.insert(line);
    m_log.AddToLog(line);
}

// The window is disabled during a push, so a refusal is seen only while a tick's address check
// runs or from outside the window (the tray).
bool TPushCommands::Refused() const
{
    if (!m_pushing && !m_stopping)
        return false;
    if (m_pushing && m_parts.statusBar)
        m_parts.statusBar->showMessage(QStringLiteral("A push or an address check is running; nothing was started"));
    return true;
}

void TPushCommands::Stop()
{
    m_stopping = true;
    m_transfer.TransferCancelled = true;
    if (m_parts.abandonAddressCheck)
        m_parts.abandonAddressCheck();
}

void TPushCommands::mniPopFilesPushFileClick()
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    // Only the window has somebody to ask.
    TTransfer::TQuestionScope questions(m_transfer, m_parts.mainWindow != nullptr);
    const QList<TListRow *> selected = FileList()->SelectedRows();
    if (selected.isEmpty())
        TMessageBox::Information(m_parts.mainWindow, QStringLiteral("No files selected to push..."));
    else if (selected.size() == 1)
        PushSelected();
    else
        PushSelectedRows(selected);
}

void TPushCommands::WalkSites(const QString &address)
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
        PushSite(address);
    }
}

void TPushCommands::PushSite(const QString &address)
{
    TRegListView *list = FileList();
    const QString lastIPAddress = LastIPAddress()->text();
    const TAddressLookup current = [&address] { return address; };
    const int count = list->RowCount();
    TTransfer::TSiteSession session(m_transfer);
    for (int i = 0; i < count && !m_stopping; ++i) {
        TListRow *row = list->Row(i);
        if (!row || !FileNeedsPush(FileEntryOf(*row), lastIPAddress, current))
            continue;
        const bool pushed = PushRow(*row, address);
        SetFileStatus(*row, pushed ? FileStatus::Moved : FileStatus::Error);
        if (pushed) {
            ++m_tally.pushed;
        } else if (m_tally.failed++ == 0) {
            m_tally.firstFailure = m_transfer.LastFailure();
        }
    }
    session.End();
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
    const QString address = NeedsAddress(FileEntryOf(*row)) ? AddressForCommand() : QString();
    // Only the status: the stored details stay those of the last push that change detection
    // asked for, so a file changed since then is still found due.
    row->SetSubItem(colStatus, PushRow(*row, address) ? FileStatus::Moved : FileStatus::Error);
}

void TPushCommands::PushSelectedRows(const QList<TListRow *> &rows)
{
    const QString question = QStringLiteral("Push the %1 selected files?").arg(rows.size());
    if (TMessageBox::ConfirmOkCancel(m_parts.mainWindow, question) != TMessageBox::TAnswer::Ok)
        return;
    const bool needed =
        std::any_of(rows.begin(), rows.end(), [](TListRow *row) { return NeedsAddress(FileEntryOf(*row)); });
    const QString address = needed ? AddressForCommand() : QString();
    // Forced like a single selected file: whatever their state, and only the status written.
    TTransfer::TSiteSession session(m_transfer);
    for (TListRow *row : rows)
        row->SetSubItem(colStatus, PushRow(*row, address) ? FileStatus::Moved : FileStatus::Error);
    session.End();
}

bool TPushCommands::PushRow(TListRow &row, const QString &address)
{
    return m_transfer.TransferFile(m_parts.catalogue->CurrentSite(), FileEntryOf(row), address);
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
