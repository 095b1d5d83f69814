// The end signal becomes an ordinary event, and the window closes only once it takes commands.
#include "app/F_Main.h"
#include "app/Termination.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>

using namespace quelmark;

namespace {

// Dispatches events until done() holds or the time is up; returns done().
bool Within(int ms, const std::function<bool()> &done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

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
        EXPECT_TRUE(Within(2000, [&calls] { return calls >= 1; }));
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
    EXPECT_FALSE(Within(500, [&window] { return !window.isVisible(); })) << "closed in the middle of a push";
    window.setEnabled(true);
    EXPECT_TRUE(Within(2000, [&window] { return !window.isVisible(); }));
}

} // namespace
