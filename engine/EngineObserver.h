// The push engine's two faces to the outside: the values it works on come in through
// TEngineData, and what it does goes out as events to TEngineObserver.
//
// How the pieces meet
// -------------------
// Values in. The engine (refresh cycle, change detection, push commands, transfer) reads no
// control and no store of its own: it asks its TEngineData for the general options (one TOptions
// value, catalogue/Settings.h) each time it starts a piece of work, so a change on the
// "General Options" page counts from the next check on, and for the sites it pushes, one site
// at a time as a TSiteEntries value (TSite with its entries). Statuses and file types are the
// enums TFileStatus and TFileType here; their texts live only in the store and on screen
// (catalogue/P_Types.h), and the data converts at its border.
//
// There are two TEngineData:
// - the window's (engine/EngineView.h, TWindowSites): the options are a snapshot of the
//   "General Options" controls (TGeneralOptions::Get) taken at each call; the shown site is a
//   snapshot of the site page's controls; a walk over the sites shows each site on the page as the
//   window always did and stores the one shown before, so the statuses it writes back land in
//   the file list first and in the store with the site's next save;
// - the store's (engine/StoreSites.h, TStoreSites), for runs without a window: the options and
//   each site are read from the store by the catalogue's widget-free part (catalogue/Settings.h,
//   catalogue/SiteRecord.h) and written back there when the walk leaves the site.
//
// Events out. Everything the engine has to show or ask goes to TEngineObserver: log lines,
// the holds that keep the user's commands out while the engine works, a transfer's start,
// progress (bytes sent of the file's size) and end, the address it pushes with, notes for a
// status line, questions (trusting a certificate, confirming a forced push), each file's result
// with its reason, each check's report and the timer's state. Every method has an empty default,
// so an observer implements only what it shows. Several observers may listen at once
// (TEngine::AddObserver): the window's (TEngineView, which drives the log's display, the progress
// window, the status bar, the address field and the timer's button and animation), a handed-over
// run's (which copies the log lines to the terminal that asked), the service's (which prints
// them) and a test's. A question goes to the observers in turn until one answers; when none does,
// nobody is there to ask and the answer is No.
//
// The engine is put together in one place, engine/Engine.h, from TEngineParts; the window, the
// runs without a window, the tests and the benchmarks all build it there.
#pragma once

#include "catalogue/Settings.h"
#include "engine/ChangeDetection.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quelmark {

// A site with its file entries, first row to last.
struct TSiteEntries {
    TSite site{};
    QList<TPushEntry> entries{};
};

// Where the engine's values come from and where its results go back to.
class TEngineData {
public:
    virtual ~TEngineData() = default;

    // The general options as they stand now.
    virtual TOptions Options() = 0;
    // Keeps the address that the last complete push of all sites published ("Last IP Address:").
    virtual void SetLastIPAddress(const QString &address) = 0;

    // The names of the sites, in the order a push of all sites walks them.
    virtual QStringList SiteNames() = 0;
    // Returns the named site as the program holding it sees it now: the shown one with what its
    // controls hold, any other as stored. Changes nothing.
    virtual TSiteEntries ReadSite(const QString &name) = 0;
    // Returns the shown site; its name is empty when none is shown.
    virtual TSiteEntries ShownSite() = 0;

    // A walk over sites: BeginWalk, then OpenSite for each site, then EndWalk, also when an
    // error ends the walk. OpenSite stores the site shown so far and makes the named one the
    // shown site; EndWalk stores the last one and shows again what was shown before the walk.
    virtual void BeginWalk() = 0;
    virtual TSiteEntries OpenSite(const QString &name) = 0;
    virtual void EndWalk() = 0;

    // Sets the status of the shown site's entry at row and, when details is given, its file
    // details.
    virtual void SetStatus(int row, TFileStatus status, const TFileDetails *details) = 0;
    // Keeps a server certificate the user trusted for the named site, stored at once; nothing
    // when that site is not the shown one.
    virtual void TrustCertificate(const QString &site, const QString &fingerprint) = 0;
    // The rows of the shown site the user has selected, first to last; none without a window.
    virtual QList<int> SelectedRows() { return {}; }
};

