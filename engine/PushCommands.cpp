#include "engine/PushCommands.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "engine/ActivityLog.h"
#include "engine/AddressChoice.h"
#include "engine/Transfer.h"

#include <algorithm>
#include <utility>

namespace quelmark {

// Marks a command as running for exactly as long as it runs, however it ends. A mark inside a
// running command (its address check) leaves the command marked.
class TPushCommands::TPushingMark {
public:
    explicit TPushingMark(bool &pushing) : m_pushing(pushing), m_before(std::exchange(pushing, true)) {}
    ~TPushingMark() { m_pushing = m_before; }
    Q_DISABLE_COPY(TPushingMark)

private:
    bool &m_pushing;
    const bool m_before;
};

namespace {

// Tells whether a forced push of the entry writes the address into a copy.
bool NeedsAddress(const TPushEntry &entry)
{
    return !entry.ipParameter.isEmpty() && entry.fileType != TFileType::Binary;
}

} // namespace

// The end of a push-all, which runs however the walk ends: the user's commands let in again, the
// address in use and "Last IP Address:" showing the push's address ("Last IP Address:" only after
// a walk that completed; neither when no address was found), and the walk's end, which stores
// the last site and shows again what the user had shown.
class TPushCommands::TPushAllCleanup {
public:
    explicit TPushAllCleanup(TPushCommands &commands) : m_commands(commands)
    {
        m_commands.m_events.Hold(THold::PushAll, true);
        m_commands.m_parts.data->BeginWalk();
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

    Q_DISABLE_COPY(TPushAllCleanup)

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
        m_commands.m_events.Hold(THold::PushAll, false);
        if (!m_address.isEmpty() && !m_commands.m_stopping) {
            m_commands.m_events.AddressInUse(m_address);
            // Sites the walk never reached still hold entries that the old address made due;
            // they must stay due for the next check.
            if (m_done)
                m_commands.m_parts.data->SetLastIPAddress(m_address);
        }
        m_commands.m_parts.data->EndWalk();
    }

    TPushCommands &m_commands;
    QString m_address;
    bool m_done = false;
};

TPushCommands::TPushCommands(const TEngineParts &parts, TEngineObserver &events, TTransfer &transfer, TActivityLog &log)
    : m_parts(parts), m_events(events), m_transfer(transfer), m_log(log)
{
}

void TPushCommands::btnPushAllNowClick()
{
    TTransfer::TQuestionScope questions(m_transfer, true);
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
    if (!m_parts.data) {
        m_tally.completed = true;
        return;
    }
    const QString before = m_parts.data->Options().lastIPAddress;
    if (m_parts.data->SiteNames().isEmpty()) {
        m_tally.completed = true;
        // No page to push, yet a new address is news all the same, for whatever else follows it.
        if (address && NoteNewAddress(before, *address) && OnNewAddressPushed)
            OnNewAddressPushed(before, *address);
        return;
    }
    TPushAllCleanup cleanup(*this);
    const QString found = address ? *address : AddressForCommand();
    cleanup.SetAddress(found);
    const bool newAddress = NoteNewAddress(before, found);
    WalkSites(found);
    cleanup.Finish();
    m_tally.completed = !m_stopping;
    m_log.AddToLog(m_stopping ? QStringLiteral(">>>> Stopped checking files...")
                              : QStringLiteral(">>>> Done checking all files..."));
    if (newAddress && m_tally.completed && OnNewAddressPushed)
        OnNewAddressPushed(before, found);
}

void TPushCommands::btnPushAllSiteNowClick()
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    TTransfer::TQuestionScope questions(m_transfer, true);
    m_tally = {};
    const QString address = AddressForCommand();
    TSiteEntries shown = m_parts.data->ShownSite();
    PushSite(shown, address);
    m_tally.completed = true;
}

void TPushCommands::PushShownSite(const QString &address)
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    m_tally = {};
    TSiteEntries shown = m_parts.data->ShownSite();
    PushSite(shown, address);
    m_tally.completed = true;
}

void TPushCommands::PushOneSite(const QString &name, const QString &address)
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    m_tally = {};
    TEngineData &data = *m_parts.data;
    data.BeginWalk();
    try {
        TSiteEntries site = data.OpenSite(name);
        PushSite(site, address);
    } catch (...) {
        try {
            data.EndWalk();
        } catch (...) {
            // The push's own error is the one to tell; this one would only hide it.
        }
        throw;
    }
    data.EndWalk();
    m_tally.completed = true;
}

void TPushCommands::btnPushSelectedNowClick()
{
    // The button and the list's "Push File(s)" are one command: a button that pushed only the
    // first of several selected rows left the others behind without a word.
    mniPopFilesPushFileClick();
}

TAddressResult TPushCommands::CheckAddress()
{
    TPushingMark mark(m_pushing);
    if (!m_parts.localAddress)
        return TAddressResult::Failed(QStringLiteral("there is nothing to look the address up with"));
    const TOptions options = m_parts.data ? m_parts.data->Options() : TOptions{};
    const std::optional<TAddressSourceKind> source = ChosenAddressSource(options);
    // A slow source keeps the window open to the user; the status line says what is going on.
    const bool slow = source == TAddressSourceKind::Web || source == TAddressSourceKind::Command;
    const QString checking = QStringLiteral("Checking the address... ") + AddressSourceText(options);
    if (slow)
        m_events.Note(checking);
    const TAddressResult found = m_parts.localAddress();
    if (slow)
        m_events.NoteDone(checking);
    if (found.Connected() && source)
        NoteOnce(AddressNote(*source, found.address));
    return found;
}

