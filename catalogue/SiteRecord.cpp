#include "catalogue/SiteRecord.h"

#include "base/Overloaded.h"
#include "base/Printable.h"
#include "catalogue/Keyring.h"
#include "catalogue/Registry.h"
#include "catalogue/Settings.h"

#include <algorithm>

namespace quelmark {

namespace {

const TSiteField kSiteFields[] = {
    {&TSite::server, store::FTPServer, "edtFTPServer"},
    {&TSite::user, store::UserName, "edtUserName"},
    {&TSite::password, store::Password, "edtPassword"},
    {&TSite::defaultDir, store::DefaultDir, "edtDefaultDir"},
};

const TSiteOption kSiteOptions[] = {
    {store::Passive, "chkPassive", "Passive mode", TFlagOption{&TSite::passive, true}, true},
    {store::CreateFolders, "chkCreateFolders", "Create missing folders", TFlagOption{&TSite::createFolders, true}},
    {store::UploadViaTempName, "chkUploadViaTempName", "Replace files atomically",
     TFlagOption{&TSite::uploadViaTempName, true}},
    {store::Retries, "spnRetries", "Retries:", TCountOption{&TSite::retries, 0, 10, 2}},
    {store::Security, "chkSecurity", "Use TLS (explicit)",
     TSwitchOption{&TSite::security, SiteSecurity::None, SiteSecurity::TLS, SiteSecurity::TLS}, true},
    {store::Protocol, "cbxProtocol",
     "Protocol:", TChoiceOption{&TSite::protocol, SiteProtocol::All, SiteProtocol::FTP}},
    {store::TrustedCertificate, "edtTrustedCertificate",
     "Trusted certificate:", TTextOption{&TSite::trustedCertificate}, true},
    {store::KeyFile, "edtKeyFile", "Key file:", TTextOption{&TSite::keyFile, true}},
};

// Names a subkey below a section, which may itself be the base key (empty section).
QString JoinPath(const QString &section, const QString &name)
{
    return section.isEmpty() ? name : section + QLatin1Char('\\') + name;
}

// Returns store::SublineName(k). Every row uses the same names, so they are made once.
QString KnownSublineName(int k)
{
    static QStringList names;
    while (names.size() <= k)
        names.append(store::SublineName(int(names.size())));
    return names[k];
}

// Returns the index a file entry key name (Item#<i>) carries, or -1 for any other name.
int ItemIndex(const QString &section)
{
    if (!section.startsWith(store::ItemPrefix))
        return -1;
    const QStringView digits = QStringView(section).mid(store::ItemPrefix.size());
    bool ok = !digits.isEmpty() && digits.front().isDigit();
    const int index = ok ? digits.toInt(&ok) : -1;
    return ok ? index : -1;
}

// Puts the rows' keys in the order they were saved: the store lists keys by name, where
// Item#10 comes before Item#2. Keys of other names follow, in the store's order.
void SortByItemIndex(QStringList &sections)
{
    std::stable_sort(sections.begin(), sections.end(), [](const QString &a, const QString &b) {
        const int ia = ItemIndex(a);
        const int ib = ItemIndex(b);
        if (ia < 0 || ib < 0)
            return ia >= 0 && ib < 0;
        return ia < ib;
    });
}

void ReadRow(TRegIniFile &site, const QString &section, int columns, TStoredRow &row)
{
    row.caption = site.ReadText(section, store::Caption, QStringLiteral("Unknown"));
    row.checked = site.ReadFlag(section, store::Checked, false);
    row.stateIndex = site.ReadNumber(section, store::StateIndex, -1);
    row.imageIndex = site.ReadNumber(section, store::ImageIndex, 0);

    // A value is missing exactly when two reads with different defaults both return their
    // default, so no stored text can be mistaken for the end of the list.
    const QString endA = QStringLiteral("\x01<end>");
    const QString endB = QStringLiteral("\x02<end>");
    QStringList texts;
    for (int k = 0;; ++k) {
        const QString name = KnownSublineName(k);
        const QString value = site.ReadText(section, name, endA);
        if (value == endA && site.ReadText(section, name, endB) == endB)
            break;
        texts.append(value);
    }
    if (!texts.isEmpty()) {
        while (texts.size() < columns)
            texts.append(QString());
    }
    row.texts = texts;
}

// A switch's text as the site's value: on or off, whichever it names without regard to case; any
// other text (a later version's, or a slip of a hand-edit) stays as it is, for the transfer to
// refuse and the store to keep. An empty text is off.
QString SwitchText(const TSwitchOption &w, const QString &stored)
{
    if (stored.compare(w.on, Qt::CaseInsensitive) == 0)
        return w.on;
    if (stored.isEmpty() || stored.compare(w.off, Qt::CaseInsensitive) == 0)
        return w.off;
    return stored;
}

} // namespace

std::span<const TSiteField> SiteFieldTable()
{
    return kSiteFields;
}

std::span<const TSiteOption> SiteOptionTable()
{
    return kSiteOptions;
}

TSite NewSiteOptions()
{
    TSite site;
    for (const TSiteOption &option : kSiteOptions) {
        std::visit(TOverloaded{[&](const TFlagOption &f) { site.*f.value = f.forNewSite; },
                               [&](const TCountOption &c) { site.*c.value = c.forNewSite; },
                               [&](const TSwitchOption &w) { site.*w.value = w.forNewSite; },
                               [&](const TChoiceOption &c) { site.*c.value = c.forNewSite; },
                               [&](const TTextOption &) {}},
                   option.kind);
    }
    return site;
}

void NormalizeHostDir(QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.endsWith(QLatin1Char('/')))
        return;
    text = trimmed + QLatin1Char('/');
}

