// "Test connection" on the site page of the real main window, against real loopback servers: it
// logs in with the shown site's settings, looks for "Default Dir:", logs out and says what it
// found in one line, asking about a server the check does not vouch for as a push does.
#include "app/F_Main.h"
#include "catalogue/MessageBox.h"
#include "catalogue/Navigator.h"
#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"
#include "engine/TextArea.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Printing.h"
#include "tests/support/SshServers.h"
#include "tests/support/TempStore.h"
#include "tests/support/WindowTest.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

using namespace quelmark;

namespace {

const QString kSite = QStringLiteral("pages");

class ConnectionTestTest : public test::WindowTest {
protected:
    // Shows the stored site and runs its test as the user does; returns the line beside the button.
    QString Test(const QList<std::pair<QString, QString>> &values)
    {
        test::StoreSite(kSite, values, {});
        Open();
        window->Navigator()->SelectNode(window->Navigator()->SiteNodes().value(0));
        auto *button = window->findChild<QPushButton *>(QStringLiteral("btnTestConnection"));
        EXPECT_NE(button, nullptr);
        if (button)
            button->click();
        EXPECT_TRUE(window->isEnabled());
        const QString line = window->findChild<QLabel *>(QStringLiteral("lblTestConnection"))->text();
        EXPECT_TRUE(window->findChild<TTextArea *>(QStringLiteral("memoLog"))->Lines().contains(line));
        return line;
    }
};

// Each row: the server, the site's values, the answer to a question if one comes, and the line.
TEST_F(ConnectionTestTest, SaysInOneLineWhetherItLoggedInAndFoundTheDefaultDir)
{
    test::PyFtpServer &ftp = test::SharedPyFtpServer();
    ASSERT_TRUE(ftp.Running()) << ftp.Failure().toStdString();
    ASSERT_TRUE(QDir(ftp.Home()).mkpath(QStringLiteral("connection-test")));
    const test::TestCertificate &certificate = test::Certificates().selfSigned;
    test::PyFtpServer tls(QStringLiteral("127.0.0.1"), 0, certificate);
    ASSERT_TRUE(tls.Running()) << tls.Failure().toStdString();
    test::OpenSshServer ssh;
    const QString host = QStringLiteral("127.0.0.1:") + ftp.PortText();
    const QString tlsHost = QStringLiteral("127.0.0.1:") + tls.PortText();
    const QList<std::pair<QString, QString>> login = {
        {store::FTPServer, host}, {store::UserName, ftp.User()}, {store::Password, ftp.Password()}};
    const QList<std::pair<QString, QString>> sshLogin = {{store::FTPServer, ssh.Server()},
                                                         {store::UserName, ssh.User()},
                                                         {store::Password, ssh.Password()},
                                                         {store::Protocol, SiteProtocol::SFTP}};
    const struct {
        const char *what;
        bool needsSsh;
        QList<std::pair<QString, QString>> values;
        // The answer to the trust question; none when no question may come.
        std::optional<TBoxAnswer> answer;
        QString line;
    } rows[] = {
        {"FTP with its folder", false,
         login + QList<std::pair<QString, QString>>{{store::DefaultDir, "/connection-test"}}, std::nullopt,
         "Logged in to " + host + " as " + ftp.User() + " over FTP; /connection-test is there"},
        {"FTP without a folder to look for", false, login, std::nullopt,
         "Logged in to " + host + " as " + ftp.User() + " over FTP; there is no Default Dir: to look for"},
        {"FTP with a folder that is not there", false,
         login + QList<std::pair<QString, QString>>{{store::DefaultDir, "/not-there"}}, std::nullopt,
         "Logged in to " + host + " as " + ftp.User() + " over FTP, but /not-there cannot be used: 550 "},
        {"FTP with a wrong password",
         false,
         {{store::FTPServer, host}, {store::UserName, ftp.User()}, {store::Password, "wrong"}},
         std::nullopt,
         "Cannot log in to " + host + " over FTP: 530 "},
        {"a server text that names no server",
         false,
         {{store::FTPServer, "127.0.0.1:0"}},
         std::nullopt,
         R"(Cannot log in to 127.0.0.1:0 over FTP: The port 0 in "127.0.0.1:0" is outside 1 to 65535)"},
        {"FTPS with a self-signed certificate, trusted",
         false,
         {{store::FTPServer, tlsHost},
          {store::UserName, tls.User()},
          {store::Password, tls.Password()},
          {store::Security, SiteSecurity::TLS},
          {store::DefaultDir, "/"}},
         TBoxAnswer::Yes,
         "Logged in to " + tlsHost + " as " + tls.User() + " over FTPS; / is there"},
        {"FTPS with a self-signed certificate, refused",
         false,
         {{store::FTPServer, tlsHost},
          {store::UserName, tls.User()},
          {store::Password, tls.Password()},
          {store::Security, SiteSecurity::TLS}},
         TBoxAnswer::No,
         "Cannot log in to " + tlsHost + " over FTPS: "},
        {"SFTP with its folder, the host key trusted", true,
         sshLogin + QList<std::pair<QString, QString>>{{store::DefaultDir, ssh.Home()}}, TBoxAnswer::Yes,
         "Logged in to " + ssh.Server() + " as " + ssh.User() + " over SFTP; " + ssh.Home() + " is there"},
        {"SFTP with a folder that is not there", true,
         sshLogin + QList<std::pair<QString, QString>>{{store::DefaultDir, ssh.Home() + "/not-there"}}, std::nullopt,
         "Logged in to " + ssh.Server() + " as " + ssh.User() + " over SFTP, but " + ssh.Home() +
             "/not-there cannot be used: " + ssh.Home() + "/not-there is not on the server"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.needsSsh && !ssh.Running()) {
            ADD_FAILURE() << "no sshd: " << ssh.Failure().toStdString();
            continue;
        }
        TMessageBox::ClearShown();
        if (row.answer)
            TMessageBox::SetNextAnswer(*row.answer);
        const QString line = Test(row.values);
        EXPECT_TRUE(line.startsWith(row.line)) << line.toStdString();
        EXPECT_FALSE(line.contains(QLatin1Char('\n')));
        EXPECT_EQ(TMessageBox::Shown().size(), row.answer ? 1 : 0);
        if (row.answer == TBoxAnswer::Yes && !row.needsSsh) {
            EXPECT_EQ(window->findChild<QLineEdit *>(QStringLiteral("edtTrustedCertificate"))->text(),
                      certificate.fingerprint)
                << "kept for the site as a push keeps it";
        }
        window.reset();
        TRegIniFile(BaseKeyPath()).DeleteSection(store::SiteSection(kSite));
    }
}

} // namespace
