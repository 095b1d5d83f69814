#include "app/F_Main.h"
#include "app/Termination.h"
#include "base/Wait.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "engine/EngineView.h"
#include "engine/F_Prgrss.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "ftp/Ftpcli.h"
#include "net/Sockets.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/StoreDump.h"
#include "tests/support/StoreScript.h"
#include "tests/support/TempStore.h"
#include "tests/support/TestModes.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

using namespace quelmark;

namespace {

const QString kOptionsKey = store::BaseKey + '\\' + store::GeneralOptions;

// Reads the general options with the sqlite3 command, as a user would: "name=value" lines in
// the order they were first written.
QStringList OptionsViaSqlite3(const QString &file)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {file, QStringLiteral(R"(
        WITH RECURSIVE path(id, p) AS (
          SELECT id, '' FROM keys WHERE parent IS NULL
          UNION ALL SELECT k.id, path.p || '\' || k.name FROM keys k JOIN path ON k.parent = path.id)
        SELECT v.name || '=' || CAST(v.data AS TEXT) FROM vals v JOIN path ON path.id = v.key
        WHERE path.p = '\Software\Varnholt\Quelmark\General Options' ORDER BY v.rowid;)")});
    if (!sqlite.waitForFinished(10000) || sqlite.exitCode() != 0) {
        ADD_FAILURE() << "sqlite3 failed: " << sqlite.readAllStandardError().toStdString();
        return {};
    }
    return QString::fromUtf8(sqlite.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(store.IsValid()); }

    template <typename T> T *Find(TfrmMain &window, const char *name)
    {
        T *widget = window.findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    test::TestModes<TMessageBox> modes;
    test::TempStore store;
};

TEST_F(MainWindowTest, FirstShowOnAnEmptyStoreWritesTheDefaultOptions)
{
    ASSERT_FALSE(QFile::exists(store.FilePath()));
    TfrmMain window;
    window.show();

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Varnholt Quelmark"));
    EXPECT_EQ(window.CurrentPageTitle(), pages::GeneralOptions);
    const QString tempFile =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/QUELMARK.$$$");
    CloseStore();
    EXPECT_EQ(
        OptionsViaSqlite3(store.FilePath()),
        QStringList({"Autoprocess=0", "MinsTestFiles=10", "DetailedLogging=0", "TempFileName=" + tempFile,
                     "DefaultIPParam=%IP%", "TimeStampLog=0", "LastIPAddress=", "RedialCommand=rasphone -d ricochet",
                     "AutoReconnect=0", "CloseToTray=0", "AddressSource=Local",
                     "AddressInterface=", "AddressURL=", "AddressCommand=", "AddressFamily=IPv4", "ReuseSession=1",
                     "WatchChanges=1", "AddressChangedCommand=", "UseKeyring=0"}));
    EXPECT_TRUE(TMessageBox::Shown().isEmpty());
}

TEST_F(MainWindowTest, FirstShowLoadsStoredOptionsAndClosingWritesChangesBack)
{
    TRegIniFile ini(BaseKeyPath());
    ini.WriteText(store::GeneralOptions, store::MinsTestFiles, QStringLiteral("$1E"));
    ini.WriteText(store::GeneralOptions, store::Autoprocess, QStringLiteral("2"));
    {
        TfrmMain window;
        window.show();
        EXPECT_EQ(Find<TRegSpinEdit>(window, "spnTestFilesMinutes")->Value(), 30);
        EXPECT_TRUE(Find<TRegCheckBox>(window, "chkAutoProcess")->isChecked());
        EXPECT_TRUE(Find<TRegCheckBox>(window, "chkReuseSession")->isChecked()) << "a store without the value";

        Find<TRegSpinEdit>(window, "spnTestFilesMinutes")->SetValue(45);
        Find<TRegEdit>(window, "edtRedialCommand")->setText(QStringLiteral("nmcli con up home"));
        Find<TRegCheckBox>(window, "chkTimeStampLog")->setChecked(true);
        window.close();
    }
    CloseStore();
    const QStringList options = OptionsViaSqlite3(store.FilePath());
    EXPECT_TRUE(options.contains(QStringLiteral("MinsTestFiles=45")));
    EXPECT_TRUE(options.contains(QStringLiteral("RedialCommand=nmcli con up home")));
    EXPECT_TRUE(options.contains(QStringLiteral("TimeStampLog=1")));
    EXPECT_TRUE(options.contains(QStringLiteral("Autoprocess=1")));
}

TEST_F(MainWindowTest, ClosingStoresTheShownSite)
{
    TfrmMain window;
    window.show();
    Find<TRegEdit>(window, "edtFTPServer")->setText(QStringLiteral("ftp.example.org"));
    auto *list = Find<TRegListView>(window, "lvFileDetails");
    TListRow *row = list->AddRow();
    row->SetCaption(QStringLiteral("/home/u/index.html"));
    row->SetSubItems({"/www/index.html", FileType::Ascii, "%IP%", FileStatus::New, "", "", ""});
    window.Catalogue().SetCurrentSiteName(QStringLiteral("ftp.example.org"));
    window.close();

    EXPECT_EQ(window.Catalogue().ListSites(), QStringList({"ftp.example.org"}));
    TRegIniFile site(BaseKeyPath() + '\\' + store::SiteSection(QStringLiteral("ftp.example.org")));
    EXPECT_EQ(site.ReadText(QString(), store::FTPServer, QString()), QStringLiteral("ftp.example.org"));
    EXPECT_EQ(site.ReadText(store::ItemSection(0), store::Caption, QString()), QStringLiteral("/home/u/index.html"));
}

// Closing after the options failed to load writes none of the defaults left in the controls.
TEST_F(MainWindowTest, StoreErrorDuringShowGoesToTheErrorDisplayAndLeavesTheStoreAlone)
{
    TRegIniFile ini(BaseKeyPath());
    ini.WriteText(store::GeneralOptions, store::MinsTestFiles, QStringLiteral("30"));
    ini.WriteText(store::GeneralOptions, store::RedialCommand, QStringLiteral("nmcli con up"));
    CloseStore();
    test::SetValueKind(store.FilePath(), kOptionsKey, store::MinsTestFiles, 4);
    const QStringList before = test::DumpStore(store.FilePath());
    {
        TfrmMain window;
        window.show();
        ASSERT_EQ(TMessageBox::Shown().size(), 1);
        EXPECT_EQ(TMessageBox::Shown()[0].kind, TMessageBox::TKind::Critical);
        EXPECT_EQ(TMessageBox::Shown()[0].title, QStringLiteral("Varnholt Quelmark"));
        EXPECT_EQ(TMessageBox::Shown()[0].text, QStringLiteral("Invalid data type for 'MinsTestFiles'"));
        EXPECT_TRUE(window.close());
    }
    CloseStore();
    EXPECT_EQ(test::DumpStore(store.FilePath()), before);
}

TEST_F(MainWindowTest, CloseThatCannotSaveIsReportedAndStillCloses)
{
    TfrmMain window;
    window.show();
    CloseStore();
    test::PoisonValueName(store.FilePath(), store::RedialCommand);
    const QStringList before = test::DumpStore(store.FilePath());
    Find<TRegEdit>(window, "edtDefaultIPParam")->setText(QStringLiteral("%NEW%"));

    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    ASSERT_EQ(TMessageBox::Shown().size(), 1);
    EXPECT_EQ(TMessageBox::Shown()[0].kind, TMessageBox::TKind::Critical);
    CloseStore();
    EXPECT_EQ(test::DumpStore(store.FilePath()), before) << "nothing of the failed save is kept";
}

TEST_F(MainWindowTest, CloseAskedForDuringAPushWaitsForItsEndAndThenSaves)
{
    TfrmMain window;
    window.show();
    Find<TRegEdit>(window, "edtRedialCommand")->setText(QStringLiteral("after the push"));
    // A push holds the window disabled while it runs.
    window.setEnabled(false);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    TRegIniFile ini(BaseKeyPath());
    EXPECT_NE(ini.ReadText(store::GeneralOptions, store::RedialCommand, QString()), QStringLiteral("after the push"));

    window.setEnabled(true);
    QElapsedTimer clock;
    clock.start();
    while (window.isVisible() && clock.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(ini.ReadText(store::GeneralOptions, store::RedialCommand, QString()), QStringLiteral("after the push"));
}

// Asked to end in the middle of a long upload, the window does not wait for it: the upload is
// cancelled as Cancel does, the push stops there, and the window saves and closes at once. The
// entry cut short is "Error" and the one after it is left due; the options are kept.
TEST_F(MainWindowTest, EndSignalDuringALongUploadCancelsItThenSavesAndClosesWithinTwoSeconds)
{
    test::ScriptedFtpServer slow(QStringLiteral("slow_sink"));
    ASSERT_TRUE(slow.Running()) << slow.Failure().toStdString();
    QTemporaryDir folder;
    const QString big = folder.filePath(QStringLiteral("big.bin"));
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4 * 1024 * 1024, 'b')) > 0);
    file.close();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(store.FilePath()).absolutePath()));
    test::StoreScript script;
    script.Site(
        QStringLiteral("slow"), QStringLiteral("127.0.0.1:") + slow.PortText(), QStringLiteral("u"),
        QStringLiteral("p"),
        {{big, "big.bin", "Binary", "", "New", "", "", ""}, {big, "next.bin", "Binary", "", "New", "", "", ""}});
    ASSERT_EQ(script.WriteTo(store.FilePath()), QString());

    const QString received = QDir(slow.Home()).filePath(QStringLiteral("big.bin"));
    QElapsedTimer sinceSignal;
    {
        TfrmMain window;
        window.show();
        Find<TRegEdit>(window, "edtRedialCommand")->setText(QStringLiteral("kept at the end"));
        TTermination termination;
        termination.OnTerminate = [&window] { window.close(); };
        QTimer::singleShot(0, &window,
                           [&window] { Guarded([&window] { window.Engine().Push().btnPushAllNowClick(); }); });
        QTimer signal;
        QObject::connect(&signal, &QTimer::timeout, [&] {
            if (!sinceSignal.isValid() && QFileInfo(received).size() > 0) {
                sinceSignal.start();
                ::raise(SIGTERM);
            }
        });
        signal.start(50);
        QElapsedTimer clock;
        clock.start();
        while (window.isVisible() && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_TRUE(sinceSignal.isValid()) << "the upload never started";
        EXPECT_FALSE(window.isVisible());
        EXPECT_LT(sinceSignal.elapsed(), 2000);
        const QStringList log = window.findChild<TTextArea *>(QStringLiteral("memoLog"))->Lines();
        EXPECT_TRUE(log.contains(QStringLiteral("Cancelled: the program was asked to end")))
            << log.join('\n').toStdString();
        EXPECT_EQ(log.value(log.size() - 1), QStringLiteral(">>>> Stopped checking files..."));
    }
    EXPECT_LT(QFileInfo(received).size(), 4 * 1024 * 1024);
    CloseStore();
    EXPECT_EQ(test::StoredEntries(store.FilePath()), QStringLiteral("slow|%1|Error|\nslow|%1|New|").arg(big));
    EXPECT_EQ(test::StoredOption(store.FilePath(), store::RedialCommand), QStringLiteral("kept at the end"));
}

