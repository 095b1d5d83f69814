// TSftpClient against OpenSSH's sshd: several files in one session, modes, missing folders, the
// rename without posix-rename, cancel and stall, the ways a login fails or works, the trust
// question, and the names that build remote paths.
#include "ftp/Sftpcli.h"

#include "tests/support/Files.h"
#include "tests/support/Printing.h"
#include "tests/support/SshServers.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

using namespace quelmark;
using namespace quelmark::test;

namespace {

TEST(SftpNames, JoinRemotePathAndTemporaryPath)
{
    const struct {
        QString folder, file, joined;
    } joins[] = {
        {"", "index.html", "index.html"},
        {"www", "index.html", "www/index.html"},
        {"www/", "a/index.html", "www/a/index.html"},
        {"/", "index.html", "/index.html"},
        {"www", "/abs/index.html", "/abs/index.html"},
    };
    for (const auto &row : joins)
        EXPECT_EQ(JoinRemotePath(row.folder, row.file), row.joined) << row.folder.toStdString();
    EXPECT_EQ(TemporaryPath(QStringLiteral("www/index.html"), QStringLiteral("upload"), 0x1a2b),
              QStringLiteral("www/.index.html.upload-00001a2b"));
    EXPECT_EQ(TemporaryPath(QStringLiteral("index.html"), QStringLiteral("old"), 0xffffffff),
              QStringLiteral(".index.html.old-ffffffff"));
}

// A text handed over in chunks cut at every place folds as the whole text does.
TEST(SftpTextLines, CrLfBecomesLfWhereverTheChunksAreCut)
{
    const QByteArray texts[] = {
        "", "\r", "\r\n", "a\r\nb\r\n", "lone\rcr\nlf\r\r\n", "\r\r\r\n\n", "end\r\n\r", "\n\r\n\r",
    };
    for (const QByteArray &text : texts) {
        const QByteArray expected = QByteArray(text).replace("\r\n", "\n");
        for (qsizetype cut = 0; cut <= text.size(); ++cut) {
            TCrLfFolding folding;
            QByteArray folded = folding.Fold(QByteArrayView(text).first(cut)).toByteArray();
            folded += folding.Fold(QByteArrayView(text).sliced(cut)).toByteArray();
            folded += folding.Finish().toByteArray();
            EXPECT_EQ(folded, expected) << text.toPercentEncoding().toStdString() << " cut at " << cut;
        }
    }
}

class SftpClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedHome = qgetenv("HOME");
        savedAgent = qgetenv("SSH_AUTH_SOCK");
        Prepare(*server);
    }

    void Prepare(OpenSshServer &s)
    {
        if (s.Failure().contains(QLatin1String("root")) || s.Failure().contains(QLatin1String("installed")))
            GTEST_SKIP() << s.Failure().toStdString();
        ASSERT_TRUE(s.Running()) << s.Failure().toStdString();
        // The client reads ~/.ssh of the test, and no agent answers unless a test starts one.
        home = dir.filePath(QStringLiteral("home"));
        QDir().mkpath(home + QStringLiteral("/.ssh"));
        qputenv("HOME", home.toLocal8Bit());
        qunsetenv("SSH_AUTH_SOCK");
        knownHosts = Written(dir.filePath(QStringLiteral("known_hosts")), s.KnownHostsLine().toLatin1());
        wait.SetInterval(100);
        client.SetWait(&wait);
        client.SetTimeOut(50);
        client.Site().host = s.Server();
        client.Site().user = s.User();
        client.Site().password = s.Password();
        client.Site().knownHostsFile = knownHosts;
        client.OnDisplay = [this](QObject *, QString &line) { lines << line; };
    }

    void TearDown() override
    {
        qputenv("HOME", savedHome);
        if (savedAgent.isEmpty())
            qunsetenv("SSH_AUTH_SOCK");
        else
            qputenv("SSH_AUTH_SOCK", savedAgent);
    }

    QString Local(const QString &name, const QByteArray &content) { return Written(dir.filePath(name), content); }

    // Uploads with Put, or with PutFile over the session when inSession is set.
    bool PutFile(const QString &remote, const QByteArray &content, bool inSession = false)
    {
        client.File().local = Local(QStringLiteral("local-") + QString(remote).replace('/', '_'), content);
        client.File().remote = remote;
        return inSession ? client.PutFile() : client.Put();
    }

    void PutOnServer(const QString &name, const QByteArray &content, int mode = 0644)
    {
        const QString path = QDir(server->Home()).filePath(name);
        ASSERT_TRUE(WriteFile(path, content));
        ::chmod(QFile::encodeName(path).constData(), mode);
    }

    QStringList LeftOvers() const
    {
        QStringList found;
        QDirIterator it(server->Home(), {QStringLiteral("*.quelmark-part"), QStringLiteral(".*.old-*")},
                        QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            found << it.next();
        return found;
    }

    std::unique_ptr<OpenSshServer> server = std::make_unique<OpenSshServer>();
    QTemporaryDir dir;
    QString home;
    QString knownHosts;
    QByteArray savedHome;
    QByteArray savedAgent;
    TWait wait;
    TSftpClient client;
    QStringList lines;
};

