#include "tests/support/FtpServers.h"

#include "tests/support/Files.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace quelmark::test {

namespace {

constexpr int StartTimeoutMs = 15000;
const QString Python = QStringLiteral("/usr/bin/python3");
const QString Vsftpd = QStringLiteral("/usr/sbin/vsftpd");
const QString LocalUser = QStringLiteral("quelmarkftp");
const QString LocalPassword = QStringLiteral("Qm-test-pw-7");

QString ServerScript(const char *name)
{
    return QStringLiteral(QUELMARK_SOURCE_DIR "/tests/support/servers/") + QLatin1String(name);
}

// A plain blocking probe: the caller only wants to know whether the port answers yet.
bool Accepts(std::uint16_t port, bool ipv6)
{
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = false;
    if (ipv6) {
        sockaddr_in6 sa{};
        sa.sin6_family = AF_INET6;
        sa.sin6_port = htons(port);
        sa.sin6_addr = in6addr_loopback;
        ok = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    } else {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok = ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }
    ::close(fd);
    return ok;
}

// Makes the local user when missing and sets its password, once per test program: other
// programs set the same password at the same time, and the shadow file's lock makes one of them
// wait or fail.
QString MakeLocalUser()
{
    if (!::getpwnam(LocalUser.toLocal8Bit().constData()) &&
        !RunProgram(QStringLiteral("/usr/sbin/useradd"), {QStringLiteral("--create-home"), QStringLiteral("--shell"),
                                                          QStringLiteral("/bin/bash"), LocalUser}))
        return QStringLiteral("useradd %1 failed").arg(LocalUser);
    static bool passwordSet = false;
    for (int attempt = 0; attempt < 5 && !passwordSet; ++attempt) {
        passwordSet = RunProgram(QStringLiteral("/usr/sbin/chpasswd"), {}, nullptr,
                                 (LocalUser + ':' + LocalPassword + '\n').toLocal8Bit());
        if (!passwordSet)
            QThread::msleep(100);
    }
    return passwordSet ? QString() : QStringLiteral("chpasswd for %1 failed").arg(LocalUser);
}

// The folder of the unpacked packages' shared libraries, for the dynamic linker.
QString UnpackedLibraries()
{
    const QDir lib(UnpackedServers() + QStringLiteral("/usr/lib"));
    const QStringList multiarch = lib.entryList({QStringLiteral("*-linux-gnu")}, QDir::Dirs);
    return multiarch.isEmpty() ? lib.path() : lib.filePath(multiarch.first());
}

} // namespace

QString UnpackedServers()
{
    return QStringLiteral(QUELMARK_BINARY_DIR "/test-servers/root");
}

std::uint16_t FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    std::uint16_t port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
        port = ntohs(sa.sin_port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

FtpServerProcess::FtpServerProcess() = default;

FtpServerProcess::~FtpServerProcess()
{
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

QByteArray FtpServerProcess::Stored(const QString &relativePath) const
{
    return ReadFile(QDir(m_home).filePath(relativePath));
}

int FtpServerProcess::StoredMode(const QString &relativePath) const
{
    return FileMode(QDir(m_home).filePath(relativePath));
}

bool FtpServerProcess::PrepareLocalUser(const QString &server)
{
    if (::geteuid() != 0) {
        Fail(server + QStringLiteral(" needs a local user; creating one needs root"));
        return false;
    }
    m_user = LocalUser;
    m_password = LocalPassword;
    if (const QString failure = MakeLocalUser(); !failure.isEmpty()) {
        Fail(failure);
        return false;
    }
    const passwd *pw = ::getpwnam(m_user.toLocal8Bit().constData());
    m_home = m_dir.filePath(QStringLiteral("root"));
    // The user must be able to reach its folder through the test folder, which starts as 0700.
    const bool ok = pw && ::chmod(m_dir.path().toLocal8Bit().constData(), 0755) == 0 && QDir().mkpath(m_home) &&
                    ::chown(m_home.toLocal8Bit().constData(), pw->pw_uid, pw->pw_gid) == 0;
    if (!ok)
        Fail(QStringLiteral("cannot prepare the folders for %1 in %2").arg(server, m_dir.path()));
    return ok;
}

QString FtpServerProcess::UnpackedProgram(const QString &path)
{
    const QString program = UnpackedServers() + path;
    if (QFile::exists(program))
        return program;
    Fail(QStringLiteral("%1 is not unpacked in %2 (scripts/setup.sh: quelmark_unpack_servers)")
             .arg(QFileInfo(path).fileName(), UnpackedServers()));
    return {};
}

QString FtpServerProcess::WriteServerFile(const QString &name, const QString &text)
{
    const QString path = m_dir.filePath(name);
    if (!WriteFile(path, text.toLocal8Bit()))
        Fail(QStringLiteral("cannot write ") + path);
    return path;
}

bool FtpServerProcess::Installed(const QStringList &programs, const QString &package)
{
    const bool all = std::all_of(programs.begin(), programs.end(), [](const QString &p) { return QFile::exists(p); });
    if (!all)
        Fail(package + QStringLiteral(" is not installed"));
    return all;
}

bool FtpServerProcess::LaunchOnFreePort(const QString &program,
                                        const std::function<QStringList(std::uint16_t)> &arguments, bool ipv6)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::uint16_t port = FreeLoopbackPort();
        if (LaunchOnPort(program, arguments(port), port, ipv6))
            return true;
    }
    return false;
}

