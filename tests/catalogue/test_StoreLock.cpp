// The store's lock: one holder at a time, the holder named in the file, and a lock left by a
// program that ended taken over.
#include "catalogue/StoreLock.h"
#include "tests/support/Files.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace quelmark;

namespace {

class StoreLockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString Store() const { return dir.filePath(QStringLiteral("store.db")); }
    QString LockFile() const { return Store() + QStringLiteral(".lock"); }

    QTemporaryDir dir;
};

TEST_F(StoreLockTest, OneHolderAtATimeNamedInTheFileUntilItLetsGo)
{
    TStoreLock first(Store());
    TStoreLock second(Store());
    EXPECT_FALSE(second.HeldByAnyone());
    EXPECT_FALSE(QFile::exists(LockFile())) << "asking made the lock file";

    ASSERT_TRUE(first.TryAcquire());
    const TStoreHolder holder{QCoreApplication::applicationPid(), roles::Window, dir.filePath("s.sock")};
    first.Publish(holder);
    EXPECT_FALSE(second.TryAcquire());
    EXPECT_TRUE(second.HeldByAnyone());
    const TStoreHolder read = second.ReadHolder();
    EXPECT_TRUE(read.Complete());
    EXPECT_EQ(read.Text(), holder.Text());
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(LockFile()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600);

    first.Release();
    EXPECT_FALSE(second.ReadHolder().Complete()) << "a program that let go is named no more";
    EXPECT_FALSE(second.HeldByAnyone());
    EXPECT_TRUE(second.TryAcquire());
}

// The lock is the kernel's: a holder that ends, however it ends, leaves a file naming a dead
// process, and the next program takes it over.
TEST_F(StoreLockTest, LockOfAProgramThatEndedIsTakenOver)
{
    ASSERT_TRUE(test::WriteFile(LockFile(), "999999\nservice\n/nowhere.sock\n"));

    QProcess other;
    other.start(QStringLiteral("flock"), {QStringLiteral("--exclusive"), QStringLiteral("--no-fork"), LockFile(),
                                          QStringLiteral("sleep"), QStringLiteral("30")});
    ASSERT_TRUE(other.waitForStarted(5000));
    TStoreLock lock(Store());
    for (int i = 0; i < 100 && !lock.HeldByAnyone(); ++i)
        QThread::msleep(20);
    EXPECT_FALSE(lock.TryAcquire()) << "taken from a live holder";
    other.kill();
    other.waitForFinished(5000);

    EXPECT_TRUE(lock.TryAcquire());
    lock.Publish({4242, roles::PushAll, QStringLiteral("/s")});
    EXPECT_EQ(lock.ReadHolder().pid, 4242);
}

TEST_F(StoreLockTest, HolderTextIsReadOnlyWhenWhole)
{
    EXPECT_TRUE(TStoreHolder::FromText(QStringLiteral("12\nwindow\n/a/b.sock\n")).Complete());
    EXPECT_FALSE(TStoreHolder::FromText(QStringLiteral("12\nwindow\n/a/b.so")).Complete()) << "still being written";
    EXPECT_FALSE(TStoreHolder::FromText(QStringLiteral("x\nwindow\n/a/b.sock\n")).Complete());
    EXPECT_FALSE(TStoreHolder::FromText(QString()).Complete());
}

TEST_F(StoreLockTest, SocketSitsBesideTheStoreUnlessThePathIsTooLongForOne)
{
    EXPECT_EQ(HandoverSocketPath(Store()), Store() + QStringLiteral(".sock"));
    const QString deep = dir.filePath(QString(120, QLatin1Char('d')) + QStringLiteral("/store.db"));
    const QString socket = HandoverSocketPath(deep);
    EXPECT_LT(QFile::encodeName(socket).size(), 108);
    EXPECT_EQ(socket, HandoverSocketPath(deep)) << "every run must find the same socket";
    EXPECT_NE(socket, HandoverSocketPath(deep + QStringLiteral("2")));
}

} // namespace