TEST_F(SftpClient, SeveralFilesInOneSessionGetTheirModesAndLeaveNothingBehind)
{
    PutOnServer(QStringLiteral("kept.html"), "old", 0640);
    // What an upload cut off earlier left under the temporary name gives way.
    PutOnServer(QStringLiteral("kept.html.quelmark-part"), "cut off", 0600);
    const struct {
        QString remote;
        int mode;
    } rows[] = {
        {"kept.html", 0640},    // a replaced file keeps its mode
        {"new.html", 0644},     // a new one gets 0644
        {"a/b/deep.html", 0644} // below folders that did not exist
    };
    client.Site().createFolders = true;
    ASSERT_TRUE(client.OpenSession()) << client.ErrorMessage().toStdString();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.remote.toStdString());
        EXPECT_TRUE(PutFile(row.remote, row.remote.toUtf8(), true)) << client.ErrorMessage().toStdString();
        EXPECT_EQ(server->Stored(row.remote), row.remote.toUtf8());
        EXPECT_EQ(server->StoredMode(row.remote), row.mode);
        EXPECT_TRUE(client.SessionOpen());
    }
    EXPECT_TRUE(client.CloseSession());
    EXPECT_FALSE(client.SessionOpen());
    EXPECT_EQ(lines.filter(QStringLiteral("Connected for SFTP")).size(), 1);
    EXPECT_TRUE(lines.contains(QStringLiteral("> MKDIR a/b")));
    EXPECT_TRUE(LeftOvers().isEmpty()) << LeftOvers().join(' ').toStdString();
    EXPECT_FALSE(lines.join('\n').contains(server->Password()));
}

TEST_F(SftpClient, AFailedFileEndsTheSessionAndTheNextFileOpensANewOne)
{
    QDir(server->Home()).mkdir(QStringLiteral("folder"));
    const struct {
        QString remote;
        QString error;
    } rows[] = {
        {"missing/page.html", "Cannot create missing/page.html.quelmark-part"},
        {"folder", "folder is a folder on the server"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.remote.toStdString());
        ASSERT_TRUE(client.OpenSession());
        EXPECT_FALSE(PutFile(row.remote, "x", true));
        EXPECT_TRUE(client.ErrorMessage().startsWith(row.error)) << client.ErrorMessage().toStdString();
        EXPECT_EQ(lines.last(), QStringLiteral("Failed"));
        EXPECT_FALSE(client.SessionOpen());
        EXPECT_TRUE(PutFile(QStringLiteral("page.html"), "ok", true)) << client.ErrorMessage().toStdString();
        EXPECT_TRUE(client.ErrorMessage().isEmpty());
        EXPECT_TRUE(client.SessionOpen());
        client.CloseSession();
    }
    EXPECT_TRUE(LeftOvers().isEmpty());
}

