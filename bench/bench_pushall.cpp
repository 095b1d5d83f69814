// A push-all that finds nothing due, the refresh cycle's usual check, against its floor: the
// same store and load of every site through the catalogue without change detection, the
// navigator or the log. 20 sites of 50 pushed, unchanged files each; the ratio is what the walk
// adds to the storage work it cannot avoid.
#include "bench/BenchMain.h"
#include "catalogue/Catalogue.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "catalogue/filedrag.h"
#include "engine/ActivityLog.h"
#include "engine/ChangeDetection.h"
#include "engine/PushCommands.h"
#include "engine/TextArea.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

using namespace quelmark;

namespace {

constexpr int kSites = 20;
constexpr int kFiles = 50;

QString SiteName(int s)
{
    return QStringLiteral("site%1.example.com").arg(s);
}

// A window with the parts a push-all works on, over a store of its own holding the sites.
struct PushAllWindow {
    PushAllWindow()
    {
        SetStoreFilePath(dir.path() + QStringLiteral("/store.db"));
        catalogue = std::make_unique<TCatalogue>(&window, &window);
        nbDetail = new QStackedWidget(&window);
        for (const QString &title : {pages::GeneralOptions, pages::WebSites, pages::LogFiles, pages::Blank}) {
            auto *page = new QWidget;
            nbDetail->addWidget(page);
            this->pages.insert(title, page);
        }
        title = new QLabel(&window);
        navigator = new TNavigator({nbDetail, pages, title, catalogue.get(), new TFileDrag(&window)}, &window);
        memoLog = new TTextArea(&window);
        log = std::make_unique<TActivityLog>(memoLog, nullptr, nullptr);
        edtLocalAddress = new QLineEdit(&window);
        edtLastIPAddress = new QLineEdit(QStringLiteral("10.0.0.1"), &window);
        StoreSites();
        navigator->BuildNavigator();

        TPushControls c;
        c.mainWindow = &window;
        c.catalogue = catalogue.get();
        c.navigator = navigator;
        c.nbDetail = nbDetail;
        c.webSitesPage = this->pages.value(pages::WebSites);
        c.pnlDetailTitle = title;
        c.log = log.get();
        c.edtLocalAddress = edtLocalAddress;
        c.edtLastIPAddress = edtLastIPAddress;
        push = std::make_unique<TPushCommands>(c, [] { return QStringLiteral("10.0.0.1"); });
    }

    ~PushAllWindow() { SetStoreFilePath(QString()); }

    void StoreSites()
    {
        for (int s = 0; s < kSites; ++s) {
            catalogue->Shown().lvFileDetails->ClearRows();
            for (int f = 0; f < kFiles; ++f) {
                const QString path = dir.filePath(QStringLiteral("s%1_page%2.html").arg(s).arg(f));
                QFile file(path);
                file.open(QIODevice::WriteOnly);
                file.write("<p>page</p>\n");
                file.close();
                TListRow *row = catalogue->Shown().lvFileDetails->AddRow();
                row->SetCaption(path);
                row->SetSubItems({QStringLiteral("/www/page.html"), FileType::Ascii, QString(), QString()});
                SetFileStatus(*row, FileStatus::Moved);
            }
            catalogue->SetCurrentSiteName(SiteName(s));
            catalogue->SaveCurrentSite();
        }
        catalogue->SetCurrentSiteName(QString());
        catalogue->Shown().lvFileDetails->ClearRows();
    }

    QTemporaryDir dir;
    QWidget window;
    std::unique_ptr<TCatalogue> catalogue;
    QStackedWidget *nbDetail = nullptr;
    QMap<QString, QWidget *> pages;
    QLabel *title = nullptr;
    TNavigator *navigator = nullptr;
    TTextArea *memoLog = nullptr;
    std::unique_ptr<TActivityLog> log;
    QLineEdit *edtLocalAddress = nullptr;
    QLineEdit *edtLastIPAddress = nullptr;
    std::unique_ptr<TPushCommands> push;
};

void BM_PushAll_NothingDue(benchmark::State &state)
{
    PushAllWindow w;
    for (auto _ : state) {
        w.push->btnPushAllNowClick();
        if (w.memoLog->LineCount() > 1000)
            w.memoLog->ClearLines();
    }
    state.SetItemsProcessed(state.iterations() * kSites * kFiles);
}
BENCHMARK(BM_PushAll_NothingDue)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_StoreAndLoadEverySite_Floor(benchmark::State &state)
{
    PushAllWindow w;
    for (auto _ : state) {
        for (int s = 0; s < kSites; ++s) {
            w.catalogue->SaveCurrentSite();
            w.catalogue->LoadSite(SiteName(s));
            w.catalogue->SetCurrentSiteName(SiteName(s));
        }
        w.catalogue->SaveCurrentSite();
    }
    state.SetItemsProcessed(state.iterations() * kSites * kFiles);
}
BENCHMARK(BM_StoreAndLoadEverySite_Floor)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char **argv)
{
    return quelmark::bench::RunBenchmarks(argc, argv);
}
