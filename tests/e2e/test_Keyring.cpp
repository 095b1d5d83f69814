// Passwords in the desktop keyring, through the real program: `quelmark --push-all` in a D-Bus
// session of its own with a real gnome-keyring-daemon (unlocked, or locked with no one to unlock
// it), or with no session bus at all, pushing to a real FTP server on loopback.
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Printing.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/StoreScript.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace quelmark;

// How the run finds the keyring.
enum class TKeyring { Unlocked, Locked, None };

using Finished = test::ProgramRun;

class KeyringPush : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("gnome-keyring-daemon")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("dbus-run-session")).isEmpty())
            GTEST_SKIP() << "needs gnome-keyring-daemon and dbus-run-session";
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        for (const char *folder : {"pages", "config/Varnholt/Quelmark", "home", "data", "runtime"})
            ASSERT_TRUE(QDir().mkpath(Path(folder)));
        QFile(Path("runtime")).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString Path(const char *relative) const { return dir.filePath(QString::fromLatin1(relative)); }
    QString StoreFile() const { return Path("config/Varnholt/Quelmark/store.db"); }
    QString Page() const { return Path("pages/index.html"); }

    // A store as an earlier version wrote it: the password in clear, no keyring option unless
    // one is given.
    void EarlierStore(const QStringList &sites, const QString &useKeyring = {})
    {
        ASSERT_TRUE(WritePage("first text\n"));
        test::StoreScript store;
        store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
        if (!useKeyring.isEmpty())
            store.Option(QStringLiteral("UseKeyring"), useKeyring);
        for (const QString &site : sites) {
            store.Site(site, QStringLiteral("127.0.0.1:") + server.PortText(), server.User(), server.Password(),
                       {{Page(), site + QStringLiteral(".html"), "Binary", "", "New", "", "", ""}});
        }
        ASSERT_EQ(store.WriteTo(StoreFile()), QString());
    }

    bool WritePage(const QByteArray &text) const { return test::WriteFile(Page(), text); }

    // Runs the command where the keyring is as asked: in a session whose daemon was unlocked with
    // the keyring's password, in one whose daemon was not, or without a session bus.
    Finished InSession(TKeyring keyring, const QString &program, const QStringList &arguments) const
    {
        QProcessEnvironment env = test::NoDisplayEnvironment();
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), Path("cache"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), Path("data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path("runtime"));
        env.insert(QStringLiteral("HOME"), Path("home"));
        QProcess process;
        process.setProcessEnvironment(env);
        if (keyring == TKeyring::None) {
            process.start(program, arguments);
        } else {
            const QString daemon = keyring == TKeyring::Unlocked
                                       ? QStringLiteral("printf unlock | gnome-keyring-daemon --unlock")
                                       : QStringLiteral("gnome-keyring-daemon --start");
            process.start(QStringLiteral("dbus-run-session"),
                          QStringList{QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                                      daemon + QStringLiteral(" --components=secrets >/dev/null && exec \"$@\""),
                                      QStringLiteral("sh"), program} +
                              arguments);
        }
        return test::Finish(process);
    }

    Finished Push(TKeyring keyring) const
    {
        return InSession(keyring, test::BuildProgram(), {QStringLiteral("--push-all")});
    }

    // Returns the secret the keyring holds for the site, as the desktop's own tool finds it.
    QString InKeyring(const QString &site) const
    {
        return InSession(TKeyring::Unlocked, QStringLiteral("secret-tool"),
                         {QStringLiteral("lookup"), QStringLiteral("server"),
                          QStringLiteral("Varnholt Quelmark ") + StoreFile(), QStringLiteral("user"), site})
            .out;
    }

    // Returns where the site's password is as stored: its Password and PasswordInKeyring values
    // ("" for one it has not).
    QStringList StoredPassword(const QString &site) const
    {
        return test::RunSqlite(StoreFile(),
                               QStringLiteral("SELECT ifnull((SELECT CAST(data AS TEXT) FROM vals WHERE key = k.id AND "
                                              "name = 'Password'), '') || '|' || ifnull((SELECT CAST(data AS TEXT) "
                                              "FROM vals WHERE key = k.id AND name = 'PasswordInKeyring'), '') FROM "
                                              "keys k JOIN keys p ON k.parent = p.id WHERE p.name = 'WWWSites' AND "
                                              "k.name = '%1';")
                                   .arg(site))
            .split(QLatin1Char('|'));
    }

    QTemporaryDir dir;
    test::PyFtpServer server;
};

