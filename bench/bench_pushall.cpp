// A push-all that finds nothing due, the refresh cycle's usual check, against its floor: the
// same store and load of every site through the catalogue without change detection, the
// navigator or the log. 20 sites of 50 pushed, unchanged files each; the ratio is what the walk
// adds to the storage work it cannot avoid.
#include "bench/BenchMain.h"
#include "catalogue/Catalogue.h"
#include "catalogue/GeneralOptions.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "catalogue/filedrag.h"
#include "engine/ChangeDetection.h"
#include "engine/Engine.h"
#include "engine/EngineView.h"
#include "engine/PushCommands.h"
#include "engine/TextArea.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
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

// A window with the parts a push-all works on, over a store of its own holding the sites; the
// engine is built as the program builds it.
struct PushAllWindow {
    PushAllWindow()
    {
        SetStoreFilePath(dir.path() + QStringLiteral("/store.db"));
        options->edtLastIPAddress->setText(QStringLiteral("10.0.0.1"));
        auto *nbDetail = new QStackedWidget(&window);
        QMap<QString, QWidget *> pageByTitle;
        for (const QString &title : {pages::GeneralOptions, pages::WebSites, pages::LogFiles, pages::Blank})
            pageByTitle.insert(title, nbDetail->widget(nbDetail->addWidget(new QWidget)));
        catalogue = std::make_unique<TCatalogue>(&window, pageByTitle.value(pages::WebSites));
        auto *navigator = new TNavigator(
            {nbDetail, pageByTitle, new QLabel(&window), catalogue.get(), new TFileDrag(&window)}, &window);
        StoreSites();
        navigator->BuildNavigator();

        sites = std::make_unique<TWindowSites>(*catalogue, *navigator, *options);
        TEngineParts parts;
        parts.data = sites.get();
        parts.localAddress = [] { return TAddressResult::Found(QStringLiteral("10.0.0.1")); };
        engine = std::make_unique<TEngine>(parts);
        view = std::make_unique<TEngineView>(*engine, TEngineViewParts{.mainWindow = &window, .memoLog = memoLog});
    }

    ~PushAllWindow()
    {
        view.reset();
        SetStoreFilePath(QString());
    }

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
                const TFileDetails details = CurrentFileDetails(path);
                SetRowStatus(*row, TFileStatus::Moved, &details);
            }
            catalogue->SetCurrentSiteName(SiteName(s));
            catalogue->SaveCurrentSite();
        }
        catalogue->SetCurrentSiteName(QString());
        catalogue->Shown().lvFileDetails->ClearRows();
    }

    QTemporaryDir dir;
    QWidget window;
    std::unique_ptr<TGeneralOptions> options = std::make_unique<TGeneralOptions>(&window, QString());
    std::unique_ptr<TCatalogue> catalogue;
    TTextArea *memoLog = new TTextArea(&window);
    std::unique_ptr<TWindowSites> sites;
    std::unique_ptr<TEngine> engine;
    std::unique_ptr<TEngineView> view;
};

void BM_PushAll_NothingDue(benchmark::State &state)
{
    PushAllWindow w;
    for (auto _ : state) {
        w.engine->Push().btnPushAllNowClick();
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
