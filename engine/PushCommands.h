// The push commands: all files of all sites, all files of the shown site, the selected file,
// and "Push File(s)" of the file list's popup menu.
//
// The commands the user starts in the window may ask (through the engine's observers) whether to
// trust a server's certificate or host key; the same pushes run by the timer or for a caller
// (PushAll, PushShownSite, PushOneSite) never ask.
//
// The first two push only the entries that change detection finds due; the selected-file
// command forces one entry after asking. Each file goes through the transfer, and its result
// becomes the entry's status, "Moved" or "Error". The files of one site push, and several
// selected files, share one FTP session unless "One FTP session per site" is unchecked.
// Pushes never nest: while one runs, a second request (a user command or a timer tick
// dispatched inside the transfer) does nothing.
//
// A file that cannot be pushed (the server refuses it, the local page cannot be read, the user
// cancels) is that entry's "Error" and the walk goes on. An error raised inside a command (a
// store that cannot be written, an upload copy that cannot be made) ends the command after its
// clean-up and propagates to the caller, which reports it.
#pragma once

#include "engine/EngineParts.h"

#include <QSet>
#include <QString>

#include <functional>

namespace quelmark {

class TActivityLog;
class TTransfer;

// What the last push of all sites or of the shown site did.
struct TPushTally {
    int pushed = 0;
    int failed = 0;
    // The reason of the first failed file; empty when none failed.
    QString firstFailure;
    // True when the push went through every site and row; false when an error ended it.
    bool completed = false;
};

// What the log says of an upload that Stop cancelled.
inline const QString kEndRequestedReason = QStringLiteral("Cancelled: the program was asked to end");

class TPushCommands {
public:
    // Pushes through transfer, logs to log and tells events. Every command looks the address up
    // once through the parts' localAddress and hands that one answer to change detection, the
    // upload copies and the address fields.
    TPushCommands(const TEngineParts &parts, TEngineObserver &events, TTransfer &transfer, TActivityLog &log);
    Q_DISABLE_COPY(TPushCommands)

    // Pushes every due entry of every site, site by site in the data's order, as one walk (the
    // data's BeginWalk, OpenSite and EndWalk), the user's commands held back meanwhile. Logs
    // ">>>> Checking all files..." first and, when the walk completed,
    // ">>>> Done checking all files...". "Last IP Address:" takes the address only when the
    // walk completed, so what an error kept from going out is still due next time. The address
    // is looked up once there are sites to walk, the user's commands held back; a look-up that
    // leaves no address is logged and raised as Exception, and nothing is pushed. An address
    // that is not "Last IP Address:" is logged first as "Address changed: <old> -> <new>", and a
    // walk with it that completed (or found no site to walk) raises OnNewAddressPushed.
    void btnPushAllNowClick();
    // Pushes all sites as btnPushAllNowClick does with the address a caller has looked up. An
    // empty address is one the check could not find: the entries with an IP parameter wait, the
    // others are pushed as due, and "Last IP Address:" stays.
    void PushAll(const QString &address);
    // Pushes every due entry of the shown site, first row to last, after one look-up.
    void btnPushAllSiteNowClick();
    // Pushes the shown site as btnPushAllSiteNowClick does with the address a caller has
    // looked up.
    void PushShownSite(const QString &address);
    // Pushes every due entry of the named site with the address a caller has looked up, as a
    // walk over that one site: the site is shown for the while, and what was shown before is
    // shown again after, which stores it.
    void PushOneSite(const QString &name, const QString &address);
    // Pushes the selected rows as mniPopFilesPushFileClick does.
    void btnPushSelectedNowClick();
    // "Push File(s)": refuses with a note when nothing is selected, forces one selected row,
    // and forces exactly the selected rows, after one question naming how many, when several
    // are selected. A forced push writes only the status.
    void mniPopFilesPushFileClick();
    // "Test connection": logs in to the site's server, looks for its default directory and logs
    // out (TTransfer::TestConnection), a running command as a push is, asking the user about a
    // certificate or host key that fails the check. Returns what it found in one line; nothing
    // when a push is running.
    QString TestConnection(TSite site);

    // Looks the address up once through the parts' localAddress and returns the outcome. The
    // look-up counts as a running command, so no tick, command or handed-over run starts a push
    // while a slow source is asked; the user's commands are not held back. Logs the note an
    // address calls for (AddressNote) once per run and address.
    TAddressResult CheckAddress();

    // Raised after a push of all sites with a new address, with the address before ("Last IP
    // Address:", maybe empty) and the new one.
    std::function<void(const QString &oldAddress, const QString &address)> OnNewAddressPushed;

    // True while a command or an address check runs, from its start to the end of its clean-up.
    bool Pushing() const { return m_pushing; }
    // What the last push of all sites or of the shown site did.
    const TPushTally &LastTally() const { return m_tally; }

    // Ends the running command early, for a program asked to end or to hand the store over:
    // an address check is abandoned, its transfer is cancelled as Cancel does, the rows and
    // sites after it are left as they are, a push-all leaves "Last IP Address:" alone (entries
    // not reached must still find the address changed) and logs ">>>> Stopped checking
    // files..." instead of its last line. No command starts until Resume(). A cancelled upload
    // is logged with reason, "Cancelled: the program was asked to end" unless another is given;
    // the first reason since the stop began stands.
    void Stop(const QString &reason = kEndRequestedReason);
    void Resume();
    bool Stopping() const { return m_stopping; }

private:
    class TPushAllCleanup;
    class TPushingMark;

    bool Refused() const;
    void PushAllSites(const QString *address);
    QString AddressForCommand();
    void PushSite(TSiteEntries &site, const QString &address);
    void PushSelected();
    void PushSelectedRows(const QList<int> &rows);
    bool PushRow(TSiteEntries &site, int row, const QString &address);
    void WalkSites(const QString &address);
    bool NoteNewAddress(const QString &before, const QString &address);
    void NoteOnce(const QString &line);

    TEngineParts m_parts;
    TEngineObserver &m_events;
    TTransfer &m_transfer;
    TActivityLog &m_log;
    bool m_pushing = false;
    bool m_stopping = false;
    TPushTally m_tally;
    // The notes about addresses written so far in this run.
    QSet<QString> m_notes;
};

} // namespace quelmark
