#include "engine/RefreshCycle.h"

#include "base/Exception.h"
#include "catalogue/P_Types.h"
#include "net/Sockets.h"
#include "net/appexec.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Files.h"
#include "tests/support/Namespace.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QProcess>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <optional>

namespace quelmark {
namespace {

const QString kChecking = QStringLiteral(">>>> Checking all files...");
const QString kNotConnected = QStringLiteral("!!!!!Not connected to the network...");
const QString kDisconnected = QStringLiteral("*****Disconnected from network...");
const QString kWaiting = QStringLiteral("*****Waiting for one minute...");

// Waits, dispatching events, until the file holds the given number of lines.
bool WaitForLines(const QString &path, int lines)
{
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (test::ReadFile(path).count('\n') >= lines)
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return false;
}

class RefreshCycleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(w.store.IsValid());
        w.Build();
        SetTopLevelReporter([this](const QString &message) { reported.append(message); });
    }

    void TearDown() override { SetTopLevelReporter(nullptr); }

    // Runs ticks one by one and returns the numbers (counted from 1) of those that checked.
    QList<int> CheckingTicks(int ticks, const QString &line = kChecking)
    {
        QList<int> checked;
        for (int i = 1; i <= ticks; ++i) {
            const int before = w.LogCount(line);
            w.cycle->tmrRefreshTimer();
            if (w.LogCount(line) > before)
                checked.append(i);
        }
        return checked;
    }

    // A reconnect command that appends one line to a file each time it runs.
    QString AppendingCommand() const { return QStringLiteral("/bin/sh -c 'echo x >> \"%1\"'").arg(marks); }

