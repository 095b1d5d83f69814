#include "base/Dispatch.h"
#include "base/Exception.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace quelmark;

namespace {

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetTopLevelReporter([this](const QString &message) { reported << message; });
    }
    void TearDown() override { SetTopLevelReporter(nullptr); }

    QStringList reported;
};

TEST_F(DispatchTest, GuardedParksInInnermostScopeAndKeepsFirstFailure)
{
    DispatchScope outer;
    {
        DispatchScope inner;
        Guarded([] { throw Exception(QStringLiteral("first")); });
        Guarded([] { throw Exception(QStringLiteral("second")); });
        ASSERT_TRUE(inner.HasParked());
        EXPECT_FALSE(outer.HasParked());
        try {
            inner.RethrowParked();
            FAIL() << "nothing rethrown";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), QStringLiteral("first"));
        }
        EXPECT_FALSE(inner.HasParked());
        EXPECT_NO_THROW(inner.RethrowParked());
    }
    EXPECT_FALSE(outer.HasParked());
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(DispatchTest, UncollectedParkedExceptionMovesOutwardThenToReporter)
{
    {
        DispatchScope outer;
        {
            DispatchScope inner;
            Guarded([] { throw std::runtime_error("left behind"); });
        }
        ASSERT_TRUE(outer.HasParked());
        EXPECT_TRUE(reported.isEmpty());
    }
    EXPECT_FALSE(DispatchScope::Active());
    EXPECT_EQ(reported, QStringList{QStringLiteral("left behind")});
}

TEST_F(DispatchTest, UnattendedScopeTakesTopLevelErrorsWhileItLivesInnermostFirst)
{
    QStringList outerSeen, innerSeen;
    {
        UnattendedScope outer([&](const QString &message) { outerSeen << message; });
        Guarded([] { throw Exception(QStringLiteral("outer")); });
        {
            UnattendedScope inner([&](const QString &message) { innerSeen << message; });
            Guarded([] { throw Exception(QStringLiteral("inner")); });
            // A nested dispatch loop still gets its handlers' errors back first.
            DispatchScope loop;
            Guarded([] { throw Exception(QStringLiteral("parked")); });
            EXPECT_TRUE(loop.HasParked());
            EXPECT_THROW(loop.RethrowParked(), Exception);
        }
        Guarded([] { throw Exception(QStringLiteral("outer again")); });
    }
    Guarded([] { throw Exception(QStringLiteral("display")); });
    EXPECT_EQ(outerSeen, QStringList({"outer", "outer again"}));
    EXPECT_EQ(innerSeen, QStringList({"inner"}));
    EXPECT_EQ(reported, QStringList({"display"}));
}

TEST_F(DispatchTest, MessagesOfForeignExceptionsAreReadable)
{
    EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(Exception(QStringLiteral("Größe")))), QStringLiteral("Größe"));
    EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(std::runtime_error("plain"))), QStringLiteral("plain"));
    EXPECT_EQ(ExceptionMessage(std::make_exception_ptr(42)), QStringLiteral("Unknown error"));
    EXPECT_EQ(ExceptionMessage(nullptr), QString());
}

} // namespace
