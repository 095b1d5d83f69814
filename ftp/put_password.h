// Where quelmark-put takes its password from, so that it never has to stand in the process's
// argument list: --password-file, the environment, ~/.netrc, or a question on the terminal.
// A --password given all the same is taken out of the argument list at the start, so other
// users' process lists never show it.
#pragma once

#include <QString>

#include <optional>

namespace quelmark {

// The environment variable that holds the password.
inline constexpr char kPasswordVariable[] = "QUELMARK_PASSWORD";

// Takes the value of --password (as "--password TEXT" or "--password=TEXT", the last one given)
// out of argv: the text is returned and its bytes in argv are overwritten, so the process's
// argument list shows "x" in their place. Returns nullopt when there is none.
std::optional<QString> TakePasswordArgument(int argc, char **argv);

// One entry of a .netrc file.
struct TNetrcEntry {
    QString login;
    QString password;
};

// Returns the entry of a .netrc text for host: the first "machine" entry naming it (without
// regard to case) whose login is user or that names none (any login when user is empty), else the
// "default" entry. Tokens are separated by blanks, tabs and line breaks; "macdef" definitions
// (up to an empty line) and "account" values are skipped.
std::optional<TNetrcEntry> FindNetrcEntry(const QString &text, const QString &host, const QString &user);

// The password and the user name as quelmark-put uses them.
struct TPasswordChoice {
    QString user;
    QString password;
    // Why none could be read where the user pointed to (an unreadable --password-file); empty
    // when all is well.
    QString error;
    // A note for standard error: a .netrc that others may read and was therefore passed over.
    QString note;
};

// What the choice is made from.
struct TPasswordSources {
    std::optional<QString> argument; // the taken --password
    QString passwordFile;            // --password-file, empty when not given
    QString host;
    QString user;
    // Whether a missing password may be asked for on the terminal: a user to log in as, no key
    // file to log in with, and a terminal on standard input.
    bool mayAsk = false;
};

// Chooses the password: --password, else the first line of --password-file, else
// QUELMARK_PASSWORD, else the matching entry of ~/.netrc (only when neither its group nor others
// may read it; its login also gives the user name when none is given), else, when mayAsk, the
// answer to "Password for USER@HOST: " asked on the terminal without echo; else none.
TPasswordChoice ChoosePassword(const TPasswordSources &sources);

// Tells whether standard input is a terminal.
bool InputIsTerminal();

} // namespace quelmark
