// The end signal becomes an ordinary event, and the window closes only once it takes commands.
#include "app/F_Main.h"
#include "app/Termination.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>

using namespace quelmark;

namespace {

TEST(Termination, EndSignalsArriveAsEventsAndTheOldHandlersReturnAfterwards)
{
    struct sigaction before = {};
    ::sigaction(SIGTERM, nullptr, &before);
    {
        TTermination termination;
        int calls = 0;
        termination.OnTerminate = [&calls] { ++calls; };
        ASSERT_EQ(::raise(SIGTERM), 0);
        ASSERT_EQ(::raise(SIGINT), 0);
        EXPECT_EQ(calls, 0) << "nothing may run inside the signal handler";
        EXPECT_TRUE(QTest::qWaitFor([&calls] { return calls >= 1; }, 2000));
    }
    struct sigaction after = {};
    ::sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(Termination, CloseWaitsWhileTheWindowIsDisabled)
{
    QWidget window;
    window.show();
    window.setEnabled(false);
    CloseWhenIdle(&window);
    EXPECT_FALSE(QTest::qWaitFor([&window] { return !window.isVisible(); }, 500)) << "closed in the middle of a push";
    window.setEnabled(true);
    EXPECT_TRUE(QTest::qWaitFor([&window] { return !window.isVisible(); }, 2000));
}

} // namespace
