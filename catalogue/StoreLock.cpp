#include "catalogue/StoreLock.h"

#include "base/Exception.h"
#include "base/Printable.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace quelmark {

namespace {

QString SystemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool IsPrivateFolder(const QString &path)
{
    struct stat status {};
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::geteuid() && (status.st_mode & 07777) == 0700;
}

QString PrivateRuntimeFolder(QString *note)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (IsPrivateFolder(runtime))
        return runtime;
    // The folder anybody could have made first under the shared temporary folder is used only
    // when it is this user's alone; otherwise a fresh one is made, which nobody else can have.
    const QString fixed = QDir::tempPath() + QStringLiteral("/quelmark-runtime-%1").arg(::geteuid());
    ::mkdir(QFile::encodeName(fixed).constData(), 0700);
    QString folder = fixed;
    if (!IsPrivateFolder(fixed)) {
        QByteArray pattern = QFile::encodeName(fixed + QStringLiteral("-XXXXXX"));
        folder = ::mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
    }
    // Said where it is unless it is the folder that goes with an unset XDG_RUNTIME_DIR.
    if (note && (folder != fixed || !runtime.isEmpty())) {
        const QString why = runtime.isEmpty() ? QStringLiteral("%1 is not a folder of yours alone").arg(fixed)
                                              : QStringLiteral("XDG_RUNTIME_DIR is not a folder of yours alone");
        *note =
            folder.isEmpty()
                ? QStringLiteral("No private folder for the commands socket could be made: %1").arg(PrintableText(why))
                : QStringLiteral("The commands socket is in %1: %2").arg(PrintableText(folder), PrintableText(why));
    }
    return folder;
}

} // namespace

QString TStoreHolder::Text() const
{
    return QStringLiteral("%1\n%2\n%3\n").arg(pid).arg(role, socketPath);
}

TStoreHolder TStoreHolder::FromText(const QString &text)
{
    TStoreHolder holder;
    // Only whole lines count: the holder may be writing the file right now.
    const QStringList lines = text.left(text.lastIndexOf(QLatin1Char('\n')) + 1).split(QLatin1Char('\n'));
    bool ok = false;
    const qint64 pid = lines.value(0).toLongLong(&ok);
    if (ok && pid > 0)
        holder.pid = pid;
    holder.role = lines.value(1);
    holder.socketPath = lines.value(2);
    return holder;
}

TStoreLock::TStoreLock(const QString &storePath) : m_path(storePath + QStringLiteral(".lock")) {}

TStoreLock::~TStoreLock()
{
    Release();
    if (m_fd >= 0)
        ::close(m_fd);
}

void TStoreLock::Open()
{
    if (m_fd >= 0)
        return;
    // Close-on-exec: a reconnect command started while the lock is held must not inherit it
    // and keep the store locked after this program has ended.
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0)
        throw Exception(QStringLiteral("The lock file %1 cannot be opened: %2").arg(m_path, SystemError()));
}

bool TStoreLock::TryAcquire()
{
    if (m_held)
        return true;
    Open();
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
        m_held = true;
        return true;
    }
    if (errno == EWOULDBLOCK || errno == EINTR)
        return false;
    throw Exception(QStringLiteral("The lock file %1 cannot be locked: %2").arg(m_path, SystemError()));
}

void TStoreLock::Publish(const TStoreHolder &holder)
{
    if (!m_held)
        return;
    const QByteArray text = holder.Text().toUtf8();
    if (::ftruncate(m_fd, 0) != 0 || ::pwrite(m_fd, text.constData(), size_t(text.size()), 0) != text.size())
        throw Exception(QStringLiteral("The lock file %1 cannot be written: %2").arg(m_path, SystemError()));
}

void TStoreLock::Release()
{
    if (!m_held)
        return;
    // Emptied first: a reader must never take this program for the holder once it has let go.
    [[maybe_unused]] const int truncated = ::ftruncate(m_fd, 0);
    ::flock(m_fd, LOCK_UN);
    m_held = false;
}

bool TStoreLock::HeldByAnyone() const
{
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return !free;
}

TStoreHolder TStoreLock::ReadHolder() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return TStoreHolder::FromText(QString::fromUtf8(file.read(4096)));
}

QString HandoverSocketPath(const QString &storePath, QString *note)
{
    const QString beside = storePath + QStringLiteral(".sock");
    if (QFile::encodeName(beside).size() < qsizetype(sizeof(sockaddr_un::sun_path)))
        return beside;
    const QByteArray hash =
        QCryptographicHash::hash(QFile::encodeName(QDir::cleanPath(storePath)), QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    const QString folder = PrivateRuntimeFolder(note);
    // Without a private folder the socket goes beside the store after all, where binding it fails
    // and says so: a run then goes on without taking commands.
    if (folder.isEmpty())
        return beside;
    return folder + QStringLiteral("/quelmark-") + QString::fromLatin1(hash) + QStringLiteral(".sock");
}

} // namespace quelmark