// A command the user started waits for its address with the user's commands held back, as for a
// transfer. A failure that leaves no address ends it before anything is pushed; the "Local"
// rule's "127.0.0.1" is pushed as it always was.
QString TPushCommands::AddressForCommand()
{
    THeldScope held(m_events, THold::AddressCheck);
    const TAddressResult found = CheckAddress();
    if (found.address.isEmpty()) {
        m_log.AddToLog(found.failure);
        throw Exception(found.failure);
    }
    return found.address;
}

bool TPushCommands::NoteNewAddress(const QString &before, const QString &address)
{
    if (address.isEmpty() || address == before)
        return false;
    m_log.AddToLog(QStringLiteral("Address changed: %1 -> %2")
                       .arg(before.isEmpty() ? QStringLiteral("(none)") : PrintableText(before), address));
    return true;
}

void TPushCommands::NoteOnce(const QString &line)
{
    if (line.isEmpty() || m_notes.contains(line))
        return;
    m_notes.insert(line);
    m_log.AddToLog(line);
}

// The window holds its commands back during a push, so a refusal is seen only while a tick's
// address check runs or from outside the window (the tray).
bool TPushCommands::Refused() const
{
    if (!m_pushing && !m_stopping)
        return false;
    if (m_pushing)
        m_events.Note(QStringLiteral("A push or an address check is running; nothing was started"));
    return true;
}

void TPushCommands::Stop(const QString &reason)
{
    if (!m_stopping)
        m_transfer.CancelReason = reason;
    m_stopping = true;
    m_transfer.TransferCancelled = true;
    if (m_parts.abandonAddressCheck)
        m_parts.abandonAddressCheck();
}

void TPushCommands::Resume()
{
    m_stopping = false;
    m_transfer.CancelReason.clear();
}

void TPushCommands::mniPopFilesPushFileClick()
{
    if (Refused())
        return;
    TPushingMark mark(m_pushing);
    TTransfer::TQuestionScope questions(m_transfer, true);
    const QList<int> selected = m_parts.data->SelectedRows();
    if (selected.isEmpty())
        m_events.Ask(TQuestion::Inform, QStringLiteral("No files selected to push..."));
    else if (selected.size() == 1)
        PushSelected();
    else
        PushSelectedRows(selected);
}

QString TPushCommands::TestConnection(TSite site)
{
    if (Refused())
        return QString();
    TPushingMark mark(m_pushing);
    TTransfer::TQuestionScope questions(m_transfer, true);
    return m_transfer.TestConnection(site);
}

void TPushCommands::WalkSites(const QString &address)
{
    TEngineData &data = *m_parts.data;
    const QStringList names = data.SiteNames();
    for (const QString &name : names) {
        if (m_stopping)
            break;
        TSiteEntries site = data.OpenSite(name);
        PushSite(site, address);
    }
}

void TPushCommands::PushSite(TSiteEntries &site, const QString &address)
{
    const QString lastIPAddress = m_parts.data->Options().lastIPAddress;
    const TAddressLookup current = [&address] { return address; };
    TTransfer::TSiteSession session(m_transfer);
    for (int i = 0; i < site.entries.size() && !m_stopping; ++i) {
        // Without an address, a page that carries one waits for a check that finds it.
        if (address.isEmpty() && !site.entries[i].ipParameter.isEmpty())
            continue;
        if (!FileNeedsPush(site.entries[i], lastIPAddress, current))
            continue;
        const bool pushed = PushRow(site, i, address);
        TPushEntry &entry = site.entries[i];
        entry = WithStatus(entry, pushed ? TFileStatus::Moved : TFileStatus::Error, m_transfer.SentDetails());
        if (pushed) {
            const TFileDetails details{entry.fileDateTime, entry.fileSize, entry.attribs};
            m_parts.data->SetStatus(i, entry.status, &details);
            ++m_tally.pushed;
        } else {
            m_parts.data->SetStatus(i, entry.status, nullptr);
            if (m_tally.failed++ == 0)
                m_tally.firstFailure = m_transfer.LastFailure();
        }
    }
    session.End();
}

void TPushCommands::PushSelected()
{
    const QList<int> selected = m_parts.data->SelectedRows();
    if (selected.isEmpty())
        return;
    TSiteEntries shown = m_parts.data->ShownSite();
    const int row = selected.first();
    const QString question =
        QStringLiteral("Push the file: ") + PrintableText(shown.entries.value(row).localFile) + QStringLiteral("?");
    if (!m_events.Ask(TQuestion::Confirm, question).value_or(false))
        return;
    const QString address = NeedsAddress(shown.entries.value(row)) ? AddressForCommand() : QString();
    // Only the status: the stored details stay those of the last push that change detection
    // asked for, so a file changed since then is still found due.
    m_parts.data->SetStatus(row, PushRow(shown, row, address) ? TFileStatus::Moved : TFileStatus::Error, nullptr);
}

void TPushCommands::PushSelectedRows(const QList<int> &rows)
{
    const QString question = QStringLiteral("Push the %1 selected files?").arg(rows.size());
    if (!m_events.Ask(TQuestion::Confirm, question).value_or(false))
        return;
    TSiteEntries shown = m_parts.data->ShownSite();
    const bool needed =
        std::any_of(rows.begin(), rows.end(), [&shown](int row) { return NeedsAddress(shown.entries.value(row)); });
    const QString address = needed ? AddressForCommand() : QString();
    // Forced like a single selected file: whatever their state, and only the status written.
    TTransfer::TSiteSession session(m_transfer);
    for (const int row : rows)
        m_parts.data->SetStatus(row, PushRow(shown, row, address) ? TFileStatus::Moved : TFileStatus::Error, nullptr);
    session.End();
}

bool TPushCommands::PushRow(TSiteEntries &site, int row, const QString &address)
{
    return m_transfer.TransferFile(site.site, site.entries.value(row), address);
}

} // namespace quelmark
