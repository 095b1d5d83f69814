// The client's TLS session against an OpenSSL server in memory: which certificates pass the check
// and why the others fail, the fingerprint texts, the floor of TLS 1.2, and which of the bytes
// written a peer has taken once it acknowledged a given number of encrypted bytes.
#include "net/TlsSession.h"

#include "tests/support/Printing.h"
#include "tests/support/TestCertificates.h"

#include <QFile>

#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

using namespace quelmark;
using quelmark::test::Certificates;
using quelmark::test::TestCertificate;

namespace {

// The server's side of one connection, on memory buffers.
class Server {
public:
    explicit Server(const TestCertificate &certificate, int maxVersion = 0) : m_ctx(SSL_CTX_new(TLS_server_method()))
    {
        if (maxVersion != 0) {
            // Old versions need the lowest security level to be offered at all.
            SSL_CTX_set_security_level(m_ctx, 0);
            SSL_CTX_set_min_proto_version(m_ctx, TLS1_VERSION);
            SSL_CTX_set_max_proto_version(m_ctx, maxVersion);
        }
        EXPECT_EQ(SSL_CTX_use_certificate_chain_file(m_ctx, QFile::encodeName(certificate.certificate).constData()), 1);
        EXPECT_EQ(SSL_CTX_use_PrivateKey_file(m_ctx, QFile::encodeName(certificate.key).constData(), SSL_FILETYPE_PEM),
                  1);
        m_ssl = SSL_new(m_ctx);
        m_in = BIO_new(BIO_s_mem());
        m_out = BIO_new(BIO_s_mem());
        SSL_set_bio(m_ssl, m_in, m_out);
        SSL_set_accept_state(m_ssl);
    }
    ~Server()
    {
        SSL_free(m_ssl);
        SSL_CTX_free(m_ctx);
    }

    // Takes what the client sent, answers it and hands the answer over.
    void Exchange(TTlsSession &client)
    {
        const QByteArrayView sent = client.PendingCipher();
        BIO_write(m_in, sent.data(), static_cast<int>(sent.size()));
        client.TakeCipher(sent.size());
        SSL_do_handshake(m_ssl);
        ERR_clear_error();
        char chunk[16384];
        int n = 0;
        while ((n = BIO_read(m_out, chunk, sizeof chunk)) > 0)
            client.PutCipher(chunk, n);
    }
    // Decrypts everything the client sent.
    QByteArray Received(TTlsSession &client)
    {
        Exchange(client);
        QByteArray plain;
        char chunk[4096];
        int n = 0;
        while ((n = SSL_read(m_ssl, chunk, sizeof chunk)) > 0)
            plain.append(chunk, n);
        return plain;
    }

private:
    SSL_CTX *m_ctx;
    SSL *m_ssl = nullptr;
    BIO *m_in = nullptr;
    BIO *m_out = nullptr;
};

TTlsSession::TStep Handshake(TTlsSession &client, Server &server)
{
    for (int round = 0; round < 10; ++round) {
        const TTlsSession::TStep step = client.Handshake();
        server.Exchange(client);
        if (step != TTlsSession::TStep::Again)
            return step;
    }
    return TTlsSession::TStep::Again;
}

std::shared_ptr<TTlsContext> Context(const QString &caFile)
{
    QString error;
    std::shared_ptr<TTlsContext> context = TTlsContext::Make(caFile, error);
    EXPECT_TRUE(context) << error.toStdString();
    return context;
}

QByteArray Digest(const QString &fingerprint)
{
    return QByteArray::fromHex(fingerprint.toLatin1().replace(':', ""));
}

} // namespace