TSite SiteInUse(TSite site)
{
    for (const TSiteOption &option : kSiteOptions) {
        if (const auto *text = std::get_if<TTextOption>(&option.kind))
            site.*text->value = (site.*text->value).trimmed();
    }
    return site;
}

TFileEntry FileEntryOf(const TStoredRow &row)
{
    const auto text = [&row](int k) { return row.texts.value(k); };
    return {row.caption,     text(colHostFileName), text(colFileType), text(colIPParameter),
            text(colStatus), text(colFileDateTime), text(colFileSize), text(colAttribs)};
}

TStoredRow StoredRowOf(const TFileEntry &entry)
{
    return {.caption = entry.localFile,
            .texts = {entry.hostFileName, entry.fileType, entry.ipParameter, entry.status, entry.fileDateTime,
                      entry.fileSize, entry.attribs}};
}

void ReadRows(TRegIniFile &site, int columns, QList<TStoredRow> &rows)
{
    QStringList sections;
    site.ListSections(sections);
    SortByItemIndex(sections);
    for (const QString &section : sections) {
        rows.append(TStoredRow{});
        ReadRow(site, section, columns, rows.last());
    }
}

void WriteRows(TRegIniFile &ini, const QString &basePath, const QString &siteSection, const QList<TStoredRow> &rows)
{
    TRegistry probe;
    if (probe.OpenKey(JoinPath(basePath, siteSection), false))
        ini.DeleteSection(siteSection);
    TRegValues values;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const TStoredRow &row = rows[i];
        values.Clear();
        values.AddText(store::Caption, row.caption);
        values.AddFlag(store::Checked, row.checked);
        values.AddNumber(store::ImageIndex, row.imageIndex);
        values.AddNumber(store::StateIndex, row.stateIndex);
        for (int k = 0; k < row.texts.size(); ++k)
            values.AddText(KnownSublineName(k), row.texts[k]);
        ini.WriteValues(JoinPath(siteSection, store::ItemSection(int(i))), values);
    }
}

void ReadSiteValues(TRegIniFile &ini, const QString &section, TSite &site)
{
    for (const TSiteField &field : kSiteFields)
        site.*field.value = ini.ReadText(section, field.storeName, site.*field.value);
    site.passwordInKeyring = ini.ReadFlag(section, store::PasswordInKeyring, false);
    site.passwordProblem.clear();
    for (const TSiteOption &option : kSiteOptions) {
        const QString &name = option.storeName;
        std::visit(
            TOverloaded{[&](const TFlagOption &f) { site.*f.value = ini.ReadFlag(section, name, site.*f.value); },
                        [&](const TCountOption &c) {
                            site.*c.value =
                                std::clamp(ini.ReadNumber(section, name, site.*c.value), c.minimum, c.maximum);
                        },
                        [&](const TSwitchOption &w) {
                            site.*w.value = SwitchText(w, ini.ReadText(section, name, site.*w.value));
                        },
                        [&](const TChoiceOption &c) { site.*c.value = ini.ReadText(section, name, site.*c.value); },
                        [&](const TTextOption &t) { site.*t.value = ini.ReadText(section, name, site.*t.value); }},
            option.kind);
    }
}

void WriteSiteValues(TRegIniFile &ini, const QString &section, const TSite &site)
{
    for (const TSiteField &field : kSiteFields)
        ini.WriteText(section, field.storeName, site.*field.value);
    // Only where it says something: a site key is made anew at every save.
    if (site.passwordInKeyring)
        ini.WriteFlag(section, store::PasswordInKeyring, true);
    for (const TSiteOption &option : kSiteOptions) {
        const QString &name = option.storeName;
        std::visit(
            TOverloaded{[&](const TFlagOption &f) { ini.WriteFlag(section, name, site.*f.value); },
                        [&](const TCountOption &c) {
                            ini.WriteNumber(section, name, std::clamp(site.*c.value, c.minimum, c.maximum));
                        },
                        [&](const TSwitchOption &w) { ini.WriteText(section, name, SwitchText(w, site.*w.value)); },
                        [&](const TChoiceOption &c) { ini.WriteText(section, name, site.*c.value); },
                        [&](const TTextOption &t) { ini.WriteText(section, name, site.*t.value); }},
            option.kind);
    }
}

