#include "net/WSocket.h"

#include "base/Printable.h"
#include "base/Wait.h"
#include "net/SocketErrors.h"
#include "net/UniqueFd.h"

#include <QCoreApplication>
#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace quelmark {

namespace {

bool g_libraryStarted = false;
std::int32_t g_socketCount = 0;
std::uint64_t g_resolveHostCalls = 0;

const QEvent::Type kNotificationEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Longest line the line reader keeps; the rest of a longer line up to its LF is dropped.
constexpr std::int32_t kMaxLineLength = 255;
// Bytes one pass of the line reader takes at most, and rounds of delivery one notification
// makes at most: a peer that floods the connection must leave the event loop its turns, so a
// Cancel or an end request acts at once.
constexpr std::int64_t kPassBytes = 64 * 1024;
constexpr int kMaxReadRounds = 16;
// Rounds of the read step in a row in which the handler took nothing before the step gives up;
// the bytes stay with the platform for the next receive.
constexpr int kMaxIdleReadRounds = 3;
// How often a countdown asks whether the resolver has finished.
constexpr int kLookupPollMs = 20;
// Received bytes a TLS session may hold unprocessed; more waits in the platform's buffer.
constexpr std::int64_t kMaxHeldCipher = 64 * 1024;
// The plaintext of one TLS record at most (RFC 8446, section 5.1).
constexpr std::int64_t kMaxRecordPlain = 16384;

constexpr std::int32_t kWouldBlock = 10035;
constexpr std::int32_t kInvalidArgument = 10022;
constexpr std::int32_t kNotSocket = 10038;
constexpr std::int32_t kConnReset = 10054;
constexpr std::int32_t kNotConnected = 10057;
constexpr std::int32_t kNoData = 11004;

void StartSocketLibrary()
{
    // Nothing to start on this platform; the mark is kept for the bookkeeping alone.
    g_libraryStarted = true;
}

std::int32_t LastSocketError()
{
    return SocketErrorFromErrno(errno);
}

// Blanks here are the space character only.
QString Trimmed(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

bool IsNumeric(const QString &trimmed)
{
    return !trimmed.isEmpty() && trimmed.at(0) >= QLatin1Char('0') && trimmed.at(0) <= QLatin1Char('9');
}

// Reads the leading run of digits; like the classic conversion it wraps instead of checking.
std::uint32_t DigitsValue(const QString &trimmed)
{
    std::uint32_t value = 0;
    for (const QChar c : trimmed) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        value = value * 10u + static_cast<std::uint32_t>(c.unicode() - '0');
    }
    return value;
}

QByteArray NameBytes(const QString &text, qsizetype maxLength)
{
    return text.left(maxLength).toLocal8Bit();
}

// A dotted address is the whole text or nothing: inet_pton takes exactly "a.b.c.d", where
// inet_aton would also take "a.b.c.d anything" and forms like "127.1".
bool ParseDotted(const QByteArray &name, std::uint32_t &address)
{
    in_addr dotted{};
    if (name.contains('\0') || ::inet_pton(AF_INET, name.constData(), &dotted) != 1)
        return false;
    address = dotted.s_addr;
    return true;
}

[[noreturn]] void CannotConvert(const QString &text)
{
    throw ESocketException(QStringLiteral("SetAddr: Cannot convert host address '%1'").arg(PrintableText(text)));
}

// Both families, each address once, in the order the resolver gave them.
std::vector<sockaddr_storage> StreamAddresses(const addrinfo *found)
{
    std::vector<sockaddr_storage> addresses;
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        if ((entry->ai_family != AF_INET && entry->ai_family != AF_INET6) ||
            entry->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        sockaddr_storage address{};
        std::memcpy(&address, entry->ai_addr, entry->ai_addrlen);
        addresses.push_back(address);
    }
    return addresses;
}

std::vector<std::uint32_t> Ipv4Addresses(const addrinfo *found)
{
    std::vector<std::uint32_t> addresses;
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET)
            addresses.push_back(reinterpret_cast<const sockaddr_in *>(entry->ai_addr)->sin_addr.s_addr);
    }
    return addresses;
}

// One look-up of a host name by the C library's asynchronous resolver (getaddrinfo_a). The
// library waits for the name server on a thread of its own; nothing of ours runs there, this
// side only asks whether the answer is in. A look-up still running when its owner goes cannot
// be called off (the library refuses to cancel a running request), so it is parked until the
// library has finished with it.
class TNameLookup {
public:
    explicit TNameLookup(const QByteArray &name) : m_request(std::make_unique<Request>())
    {
        ReapParked();
        m_request->name = name;
        // No AI_ADDRCONFIG: where only loopback is up the flag makes every look-up fail.
        m_request->hints.ai_family = AF_UNSPEC;
        m_request->hints.ai_socktype = SOCK_STREAM;
        m_request->control.ar_name = m_request->name.constData();
        m_request->control.ar_request = &m_request->hints;
        gaicb *list[] = {&m_request->control};
        m_started = ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) == 0;
    }
    ~TNameLookup()
    {
        if (!m_started)
            return;
        if (Running() && ::gai_cancel(&m_request->control) == EAI_NOTCANCELED)
            Parked().push_back(std::move(m_request));
        else
            Release(*m_request);
    }
    TNameLookup(const TNameLookup &) = delete;
    TNameLookup &operator=(const TNameLookup &) = delete;

    bool Running() const { return m_started && ::gai_error(&m_request->control) == EAI_INPROGRESS; }
    // The addresses found; empty while running and when the name does not resolve.
    std::vector<sockaddr_storage> Addresses() const
    {
        if (!m_started || ::gai_error(&m_request->control) != 0)
            return {};
        return StreamAddresses(m_request->control.ar_result);
    }

private:
    struct Request {
        QByteArray name;
        addrinfo hints{};
        gaicb control{};
    };

    static void Release(Request &request)
    {
        if (::gai_error(&request.control) == 0 && request.control.ar_result)
            ::freeaddrinfo(request.control.ar_result);
        request.control.ar_result = nullptr;
    }
    // Never destroyed: the library may still write into a parked request while the program ends.
    static std::vector<std::unique_ptr<Request>> &Parked()
    {
        static auto *parked = new std::vector<std::unique_ptr<Request>>;
        return *parked;
    }
    static void ReapParked()
    {
        std::erase_if(Parked(), [](const std::unique_ptr<Request> &request) {
            if (::gai_error(&request->control) == EAI_INPROGRESS)
                return false;
            Release(*request);
            return true;
        });
    }

    std::unique_ptr<Request> m_request;
    bool m_started = false;
};

} // namespace

