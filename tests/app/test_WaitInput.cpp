#include "app/WaitInput.h"

#include "base/Exception.h"
#include "base/Wait.h"
#include "tests/support/DuringWait.h"
#include "tests/support/Printing.h"

#include <QAction>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

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
    }
    void TearDown() override
    {
        SetBeep(previousBeep);
        SetTopLevelReporter(nullptr);
    }

    void DuringWait(std::function<void()> body) { test::DuringWait(wait, std::move(body)); }

    TWait wait;
    TWaitInput input{wait};
    int beeps = 0;
    BeepFunction previousBeep;
};

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
    input.LetInputThrough(&passing);

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

TEST_F(WaitTest, AWaitLeftByAnExceptionRefusesNoInputAfterIt)
{
    SetTopLevelReporter([](const QString &) {});
    wait.SetCaption(QStringLiteral("50"));
    QTimer::singleShot(0, &wait, [] { Guarded([] { throw Exception(QStringLiteral("lost the line")); }); });
    EXPECT_THROW(wait.Execute(), Exception);

    InputProbe probe;
    probe.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&probe));
    QTest::keyClick(probe.windowHandle(), Qt::Key_A);
    EXPECT_EQ(probe.keys, 1);
    EXPECT_EQ(beeps, 0);
}

} // namespace
