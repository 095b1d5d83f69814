// quelmark-put as a user runs it: a real upload, each kind of failure with the client's text
// and exit 1, and bad arguments with exit 2; passive mode, IPv6, the server forms of --host,
// missing folders, atomic replacement, retries, several files over one session and TLS, against
// real servers where they can show it.
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Namespace.h"
#include "tests/support/Printing.h"
#include "tests/support/ProgramRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include <unistd.h>

using namespace quelmark::test;

namespace {

using ToolRun = ProgramRun;

const QString Tool = BuildProgram("quelmark-put");

// The arguments that log in to a server; the host and what to send are added by the caller.
QStringList LoginTo(const FtpServerProcess &server)
{
    return {QStringLiteral("--user"),    server.User(),      QStringLiteral("--password"), server.Password(),
            QStringLiteral("--timeout"), QStringLiteral("5")};
}

QStringList At(const FtpServerProcess &server, const QString &host = QStringLiteral("127.0.0.1"))
{
    return {QStringLiteral("--host"), host, QStringLiteral("--port"), server.PortText()};
}

QStringList Send(const QString &local, const QString &remote)
{
    return {QStringLiteral("--local"), local, QStringLiteral("--remote"), remote};
}

ToolRun RunTool(const QStringList &arguments, const QProcessEnvironment &env)
{
    return RunToEnd(Tool, arguments, env);
}

// With headlessDefault nothing names a platform: the tool must pick one itself.
ToolRun RunTool(const QStringList &arguments, bool headlessDefault = false)
{
    return RunTool(arguments, headlessDefault ? NoDisplayEnvironment() : QProcessEnvironment::systemEnvironment());
}

class PutTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(Tool)) << "build the quelmark-put target first: " << Tool.toStdString();
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        local = dir.filePath(QStringLiteral("index.html"));
        ASSERT_TRUE(WriteFile(local, content));
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
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    ASSERT_FALSE(run.Lines().isEmpty());
    EXPECT_EQ(run.Lines().first(), QStringLiteral("Connected for FTP"));
    EXPECT_TRUE(run.Lines().contains(QStringLiteral("> TYPE A")));
    EXPECT_TRUE(run.Lines().contains(QStringLiteral("> PASS ****")));
    EXPECT_FALSE(run.out.contains(server.Password())) << "the password is never shown";
    EXPECT_EQ(run.Lines().last(), QStringLiteral("Done"));
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
        ASSERT_GE(run.Lines().size(), 2);
        EXPECT_EQ(run.Lines().at(run.Lines().size() - 2), QStringLiteral("Failed"));
        EXPECT_EQ(run.Lines().last(), c.text);
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
    QStringList withHost = base;
    withHost.remove(0, 4);
    const auto host = [&withHost](const char *text) { return withHost + QStringList{"--host", text}; };
    const auto port = [&base](const char *text) {
        QStringList arguments = base;
        arguments[arguments.indexOf(QStringLiteral("--port")) + 1] = QString::fromLatin1(text);
        return arguments;
    };
    const QStringList cases[] = {
        noHost,
        badTimeout,
        base + QStringList{QStringLiteral("--ascii"), QStringLiteral("--binary")},
        base + QStringList{QStringLiteral("--colour")},
        base + QStringList{QStringLiteral("stray")},
        base + QStringList{QStringLiteral("--retries"), QStringLiteral("11")},
        base + QStringList{QStringLiteral("--retries"), QStringLiteral("-1")},
        base + QStringList{QStringLiteral("--local"), local},
        base + QStringList{QStringLiteral("--fingerprint"), Certificates().server.fingerprint},
        base + QStringList{QStringLiteral("--ca-file"), Certificates().caFile},
        base + QStringList{QStringLiteral("--tls"), QStringLiteral("--fingerprint"), QStringLiteral("AB:CD")},
        base + QStringList{QStringLiteral("--tls"), QStringLiteral("--fingerprint"),
                           Certificates().server.fingerprint + QStringLiteral(":00")},
        host("127.0.0.1:0"),
        host("127.0.0.1:65536"),
        host("127.0.0.1:21x"),
        host("[::1"),
        host("[::1]:21:22"),
        host("ftp.example.org:21:22"),
        host("[ftp.example.org]:21"),
        port("0"),
        port("70000"),
        port("-21"),
        port("99999999999"),
    };
    for (const QStringList &arguments : cases) {
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.Lines().isEmpty());
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
    EXPECT_TRUE(ReadFile(record).contains("\nPORT 10,9,8,7,")) << run.output.toStdString();
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

