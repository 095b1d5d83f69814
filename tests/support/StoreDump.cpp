#include "tests/support/StoreDump.h"

#include <QFile>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>

namespace quelmark::test {

namespace {

// The key tree flattened to "\A\B" paths.
constexpr const char *kPaths = R"(
WITH RECURSIVE path(id, p) AS (
  SELECT id, '' FROM keys WHERE parent IS NULL
  UNION ALL SELECT k.id, path.p || '\' || k.name FROM keys k JOIN path ON k.parent = path.id)
)";

struct DbCloser {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

Db Open(const QString &file)
{
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    Db owned(db);
    EXPECT_EQ(rc, SQLITE_OK) << "cannot open " << file.toStdString();
    sqlite3_busy_timeout(db, 5000);
    return owned;
}

struct StmtFinalizer {
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};

QStringList Query(const QString &file, const QString &sql, const QStringList &params = {})
{
    Db db = Open(file);
    sqlite3_stmt *raw = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db.get(), text.constData(), -1, &raw, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db.get());
        return {};
    }
    std::unique_ptr<sqlite3_stmt, StmtFinalizer> stmt(raw);
    QList<QByteArray> bound;
    for (int i = 0; i < params.size(); ++i) {
        bound.append(params[i].toUtf8());
        sqlite3_bind_text(raw, i + 1, bound.last().constData(), int(bound.last().size()), SQLITE_STATIC);
    }
    QStringList rows;
    while (sqlite3_step(raw) == SQLITE_ROW) {
        QStringList columns;
        for (int c = 0; c < sqlite3_column_count(raw); ++c) {
            const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_blob(raw, c));
            columns.append(QString::fromUtf8(bytes, sqlite3_column_bytes(raw, c)));
        }
        rows.append(columns.join(QLatin1Char('|')));
    }
    return rows;
}

// Returns the names the query selects below the key at keyPath, which it calls path.p.
QStringList NamesBelow(const QString &file, const QString &keyPath, const char *query)
{
    return Query(file, QString::fromLatin1(kPaths) + QLatin1String(query), {keyPath});
}

} // namespace

void ExecSql(const QString &file, const QString &sql)
{
    Db db = Open(file);
    char *error = nullptr;
    if (sqlite3_exec(db.get(), sql.toUtf8().constData(), nullptr, nullptr, &error) != SQLITE_OK) {
        ADD_FAILURE() << (error ? error : "sqlite error");
        sqlite3_free(error);
    }
}

QStringList DumpStore(const QString &file)
{
    QStringList lines = Query(file, QString::fromLatin1(kPaths) + QStringLiteral(R"(
        SELECT path.p, v.name, v.kind, CAST(v.data AS TEXT) FROM path JOIN vals v ON v.key = path.id
        UNION ALL SELECT path.p, NULL, NULL, NULL FROM path
        ORDER BY 1, 2)"));
    for (QString &line : lines) {
        if (line.endsWith(QLatin1String("|||")))
            line.chop(3);
    }
    return lines;
}

QStringList RawStoreRows(const QString &file)
{
    return Query(file, QStringLiteral("SELECT 'key', id, quote(parent), hex(name) FROM keys "
                                      "UNION ALL SELECT 'val', rowid, key, hex(name) || '|' || kind || '|' || "
                                      "typeof(data) || '|' || hex(data) FROM vals ORDER BY 1, 2"));
}

QStringList ValueNamesInWriteOrder(const QString &file, const QString &keyPath)
{
    return NamesBelow(file, keyPath,
                      "SELECT v.name FROM path JOIN vals v ON v.key = path.id WHERE path.p = ?1 "
                      "ORDER BY v.rowid");
}

QStringList SubkeyNames(const QString &file, const QString &keyPath)
{
    return NamesBelow(file, keyPath,
                      "SELECT k.name FROM path JOIN keys k ON k.parent = path.id WHERE path.p = ?1 "
                      "ORDER BY k.id");
}

void SetValueKind(const QString &file, const QString &keyPath, const QString &name, int kind)
{
    const QStringList ids =
        Query(file, QString::fromLatin1(kPaths) + QStringLiteral("SELECT id FROM path WHERE p = ?1"), {keyPath});
    ASSERT_EQ(ids.size(), 1) << "no key " << keyPath.toStdString();
    QString quoted = name;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    ExecSql(file, QStringLiteral("UPDATE vals SET kind=%1 WHERE key=%2 AND name='%3'").arg(kind).arg(ids[0], quoted));
}

void PoisonValueName(const QString &file, const QString &name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    ExecSql(file, QStringLiteral("CREATE TRIGGER poison_ins BEFORE INSERT ON vals WHEN NEW.name='%1' BEGIN SELECT "
                                 "RAISE(ABORT,'refused'); END;"
                                 "CREATE TRIGGER poison_upd BEFORE UPDATE ON vals WHEN NEW.name='%1' BEGIN SELECT "
                                 "RAISE(ABORT,'refused'); END;")
                      .arg(quoted));
}

} // namespace quelmark::test
