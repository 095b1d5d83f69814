// A process killed in the middle of saving a site must leave the site as it was or as it was
// being saved, never a mixture and never nothing. The test program starts itself again as the
// saving child, which the parent kills with SIGKILL at several moments into the save.
#include "catalogue/Catalogue.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "tests/support/TempStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

using namespace quelmark;

namespace {

const char *const kChildStoreVariable = "QUELMARK_CRASH_CHILD_STORE";
const QString kSite = QStringLiteral("big.example.org");
constexpr int kOldRows = 300;
constexpr int kNewRows = 10000;

// A window with the site controls, as the catalogue expects them.
struct TSiteWindow {
    void Fill(const QString &tag, int rows)
    {
        controls.edtFTPServer->setText(tag + QStringLiteral("-server"));
        controls.edtUserName->setText(tag + QStringLiteral("-user"));
        controls.lvFileDetails->ClearRows();
        for (int i = 0; i < rows; ++i) {
            TListRow *row = controls.lvFileDetails->AddRow();
            row->SetCaption(QStringLiteral("/%1/file%2.html").arg(tag).arg(i));
            row->SetSubItems({QStringLiteral("/www/%1/%2").arg(tag).arg(i), FileType::Ascii, "%IP%", FileStatus::Moved,
                              "1/2/24 10:00:00", "1234", ""});
        }
    }

    QWidget window;
    std::unique_ptr<TCatalogue> catalogue = std::make_unique<TCatalogue>(&window, &window);
    TShownSite &controls = catalogue->Shown();
};

// Returns "old" or "new" when the stored site is exactly one of the two, else what is wrong.
QString StoredSiteState()
{
    TSiteWindow view;
    view.catalogue->LoadSite(kSite);
    const QString tag = view.controls.edtFTPServer->text().section(QLatin1Char('-'), 0, 0);
    const int expectedRows = tag == QLatin1String("old") ? kOldRows : kNewRows;
    if (tag != QLatin1String("old") && tag != QLatin1String("new"))
        return QStringLiteral("server field is '%1'").arg(view.controls.edtFTPServer->text());
    if (view.controls.edtUserName->text() != tag + QStringLiteral("-user"))
        return QStringLiteral("user field of another save");
    if (view.controls.lvFileDetails->RowCount() != expectedRows)
        return QStringLiteral("%1 rows with %2 fields").arg(view.controls.lvFileDetails->RowCount()).arg(tag);
    for (int i = 0; i < expectedRows; ++i) {
        if (view.controls.lvFileDetails->Row(i)->Caption() != QStringLiteral("/%1/file%2.html").arg(tag).arg(i))
            return QStringLiteral("row %1 is foreign").arg(i);
    }
    return tag;
}

// Runs only inside the child process the test below starts.
TEST(CatalogueCrash, ChildSaveWorker)
{
    const QString storeFile = qEnvironmentVariable(kChildStoreVariable);
    if (storeFile.isEmpty())
        GTEST_SKIP() << "runs only as the child of KilledSaveLeavesTheSiteWhole";
    SetStoreFilePath(storeFile);
    TSiteWindow site;
    site.Fill(QStringLiteral("new"), kNewRows);
    site.catalogue->SetCurrentSiteName(kSite);
    std::puts("saving");
    std::fflush(stdout);
    site.catalogue->SaveCurrentSite();
    std::puts("saved");
    std::fflush(stdout);
}

TEST(CatalogueCrash, KilledSaveLeavesTheSiteWhole)
{
    test::TempStore store;
    ASSERT_TRUE(store.IsValid());
    QStringList outcomes;
    for (int delayMs : {0, 20, 60, 150, 300, 600, 1200}) {
        {
            TSiteWindow site;
            site.Fill(QStringLiteral("old"), kOldRows);
            site.catalogue->SetCurrentSiteName(kSite);
            site.catalogue->SaveCurrentSite();
        }
        CloseStore();

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildStoreVariable), store.FilePath());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=CatalogueCrash.ChildSaveWorker")});
        ASSERT_TRUE(child.waitForStarted(10000));
        QElapsedTimer waited;
        waited.start();
        while (!child.readAllStandardOutput().contains("saving") && waited.elapsed() < 30000)
            child.waitForReadyRead(100);
        QThread::msleep(delayMs);
        child.kill();
        ASSERT_TRUE(child.waitForFinished(10000));

        const QString state = StoredSiteState();
        EXPECT_TRUE(state == QLatin1String("old") || state == QLatin1String("new"))
            << "killed " << delayMs << " ms into the save: " << state.toStdString();
        outcomes.append(QStringLiteral("%1ms:%2").arg(delayMs).arg(state));
        CloseStore();
    }
    std::printf("outcomes: %s\n", outcomes.join(QLatin1Char(' ')).toUtf8().constData());
}

} // namespace
