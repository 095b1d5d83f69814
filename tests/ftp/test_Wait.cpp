#include "ftp/Wait.h"

#include "base/Exception.h"
#include "tests/support/Printing.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

using namespace quelmark;

namespace {

// A visible widget that counts the input it is given.
class InputProbe : public QWidget {
public:
    InputProbe()
    {
        resize(200, 100);
        setFocusPolicy(Qt::StrongFocus);
        setMouseTracking(true);
    }

    int keys = 0;
    int presses = 0;
    int moves = 0;

protected:
    void keyPressEvent(QKeyEvent *) override { ++keys; }
    void mousePressEvent(QMouseEvent *) override { ++presses; }
    void mouseMoveEvent(QMouseEvent *) override { ++moves; }
};

class WaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousBeep = SetBeep([this] { ++beeps; });
        wait.SetInterval(20);
        wait.OnWaitEvent = [this](QObject *sender, std::int32_t count) {
            EXPECT_EQ(sender, &wait);
            ticks.push_back(count);
        };
    }
    void TearDown() override
    {
        SetBeep(previousBeep);
        SetTopLevelReporter(nullptr);
    }

    // Runs the body from inside the wait's dispatching, then stops the wait.
    void DuringWait(std::function<void()> body)
    {
        wait.SetCaption(QStringLiteral("100"));
        QTimer::singleShot(0, &wait, [this, body] {
            Guarded([&] {
                body();
                wait.Stop();
            });
        });
        wait.Execute();
    }

    TWait wait;
    std::vector<std::int32_t> ticks;
    int beeps = 0;
    BeepFunction previousBeep;
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

TEST_F(WaitTest, KeyAndButtonPressesAreRefusedWithBeepWhileMovesPass)
{
    InputProbe probe;
    probe.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
    QWindow *window = probe.windowHandle();
    DuringWait([&] {
        QTest::keyClick(window, Qt::Key_A);
        QTest::mousePress(window, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mousePress(window, Qt::RightButton, {}, QPoint(12, 10));
        QTest::mouseRelease(window, Qt::RightButton, {}, QPoint(12, 10));
        QTest::mouseMove(window, QPoint(30, 30));
    });
    EXPECT_EQ(probe.keys, 0);
    EXPECT_EQ(probe.presses, 0);
    EXPECT_GE(probe.moves, 1);
    EXPECT_EQ(beeps, 3);

    // Input is delivered again once the wait is over.
    QTest::keyClick(window, Qt::Key_B);
    QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(15, 15));
    EXPECT_EQ(probe.keys, 1);
    EXPECT_EQ(probe.presses, 1);
    EXPECT_EQ(beeps, 3);
}

// A window let through (the progress window with its Cancel) takes key and button presses while
// a wait runs, the widgets in it too; every other window's are still refused with the beep.
TEST_F(WaitTest, InputToAWindowLetThroughPassesWhileOtherInputIsRefused)
{
    InputProbe refused;
    InputProbe passing;
    QPushButton cancel(QStringLiteral("Cancel"), &passing);
    cancel.setGeometry(100, 50, 80, 30);
    int clicks = 0;
    QObject::connect(&cancel, &QPushButton::clicked, [&] { ++clicks; });
    refused.show();
    passing.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&refused));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&passing));
    wait.LetInputThrough(&passing);

    DuringWait([&] {
        QTest::keyClick(passing.windowHandle(), Qt::Key_A);
        QTest::mouseClick(passing.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseClick(passing.windowHandle(), Qt::LeftButton, {}, QPoint(140, 65));
        QTest::keyClick(refused.windowHandle(), Qt::Key_A);
        QTest::mouseClick(refused.windowHandle(), Qt::LeftButton, {}, QPoint(10, 10));
    });
    EXPECT_EQ(passing.keys, 1);
    EXPECT_EQ(passing.presses, 1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(refused.keys, 0);
    EXPECT_EQ(refused.presses, 0);
    EXPECT_EQ(beeps, 2);
}

TEST_F(WaitTest, ShortcutDoesNotFireDuringWait)
{
    InputProbe probe;
    QAction action(&probe);
    action.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    probe.addAction(&action);
    int triggered = 0;
    QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
    probe.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
    QWindow *window = probe.windowHandle();

    DuringWait([&] { QTest::keyClick(window, Qt::Key_P, Qt::ControlModifier); });
    EXPECT_EQ(triggered, 0);
    EXPECT_GE(beeps, 1); // the Control key's own press is refused too

    QTest::keyClick(window, Qt::Key_P, Qt::ControlModifier);
    EXPECT_EQ(triggered, 1);
}

TEST_F(WaitTest, ExceptionFromHandlerLeavesExecuteAndRemovesInputFilter)
{
    QString reported;
    SetTopLevelReporter([&](const QString &message) { reported = message; });
    wait.SetCaption(QStringLiteral("50"));
    QTimer::singleShot(0, &wait, [] { Guarded([] { throw Exception(QStringLiteral("lost the line")); }); });
    EXPECT_EQ(test::MessageOf<Exception>([&] { wait.Execute(); }), QStringLiteral("lost the line"));
    EXPECT_TRUE(reported.isEmpty());
    EXPECT_FALSE(wait.Waiting());
    EXPECT_EQ(wait.Caption(), QStringLiteral("50"));

    InputProbe probe;
    probe.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
    QTest::keyClick(probe.windowHandle(), Qt::Key_A);
    EXPECT_EQ(probe.keys, 1);
    EXPECT_EQ(beeps, 0);
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
