// quelmark-put as a user runs it: a real upload, each kind of failure with the client's text
// and exit 1, and bad arguments with exit 2.
#include "tests/support/FtpServers.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quelmark::test;

namespace {

struct ToolRun {
    int exitCode = -1;
    QStringList lines;
};

const QString Tool = QStringLiteral(QUELMARK_BINARY_DIR "/quelmark-put");

ToolRun RunTool(const QStringList &arguments, bool headlessDefault = false)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (headlessDefault) {
        // The tool must pick a platform itself when nothing says which.
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    p.setProcessEnvironment(env);
    p.start(Tool, arguments);
    ToolRun run;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = p.exitCode();
    run.lines = QString::fromLocal8Bit(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

class PutTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(Tool)) << "build the quelmark-put target first: " << Tool.toStdString();
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        local = dir.filePath(QStringLiteral("index.html"));
        QFile f(local);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    QStringList Arguments(const QString &password, const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return {QStringLiteral("--host"), host, QStringLiteral("--port"), server.PortText(), QStringLiteral("--user"),
                server.User(), QStringLiteral("--password"), password, QStringLiteral("--remote"),
                QStringLiteral("index.html"), QStringLiteral("--local"), local, QStringLiteral("--timeout"),
                QStringLiteral("3")};
    }

    PyFtpServer server;
    QTemporaryDir dir;
    QString local;
    const QByteArray content = QByteArray("<p>Reach me at %IP%</p>\r\n").repeated(200);
};

TEST_F(PutTool, UploadsTheFileAndPrintsEachLine)
{
    const ToolRun run = RunTool(Arguments(server.Password()) << QStringLiteral("--ascii"), true);
    EXPECT_EQ(run.exitCode, 0) << run.lines.join('\n').toStdString();
    ASSERT_FALSE(run.lines.isEmpty());
    EXPECT_EQ(run.lines.first(), QStringLiteral("Connected for FTP"));
    EXPECT_TRUE(run.lines.contains(QStringLiteral("> TYPE A")));
    EXPECT_EQ(run.lines.last(), QStringLiteral("Done"));
    // pyftpdlib stores an ASCII upload with the local line ends.
    EXPECT_EQ(server.Stored(QStringLiteral("index.html")), QByteArray(content).replace("\r\n", "\n"));
}

TEST_F(PutTool, FailuresExitWithOneAndTheClientText)
{
    struct Case {
        const char *what;
        QStringList arguments;
        QString text;
    };
    QStringList missingFile = Arguments(server.Password());
    missingFile[missingFile.indexOf(local)] = dir.filePath(QStringLiteral("nothing-here.html"));
    QStringList closedPort = Arguments(server.Password());
    closedPort[closedPort.indexOf(server.PortText())] = QString::number(FreeLoopbackPort());
    const Case cases[] = {
        {"wrong password", Arguments(QStringLiteral("not the password")), QStringLiteral("530 Authentication failed.")},
        {"unknown host", Arguments(server.Password(), QStringLiteral("no-such-host.invalid")),
         QStringLiteral("SetAddr: Cannot convert host address 'no-such-host.invalid'")},
        {"closed port", closedPort, QStringLiteral("Can't connect to host '127.0.0.1'")},
        {"missing local file", missingFile, QStringLiteral("Unable to open local file, error 2")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const ToolRun run = RunTool(c.arguments);
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_GE(run.lines.size(), 2);
        EXPECT_EQ(run.lines.at(run.lines.size() - 2), QStringLiteral("Failed"));
        EXPECT_EQ(run.lines.last(), c.text);
    }
    EXPECT_TRUE(server.Stored(QStringLiteral("index.html")).isEmpty());
}

TEST_F(PutTool, BadArgumentsExitWithTwoBeforeConnecting)
{
    const QStringList base = Arguments(server.Password());
    QStringList noHost = base;
    noHost.remove(0, 2);
    QStringList badTimeout = base;
    badTimeout.last() = QStringLiteral("soon");
    const QStringList cases[] = {
        noHost,
        badTimeout,
        base + QStringList{QStringLiteral("--ascii"), QStringLiteral("--binary")},
        base + QStringList{QStringLiteral("--colour")},
        base + QStringList{QStringLiteral("stray")},
    };
    for (const QStringList &arguments : cases) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.lines.isEmpty());
    }
}

} // namespace
