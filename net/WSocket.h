// TWSocket: a non-blocking TCP socket component driven by the application's event loop.
//
// The socket never blocks the user-interface thread and has no threads of its own. Readiness of
// its handle (data to read, room to send, connection completed, connection offered, connection
// closed) becomes a notification queued to the socket object and handled one at a time, in
// queue order, on that thread; each turns into a state change and a call of one of the events.
// Wait and ReadLine look synchronous: they run the WaitCtrl countdown, which keeps dispatching
// events until the socket stops it or the count runs out.
//
// A connected stream socket can run TLS as the client: from StartTls on, the handshake goes on
// through the same notifications, and what the socket's users send and receive is the decrypted
// stream.
//
// Every failure is raised as ESocketException. Handlers called from a notification run guarded:
// an exception they raise inside Wait or ReadLine leaves that call into its caller.
#pragma once

#include "base/Exception.h"
#include "net/SocketAddress.h"
#include "net/TlsSession.h"
#include "net/UniqueFd.h"
#include "net/WSockbuf.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QSocketNotifier;

namespace quelmark {

class TWait;

enum class TSocketState : std::uint8_t {
    InvalidState, // never entered; also: no state awaited
    Opened,
    Bound,
    Connecting,
    Connected,
    Accepting, // never entered
    Listening,
    Closed,
};

class ESocketException : public Exception {
public:
    explicit ESocketException(QString message, std::int32_t number = 0)
        : Exception(std::move(message)), m_number(number)
    {
    }
    // The error number behind the failure (10061 for a refused connection), 0 when none.
    std::int32_t Number() const { return m_number; }

private:
    std::int32_t m_number = 0;
};

class TWSocket : public QObject {
    Q_OBJECT
public:
    using TDataAvailable = std::function<void(QObject *sender, std::uint16_t error)>;
    using TDataSent = std::function<void(QObject *sender, std::uint16_t error)>;
    using TSessionClosed = std::function<void(QObject *sender, std::uint16_t error)>;
    using TSessionAvailable = std::function<void(QObject *sender, std::uint16_t error)>;
    using TSessionConnected = std::function<void(QObject *sender, std::uint16_t error)>;
    using TChangeState = std::function<void(QObject *sender, TSocketState oldState, TSocketState newState)>;
    enum class TTlsState : std::uint8_t { Off, Handshaking, On };
    // Bytes a line may have before the line reader gives up on it: a peer that never ends a line
    // must not hold the reader for as long as it cares to send.
    static constexpr std::int64_t kMaxLineBytes = 65536;

    // Makes a closed socket owned by owner. When the owner is destroyed, the socket closes
    // without calling any of its events.
    explicit TWSocket(QObject *owner = nullptr);
    ~TWSocket() override;
    TWSocket(const TWSocket &) = delete;
    TWSocket &operator=(const TWSocket &) = delete;

