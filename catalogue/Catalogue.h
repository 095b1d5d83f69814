// The shown site and its passage between the window's controls and the store.
//
// At most one site is shown at a time: its fields and its file list live in controls of the
// main window (TShownSite, which the catalogue makes). TCatalogue writes that site back under
// the name in CurrentSiteName, reads another site into the controls, lists the stored sites and
// deletes one. The site fields and the list are persisted controls whose section and value name
// it points at the site before each whole-window save or load. A password in the desktop
// keyring is fetched after a load and put there before a save, outside the store's transaction.
#pragma once

#include "catalogue/ShownSite.h"

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace quelmark {

class TCatalogue {
public:
    // Makes the shown site's controls on page and ties the catalogue to the window whose
    // persisted controls it saves and loads; basePath is the key the whole-window operations
    // work below (BaseKeyPath() for the program).
    TCatalogue(QWidget *window, QWidget *page, QString basePath = BaseKeyPath());

    // The name of the site shown in the controls; empty when none is.
    const QString &CurrentSiteName() const { return m_currentSiteName; }
    void SetCurrentSiteName(const QString &name) { m_currentSiteName = name; }
    // Returns the shown site as values, named by CurrentSiteName.
    TSite CurrentSite() const;

    // Writes the shown site (when CurrentSiteName is set) and the general options, as one
    // transaction: on failure the store keeps what it held before. The password goes where
    // UseKeyring says (PasswordForStore).
    void SaveCurrentSite();
    // Reads the named site into the list, the site fields and the option controls and re-reads the
    // general options; an empty name does nothing. A site without a key gets an empty one. A
    // field the key lacks keeps its text; an option the key lacks shows TSite's initial value.
    void LoadSite(const QString &name);
    // Deletes the named site's key and everything below it, and its password in the keyring; an
    // empty name does nothing.
    void DeleteSiteKey(const QString &name);
    // Gives the named site another name: its key moves with everything below it, the shown
    // site's edits included, in one transaction, and the shown site keeps being shown under the
    // new name. On failure the store and CurrentSiteName are as they were.
    void RenameSite(const QString &name, const QString &newName);
    // Returns the stored site names in the store's order.
    QStringList ListSites();

    QWidget *Window() const { return m_window; }
    TShownSite &Shown() { return m_shown; }
    const TShownSite &Shown() const { return m_shown; }
    const QString &BasePath() const { return m_basePath; }

    // Tells whether passwords go into the desktop keyring ("Keep passwords in the desktop
    // keyring"); unset, each password stays where it is.
    std::function<bool()> UseKeyring;

private:
    QWidget *m_window = nullptr;
    TShownSite m_shown;
    QString m_basePath;
    QString m_currentSiteName;
};

} // namespace quelmark
