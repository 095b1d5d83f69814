#include "ftp/Ftpcli.h"

#include "base/Dispatch.h"
#include "base/Exception.h"
#include "base/Printable.h"
#include "base/Wait.h"
#include "ftp/FileModes.h"
#include "ftp/FtpReplies.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmark {

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Lines one reply may have; a server that sends more is not going to end it.
constexpr int kMaxReplyLines = 1000;
// TLS settings kept for as many CA files.
constexpr std::size_t kKeptTlsContexts = 8;
// The file is accounted in blocks of this size: each has its progress event.
constexpr std::int64_t kBlockSize = 1024;
// It is read in chunks of this size, each handed to the data connection in one offer.
constexpr std::size_t kChunkSize = 64 * 1024;
// Bytes one event-loop pass hands over at most while the platform takes them, so that the
// application's events (a Cancel click among them) are not held up by a fast link.
constexpr std::int64_t kPassBytes = 1 << 20;
// How often the data step looks at the progress and asks whether to go on: well within a
// second, so a cancel acts at once even with the usual one-second tick.
constexpr int kProgressPollMs = 250;

// The millisecond tick counter, kept in 32 bits: differences stay right across a wrap.
std::uint32_t TickCount()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Dispatches what is pending once; a handler's exception leaves here instead of reaching an
// outer loop or the general error display, so it leaves Put like any other socket failure.
void DispatchPending()
{
    DispatchScope scope;
    QCoreApplication::processEvents();
    scope.RethrowParked();
}

void CloseQuietly(TWSocket &socket) noexcept
{
    try {
        socket.Close();
    } catch (...) {
        // Already failing: the socket is abandoned either way.
    }
}

void AbortQuietly(TWSocket &socket) noexcept
{
    try {
        socket.Abort();
    } catch (...) {
        // Already failing: the socket is abandoned either way.
    }
}

// RFC 959's answers to a command the server does not know or does not carry out.
bool NotImplemented(std::int32_t code)
{
    return code == 500 || code == 502 || code == 504;
}

// Refused, reset, aborted or timed out: the kinds of connection failure that may pass.
bool PassingConnectFailure(std::int32_t number)
{
    return number == 10061 || number == 10054 || number == 10053 || number == 10060;
}

} // namespace

TFtpClient::TFtpClient(QObject *parent)
    : TUploadClient(QStringLiteral("FTP"), parent), m_controlSocket(new TWSocket(this)),
      m_dataSocket(new TWSocket(this))
{
}

TFtpClient::~TFtpClient()
{
    // The sockets outlive this body as children; their events must not reach a half-destroyed client.
    m_dataSocket->OnSessionAvailable = nullptr;
    m_dataSocket->OnSessionClosed = nullptr;
    m_dataSocket->OnDataSent = nullptr;
    m_dataSocket->OnDataAvailable = nullptr;
}

void TFtpClient::SetWait(TWait *wait)
{
    TUploadClient::SetWait(wait);
    m_controlSocket->SetWaitCtrl(wait);
    m_dataSocket->SetWaitCtrl(wait);
}

bool TFtpClient::PutAlone()
{
    return RunAttempts([this] {
        // A whole session of its own, as designed: one that PutFile left open ends first.
        ForgetClosedSession();
        if (m_loggedIn)
            Finish();
        const bool ok = Store();
        RethrowEndError();
        Finish();
        return ok;
    });
}

bool TFtpClient::Open()
{
    return RunAttempts([this] {
        ForgetClosedSession();
        if (m_loggedIn && m_sessionKey == SessionKey())
            return true;
        if (m_loggedIn)
            Finish();
        if (Login() && ChangeHostDir())
            return true;
        Finish();
        return false;
    });
}

bool TFtpClient::PutInSession()
{
    return RunAttempts([this] { return PutFileOnce(); });
}

bool TFtpClient::CheckFolder(const QString &folder)
{
    return RunCall([this, &folder] {
        m_failure = TFailure::None;
        ForgetClosedSession();
        if (!SessionOpen()) {
            Fail(QStringLiteral("Not logged in"));
            return false;
        }
        m_site.folder = folder;
        if (!CheckCommandTexts() || !ChangeHostDir())
            return false;
        m_sessionKey = SessionKey();
        return true;
    });
}

bool TFtpClient::CloseSession()
{
    return RunExclusively([this] {
        ForgetClosedSession();
        if (!m_loggedIn && m_controlSocket->State() == TSocketState::Closed)
            return true;
        return Finish();
    });
}

bool TFtpClient::SessionOpen() const
{
    return m_loggedIn && m_controlSocket->State() == TSocketState::Connected;
}

QStringList TFtpClient::SessionKey() const
{
    return {m_site.host,
            m_site.port,
            m_site.user,
            m_site.password,
            m_site.folder,
            m_site.tls ? QStringLiteral("TLS") : QString(),
            m_site.trustedCertificate,
            m_site.caFile};
}

// A server may end an idle session on its own: that session is over without a word, and the
// next file starts a fresh one.
void TFtpClient::ForgetClosedSession()
{
    if (!m_loggedIn || m_controlSocket->State() == TSocketState::Connected)
        return;
    m_loggedIn = false;
    CloseQuietly(*m_controlSocket);
    AbortQuietly(*m_dataSocket);
}

bool TFtpClient::PutFileOnce()
{
    ForgetClosedSession();
    if (m_loggedIn && m_sessionKey != SessionKey())
        Finish();
    ResetTransfer();
    // In an open session the checks that a login makes before connecting apply to this file.
    const bool ready = m_loggedIn ? CheckCommandTexts() && CheckLocalFile() : Login() && ChangeHostDir();
    const bool stored = ready && SendType() && StoreFile();
    // A failed file leaves the server in a state this side cannot know: the session ends.
    if (!stored)
        Finish();
    return stored;
}

// Runs an attempt, and again after a pause for as long as it failed for a passing cause and
// retries are left. Each attempt starts with no error of its own.
template <typename Attempt> bool TFtpClient::RunAttempts(Attempt attempt)
{
    for (int retry = 1;; ++retry) {
        m_sessionError.clear();
        m_errorMessage.clear();
        m_failure = TFailure::None;
        m_quitAnswered = false;
        m_certificateProblem.reset();
        if (attempt())
            return true;
        if (retry > m_site.retries || m_failure != TFailure::Transient || !PauseBeforeRetry(retry))
            return false;
    }
}

