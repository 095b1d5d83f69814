#include "net/SshSession.h"

#include "base/Exception.h"
#include "base/Printable.h"
#include "net/SocketAddress.h"
#include "net/UniqueFd.h"
#include "net/WSocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>

#include <libssh/libssh.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <type_traits>
#include <vector>

namespace quelmark {

namespace {

// The user's default keys, tried in this order when no key file is named.
constexpr std::array<const char *, 3> kDefaultKeys = {"id_ed25519", "id_ecdsa", "id_rsa"};
// How often a step runs again for what libssh took in before the event loop gets a turn.
constexpr int kMaxPasses = 64;
// How much one read takes from the channel.
constexpr int kReadChunk = 32 * 1024;

struct KeyFree {
    void operator()(ssh_key key) const { ssh_key_free(key); }
};
using KeyPtr = std::unique_ptr<std::remove_pointer_t<ssh_key>, KeyFree>;

struct CharFree {
    void operator()(char *text) const { ssh_string_free_char(text); }
};
using LibraryText = std::unique_ptr<char, CharFree>;

// libssh expands %-sequences in the paths of its known-hosts options; a literal % is written %%.
QByteArray LibraryPath(const QString &path)
{
    return QFile::encodeName(QString(path).replace(QLatin1Char('%'), QStringLiteral("%%")));
}

// Returns the key's fingerprint as OpenSSH prints it, "SHA256:" and the unpadded base64 of the
// hash; empty when libssh cannot hash the key.
QString Fingerprint(ssh_key key)
{
    unsigned char *hash = nullptr;
    size_t length = 0;
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &length) != 0)
        return {};
    const LibraryText text(ssh_get_fingerprint_hash(SSH_PUBLICKEY_HASH_SHA256, hash, length));
    ssh_clean_pubkey_hash(&hash);
    return text ? QString::fromLatin1(text.get()) : QString();
}

} // namespace

QString ServerText(const TServerAddress &server)
{
    const QString host =
        server.host.contains(QLatin1Char(':')) ? QLatin1Char('[') + server.host + QLatin1Char(']') : server.host;
    return server.port == 22 ? host : host + QLatin1Char(':') + QString::number(server.port);
}

QString HostKeyQuestion(const QString &server, const QString &key)
{
    return QStringLiteral("Trust the host key of %1 (%2)?").arg(server, key);
}

struct TSshSession::TLibsshSession {
    explicit TLibsshSession(ssh_session session) : handle(session) {}
    ~TLibsshSession()
    {
        // Sends the goodbye without waiting for it to leave, and closes the socket.
        ssh_disconnect(handle);
        ssh_free(handle);
    }
    TLibsshSession(const TLibsshSession &) = delete;
    TLibsshSession &operator=(const TLibsshSession &) = delete;

    ssh_session handle;
};

struct TSshSession::TLibsshChannel {
    explicit TLibsshChannel(ssh_channel channel) : handle(channel) {}
    ~TLibsshChannel()
    {
        if (ssh_channel_is_open(handle))
            ssh_channel_close(handle);
        ssh_channel_free(handle);
    }
    TLibsshChannel(const TLibsshChannel &) = delete;
    TLibsshChannel &operator=(const TLibsshChannel &) = delete;

    ssh_channel handle;
};

TSshSession::TSshSession(TWait *wait, std::int32_t ticks, TDisplay display, QObject *parent)
    : QObject(parent), m_wait(wait), m_ticks(ticks > 0 ? ticks : 15), m_display(std::move(display))
{
}

TSshSession::~TSshSession()
{
    Close();
}

bool TSshSession::Open(const TSshLogin &login, const TTrustQuestion &trust)
{
    Close();
    m_error.clear();
    m_cancelled = false;
    m_login = login;
    if (!m_wait)
        return Fail(QStringLiteral("No wait object"));
    if (Connect() && Handshake() && CheckHostKey(trust) && Authenticate() && OpenChannel())
        return true;
    Close();
    return false;
}

void TSshSession::Close()
{
    m_step = nullptr;
    // The notifiers go first: the socket they watch closes with the session.
    m_readNotifier.reset();
    m_writeNotifier.reset();
    m_channelOpen = false;
    m_channel.reset();
    m_session.reset();
    m_socket.Reset();
    m_outgoing.clear();
    m_outgoingSent = 0;
    m_received.clear();
    m_backlog = false;
    m_lost = false;
    m_lostReason.clear();
}