qint64 FtpServerProcess::ProcessId() const
{
    return m_process ? m_process->processId() : 0;
}

bool FtpServerProcess::LaunchPrintingPort(const QString &program, const QStringList &arguments)
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(m_environment);
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(program, arguments);
    QDeadlineTimer deadline(StartTimeoutMs);
    while (!m_process->canReadLine() && !deadline.hasExpired()) {
        if (!m_process->waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
    }
    bool ok = false;
    const int port = QString::fromLatin1(m_process->readLine()).trimmed().toInt(&ok);
    if (!ok || port <= 0) {
        Fail(program + QStringLiteral(" printed no port: ") + m_process->errorString());
        return false;
    }
    m_port = static_cast<std::uint16_t>(port);
    m_failure.clear();
    return true;
}

bool FtpServerProcess::LaunchOnPort(const QString &program, const QStringList &arguments, std::uint16_t port, bool ipv6)
{
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(m_environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(program, arguments);
    QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        if (m_process->state() == QProcess::NotRunning || m_process->waitForFinished(0)) {
            Fail(QStringLiteral("%1 exited with status %2: %3")
                     .arg(program)
                     .arg(m_process->exitCode())
                     .arg(QString::fromLocal8Bit(m_process->readAll()).trimmed()));
            return false;
        }
        if (Accepts(port, ipv6)) {
            m_port = port;
            m_failure.clear();
            return true;
        }
        QThread::msleep(20);
    }
    Fail(program + QStringLiteral(" did not start listening"));
    return false;
}

PyFtpServer::PyFtpServer(const QString &address, std::uint16_t port, const TestCertificate &tls)
{
    m_user = QStringLiteral("quelmark");
    m_password = QStringLiteral("s3cret pass");
    m_home = m_dir.filePath(QStringLiteral("home"));
    QDir().mkpath(m_home);
    QStringList arguments{ServerScript("pyftpd_server.py"), m_user, m_password, m_home, address, QString::number(port)};
    if (!tls.Empty())
        arguments << tls.certificate << tls.key;
    LaunchPrintingPort(Python, arguments);
}

PyFtpServer &SharedPyFtpServer()
{
    static PyFtpServer server;
    return server;
}

VsftpServer::VsftpServer(const VsftpOptions &options) : m_options(options)
{
    if (!Installed({Vsftpd}, QStringLiteral("vsftpd")) || !PrepareLocalUser(QStringLiteral("vsftpd")) ||
        !QDir().mkpath(m_dir.filePath(QStringLiteral("empty"))))
        return;
    LaunchOnFreePort(
        Vsftpd, [this](std::uint16_t port) { return QStringList{WriteConfig(port)}; }, m_options.ipv6);
}

QString VsftpServer::LogFile() const
{
    return m_dir.filePath(QStringLiteral("vsftpd.log"));
}

