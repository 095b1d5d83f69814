#include "ftp/Ftpcli.h"

#include "base/Dispatch.h"
#include "base/Exception.h"
#include "ftp/FtpReplies.h"
#include "ftp/Wait.h"

#include <QCoreApplication>
#include <QFile>
#include <QScopeGuard>
#include <QTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace quelmark {

namespace {

const QString CrLf = QStringLiteral("\r\n");

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
    if (!CheckCommandTexts() || !ConnectControl())
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

bool TFtpClient::ConnectControl()
{
    try {
        m_controlSocket->SetProto(QStringLiteral("tcp"));
        m_controlSocket->SetPort(m_port);
        m_controlSocket->SetAddr(m_hostName);
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
        SetError(QStringLiteral("Can't connect to host '") + m_hostName + QLatin1Char('\''));
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
        Display(QStringLiteral("Can't QUIT: connection closed"));
        return true;
    }
    SendCommand(QStringLiteral("QUIT") + CrLf);
    const std::int32_t code = GetResponse();
    m_controlSocket->Close();
    return code == 221;
}

void TFtpClient::SendCommand(const QString &line)
{
    Display(QStringLiteral("> ") + line.left(line.size() - 2));
    DispatchPending();
    m_controlSocket->Send(line.toUtf8());
}

std::int32_t TFtpClient::GetResponse()
{
    // Returns false when the countdown cut the line short: a server that stays silent after
    // part of a line would otherwise hand back that same part to every further read, for ever.
    const auto readLine = [this] {
        m_lastResponse = m_controlSocket->ReadLine(m_timeOut);
        Display(QStringLiteral("< ") + m_lastResponse);
        return !m_controlSocket->LineMode();
    };
    const bool complete = readLine();
    // The lines inside a multi-line reply may have any form; stopping at the first one without
    // a '-' would leave the rest of the reply to be taken for the answer to the next command.
    const QString opening = m_lastResponse;
    if (complete && ReplyContinues(opening)) {
        while (readLine() && !ReplyEnds(opening, m_lastResponse)) {
        }
    }
    return ReplyCode(m_lastResponse);
}

// Ends the data step however Store leaves it, in one order: notifications of the control
// connection resumed, the data connection closed (a listening one still reports its empty
// statistics line), the local file closed, and last the control connection when a failure left
// it out of step. An exception that is already leaving Put is left to Put's own clean-up.
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
    if (m_dataSocket->State() != TSocketState::Closed)
        m_dataSocket->Close();
    m_file.Reset();
    if (m_dropControl)
        m_controlSocket->Close();
}

void TFtpClient::ListenForData()
{
    m_dataSocket->SetProto(QStringLiteral("tcp"));
    m_dataSocket->SetAddr(QStringLiteral("0.0.0.0"));
    m_dataSocket->SetPort(QStringLiteral("0"));
    m_dataSocket->OnSessionAvailable = nullptr;
    m_dataSocket->OnDataAvailable = nullptr;
    m_dataSocket->OnSessionClosed = nullptr;
    m_dataSocket->Listen();
    m_dataState = TDataState::Listening;
    m_dataSocket->OnSessionAvailable = [this](QObject *s, std::uint16_t e) { DataSessionAvailable(s, e); };
    m_dataSocket->OnSessionClosed = [this](QObject *s, std::uint16_t e) { DataSessionClosed(s, e); };
    m_dataSocket->OnDataSent = [this](QObject *s, std::uint16_t e) { SendNextBlock(s, e); };
}

bool TFtpClient::OpenLocalFile()
{
    m_file.Reset(::open(QFile::encodeName(m_localFileName).constData(), O_RDONLY | O_CLOEXEC));
    if (m_file.Valid())
        return true;
    SetError(QStringLiteral("Unable to open local file, error %1").arg(errno));
    Display(m_errorMessage);
    return false;
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
    // program here for ever. A tick without movement also gives OnProgress a chance to abort.
    DispatchScope scope;
    const std::int32_t limit = EffectiveTimeOut();
    std::int32_t idleTicks = 0;
    std::int64_t lastCount = m_totalBytes;
    TDataState lastState = m_dataState;
    QTimer ticker;
    ticker.setInterval(m_wait ? m_wait->Interval() : 1000);
    connect(&ticker, &QTimer::timeout, this, [&] {
        Guarded([&] {
            if (m_totalBytes != lastCount || m_dataState != lastState) {
                lastCount = m_totalBytes;
                lastState = m_dataState;
                idleTicks = 0;
            } else if (++idleTicks < limit && m_dataSocket->State() != TSocketState::Closed) {
                TriggerProgress();
            }
        });
    });
    ticker.start();
    while (m_dataSocket->State() != TSocketState::Closed && idleTicks < limit) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        scope.RethrowParked();
    }
    if (m_dataSocket->State() == TSocketState::Closed)
        return true;
    const bool opened = m_dataState == TDataState::OpenedEarly || m_dataState == TDataState::Sending;
    SetError(opened ? QStringLiteral("The data connection stalled: nothing moved for %1 ticks").arg(limit)
                    : QStringLiteral("The server did not open the data connection within %1 ticks").arg(limit));
    Display(m_errorMessage);
    m_dropControl = true;
    return false;
}

bool TFtpClient::ConfirmStored()
{
    Display(QStringLiteral("Data Sent"));
    m_controlSocket->Resume();
    if (GetResponse() != 226) {
        SetErrorFromReply();
        m_dropControl = true;
        Display(QStringLiteral("Failed"));
        return false;
    }
    return true;
}

void TFtpClient::DataSessionAvailable(QObject *sender, std::uint16_t)
{
    UniqueFd accepted(m_dataSocket->Accept());
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
    if (n > 0) {
        m_totalBytes += n;
        m_dataSocket->Send(m_block.data(), static_cast<std::int32_t>(n));
    } else if (n == 0) {
        m_dataSocket->Close();
    } else {
        Display(QStringLiteral("Error reading file"));
        m_dataSocket->Close();
    }
}

bool TFtpClient::TriggerProgress()
{
    bool abort = false;
    if (OnProgress)
        OnProgress(this, m_totalBytes, abort);
    if (abort) {
        Display(QStringLiteral("Abort requested"));
        m_dataSocket->Close();
    }
    return !abort;
}

void TFtpClient::DataSessionClosed(QObject *, std::uint16_t)
{
    m_stopTick = TickCount();
    const std::int64_t count = m_totalBytes;
    const bool opened = m_dataState == TDataState::OpenedEarly || m_dataState == TDataState::Sending;
    m_dataState = TDataState::Closed;
    TriggerProgress();
    // Without a data connection in this transfer StartTick is a left-over: show no time at all.
    const std::int64_t elapsed = opened ? static_cast<std::int64_t>(m_stopTick - m_startTick) : 0;
    Display(SessionClosedLine(count, elapsed));
    m_dataSocket->Close();
}

void TFtpClient::Display(const QString &text)
{
    if (OnDisplay) {
        QString copy = text;
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
        SetError(QStringLiteral("No reply from the server within %1 ticks").arg(EffectiveTimeOut()));
}

void TFtpClient::CleanUpAfterException() noexcept
{
    m_loggedIn = false;
    m_file.Reset();
    // No display or progress handlers while failing: the sockets are simply let go.
    m_dataSocket->OnSessionClosed = nullptr;
    CloseQuietly(*m_dataSocket);
    CloseQuietly(*m_controlSocket);
}

} // namespace quelmark
