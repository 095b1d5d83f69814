#include "ftp/Sftpcli.h"

#include "base/Dispatch.h"
#include "base/Exception.h"
#include "base/Printable.h"
#include "base/ServerField.h"
#include "ftp/FtpReplies.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmark {

using namespace sftp;

namespace {

// One WRITE request's data, and how many may wait for their replies at once: OpenSSH's own
// client uses the same, and 2 MiB in flight fill a 100 Mbit/s link 150 ms away.
constexpr std::size_t kBlockSize = 32 * 1024;
constexpr std::size_t kMaxInFlight = 64;
// How often the data step looks at the progress and asks whether to go on.
constexpr int kProgressPollMs = 250;
constexpr std::uint32_t kNewFileMode = 0644;
constexpr std::uint32_t kNewFolderMode = 0755;
// The temporary file is the user's alone until it is complete.
constexpr std::uint32_t kTemporaryMode = 0600;

QByteArray RemoteBytes(const QString &path)
{
    return path.toUtf8();
}

QString ModeText(std::uint32_t mode)
{
    return QStringLiteral("0%1").arg(mode & 07777, 3, 8, QLatin1Char('0'));
}

QString ReplyText(const TReply &reply)
{
    switch (reply.type) {
    case TPacket::Status:
        return StatusText(reply.status, reply.message);
    case TPacket::Handle:
        return QStringLiteral("handle");
    case TPacket::Attrs: {
        QString text = QStringLiteral("attributes");
        if (reply.attrs.size)
            text += QStringLiteral(", size %1").arg(*reply.attrs.size);
        if (reply.attrs.permissions)
            text += QStringLiteral(", mode %1").arg(ModeText(*reply.attrs.permissions));
        return text;
    }
    default:
        return QStringLiteral("reply of type %1").arg(static_cast<int>(reply.type));
    }
}

bool IsOk(const std::optional<TReply> &reply)
{
    return reply && reply->type == TPacket::Status && reply->status == TStatus::Ok;
}

QString DataLine(std::int64_t count, std::int64_t elapsedMs)
{
    return StatisticsLine(QStringLiteral("Data: %1 bytes written").arg(count), count, elapsedMs);
}

} // namespace

QString JoinRemotePath(const QString &folder, const QString &file)
{
    if (folder.isEmpty() || file.startsWith(QLatin1Char('/')))
        return file;
    QString joined = folder;
    while (joined.size() > 1 && joined.endsWith(QLatin1Char('/')))
        joined.chop(1);
    if (!joined.endsWith(QLatin1Char('/')))
        joined += QLatin1Char('/');
    return joined + file;
}

QString TemporaryPath(const QString &target, const QString &tag, std::uint32_t random)
{
    const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
    return target.left(slash + 1) + QLatin1Char('.') + target.mid(slash + 1) + QLatin1Char('.') + tag +
           QLatin1Char('-') + QStringLiteral("%1").arg(random, 8, 16, QLatin1Char('0'));
}

QByteArrayView TCrLfFolding::Fold(QByteArrayView chunk)
{
    m_folded.resize(0);
    m_folded.reserve(chunk.size() + 1);
    if (m_heldCr && !chunk.isEmpty()) {
        m_heldCr = false;
        if (chunk.front() != '\n')
            m_folded.append('\r');
    }
    for (qsizetype i = 0; i < chunk.size(); ++i) {
        const char c = chunk[i];
        if (c == '\r' && i + 1 == chunk.size()) {
            m_heldCr = true;
            break;
        }
        if (c != '\r' || chunk[i + 1] != '\n')
            m_folded.append(c);
    }
    return m_folded;
}

QByteArrayView TCrLfFolding::Finish()
{
    m_folded.resize(0);
    if (std::exchange(m_heldCr, false))
        m_folded.append('\r');
    return m_folded;
}

TSftpClient::TSftpClient(QObject *parent) : TUploadClient(QStringLiteral("SFTP"), parent), m_block(kBlockSize) {}

TSftpClient::~TSftpClient() = default;

bool TSftpClient::SessionOpen() const
{
    return m_session && m_session->Alive();
}