TEST_F(SftpClient, ReplacesAnExistingFileWithoutPosixRename)
{
    server = std::make_unique<OpenSshServer>(OpenSshServer::TOptions{0, QStringLiteral("-P posix-rename")});
    Prepare(*server);
    PutOnServer(QStringLiteral("page.html"), "old", 0600);
    ASSERT_TRUE(PutFile(QStringLiteral("page.html"), "new")) << client.ErrorMessage().toStdString();
    EXPECT_EQ(server->Stored(QStringLiteral("page.html")), QByteArray("new"));
    EXPECT_EQ(server->StoredMode(QStringLiteral("page.html")), 0600);
    EXPECT_FALSE(lines.filter(QRegularExpression(QStringLiteral("^> RENAME page.html .page.html.old-"))).isEmpty())
        << lines.join('\n').toStdString();
    EXPECT_TRUE(LeftOvers().isEmpty()) << LeftOvers().join(' ').toStdString();
}

TEST_F(SftpClient, CancelAndStallEndTheUploadAndKeepTheOldFile)
{
    const QByteArray big(8 << 20, 'n');
    struct Case {
        const char *what;
        bool stall;
        QString error;
        bool temporaryRemoved;
    };
    for (const Case &c : {Case{"cancel", false, QStringLiteral("Cancelled by the user"), true},
                          Case{"stall", true, QStringLiteral("The server took no data for 5 seconds"), false}}) {
        SCOPED_TRACE(c.what);
        PutOnServer(QStringLiteral("page.html"), "old");
        client.SetTimeOut(5);
        bool held = false;
        client.OnProgress = [&](QObject *, std::int64_t count, bool &abort) {
            if (count == 0)
                return;
            if (!c.stall)
                abort = true;
            else if (!held)
                held = server->SignalSessions(SIGSTOP) > 0;
        };
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(PutFile(QStringLiteral("page.html"), big));
        server->SignalSessions(SIGCONT);
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_EQ(client.ErrorMessage(), c.error);
        EXPECT_EQ(server->Stored(QStringLiteral("page.html")), QByteArray("old"));
        // With the connection still working the temporary file goes; a server held still
        // cannot remove it.
        EXPECT_EQ(LeftOvers().isEmpty(), c.temporaryRemoved) << LeftOvers().join(' ').toStdString();
        for (const QString &left : LeftOvers())
            QFile::remove(left);
    }
}

TEST_F(SftpClient, NestedPutFromAHandlerIsRefusedAndLeavesTheRunningOneAlone)
{
    QString nestedError;
    client.OnProgress = [&](QObject *, std::int64_t, bool &) {
        if (nestedError.isEmpty() && !client.Put())
            nestedError = client.ErrorMessage();
    };
    EXPECT_TRUE(PutFile(QStringLiteral("page.html"), QByteArray(100000, 'p')));
    EXPECT_EQ(nestedError, QStringLiteral("Another transfer is running on this SFTP client"));
    EXPECT_TRUE(client.ErrorMessage().isEmpty());
}

