// TSshSession: one SSH connection to a server with its "sftp" subsystem channel, driven by the
// application's event loop.
//
// libssh keeps the whole SSH transport: key exchange, encryption, host keys, authentication and
// channels. It runs in non-blocking mode: each of its calls does what it can at once and answers
// "again" otherwise; readiness notifiers on its socket (reading always, writing while libssh holds
// unsent bytes) call it again. Every wait runs the TWait countdown, which keeps dispatching the
// application's events, so the window never freezes and every step ends within its ticks. The TCP
// connection is made here (the name looked up through TWSocket's bounded look-up, then a
// non-blocking connect) and handed to libssh, whose own connect would block in the look-up.
//
// Host keys are checked against the user's ~/.ssh/known_hosts and the program's own known-hosts
// file. An unknown key is accepted only when the caller names its fingerprint or its trust
// question says yes, and is then stored in the program's file; a changed key is never accepted.
#pragma once

#include "base/Wait.h"
#include "net/UniqueFd.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
struct sockaddr_storage;

namespace quelmark {

// What became of the question whether to trust an unknown host key.
enum class TTrustAnswer : std::uint8_t {
    NotAsked, // nobody was there to answer it
    Refused,
    Trusted,
};

// Says why a certificate or host key that nothing vouches for fails where nobody was asked.
inline const QString kNobodyAskedText = QStringLiteral(
    "not trusted: nobody is asked during unattended pushes; trust it in the window or with quelmark-put");

// How a session proves who its user is.
enum class TSshAuth : std::uint8_t {
    Password, // the password
    Key,      // a private key; the password is its passphrase
};

// The server a session connects to.
struct TServerAddress {
    QString host;
    std::uint16_t port = 22;
};

// Returns the server as known-hosts files and messages name it: "host", or "[host]:port" off 22.
QString ServerText(const TServerAddress &server);

// Returns the question that asks the user to trust a host key: "Trust the host key of <server>
// (<key>)?", where key reads "<type> SHA256:<fingerprint>".
QString HostKeyQuestion(const QString &server, const QString &key);

// Everything a session needs before it connects.
struct TSshLogin {
    TServerAddress server;
    QString user;
    // The password, or the passphrase of the key with TSshAuth::Key.
    QString password;
    TSshAuth auth = TSshAuth::Password;
    // A private key file; empty tries the user's default keys, then the ssh-agent.
    QString keyFile;
    // The folder whose .ssh holds the user's known_hosts and default keys.
    QString homeFolder;
    // The program's own known-hosts file, where accepted keys are stored.
    QString knownHostsFile;
    // The fingerprint ("SHA256:...") of a host key the caller accepts when it is unknown.
    QString acceptedHostKey;
};

class TSshSession : public QObject {
    Q_OBJECT
public:
    using TDisplay = std::function<void(const QString &line)>;
    // Asked about an unknown host key: the server as the user named it and the key's text
    // ("<type> SHA256:<fingerprint>"); answer starts NotAsked.
    using TTrustQuestion = std::function<void(const QString &server, const QString &key, TTrustAnswer &answer)>;
    // How a wait ended.
    enum class TEnd : std::uint8_t { Done, TimedOut, Lost };

    // The countdown (not owned) bounds every wait to ticks; display receives the SSH steps.
    TSshSession(TWait *wait, std::int32_t ticks, TDisplay display, QObject *parent = nullptr);
    ~TSshSession() override;

    // Connects, checks the host key, authenticates and opens the "sftp" subsystem. On false,
    // Error says why and the connection is closed.
    bool Open(const TSshLogin &login, const TTrustQuestion &trust);
    // Ends the channel and the connection without waiting; harmless when nothing is open.
    void Close();
    // Ends the running wait at once, and every later one of this session before it starts; what
    // waited fails with "Cancelled by the user". The next Open starts afresh.
    void Cancel();

    // The text of the first failure.
    QString Error() const { return m_error; }
    // True while the channel is open and the connection has not failed.
    bool Alive() const;
    // Takes in what the socket holds and tells whether the session still stands: a server that
    // ended it while it stood idle is noticed here.
    bool StillAlive();
    // Why the connection was lost, once it was.
    QString LostReason() const;

    // Queues bytes for the channel and hands over as many as its window takes now.
    void Send(const QByteArray &bytes);
    // True while bytes given to Send wait for room in the channel or in the socket.
    bool SendPending() const;
    // The bytes received on the channel and not taken yet.
    QByteArray &Received() { return m_received; }

    // Moves what can move now and calls done after every move, until it returns true, the
    // connection ends or the countdown of ticks runs out.
    TEnd WaitUntil(const std::function<bool()> &done, std::int32_t ticks);
    // Calls step after every move caused by the socket, outside any countdown, until Unwatch;
    // for loops of the caller's own.
    void Watch(std::function<void()> step);
    void Unwatch();
    // Runs the step now, as a readiness of the socket does.
    void Kick();

private:
    struct TLibsshSession;
    struct TLibsshChannel;

    bool Connect();
    int ConnectSocket(const sockaddr_storage &address);
    bool Handshake();
    bool SetOptions();
    bool CheckHostKey(const TTrustQuestion &trust);
    bool AcceptHostKey(const QString &keyText, const QString &fingerprint, const TTrustQuestion &trust);
    bool StoreHostKey();
    bool Authenticate();
    bool AuthenticateWithPassword();
    bool AuthenticateInteractively();
    bool PasswordOutcome(int rc);
    bool AuthenticateWithKeys();
    std::optional<bool> TryKeyFile(const QString &path, bool named);
    std::optional<bool> TryAgent();
    std::optional<bool> KeyOutcome(int rc, const QString &refused, const QString &failed);
    bool OpenChannel();
    // Calls a libssh function until it answers other than again, each time the socket is ready,
    // within ticks; returns its last answer (again when the time ran out).
    int Drive(const std::function<int()> &call, int again, std::int32_t ticks);
    bool RunCountdown(std::int32_t ticks, const std::function<bool()> &step);
    void RunStep();
    bool Settle();
    bool HasWaiting() const;
    void Arm();
    void Disarm();
    void Pump();
    void WriteOut();
    void Flush();
    void ReadIn();
    void Lose(const QString &why);
    bool Fail(const QString &text);
    QString LibraryError() const;
    void Display(const QString &line) const;

    QPointer<TWait> m_wait;
    std::int32_t m_ticks = 15;
    TDisplay m_display;
    TSshLogin m_login;
    // The connected socket until libssh takes it.
    UniqueFd m_socket;
    std::unique_ptr<TLibsshSession> m_session;
    std::unique_ptr<TLibsshChannel> m_channel;
    // The "sftp" subsystem runs on the channel.
    bool m_channelOpen = false;
    std::unique_ptr<QSocketNotifier> m_readNotifier;
    std::unique_ptr<QSocketNotifier> m_writeNotifier;
    // What a readiness of the socket runs: a countdown's step (true ends the countdown), or a
    // watcher's step.
    std::function<bool()> m_step;
    bool m_counting = false;
    bool m_stepDone = false;
    QByteArray m_outgoing;
    qsizetype m_outgoingSent = 0;
    // libssh holds bytes that its socket has not taken yet.
    bool m_backlog = false;
    QByteArray m_received;
    bool m_lost = false;
    QString m_lostReason;
    QString m_error;
    bool m_cancelled = false;
};

} // namespace quelmark
