// Two programs on one store: the window (here, in this process) holds it, and the real program
// started from a terminal hands its push or dry run to the window, which carries it out on what
// it shows; and the service, which reads the options and the sites afresh before every check.
#include "app/F_Main.h"
#include "app/Headless.h"
#include "app/WindowHolder.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "engine/ActivityLog.h"
#include "engine/Engine.h"
#include "engine/EngineView.h"
#include "engine/PushCommands.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Printing.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/StoreScript.h"
#include "tests/support/TempStore.h"
#include "tests/support/TestModes.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace quelmark;

namespace {

using Finished = test::ProgramRun;

// A window holder that counts how often it was brought to the front.
class CountingHolder : public TWindowHolder {
public:
    using TWindowHolder::TWindowHolder;
    bool Raise() override
    {
        ++raised;
        return TWindowHolder::Raise();
    }
    int raised = 0;
};

class HandoverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.IsValid() && folder.isValid());
        ASSERT_TRUE(QDir().mkpath(QFileInfo(store.FilePath()).absolutePath()));
    }
    void TearDown() override { CloseStore(); }

    QString Page(const char *name, const QByteArray &bytes)
    {
        return test::Written(folder.filePath(QString::fromLatin1(name)), bytes);
    }

    // Runs the real program from a terminal while this process keeps dispatching events, so
    // the window here can answer it.
    Finished Quelmark(const QStringList &arguments, bool window = false)
    {
        QProcessEnvironment env = test::NoDisplayEnvironment();
        if (window)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), store.ConfigDir());
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(test::BuildProgram(), arguments);
        // Finish kills it when it has not ended.
        (void)QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 20000);
        return test::Finish(process, 0);
    }

    // Makes the window hold the store as the program does: the lock taken, commands taken on
    // the socket the lock file names.
    void Hold(TfrmMain &window)
    {
        holder = std::make_unique<CountingHolder>(window);
        server = std::make_unique<THandoverServer>(*holder);
        lock = std::make_unique<TStoreLock>(store.FilePath());
        ASSERT_TRUE(lock->TryAcquire());
        const QString socket = HandoverSocketPath(store.FilePath());
        server->Listen(socket);
        lock->Publish({QCoreApplication::applicationPid(), roles::Window, socket});
        window.show();
    }

    TListRow *ShownRow(TfrmMain &window, int i) { return window.Catalogue().Shown().lvFileDetails->Row(i); }

    test::TestModes<TMessageBox> modes;
    test::TempStore store;
    QTemporaryDir folder;
    std::unique_ptr<CountingHolder> holder;
    std::unique_ptr<THandoverServer> server;
    std::unique_ptr<TStoreLock> lock;
};

// The window shows the site; a dry run from the terminal answers from what the window shows (a
// status not stored yet), a push from the terminal is the window's own push-all, whose result
// the window shows and, once it closes, the store keeps.
TEST_F(HandoverTest, PushAndDryRunFromATerminalRunInTheWindowThatShowsTheSite)
{
    test::PyFtpServer &ftp = test::SharedPyFtpServer();
    ASSERT_TRUE(ftp.Running()) << ftp.Failure().toStdString();
    const QString page = Page("handed.html", "handed over\n");
    test::StoreScript script;
    script.Option(QStringLiteral("TempFileName"), folder.filePath(QStringLiteral("upload.tmp")));
    script.Site(QStringLiteral("mysite"), QStringLiteral("127.0.0.1:") + ftp.PortText(), ftp.User(), ftp.Password(),
                {{page, "handed.html", "Ascii", "", "New", "", "", ""}});
    ASSERT_EQ(script.WriteTo(store.FilePath()), QString());

    {
        TfrmMain window;
        Hold(window);
        window.Navigator()->SelectNode(window.Navigator()->SiteNodes().value(0));
        ShownRow(window, 0)->SetSubItem(colStatus, FileStatus::Error);

        const Finished dry = Quelmark({QStringLiteral("--dry-run")});
        EXPECT_EQ(dry.exitCode, 0) << dry.err.toStdString();
        EXPECT_EQ(dry.out, QStringLiteral("mysite\t%1\thanded.html\tdue\terror last time\n").arg(page));

        const Finished push = Quelmark({QStringLiteral("--push-all")});
        EXPECT_EQ(push.exitCode, 0) << push.err.toStdString();
        QStringList lines = push.out.split(QLatin1Char('\n'));
        ASSERT_EQ(lines.takeLast(), QString()) << "the last line ends too";
        EXPECT_EQ(lines.value(0), QStringLiteral(">>>> Checking all files..."));
        EXPECT_TRUE(lines.contains(QStringLiteral("Transfering file: ") + page)) << push.out.toStdString();
        EXPECT_EQ(lines.value(lines.size() - 1), QStringLiteral(">>>> Done checking all files..."));
        EXPECT_EQ(ftp.Stored(QStringLiteral("handed.html")), QByteArray("handed over\n"));
        EXPECT_EQ(window.EngineView().Log().Area()->Lines(), lines) << "the window's log holds the same lines";
        EXPECT_EQ(ShownRow(window, 0)->SubItem(colStatus), FileStatus::Moved) << "the window shows the result";
        EXPECT_EQ(window.CurrentPageTitle(), pages::WebSites);

        const Finished unknown = Quelmark({QStringLiteral("--push-all"), QStringLiteral("--site=elsewhere")});
        EXPECT_EQ(unknown.exitCode, 2);
        EXPECT_EQ(unknown.err, QStringLiteral("quelmark: There is no site named \"elsewhere\"\n"));

        const Finished second = Quelmark({}, true);
        EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
        EXPECT_EQ(holder->raised, 1);
        window.close();
        server.reset();
        lock.reset();
    }
    CloseStore();
    EXPECT_EQ(test::StoredEntries(store.FilePath()), QStringLiteral("mysite|%1|Moved|12").arg(page));
}

