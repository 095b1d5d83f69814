#include "net/FolderWatch.h"

#include "base/Exception.h"
#include "net/SettleTimer.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/inotify.h>

namespace quelmark {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
constexpr int kReadsPerWakeUp = 16;

// What can make a file's entry due: its content written (in place or as a new file), a file
// renamed over it, its mode or times changed. Removals are left to the periodic check: an
// editor that removes the old file before writing the new one would push a missing file.
constexpr std::uint32_t kFileEvents = IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_ATTRIB;
// The folder itself moved away: its watch no longer stands for the path.
constexpr std::uint32_t kFolderEvents = IN_MOVE_SELF;

QString ErrnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

TFolderWatch::TFolderWatch(QObject *owner) : QObject(owner), m_settle(new TSettleTimer(kQuietMs, kLongestMs, this))
{
    m_settle->OnSettled = [this](QObject *) { Settled(); };
}

TFolderWatch::~TFolderWatch() = default;

bool TFolderWatch::SetFiles(const QStringList &files)
{
    m_error.clear();
    m_files = files;
    if (files.isEmpty()) {
        Clear();
        return true;
    }
    if (!m_inotify.Valid() && !OpenInotify())
        return false;
    // Watching a folder that is watched already gives its descriptor again, so the watches that
    // stay are never interrupted; only those no longer wanted are ended afterwards.
    QHash<int, TFolder> folders;
    for (const QString &file : files) {
        const QFileInfo info(file);
        Watch(info.absolutePath(), info.fileName(), file, folders);
        const QString target = info.canonicalFilePath();
        if (!target.isEmpty() && target != info.absoluteFilePath()) {
            const QFileInfo named(target);
            Watch(named.absolutePath(), named.fileName(), file, folders);
        }
    }
    for (auto it = m_folders.cbegin(); it != m_folders.cend(); ++it) {
        if (!folders.contains(it.key()))
            ::inotify_rm_watch(m_inotify.Get(), it.key());
    }
    m_folders = std::move(folders);
    return m_error.isEmpty();
}

void TFolderWatch::Clear()
{
    m_settle->Cancel();
    m_changed.clear();
    m_folders.clear();
    m_files.clear();
    if (m_notifier) {
        // The notifier may be the very sender being handled.
        m_notifier->setEnabled(false);
        std::exchange(m_notifier, nullptr)->deleteLater();
    }
    // Closing the descriptor ends all its watches at once.
    m_inotify.Reset();
}

QStringList TFolderWatch::WatchedFolders() const
{
    QStringList folders;
    for (const TFolder &folder : m_folders)
        folders.append(folder.path);
    return folders;
}

bool TFolderWatch::OpenInotify()
{
    m_inotify.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!m_inotify.Valid()) {
        m_error = QStringLiteral("Saved files cannot be watched (inotify: %1)").arg(ErrnoText(errno));
        return false;
    }
    m_buffer.resize(kBufferSize);
    m_notifier = new QSocketNotifier(m_inotify.Get(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { Guarded([this] { ReadEvents(); }); });
    return true;
}

void TFolderWatch::Watch(const QString &folder, const QString &name, const QString &file, QHash<int, TFolder> &into)
{
    const int watch = ::inotify_add_watch(m_inotify.Get(), QFile::encodeName(folder).constData(),
                                          kFileEvents | kFolderEvents | IN_ONLYDIR | IN_EXCL_UNLINK);
    if (watch < 0) {
        // A folder that is not there yet is seen by the periodic check; the next call tries again.
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR && m_error.isEmpty())
            m_error = QStringLiteral("The folder %1 cannot be watched (inotify: %2)").arg(folder, ErrnoText(error));
        return;
    }
    TFolder &entry = into[watch];
    entry.path = folder;
    QStringList &named = entry.names[name];
    if (!named.contains(file))
        named.append(file);
}

void TFolderWatch::ReadEvents()
{
    for (int reads = 0; reads < kReadsPerWakeUp && m_inotify.Valid(); ++reads) {
        const ssize_t received = ::read(m_inotify.Get(), m_buffer.data(), m_buffer.size());
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return;
        std::size_t offset = 0;
        while (offset + sizeof(inotify_event) <= static_cast<std::size_t>(received)) {
            inotify_event event;
            std::memcpy(&event, m_buffer.data() + offset, sizeof event);
            const std::size_t nameAt = offset + sizeof event;
            offset = nameAt + event.len;
            if (offset > static_cast<std::size_t>(received))
                break;
            // The name is padded with NUL bytes up to its length.
            const char *name = m_buffer.data() + nameAt;
            Note(event.wd, event.mask,
                 QFile::decodeName(QByteArray(name, static_cast<qsizetype>(::strnlen(name, event.len)))));
        }
    }
}

void TFolderWatch::Note(int watch, std::uint32_t mask, const QString &name)
{
    if (mask & IN_Q_OVERFLOW) {
        // Events were lost: any of the files may have changed.
        for (const QString &file : std::as_const(m_files))
            m_changed.insert(file);
        m_settle->Nudge();
        return;
    }
    if (mask & (IN_IGNORED | IN_MOVE_SELF)) {
        // The folder was removed or moved: its watch ends; the next SetFiles watches the path
        // again if a folder stands there.
        if (mask & IN_MOVE_SELF)
            ::inotify_rm_watch(m_inotify.Get(), watch);
        m_folders.remove(watch);
        return;
    }
    const auto folder = m_folders.constFind(watch);
    if (folder == m_folders.cend())
        return;
    const auto files = folder->names.constFind(name);
    if (files == folder->names.cend())
        return;
    for (const QString &file : *files)
        m_changed.insert(file);
    m_settle->Nudge();
}

void TFolderWatch::Settled()
{
    QStringList changed(m_changed.cbegin(), m_changed.cend());
    m_changed.clear();
    if (changed.isEmpty())
        return;
    std::sort(changed.begin(), changed.end());
    const TFilesChanged handler = OnChanged;
    if (handler)
        handler(this, changed);
}

} // namespace quelmark