TEST_F(SftpClient, LoginFailuresSayWhyAndNeverShowTheSecret)
{
    const QString missing = dir.filePath(QStringLiteral("no-such-key"));
    const struct {
        const char *what;
        TSshAuth auth;
        QString keyFile;
        QString secret;
        QString error;
    } rows[] = {
        {"wrong password",
         TSshAuth::Password,
         {},
         "not the password",
         "The server refused the password for user 'quelmarkftp'"},
        {"stranger's key",
         TSshAuth::Key,
         server->StrangerKeyFile(),
         {},
         "The server refused the key " + server->StrangerKeyFile() + " for user 'quelmarkftp'"},
        {"wrong passphrase", TSshAuth::Key, server->EncryptedKeyFile(), "not the phrase",
         "Key file " + server->EncryptedKeyFile() + " cannot be read (wrong passphrase, or not a private key)"},
        {"missing key file", TSshAuth::Key, missing, {}, "Key file " + missing + " does not exist"},
        {"no default key",
         TSshAuth::Key,
         {},
         {},
         "No key to log in with: none of ~/.ssh/id_ed25519, id_ecdsa, id_rsa exists and no ssh-agent is running"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        lines.clear();
        client.Site().keyLogin = row.auth == TSshAuth::Key;
        client.Site().keyFile = row.keyFile;
        client.Site().password = row.secret;
        EXPECT_FALSE(PutFile(QStringLiteral("page.html"), "x"));
        EXPECT_EQ(client.ErrorMessage(), row.error);
        EXPECT_EQ(lines.last(), QStringLiteral("Failed"));
        if (!row.secret.isEmpty()) {
            EXPECT_FALSE(lines.join('\n').contains(row.secret));
        }
    }
}

// Without a named key the defaults go in their order, a refused one passing to the next; the
// agent comes last.
TEST_F(SftpClient, DefaultKeysAndTheAgentLogIn)
{
    const QString ssh = home + QStringLiteral("/.ssh/");
    client.Site().keyLogin = TSshAuth::Key == TSshAuth::Key;
    client.Site().password = QString();
    ASSERT_TRUE(QFile::copy(server->StrangerKeyFile(), ssh + QStringLiteral("id_ed25519")));
    ASSERT_TRUE(QFile::copy(server->KeyFile(), ssh + QStringLiteral("id_rsa")));
    EXPECT_TRUE(PutFile(QStringLiteral("page.html"), "by key")) << client.ErrorMessage().toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("The server refused the key")));
    EXPECT_TRUE(
        lines.contains(QStringLiteral("Authenticating as quelmarkftp with key ") + ssh + QStringLiteral("id_rsa")));

    QFile::remove(ssh + QStringLiteral("id_rsa"));
    const QString socket = dir.filePath(QStringLiteral("agent.sock"));
    QProcess agent;
    agent.start(QStringLiteral("ssh-agent"), {QStringLiteral("-D"), QStringLiteral("-a"), socket});
    if (!agent.waitForStarted())
        GTEST_SKIP() << "ssh-agent is not installed";
    for (int i = 0; i < 100 && !QFile::exists(socket); ++i)
        QThread::msleep(10);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SSH_AUTH_SOCK"), socket);
    QProcess add;
    add.setProcessEnvironment(env);
    add.start(QStringLiteral("ssh-add"), {server->KeyFile()});
    ASSERT_TRUE(add.waitForFinished() && add.exitCode() == 0) << add.readAllStandardError().toStdString();
    qputenv("SSH_AUTH_SOCK", socket.toLocal8Bit());
    lines.clear();
    EXPECT_TRUE(PutFile(QStringLiteral("page.html"), "by agent")) << client.ErrorMessage().toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("Authenticating as quelmarkftp with the keys of the ssh-agent")));
    EXPECT_EQ(server->Stored(QStringLiteral("page.html")), QByteArray("by agent"));
    agent.kill();
    agent.waitForFinished();
}

