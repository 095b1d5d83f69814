// The real program without a window: started with nothing that names a display, on a store
// made with the sqlite3 command, pushing to real servers on loopback addresses of their own.
//
// A site whose server text names no port is reached on the "ftp" port, so the servers of those
// tests listen on port 21, which needs root; they skip without it. The tests of the site
// options name the port.
#include "engine/ChangeDetection.h"
#include "net/Sockets.h"
#include "net/SshSession.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Namespace.h"
#include "tests/support/Printing.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/SshServers.h"
#include "tests/support/StoreScript.h"
#include "tests/support/WatchedSite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace {

using namespace quelmark;

const QString kPyftpdAddress = QStringLiteral("127.0.0.22");
const QString kSlowAddress = QStringLiteral("127.0.0.23");
const QString kSilentAddress = QStringLiteral("127.0.0.24");

using Finished = test::ProgramRun;

class Headless : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(Path("pages")) && QDir().mkpath(Path("config/Varnholt/Quelmark")));
    }

    void TearDown() override
    {
        for (auto &process : started) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    // Starts a pyftpdlib server on port 21 of address; skips the test where that cannot be.
    std::unique_ptr<test::PyFtpServer> PortTwentyOne(const QString &address)
    {
        if (::geteuid() != 0)
            return nullptr;
        auto server = std::make_unique<test::PyFtpServer>(address, 21);
        return server->Running() ? std::move(server) : nullptr;
    }

    QString Path(const char *relative) const { return dir.filePath(QString::fromLatin1(relative)); }
    QString StoreFile() const { return Path("config/Varnholt/Quelmark/store.db"); }
    QString LockFile() const { return StoreFile() + QStringLiteral(".lock"); }

    // The environment of a cron job or a system service: no display, no platform named.
    QProcessEnvironment Environment(bool window = false) const
    {
        QProcessEnvironment env = test::NoDisplayEnvironment();
        if (window)
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), Path("cache"));
        if (!home.isEmpty())
            env.insert(QStringLiteral("HOME"), home);
        return env;
    }

    QProcess &Start(const QStringList &arguments, bool window = false, const char *program = "quelmark")
    {
        started.push_back(std::make_unique<QProcess>());
        QProcess &process = *started.back();
        process.setProcessEnvironment(Environment(window));
        process.start(test::BuildProgram(program), arguments);
        EXPECT_TRUE(process.waitForStarted(5000)) << process.errorString().toStdString();
        return process;
    }

    Finished Run(const QStringList &arguments, int timeoutMs = 20000, const char *program = "quelmark")
    {
        return test::Finish(Start(arguments, false, program), timeoutMs);
    }

    static QByteArray Hash(const QString &file)
    {
        return QCryptographicHash::hash(test::ReadFile(file), QCryptographicHash::Sha256);
    }

    static qint64 LockHolderPid(const QString &lockFile)
    {
        return test::ReadFile(lockFile).split('\n').value(0).trimmed().toLongLong();
    }

    // A store with two sites on the pyftpdlib server: "first" with a page that carries the
    // address, "second" with a binary file.
    void TwoSites(const QString &firstPassword, const QString &user, const QString &password)
    {
        ASSERT_TRUE(test::WriteFile(Path("pages/index.html"), "<p>at %IP% now</p>\n"));
        ASSERT_TRUE(test::WriteFile(Path("pages/logo.bin"), QByteArray("\x00\x01%IP%\xff", 7)));
        test::StoreScript store;
        store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
        store.Option(QStringLiteral("TimeStampLog"), QStringLiteral("1"));
        store.Option(QStringLiteral("DetailedLogging"), QStringLiteral("1"));
        store.Site(QStringLiteral("first"), kPyftpdAddress, user, firstPassword,
                   {{Path("pages/index.html"), "index.html", "Ascii", "%IP%", "New", "", "", ""}});
        store.Site(QStringLiteral("second"), kPyftpdAddress, user, password,
                   {{Path("pages/logo.bin"), "logo.bin", "Binary", "", "New", "", "", ""}});
        ASSERT_EQ(store.WriteTo(StoreFile()), QString());
    }

    // The lines of a run that begin a file's part of the log, in their order.
    static QStringList FileLines(const Finished &run)
    {
        return run.out.split(QLatin1Char('\n'))
            .filter(QRegularExpression(QStringLiteral("^(Connecting to|Transfering file): ")));
    }

    // The commands a scripted server received, the argument of PORT left out.
    static QStringList Commands(const test::ScriptedFtpServer &server, int sessions = 1)
    {
        QStringList lines = server.Received(sessions);
        for (QString &line : lines) {
            if (line.startsWith(QLatin1String("PORT ")))
                line = QStringLiteral("PORT");
        }
        return lines;
    }

    QTemporaryDir dir;
    // The user's home folder for the program, when a test keeps it from the real one.
    QString home;
    std::vector<std::unique_ptr<QProcess>> started;
};