bool TSftpClient::PutAlone()
{
    EndSession();
    const bool stored = StoreFile();
    EndSession();
    return stored;
}

bool TSftpClient::Open()
{
    return EnsureSession();
}

bool TSftpClient::PutInSession()
{
    const bool stored = StoreFile();
    if (!stored)
        EndSession();
    return stored;
}

bool TSftpClient::CheckFolder(const QString &folder)
{
    return RunCall([this, &folder] {
        if (folder.contains(QChar(0)))
            return Refuse(QStringLiteral("The folder name holds a NUL character; nothing was sent"));
        if (!EnsureSession())
            return false;
        const std::uint32_t id = NextId();
        const std::optional<TReply> stat =
            Call(StatRequest(id, RemoteBytes(folder)), id, QStringLiteral("STAT ") + folder);
        if (!stat)
            return false;
        if (stat->type == TPacket::Attrs)
            return !stat->attrs.permissions || stat->attrs.IsFolder() ||
                   Refuse(QStringLiteral("%1 is not a folder on the server").arg(folder));
        if (stat->status == TStatus::NoSuchFile)
            return Refuse(QStringLiteral("%1 is not on the server").arg(folder));
        return Refuse(QStringLiteral("Cannot look at %1: %2").arg(folder, ReplyText(*stat)));
    });
}

bool TSftpClient::CloseSession()
{
    // From a handler inside one of our own waits the session is in use: it ends with its call.
    if (m_running)
        return false;
    EndSession();
    return true;
}

void TSftpClient::BreakOff()
{
    m_cancelled = true;
    Display(kAbortRequestedText);
    Refuse(kCancelledText);
    m_session->Cancel();
}

void TSftpClient::Abandon() noexcept
{
    m_localFile.Reset();
    try {
        EndSession();
    } catch (...) {
        // Already failing: the session is abandoned either way.
        m_session.reset();
    }
}

bool TSftpClient::StoreFile()
{
    m_taken = 0;
    return CheckNames() && CheckLocalFile() && EnsureSession() && Upload();
}

void TSftpClient::EndSession()
{
    if (!m_session)
        return;
    m_session->Close();
    m_session.reset();
    m_inFlight.clear();
    m_awaitedId.reset();
    m_awaitedReply.reset();
    m_garbled.clear();
    Display(QStringLiteral("Session closed"));
}

// ---------------------------------------------------------------------------------------------
// The session

QStringList TSftpClient::SessionKey() const
{
    return {m_site.host,
            m_site.port,
            m_site.user,
            m_site.password,
            m_site.keyLogin ? QStringLiteral("key") : QString(),
            m_site.keyFile,
            m_site.knownHostsFile};
}

bool TSftpClient::EnsureSession()
{
    if (m_session && m_sessionKey == SessionKey()) {
        // A session that the server ended while it stood idle is no failure of this file.
        if (m_session->StillAlive())
            return true;
        Display(QStringLiteral("The session ended while idle: ") + m_session->LostReason());
    }
    EndSession();
    return StartSession();
}

bool TSftpClient::StartSession()
{
    if (!m_wait)
        return Refuse(QStringLiteral("No wait object"));
    const std::optional<TServerAddress> server = ServerAddress();
    if (!server)
        return false;
    if (m_site.user.isEmpty())
        return Refuse(QStringLiteral("No user name to log in with"));
    TSshLogin login;
    login.server = *server;
    login.user = m_site.user;
    login.password = m_site.password;
    login.auth = m_site.keyLogin ? TSshAuth::Key : TSshAuth::Password;
    login.keyFile = m_site.keyFile;
    login.homeFolder = QDir::homePath();
    login.knownHostsFile = m_site.knownHostsFile;
    login.acceptedHostKey = m_site.acceptedHostKey;
    TSshSession::TTrustQuestion trust;
    if (OnHostKey)
        trust = [this](const QString &name, const QString &key, TTrustAnswer &answer) {
            OnHostKey(this, HostKeyQuestion(name, key), answer);
        };
    m_session =
        std::make_unique<TSshSession>(m_wait, EffectiveTimeOut(), [this](const QString &line) { Display(line); });
    m_nextId = 1;
    if (const TCancelWatch watch(*this); !m_session->Open(login, trust)) {
        KeepError(m_session->Error());
        m_session.reset();
        return false;
    }
    m_sessionKey = SessionKey();
    return StartSftp();
}

