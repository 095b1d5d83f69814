// The client side of TLS (RFC 8446, RFC 5246) for one connection of the event-driven socket, and
// the check of the server's certificate.
//
// A session never touches a descriptor: the socket hands it the bytes that came from the network
// and sends the bytes it produces, so nothing here can block and the socket keeps its one path to
// the platform. The server's certificate must chain to the system's CA store (or to a CA file)
// and name the host that was asked for; a certificate that fails that is still accepted when its
// SHA-256 fingerprint is the one the user said to trust. Anything older than TLS 1.2 is refused.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;
struct x509_store_ctx_st;

namespace quelmark {

// Why a server certificate failed the check, in the user's terms.
enum class TCertificateFault {
    SelfSigned,    // signed by itself (or its chain ends in a certificate signed by itself)
    Expired,       // past its validity
    NotYetValid,   // before its validity
    OtherName,     // issued for another host name or address
    UnknownIssuer, // signed by an authority this machine does not know
    Other,
};

// What the window shows of a server certificate that failed the check, so the user can decide
// whether to trust it.
struct TCertificateProblem {
    QString subject;     // the certificate's subject, RFC 2253 ("CN=ftp.example.org,O=Example")
    QString issuer;      // its issuer, in the same form
    QDateTime notBefore; // the validity dates, in UTC
    QDateTime notAfter;
    QString reason;      // why the check failed ("certificate has expired")
    QString fingerprint; // SHA-256 of the certificate, hex pairs separated by ':'
    TCertificateFault fault = TCertificateFault::Other;
};

// Returns the one-line text of a failed check: the reason, subject, issuer, validity dates and
// fingerprint.
QString CertificateProblemText(const TCertificateProblem &problem);

// Returns a SHA-256 digest as upper-case hex pairs separated by ':'.
QString FingerprintText(QByteArrayView digest);

// Reads a SHA-256 fingerprint: 64 hex digits, in pairs separated by ':' or not at all, either
// case. Nothing for anything else.
std::optional<QByteArray> ParseFingerprint(const QString &text);

// Settings shared by the TLS connections of one FTP session: TLS 1.2 or later, and the CAs that
// vouch for a server.
class TTlsContext {
public:
    // Makes the settings with the system's CA store and, when caFile is not empty, the
    // certificates in that PEM file. Nothing when the file cannot be read; error then says why.
    static std::shared_ptr<TTlsContext> Make(const QString &caFile, QString &error);
    ~TTlsContext();
    TTlsContext(const TTlsContext &) = delete;
    TTlsContext &operator=(const TTlsContext &) = delete;

    ssl_ctx_st *Handle() const { return m_ctx; }

private:
    explicit TTlsContext(ssl_ctx_st *ctx) : m_ctx(ctx) {}
    ssl_ctx_st *m_ctx;
};

// The server a connection must reach: the host name or address the user gave, and the
// fingerprint of a certificate to accept although it fails the check (32 bytes, or empty).
struct TTlsPeer {
    QString host;
    QByteArray trustedFingerprint;
};

class TTlsSession {
public:
    enum class TStep : std::uint8_t { Again, Done, Failed };
    // How the server's certificate was accepted.
    enum class TTrust : std::uint8_t { None, Verified, TrustedByFingerprint };

    // Starts a client session; resumeFrom offers that session's TLS session for resumption, as
    // servers that tie the data connections to the control connection require.
    TTlsSession(std::shared_ptr<TTlsContext> context, const TTlsPeer &peer, const TTlsSession *resumeFrom = nullptr);
    ~TTlsSession();
    TTlsSession(const TTlsSession &) = delete;
    TTlsSession &operator=(const TTlsSession &) = delete;

    // Takes bytes that came from the network.
    void PutCipher(const char *bytes, std::int64_t count);
    // Notes that the network connection ended; what the session still holds is read to its end.
    void PutEndOfStream();
    bool EndOfStream() const { return m_endOfStream; }
    // Returns how many received bytes the session holds unprocessed.
    std::int64_t HeldCipher() const;
    // The bytes to send to the network, and taking count of them once the platform took them.
    QByteArrayView PendingCipher() const;
    void TakeCipher(std::int64_t count);

    // Takes the handshake as far as the bytes at hand allow. Done once the server's certificate
    // passed; Failed with Error() (and Problem() for a certificate that did not pass).
    TStep Handshake();
    // Encrypts the bytes as one record (at most 16384 of them); false when the session failed.
    bool WritePlain(const char *bytes, std::int64_t count);
    // Result of a read of decrypted bytes.
    enum class TRead : std::uint8_t { Bytes, Again, End, Failed };
    struct TReadResult {
        TRead kind = TRead::Again;
        std::int64_t bytes = 0;
    };
    // Reads (or, with peek, looks at) decrypted bytes. End once the server ended its side, with
    // close_notify or by closing the connection.
    TReadResult ReadPlain(char *buffer, std::int64_t count, bool peek);
    // Returns how many decrypted bytes can be read at once, processing what has arrived.
    std::int64_t PlainWaiting();
    // Queues close_notify, which tells the server that nothing more follows. Once only.
    void Shutdown();
    bool ShutdownSent() const;

    // Returns how many of the bytes given to WritePlain went out in records whose every byte lies
    // within the first cipherCount bytes sent. The peer can take a record only whole, so this is
    // what it has taken once it acknowledged cipherCount bytes.
    std::int64_t PlainCarriedBy(std::int64_t cipherCount);
    std::int64_t PlainWritten() const { return m_plainWritten; }
    std::int64_t CipherTaken() const { return m_cipherTaken; }

    QString Error() const { return m_error; }
    const std::optional<TCertificateProblem> &Problem() const { return m_problem; }
    TTrust Trust() const { return m_trust; }
    // Returns "TLSv1.3, TLS_AES_256_GCM_SHA384, certificate CN=... (verified)".
    QString Summary() const;
    // Returns the SHA-256 fingerprint of the server's certificate, hex pairs separated by ':'.
    QString Fingerprint() const { return FingerprintText(m_fingerprint); }

private:
    // One record: where its last byte lies in the cipher stream and in the plaintext.
    struct TRecordEnd {
        std::int64_t cipherEnd;
        std::int64_t plainEnd;
    };

    static int VerifyCallback(int ok, x509_store_ctx_st *store);
    void CollectCipher();
    bool CheckPeer();
    void Fail(const QString &text);

    std::shared_ptr<TTlsContext> m_context;
    TTlsPeer m_peer;
    ssl_st *m_ssl = nullptr;
    bio_st *m_in = nullptr;  // received bytes, read by the session; owned by m_ssl
    bio_st *m_out = nullptr; // bytes to send, written by the session; owned by m_ssl
    std::vector<char> m_cipherOut;
    std::size_t m_cipherOutStart = 0;
    std::int64_t m_cipherProduced = 0;
    std::int64_t m_cipherTaken = 0;
    std::int64_t m_plainWritten = 0;
    std::int64_t m_plainCarried = 0;
    std::deque<TRecordEnd> m_records;
    bool m_endOfStream = false;
    // The first error the certificate check met (0: none); later ones follow from it.
    int m_firstError = 0;
    QByteArray m_fingerprint;
    TTrust m_trust = TTrust::None;
    QString m_error;
    std::optional<TCertificateProblem> m_problem;
};

} // namespace quelmark
