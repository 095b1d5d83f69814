// Trusting a server the check does not vouch for, on the real main window: a TLS server with a
// self-signed certificate and an SSH server whose host key no known-hosts file holds. Only a push
// the user started asks; the timer's push fails the file and says why in the log and the tray.
#include "app/F_Main.h"
#include "app/Tray.h"
#include "catalogue/MessageBox.h"
#include "catalogue/P_Types.h"
#include "catalogue/RegControls.h"
#include "catalogue/Registry.h"
#include "engine/RefreshCycle.h"
#include "engine/TextArea.h"
#include "net/SshSession.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/SshServers.h"
#include "tests/support/WindowTest.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using namespace quelmark;

namespace {

const QString kSite = QStringLiteral("pages");

class ServerTrustTest : public test::WindowTest {
protected:
    ServerTrustTest() : WindowTest(true) {}

    // Stores the site with its values and two pages that carry the address.
    void StoreSite(const QList<std::pair<QString, QString>> &values)
    {
        QStringList pages;
        for (int i = 0; i < 2; ++i) {
            pages.append(folder.filePath(QStringLiteral("page%1.html").arg(i)));
            ASSERT_TRUE(test::WriteFile(pages.last(), "<p>at %IP%</p>\n"));
        }
        test::StoreSite(kSite, values, pages);
    }

    QString StoredValue(const QString &name) const
    {
        return TRegIniFile(BaseKeyPath()).ReadText(store::SiteSection(kSite), name, QStringLiteral("none"));
    }

    QStringList StoredStatuses() const
    {
        TRegIniFile ini(BaseKeyPath());
        QStringList statuses;
        for (int i = 0; i < 2; ++i)
            statuses.append(ini.ReadText(store::SiteSection(kSite) + '\\' + store::ItemSection(i),
                                         store::SublineName(colStatus), QString()));
        return statuses;
    }

    // Marks both entries due again in the store, which the window shows no site of.
    void MakeDue()
    {
        TRegIniFile ini(BaseKeyPath());
        for (int i = 0; i < 2; ++i)
            ini.WriteText(store::SiteSection(kSite) + '\\' + store::ItemSection(i), store::SublineName(colStatus),
                          FileStatus::New);
    }

    void PushAllFromTheWindow()
    {
        auto *item = window->findChild<QAction *>(QStringLiteral("mniPushAll"));
        ASSERT_NE(item, nullptr);
        item->trigger();
    }

