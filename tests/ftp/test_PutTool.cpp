// quelmark-put as a user runs it: a real upload, each kind of failure with the client's text
// and exit 1, and bad arguments with exit 2.
#include "tests/support/FtpServers.h"
#include "tests/support/Namespace.h"
#include "tests/support/Printing.h"

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
        return {QStringLiteral("--host"),     host,
                QStringLiteral("--port"),     server.PortText(),
                QStringLiteral("--user"),     server.User(),
                QStringLiteral("--password"), password,
                QStringLiteral("--remote"),   QStringLiteral("index.html"),
                QStringLiteral("--local"),    local,
                QStringLiteral("--timeout"),  QStringLiteral("3")};
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
    EXPECT_TRUE(run.lines.contains(QStringLiteral("> PASS ****")));
    EXPECT_FALSE(run.lines.join('\n').contains(server.Password())) << "the password is never shown";
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

// In a network namespace of its own, the machine's name still resolves to 127.0.0.1 while the
// server is reached on another interface: PORT must name the address the server sees.
TEST(PutToolNamespace, PortNamesTheControlConnectionsLocalAddress)
{
    const std::optional<QStringList> flags = UnshareFlags();
    if (!flags)
        GTEST_SKIP() << NamespaceSkipReason().toStdString();
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("received.txt"));
    const QString portFile = dir.filePath(QStringLiteral("port.txt"));
    const QString local = dir.filePath(QStringLiteral("page.html"));
    QFile(local).open(QIODevice::WriteOnly);
    const QString script = QStringLiteral("ip addr add 10.9.8.7/32 dev lo || exit 77\n"
                                          "/usr/bin/python3 '%1' ok '%2' '%3' 10.9.8.7 > '%4' &\n"
                                          "server=$!\n"
                                          "for i in $(seq 100); do [ -s '%4' ] && break; sleep 0.05; done\n"
                                          "'%5' --host 10.9.8.7 --port \"$(cat '%4')\" --user u --password p --remote "
                                          "page.html --local '%6' --timeout 3\n"
                                          "rc=$?\nkill $server\nexit $rc\n")
                               .arg(QStringLiteral(QUELMARK_SOURCE_DIR "/tests/support/servers/ftp_script_server.py"),
                                    record, dir.path(), portFile, Tool, local);
    const UnsharedRun run = RunUnshared(*flags, script);
    if (run.exitCode == 77)
        GTEST_SKIP() << "cannot add an address in the namespace: " << run.errors.toStdString();
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString() << run.errors.toStdString();
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("\nPORT 10,9,8,7,")) << run.output.toStdString();
}

// With only loopback there is no route to any other address: the connect fails before it
// starts, and the session must still end as an ordinary failure.
TEST(PutToolNamespace, ConnectFailingAtOnceEndsAsOrdinaryFailure)
{
    const std::optional<QStringList> flags = UnshareFlags();
    if (!flags)
        GTEST_SKIP() << NamespaceSkipReason().toStdString();
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("page.html"));
    QFile(local).open(QIODevice::WriteOnly);
    const UnsharedRun run = RunUnshared(
        *flags, QStringLiteral("exec '%1' --host 10.1.2.3 --port 21 --remote page.html --local '%2'").arg(Tool, local));
    EXPECT_EQ(run.exitCode, 1);
    const QStringList lines = run.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3) << run.output.toStdString() << run.errors.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Can't QUIT: connection closed"));
    EXPECT_EQ(lines[1], QStringLiteral("Failed"));
    EXPECT_TRUE(lines[2].startsWith(QLatin1String("Error 10051 in function Connect"))) << run.output.toStdString();
}

} // namespace