// ---------------------------------------------------------------------------------------------
// The password

// Where the password may come from, first source first; a .netrc others may read is passed over.
// Whatever the source, the server gets the password and the output never shows it.
TEST(PutToolSecrets, ThePasswordComesFromWhereTheUserKeepsIt)
{
    QTemporaryDir home;
    const QString passwordFile = Written(home.filePath(QStringLiteral("secret.txt")), "fi1e secret\r\nsecond line\n");
    const QString local = Written(home.filePath(QStringLiteral("page.html")), "page\n");
    const QString netrc = home.filePath(QStringLiteral(".netrc"));
    const QByteArray entries = "machine other.example login u password not-this\n"
                               "machine 127.0.0.1 login u password netrc-secret\ndefault login v password dflt\n";
    const struct {
        const char *what;
        QStringList arguments;
        QString variable;                   // QUELMARK_PASSWORD, when set
        QFileDevice::Permissions netrcMode; // no .netrc when 0
        int exitCode;
        const char *pass;   // the PASS line the server got, when it got one
        const char *errors; // a pattern of standard error
    } rows[] = {
        {"--password", {"--user", "u", "--password", "arg secret"}, {}, {}, 0, "PASS arg secret", ""},
        {"--password=", {"--user", "u", "--password=arg=secret"}, {}, {}, 0, "PASS arg=secret", ""},
        {"--password-file",
         {"--user", "u", "--password-file", passwordFile},
         "env secret",
         {},
         0,
         "PASS fi1e secret",
         ""},
        {"the environment", {"--user", "u"}, "env secret", QFileDevice::ReadOwner, 0, "PASS env secret", ""},
        {"~/.netrc, login taken from it",
         {},
         {},
         QFileDevice::ReadOwner | QFileDevice::WriteOwner,
         0,
         "PASS netrc-secret",
         ""},
        {"~/.netrc others may read",
         {"--user", "u"},
         {},
         QFileDevice::ReadOwner | QFileDevice::ReadOther,
         0,
         "PASS ",
         ".*\\.netrc may be read by others, so it was not read\n"},
        {"an unreadable --password-file",
         {"--user", "u", "--password-file", home.filePath("none")},
         {},
         {},
         2,
         "",
         "quelmark-put: --password-file: cannot read .*none: .*\n"},
        {"both",
         {"--user", "u", "--password", "a", "--password-file", passwordFile},
         {},
         {},
         2,
         "",
         "quelmark-put: --password and --password-file exclude each other; see --help\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedFtpServer server(QStringLiteral("ok"));
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        QFile::remove(netrc);
        if (row.netrcMode != QFileDevice::Permissions{}) {
            Written(netrc, entries);
            QFile::setPermissions(netrc, row.netrcMode);
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("QUELMARK_PASSWORD"));
        if (!row.variable.isEmpty())
            env.insert(QStringLiteral("QUELMARK_PASSWORD"), row.variable);
        const ToolRun run = RunTool(At(server) + row.arguments + Send(local, QStringLiteral("page.html")), env);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out.toStdString() << run.err.toStdString();
        EXPECT_TRUE(QRegularExpression(QRegularExpression::anchoredPattern(QString::fromLatin1(row.errors)))
                        .match(run.err)
                        .hasMatch())
            << run.err.toStdString();
        const QStringList received = server.Received(row.exitCode == 2 ? 0 : 1);
        EXPECT_EQ(received.filter(QRegularExpression(QStringLiteral("^PASS"))),
                  *row.pass ? QStringList{QString::fromLatin1(row.pass)} : QStringList{});
        EXPECT_FALSE(run.out.contains(QLatin1String("secret")));
    }
}

// A password on the command line is there for the first moments only: while the tool waits for
// the server, no other user's process list shows it.
TEST(PutToolSecrets, APasswordArgumentLeavesTheProcessArgumentList)
{
    ScriptedFtpServer server(QStringLiteral("no_pass_reply"));
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    QTemporaryDir dir;
    const QString local = Written(dir.filePath(QStringLiteral("page.html")), "page\n");
    QProcess tool;
    tool.start(Tool, At(server) + QStringList{"--user", "u", "--password", "S3cret-on-the-line", "--timeout", "3"} +
                         Send(local, QStringLiteral("page.html")));
    ASSERT_TRUE(tool.waitForStarted(5000));
    const QString out = ReadUntil(tool, QStringLiteral("> PASS ****\n"));
    ASSERT_TRUE(out.contains(QStringLiteral("> PASS ****\n"))) << out.toStdString();
    const QByteArray arguments = ReadFile(QStringLiteral("/proc/%1/cmdline").arg(tool.processId()));
    ASSERT_FALSE(arguments.isEmpty());
    EXPECT_FALSE(arguments.contains("S3cret")) << QByteArray(arguments).replace('\0', ' ').toStdString();
    EXPECT_TRUE(arguments.contains(QByteArray("--password\0xxxxxxxxxxxxxxxxxx\0", 30)));
    tool.waitForFinished(10000);
    EXPECT_TRUE(server.Received().contains(QStringLiteral("PASS S3cret-on-the-line")));
}

// Asked on a terminal, the password is not echoed.
TEST(PutToolSecrets, WithoutAPasswordTheTerminalIsAskedWithoutEcho)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    QTemporaryDir home;
    const QString local = Written(home.filePath(QStringLiteral("page.html")), "page\n");
    // A terminal of its own: the tool runs on the far side of a pseudo-terminal.
    const QString script = QStringLiteral("import os, pty, sys, time\n"
                                          "pid, fd = pty.fork()\n"
                                          "if pid == 0:\n"
                                          "    os.execv(sys.argv[1], sys.argv[1:])\n"
                                          "seen = b''\n"
                                          "while b'Password for' not in seen:\n"
                                          "    seen += os.read(fd, 1024)\n"
                                          "time.sleep(0.2)\n"
                                          "os.write(fd, b'typed secret\\n')\n"
                                          "while True:\n"
                                          "    try:\n"
                                          "        chunk = os.read(fd, 1024)\n"
                                          "    except OSError:\n"
                                          "        break\n"
                                          "    if not chunk:\n"
                                          "        break\n"
                                          "    seen += chunk\n"
                                          "sys.stdout.write(seen.decode('latin-1'))\n"
                                          "sys.exit(os.waitpid(pid, 0)[1] >> 8)\n");
    QProcess python;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home.path());
    env.remove(QStringLiteral("QUELMARK_PASSWORD"));
    python.setProcessEnvironment(env);
    python.start(QStringLiteral("/usr/bin/python3"), QStringList{"-c", script, Tool} + At(server) +
                                                         QStringList{"--user", "anna"} +
                                                         Send(local, QStringLiteral("page.html")));
    ASSERT_TRUE(python.waitForFinished(30000));
    const QString seen = QString::fromLatin1(python.readAllStandardOutput());
    EXPECT_EQ(python.exitCode(), 0) << seen.toStdString();
    EXPECT_TRUE(seen.contains(QStringLiteral("Password for anna@127.0.0.1: "))) << seen.toStdString();
    EXPECT_FALSE(seen.contains(QStringLiteral("typed secret"))) << "echoed: " << seen.toStdString();
    EXPECT_TRUE(server.Received().contains(QStringLiteral("PASS typed secret")));
}