void TSshSession::Cancel()
{
    m_cancelled = true;
    if (m_wait)
        m_wait->Stop();
}

bool TSshSession::Alive() const
{
    return m_channelOpen && !m_lost;
}

// ---------------------------------------------------------------------------------------------
// Connecting

bool TSshSession::Connect()
{
    const TServerAddress &server = m_login.server;
    Display(QStringLiteral("Connecting to %1 port %2 for SFTP").arg(server.host).arg(server.port));
    std::vector<sockaddr_storage> addresses;
    try {
        // The look-up runs while the countdown dispatches events: a silent name server must not
        // hold the program.
        TWSocket resolver;
        resolver.SetWaitCtrl(m_wait);
        resolver.SetAddr(server.host, m_ticks);
        addresses = resolver.ResolvedAddresses();
    } catch (const ESocketException &e) {
        return Fail(e.Message());
    }
    for (const sockaddr_storage &address : ConnectionTries(addresses, server.port)) {
        const int error = ConnectSocket(address);
        if (m_cancelled)
            break;
        if (error != 0)
            Display(QStringLiteral("Connect to %1: %2")
                        .arg(AddressText(address), QString::fromLocal8Bit(std::strerror(error))));
        else
            return true;
    }
    return Fail(QStringLiteral("Can't connect to host '") + server.host + QLatin1Char('\''));
}

// Connects a non-blocking socket within the countdown and keeps it; returns 0 or the error.
int TSshSession::ConnectSocket(const sockaddr_storage &address)
{
    UniqueFd socket(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket.Valid())
        return errno;
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr *>(&address), AddressLength(address)) != 0) {
        if (errno != EINPROGRESS)
            return errno;
        m_writeNotifier = std::make_unique<QSocketNotifier>(socket.Get(), QSocketNotifier::Write);
        m_writeNotifier->setEnabled(false);
        connect(m_writeNotifier.get(), &QSocketNotifier::activated, this, [this] { Guarded([this] { Kick(); }); });
        const auto forget = qScopeGuard([this] { m_writeNotifier.reset(); });
        if (!RunCountdown(m_ticks, [] { return true; }))
            return ETIMEDOUT;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(socket.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            return errno;
        if (error != 0)
            return error;
    }
    // Requests and their replies are small and go one at a time until the data moves: no delay.
    const int one = 1;
    ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_socket = std::move(socket);
    return 0;
}

bool TSshSession::Handshake()
{
    m_session = std::make_unique<TLibsshSession>(ssh_new());
    ssh_session session = m_session->handle;
    if (!session)
        return Fail(QStringLiteral("Cannot set up an SSH session"));
    const socket_t fd = m_socket.Get();
    if (!SetOptions() || ssh_options_set(session, SSH_OPTIONS_FD, &fd) != 0)
        return Fail(QStringLiteral("Cannot set up the SSH session: ") + LibraryError());
    // The session owns the socket from here on and closes it when it ends.
    m_socket.Release();
    ssh_set_blocking(session, 0);
    m_readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    m_writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    for (QSocketNotifier *notifier : {m_readNotifier.get(), m_writeNotifier.get()}) {
        notifier->setEnabled(false);
        connect(notifier, &QSocketNotifier::activated, this, [this] { Guarded([this] { Kick(); }); });
    }
    const int rc = Drive([session] { return ssh_connect(session); }, SSH_AGAIN, m_ticks);
    const QString server = ServerText(m_login.server);
    if (rc == SSH_AGAIN)
        return Fail(QStringLiteral("The SSH handshake with %1 did not end within %2 seconds").arg(server).arg(m_ticks));
    if (rc != SSH_OK)
        return Fail(QStringLiteral("The SSH handshake with %1 failed: %2").arg(server, LibraryError()));
    Display(QStringLiteral("Connected for SFTP: ") + PrintableBytes(ssh_get_serverbanner(session)));
    return true;
}