// What one check of the refresh cycle found, for whoever shows it.
struct TCheckReport {
    // When the check began.
    QDateTime time;
    // One line: "2 files pushed", "nothing was due", "not connected", ...
    QString result;
    // The first error the check met: a file's failure or the error that stopped the check;
    // empty when it met none.
    QString failure;
    // Why the address check failed while the machine kept an address of its own, so the last
    // good address stays in use; empty when the check found the address or the machine had none.
    QString addressFailure{};
};

// What one file's push came to.
struct TFileResult {
    QString site;
    QString localFile;
    QString hostFileName;
    bool pushed = false;
    // Why it failed; empty when it was pushed.
    QString reason;
};

// The work during which the engine keeps the user's commands out.
enum class THold {
    // A command the user started waits for the machine's address.
    AddressCheck,
    // A push of all sites walks them.
    PushAll,
    // A shared session ends between two files.
    SessionEnd,
    // A connection test logs in to a server and out again.
    ConnectionTest,
};

// The questions the engine asks.
enum class TQuestion {
    // Whether to trust a server certificate or host key that failed the check (Yes/No).
    Trust,
    // Whether to go on with a push the user asked for (OK/Cancel).
    Confirm,
    // Something the user has to know; the answer does not count.
    Inform,
};

class TEngineObserver {
public:
    virtual ~TEngineObserver() = default;

    // A line the log got, as the log holds it (time stamp included).
    virtual void LogLine(const QString &line) { (void)line; }
    // The log ran out of room and starts again; the line that says so follows.
    virtual void LogCleared() {}

    // The engine begins (on) or ends (off) work that keeps the user's commands out.
    virtual void Hold(THold hold, bool on) { (void)hold, (void)on; }

    // A transfer of localFile starts, moves on (sent of size bytes; size 0 for a file of no
    // bytes) and ends, however it ends.
    virtual void TransferStarted(const QString &localFile) { (void)localFile; }
    virtual void TransferProgress(const QString &localFile, std::int64_t sent, std::int64_t size)
    {
        (void)localFile, (void)sent, (void)size;
    }
    virtual void TransferEnded() {}
    // Tells whether the observer shows the lines of a page and of its upload copy; only then
    // are they gathered and handed to PageCopied, once the page has been read whole.
    virtual bool ShowsPageLines() const { return false; }
    virtual void PageCopied(const QStringList &page, const QStringList &copy) { (void)page, (void)copy; }

    // The address the engine pushes with now.
    virtual void AddressInUse(const QString &address) { (void)address; }
    // A note for a status line, and the end of a note that passes: clears it if it still stands.
    virtual void Note(const QString &text) { (void)text; }
    virtual void NoteDone(const QString &text) { (void)text; }

    // Asks the user; returns the answer (Yes and OK are true), or nothing when this observer
    // has nobody to ask.
    virtual std::optional<bool> Ask(TQuestion question, const QString &text)
    {
        (void)question, (void)text;
        return std::nullopt;
    }

    // One file's push ended.
    virtual void FileDone(const TFileResult &result) { (void)result; }
    // One check of the refresh cycle ended.
    virtual void CheckDone(const TCheckReport &report) { (void)report; }
    // The refresh cycle's timer started (running) or stopped.
    virtual void TimerChanged(bool running) { (void)running; }
};

// Keeps the user's commands out, telling observers of hold, for as long as it lives.
class THeldScope {
public:
    THeldScope(TEngineObserver &events, THold hold) : m_events(events), m_hold(hold) { m_events.Hold(m_hold, true); }
    ~THeldScope() { m_events.Hold(m_hold, false); }
    Q_DISABLE_COPY_MOVE(THeldScope)

private:
    TEngineObserver &m_events;
    THold m_hold;
};

} // namespace quelmark