// Waits before a retry with the application's events going on; the progress handler is asked
// as during a transfer, so a cancel acts at once. False when it asked to stop.
bool TFtpClient::PauseBeforeRetry(int retry)
{
    const std::int64_t delayMs = RetryPauseMs(retry, std::max(0, m_site.retryDelayMs));
    Display(QStringLiteral("Trying again in %1 seconds (retry %2 of %3)")
                .arg(delayMs / 1000.0)
                .arg(retry)
                .arg(m_site.retries));
    m_takenBytes = 0;
    bool goOn = true;
    const QDeadlineTimer deadline(delayMs);
    RunEventsUntil(
        *this, std::clamp<std::int64_t>(delayMs, 1, kProgressPollMs), [&] { return !goOn || deadline.hasExpired(); },
        [&] { goOn = goOn && AskToGoOn(); });
    if (goOn)
        return true;
    m_sessionError.clear();
    Fail(QStringLiteral("Cancelled by the user"));
    return false;
}

// Breaks the session off at once: both connections are reset, so no wait is left for either,
// and the running wait ends. A cancel while QUIT waits for its answer fails nothing: the
// session's work is done then.
void TFtpClient::BreakOff()
{
    m_cancelled = true;
    Display(kAbortRequestedText);
    const QString text = kCancelledText;
    if (m_dataState != TDataState::Idle && !DataStepOver())
        FailData(text, TFailure::Permanent);
    else if (!m_quitting)
        Fail(text);
    AbortQuietly(*m_controlSocket);
    AbortQuietly(*m_dataSocket);
    if (m_wait)
        m_wait->Stop();
}

bool TFtpClient::AskToGoOn()
{
    bool abort = false;
    if (OnProgress)
        OnProgress(this, m_takenBytes, abort);
    if (abort)
        Display(QStringLiteral("Abort requested"));
    return !abort;
}

bool TFtpClient::Login()
{
    if (m_loggedIn)
        return true;
    m_sessionError.clear();
    m_errorMessage.clear();
    m_failure = TFailure::None;
    if (!m_wait) {
        Fail(QStringLiteral("No wait object"));
        return false;
    }
    if (!CheckCommandTexts() || !CheckLocalFile() || !PrepareTls() || !ConnectControl())
        return false;
    Display(QStringLiteral("Connected for FTP"));
    if (GetResponse() != 220) {
        SetErrorFromReply();
        m_controlSocket->Close();
        return false;
    }
    if (m_site.tls && !SecureControl())
        return false;
    SendCommand(QStringLiteral("USER ") + m_site.user + kCrLf);
    std::int32_t code = GetResponse();
    if (code == 331) {
        SendCommand(QStringLiteral("PASS ") + m_site.password + kCrLf);
        code = GetResponse();
    }
    if (code == 230) {
        m_loggedIn = true;
        m_sessionKey = SessionKey();
        return true;
    }
    SetErrorFromReply();
    Quit();
    return false;
}

bool TFtpClient::CheckCommandTexts()
{
    // A line break inside a field would end the command early and let the rest be read by the
    // server as a command of its own; any other control character in a name may end it early
    // (a NUL) or act on the server. A password is the user's secret as it is, but for the line
    // breaks and the NUL.
    const std::pair<const QString *, const char *> fields[] = {
        {&m_site.user, "user name"},
        {&m_site.password, "password"},
        {&m_site.folder, "host directory"},
        {&m_file.remote, "host file name"},
    };
    for (const auto &[text, what] : fields) {
        const bool password = text == &m_site.password;
        QString problem;
        if (ContainsLineBreak(*text))
            problem = QStringLiteral("a line break");
        else if (password ? text->contains(QChar(0)) : ContainsControl(*text))
            problem = QStringLiteral("a control character");
        if (!problem.isEmpty()) {
            Fail(QStringLiteral("The %1 holds %2; nothing was sent").arg(QLatin1String(what), problem));
            return false;
        }
    }
    return true;
}

bool TFtpClient::ConnectControl()
{
    std::vector<sockaddr_storage> addresses;
    try {
        m_controlSocket->SetProto(QStringLiteral("tcp"));
        m_controlSocket->SetPort(m_site.port.isEmpty() ? QStringLiteral("ftp") : m_site.port);
        // A silent name server must not hold the program longer than any other wait.
        const TCancelWatch watch(*this);
        m_controlSocket->SetAddr(m_site.host, m_timeOut);
        addresses = m_controlSocket->ResolvedAddresses();
    } catch (const ESocketException &e) {
        SetError(e.Message());
        if (m_controlSocket->State() != TSocketState::Closed)
            CloseQuietly(*m_controlSocket);
        return false;
    }
    const std::vector<sockaddr_storage> tries =
        ConnectionTries(addresses, AddressPort(m_controlSocket->SocketAddress()));
    for (std::size_t i = 0; i < tries.size() && !m_cancelled; ++i) {
        if (TryConnect(tries[i], i + 1 == tries.size())) {
            m_sessionType = 0;
            m_passiveCommand = TPassiveCommand::Epsv;
            m_modeQuery = TModeQuery::Mlst;
            return true;
        }
    }
    return false;
}

// Connects to one address; the failure of the last one to try becomes the session's error.
bool TFtpClient::TryConnect(const sockaddr_storage &address, bool last)
{
    try {
        m_controlSocket->SetSocketAddress(address);
        m_controlSocket->OnDataAvailable = nullptr;
        m_controlSocket->Connect();
    } catch (const ESocketException &e) {
        // A connect refused at once leaves a handle behind; closed, Quit sees a closed
        // connection instead of failing on a half-open one.
        if (m_controlSocket->State() != TSocketState::Closed)
            CloseQuietly(*m_controlSocket);
        if (last)
            SetError(e.Message(), PassingConnectFailure(e.Number()) ? TFailure::Transient : TFailure::Permanent);
        return false;
    }
    if (const TCancelWatch watch(*this); m_controlSocket->Wait(m_timeOut, TSocketState::Connected))
        return true;
    if (m_cancelled)
        return false;
    if (last)
        Fail(QStringLiteral("Can't connect to host '") + PrintableText(m_site.host) + QLatin1Char('\''),
             TFailure::Transient);
    m_controlSocket->Close();
    return false;
}

