#include "net/CommandCapture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

// True when the process is gone or only waits, as a zombie, for whoever adopted it to collect it.
bool ProcessEnded(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

// Runs the command line to its end and returns whether OnFinished came.
bool RunToEnd(TCommandCapture &capture, const QString &line, int timeoutMs)
{
    bool finished = false;
    capture.OnFinished = [&](QObject *sender) {
        EXPECT_EQ(sender, &capture);
        finished = true;
    };
    EXPECT_TRUE(capture.Start(line, timeoutMs)) << capture.StartError().toStdString();
    return QTest::qWaitFor([&] { return finished; }, timeoutMs + 5000);
}

TEST(TCommandCapture, KeepsTheFirst64KiBAndDrainsTheRestUntilTheProgramEnds)
{
    TCommandCapture capture;
    ASSERT_TRUE(RunToEnd(capture, QStringLiteral("sh -c 'yes 203.0.113.7 | head -c 300000'"), 10000));
    EXPECT_EQ(capture.End(), TCaptureEnd::Exited);
    EXPECT_EQ(capture.Status(), 0);
    QByteArray expected;
    while (expected.size() < TCommandCapture::kMaxOutput)
        expected += "203.0.113.7\n";
    expected.truncate(64 * 1024);
    EXPECT_EQ(capture.Output(), expected);
}

TEST(TCommandCapture, KillsTheWholeProcessGroupAtTheBound)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    TCommandCapture capture;
    ASSERT_TRUE(RunToEnd(capture, QStringLiteral("sh -c 'sleep 30 & echo $! > \"$0\"; echo 1; wait' ") + pidFile, 500));
    EXPECT_EQ(capture.End(), TCaptureEnd::TimedOut);
    EXPECT_EQ(capture.Output(), QByteArray("1\n"));
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // The background sleep is a grandchild: the kill must reach it through the process group.
    const QString pid = QString::fromLatin1(file.readAll()).trimmed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return ProcessEnded(pid); }, 5000)) << pid.toStdString();
}

TEST(TCommandCapture, RefusesWhatTheLauncherRefusesAndASecondStart)
{
    TCommandCapture capture;
    const struct {
        QString line;
        const char *why;
    } rows[] = {
        {QStringLiteral("echo ") + QString(600, QLatin1Char('x')), "the command line is longer than 511 characters"},
        {QStringLiteral("echo \"x"), "the command line has a quote that is not closed"},
        {QStringLiteral("  "), "the command line is empty"},
        {QStringLiteral("/etc/passwd"), "Permission denied"},
    };
    for (const auto &row : rows) {
        EXPECT_FALSE(capture.Start(row.line, 1000)) << row.why;
        EXPECT_EQ(capture.StartError(), QString::fromLatin1(row.why));
        EXPECT_EQ(capture.End(), TCaptureEnd::Idle);
    }
    ASSERT_TRUE(capture.Start(QStringLiteral("sleep 30"), 10000));
    EXPECT_FALSE(capture.Start(QStringLiteral("echo 1"), 1000));
    EXPECT_EQ(capture.StartError(), QStringLiteral("a command started earlier still runs"));
    EXPECT_EQ(capture.End(), TCaptureEnd::Running);
}

} // namespace