// ---------------------------------------------------------------------------------------------
// Passive mode, IPv6 and the server forms of --host

TEST(PutToolPassive, PassiveUploadsAreByteExact)
{
    struct Row {
        const char *what;
        std::function<std::unique_ptr<FtpServerProcess>()> start;
        QStringList expected; // among the lines shown
    };
    const std::uint16_t pasvPorts = FreeLoopbackPort();
    const Row rows[] = {
        {"pyftpdlib", [] { return std::make_unique<PyFtpServer>(); }, {"> EPSV"}},
        {"vsftpd with a passive port range",
         [&] {
             return std::make_unique<VsftpServer>(
                 VsftpOptions{false, pasvPorts, static_cast<std::uint16_t>(std::min(65535, pasvPorts + 50)), {}});
         },
         {"> EPSV"}},
        {"a server that refuses EPSV",
         [] { return std::make_unique<ScriptedFtpServer>(QStringLiteral("epsv_refused")); },
         {"> EPSV", "< 502 Command not implemented.", "> PASV"}},
        {"a server that refuses PORT",
         [] { return std::make_unique<ScriptedFtpServer>(QStringLiteral("port_refused")); },
         {"> EPSV"}},
    };
    QTemporaryDir dir;
    const QByteArray bytes = Pattern((1 << 20) + 17, 3);
    const QString local = Written(dir.filePath(QStringLiteral("upload.bin")), bytes);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const std::unique_ptr<FtpServerProcess> server = row.start();
        if (!server->Running()) {
            ADD_FAILURE() << server->Failure().toStdString();
            continue;
        }
        const ToolRun run = RunTool(At(*server) + LoginTo(*server) + Send(local, QStringLiteral("upload.bin")) +
                                    QStringList{QStringLiteral("--passive")});
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
        for (const QString &line : row.expected)
            EXPECT_TRUE(run.Lines().contains(line)) << line.toStdString();
        EXPECT_FALSE(run.out.contains(QLatin1String("> PORT")));
        EXPECT_TRUE(server->Stored(QStringLiteral("upload.bin")) == bytes) << "stored bytes differ";
    }
}