// The TLS settings are made before the connection, so a CA file that cannot be read or a
// fingerprint that is none fails the session before anything is sent. They are kept while the
// CA file stays as it was: reading a CA bundle can cost tens of milliseconds.
bool TFtpClient::PrepareTls()
{
    if (!m_site.tls)
        return true;
    if (!m_site.trustedCertificate.trimmed().isEmpty() && !ParseFingerprint(m_site.trustedCertificate)) {
        Fail(QStringLiteral("The trusted certificate '%1' is not a SHA-256 fingerprint (64 hex digits)")
                 .arg(PrintableText(m_site.trustedCertificate)));
        return false;
    }
    const QFileInfo file(m_site.caFile);
    const QString key = m_site.caFile.isEmpty()
                            ? QString()
                            : m_site.caFile + QLatin1Char('|') + QString::number(file.size()) + QLatin1Char('|') +
                                  file.lastModified().toString(Qt::ISODateWithMs);
    if (const auto kept = m_tlsContexts.find(key); kept != m_tlsContexts.end()) {
        m_tlsContext = kept->second;
        return true;
    }
    QString error;
    m_tlsContext = TTlsContext::Make(m_site.caFile, error);
    if (!m_tlsContext) {
        Fail(error);
        return false;
    }
    // A few CA files at a time are all a program's sites use; an old one is not kept for ever.
    if (m_tlsContexts.size() >= kKeptTlsContexts)
        m_tlsContexts.clear();
    m_tlsContexts[key] = m_tlsContext;
    return true;
}

// RFC 4217: AUTH TLS before anything of the user's is sent, the handshake on the control
// connection, then PBSZ 0 and PROT P, which put every data connection under TLS as well.
bool TFtpClient::SecureControl()
{
    const std::int32_t code = Command(QStringLiteral("AUTH TLS"));
    if (code != 234) {
        if (m_lastResponse.isEmpty())
            SetErrorFromReply();
        else
            Fail(QStringLiteral("The server does not offer TLS (AUTH TLS answered %1). Turn off 'Use TLS' for this "
                                "site to send the password in clear text.")
                     .arg(m_lastResponse),
                 code / 100 == 4 ? TFailure::Transient : TFailure::Permanent);
        Quit();
        return false;
    }
    if (m_controlSocket->State() != TSocketState::Connected) {
        Fail(QStringLiteral("The server closed the connection during the TLS handshake"), TFailure::Transient);
        return false;
    }
    m_controlSocket->StartTls(m_tlsContext, TlsPeer());
    if (const TCancelWatch watch(*this); !m_controlSocket->WaitForTls(m_timeOut)) {
        if (!m_cancelled)
            FailTls(*m_controlSocket, QString());
        return false;
    }
    Display(QStringLiteral("TLS: ") + m_controlSocket->TlsSummary());
    if (Command(QStringLiteral("PBSZ 0")) != 200 || Command(QStringLiteral("PROT P")) != 200) {
        SetErrorFromReply();
        Quit();
        return false;
    }
    return true;
}

TTlsPeer TFtpClient::TlsPeer() const
{
    return {m_site.host, ParseFingerprint(m_site.trustedCertificate).value_or(QByteArray())};
}

// Each data connection takes the client's part whoever opened it, and offers the control
// connection's session for resumption: servers tie the data to the session that logged in.
void TFtpClient::StartDataTls()
{
    if (!m_site.tls || m_dataTlsStarted || m_dataSocket->State() != TSocketState::Connected)
        return;
    m_dataTlsStarted = true;
    m_dataSocket->StartTls(m_tlsContext, TlsPeer(), m_controlSocket);
}

// A certificate the user could still decide to trust fails for good; a handshake the server cut
// short or let stall may pass.
void TFtpClient::FailTls(const TWSocket &socket, const QString &prefix)
{
    const std::optional<TCertificateProblem> &problem = socket.TlsCertificateProblem();
    if (problem && !m_certificateProblem && m_sessionError.isEmpty())
        m_certificateProblem = problem;
    const QString text = socket.TlsError().isEmpty() ? QStringLiteral("The TLS handshake failed") : socket.TlsError();
    Fail(prefix + text, problem ? TFailure::Permanent : TFailure::Transient);
}

// Why TLS failed on this store step's data connection; empty when it did not.
QString TFtpClient::DataTlsError() const
{
    return m_dataTlsStarted ? m_dataSocket->TlsError() : QString();
}

bool TFtpClient::ChangeHostDir()
{
    if (m_site.folder.isEmpty())
        return true;
    SendCommand(QStringLiteral("CWD ") + m_site.folder + kCrLf);
    const std::int32_t code = GetResponse();
    if (code == 250 || code == 257)
        return true;
    SetErrorFromReply();
    return false;
}

bool TFtpClient::SendType()
{
    // Within a session the type holds until changed.
    if (m_sessionType == TypeLetter())
        return true;
    SendCommand(QStringLiteral("TYPE ") + QLatin1Char(TypeLetter()) + kCrLf);
    if (GetResponse() == 200) {
        m_sessionType = TypeLetter();
        return true;
    }
    SetErrorFromReply();
    return false;
}

bool TFtpClient::Finish()
{
    const bool quit = Quit();
    if (m_dataSocket->State() != TSocketState::Closed)
        m_dataSocket->Close();
    return quit;
}

bool TFtpClient::Quit()
{
    m_loggedIn = false;
    if (m_controlSocket->State() == TSocketState::Closed) {
        // After a complete QUIT exchange, or a cancel, a closed connection is the session's end.
        if (!m_quitAnswered && !m_cancelled)
            Display(QStringLiteral("Can't QUIT: connection closed"));
        return true;
    }
    SendCommand(QStringLiteral("QUIT") + kCrLf);
    m_quitting = true;
    const auto answered = qScopeGuard([this] { m_quitting = false; });
    const std::int32_t code = GetResponse();
    m_quitAnswered = code != 0;
    m_controlSocket->Close();
    return code == 221;
}

void TFtpClient::SendCommand(const QString &line)
{
    if (m_cancelled)
        return;
    Display(QStringLiteral("> ") + ShownCommand(line.left(line.size() - 2)));
    DispatchPending();
    m_controlSocket->Send(line.toUtf8());
}

std::int32_t TFtpClient::Command(const QString &command)
{
    SendCommand(command + kCrLf);
    return GetResponse();
}

std::int32_t TFtpClient::GetResponse()
{
    if (m_cancelled) {
        m_lastResponse.clear();
        return 0;
    }
    const TCancelWatch watch(*this);
    m_replyLines.clear();
    const QDeadlineTimer deadline(EffectiveTimeOut() * TickMs());
    const bool complete = ReadReplyLine(m_timeOut);
    const QString opening = m_lastResponse;
    if (complete && ReplyContinues(opening) && m_controlSocket->State() != TSocketState::Closed)
        return ReadRestOfReply(opening, deadline);
    return ReplyCode(m_lastResponse);
}

