// The program's vocabulary: every text that the store, the file list, the engine and the window
// share is written here once and used by name everywhere else.
//
// Stored names are the store's layout: changing one of them loses what earlier runs stored.
// Status and type texts are stored too, in the file list's rows, and compared as exact texts.
#pragma once

#include <QString>
#include <QStringList>

namespace quelmark {

// ---- the settings store -------------------------------------------------------------------

namespace store {

// The key below which the program keeps all its data.
inline const QString BaseKey = QStringLiteral("\\Software\\Varnholt\\Quelmark");

// The general options: one section, one value per option.
inline const QString GeneralOptions = QStringLiteral("General Options");
inline const QString Autoprocess = QStringLiteral("Autoprocess");
inline const QString MinsTestFiles = QStringLiteral("MinsTestFiles");
inline const QString DetailedLogging = QStringLiteral("DetailedLogging");
inline const QString TempFileName = QStringLiteral("TempFileName");
inline const QString DefaultIPParam = QStringLiteral("DefaultIPParam");
inline const QString TimeStampLog = QStringLiteral("TimeStampLog");
inline const QString LastIPAddress = QStringLiteral("LastIPAddress");
inline const QString RedialCommand = QStringLiteral("RedialCommand");
inline const QString AutoReconnect = QStringLiteral("AutoReconnect");
inline const QString CloseToTray = QStringLiteral("CloseToTray");
// Where the address written into pages comes from (AddressFrom below), with what each source
// needs and the IP version (IPVersion below).
inline const QString AddressSource = QStringLiteral("AddressSource");
inline const QString AddressInterface = QStringLiteral("AddressInterface");
inline const QString AddressURL = QStringLiteral("AddressURL");
inline const QString AddressCommand = QStringLiteral("AddressCommand");
inline const QString AddressFamily = QStringLiteral("AddressFamily");
inline const QString ReuseSession = QStringLiteral("ReuseSession");
// Changes of the address and saved pages are pushed at once while the timer runs; a store
// without the value does so too.
inline const QString WatchChanges = QStringLiteral("WatchChanges");
// The command started after a push that a new address caused.
inline const QString AddressChangedCommand = QStringLiteral("AddressChangedCommand");
// "1": the sites' passwords are kept in the desktop keyring where one answers.
inline const QString UseKeyring = QStringLiteral("UseKeyring");

// The sites: one key per site below WWWSites, named after the site, holding the site's values
// and one "Item#<i>" key per file entry.
inline const QString WWWSites = QStringLiteral("WWWSites");
inline const QString FTPServer = QStringLiteral("FTPServer");
inline const QString UserName = QStringLiteral("UserName");
inline const QString Password = QStringLiteral("Password");
inline const QString DefaultDir = QStringLiteral("DefaultDir");
// "1": the site's password is in the desktop keyring and its Password value is empty.
inline const QString PasswordInKeyring = QStringLiteral("PasswordInKeyring");
// A site's options: a value missing from the site's key means what sites did before the
// option existed.
inline const QString Passive = QStringLiteral("Passive");
inline const QString CreateFolders = QStringLiteral("CreateFolders");
inline const QString UploadViaTempName = QStringLiteral("UploadViaTempName");
inline const QString Retries = QStringLiteral("Retries");
inline const QString Security = QStringLiteral("Security");
inline const QString TrustedCertificate = QStringLiteral("TrustedCertificate");
inline const QString Protocol = QStringLiteral("Protocol");
inline const QString KeyFile = QStringLiteral("KeyFile");

// One file entry's key: the caption, the three marks and one "Subline#<k>" per column text.
inline const QString ItemPrefix = QStringLiteral("Item#");
inline const QString Caption = QStringLiteral("Caption");
inline const QString Checked = QStringLiteral("Checked");
inline const QString ImageIndex = QStringLiteral("ImageIndex");
inline const QString StateIndex = QStringLiteral("StateIndex");
inline const QString SublinePrefix = QStringLiteral("Subline#");

// Returns the key of the file entry at position i: "Item#" and i in decimal.
inline QString ItemSection(int i)
{
    return ItemPrefix + QString::number(i);
}

// Returns the value name of column text k: "Subline#" and k in decimal.
inline QString SublineName(int k)
{
    return SublinePrefix + QString::number(k);
}

// Returns the section of a site's key, relative to the base key: "WWWSites\<name>".
inline QString SiteSection(const QString &name)
{
    return WWWSites + QLatin1Char('\\') + name;
}

// A toolbar's layout: one section per toolbar, named after it.
inline const QString Visible = QStringLiteral("Visible");
inline const QString DockedTo = QStringLiteral("DockedTo");
inline const QString DockRow = QStringLiteral("DockRow");
inline const QString DockPos = QStringLiteral("DockPos");
inline const QString FloatLeft = QStringLiteral("FloatLeft");
inline const QString FloatTop = QStringLiteral("FloatTop");
inline const QString FloatRight = QStringLiteral("FloatRight");
inline const QString FloatBottom = QStringLiteral("FloatBottom");
inline const QString FloatRightX = QStringLiteral("FloatRightX");
// The DockedTo text of a floating toolbar.
inline const QString Floating = QStringLiteral("nil");

// The main window's place: one section. Left, Top, Width and Height are those of the window's
// normal (not maximised) state; Divider is the navigator's width beside the detail area.
inline const QString Window = QStringLiteral("Window");
inline const QString Left = QStringLiteral("Left");
inline const QString Top = QStringLiteral("Top");
inline const QString Width = QStringLiteral("Width");
inline const QString Height = QStringLiteral("Height");
inline const QString Maximized = QStringLiteral("Maximized");
inline const QString Divider = QStringLiteral("Divider");
// The site shown when the window closed, shown again at the next start; empty: none, and the
// next start shows the general options.
inline const QString ShownSite = QStringLiteral("ShownSite");

} // namespace store

// ---- file entries -------------------------------------------------------------------------

// The column texts of a file-list row, by name. The "Local File" path is the row's caption.
enum TFileColumn : int {
    colHostFileName = 0,
    colFileType = 1,
    colIPParameter = 2,
    colStatus = 3,
    colFileDateTime = 4,
    colFileSize = 5,
    colAttribs = 6,
};

// The number of column texts a row made by the program holds.
inline constexpr int kFileColumnCount = 7;

// The file list's headers, the caption's first.
inline const QStringList FileListHeaders = {
    QStringLiteral("Local File"),   QStringLiteral("Host File Name"), QStringLiteral("File Type"),
    QStringLiteral("IP Parameter"), QStringLiteral("Status"),         QStringLiteral("File Date & Time"),
    QStringLiteral("File Size"),    QStringLiteral("Attribs"),
};

// The state of a file entry. "New", "Edited" and "Error" make an entry due; a push sets
// "Moved" or "Error"; editing one entry proposes "Edited"; "Hold" is the user's.
namespace FileStatus {
inline const QString New = QStringLiteral("New");
inline const QString Moved = QStringLiteral("Moved");
inline const QString Edited = QStringLiteral("Edited");
inline const QString Error = QStringLiteral("Error");
inline const QString Hold = QStringLiteral("Hold");
// In the order the file dialog offers them.
inline const QStringList All = {New, Moved, Edited, Error, Hold};
} // namespace FileStatus

// The transfer type of a file entry: exactly "Binary" uploads the file as it is, any other
// text as text with the IP parameter replaced.
namespace FileType {
inline const QString Ascii = QStringLiteral("Ascii");
inline const QString Binary = QStringLiteral("Binary");
// In the order the file dialog offers them.
inline const QStringList All = {Ascii, Binary};
} // namespace FileType

// A site's "Security", as stored: "TLS" runs the FTP login and every upload under explicit TLS.
namespace SiteSecurity {
inline const QString None = QStringLiteral("None");
inline const QString TLS = QStringLiteral("TLS");
} // namespace SiteSecurity

// A site's "Protocol:", as stored.
namespace SiteProtocol {
inline const QString FTP = QStringLiteral("FTP");
inline const QString SFTP = QStringLiteral("SFTP");
// In the order the drop-down offers them.
inline const QStringList All = {FTP, SFTP};
} // namespace SiteProtocol

// One file entry of a site, as values. A row short of column texts gives empty texts.
struct TFileEntry {
    QString localFile{};
    QString hostFileName{};
    QString fileType{};
    QString ipParameter{};
    QString status{};
    QString fileDateTime{};
    QString fileSize{};
    QString attribs{};
};

// One site, as values: the name of its key and the values stored in it. An option that belongs
// to one site is one more field here and one more row, with its store name, its caption and
// the choice a new site proposes, in the table of catalogue/SiteOptions.cpp.
struct TSite {
    QString name{};
    QString server{};
    QString user{};
    QString password{};
    QString defaultDir{};
    // The options; their initial values are those of a site whose key holds none of them.
    // The data connection is opened by this side (EPSV, or PASV).
    bool passive = false;
    // Folders of a host file name that the server lacks are made when it refuses the file.
    bool createFolders = false;
    // A file is stored under a temporary name and renamed over the old one.
    bool uploadViaTempName = false;
    // How often an upload that failed for a passing cause is tried again.
    int retries = 0;
    // "TLS": explicit TLS on the control and data connections; anything else: plain FTP.
    QString security = SiteSecurity::None;
    // The SHA-256 fingerprint of a server certificate the user accepted although it failed the
    // check: hex pairs separated by ':'.
    QString trustedCertificate{};
    // "SFTP": the files go over SSH; anything else: FTP.
    QString protocol = SiteProtocol::FTP;
    // SFTP: a private key to log in with, the password being its passphrase. Empty: the
    // password, or without one the user's default keys and the ssh-agent.
    QString keyFile{};

