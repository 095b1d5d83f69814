// Servers of several makers, each in the modes our users run it in, driven by both real programs:
// quelmark-put, and quelmark --push-all on a store made with the sqlite3 command. Each row names
// a server and a mode and what the user must find: the file on the server (its bytes, and its
// mode where the row is about modes) and the words each program says.
//
// ProFTPD and Pure-FTPd run from their packages unpacked (scripts/setup.sh); a server that cannot
// be had is named in the test's skip, after the rows that could run.
#include "net/Sockets.h"
#include "net/SshSession.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SshServers.h"
#include "tests/support/StoreScript.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace {

using namespace quelmark;
using namespace quelmark::test;

// How the programs reach the server.
enum class Via : std::uint8_t {
    Ftp,
    Tls,           // explicit TLS, the certificate trusted by its fingerprint
    UntrustedTls,  // explicit TLS, the certificate trusted by nothing
    Sftp,          // the host key known
    UnknownKeySftp // the host key known nowhere
};

// What is sent, and how.
enum class Mode : std::uint8_t {
    Active,
    Passive,
    ReplaceKeepingMode, // atomic replacement of a file of mode 0750
    ReplaceNew,         // atomic replacement where there is no file yet
    Binary,             // SFTP, a file as it is
    Ascii,              // SFTP, a page with CR LF line ends
};

struct Row {
    const char *what;
    std::function<std::unique_ptr<FtpServerProcess>()> start;
    Via via;
    Mode mode;
    bool stored;
    // Texts in the output of quelmark-put and in the log of --push-all.
    QString putSays;
    QString pushSays;
    // The file's mode on the server afterwards; -1 where the row is not about it.
    int fileMode = -1;
};

constexpr int kOldMode = 0750;
const QByteArray kBinary("\x00\x01 a\r\nb\r\n\xff\xfe", 12);
const QByteArray kPage("<p>at %IP%</p>\r\n<p>second line</p>\r\n");

bool Sftp(const Row &row)
{
    return row.via == Via::Sftp || row.via == Via::UnknownKeySftp;
}

template <typename Server, typename... Options>
std::function<std::unique_ptr<FtpServerProcess>()> Make(Options... options)
{
    return [=] { return std::make_unique<Server>(options...); };
}

VsftpOptions Vsftp(bool passiveOnly, bool chmodRefused, const TestCertificate &tls = {})
{
    VsftpOptions options;
    options.passiveOnly = passiveOnly;
    options.chmodRefused = chmodRefused;
    options.tls = tls;
    return options;
}

ProftpOptions Proftp(const QStringList &refused, const TestCertificate &tls = {}, bool reuse = false)
{
    return ProftpOptions{tls, reuse, refused};
}

OpenSshServer::TOptions Sshd(OpenSshServer::TPasswordLogin login, bool chroot = false)
{
    OpenSshServer::TOptions options;
    options.login = login;
    options.chroot = chroot;
    return options;
}