// The file goes only to the server the user named: an address in the reply to PASV that is not
// the control connection's, public or private, gives way to it and the log says so.
TEST(PutToolPassive, TheDataConnectionGoesToTheControlConnectionsPeerWhateverPasvNames)
{
    const struct {
        const char *scenario;
        const char *note; // empty: none
    } rows[] = {
        {"pasv_public", "Data: the server announced 198.51.100.3, connecting to 127.0.0.1 instead"},
        {"pasv_private", "Data: the server announced 10.1.2.3, connecting to 127.0.0.1 instead"},
        {"epsv_refused", ""},
    };
    QTemporaryDir dir;
    const QByteArray bytes = Pattern(70000, 5);
    const QString local = Written(dir.filePath(QStringLiteral("upload.bin")), bytes);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.scenario);
        ScriptedFtpServer server(QString::fromLatin1(row.scenario));
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        const ToolRun run = RunTool(At(server) + LoginTo(server) + Send(local, QStringLiteral("upload.bin")) +
                                    QStringList{QStringLiteral("--passive")});
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
        EXPECT_TRUE(run.Lines().contains(QStringLiteral("> PASV"))) << run.out.toStdString();
        EXPECT_EQ(run.Lines().filter(QStringLiteral("Data: the server announced")),
                  *row.note ? QStringList{QString::fromLatin1(row.note)} : QStringList{});
        EXPECT_TRUE(server.Stored(QStringLiteral("upload.bin")) == bytes) << "stored bytes differ";
    }
}

// On an IPv6 control connection PORT and PASV cannot name an address: active mode announces
// with EPRT, passive mode asks with EPSV alone.
TEST(PutToolPassive, Ipv6LoopbackUsesEprtActiveAndEpsvPassive)
{
    VsftpServer server(VsftpOptions{true, 0, 0, {}});
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    struct Row {
        const char *what;
        QStringList arguments;
        QString announced;
    };
    const Row rows[] = {
        {"active", At(server, QStringLiteral("::1")), QStringLiteral("> EPRT |2|::1|")},
        {"passive, port in the bracketed form",
         {QStringLiteral("--host"), QStringLiteral("[::1]:") + server.PortText(), QStringLiteral("--passive")},
         QStringLiteral("> EPSV")},
    };
    QTemporaryDir dir;
    const QByteArray bytes = Pattern(300000, 5);
    const QString local = Written(dir.filePath(QStringLiteral("six.bin")), bytes);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QFile::remove(QDir(server.Home()).filePath(QStringLiteral("six.bin")));
        const ToolRun run = RunTool(row.arguments + LoginTo(server) + Send(local, QStringLiteral("six.bin")));
        const QStringList lines = run.Lines();
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const QString &line) {
            return line.startsWith(row.announced);
        })) << run.out.toStdString();
        EXPECT_FALSE(run.out.contains(QRegularExpression(QStringLiteral("> (PORT|PASV)"))));
        EXPECT_TRUE(server.Stored(QStringLiteral("six.bin")) == bytes) << "stored bytes differ";
    }
}

TEST_F(PutTool, PortInHostIsUsedAndPortOptionWinsOverIt)
{
    const QStringList hosts[] = {
        {QStringLiteral("--host"), QStringLiteral("127.0.0.1:") + server.PortText()},
        {QStringLiteral("--host"), QStringLiteral("127.0.0.1:1"), QStringLiteral("--port"), server.PortText()},
    };
    for (const QStringList &host : hosts) {
        SCOPED_TRACE(host.join(' ').toStdString());
        QFile::remove(QDir(server.Home()).filePath(QStringLiteral("index.html")));
        const ToolRun run = RunTool(host + LoginTo(server) + Send(local, QStringLiteral("index.html")));
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
        EXPECT_EQ(server.Stored(QStringLiteral("index.html")), content);
    }
}