    // Runs the real timer, a tick every few milliseconds, until the cycle has reported that
    // many checks; returns the reports.
    QList<TCheckReport> ReportsFromTheTimer(int count)
    {
        struct Reports : TEngineObserver {
            void CheckDone(const TCheckReport &report) override
            {
                reports.append(report);
                if (reports.size() == count)
                    cycle->tmrRefresh->stop();
            }
            QList<TCheckReport> reports;
            int count;
            TRefreshCycle *cycle;
        } heard;
        heard.count = count;
        heard.cycle = w.cycle;
        TObserving observing(*w.engine, heard);
        w.cycle->tmrRefresh->setInterval(5);
        w.cycle->btnStartStopClick();
        QDeadlineTimer deadline(10000);
        while (heard.reports.size() < count && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        return heard.reports;
    }

    test::EngineWindow w;
    QTemporaryDir dir;
    QString marks = dir.filePath(QStringLiteral("reconnects"));
    QStringList reported;
};

TEST(RefreshCycleMinutes, TheTextIsReadAsAnIntegerAndAnythingElseMeansEveryTick)
{
    const struct {
        const char *text;
        int minutes;
    } cases[] = {{"10", 10}, {" 7 ", 7}, {"1", 1}, {"0", 0}, {"", 1}, {"ten", 1}, {"5x", 1}, {"2.5", 1}};
    for (const auto &c : cases)
        EXPECT_EQ(TestFilesMinutes(QString::fromLatin1(c.text)), c.minutes) << c.text;
}

TEST_F(RefreshCycleTest, ConnectedChecksFallEveryNMinusOneTicksAfterTheFirst)
{
    const struct {
        const char *minutes;
        int ticks;
        QList<int> checks;
    } cases[] = {
        {"10", 30, {10, 19, 28}},
        {"2", 5, {2, 3, 4, 5}},
        {"1", 4, {1, 2, 3, 4}},
        {"every", 3, {1, 2, 3}},
    };
    for (const auto &c : cases) {
        w.cycle->MinuteCount = 0;
        w.options->spnTestFilesMinutes->SetText(QString::fromLatin1(c.minutes));
        EXPECT_EQ(CheckingTicks(c.ticks), c.checks) << "minutes " << c.minutes;
    }
}

TEST_F(RefreshCycleTest, ACheckLooksTheAddressUpOnceAndShowsThatAddressInBothFields)
{
    w.options->spnTestFilesMinutes->SetText(QStringLiteral("1"));
    w.localAddress = QStringLiteral("192.0.2.7");
    w.cycle->tmrRefreshTimer();
    EXPECT_EQ(w.parts.edtLocalAddress->text(), QStringLiteral("192.0.2.7"));
    EXPECT_EQ(w.options->edtLastIPAddress->text(), QStringLiteral("192.0.2.7"));
    EXPECT_EQ(w.lookups, 1) << "the check's one look-up serves the push and both fields";
    EXPECT_EQ(w.cycle->MinuteCount, 1);

    w.localAddress = QStringLiteral("0.0.0.0");
    w.cycle->tmrRefreshTimer();
    EXPECT_EQ(w.LogCount(kChecking), 2) << "an unresolvable host name counts as connected";
    EXPECT_EQ(w.options->edtLastIPAddress->text(), QStringLiteral("0.0.0.0"));
}

TEST(CheckResult, SaysWhatThePushDidInOneLine)
{
    const struct {
        int pushed, failed;
        const char *text;
    } cases[] = {
        {0, 0, "nothing was due"},     {1, 0, "1 file pushed"},       {3, 0, "3 files pushed"},
        {0, 1, "1 of 1 files failed"}, {2, 3, "3 of 5 files failed"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CheckResultText({.pushed = c.pushed, .failed = c.failed}), QString::fromLatin1(c.text)) << c.text;
}

TEST_F(RefreshCycleTest, APushAllEndedByAnErrorLeavesTheCheckDueAtTheNextTick)
{
    const QString page = dir.filePath(QStringLiteral("page.html"));
    QFile(page).open(QIODevice::WriteOnly);
    w.StoreSite(QStringLiteral("Site"), QStringLiteral("user"), QStringLiteral("password"),
                {{page, {QStringLiteral("page.html"), FileType::Ascii, QStringLiteral("%IP%"), FileStatus::New}}});
    w.Build();
    w.options->edtTempFileName->setText(dir.filePath(QStringLiteral("absent/upload.tmp")));
    w.options->spnTestFilesMinutes->SetText(QStringLiteral("2"));
    w.cycle->MinuteCount = 1;
    w.parts.edtLocalAddress->setText(QStringLiteral("stale"));

    EXPECT_THROW(w.cycle->tmrRefreshTimer(), Exception);
    EXPECT_EQ(w.cycle->MinuteCount, 2);
    EXPECT_EQ(w.parts.edtLocalAddress->text(), w.localAddress) << "the push-all's clean-up refreshed it";
    EXPECT_THROW(w.cycle->tmrRefreshTimer(), Exception);
    EXPECT_EQ(w.LogCount(kChecking), 2) << "checked again at the next tick";
}

TEST_F(RefreshCycleTest, ChecksRunUnderAnyOpenDialogAndWaitOnlyWhileEditingHoldsThem)
{
    w.options->spnTestFilesMinutes->SetText(QStringLiteral("2"));
    QDialog dialog;
    QList<int> checked;
    // Ticks 1 to 3 arrive while a modal dialog (an about box, a question) runs.
    QTimer::singleShot(0, &dialog, [&] {
        checked = CheckingTicks(3);
        dialog.reject();
    });
    dialog.exec();
    EXPECT_EQ(checked, (QList<int>{2, 3}));

    // Ticks 1 to 3 while the user edits the sites; the first one after checks.
    w.cycle->MinuteCount = 0;
    w.holdChecks = true;
    EXPECT_TRUE(CheckingTicks(3).isEmpty());
    w.holdChecks = false;
    EXPECT_EQ(CheckingTicks(1), QList<int>{1});
}

TEST_F(RefreshCycleTest, StartStopTogglesTimerPictureAndAnimationAndKeepsTheMinuteCount)
{
    EXPECT_FALSE(w.cycle->tmrRefresh->isActive()) << "created stopped";
    EXPECT_EQ(w.cycle->tmrRefresh->interval(), 60000);
    EXPECT_EQ(w.parts.btnStartStop->icon().cacheKey(), w.view->imgStart.cacheKey());
    EXPECT_FALSE(w.parts.btnStartStop->icon().pixmap(20).isNull());
    EXPECT_FALSE(w.view->AnimationShown());

    w.parts.btnStartStop->trigger();
    EXPECT_EQ(w.cycle->Tag(), 1);
    EXPECT_TRUE(w.cycle->tmrRefresh->isActive());
    EXPECT_EQ(w.parts.btnStartStop->icon().cacheKey(), w.view->imgStop.cacheKey());
    EXPECT_TRUE(w.view->AnimationShown());
    EXPECT_TRUE(w.view->Animation->Playing());

    EXPECT_TRUE(CheckingTicks(7).isEmpty());
    w.parts.btnStartStop->trigger();
    EXPECT_EQ(w.cycle->Tag(), 0);
    EXPECT_FALSE(w.cycle->tmrRefresh->isActive());
    EXPECT_EQ(w.parts.btnStartStop->icon().cacheKey(), w.view->imgStart.cacheKey());
    EXPECT_FALSE(w.view->AnimationShown());
    EXPECT_FALSE(w.view->Animation->Playing());

    w.cycle->SetTag(0);
    w.cycle->btnStartStopClick();
    EXPECT_TRUE(w.cycle->tmrRefresh->isActive());
    EXPECT_EQ(CheckingTicks(3), QList<int>{3}) << "the seven ticks before the stop still count";
}

// Out of sight the animation keeps no timer: a program waiting on the task bar or in the tray is
// woken by nothing faster than the minute's tick.
TEST_F(RefreshCycleTest, TheAnimationTurnsOnlyWhileOnShowInAWindowThatIsNeitherHiddenNorMinimised)
{
    TAnimation &animation = *w.view->Animation;
    QToolBar &bar = *w.parts.toolbar;
    w.parts.btnStartStop->trigger();
    EXPECT_TRUE(animation.Playing());
    EXPECT_FALSE(animation.Turning()) << "the window was never shown";

    const struct {
        const char *step;
        std::function<void()> run;
        bool turning;
    } steps[] = {
        {"window shown", [&] { w.window.show(); }, true},
        {"window minimised", [&] { w.window.showMinimized(); }, false},
        {"window restored", [&] { w.window.showNormal(); }, true},
        {"window hidden", [&] { w.window.hide(); }, false},
        {"window shown again", [&] { w.window.show(); }, true},
        {"toolbar hidden", [&] { bar.hide(); }, false},
        {"toolbar shown", [&] { bar.show(); }, true},
        {"timer stopped", [&] { w.parts.btnStartStop->trigger(); }, false},
        {"timer started", [&] { w.parts.btnStartStop->trigger(); }, true},
        // Torn off, the toolbar is a window of its own, minimised apart from the main one.
        {"toolbar torn off",
         [&] {
             bar.setParent(nullptr);
             bar.show();
         },
         true},
        {"torn-off toolbar minimised", [&] { bar.showMinimized(); }, false},
        {"main window minimised, toolbar restored",
         [&] {
             w.window.showMinimized();
             bar.showNormal();
         },
         true},
        {"toolbar back in the minimised window",
         [&] {
             bar.setParent(&w.window);
             bar.show();
         },
         false},
        {"window restored with it", [&] { w.window.showNormal(); }, true},
    };
    for (const auto &step : steps) {
        step.run();
        QCoreApplication::processEvents();
        EXPECT_EQ(animation.Turning(), step.turning) << step.step;
        EXPECT_EQ(animation.Playing(), w.cycle->Tag() == 1) << step.step;
    }
}

TEST_F(RefreshCycleTest, DisconnectedWithAutoReconnectStartsTheCommandAtEveryTick)
{
    w.localAddress = QStringLiteral("127.0.0.1");
    w.options->chkAutoReconnect->setChecked(true);
    w.options->edtRedialCommand->setText(AppendingCommand());
    w.options->spnTestFilesMinutes->SetText(QStringLiteral("3"));

    EXPECT_EQ(CheckingTicks(5, kDisconnected), (QList<int>{3, 4, 5}));
    EXPECT_TRUE(WaitForLines(marks, 3)) << "the command ran at each of the three checks";
    EXPECT_EQ(test::ReadFile(marks), QByteArray("x\nx\nx\n"));
    const QStringList frame = {kDisconnected, QStringLiteral("*****Running command: ") + AppendingCommand(), kWaiting};
    EXPECT_EQ(w.LogLines(), frame + frame + frame);
    EXPECT_EQ(w.LogCount(kChecking), 0);

    w.localAddress = QStringLiteral("10.1.1.1");
    EXPECT_EQ(CheckingTicks(1), QList<int>{1}) << "back on the network the next tick pushes";
}

TEST_F(RefreshCycleTest, DisconnectedWithoutAutoReconnectWarnsOnceEveryNTicks)
{
    w.localAddress = QStringLiteral("127.0.0.1");
    w.options->edtRedialCommand->setText(AppendingCommand());
    w.options->spnTestFilesMinutes->SetText(QStringLiteral("3"));
    EXPECT_EQ(CheckingTicks(9, kNotConnected), (QList<int>{3, 6, 9}));
    EXPECT_EQ(w.LogLines().size(), 3);
    QCoreApplication::processEvents();
    EXPECT_FALSE(QFile::exists(marks));
}

TEST_F(RefreshCycleTest, TimerStartedErrorsGoToTheLogStatusBarAndReportNeverToABoxAndTheTimerGoesOn)
{
    // A push-all ended by an error: the upload copy of the site's page cannot be written.
    const QString page = dir.filePath(QStringLiteral("page.html"));
    QFile(page).open(QIODevice::WriteOnly);
    w.StoreSite(QStringLiteral("Site"), QStringLiteral("user"), QStringLiteral("password"),
                {{page, {QStringLiteral("page.html"), FileType::Ascii, QStringLiteral("%IP%"), FileStatus::New}}});
    w.Build();
    const QString badCopy = dir.filePath(QStringLiteral("absent/upload.tmp"));
    w.options->edtTempFileName->setText(badCopy);
    w.options->spnTestFilesMinutes->SetText(QStringLiteral("2"));
    w.cycle->MinuteCount = 1;

    const QList<TCheckReport> reports = ReportsFromTheTimer(2);
    const QString error = QStringLiteral("Cannot create file ") + badCopy;
    EXPECT_TRUE(reported.isEmpty()) << "no box: " << reported.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(reports.size(), 2) << "the second check came at the very next tick";
    for (const TCheckReport &report : reports) {
        EXPECT_EQ(report.failure, error);
        EXPECT_EQ(report.result, QStringLiteral("stopped by an error"));
        EXPECT_TRUE(report.time.isValid());
    }
    EXPECT_EQ(w.LogCount(error), 2) << "the log holds the same text";
    EXPECT_EQ(w.parts.statusBar->currentMessage(), error);
    EXPECT_EQ(w.cycle->MinuteCount, 3) << "kept at N and above";
}

TEST_F(RefreshCycleTest, AReconnectCommandThatCannotStartIsLoggedAndTheNextTickChecksAgain)
{
    w.localAddress = QStringLiteral("127.0.0.1");
    w.options->chkAutoReconnect->setChecked(true);
    w.options->edtRedialCommand->setText(QStringLiteral("no-such-dialler-program -d ricochet"));
    w.options->spnTestFilesMinutes->SetText(QStringLiteral("3"));
    w.cycle->MinuteCount = 2;

    const QList<TCheckReport> reports = ReportsFromTheTimer(2);
    EXPECT_TRUE(reported.isEmpty());
    ASSERT_EQ(reports.size(), 2);
    EXPECT_EQ(reports[0].failure, QStringLiteral("File was not found"));
    EXPECT_EQ(w.LogLines().mid(0, 4),
              (QStringList{kDisconnected, QStringLiteral("*****Running command: no-such-dialler-program -d ricochet"),
                           kWaiting, QStringLiteral("File was not found")}));
    EXPECT_EQ(w.LogCount(kDisconnected), 2) << "the next tick checked again";
    EXPECT_EQ(w.cycle->MinuteCount, 4) << "not decreased";

    w.options->edtRedialCommand->setText(AppendingCommand());
    EXPECT_NO_THROW(w.cycle->tmrRefreshTimer());
    EXPECT_TRUE(WaitForLines(marks, 1));
    EXPECT_EQ(w.cycle->MinuteCount, 4);
    EXPECT_EQ(w.cycle->LastCheck()->result, QStringLiteral("not connected, reconnect command started"));
    EXPECT_TRUE(w.cycle->LastCheck()->failure.isEmpty());
}

// The loopback-only case runs this test program again inside a network namespace of its own
// with the real address look-up; the child writes its log to the file the parent names.
const char *const kChildLog = "QUELMARK_TEST_REFRESH_LOG";

// In the namespace: one check without auto-reconnect, then one with a command that marks a
// file beside the log.
void RunDisconnectedChecks()
{
    test::EngineWindow w;
    w.Build();
    // The options as a store of the previous version leaves them: the "Local" rule.
    w.UseTheChosenSource();
    w.options->spnTestFilesMinutes->SetText(QStringLiteral("1"));
    w.cycle->tmrRefreshTimer();
    const QString logPath = qEnvironmentVariable(kChildLog);
    w.options->chkAutoReconnect->setChecked(true);
    w.options->edtRedialCommand->setText(QStringLiteral("/bin/sh -c 'echo x >> \"%1.marks\"'").arg(logPath));
    w.cycle->tmrRefreshTimer();
    WaitForLines(logPath + QStringLiteral(".marks"), 1);
    QFile out(logPath);
    if (out.open(QIODevice::WriteOnly))
        out.write(w.LogLines().join(QLatin1Char('\n')).toUtf8());
}

TEST(RefreshCycleNamespace, LoopbackOnlyMachineIsNotConnectedWithTheRealLookup)
{
    if (qEnvironmentVariableIsSet(kChildLog)) {
        RunDisconnectedChecks();
        return;
    }
    const std::optional<QStringList> flags = test::UnshareFlags();
    if (!flags)
        GTEST_SKIP() << test::NamespaceSkipReason().toStdString();

    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("log"));
    const test::UnsharedRun run = test::RerunCurrentTestUnshared(*flags, QString(), kChildLog, logPath);
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();

    const QStringList lines = QString::fromUtf8(test::ReadFile(logPath)).split(QLatin1Char('\n'));
    EXPECT_EQ(lines.value(0), kNotConnected);
    EXPECT_EQ(lines.mid(1), (QStringList{kDisconnected,
                                         QStringLiteral("*****Running command: /bin/sh -c 'echo x >> \"") + logPath +
                                             QStringLiteral(".marks\"'"),
                                         kWaiting}));
    EXPECT_EQ(test::ReadFile(logPath + QStringLiteral(".marks")), QByteArray("x\n"));
}

} // namespace
} // namespace quelmark
