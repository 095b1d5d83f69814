// The real program left to work on its own: a store prepared with the sqlite3 command holds two
// sites on a real FTP server and "Auto-process"; at the first check, one minute after start,
// every file goes up, the pages carrying the machine's address. The end signal then closes the
// window the normal way, and the store holds what was pushed. A second run has a page missing:
// the checks go on past it, one a minute, with nobody there to click anything.
//
// The program always connects to the "ftp" port, so the server listens on port 21 of a
// loopback address of its own; binding that port needs root.
#include "net/Sockets.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/StoreScript.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>

namespace {

using namespace quelmark;
using test::ReadFile;
using test::WriteFile;

const QString kServerAddress = QStringLiteral("127.0.0.21");
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

    // Starts build/quelmark headless on the test's folders with the extra environment.
    // Starts the program with these variables set, its clocks run by libfaketime when clock is
    // a FAKETIME text.
    void StartProgram(const QMap<QString, QString> &extra = {}, const QString &clock = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), Path("cache"));
        for (auto it = extra.begin(); it != extra.end(); ++it)
            env.insert(it.key(), it.value());
        if (!clock.isEmpty()) {
            EXPECT_TRUE(test::FakeClock(env, clock));
        }
        program.setProcessEnvironment(env);
        program.start(test::BuildProgram(), {});
        ASSERT_TRUE(program.waitForStarted(5000)) << program.errorString().toStdString();
    }

    // Collects the program's log lines from its standard error until one more line equal to
    // message (after its time stamp) has come than before, at most timeoutMs.
    bool WaitForLogLine(const QString &message, int count, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            program.waitForReadyRead(200);
            const QStringList lines = QString::fromLocal8Bit(program.readAllStandardError()).split('\n');
            for (const QString &line : lines) {
                if (line.startsWith(QStringLiteral("quelmark.log: ")))
                    logLines.append(line.mid(14));
            }
            if (LogMessages().count(message) >= count)
                return true;
            if (program.state() != QProcess::Running)
                return false;
        }
        return false;
    }

    // The log's messages without their time stamps.
    QStringList LogMessages() const
    {
        QStringList messages;
        for (const QString &line : logLines)
            messages.append(line.mid(line.indexOf(QStringLiteral("] -- ")) + 5));
        return messages;
    }

    // The second of the day the program's clock showed when it logged the nth line equal to
    // message; -1 when there is none.
    int LoggedAt(const QString &message, int nth) const
    {
        const QStringList messages = LogMessages();
        int seen = 0;
        for (qsizetype i = 0; i < messages.size(); ++i) {
            if (messages[i] != message || ++seen < nth)
                continue;
            const QRegularExpressionMatch time =
                QRegularExpression(QStringLiteral(R"((\d\d):(\d\d):(\d\d))")).match(logLines[i]);
            if (!time.hasMatch())
                return -1;
            return time.captured(1).toInt() * 3600 + time.captured(2).toInt() * 60 + time.captured(3).toInt();
        }
        return -1;
    }

    QStringList logLines;

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

    StartProgram();

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

TEST_F(EndToEnd, AMissingPageIsLoggedAndPassedAndTheNextCheckComesAMinuteLaterWithNothingClicked)
{
    const QByteArray index = "<p>%IP%</p>\n";
    const QByteArray about = "<p>about %IP%</p>\n";
    ASSERT_TRUE(WriteFile(Path("pages/index.html"), index));
    ASSERT_TRUE(WriteFile(Path("pages/about.html"), about));
    const QString missing = Path("pages/missing.html");

    test::StoreScript store;
    store.Option(QStringLiteral("Autoprocess"), QStringLiteral("1"));
    store.Option(QStringLiteral("MinsTestFiles"), QStringLiteral("1"));
    store.Option(QStringLiteral("TimeStampLog"), QStringLiteral("1"));
    store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
    const QString user = server->User(), password = server->Password();
    store.Site(QStringLiteral("first"), kServerAddress, user, password,
               {{missing, "missing.html", "Ascii", "%IP%", "New", "", "", ""},
                {Path("pages/index.html"), "index.html", "Ascii", "%IP%", "New", "", "", ""}});
    store.Site(QStringLiteral("second"), kServerAddress, user, password,
               {{Path("pages/about.html"), "about.html", "Ascii", "%IP%", "New", "", "", ""}});
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    // libfaketime runs the program's clocks four times as fast, its minute in fifteen seconds,
    // without an option of the program's own; without it the test takes its two real minutes.
    QProcessEnvironment probe;
    const int rate = test::FakeClock(probe, QString()) ? 4 : 1;
    StartProgram({{QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quelmark.log.info=true")},
                  {QStringLiteral("LC_ALL"), QStringLiteral("C")},
                  {QStringLiteral("NO_FAKE_STAT"), QStringLiteral("1")}},
                 rate == 1 ? QString() : QStringLiteral("+0 x%1").arg(rate));

    const QString checking = QStringLiteral(">>>> Checking all files...");
    const int minuteMs = 60000 / rate;
    // The walk goes on past the missing page: the file after it and the second site go up.
    ASSERT_TRUE(Uploaded({"index.html", "about.html"}, 2 * minuteMs + 30000))
        << "not pushed: " << program.readAllStandardError().toStdString();
    ASSERT_TRUE(WaitForLogLine(QStringLiteral(">>>> Done checking all files..."), 1, minuteMs))
        << "the first check did not end: " << logLines.join('\n').toStdString();
    const QByteArray address = quelmark::TSockets().LocalIPAddress().toLatin1();
    EXPECT_EQ(ReadFile(QDir(server->Home()).filePath("index.html")), "<p>" + address + "</p>\n")
        << "the file after the missing one went up";
    const QStringList first = LogMessages();
    const qsizetype at = first.indexOf(QStringLiteral("Transfering file: ") + missing);
    ASSERT_GE(at, 0);
    EXPECT_EQ(first.value(at + 1),
              QStringLiteral("Cannot open file ") + missing + QStringLiteral(": No such file or directory"));

    ASSERT_TRUE(WaitForLogLine(checking, 2, 2 * minuteMs + 30000))
        << "no second check: " << logLines.join('\n').toStdString();
    const int seconds = (LoggedAt(checking, 2) - LoggedAt(checking, 1) + 86400) % 86400;
    EXPECT_GE(seconds, 59) << "by the program's own clock";
    EXPECT_LE(seconds, 62);
    EXPECT_EQ(program.state(), QProcess::Running);

    WaitForLogLine(QStringLiteral(">>>> Done checking all files..."), 2, minuteMs);
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(15000)) << "the end signal did not close the program";
    EXPECT_EQ(test::StoredEntries(StoreFile()), QStringLiteral("first|%1|Error|\nfirst|%2|Moved|%3\nsecond|%4|Moved|%5")
                                                    .arg(missing, Path("pages/index.html"))
                                                    .arg(index.size())
                                                    .arg(Path("pages/about.html"))
                                                    .arg(about.size()));
}

} // namespace