bool TFtpClient::ReadReplyLine(std::int32_t ticks)
{
    m_lastResponse = PrintableBytes(m_controlSocket->ReadLineBytes(ticks));
    // A cancelled wait brought no reply.
    if (m_cancelled)
        return true;
    m_replyLines.append(m_lastResponse);
    Display(QStringLiteral("< ") + m_lastResponse);
    // The rest of such a line is no reply to anything: it ends the reply, and the session.
    if (m_controlSocket->LineTooLong()) {
        m_lastResponse.clear();
        FailReply(QStringLiteral("The server's reply line is longer than %1 bytes").arg(TWSocket::kMaxLineBytes),
                  TFailure::Permanent);
        return true;
    }
    return !m_controlSocket->LineMode();
}

// RFC 959: the lines inside a multi-line reply may have any form, an empty one too; only a line
// that begins with the opening code and a blank ends it. A server may never send that line, so
// the reply as a whole gets TimeOut ticks from the start of its wait (deadline) and at most
// kMaxReplyLines lines.
std::int32_t TFtpClient::ReadRestOfReply(const QString &opening, const QDeadlineTimer &deadline)
{
    const std::int64_t tickMs = TickMs();
    const QString tooSlow = QStringLiteral("The server's reply did not end within %1 seconds").arg(EffectiveTimeOut());
    for (int lines = 1;; ++lines) {
        if (lines >= kMaxReplyLines)
            return FailReply(QStringLiteral("The server's reply did not end within %1 lines").arg(kMaxReplyLines),
                             TFailure::Permanent);
        const std::int64_t ticks = (deadline.remainingTime() + tickMs - 1) / tickMs;
        if (ticks <= 0)
            return FailReply(tooSlow, TFailure::Transient);
        if (!ReadReplyLine(static_cast<std::int32_t>(ticks))) {
            // Cut short by the countdown. With a whole TimeOut to wait, the server fell silent
            // and the part it sent decides, as for any reply; with less, the reply's own time
            // ran out.
            if (ticks < EffectiveTimeOut())
                return FailReply(tooSlow, TFailure::Transient);
            break;
        }
        if (ReplyEnds(opening, m_lastResponse) || m_controlSocket->State() == TSocketState::Closed)
            break;
    }
    return ReplyCode(m_lastResponse);
}

// The rest of such a reply would be read as the answers to the next commands: the control
// connection is of no further use.
std::int32_t TFtpClient::FailReply(const QString &text, TFailure failure)
{
    Fail(text, failure);
    m_controlSocket->Close();
    return 0;
}

// Ends the data step however Store leaves it, in one order: notifications of the control
// connection resumed, the data connection closed if it is still open (broken off, since only an
// unfinished transfer leaves it open; a listening one still reports its empty statistics line),
// the local file closed, and last the control connection when a failure left it out of step.
// An exception that is already leaving Put is left to Put's own clean-up.
class TFtpClient::TDataStepEnd {
public:
    explicit TDataStepEnd(TFtpClient &client) : m_client(client), m_uncaught(std::uncaught_exceptions()) {}
    ~TDataStepEnd()
    {
        if (std::uncaught_exceptions() > m_uncaught)
            return;
        try {
            m_client.EndDataStep();
        } catch (...) {
            m_client.m_endError = std::current_exception();
        }
    }
    TDataStepEnd(const TDataStepEnd &) = delete;
    TDataStepEnd &operator=(const TDataStepEnd &) = delete;

private:
    TFtpClient &m_client;
    int m_uncaught;
};

bool TFtpClient::Store()
{
    ResetTransfer();
    if (!Login() || !ChangeHostDir() || !SendType())
        return false;
    return StoreFile();
}

void TFtpClient::ResetTransfer()
{
    m_totalBytes = 0;
    m_chunkStart = 0;
    m_chunkEnd = 0;
    m_nextBlock = 0;
    m_takenBytes = 0;
    m_localSize = 0;
    m_startTick.reset();
    m_dataState = TDataState::Idle;
    m_dropControl = false;
    m_storAnswered = false;
    m_closedEarly.clear();
    m_passiveReply.clear();
    m_dataTlsStarted = false;
}

void TFtpClient::RethrowEndError()
{
    if (m_endError)
        std::rethrow_exception(std::exchange(m_endError, nullptr));
}

// Stores the file under its name, or under the temporary name and then renamed into place;
// missing folders are made when a refused STOR may have been for want of them.
bool TFtpClient::StoreFile()
{
    const QString target = m_site.viaTemporaryName ? TemporaryName(m_file.remote) : m_file.remote;
    const bool folders = m_site.createFolders && !FolderPrefixes(target).isEmpty();
    // A file stored under another name gets the server's default mode: the mode of the file it
    // will replace is learnt first, to be given to it before the rename.
    std::optional<std::uint32_t> mode;
    if (m_site.viaTemporaryName && !LearnMode(mode))
        return false;
    TStoreResult result = StoreAs(target, folders);
    RethrowEndError();
    if (result == TStoreResult::Refused && folders && (m_storCode == 550 || m_storCode == 553)) {
        if (!MakeFolders(target))
            return false;
        result = StoreAs(target, false);
        RethrowEndError();
    }
    if (!m_site.viaTemporaryName)
        return result == TStoreResult::Stored;
    if (result == TStoreResult::Stored && mode && !KeepMode(target, *mode)) {
        RemoveTemporary(target);
        return false;
    }
    if (result == TStoreResult::Stored)
        return RenameIntoPlace(target);
    if (result == TStoreResult::Failed)
        RemoveTemporary(target);
    return false;
}

// One STOR of the file under target, with its data connection set up and ended. A refusal
// that folders may mend (foldersMayFollow) is no error yet.
TFtpClient::TStoreResult TFtpClient::StoreAs(const QString &target, bool foldersMayFollow)
{
    ResetTransfer();
    TDataStepEnd end(*this);
    if (!m_site.passive)
        ListenForData();
    if (!OpenLocalFile())
        return TStoreResult::NotSent;
    if (!(m_site.passive ? ConnectForData() : AnnouncePort()))
        return TStoreResult::NotSent;
    SendCommand(QStringLiteral("STOR ") + target + kCrLf);
    // The server's own connection may come before its reply, and the bytes go as soon as it is
    // there; a connection this side opened waits for the reply, so a refused STOR costs none. Its
    // TLS handshake starts now all the same: some servers answer only once it is done.
    if (!m_site.passive)
        StartSending();
    else
        StartDataTls();
    const std::int32_t code = GetResponse();
    m_storAnswered = true;
    // Nothing on the control connection is handled while the data moves; the closing reply
    // waits in the connection until it is read.
    m_controlSocket->Pause();
    // RFC 959 allows 125 as well: a server that connected for data at PORT time says the
    // connection is already open.
    if (code != 150 && code != 125) {
        m_storCode = code;
        if (!foldersMayFollow || (code != 550 && code != 553))
            SetErrorFromReply();
        return TStoreResult::Refused;
    }
    if (!m_closedEarly.isEmpty()) {
        Fail(m_closedEarly, TFailure::Transient);
        m_dropControl = true;
        return TStoreResult::Failed;
    }
    Display(QStringLiteral("Sending data from file ") + m_file.local);
    if (m_site.passive)
        StartSending();
    return WaitForDataEnd() && ConfirmStored() ? TStoreResult::Stored : TStoreResult::Failed;
}

