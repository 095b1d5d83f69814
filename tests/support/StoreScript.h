// A store made the way a user or another tool would make it: SQL for the sqlite3 command, with
// the key tree as rows of `keys` and every value as text (kind 1).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace quelmark::test {

class StoreScript {
public:
    // Starts with the tables, the root and the program's base key.
    StoreScript();

    // Adds a key below parent; returns its id.
    int Key(int parent, const QString &name);
    // Adds a text value to a key.
    void Value(int key, const QString &name, const QString &text);
    // Adds a general option ("General Options" is made at the first).
    void Option(const QString &name, const QString &text);
    // Adds a site below "WWWSites" with its connection values and file entries; each entry is the
    // local file followed by the column texts (host file name, type, IP parameter, status,
    // date and time, size, attributes). Returns the site's key, for values of its own.
    int Site(const QString &name, const QString &server, const QString &user, const QString &password,
             const QList<QStringList> &entries);

    int Base() const { return m_base; }
    const QString &Sql() const { return m_sql; }
    // Makes the store file with the sqlite3 command; returns what sqlite3 complained, empty
    // when it worked.
    QString WriteTo(const QString &file) const;

private:
    QString m_sql;
    int m_lastId = 1;
    int m_base = 0;
    int m_options = 0;
    int m_sites = 0;
};

// Runs SQL through the sqlite3 command on file; returns what it printed, trimmed. A failure
// fails the test.
QString RunSqlite(const QString &file, const QString &sql);

// Returns one line per stored file entry, in site and list order: "site|local file|status|size".
QString StoredEntries(const QString &file);

// Returns a general option as stored ("" when absent).
QString StoredOption(const QString &file, const QString &name);

} // namespace quelmark::test
