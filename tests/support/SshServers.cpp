#include "tests/support/SshServers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmark::test {

namespace {

const QString Sshd = QStringLiteral("/usr/sbin/sshd");
const QString KeyGen = QStringLiteral("/usr/bin/ssh-keygen");
const QString SshUser = QStringLiteral("quelmarkftp");
const QString SshPassword = QStringLiteral("Qm-test-pw-7");
// sshd refuses to start without its privilege separation folder, which only its service makes.
const QString PrivilegeSeparationDir = QStringLiteral("/run/sshd");

// Returns the parent process id of pid, or 0.
qint64 ParentOf(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    // pid (comm) state ppid ...: the name may hold blanks and parentheses, so read after its end.
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : 0;
}

bool DescendsFrom(qint64 pid, qint64 ancestor)
{
    for (qint64 p = ParentOf(pid); p > 1; p = ParentOf(p)) {
        if (p == ancestor)
            return true;
    }
    return false;
}

} // namespace

bool RunProgram(const QString &program, const QStringList &arguments, QByteArray *output, const QByteArray &input)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted())
        return false;
    p.write(input);
    p.closeWriteChannel();
    const bool finished = p.waitForFinished(15000);
    if (output)
        *output = p.readAll();
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

OpenSshServer::OpenSshServer(const TOptions &options)
{
    if (!QFile::exists(Sshd) || !QFile::exists(KeyGen)) {
        Fail(QStringLiteral("OpenSSH's sshd or ssh-keygen is not installed"));
        return;
    }
    if (::geteuid() != 0) {
        Fail(QStringLiteral("sshd needs a local user and privilege separation; both need root"));
        return;
    }
    if (!PrepareUser() || !PrepareFolders() || !MakeKeys())
        return;
    // A free port can be taken by someone else before sshd binds it: try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::uint16_t port = options.port ? options.port : FreeLoopbackPort();
        if (LaunchOnPort(Sshd,
                         {QStringLiteral("-D"), QStringLiteral("-f"), WriteConfig(port, options.sftpFlags),
                          QStringLiteral("-E"), LogFile()},
                         port))
            return;
        if (options.port)
            QThread::msleep(200);
    }
}

OpenSshServer::~OpenSshServer()
{
    Stop();
}

QString OpenSshServer::KnownHostsLine() const
{
    return QStringLiteral("[127.0.0.1]:%1 %2\n").arg(Port()).arg(m_hostKeyPublic);
}

QString OpenSshServer::KeyFile() const
{
    return m_dir.filePath(QStringLiteral("client_key"));
}

QString OpenSshServer::EncryptedKeyFile() const
{
    return m_dir.filePath(QStringLiteral("client_key_locked"));
}

QString OpenSshServer::StrangerKeyFile() const
{
    return m_dir.filePath(QStringLiteral("stranger_key"));
}

QString OpenSshServer::LogFile() const
{
    return m_dir.filePath(QStringLiteral("sshd.log"));
}

int OpenSshServer::KillSessions() const
{
    return SignalSessions(SIGKILL);
}

int OpenSshServer::SignalSessions(int signal) const
{
    const qint64 listener = ProcessId();
    // All are found before any is killed: a killed parent hands its children on to init.
    QList<qint64> sessions;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && pid != listener && DescendsFrom(pid, listener))
            sessions.append(pid);
    }
    int signalled = 0;
    for (const qint64 pid : sessions) {
        if (::kill(static_cast<pid_t>(pid), signal) == 0)
            ++signalled;
    }
    return signalled;
}

void OpenSshServer::Stop()
{
    KillSessions();
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
}

bool OpenSshServer::PrepareUser()
{
    m_user = SshUser;
    m_password = SshPassword;
    if (!::getpwnam(m_user.toLocal8Bit().constData()) &&
        !RunProgram(QStringLiteral("/usr/sbin/useradd"), {QStringLiteral("--create-home"), QStringLiteral("--shell"),
                                                          QStringLiteral("/bin/bash"), m_user})) {
        Fail(QStringLiteral("useradd %1 failed").arg(m_user));
        return false;
    }
    // Once per test program is enough; other programs set the same password at the same time,
    // and the shadow file's lock makes one of them wait or fail.
    static bool passwordSet = false;
    for (int attempt = 0; attempt < 5 && !passwordSet; ++attempt) {
        passwordSet = RunProgram(QStringLiteral("/usr/sbin/chpasswd"), {}, nullptr,
                                 (m_user + ':' + m_password + '\n').toLocal8Bit());
        if (!passwordSet)
            QThread::msleep(100);
    }
    if (passwordSet)
        return true;
    Fail(QStringLiteral("chpasswd for %1 failed").arg(m_user));
    return false;
}