// Learns the mode of the file HostFileName names, if there is one; false when the server's
// answer did not come, which leaves the session out of step. A file the server does not list,
// or lists without a mode, has none.
bool TFtpClient::LearnMode(std::optional<std::uint32_t> &mode)
{
    if (m_modeQuery == TModeQuery::Mlst && !LearnModeByMlst(mode))
        return false;
    if (m_modeQuery == TModeQuery::Stat)
        return LearnModeByStat(mode);
    return true;
}

// RFC 3659: a file's facts on the inner line of the reply. A server that does not know MLST, or
// does not give UNIX.mode with it, is asked with STAT from then on.
bool TFtpClient::LearnModeByMlst(std::optional<std::uint32_t> &mode)
{
    const std::optional<std::int32_t> code = CommandAnswered(QStringLiteral("MLST ") + m_file.remote);
    if (!code)
        return false;
    const bool withoutMode = *code == 250 && m_replyLines.size() > 2 &&
                             !m_replyLines.at(1).contains(QLatin1String("unix.mode="), Qt::CaseInsensitive);
    if (withoutMode || NotImplemented(*code))
        m_modeQuery = TModeQuery::Stat;
    else if (*code == 250)
        mode = MlstFileMode(m_replyLines);
    return true;
}

// RFC 959: STAT with a name lists that file over the control connection, as LIST would.
bool TFtpClient::LearnModeByStat(std::optional<std::uint32_t> &mode)
{
    const std::optional<std::int32_t> code = CommandAnswered(QStringLiteral("STAT ") + m_file.remote);
    if (!code)
        return false;
    if (*code == 211 || *code == 212 || *code == 213)
        mode = ListingFileMode(m_replyLines, m_file.remote);
    else if (NotImplemented(*code))
        m_modeQuery = TModeQuery::None;
    return true;
}

// Sends one command; nothing when its answer did not come, which leaves the session out of step.
std::optional<std::int32_t> TFtpClient::CommandAnswered(const QString &command)
{
    const std::int32_t code = Command(command);
    if (!m_lastResponse.isEmpty() && m_controlSocket->State() == TSocketState::Connected)
        return code;
    SetErrorFromReply();
    return std::nullopt;
}

// Gives the temporary file the mode of the file it replaces. A refusal is no failure: the new
// file is whole, only its mode is the server's default. False when no answer came.
bool TFtpClient::KeepMode(const QString &temporary, std::uint32_t mode)
{
    const std::optional<std::int32_t> code =
        CommandAnswered(QStringLiteral("SITE CHMOD ") + ChmodArgument(mode) + QLatin1Char(' ') + temporary);
    if (!code) {
        // A late answer would be taken for the next command's: the session is of no more use.
        if (m_controlSocket->State() != TSocketState::Closed)
            m_controlSocket->Close();
        return false;
    }
    if (*code / 100 != 2)
        Display(kModeNotKeptText + QStringLiteral(" (") + m_lastResponse + QLatin1Char(')'));
    return true;
}

// Makes each folder of the name, outermost first. A folder that exists already is refused like
// one that cannot be made (550); the STOR that follows tells which it was.
bool TFtpClient::MakeFolders(const QString &target)
{
    for (const QString &folder : FolderPrefixes(target)) {
        Command(QStringLiteral("MKD ") + folder);
        if (m_controlSocket->State() != TSocketState::Connected) {
            SetErrorFromReply();
            return false;
        }
    }
    return true;
}

// Renames the whole file from its temporary name over the real one. Some servers will not
// rename over an existing file: then the old one is removed first, which a DELE that fails
// shows was not the cause.
bool TFtpClient::RenameIntoPlace(const QString &temporary)
{
    if (Command(QStringLiteral("RNFR ") + temporary) != 350) {
        SetErrorFromReply();
        RemoveTemporary(temporary);
        return false;
    }
    const std::int32_t code = Command(QStringLiteral("RNTO ") + m_file.remote);
    if (code / 100 == 2)
        return true;
    const QString refusal = m_lastResponse;
    if (code / 100 == 5 && Command(QStringLiteral("DELE ") + m_file.remote) / 100 == 2) {
        if (Command(QStringLiteral("RNFR ") + temporary) == 350 &&
            Command(QStringLiteral("RNTO ") + m_file.remote) / 100 == 2)
            return true;
        // The old file is gone: the new one, whole, stays under the temporary name.
        Fail(QStringLiteral("The old %1 was removed, but the new file could not be renamed to it and stays as %2: %3")
                 .arg(PrintableText(m_file.remote), PrintableText(temporary), m_lastResponse));
        return false;
    }
    if (refusal.isEmpty())
        SetErrorFromReply();
    else
        SetReplyError(refusal);
    RemoveTemporary(temporary);
    return false;
}

// Removes what a failed upload left under the temporary name, over a fresh session when the
// failure ended this one. The file under the real name was never touched.
void TFtpClient::RemoveTemporary(const QString &temporary)
{
    if (!SessionOpen() && !Reconnect())
        return;
    Command(QStringLiteral("DELE ") + temporary);
}

// Logs in again after the control connection was dropped; the failure that dropped it stays the
// session's error.
bool TFtpClient::Reconnect()
{
    if (m_cancelled)
        return false;
    const QString error = m_sessionError;
    const TFailure failure = m_failure;
    m_loggedIn = false;
    if (m_controlSocket->State() != TSocketState::Closed)
        m_controlSocket->Close();
    const bool ok = Login() && ChangeHostDir();
    m_sessionError = error;
    m_errorMessage = error;
    m_failure = failure;
    return ok;
}