QString VsftpServer::WriteConfig(std::uint16_t port)
{
    // The IPv6 listener answers EPSV with a port alone; pasv_address is an IPv4 address.
    const QString listen = m_options.ipv6 ? QStringLiteral("listen=NO\nlisten_ipv6=YES\nlisten_address6=::1\n")
                                          : QStringLiteral("listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\n"
                                                           "pasv_address=127.0.0.1\n");
    QString text = listen + QStringLiteral("listen_port=%1\n"
                                           "background=NO\nanonymous_enable=NO\nlocal_enable=YES\nwrite_enable=YES\n"
                                           "local_umask=022\nlocal_root=%2\nport_enable=%5\nconnect_from_port_20=NO\n"
                                           "pasv_enable=YES\nseccomp_sandbox=NO\nchmod_enable=%6\n"
                                           "pam_service_name=vsftpd\nsecure_chroot_dir=%3\nxferlog_enable=YES\n"
                                           "vsftpd_log_file=%4\nlog_ftp_protocol=YES\n")
                                .arg(port)
                                .arg(m_home, m_dir.filePath(QStringLiteral("empty")), LogFile(),
                                     m_options.passiveOnly ? QStringLiteral("NO") : QStringLiteral("YES"),
                                     m_options.chmodRefused ? QStringLiteral("NO") : QStringLiteral("YES"));
    if (m_options.pasvMinPort != 0)
        text += QStringLiteral("pasv_min_port=%1\npasv_max_port=%2\n")
                    .arg(m_options.pasvMinPort)
                    .arg(m_options.pasvMaxPort);
    // require_ssl_reuse is vsftpd's default, written out all the same; debug_ssl logs whether each
    // data connection resumed the session.
    if (!m_options.tls.Empty())
        text += QStringLiteral("ssl_enable=YES\nrsa_cert_file=%1\nrsa_private_key_file=%2\n"
                               "force_local_data_ssl=YES\nforce_local_logins_ssl=YES\nrequire_ssl_reuse=YES\n"
                               "strict_ssl_read_eof=YES\nssl_ciphers=HIGH\ndebug_ssl=YES\n")
                    .arg(m_options.tls.certificate, m_options.tls.key);
    return WriteServerFile(QStringLiteral("vsftpd.conf"), text);
}

ProftpServer::ProftpServer(const ProftpOptions &options)
{
    const QString program = UnpackedProgram(QStringLiteral("/usr/sbin/proftpd"));
    if (program.isEmpty())
        return;
    if (!PrepareLocalUser(QStringLiteral("proftpd")))
        return;
    m_environment.insert(QStringLiteral("LD_LIBRARY_PATH"), UnpackedLibraries());
    LaunchOnFreePort(program, [&](std::uint16_t port) {
        return QStringList{QStringLiteral("-n"), QStringLiteral("-q"), QStringLiteral("-c"),
                           WriteConfig(port, options)};
    });
}

QString ProftpServer::WriteConfig(std::uint16_t port, const ProftpOptions &options)
{
    // The user is kept in its folder; nothing is looked up in the name service.
    QString text = QStringLiteral("ServerType standalone\nDefaultAddress 127.0.0.1\nSocketBindTight on\n"
                                  "UseIPv6 off\nPort %1\nUser nobody\nGroup nogroup\nUmask 022\n"
                                  "AllowOverwrite on\nModulePath %2\nScoreboardFile %3/scoreboard\n"
                                  "PidFile %3/proftpd.pid\nSystemLog %3/proftpd.log\nWtmpLog off\n"
                                  "UseReverseDNS off\nRequireValidShell off\nAuthPAM off\n"
                                  "AuthOrder mod_auth_unix.c\nDefaultRoot %4\nDelayEngine off\n")
                       .arg(port)
                       .arg(UnpackedServers() + QStringLiteral("/usr/lib/proftpd"), m_dir.path(), m_home);
    if (!options.refused.isEmpty())
        text += QStringLiteral("<Limit %1>\n  DenyAll\n</Limit>\n").arg(options.refused.join(QLatin1Char(' ')));
    if (!options.tls.Empty()) {
        text += QStringLiteral("LoadModule mod_tls.c\nTLSEngine on\nTLSRequired on\nTLSECCertificateFile %1\n"
                               "TLSECCertificateKeyFile %2\nTLSProtocol TLSv1.2 TLSv1.3\nTLSLog %3/tls.log\n")
                    .arg(options.tls.certificate, options.tls.key, m_dir.path());
        // Required unless told otherwise: the data connections resume the login's TLS session.
        if (!options.tlsReuseRequired)
            text += QStringLiteral("TLSOptions NoSessionReuseRequired\n");
    }
    return WriteServerFile(QStringLiteral("proftpd.conf"), text);
}