bool OpenSshServer::PrepareFolders()
{
    const passwd *pw = ::getpwnam(m_user.toLocal8Bit().constData());
    m_home = m_dir.filePath(QStringLiteral("root"));
    // The user reaches its folder and reads its authorised keys through the test folder.
    const bool ok = pw && ::chmod(m_dir.path().toLocal8Bit().constData(), 0755) == 0 && QDir().mkpath(m_home) &&
                    ::chown(m_home.toLocal8Bit().constData(), pw->pw_uid, pw->pw_gid) == 0 &&
                    QDir().mkpath(PrivilegeSeparationDir);
    if (!ok)
        Fail(QStringLiteral("cannot prepare the folders for sshd in ") + m_dir.path());
    return ok;
}

bool OpenSshServer::MakeKeys()
{
    const auto keygen = [](const QString &path, const QString &passphrase) {
        return RunProgram(KeyGen,
                          {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                           passphrase, QStringLiteral("-C"), QStringLiteral("test"), QStringLiteral("-f"), path});
    };
    const QString hostKey = m_dir.filePath(QStringLiteral("host_key"));
    QByteArray print;
    const bool made =
        keygen(hostKey, QString()) && keygen(KeyFile(), QString()) && keygen(StrangerKeyFile(), QString()) &&
        QFile::copy(KeyFile(), EncryptedKeyFile()) &&
        RunProgram(KeyGen, {QStringLiteral("-q"), QStringLiteral("-p"), QStringLiteral("-N"), KeyPassphrase(),
                            QStringLiteral("-f"), EncryptedKeyFile()}) &&
        QFile::copy(KeyFile() + QStringLiteral(".pub"), m_dir.filePath(QStringLiteral("authorized_keys"))) &&
        RunProgram(KeyGen,
                   {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"), QStringLiteral("-f"),
                    hostKey + QStringLiteral(".pub")},
                   &print);
    QFile pub(hostKey + QStringLiteral(".pub"));
    if (!made || !pub.open(QIODevice::ReadOnly)) {
        Fail(QStringLiteral("ssh-keygen failed: ") + QString::fromLocal8Bit(print));
        return false;
    }
    // "256 SHA256:... test (ED25519)" and "ssh-ed25519 AAAA... test".
    m_hostKeyFingerprint = QString::fromLatin1(print.split(' ').value(1));
    const QList<QByteArray> publicKey = pub.readAll().trimmed().split(' ');
    m_hostKeyType = QString::fromLatin1(publicKey.value(0));
    m_hostKeyPublic = QString::fromLatin1(publicKey.value(0) + ' ' + publicKey.value(1));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("authorized_keys")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                              QFileDevice::ReadOther);
    return true;
}

QString OpenSshServer::WriteConfig(std::uint16_t port, const QString &sftpFlags)
{
    const QString path = m_dir.filePath(QStringLiteral("sshd_config"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return path;
    const QString text = QStringLiteral("ListenAddress 127.0.0.1:%1\nHostKey %2\nPidFile none\nUsePAM no\n"
                                        "PasswordAuthentication yes\nKbdInteractiveAuthentication no\n"
                                        "PubkeyAuthentication yes\nAuthorizedKeysFile %3\nStrictModes no\n"
                                        "AllowUsers %4\nLoginGraceTime 30\nLogLevel VERBOSE\n"
                                        "Subsystem sftp internal-sftp -d %5 %6\n")
                             .arg(port)
                             .arg(m_dir.filePath(QStringLiteral("host_key")),
                                  m_dir.filePath(QStringLiteral("authorized_keys")), m_user, m_home, sftpFlags);
    f.write(text.toLocal8Bit());
    return path;
}

} // namespace quelmark::test