TEST_F(Headless, PushAllWithoutADisplayPushesEverySiteAndWritesTheResultsBack)
{
    const auto server = PortTwentyOne(kPyftpdAddress);
    if (!server)
        GTEST_SKIP() << "needs root and a free port 21 on " << kPyftpdAddress.toStdString();
    TwoSites(server->Password(), server->User(), server->Password());
    // Left by a run that was killed: the process it names is gone.
    ASSERT_TRUE(test::WriteFile(LockFile(), "999999\nwindow\n/nowhere.sock\n"));

    const Finished run = Run({QStringLiteral("--push-all")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.err, QString());
    const QByteArray address = TSockets().LocalIPAddress().toLatin1();
    EXPECT_EQ(server->Stored(QStringLiteral("index.html")), "<p>at " + address + " now</p>\n");
    EXPECT_EQ(server->Stored(QStringLiteral("logo.bin")), QByteArray("\x00\x01%IP%\xff", 7));
    EXPECT_EQ(
        test::StoredEntries(StoreFile()),
        QStringLiteral("first|%1|Moved|19\nsecond|%2|Moved|7").arg(Path("pages/index.html"), Path("pages/logo.bin")));
    EXPECT_EQ(test::StoredOption(StoreFile(), QStringLiteral("LastIPAddress")), QString::fromLatin1(address));

    // Every log line, time-stamped, the client's own lines among them, in the order they came.
    // A machine on a private network is told once that "Web" would find its public address.
    QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.removeIf([](const QString &line) { return line.contains(QStringLiteral("] -- Hint: ")); });
    ASSERT_GE(lines.size(), 4) << run.out.toStdString();
    for (const QString &line : lines)
        EXPECT_TRUE(line.startsWith(QLatin1Char('[')) && line.contains(QStringLiteral("] -- "))) << line.toStdString();
    EXPECT_TRUE(lines.first().endsWith(QStringLiteral("] -- >>>> Checking all files...")));
    EXPECT_TRUE(lines.last().endsWith(QStringLiteral("] -- >>>> Done checking all files...")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("] -- > STOR index.html\n")));
    EXPECT_TRUE(run.out.contains(QStringLiteral("] -- > PASS ****\n")));
    EXPECT_EQ(LockHolderPid(LockFile()), 0) << "the lock file still names a holder";
}

// The address comes from the source the store names; a check that finds none, on a machine
// with an address of its own, holds back the page with the address, leaves its status and the
// last address as they were, says why and exits 1.
TEST_F(Headless, PushAllTakesTheAddressFromTheChosenSourceOrHoldsThePageBackAndSaysWhy)
{
    const auto server = PortTwentyOne(kPyftpdAddress);
    if (!server)
        GTEST_SKIP() << "needs root and a free port 21 on " << kPyftpdAddress.toStdString();
    test::HttpAddressServer &http = test::SharedHttpAddressServer();
    ASSERT_TRUE(http.Running()) << http.Failure().toStdString();
    const auto answer = [&http](const char *body) {
        return http.Url(QStringLiteral("/answer/") + QString::fromLatin1(QUrl::toPercentEncoding(body)));
    };
    const QString garbage = answer("<html>1.2.3.4.5 and 300.1.2.3</html>");
    const QString unavailable = http.Url(QStringLiteral("/status/503"));
    const struct {
        const char *source;
        const char *option; // the option that says where to look
        QString where;
        const char *address; // what the page and LastIPAddress get; nothing uploaded when empty
        QString reason;      // why the check failed
    } rows[] = {
        {"Web", "AddressURL", answer("203.0.113.7"), "203.0.113.7", {}},
        {"Command", "AddressCommand", QStringLiteral("echo 198.51.100.9"), "198.51.100.9", {}},
        {"Web", "AddressURL", garbage, "", QStringLiteral("no IPv4 address in the answer")},
        {"Web", "AddressURL", unavailable, "", QStringLiteral("%1 answered 503").arg(unavailable)},
    };
    ASSERT_TRUE(test::WriteFile(Path("pages/index.html"), "<p>at %IP% now</p>\n"));
    int n = 0;
    for (const auto &row : rows) {
        const QString host = QStringLiteral("index%1.html").arg(++n);
        const std::string what = row.source + (": " + row.where.toStdString());
        test::StoreScript store;
        store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
        store.Option(QStringLiteral("LastIPAddress"), QStringLiteral("10.9.8.7"));
        store.Option(QStringLiteral("AddressSource"), QString::fromLatin1(row.source));
        store.Option(QString::fromLatin1(row.option), row.where);
        // A slow command on a new address is waited for, and its end is part of the run's log.
        store.Option(QStringLiteral("AddressChangedCommand"),
                     QStringLiteral("sh -c 'sleep 1; echo \"$0 after $1\"' %IP% %OLDIP%"));
        store.Site(QStringLiteral("first"), kPyftpdAddress, server->User(), server->Password(),
                   {{Path("pages/index.html"), host, "Ascii", "%IP%", "New", "", "", ""}});
        ASSERT_TRUE(QFile::remove(StoreFile()) || !QFile::exists(StoreFile()));
        ASSERT_EQ(store.WriteTo(StoreFile()), QString());

        const Finished run = Run({QStringLiteral("--push-all")});
        const QString address = QString::fromLatin1(row.address);
        if (!address.isEmpty()) {
            EXPECT_EQ(run.exitCode, 0) << what << run.out.toStdString() << run.err.toStdString();
            EXPECT_EQ(server->Stored(host), "<p>at " + address.toLatin1() + " now</p>\n") << what;
            EXPECT_EQ(test::StoredEntries(StoreFile()),
                      QStringLiteral("first|%1|Moved|19").arg(Path("pages/index.html")))
                << what;
            EXPECT_EQ(test::StoredOption(StoreFile(), QStringLiteral("LastIPAddress")), address) << what;
            const QStringList lines = run.out.split(QLatin1Char('\n'));
            EXPECT_TRUE(lines.contains(QStringLiteral("Address changed: 10.9.8.7 -> ") + address)) << what;
            EXPECT_EQ(lines.filter(QStringLiteral("Command on a new address")),
                      QStringList{QStringLiteral("Command on a new address ended with exit status 0: %1 after 10.9.8.7")
                                      .arg(address)})
                << what << run.out.toStdString();
            continue;
        }
        EXPECT_EQ(run.exitCode, 1) << what;
        EXPECT_FALSE(QFile::exists(QDir(server->Home()).filePath(host))) << what;
        EXPECT_EQ(test::StoredEntries(StoreFile()), QStringLiteral("first|%1|New|").arg(Path("pages/index.html")))
            << what;
        EXPECT_EQ(test::StoredOption(StoreFile(), QStringLiteral("LastIPAddress")), QStringLiteral("10.9.8.7")) << what;
        EXPECT_EQ(run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                  QStringList({QStringLiteral("Address check failed (%1); pages with an address wait").arg(row.reason),
                               QStringLiteral(">>>> Checking all files..."),
                               QStringLiteral(">>>> Done checking all files...")}))
            << what;
    }
}

TEST_F(Headless, PushAllWithAWrongPasswordForOneSiteExitsOneAndStillPushesTheOther)
{
    const auto server = PortTwentyOne(kPyftpdAddress);
    if (!server)
        GTEST_SKIP() << "needs root and a free port 21 on " << kPyftpdAddress.toStdString();
    TwoSites(QStringLiteral("not the password"), server->User(), server->Password());

    const Finished run = Run({QStringLiteral("--push-all")});
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString();
    EXPECT_TRUE(server->Stored(QStringLiteral("index.html")).isEmpty());
    EXPECT_EQ(server->Stored(QStringLiteral("logo.bin")).size(), 7);
    EXPECT_EQ(
        test::StoredEntries(StoreFile()),
        QStringLiteral("first|%1|Error|\nsecond|%2|Moved|7").arg(Path("pages/index.html"), Path("pages/logo.bin")));
}

TEST_F(Headless, AStoreOrArgumentsThatCannotBeUsedExitTwoAndLeaveTheStoreAsItWas)
{
    test::StoreScript store;
    store.Site(QStringLiteral("only"), kPyftpdAddress, QStringLiteral("u"), QStringLiteral("p"), {});
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());
    // Once through the program, which brings the layout up to date and writes the options.
    Run({QStringLiteral("--push-all")});
    const QByteArray usable = Hash(StoreFile());
    const struct {
        QStringList arguments;
        bool corrupt;
        QString err; // a part of what standard error says
    } rows[] = {
        {{"--push-all", "--site", "other"}, false, QStringLiteral("There is no site named \"other\"")},
        {{"--dry-run", "--site=other"}, false, QStringLiteral("There is no site named \"other\"")},
        {{"--push-all"}, true, StoreFile() + QStringLiteral(" cannot be opened: file is not a database")},
        {{"--dry-run"}, true, QStringLiteral("file is not a database")},
        {{"--service"}, true, QStringLiteral("file is not a database")},
    };
    for (const auto &row : rows) {
        ASSERT_TRUE(!row.corrupt || test::WriteFile(StoreFile(), QByteArray(4096, 'x')));
        const QByteArray before = Hash(StoreFile());
        const Finished run = Run(row.arguments);
        const std::string what = row.arguments.join(' ').toStdString();
        EXPECT_EQ(run.exitCode, 2) << what;
        EXPECT_TRUE(run.err.contains(row.err)) << what << ": " << run.err.toStdString();
        EXPECT_EQ(Hash(StoreFile()), before) << what;
        EXPECT_TRUE(row.corrupt || before == usable) << what;
    }

    ASSERT_TRUE(QFile::remove(StoreFile()));
    const Finished missing = Run({QStringLiteral("--push-all")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains(QStringLiteral(" does not exist"))) << missing.err.toStdString();
    EXPECT_FALSE(QFile::exists(StoreFile())) << "a push made a store where there was none";
}

// One entry for each reason, judged against the store as it is on disk; afterwards the store
// has the same bytes, nothing was copied for upload and not even a lock file was made.
TEST_F(Headless, DryRunPrintsEachEntrysReasonAndChangesNothing)
{
    const auto page = [this](const char *name, const QByteArray &bytes = "page\n") {
        const QString path = Path("pages/") + QLatin1String(name);
        EXPECT_TRUE(test::WriteFile(path, bytes));
        return path;
    };
    const auto details = [](const QString &path) {
        QString date, size, attribs;
        EXPECT_TRUE(GetFileDetails(path, date, size, attribs));
        return QStringList{date, size, attribs};
    };
    const QString fresh = page("fresh.html"), failed = page("failed.html"), edited = page("edited.html"),
                  moving = page("moving.html"), touched = page("touched.html"), grown = page("grown.html"),
                  locked = page("locked.html"), held = page("held.html"), quiet = page("quiet.html");
    const QString missing = Path("pages/gone.html");
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0444), 0);
    const QStringList d = details(fresh);
    const QString otherDate = QStringLiteral("1/2/03 4:05:06");

    test::StoreScript store;
    store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
    store.Option(QStringLiteral("LastIPAddress"), QStringLiteral("10.9.8.7"));
    const auto entry = [](const QString &file, const QString &ip, const QString &status, const QStringList &texts) {
        return QStringList{file, QFileInfo(file).fileName(), QStringLiteral("Ascii"), ip, status} + texts;
    };
    store.Site(QStringLiteral("first"), kPyftpdAddress, QStringLiteral("u"), QStringLiteral("p"),
               {entry(fresh, {}, "New", details(fresh)), entry(failed, {}, "Error", details(failed)),
                entry(edited, {}, "Edited", details(edited)), entry(moving, "%IP%", "Hold", details(moving)),
                entry(touched, {}, "Moved", {otherDate, d[1], d[2]})});
    store.Site(QStringLiteral("second"), kPyftpdAddress, QStringLiteral("u"), QStringLiteral("p"),
               {entry(grown, {}, "Moved", {details(grown)[0], QStringLiteral("3"), d[2]}),
                entry(locked, {}, "Moved", {details(locked)[0], d[1], QString()}), entry(missing, {}, "Moved", d),
                entry(held, {}, "Hold", details(held)), entry(quiet, {}, "Moved", details(quiet))});
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());
    const QByteArray before = Hash(StoreFile());

    const QString address = TSockets().LocalIPAddress();
    const QString expected =
        QStringList{
            "first\t" + fresh + "\tfresh.html\tdue\tnew",
            "first\t" + failed + "\tfailed.html\tdue\terror last time",
            "first\t" + edited + "\tedited.html\tdue\tedited",
            "first\t" + moving + "\tmoving.html\tdue\taddress changed (10.9.8.7 -> " + address + ")",
            "first\t" + touched + "\ttouched.html\tdue\tchanged: date",
            "second\t" + grown + "\tgrown.html\tdue\tchanged: size",
            "second\t" + locked + "\tlocked.html\tdue\tchanged: attributes",
            "second\t" + missing + "\tgone.html\tdue\tfile missing",
            "second\t" + held + "\theld.html\tnot due\thold",
            "second\t" + quiet + "\tquiet.html\tnot due\tunchanged",
        }
            .join('\n') +
        '\n';

    const Finished run = Run({QStringLiteral("--dry-run")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, QString());
    const Finished narrowed = Run({QStringLiteral("--dry-run"), QStringLiteral("--site"), QStringLiteral("second")});
    EXPECT_EQ(narrowed.out, expected.mid(expected.indexOf(QStringLiteral("second\t"))));

    EXPECT_EQ(Hash(StoreFile()), before) << "the dry run changed the store";
    EXPECT_FALSE(QFile::exists(Path("upload.tmp")));
    EXPECT_FALSE(QFile::exists(Path("cache")));
    EXPECT_FALSE(QFile::exists(LockFile()));
}