// The server field gives the host and perhaps a port; Port, when set, wins; 22 otherwise.
std::optional<TServerAddress> TSftpClient::ServerAddress()
{
    const TServerField field = ParseServerField(m_site.host);
    if (!field.Valid()) {
        Refuse(QStringLiteral("The server '%1' cannot be used: %2").arg(PrintableText(m_site.host), field.error));
        return std::nullopt;
    }
    TServerAddress server{field.host, field.port != 0 ? field.port : std::uint16_t(22)};
    if (!m_site.port.isEmpty()) {
        bool ok = false;
        const uint port = m_site.port.toUInt(&ok);
        if (!ok || port == 0 || port > 65535) {
            Refuse(QStringLiteral("The port '%1' is not a number from 1 to 65535").arg(PrintableText(m_site.port)));
            return std::nullopt;
        }
        server.port = static_cast<std::uint16_t>(port);
    }
    return server;
}

bool TSftpClient::StartSftp()
{
    Display(QStringLiteral("> INIT 3"));
    m_session->Send(InitRequest());
    std::optional<TVersion> version;
    const TCancelWatch watch(*this);
    const TSshSession::TEnd end = m_session->WaitUntil(
        [&] {
            QByteArray body;
            const TTake take = TakePacket(m_session->Received(), body);
            if (take == TTake::Incomplete)
                return false;
            version = take == TTake::Packet ? ParseVersion(body) : std::nullopt;
            if (!version)
                m_garbled = QStringLiteral("The server did not answer INIT with a VERSION packet");
            return true;
        },
        EffectiveTimeOut());
    if (m_cancelled)
        return false;
    if (end == TSshSession::TEnd::Lost)
        return Refuse(QStringLiteral("The connection to the server was lost: ") + m_session->LostReason());
    if (end == TSshSession::TEnd::TimedOut)
        return Refuse(QStringLiteral("No reply from the server within %1 seconds").arg(EffectiveTimeOut()));
    if (!version)
        return Refuse(m_garbled);
    m_posixRename = version->Offers(kPosixRenameExtension);
    Display(QStringLiteral("< VERSION %1%2").arg(version->version).arg(m_posixRename ? ", posix-rename" : ""));
    if (version->version < 3)
        return Refuse(QStringLiteral("The server speaks SFTP version %1; version 3 is needed").arg(version->version));
    return true;
}

// ---------------------------------------------------------------------------------------------
// One file

bool TSftpClient::CheckNames()
{
    const QString target = JoinRemotePath(m_site.folder, m_file.remote);
    // A NUL would end the name on the server early and put the file somewhere else; no other
    // control character belongs in a name either, and none may reach a log line through one.
    if (target.contains(QChar(0)))
        return Refuse(QStringLiteral("The host file name holds a NUL character; nothing was sent"));
    const std::pair<const QString *, const char *> fields[] = {
        {&m_site.user, "user name"}, {&m_site.folder, "host directory"}, {&m_file.remote, "host file name"}};
    for (const auto &[text, what] : fields) {
        if (ContainsControl(*text))
            return Refuse(
                QStringLiteral("The %1 holds a control character; nothing was sent").arg(QLatin1String(what)));
    }
    if (m_file.remote.isEmpty() || target.endsWith(QLatin1Char('/')))
        return Refuse(QStringLiteral("The host file name '%1' names no file").arg(target));
    return true;
}

