// Pushing changes at once.
//
// While the refresh timer runs and "Push changes at once" is checked, two watches stand beside
// the timer: the kernel's announcements of addresses and default routes, and the folders of the
// local files of all sites. Each burst of changes, once settled, becomes one cue for the refresh
// cycle: after a new address or route the source is asked whether the address changed; after a
// saved page the due files are pushed. The timer's periodic check stays as the safety net for
// what a watch cannot see. A watch the system refuses is logged once, and the timer goes on
// alone for it. Nothing polls: while nothing changes, the watches wake nobody.
#pragma once

#include "engine/EngineParts.h"

#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>

namespace quelmark {

class TActivityLog;
class TAddressWatch;
class TFolderWatch;

// What made a check come before its time.
enum class TCheckCue {
    Address, // the machine's addresses or default route changed
    Files,   // a local file of a site was saved
};

class TChangeWatch : public QObject {
    Q_OBJECT
public:
    using TCueEvent = std::function<void(QObject *sender, TCheckCue cue)>;

    // Reads the option and the sites from the parts' data and notes what it cannot watch in log.
    TChangeWatch(const TEngineParts &parts, TActivityLog &log, QObject *owner = nullptr);
    ~TChangeWatch() override;

    // Runs the watches while the timer runs and "Push changes at once" is checked, and ends them
    // otherwise; the files are read afresh when they start. Asked again whenever either may
    // have changed.
    void Follow(bool timerRunning);
    // Reads the local files of all sites afresh and watches their folders; does nothing while
    // the watches are off. A site that cannot be read is logged once and left out.
    void RefreshFiles();
    // True while the watches run.
    bool Watching() const { return m_watching; }

    TAddressWatch &Addresses() { return *m_addresses; }
    TFolderWatch &Folders() { return *m_folders; }

    // Raised once per settled burst; the handler checks, or notes the cue for later.
    TCueEvent OnCue;
    // Raised when the watches start or end, sender first.
    std::function<void(QObject *sender)> OnWatchingChange;

private:
    QStringList SiteFiles();
    void Cue(TCheckCue cue);
    void NoteOnce(const QString &line);

    TEngineParts m_parts;
    TActivityLog &m_log;
    TAddressWatch *m_addresses;
    TFolderWatch *m_folders;
    bool m_watching = false;
    // What was logged about watches that cannot be had, so it is said once per run.
    QSet<QString> m_noted;
};

} // namespace quelmark