// The user's Cancel reaches a transfer that waits for the server's answer to the password: the
// wait refuses input everywhere but in the progress window, and the session ends at once.
TEST_F(MainWindowTest, CancelWhileTheServerHoldsTheLoginReplyEndsTheTransferWithinASecond)
{
    test::ScriptedFtpServer silent(QStringLiteral("no_pass_reply"));
    ASSERT_TRUE(silent.Running()) << silent.Failure().toStdString();
    QTemporaryDir folder;
    const QString page = folder.filePath(QStringLiteral("page.html"));
    QFile file(page);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("held at the login\n") > 0);
    file.close();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(store.FilePath()).absolutePath()));
    test::StoreScript script;
    script.Option(QStringLiteral("DetailedLogging"), QStringLiteral("1"));
    script.Site(QStringLiteral("held"), QStringLiteral("127.0.0.1:") + silent.PortText(), QStringLiteral("u"),
                QStringLiteral("p"), {{page, "page.html", "Binary", "", "New", "", "", ""}});
    ASSERT_EQ(script.WriteTo(store.FilePath()), QString());

    TfrmMain window;
    window.show();
    auto *progress = window.findChild<TfrmProgress *>();
    ASSERT_NE(progress, nullptr);
    const TTextArea *log = window.findChild<TTextArea *>(QStringLiteral("memoLog"));
    QTimer::singleShot(0, &window, [&window] { Guarded([&window] { window.Engine().Push().btnPushAllNowClick(); }); });
    QElapsedTimer sinceClick;
    QTimer click;
    QObject::connect(&click, &QTimer::timeout, [&] {
        if (!sinceClick.isValid() && log->Lines().contains(QStringLiteral("> PASS ****"))) {
            sinceClick.start();
            QTest::mouseClick(progress->btnCancel, Qt::LeftButton);
        }
    });
    click.start(50);
    QElapsedTimer clock;
    clock.start();
    while (!(sinceClick.isValid() && window.isEnabled()) && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(sinceClick.isValid()) << log->Lines().join('\n').toStdString();
    EXPECT_LT(sinceClick.elapsed(), 1000);
    EXPECT_TRUE(log->Lines().contains(QStringLiteral("Cancelled by the user")))
        << log->Lines().join('\n').toStdString();
    CloseStore();
}

