// quelmark-put --sftp against OpenSSH's sshd: byte-exact uploads with a password and with keys,
// the host-key checks, and a replaced file that no reader ever sees half-written.
#include "tests/support/Files.h"
#include "tests/support/Printing.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SshServers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

using namespace quelmark::test;

namespace {

const QString Tool = BuildProgram("quelmark-put");
constexpr qsizetype Big = qsizetype(64) << 20;

using ToolRun = ProgramRun;

QByteArray RandomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

class PutToolSftp : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile::exists(Tool)) << "build the quelmark-put target first";
        if (server->Failure().contains(QLatin1String("root")) || server->Failure().contains(QLatin1String("installed")))
            GTEST_SKIP() << server->Failure().toStdString();
        ASSERT_TRUE(server->Running()) << server->Failure().toStdString();
        home = dir.filePath(QStringLiteral("home"));
        QDir().mkpath(home + QStringLiteral("/.ssh"));
        knownHosts = dir.filePath(QStringLiteral("known_hosts"));
    }

    void Start(QProcess &process, const QStringList &arguments) const
    {
        // The user's ~/.ssh and the configuration folder are the test's; no agent answers.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.remove(QStringLiteral("SSH_AUTH_SOCK"));
        process.setProcessEnvironment(env);
        process.start(Tool, arguments);
    }

    ToolRun Run(const QStringList &arguments) const
    {
        QProcess process;
        Start(process, arguments);
        return Finish(process);
    }

    // The arguments for uploading each local file under its remote name, then the extra ones.
    QStringList Arguments(const QList<std::pair<QString, QString>> &files, const QStringList &extra = {}) const
    {
        QStringList arguments{QStringLiteral("--sftp"),
                              QStringLiteral("--host"),
                              server->Server(),
                              QStringLiteral("--user"),
                              server->User(),
                              QStringLiteral("--password"),
                              server->Password(),
                              QStringLiteral("--known-hosts"),
                              knownHosts,
                              QStringLiteral("--timeout"),
                              QStringLiteral("5")};
        for (const auto &[local, remote] : files)
            arguments << QStringLiteral("--local") << local << QStringLiteral("--remote") << remote;
        return arguments + extra;
    }

    QString LocalFile(const QString &name, const QByteArray &content) const
    {
        return Written(dir.filePath(name), content);
    }

    void TrustServer() const
    {
        QFile f(knownHosts);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Append));
        f.write(server->KnownHostsLine().toLatin1());
    }

    void PutOnServer(const QString &name, const QByteArray &content) const
    {
        ASSERT_TRUE(WriteFile(QDir(server->Home()).filePath(name), content));
    }

    QStringList LeftOvers() const
    {
        return QDir(server->Home()).entryList({QStringLiteral("*.quelmark-part")}, QDir::Files | QDir::Hidden);
    }

    std::unique_ptr<OpenSshServer> server = std::make_unique<OpenSshServer>();
    QTemporaryDir dir;
    QString home;
    QString knownHosts;
};