bool TSshSession::SetOptions()
{
    ssh_session session = m_session->handle;
    const int quiet = SSH_LOG_NOLOG;
    const int no = 0;
    const unsigned int port = m_login.server.port;
    const QByteArray host = m_login.server.host.toUtf8();
    const QByteArray user = m_login.user.toUtf8();
    const QByteArray users = LibraryPath(m_login.homeFolder + QStringLiteral("/.ssh/known_hosts"));
    // Without a file of the program's own, the user's is read twice rather than libssh's default.
    const QByteArray own = m_login.knownHostsFile.isEmpty() ? users : LibraryPath(m_login.knownHostsFile);
    // No ssh_config: what the site says is what is used.
    return ssh_options_set(session, SSH_OPTIONS_LOG_VERBOSITY, &quiet) == 0 &&
           ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &no) == 0 &&
           ssh_options_set(session, SSH_OPTIONS_HOST, host.constData()) == 0 &&
           ssh_options_set(session, SSH_OPTIONS_PORT, &port) == 0 &&
           ssh_options_set(session, SSH_OPTIONS_USER, user.constData()) == 0 &&
           ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, own.constData()) == 0 &&
           ssh_options_set(session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, users.constData()) == 0;
}

// ---------------------------------------------------------------------------------------------
// Host key

bool TSshSession::CheckHostKey(const TTrustQuestion &trust)
{
    ssh_session session = m_session->handle;
    ssh_key raw = nullptr;
    if (ssh_get_server_publickey(session, &raw) != SSH_OK)
        return Fail(QStringLiteral("The server sent no host key: ") + LibraryError());
    const KeyPtr key(raw);
    const QString fingerprint = Fingerprint(key.get());
    if (fingerprint.isEmpty())
        return Fail(QStringLiteral("Cannot compute the fingerprint of the host key: ") + LibraryError());
    const QString keyText =
        QString::fromLatin1(ssh_key_type_to_char(ssh_key_type(key.get()))) + QLatin1Char(' ') + fingerprint;
    const QString server = ServerText(m_login.server);
    switch (ssh_session_is_known_server(session)) {
    case SSH_KNOWN_HOSTS_OK:
        Display(QStringLiteral("Host key %1: known").arg(keyText));
        return true;
    case SSH_KNOWN_HOSTS_CHANGED:
        return Fail(QStringLiteral("WARNING: the host key of %1 has changed to %2 and does not match the key recorded "
                                   "for it. Someone may be intercepting the connection; the key is not accepted.")
                        .arg(server, keyText));
    case SSH_KNOWN_HOSTS_OTHER:
        // libssh asks for the recorded key type first: a server that no longer offers it is as
        // suspect as one with a changed key.
        return Fail(QStringLiteral("WARNING: the host key of %1 is now %2, of another type than the key recorded "
                                   "for it. Someone may be intercepting the connection; the key is not accepted.")
                        .arg(server, keyText));
    case SSH_KNOWN_HOSTS_UNKNOWN:
    case SSH_KNOWN_HOSTS_NOT_FOUND:
        return AcceptHostKey(keyText, fingerprint, trust);
    case SSH_KNOWN_HOSTS_ERROR:
        break;
    }
    return Fail(QStringLiteral("Cannot check the host key of %1: %2").arg(server, LibraryError()));
}

bool TSshSession::AcceptHostKey(const QString &keyText, const QString &fingerprint, const TTrustQuestion &trust)
{
    const QString server = ServerText(m_login.server);
    const bool named = m_login.acceptedHostKey.trimmed() == fingerprint;
    TTrustAnswer answer = named ? TTrustAnswer::Trusted : TTrustAnswer::NotAsked;
    if (named) {
        Display(QStringLiteral("Host key %1: not known, accepted as named").arg(keyText));
    } else if (trust) {
        trust(server, keyText, answer);
        const QString decision = answer == TTrustAnswer::NotAsked  ? kNobodyAskedText
                                 : answer == TTrustAnswer::Trusted ? QStringLiteral("trusted by the user")
                                                                   : QStringLiteral("refused by the user");
        Display(QStringLiteral("Host key %1: not known, %2").arg(keyText, decision));
    }
    if (answer != TTrustAnswer::Trusted)
        return Fail(QStringLiteral("The host key of %1 is not known: %2").arg(server, keyText));
    return StoreHostKey();
}