TEST_F(MainWindowTest, UnusableStoreIsNamedAndLeftUntouched)
{
    // A file that is not a database, and a store that a newer version of the program laid out.
    const struct {
        const char *sql;
        QString reason;
    } cases[] = {
        {nullptr, QStringLiteral("file is not a database")},
        {"CREATE TABLE meta (name TEXT PRIMARY KEY, value TEXT NOT NULL);"
         "INSERT INTO meta VALUES ('schema_version', '7');",
         QStringLiteral("it has schema version 7, newer than version 1")},
    };
    ASSERT_TRUE(QDir().mkpath(QFileInfo(store.FilePath()).absolutePath()));
    for (const auto &c : cases) {
        ASSERT_TRUE(test::WriteFile(store.FilePath(), c.sql ? QByteArray() : QByteArray(4096, 'x')));
        if (c.sql)
            test::ExecSql(store.FilePath(), QString::fromLatin1(c.sql));
        const QByteArray before = test::ReadFile(store.FilePath());

        const QString problem = CheckStoreAtStart();
        EXPECT_TRUE(problem.contains(store.FilePath())) << problem.toStdString();
        EXPECT_TRUE(problem.contains(c.reason)) << problem.toStdString();
        EXPECT_EQ(test::ReadFile(store.FilePath()), before);
    }
}

