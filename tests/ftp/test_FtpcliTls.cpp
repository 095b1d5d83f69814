// The FTP client over TLS against the scripted server: the commands and lines of a secured
// session in both modes, each way a secured session fails before anything of the user's is sent,
// a certificate trusted by its fingerprint, and the failure's description for the window.
#include "tests/ftp/FtpcliFixture.h"
#include "tests/support/Printing.h"
#include "tests/support/TestCertificates.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quelmark;
using namespace quelmark::test;

namespace {

class FtpcliTls : public FtpcliFixture {
protected:
    void SetUp() override
    {
        FtpcliFixture::SetUp();
        client.Site().tls = true;
        client.Site().caFile = Certificates().caFile;
    }

    void Aim(const ScriptedFtpServer &server) { FtpcliFixture::Aim(server, LocalFile(bytes)); }

    const QByteArray bytes = Pattern(70000);
};

const QString TlsLine = QStringLiteral("TLS: TLSv1.3, ");
const QString Verified = QStringLiteral("certificate CN=localhost,O=Quelmark tests (verified)");

} // namespace

TEST_F(FtpcliTls, SecuredSessionSendsAuthPbszAndProtBeforeTheLoginAndEndsEachUploadCleanly)
{
    const struct {
        bool passive;
        const char *announce;
    } rows[] = {{false, "PORT"}, {true, "EPSV"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.announce);
        ScriptedFtpServer server(QStringLiteral("ok"), QStringLiteral("127.0.0.1"), {}, 0, Certificates().server);
        Aim(server);
        client.Site().passive = row.passive;
        lines.clear();
        progress.clear();

        ASSERT_TRUE(client.Put()) << client.ErrorMessage().toStdString() << lines.join('\n').toStdString();

        QStringList received = server.Received();
        received.replaceInStrings(QRegularExpression(QStringLiteral("^PORT .*")), QStringLiteral("PORT"));
        EXPECT_EQ(received, QStringList({"AUTH TLS", "PBSZ 0", "PROT P", "USER user", "PASS secret", "TYPE I",
                                         row.announce, "STOR page.html", "QUIT"}))
            << "no DATA ENDED WITHOUT CLOSE_NOTIFY either";
        ASSERT_GE(lines.size(), 11);
        EXPECT_EQ(lines.mid(0, 4), QStringList({"Connected for FTP", "< 220 Scripted server ready", "> AUTH TLS",
                                                "< 234 Proceed with negotiation."}));
        EXPECT_TRUE(lines[4].startsWith(TlsLine) && lines[4].endsWith(Verified)) << lines[4].toStdString();
        EXPECT_EQ(lines.mid(5, 6),
                  QStringList({"> PBSZ 0", "< 200 PBSZ=0", "> PROT P", "< 200 Protection level set to P.",
                               "> USER user", "< 331 Please specify the password."}));
        EXPECT_TRUE(lines.contains(QStringLiteral("> PASS ****")));
        EXPECT_EQ(lines.filter(QStringLiteral("Data: session closed, ")).value(0).section(QLatin1Char(','), 0, 1),
                  QStringLiteral("Data: session closed, 70000 bytes transfered"));
        EXPECT_EQ(progress.back(), bytes.size());
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_TRUE(server.Stored(QStringLiteral("page.html")) == bytes);
        EXPECT_FALSE(client.CertificateProblem());
        ExpectAllClosed();
    }
}

