// A site as the store keeps it, and its passage to and from the store without any control.
//
// A site is the key WWWSites\<name>: the four site fields and the site's options as values, and
// one "Item#<i>" key per file row. The window's persisted controls (the site fields, the option
// controls and the file list) store and load through the same functions, so a program without a
// window reads and writes exactly what the window would: a field the key lacks keeps the text
// the site before left, an option the key lacks means what it did before options existed, a row
// loaded with column texts holds one per column of the list.
#pragma once

#include "catalogue/P_Types.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <span>
#include <variant>

namespace quelmark {

class TRegIniFile;

// ---- the site fields ----------------------------------------------------------------------

// A site field: a text of TSite with its store name and the name of its text box.
struct TSiteField {
    QString TSite::*value;
    const QString &storeName;
    const char *objectName;
};

// The site fields in the order they are shown and stored.
std::span<const TSiteField> SiteFieldTable();

// ---- the site's options -------------------------------------------------------------------

// An option that is on or off, shown as a check box captioned with its text.
struct TFlagOption {
    bool TSite::*value;
    bool forNewSite;
};

// A number within a range, shown as a spin box after its caption.
struct TCountOption {
    int TSite::*value;
    int minimum;
    int maximum;
    int forNewSite;
};

// An option that is on or off, shown as a check box, stored as one of two texts.
struct TSwitchOption {
    QString TSite::*value;
    const QString &off;
    const QString &on;
    const QString &forNewSite;
};

// One of a few texts, shown as a drop-down after its caption.
struct TChoiceOption {
    QString TSite::*value;
    const QStringList &choices;
    const QString &forNewSite;
};

// A free text, shown as a text box after its caption, in half a row; a path gets a button that
// browses for it.
struct TTextOption {
    QString TSite::*value;
    bool browse = false;
};

using TOptionKind = std::variant<TFlagOption, TCountOption, TSwitchOption, TChoiceOption, TTextOption>;

// A site option: one more is one more field of TSite, one more store name and one more row.
// An option of FTP alone is out of reach while the site speaks SFTP; its value stays.
struct TSiteOption {
    const QString &storeName;
    const char *objectName;
    const char *caption;
    TOptionKind kind;
    bool ftpOnly = false;
};

// The site's options in the order they are shown and stored.
std::span<const TSiteOption> SiteOptionTable();

// Returns a site with the options the "New Web Site" dialog proposes and no other values.
TSite NewSiteOptions();

// Trims a non-blank host directory and makes it end with "/". A text that is blank, or whose
// trimmed form already ends with "/", is left exactly as it is.
void NormalizeHostDir(QString &text);

// Returns the site as the engine uses it: the texts of its free-text options without blanks at
// either end, as the option controls hand them out.
TSite SiteInUse(TSite site);

// ---- the file rows ------------------------------------------------------------------------

// One row of a site's file list as stored: the caption (the local file), the column texts and
// three marks that are stored and restored with the row and have no other use.
struct TStoredRow {
    QString caption{};
    QStringList texts{};
    bool checked = false;
    int imageIndex = 0;
    int stateIndex = -1;
};

// The number of column texts a row loaded with any holds: one per column of the file list, the
// caption's included.
inline constexpr int kLoadedColumnCount = kFileColumnCount + 1;

// Returns the file entry a row holds; texts the row lacks are empty.
TFileEntry FileEntryOf(const TStoredRow &row);
// Returns a row as the program makes it: the caption and seven column texts.
TStoredRow StoredRowOf(const TFileEntry &entry);

// ---- reading and writing ------------------------------------------------------------------

// Reads the rows below the accessor's key (the site's key), in their saved order; a row with
// column texts gets empty ones up to columns. Each row is appended before its values are read,
// so a read that fails leaves the rows read so far, the one it failed in included.
void ReadRows(TRegIniFile &site, int columns, QList<TStoredRow> &rows);
// Replaces the rows of the site key siteSection (relative to ini's key, which is basePath): the
// key is made anew, so rows removed since the last save, and anything another tool put there,
// disappear, and rows are numbered again from 0.
void WriteRows(TRegIniFile &ini, const QString &basePath, const QString &siteSection, const QList<TStoredRow> &rows);

// Reads the site fields and options from the section (a site's key relative to ini's key); a
// value the section lacks leaves the field as it was. Whether the password is in the keyring
// is read too; the keyring itself is not asked (FetchPassword does that).
void ReadSiteValues(TRegIniFile &ini, const QString &section, TSite &site);
// Writes the site fields and options into the section, the password as the site holds it and
// PasswordInKeyring when it is in the keyring (PasswordForStore decides).
void WriteSiteValues(TRegIniFile &ini, const QString &section, const TSite &site);

// ---- the password -------------------------------------------------------------------------

// Returns the service the desktop keyring files this store's passwords under, each under its
// site's name: the sites of two stores never share an entry.
QString KeyringService();
// Reads the password of a site whose store says it is in the keyring into site.password; when
// the keyring cannot give it, site.passwordProblem says why. Nothing for any other site.
void FetchPassword(TSite &site);
// Puts the site's password where useKeyring says and returns the site as the store is to hold
// it. With useKeyring, where a keyring answers, the password goes into it and the store keeps
// none; where none answers the store keeps it, and the log says so once. Without useKeyring the
// store keeps it and the keyring's entry goes. Nothing goes into the store in clear that was not
// there: a password the keyring could not give, or would not take, stays where it was.
TSite PasswordForStore(TSite site, bool useKeyring);
// Removes the site's password from the keyring, if one answers.
void ForgetPassword(const QString &siteName);

// A site with its rows, as stored.
struct TSiteRecord {
    TSite site{};
    QList<TStoredRow> rows{};
};

// Reads the named site below the key basePath as the window loads it after showing previous: a
// field the key lacks keeps previous's text, an option the key lacks gets TSite's initial value.
// A password in the keyring is not fetched: FetchPassword does that where it is needed.
TSiteRecord LoadSiteRecord(const QString &basePath, const QString &name, const TSite &previous = {});
// Writes the site (named by record.site.name) and its rows below the key basePath, and with
// options the general options too, as one transaction: on failure the store keeps what it held.
// The password goes where options->useKeyring says; without options it stays where it is.
void SaveSiteRecord(const QString &basePath, const TSiteRecord &record, const struct TOptions *options = nullptr);
// Returns the key below which the program keeps all its data.
QString BaseKeyPath();

// Returns the names of the sites stored below basePath, in the store's order; raises the
// store's error when it cannot be read.
QStringList StoredSiteNames(const QString &basePath = BaseKeyPath());

} // namespace quelmark