TEST_F(MainWindowTest, FirstStartOnAnEmptyStoreShowsTheInitialOptionsWithTheTimerStopped)
{
    TfrmMain window;
    window.show();

    EXPECT_EQ(Find<TRegEdit>(window, "edtDefaultIPParam")->text(), QStringLiteral("%IP%"));
    EXPECT_EQ(Find<TRegEdit>(window, "edtRedialCommand")->text(), QStringLiteral("rasphone -d ricochet"));
    EXPECT_EQ(Find<TRegSpinEdit>(window, "spnTestFilesMinutes")->Value(), 10);
    for (const char *box : {"chkAutoProcess", "chkDetailedLogging", "chkTimeStampLog", "chkAutoReconnect"})
        EXPECT_FALSE(Find<TRegCheckBox>(window, box)->isChecked()) << box;
    EXPECT_TRUE(Find<TRegCheckBox>(window, "chkReuseSession")->isChecked());

    TNavigator *navigator = window.Navigator();
    ASSERT_EQ(navigator->topLevelItemCount(), 3);
    EXPECT_EQ(navigator->currentItem(), navigator->GeneralOptionsNode);
    EXPECT_EQ(navigator->WebSitesNode->childCount(), 0);
    EXPECT_EQ(Find<QLabel>(window, "pnlDetailTitle")->text(), pages::GeneralOptions);

    EXPECT_FALSE(window.findChild<QTimer *>(QStringLiteral("tmrRefresh"))->isActive());
    EXPECT_EQ(window.RefreshCycle().Tag(), 0);
    EXPECT_EQ(Find<QLineEdit>(window, "edtLocalAddress")->text(), TSockets().LocalIPAddress());
    EXPECT_EQ(Find<QTabWidget>(window, "nbMain")->currentWidget(), Find<TTextArea>(window, "memoLog"));
    EXPECT_FALSE(Find<TWait>(window, "waitControl")->isWidgetType()) << "the countdown is never seen";
    EXPECT_EQ(Find<QWidget>(window, "pnlOutline")->width(), 156);
    EXPECT_TRUE(TMessageBox::Shown().isEmpty());
}