TEST(TlsSession, ParseFingerprintTakesPairsWithOrWithoutColonsAndNothingElse)
{
    const QString pairs = Certificates().selfSigned.fingerprint;
    const QByteArray digest = Digest(pairs);
    ASSERT_EQ(digest.size(), 32);
    struct Row {
        QString text;
        bool valid;
    };
    const Row rows[] = {
        {pairs, true},
        {pairs.toLower(), true},
        {QString(pairs).remove(QLatin1Char(':')), true},
        {QStringLiteral("  ") + pairs + QStringLiteral(" "), true},
        {pairs.left(pairs.size() - 3), false},
        {pairs + QStringLiteral(":00"), false},
        {QString(pairs).replace(0, 1, QLatin1Char('G')), false},
        {QString(pairs).remove(0, 1).insert(2, QLatin1Char('A')), false}, // "BA:C:..." pairs broken up
        {QString(pairs).replace(QLatin1Char(':'), QLatin1Char('-')), false},
        {QString(), false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        const std::optional<QByteArray> parsed = ParseFingerprint(row.text);
        EXPECT_EQ(parsed.has_value(), row.valid);
        if (row.valid && parsed) {
            EXPECT_EQ(*parsed, digest);
        }
    }
    EXPECT_EQ(FingerprintText(digest), pairs);
}

TEST(TlsSession, ServerCertificatesPassOnlyWithTheirCaAndHostOrTheirFingerprint)
{
    const auto &c = Certificates();
    using Trust = TTlsSession::TTrust;
    struct Row {
        const char *what;
        TestCertificate certificate;
        QString host;
        bool withCa;
        QString trusted;
        Trust trust;
        QString reason; // when it fails
    };
    const Row rows[] = {
        {"by name", c.server, "localhost", true, {}, Trust::Verified, {}},
        {"by IPv4 address", c.server, "127.0.0.1", true, {}, Trust::Verified, {}},
        {"by IPv6 address", c.server, "::1", true, {}, Trust::Verified, {}},
        {"CA unknown", c.server, "localhost", false, {}, Trust::None, "unable to get local issuer certificate"},
        {"self-signed", c.selfSigned, "localhost", true, {}, Trust::None, "self-signed certificate"},
        {"self-signed, its fingerprint",
         c.selfSigned,
         "localhost",
         true,
         c.selfSigned.fingerprint,
         Trust::TrustedByFingerprint,
         {}},
        {"self-signed, another fingerprint", c.selfSigned, "localhost", true, c.server.fingerprint, Trust::None,
         "self-signed certificate"},
        {"expired", c.expired, "localhost", true, {}, Trust::None, "certificate has expired"},
        {"expired, its fingerprint",
         c.expired,
         "localhost",
         true,
         c.expired.fingerprint,
         Trust::TrustedByFingerprint,
         {}},
        {"another host name",
         c.wrongHost,
         "localhost",
         true,
         {},
         Trust::None,
         "hostname mismatch: it is not issued for localhost"},
        {"another address",
         c.wrongHost,
         "127.0.0.1",
         true,
         {},
         Trust::None,
         "IP address mismatch: it is not issued for 127.0.0.1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Server server(row.certificate);
        TTlsSession client(Context(row.withCa ? c.caFile : QString()), {row.host, Digest(row.trusted)});
        const TTlsSession::TStep step = Handshake(client, server);
        EXPECT_EQ(client.Trust(), row.trust);
        EXPECT_EQ(client.Fingerprint(), row.certificate.fingerprint);
        if (row.trust != Trust::None) {
            EXPECT_EQ(step, TTlsSession::TStep::Done) << client.Error().toStdString();
            EXPECT_TRUE(client.Summary().endsWith(
                row.trust == Trust::Verified ? QLatin1String("certificate CN=localhost,O=Quelmark tests (verified)")
                                             : QLatin1String("(trusted by fingerprint)")))
                << client.Summary().toStdString();
            continue;
        }
        EXPECT_EQ(step, TTlsSession::TStep::Failed);
        ASSERT_TRUE(client.Problem());
        EXPECT_EQ(client.Problem()->reason, row.reason);
        EXPECT_EQ(client.Problem()->fingerprint, row.certificate.fingerprint);
        EXPECT_TRUE(client.Error().startsWith(QStringLiteral("The server's certificate is not trusted: ") + row.reason))
            << client.Error().toStdString();
        EXPECT_TRUE(client.Error().endsWith(QStringLiteral("SHA-256 fingerprint: ") + row.certificate.fingerprint));
    }
}

TEST(TlsSession, ProblemNamesSubjectIssuerAndValidity)
{
    const auto &c = Certificates();
    Server server(c.expired);
    TTlsSession client(Context(c.caFile), {QStringLiteral("localhost"), {}});
    ASSERT_EQ(Handshake(client, server), TTlsSession::TStep::Failed);
    ASSERT_TRUE(client.Problem());
    const TCertificateProblem &problem = *client.Problem();
    EXPECT_EQ(problem.subject, QStringLiteral("CN=localhost,O=Quelmark tests"));
    EXPECT_EQ(problem.issuer, QStringLiteral("CN=Quelmark Test CA,O=Quelmark tests"));
    const QDateTime now = QDateTime::currentDateTimeUtc();
    EXPECT_LE(std::abs(problem.notBefore.secsTo(now.addDays(-60))), 120);
    EXPECT_LE(std::abs(problem.notAfter.secsTo(now.addDays(-30))), 120);
    EXPECT_EQ(problem.notAfter.timeSpec(), Qt::UTC);
    const QString until = problem.notAfter.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) + QStringLiteral(" UTC");
    EXPECT_TRUE(client.Error().contains(QStringLiteral("Subject: CN=localhost,O=Quelmark tests; issuer: CN=Quelmark "
                                                       "Test CA,O=Quelmark tests; valid from ")))
        << client.Error().toStdString();
    EXPECT_TRUE(client.Error().contains(QStringLiteral(" to ") + until)) << client.Error().toStdString();
}

TEST(TlsSession, ServerOfferingOnlyTls11IsRefused)
{
    Server server(Certificates().server, TLS1_1_VERSION);
    TTlsSession client(Context(Certificates().caFile), {QStringLiteral("localhost"), {}});
    EXPECT_EQ(Handshake(client, server), TTlsSession::TStep::Failed);
    EXPECT_TRUE(client.Error().startsWith(QLatin1String("The TLS handshake failed: "))) << client.Error().toStdString();
    EXPECT_FALSE(client.Problem());
}

TEST(TlsSession, CaFileThatCannotBeReadIsNamed)
{
    QString error;
    EXPECT_FALSE(TTlsContext::Make(QStringLiteral("/nonexistent/ca.pem"), error));
    EXPECT_TRUE(error.startsWith(QLatin1String("Cannot read the CA file '/nonexistent/ca.pem': ")))
        << error.toStdString();
    EXPECT_FALSE(TTlsContext::Make(Certificates().server.key, error)) << "a key is no CA certificate";
}

// The peer can decrypt a record only whole: a byte counts as taken once every encrypted byte of
// its record was acknowledged, and the handshake's bytes before them count for nothing.
TEST(TlsSession, PlainBytesCountAsTakenOnlyWithTheirWholeRecord)
{
    Server server(Certificates().server);
    TTlsSession client(Context(Certificates().caFile), {QStringLiteral("localhost"), {}});
    ASSERT_EQ(Handshake(client, server), TTlsSession::TStep::Done) << client.Error().toStdString();
    const std::int64_t start = client.CipherTaken();
    const QByteArray block(1024, 'x');
    // Nothing is sent in between: where each record ends shows in the output that waits.
    std::vector<std::int64_t> ends;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client.WritePlain(block.constData(), block.size()));
        ends.push_back(start + client.PendingCipher().size());
    }
    ASSERT_GT(ends[0] - start, 1024) << "a record carries more than its plaintext";
    const struct {
        std::int64_t acknowledged;
        std::int64_t taken;
    } rows[] = {
        {start, 0}, {ends[0] - 1, 0}, {ends[0], 1024}, {ends[1] - 1, 1024}, {ends[1], 2048}, {ends[2], 3072},
    };
    for (const auto &row : rows)
        EXPECT_EQ(client.PlainCarriedBy(row.acknowledged), row.taken) << row.acknowledged - start;
    EXPECT_EQ(client.PlainWritten(), 3072);
    EXPECT_EQ(server.Received(client), block.repeated(3));
}