// The end signal does not wait for a server that holds back its answer to the password: the
// login is cancelled at once, the entry stays unpushed, and the program ends within two seconds.
TEST_F(Headless, PushAllEndsSoonAfterTheEndSignalWhileTheServerHoldsTheLoginReply)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for port 21 on " << kSilentAddress.toStdString();
    test::ScriptedFtpServer silent(QStringLiteral("no_pass_reply"), kSilentAddress, {}, 21);
    ASSERT_TRUE(silent.Running()) << silent.Failure().toStdString();
    ASSERT_TRUE(test::WriteFile(Path("pages/index.html"), "waits for the login\n"));
    test::StoreScript store;
    store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
    store.Option(QStringLiteral("DetailedLogging"), QStringLiteral("1"));
    store.Site(QStringLiteral("held"), kSilentAddress, QStringLiteral("u"), QStringLiteral("p"),
               {{Path("pages/index.html"), "index.html", "Ascii", "", "New", "", "", ""}});
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    QProcess &push = Start({QStringLiteral("--push-all")});
    QString out = test::ReadUntil(push, QStringLiteral("> PASS ****\n"));
    ASSERT_TRUE(out.contains(QStringLiteral("> PASS ****\n"))) << out.toStdString();

    QElapsedTimer clock;
    clock.start();
    push.terminate();
    ASSERT_TRUE(push.waitForFinished(20000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(push.exitStatus(), QProcess::NormalExit);
    out += QString::fromLocal8Bit(push.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("\nCancelled: the program was asked to end\n"))) << out.toStdString();
    EXPECT_EQ(test::StoredEntries(StoreFile()), QStringLiteral("held|%1|Error|").arg(Path("pages/index.html")));
}

