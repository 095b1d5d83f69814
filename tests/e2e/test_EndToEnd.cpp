// The real program left to work on its own: a store prepared with the sqlite3 command holds two
// sites on a real FTP server and "Auto-process"; at the first check, one minute after start,
// every file goes up, the pages carrying the machine's address. The end signal then closes the
// window the normal way, and the store holds what was pushed.
//
// The program always connects to the "ftp" port, so the server listens on port 21 of a
// loopback address of its own; binding that port needs root.
#include "net/Sockets.h"
#include "tests/support/FtpServers.h"
#include "tests/support/StoreScript.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>

namespace {

using namespace quelmark;

const QString kServerAddress = QStringLiteral("127.0.0.21");
bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "the FTP server must listen on port 21, which needs root";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(Path("pages")) && QDir().mkpath(Path("config/Varnholt/Quelmark")));
        server = std::make_unique<quelmark::test::PyFtpServer>(kServerAddress, 21);
        if (!server->Running())
            GTEST_SKIP() << "no FTP server on " << kServerAddress.toStdString()
                         << ":21: " << server->Failure().toStdString();
    }
    void TearDown() override { Stop(program); }

    QString Path(const char *relative) const { return dir.filePath(QString::fromLatin1(relative)); }
    QString StoreFile() const { return Path("config/Varnholt/Quelmark/store.db"); }

    // Waits until every file exists on the server, at most timeoutMs.
    bool Uploaded(const QStringList &files, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs && program.state() == QProcess::Running) {
            bool all = true;
            for (const QString &file : files)
                all = all && QFileInfo::exists(QDir(server->Home()).filePath(file));
            if (all)
                return true;
            QThread::msleep(200);
        }
        return false;
    }

    QTemporaryDir dir;
    std::unique_ptr<quelmark::test::PyFtpServer> server;
    QProcess program;
};

TEST_F(EndToEnd, FirstCheckAfterAMinutePushesEverySiteWithTheAddressAndTheEndSignalKeepsTheResult)
{
    const QByteArray page = "<p>Reach me at %IP% today.</p>\r\n<a href=\"http://%IP%/\">home</a>\r\n";
    const QByteArray about = "about %IP% and %IP%\n";
    const QByteArray binary("\x00\x01%IP%\xff\r\n", 10);
    ASSERT_TRUE(WriteFile(Path("pages/index.html"), page));
    ASSERT_TRUE(WriteFile(Path("pages/about.html"), about));
    ASSERT_TRUE(WriteFile(Path("pages/logo.bin"), binary));

    test::StoreScript store;
    store.Option(QStringLiteral("Autoprocess"), QStringLiteral("1"));
    store.Option(QStringLiteral("MinsTestFiles"), QStringLiteral("1"));
    store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
    const QString user = server->User(), password = server->Password();
    store.Site(QStringLiteral("first"), kServerAddress, user, password,
               {{Path("pages/index.html"), "index.html", "Ascii", "%IP%", "New", "", "", ""},
                {Path("pages/logo.bin"), "logo.bin", "Binary", "%IP%", "New", "", "", ""}});
    store.Site(QStringLiteral("second"), kServerAddress, user, password,
               {{Path("pages/about.html"), "about.html", "Ascii", "%IP%", "New", "", "", ""}});
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), Path("cache"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUELMARK_BINARY_DIR "/quelmark"), {});
    ASSERT_TRUE(program.waitForStarted(5000)) << program.errorString().toStdString();

    const bool uploaded = Uploaded({"index.html", "about.html", "logo.bin"}, 90000);
    const bool stillRunning = program.state() == QProcess::Running;
    // The upload of the last file ends with the server's reply; give the program a moment to
    // take it, then ask it to end.
    QThread::msleep(1000);
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(15000)) << "the end signal did not close the program";
    EXPECT_TRUE(stillRunning) << program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    ASSERT_TRUE(uploaded) << "nothing reached the server: " << program.readAllStandardError().toStdString();

    // Pages carry the address in place of the first %IP% of each line; an ASCII upload is
    // stored with the server's line ends. The binary file goes up untouched.
    const QByteArray address = quelmark::TSockets().LocalIPAddress().toLatin1();
    EXPECT_EQ(ReadFile(QDir(server->Home()).filePath("index.html")),
              "<p>Reach me at " + address + " today.</p>\n<a href=\"http://" + address + "/\">home</a>\n");
    EXPECT_EQ(ReadFile(QDir(server->Home()).filePath("about.html")), "about " + address + " and %IP%\n");
    EXPECT_EQ(ReadFile(QDir(server->Home()).filePath("logo.bin")), binary);

    // Status, size and date of every entry, as the close stored them.
    const QString rows = test::RunSqlite(StoreFile(), QStringLiteral(R"(
        SELECT s.name || ' ' || c.data || ' ' || st.data || ' ' || sz.data || ' ' || (length(dt.data) > 0)
        FROM keys s JOIN keys i ON i.parent = s.id
        JOIN vals c ON c.key = i.id AND c.name = 'Caption'
        JOIN vals st ON st.key = i.id AND st.name = 'Subline#3'
        JOIN vals dt ON dt.key = i.id AND dt.name = 'Subline#4'
        JOIN vals sz ON sz.key = i.id AND sz.name = 'Subline#5'
        WHERE s.parent = (SELECT id FROM keys WHERE name = 'WWWSites') ORDER BY i.id;)"));
    EXPECT_EQ(rows, QStringLiteral("first %1 Moved %2 1\nfirst %3 Moved %4 1\nsecond %5 Moved %6 1")
                        .arg(Path("pages/index.html"))
                        .arg(page.size())
                        .arg(Path("pages/logo.bin"))
                        .arg(binary.size())
                        .arg(Path("pages/about.html"))
                        .arg(about.size()));
    EXPECT_EQ(test::RunSqlite(StoreFile(),
                              QStringLiteral("SELECT CAST(data AS TEXT) FROM vals WHERE name = 'LastIPAddress';")),
              QString::fromLatin1(address));
}

} // namespace