bool TSftpClient::Upload()
{
    const auto closeFile = qScopeGuard([this] { m_localFile.Reset(); });
    if (!OpenLocalFile())
        return false;
    m_upload = TUpload{};
    m_upload.target = JoinRemotePath(m_site.folder, m_file.remote);
    m_upload.temporary = TemporaryName(m_upload.target);
    const qsizetype slash = m_upload.target.lastIndexOf(QLatin1Char('/'));
    if (m_site.createFolders && slash > 0 && !MakeFolders(m_upload.target.left(slash)))
        return false;
    if (!StatTarget() || !OpenTemporary())
        return false;
    const bool stored = SendData() && FinishTemporary() && Replace();
    if (!stored)
        Discard();
    return stored;
}

bool TSftpClient::MakeFolders(const QString &folder)
{
    const QStringList parts = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path = folder.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
    for (const QString &part : parts) {
        path = JoinRemotePath(path, part);
        if (!MakeFolder(path))
            return false;
    }
    return true;
}

bool TSftpClient::MakeFolder(const QString &folder)
{
    std::uint32_t id = NextId();
    const std::optional<TReply> stat = Call(StatRequest(id, RemoteBytes(folder)), id, QStringLiteral("STAT ") + folder);
    if (!stat)
        return false;
    if (stat->type == TPacket::Attrs) {
        if (stat->attrs.permissions && !stat->attrs.IsFolder())
            return Refuse(QStringLiteral("%1 is not a folder on the server").arg(folder));
        return true;
    }
    if (stat->status != TStatus::NoSuchFile)
        return Refuse(QStringLiteral("Cannot look at %1: %2").arg(folder, ReplyText(*stat)));
    id = NextId();
    TAttrs attrs;
    attrs.permissions = kNewFolderMode;
    return CallOk(MkdirRequest(id, RemoteBytes(folder), attrs), id, QStringLiteral("MKDIR ") + folder,
                  QStringLiteral("Cannot create the folder ") + folder);
}

bool TSftpClient::StatTarget()
{
    const std::uint32_t id = NextId();
    const QString &target = m_upload.target;
    const std::optional<TReply> reply =
        Call(StatRequest(id, RemoteBytes(target)), id, QStringLiteral("STAT ") + target);
    if (!reply)
        return false;
    if (reply->type == TPacket::Attrs) {
        if (reply->attrs.IsFolder())
            return Refuse(QStringLiteral("%1 is a folder on the server").arg(target));
        m_upload.targetExists = true;
        m_upload.mode = reply->attrs.permissions ? (*reply->attrs.permissions & 07777) : kNewFileMode;
        return true;
    }
    if (reply->type == TPacket::Status && reply->status == TStatus::NoSuchFile) {
        m_upload.mode = kNewFileMode;
        return true;
    }
    return Refuse(QStringLiteral("Cannot look at %1: %2").arg(target, ReplyText(*reply)));
}

bool TSftpClient::OpenTemporary()
{
    std::optional<TReply> reply = CreateTemporary();
    // The temporary name is the same for every upload of the file: what an upload cut off left
    // under it is removed (a link among them, never what it points to) and the name made anew.
    if (reply && reply->type == TPacket::Status && reply->status == TStatus::Failure) {
        const std::uint32_t id = NextId();
        if (IsOk(Call(RemoveRequest(id, RemoteBytes(m_upload.temporary)), id,
                      QStringLiteral("REMOVE ") + m_upload.temporary)))
            reply = CreateTemporary();
    }
    if (!reply)
        return false;
    if (reply->type != TPacket::Handle)
        return Refuse(QStringLiteral("Cannot create %1: %2").arg(m_upload.temporary, ReplyText(*reply)));
    m_upload.handle = reply->handle;
    m_upload.temporaryCreated = true;
    return true;
}

// Exclusive: a name that exists, whoever made it, is never written into.
std::optional<TReply> TSftpClient::CreateTemporary()
{
    const std::uint32_t id = NextId();
    TAttrs attrs;
    attrs.permissions = kTemporaryMode;
    return Call(OpenRequest(id, RemoteBytes(m_upload.temporary), kOpenWrite | kOpenCreate | kOpenExclusive, attrs), id,
                QStringLiteral("OPEN ") + m_upload.temporary);
}

// ---------------------------------------------------------------------------------------------
// The data step

