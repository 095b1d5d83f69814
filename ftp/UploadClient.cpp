#include "ftp/UploadClient.h"

#include "base/Dispatch.h"
#include "base/Printable.h"

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
    return RunStore(&TUploadClient::PutAlone);
}

bool TUploadClient::PutFile()
{
    return RunStore(&TUploadClient::PutInSession);
}

bool TUploadClient::RunStore(bool (TUploadClient::*store)())
{
    return RunCall([this, store] {
        const bool stored = (this->*store)();
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

bool TUploadClient::Refuse(const QString &text)
{
    KeepError(text);
    Display(text);
    return false;
}

bool TUploadClient::CheckLocalFile()
{
    struct stat status {};
    if (::stat(QFile::encodeName(m_file.local).constData(), &status) == 0 && !S_ISREG(status.st_mode))
        return Refuse(NotRegularText(m_file.local));
    return true;
}

bool TUploadClient::OpenLocalFile()
{
    // Without O_NONBLOCK a FIFO put in the file's place since the check would block here.
    m_localFile.Reset(::open(QFile::encodeName(m_file.local).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!m_localFile.Valid())
        return Refuse(QStringLiteral("Unable to open local file, error %1").arg(errno));
    struct stat status {};
    if (::fstat(m_localFile.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        m_localFile.Reset();
        return Refuse(NotRegularText(m_file.local));
    }
    m_localSize = status.st_size;
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