    // Security and Protocol as stored are read without regard to case.
    bool UsesTls() const { return security.compare(SiteSecurity::TLS, Qt::CaseInsensitive) == 0; }
    bool UsesSftp() const { return protocol.compare(SiteProtocol::SFTP, Qt::CaseInsensitive) == 0; }
    // Where the password is kept: in the desktop keyring (the store's Password value is then
    // empty), or in the store.
    bool passwordInKeyring = false;
    // Why the keyring could not give the password; empty when it could. The site's files fail
    // with it instead of logging in without the password.
    QString passwordProblem{};
};

// ---- the address ------------------------------------------------------------------------

// The sources of "Address from:", as stored: "Local" is the machine's own address, the
// program's rule from its first version on.
namespace AddressFrom {
inline const QString Local = QStringLiteral("Local");
inline const QString Interface = QStringLiteral("Interface");
inline const QString Web = QStringLiteral("Web");
inline const QString Command = QStringLiteral("Command");
// In the order the drop-down offers them.
inline const QStringList All = {Local, Interface, Web, Command};
} // namespace AddressFrom

// The choices of "IP version:", as stored.
namespace IPVersion {
inline const QString IPv4 = QStringLiteral("IPv4");
inline const QString IPv6 = QStringLiteral("IPv6");
inline const QStringList All = {IPv4, IPv6};
} // namespace IPVersion

// ---- the window ---------------------------------------------------------------------------

// The titles of the detail area's pages, by which the navigator and the window find them, and
// the texts of the navigator's nodes and of the detail title.
namespace pages {
inline const QString GeneralOptions = QStringLiteral("General Options");
inline const QString WebSites = QStringLiteral("Web Sites");
inline const QString LogFiles = QStringLiteral("Log Files");
inline const QString Blank = QStringLiteral("Blank");
// The list of the sites that "Web Sites" shows, where the window has one.
inline const QString SiteList = QStringLiteral("Site List");
// The navigator node that shows "Log Files".
inline const QString ViewLog = QStringLiteral("View Log");
// The detail title while a site is shown, followed by the site's name.
inline const QString SiteInformationFor = QStringLiteral("Site information for: ");
} // namespace pages

} // namespace quelmark
