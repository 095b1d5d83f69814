#include "engine/ChangeWatch.h"

#include "base/Exception.h"
#include "engine/ActivityLog.h"
#include "net/AddressWatch.h"
#include "net/FolderWatch.h"

#include <QFileInfo>

namespace quelmark {

TChangeWatch::TChangeWatch(const TEngineParts &parts, TActivityLog &log, QObject *owner)
    : QObject(owner), m_parts(parts), m_log(log), m_addresses(new TAddressWatch(this)),
      m_folders(new TFolderWatch(this))
{
    m_addresses->OnChanged = [this](QObject *) { Cue(TCheckCue::Address); };
    m_folders->OnChanged = [this](QObject *, const QStringList &) { Cue(TCheckCue::Files); };
}

TChangeWatch::~TChangeWatch() = default;

void TChangeWatch::Follow(bool timerRunning)
{
    const bool watch = timerRunning && m_parts.data && m_parts.data->Options().watchChanges;
    if (watch == m_watching)
        return;
    m_watching = watch;
    if (watch) {
        if (!m_addresses->Start())
            NoteOnce(m_addresses->Error() + QStringLiteral("; a new address waits for the next check"));
        RefreshFiles();
    } else {
        m_addresses->Stop();
        m_folders->Clear();
    }
    if (OnWatchingChange)
        OnWatchingChange(this);
}

void TChangeWatch::RefreshFiles()
{
    if (!m_watching)
        return;
    if (!m_folders->SetFiles(SiteFiles()))
        NoteOnce(m_folders->Error() + QStringLiteral("; its files wait for the next check"));
}

QStringList TChangeWatch::SiteFiles()
{
    TEngineData &data = *m_parts.data;
    QSet<QString> files;
    for (const QString &site : data.SiteNames()) {
        try {
            for (const TPushEntry &entry : data.ReadSite(site).entries) {
                if (!entry.localFile.isEmpty())
                    files.insert(QFileInfo(entry.localFile).absoluteFilePath());
            }
        } catch (const Exception &error) {
            NoteOnce(QStringLiteral("The files of site %1 cannot be watched: %2").arg(site, error.Message()));
        }
    }
    return QStringList(files.cbegin(), files.cend());
}

void TChangeWatch::Cue(TCheckCue cue)
{
    if (m_watching && OnCue)
        OnCue(this, cue);
}

void TChangeWatch::NoteOnce(const QString &line)
{
    if (m_noted.contains(line))
        return;
    m_noted.insert(line);
    m_log.AddToLog(line);
}

} // namespace quelmark
