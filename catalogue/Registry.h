// The per-user settings store and its accessor.
//
// The store is one SQLite file per user that models a hierarchical registry branch: keys with
// subkeys and named values (table `keys` and `vals`, schema fixed so users can inspect it with
// the sqlite3 command). Key paths use "\" between levels; a path that begins with "\" is
// absolute, any other path is relative to the key an accessor was opened on. Subkeys enumerate
// in creation order and names compare exactly, letter case included.
#pragma once

#include "ftp/Dispatch.h"

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
// Closes the shared connection (it is reopened on the next access).
void CloseStore();

// Runs a block of store work as one transaction: committed by Commit(), rolled back by the
// destructor otherwise. Transactions nest; only the outermost one reaches the file, so a
// whole-window save inside a site save still happens whole or not at all.
class TStoreTransaction {
public:
    TStoreTransaction();
    ~TStoreTransaction();
    TStoreTransaction(const TStoreTransaction &) = delete;
    TStoreTransaction &operator=(const TStoreTransaction &) = delete;
    void Commit();

private:
    bool m_done = false;
};

// The platform operations of the store, on one open key.
class TRegistry {
public:
    TRegistry();
    virtual ~TRegistry();
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;

    // Opens a key relative to the current key (absolute when it begins with "\"); with
    // canCreate, creates all missing levels. False when the key is absent and not created.
    bool OpenKey(const QString &key, bool canCreate);
    void CloseKey();
    QString CurrentPath() const { return m_currentPath; }

    bool ValueExists(const QString &name) const;
    // Kind of a value of the current key; nullopt-like -1 when absent.
    int GetDataType(const QString &name) const;
    QString ReadString(const QString &name) const;       // raises for a non-text value
    void WriteString(const QString &name, const QString &value);
    void GetKeyNames(QStringList &names) const;          // creation order
    bool DeleteKey(const QString &key);                  // a key without subkeys

protected:
    std::int64_t m_currentKey = -1;  // id of the open key, -1 when none
    QString m_currentPath;
};

// The accessor the program uses: opened on a key path, which it creates if missing.
class TRegIniFile : public TRegistry {
public:
    explicit TRegIniFile(const QString &keyPath);

    QString ReadText(const QString &section, const QString &ident, const QString &defaultValue);
    void WriteText(const QString &section, const QString &ident, const QString &value);
    std::int32_t ReadNumber(const QString &section, const QString &ident, std::int32_t defaultValue);
    void WriteNumber(const QString &section, const QString &ident, std::int32_t value);
    bool ReadFlag(const QString &section, const QString &ident, bool defaultValue);
    void WriteFlag(const QString &section, const QString &ident, bool value);
    void ListSections(QStringList &sections);
    bool DeleteSection(const QString &section);
};

// Reads an integer as the store encodes it: decimal, or hexadecimal after "$", "0x" or "0X";
// false when the text is empty or unreadable.
bool ParseStoredNumber(const QString &text, std::int32_t &value);

} // namespace quelmark