// The service checks at once, so a file changed while it was not running goes up within the
// first period; the end signal then cancels the upload it is in the middle of, the program
// saves and ends well within two seconds, and the entries it did not finish stay due.
TEST_F(Headless, ServicePushesAChangedFileAndTheEndSignalCancelsALongUploadAndKeepsTheStore)
{
    const auto server = PortTwentyOne(kPyftpdAddress);
    if (!server)
        GTEST_SKIP() << "needs root and a free port 21 on " << kPyftpdAddress.toStdString();
    test::ScriptedFtpServer slow(QStringLiteral("slow_sink"), kSlowAddress, {}, 21);
    ASSERT_TRUE(slow.Running()) << slow.Failure().toStdString();
    ASSERT_TRUE(test::WriteFile(Path("pages/index.html"), "changed since the last push\n"));
    ASSERT_TRUE(test::WriteFile(Path("pages/big.bin"), QByteArray(4 * 1024 * 1024, 'b')));

    test::StoreScript store;
    store.Option(QStringLiteral("MinsTestFiles"), QStringLiteral("1"));
    store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
    store.Option(QStringLiteral("LastIPAddress"), QStringLiteral("10.9.8.7"));
    store.Site(QStringLiteral("a"), kPyftpdAddress, server->User(), server->Password(),
               {{Path("pages/index.html"), "index.html", "Ascii", "", "Moved", "1/2/03", "5", ""}});
    store.Site(QStringLiteral("b"), kSlowAddress, QStringLiteral("u"), QStringLiteral("p"),
               {{Path("pages/big.bin"), "big.bin", "Binary", "", "New", "", "", ""},
                {Path("pages/index.html"), "after.html", "Ascii", "", "New", "", "", ""}});
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    QProcess &service = Start({QStringLiteral("--service")});
    const QString slowFile = QDir(slow.Home()).filePath(QStringLiteral("big.bin"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !server->Stored(QStringLiteral("index.html")).isEmpty(); }, 15000))
        << "the changed file did not go up";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(slowFile).size() > 0; }, 15000))
        << "the long upload did not start";

    QElapsedTimer clock;
    clock.start();
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0);
    const QString out = QString::fromLocal8Bit(service.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QStringLiteral("\nCancelled: the program was asked to end\n"))) << out.toStdString();
    EXPECT_TRUE(out.endsWith(QStringLiteral(">>>> Stopped checking files...\n"))) << out.toStdString();
    EXPECT_LT(QFileInfo(slowFile).size(), 4 * 1024 * 1024);

    EXPECT_EQ(
        test::StoredEntries(StoreFile()),
        QStringLiteral("a|%1|Moved|28\nb|%2|Error|\nb|%1|New|").arg(Path("pages/index.html"), Path("pages/big.bin")));
    EXPECT_EQ(test::StoredOption(StoreFile(), QStringLiteral("LastIPAddress")), QStringLiteral("10.9.8.7"))
        << "entries not reached must still find the address changed";
    EXPECT_EQ(test::StoredOption(StoreFile(), QStringLiteral("MinsTestFiles")), QStringLiteral("1"));
}

// One program per store: a second service is refused, a window makes the service step aside
// until it is closed, and a second window only brings the first to the front.
TEST_F(Headless, ASecondServiceIsRefusedAndAWindowTakesTheStoreFromTheServiceUntilItCloses)
{
    test::StoreScript store;
    store.Option(QStringLiteral("MinsTestFiles"), QStringLiteral("5"));
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    QProcess &service = Start({QStringLiteral("--service")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return LockHolderPid(LockFile()) == service.processId(); }, 5000));

    const Finished second = Run({QStringLiteral("--service")}, 10000);
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_EQ(second.err,
              QStringLiteral("quelmark: The settings store is in use by process %1\n").arg(service.processId()));

    QProcess &window = Start({}, true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return LockHolderPid(LockFile()) == window.processId(); }, 10000));
    QProcess &another = Start({QStringLiteral("-session"), QStringLiteral("restored")}, true);
    EXPECT_TRUE(another.waitForFinished(10000));
    EXPECT_EQ(another.exitCode(), 0) << another.readAllStandardError().toStdString();
    EXPECT_EQ(window.state(), QProcess::Running);

    window.terminate();
    EXPECT_TRUE(window.waitForFinished(5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return LockHolderPid(LockFile()) == service.processId(); }, 5000))
        << "the service did not take the store back";

    QElapsedTimer clock;
    clock.start();
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(5000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(service.exitCode(), 0);
    const QString said = QString::fromLocal8Bit(service.readAllStandardError());
    EXPECT_TRUE(said.contains(QStringLiteral("The window was opened"))) << said.toStdString();
    EXPECT_EQ(test::StoredOption(StoreFile(), QStringLiteral("MinsTestFiles")), QStringLiteral("5"));
}