// Runs wait in line behind the window's own push and run after it; a push waits for an open
// dialog only so long, while a dry run, which reads only, goes ahead.
TEST_F(HandoverTest, HandedRunsWaitForTheWindowsPushAndAPushIsRefusedWhileADialogStaysOpen)
{
    test::ScriptedFtpServer slow(QStringLiteral("slow_sink"));
    ASSERT_TRUE(slow.Running()) << slow.Failure().toStdString();
    const QString page = Page("slow.bin", QByteArray(48 * 1024, 's'));
    test::StoreScript script;
    script.Site(QStringLiteral("slow"), QStringLiteral("127.0.0.1:") + slow.PortText(), QStringLiteral("u"),
                QStringLiteral("p"), {{page, "slow.bin", "Binary", "", "New", "", "", ""}});
    ASSERT_EQ(script.WriteTo(store.FilePath()), QString());

    TfrmMain window;
    Hold(window);
    QTimer::singleShot(0, &window, [&window] { Guarded([&window] { window.Engine().Push().btnPushAllNowClick(); }); });
    const Finished behind = Quelmark({QStringLiteral("--push-all")});
    EXPECT_EQ(behind.exitCode, 0) << behind.err.toStdString();
    EXPECT_EQ(behind.out, QStringLiteral(">>>> Checking all files...\n>>>> Done checking all files...\n"))
        << "the window's push ran first and left nothing due";
    EXPECT_EQ(slow.Stored(QStringLiteral("slow.bin")).size(), 48 * 1024);

    server->DialogPatienceMs = 300;
    QDialog dialog(&window);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    ASSERT_EQ(QApplication::activeModalWidget(), &dialog);
    const Finished refused = Quelmark({QStringLiteral("--push-all")});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("dialog open"))) << refused.err.toStdString();
    EXPECT_EQ(refused.out, QString()) << "nothing of a push may start under the dialog";
    const Finished dry = Quelmark({QStringLiteral("--dry-run")});
    EXPECT_EQ(dry.exitCode, 0);
    EXPECT_EQ(dry.out, QStringLiteral("slow\t%1\tslow.bin\tnot due\tunchanged\n").arg(page));
    dialog.close();
}

// A program holds the lock but takes no commands (hung, or not this program at all): a run gives
// up after a few seconds, names the process and ends with 2, and the store is left alone.
TEST_F(HandoverTest, AHolderThatDoesNotAnswerIsNamedAndTheRunEndsWithTwo)
{
    test::StoreScript script;
    ASSERT_EQ(script.WriteTo(store.FilePath()), QString());
    const QString lockFile = store.FilePath() + QStringLiteral(".lock");
    QProcess hung;
    hung.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), lockFile,
                                         QStringLiteral("sleep"), QStringLiteral("30")});
    ASSERT_TRUE(hung.waitForStarted(5000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&lockFile] { return TStoreLock(QFileInfo(lockFile).path() + "/store.db").HeldByAnyone(); }, 5000));
    ASSERT_TRUE(test::WriteFile(
        lockFile, QStringLiteral("%1\nwindow\n%2\n").arg(hung.processId()).arg(folder.filePath("none.sock")).toUtf8()));
    const QByteArray before = test::RunSqlite(store.FilePath(), QStringLiteral(".dump")).toUtf8();

    const Finished run = Quelmark({QStringLiteral("--push-all")});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, QStringLiteral("quelmark: The settings store is in use by process %1, which does not answer\n")
                           .arg(hung.processId()));
    EXPECT_EQ(test::RunSqlite(store.FilePath(), QStringLiteral(".dump")).toUtf8(), before);
    hung.kill();
    hung.waitForFinished(5000);
}