bool TSshSession::StoreHostKey()
{
    char *raw = nullptr;
    if (ssh_session_export_known_hosts_entry(m_session->handle, &raw) != SSH_OK)
        return Fail(QStringLiteral("Cannot write the host key as a known-hosts line: ") + LibraryError());
    const LibraryText entry(raw);
    const QString &path = m_login.knownHostsFile;
    if (path.isEmpty())
        return Fail(QStringLiteral("No known-hosts file to store the host key in"));
    QFile file(path);
    const bool created = !file.exists();
    QByteArray line(entry.get());
    if (!line.endsWith('\n'))
        line.append('\n');
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly | QIODevice::Append) ||
        file.write(line) != line.size() || !file.flush())
        return Fail(QStringLiteral("Cannot store the host key in %1: %2").arg(PrintableText(path), file.errorString()));
    if (created)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    Display(QStringLiteral("Host key stored in ") + path);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Authentication

bool TSshSession::Authenticate()
{
    ssh_session session = m_session->handle;
    const int rc = Drive([session] { return ssh_userauth_none(session, nullptr); }, SSH_AUTH_AGAIN, m_ticks);
    if (rc == SSH_AUTH_SUCCESS) {
        Display(QStringLiteral("Authenticated without credentials"));
        return true;
    }
    if (rc == SSH_AUTH_AGAIN)
        return Fail(QStringLiteral("Authentication did not end within %1 seconds").arg(m_ticks));
    if (rc == SSH_AUTH_ERROR)
        return Fail(QStringLiteral("Authentication failed: ") + LibraryError());
    const bool done = m_login.auth == TSshAuth::Password ? AuthenticateWithPassword() : AuthenticateWithKeys();
    if (done)
        Display(QStringLiteral("Authenticated"));
    return done;
}

bool TSshSession::AuthenticateWithPassword()
{
    ssh_session session = m_session->handle;
    const int methods = ssh_userauth_list(session, nullptr);
    if (!(methods & SSH_AUTH_METHOD_PASSWORD)) {
        if (methods & SSH_AUTH_METHOD_INTERACTIVE)
            return AuthenticateInteractively();
        return Fail(QStringLiteral("The server takes no password for user '%1'").arg(m_login.user));
    }
    Display(QStringLiteral("Authenticating as %1 with password").arg(m_login.user));
    const QByteArray password = m_login.password.toUtf8();
    return PasswordOutcome(
        Drive([&] { return ssh_userauth_password(session, nullptr, password.constData()); }, SSH_AUTH_AGAIN, m_ticks));
}

// RFC 4256: the server asks its questions in rounds. A password log-in (PAM's, for one) is a
// single question whose answer is not echoed; a second question, such as a one-time code, has
// no answer here. A round without questions, which some servers send last, is answered empty.
bool TSshSession::AuthenticateInteractively()
{
    // Rounds without questions are no reason to go on for ever.
    constexpr int kMaxRounds = 8;
    Display(QStringLiteral("Authenticating as %1 with password (keyboard-interactive)").arg(m_login.user));
    ssh_session session = m_session->handle;
    const QByteArray password = m_login.password.toUtf8();
    int asked = 0;
    for (int round = 0; round < kMaxRounds; ++round) {
        const int rc =
            Drive([session] { return ssh_userauth_kbdint(session, nullptr, nullptr); }, SSH_AUTH_AGAIN, m_ticks);
        if (rc != SSH_AUTH_INFO)
            return PasswordOutcome(rc);
        const int questions = ssh_userauth_kbdint_getnprompts(session);
        if (questions <= 0)
            continue;
        asked += questions;
        char echo = 0;
        ssh_userauth_kbdint_getprompt(session, 0, &echo);
        if (asked > 1 || echo)
            return Fail(QStringLiteral("The server asks %1 %2 at log-in; only a password can be given")
                            .arg(asked)
                            .arg(asked == 1 ? QStringLiteral("question") : QStringLiteral("questions")));
        if (ssh_userauth_kbdint_setanswer(session, 0, password.constData()) < 0)
            return Fail(QStringLiteral("Authentication failed: ") + LibraryError());
    }
    return Fail(QStringLiteral("The server did not end the log-in after %1 rounds of questions").arg(kMaxRounds));
}

bool TSshSession::PasswordOutcome(int rc)
{
    switch (rc) {
    case SSH_AUTH_SUCCESS:
        return true;
    case SSH_AUTH_AGAIN:
        return Fail(QStringLiteral("Authentication did not end within %1 seconds").arg(m_ticks));
    case SSH_AUTH_ERROR:
        return Fail(QStringLiteral("Authentication failed: ") + LibraryError());
    case SSH_AUTH_PARTIAL:
        return Fail(QStringLiteral("The server asks for a further way to log in after the password"));
    default:
        return Fail(QStringLiteral("The server refused the password for user '%1'").arg(m_login.user));
    }
}

