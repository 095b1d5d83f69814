#include "net/TlsSession.h"

#include "base/Printable.h"
#include "net/SocketAddress.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <ctime>

namespace quelmark {

namespace {

constexpr int kFingerprintBytes = 32;

// Where each SSL object keeps a pointer back to its session, for the verify callback.
int SessionIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// The reason of the oldest error in the library's queue, which is the one that started it.
QString OldestSslError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    return reason ? QString::fromUtf8(reason) : QStringLiteral("unknown error");
}

QString NameText(const X509_NAME *name)
{
    BIO *bio = BIO_new(BIO_s_mem());
    if (!bio)
        return {};
    // RFC 2253 keeps characters beyond ASCII as UTF-8 here; the server chose them, so none of
    // them may act where the name is shown.
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    const QString text = PrintableBytes(QByteArrayView(data, length));
    BIO_free(bio);
    return text;
}

QDateTime TimeOf(const ASN1_TIME *time)
{
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return {};
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

QString DateText(const QDateTime &time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral(" UTC")
                          : QStringLiteral("(unknown)");
}

// The host as the certificate check wants it: an address without brackets or zone, or a name.
QByteArray HostForCheck(const QString &host, bool &numeric)
{
    QByteArray bytes = host.trimmed().toUtf8();
    if (bytes.startsWith('[') && bytes.endsWith(']'))
        bytes = bytes.mid(1, bytes.size() - 2);
    numeric = NumericAddress(bytes).has_value();
    if (numeric && bytes.contains('%'))
        bytes.truncate(bytes.indexOf('%'));
    return bytes;
}

TCertificateFault FaultOf(long result)
{
    switch (result) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return TCertificateFault::SelfSigned;
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return TCertificateFault::Expired;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TCertificateFault::NotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TCertificateFault::OtherName;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return TCertificateFault::UnknownIssuer;
    default:
        return TCertificateFault::Other;
    }
}

} // namespace

QString CertificateProblemText(const TCertificateProblem &problem)
{
    return QStringLiteral("The server's certificate is not trusted: %1. Subject: %2; issuer: %3; valid from %4 to %5; "
                          "SHA-256 fingerprint: %6")
        .arg(problem.reason, problem.subject, problem.issuer, DateText(problem.notBefore), DateText(problem.notAfter),
             problem.fingerprint);
}

QString FingerprintText(QByteArrayView digest)
{
    return QString::fromLatin1(digest.toByteArray().toHex(':').toUpper());
}

std::optional<QByteArray> ParseFingerprint(const QString &text)
{
    const QString trimmed = text.trimmed();
    QString digits = trimmed;
    if (trimmed.contains(QLatin1Char(':'))) {
        // Pairs separated by ':' throughout, or no separator at all: "AB:CD" or "ABCD".
        const QStringList pairs = trimmed.split(QLatin1Char(':'));
        for (const QString &pair : pairs) {
            if (pair.size() != 2)
                return std::nullopt;
        }
        digits = pairs.join(QString());
    }
    if (digits.size() != 2 * kFingerprintBytes)
        return std::nullopt;
    for (const QChar c : digits) {
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F'))))
            return std::nullopt;
    }
    return QByteArray::fromHex(digits.toLatin1());
}

// ---------------------------------------------------------------------------------------------
// Context

std::shared_ptr<TTlsContext> TTlsContext::Make(const QString &caFile, QString &error)
{
    ERR_clear_error();
    SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        error = QStringLiteral("Cannot set up TLS: ") + OldestSslError();
        return nullptr;
    }
    std::shared_ptr<TTlsContext> context(new TTlsContext(ctx));
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION);
    // The system's CAs come from the hashed folder, each read when a chain needs it: reading the
    // whole bundle would cost tens of milliseconds for every session. A machine without a CA store
    // may still trust a CA file or a fingerprint.
    const char *folder = std::getenv(X509_get_default_cert_dir_env());
    SSL_CTX_load_verify_dir(ctx, folder ? folder : X509_get_default_cert_dir());
    if (const char *bundle = std::getenv(X509_get_default_cert_file_env()))
        SSL_CTX_load_verify_file(ctx, bundle);
    ERR_clear_error();
    if (!caFile.isEmpty()) {
        const QByteArray path = QFile::encodeName(caFile);
        if (SSL_CTX_load_verify_locations(ctx, path.constData(), nullptr) != 1) {
            error = QStringLiteral("Cannot read the CA file '%1': %2").arg(PrintableText(caFile), OldestSslError());
            return nullptr;
        }
    }
    return context;
}

TTlsContext::~TTlsContext()
{
    SSL_CTX_free(m_ctx);
}

// ---------------------------------------------------------------------------------------------
// Session