TEST_F(MainWindowTest, StoredAutoprocessAloneDecidesWhetherTheTimerRunsAfterTheFirstShow)
{
    const struct {
        const char *stored;
        bool runs;
    } cases[] = {{"1", true}, {"0", false}, {nullptr, false}};
    for (const auto &c : cases) {
        TRegIniFile ini(BaseKeyPath());
        ini.DeleteSection(store::GeneralOptions);
        if (c.stored)
            ini.WriteText(store::GeneralOptions, store::Autoprocess, QString::fromLatin1(c.stored));
        TfrmMain window;
        window.show();
        const auto *timer = window.findChild<QTimer *>(QStringLiteral("tmrRefresh"));
        EXPECT_EQ(timer->isActive(), c.runs) << (c.stored ? c.stored : "absent");
        EXPECT_EQ(window.RefreshCycle().Tag(), c.runs ? 1 : 0);
        EXPECT_EQ(window.EngineView().AnimationShown(), c.runs);
    }
}

TEST_F(MainWindowTest, NextStartFindsTheToolbarsAndTheSiteWhereTheUserLeftThem)
{
    {
        TfrmMain window;
        window.show();
        QToolBar *main = Find<QToolBar>(window, "tbGeneralInfo");
        window.addToolBar(Qt::BottomToolBarArea, main);
        Find<QToolBar>(window, "tbMain")->hide();
        window.Navigator()->AddNavigatorNode(window.Navigator()->WebSitesNode, {nkSite}, QStringLiteral("kept.org"));
        window.Navigator()->SelectNode(window.Navigator()->SiteNodes().value(0));
        Find<TRegEdit>(window, "edtUserName")->setText(QStringLiteral("keeper"));
        window.close();
    }
    TfrmMain again;
    again.show();
    EXPECT_EQ(again.toolBarArea(Find<QToolBar>(again, "tbGeneralInfo")), Qt::BottomToolBarArea);
    EXPECT_TRUE(Find<QToolBar>(again, "tbMain")->isHidden());
    EXPECT_FALSE(Find<QToolBar>(again, "tbNavigator")->isHidden());
    ASSERT_EQ(again.Navigator()->SiteNodes().size(), 1);
    again.Navigator()->SelectNode(again.Navigator()->SiteNodes().value(0));
    EXPECT_EQ(Find<TRegEdit>(again, "edtUserName")->text(), QStringLiteral("keeper"));
    EXPECT_TRUE(TMessageBox::Shown().isEmpty());
}