bool TSshSession::AuthenticateWithKeys()
{
    if (!(ssh_userauth_list(m_session->handle, nullptr) & SSH_AUTH_METHOD_PUBLICKEY))
        return Fail(QStringLiteral("The server takes no key for user '%1'").arg(m_login.user));
    if (!m_login.keyFile.isEmpty()) {
        const std::optional<bool> done = TryKeyFile(m_login.keyFile, true);
        if (done && !*done)
            Fail(QStringLiteral("The server refused the key %1 for user '%2'")
                     .arg(PrintableText(m_login.keyFile), m_login.user));
        return done.value_or(false);
    }
    bool tried = false;
    for (const char *name : kDefaultKeys) {
        const QString path = m_login.homeFolder + QStringLiteral("/.ssh/") + QLatin1String(name);
        if (!QFileInfo::exists(path))
            continue;
        tried = true;
        const std::optional<bool> done = TryKeyFile(path, false);
        if (!done || *done)
            return done.value_or(false);
    }
    if (!qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK")) {
        tried = true;
        const std::optional<bool> done = TryAgent();
        if (!done || *done)
            return done.value_or(false);
    }
    if (!tried)
        return Fail(QStringLiteral("No key to log in with: none of ~/.ssh/id_ed25519, id_ecdsa, id_rsa exists and "
                                   "no ssh-agent is running"));
    return Fail(QStringLiteral("The server accepted none of the keys for user '%1'").arg(m_login.user));
}

// Returns true when the key logged in, false when the server refused it or (for a default key)
// it could not be read, nullopt when the session failed.
std::optional<bool> TSshSession::TryKeyFile(const QString &path, bool named)
{
    if (named && !QFileInfo::exists(path)) {
        Fail(QStringLiteral("Key file %1 does not exist").arg(PrintableText(path)));
        return std::nullopt;
    }
    const QByteArray passphrase = m_login.password.toUtf8();
    ssh_key raw = nullptr;
    if (ssh_pki_import_privkey_file(QFile::encodeName(path).constData(),
                                    passphrase.isEmpty() ? nullptr : passphrase.constData(), nullptr, nullptr,
                                    &raw) != SSH_OK) {
        const QString text = QStringLiteral("Key file %1 cannot be read (wrong passphrase, or not a private key)")
                                 .arg(PrintableText(path));
        if (named) {
            Fail(text);
            return std::nullopt;
        }
        Display(text);
        return false;
    }
    const KeyPtr key(raw);
    Display(QStringLiteral("Authenticating as %1 with key %2").arg(m_login.user, path));
    ssh_session session = m_session->handle;
    const int rc = Drive([&] { return ssh_userauth_publickey(session, nullptr, key.get()); }, SSH_AUTH_AGAIN, m_ticks);
    if (rc == SSH_AUTH_PARTIAL) {
        Fail(QStringLiteral("The server asks for a further way to log in after the key"));
        return std::nullopt;
    }
    return KeyOutcome(rc, QStringLiteral("The server refused the key"), QStringLiteral("Authentication failed: "));
}

// The agent is asked over its local socket, which answers at once; the server's part of each
// key's trial runs through the countdown like every other step.
std::optional<bool> TSshSession::TryAgent()
{
    Display(QStringLiteral("Authenticating as %1 with the keys of the ssh-agent").arg(m_login.user));
    ssh_session session = m_session->handle;
    const int rc = Drive([session] { return ssh_userauth_agent(session, nullptr); }, SSH_AUTH_AGAIN, m_ticks);
    return KeyOutcome(rc, QStringLiteral("The server refused the keys of the ssh-agent"),
                      QStringLiteral("Authentication with the ssh-agent failed: "));
}