    // Starts a connection to the converted Addr and Port; the outcome arrives as
    // OnSessionConnected.
    void Connect();
    // Binds to Addr and Port and listens; returns 0.
    std::int32_t Listen();
    // Takes the offered connection of a listening socket and returns its handle; the peer's
    // address goes into SocketAddress. The listening socket stays Listening.
    std::int32_t Accept();
    // Queues the bytes and sends as much as the platform takes at once. OnDataSent follows from
    // the event loop once the queue is empty, never from within Send.
    void Send(const void *bytes, std::int32_t count);
    void Send(const QByteArray &bytes);
    // Offers the bytes to the platform in one call, without queueing them, and returns how many
    // it took. When it took them all, OnDataSent follows from the event loop as after Send; when
    // it took fewer (its buffer is full), OnDataSent follows once it has room again, and the
    // caller offers the rest then. Under TLS, and while bytes handed to Send still wait, the
    // bytes are queued as Send queues them and all count as taken.
    std::int32_t SendSome(const char *bytes, std::int32_t count);
    // Tells whether everything handed over has gone to the platform (under TLS: been encrypted
    // and gone, but for the record that gathers while the OnDataSent handler runs).
    bool AllSent() const { return m_allSent; }
    // Takes up to count bytes from the connection, outside the line reader. Returns the number
    // taken, 0 at the end of the stream, or -1 with LastError set (10035 when nothing waits).
    std::int32_t Receive(char *buffer, std::int32_t count);
    // Returns the next line without CR and LF, or the part of it that arrived before the
    // countdown of count ticks ran out; the next call continues that line. Lines are cut to
    // 255 characters, the rest up to the LF dropped; a line that goes on past kMaxLineBytes ends
    // there, with LineTooLong set (the rest of it is left unread).
    QString ReadLine(std::int32_t count);
    // The same line as the bytes that came, undecoded.
    QByteArray ReadLineBytes(std::int32_t count);
    // Waits up to count ticks for the socket to reach state; true when it is in that state
    // when the wait ends.
    bool Wait(std::int32_t count, TSocketState state);
    // Shuts down and closes the handle, empties the send queue, reports OnSessionClosed once
    // and resets the socket. Does nothing on a closed socket.
    void Close();
    // Closes like Close, but breaks the connection off with a reset instead of ending it in
    // order, so the peer cannot take what it received for all there was.
    void Abort();
    // Makes Close end the connection in order, so the peer gets every byte sent, instead of the
    // reset that Connect arranges for a stream socket.
    void EndInOrderOnClose();
    // Shuts one (0 receive, 1 send) or both (2) directions down, if there is a handle. Under TLS
    // the sending side ends with close_notify behind every queued byte, and the connection's own
    // end follows once the platform took it.
    void Shutdown(int how);
    // Stops this socket's notifications; those already queued are ignored.
    void Pause();
    // Restarts the notifications (read, write, connect and close).
    void Resume();
    // Tells whether Pause stopped the notifications and no Resume has restarted them.
    bool Paused() const { return m_notificationsPaused; }
    // Starts TLS as the client on a connected stream socket; raises "StartTls" (10057) on any
    // other. The handshake goes on through the notifications; bytes handed to Send wait until it
    // is done. resumeFrom offers the TLS session of that socket's connection for resumption. From
    // then on Send, Receive, ReadLine and OnDataAvailable carry the decrypted bytes; Close sends
    // close_notify first when everything queued went out, Abort never does.
    void StartTls(std::shared_ptr<TTlsContext> context, const TTlsPeer &peer, const TWSocket *resumeFrom = nullptr);
    // Waits up to count ticks for the handshake; true when TLS is on. A handshake not done by
    // then fails, and the connection is broken off.
    bool WaitForTls(std::int32_t count);
    TTlsState TlsState() const { return m_tlsState; }
    // Returns the version, cipher and server certificate of the running TLS session
    // ("TLSv1.3, TLS_AES_256_GCM_SHA384, certificate CN=ftp.example.org (verified)").
    QString TlsSummary() const;
    // Returns why TLS failed on this socket since the last StartTls (the connection was broken
    // off then); empty when it did not.
    QString TlsError() const { return m_tlsError; }
    // The server's certificate behind a TlsError, when it was the certificate that failed.
    const std::optional<TCertificateProblem> &TlsCertificateProblem() const { return m_tlsProblem; }
    // Writes the socket's local address; returns 0 on success, -1 on failure.
    int GetSockName(sockaddr_in &name, socklen_t &length) const;
    int GetSockName(sockaddr_storage &name) const;
    // Sends queued bytes until the queue is empty or the platform takes no more.
    void TryToSend();
    // Returns every field with a reset value to it; addresses texts, queue, events, LastError
    // and WaitCtrl are left alone.
    void ResetSocket();