    QString Log() const { return window->findChild<TTextArea *>(QStringLiteral("memoLog"))->Lines().join('\n'); }
};

// Each row: the server, the site's values, the fingerprint the failure names, the question the
// user is asked, and where a yes is kept.
TEST_F(ServerTrustTest, OnlyAUserStartedPushAsksOnceAndAYesLetsThatPushAndTheNextThrough)
{
    const test::TestCertificate &certificate = test::Certificates().selfSigned;
    test::PyFtpServer tls(QStringLiteral("127.0.0.1"), 0, certificate);
    test::OpenSshServer ssh;
    ASSERT_TRUE(tls.Running()) << tls.Failure().toStdString();
    if (!ssh.Running())
        GTEST_SKIP() << ssh.Failure().toStdString();
    const QString sshServer = QStringLiteral("127.0.0.1:") + ssh.PortText();
    const struct {
        const char *what;
        const test::FtpServerProcess *server;
        QList<std::pair<QString, QString>> values;
        QString fingerprint;
        // The question's first line and its last.
        QString why;
        QString question;
        // The stored page, with the server's own line ends: FTP's text mode gives them, and SFTP
        // sends a text page's lines as they would come.
        QByteArray page;
    } rows[] = {
        {"a self-signed certificate",
         &tls,
         {{store::FTPServer, QStringLiteral("127.0.0.1:") + tls.PortText()}, {store::Security, SiteSecurity::TLS}},
         certificate.fingerprint,
         QStringLiteral("The certificate of 127.0.0.1 is self-signed.\n"),
         QStringLiteral("Trust this certificate for pages?"),
         "<p>at %1</p>\n"},
        {"an unknown host key",
         &ssh,
         {{store::FTPServer, sshServer}, {store::Protocol, SiteProtocol::SFTP}},
         ssh.HostKeyFingerprint(),
         QStringLiteral("Trust the host key of "),
         QStringLiteral("Trust the host key of %1 (%2 %3)?")
             .arg(sshServer, ssh.HostKeyType(), ssh.HostKeyFingerprint()),
         "<p>at %1</p>\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QList<std::pair<QString, QString>> values = row.values;
        values.append({{store::UserName, row.server->User()}, {store::Password, row.server->Password()}});
        StoreSite(values);
        window = std::make_unique<TfrmMain>();
        window->show();
        TMessageBox::ClearShown();
        TTray::ClearShown();

        // The timer's check: nobody is asked; the log and the tray say which key it was.
        window->findChild<TRegSpinEdit *>(QStringLiteral("spnTestFilesMinutes"))->SetValue(1);
        window->RefreshCycle().RunTick();
        EXPECT_TRUE(TMessageBox::Shown().isEmpty());
        ASSERT_EQ(TTray::Shown().size(), 1);
        EXPECT_TRUE(TTray::Shown()[0].text.contains(row.fingerprint)) << TTray::Shown()[0].text.toStdString();
        EXPECT_TRUE(Log().contains(row.fingerprint + QStringLiteral("; ") + kNobodyAskedText)) << Log().toStdString();
        EXPECT_EQ(StoredStatuses(), QStringList({FileStatus::Error, FileStatus::Error}));

        // The user's push, answered No: asked once for both files, nothing kept.
        PushAllFromTheWindow();
        ASSERT_EQ(TMessageBox::Shown().size(), 1);
        const QString question = TMessageBox::Shown()[0].text;
        EXPECT_TRUE(question.startsWith(row.why)) << question.toStdString();
        EXPECT_TRUE(question.endsWith(row.question)) << question.toStdString();
        // The fingerprint as its pairs read, whatever keeps its groups together on one line.
        EXPECT_TRUE(
            QString(question).remove(QChar(0x2060)).replace(QChar(0x00A0), QLatin1Char(':')).contains(row.fingerprint));
        EXPECT_EQ(StoredStatuses(), QStringList({FileStatus::Error, FileStatus::Error}));

        // Yes: both files go, and the answer is kept.
        TMessageBox::SetNextAnswer(TBoxAnswer::Yes);
        PushAllFromTheWindow();
        ASSERT_EQ(TMessageBox::Shown().size(), 2);
        EXPECT_EQ(StoredStatuses(), QStringList({FileStatus::Moved, FileStatus::Moved})) << Log().toStdString();
        const QByteArray address = window->findChild<QLineEdit *>(QStringLiteral("edtLocalAddress"))->text().toLatin1();
        EXPECT_EQ(row.server->Stored(QStringLiteral("page1.html")), QByteArray(row.page).replace("%1", address));

        // The next push goes through without a question.
        MakeDue();
        PushAllFromTheWindow();
        EXPECT_EQ(TMessageBox::Shown().size(), 2);
        EXPECT_EQ(StoredStatuses(), QStringList({FileStatus::Moved, FileStatus::Moved}));
        window.reset();
        TRegIniFile(BaseKeyPath()).DeleteSection(store::SiteSection(kSite));
    }
    // Where each yes went: the certificate's fingerprint into the site, which was erased since,
    // and the host key into the program's own known-hosts file beside the store.
    const QByteArray knownHosts = test::ReadFile(QFileInfo(store.FilePath()).absolutePath() + "/known_hosts");
    EXPECT_TRUE(knownHosts.contains(QStringLiteral("[127.0.0.1]:%1 ").arg(ssh.PortText()).toLatin1()));
}

// A host key other than the one the user trusted is never put to the user: the push fails with
// a warning, whoever started it.
TEST_F(ServerTrustTest, AChangedHostKeyFailsAUserStartedPushWithoutAQuestion)
{
    auto first = std::make_unique<test::OpenSshServer>();
    if (!first->Running())
        GTEST_SKIP() << first->Failure().toStdString();
    const std::uint16_t port = first->Port();
    const QString server = QStringLiteral("127.0.0.1:") + first->PortText();
    StoreSite({{store::FTPServer, server},
               {store::Protocol, SiteProtocol::SFTP},
               {store::UserName, first->User()},
               {store::Password, first->Password()}});
    window = std::make_unique<TfrmMain>();
    window->show();
    TMessageBox::SetNextAnswer(TBoxAnswer::Yes);
    PushAllFromTheWindow();
    ASSERT_EQ(StoredStatuses(), QStringList({FileStatus::Moved, FileStatus::Moved})) << Log().toStdString();
    first.reset();

    test::OpenSshServer second({.port = port});
    ASSERT_TRUE(second.Running()) << second.Failure().toStdString();
    MakeDue();
    TMessageBox::ClearShown();
    TMessageBox::SetNextAnswer(TBoxAnswer::Yes);
    PushAllFromTheWindow();
    EXPECT_TRUE(TMessageBox::Shown().isEmpty());
    EXPECT_EQ(StoredStatuses(), QStringList({FileStatus::Error, FileStatus::Error}));
    EXPECT_TRUE(Log().contains(QStringLiteral("WARNING: the host key of ") + server)) << Log().toStdString();
}

TEST_F(ServerTrustTest, ATrustedCertificateIsStoredInTheSiteAsItsFingerprint)
{
    const test::TestCertificate &certificate = test::Certificates().selfSigned;
    test::PyFtpServer tls(QStringLiteral("127.0.0.1"), 0, certificate);
    ASSERT_TRUE(tls.Running()) << tls.Failure().toStdString();
    StoreSite({{store::FTPServer, QStringLiteral("127.0.0.1:") + tls.PortText()},
               {store::Security, SiteSecurity::TLS},
               {store::UserName, tls.User()},
               {store::Password, tls.Password()}});
    window = std::make_unique<TfrmMain>();
    window->show();
    EXPECT_EQ(StoredValue(store::TrustedCertificate), QStringLiteral("none"));
    TMessageBox::SetNextAnswer(TBoxAnswer::Yes);
    PushAllFromTheWindow();
    EXPECT_EQ(StoredValue(store::TrustedCertificate), certificate.fingerprint);
    EXPECT_EQ(StoredValue(store::Security), SiteSecurity::TLS);
    EXPECT_EQ(window->findChild<QLineEdit *>(QStringLiteral("edtTrustedCertificate"))->text(), certificate.fingerprint);
}

} // namespace
