#include "ftp/Ftpcli.h"

#include "base/Dispatch.h"
#include "base/Exception.h"
#include "ftp/FtpReplies.h"
#include "ftp/Wait.h"
#include "net/Printable.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quelmark {

namespace {

const QString CrLf = QStringLiteral("\r\n");

// Lines one reply may have; a server that sends more is not going to end it.
constexpr int kMaxReplyLines = 1000;
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

bool SameHost(const sockaddr_in &a, const sockaddr_in &b)
{
    return a.sin_family == b.sin_family && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

} // namespace

TFtpClient::TFtpClient(QWidget *parent)
    : QWidget(parent), m_controlSocket(new TWSocket(this)), m_dataSocket(new TWSocket(this))
{
    resize(32, 32);
    setVisible(false);
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
    m_wait = wait;
    m_controlSocket->SetWaitCtrl(wait);
    m_dataSocket->SetWaitCtrl(wait);
}

bool TFtpClient::Put()
{
    if (m_running) {
        // A timer handler dispatched inside one of our waits must not start a second session
        // on the same sockets. The running session keeps its own error text.
        m_errorMessage = QStringLiteral("Another transfer is running on this FTP client");
        return false;
    }
    m_running = true;
    m_quitAnswered = false;
    const auto done = qScopeGuard([this] {
        m_running = false;
        m_errorMessage = m_sessionError;
    });
    bool stored = false;
    try {
        stored = Store();
        if (m_endError)
            std::rethrow_exception(std::exchange(m_endError, nullptr));
        Finish();
    } catch (...) {
        CleanUpAfterException();
        SetError(ExceptionMessage(std::current_exception()));
        throw;
    }
    Display(stored ? QStringLiteral("Done") : QStringLiteral("Failed"));
    return stored;
}

bool TFtpClient::Login()
{
    if (m_loggedIn)
        return true;
    m_sessionError.clear();
    m_errorMessage.clear();
    if (!m_wait) {
        SetError(QStringLiteral("No wait object"));
        Display(m_errorMessage);
        return false;
    }
    if (!CheckCommandTexts() || !CheckLocalFile() || !ConnectControl())
        return false;
    Display(QStringLiteral("Connected for FTP"));
    if (GetResponse() != 220) {
        SetErrorFromReply();
        m_controlSocket->Close();
        return false;
    }
    SendCommand(QStringLiteral("USER ") + m_userName + CrLf);
    std::int32_t code = GetResponse();
    if (code == 331) {
        SendCommand(QStringLiteral("PASS ") + m_passWord + CrLf);
        code = GetResponse();
    }
    if (code == 230) {
        m_loggedIn = true;
        return true;
    }
    SetErrorFromReply();
    Quit();
    return false;
}

bool TFtpClient::CheckCommandTexts()
{
    // A line break inside a field would end the command early and let the rest be read by the
    // server as a command of its own.
    const std::pair<const QString *, const char *> fields[] = {
        {&m_userName, "user name"},
        {&m_passWord, "password"},
        {&m_hostDirName, "host directory"},
        {&m_hostFileName, "host file name"},
    };
    for (const auto &[text, what] : fields) {
        if (ContainsLineBreak(*text)) {
            SetError(QStringLiteral("The %1 holds a line break; nothing was sent").arg(QLatin1String(what)));
            Display(m_errorMessage);
            return false;
        }
    }
    return true;
}

bool TFtpClient::CheckLocalFile()
{
    // A FIFO would hold the program in open, a folder reads as an error, a device may never
    // end: only a regular file is sent. The data step checks the opened file once more.
    struct stat status {};
    if (::stat(QFile::encodeName(m_localFileName).constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        RefuseLocalFile();
        return false;
    }
    return true;
}

void TFtpClient::RefuseLocalFile()
{
    SetError(PrintableText(m_localFileName) + QStringLiteral(" is not a regular file"));
    Display(m_errorMessage);
}

bool TFtpClient::ConnectControl()
{
    try {
        m_controlSocket->SetProto(QStringLiteral("tcp"));
        m_controlSocket->SetPort(m_port);
        // A silent name server must not hold the program longer than any other wait.
        m_controlSocket->SetAddr(m_hostName, m_timeOut);
        m_controlSocket->OnDataAvailable = nullptr;
        m_controlSocket->Connect();
    } catch (const ESocketException &e) {
        SetError(e.Message());
        // A connect refused at once leaves a handle behind; closed, Quit sees a closed
        // connection instead of failing on a half-open one.
        if (m_controlSocket->State() != TSocketState::Closed)
            CloseQuietly(*m_controlSocket);
        return false;
    }
    if (!m_controlSocket->Wait(m_timeOut, TSocketState::Connected)) {
        SetError(QStringLiteral("Can't connect to host '") + PrintableText(m_hostName) + QLatin1Char('\''));
        Display(m_errorMessage);
        m_controlSocket->Close();
        return false;
    }
    return true;
}

bool TFtpClient::ChangeHostDir()
{
    if (m_hostDirName.isEmpty())
        return true;
    SendCommand(QStringLiteral("CWD ") + m_hostDirName + CrLf);
    const std::int32_t code = GetResponse();
    if (code == 250 || code == 257)
        return true;
    SetErrorFromReply();
    return false;
}

bool TFtpClient::SendType()
{
    SendCommand(QStringLiteral("TYPE ") + QLatin1Char(m_typeLetter) + CrLf);
    if (GetResponse() == 200)
        return true;
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
        // After a complete QUIT exchange a closed connection is the session's proper end.
        if (!m_quitAnswered)
            Display(QStringLiteral("Can't QUIT: connection closed"));
        return true;
    }
    SendCommand(QStringLiteral("QUIT") + CrLf);
    const std::int32_t code = GetResponse();
    m_quitAnswered = code != 0;
    m_controlSocket->Close();
    return code == 221;
}

void TFtpClient::SendCommand(const QString &line)
{
    Display(QStringLiteral("> ") + ShownCommand(line.left(line.size() - 2)));
    DispatchPending();
    m_controlSocket->Send(line.toUtf8());
}

std::int32_t TFtpClient::GetResponse()
{
    const bool complete = ReadReplyLine(m_timeOut);
    const QString opening = m_lastResponse;
    if (complete && ReplyContinues(opening) && m_controlSocket->State() != TSocketState::Closed)
        return ReadRestOfReply(opening);
    return ReplyCode(m_lastResponse);
}

bool TFtpClient::ReadReplyLine(std::int32_t ticks)
{
    m_lastResponse = PrintableBytes(m_controlSocket->ReadLineBytes(ticks));
    Display(QStringLiteral("< ") + m_lastResponse);
    return !m_controlSocket->LineMode();
}

// RFC 959: the lines inside a multi-line reply may have any form, an empty one too; only a line
// that begins with the opening code and a blank ends it. A server may never send that line, so
// the reply as a whole gets TimeOut ticks from its first line and at most kMaxReplyLines lines.
std::int32_t TFtpClient::ReadRestOfReply(const QString &opening)
{
    const std::int64_t tickMs = TickMs();
    const QDeadlineTimer deadline(EffectiveTimeOut() * tickMs);
    const QString tooSlow = QStringLiteral("The server's reply did not end within %1 seconds").arg(EffectiveTimeOut());
    for (int lines = 1;; ++lines) {
        if (lines >= kMaxReplyLines)
            return FailReply(QStringLiteral("The server's reply did not end within %1 lines").arg(kMaxReplyLines));
        const std::int64_t ticks = (deadline.remainingTime() + tickMs - 1) / tickMs;
        if (ticks <= 0)
            return FailReply(tooSlow);
        if (!ReadReplyLine(static_cast<std::int32_t>(ticks))) {
            // Cut short by the countdown. With a whole TimeOut to wait, the server fell silent
            // and the part it sent decides, as for any reply; with less, the reply's own time
            // ran out.
            if (ticks < EffectiveTimeOut())
                return FailReply(tooSlow);
            break;
        }
        if (ReplyEnds(opening, m_lastResponse) || m_controlSocket->State() == TSocketState::Closed)
            break;
    }
    return ReplyCode(m_lastResponse);
}

// The rest of such a reply would be read as the answers to the next commands: the control
// connection is of no further use.
std::int32_t TFtpClient::FailReply(const QString &text)
{
    SetError(text);
    Display(text);
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
    m_totalBytes = 0;
    m_takenBytes = 0;
    m_fileSize = 0;
    m_startTick.reset();
    m_dataState = TDataState::Idle;
    m_dropControl = false;
    if (!Login() || !ChangeHostDir() || !SendType())
        return false;
    TDataStepEnd end(*this);
    ListenForData();
    if (!OpenLocalFile())
        return false;
    if (!AnnouncePort()) {
        SetErrorFromReply();
        return false;
    }
    SendCommand(QStringLiteral("STOR ") + m_hostFileName + CrLf);
    StartSending();
    const std::int32_t code = GetResponse();
    // Nothing on the control connection is handled while the data moves; the closing reply
    // waits in the connection until it is read.
    m_controlSocket->Pause();
    // RFC 959 allows 125 as well: a server that connected for data at PORT time says the
    // connection is already open.
    if (code != 150 && code != 125) {
        SetErrorFromReply();
        return false;
    }
    Display(QStringLiteral("Sending data from file ") + m_localFileName);
    return WaitForDataEnd() && ConfirmStored();
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
    m_file.Reset();
    if (m_dropControl)
        m_controlSocket->Close();
}

void TFtpClient::ListenForData()
{
    // Bound to the address the control connection uses, not to every address: from any other
    // network this machine is on the port cannot be reached at all.
    sockaddr_in local{};
    socklen_t length = sizeof local;
    m_controlSocket->GetSockName(local, length);
    m_dataSocket->SetProto(QStringLiteral("tcp"));
    m_dataSocket->SetAddr(SocketAddressText(local));
    m_dataSocket->SetPort(QStringLiteral("0"));
    m_dataSocket->OnSessionAvailable = nullptr;
    m_dataSocket->OnDataAvailable = nullptr;
    m_dataSocket->OnSessionClosed = nullptr;
    m_dataSocket->Listen();
    m_dataState = TDataState::Listening;
    m_dataSocket->OnSessionAvailable = [this](QObject *s, std::uint16_t e) { DataSessionAvailable(s, e); };
    m_dataSocket->OnSessionClosed = [this](QObject *s, std::uint16_t e) { DataSessionClosed(s, e); };
    m_dataSocket->OnDataSent = [this](QObject *s, std::uint16_t e) { SendNextBlock(s, e); };
    m_dataSocket->OnDataAvailable = [this](QObject *, std::uint16_t) { DiscardIncoming(); };
}

bool TFtpClient::OpenLocalFile()
{
    // Without O_NONBLOCK a FIFO put in the file's place since the check would block here.
    m_file.Reset(::open(QFile::encodeName(m_localFileName).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!m_file.Valid()) {
        SetError(QStringLiteral("Unable to open local file, error %1").arg(errno));
        Display(m_errorMessage);
        return false;
    }
    struct stat status {};
    if (::fstat(m_file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        m_file.Reset();
        RefuseLocalFile();
        return false;
    }
    m_fileSize = status.st_size;
    return true;
}

bool TFtpClient::AnnouncePort()
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    m_dataSocket->GetSockName(local, length);
    return SendPort(ntohs(local.sin_port)) == 200;
}

std::int32_t TFtpClient::SendPort(std::uint16_t port)
{
    // The server connects back to the address it sees on the control connection; on a host
    // with several addresses any other one may be unreachable from it or refused as foreign.
    sockaddr_in control{};
    socklen_t length = sizeof control;
    std::uint32_t address = 0;
    if (m_controlSocket->GetSockName(control, length) == 0)
        address = ntohl(control.sin_addr.s_addr);
    SendCommand(QStringLiteral("PORT ") + PortArgument(address, port) + CrLf);
    return GetResponse();
}

bool TFtpClient::WaitForDataEnd()
{
    // Bounded: a server that never connects, or stops taking bytes, would otherwise hold the
    // program here for ever. The count of still time starts again whenever the server takes
    // bytes, also while the bytes already handed over drain from the platform's queue, so a
    // slow link is not taken for a dead one. The progress handler is asked several times a
    // tick, so a cancel acts at once whatever the server does.
    DispatchScope scope;
    const std::int64_t limitMs = EffectiveTimeOut() * TickMs();
    QElapsedTimer still;
    still.start();
    std::int64_t lastTaken = m_takenBytes;
    TDataState lastState = m_dataState;
    QTimer poll;
    poll.setInterval(static_cast<int>(std::min<std::int64_t>(TickMs(), kProgressPollMs)));
    connect(&poll, &QTimer::timeout, this, [&] {
        Guarded([&] {
            if (DataStepOver())
                return;
            MeasureTaken();
            if (m_takenBytes != lastTaken || m_dataState != lastState) {
                lastTaken = m_takenBytes;
                lastState = m_dataState;
                still.restart();
            } else if (still.elapsed() >= limitMs) {
                DataTimedOut();
                return;
            }
            TriggerProgress();
        });
    });
    poll.start();
    while (!DataStepOver()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        scope.RethrowParked();
    }
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
    FailData(m_startTick ? QStringLiteral("The data connection stalled: nothing moved for %1 seconds").arg(limit)
                         : QStringLiteral("The server did not open the data connection within %1 seconds").arg(limit));
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
    const sockaddr_in peer = m_dataSocket->SocketAddress();
    if (!SameHost(peer, m_controlSocket->SocketAddress())) {
        Display(QStringLiteral("Data: refused a connection from ") + SocketAddressText(peer));
        return;
    }
    m_startTick = TickCount();
    const bool storSent = m_dataState == TDataState::AwaitingConnection;
    m_dataState = storSent ? TDataState::Sending : TDataState::OpenedEarly;
    Display(QStringLiteral("Data: session opened"));
    m_dataSocket->SetHSocket(std::move(accepted));
    if (storSent)
        SendNextBlock(sender, 0);
}

void TFtpClient::StartSending()
{
    // A server may connect for data as soon as it has the PORT. Bytes sent, or a close, before
    // it has the STOR can be thrown away with that connection, so the data waits for the STOR.
    if (m_dataState == TDataState::Listening) {
        m_dataState = TDataState::AwaitingConnection;
    } else if (m_dataState == TDataState::OpenedEarly) {
        m_dataState = TDataState::Sending;
        if (m_dataSocket->State() == TSocketState::Connected)
            SendNextBlock(this, 0);
    }
}

void TFtpClient::SendNextBlock(QObject *, std::uint16_t)
{
    // OnDataSent stays attached after a transfer: a late write readiness must find nothing to do.
    if (!m_file.Valid() || m_dataState != TDataState::Sending || m_dataSocket->State() != TSocketState::Connected)
        return;
    if (!TriggerProgress())
        return;
    const ssize_t n = ::read(m_file.Get(), m_block.data(), m_block.size());
    const int error = errno;
    if (n > 0) {
        m_totalBytes += n;
        m_dataSocket->Send(m_block.data(), static_cast<std::int32_t>(n));
    } else if (n == 0) {
        // Only the sending side ends: the server reads to the end of the data and closes.
        // Closing the whole socket while bytes from the server wait unread would reset the
        // connection, and a reset throws away what the platform still holds for the server.
        m_dataState = TDataState::Draining;
        m_dataSocket->Shutdown(1);
    } else {
        FailData(QStringLiteral("Error reading file, error %1").arg(error));
    }
}

void TFtpClient::DiscardIncoming()
{
    // Nothing is expected from the server on an upload's data connection, but what comes is
    // read: unread bytes would turn the connection's close into a reset.
    std::array<char, 4096> sink;
    while (m_dataSocket->Receive(sink.data(), static_cast<std::int32_t>(sink.size())) > 0) {
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
    bool abort = false;
    if (OnProgress)
        OnProgress(this, m_takenBytes, abort);
    if (abort) {
        Display(QStringLiteral("Abort requested"));
        if (!DataStepOver())
            FailData(QStringLiteral("Cancelled by the user"));
    }
    return !abort;
}

void TFtpClient::FailData(const QString &text)
{
    SetError(text);
    Display(text);
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

// The server ended the data connection before it had taken every byte of the file.
void TFtpClient::FailClosedEarly()
{
    const QString text = QStringLiteral("The server closed the data connection after %1 of %2 bytes")
                             .arg(m_takenBytes)
                             .arg(std::max(m_fileSize, m_totalBytes));
    SetError(text);
    Display(text);
    m_dataState = TDataState::Broken;
    m_dropControl = true;
}

void TFtpClient::Display(const QString &text)
{
    if (OnDisplay) {
        // No byte from the server or from a field may act on the screen, the log or a terminal.
        QString copy = PrintableText(text);
        OnDisplay(this, copy);
    }
}

void TFtpClient::SetError(const QString &text)
{
    if (!m_sessionError.isEmpty())
        return;
    m_sessionError = text;
    m_errorMessage = text;
}

void TFtpClient::SetErrorFromReply()
{
    if (!m_lastResponse.isEmpty())
        SetError(m_lastResponse);
    else if (m_controlSocket->State() == TSocketState::Closed)
        SetError(QStringLiteral("The server closed the connection without a reply"));
    else
        SetError(QStringLiteral("No reply from the server within %1 seconds").arg(EffectiveTimeOut()));
}

void TFtpClient::CleanUpAfterException() noexcept
{
    m_loggedIn = false;
    m_file.Reset();
    // No display or progress handlers while failing: the sockets are simply let go.
    m_dataSocket->OnSessionClosed = nullptr;
    AbortQuietly(*m_dataSocket);
    CloseQuietly(*m_controlSocket);
}

} // namespace quelmark