TSiteRecord LoadSiteRecord(const QString &basePath, const QString &name, const TSite &previous)
{
    TSiteRecord record;
    // The fields keep what the site before left; the options start from their initial values.
    for (const TSiteField &field : kSiteFields)
        record.site.*field.value = previous.*field.value;
    record.site.name = name;
    TStoreTransaction transaction;
    TRegIniFile ini(basePath);
    ReadSiteValues(ini, store::SiteSection(name), record.site);
    TRegIniFile site(JoinPath(basePath, store::SiteSection(name)));
    ReadRows(site, kLoadedColumnCount, record.rows);
    transaction.Commit();
    return record;
}

void SaveSiteRecord(const QString &basePath, const TSiteRecord &record, const TOptions *options)
{
    // The keyring first, outside the transaction: its answer may take a while.
    const TSite site =
        record.site.name.isEmpty()
            ? record.site
            : PasswordForStore(record.site, options ? options->useKeyring : record.site.passwordInKeyring);
    // The rows delete the whole site key, so the fields go in after them; one transaction
    // around both keeps a failure from leaving the site without its rows.
    TStoreTransaction transaction;
    TRegIniFile ini(basePath);
    if (options)
        WriteOptions(ini, *options);
    if (!record.site.name.isEmpty()) {
        const QString section = store::SiteSection(record.site.name);
        WriteRows(ini, basePath, section, record.rows);
        WriteSiteValues(ini, section, site);
    }
    transaction.Commit();
}

QString KeyringService()
{
    return QStringLiteral("Varnholt Quelmark ") + StoreFilePath();
}

void FetchPassword(TSite &site)
{
    site.passwordProblem.clear();
    if (!site.passwordInKeyring)
        return;
    const auto problem = [&site](const QString &why) {
        site.password.clear();
        site.passwordProblem = QStringLiteral("The password of %1 cannot be read from the desktop keyring: %2")
                                   .arg(PrintableText(site.name), why);
    };
    if (!KeyringAnswers()) {
        problem(QStringLiteral("no keyring answers"));
        return;
    }
    const TKeyringAnswer answer = ReadKeyring(KeyringService(), site.name);
    if (answer.ok)
        site.password = answer.text;
    else if (!answer.missing)
        problem(answer.error);
    else
        problem(KeyringLocked() ? QStringLiteral("the keyring is locked")
                                : QStringLiteral("it holds none for this site"));
}

TSite PasswordForStore(TSite site, bool useKeyring)
{
    // A password the keyring could not give is still there, unless one was typed meanwhile.
    if (site.passwordInKeyring && site.password.isEmpty() && !site.passwordProblem.isEmpty())
        return site;
    if (!useKeyring) {
        if (site.passwordInKeyring && KeyringAnswers())
            DeleteKeyring(KeyringService(), site.name);
        site.passwordInKeyring = false;
        return site;
    }
    if (!KeyringAnswers()) {
        // One the keyring holds stays there, for when it answers again.
        if (site.passwordInKeyring)
            site.password.clear();
        else if (!site.password.isEmpty())
            KeyringNoteOnce(QStringLiteral("No desktop keyring answers; the passwords are kept in the settings store"));
        return site;
    }
    if (site.password.isEmpty()) {
        if (site.passwordInKeyring)
            DeleteKeyring(KeyringService(), site.name);
        site.passwordInKeyring = false;
        return site;
    }
    const TKeyringAnswer held = ReadKeyring(KeyringService(), site.name);
    if (!held.ok || held.text != site.password) {
        const TKeyringAnswer written = WriteKeyring(KeyringService(), site.name, site.password);
        if (!written.ok) {
            KeyringNote(QStringLiteral("The password of %1 cannot be kept in the desktop keyring: %2; it stays %3")
                            .arg(PrintableText(site.name), written.error,
                                 site.passwordInKeyring ? QStringLiteral("as the keyring held it")
                                                        : QStringLiteral("in the settings store")));
            if (site.passwordInKeyring)
                site.password.clear();
            return site;
        }
    }
    site.password.clear();
    site.passwordInKeyring = true;
    return site;
}

void ForgetPassword(const QString &siteName)
{
    if (!siteName.isEmpty() && KeyringAnswers())
        DeleteKeyring(KeyringService(), siteName);
}

QString BaseKeyPath()
{
    return store::BaseKey;
}

QStringList StoredSiteNames(const QString &basePath)
{
    TStoreTransaction transaction;
    TRegIniFile sites(JoinPath(basePath, store::WWWSites));
    QStringList names;
    sites.ListSections(names);
    transaction.Commit();
    return names;
}

} // namespace quelmark