// The files of a site go over one login, on IPv4 and on IPv6, unless the general option says
// otherwise; either way the log reads file by file. vsftpd logs every command it receives.
TEST_F(Headless, ASitesFilesGoOverOneLoginAndTheLogStillReadsFileByFile)
{
    const struct {
        const char *what;
        bool ipv6;
        const char *reuseSession; // nullptr: a store without the value
        int logins;
    } rows[] = {
        {"a store without the option", false, nullptr, 1},
        {"one session per site unchecked", false, "0", 3},
        {"IPv6, port in brackets", true, "1", 1},
    };
    const QByteArray first = QByteArray("\x00\x01"
                                        "binary\xff",
                                        9);
    const QByteArray third(70000, 't');
    ASSERT_TRUE(test::WriteFile(Path("pages/one.bin"), first) &&
                test::WriteFile(Path("pages/two.html"), "<p>%IP%</p>\n") &&
                test::WriteFile(Path("pages/three.bin"), third));
    const QByteArray address = TSockets().LocalIPAddress().toLatin1();
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        test::VsftpOptions options;
        options.ipv6 = row.ipv6;
        test::VsftpServer server(options);
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        const QString host =
            row.ipv6 ? QStringLiteral("[::1]:") + server.PortText() : QStringLiteral("127.0.0.1:") + server.PortText();
        test::StoreScript store;
        store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
        if (row.reuseSession)
            store.Option(QStringLiteral("ReuseSession"), QString::fromLatin1(row.reuseSession));
        const int site = store.Site(QStringLiteral("pages"), host, server.User(), server.Password(),
                                    {{Path("pages/one.bin"), "one.bin", "Binary", "", "New", "", "", ""},
                                     {Path("pages/two.html"), "two.html", "Ascii", "%IP%", "New", "", "", ""},
                                     {Path("pages/three.bin"), "three.bin", "Binary", "", "New", "", "", ""}});
        store.Value(site, QStringLiteral("Passive"), QStringLiteral("1"));
        QFile::remove(StoreFile());
        ASSERT_EQ(store.WriteTo(StoreFile()), QString());

        const Finished run = Run({QStringLiteral("--push-all")});
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        EXPECT_EQ(server.Stored(QStringLiteral("one.bin")), first);
        EXPECT_TRUE(server.Stored(QStringLiteral("two.html")).startsWith("<p>" + address + "</p>"));
        EXPECT_EQ(server.Stored(QStringLiteral("three.bin")), third);
        const QString connecting = QStringLiteral("Connecting to: ") + host;
        const QString sending = QStringLiteral("Transfering file: ");
        EXPECT_EQ(FileLines(run),
                  QStringList({connecting, sending + Path("pages/one.bin"), connecting,
                               sending + Path("pages/two.html"), connecting, sending + Path("pages/three.bin")}));
        const QString said = QString::fromLocal8Bit(test::ReadFile(server.LogFile()));
        EXPECT_EQ(said.count(QRegularExpression(QStringLiteral("\"USER "))), row.logins) << said.toStdString();
        EXPECT_EQ(said.count(QRegularExpression(QStringLiteral("\"(PORT|EPRT) "))), 0) << "passive only";
    }
}

// A site of an earlier version's store (its key holds none of the options) talks as the
// program always did; each option stored for a site changes what goes to that site's server.
TEST_F(Headless, AnEarlierStoresSiteTalksAsBeforeAndEachSiteOptionReachesItsServer)
{
    test::ScriptedFtpServer earlier(QStringLiteral("ok"));
    test::ScriptedFtpServer passive(QStringLiteral("epsv_refused"));
    test::ScriptedFtpServer atomic(QStringLiteral("rnto_no_overwrite"));
    test::ScriptedFtpServer busy(QStringLiteral("refuse_first"));
    test::PyFtpServer folders;
    for (const test::FtpServerProcess *server :
         std::initializer_list<const test::FtpServerProcess *>{&earlier, &passive, &atomic, &busy, &folders})
        ASSERT_TRUE(server->Running()) << server->Failure().toStdString();
    ASSERT_TRUE(test::WriteFile(QDir(atomic.Home()).filePath(QStringLiteral("page.bin")), "old page"));
    ASSERT_TRUE(test::WriteFile(Path("pages/page.bin"), "new page"));
    const QString page = Path("pages/page.bin");
    const auto at = [](const test::FtpServerProcess &server) {
        return QStringLiteral("127.0.0.1:") + server.PortText();
    };
    const QStringList entry{page, "page.bin", "Binary", "", "New", "", "", ""};

    test::StoreScript store;
    store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
    store.Site(QStringLiteral("1 earlier"), at(earlier), QStringLiteral("u"), QStringLiteral("p"), {entry});
    const struct {
        const char *site;
        const test::FtpServerProcess *server;
        const char *option;
        const char *value;
        QString hostFile;
    } options[] = {
        {"2 passive", &passive, "Passive", "1", QStringLiteral("page.bin")},
        {"3 atomic", &atomic, "UploadViaTempName", "1", QStringLiteral("page.bin")},
        {"4 retried", &busy, "Retries", "1", QStringLiteral("page.bin")},
        {"5 folders", &folders, "CreateFolders", "1", QStringLiteral("/a/b/c/page.bin")},
    };
    for (const auto &o : options) {
        const bool ours = o.server == &folders;
        QStringList withHost = entry;
        withHost[1] = o.hostFile;
        const int key = store.Site(QString::fromLatin1(o.site), at(*o.server), ours ? folders.User() : "u",
                                   ours ? folders.Password() : "p", {withHost});
        store.Value(key, QString::fromLatin1(o.option), QString::fromLatin1(o.value));
    }
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    const Finished run = Run({QStringLiteral("--push-all")});
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString();
    const QStringList login{"USER u", "PASS p", "TYPE I"};
    EXPECT_EQ(Commands(earlier), login + QStringList({"PORT", "STOR page.bin", "QUIT"}));
    EXPECT_EQ(Commands(passive), login + QStringList({"EPSV", "PASV", "STOR page.bin", "QUIT"}));
    EXPECT_EQ(Commands(atomic),
              login + QStringList({"MLST page.bin", "STAT page.bin", "PORT", "STOR page.bin.quelmark-part",
                                   "RNFR page.bin.quelmark-part", "RNTO page.bin", "DELE page.bin",
                                   "RNFR page.bin.quelmark-part", "RNTO page.bin", "QUIT"}));
    EXPECT_EQ(atomic.Stored(QStringLiteral("page.bin")), "new page");
    EXPECT_EQ(Commands(busy, 2), login + QStringList({"PORT", "STOR page.bin", "QUIT"})) << "a refusal, then a retry";
    EXPECT_TRUE(run.out.contains(QStringLiteral("\nTrying again in 2 seconds (retry 1 of 1)\n")))
        << run.out.toStdString();
    EXPECT_EQ(folders.Stored(QStringLiteral("a/b/c/page.bin")), "new page");
    EXPECT_EQ(test::StoredEntries(StoreFile()),
              QStringLiteral("1 earlier|%1|Moved|8\n2 passive|%1|Moved|8\n3 atomic|%1|Moved|8\n4 retried|%1|Moved|8\n"
                             "5 folders|%1|Moved|8")
                  .arg(page));
}