    QString Addr() const { return m_addrText; }
    // Converts a dotted IPv4 address, an IPv6 address or a host name (looked up for IPv4) to
    // the address the socket connects to or listens on.
    void SetAddr(const QString &text);
    // Sets Addr like SetAddr, but a host name is looked up for both families while the WaitCtrl
    // countdown of count ticks runs and the application's events go on; a look-up not finished
    // by then raises "SetAddr: Host name '...' not resolved within N seconds". The name's first
    // address in the order to try them (OrderForConnecting) becomes the socket's.
    void SetAddr(const QString &text, std::int32_t count);
    // Returns every address the last conversion of Addr found, in the order to try them.
    const std::vector<sockaddr_storage> &ResolvedAddresses() const { return m_resolved; }
    // Sets address and port at once from a record, as if Addr and Port had been written.
    void SetSocketAddress(const sockaddr_storage &address);
    QString Port() const { return m_portText; }
    void SetPort(const QString &text);
    QString Proto() const { return m_protoText; }
    void SetProto(const QString &text);
    std::int32_t HSocket() const { return m_hSocket; }
    // Adopts a connected handle (normally the one Accept returned), closing the current one.
    // The handle is the socket's once adopted; a failure before that leaves it with the caller.
    void SetHSocket(std::int32_t handle);
    // The same for an owned handle: whatever happens, the caller holds it no longer.
    void SetHSocket(UniqueFd handle);
    TSocketState State() const { return m_state; }
    std::int32_t ReadCount() const { return m_readCount; }
    // Tells whether a line is still being collected: the last ReadLine ran out of time before
    // the line's end, and the next one continues that line.
    bool LineMode() const { return m_lineMode; }
    // Tells whether the last line read ended because it went on past kMaxLineBytes.
    bool LineTooLong() const { return m_lineTooLong; }
    std::int32_t LastError() const { return m_lastError; }
    // The countdown used by Wait and ReadLine (not owned); becomes none when it is destroyed.
    TWait *WaitCtrl() const;
    void SetWaitCtrl(TWait *waitCtrl);

    // Port and address converted from Port and Addr; after Accept, the peer.
    const sockaddr_storage &SocketAddress() const { return m_socketAddress; }
    // Returns the unsent byte count of each block of the send queue, oldest first.
    std::vector<std::int32_t> QueuedBlockSizes() const;
    // Returns how many of the bytes handed to Send the peer has not acknowledged yet: those
    // still queued here and those the platform holds (SIOCOUTQ); -1 when the platform cannot
    // tell. Under TLS the platform holds records, headers and tags included, and the peer can
    // take a record only whole: a byte counts as taken once its whole record was acknowledged.
    std::int64_t UnacknowledgedBytes() const;

    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;

    // Shared start-up bookkeeping of the socket library: the started mark and the number of
    // TWSocket objects alive.
    static bool LibraryStarted();
    static std::int32_t SocketCount();

protected:
    // Result of one platform transfer: bytes moved (-1 on failure) and the error number.
    struct IoResult {
        std::int64_t bytes = 0;
        std::int32_t error = 0;
    };
    // The one place that hands bytes to the platform.
    virtual IoResult PlatformSend(const char *bytes, std::int64_t count);
    // The one place that takes bytes from the platform; a peek leaves them there.
    virtual IoResult PlatformReceive(char *buffer, std::int64_t count, bool peek);

    bool event(QEvent *event) override;

private:
    std::optional<std::uint32_t> FieldNumber(const QString &text, QString &held, bool &assigned, const QString &what,
                                             const std::function<int(const QByteArray &)> &lookUp);
    enum Kind : unsigned { KindRead = 1, KindWrite = 2, KindAccept = 4, KindConnect = 8, KindClose = 16 };
    struct Notification;
    class NotificationEvent;

    void StartLibrary();
    void ChangeState(TSocketState newState);
    [[noreturn]] void SocketError(const QString &function, std::int32_t number);
    void Register(unsigned kinds);
    void PrepareAdoption(std::int32_t handle);
    void CloseHandle(bool orderly);
    std::vector<sockaddr_storage> ResolveHostWithin(const QString &text, std::int32_t count);
    void StoreAddress(const sockaddr_storage &address);
    void AdoptHandle(std::int32_t handle);
    std::int32_t ReleaseHandle();
    void ArmRead();
    void ArmWrite();
    void ReadReady();
    void WriteReady();
    void Post(Kind kind, std::int32_t error);
    void HandleSocketEvent(const Notification &n);
    void HandleRead(std::uint16_t error);
    void HandleClose(std::uint16_t error);
    void DeliverOnce(std::uint16_t error);
    bool BytesWaiting(std::int32_t &count) const;
    bool StreamWaiting(std::int32_t &count);
    IoResult StreamReceive(char *buffer, std::int64_t count, bool peek);
    void LineCollect();
    bool LineByte(char byte);
    void EndLine();
    void HandleConnect(std::uint16_t error);
    void SetOption(int option, const void *value, socklen_t length, const char *function);
    void RunCountdown(std::int32_t count);
    void QueueBytes(const char *bytes, std::int32_t count);
    bool SendFirstBlock();
    void SendFailed(std::int32_t error);
    void PlatformShutdown(int how);
    void AdvanceTls();
    void FailTls(const QString &text);
    void StopTlsWait();
    void PullCipher();
    bool FlushCipher();
    void SendTlsRecords();
    void FillRecord();
    void HandleWrite(std::uint16_t error);
    void EndTlsSending();
    void SendCloseNotify();
    void WatchOwner();
    bool FiringAllowed() const { return !m_ownerDestroying; }