TTlsSession::TTlsSession(std::shared_ptr<TTlsContext> context, const TTlsPeer &peer, const TTlsSession *resumeFrom)
    : m_context(std::move(context)), m_peer(peer)
{
    ERR_clear_error();
    m_ssl = SSL_new(m_context->Handle());
    m_in = BIO_new(BIO_s_mem());
    m_out = BIO_new(BIO_s_mem());
    if (!m_ssl || !m_in || !m_out) {
        BIO_free(m_in);
        BIO_free(m_out);
        m_in = m_out = nullptr;
        Fail(QStringLiteral("Cannot set up TLS: ") + OldestSslError());
        return;
    }
    // An empty input asks for more instead of reading as the end, until the network says so.
    BIO_set_mem_eof_return(m_in, -1);
    SSL_set_bio(m_ssl, m_in, m_out);
    SSL_set_connect_state(m_ssl);
    SSL_set_ex_data(m_ssl, SessionIndex(), this);
    SSL_set_verify(m_ssl, SSL_VERIFY_PEER, &VerifyCallback);
    bool numeric = false;
    const QByteArray host = HostForCheck(m_peer.host, numeric);
    X509_VERIFY_PARAM *param = SSL_get0_param(m_ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (numeric) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.constData());
    } else {
        // RFC 6066: the name tells a server with several sites which certificate to present.
        SSL_set_tlsext_host_name(m_ssl, host.constData());
        SSL_set1_host(m_ssl, host.constData());
    }
    if (resumeFrom && resumeFrom->m_ssl) {
        if (SSL_SESSION *session = SSL_get1_session(resumeFrom->m_ssl)) {
            SSL_set_session(m_ssl, session);
            SSL_SESSION_free(session);
        }
    }
}

TTlsSession::~TTlsSession()
{
    SSL_free(m_ssl);
}

// The handshake goes on whatever the chain: the decision falls after it, where a trusted
// fingerprint can still accept the certificate. Nothing of the user's is sent before then.
int TTlsSession::VerifyCallback(int ok, x509_store_ctx_st *store)
{
    if (ok)
        return 1;
    auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto *session = ssl ? static_cast<TTlsSession *>(SSL_get_ex_data(ssl, SessionIndex())) : nullptr;
    if (session && session->m_firstError == 0)
        session->m_firstError = X509_STORE_CTX_get_error(store);
    return 1;
}

void TTlsSession::PutCipher(const char *bytes, std::int64_t count)
{
    if (m_in && count > 0)
        BIO_write(m_in, bytes, static_cast<int>(count));
}

void TTlsSession::PutEndOfStream()
{
    m_endOfStream = true;
    if (m_in)
        BIO_set_mem_eof_return(m_in, 0);
}

std::int64_t TTlsSession::HeldCipher() const
{
    return m_in ? static_cast<std::int64_t>(BIO_ctrl_pending(m_in)) : 0;
}

QByteArrayView TTlsSession::PendingCipher() const
{
    return QByteArrayView(m_cipherOut.data() + m_cipherOutStart,
                          static_cast<qsizetype>(m_cipherOut.size() - m_cipherOutStart));
}

void TTlsSession::TakeCipher(std::int64_t count)
{
    m_cipherOutStart += static_cast<std::size_t>(count);
    m_cipherTaken += count;
    if (m_cipherOutStart >= m_cipherOut.size()) {
        m_cipherOut.clear();
        m_cipherOutStart = 0;
    }
}

void TTlsSession::CollectCipher()
{
    if (!m_out)
        return;
    const std::size_t pending = BIO_ctrl_pending(m_out);
    if (pending == 0)
        return;
    const std::size_t old = m_cipherOut.size();
    m_cipherOut.resize(old + pending);
    BIO_read(m_out, m_cipherOut.data() + old, static_cast<int>(pending));
    m_cipherProduced += static_cast<std::int64_t>(pending);
}

TTlsSession::TStep TTlsSession::Handshake()
{
    if (!m_error.isEmpty())
        return TStep::Failed;
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl);
    CollectCipher();
    if (result == 1)
        return CheckPeer() ? TStep::Done : TStep::Failed;
    const int error = SSL_get_error(m_ssl, result);
    if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && !m_endOfStream)
        return TStep::Again;
    const unsigned long code = ERR_peek_error();
    // An alert from the server says more than the end of the connection that follows it.
    if (m_endOfStream && (code == 0 || ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
        ERR_clear_error();
        Fail(QStringLiteral("The server closed the connection during the TLS handshake"));
    } else {
        Fail(QStringLiteral("The TLS handshake failed: ") + OldestSslError());
    }
    return TStep::Failed;
}

