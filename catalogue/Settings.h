// The general options as a value, and their passage to and from the store without any control.
//
// Each option is one field of TOptions and one row of a table that names its store value and how
// it is stored: the window's "General Options" page binds its persisted controls to the same
// values (TGeneralOptions::Get and Set), and a program without a window reads and writes them here.
// Reading follows the persisted controls to the letter: a value missing from the store keeps the
// value it had, a number is kept inside its range, and a drop-down's text is kept as stored even
// when it names no choice.
#pragma once

#include <QString>

namespace quelmark {

class TRegIniFile;

struct TOptions {
    // "Auto-process": the timer starts with the window.
    bool autoProcess = false;
    // "Test local files every (mins):", 1 to 7200.
    int testFilesMinutes = 10;
    bool detailedLogging = false;
    // "Temp Local File:", where the upload copy of a page is written.
    QString tempFileName{};
    QString defaultIPParam = QStringLiteral("%IP%");
    bool timeStampLog = false;
    // "Last IP Address:", the address the last complete push-all published.
    QString lastIPAddress{};
    QString redialCommand = QStringLiteral("rasphone -d ricochet");
    bool autoReconnect = false;
    bool closeToTray = false;
    // Where the address written into pages comes from, as stored: "Address from:" (one of
    // AddressFrom, or a text none of them is), "Interface:", "Check URL:", "Address command:" and
    // "IP version:" (one of IPVersion, or another text).
    QString addressSource = QStringLiteral("Local");
    QString addressInterface{};
    QString addressURL{};
    QString addressCommand{};
    QString addressFamily = QStringLiteral("IPv4");
    // "One FTP session per site".
    bool reuseSession = true;
    // "Push changes at once": while the timer runs, a new address and a saved page are pushed
    // within moments, not at the next check; a store without the value does so too.
    bool watchChanges = true;
    // "Command on a new address:", started after a push that a new address caused, with "%IP%"
    // and "%OLDIP%" in its arguments.
    QString addressChangedCommand{};
    // "Keep passwords in the desktop keyring": where none answers, the store keeps them.
    // InitialOptions ticks it where one answers.
    bool useKeyring = true;

    bool operator==(const TOptions &) const = default;
};

// The range of "Test local files every (mins):".
inline constexpr int kMinTestFilesMinutes = 1;
inline constexpr int kMaxTestFilesMinutes = 7200;

// Returns N, the ticks between checks, for the text of "Test local files every (mins):" as the
// user is typing it: the integer the text holds, or 1 when it holds none.
int TestFilesMinutes(const QString &text);

// Returns the options of a store that holds none: TOptions' initial values with tempFileName,
// and the keyring used where one answers.
TOptions InitialOptions(const QString &tempFileName);

// Reads the "General Options" section below the accessor's key into options; a value the
// section lacks leaves the field as it was.
void ReadOptions(TRegIniFile &ini, TOptions &options);
// Writes every option into the "General Options" section, in the order the page shows them.
void WriteOptions(TRegIniFile &ini, const TOptions &options);

// Reads the general options below the key basePath, starting from initial.
TOptions LoadOptions(const QString &basePath, const TOptions &initial);
// Writes the general options below the key basePath, as one transaction.
void SaveOptions(const QString &basePath, const TOptions &options);

} // namespace quelmark