struct TWSocket::Notification {
    std::int32_t handle;
    std::uint64_t generation;
    Kind kind;
    std::uint16_t error;
};

class TWSocket::NotificationEvent : public QEvent {
public:
    explicit NotificationEvent(const Notification &n) : QEvent(kNotificationEvent), notification(n) {}
    Notification notification;
};

// ---------------------------------------------------------------------------------------------
// Construction and the shared bookkeeping

TWSocket::TWSocket(QObject *owner) : QObject(owner)
{
    ResetSocket();
    ++g_socketCount;
    StartLibrary();
    WatchOwner();
}

TWSocket::~TWSocket()
{
    if (m_state != TSocketState::Closed)
        Guarded([this] { Close(); });
    if (m_hSocket != -1)
        ReleaseHandle();
    --g_socketCount;
    if (g_socketCount <= 0 && g_libraryStarted)
        g_libraryStarted = false;
}

bool TWSocket::LibraryStarted()
{
    return g_libraryStarted;
}

std::int32_t TWSocket::SocketCount()
{
    return g_socketCount;
}

void TWSocket::StartLibrary()
{
    if (!g_libraryStarted)
        StartSocketLibrary();
}

// Qt deletes owned children from the owner's ~QObject, after the owner's own destructors have
// run and after it emitted destroyed(). Noting that signal tells this socket that its owner is
// going away, so its closing reports nothing into an object that no longer exists.
void TWSocket::WatchOwner()
{
    QObject::disconnect(m_ownerWatch);
    m_ownerDestroying = false;
    if (QObject *owner = parent())
        m_ownerWatch = connect(owner, &QObject::destroyed, this, [this] { m_ownerDestroying = true; });
}

TWait *TWSocket::WaitCtrl() const
{
    return m_waitCtrl.data();
}

void TWSocket::SetWaitCtrl(TWait *waitCtrl)
{
    m_waitCtrl = waitCtrl;
}

void TWSocket::ResetSocket()
{
    if (m_hSocket != -1)
        ReleaseHandle();
    m_socketAddress = Ipv4Address(INADDR_ANY);
    m_resolved.clear();
    m_portAssigned = false;
    m_addrAssigned = false;
    m_protoAssigned = true;
    m_protocol = IPPROTO_TCP;
    m_protoText = QStringLiteral("tcp");
    m_state = TSocketState::Closed;
    m_awaitedState = TSocketState::InvalidState;
    m_allSent = true;
    m_lineMode = false;
    m_lineLength = 0;
    m_lineBytes = 0;
    m_lineTooLong = false;
    m_notificationsPaused = false;
    m_readCount = 0;
    m_closeReported = false;
}

void TWSocket::ChangeState(TSocketState newState)
{
    const TSocketState oldState = m_state;
    m_state = newState;
    if (OnChangeState && FiringAllowed())
        OnChangeState(this, oldState, newState);
    const bool awaitedEnds = newState == m_awaitedState ||
                             (m_awaitedState == TSocketState::Connected && newState == TSocketState::Closed) ||
                             (m_tlsAwaited && newState == TSocketState::Closed);
    if (awaitedEnds && m_waitCtrl)
        m_waitCtrl->Stop();
}

void TWSocket::SocketError(const QString &function, std::int32_t number)
{
    const QString message =
        QStringLiteral("Error %1 in function %2\r\n%3").arg(number).arg(function, SocketErrorDesc(number));
    if (number == kConnReset || number == kNotConnected) {
        if (m_hSocket != -1)
            ReleaseHandle();
        if (m_state != TSocketState::Closed)
            ChangeState(TSocketState::Closed);
    }
    throw ESocketException(message, number);
}

// ---------------------------------------------------------------------------------------------
// Port, protocol and address

// A port or protocol field: unless it holds text already, takes it and returns its number, as
// the digits give it or as lookUp finds the name in the platform's database (-1 for none). A name
// nothing knows fails with what and leaves the field unassigned.
std::optional<std::uint32_t> TWSocket::FieldNumber(const QString &text, QString &held, bool &assigned,
                                                   const QString &what,
                                                   const std::function<int(const QByteArray &)> &lookUp)
{
    if (assigned && text == held)
        return std::nullopt;
    held = text;
    assigned = true;
    const QString trimmed = Trimmed(text);
    if (IsNumeric(trimmed))
        return DigitsValue(trimmed);
    StartLibrary();
    const int number = trimmed.isEmpty() ? -1 : lookUp(NameBytes(trimmed, 31));
    if (number < 0) {
        assigned = false;
        SocketError(what.arg(trimmed), kNoData);
    }
    return static_cast<std::uint32_t>(number);
}

void TWSocket::SetPort(const QString &text)
{
    const auto port = FieldNumber(text, m_portText, m_portAssigned, QStringLiteral("SetPort: Cannot convert port '%1'"),
                                  [this](const QByteArray &name) {
                                      const QByteArray proto = NameBytes(Trimmed(m_protoText), 31);
                                      servent entry{};
                                      servent *found = nullptr;
                                      char scratch[1024];
                                      getservbyname_r(name.constData(), proto.isEmpty() ? nullptr : proto.constData(),
                                                      &entry, scratch, sizeof scratch, &found);
                                      return found ? int{ntohs(static_cast<std::uint16_t>(found->s_port))} : -1;
                                  });
    if (port)
        SetAddressPort(m_socketAddress, static_cast<std::uint16_t>(*port));
}

void TWSocket::SetProto(const QString &text)
{
    const auto protocol =
        FieldNumber(text, m_protoText, m_protoAssigned, QStringLiteral("SetProto: Cannot convert protocol '%1'"),
                    [](const QByteArray &name) {
                        protoent entry{};
                        protoent *found = nullptr;
                        char scratch[1024];
                        getprotobyname_r(name.constData(), &entry, scratch, sizeof scratch, &found);
                        return found ? found->p_proto : -1;
                    });
    if (protocol)
        m_protocol = static_cast<std::int32_t>(*protocol);
}

void TWSocket::SetAddr(const QString &text)
{
    if (m_addrAssigned && text == m_addrText)
        return;
    m_addrText = text;
    m_addrAssigned = false;
    const QByteArray name = NameBytes(Trimmed(text), 256);
    const std::optional<sockaddr_storage> ipv6 = name.contains(':') ? NumericAddress(name) : std::nullopt;
    if (ipv6) {
        ++g_resolveHostCalls;
        StoreAddress(*ipv6);
    } else {
        StoreAddress(Ipv4Address(ResolveHost(text)));
    }
    m_addrAssigned = true;
}