// Nothing of the user's may be sent while the server is not proven: every one of these ends
// before USER, within the time-out, with all closed.
TEST_F(FtpcliTls, FailedTlsEndsTheSessionBeforeTheLoginWithAClearText)
{
    const auto &c = Certificates();
    struct Row {
        const char *what;
        const char *scenario;
        TestCertificate certificate;
        QString error; // the beginning of it
        QStringList commands;
        bool certificateProblem;
    };
    const Row rows[] = {
        {"AUTH TLS refused",
         "ok",
         {},
         QStringLiteral("The server does not offer TLS (AUTH TLS answered 502 Command not implemented.). Turn off "
                        "'Use TLS' for this site to send the password in clear text."),
         {"AUTH TLS", "QUIT"},
         false},
        {"handshake cut",
         "tls_cut",
         c.server,
         QStringLiteral("The server closed the connection during the TLS handshake"),
         {"AUTH TLS"},
         false},
        {"handshake stalls",
         "tls_silent",
         c.server,
         QStringLiteral("The TLS handshake did not finish within 10 seconds"),
         {"AUTH TLS"},
         false},
        {"expired",
         "ok",
         c.expired,
         QStringLiteral("The server's certificate is not trusted: certificate has expired. Subject: "),
         {"AUTH TLS"},
         true},
        {"another host",
         "ok",
         c.wrongHost,
         QStringLiteral("The server's certificate is not trusted: IP address mismatch: it is not issued for "
                        "127.0.0.1. Subject: CN=wrong.example,O=Quelmark tests; issuer: CN=Quelmark Test CA,"),
         {"AUTH TLS"},
         true},
        {"self-signed",
         "ok",
         c.selfSigned,
         QStringLiteral("The server's certificate is not trusted: self-signed certificate. Subject: "),
         {"AUTH TLS"},
         true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedFtpServer server(QString::fromLatin1(row.scenario), QStringLiteral("127.0.0.1"), {}, 0,
                                 row.certificate);
        Aim(server);
        lines.clear();
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(client.Put());
        EXPECT_LT(clock.elapsed(), (Ticks + 5) * TickMs);
        EXPECT_TRUE(client.ErrorMessage().startsWith(row.error)) << client.ErrorMessage().toStdString();
        EXPECT_EQ(server.Received(), row.commands);
        EXPECT_EQ(lines.last(), QStringLiteral("Failed"));
        EXPECT_EQ(client.CertificateProblem().has_value(), row.certificateProblem);
        if (client.CertificateProblem()) {
            EXPECT_EQ(client.CertificateProblem()->fingerprint, row.certificate.fingerprint);
            EXPECT_TRUE(client.ErrorMessage().endsWith(row.certificate.fingerprint));
        }
        ExpectAllClosed();
    }
}

TEST_F(FtpcliTls, DataConnectionWhoseHandshakeIsCutFailsTheUploadWithItsReason)
{
    ScriptedFtpServer server(QStringLiteral("tls_data_cut"), QStringLiteral("127.0.0.1"), {}, 0, Certificates().server);
    Aim(server);
    EXPECT_FALSE(client.Put());
    EXPECT_EQ(client.ErrorMessage(),
              QStringLiteral("TLS on the data connection failed: The server closed the connection during the TLS "
                             "handshake"));
    ExpectAllClosed();
}

// The fingerprint the window stores is the one the failure named, in its form.
TEST_F(FtpcliTls, FingerprintFromTheFailureLetsTheNextSessionThroughAndBelongsToTheSession)
{
    ScriptedFtpServer server(QStringLiteral("ok"), QStringLiteral("127.0.0.1"), {}, 0, Certificates().selfSigned);
    Aim(server);
    ASSERT_FALSE(client.PutFile());
    ASSERT_TRUE(client.CertificateProblem());
    client.Site().trustedCertificate = client.CertificateProblem()->fingerprint;
    lines.clear();
    ASSERT_TRUE(client.PutFile()) << client.ErrorMessage().toStdString();
    EXPECT_TRUE(lines.filter(TlsLine).value(0).endsWith(QLatin1String("(trusted by fingerprint)")));
    EXPECT_FALSE(client.CertificateProblem());
    EXPECT_TRUE(client.SessionOpen());

    // Another fingerprint is another session, and the certificate fails it.
    client.Site().trustedCertificate = Certificates().server.fingerprint.toLower();
    EXPECT_FALSE(client.PutFile());
    EXPECT_TRUE(client.CertificateProblem());
    EXPECT_TRUE(client.CloseSession());
    server.Received(3);
    EXPECT_EQ(server.EndedSessions(), 3);
}

TEST_F(FtpcliTls, SettingsThatCannotWorkFailBeforeConnecting)
{
    ScriptedFtpServer server(QStringLiteral("ok"), QStringLiteral("127.0.0.1"), {}, 0, Certificates().server);
    Aim(server);
    client.Site().trustedCertificate = QStringLiteral("AB:CD");
    EXPECT_FALSE(client.Put());
    EXPECT_EQ(client.ErrorMessage(),
              QStringLiteral("The trusted certificate 'AB:CD' is not a SHA-256 fingerprint (64 hex digits)"));
    client.Site().trustedCertificate = QString();
    client.Site().caFile = dir.filePath(QStringLiteral("missing.pem"));
    EXPECT_FALSE(client.Put());
    EXPECT_TRUE(
        client.ErrorMessage().startsWith(QStringLiteral("Cannot read the CA file '%1': ").arg(client.Site().caFile)))
        << client.ErrorMessage().toStdString();
    EXPECT_EQ(server.EndedSessions(), 0);
    ExpectAllClosed();
}
