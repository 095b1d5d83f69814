#include "net/SettleTimer.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(SettleTimer, MakesOneCallPerBurstAndHearsANeverEndingStreamNowAndThen)
{
    const struct {
        const char *what;
        int nudges;
        int gapMs;
        int fewest;
        int most;
    } rows[] = {
        {"one nudge", 1, 0, 1, 1},
        {"a quick burst", 20, 10, 1, 1},
        {"a stream that never pauses for the quiet time", 30, 100, 2, 4},
    };
    for (const auto &row : rows) {
        TSettleTimer settle(300, 1000);
        int calls = 0;
        settle.OnSettled = [&](QObject *sender) {
            EXPECT_EQ(sender, &settle);
            ++calls;
        };
        for (int i = 0; i < row.nudges; ++i) {
            settle.Nudge();
            QTest::qWait(row.gapMs);
        }
        QTest::qWait(1500);
        EXPECT_GE(calls, row.fewest) << row.what;
        EXPECT_LE(calls, row.most) << row.what;
        EXPECT_FALSE(settle.Pending()) << row.what << ": no timer is left armed";
    }
}

TEST(SettleTimer, CallsOnlyAfterTheQuietTimeAndNeverForACancelledBurst)
{
    TSettleTimer settle(300, 1000);
    QElapsedTimer clock;
    qint64 calledAt = -1;
    settle.OnSettled = [&](QObject *) { calledAt = clock.elapsed(); };
    clock.start();
    settle.Nudge();
    QTest::qWait(200);
    settle.Nudge();
    ASSERT_TRUE(QTest::qWaitFor([&] { return calledAt >= 0; }, 3000));
    EXPECT_GE(calledAt, 500) << "the quiet time counts from the last nudge";

    calledAt = -1;
    settle.Nudge();
    EXPECT_TRUE(settle.Pending());
    settle.Cancel();
    QTest::qWait(600);
    EXPECT_EQ(calledAt, -1);
}

} // namespace