    // Conversions of Port, Proto and Addr.
    bool m_portAssigned = false;
    bool m_addrAssigned = false;
    bool m_protoAssigned = true;
    QString m_protoText = QStringLiteral("tcp");
    QString m_addrText;
    QString m_portText;
    std::int32_t m_protocol = IPPROTO_TCP;
    std::int32_t m_acceptedHandle = -1;

    TSocketState m_state = TSocketState::Closed;
    std::deque<std::unique_ptr<TBuffer>> m_sendQueue;
    QPointer<TWait> m_waitCtrl;
    TSocketState m_awaitedState = TSocketState::InvalidState;
    std::int32_t m_lastError = 0;
    bool m_notificationsPaused = false;
    bool m_allSent = true;
    QByteArray m_lineBuffer;
    std::int32_t m_lineLength = 0;
    std::int64_t m_lineBytes = 0;
    bool m_lineMode = false;
    bool m_lineTooLong = false;
    std::int32_t m_readCount = 0;
    bool m_closeReported = false;
    std::int32_t m_hSocket = -1;
    sockaddr_storage m_socketAddress{};
    std::vector<sockaddr_storage> m_resolved;

    // Notification machinery.
    unsigned m_registered = 0;
    std::uint64_t m_generation = 0;
    bool m_connectPending = false;
    bool m_listener = false;
    bool m_closePosted = false;
    // The generation of the handle for which a write report waits in the event queue: the
    // sends of one pass need one report, not one each.
    std::optional<std::uint64_t> m_writePostedFor;
    // Shutdown has queued the end of the sending side (a FIN, counted by SIOCOUTQ).
    bool m_finQueued = false;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    bool m_ownerDestroying = false;
    QMetaObject::Connection m_ownerWatch;

    // TLS of the current connection, and why it failed (kept until the next StartTls).
    std::unique_ptr<TTlsSession> m_tls;
    TTlsState m_tlsState = TTlsState::Off;
    bool m_tlsAwaited = false;
    // Shutdown asked to end the sending side (how) once everything queued went out.
    bool m_tlsEndWanted = false;
    int m_tlsEndHow = 1;
    QString m_tlsError;
    std::optional<TCertificateProblem> m_tlsProblem;
    // The plaintext of the record being gathered from the queue's blocks, while the OnDataSent
    // handler runs; and how many bytes Send was handed in all, to tell whether it handed more.
    std::vector<char> m_record;
    std::int64_t m_recordFill = 0;
    bool m_tlsGathering = false;
    std::uint64_t m_plainHanded = 0;
};

// Returns this machine's host name (at most 63 characters); raises "Winsock.GetHostName failed".
QString LocalHostName();
// Returns the IPv4 addresses of a host name (network byte order), first one first; an unknown
// name gives an empty list, without error.
std::vector<std::uint32_t> GetHostByName(const QString &name);
// Converts a dotted IPv4 address (the whole text, blanks around it aside) or a host name to an
// IPv4 address in network byte order; raises "SetAddr: Cannot convert host address '...'" for
// a name that does not resolve.
std::uint32_t ResolveHost(const QString &text);
// Returns the address part as text ("192.0.2.7").
QString SocketAddressText(const sockaddr_in &address);
// Returns how many times ResolveHost has run in this process.
std::uint64_t ResolveHostCalls();

} // namespace quelmark