void TWSocket::SetAddr(const QString &text, std::int32_t count)
{
    if (m_addrAssigned && text == m_addrText)
        return;
    m_addrText = text;
    m_addrAssigned = false;
    const std::vector<sockaddr_storage> addresses = ResolveHostWithin(text, count);
    StoreAddress(addresses.front());
    m_resolved = addresses;
    m_addrAssigned = true;
}

// The address part changes, the port converted from Port stays.
void TWSocket::StoreAddress(const sockaddr_storage &address)
{
    const std::uint16_t port = AddressPort(m_socketAddress);
    m_socketAddress = address;
    SetAddressPort(m_socketAddress, port);
    m_resolved = {address};
}

void TWSocket::SetSocketAddress(const sockaddr_storage &address)
{
    m_socketAddress = address;
    m_resolved = {address};
    m_addrText = AddressText(address);
    m_portText = QString::number(AddressPort(address));
    m_addrAssigned = true;
    m_portAssigned = true;
}

std::vector<sockaddr_storage> TWSocket::ResolveHostWithin(const QString &text, std::int32_t count)
{
    ++g_resolveHostCalls;
    StartLibrary();
    const QByteArray name = NameBytes(Trimmed(text), 256);
    if (const std::optional<sockaddr_storage> numeric = NumericAddress(name))
        return {*numeric};
    if (name.isEmpty() || name.contains('\0'))
        CannotConvert(text);
    if (!m_waitCtrl)
        SocketError(QStringLiteral("TWSocket.Wait"), kNoData);
    TNameLookup lookup(name);
    if (lookup.Running()) {
        QTimer poll;
        poll.setInterval(kLookupPollMs);
        connect(&poll, &QTimer::timeout, this, [this, &lookup] {
            if (!lookup.Running() && m_waitCtrl)
                m_waitCtrl->Stop();
        });
        poll.start();
        RunCountdown(count);
    }
    if (lookup.Running()) {
        const int ticks = m_waitCtrl ? m_waitCtrl->StartCount() : count;
        throw ESocketException(QStringLiteral("SetAddr: Host name '%1' not resolved within %2 seconds")
                                   .arg(PrintableText(text))
                                   .arg(ticks));
    }
    const std::vector<sockaddr_storage> addresses = lookup.Addresses();
    if (addresses.empty())
        CannotConvert(text);
    return OrderForConnecting(addresses, HasGlobalIpv6Route());
}

// ---------------------------------------------------------------------------------------------
// Connecting, listening, accepting, adopting

void TWSocket::SetOption(int option, const void *value, socklen_t length, const char *function)
{
    if (::setsockopt(m_hSocket, SOL_SOCKET, option, value, length) != 0)
        SocketError(QLatin1String(function), LastSocketError());
}

void TWSocket::Connect()
{
    if (m_hSocket != -1 && m_state != TSocketState::Closed)
        throw ESocketException(QStringLiteral("Connect: Socket already in use"));
    if (!m_portAssigned)
        throw ESocketException(QStringLiteral("Connect: No Port Specified"));
    if (!m_addrAssigned)
        throw ESocketException(QStringLiteral("Connect: No IP Address Specified"));
    if (!m_protoAssigned)
        throw ESocketException(QStringLiteral("Connect: No Protocol Specified"));

    const int fd = ::socket(m_socketAddress.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, m_protocol);
    if (fd < 0)
        SocketError(QStringLiteral("Connect (socket)"), LastSocketError());
    m_hSocket = fd;
    ++m_generation;
    ChangeState(TSocketState::Opened);

    // Linger 0: a close discards what is unsent and resets the connection at once.
    const linger noLinger{1, 0};
    const int on = 1;
    SetOption(SO_LINGER, &noLinger, sizeof noLinger, "setsockopt(SO_LINGER)");
    SetOption(SO_KEEPALIVE, &on, sizeof on, "setsockopt(SO_KEEPALIVE)");
    SetOption(SO_REUSEADDR, &on, sizeof on, "setsockopt(SO_REUSEADDR)");
    m_connectPending = true;
    Register(KindRead | KindWrite | KindConnect | KindClose);
    const auto *address = reinterpret_cast<const sockaddr *>(&m_socketAddress);
    if (::connect(fd, address, AddressLength(m_socketAddress)) != 0 && errno != EINPROGRESS) {
        const std::int32_t number = LastSocketError();
        m_connectPending = false;
        if (number != kWouldBlock) {
            Register(0);
            SocketError(QStringLiteral("Connect"), number);
        }
    }
    ChangeState(TSocketState::Connecting);
}

std::int32_t TWSocket::Listen()
{
    if (!m_portAssigned)
        SocketError(QStringLiteral("listen: port not assigned"), kInvalidArgument);
    if (!m_protoAssigned)
        SocketError(QStringLiteral("listen: protocol not assigned"), kInvalidArgument);
    if (!m_addrAssigned)
        SocketError(QStringLiteral("listen: address not assigned"), kInvalidArgument);

    // A handle still held would be lost once replaced.
    if (m_hSocket != -1)
        ReleaseHandle();
    // The new handle belongs to this call until the bind succeeds: a failed bind closes it.
    UniqueFd fd(::socket(m_socketAddress.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, m_protocol));
    if (fd.Get() < 0)
        SocketError(QStringLiteral("socket"), LastSocketError());
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr *>(&m_socketAddress), AddressLength(m_socketAddress)) != 0)
        SocketError(QStringLiteral("Bind"), LastSocketError());
    m_hSocket = fd.Release();
    ++m_generation;
    ChangeState(TSocketState::Bound);

    if (::listen(m_hSocket, 5) != 0) {
        const std::int32_t number = LastSocketError();
        ReleaseHandle();
        ChangeState(TSocketState::Closed);
        SocketError(QStringLiteral("Listen"), number);
    }
    m_listener = true;
    ChangeState(TSocketState::Listening);
    Register(KindRead | KindWrite | KindAccept | KindClose);
    return 0;
}

