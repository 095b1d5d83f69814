// The refresh cycle with its change watch: the watches follow the timer and "Push changes at
// once", the timer sleeps through the ticks that would only be counted, and a cue checks at once.
#include "engine/ChangeWatch.h"

#include "catalogue/GeneralOptions.h"
#include "tests/support/EngineFixture.h"
#include "tests/support/Printing.h"

#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace quelmark {
namespace {

const QString kChecking = QStringLiteral(">>>> Checking all files...");

class ChangeWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(w.store.IsValid());
        w.Build();
    }

    void TearDown() override
    {
        if (w.cycle->Tag() != 0)
            w.cycle->btnStartStopClick();
    }

    void SetRunning(bool running)
    {
        if ((w.cycle->Tag() != 0) != running)
            w.cycle->btnStartStopClick();
    }

    test::EngineWindow w;
};

TEST_F(ChangeWatchTest, TheWatchesFollowTheTimerAndTheOptionAndTheTimerSleepsUntilTheCheck)
{
    w.options->spnTestFilesMinutes->SetValue(4);
    w.cycle->tmrRefresh->setInterval(1000);
    const struct {
        const char *what;
        bool option;
        bool running;
        bool watching;
        int interval; // of the running timer, in ms
    } rows[] = {
        {"started with the option", true, true, true, 4000},
        {"the option unchecked while running", false, true, false, 1000},
        {"checked again while running", true, true, true, 4000},
        {"stopped", true, false, false, 0},
        {"started without the option", false, true, false, 1000},
    };
    for (const auto &row : rows) {
        w.options->chkWatchChanges->setChecked(row.option);
        SetRunning(row.running);
        EXPECT_EQ(w.cycle->ChangeWatch->Watching(), row.watching) << row.what;
        EXPECT_EQ(w.cycle->tmrRefresh->isActive(), row.running) << row.what;
        // Stopped, the timer keeps the length of one tick.
        EXPECT_EQ(w.cycle->tmrRefresh->interval(), row.running ? row.interval : 1000) << row.what;
    }
    w.options->chkWatchChanges->setChecked(true);
    w.options->spnTestFilesMinutes->SetValue(7);
    EXPECT_EQ(w.cycle->tmrRefresh->interval(), 7000) << "a new period counts at once";
}

TEST_F(ChangeWatchTest, TicksSleptThroughCountAsIfTheyHadCome)
{
    w.options->spnTestFilesMinutes->SetValue(10);
    w.cycle->tmrRefresh->setInterval(50);
    SetRunning(true);
    ASSERT_EQ(w.cycle->tmrRefresh->interval(), 500);
    QTest::qWait(380);
    SetRunning(false);
    // Seven ticks of 50 ms have passed, more when the machine is slow to come back.
    EXPECT_GE(w.cycle->MinuteCount, 7);
    EXPECT_LE(w.cycle->MinuteCount, 9);

    // Started again, the timer wakes for the tick that checks, and then sleeps for a period.
    const int counted = w.cycle->MinuteCount;
    SetRunning(true);
    EXPECT_EQ(w.cycle->tmrRefresh->interval(), (10 - counted) * 50);
    test::CheckReports heard;
    TObserving observing(*w.engine, heard);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !heard.reports.isEmpty(); }, 5000));
    EXPECT_EQ(w.LogCount(kChecking), 1);
    EXPECT_EQ(w.cycle->MinuteCount, 1);
    EXPECT_EQ(w.cycle->tmrRefresh->interval(), 9 * 50);
}

TEST_F(ChangeWatchTest, ACueChecksAtOnceAndANewAddressAloneIsAskedForLess)
{
    w.options->edtAddressChangedCommand->setText(QStringLiteral("echo %IP% after %OLDIP%"));
    SetRunning(true);
    const struct {
        const char *what;
        TCheckCue cue;
        const char *found;
        bool running;
        int pushes;
        QStringList lines; // the lines the check logs besides the push-all's frame
    } rows[] = {
        {"the address stayed", TCheckCue::Address, "10.20.30.40", true, 0, {}},
        {"a saved page, the address the same", TCheckCue::Files, "10.20.30.40", true, 1, {}},
        {"a new address",
         TCheckCue::Address,
         "10.20.30.41",
         true,
         1,
         {"Address changed: 10.20.30.40 -> 10.20.30.41",
          "Command on a new address ended with exit status 0: 10.20.30.41 after 10.20.30.40"}},
        {"the timer stopped", TCheckCue::Files, "10.20.30.41", false, 0, {}},
    };
    for (const auto &row : rows) {
        SetRunning(row.running);
        w.localAddress = QString::fromLatin1(row.found);
        w.parts.memoLog->ClearLines();
        w.cycle->CheckAtOnce(row.cue);
        // The fixture's addresses are private ones, of which the log says so once each.
        const auto lines = [this] {
            QStringList all = w.LogLines();
            all.removeIf([](const QString &line) { return line.startsWith(QStringLiteral("Hint: ")); });
            return all;
        };
        if (!row.lines.isEmpty()) {
            EXPECT_TRUE(QTest::qWaitFor([&] { return lines().size() > row.lines.size(); }, 5000))
                << row.what << ": " << w.LogLines().join('\n').toStdString();
        }
        QStringList logged = lines();
        EXPECT_EQ(logged.removeAll(kChecking), row.pushes) << row.what;
        logged.removeAll(QStringLiteral(">>>> Done checking all files..."));
        EXPECT_EQ(logged, row.lines) << row.what;
    }
    EXPECT_EQ(w.options->edtLastIPAddress->text(), QStringLiteral("10.20.30.41"));
}

TEST_F(ChangeWatchTest, ACueThatFindsChecksHeldBackWaitsForThem)
{
    SetRunning(true);
    w.holdChecks = true;
    w.cycle->CheckAtOnce(TCheckCue::Files);
    w.cycle->CheckAtOnce(TCheckCue::Address);
    QTest::qWait(300);
    EXPECT_EQ(w.LogCount(kChecking), 0);
    w.holdChecks = false;
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.LogCount(kChecking) == 1; }, 5000))
        << "the saved page's cue, kept over the address's";
    QTest::qWait(1500);
    EXPECT_EQ(w.LogCount(kChecking), 1) << "two cues, one check";
}

} // namespace
} // namespace quelmark