void TFtpClient::EndDataStep()
{
    if (m_controlSocket->Paused() && !m_dropControl)
        m_controlSocket->Resume();
    if (m_dataSocket->State() != TSocketState::Closed) {
        // Only a finished transfer ends in order; anything else is broken off, so the server
        // cannot take a cut-short file for a whole one.
        if (!DataStepOver())
            m_dataState = TDataState::Broken;
        m_dataSocket->Abort();
    }
    m_localFile.Reset();
    if (m_dropControl)
        m_controlSocket->Close();
}

void TFtpClient::ListenForData()
{
    // Bound to the address the control connection uses, not to every address: from any other
    // network this machine is on the port cannot be reached at all.
    sockaddr_storage local{};
    if (m_controlSocket->GetSockName(local) != 0)
        local = Ipv4Address(INADDR_ANY);
    SetAddressPort(local, 0);
    m_dataSocket->SetProto(QStringLiteral("tcp"));
    m_dataSocket->SetSocketAddress(local);
    m_dataSocket->OnSessionAvailable = nullptr;
    m_dataSocket->OnDataAvailable = nullptr;
    m_dataSocket->OnSessionClosed = nullptr;
    m_dataSocket->Listen();
    m_dataState = TDataState::Listening;
    AttachDataHandlers();
}

void TFtpClient::AttachDataHandlers()
{
    m_dataSocket->OnSessionAvailable = [this](QObject *s, std::uint16_t e) { DataSessionAvailable(s, e); };
    m_dataSocket->OnSessionClosed = [this](QObject *s, std::uint16_t e) { DataSessionClosed(s, e); };
    m_dataSocket->OnDataSent = [this](QObject *s, std::uint16_t e) { SendNextBlock(s, e); };
    m_dataSocket->OnDataAvailable = [this](QObject *, std::uint16_t) { DiscardIncoming(); };
}

bool TFtpClient::AnnouncePort()
{
    sockaddr_storage local{};
    m_dataSocket->GetSockName(local);
    const std::int32_t code = SendPort(AddressPort(local));
    if (code == 200)
        return true;
    if (code / 100 == 5)
        SetError(AdvisedMode(m_lastResponse));
    else
        SetErrorFromReply();
    return false;
}

// The server's refusal of PORT or EPRT, and what the reader can do about it.
QString TFtpClient::AdvisedMode(const QString &refusal) const
{
    const QString advice = m_modeAdvice == TModeAdvice::CommandLine
                               ? QStringLiteral("use --passive")
                               : QStringLiteral("tick \"Passive mode\" for this site");
    const QString end = refusal.endsWith(QLatin1Char('.')) ? QStringLiteral(" ") : QStringLiteral(". ");
    return refusal + end + QStringLiteral("The server refuses active mode (PORT/EPRT); ") + advice;
}

std::int32_t TFtpClient::SendPort(std::uint16_t port)
{
    // The server connects back to the address it sees on the control connection; on a host
    // with several addresses any other one may be unreachable from it or refused as foreign.
    sockaddr_storage control{};
    if (m_controlSocket->GetSockName(control) != 0)
        control = Ipv4Address(INADDR_ANY);
    // PORT holds IPv4 addresses only; RFC 2428's EPRT names the family.
    if (control.ss_family == AF_INET6)
        return Command(QStringLiteral("EPRT ") + EprtArgument(true, AddressText(control), port));
    const auto &v4 = reinterpret_cast<const sockaddr_in &>(control);
    return Command(QStringLiteral("PORT ") + PortArgument(ntohl(v4.sin_addr.s_addr), port));
}

// Passive mode: the server names a port and this side connects to it, before STOR, within
// TimeOut.
bool TFtpClient::ConnectForData()
{
    const std::optional<sockaddr_storage> target = RequestPassive();
    if (!target)
        return false;
    m_dataSocket->SetProto(QStringLiteral("tcp"));
    m_dataSocket->SetSocketAddress(*target);
    m_dataSocket->OnSessionAvailable = nullptr;
    m_dataSocket->OnDataAvailable = nullptr;
    m_dataSocket->OnSessionClosed = nullptr;
    m_dataState = TDataState::Listening;
    AttachDataHandlers();
    const QString refused = QStringLiteral("Can't open the data connection to %1 port %2 (%3)")
                                .arg(AddressText(*target))
                                .arg(AddressPort(*target))
                                .arg(m_passiveReply);
    try {
        m_dataSocket->Connect();
    } catch (const ESocketException &e) {
        Fail(refused + QStringLiteral(": ") + e.Message(),
             PassingConnectFailure(e.Number()) ? TFailure::Transient : TFailure::Permanent);
        return false;
    }
    if (const TCancelWatch watch(*this); !m_dataSocket->Wait(m_timeOut, TSocketState::Connected)) {
        if (!m_cancelled)
            Fail(refused, TFailure::Transient);
        return false;
    }
    // The end of the file must reach the server in order; the reset that a close of a
    // connecting socket gives would throw away what it has not read yet.
    m_dataSocket->EndInOrderOnClose();
    m_startTick = TickCount();
    m_dataState = TDataState::OpenedEarly;
    Display(QStringLiteral("Data: session opened"));
    return true;
}

// EPSV names only a port, on the server of the control connection. A server that refuses it,
// or answers it in a way that cannot be read, is asked with PASV for the rest of the session;
// PASV exists for IPv4 only.
std::optional<sockaddr_storage> TFtpClient::RequestPassive()
{
    sockaddr_storage peer = m_controlSocket->SocketAddress();
    const bool ipv6 = peer.ss_family == AF_INET6;
    if (m_passiveCommand == TPassiveCommand::Epsv || ipv6) {
        const std::int32_t code = Command(QStringLiteral("EPSV"));
        const std::optional<std::uint16_t> port = code == 229 ? ParseEpsvReply(m_lastResponse) : std::nullopt;
        if (port) {
            m_passiveReply = m_lastResponse;
            SetAddressPort(peer, *port);
            return peer;
        }
        if (ipv6 || !EpsvRefused(code)) {
            if (code == 229)
                Fail(QStringLiteral("Cannot read the data port in the server's reply: ") + m_lastResponse);
            else
                SetErrorFromReply();
            return std::nullopt;
        }
        m_passiveCommand = TPassiveCommand::Pasv;
    }
    return PasvTarget();
}

// A reply that came whole on a working connection and announces nothing more to come; a missing
// one leaves the connection out of step, and a preliminary one is followed by another reply.
bool TFtpClient::EpsvRefused(std::int32_t code) const
{
    return !m_lastResponse.isEmpty() && code / 100 != 1 && m_controlSocket->State() == TSocketState::Connected;
}