// Every option control and its caption whole and in view, at the sizes people use; only a window
// lower than the form scrolls it.
TEST_F(MainWindowTest, GeneralOptionsShowEveryControlWholeAt800x600AndMaximised)
{
    TfrmMain window;
    window.show();
    // The rows of the chosen address source come and go; each is shown once.
    auto *source = Find<QComboBox>(window, "cmbAddressSource");
    QWidget *panel = Find<QWidget>(window, "pnlGeneralOptions");
    auto *scroll = Find<QScrollArea>(window, "scrGeneralOptions");
    const QSize sizes[] = {{800, 600}, QGuiApplication::primaryScreen()->availableGeometry().size(), {1280, 800}};
    for (const QSize &size : sizes) {
        for (const QString &kind : AddressFrom::All) {
            window.resize(size);
            source->setCurrentIndex(AddressFrom::All.indexOf(kind));
            QCoreApplication::processEvents();
            const QString where = QStringLiteral("%1x%2, %3").arg(size.width()).arg(size.height()).arg(kind);
            EXPECT_FALSE(scroll->verticalScrollBar()->isVisible()) << where.toStdString();
            const QRect view = scroll->viewport()->rect();
            for (QWidget *control : panel->findChildren<QWidget *>()) {
                if (!control->isVisibleTo(panel) || qobject_cast<QWidget *>(control->parent()) != panel)
                    continue;
                const QRect place(control->mapTo(scroll->viewport(), QPoint(0, 0)), control->size());
                const std::string name =
                    (where + QLatin1Char(' ') + control->objectName() +
                     (qobject_cast<QLabel *>(control) ? static_cast<QLabel *>(control)->text() : QString()))
                        .toStdString();
                EXPECT_TRUE(view.contains(place)) << name;
                EXPECT_GE(control->width(), control->minimumSizeHint().width()) << name;
                EXPECT_GE(control->height(), control->minimumSizeHint().height()) << name;
                if (qobject_cast<QAbstractSpinBox *>(control) || qobject_cast<QComboBox *>(control) ||
                    qobject_cast<QLabel *>(control) || qobject_cast<QCheckBox *>(control)) {
                    EXPECT_GE(control->width(), control->sizeHint().width()) << name << ": all it shows";
                }
            }
        }
    }
    // The first row sits at the top of the page, whatever its height.
    EXPECT_LE(Find<QWidget>(window, "chkAutoProcess")->mapTo(scroll->viewport(), QPoint(0, 0)).y(), 20);
    window.resize(500, 300);
    QCoreApplication::processEvents();
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible()) << "a low window scrolls the form instead of squeezing it";
}

// "ShownSite" keeps the site shown at close: it is shown again at the next start; anything else
// (or a site gone meanwhile) starts at the general options.
TEST_F(MainWindowTest, TheShownSiteComesBackAtTheNextStart)
{
    {
        TRegIniFile ini(BaseKeyPath());
        for (const char *name : {"alpha.example", "beta.example"})
            ini.WriteText(store::SiteSection(QString::fromLatin1(name)), store::UserName, QStringLiteral("u"));
    }
    const struct {
        const char *what;
        std::function<void(TfrmMain &)> leave;
        const char *stored;
        bool deleteIt; // the site is deleted before the next start
        const char *shownNext;
    } rows[] = {
        {"a site", [](TfrmMain &w) { w.Navigator()->SelectNode(w.Navigator()->SiteNodes().value(1)); }, "beta.example",
         false, "beta.example"},
        {"the general options", [](TfrmMain &w) { w.Navigator()->SelectNode(w.Navigator()->GeneralOptionsNode); }, "",
         false, "General Options"},
        {"the log", [](TfrmMain &w) { w.Navigator()->SelectNode(w.Navigator()->ViewLogNode); }, "", false,
         "General Options"},
        {"a site deleted before the next start",
         [](TfrmMain &w) { w.Navigator()->SelectNode(w.Navigator()->SiteNodes().value(0)); }, "alpha.example", true,
         "General Options"},
    };
    for (const auto &row : rows) {
        {
            TfrmMain window;
            window.show();
            row.leave(window);
            window.close();
        }
        TRegIniFile ini(BaseKeyPath());
        EXPECT_EQ(ini.ReadText(store::Window, store::ShownSite, QStringLiteral("none")),
                  QString::fromLatin1(row.stored))
            << row.what;
        if (row.deleteIt)
            TRegIniFile(BaseKeyPath() + QLatin1Char('\\') + store::WWWSites)
                .DeleteSection(QString::fromLatin1(row.stored));
        TfrmMain next;
        next.show();
        EXPECT_EQ(next.Navigator()->currentItem()->text(0), QString::fromLatin1(row.shownNext)) << row.what;
        EXPECT_EQ(next.Catalogue().CurrentSiteName(),
                  next.CurrentPageTitle() == pages::WebSites ? QString::fromLatin1(row.shownNext) : QString());
        EXPECT_TRUE(TMessageBox::Shown().isEmpty()) << row.what;
        next.close();
    }
}