bool TSftpClient::SendData()
{
    Display(QStringLiteral("Sending data from file ") + m_file.local);
    m_dataState = TDataState::Sending;
    m_sent = 0;
    m_taken = 0;
    m_unsentFileBytes = 0;
    m_folding = TCrLfFolding();
    m_inFlight.clear();
    QElapsedTimer elapsed;
    elapsed.start();
    m_still = TStillClock();
    m_session->Watch([this] { DataStep(); });
    const auto unwatch = qScopeGuard([this] { m_session->Unwatch(); });
    m_session->Kick();
    RunEventsUntil(
        *this, std::min<std::int64_t>(TickMs(), kProgressPollMs), [this] { return !DataActive(); },
        [this] { PollData(); });
    if (m_dataState == TDataState::Done)
        TriggerProgress();
    Display(DataLine(m_taken, elapsed.elapsed()));
    return m_dataState == TDataState::Done;
}

// Bounded: the count of still time starts again whenever the server confirms a block or the
// channel takes one, so a slow link is not taken for a dead one. The progress handler is asked
// several times a tick, so a cancel acts at once whatever the server does.
void TSftpClient::PollData()
{
    if (!DataActive())
        return;
    if (m_still.StillFor({m_taken, m_sent}, EffectiveTimeOut() * TickMs())) {
        FailData(QStringLiteral("The server took no data for %1 seconds").arg(EffectiveTimeOut()));
        return;
    }
    TriggerProgress();
}

void TSftpClient::DataStep()
{
    if (!DataActive())
        return;
    DrainReplies();
    if (!m_garbled.isEmpty()) {
        FailData(m_garbled);
        return;
    }
    // Sending can find the connection gone too; no readiness of the socket follows then.
    if (m_session->Alive())
        FillPipeline();
    if (!m_session->Alive())
        FailData(QStringLiteral("The connection to the server was lost: ") + m_session->LostReason());
}

void TSftpClient::FillPipeline()
{
    while (m_dataState == TDataState::Sending && m_inFlight.size() < kMaxInFlight && !m_session->SendPending()) {
        if (!TriggerProgress())
            return;
        const ssize_t n = ::read(m_localFile.Get(), m_block.data(), m_block.size());
        if (n < 0) {
            FailData(QStringLiteral("Error reading file, error %1").arg(errno));
            return;
        }
        const QByteArrayView read(m_block.data(), n);
        m_unsentFileBytes += n;
        SendWrite(m_file.binary ? read : n > 0 ? m_folding.Fold(read) : m_folding.Finish());
        if (n == 0) {
            m_dataState = TDataState::Draining;
            break;
        }
    }
    if (m_dataState == TDataState::Draining && m_inFlight.empty())
        m_dataState = TDataState::Done;
}

// One WRITE at the end of what the remote file holds so far; nothing when there is nothing to
// write (a text's chunk that was a held-back CR alone).
void TSftpClient::SendWrite(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    const std::uint32_t id = NextId();
    m_inFlight.emplace(id, std::exchange(m_unsentFileBytes, 0));
    m_session->Send(WriteRequest(id, m_upload.handle, static_cast<std::uint64_t>(m_sent), bytes));
    m_sent += bytes.size();
}

void TSftpClient::TakeWriteReply(const TReply &reply, std::int64_t fileBytes)
{
    if (!DataActive())
        return;
    if (reply.type == TPacket::Status && reply.status == TStatus::Ok) {
        m_taken += fileBytes;
        return;
    }
    FailData(QStringLiteral("The server did not take the data of %1: %2").arg(m_upload.temporary, ReplyText(reply)));
}

bool TSftpClient::TriggerProgress()
{
    bool abort = false;
    if (OnProgress)
        OnProgress(this, m_taken, abort);
    if (abort) {
        Display(kAbortRequestedText);
        if (DataActive())
            FailData(kCancelledText);
    }
    return !abort;
}

void TSftpClient::FailData(const QString &text)
{
    KeepError(text);
    Display(text);
    m_dataState = TDataState::Broken;
}

// ---------------------------------------------------------------------------------------------
// Putting the file in place