std::optional<sockaddr_storage> TFtpClient::PasvTarget()
{
    if (const std::int32_t code = Command(QStringLiteral("PASV")); code != 227) {
        if (code / 100 == 4 || code / 100 == 5)
            SetError(QStringLiteral("The server refuses passive mode (EPSV and PASV); untick \"Passive mode\""),
                     code / 100 == 4 ? TFailure::Transient : TFailure::Permanent);
        else
            SetErrorFromReply();
        return std::nullopt;
    }
    m_passiveReply = m_lastResponse;
    const std::optional<TPassiveAddress> announced = ParsePasvReply(m_lastResponse);
    if (!announced) {
        Fail(QStringLiteral("Cannot read the data address in the server's reply: ") + m_lastResponse);
        return std::nullopt;
    }
    // The file goes only to the server the user named: an announced address that is not the
    // control connection's (one inside the server's own network, or a stranger's) gives way to it.
    const QString named = AddressText(Ipv4Address(htonl(announced->address), announced->port));
    sockaddr_storage target = m_controlSocket->SocketAddress();
    SetAddressPort(target, announced->port);
    if (named != AddressText(target))
        Display(
            QStringLiteral("Data: the server announced %1, connecting to %2 instead").arg(named, AddressText(target)));
    return target;
}

bool TFtpClient::WaitForDataEnd()
{
    // Bounded: a server that never connects, or stops taking bytes, would otherwise hold the
    // program here for ever. The count of still time starts again whenever the server takes
    // bytes, also while the bytes already handed over drain from the platform's queue, so a
    // slow link is not taken for a dead one. The progress handler is asked several times a
    // tick, so a cancel acts at once whatever the server does.
    const std::int64_t limitMs = EffectiveTimeOut() * TickMs();
    TStillClock still;
    still.StillFor({m_takenBytes, static_cast<std::int64_t>(m_dataState)}, limitMs);
    RunEventsUntil(
        *this, std::min<std::int64_t>(TickMs(), kProgressPollMs), [this] { return DataStepOver(); },
        [&] {
            if (DataStepOver())
                return;
            MeasureTaken();
            if (still.StillFor({m_takenBytes, static_cast<std::int64_t>(m_dataState)}, limitMs)) {
                DataTimedOut();
                return;
            }
            TriggerProgress();
        });
    return m_dataState == TDataState::Done;
}

void TFtpClient::DataTimedOut()
{
    if (m_dataState == TDataState::Draining && m_takenBytes >= m_totalBytes) {
        // The server has every byte but keeps the connection open: end it here and let the
        // server's reply decide.
        m_dataState = TDataState::Done;
        m_dataSocket->Close();
        return;
    }
    const std::int32_t limit = EffectiveTimeOut();
    if (m_dataSocket->TlsState() == TWSocket::TTlsState::Handshaking) {
        FailData(QStringLiteral("The TLS handshake on the data connection did not finish within %1 seconds").arg(limit),
                 TFailure::Transient);
        return;
    }
    FailData(m_startTick ? QStringLiteral("The data connection stalled: nothing moved for %1 seconds").arg(limit)
                         : QStringLiteral("The server did not open the data connection within %1 seconds").arg(limit),
             TFailure::Transient);
}

bool TFtpClient::ConfirmStored()
{
    Display(QStringLiteral("Data Sent"));
    m_controlSocket->Resume();
    const std::int32_t code = GetResponse();
    // RFC 959 lets a server confirm a stored file with 250 as well as 226.
    if (code == 226 || code == 250)
        return true;
    SetErrorFromReply();
    m_dropControl = true;
    Display(QStringLiteral("Failed"));
    return false;
}

void TFtpClient::DataSessionAvailable(QObject *sender, std::uint16_t)
{
    UniqueFd accepted(m_dataSocket->Accept());
    // Anyone on the way to the port could connect first and be sent the file: only the server
    // of the control connection may, everyone else is shut out and the port stays open for it.
    const sockaddr_storage peer = m_dataSocket->SocketAddress();
    if (!SameHost(peer, m_controlSocket->SocketAddress())) {
        Display(QStringLiteral("Data: refused a connection from ") + AddressText(peer));
        return;
    }
    m_startTick = TickCount();
    const bool storSent = m_dataState == TDataState::AwaitingConnection;
    m_dataState = storSent ? TDataState::Sending : TDataState::OpenedEarly;
    Display(QStringLiteral("Data: session opened"));
    m_dataSocket->SetHSocket(std::move(accepted));
    if (storSent) {
        StartDataTls();
        SendNextBlock(sender, 0);
    }
}

void TFtpClient::StartSending()
{
    // A server may connect for data as soon as it has the PORT. Bytes sent, or a close, before
    // it has the STOR can be thrown away with that connection (or make the server drop it), so
    // the data, and the TLS handshake before it, wait for the STOR.
    if (m_dataState == TDataState::Listening) {
        m_dataState = TDataState::AwaitingConnection;
    } else if (m_dataState == TDataState::OpenedEarly) {
        m_dataState = TDataState::Sending;
        StartDataTls();
        if (m_dataSocket->State() == TSocketState::Connected)
            SendNextBlock(this, 0);
    }
}

// Hands the file to the data connection: every 1024-byte block has its progress event, which
// may cancel the upload, but the bytes go in chunks as large as the platform takes, several in
// one event-loop pass. Each pass asks before its first bytes go, so a cancel made between passes
// stops the upload before anything more leaves; the other blocks of a chunk are asked once the
// chunk went, so that their figures can count what the server took of the blocks before them.
void TFtpClient::SendNextBlock(QObject *, std::uint16_t)
{
    // OnDataSent stays attached after a transfer: a late write readiness must find nothing to do.
    const std::int64_t passEnd = m_totalBytes + kPassBytes;
    // Whether the figure was measured since the last bytes went.
    bool measured = false;
    while (SendingData()) {
        if (m_totalBytes == m_chunkEnd) {
            m_nextBlock = m_chunkEnd;
            if (!AskForBlock(!measured) || !ReadChunk())
                return;
        } else if (m_nextBlock < m_chunkEnd && !AskForBlock(true)) {
            return;
        }
        const std::int64_t offset = m_totalBytes - m_chunkStart;
        m_totalBytes +=
            m_dataSocket->SendSome(m_chunk.data() + offset, static_cast<std::int32_t>(m_chunkEnd - m_totalBytes));
        // A send the peer reset has ended the step already.
        if (!SendingData())
            return;
        MeasureTaken();
        measured = true;
        while (m_nextBlock < m_totalBytes) {
            if (!AskForBlock(false))
                return;
        }
        // The rest of the chunk goes, and the next pass begins, with the next OnDataSent.
        if (m_totalBytes < m_chunkEnd || !m_dataSocket->AllSent() || m_totalBytes >= passEnd)
            return;
    }
}