// Without a window nobody is asked: a certificate or host key that nothing vouches for fails its
// site's files with the fingerprint in the log, and what the user trusted before (a site's
// TrustedCertificate, a host key in the program's known-hosts file) lets the files through.
TEST_F(Headless, PushAllFailsAServerNothingVouchesForWithItsFingerprintAndUsesWhatTheUserTrusted)
{
    const test::TestCertificate &certificate = test::Certificates().selfSigned;
    test::PyFtpServer tls(QStringLiteral("127.0.0.1"), 0, certificate);
    ASSERT_TRUE(tls.Running()) << tls.Failure().toStdString();
    test::OpenSshServer unknown;
    test::OpenSshServer known;
    if (!unknown.Running() || !known.Running())
        GTEST_SKIP() << unknown.Failure().toStdString() << known.Failure().toStdString();
    home = Path("home");
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_TRUE(
        test::WriteFile(Path("config/Varnholt/Quelmark/known_hosts"), known.KnownHostsLine().toLatin1() + "\n"));
    ASSERT_TRUE(test::WriteFile(Path("pages/page.html"), "<p>at %IP%</p>\n"));
    const QString page = Path("pages/page.html");

    const struct {
        const char *site;
        const test::FtpServerProcess *server;
        QList<std::pair<const char *, QString>> values;
        QString hostFile;
        const char *status;
        QString fingerprint; // named in the log when the site fails
    } sites[] = {
        {"1 certificate", &tls, {{"Security", "TLS"}}, "one.html", "Error", certificate.fingerprint},
        {"2 certificate trusted",
         &tls,
         {{"Security", "TLS"}, {"TrustedCertificate", certificate.fingerprint}},
         "two.html",
         "Moved",
         {}},
        {"3 host key", &unknown, {{"Protocol", "SFTP"}}, "three.html", "Error", unknown.HostKeyFingerprint()},
        {"4 host key known",
         &known,
         {{"Protocol", "SFTP"}, {"KeyFile", known.KeyFile()}, {"CreateFolders", "1"}},
         "www/four.html",
         "Moved",
         {}},
    };
    test::StoreScript store;
    store.Option(QStringLiteral("TempFileName"), Path("upload.tmp"));
    QStringList statuses;
    for (const auto &s : sites) {
        // The key logs in without a password; the password logs in elsewhere.
        const bool byKey = s.server == &known;
        const int key = store.Site(QString::fromLatin1(s.site), QStringLiteral("127.0.0.1:") + s.server->PortText(),
                                   s.server->User(), byKey ? QString() : s.server->Password(),
                                   {{page, s.hostFile, "Ascii", "%IP%", "New", "", "", ""}});
        for (const auto &[name, value] : s.values)
            store.Value(key, QString::fromLatin1(name), value);
        // A pushed entry records the page's size; a failed one keeps what it had.
        const QString status = QString::fromLatin1(s.status);
        statuses.append(QStringLiteral("%1|%2|%3|%4")
                            .arg(QString::fromLatin1(s.site), page, status,
                                 status == QLatin1String("Moved") ? QStringLiteral("15") : QString()));
    }
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    const Finished run = Run({QStringLiteral("--push-all")});
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(test::StoredEntries(StoreFile()), statuses.join('\n')) << run.out.toStdString();
    for (const auto &s : sites) {
        EXPECT_TRUE(s.fingerprint.isEmpty() ||
                    run.out.contains(s.fingerprint + QStringLiteral("; ") + kNobodyAskedText))
            << s.site << "\n"
            << run.out.toStdString();
    }
    const QByteArray address = TSockets().LocalIPAddress().toLatin1();
    EXPECT_EQ(tls.Stored(QStringLiteral("two.html")), "<p>at " + address + "</p>\n");
    // An Ascii page goes over SFTP with the line ends TYPE A gives it on a Unix server.
    EXPECT_EQ(known.Stored(QStringLiteral("www/four.html")), "<p>at " + address + "</p>\n");
    EXPECT_EQ(tls.Stored(QStringLiteral("one.html")), QByteArray());
    EXPECT_EQ(unknown.Stored(QStringLiteral("three.html")), QByteArray());
}

// ---------------------------------------------------------------------------------------------
// What a server, a file or another user sends

// Raw bytes a terminal or a log view obeys; none may reach the output, whatever was sent.
bool HoldsRawControls(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != '\n' && u != '\t') || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029;
    });
}

// A line that never ends costs the reader 64 KiB and the step fails at once, in either program;
// a server that floods the data connection does not keep the end signal waiting.
TEST_F(Headless, ALineThatNeverEndsOrAFloodedDataConnectionHoldsNeitherProgram)
{
    ASSERT_TRUE(test::WriteFile(Path("pages/page.bin"), QByteArray(400 * 1024, 'p')));
    const QString tooLong = QStringLiteral("The server's reply line is longer than 65536 bytes");
    const struct {
        const char *what;
        const char *scenario;
        bool push;      // quelmark --push-all, else quelmark-put
        bool terminate; // the end signal once the server holds part of the file
        QString line;   // a whole line of the output
    } rows[] = {
        {"quelmark-put, a greeting without end", "flood_line", false, false, tooLong},
        {"quelmark-put, a log-in reply without end", "flood_after_pass", false, false, tooLong},
        {"--push-all, a greeting without end", "flood_line", true, false, tooLong},
        {"--push-all, the end signal under a flood", "data_flood", true, true,
         QStringLiteral("Cancelled: the program was asked to end")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        test::ScriptedFtpServer server(QString::fromLatin1(row.scenario));
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        const QString at = QStringLiteral("127.0.0.1:") + server.PortText();
        QFile::remove(StoreFile());
        test::StoreScript store;
        store.Site(QStringLiteral("flooded"), at, QStringLiteral("u"), QStringLiteral("p"),
                   {{Path("pages/page.bin"), "page.bin", "Binary", "", "New", "", "", ""}});
        ASSERT_EQ(store.WriteTo(StoreFile()), QString());
        const QStringList put{"--host",     at,         "--user",    "u",
                              "--password", "p",        "--local",   Path("pages/page.bin"),
                              "--remote",   "page.bin", "--timeout", "60"};
        QProcess &process = row.push ? Start({QStringLiteral("--push-all")}) : Start(put, false, "quelmark-put");
        const QString received = QDir(server.Home()).filePath(QStringLiteral("page.bin"));
        if (row.terminate) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(received).size() > 0; }, 15000))
                << "the upload did not start";
            process.terminate();
        }
        // The flood goes on for two minutes: a program that ends here did not follow it.
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 1);
        const QStringList lines = QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'));
        EXPECT_TRUE(lines.contains(row.line)) << lines.join('\n').toStdString();
        if (row.push) {
            EXPECT_EQ(test::StoredEntries(StoreFile()),
                      QStringLiteral("flooded|%1|Error|").arg(Path("pages/page.bin")));
        }
        const QStringList flood = server.Received(1, 10000).filter(QStringLiteral("FLOOD SENT "));
        if (!flood.isEmpty()) {
            EXPECT_LT(flood.first().mid(11).toLongLong(), 64LL * 1024 * 1024) << "read far past the line's end";
        }
    }
}