// ---------------------------------------------------------------------------------------------
// Missing folders and atomic replacement

// The first folder exists already: its MKD is refused (550), which is fine.
TEST_F(PutTool, CreateDirsStoresIntoFoldersThatDoNotExistYet)
{
    ASSERT_TRUE(QDir(server.Home()).mkpath(QStringLiteral("a")));
    const QStringList arguments = At(server) + LoginTo(server) + Send(local, QStringLiteral("/a/b/c/page.html"));
    const ToolRun without = RunTool(arguments);
    EXPECT_EQ(without.exitCode, 1);
    EXPECT_EQ(without.Lines().last(), QStringLiteral("550 No such file or directory."));

    const ToolRun with = RunTool(arguments + QStringList{QStringLiteral("--create-dirs")});
    EXPECT_EQ(with.exitCode, 0) << with.out.toStdString();
    EXPECT_TRUE(with.Lines().contains(QStringLiteral("> MKD /a")));
    EXPECT_TRUE(with.Lines().contains(QStringLiteral("> MKD /a/b/c")));
    EXPECT_EQ(server.Stored(QStringLiteral("a/b/c/page.html")), content);
}

// Whoever reads the page while it is replaced sees the old one or the whole new one, never a
// part: the bytes go to a temporary name and are renamed over the page at the end.
TEST_F(PutTool, ViaTempReaderOnlyEverSeesTheOldOrTheWholeNewFile)
{
    const QByteArray before = Pattern(4096, 1);
    const QByteArray after = Pattern(64 << 20, 2);
    const QString page = Written(QDir(server.Home()).filePath(QStringLiteral("page.bin")), before);
    const QString source = Written(dir.filePath(QStringLiteral("new.bin")), after);
    QProcess tool;
    tool.start(Tool, At(server) + LoginTo(server) + Send(source, QStringLiteral("page.bin")) +
                         QStringList{QStringLiteral("--via-temp"), QStringLiteral("--passive")});
    ASSERT_TRUE(tool.waitForStarted());
    int sawBefore = 0;
    int sawAfter = 0;
    int sawOther = 0;
    while (!tool.waitForFinished(5)) {
        const QByteArray seen = ReadFile(page, "missing");
        seen == before ? ++sawBefore : seen == after ? ++sawAfter : ++sawOther;
    }
    EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardOutput().toStdString();
    EXPECT_EQ(sawOther, 0) << "the reader saw a file that is neither the old nor the new one";
    EXPECT_GT(sawBefore, 0) << "the reader never looked during the upload";
    EXPECT_TRUE(server.Stored(QStringLiteral("page.bin")) == after);
    EXPECT_EQ(QDir(server.Home()).entryList(QDir::Files), QStringList{QStringLiteral("page.bin")});
}

// The server drops both connections in the middle of the file: the old page stays, and the
// part under the temporary name is removed over a fresh session.
TEST(PutToolTemp, FailedUploadLeavesTheOldFileAndNoTemporaryOne)
{
    ScriptedFtpServer server(QStringLiteral("close_mid_transfer"));
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    QTemporaryDir dir;
    const QByteArray before("<p>the old page</p>");
    Written(QDir(server.Home()).filePath(QStringLiteral("page.html")), before);
    const QString local = Written(dir.filePath(QStringLiteral("page.html")), Pattern(1 << 20, 4));

    const ToolRun run = RunTool(At(server) + QStringList{"--user", "user", "--password", "secret", "--via-temp"} +
                                Send(local, QStringLiteral("page.html")));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(server.Stored(QStringLiteral("page.html")), before);
    EXPECT_EQ(QDir(server.Home()).entryList(QDir::Files), QStringList{QStringLiteral("page.html")});
    const QStringList second = server.Received(2).mid(server.Received(1).size());
    EXPECT_EQ(second, QStringList({"USER user", "PASS secret", "DELE page.html.quelmark-part", "QUIT"}));
}

// ---------------------------------------------------------------------------------------------
// Retries and sessions