bool TFtpClient::SendingData() const
{
    return m_localFile.Valid() && m_dataState == TDataState::Sending &&
           m_dataSocket->State() == TSocketState::Connected;
}

// The progress event of the block at m_nextBlock: its figure is what the server took of the bytes
// before it, measured now or as measured last.
bool TFtpClient::AskForBlock(bool measure)
{
    if (measure)
        MeasureTaken();
    const std::int64_t before = m_nextBlock;
    m_nextBlock += kBlockSize;
    return AskWithFigure(std::min(m_takenBytes, before));
}

// Reads the next chunk of the file; at its end only the sending side ends: the server reads to
// the end of the data and closes. Closing the whole socket while bytes from the server wait
// unread would reset the connection, and a reset throws away what the platform still holds
// for the server.
bool TFtpClient::ReadChunk()
{
    if (m_chunk.empty())
        m_chunk.resize(kChunkSize);
    const ssize_t n = ::read(m_localFile.Get(), m_chunk.data(), m_chunk.size());
    const int error = errno;
    if (n > 0) {
        m_chunkStart = m_chunkEnd;
        m_chunkEnd += n;
        return true;
    }
    if (n == 0) {
        m_dataState = TDataState::Draining;
        m_dataSocket->Shutdown(1);
    } else {
        FailData(QStringLiteral("Error reading file, error %1").arg(error), TFailure::Permanent);
    }
    return false;
}

void TFtpClient::DiscardIncoming()
{
    // Nothing is expected from the server on an upload's data connection, but what comes is
    // read: unread bytes would turn the connection's close into a reset.
    // A pass takes a bounded amount: a server that floods the connection must not keep the
    // application's events (a Cancel among them) waiting.
    std::array<char, 4096> sink;
    for (std::size_t taken = 0; taken < kChunkSize;) {
        const std::int32_t got = m_dataSocket->Receive(sink.data(), static_cast<std::int32_t>(sink.size()));
        if (got <= 0)
            break;
        taken += static_cast<std::size_t>(got);
    }
}

void TFtpClient::MeasureTaken()
{
    if (m_dataSocket->State() != TSocketState::Connected)
        return;
    const std::int64_t unacknowledged = m_dataSocket->UnacknowledgedBytes();
    if (unacknowledged >= 0)
        m_takenBytes = std::max(m_takenBytes, m_totalBytes - unacknowledged);
}

bool TFtpClient::TriggerProgress()
{
    MeasureTaken();
    return AskWithFigure(m_takenBytes);
}

bool TFtpClient::AskWithFigure(std::int64_t figure)
{
    bool abort = false;
    if (OnProgress)
        OnProgress(this, figure, abort);
    if (abort) {
        Display(QStringLiteral("Abort requested"));
        if (!DataStepOver())
            FailData(QStringLiteral("Cancelled by the user"), TFailure::Permanent);
    }
    return !abort;
}

void TFtpClient::FailData(const QString &text, TFailure failure)
{
    Fail(text, failure);
    m_dataState = TDataState::Broken;
    // The server's reply to a broken transfer tells nothing more, and waiting for it would keep
    // a cancelled upload running.
    m_dropControl = true;
    m_dataSocket->Abort();
}

void TFtpClient::DataSessionClosed(QObject *, std::uint16_t)
{
    m_stopTick = TickCount();
    MeasureTaken();
    switch (m_dataState) {
    case TDataState::Draining:
        if (m_takenBytes >= m_totalBytes) {
            m_dataState = TDataState::Done;
            break;
        }
        [[fallthrough]];
    case TDataState::OpenedEarly:
    case TDataState::Sending:
        FailClosedEarly();
        break;
    case TDataState::Done:
    case TDataState::Broken:
        break;
    default:
        m_dataState = TDataState::Broken;
        break;
    }
    TriggerProgress();
    // Without a data connection in this transfer StartTick is a left-over: show no time at all.
    const std::int64_t elapsed = m_startTick ? static_cast<std::int64_t>(m_stopTick - *m_startTick) : 0;
    Display(SessionClosedLine(m_takenBytes, elapsed));
    m_dataSocket->Close();
}

// The server ended the data connection before it had taken every byte of the file, or its TLS
// failed and it was broken off.
void TFtpClient::FailClosedEarly()
{
    const QString tls = DataTlsError();
    const QString text = !tls.isEmpty() ? QStringLiteral("TLS on the data connection failed: ") + tls
                                        : QStringLiteral("The server closed the data connection after %1 of %2 bytes")
                                              .arg(m_takenBytes)
                                              .arg(std::max(m_localSize, m_totalBytes));
    if (const auto &problem = m_dataSocket->TlsCertificateProblem(); problem && !tls.isEmpty() && !m_certificateProblem)
        m_certificateProblem = problem;
    m_dataState = TDataState::Broken;
    if (!m_storAnswered) {
        // A server that refuses the STOR closes a data connection opened for it: the reply
        // that is due decides what the close means.
        m_closedEarly = text;
        return;
    }
    Fail(text, TFailure::Transient);
    m_dropControl = true;
}

void TFtpClient::SetError(const QString &text, TFailure failure)
{
    if (KeepError(text))
        m_failure = failure;
}

void TFtpClient::Fail(const QString &text, TFailure failure)
{
    SetError(text, failure);
    Display(text);
}

// RFC 959's 4xx replies say the command failed for the moment; 5xx ones say it fails for good.
void TFtpClient::SetReplyError(const QString &reply)
{
    const std::int32_t code = ReplyCode(reply);
    SetError(reply, code >= 400 && code < 500 ? TFailure::Transient : TFailure::Permanent);
}

void TFtpClient::SetErrorFromReply()
{
    if (!m_lastResponse.isEmpty())
        SetReplyError(m_lastResponse);
    else if (m_controlSocket->State() == TSocketState::Closed)
        SetError(QStringLiteral("The server closed the connection without a reply"), TFailure::Transient);
    else
        SetError(QStringLiteral("No reply from the server within %1 seconds").arg(EffectiveTimeOut()),
                 TFailure::Transient);
}

void TFtpClient::Abandon() noexcept
{
    m_loggedIn = false;
    m_localFile.Reset();
    // No display or progress handlers while failing: the sockets are simply let go.
    m_dataSocket->OnSessionClosed = nullptr;
    AbortQuietly(*m_dataSocket);
    CloseQuietly(*m_controlSocket);
}

} // namespace quelmark