// Texts from a server, a certificate, the store, a file name or the command line reach the log
// and the terminal with every control character shown, never obeyed, and on the line they
// belong to.
TEST_F(Headless, TextsFromOutsideReachTheOutputEscapedAndOnTheirOwnLine)
{
    test::ScriptedFtpServer hostile(QStringLiteral("hostile_texts"));
    test::PyFtpServer tls(QStringLiteral("127.0.0.1"), 0, test::Certificates().hostile);
    ASSERT_TRUE(hostile.Running() && tls.Running()) << hostile.Failure().toStdString() << tls.Failure().toStdString();
    const QString oddName = Path("pages/a\nForged line: Done\x1b[2J.bin");
    ASSERT_TRUE(test::WriteFile(Path("pages/page.bin"), "page\n") && test::WriteFile(oddName, "page\n"));
    const QString page = Path("pages/page.bin");
    test::StoreScript store;
    store.Option(QStringLiteral("DetailedLogging"), QStringLiteral("1"));
    store.Site(QStringLiteral("1 replies"), QStringLiteral("127.0.0.1:") + hostile.PortText(), QStringLiteral("u"),
               QStringLiteral("p"), {{oddName, "page.bin", "Binary", "", "New", "", "", ""}});
    const int key = store.Site(QStringLiteral("2 certificate"), QStringLiteral("127.0.0.1:") + tls.PortText(),
                               tls.User(), tls.Password(), {{page, "page.bin", "Binary", "", "New", "", "", ""}});
    store.Value(key, QStringLiteral("Security"), QStringLiteral("TLS"));
    store.Site(QStringLiteral("3 \x1b]0;title\x07 site"), QStringLiteral("127.0.0.1:1"), QStringLiteral("u"),
               QStringLiteral("p"), {{page, "x\nForged\tline\\.html", "Binary", "", "Hold", "", "", ""}});
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    const QString escapedName = Path("pages/a\\x0aForged line: Done\\x1b[2J.bin");
    const struct {
        const char *what;
        QStringList arguments;
        QString line; // a whole line of standard output or standard error
    } rows[] = {
        {"a dry run's fields",
         {"--dry-run"},
         QStringLiteral("3 \\x1b]0;title\\x07 site\t") + page +
             QStringLiteral("\tx\\nForged\\tline\\\\.html\tdue\tchanged: size")},
        {"a server's reply",
         {"--push-all"},
         QStringLiteral("< 530 \\x1b[2J\\x07Login\\xc2\\x9b incorrect\\u{2028}Forged line: Done")},
        {"a local file name", {"--push-all"}, QStringLiteral("Transfering file: ") + escapedName},
        {"a certificate's subject",
         {"--push-all"},
         QStringLiteral(
             ".*Subject: CN=evil\\\\xc2\\\\x85\\\\u\\{2028\\}\\\\1B\\[31mForged line: Done,O=Quelmark tests;.*")},
        {"an echoed argument",
         {"--push-all", "--site", "no\x1b[2Jsuch\nsite"},
         QStringLiteral("quelmark: There is no site named \"no\\x1b[2Jsuch\\x0asite\"")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        const Finished run = Run(row.arguments);
        EXPECT_FALSE(HoldsRawControls(run.out + run.err)) << run.out.toStdString() << run.err.toStdString();
        const QStringList lines = (run.out + run.err).split(QLatin1Char('\n'));
        EXPECT_TRUE(lines.filter(QRegularExpression(QStringLiteral("^Forged"))).isEmpty()) << run.out.toStdString();
        const QRegularExpression whole(QRegularExpression::anchoredPattern(
            row.line.startsWith(QLatin1String(".*")) ? row.line : QRegularExpression::escape(row.line)));
        EXPECT_FALSE(lines.filter(whole).isEmpty()) << run.out.toStdString() << run.err.toStdString();
        if (row.arguments.first() == QLatin1String("--dry-run")) {
            for (const QString &line : run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                EXPECT_EQ(line.count(QLatin1Char('\t')), 4) << line.toStdString();
        }
    }
}

// The details stored for an entry are those of the file as it was read: a page changed while its
// upload runs is "Moved" with the details from before, so the next check finds it changed.
TEST_F(Headless, APageChangedWhileItGoesUpIsDueAgainAtTheNextCheck)
{
    test::ScriptedFtpServer slow(QStringLiteral("slow_sink"));
    ASSERT_TRUE(slow.Running()) << slow.Failure().toStdString();
    const QString page = Path("pages/page.html");
    QByteArray text(60 * 1024, 'a');
    ASSERT_TRUE(test::WriteFile(page, text));
    const QDateTime before = QDateTime::currentDateTime().addSecs(-3600);
    {
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(before, QFileDevice::FileModificationTime));
    }
    test::StoreScript store;
    store.Site(QStringLiteral("slow"), QStringLiteral("127.0.0.1:") + slow.PortText(), QStringLiteral("u"),
               QStringLiteral("p"), {{page, "page.html", "Binary", "", "New", "", "", ""}});
    ASSERT_EQ(store.WriteTo(StoreFile()), QString());

    QProcess &push = Start({QStringLiteral("--push-all")});
    const QString received = QDir(slow.Home()).filePath(QStringLiteral("page.html"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(received).size() > 0; }, 15000)) << "the upload did not start";
    text.replace(0, 6, "CHANGE");
    ASSERT_TRUE(test::WriteFile(page, text));
    ASSERT_TRUE(push.waitForFinished(30000));
    EXPECT_EQ(push.exitCode(), 0);
    EXPECT_FALSE(slow.Stored(QStringLiteral("page.html")).startsWith("CHANGE")) << "the copy was read before";
    const QString out = QString::fromLocal8Bit(push.readAllStandardOutput());
    EXPECT_TRUE(out.contains(page + QStringLiteral(" changed while it was sent; it goes out again at the next check")))
        << out.toStdString();
    EXPECT_EQ(test::StoredEntries(StoreFile()), QStringLiteral("slow|%1|Moved|61440").arg(page));
    const Finished dry = Run({QStringLiteral("--dry-run")});
    EXPECT_EQ(dry.out, QStringLiteral("slow\t%1\tpage.html\tdue\tchanged: date\n").arg(page));
}