bool TTlsSession::CheckPeer()
{
    const X509 *leaf = SSL_get0_peer_certificate(m_ssl);
    if (!leaf) {
        Fail(QStringLiteral("The server presented no certificate"));
        return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(leaf, EVP_sha256(), digest, &length);
    m_fingerprint = QByteArray(reinterpret_cast<const char *>(digest), static_cast<qsizetype>(length));
    // A resumed session runs no check of its own and keeps the result of the one it came from.
    const long result = m_firstError != 0 ? m_firstError : SSL_get_verify_result(m_ssl);
    if (result == X509_V_OK) {
        m_trust = TTrust::Verified;
        return true;
    }
    if (!m_peer.trustedFingerprint.isEmpty() && m_peer.trustedFingerprint == m_fingerprint) {
        m_trust = TTrust::TrustedByFingerprint;
        return true;
    }
    TCertificateProblem problem;
    problem.subject = NameText(X509_get_subject_name(leaf));
    problem.issuer = NameText(X509_get_issuer_name(leaf));
    problem.notBefore = TimeOf(X509_get0_notBefore(leaf));
    problem.notAfter = TimeOf(X509_get0_notAfter(leaf));
    problem.reason = QString::fromUtf8(X509_verify_cert_error_string(result));
    if (result == X509_V_ERR_HOSTNAME_MISMATCH || result == X509_V_ERR_IP_ADDRESS_MISMATCH)
        problem.reason += QStringLiteral(": it is not issued for ") + m_peer.host;
    problem.fingerprint = FingerprintText(m_fingerprint);
    problem.fault = FaultOf(result);
    m_problem = problem;
    Fail(CertificateProblemText(problem));
    return false;
}

bool TTlsSession::WritePlain(const char *bytes, std::int64_t count)
{
    if (!m_error.isEmpty())
        return false;
    ERR_clear_error();
    std::size_t written = 0;
    const bool ok = SSL_write_ex(m_ssl, bytes, static_cast<std::size_t>(count), &written) == 1 &&
                    static_cast<std::int64_t>(written) == count;
    CollectCipher();
    if (!ok) {
        Fail(QStringLiteral("TLS failed while sending: ") + OldestSslError());
        return false;
    }
    m_plainWritten += count;
    m_records.push_back({m_cipherProduced, m_plainWritten});
    return true;
}

TTlsSession::TReadResult TTlsSession::ReadPlain(char *buffer, std::int64_t count, bool peek)
{
    if (!m_error.isEmpty())
        return {TRead::Failed, 0};
    ERR_clear_error();
    std::size_t got = 0;
    const auto size = static_cast<std::size_t>(count);
    const int result = peek ? SSL_peek_ex(m_ssl, buffer, size, &got) : SSL_read_ex(m_ssl, buffer, size, &got);
    // Reading may answer the server (a key update), which is sent like any other output.
    CollectCipher();
    if (result == 1)
        return {TRead::Bytes, static_cast<std::int64_t>(got)};
    const int error = SSL_get_error(m_ssl, result);
    if (error == SSL_ERROR_ZERO_RETURN)
        return {TRead::End, 0};
    if (error == SSL_ERROR_WANT_READ && !m_endOfStream)
        return {TRead::Again, 0};
    // The server ended the connection without close_notify: for what it sends this is its end.
    if (m_endOfStream && (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_SYSCALL ||
                          ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
        ERR_clear_error();
        return {TRead::End, 0};
    }
    Fail(QStringLiteral("TLS failed while receiving: ") + OldestSslError());
    return {TRead::Failed, 0};
}

std::int64_t TTlsSession::PlainWaiting()
{
    if (!m_error.isEmpty())
        return 0;
    char probe = 0;
    const TReadResult peeked = ReadPlain(&probe, 1, true);
    if (peeked.kind != TRead::Bytes)
        return 0;
    return SSL_pending(m_ssl);
}

void TTlsSession::Shutdown()
{
    if (!m_error.isEmpty() || ShutdownSent())
        return;
    ERR_clear_error();
    SSL_shutdown(m_ssl);
    ERR_clear_error();
    CollectCipher();
}

bool TTlsSession::ShutdownSent() const
{
    return m_ssl && (SSL_get_shutdown(m_ssl) & SSL_SENT_SHUTDOWN) != 0;
}

std::int64_t TTlsSession::PlainCarriedBy(std::int64_t cipherCount)
{
    while (!m_records.empty() && m_records.front().cipherEnd <= cipherCount) {
        m_plainCarried = m_records.front().plainEnd;
        m_records.pop_front();
    }
    return m_plainCarried;
}

QString TTlsSession::Summary() const
{
    const X509 *leaf = m_ssl ? SSL_get0_peer_certificate(m_ssl) : nullptr;
    if (!leaf)
        return {};
    return QStringLiteral("%1, %2, certificate %3 (%4)")
        .arg(QString::fromLatin1(SSL_get_version(m_ssl)), QString::fromLatin1(SSL_get_cipher_name(m_ssl)),
             NameText(X509_get_subject_name(leaf)),
             m_trust == TTrust::Verified ? QStringLiteral("verified") : QStringLiteral("trusted by fingerprint"));
}

void TTlsSession::Fail(const QString &text)
{
    if (m_error.isEmpty())
        m_error = text;
}

} // namespace quelmark