class Interop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(Path("home")) && QDir().mkpath(Path("config/Varnholt/Quelmark")));
        ASSERT_TRUE(WriteFile(Path("page.bin"), kBinary) && WriteFile(Path("page.html"), kPage));
    }

    QString Path(const char *relative) const { return dir.filePath(QString::fromLatin1(relative)); }
    static QString Remote(const Row &row) { return Sftp(row) && row.mode == Mode::Ascii ? "page.html" : "page.bin"; }
    QString Local(const Row &row) const { return dir.filePath(Remote(row)); }

    // Leaves the server as each program finds it: no file, or the old one with its mode.
    void PrepareServer(const Row &row, const FtpServerProcess &server)
    {
        const QString path = QDir(server.Home()).filePath(Remote(row));
        QFile::remove(path);
        if (row.mode != Mode::ReplaceKeepingMode)
            return;
        struct stat home {};
        ASSERT_TRUE(WriteFile(path, "old") && ::stat(QFile::encodeName(server.Home()).constData(), &home) == 0);
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), home.st_uid, home.st_gid), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), kOldMode), 0);
    }

    // What the server must hold after quelmark-put sent the local file, or --push-all the
    // entry (whose page gets the address).
    QByteArray Expected(const Row &row, bool push) const
    {
        if (!(Sftp(row) && row.mode == Mode::Ascii))
            return kBinary;
        QByteArray page = kPage;
        if (push)
            page.replace("%IP%", TSockets().LocalIPAddress().toLatin1());
        return page.replace("\r\n", "\n");
    }

    QString KnownHosts(const Row &row, const FtpServerProcess &server, const QString &file) const
    {
        const auto *ssh = dynamic_cast<const SshServerProcess *>(&server);
        EXPECT_TRUE(WriteFile(file, row.via == Via::Sftp && ssh ? ssh->KnownHostsLine().toLatin1() : QByteArray()));
        return file;
    }

    QStringList PutArguments(const Row &row, const FtpServerProcess &server) const
    {
        QStringList arguments{"--host",     "127.0.0.1:" + server.PortText(),
                              "--user",     server.User(),
                              "--password", server.Password(),
                              "--timeout",  "15",
                              "--local",    Local(row),
                              "--remote",   server.RemoteName(Remote(row))};
        if (Sftp(row))
            arguments << "--sftp"
                      << "--known-hosts" << KnownHosts(row, server, Path("put_known_hosts"));
        if (row.mode == Mode::Ascii)
            arguments << "--ascii";
        if (row.mode == Mode::Passive)
            arguments << "--passive";
        if (row.mode == Mode::ReplaceKeepingMode || row.mode == Mode::ReplaceNew)
            arguments << "--via-temp";
        if (row.via == Via::Tls || row.via == Via::UntrustedTls)
            arguments << "--tls";
        if (row.via == Via::Tls)
            arguments << "--fingerprint" << Certificates().server.fingerprint;
        return arguments;
    }

    // A store with one site for the server, its one entry the row's file, every option written.
    void WriteStore(const Row &row, const FtpServerProcess &server)
    {
        const bool ascii = row.mode == Mode::Ascii;
        StoreScript store;
        store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
        store.Option(QStringLiteral("DetailedLogging"), QStringLiteral("1"));
        const int site =
            store.Site(QStringLiteral("site"), "127.0.0.1:" + server.PortText(), server.User(), server.Password(),
                       {{Local(row), server.RemoteName(Remote(row)), ascii ? "Ascii" : "Binary", ascii ? "%IP%" : "",
                         "New", "", "", ""}});
        const bool replace = row.mode == Mode::ReplaceKeepingMode || row.mode == Mode::ReplaceNew;
        const bool tls = row.via == Via::Tls || row.via == Via::UntrustedTls;
        const QList<std::pair<QString, QString>> values{
            {"Protocol", Sftp(row) ? "SFTP" : "FTP"},
            {"Passive", row.mode == Mode::Passive ? "1" : "0"},
            {"UploadViaTempName", replace ? "1" : "0"},
            {"CreateFolders", "0"},
            {"Retries", "0"},
            {"Security", tls ? "TLS" : "None"},
            {"TrustedCertificate", row.via == Via::Tls ? Certificates().server.fingerprint : QString()},
        };
        for (const auto &[name, value] : values)
            store.Value(site, name, value);
        const QString file = Path("config/Varnholt/Quelmark/store.db");
        QFile::remove(file);
        ASSERT_EQ(store.WriteTo(file), QString());
        KnownHosts(row, server, Path("config/Varnholt/Quelmark/known_hosts"));
    }

    // Runs a program as a cron job would: no display, the test's own folders; what it printed,
    // on either channel, in out.
    ProgramRun Run(const char *program, const QStringList &arguments) const
    {
        QProcessEnvironment env = NoDisplayEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), Path("cache"));
        env.insert(QStringLiteral("HOME"), Path("home"));
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(BuildProgram(program), arguments);
        return Finish(process);
    }

    void Check(const Row &row, const FtpServerProcess &server, const ProgramRun &run, bool push, const QString &says)
    {
        SCOPED_TRACE(push ? "quelmark --push-all" : "quelmark-put");
        const int exitCode = run.exitCode;
        const QString &output = run.out;
        EXPECT_EQ(exitCode, row.stored ? 0 : 1) << output.toStdString();
        const QByteArray held = server.Stored(Remote(row));
        const QByteArray expected = row.stored                             ? Expected(row, push)
                                    : row.mode == Mode::ReplaceKeepingMode ? QByteArray("old")
                                                                           : QByteArray();
        EXPECT_EQ(held, expected) << output.toStdString();
        if (row.fileMode >= 0) {
            EXPECT_EQ(server.StoredMode(Remote(row)), row.fileMode) << output.toStdString();
        }
        if (!says.isEmpty()) {
            EXPECT_TRUE(output.contains(says)) << says.toStdString() << "\nnot in\n" << output.toStdString();
        }
        EXPECT_FALSE(output.contains(QLatin1String("refused by the user"))) << "nobody was asked";
    }

    void RunRow(const Row &row, const FtpServerProcess &server)
    {
        PrepareServer(row, server);
        Check(row, server, Run("quelmark-put", PutArguments(row, server)), false, row.putSays);
        PrepareServer(row, server);
        WriteStore(row, server);
        Check(row, server, Run("quelmark", {QStringLiteral("--push-all")}), true, row.pushSays);
    }

    QTemporaryDir dir;
};

