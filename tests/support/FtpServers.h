// FTP servers started by the tests, on free loopback ports unless a test names one.
//
// Each server is a child process that lives as long as its object. PyFtpServer, VsftpServer,
// ProftpServer and PureFtpServer are real servers with one user who may write below Home();
// ScriptedFtpServer is the program's own misbehaving server, driven by a scenario name and
// recording every command line it receives. Given a certificate, each speaks explicit FTP over
// TLS (AUTH TLS). A server that could not start says why in Failure(); tests skip or fail with
// that text.
#pragma once

#include "tests/support/TestCertificates.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <memory>

namespace quelmark::test {

class FtpServerProcess {
public:
    virtual ~FtpServerProcess();
    FtpServerProcess(const FtpServerProcess &) = delete;
    FtpServerProcess &operator=(const FtpServerProcess &) = delete;

    bool Running() const { return m_failure.isEmpty(); }
    QString Failure() const { return m_failure; }
    std::uint16_t Port() const { return m_port; }
    QString PortText() const { return QString::number(m_port); }
    // The folder the server's user lands in after login.
    QString Home() const { return m_home; }
    QString User() const { return m_user; }
    QString Password() const { return m_password; }
    // Returns the bytes stored on the server under the path relative to Home().
    QByteArray Stored(const QString &relativePath) const;
    // Returns the process id of the server (of its wrapper, when there is one).
    qint64 ProcessId() const;
    // Returns the mode bits of a file below Home(), or -1 when there is none.
    int StoredMode(const QString &relativePath) const;
    // Returns the name a client gives for the file at relativePath below Home(): the path itself,
    // unless the server starts the user in another folder.
    virtual QString RemoteName(const QString &relativePath) const { return relativePath; }

protected:
    FtpServerProcess();
    // Makes the local user quelmarkftp, who logs in with Password(), and Home(), a folder it owns
    // that it reaches through the test's folder; false (with Failure() set) when that fails, as
    // it does without root.
    bool PrepareLocalUser(const QString &server);
    // Starts the program on a free loopback port, with the arguments made for that port; tries
    // a few ports, since another program may take a free one first.
    bool LaunchOnFreePort(const QString &program, const std::function<QStringList(std::uint16_t)> &arguments,
                          bool ipv6 = false);
    // Returns the path of a program below UnpackedServers(); empty (with Failure() set) when it
    // is not there.
    QString UnpackedProgram(const QString &path);
    // Starts the program and reads its port from the first line it prints.
    bool LaunchPrintingPort(const QString &program, const QStringList &arguments);
    // Writes the text as the file of that name in the server's folder and returns its path.
    QString WriteServerFile(const QString &name, const QString &text);
    // Tells whether every program is installed; when one is not, Failure() says so, naming the
    // package.
    bool Installed(const QStringList &programs, const QString &package);
    // Starts the program on a known port of the loopback address (::1 when ipv6) and waits
    // until it accepts connections.
    bool LaunchOnPort(const QString &program, const QStringList &arguments, std::uint16_t port, bool ipv6 = false);
    void Fail(const QString &why) { m_failure = why.isEmpty() ? QStringLiteral("failed") : why; }

    QTemporaryDir m_dir;
    // The environment the server is started with.
    QProcessEnvironment m_environment = QProcessEnvironment::systemEnvironment();
    std::unique_ptr<QProcess> m_process;
    std::uint16_t m_port = 0;
    QString m_home;
    QString m_user;
    QString m_password;
    QString m_failure = QStringLiteral("not started");
};

class PyFtpServer : public FtpServerProcess {
public:
    // Listens on the given address and port; port 0 picks a free one. With a certificate it
    // requires TLS on the control connection and on every data connection.
    explicit PyFtpServer(const QString &address = QStringLiteral("127.0.0.1"), std::uint16_t port = 0,
                         const TestCertificate &tls = {});
};

struct VsftpOptions {
    // Listens on ::1 instead of 127.0.0.1.
    bool ipv6 = false;
    // Opens passive data ports only in this range; 0 leaves the choice to vsftpd.
    std::uint16_t pasvMinPort = 0;
    std::uint16_t pasvMaxPort = 0;
    // With a certificate: TLS required for the login and every data connection, each data
    // connection a resumption of the control connection's TLS session, and an upload that ends
    // without close_notify refused.
    TestCertificate tls;
    // PORT and EPRT refused: passive mode only.
    bool passiveOnly = false;
    // SITE CHMOD refused.
    bool chmodRefused = false;
};

// Needs root: it creates the local user it logs in with when missing.
class VsftpServer : public FtpServerProcess {
public:
    explicit VsftpServer(const VsftpOptions &options = {});
    QString LogFile() const;
    // The address it listens on: "127.0.0.1" or "::1".
    QString Host() const { return m_options.ipv6 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1"); }

private:
    QString WriteConfig(std::uint16_t port);

    VsftpOptions m_options;
};

// Returns the folder that holds the servers the tests run unpacked rather than installed (their
// packages conflict with vsftpd's): scripts/setup.sh's quelmark_unpack_servers makes it.
QString UnpackedServers();

struct ProftpOptions {
    // With a certificate: TLS required for the login and every data connection.
    TestCertificate tls;
    // With TLS: each data connection must resume the control connection's TLS session.
    bool tlsReuseRequired = false;
    // Commands refused to the user, named as the server's <Limit> names them ("EPSV", "PASV",
    // "SITE_CHMOD").
    QStringList refused;
};

// ProFTPD, unpacked; the local user logs in. Needs root.
class ProftpServer : public FtpServerProcess {
public:
    explicit ProftpServer(const ProftpOptions &options = {});

private:
    QString WriteConfig(std::uint16_t port, const ProftpOptions &options);
};

// Pure-FTPd, unpacked, with one virtual user that acts as the local user; with a certificate,
// TLS is required for the login and every data connection. Needs root.
class PureFtpServer : public FtpServerProcess {
public:
    explicit PureFtpServer(const TestCertificate &tls = {});

private:
    bool MakeUserDatabase(const QString &tools);
};

class ScriptedFtpServer : public FtpServerProcess {
public:
    // Listens on address and port (0: a free one); a wrapper (for instance {"unshare", "-n"})
    // runs the server through that command, whose process then becomes the server's. With a
    // certificate it answers AUTH TLS; without one it refuses it.
    explicit ScriptedFtpServer(const QString &scenario, const QString &address = QStringLiteral("127.0.0.1"),
                               const QStringList &wrapper = {}, std::uint16_t port = 0,
                               const TestCertificate &tls = {});

    // Returns the command lines received in the first `sessions` sessions, waiting up to
    // timeoutMs for them to end; lines of sessions still running are left out.
    QStringList Received(int sessions = 1, int timeoutMs = 5000) const;
    // Returns how many sessions have ended so far.
    int EndedSessions() const;

private:
    QString m_record;
};

// Returns the pyftpdlib server on 127.0.0.1 that all tests of this program share, started at
// its first use and stopped when the program ends.
PyFtpServer &SharedPyFtpServer();

// Returns a port on 127.0.0.1 that nothing listens on at the moment of the call.
std::uint16_t FreeLoopbackPort();

} // namespace quelmark::test