bool TSftpClient::FinishTemporary()
{
    const std::uint32_t id = NextId();
    const std::optional<TReply> stat = Call(FstatRequest(id, m_upload.handle), id, QStringLiteral("FSTAT"));
    if (!stat)
        return false;
    // The server's own count of the bytes it holds: every WRITE confirmed is not proof enough
    // against a server that drops part of one.
    if (stat->type == TPacket::Attrs && stat->attrs.size && static_cast<std::int64_t>(*stat->attrs.size) != m_sent)
        return Refuse(QStringLiteral("The server holds %1 of the %2 bytes sent to %3")
                          .arg(*stat->attrs.size)
                          .arg(m_sent)
                          .arg(m_upload.temporary));
    SetMode();
    const std::uint32_t closeId = NextId();
    const bool closed = CallOk(CloseRequest(closeId, m_upload.handle), closeId, QStringLiteral("CLOSE"),
                               QStringLiteral("The server could not close ") + m_upload.temporary);
    m_upload.handle.clear();
    return closed;
}

// The mode is set on the open handle, since the server's umask has cut the one given at OPEN; a
// server that refuses it leaves the file as it made it, which does not fail the upload.
void TSftpClient::SetMode()
{
    TAttrs attrs;
    attrs.permissions = m_upload.mode;
    const std::uint32_t id = NextId();
    const std::optional<TReply> reply = Call(FsetstatRequest(id, m_upload.handle, attrs), id,
                                             QStringLiteral("FSETSTAT mode ") + ModeText(m_upload.mode));
    if (reply && !IsOk(reply))
        Display(QStringLiteral("The server did not set mode %1: %2").arg(ModeText(m_upload.mode), ReplyText(*reply)));
}

// posix-rename replaces the real name in one step. Without it, a plain RENAME does so where the
// server allows it; otherwise the old file is moved aside first, so the real name is missing
// only between two renames and the old file comes back if the second one fails.
bool TSftpClient::Replace()
{
    const QString &from = m_upload.temporary;
    const QString &to = m_upload.target;
    if (m_posixRename) {
        const std::uint32_t id = NextId();
        const std::optional<TReply> reply = Call(PosixRenameRequest(id, RemoteBytes(from), RemoteBytes(to)), id,
                                                 QStringLiteral("POSIX-RENAME %1 %2").arg(from, to));
        if (!reply)
            return false;
        if (IsOk(reply)) {
            m_upload.temporaryCreated = false;
            return true;
        }
    }
    const std::uint32_t id = NextId();
    const std::optional<TReply> reply =
        Call(RenameRequest(id, RemoteBytes(from), RemoteBytes(to)), id, QStringLiteral("RENAME %1 %2").arg(from, to));
    if (!reply)
        return false;
    if (IsOk(reply)) {
        m_upload.temporaryCreated = false;
        return true;
    }
    if (!m_upload.targetExists)
        return Refuse(QStringLiteral("Cannot rename %1 to %2: %3").arg(from, to, ReplyText(*reply)));
    return ReplaceAside();
}

bool TSftpClient::ReplaceAside()
{
    const QString &from = m_upload.temporary;
    const QString &to = m_upload.target;
    const QString aside = TemporaryPath(to, QStringLiteral("old"), QRandomGenerator::system()->generate());
    std::uint32_t id = NextId();
    if (!CallOk(RenameRequest(id, RemoteBytes(to), RemoteBytes(aside)), id,
                QStringLiteral("RENAME %1 %2").arg(to, aside), QStringLiteral("Cannot move %1 aside").arg(to)))
        return false;
    id = NextId();
    if (CallOk(RenameRequest(id, RemoteBytes(from), RemoteBytes(to)), id, QStringLiteral("RENAME %1 %2").arg(from, to),
               QStringLiteral("Cannot rename %1 to %2").arg(from, to))) {
        m_upload.temporaryCreated = false;
        id = NextId();
        const std::optional<TReply> removed =
            Call(RemoveRequest(id, RemoteBytes(aside)), id, QStringLiteral("REMOVE ") + aside);
        if (removed && !IsOk(removed))
            Display(QStringLiteral("The old file stays as ") + aside);
        return true;
    }
    if (m_session && m_session->Alive()) {
        id = NextId();
        CallOk(RenameRequest(id, RemoteBytes(aside), RemoteBytes(to)), id,
               QStringLiteral("RENAME %1 %2").arg(aside, to),
               QStringLiteral("Cannot move the old file back from ") + aside);
    }
    return false;
}