TEST_F(Interop, EveryServerTakesEachModeFromBothPrograms)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "the servers log in a local user, which needs root";
    using Login = OpenSshServer::TPasswordLogin;
    const TestCertificate &certificate = Certificates().server;
    const QString cannotPassive = R"(The server refuses passive mode (EPSV and PASV); untick "Passive mode")";
    const QString activeRefused = "550 Permission denied. The server refuses active mode (PORT/EPRT); ";
    const QString twoQuestions = "The server asks 2 questions at log-in; only a password can be given";
    const Row rows[] = {
        // Byte for byte, in every default mode.
        {"pyftpdlib", Make<PyFtpServer>(), Via::Ftp, Mode::Passive, true, {}, {}},
        {"vsftpd", Make<VsftpServer>(), Via::Ftp, Mode::Active, true, {}, {}},
        {"vsftpd, TLS with session reuse, passive only",
         Make<VsftpServer>(Vsftp(true, false, certificate)),
         Via::Tls,
         Mode::Passive,
         true,
         {},
         {}},
        {"proftpd", Make<ProftpServer>(Proftp({})), Via::Ftp, Mode::Active, true, {}, {}},
        {"proftpd, TLS", Make<ProftpServer>(Proftp({}, certificate)), Via::Tls, Mode::Passive, true, {}, {}},
        {"proftpd, TLS with session reuse",
         Make<ProftpServer>(Proftp({}, certificate, true)),
         Via::Tls,
         Mode::Active,
         true,
         {},
         {}},
        {"pure-ftpd", Make<PureFtpServer>(), Via::Ftp, Mode::Passive, true, {}, {}},
        {"pure-ftpd, TLS", Make<PureFtpServer>(certificate), Via::Tls, Mode::Active, true, {}, {}},
        // Refused modes: PASV after a refused EPSV; what to do when nothing passive or active works.
        {"proftpd refusing EPSV", Make<ProftpServer>(Proftp({"EPSV"})), Via::Ftp, Mode::Passive, true,
         "< 501 EPSV: Operation not permitted\n> PASV", "> PASV"},
        {"proftpd refusing EPSV and PASV", Make<ProftpServer>(Proftp({"EPSV", "PASV"})), Via::Ftp, Mode::Passive, false,
         cannotPassive, cannotPassive},
        {"vsftpd refusing active mode", Make<VsftpServer>(Vsftp(true, false)), Via::Ftp, Mode::Active, false,
         activeRefused + "use --passive", activeRefused + R"(tick "Passive mode" for this site)"},
        // Atomic replacement keeps the replaced file's mode; a new file gets the server's default.
        {"proftpd (MLST)",
         Make<ProftpServer>(Proftp({})),
         Via::Ftp,
         Mode::ReplaceKeepingMode,
         true,
         "> SITE CHMOD 750 page.bin.quelmark-part",
         {},
         kOldMode},
        {"vsftpd (STAT)", Make<VsftpServer>(), Via::Ftp, Mode::ReplaceKeepingMode, true, {}, {}, kOldMode},
        {"pure-ftpd (MLST)", Make<PureFtpServer>(), Via::Ftp, Mode::ReplaceKeepingMode, true, {}, {}, kOldMode},
        {"pyftpdlib (MLST without the mode, then STAT)",
         Make<PyFtpServer>(),
         Via::Ftp,
         Mode::ReplaceKeepingMode,
         true,
         "> STAT page.bin",
         {},
         kOldMode},
        {"vsftpd refusing SITE CHMOD", Make<VsftpServer>(Vsftp(false, true)), Via::Ftp, Mode::ReplaceKeepingMode, true,
         "The file's mode could not be kept (500 Unknown SITE command.)",
         "The file's mode could not be kept (500 Unknown SITE command.)", 0644},
        {"proftpd, a new file", Make<ProftpServer>(Proftp({})), Via::Ftp, Mode::ReplaceNew, true, {}, {}, 0644},
        // A text page over SFTP arrives with the line ends TYPE A would give it.
        {"sshd, internal-sftp in a chroot",
         Make<OpenSshServer>(Sshd(Login::Password, true)),
         Via::Sftp,
         Mode::Ascii,
         true,
         {},
         {}},
        {"dropbear with sftp-server", Make<DropbearServer>(), Via::Sftp, Mode::Ascii, true, {}, {}},
        {"rclone", Make<RcloneSftpServer>(), Via::Sftp, Mode::Ascii, true, {}, {}},
        {"sshd, a binary file", Make<OpenSshServer>(Sshd(Login::Password)), Via::Sftp, Mode::Binary, true, {}, {}},
        // Keyboard-interactive log-in: the password answers one question, not two.
        {"sshd, keyboard-interactive only",
         Make<OpenSshServer>(Sshd(Login::Interactive)),
         Via::Sftp,
         Mode::Binary,
         true,
         "Authenticated",
         {}},
        {"sshd, a second question", Make<OpenSshServer>(Sshd(Login::TwoQuestions)), Via::Sftp, Mode::Binary, false,
         twoQuestions, twoQuestions},
        // Nobody is asked in an unattended push, and the log says so.
        {"proftpd, a certificate nothing vouches for", Make<ProftpServer>(Proftp({}, Certificates().selfSigned)),
         Via::UntrustedTls, Mode::Passive, false, Certificates().selfSigned.fingerprint, kNobodyAskedText},
        {"sshd, an unknown host key", Make<OpenSshServer>(Sshd(Login::Password)), Via::UnknownKeySftp, Mode::Binary,
         false, "is not known", kNobodyAskedText},
    };
    QStringList unavailable;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const std::unique_ptr<FtpServerProcess> server = row.start();
        if (!server->Running()) {
            unavailable << QStringLiteral("%1: %2").arg(QLatin1String(row.what), server->Failure());
            continue;
        }
        RunRow(row, *server);
    }
    if (!unavailable.isEmpty())
        GTEST_SKIP() << "not run: " << unavailable.join(QStringLiteral("; ")).toStdString();
}

} // namespace
