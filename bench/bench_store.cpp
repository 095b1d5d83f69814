// The settings store against bare SQLite: a site's file list of 10,000 rows with 12 text values
// each (Caption, Checked, ImageIndex, StateIndex, Subline#0..7), written in one transaction and
// read back. The bare runs use the same schema and pragmas with hand-prepared statements, so
// the ratio is what the key tree, the accessor and the text conversions cost.
#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <vector>

using namespace quelmark;

namespace {

constexpr int kRows = 10000;
const QString kSite = store::BaseKey + '\\' + store::SiteSection(QStringLiteral("ftp.example.com"));

struct Row {
    QString section;
    QStringList names;
    QStringList values;
};

struct Utf8Row {
    QByteArray section;
    std::vector<QByteArray> names;
    std::vector<QByteArray> values;
};

const std::vector<Row> &Rows()
{
    static const std::vector<Row> rows = [] {
        std::vector<Row> made;
        for (int i = 0; i < kRows; ++i) {
            Row row{store::ItemSection(i),
                    {store::Caption, store::Checked, store::ImageIndex, store::StateIndex},
                    {QStringLiteral("/home/user/site/page%1.html").arg(i), QStringLiteral("1"), QStringLiteral("0"),
                     QStringLiteral("-1")}};
            for (int k = 0; k < 8; ++k) {
                row.names << store::SublineName(k);
                row.values << QStringLiteral("column %1 of row %2").arg(k).arg(i);
            }
            made.push_back(row);
        }
        return made;
    }();
    return rows;
}

const std::vector<Utf8Row> &Utf8Rows()
{
    static const std::vector<Utf8Row> rows = [] {
        std::vector<Utf8Row> made;
        for (const Row &row : Rows()) {
            Utf8Row utf8{row.section.toUtf8(), {}, {}};
            for (int k = 0; k < row.names.size(); ++k) {
                utf8.names.push_back(row.names[k].toUtf8());
                utf8.values.push_back(row.values[k].toUtf8());
            }
            made.push_back(utf8);
        }
        return made;
    }();
    return rows;
}

// A store file of its own in a fresh folder, with the base key and the site's key made.
class BenchStore {
public:
    BenchStore()
    {
        SetStoreFilePath(m_dir.path() + QStringLiteral("/store.db"));
        TRegIniFile site(kSite);
        CloseStore();
    }
    ~BenchStore() { SetStoreFilePath(QString()); }
    std::string Path() const { return QFile::encodeName(m_dir.path() + QStringLiteral("/store.db")).toStdString(); }

private:
    QTemporaryDir m_dir;
};

void WriteThroughAccessor()
{
    TStoreTransaction transaction;
    TRegIniFile site(kSite);
    for (const Row &row : Rows())
        for (int k = 0; k < row.names.size(); ++k)
            site.WriteText(row.section, row.names[k], row.values[k]);
    transaction.Commit();
}

std::int64_t SiteKeyId(sqlite3 *db)
{
    sqlite3_stmt *find = nullptr;
    sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE name='ftp.example.com'", -1, &find, nullptr);
    sqlite3_step(find);
    const std::int64_t id = sqlite3_column_int64(find, 0);
    sqlite3_finalize(find);
    return id;
}

sqlite3 *OpenBare(const std::string &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        std::abort();
    sqlite3_exec(db, "PRAGMA foreign_keys=ON; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                 nullptr);
    return db;
}

void WriteBare(sqlite3 *db)
{
    const std::int64_t site = SiteKeyId(db);
    sqlite3_stmt *key = nullptr;
    sqlite3_stmt *val = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO keys(parent, name) VALUES(?1, ?2)", -1, &key, nullptr);
    sqlite3_prepare_v2(db, "INSERT INTO vals(key, name, kind, data) VALUES(?1, ?2, 1, ?3)", -1, &val, nullptr);
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (const Utf8Row &row : Utf8Rows()) {
        sqlite3_bind_int64(key, 1, site);
        sqlite3_bind_text(key, 2, row.section.constData(), int(row.section.size()), SQLITE_STATIC);
        sqlite3_step(key);
        sqlite3_reset(key);
        const std::int64_t id = sqlite3_last_insert_rowid(db);
        for (size_t k = 0; k < row.names.size(); ++k) {
            sqlite3_bind_int64(val, 1, id);
            sqlite3_bind_text(val, 2, row.names[k].constData(), int(row.names[k].size()), SQLITE_STATIC);
            sqlite3_bind_text(val, 3, row.values[k].constData(), int(row.values[k].size()), SQLITE_STATIC);
            sqlite3_step(val);
            sqlite3_reset(val);
        }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(key);
    sqlite3_finalize(val);
}

void BM_WriteFileList_Accessor(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        BenchStore store;
        state.ResumeTiming();
        WriteThroughAccessor();
        state.PauseTiming();
        CloseStore();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRows * 12);
}

void BM_WriteFileList_BareSqlite(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        BenchStore store;
        sqlite3 *db = OpenBare(store.Path());
        state.ResumeTiming();
        WriteBare(db);
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRows * 12);
}

void BM_ReadFileList_Accessor(benchmark::State &state)
{
    BenchStore store;
    WriteThroughAccessor();
    std::size_t bytes = 0;
    for (auto _ : state) {
        TStoreTransaction transaction;
        TRegIniFile site(kSite);
        QStringList sections;
        site.ListSections(sections);
        for (int i = 0; i < sections.size(); ++i)
            for (const QString &name : Rows()[i].names)
                bytes += site.ReadText(sections[i], name, QString()).size();
        transaction.Commit();
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * kRows * 12);
    CloseStore();
}

void BM_ReadFileList_BareSqlite(benchmark::State &state)
{
    BenchStore store;
    WriteThroughAccessor();
    CloseStore();
    sqlite3 *db = OpenBare(store.Path());
    const std::int64_t site = SiteKeyId(db);
    sqlite3_stmt *keys = nullptr;
    sqlite3_stmt *val = nullptr;
    sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE parent=?1 ORDER BY id", -1, &keys, nullptr);
    sqlite3_prepare_v2(db, "SELECT data FROM vals WHERE key=?1 AND name=?2", -1, &val, nullptr);
    std::size_t bytes = 0;
    for (auto _ : state) {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_bind_int64(keys, 1, site);
        for (int i = 0; sqlite3_step(keys) == SQLITE_ROW; ++i) {
            const std::int64_t id = sqlite3_column_int64(keys, 0);
            for (const QByteArray &name : Utf8Rows()[i].names) {
                sqlite3_bind_int64(val, 1, id);
                sqlite3_bind_text(val, 2, name.constData(), int(name.size()), SQLITE_STATIC);
                if (sqlite3_step(val) == SQLITE_ROW)
                    bytes += sqlite3_column_bytes(val, 0);
                sqlite3_reset(val);
            }
        }
        sqlite3_reset(keys);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * kRows * 12);
    sqlite3_finalize(keys);
    sqlite3_finalize(val);
    sqlite3_close(db);
}

} // namespace

BENCHMARK(BM_WriteFileList_Accessor)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_WriteFileList_BareSqlite)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ReadFileList_Accessor)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ReadFileList_BareSqlite)->Unit(benchmark::kMillisecond)->Iterations(10);

BENCHMARK_MAIN();