std::int32_t TWSocket::Accept()
{
    if (m_state != TSocketState::Listening)
        SocketError(QStringLiteral("not a listening socket"), kInvalidArgument);
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(m_hSocket, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const std::int32_t number = LastSocketError();
    // Taking a connection re-enables the report of the next one.
    ArmRead();
    if (fd < 0)
        SocketError(QStringLiteral("Accept"), number);
    m_socketAddress = peer;
    m_acceptedHandle = fd;
    return fd;
}

void TWSocket::SetHSocket(std::int32_t handle)
{
    PrepareAdoption(handle);
    AdoptHandle(handle);
}

void TWSocket::SetHSocket(UniqueFd handle)
{
    PrepareAdoption(handle.Get());
    AdoptHandle(handle.Release());
}

void TWSocket::PrepareAdoption(std::int32_t handle)
{
    if (handle == 0 || handle < 0)
        SocketError(QStringLiteral("Dup"), kInvalidArgument);
    if (m_state != TSocketState::Closed) {
        const std::int32_t failure = ReleaseHandle();
        if (failure != 0)
            SocketError(QStringLiteral("Dup (closesocket)"), failure);
        ChangeState(TSocketState::Closed);
    }
}

// From here on the handle is this socket's, whatever fails.
void TWSocket::AdoptHandle(std::int32_t handle)
{
    m_hSocket = handle;
    ++m_generation;
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0 || ::fcntl(handle, F_SETFL, flags | O_NONBLOCK) != 0)
        SocketError(QStringLiteral("WSAAsyncSelect"), LastSocketError());
    Register(KindRead | KindWrite | KindConnect | KindClose);
    ChangeState(TSocketState::Connected);
}

// ---------------------------------------------------------------------------------------------
// Closing

// Closes the handle and forgets everything tied to it: its notifiers, the notifications still
// queued for it, and the unsent bytes, which must never reach the next connection. Returns 0 or
// the error number of a failed close; the descriptor is released either way on this platform.
std::int32_t TWSocket::ReleaseHandle()
{
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_registered = 0;
    ++m_generation;
    m_connectPending = false;
    m_listener = false;
    m_closePosted = false;
    m_finQueued = false;
    m_sendQueue.clear();
    m_tls.reset();
    m_tlsState = TTlsState::Off;
    m_tlsEndWanted = false;
    m_recordFill = 0;
    const int fd = std::exchange(m_hSocket, -1);
    return ::close(fd) == 0 ? 0 : LastSocketError();
}

void TWSocket::Close()
{
    CloseHandle(true);
}

