// The desktop's keyring: the Secret Service on the session's D-Bus (GNOME Keyring, KWallet),
// reached through QtKeychain.
//
// Each call waits for the keyring's answer in a nested dispatch loop, bounded by a time-out; an
// exception a handler raises meanwhile leaves the call as if it had been thrown there. What the
// user needs to know about the keyring (that none answers, that one refused) goes to the note
// sink the program installs, which writes it to the log.
#pragma once

#include <QString>

#include <functional>

namespace quelmark {

// The outcome of one call: done, or why not. `missing` tells a read that found no entry.
struct TKeyringAnswer {
    bool ok = false;
    bool missing = false;
    QString text{};
    QString error{};
};

// Returns whether a keyring answers: a session bus is there (no bus is ever started for the
// question) and the Secret Service runs on it or can be started by it.
bool KeyringAnswers();
// Returns whether the keyring's default collection is locked. A locked keyring that cannot ask
// the user to unlock it finds no entries, so a read that found none asks this to tell why.
bool KeyringLocked();

// Read, write and delete the secret filed under service and key.
TKeyringAnswer ReadKeyring(const QString &service, const QString &key);
TKeyringAnswer WriteKeyring(const QString &service, const QString &key, const QString &secret);
TKeyringAnswer DeleteKeyring(const QString &service, const QString &key);

// Where notes about the keyring go; nowhere until one is set.
void SetKeyringNotes(std::function<void(const QString &line)> notes);
// Hands the line to the note sink.
void KeyringNote(const QString &line);
// Hands the line to the note sink the first time it is asked to in this process.
void KeyringNoteOnce(const QString &line);

} // namespace quelmark