// One store through the keyring's states: an earlier store's password moves into the keyring
// with the first push, and the next push logs in with it from there; a locked keyring, or none,
// fails the site's files with the reason and changes nothing about the password; with the
// option off the password goes back into the store and out of the keyring.
TEST_F(KeyringPush, ThePasswordMovesIntoTheKeyringIsReadFromThereAndFailsTheFilesWhereItCannotBe)
{
    EarlierStore({QStringLiteral("home")});
    const QString password = server.Password();

    Finished run = Push(TKeyring::Unlocked);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(server.Stored(QStringLiteral("home.html")), QByteArray("first text\n"));
    EXPECT_EQ(StoredPassword(QStringLiteral("home")), (QStringList{QString(), QStringLiteral("1")}));
    EXPECT_EQ(InKeyring(QStringLiteral("home")), password);

    ASSERT_TRUE(WritePage("second text\n"));
    run = Push(TKeyring::Unlocked);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(server.Stored(QStringLiteral("home.html")), QByteArray("second text\n")) << "logged in from the keyring";
    EXPECT_EQ(StoredPassword(QStringLiteral("home")), (QStringList{QString(), QStringLiteral("1")}));

    const struct {
        TKeyring keyring;
        const char *reason;
    } unusable[] = {
        {TKeyring::Locked, "the keyring is locked"},
        {TKeyring::None, "no keyring answers"},
    };
    for (const auto &row : unusable) {
        ASSERT_TRUE(WritePage("never sent\n"));
        run = Push(row.keyring);
        EXPECT_EQ(run.exitCode, 1) << row.reason;
        EXPECT_TRUE(run.out.contains(QStringLiteral("The password of home cannot be read from the desktop keyring: ") +
                                     QLatin1String(row.reason)))
            << run.out.toStdString();
        EXPECT_EQ(StoredPassword(QStringLiteral("home")), (QStringList{QString(), QStringLiteral("1")})) << row.reason;
    }
    EXPECT_EQ(server.Stored(QStringLiteral("home.html")), QByteArray("second text\n")) << "no log-in without it";
    EXPECT_EQ(InKeyring(QStringLiteral("home")), password) << "the keyring keeps it";

    test::RunSqlite(StoreFile(),
                    QStringLiteral("INSERT OR REPLACE INTO vals SELECT k.id, 'UseKeyring', 1, CAST('0' AS BLOB) "
                                   "FROM keys k WHERE k.name = 'General Options';"));
    run = Push(TKeyring::Unlocked);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(server.Stored(QStringLiteral("home.html")), QByteArray("never sent\n"));
    EXPECT_EQ(StoredPassword(QStringLiteral("home")), (QStringList{password, QString()}));
    EXPECT_EQ(InKeyring(QStringLiteral("home")), QString());
}

// A store whose passwords were to go into the keyring, on a machine without a desktop session:
// the store keeps the passwords as before, and the log says so once however many sites are
// written back.
TEST_F(KeyringPush, WithoutAKeyringTheStoreKeepsThePasswordsAndTheLogSaysSoOnce)
{
    EarlierStore({QStringLiteral("first"), QStringLiteral("second")}, QStringLiteral("1"));
    const Finished run = Push(TKeyring::None);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    EXPECT_EQ(server.Stored(QStringLiteral("second.html")), QByteArray("first text\n"));
    EXPECT_EQ(run.out.count(QStringLiteral("No desktop keyring answers; the passwords are kept in the settings store")),
              1)
        << run.out.toStdString();
    for (const char *site : {"first", "second"}) {
        EXPECT_EQ(StoredPassword(QLatin1String(site)), (QStringList{server.Password(), QString()})) << site;
    }
}

} // namespace
