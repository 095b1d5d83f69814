#include "ftp/UploadClient.h"

#include "base/Dispatch.h"
#include "base/Printable.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace quelmark {

namespace {

// How often a wait asks whether to go on, once it has lasted that long: a cancel acts well within
// a second, and a prompt server's replies cost no question.
constexpr int kCancelPollMs = 250;

QString NotRegularText(const QString &name)
{
    return PrintableText(name) + QStringLiteral(" is not a regular file");
}

} // namespace

TUploadClient::TUploadClient(QString protocol, QObject *parent) : QObject(parent), m_protocol(std::move(protocol)) {}

TUploadClient::~TUploadClient() = default;

bool TUploadClient::Put()
{
    return RunCall([this] {
        const bool stored = PutAlone();
        Display(stored ? QStringLiteral("Done") : QStringLiteral("Failed"));
        return stored;
    });
}

bool TUploadClient::PutFile()
{
    return RunCall([this] {
        const bool stored = PutInSession();
        Display(stored ? QStringLiteral("Done") : QStringLiteral("Failed"));
        return stored;
    });
}

bool TUploadClient::OpenSession()
{
    return RunCall([this] { return Open(); });
}

TUploadClient::TCancelWatch::TCancelWatch(TUploadClient &client)
{
    m_timer.setInterval(kCancelPollMs);
    QObject::connect(&m_timer, &QTimer::timeout, &client, [&client] { Guarded([&client] { client.CheckCancel(); }); });
    m_timer.start();
}

void TUploadClient::CheckCancel()
{
    if (m_cancelled || !OnProgress || !Cancellable())
        return;
    bool abort = false;
    OnProgress(this, TakenBytes(), abort);
    if (abort)
        BreakOff();
}

bool TUploadClient::KeepError(const QString &text)
{
    if (!m_sessionError.isEmpty())
        return false;
    m_sessionError = text;
    m_errorMessage = text;
    return true;
}

void TUploadClient::Display(const QString &text)
{
    if (OnDisplay) {
        // No byte from the server or from a field may act on the screen, the log or a terminal.
        QString copy = PrintableText(text);
        OnDisplay(this, copy);
    }
}

std::optional<QString> LocalFileRefusal(const QString &name)
{
    struct stat status {};
    if (::stat(QFile::encodeName(name).constData(), &status) == 0 && !S_ISREG(status.st_mode))
        return NotRegularText(name);
    return std::nullopt;
}

std::optional<QString> OpenLocalFile(const QString &name, UniqueFd &file, std::int64_t &size)
{
    // Without O_NONBLOCK a FIFO put in the file's place since the check would block here.
    file.Reset(::open(QFile::encodeName(name).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.Valid())
        return QStringLiteral("Unable to open local file, error %1").arg(errno);
    struct stat status {};
    if (::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        file.Reset();
        return NotRegularText(name);
    }
    size = status.st_size;
    return std::nullopt;
}

void RunDataStep(QObject &context, std::int64_t pollMs, const std::function<bool()> &over,
                 const std::function<void()> &poll)
{
    DispatchScope scope;
    QTimer timer;
    timer.setInterval(static_cast<int>(pollMs));
    QObject::connect(&timer, &QTimer::timeout, &context, [&poll] { Guarded(poll); });
    timer.start();
    while (!over()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        scope.RethrowParked();
    }
}

bool TStillClock::StillFor(const TMoved &moved, std::int64_t limitMs)
{
    if (moved != m_last) {
        m_last = moved;
        m_since.start();
        return false;
    }
    return m_since.elapsed() >= limitMs;
}

QString TemporaryName(const QString &hostFileName)
{
    return hostFileName + QStringLiteral(".quelmark-part");
}

QString ProgramKnownHostsFile(const QString &folder)
{
    // Not the running program's own folder: quelmark-put shares the window's file, so a key
    // trusted in one counts in the other.
    const QString in = folder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                                              QStringLiteral("/Varnholt/Quelmark")
                                        : folder;
    return in + QStringLiteral("/known_hosts");
}

} // namespace quelmark