TEST_F(PutToolSftp, UploadsByteExactWithAPasswordAndWithKeys)
{
    TrustServer();
    const QByteArray big = RandomBytes(Big);
    const QByteArray kib = RandomBytes(1024);
    const QString defaultKey = home + QStringLiteral("/.ssh/id_ed25519");
    ASSERT_TRUE(QFile::copy(server->KeyFile(), defaultKey));
    struct Case {
        const char *what;
        QStringList extra;
        QString secret;
        bool withBig;
    };
    const Case cases[] = {
        {"password", {}, server->Password(), true},
        {"key file", {QStringLiteral("--key"), server->KeyFile()}, {}, true},
        {"key file with passphrase",
         {QStringLiteral("--key"), server->EncryptedKeyFile(), QStringLiteral("--password"), server->KeyPassphrase()},
         server->KeyPassphrase(),
         false},
        {"default key", {QStringLiteral("--key"), QString()}, {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QList<std::pair<QString, QString>> files{
            {LocalFile(QStringLiteral("empty"), {}), QStringLiteral("empty.bin")},
            {LocalFile(QStringLiteral("kib"), kib), QStringLiteral("kib.bin")},
        };
        if (c.withBig)
            files.append({LocalFile(QStringLiteral("big"), big), QStringLiteral("big.bin")});
        for (const QString &name : QDir(server->Home()).entryList(QDir::Files))
            QFile::remove(QDir(server->Home()).filePath(name));
        const ToolRun run = Run(Arguments(files, c.extra));
        ASSERT_EQ(run.exitCode, 0) << run.out.toStdString();
        EXPECT_EQ(run.Lines().count(QStringLiteral("Done")), files.size());
        EXPECT_EQ(run.Lines().filter(QStringLiteral("Connected for SFTP")).size(), 1) << "one session for all files";
        if (!c.secret.isEmpty()) {
            EXPECT_FALSE(run.out.contains(c.secret)) << "the password is never shown";
        }
        EXPECT_TRUE(QFile::exists(QDir(server->Home()).filePath(QStringLiteral("empty.bin"))));
        EXPECT_TRUE(server->Stored(QStringLiteral("empty.bin")).isEmpty());
        EXPECT_EQ(server->Stored(QStringLiteral("kib.bin")), kib);
        if (c.withBig) {
            EXPECT_TRUE(server->Stored(QStringLiteral("big.bin")) == big) << "64 MiB differ";
        }
        EXPECT_TRUE(LeftOvers().isEmpty());
    }
}

TEST_F(PutToolSftp, UnknownHostKeyFailsWithItsFingerprintAndPassesWhenAccepted)
{
    const QString local = LocalFile(QStringLiteral("page"), "<p>page</p>\n");
    const QString key = server->HostKeyType() + QLatin1Char(' ') + server->HostKeyFingerprint();
    ToolRun run = Run(Arguments({{local, QStringLiteral("page.html")}}));
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_FALSE(run.Lines().isEmpty());
    EXPECT_TRUE(run.Lines().last().contains(key)) << run.out.toStdString();
    EXPECT_FALSE(QFile::exists(knownHosts)) << "an unknown key is not stored unasked";

    const QString otherFingerprint = QStringLiteral("SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
    run =
        Run(Arguments({{local, QStringLiteral("page.html")}}, {QStringLiteral("--accept-host-key"), otherFingerprint}));
    EXPECT_EQ(run.exitCode, 1) << "only the named fingerprint is accepted";

    run = Run(Arguments({{local, QStringLiteral("page.html")}},
                        {QStringLiteral("--accept-host-key"), server->HostKeyFingerprint()}));
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(server->Stored(QStringLiteral("page.html")), QByteArray("<p>page</p>\n"));
    // Stored: the next run knows the key without being told, also with the port apart.
    QStringList portApart = Arguments({{local, QStringLiteral("again.html")}});
    portApart.replace(portApart.indexOf(server->Server()), QStringLiteral("127.0.0.1"));
    run = Run(portApart << QStringLiteral("--port") << server->PortText());
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
}

// A second server on the same address and port with another host key: whichever file recorded
// the first key, the new one is refused, also when the caller names its fingerprint.
TEST_F(PutToolSftp, ChangedHostKeyFailsEvenWhenItsFingerprintIsNamed)
{
    const QString userKnownHosts = home + QStringLiteral("/.ssh/known_hosts");
    {
        QFile f(userKnownHosts);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(server->KnownHostsLine().toLatin1());
    }
    // OpenSSH stores the names hashed by default; libssh must match those as well.
    ASSERT_TRUE(RunProgram(QStringLiteral("/usr/bin/ssh-keygen"),
                           {QStringLiteral("-H"), QStringLiteral("-f"), userKnownHosts}));
    TrustServer();
    const std::uint16_t port = server->Port();
    server->Stop();
    server = std::make_unique<OpenSshServer>(OpenSshServer::TOptions{port, {}});
    ASSERT_TRUE(server->Running()) << server->Failure().toStdString();
    const QString local = LocalFile(QStringLiteral("page"), "<p>page</p>\n");
    struct Case {
        const char *what;
        bool ownFile;
    };
    for (const Case c : {Case{"recorded in both files", true}, Case{"recorded in ~/.ssh/known_hosts", false}}) {
        SCOPED_TRACE(c.what);
        if (!c.ownFile)
            QFile::remove(knownHosts);
        const ToolRun run = Run(Arguments({{local, QStringLiteral("page.html")}},
                                          {QStringLiteral("--accept-host-key"), server->HostKeyFingerprint()}));
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_FALSE(run.Lines().isEmpty());
        EXPECT_TRUE(run.Lines().last().startsWith(QLatin1String("WARNING: the host key of ") + server->Server() +
                                                  QLatin1String(" has changed to ") + server->HostKeyType()))
            << run.out.toStdString();
        EXPECT_FALSE(QFile::exists(QDir(server->Home()).filePath(QStringLiteral("page.html"))));
    }
    EXPECT_FALSE(QFile::exists(knownHosts)) << "a changed key is never stored";
}

TEST_F(PutToolSftp, ReaderOfTheRemoteNameSeesOnlyTheOldOrTheWholeNewFile)
{
    TrustServer();
    const QByteArray old = QByteArray("old page\n").repeated(1000);
    const QByteArray fresh = RandomBytes(Big);
    PutOnServer(QStringLiteral("page.bin"), old);
    QProcess tool;
    Start(tool, Arguments({{LocalFile(QStringLiteral("fresh"), fresh), QStringLiteral("page.bin")}}));
    ASSERT_TRUE(tool.waitForStarted());
    int reads = 0;
    int readsWhileUploading = 0;
    while (tool.state() != QProcess::NotRunning) {
        const QByteArray seen = server->Stored(QStringLiteral("page.bin"));
        ++reads;
        if (seen == old && !LeftOvers().isEmpty())
            ++readsWhileUploading;
        ASSERT_TRUE(seen == old || seen == fresh) << "read " << seen.size() << " bytes";
        tool.waitForFinished(5);
    }
    const ToolRun run = Finish(tool);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_TRUE(server->Stored(QStringLiteral("page.bin")) == fresh);
    EXPECT_GT(readsWhileUploading, 0) << "no read fell into the upload (" << reads << " reads)";
}

TEST_F(PutToolSftp, KillingTheServerMidUploadLeavesTheOldFileWhole)
{
    TrustServer();
    const QByteArray old = QByteArray("old page\n").repeated(1000);
    PutOnServer(QStringLiteral("page.bin"), old);
    QProcess tool;
    Start(tool, Arguments({{LocalFile(QStringLiteral("fresh"), RandomBytes(Big)), QStringLiteral("page.bin")}}));
    ASSERT_TRUE(tool.waitForStarted());
    // Wait until the upload is under way: its temporary file has data.
    bool underWay = false;
    for (int i = 0; i < 2000 && !underWay && tool.state() != QProcess::NotRunning; ++i) {
        const QStringList parts = LeftOvers();
        underWay = !parts.isEmpty() && QFileInfo(QDir(server->Home()).filePath(parts.first())).size() > 0;
        if (!underWay)
            QThread::msleep(2);
    }
    ASSERT_TRUE(underWay) << "the upload ended before it could be cut off";
    // Held still, the tool cannot finish the upload while the sessions are found and killed.
    ::kill(static_cast<pid_t>(tool.processId()), SIGSTOP);
    ASSERT_FALSE(LeftOvers().isEmpty());
    EXPECT_GT(server->KillSessions(), 0);
    ::kill(static_cast<pid_t>(tool.processId()), SIGCONT);
    const ToolRun run = Finish(tool);
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains(QLatin1String("The connection to the server was lost"))) << run.out.toStdString();
    EXPECT_EQ(server->Stored(QStringLiteral("page.bin")), old);
}

TEST_F(PutToolSftp, BadArgumentsExitWithTwoBeforeConnecting)
{
    const QString local = LocalFile(QStringLiteral("page"), "x");
    QStringList unpaired = Arguments({{local, QStringLiteral("page.html")}});
    unpaired << QStringLiteral("--local") << local;
    QStringList badPort = Arguments({{local, QStringLiteral("page.html")}});
    badPort[badPort.indexOf(server->Server())] = QStringLiteral("127.0.0.1:70000");
    QStringList keyWithoutSftp =
        Arguments({{local, QStringLiteral("page.html")}}, {QStringLiteral("--key"), QString()});
    keyWithoutSftp.removeAll(QStringLiteral("--sftp"));
    const QStringList passive = Arguments({{local, QStringLiteral("page.html")}}, {QStringLiteral("--passive")});
    const QStringList tls = Arguments({{local, QStringLiteral("page.html")}}, {QStringLiteral("--tls")});
    for (const QStringList &arguments : {unpaired, badPort, keyWithoutSftp, passive, tls}) {
        const ToolRun run = Run(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(run.Lines().isEmpty());
    }
}

} // namespace
