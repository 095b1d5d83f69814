// The push commands: all files of all sites, all files of the shown site, the selected file,
// and "Push File(s)" of the file list's popup menu.
//
// The first two push only the entries that change detection finds due; the selected-file
// command forces one entry after asking. Each file goes through the transfer, and its result
// becomes the entry's status, "Moved" or "Error". Pushes never nest: while one runs, a second
// request (a user command or a timer tick dispatched inside the transfer) does nothing.
//
// An error raised inside a command (a file that cannot be read for substitution, a store that
// cannot be written) ends the command after its clean-up and propagates to the caller, which
// hands it to the general error display.
#pragma once

#include "engine/EngineParts.h"

#include <QString>

class QTreeWidgetItem;

namespace quelmark {

class TActivityLog;
class TListRow;
class TRegListView;
class TTransfer;

class TPushCommands {
public:
    // Pushes through transfer and logs to log. The parts' localAddress is asked by change
    // detection and for the two address fields after a push-all.
    TPushCommands(const TEngineParts &parts, TTransfer &transfer, TActivityLog &log);
    TPushCommands(const TPushCommands &) = delete;
    TPushCommands &operator=(const TPushCommands &) = delete;

    // Pushes every due entry of every site, site by site in navigator order, and leaves the
    // navigator, the detail page and the store as a change back to the remembered node does.
    // Logs ">>>> Checking all files..." first and, when the walk completed,
    // ">>>> Done checking all files...".
    void btnPushAllNowClick();
    // Pushes every due entry of the shown site, first row to last.
    void btnPushAllSiteNowClick();
    // Asks "Push the file: <name>?" for the first selected row and, on OK, uploads it whatever
    // its state; writes only the status.
    void btnPushSelectedNowClick();
    // "Push File(s)": refuses with a note when nothing is selected, forces one selected row,
    // and pushes the whole site as due when several are selected.
    void mniPopFilesPushFileClick();

    // True while a command runs, from its start to the end of its clean-up.
    bool Pushing() const { return m_pushing; }

    // Ends the running command early, for a program asked to end or to hand the store over:
    // its transfer is cancelled as Cancel does, the rows and sites after it are left as they
    // are, a push-all leaves "Last IP Address:" alone (entries not reached must still find the
    // address changed) and logs ">>>> Stopped checking files..." instead of its last line. No
    // command starts until Resume().
    void Stop();
    void Resume() { m_stopping = false; }
    bool Stopping() const { return m_stopping; }

private:
    class TPushAllCleanup;
    class TPushingMark;

    TRegListView *FileList() const;
    void PushSite();
    void PushSelected();
    bool PushRow(TListRow &row);
    void WalkSites();
    QLineEdit *LastIPAddress() const;

    TEngineParts m_parts;
    TTransfer &m_transfer;
    TActivityLog &m_log;
    bool m_pushing = false;
    bool m_stopping = false;
};

} // namespace quelmark