// What a trial of keys came to: true when the server took one, false (after showing refused) when
// it refused them, so that the next may be tried; nothing when the log-in failed.
std::optional<bool> TSshSession::KeyOutcome(int rc, const QString &refused, const QString &failed)
{
    if (rc == SSH_AUTH_SUCCESS)
        return true;
    if (rc == SSH_AUTH_DENIED) {
        Display(refused);
        return false;
    }
    if (rc == SSH_AUTH_AGAIN)
        Fail(QStringLiteral("Authentication did not end within %1 seconds").arg(m_ticks));
    else
        Fail(failed + LibraryError());
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// The channel

bool TSshSession::OpenChannel()
{
    ssh_session session = m_session->handle;
    m_channel = std::make_unique<TLibsshChannel>(ssh_channel_new(session));
    ssh_channel channel = m_channel->handle;
    if (!channel)
        return Fail(QStringLiteral("Cannot set up an SSH channel: ") + LibraryError());
    int rc = Drive([channel] { return ssh_channel_open_session(channel); }, SSH_AGAIN, m_ticks);
    if (rc == SSH_OK)
        rc = Drive([channel] { return ssh_channel_request_subsystem(channel, "sftp"); }, SSH_AGAIN, m_ticks);
    if (rc == SSH_AGAIN)
        return Fail(QStringLiteral("The server did not open the SFTP channel within %1 seconds").arg(m_ticks));
    if (rc != SSH_OK)
        return Fail(QStringLiteral("The server did not open the SFTP channel: ") + LibraryError());
    m_channelOpen = true;
    Display(QStringLiteral("SFTP channel open"));
    return true;
}

void TSshSession::Send(const QByteArray &bytes)
{
    if (m_outgoingSent > 0) {
        m_outgoing.remove(0, m_outgoingSent);
        m_outgoingSent = 0;
    }
    m_outgoing.append(bytes);
    if (Alive())
        WriteOut();
}

bool TSshSession::SendPending() const
{
    return m_outgoingSent < m_outgoing.size() || m_backlog;
}

TSshSession::TEnd TSshSession::WaitUntil(const std::function<bool()> &done, std::int32_t ticks)
{
    bool isDone = false;
    const auto check = [&] {
        Pump();
        isDone = done();
        return isDone || !Alive();
    };
    if (!check())
        RunCountdown(ticks, check);
    if (isDone)
        return TEnd::Done;
    return Alive() ? TEnd::TimedOut : TEnd::Lost;
}

void TSshSession::Watch(std::function<void()> step)
{
    m_step = [this, step = std::move(step)] {
        Pump();
        step();
        return false;
    };
    Arm();
}

void TSshSession::Unwatch()
{
    m_step = nullptr;
    Disarm();
}

bool TSshSession::StillAlive()
{
    Pump();
    return Alive();
}

QString TSshSession::LostReason() const
{
    return m_lostReason;
}

// ---------------------------------------------------------------------------------------------
// Waiting and moving bytes

int TSshSession::Drive(const std::function<int()> &call, int again, std::int32_t ticks)
{
    int result = call();
    if (result != again)
        return result;
    RunCountdown(ticks, [&] {
        result = call();
        return result != again;
    });
    return result;
}

bool TSshSession::RunCountdown(std::int32_t ticks, const std::function<bool()> &step)
{
    QPointer<TWait> wait = m_wait;
    if (!wait || m_cancelled)
        return false;
    m_step = step;
    m_stepDone = false;
    m_counting = true;
    const auto end = qScopeGuard([&] {
        m_counting = false;
        m_step = nullptr;
        Disarm();
    });
    // What libssh took in before the countdown started comes first.
    if (Settle()) {
        m_stepDone = true;
        return true;
    }
    Arm();
    if (m_lost && step()) {
        m_stepDone = true;
        return true;
    }
    wait->SetCaption(QString::number(ticks));
    wait->Execute();
    return m_stepDone;
}

void TSshSession::Kick()
{
    Disarm();
    RunStep();
}

void TSshSession::RunStep()
{
    if (!m_step)
        return;
    bool finished = m_step() || Settle();
    if (!finished) {
        Arm();
        // A loss brings no further readiness: the step must see it now.
        if (m_lost)
            finished = m_step();
    }
    if (finished) {
        m_stepDone = true;
        if (m_counting && m_wait)
            m_wait->Stop();
    }
}

// Sending lets libssh read from the socket too. What it took in no readiness of the socket will
// announce, so the step runs again while libssh holds something for it; after enough passes the
// rest waits for the next turn of the event loop, so events keep flowing.
bool TSshSession::Settle()
{
    for (int pass = 0; HasWaiting(); ++pass) {
        if (pass == kMaxPasses) {
            QTimer::singleShot(0, this, [this] { Guarded([this] { Kick(); }); });
            return false;
        }
        if (m_step())
            return true;
    }
    return false;
}

bool TSshSession::HasWaiting() const
{
    if (!m_channelOpen || m_lost)
        return false;
    // Data, or an end of the channel to notice.
    if (ssh_channel_poll(m_channel->handle, 0) != 0)
        return true;
    return m_outgoingSent < m_outgoing.size() && ssh_channel_window_size(m_channel->handle) > 0;
}

// Reading is always watched; writing only while libssh holds bytes the socket has not taken,
// since a socket with room would otherwise report itself ready without end. Arming reads and
// writes nothing itself, so nothing arrives unseen.
void TSshSession::Arm()
{
    if (!m_step || m_lost)
        return;
    if (!m_session) {
        if (m_writeNotifier)
            m_writeNotifier->setEnabled(true);
        return;
    }
    // Until the channel is open, libssh's own calls run each time and poll the socket: its
    // flags say whether it waits to write.
    const bool write = m_channelOpen ? m_backlog : (ssh_get_poll_flags(m_session->handle) & SSH_WRITE_PENDING) != 0;
    m_readNotifier->setEnabled(true);
    m_writeNotifier->setEnabled(write);
}

void TSshSession::Disarm()
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

void TSshSession::Pump()
{
    if (!Alive())
        return;
    WriteOut();
    ReadIn();
    // Reading may have queued a window adjustment for the server.
    Flush();
}

void TSshSession::WriteOut()
{
    ssh_channel channel = m_channel->handle;
    while (m_outgoingSent < m_outgoing.size() && !m_lost) {
        const std::uint32_t window = ssh_channel_window_size(channel);
        if (window == 0)
            break;
        const auto length = static_cast<std::uint32_t>(
            std::min<qsizetype>(m_outgoing.size() - m_outgoingSent, static_cast<qsizetype>(window)));
        const int written = ssh_channel_write(channel, m_outgoing.constData() + m_outgoingSent, length);
        if (written < 0) {
            Lose(LibraryError());
            return;
        }
        if (written == 0)
            break;
        m_outgoingSent += written;
    }
    if (m_outgoingSent == m_outgoing.size()) {
        m_outgoing.resize(0);
        m_outgoingSent = 0;
    }
    Flush();
}

// libssh sends only the first of several packets at once and keeps the rest for the next time
// its socket is polled: this is that time.
void TSshSession::Flush()
{
    if (m_lost)
        return;
    const int flushed = ssh_blocking_flush(m_session->handle, 0);
    if (flushed == SSH_ERROR)
        Lose(LibraryError());
    m_backlog = flushed == SSH_AGAIN;
}

void TSshSession::ReadIn()
{
    ssh_channel channel = m_channel->handle;
    std::array<char, kReadChunk> chunk;
    while (!m_lost) {
        const int n = ssh_channel_read_nonblocking(channel, chunk.data(), chunk.size(), 0);
        if (n > 0) {
            m_received.append(chunk.data(), n);
            continue;
        }
        if (n == SSH_EOF)
            Lose(QStringLiteral("the server closed the SFTP channel"));
        else if (n < 0)
            Lose(LibraryError());
        break;
    }
    if (!m_lost && (!ssh_is_connected(m_session->handle) || ssh_channel_is_closed(channel)))
        Lose(LibraryError());
}

void TSshSession::Lose(const QString &why)
{
    if (m_lost)
        return;
    m_lost = true;
    m_lostReason = why.isEmpty() ? QStringLiteral("the connection closed") : why;
    Display(QStringLiteral("Connection lost: ") + m_lostReason);
    Disarm();
}

bool TSshSession::Fail(const QString &text)
{
    // A cancelled wait failed for that reason alone, whatever the step would say.
    if (m_cancelled) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("Cancelled by the user");
        return false;
    }
    if (m_error.isEmpty())
        m_error = text;
    Display(text);
    return false;
}

QString TSshSession::LibraryError() const
{
    return m_session ? PrintableBytes(ssh_get_error(m_session->handle)) : QString();
}

void TSshSession::Display(const QString &line) const
{
    if (m_display)
        m_display(line);
}

} // namespace quelmark
