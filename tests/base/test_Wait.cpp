#include "base/Wait.h"

#include "base/Exception.h"
#include "tests/support/Printing.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

using namespace quelmark;

namespace {

class WaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wait.SetInterval(20);
        wait.OnWaitEvent = [this](QObject *sender, std::int32_t count) {
            EXPECT_EQ(sender, &wait);
            ticks.push_back(count);
        };
    }
    void TearDown() override { SetTopLevelReporter(nullptr); }

    TWait wait;
    std::vector<std::int32_t> ticks;
};

TEST(WaitReadCount, ReadsLeadingDecimalDigitsAfterBlanks)
{
    const struct {
        const char *text;
        std::int32_t count;
    } rows[] = {
        {"  7", 7},
        {"60", 60},
        {"12abc", 12},
        {"0042", 42},
        {"", 0},
        {"abc", 0},
        {"-3", 0},
        {"0", 0},
        {"\t5", 0},
        {" 3 4", 3},
        {"99999999999", INT32_MAX},
    };
    for (const auto &row : rows)
        EXPECT_EQ(ReadCount(QString::fromLatin1(row.text)), row.count) << '"' << row.text << '"';
}

TEST_F(WaitTest, CaptionWithBlanksBeforeDigitsSetsTheTickCount)
{
    wait.SetInterval(5);
    wait.SetCaption(QStringLiteral("  7"));
    wait.Execute();
    EXPECT_EQ(ticks, (std::vector<std::int32_t>{6, 5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(wait.ModalResult(), 2);
    EXPECT_EQ(wait.Caption(), QStringLiteral("7"));
}

TEST_F(WaitTest, CaptionWithoutPositiveNumberStartsFifteenTicks)
{
    wait.SetInterval(2);
    for (const char *text : {"abc", "", "-3", "0"}) {
        ticks.clear();
        QString shownAtFirstTick;
        wait.OnWaitEvent = [&](QObject *, std::int32_t count) {
            if (ticks.empty())
                shownAtFirstTick = wait.Caption();
            ticks.push_back(count);
        };
        wait.SetCaption(QString::fromLatin1(text));
        wait.Execute();
        EXPECT_EQ(shownAtFirstTick, QStringLiteral("15")) << '"' << text << '"';
        ASSERT_EQ(ticks.size(), 15u) << '"' << text << '"';
        EXPECT_EQ(ticks.front(), 14);
        EXPECT_EQ(wait.Caption(), QStringLiteral("15"));
        EXPECT_EQ(wait.StartCount(), 15);
    }
}

TEST_F(WaitTest, WaitFromOneTimesOutOnFirstTick)
{
    std::vector<QString> calls;
    wait.OnWaitEvent = [&](QObject *, std::int32_t count) { calls.push_back(QStringLiteral("wait %1").arg(count)); };
    wait.OnTimeoutEvent = [&](QObject *sender) {
        EXPECT_EQ(sender, &wait);
        calls.push_back(QStringLiteral("timeout"));
    };
    wait.SetCaption(QStringLiteral("1"));
    wait.Execute();
    EXPECT_EQ(calls, (std::vector<QString>{QStringLiteral("wait 0"), QStringLiteral("timeout")}));
    EXPECT_EQ(wait.ModalResult(), 2);
    EXPECT_EQ(wait.Caption(), QStringLiteral("1"));
    EXPECT_FALSE(wait.Waiting());
}

TEST_F(WaitTest, StopFromHandlerReturnsBeforeNextTick)
{
    wait.SetInterval(5000);
    wait.SetCaption(QStringLiteral("3"));
    QTimer::singleShot(0, &wait, [this] { wait.Stop(); });
    QElapsedTimer clock;
    clock.start();
    wait.Execute();
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_TRUE(ticks.empty());
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_EQ(wait.Caption(), QStringLiteral("3"));
}

TEST_F(WaitTest, StopAfterSomeTicksRestoresStartCount)
{
    wait.OnWaitEvent = [this](QObject *, std::int32_t count) {
        ticks.push_back(count);
        if (count == 3)
            wait.Stop();
    };
    wait.SetCaption(QStringLiteral("5"));
    wait.Execute();
    EXPECT_EQ(ticks, (std::vector<std::int32_t>{4, 3}));
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_EQ(wait.Caption(), QStringLiteral("5"));
}

TEST_F(WaitTest, StopWhileIdleOnlyResetsResultAndCaption)
{
    wait.SetCaption(QStringLiteral("4"));
    wait.Execute();
    ASSERT_EQ(wait.ModalResult(), 2);
    wait.SetCaption(QStringLiteral("2"));
    wait.Stop();
    EXPECT_EQ(wait.ModalResult(), 1);
    EXPECT_EQ(wait.Caption(), QStringLiteral("4"));
    EXPECT_FALSE(wait.Waiting());
}

TEST_F(WaitTest, WaitStartedFromTimerHandlerStillCountsDown)
{
    // The engine waits from inside its refresh timer's handler; other timers must still fire.
    bool ran = false;
    QTimer::singleShot(0, &wait, [&] {
        Guarded([&] {
            wait.SetCaption(QStringLiteral("3"));
            wait.Execute();
            ran = true;
        });
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran; }, 5000));
    EXPECT_EQ(ticks, (std::vector<std::int32_t>{2, 1, 0}));
    EXPECT_EQ(wait.ModalResult(), 2);
}

TEST_F(WaitTest, ExceptionFromHandlerLeavesExecute)
{
    QString reported;
    SetTopLevelReporter([&](const QString &message) { reported = message; });
    wait.SetCaption(QStringLiteral("50"));
    QTimer::singleShot(0, &wait, [] { Guarded([] { throw Exception(QStringLiteral("lost the line")); }); });
    EXPECT_EQ(test::MessageOf<Exception>([&] { wait.Execute(); }), QStringLiteral("lost the line"));
    EXPECT_TRUE(reported.isEmpty());
    EXPECT_FALSE(wait.Waiting());
    EXPECT_EQ(wait.Caption(), QStringLiteral("50"));
}

TEST_F(WaitTest, ExceptionFromTickHandlerLeavesExecute)
{
    wait.OnWaitEvent = [](QObject *, std::int32_t) { throw Exception(QStringLiteral("from the tick")); };
    wait.SetCaption(QStringLiteral("9"));
    EXPECT_THROW(wait.Execute(), Exception);
    EXPECT_FALSE(wait.Waiting());
    EXPECT_EQ(wait.Caption(), QStringLiteral("9"));
}

TEST_F(WaitTest, ExceptionInInnerWaitReachesOuterWaitsCaller)
{
    TWait inner;
    inner.SetInterval(20);
    QTimer::singleShot(0, &wait, [&] {
        Guarded([&] {
            inner.SetCaption(QStringLiteral("50"));
            QTimer::singleShot(0, &inner, [] { Guarded([] { throw Exception(QStringLiteral("inner")); }); });
            inner.Execute();
        });
    });
    wait.SetCaption(QStringLiteral("50"));
    EXPECT_EQ(test::MessageOf<Exception>([&] { wait.Execute(); }), QStringLiteral("inner"));
    EXPECT_FALSE(inner.Waiting());
    EXPECT_FALSE(wait.Waiting());
}

TEST_F(WaitTest, ExceptionOutsideAnyWaitReachesTopLevelReporter)
{
    QStringList reported;
    SetTopLevelReporter([&](const QString &message) { reported << message; });
    QTimer::singleShot(0, [] { Guarded([] { throw Exception(QStringLiteral("no store")); }); });
    QTimer::singleShot(0, [] { Guarded([] { throw std::runtime_error("plain"); }); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return reported.size() == 2; }, 5000));
    EXPECT_EQ(reported, (QStringList{QStringLiteral("no store"), QStringLiteral("plain")}));
}

} // namespace