// A holder nobody talks to keeps no timer running; one that a run of the program is connected
// to tells it every two seconds that it is alive, until the run goes.
TEST(HandoverServer, BeatsOnlyWhileARunIsConnected)
{
    struct IdleHolder : THolder {
        TBusy Busy() const override { return TBusy::No; }
        int Run(const TRunRequest &, TRunOutput &) override { return 0; }
    } holder;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("socket"));
    THandoverServer server(holder);
    server.Listen(path);
    const auto beating = [&server] {
        const QList<QTimer *> timers = server.findChildren<QTimer *>();
        return std::any_of(timers.begin(), timers.end(), [](const QTimer *timer) { return timer->isActive(); });
    };
    EXPECT_FALSE(beating());

    QLocalSocket run;
    run.connectToServer(path);
    EXPECT_TRUE(QTest::qWaitFor(beating, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&run] { return run.canReadLine(); }, 5000));
    EXPECT_EQ(run.readLine().trimmed(), QByteArray(R"({"alive":true})"));

    run.disconnectFromServer();
    EXPECT_TRUE(QTest::qWaitFor([&beating] { return !beating(); }, 5000));
}

// The service reads the options and the sites afresh before every check: a site added and an
// option changed (as the window does while the service waits for it to close) count at the
// next check.
TEST(HeadlessService, ChecksAtStartAndTakesUpSitesAndOptionsChangedSince)
{
    test::TempStore store;
    QTemporaryDir folder;
    test::PyFtpServer &ftp = test::SharedPyFtpServer();
    ASSERT_TRUE(ftp.Running()) << ftp.Failure().toStdString();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(store.FilePath()).absolutePath()));
    const auto page = [&folder](const char *name) {
        const QString path = folder.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("service\n") == 8);
        return path;
    };
    test::StoreScript script;
    script.Option(QStringLiteral("MinsTestFiles"), QStringLiteral("1"));
    script.Option(QStringLiteral("TempFileName"), folder.filePath(QStringLiteral("upload.tmp")));
    script.Site(QStringLiteral("a"), QStringLiteral("127.0.0.1:") + ftp.PortText(), ftp.User(), ftp.Password(),
                {{page("svc-a.html"), "svc-a.html", "Ascii", "", "New", "", "", ""}});
    ASSERT_EQ(script.WriteTo(store.FilePath()), QString());

    int ended = -1;
    {
        THeadlessHost host;
        // A tick of a tenth of a second stands in for the minute.
        host.Engine().Refresh().tmrRefresh->setInterval(100);
        TService service(host, store.FilePath());
        service.OnEnded = [&ended](int status) { ended = status; };
        struct : TEngineObserver {
            void LogLine(const QString &line) override { lines.append(line); }
            QStringList lines;
        } log;
        TObserving observing(host.Engine(), log);
        ASSERT_EQ(service.Start(), std::nullopt);
        // Without a window the timer has no animation that could be shown as a window of its
        // own, or turn: the service makes no widget at all.
        EXPECT_TRUE(host.Engine().Refresh().tmrRefresh->isActive());
        EXPECT_TRUE(QApplication::allWidgets().isEmpty());
        EXPECT_TRUE(QTest::qWaitFor([&ftp] { return !ftp.Stored(QStringLiteral("svc-a.html")).isEmpty(); }, 10000));

        TRegIniFile ini(BaseKeyPath());
        const QString site = store::SiteSection(QStringLiteral("b"));
        ini.WriteText(site, store::FTPServer, QStringLiteral("127.0.0.1:") + ftp.PortText());
        ini.WriteText(site, store::UserName, ftp.User());
        ini.WriteText(site, store::Password, ftp.Password());
        const QString item = site + QLatin1Char('\\') + store::ItemSection(0);
        ini.WriteText(item, store::Caption, page("svc-b.html"));
        const QStringList columns{"svc-b.html", "Ascii", "", "New", "", "", ""};
        for (int k = 0; k < columns.size(); ++k)
            ini.WriteText(item, store::SublineName(k), columns[k]);
        ini.WriteText(store::GeneralOptions, store::DetailedLogging, QStringLiteral("1"));

        EXPECT_TRUE(QTest::qWaitFor([&ftp] { return !ftp.Stored(QStringLiteral("svc-b.html")).isEmpty(); }, 10000));
        EXPECT_TRUE(log.lines.contains(QStringLiteral("> STOR svc-b.html")));
        service.End();
        EXPECT_TRUE(QTest::qWaitFor([&ended] { return ended >= 0; }, 5000));
    }
    EXPECT_EQ(ended, 0);
    CloseStore();
    EXPECT_EQ(
        test::StoredEntries(store.FilePath()),
        QStringLiteral("a|%1|Moved|8\nb|%2|Moved|8").arg(folder.filePath("svc-a.html"), folder.filePath("svc-b.html")));
}

} // namespace