TEST(PutToolRetries, OnlyPassingFailuresAreTriedAgain)
{
    struct Row {
        const char *what;
        const char *scenario;
        const char *password;
        const char *retries;
        int exitCode;
        int sessions;
    };
    const Row rows[] = {
        // A 421 and then a reset: reached on the third try.
        {"two refusals, two retries", "refuse_first_two", "secret", "2", 0, 3},
        {"two refusals, no retry", "refuse_first_two", "secret", "0", 1, 1},
        {"530 is final", "ok", "bad", "2", 1, 1},
    };
    QTemporaryDir dir;
    const QString local = Written(dir.filePath(QStringLiteral("page.html")), Pattern(5000, 6));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedFtpServer server(QString::fromLatin1(row.scenario));
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        const ToolRun run = RunTool(At(server) + Send(local, QStringLiteral("page.html")) +
                                    QStringList{"--user", "user", "--password", row.password, "--retries", row.retries,
                                                "--retry-delay", "50", "--timeout", "3"});
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out.toStdString();
        server.Received(row.sessions);
        EXPECT_EQ(server.EndedSessions(), row.sessions);
        const qsizetype retries = run.Lines().filter(QRegularExpression(QStringLiteral("^Trying again in"))).size();
        EXPECT_EQ(retries, row.sessions - 1);
    }
}

TEST(PutToolSessions, SeveralPairsGoOverOneLogin)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    QTemporaryDir dir;
    QStringList pairs;
    for (int i = 1; i <= 3; ++i) {
        const QString name = QStringLiteral("page%1.html").arg(i);
        pairs += Send(Written(dir.filePath(name), Pattern(1000 * i, i)), name);
    }
    const ToolRun run = RunTool(At(server) + QStringList{"--user", "user", "--password", "secret"} + pairs);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(run.Lines().count(QStringLiteral("Done")), 3);
    QStringList received = server.Received();
    received.replaceInStrings(QRegularExpression(QStringLiteral("^PORT .*")), QStringLiteral("PORT"));
    EXPECT_EQ(received, QStringList({"USER user", "PASS secret", "TYPE I", "PORT", "STOR page1.html", "PORT",
                                     "STOR page2.html", "PORT", "STOR page3.html", "QUIT"}));
    EXPECT_EQ(server.EndedSessions(), 1);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(server.Stored(QStringLiteral("page%1.html").arg(i)), Pattern(1000 * i, i));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TLS

namespace {

QStringList Tls(const QStringList &more = {QStringLiteral("--ca-file"), Certificates().caFile})
{
    return QStringList{QStringLiteral("--tls")} + more;
}

bool HasLine(const QStringList &lines, const QString &start, const QString &end = {})
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString &line) { return line.startsWith(start) && line.endsWith(end); });
}

} // namespace

// vsftpd requires TLS for the login and the data, and that each data connection resume the
// control connection's session; it refuses an upload that ends without close_notify.
TEST(PutToolTls, UploadsByteExactToVsftpdAndPyftpdlibInBothModes)
{
    VsftpServer vsftpd(VsftpOptions{false, 0, 0, Certificates().server});
    PyFtpServer pyftpdlib(QStringLiteral("127.0.0.1"), 0, Certificates().server);
    struct Row {
        const char *what;
        const FtpServerProcess &server;
        QString host;
        bool passive;
    };
    const Row rows[] = {
        {"vsftpd, active", vsftpd, QStringLiteral("localhost"), false},
        {"vsftpd, passive", vsftpd, QStringLiteral("localhost"), true},
        {"pyftpdlib, active", pyftpdlib, QStringLiteral("127.0.0.1"), false},
        {"pyftpdlib, passive", pyftpdlib, QStringLiteral("127.0.0.1"), true},
    };
    QTemporaryDir dir;
    const QByteArray bytes = Pattern((1 << 20) + 333, 7);
    const QString local = Written(dir.filePath(QStringLiteral("upload.bin")), bytes);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_TRUE(row.server.Running()) << row.server.Failure().toStdString();
        const QString remote = QString::fromLatin1(row.what).remove(QRegularExpression(QStringLiteral("\\W")));
        QStringList arguments = At(row.server, row.host) + LoginTo(row.server) + Send(local, remote) + Tls();
        if (row.passive)
            arguments << QStringLiteral("--passive");
        const ToolRun run = RunTool(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
        for (const char *line : {"> AUTH TLS", "> PBSZ 0", "> PROT P", "> PASS ****"})
            EXPECT_TRUE(run.Lines().contains(QLatin1String(line))) << line;
        EXPECT_TRUE(HasLine(run.Lines(), QStringLiteral("< 234 ")));
        EXPECT_TRUE(HasLine(run.Lines(), QStringLiteral("TLS: TLSv1."),
                            QStringLiteral("certificate CN=localhost,O=Quelmark tests (verified)")))
            << run.out.toStdString();
        EXPECT_TRUE(row.server.Stored(remote) == bytes) << "stored bytes differ";
    }
    // debug_ssl: the login's connection is new, and each data connection resumed its session.
    const QByteArray log = ReadFile(vsftpd.LogFile());
    EXPECT_EQ(log.count(", not reused,"), 2) << log.toStdString();
    EXPECT_EQ(log.count(", reused,"), 2) << log.toStdString();
}

