// Saving and loading a site of 10,000 file rows through the catalogue, against the floor of
// bare SQLite doing the same storage work: the same keys and values inserted with prepared
// statements in one transaction, then selected back. The catalogue's run includes the list
// widget's rows; the ratio is what the accessor, the persisted controls and the widget cost.
#include "bench/BenchMain.h"
#include "catalogue/Catalogue.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <vector>

using namespace quelmark;

namespace {

constexpr int kRows = 10000;
const QString kSite = QStringLiteral("ftp.example.com");

QStringList RowTexts(int i)
{
    return {QStringLiteral("/www/page%1.html").arg(i),
            FileType::Ascii,
            "%IP%",
            FileStatus::Moved,
            "1/2/24 10:00:00",
            QString::number(1000 + i),
            "R",
            ""};
}

QString RowCaption(int i)
{
    return QStringLiteral("/home/user/site/page%1.html").arg(i);
}

// A store file of its own in a fresh folder.
class BenchStore {
public:
    BenchStore() { SetStoreFilePath(m_dir.path() + QStringLiteral("/store.db")); }
    ~BenchStore() { SetStoreFilePath(QString()); }
    std::string Path() const { return QFile::encodeName(m_dir.path() + QStringLiteral("/store.db")).toStdString(); }

private:
    QTemporaryDir m_dir;
};

struct SiteWindow {
    SiteWindow()
    {
        for (int i = 0; i < kRows; ++i) {
            TListRow *row = catalogue->Shown().lvFileDetails->AddRow();
            row->SetCaption(RowCaption(i));
            row->SetSubItems(RowTexts(i));
        }
        catalogue->SetCurrentSiteName(kSite);
    }

    QWidget window;
    std::unique_ptr<TCatalogue> catalogue = std::make_unique<TCatalogue>(&window, &window);
};

void BM_SaveAndLoadSite_Catalogue(benchmark::State &state)
{
    SiteWindow site;
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<BenchStore>();
        TRegIniFile touch(BaseKeyPath());
        state.ResumeTiming();
        site.catalogue->SaveCurrentSite();
        site.catalogue->LoadSite(kSite);
        state.PauseTiming();
        if (site.catalogue->Shown().lvFileDetails->RowCount() != kRows)
            std::abort();
        store.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}

struct Statement {
    Statement(sqlite3 *db, const char *sql) { sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr); }
    ~Statement() { sqlite3_finalize(stmt); }
    void Text(int index, const QByteArray &text)
    {
        sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    sqlite3_stmt *stmt = nullptr;
};

std::int64_t InsertKey(Statement &key, sqlite3 *db, std::int64_t parent, const QByteArray &name)
{
    sqlite3_bind_int64(key.stmt, 1, parent);
    key.Text(2, name);
    sqlite3_step(key.stmt);
    sqlite3_reset(key.stmt);
    return sqlite3_last_insert_rowid(db);
}

void InsertValue(Statement &val, std::int64_t key, const QByteArray &name, const QByteArray &data)
{
    sqlite3_bind_int64(val.stmt, 1, key);
    val.Text(2, name);
    val.Text(3, data);
    sqlite3_step(val.stmt);
    sqlite3_reset(val.stmt);
}

void WriteBare(sqlite3 *db, std::int64_t sites)
{
    Statement key(db, "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
    Statement val(db, "INSERT INTO vals(key, name, kind, data) VALUES(?1, ?2, 1, ?3)");
    sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    const std::int64_t site = InsertKey(key, db, sites, kSite.toUtf8());
    for (int i = 0; i < kRows; ++i) {
        const std::int64_t item = InsertKey(key, db, site, store::ItemSection(i).toUtf8());
        InsertValue(val, item, store::Caption.toUtf8(), RowCaption(i).toUtf8());
        InsertValue(val, item, store::Checked.toUtf8(), "0");
        InsertValue(val, item, store::ImageIndex.toUtf8(), "0");
        InsertValue(val, item, store::StateIndex.toUtf8(), "-1");
        const QStringList texts = RowTexts(i);
        for (int k = 0; k < texts.size(); ++k)
            InsertValue(val, item, store::SublineName(k).toUtf8(), texts[k].toUtf8());
    }
    for (const QString &name : {store::FTPServer, store::UserName, store::Password, store::DefaultDir})
        InsertValue(val, site, name.toUtf8(), "");
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

std::size_t ReadBare(sqlite3 *db, std::int64_t sites)
{
    Statement find(db, "SELECT id FROM keys WHERE parent=?1 AND name=?2");
    Statement keys(db, "SELECT id FROM keys WHERE parent=?1 ORDER BY id");
    Statement vals(db, "SELECT name, data FROM vals WHERE key=?1");
    std::size_t bytes = 0;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_bind_int64(find.stmt, 1, sites);
    find.Text(2, kSite.toUtf8());
    sqlite3_step(find.stmt);
    sqlite3_bind_int64(keys.stmt, 1, sqlite3_column_int64(find.stmt, 0));
    while (sqlite3_step(keys.stmt) == SQLITE_ROW) {
        sqlite3_bind_int64(vals.stmt, 1, sqlite3_column_int64(keys.stmt, 0));
        while (sqlite3_step(vals.stmt) == SQLITE_ROW)
            bytes += QString::fromUtf8(static_cast<const char *>(sqlite3_column_blob(vals.stmt, 1)),
                                       sqlite3_column_bytes(vals.stmt, 1))
                         .size();
        sqlite3_reset(vals.stmt);
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return bytes;
}

void BM_SaveAndLoadSite_BareSqlite(benchmark::State &state)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        BenchStore store;
        std::int64_t sites = 0;
        {
            TRegIniFile made(BaseKeyPath() + '\\' + store::WWWSites);
            CloseStore();
        }
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(store.Path().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            std::abort();
        sqlite3_exec(db, "PRAGMA foreign_keys=ON; PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL", nullptr, nullptr,
                     nullptr);
        {
            Statement find(db, "SELECT id FROM keys WHERE name=?1");
            find.Text(1, store::WWWSites.toUtf8());
            sqlite3_step(find.stmt);
            sites = sqlite3_column_int64(find.stmt, 0);
        }
        state.ResumeTiming();
        WriteBare(db, sites);
        bytes += ReadBare(db, sites);
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
    benchmark::DoNotOptimize(bytes);
    state.SetItemsProcessed(state.iterations() * kRows);
}

} // namespace

BENCHMARK(BM_SaveAndLoadSite_Catalogue)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SaveAndLoadSite_BareSqlite)->Unit(benchmark::kMillisecond)->Iterations(5);

int main(int argc, char **argv)
{
    return quelmark::bench::RunBenchmarks(argc, argv);
}