TEST_F(MainWindowTest, WindowPlaceSizeAndDividerSurviveARestart)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect place(screen.left() + 40, screen.top() + 60, 700, 500);
    {
        TfrmMain window;
        window.show();
        window.setGeometry(place);
        QCoreApplication::processEvents();
        Find<QSplitter>(window, "grabBar")->setSizes({230, 465});
        QCoreApplication::processEvents();
        ASSERT_EQ(Find<QWidget>(window, "pnlOutline")->width(), 230);
        window.close();
    }
    TRegIniFile ini(BaseKeyPath());
    EXPECT_EQ(ini.ReadNumber(store::Window, store::Width, 0), 700);
    EXPECT_EQ(ini.ReadNumber(store::Window, store::Divider, 0), 230);
    EXPECT_EQ(ini.ReadText(store::Window, store::Maximized, QString()), QStringLiteral("0"));
    {
        TfrmMain again;
        again.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(again.geometry(), place);
        EXPECT_EQ(Find<QWidget>(again, "pnlOutline")->width(), 230);
        again.showMaximized();
        QCoreApplication::processEvents();
        again.close();
    }
    EXPECT_EQ(ini.ReadText(store::Window, store::Maximized, QString()), QStringLiteral("1"));
    EXPECT_EQ(ini.ReadNumber(store::Window, store::Width, 0), 700) << "the normal size is kept";
    TfrmMain third;
    third.show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(third.isMaximized());
}

TEST(MainWindowLayout, AStoredPlaceIsPutOnTheScreenItOverlapsMostOrElseOnThePrimary)
{
    const QList<QRect> screens = {{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    const struct {
        QRect stored, placed;
        const char *what;
    } cases[] = {
        {{100, 100, 800, 600}, {100, 100, 800, 600}, "inside the primary: kept"},
        {{2000, 50, 800, 600}, {2000, 50, 800, 600}, "inside the second: kept"},
        {{1800, 100, 800, 600}, {1920, 100, 800, 600}, "mostly on the second: moved into it"},
        {{5000, 5000, 800, 600}, {1120, 480, 800, 600}, "on no screen: the primary"},
        {{-300, -40, 800, 600}, {0, 0, 800, 600}, "over the primary's top left edge"},
        {{2500, 100, 1500, 1200}, {1920, 0, 1280, 1024}, "larger than its screen: shrunk"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(PlaceOnScreens(c.stored, screens), c.placed) << c.what;
    EXPECT_EQ(PlaceOnScreens({7, 8, 9, 10}, {}), QRect(7, 8, 9, 10)) << "no screens known";
}

} // namespace

// The desktop shows the window with the icon the installed theme holds under the desktop entry's
// name; without it, the program's own drawing.
TEST_F(MainWindowTest, WindowIconIsTheThemesIconOfTheDesktopEntryWithTheOwnAsFallback)
{
    const QString id = QStringLiteral(QUELMARK_DESKTOP_ID);
    QTemporaryDir themes;
    ASSERT_TRUE(QDir(themes.path()).mkpath(QStringLiteral("probe/48x48/apps")));
    ASSERT_TRUE(
        test::WriteFile(themes.filePath(QStringLiteral("probe/index.theme")),
                        "[Icon Theme]\nName=probe\nDirectories=48x48/apps\n\n[48x48/apps]\nSize=48\nType=Fixed\n"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUELMARK_SOURCE_DIR "/data/icons/hicolor/48x48/apps/") + id + ".png",
                            themes.filePath(QStringLiteral("probe/48x48/apps/")) + id + ".png"));

    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("probe"));
    // A theme icon follows the theme, so each is read while its theme is in force.
    const QString themedName = TfrmMain().windowIcon().name();
    QIcon::setThemeName(QString());
    const QIcon own = TfrmMain().windowIcon();
    EXPECT_TRUE(own.name().isEmpty());
    EXPECT_FALSE(own.isNull());
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(themeName);
    EXPECT_EQ(themedName, id);
}