// "Security" and "Protocol" are read without regard to case; a value this version does not know
// fails its file before anything is sent rather than sending the password in clear text.
TEST_F(Headless, SecurityAndProtocolValuesAreReadWithoutCaseAndUnknownOnesSendNothing)
{
    const test::TestCertificate &certificate = test::Certificates().selfSigned;
    ASSERT_TRUE(test::WriteFile(Path("pages/page.bin"), "page\n"));
    const struct {
        const char *security;
        const char *protocol;
        const char *status;
        const char *line;  // a whole line of the log
        const char *first; // the first command the server got; empty: none
    } rows[] = {
        {"tls", "ftp", "Moved", "", "AUTH TLS"},
        {"none", "", "Moved", "", "USER u"},
        {"TLS1.3", "FTP", "Error", "Unknown security setting 'TLS1.3'; nothing was sent", ""},
        {"None", "FTPS", "Error", "Unknown protocol setting 'FTPS'; nothing was sent", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.security);
        test::ScriptedFtpServer server(QStringLiteral("ok"), QStringLiteral("127.0.0.1"), {}, 0, certificate);
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        QFile::remove(StoreFile());
        test::StoreScript store;
        const int key =
            store.Site(QStringLiteral("site"), QStringLiteral("127.0.0.1:") + server.PortText(), QStringLiteral("u"),
                       QStringLiteral("p"), {{Path("pages/page.bin"), "page.bin", "Binary", "", "New", "", "", ""}});
        store.Value(key, QStringLiteral("Security"), QString::fromLatin1(row.security));
        store.Value(key, QStringLiteral("Protocol"), QString::fromLatin1(row.protocol));
        store.Value(key, QStringLiteral("TrustedCertificate"), certificate.fingerprint);
        ASSERT_EQ(store.WriteTo(StoreFile()), QString());
        const Finished run = Run({QStringLiteral("--push-all")});
        if (*row.line) {
            EXPECT_TRUE(run.out.split(QLatin1Char('\n')).contains(QString::fromLatin1(row.line)))
                << run.out.toStdString();
        }
        EXPECT_EQ(test::StoredEntries(StoreFile()).section(QLatin1Char('|'), 2, 2), QString::fromLatin1(row.status));
        EXPECT_EQ(server.Received(1, 2000).value(0), QString::fromLatin1(row.first));
        // An unknown value is kept as it was written, for the version that wrote it.
        if (!*row.first) {
            EXPECT_EQ(test::RunSqlite(StoreFile(), QStringLiteral("SELECT CAST(data AS TEXT) FROM vals WHERE name IN "
                                                                  "('Security', 'Protocol') ORDER BY name DESC")),
                      QStringLiteral("%1\n%2").arg(QLatin1String(row.security), QLatin1String(row.protocol)));
        }
    }
}

// Without XDG_RUNTIME_DIR, a runtime folder that another user made first (or that is not private)
// is not used for the commands socket: the holder makes its own, says where, and a run started
// meanwhile still hands its command over.
TEST_F(Headless, ACommandsSocketIsNeverPutInARuntimeFolderThatIsNotPrivate)
{
    // A store path too long for a socket beside it.
    const QString config = Path("config/") + QString(80, QLatin1Char('c'));
    ASSERT_TRUE(QDir().mkpath(config + QStringLiteral("/Varnholt/Quelmark")));
    const QString storeFile = config + QStringLiteral("/Varnholt/Quelmark/store.db");
    // A missing file with no details stored is not due: the service's own check pushes nothing.
    test::StoreScript store;
    store.Site(QStringLiteral("held"), QStringLiteral("127.0.0.1:1"), QStringLiteral("u"), QStringLiteral("p"),
               {{Path("pages/none.bin"), "page.bin", "Binary", "", "Hold", "", "", ""}});
    ASSERT_EQ(store.WriteTo(storeFile), QString());
    // Qt's own fallback and the program's, made by someone else first, open to all.
    const QString temp = Path("tmp");
    const QString shared = temp + QStringLiteral("/quelmark-runtime-%1").arg(::geteuid());
    const QString qtFallback =
        temp + QStringLiteral("/runtime-") + QString::fromLocal8Bit(::getpwuid(::geteuid())->pw_name);
    for (const QString &folder : {shared, qtFallback}) {
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    }

    const auto environment = [&] {
        QProcessEnvironment env = Environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(QStringLiteral("TMPDIR"), temp);
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        return env;
    };
    QProcess holder;
    holder.setProcessEnvironment(environment());
    holder.start(test::BuildProgram(), {QStringLiteral("--service")});
    const QString errors =
        test::ReadUntil(holder, QStringLiteral("The commands socket is in "), 10000, QProcess::StandardError);
    ASSERT_TRUE(errors.contains(QStringLiteral("The commands socket is in "))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(shared + QStringLiteral(" is not a folder of yours alone"))) << errors.toStdString();
    EXPECT_TRUE(QDir(shared).isEmpty() && QDir(qtFallback).isEmpty()) << "the socket went into a shared folder";

    const Finished dry = test::RunToEnd(test::BuildProgram(), {QStringLiteral("--dry-run")}, environment(), 20000);
    EXPECT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    EXPECT_EQ(dry.out, QStringLiteral("held\t%1\tpage.bin\tnot due\tfile missing\n").arg(Path("pages/none.bin")));
    holder.terminate();
    EXPECT_TRUE(holder.waitForFinished(10000));
}

// "Push changes at once", "Command on a new address:" and a failing address check, in the real
// service: in a network namespace of the test's own, its address from an interface there and its
// period an hour, a new address and a saved page reach the server within seconds, the log names
// the change and the command's end, and a check that fails holds back only the page with the
// address. With the option "0" only the timer would push; a store without it pushes at once.
TEST_F(Headless, ServicePushesANewAddressAndASavedPageAtOnceUnlessTheOptionSaysNo)
{
    if (!test::InsideNamespace())
        return test::RerunInNamespace(test::WatchedInterfaceSetUp());
    test::WatchedServers servers;
    ASSERT_EQ(servers.Failure(), QString());
    const test::PyFtpServer &server = servers.ftp;
    for (const test::WatchedChange &row : test::WatchedChanges(Path("pages"), servers)) {
        ASSERT_TRUE(test::SetInterfaceAddress(test::kFirstAddress));
        ASSERT_EQ(test::WriteWatchedSite(StoreFile(), Path("pages"), server, row.store), QString()) << row.what;

        QProcess &service = Start({QStringLiteral("--service")});
        // The first check pushes what is new; the watches stand from its end.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !server.Stored(QStringLiteral("plain.txt")).isEmpty(); }, 10000))
            << row.what;
        QThread::msleep(500);
        ASSERT_TRUE(row.change()) << row.what;
        const QString file = QString::fromLatin1(row.file);
        const bool shown = QTest::qWaitFor([&] { return server.Stored(file).contains(row.shows.toLatin1()); },
                                           row.atOnce ? 5000 : 4000);
        EXPECT_EQ(shown, row.atOnce) << row.what;
        // The command on a new address runs after the push.
        if (!row.logged.isEmpty())
            QThread::msleep(1000);
        service.terminate();
        ASSERT_TRUE(service.waitForFinished(10000)) << row.what;
        const QStringList lines = QString::fromLocal8Bit(service.readAllStandardOutput()).split(QLatin1Char('\n'));
        for (const QString &line : row.logged) {
            EXPECT_TRUE(lines.contains(line)) << row.what << ": " << line.toStdString() << "\n"
                                              << lines.join('\n').toStdString();
        }
        if (row.checkFailed) {
            EXPECT_TRUE(server.Stored(QStringLiteral("index.html")).isEmpty()) << "the page with the address waits";
        }
    }
}

} // namespace