TEST_F(SftpClient, TrustQuestionDecidesAnUnknownKeyAndAYesIsKept)
{
    QFile::remove(knownHosts);
    QStringList questions;
    TTrustAnswer answer = TTrustAnswer::NotAsked;
    client.OnHostKey = [&](QObject *, const QString &question, TTrustAnswer &given) {
        questions << question;
        given = answer;
    };
    const QString key = server->HostKeyType() + QLatin1Char(' ') + server->HostKeyFingerprint();
    const struct {
        TTrustAnswer answer;
        QString said;
    } refusals[] = {
        {TTrustAnswer::NotAsked, "not trusted: nobody is asked during unattended pushes; trust it in the window or "
                                 "with quelmark-put"},
        {TTrustAnswer::Refused, "refused by the user"},
    };
    for (const auto &refusal : refusals) {
        answer = refusal.answer;
        lines.clear();
        EXPECT_FALSE(PutFile(QStringLiteral("page.html"), "x"));
        EXPECT_EQ(client.ErrorMessage(),
                  QStringLiteral("The host key of %1 is not known: %2").arg(server->Server(), key));
        EXPECT_TRUE(lines.contains(QStringLiteral("Host key %1: not known, %2").arg(key, refusal.said)))
            << lines.join('\n').toStdString();
    }
    answer = TTrustAnswer::Trusted;
    EXPECT_TRUE(PutFile(QStringLiteral("page.html"), "x")) << client.ErrorMessage().toStdString();
    EXPECT_TRUE(PutFile(QStringLiteral("page.html"), "y")) << client.ErrorMessage().toStdString();
    const QString question = QStringLiteral("Trust the host key of %1 (%2)?").arg(server->Server(), key);
    EXPECT_EQ(questions, QStringList({question, question, question})) << "asked again after a no, never after a yes";
}

// A server that accepts connections (the kernel does, on its behalf) and never speaks.
class SilentServer {
public:
    SilentServer() : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 4) != 0)
            ADD_FAILURE() << "cannot listen on loopback";
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_server = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
    }
    ~SilentServer() { ::close(m_listener); }
    SilentServer(const SilentServer &) = delete;
    SilentServer &operator=(const SilentServer &) = delete;

    // "127.0.0.1:<port>"
    QString Server() const { return m_server; }

private:
    int m_listener;
    QString m_server;
};

// A server that accepts the connection and never speaks: the handshake ends within TimeOut ticks
// and the application's events go on meanwhile.
TEST(SftpClientBounds, SilentServerEndsWithinTimeOutWhileEventsGoOn)
{
    const SilentServer silent;
    const QString server = silent.Server();
    TWait wait;
    wait.SetInterval(100);
    TSftpClient client;
    client.SetWait(&wait);
    client.SetTimeOut(3);
    client.Site().host = server;
    client.Site().user = QStringLiteral("nobody");
    client.File().local = QStringLiteral(QUELMARK_SOURCE_DIR "/CMakeLists.txt");
    client.File().remote = QStringLiteral("x");
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(client.Put());
    EXPECT_EQ(client.ErrorMessage(),
              QStringLiteral("The SSH handshake with %1 did not end within 3 seconds").arg(server));
    EXPECT_LT(elapsed.elapsed(), 3000);
    EXPECT_GE(ticks, 5);
}

// A Cancel or an end request does not wait for a silent server: the next look at the progress
// handler ends the handshake's wait, and the session fails as cancelled.
TEST(SftpClientBounds, CancelEndsTheWaitForASilentServerWithinASecond)
{
    const SilentServer silent;
    TWait wait;
    wait.SetInterval(1000);
    TSftpClient client;
    client.SetWait(&wait);
    client.SetTimeOut(15);
    client.Site().host = silent.Server();
    client.Site().user = QStringLiteral("nobody");
    client.File().local = QStringLiteral(QUELMARK_SOURCE_DIR "/CMakeLists.txt");
    client.File().remote = QStringLiteral("x");
    QStringList lines;
    client.OnDisplay = [&](QObject *, QString &line) { lines << line; };
    QElapsedTimer sinceCancel;
    QTimer::singleShot(500, [&] { sinceCancel.start(); });
    client.OnProgress = [&](QObject *, std::int64_t, bool &abort) { abort = sinceCancel.isValid(); };

    EXPECT_FALSE(client.Put());
    ASSERT_TRUE(sinceCancel.isValid());
    EXPECT_LT(sinceCancel.elapsed(), 1000);
    EXPECT_EQ(client.ErrorMessage(), QStringLiteral("Cancelled by the user"));
    EXPECT_EQ(lines.mid(lines.size() - 3), QStringList({"Abort requested", "Cancelled by the user", "Failed"}))
        << lines.join('\n').toStdString();
}

} // namespace
