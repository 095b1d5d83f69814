#include "tests/support/StoreScript.h"

#include "tests/support/Files.h"

#include <gtest/gtest.h>

namespace quelmark::test {

namespace {

QString Quoted(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("''")) + QLatin1Char('\'');
}

} // namespace

StoreScript::StoreScript()
{
    m_sql = QStringLiteral(
        "CREATE TABLE keys (id INTEGER PRIMARY KEY, parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
        " name TEXT NOT NULL, UNIQUE (parent, name));\n"
        "CREATE TABLE vals (key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE, name TEXT NOT NULL,"
        " kind INTEGER NOT NULL, data BLOB, PRIMARY KEY (key, name));\n"
        "INSERT INTO keys VALUES (1, NULL, '');\n");
    m_base = Key(Key(Key(1, QStringLiteral("Software")), QStringLiteral("Varnholt")), QStringLiteral("Quelmark"));
}

int StoreScript::Key(int parent, const QString &name)
{
    m_sql += QStringLiteral("INSERT INTO keys VALUES (%1, %2, %3);\n").arg(++m_lastId).arg(parent).arg(Quoted(name));
    return m_lastId;
}

void StoreScript::Value(int key, const QString &name, const QString &text)
{
    m_sql += QStringLiteral("INSERT INTO vals VALUES (%1, %2, 1, CAST(%3 AS BLOB));\n")
                 .arg(key)
                 .arg(Quoted(name), Quoted(text));
}

void StoreScript::Option(const QString &name, const QString &text)
{
    if (m_options == 0)
        m_options = Key(m_base, QStringLiteral("General Options"));
    Value(m_options, name, text);
}

int StoreScript::Site(const QString &name, const QString &server, const QString &user, const QString &password,
                      const QList<QStringList> &entries)
{
    if (m_sites == 0)
        m_sites = Key(m_base, QStringLiteral("WWWSites"));
    const int site = Key(m_sites, name);
    Value(site, QStringLiteral("FTPServer"), server);
    Value(site, QStringLiteral("UserName"), user);
    Value(site, QStringLiteral("Password"), password);
    Value(site, QStringLiteral("DefaultDir"), QStringLiteral("/"));
    for (int i = 0; i < entries.size(); ++i) {
        const int item = Key(site, QStringLiteral("Item#%1").arg(i));
        Value(item, QStringLiteral("Caption"), entries[i].value(0));
        for (int k = 1; k < entries[i].size(); ++k)
            Value(item, QStringLiteral("Subline#%1").arg(k - 1), entries[i][k]);
    }
    return site;
}

QString StoreScript::WriteTo(const QString &file) const
{
    QByteArray output;
    if (!RunProgram(QStringLiteral("sqlite3"), {file}, &output, m_sql.toUtf8()))
        return QString::fromLocal8Bit(output) + QStringLiteral(" (sqlite3 failed)");
    return QString();
}

QString RunSqlite(const QString &file, const QString &sql)
{
    QByteArray output;
    if (!RunProgram(QStringLiteral("sqlite3"), {file}, &output, sql.toUtf8()))
        ADD_FAILURE() << "sqlite3: " << output.toStdString();
    return QString::fromUtf8(output).trimmed();
}

QString StoredEntries(const QString &file)
{
    return RunSqlite(file, QStringLiteral(R"(
        SELECT s.name || '|' || c.data || '|' || st.data || '|' || ifnull(sz.data, '')
        FROM keys s JOIN keys i ON i.parent = s.id
        JOIN vals c ON c.key = i.id AND c.name = 'Caption'
        JOIN vals st ON st.key = i.id AND st.name = 'Subline#3'
        LEFT JOIN vals sz ON sz.key = i.id AND sz.name = 'Subline#5'
        WHERE s.parent = (SELECT id FROM keys WHERE name = 'WWWSites') ORDER BY s.name, i.name;)"));
}

QString StoredOption(const QString &file, const QString &name)
{
    return RunSqlite(file, QStringLiteral("SELECT CAST(v.data AS TEXT) FROM vals v JOIN keys k ON k.id = v.key "
                                          "WHERE k.name = 'General Options' AND v.name = %1;")
                               .arg(Quoted(name)));
}

} // namespace quelmark::test