// What crosses the loopback on the server's ports, control and passive data, as a capture shows
// it: a plain login shows its commands, a TLS one neither the password nor the page.
TEST(PutToolTls, CaptureOfTheWireShowsNeitherThePasswordNorThePage)
{
    if (QStandardPaths::findExecutable(QStringLiteral("tcpdump")).isEmpty() || ::geteuid() != 0)
        GTEST_SKIP() << "capturing needs tcpdump and root";
    const std::uint16_t pasv = FreeLoopbackPort();
    const auto last = static_cast<std::uint16_t>(std::min(65535, pasv + 20));
    VsftpServer server(VsftpOptions{false, pasv, last, Certificates().server});
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    QTemporaryDir dir;
    const QByteArray marker("quelmark-page-marker-7f3a");
    const QByteArray page = QByteArray("<p>").append(marker).append("</p>\r\n").repeated(4000);
    const QString local = Written(dir.filePath(QStringLiteral("page.html")), page);
    struct Row {
        const char *what;
        QStringList extra;
        int exitCode;
    };
    const Row rows[] = {
        // The server refuses a login in clear text after USER, which is on the wire as it is.
        {"plain", {}, 1},
        {"TLS", Tls() + QStringList{QStringLiteral("--passive")}, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const QString capture = dir.filePath(QLatin1String(row.what) + QStringLiteral(".pcap"));
        // The plain login fails before any data connection; its capture keeps to the control
        // port, so other tests' connections from ports of the passive range stay out of it.
        QString filter = QStringLiteral("tcp port %1").arg(server.Port());
        if (row.exitCode == 0)
            filter += QStringLiteral(" or tcp portrange %1-%2").arg(pasv).arg(last);
        QProcess tcpdump;
        tcpdump.setReadChannel(QProcess::StandardError);
        tcpdump.start(QStringLiteral("tcpdump"),
                      {QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("--immediate-mode"),
                       QStringLiteral("-U"), QStringLiteral("-Z"), QStringLiteral("root"), QStringLiteral("-w"),
                       capture, filter});
        QByteArray started;
        while (!started.contains("listening on") && tcpdump.waitForReadyRead(5000))
            started += tcpdump.readAllStandardError();
        ASSERT_TRUE(started.contains("listening on")) << started.toStdString();
        const ToolRun run =
            RunTool(At(server) + LoginTo(server) + Send(local, QStringLiteral("page.html")) + row.extra);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out.toStdString();
        // What tcpdump has not written yet when it is stopped is lost, and on a busy machine it
        // falls behind the loopback: stop it once the file rests and, for an upload, holds at
        // least the page's size (for ten seconds at the most).
        QElapsedTimer waited;
        waited.start();
        const qint64 least = row.exitCode == 0 ? page.size() : 0;
        for (qint64 size = -1; size != QFileInfo(capture).size() || (size <= least && waited.elapsed() < 10000);) {
            size = QFileInfo(capture).size();
            QThread::msleep(200);
        }
        tcpdump.terminate();
        tcpdump.waitForFinished(5000);
        const QByteArray wire = ReadFile(capture);
        EXPECT_TRUE(wire.contains("AUTH TLS") == (row.exitCode == 0)) << "the capture sees the control connection";
        if (row.exitCode != 0) {
            EXPECT_TRUE(wire.contains("USER " + server.User().toLatin1()));
            continue;
        }
        EXPECT_GT(wire.size(), page.size()) << "the data connection is in the capture";
        EXPECT_FALSE(wire.contains("USER")) << "the login crossed in clear text";
        EXPECT_FALSE(wire.contains("PASS"));
        EXPECT_FALSE(wire.contains(server.Password().toLatin1()));
        EXPECT_FALSE(wire.contains(marker)) << "the page crossed in clear text";
        EXPECT_TRUE(server.Stored(QStringLiteral("page.html")) == page);
    }
}

TEST(PutToolTls, SelfSignedCertificateIsRefusedUnlessItsFingerprintIsGiven)
{
    const TestCertificate &selfSigned = Certificates().selfSigned;
    VsftpServer server(VsftpOptions{false, 0, 0, selfSigned});
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    QTemporaryDir dir;
    const QByteArray bytes = Pattern(50000, 9);
    const QString local = Written(dir.filePath(QStringLiteral("page.html")), bytes);
    struct Row {
        const char *what;
        QStringList tls;
        int exitCode;
    };
    const Row rows[] = {
        {"no fingerprint", Tls(), 1},
        {"its fingerprint", Tls({QStringLiteral("--fingerprint"), selfSigned.fingerprint}), 0},
        {"its fingerprint, bare and lower-case",
         Tls({QStringLiteral("--fingerprint"), QString(selfSigned.fingerprint).remove(QLatin1Char(':')).toLower()}), 0},
        {"another fingerprint", Tls({QStringLiteral("--fingerprint"), Certificates().server.fingerprint}), 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        QFile::remove(QDir(server.Home()).filePath(QStringLiteral("page.html")));
        const ToolRun run = RunTool(At(server, QStringLiteral("localhost")) + LoginTo(server) +
                                    Send(local, QStringLiteral("page.html")) + row.tls);
        EXPECT_EQ(run.exitCode, row.exitCode) << run.out.toStdString();
        ASSERT_FALSE(run.Lines().isEmpty());
        if (row.exitCode == 0) {
            EXPECT_TRUE(HasLine(run.Lines(), QStringLiteral("TLS: "), QStringLiteral("(trusted by fingerprint)")));
            EXPECT_TRUE(server.Stored(QStringLiteral("page.html")) == bytes);
            continue;
        }
        EXPECT_TRUE(run.Lines().last().startsWith(
            QLatin1String("The server's certificate is not trusted: self-signed certificate. Subject: ")))
            << run.Lines().last().toStdString();
        EXPECT_TRUE(run.Lines().last().endsWith(QStringLiteral("SHA-256 fingerprint: ") + selfSigned.fingerprint));
        EXPECT_FALSE(HasLine(run.Lines(), QStringLiteral("> USER")));
    }
}

// Each fails with its own text, within the time-out, before anything of the user's is sent.
TEST(PutToolTls, ExpiredWrongHostCutOrStalledHandshakeAndRefusedAuthFailClearly)
{
    const auto &c = Certificates();
    struct Row {
        const char *what;
        const char *scenario;
        TestCertificate certificate;
        QString error; // the beginning of the last line
        bool takesTheTimeOut;
    };
    const Row rows[] = {
        {"expired", "ok", c.expired,
         QStringLiteral("The server's certificate is not trusted: certificate has expired. Subject: "), false},
        {"wrong host", "ok", c.wrongHost,
         QStringLiteral("The server's certificate is not trusted: hostname mismatch: it is not issued for localhost. "
                        "Subject: CN=wrong.example"),
         false},
        {"handshake cut", "tls_cut", c.server,
         QStringLiteral("The server closed the connection during the TLS handshake"), false},
        {"handshake stalls", "tls_silent", c.server,
         QStringLiteral("The TLS handshake did not finish within 2 seconds"), true},
        {"AUTH TLS refused",
         "ok",
         {},
         QStringLiteral("The server does not offer TLS (AUTH TLS answered 502 Command not implemented.). Turn off "
                        "'Use TLS' for this site to send the password in clear text."),
         false},
    };
    QTemporaryDir dir;
    const QString local = Written(dir.filePath(QStringLiteral("page.html")), Pattern(5000, 2));
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedFtpServer server(QString::fromLatin1(row.scenario), QStringLiteral("127.0.0.1"), {}, 0,
                                 row.certificate);
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        QElapsedTimer clock;
        clock.start();
        const ToolRun run = RunTool(At(server, QStringLiteral("localhost")) + Send(local, QStringLiteral("page.html")) +
                                    QStringList{"--user", "user", "--password", "secret", "--timeout", "2"} + Tls());
        const qint64 elapsed = clock.elapsed();
        EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
        ASSERT_FALSE(run.Lines().isEmpty());
        EXPECT_TRUE(run.Lines().last().startsWith(row.error)) << run.Lines().last().toStdString();
        EXPECT_LT(elapsed, row.takesTheTimeOut ? 5000 : 2000);
        // Qt's coarse timers may fire up to 5 % early.
        if (row.takesTheTimeOut) {
            EXPECT_GE(elapsed, 1900);
        }
        const QStringList received = server.Received();
        EXPECT_FALSE(received.contains(QStringLiteral("USER user")) || received.contains(QStringLiteral("PASS secret")))
            << received.join(' ').toStdString();
    }
}