void TWSocket::Abort()
{
    if (m_hSocket != -1 && m_state != TSocketState::Closed) {
        // Linger 0: the close resets the connection instead of ending it in order.
        const linger reset{1, 0};
        ::setsockopt(m_hSocket, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    CloseHandle(false);
}

void TWSocket::EndInOrderOnClose()
{
    if (m_hSocket == -1)
        return;
    const linger inOrder{0, 0};
    ::setsockopt(m_hSocket, SOL_SOCKET, SO_LINGER, &inOrder, sizeof inOrder);
}

void TWSocket::CloseHandle(bool orderly)
{
    if (m_hSocket == -1) {
        if (m_state != TSocketState::Closed) {
            ChangeState(TSocketState::Closed);
            ResetSocket();
        }
        return;
    }
    if (m_state == TSocketState::Closed)
        return;
    if (orderly) {
        SendCloseNotify();
        PlatformShutdown(2);
    }
    const std::int32_t failure = ReleaseHandle();
    if (failure != 0) {
        m_lastError = failure;
        SocketError(QStringLiteral("Disconnect (closesocket)"), failure);
    }
    ChangeState(TSocketState::Closed);
    if (FiringAllowed() && OnSessionClosed && !m_closeReported) {
        m_closeReported = true;
        try {
            OnSessionClosed(this, 0);
        } catch (...) {
            ResetSocket();
            throw;
        }
    }
    ResetSocket();
}

void TWSocket::Shutdown(int how)
{
    if (m_hSocket == -1)
        return;
    if (how != 0 && m_tls) {
        m_tlsEndWanted = true;
        m_tlsEndHow = how;
        SendTlsRecords();
        return;
    }
    PlatformShutdown(how);
}

void TWSocket::PlatformShutdown(int how)
{
    if (m_hSocket == -1)
        return;
    const int mode = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(m_hSocket, mode) == 0 && how != 0)
        m_finQueued = true;
}

void TWSocket::Pause()
{
    m_notificationsPaused = true;
    // Whatever is queued for the handle now is ignored, also after Resume.
    ++m_generation;
    Register(0);
}

void TWSocket::Resume()
{
    m_notificationsPaused = false;
    Register(KindRead | KindWrite | KindConnect | KindClose);
}

int TWSocket::GetSockName(sockaddr_in &name, socklen_t &length) const
{
    return ::getsockname(m_hSocket, reinterpret_cast<sockaddr *>(&name), &length);
}

int TWSocket::GetSockName(sockaddr_storage &name) const
{
    socklen_t length = sizeof name;
    return ::getsockname(m_hSocket, reinterpret_cast<sockaddr *>(&name), &length);
}

// ---------------------------------------------------------------------------------------------
// Sending

void TWSocket::Send(const void *bytes, std::int32_t count)
{
    if (m_state != TSocketState::Connected)
        SocketError(QStringLiteral("Send"), kNotConnected);
    if (count <= 0)
        return;
    m_allSent = false;
    m_plainHanded += static_cast<std::uint64_t>(count);
    QueueBytes(static_cast<const char *>(bytes), count);
    TryToSend();
    // OnDataSent comes from the event loop, never from within Send.
    if (m_allSent)
        Post(KindWrite, 0);
}

void TWSocket::Send(const QByteArray &bytes)
{
    Send(bytes.constData(), static_cast<std::int32_t>(bytes.size()));
}

std::int32_t TWSocket::SendSome(const char *bytes, std::int32_t count)
{
    if (m_state != TSocketState::Connected)
        SocketError(QStringLiteral("Send"), kNotConnected);
    if (count <= 0)
        return 0;
    const bool queued = std::any_of(m_sendQueue.begin(), m_sendQueue.end(),
                                    [](const std::unique_ptr<TBuffer> &block) { return block->Peek().count > 0; });
    // Queued bytes go first, and TLS encrypts from the queue.
    if (m_tls || queued) {
        Send(bytes, count);
        return count;
    }
    const IoResult sent = PlatformSend(bytes, count);
    if (sent.bytes < 0) {
        SendFailed(sent.error);
        return 0;
    }
    if (sent.bytes < count) {
        // The queue stays empty, so the report of room to come is OnDataSent.
        ArmWrite();
        return static_cast<std::int32_t>(sent.bytes);
    }
    Post(KindWrite, 0);
    return count;
}

void TWSocket::QueueBytes(const char *bytes, std::int32_t count)
{
    if (m_sendQueue.empty())
        m_sendQueue.push_back(std::make_unique<TBuffer>());
    while (count > 0) {
        const std::int32_t stored = m_sendQueue.back()->Write(bytes, count);
        bytes += stored;
        count -= stored;
        if (count > 0)
            m_sendQueue.push_back(std::make_unique<TBuffer>());
    }
}

void TWSocket::TryToSend()
{
    if (m_hSocket == -1)
        return;
    if (m_tls) {
        SendTlsRecords();
        return;
    }
    if (m_sendQueue.empty())
        return;
    while (SendFirstBlock()) {
    }
}

// Offers the first block's unsent bytes in one call; true when the next block may follow.
bool TWSocket::SendFirstBlock()
{
    TBuffer &block = *m_sendQueue.front();
    const TBuffer::Span unsent = block.Peek();
    if (unsent.count == 0) {
        if (m_sendQueue.size() > 1) {
            m_sendQueue.pop_front();
            return true;
        }
        m_allSent = true;
        return false;
    }
    const IoResult sent = PlatformSend(unsent.start, unsent.count);
    if (sent.bytes == 0)
        return false;
    if (sent.bytes < 0) {
        SendFailed(sent.error);
        return false;
    }
    block.Remove(static_cast<std::int32_t>(sent.bytes));
    if (sent.bytes < unsent.count) {
        // The platform's buffer is full: the rest goes once it reports room again.
        ArmWrite();
        return false;
    }
    return true;
}

void TWSocket::SendFailed(std::int32_t error)
{
    if (error == kWouldBlock)
        ArmWrite();
    else if (error == kInvalidArgument || error == kNotSocket || error == kConnReset || error == kNotConnected)
        Close();
    else
        SocketError(QStringLiteral("TryToSend failed"), error);
}

std::int64_t TWSocket::UnacknowledgedBytes() const
{
    std::int64_t count = 0;
    for (const auto &block : m_sendQueue)
        count += block->Peek().count;
    if (m_hSocket == -1)
        return count;
    int platform = 0;
    if (::ioctl(m_hSocket, SIOCOUTQ, &platform) != 0)
        return -1;
    // The end of the sending side takes one place in the platform's count until acknowledged.
    if (m_finQueued && platform > 0)
        --platform;
    if (!m_tls)
        return count + platform;
    return count + m_recordFill + m_tls->PlainWritten() - m_tls->PlainCarriedBy(m_tls->CipherTaken() - platform);
}

std::vector<std::int32_t> TWSocket::QueuedBlockSizes() const
{
    std::vector<std::int32_t> sizes;
    for (const auto &block : m_sendQueue)
        sizes.push_back(block->Peek().count);
    return sizes;
}

TWSocket::IoResult TWSocket::PlatformSend(const char *bytes, std::int64_t count)
{
    const ssize_t n = ::send(m_hSocket, bytes, static_cast<std::size_t>(count), MSG_NOSIGNAL);
    if (n < 0)
        return {-1, LastSocketError()};
    return {n, 0};
}

// ---------------------------------------------------------------------------------------------
// Receiving and line reading

TWSocket::IoResult TWSocket::PlatformReceive(char *buffer, std::int64_t count, bool peek)
{
    const int flags = MSG_DONTWAIT | (peek ? MSG_PEEK : 0);
    const ssize_t n = ::recv(m_hSocket, buffer, static_cast<std::size_t>(count), flags);
    if (n < 0)
        return {-1, LastSocketError()};
    return {n, 0};
}

std::int32_t TWSocket::Receive(char *buffer, std::int32_t count)
{
    if (m_hSocket == -1) {
        m_lastError = kNotConnected;
        return -1;
    }
    if (count <= 0)
        return 0;
    const IoResult received = StreamReceive(buffer, count, false);
    // Like the platform this stands in for, a receive re-enables the report of further data.
    ArmRead();
    if (received.bytes < 0) {
        m_lastError = received.error;
        return -1;
    }
    return static_cast<std::int32_t>(received.bytes);
}

bool TWSocket::BytesWaiting(std::int32_t &count) const
{
    int waiting = 0;
    if (::ioctl(m_hSocket, FIONREAD, &waiting) != 0)
        return false;
    count = waiting;
    return true;
}

// What the connection's user can read at once: the platform's count, or under TLS the decrypted
// bytes that what has arrived holds.
bool TWSocket::StreamWaiting(std::int32_t &count)
{
    if (!m_tls)
        return BytesWaiting(count);
    count = 0;
    if (m_tlsState == TTlsState::On) {
        PullCipher();
        if (m_tls)
            count = static_cast<std::int32_t>(std::min<std::int64_t>(m_tls->PlainWaiting(), INT32_MAX));
    }
    return true;
}

// The connection's bytes as its user sees them: as they came, or decrypted under TLS.
TWSocket::IoResult TWSocket::StreamReceive(char *buffer, std::int64_t count, bool peek)
{
    if (!m_tls)
        return PlatformReceive(buffer, count, peek);
    if (m_tlsState != TTlsState::On)
        return {-1, kWouldBlock};
    PullCipher();
    const TTlsSession::TReadResult read = m_tls->ReadPlain(buffer, count, peek);
    // Reading may have produced an answer for the server; a write report sends it.
    if (!m_tls->PendingCipher().isEmpty())
        ArmWrite();
    switch (read.kind) {
    case TTlsSession::TRead::Bytes:
        return {read.bytes, 0};
    case TTlsSession::TRead::End:
        return {0, 0};
    case TTlsSession::TRead::Again:
        return {-1, kWouldBlock};
    case TTlsSession::TRead::Failed:
        break;
    }
    if (m_tlsError.isEmpty())
        m_tlsError = m_tls->Error();
    return {-1, kConnReset};
}

QString TWSocket::ReadLine(std::int32_t count)
{
    return QString::fromLocal8Bit(ReadLineBytes(count));
}

QByteArray TWSocket::ReadLineBytes(std::int32_t count)
{
    if (!m_lineMode) {
        m_lineBuffer.clear();
        m_lineLength = 0;
        m_lineBytes = 0;
        m_lineTooLong = false;
        m_lineMode = true;
    }
    LineCollect();
    if (m_lineMode) {
        if (!m_waitCtrl)
            SocketError(QStringLiteral("TWSocket.Wait"), kNoData);
        RunCountdown(count);
    }
    return m_lineBuffer;
}

void TWSocket::EndLine()
{
    m_lineMode = false;
    if (m_waitCtrl)
        m_waitCtrl->Stop();
}

// Takes what waits in as few receives as the platform allows, yet never a byte beyond the LF:
// a peek shows the waiting bytes, and only those up to the LF are taken, so the next line stays
// with the platform as if the bytes had been taken one at a time. One call takes kPassBytes at
// most; the next read notification goes on with the rest.
void TWSocket::LineCollect()
{
    for (std::int64_t taken = 0; taken < kPassBytes;) {
        if (m_hSocket == -1) {
            EndLine();
            return;
        }
        if (m_state != TSocketState::Connected)
            return;
        std::int32_t waiting = 0;
        if (!StreamWaiting(waiting)) {
            m_lineMode = false;
            SocketError(QStringLiteral("ioctlSocket"), LastSocketError());
        }
        if (waiting == 0)
            return;
        char chunk[kMaxLineLength + 2];
        IoResult received = StreamReceive(chunk, std::min<std::int64_t>(waiting, sizeof chunk), true);
        if (received.bytes > 0) {
            const void *lf = std::memchr(chunk, '\n', static_cast<std::size_t>(received.bytes));
            const std::int64_t wanted = lf ? static_cast<const char *>(lf) - chunk + 1 : received.bytes;
            received = StreamReceive(chunk, wanted, false);
        }
        ArmRead();
        if (received.bytes > 0) {
            taken += received.bytes;
            for (std::int64_t i = 0; i < received.bytes; ++i) {
                ++m_readCount;
                if (LineByte(chunk[i])) {
                    EndLine();
                    return;
                }
            }
        } else if (received.bytes == 0 || received.error == kConnReset) {
            EndLine();
            Close();
            return;
        } else if (received.error != kWouldBlock) {
            SocketError(QStringLiteral("ReadLine"), received.error);
        }
    }
}

// Adds one byte to the line; true when it ends the line, or makes it longer than a line may be.
// CR is dropped wherever it occurs.
bool TWSocket::LineByte(char byte)
{
    if (byte == '\n')
        return true;
    if (++m_lineBytes > kMaxLineBytes) {
        m_lineTooLong = true;
        return true;
    }
    if (byte != '\r' && m_lineLength < kMaxLineLength) {
        m_lineBuffer.append(byte);
        ++m_lineLength;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Waiting

void TWSocket::RunCountdown(std::int32_t count)
{
    m_waitCtrl->SetCaption(QString::number(count));
    m_waitCtrl->Execute();
}

bool TWSocket::Wait(std::int32_t count, TSocketState state)
{
    if (m_state == state)
        return true;
    m_awaitedState = state;
    struct Forget {
        TSocketState &awaited;
        ~Forget() { awaited = TSocketState::InvalidState; }
    } forget{m_awaitedState};
    if (!m_waitCtrl)
        SocketError(QStringLiteral("TWSocket.Wait"), kNoData);
    RunCountdown(count);
    return m_state == state;
}

// ---------------------------------------------------------------------------------------------
// Notifications

// Registering replaces the set of reported kinds; the empty set stops them all. As on the
// platform this stands in for, a registration reports write readiness once more.
void TWSocket::Register(unsigned kinds)
{
    m_registered = kinds;
    m_closePosted = false;
    if (kinds == 0 || m_hSocket == -1) {
        m_readNotifier.reset();
        m_writeNotifier.reset();
        return;
    }
    if (m_readNotifier && m_readNotifier->socket() != m_hSocket) {
        m_readNotifier.reset();
        m_writeNotifier.reset();
    }
    if (!m_readNotifier) {
        m_readNotifier = std::make_unique<QSocketNotifier>(m_hSocket, QSocketNotifier::Read);
        connect(m_readNotifier.get(), &QSocketNotifier::activated, this, [this] { Guarded([this] { ReadReady(); }); });
        m_writeNotifier = std::make_unique<QSocketNotifier>(m_hSocket, QSocketNotifier::Write);
        connect(m_writeNotifier.get(), &QSocketNotifier::activated, this,
                [this] { Guarded([this] { WriteReady(); }); });
    }
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    ArmRead();
    ArmWrite();
}

// The read notifier stays off from the moment it reports until the socket next takes bytes (or
// a connection): readiness is level-triggered here, and unread bytes must not flood the queue.
void TWSocket::ArmRead()
{
    const bool wanted = m_registered & (KindRead | KindAccept | KindClose);
    if (m_readNotifier && wanted && !m_connectPending && !m_closePosted && !m_readNotifier->isEnabled())
        m_readNotifier->setEnabled(true);
}

// The write notifier is on only while a report is wanted: once after a connection is made or
// adopted, and after a send that the platform could not take whole.
void TWSocket::ArmWrite()
{
    const bool wanted = m_registered & (KindWrite | KindConnect);
    if (m_writeNotifier && wanted && !m_listener && !m_writeNotifier->isEnabled())
        m_writeNotifier->setEnabled(true);
}

void TWSocket::ReadReady()
{
    m_readNotifier->setEnabled(false);
    if (m_listener) {
        if (m_registered & KindAccept)
            Post(KindAccept, 0);
        return;
    }
    // A readable stream socket has bytes, or its peer closed or reset it: a peek tells which.
    char probe = 0;
    const IoResult peeked = PlatformReceive(&probe, 1, true);
    if (peeked.bytes > 0) {
        Post(KindRead, 0);
    } else if (peeked.bytes < 0 && peeked.error == kWouldBlock) {
        ArmRead();
    } else {
        m_closePosted = true;
        Post(KindClose, peeked.bytes == 0 ? 0 : peeked.error);
    }
}

// A pending connection completes with write readiness; SO_ERROR says how it went.
void TWSocket::WriteReady()
{
    m_writeNotifier->setEnabled(false);
    if (!m_connectPending) {
        Post(KindWrite, 0);
        return;
    }
    m_connectPending = false;
    int failure = 0;
    socklen_t length = sizeof failure;
    if (::getsockopt(m_hSocket, SOL_SOCKET, SO_ERROR, &failure, &length) != 0)
        failure = errno;
    const std::int32_t number = failure == 0 ? 0 : SocketErrorFromErrno(failure);
    Post(KindConnect, number);
    if (number == 0) {
        Post(KindWrite, 0);
        ArmRead();
    }
}

void TWSocket::Post(Kind kind, std::int32_t error)
{
    if (m_hSocket == -1)
        return;
    if (kind == KindWrite && error == 0) {
        if (m_writePostedFor == m_generation)
            return;
        m_writePostedFor = m_generation;
    }
    const Notification n{m_hSocket, m_generation, kind, static_cast<std::uint16_t>(error)};
    QCoreApplication::postEvent(this, new NotificationEvent(n));
}

bool TWSocket::event(QEvent *e)
{
    if (e->type() == kNotificationEvent) {
        const Notification n = static_cast<NotificationEvent *>(e)->notification;
        Guarded([this, &n] { HandleSocketEvent(n); });
        return true;
    }
    if (e->type() == QEvent::ParentChange)
        WatchOwner();
    return QObject::event(e);
}

void TWSocket::HandleSocketEvent(const Notification &n)
{
    if (n.kind == KindWrite && m_writePostedFor == n.generation)
        m_writePostedFor.reset();
    // Notifications queued for an earlier handle, or before Pause, are stale.
    if (n.handle != m_hSocket || n.generation != m_generation || m_notificationsPaused || m_hSocket == -1)
        return;
    switch (n.kind) {
    case KindConnect:
        HandleConnect(n.error);
        break;
    case KindRead:
        HandleRead(n.error);
        break;
    case KindWrite:
        HandleWrite(n.error);
        break;
    case KindAccept:
        if (OnSessionAvailable)
            OnSessionAvailable(this, n.error);
        break;
    case KindClose:
        HandleClose(n.error);
        break;
    }
}

void TWSocket::HandleConnect(std::uint16_t error)
{
    ChangeState(TSocketState::Connected);
    if (OnSessionConnected)
        OnSessionConnected(this, error);
    if (error != 0 && m_state != TSocketState::Closed)
        Close();
}

// Hands waiting bytes to the line reader or OnDataAvailable for as long as some wait, up to
// kMaxReadRounds rounds; the next notification goes on with what is left. Failures here end the
// delivery quietly: the next notification tries again.
void TWSocket::HandleRead(std::uint16_t error)
{
    if (m_tlsState == TTlsState::Handshaking) {
        AdvanceTls();
        return;
    }
    int idleRounds = 0;
    try {
        for (int round = 0; round < kMaxReadRounds; ++round) {
            m_lastError = 0;
            std::int32_t before = 0;
            StreamWaiting(before);
            if (m_lineMode)
                LineCollect();
            else if (OnDataAvailable)
                OnDataAvailable(this, error);
            else
                return;
            if (m_lastError != 0 || m_hSocket == -1)
                return;
            std::int32_t waiting = 0;
            if (!StreamWaiting(waiting)) {
                m_lastError = LastSocketError();
                return;
            }
            if (waiting == 0)
                return;
            idleRounds = waiting < before ? 0 : idleRounds + 1;
            if (idleRounds >= kMaxIdleReadRounds)
                return;
        }
    } catch (...) {
        // Swallowed by design: a failing read handler stops this delivery only.
    }
}

void TWSocket::DeliverOnce(std::uint16_t error)
{
    if (m_lineMode)
        LineCollect();
    else if (OnDataAvailable)
        OnDataAvailable(this, error);
}

void TWSocket::HandleClose(std::uint16_t error)
{
    if (m_state == TSocketState::Connecting)
        return;
    if (m_tlsState == TTlsState::Handshaking) {
        AdvanceTls();
        if (m_tlsState == TTlsState::Handshaking)
            FailTls(QStringLiteral("The server closed the connection during the TLS handshake"));
        return;
    }
    try {
        std::int32_t waiting = 0;
        if (StreamWaiting(waiting) && waiting > 0)
            DeliverOnce(error);
        if (OnSessionClosed && !m_closeReported && FiringAllowed()) {
            m_closeReported = true;
            OnSessionClosed(this, error);
        }
    } catch (...) {
        // The connection is over whatever its handlers raised: close it before passing it on.
        if (m_state != TSocketState::Closed)
            Close();
        throw;
    }
    if (m_state != TSocketState::Closed)
        Close();
}

// ---------------------------------------------------------------------------------------------
// TLS

void TWSocket::StartTls(std::shared_ptr<TTlsContext> context, const TTlsPeer &peer, const TWSocket *resumeFrom)
{
    if (m_state != TSocketState::Connected || m_hSocket == -1)
        SocketError(QStringLiteral("StartTls"), kNotConnected);
    m_tlsError.clear();
    m_tlsProblem.reset();
    m_tlsEndWanted = false;
    m_tls = std::make_unique<TTlsSession>(std::move(context), peer, resumeFrom ? resumeFrom->m_tls.get() : nullptr);
    m_tlsState = TTlsState::Handshaking;
    AdvanceTls();
}

bool TWSocket::WaitForTls(std::int32_t count)
{
    if (m_tlsState == TTlsState::Handshaking) {
        if (!m_waitCtrl)
            SocketError(QStringLiteral("TWSocket.Wait"), kNoData);
        m_tlsAwaited = true;
        struct Forget {
            bool &awaited;
            ~Forget() { awaited = false; }
        } forget{m_tlsAwaited};
        RunCountdown(count);
    }
    if (m_tlsState == TTlsState::Handshaking) {
        const int ticks = m_waitCtrl ? m_waitCtrl->StartCount() : count;
        FailTls(QStringLiteral("The TLS handshake did not finish within %1 seconds").arg(ticks));
    }
    return m_tlsState == TTlsState::On;
}

QString TWSocket::TlsSummary() const
{
    return m_tls && m_tlsState == TTlsState::On ? m_tls->Summary() : QString();
}

// Takes the handshake as far as what has arrived allows. Once done, the connection counts as
// newly made: what waits in the queue goes, and write readiness is reported once.
void TWSocket::AdvanceTls()
{
    PullCipher();
    const TTlsSession::TStep step = m_tls->Handshake();
    // A failed handshake is broken off; the alert it may have for the server is not worth a wait.
    if (step == TTlsSession::TStep::Failed) {
        FailTls(m_tls->Error());
        return;
    }
    if (!FlushCipher() && !m_tls)
        return;
    if (step == TTlsSession::TStep::Again)
        return;
    m_tlsState = TTlsState::On;
    StopTlsWait();
    TryToSend();
    if (m_tls && m_allSent)
        Post(KindWrite, 0);
}

// A failed TLS connection is broken off: nothing it carried may pass for a clean end.
void TWSocket::FailTls(const QString &text)
{
    if (m_tlsError.isEmpty())
        m_tlsError = text;
    if (m_tls && m_tls->Problem() && !m_tlsProblem)
        m_tlsProblem = m_tls->Problem();
    StopTlsWait();
    if (m_hSocket != -1 && m_state != TSocketState::Closed)
        CloseHandle(false);
    m_tlsState = TTlsState::Off;
}

void TWSocket::StopTlsWait()
{
    if (m_tlsAwaited && m_waitCtrl)
        m_waitCtrl->Stop();
}

// Hands what the network brought to the TLS session, as much as it may hold: a server that
// floods the connection waits in the platform's buffer, not in memory.
void TWSocket::PullCipher()
{
    if (!m_tls || m_tls->EndOfStream())
        return;
    char chunk[16384];
    while (m_tls->HeldCipher() < kMaxHeldCipher) {
        const IoResult received = PlatformReceive(chunk, sizeof chunk, false);
        if (received.bytes > 0) {
            m_tls->PutCipher(chunk, received.bytes);
            continue;
        }
        if (received.bytes == 0 || received.error == kConnReset)
            m_tls->PutEndOfStream();
        break;
    }
    ArmRead();
}

// Hands the session's output to the platform; true once all of it went.
bool TWSocket::FlushCipher()
{
    while (m_tls) {
        const QByteArrayView pending = m_tls->PendingCipher();
        if (pending.isEmpty())
            return true;
        const IoResult sent = PlatformSend(pending.data(), pending.size());
        if (sent.bytes < 0 && sent.error != kWouldBlock && m_tlsState == TTlsState::Handshaking)
            FailTls(QStringLiteral("The server closed the connection during the TLS handshake"));
        else if (sent.bytes < 0)
            SendFailed(sent.error);
        if (sent.bytes <= 0)
            return false;
        m_tls->TakeCipher(sent.bytes);
        if (sent.bytes < pending.size()) {
            ArmWrite();
            return false;
        }
    }
    return false;
}

// Encrypts the queued bytes in records of up to 16384 bytes, each once the platform took the one
// before, so the session never holds more than one record's output. The OnDataSent loop hands
// its bytes over a block at a time; while it runs they are gathered into full records, since a
// record costs the server about as much work as a block, and a partial one goes once the loop
// adds nothing more. Once everything went out, the end that Shutdown asked for follows.
void TWSocket::SendTlsRecords()
{
    for (;;) {
        if (!FlushCipher() || !m_tls || m_tlsState != TTlsState::On)
            return;
        FillRecord();
        const bool partialGoes = m_recordFill > 0 && (!m_tlsGathering || m_tlsEndWanted);
        if (m_recordFill == kMaxRecordPlain || partialGoes) {
            if (!m_tls->WritePlain(m_record.data(), m_recordFill)) {
                FailTls(m_tls->Error());
                return;
            }
            m_recordFill = 0;
            continue;
        }
        m_allSent = true;
        if (m_tlsEndWanted && m_recordFill == 0)
            EndTlsSending();
        return;
    }
}

// Moves unsent bytes from the head of the queue into the record being gathered, until it is
// full or the queue is empty; the last block stays in the queue for reuse.
void TWSocket::FillRecord()
{
    m_record.resize(kMaxRecordPlain);
    while (m_recordFill < kMaxRecordPlain && !m_sendQueue.empty()) {
        TBuffer &block = *m_sendQueue.front();
        const TBuffer::Span unsent = block.Peek();
        const auto take =
            static_cast<std::int32_t>(std::min<std::int64_t>(unsent.count, kMaxRecordPlain - m_recordFill));
        // An emptied block has no bytes to point at.
        if (take > 0)
            std::memcpy(m_record.data() + m_recordFill, unsent.start, static_cast<std::size_t>(take));
        m_recordFill += take;
        block.Remove(take);
        if (block.Peek().count > 0 || m_sendQueue.size() == 1)
            break;
        m_sendQueue.pop_front();
    }
}

// A write notification: what is queued goes, then OnDataSent once all of it went. Under TLS the
// bytes its handler sends are gathered into full records; when it sends none, the sender has
// paused, and the record gathered so far goes.
void TWSocket::HandleWrite(std::uint16_t error)
{
    if (!m_tls) {
        TryToSend();
        if (m_allSent && OnDataSent)
            OnDataSent(this, error);
        return;
    }
    const std::uint64_t handed = m_plainHanded;
    {
        m_tlsGathering = true;
        struct Stop {
            bool &gathering;
            ~Stop() { gathering = false; }
        } stop{m_tlsGathering};
        TryToSend();
        if (m_allSent && OnDataSent)
            OnDataSent(this, error);
    }
    if (handed == m_plainHanded)
        TryToSend();
}

// The end of the sending side under TLS: close_notify, then the connection's own end once the
// platform took it.
void TWSocket::EndTlsSending()
{
    m_tls->Shutdown();
    if (FlushCipher() && m_tls) {
        m_tlsEndWanted = false;
        PlatformShutdown(m_tlsEndHow);
    }
}

// Offers close_notify to the platform once, before a close, when every queued byte went out: the
// server may then take what it got for all there is. A close that drops queued bytes sends none.
void TWSocket::SendCloseNotify()
{
    const bool queued = std::any_of(m_sendQueue.begin(), m_sendQueue.end(),
                                    [](const std::unique_ptr<TBuffer> &block) { return block->Peek().count > 0; });
    if (!m_tls || m_tlsState != TTlsState::On || queued || m_recordFill > 0)
        return;
    m_tls->Shutdown();
    const QByteArrayView pending = m_tls->PendingCipher();
    if (pending.isEmpty())
        return;
    const IoResult sent = PlatformSend(pending.data(), pending.size());
    if (sent.bytes > 0)
        m_tls->TakeCipher(sent.bytes);
}

// ---------------------------------------------------------------------------------------------
// Host look-ups

QString LocalHostName()
{
    StartSocketLibrary();
    char name[64] = {};
    if (::gethostname(name, sizeof name) != 0)
        throw ESocketException(QStringLiteral("Winsock.GetHostName failed"));
    name[sizeof name - 1] = '\0';
    return QString::fromLocal8Bit(name);
}

std::vector<std::uint32_t> GetHostByName(const QString &name)
{
    StartSocketLibrary();
    const QByteArray bytes = NameBytes(name, 256);
    // The C library would read the name only up to a NUL and look up something else.
    if (bytes.contains('\0'))
        return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(bytes.constData(), nullptr, &hints, &found) != 0)
        return {};
    const std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> owner(found, &::freeaddrinfo);
    return Ipv4Addresses(found);
}

std::uint32_t ResolveHost(const QString &text)
{
    ++g_resolveHostCalls;
    StartSocketLibrary();
    const QString name = Trimmed(text);
    std::uint32_t address = 0;
    if (ParseDotted(NameBytes(name, 256), address))
        return address;
    const std::vector<std::uint32_t> addresses = GetHostByName(name);
    if (addresses.empty())
        CannotConvert(text);
    return addresses.front();
}

QString SocketAddressText(const sockaddr_in &address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

std::uint64_t ResolveHostCalls()
{
    return g_resolveHostCalls;
}

} // namespace quelmark