// A failed upload leaves nothing behind while the connection works: the temporary file is
// closed and removed. With the connection gone the server decides, and the file may remain.
void TSftpClient::Discard()
{
    if (!m_upload.temporaryCreated)
        return;
    if (!m_session || !m_session->Alive()) {
        Display(QStringLiteral("The temporary file %1 may remain on the server").arg(m_upload.temporary));
        return;
    }
    if (!m_upload.handle.isEmpty()) {
        const std::uint32_t id = NextId();
        Call(CloseRequest(id, m_upload.handle), id, QStringLiteral("CLOSE"));
        m_upload.handle.clear();
    }
    if (m_session && m_session->Alive()) {
        const std::uint32_t id = NextId();
        if (IsOk(Call(RemoveRequest(id, RemoteBytes(m_upload.temporary)), id,
                      QStringLiteral("REMOVE ") + m_upload.temporary)))
            m_upload.temporaryCreated = false;
    }
}

// ---------------------------------------------------------------------------------------------
// Requests and replies

std::optional<TReply> TSftpClient::Call(const QByteArray &request, std::uint32_t id, const QString &shown)
{
    // After a cancel nothing more is asked of the server.
    if (m_cancelled)
        return std::nullopt;
    Display(QStringLiteral("> ") + shown);
    m_awaitedId = id;
    m_awaitedReply.reset();
    m_session->Send(request);
    const TCancelWatch watch(*this);
    const TSshSession::TEnd end = m_session->WaitUntil(
        [this] {
            DrainReplies();
            return m_awaitedReply.has_value() || !m_garbled.isEmpty();
        },
        EffectiveTimeOut());
    m_awaitedId.reset();
    std::optional<TReply> reply = std::exchange(m_awaitedReply, std::nullopt);
    if (reply) {
        Display(QStringLiteral("< ") + ReplyText(*reply));
        return reply;
    }
    if (m_cancelled) {
        // The cancel said why already.
    } else if (!m_garbled.isEmpty()) {
        Refuse(m_garbled);
    } else if (end == TSshSession::TEnd::Lost) {
        Refuse(QStringLiteral("The connection to the server was lost: ") + m_session->LostReason());
    } else {
        Refuse(QStringLiteral("No reply from the server within %1 seconds").arg(EffectiveTimeOut()));
    }
    // A late reply would be taken for the answer to a later request: the session is of no
    // further use.
    m_session->Close();
    return std::nullopt;
}

bool TSftpClient::CallOk(const QByteArray &request, std::uint32_t id, const QString &shown, const QString &failure)
{
    const std::optional<TReply> reply = Call(request, id, shown);
    if (!reply)
        return false;
    if (IsOk(reply))
        return true;
    return Refuse(failure + QStringLiteral(": ") + ReplyText(*reply));
}

void TSftpClient::DrainReplies()
{
    QByteArray body;
    while (m_garbled.isEmpty()) {
        const TTake take = TakePacket(m_session->Received(), body);
        if (take == TTake::Incomplete)
            return;
        const std::optional<TReply> reply = take == TTake::Packet ? ParseReply(body) : std::nullopt;
        if (!reply) {
            m_garbled = QStringLiteral("The server sent a garbled SFTP packet");
            return;
        }
        if (const auto write = m_inFlight.find(reply->id); write != m_inFlight.end()) {
            const std::int64_t fileBytes = write->second;
            m_inFlight.erase(write);
            TakeWriteReply(*reply, fileBytes);
        } else if (m_awaitedId && reply->id == *m_awaitedId) {
            m_awaitedReply = reply;
            m_awaitedId.reset();
        }
        // Anything else answers a request given up on; nothing waits for it.
    }
}

} // namespace quelmark
