// The engine's values for a program without a window: the general options and the sites as the
// store holds them, read and written by the catalogue's widget-free part.
//
// It keeps what the window keeps in its controls: the general options, read once (LoadOptions)
// and written back with every save, and the one site a walk has open, whose statuses go to the
// store when the walk leaves it. A store holds exactly what the window would have written in
// the same run.
#pragma once

#include "catalogue/SiteRecord.h"
#include "engine/EngineObserver.h"

namespace quelmark {

class TStoreSites : public TEngineData {
public:
    // Works below the key basePath, starting from the options of a store that holds none.
    explicit TStoreSites(QString basePath);
    TStoreSites(QString basePath, const TOptions &initial);

    // Reads the general options from the store, as the window does when it is first shown.
    void LoadOptions();
    // Writes the open site, if any, and the general options, as one transaction.
    void Save();

    TOptions Options() override { return m_options; }
    void SetLastIPAddress(const QString &address) override { m_options.lastIPAddress = address; }
    // The stored sites, in the store's order.
    QStringList SiteNames() override;
    TSiteEntries ReadSite(const QString &name) override;
    // The site a walk has open; none outside a walk.
    TSiteEntries ShownSite() override;
    void BeginWalk() override {}
    // Saves the site open so far and reads the named one, its password from the keyring where it
    // is kept there; a field its key lacks keeps the text the site before left, as on the
    // window's site page.
    TSiteEntries OpenSite(const QString &name) override;
    // Saves the open site and closes it.
    void EndWalk() override;
    void SetStatus(int row, TFileStatus status, const TFileDetails *details) override;
    void TrustCertificate(const QString &site, const QString &fingerprint) override;

private:
    static TSiteEntries EntriesOf(const TSiteRecord &record);

    QString m_basePath;
    TOptions m_options;
    // The open site; no name when none is open.
    TSiteRecord m_open;
};

} // namespace quelmark