PureFtpServer::PureFtpServer(const TestCertificate &tls)
{
    const QString program = UnpackedProgram(QStringLiteral("/usr/sbin/pure-ftpd"));
    if (program.isEmpty())
        return;
    if (!PrepareLocalUser(QStringLiteral("pure-ftpd")) || !MakeUserDatabase(UnpackedServers() + "/usr/bin"))
        return;
    QStringList options{QStringLiteral("-l"), QStringLiteral("puredb:") + m_dir.filePath(QStringLiteral("users.pdb")),
                        QStringLiteral("-E"), QStringLiteral("-H"),
                        QStringLiteral("-P"), QStringLiteral("127.0.0.1")};
    if (!tls.Empty()) {
        // The key and the certificate in one file, as the server reads them.
        const QString pem = m_dir.filePath(QStringLiteral("server.pem"));
        const QByteArray key = ReadFile(tls.key);
        const QByteArray certificate = ReadFile(tls.certificate);
        if (key.isEmpty() || certificate.isEmpty() || !WriteFile(pem, key + certificate)) {
            Fail(QStringLiteral("cannot write the certificate for pure-ftpd"));
            return;
        }
        options << QStringLiteral("-Y") << QStringLiteral("3") << QStringLiteral("-2") << pem;
    }
    LaunchOnFreePort(program, [&](std::uint16_t port) {
        return QStringList{QStringLiteral("-S"), QStringLiteral("127.0.0.1,%1").arg(port)} + options;
    });
}

// One virtual user with the local user's ids, landing in Home() (which is also its root).
bool PureFtpServer::MakeUserDatabase(const QString &tools)
{
    const QString user = m_user;
    m_user = QStringLiteral("quelmark");
    const bool made =
        RunProgram(tools + QStringLiteral("/pure-pw"),
                   {QStringLiteral("useradd"), m_user, QStringLiteral("-u"), user, QStringLiteral("-g"), user,
                    QStringLiteral("-d"), m_home, QStringLiteral("-f"), m_dir.filePath(QStringLiteral("users.passwd")),
                    QStringLiteral("-F"), m_dir.filePath(QStringLiteral("users.pdb")), QStringLiteral("-m")},
                   nullptr, (m_password + '\n' + m_password + '\n').toLocal8Bit());
    if (!made)
        Fail(QStringLiteral("pure-pw could not make the user database"));
    return made;
}

ScriptedFtpServer::ScriptedFtpServer(const QString &scenario, const QString &address, const QStringList &wrapper,
                                     std::uint16_t port, const TestCertificate &tls)
{
    m_home = m_dir.filePath(QStringLiteral("store"));
    m_record = m_dir.filePath(QStringLiteral("received.txt"));
    QDir().mkpath(m_home);
    QStringList command = wrapper;
    command << Python << ServerScript("ftp_script_server.py") << scenario << m_record << m_home << address
            << QString::number(port);
    if (!tls.Empty())
        command << tls.certificate << tls.key;
    LaunchPrintingPort(command.first(), command.mid(1));
}

QStringList ScriptedFtpServer::Received(int sessions, int timeoutMs) const
{
    static const QString end = QStringLiteral("--END--");
    QDeadlineTimer deadline(timeoutMs);
    QStringList lines;
    for (;;) {
        lines = QString::fromLatin1(ReadFile(m_record)).split(QLatin1Char('\n'));
        if (lines.count(end) >= sessions || deadline.hasExpired())
            break;
        QThread::msleep(10);
    }
    QStringList result;
    int ended = 0;
    QStringList current;
    for (const QString &line : lines) {
        if (line == end) {
            result += current;
            current.clear();
            if (++ended == sessions)
                break;
        } else {
            current += line;
        }
    }
    return result;
}

int ScriptedFtpServer::EndedSessions() const
{
    return static_cast<int>(ReadFile(m_record).count("--END--\n"));
}

} // namespace quelmark::test
