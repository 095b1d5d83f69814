// The per-user settings store and its accessor.
//
// The store is one SQLite file per user that models a hierarchical registry branch: keys with
// subkeys and named values (table `keys` and `vals`, schema fixed so users can inspect it with
// the sqlite3 command), and table `meta` with the schema version. Opening a store migrates an
// older layout to the current one; a layout newer than this program knows is refused and left
// untouched. Key paths use "\" between levels; a path that begins with "\" is
// absolute, any other path is relative to the key an accessor was opened on. Subkeys enumerate
// in creation order and names compare exactly, letter case included.
#pragma once

#include "base/Exception.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

namespace quelmark {

// Raised for every store failure; the message is the user-facing text
// ("Invalid data type for '%s'", "Failed to create key %s", ...).
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// Value kinds, with the registry's numbers.
enum class TRegDataType : int { Text = 1, ExpandText = 2, Binary = 3, Number = 4, TextList = 7 };

// Location of the store file: $XDG_CONFIG_HOME/Varnholt/Quelmark/store.db by default.
QString StoreFilePath();
// Points the program at another store file (tests, tools); an empty path restores the default.
// Closes the shared connection so the next access opens the new file.
void SetStoreFilePath(const QString &path);
// Closes the shared connection (it is reopened on the next access). An open transaction is
// rolled back.
void CloseStore();
// Makes the next opening of the store read-only (true) or read-write (false, the default) and
// closes the shared connection. A read-only store is opened as it is, without creating the file
// or its folders, switching its journal or bringing its layout up to date, so not one byte of
// it changes; a missing key reads as empty, and every write fails.
void SetStoreReadOnly(bool readOnly);
// Sets how long an access waits for another program that holds the store locked before it
// fails (5 seconds unless changed).
void SetStoreBusyTimeout(int milliseconds);

// Opens the settings store once; returns an empty text when it can be used, otherwise the
// message to show (it names the file). The file is never changed by a failed attempt.
QString CheckStoreAtStart();

// Splits a key path at its "\" separators, dropping empty levels; `absolute` tells whether the
// path began with "\" (counted from the root rather than from an open key).
QStringList SplitKeyPath(const QString &path, bool &absolute);

// Runs a block of store work as one transaction: committed by Commit(), rolled back by the
// destructor otherwise. Transactions nest; only the outermost one reaches the file, so a
// whole-window save inside a site save still happens whole or not at all. An inner transaction
// that ends without Commit() dooms the outermost one: it rolls back, and its Commit() raises
// instead of saving the other part of the work.
class TStoreTransaction {
public:
    // The outermost transaction takes the store's write lock at once, waiting up to the busy
    // timeout for another program to release it; `failureText` is the first line of the message
    // raised when it cannot.
    TStoreTransaction();
    explicit TStoreTransaction(const QString &failureText);
    ~TStoreTransaction();
    Q_DISABLE_COPY(TStoreTransaction)
    void Commit();

private:
    bool m_done = false;
    std::uint64_t m_generation = 0; // the connection it began on; a closed store forgets it
};

// The platform operations of the store, on one open key.
class TRegistry {
public:
    TRegistry();
    virtual ~TRegistry();
    Q_DISABLE_COPY(TRegistry)

    // Opens a key relative to the current key (absolute when it begins with "\"); with
    // canCreate, creates all missing levels. False when the key is absent and not created.
    // Raises "Failed to create key %s" when a missing level cannot be created.
    bool OpenKey(const QString &key, bool canCreate);
    void CloseKey();
    QString CurrentPath() const { return m_currentPath; }

    // The value operations work on the open key (the root when none is open).
    bool ValueExists(const QString &name) const;
    // Returns the kind of a value (a TRegDataType number), or -1 when it is absent.
    int GetDataType(const QString &name) const;
    // Returns a text value ("" when absent); raises "Invalid data type for '%s'" for another kind.
    QString ReadString(const QString &name) const;
    // Writes a text value, creating or replacing it; raises "Failed to set data for '%s'".
    void WriteString(const QString &name, const QString &value);
    // Fills the list with the names of the open key's subkeys in name order: letter case
    // ignored first, then exact byte order between names that differ only in case.
    void GetKeyNames(QStringList &names) const;
    // Deletes a key below the open one (or an absolute key) with everything below it, depth
    // first, in one transaction. False when the key is absent; the open key itself and the
    // root are never deleted (an empty path deletes nothing).
    bool DeleteKey(const QString &key);
    // Gives a subkey of the open key another name, with its values and everything below it,
    // in one transaction. False when there is no such key. Raises "Failed to move key %s to %s"
    // when a key of the new name exists, when either name is not a single level, or when the
    // store refuses; the store is then as it was.
    bool MoveKey(const QString &oldName, const QString &newName);

protected:
    std::int64_t m_currentKey = -1; // id of the open key, -1 when none
    QString m_currentPath;
};

// Values to be written into one section together, in the order they are added, each stored as
// WriteText, WriteNumber or WriteFlag would store it.
class TRegValues {
public:
    void AddText(const QString &ident, const QString &value);
    void AddNumber(const QString &ident, std::int32_t value);
    void AddFlag(const QString &ident, bool value);
    // Empties the list, keeping its room for the next section's values.
    void Clear();
    qsizetype Count() const { return m_idents.size(); }
    const QString &Ident(qsizetype i) const { return m_idents[i]; }
    const QString &Text(qsizetype i) const { return m_texts[i]; }

private:
    QStringList m_idents;
    QStringList m_texts;
};

// The accessor the program uses: opened on a key path, which it creates if missing.
class TRegIniFile : public TRegistry {
public:
    explicit TRegIniFile(const QString &keyPath);

    // A section is a key path relative to the opened key (absolute when it begins with "\"); an
    // empty section is the opened key, an empty ident its unnamed value. Reads never create
    // keys and return the default when the section or value is absent; writes create the
    // missing levels. Each write happens whole or not at all.
    QString ReadText(const QString &section, const QString &ident, const QString &defaultValue);
    void WriteText(const QString &section, const QString &ident, const QString &value);
    std::int32_t ReadNumber(const QString &section, const QString &ident, std::int32_t defaultValue);
    void WriteNumber(const QString &section, const QString &ident, std::int32_t value);
    bool ReadFlag(const QString &section, const QString &ident, bool defaultValue);
    void WriteFlag(const QString &section, const QString &ident, bool value);
    // Writes the values into the section in one transaction, leaving the store as one
    // WriteText per value, in their order, inside one transaction would, failures and their
    // messages included; the values go in with as few statements as their number allows. No
    // values: nothing happens, not even the section is made.
    void WriteValues(const QString &section, const TRegValues &values);
    void ListSections(QStringList &sections);
    bool DeleteSection(const QString &section);
};

// Reads an integer as the store encodes it: an optional sign, then decimal digits, or
// hexadecimal digits after "$", "0x" or "0X". The whole text must be the number (no blanks).
// Hexadecimal is read as a 32-bit pattern ("$FFFFFFFF" is -1). False when the text is empty,
// unreadable or does not fit in 32 bits.
bool ParseStoredNumber(const QString &text, std::int32_t &value);

} // namespace quelmark
