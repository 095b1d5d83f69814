#include "tests/support/SshServers.h"

#include "tests/support/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QThread>

#include <csignal>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmark::test {

namespace {

const QString Sshd = QStringLiteral("/usr/sbin/sshd");
const QString KeyGen = QStringLiteral("/usr/bin/ssh-keygen");
const QString Dropbear = QStringLiteral("/usr/sbin/dropbear");
const QString DropbearConvert = QStringLiteral("/usr/bin/dropbearconvert");
const QString Rclone = QStringLiteral("/usr/bin/rclone");
// sshd refuses to start without its privilege separation folder, which only its service makes.
const QString PrivilegeSeparationDir = QStringLiteral("/run/sshd");
// Every folder above a chroot must belong to root and be writable by nobody else, which rules
// out the temporary folder.
const QString ChrootParent = QStringLiteral("/run/quelmark-sftp-chroot");

// PAM services of the password log-in through keyboard-interactive questions. sshd names its
// PAM service after the name it was started under, so each is a link to sshd of that name.
const char *const PamStacks[] = {
    "",
    "# Written by the tests of Varnholt Quelmark: the password, asked once.\n"
    "auth required pam_unix.so\naccount required pam_unix.so\nsession required pam_permit.so\n",
    // pam_unix takes the password from the first module that asked for it; pam_ftp asks again
    // whatever was asked before.
    "# Written by the tests of Varnholt Quelmark: the password, then a second question.\n"
    "auth required pam_unix.so\nauth optional pam_ftp.so\naccount required pam_unix.so\n"
    "session required pam_permit.so\n",
};
const char *const PamServices[] = {"", "quelmark-test-password", "quelmark-test-two-questions"};

// Returns the parent process id of pid, or 0.
qint64 ParentOf(qint64 pid)
{
    // pid (comm) state ppid ...: the name may hold blanks and parentheses, so read after its end.
    const QByteArray stat = ReadFile(QStringLiteral("/proc/%1/stat").arg(pid));
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

QString SshServerProcess::KnownHostsLine() const
{
    return QStringLiteral("[127.0.0.1]:%1 %2\n").arg(Port()).arg(m_hostKeyPublic);
}

bool SshServerProcess::MakeKey(const QString &path, const QString &passphrase)
{
    return RunProgram(KeyGen,
                      {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"), QStringLiteral("-N"),
                       passphrase, QStringLiteral("-C"), QStringLiteral("test"), QStringLiteral("-f"), path});
}

bool SshServerProcess::MakeHostKey()
{
    QByteArray print;
    QFile pub(HostKeyFile() + QStringLiteral(".pub"));
    if (!QFile::exists(KeyGen) || !MakeKey(HostKeyFile()) ||
        !RunProgram(KeyGen,
                    {QStringLiteral("-l"), QStringLiteral("-E"), QStringLiteral("sha256"), QStringLiteral("-f"),
                     pub.fileName()},
                    &print) ||
        !pub.open(QIODevice::ReadOnly)) {
        Fail(QStringLiteral("ssh-keygen failed: ") + QString::fromLocal8Bit(print));
        return false;
    }
    // "256 SHA256:... test (ED25519)" and "ssh-ed25519 AAAA... test".
    m_hostKeyFingerprint = QString::fromLatin1(print.split(' ').value(1));
    const QList<QByteArray> publicKey = pub.readAll().trimmed().split(' ');
    m_hostKeyType = QString::fromLatin1(publicKey.value(0));
    m_hostKeyPublic = QString::fromLatin1(publicKey.value(0) + ' ' + publicKey.value(1));
    return true;
}

OpenSshServer::OpenSshServer(const TOptions &options)
{
    if (!Installed({Sshd, KeyGen}, QStringLiteral("OpenSSH's sshd or ssh-keygen")) ||
        !PrepareLocalUser(QStringLiteral("sshd")) || !QDir().mkpath(PrivilegeSeparationDir) || !MakeKeys() ||
        (options.chroot && !PrepareChroot()))
        return;
    const QString program = PamProgram(options.login);
    if (program.isEmpty())
        return;
    const auto arguments = [&](std::uint16_t port) {
        return QStringList{QStringLiteral("-D"), QStringLiteral("-f"), WriteConfig(port, options), QStringLiteral("-E"),
                           LogFile()};
    };
    if (!options.port) {
        LaunchOnFreePort(program, arguments);
        return;
    }
    for (int attempt = 0; attempt < 3 && !LaunchOnPort(program, arguments(options.port), options.port); ++attempt)
        QThread::msleep(200);
}

OpenSshServer::~OpenSshServer()
{
    Stop();
    if (!m_chroot.isEmpty())
        QDir(m_chroot).removeRecursively();
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

// The sessions' root: a root-owned folder below a root-owned parent, with Home() inside it.
bool OpenSshServer::PrepareChroot()
{
    const passwd *pw = ::getpwnam(m_user.toLocal8Bit().constData());
    m_chroot = QDir(ChrootParent).filePath(QFileInfo(m_dir.path()).fileName());
    m_home = m_chroot + QStringLiteral("/www");
    const bool ok = pw && QDir().mkpath(m_home) && ::chmod(QFile::encodeName(ChrootParent).constData(), 0755) == 0 &&
                    ::chmod(QFile::encodeName(m_chroot).constData(), 0755) == 0 &&
                    ::chown(QFile::encodeName(m_home).constData(), pw->pw_uid, pw->pw_gid) == 0;
    if (!ok)
        Fail(QStringLiteral("cannot prepare the chroot folder ") + m_chroot);
    return ok;
}

// sshd itself, or a link to it named after the PAM service that asks the questions, whose
// stack is written when it is missing. Other test programs may use the same service at the
// same time: it is written whole or left as it is, never removed.
QString OpenSshServer::PamProgram(TPasswordLogin login)
{
    const auto index = static_cast<std::size_t>(login);
    if (login == TPasswordLogin::Password)
        return Sshd;
    const QString service = QString::fromLatin1(PamServices[index]);
    const QString stack = QStringLiteral("/etc/pam.d/") + service;
    if (ReadFile(stack) != PamStacks[index]) {
        QSaveFile file(stack);
        if (!file.open(QIODevice::WriteOnly) || file.write(PamStacks[index]) < 0 || !file.commit()) {
            Fail(QStringLiteral("cannot write the PAM service ") + stack);
            return {};
        }
    }
    const QString link = m_dir.filePath(service);
    if (!QFile::link(Sshd, link)) {
        Fail(QStringLiteral("cannot link sshd as ") + link);
        return {};
    }
    return link;
}

bool OpenSshServer::MakeKeys()
{
    const bool made =
        MakeHostKey() && MakeKey(KeyFile()) && MakeKey(StrangerKeyFile()) &&
        QFile::copy(KeyFile(), EncryptedKeyFile()) &&
        RunProgram(KeyGen, {QStringLiteral("-q"), QStringLiteral("-p"), QStringLiteral("-N"), KeyPassphrase(),
                            QStringLiteral("-f"), EncryptedKeyFile()}) &&
        QFile::copy(KeyFile() + QStringLiteral(".pub"), m_dir.filePath(QStringLiteral("authorized_keys")));
    if (!made) {
        Fail(QStringLiteral("ssh-keygen failed"));
        return false;
    }
    QFile::setPermissions(m_dir.filePath(QStringLiteral("authorized_keys")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                              QFileDevice::ReadOther);
    return true;
}

QString OpenSshServer::WriteConfig(std::uint16_t port, const TOptions &options)
{
    const bool interactive = options.login != TPasswordLogin::Password;
    QString text = QStringLiteral("ListenAddress 127.0.0.1:%1\nHostKey %2\nPidFile none\nUsePAM %3\n"
                                  "PasswordAuthentication %4\nKbdInteractiveAuthentication %3\n"
                                  "PubkeyAuthentication yes\nAuthorizedKeysFile %5\nStrictModes no\n"
                                  "AllowUsers %6\nLoginGraceTime 30\nLogLevel VERBOSE\n")
                       .arg(port)
                       .arg(HostKeyFile(), interactive ? QStringLiteral("yes") : QStringLiteral("no"),
                            interactive ? QStringLiteral("no") : QStringLiteral("yes"),
                            m_dir.filePath(QStringLiteral("authorized_keys")), m_user);
    if (m_chroot.isEmpty())
        text += QStringLiteral("Subsystem sftp internal-sftp -d %1 %2\n").arg(m_home, options.sftpFlags);
    else
        text += QStringLiteral("ChrootDirectory %1\nSubsystem sftp internal-sftp -d /www %2\n")
                    .arg(m_chroot, options.sftpFlags);
    return WriteServerFile(QStringLiteral("sshd_config"), text);
}

DropbearServer::DropbearServer()
{
    const QString hostKey = m_dir.filePath(QStringLiteral("host_key.dropbear"));
    if (!Installed({Dropbear, DropbearConvert}, QStringLiteral("dropbear (dropbear-bin)")) ||
        !PrepareLocalUser(QStringLiteral("dropbear")) || !MakeHostKey())
        return;
    if (!RunProgram(DropbearConvert, {QStringLiteral("openssh"), QStringLiteral("dropbear"), HostKeyFile(), hostKey})) {
        Fail(QStringLiteral("dropbearconvert failed"));
        return;
    }
    LaunchOnFreePort(Dropbear, [&](std::uint16_t port) {
        return QStringList{QStringLiteral("-F"), QStringLiteral("-E"),
                           QStringLiteral("-p"), QStringLiteral("127.0.0.1:%1").arg(port),
                           QStringLiteral("-r"), hostKey};
    });
}

QString DropbearServer::RemoteName(const QString &relativePath) const
{
    return QDir(m_home).filePath(relativePath);
}

RcloneSftpServer::RcloneSftpServer()
{
    if (!Installed({Rclone}, QStringLiteral("rclone")))
        return;
    m_user = QStringLiteral("quelmark");
    m_password = QStringLiteral("rclone pass 3");
    m_home = m_dir.filePath(QStringLiteral("root"));
    if (!QDir().mkpath(m_home) || !MakeHostKey())
        return;
    const QString config = m_dir.filePath(QStringLiteral("rclone.conf"));
    LaunchOnFreePort(Rclone, [&](std::uint16_t port) {
        return QStringList{QStringLiteral("serve"),
                           QStringLiteral("sftp"),
                           m_home,
                           QStringLiteral("--addr"),
                           QStringLiteral("127.0.0.1:%1").arg(port),
                           QStringLiteral("--user"),
                           m_user,
                           QStringLiteral("--pass"),
                           m_password,
                           QStringLiteral("--key"),
                           HostKeyFile(),
                           QStringLiteral("--authorized-keys"),
                           QStringLiteral("/dev/null"),
                           QStringLiteral("--config"),
                           config};
    });
}

} // namespace quelmark::test
