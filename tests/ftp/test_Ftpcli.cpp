// The FTP client against the scripted server: each case checks the lines shown, in order, the
// error text and the result; the transcript cases check the exact commands the server got.
#include "tests/ftp/FtpcliFixture.h"
#include "tests/support/Printing.h"
#include "tests/support/TestCertificates.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

using namespace quelmark;
using quelmark::test::Pattern;
using quelmark::test::ScriptedFtpServer;
using quelmark::test::TickMs;
using quelmark::test::Ticks;

namespace {

// Masks what differs between runs: the PORT numbers and the timing of the statistics line.
QStringList Masked(const QStringList &lines)
{
    static const QRegularExpression port(QStringLiteral("^(> PORT 127,0,0,1),\\d+,\\d+$"));
    static const QRegularExpression stats(QStringLiteral("^(Data: session closed, \\d+ bytes transfered), .*$"));
    QStringList out;
    for (QString line : lines) {
        line.replace(port, QStringLiteral("\\1,*,*"));
        line.replace(stats, QStringLiteral("\\1, *"));
        out += line;
    }
    return out;
}

QStringList Transcript(const ScriptedFtpServer &server, int sessions = 1)
{
    QStringList received = server.Received(sessions);
    received.replaceInStrings(QRegularExpression(QStringLiteral("^PORT 127,0,0,1,\\d+,\\d+$")),
                              QStringLiteral("PORT 127,0,0,1,*,*"));
    return received;
}

bool IsDataLine(const QString &line)
{
    // These come from the data connection's events and may interleave with the replies.
    return line.startsWith(QLatin1String("Data"));
}

QStringList ControlLines(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : Masked(lines))
        if (!IsDataLine(line))
            out += line;
    return out;
}

QStringList DataLines(const QStringList &lines)
{
    QStringList out;
    for (const QString &line : Masked(lines))
        if (IsDataLine(line))
            out += line;
    return out;
}

using FtpcliScripted = test::FtpcliFixture;

const QStringList LoginLines = {
    QStringLiteral("Connected for FTP"), QStringLiteral("< 220 Scripted server ready"),
    QStringLiteral("> USER user"),       QStringLiteral("< 331 Please specify the password."),
    QStringLiteral("> PASS ****"),       QStringLiteral("< 230 Login successful."),
};

TEST_F(FtpcliScripted, SuccessfulPutShowsEveryStepAndSendsExactCommands)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    const QByteArray bytes = Pattern(2500);
    Aim(server, LocalFile(bytes));
    client.Site().folder = QStringLiteral("www");

    ASSERT_TRUE(client.Put());

    EXPECT_EQ(Transcript(server), QStringList({"USER user", "PASS secret", "CWD www", "TYPE I", "PORT 127,0,0,1,*,*",
                                               "STOR page.html", "QUIT"}));
    EXPECT_EQ(ControlLines(lines),
              LoginLines +
                  QStringList({"> CWD www", "< 250 Directory successfully changed.", "> TYPE I", "< 200 Type set to I.",
                               "> PORT 127,0,0,1,*,*", "< 200 PORT command successful.", "> STOR page.html",
                               "< 150 Ok to send data.", "Sending data from file " + client.File().local,
                               "< 226 Transfer complete.", "> QUIT", "< 221 Goodbye.", "Done"}));
    EXPECT_EQ(DataLines(lines),
              QStringList({"Data: session opened", "Data: session closed, 2500 bytes transfered, *", "Data Sent"}));
    EXPECT_EQ(progress, (std::vector<std::int64_t>{0, 1024, 2048, 2500, 2500}));
    EXPECT_EQ(server.Stored(QStringLiteral("page.html")), bytes);
    EXPECT_TRUE(client.ErrorMessage().isEmpty());
    ExpectAllClosed();
}

TEST_F(FtpcliScripted, AsciiTypeWithoutDirectorySendsNoCwdAndLeavesBytesUnchanged)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    const QByteArray bytes("line one\r\nline two\nthree\rfour\0five\xff", 36);
    Aim(server, LocalFile(bytes));
    client.File().binary = false;

    ASSERT_TRUE(client.Put());

    EXPECT_EQ(Transcript(server),
              QStringList({"USER user", "PASS secret", "TYPE A", "PORT 127,0,0,1,*,*", "STOR page.html", "QUIT"}));
    EXPECT_EQ(server.Stored(QStringLiteral("page.html")), bytes);
}

TEST_F(FtpcliScripted, UnusualButValidRepliesAreAccepted)
{
    // The commands of a plain upload; the rows name where they differ.
    const QStringList plain = {"USER user", "PASS secret", "TYPE I", "PORT 127,0,0,1,*,*", "STOR page.html", "QUIT"};
    struct Case {
        const char *scenario;
        QStringList expectedCommands;
        QStringList shown = {}; // the lines shown after "Connected for FTP"
    };
    const Case cases[] = {
        // Three greeting lines, RFC 959 continuation marked by '-', each shown.
        {"multiline_greeting", plain, {"< 220-Welcome to the scripted server", "< 220-Second line", "< 220 Ready"}},
        // A 230 to USER logs in without PASS.
        {"user_230", {"USER user", "TYPE I", "PORT 127,0,0,1,*,*", "STOR page.html", "QUIT"}},
        {"cwd_257", {"USER user", "PASS secret", "CWD www", "TYPE I", "PORT 127,0,0,1,*,*", "STOR page.html", "QUIT"}},
        // The server connects for data before it answers STOR.
        {"early_data", plain},
        // RFC 959's other preliminary reply to STOR.
        {"stor_125", plain},
        // The server connects at PORT time; nothing may reach it before the STOR.
        {"connect_at_port", plain},
        // A reply is read to its closing "220 " line, whatever its inner lines carry: else the rest
        // of the greeting is taken for the answers to USER and the commands after it.
        {"inner_codes",
         plain,
         {"< 220-Welcome", "<    indented text", "< 221 not the end", "< 220 Ready", "> USER user",
          "< 331 Please specify the password."}},
        // A greeting longer than a reply line may be is cut to the line limit, not fatal.
        {"long_reply", plain, {"< 220 " + QString(251, QLatin1Char('x')), "> USER user"}},
        // A refused QUIT does not undo a stored file.
        {"quit_500", plain},
        // An empty line inside the reply to PASS is one of its lines, not its end.
        {"empty_inner_line", plain},
    };
    const QByteArray bytes = Pattern(3000);
    const QString path = LocalFile(bytes);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        ScriptedFtpServer server(QString::fromLatin1(c.scenario));
        Aim(server, path);
        client.Site().folder = c.expectedCommands.contains("CWD www") ? QStringLiteral("www") : QString();
        lines.clear();
        EXPECT_TRUE(client.Put());
        EXPECT_EQ(lines.last(), QStringLiteral("Done"));
        EXPECT_TRUE(client.ErrorMessage().isEmpty()) << client.ErrorMessage().toStdString();
        EXPECT_EQ(Transcript(server), c.expectedCommands);
        EXPECT_EQ(lines.mid(1, c.shown.size()), c.shown);
        EXPECT_EQ(server.Stored(QStringLiteral("page.html")), bytes);
        ExpectAllClosed();
    }
}

TEST_F(FtpcliScripted, RefusedLoginStepsEndWithQuitAndTheServerText)
{
    struct Case {
        const char *scenario;
        const char *password;
        const char *error;
        QStringList commands;
        QStringList tail;
    };
    // A refused login quits at once; after that complete QUIT exchange nothing complains that
    // the connection is closed.
    const QStringList quitAtEnd = {"> QUIT", "< 221 Goodbye.", "Failed"};
    const Case cases[] = {
        {"ok", "bad", "530 Login incorrect.", {"USER user", "PASS bad", "QUIT"}, quitAtEnd},
        {"cwd_550",
         "secret",
         "550 Failed to change directory.",
         {"USER user", "PASS secret", "CWD www", "QUIT"},
         quitAtEnd},
        {"type_504",
         "secret",
         "504 Type not supported.",
         {"USER user", "PASS secret", "CWD www", "TYPE I", "QUIT"},
         quitAtEnd},
    };
    const QString path = LocalFile("abc");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        ScriptedFtpServer server(QString::fromLatin1(c.scenario));
        Aim(server, path);
        client.Site().password = QString::fromLatin1(c.password);
        client.Site().folder = QStringLiteral("www");
        lines.clear();
        EXPECT_FALSE(client.Put());
        EXPECT_EQ(client.ErrorMessage(), QString::fromLatin1(c.error));
        EXPECT_EQ(Transcript(server), c.commands);
        EXPECT_EQ(lines.mid(lines.size() - c.tail.size()), c.tail);
        ExpectAllClosed();
    }
}

TEST_F(FtpcliScripted, RefusedPortOrStorShowsEmptyStatisticsAndQuits)
{
    struct Case {
        const char *scenario;
        const char *error;
        QStringList commands;
    };
    const Case cases[] = {
        {"port_refused",
         "500 Illegal PORT command.",
         {"USER user", "PASS secret", "TYPE I", "PORT 127,0,0,1,*,*", "QUIT"}},
        {"stor_refused",
         "553 Could not create file.",
         {"USER user", "PASS secret", "TYPE I", "PORT 127,0,0,1,*,*", "STOR page.html", "QUIT"}},
    };
    const QString path = LocalFile(Pattern(5000));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        ScriptedFtpServer server(QString::fromLatin1(c.scenario));
        Aim(server, path);
        lines.clear();
        EXPECT_FALSE(client.Put());
        EXPECT_TRUE(client.ErrorMessage().startsWith(QString::fromLatin1(c.error)))
            << client.ErrorMessage().toStdString();
        EXPECT_EQ(Transcript(server), c.commands);
        const QStringList masked = Masked(lines);
        const qsizetype refusal = masked.indexOf("< " + QString::fromLatin1(c.error));
        ASSERT_GE(refusal, 0);
        EXPECT_EQ(masked.mid(refusal),
                  QStringList({"< " + QString::fromLatin1(c.error), "Data: session closed, 0 bytes transfered, *",
                               "> QUIT", "< 221 Goodbye.", "Failed"}));
        ExpectAllClosed();
    }
}

// Each way a server fails a session: the text it ends with, the last lines shown and what the
// server got; all is closed after each.
TEST_F(FtpcliScripted, FailingServerEndsTheSessionWithItsText)
{
    enum class Sent : std::uint8_t { Any, Nothing, NoQuit };
    // Every byte shown, none hidden by a NUL or lost as a broken character.
    const QString garbage = QStringLiteral(R"(\x00\xff\xfe\x01GARBAGE\x07\x80)");
    const QString noReply = QStringLiteral("No reply from the server within 10 seconds");
    const QString cantQuit = QStringLiteral("Can't QUIT: connection closed");
    const QString aborted = QStringLiteral("451 Transfer aborted: local error.");
    const QString noData = QStringLiteral("The server did not open the data connection within 10 seconds");
    const struct {
        const char *scenario;
        qint64 size;
        QString error; // empty: any text
        QStringList tail;
        Sent sent;
    } rows[] = {
        {"no_226", 2000, aborted, {"< " + aborted, "Failed", cantQuit, "Failed"}, Sent::NoQuit},
        {"no_greeting", 1, noReply, {"Connected for FTP", "< ", cantQuit, "Failed"}, Sent::Nothing},
        {"silent_after_data", 1, noReply, {}, Sent::Any},
        {"close_on_user", 1, "The server closed the connection without a reply", {cantQuit, "Failed"}, Sent::Any},
        {"garbage", 1, garbage, {"< " + garbage, cantQuit, "Failed"}, Sent::Nothing},
        {"close_mid_transfer", 1 << 20, {}, {"Failed"}, Sent::Any},
        {"no_data_connection", 100, noData, {"Failed"}, Sent::NoQuit},
        // The server takes the connection but reads nothing: the send stalls once the buffers fill.
        {"data_stall", 24 << 20, "The data connection stalled: nothing moved for 10 seconds", {}, Sent::Any},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.scenario);
        ScriptedFtpServer server(QString::fromLatin1(row.scenario));
        Aim(server, LocalFile(Pattern(row.size), QStringLiteral("%1.bin").arg(row.scenario)));
        lines.clear();
        EXPECT_FALSE(client.Put());
        EXPECT_TRUE(row.error.isEmpty() ? !client.ErrorMessage().isEmpty() : client.ErrorMessage() == row.error)
            << client.ErrorMessage().toStdString();
        EXPECT_EQ(lines.mid(lines.size() - row.tail.size()), row.tail);
        if (row.sent != Sent::Any) {
            const QStringList sent = Transcript(server);
            EXPECT_TRUE(row.sent == Sent::NoQuit ? !sent.contains("QUIT") : sent.isEmpty())
                << sent.join(' ').toStdString();
        }
        ExpectAllClosed();
    }
}

TEST_F(FtpcliScripted, AbortRequestActsWhileWaitingForTheDataConnection)
{
    ScriptedFtpServer server(QStringLiteral("no_data_connection"));
    Aim(server, LocalFile(Pattern(100)));
    onProgress = [](std::int64_t, bool &abort) { abort = true; };
    EXPECT_FALSE(client.Put());
    EXPECT_TRUE(lines.contains(QStringLiteral("Abort requested")));
    ExpectAllClosed();
}

// The file leaves in chunks as large as the platform takes, yet every 1024-byte block keeps its
// progress event, in order, and the figure of a block never counts the block itself or a later
// one; a server whose small buffer takes the bytes slowly still gets every one.
TEST_F(FtpcliScripted, EveryBlockHasItsProgressEventInOrderWhateverThePlatformTakes)
{
    // The data step's own look at the progress comes every quarter second, after these uploads.
    wait.SetInterval(1000);
    struct Case {
        const char *scenario;
        qint64 size;
    };
    for (const Case &c : {Case{"ok", (200 << 10) + 100}, Case{"ok", 256 << 10}, Case{"trickle_sink", (4 << 20) + 1}}) {
        SCOPED_TRACE(std::string(c.scenario) + " " + std::to_string(c.size));
        ScriptedFtpServer server(QString::fromLatin1(c.scenario));
        const QByteArray bytes = Pattern(c.size);
        Aim(server, LocalFile(bytes));
        progress.clear();

        ASSERT_TRUE(client.Put()) << lines.join('\n').toStdString();
        EXPECT_EQ(server.Stored(QStringLiteral("page.html")), bytes);
        const std::size_t blocks = static_cast<std::size_t>((c.size + 1023) / 1024);
        // One per block, one at the end of the file and one when the data connection closed; a
        // slow server may see the data step look at the progress in between.
        if (QLatin1String(c.scenario) == QLatin1String("ok"))
            EXPECT_EQ(progress.size(), blocks + 2);
        else
            EXPECT_GE(progress.size(), blocks + 2);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        for (std::size_t i = 0; i < progress.size(); ++i)
            ASSERT_LE(progress[i], static_cast<std::int64_t>(i) * 1024) << "event " << i;
        EXPECT_EQ(progress.back(), c.size);
    }
}

// A cancel asked for at a block inside a chunk that already left stops the upload there: no later
// block has an event, the data connection is broken off, and the upload fails as cancelled.
TEST_F(FtpcliScripted, CancelAtABlockInsideAChunkStopsThereAndFailsTheUpload)
{
    wait.SetInterval(1000);
    ScriptedFtpServer server(QStringLiteral("ok"));
    const QByteArray bytes = Pattern(1 << 20);
    Aim(server, LocalFile(bytes));
    onProgress = [&](std::int64_t, bool &abort) { abort = progress.size() == 10; };

    EXPECT_FALSE(client.Put());
    // The tenth event asked to stop; the only one after it comes as the data connection closes.
    EXPECT_EQ(progress.size(), 11u);
    EXPECT_EQ(client.ErrorMessage(), QStringLiteral("Cancelled by the user"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Abort requested")));
    EXPECT_EQ(lines.last(), QStringLiteral("Failed"));
    EXPECT_FALSE(lines.contains(QStringLiteral("Data Sent")));
    EXPECT_LT(server.Stored(QStringLiteral("page.html")).size(), bytes.size());
    ExpectAllClosed();
}

// An end request or the user's Cancel must not wait for the server's time: while the client
// waits for the greeting, a login reply or the TLS handshake, or for a server that reads slowly
// to take what already sits in the buffers, the next look at the progress handler ends the
// session as cancelled, neither after the next tick nor after the server's reply; a cut-short
// upload is a failure whatever the server answers.
TEST_F(FtpcliScripted, CancelEndsAWaitOfTheServerWithinASecond)
{
    using quelmark::test::Certificates;
    wait.SetInterval(1000);
    client.SetTimeOut(15);
    client.Site().caFile = Certificates().caFile;
    const QStringList cancelled = {"Abort requested", "Cancelled by the user", "Failed"};
    struct Case {
        const char *scenario;
        bool tls;
        QStringList commands;
        QStringList tail;
        qint64 size = 1;
    };
    const Case cases[] = {
        {"no_greeting", false, {}, cancelled},
        {"no_pass_reply", false, {"USER user", "PASS secret"}, cancelled},
        {"tls_silent", true, {"AUTH TLS"}, cancelled},
        {"slow_sink",
         false,
         {"USER user", "PASS secret", "TYPE I", "PORT 127,0,0,1,*,*", "STOR page.html"},
         {"Failed"},
         96 << 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        ScriptedFtpServer server(QString::fromLatin1(c.scenario), QStringLiteral("127.0.0.1"), {}, 0,
                                 c.tls ? Certificates().server : quelmark::test::TestCertificate{});
        Aim(server, LocalFile(Pattern(c.size)));
        client.Site().tls = c.tls;
        lines.clear();
        QElapsedTimer sinceCancel;
        QTimer::singleShot(500, [&] { sinceCancel.start(); });
        onProgress = [&](std::int64_t, bool &abort) { abort = sinceCancel.isValid(); };

        EXPECT_FALSE(client.Put());
        ASSERT_TRUE(sinceCancel.isValid());
        EXPECT_LT(sinceCancel.elapsed(), 1000);
        EXPECT_EQ(client.ErrorMessage(), QStringLiteral("Cancelled by the user"));
        EXPECT_TRUE(lines.contains(QStringLiteral("Cancelled by the user")));
        EXPECT_EQ(lines.mid(lines.size() - c.tail.size()), c.tail);
        EXPECT_EQ(Transcript(server), c.commands);
        ExpectAllClosed();
    }
}

TEST_F(FtpcliScripted, EmptyLocalFileIsStoredEmpty)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    Aim(server, LocalFile(QByteArray()));
    EXPECT_TRUE(client.Put());
    EXPECT_TRUE(Masked(lines).contains(QStringLiteral("Data: session closed, 0 bytes transfered, *")));
    EXPECT_EQ(progress, (std::vector<std::int64_t>{0, 0}));
    EXPECT_TRUE(QFile::exists(QDir(server.Home()).filePath(QStringLiteral("page.html"))));
}

TEST_F(FtpcliScripted, MissingLocalFileIsReportedWithItsErrorNumberAndQuits)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    Aim(server, dir.filePath(QStringLiteral("no-such-file.html")));
    EXPECT_FALSE(client.Put());
    EXPECT_EQ(client.ErrorMessage(), QStringLiteral("Unable to open local file, error 2"));
    EXPECT_EQ(Masked(lines).mid(lines.size() - 5),
              QStringList({"Unable to open local file, error 2", "Data: session closed, 0 bytes transfered, *",
                           "> QUIT", "< 221 Goodbye.", "Failed"}));
    EXPECT_EQ(Transcript(server), QStringList({"USER user", "PASS secret", "TYPE I", "QUIT"}));
    ExpectAllClosed();
}

// A line break would end the command early; a NUL ends a name early on many servers, and other
// control characters in a name act there. The password keeps any character but those two.
TEST_F(FtpcliScripted, ControlCharactersInACommandFieldAreRefusedBeforeConnecting)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    Aim(server, LocalFile("x"));
    const std::function<void(const QString &)> setters[] = {
        [this](const QString &v) { client.Site().user = v; },
        [this](const QString &v) { client.Site().password = v; },
        [this](const QString &v) { client.Site().folder = v; },
        [this](const QString &v) { client.File().remote = v; },
    };
    const struct {
        int field;
        QString value;
        const char *refusal;
    } rows[] = {
        {0, QStringLiteral("evil\r\nDELE index.html"), "The user name holds a line break; nothing was sent"},
        {1, QStringLiteral("evil\nDELE index.html"), "The password holds a line break; nothing was sent"},
        {1, QStringLiteral("evil") + QChar(0) + QStringLiteral("DELE"),
         "The password holds a control character; nothing was sent"},
        {2, QStringLiteral("www\rDELE"), "The host directory holds a line break; nothing was sent"},
        {2, QStringLiteral("www\x1b[2J"), "The host directory holds a control character; nothing was sent"},
        {3, QStringLiteral("/a.html") + QChar(0) + QStringLiteral("DELE /index.html"),
         "The host file name holds a control character; nothing was sent"},
        {3, QStringLiteral("a\tb.html"), "The host file name holds a control character; nothing was sent"},
        {0, QStringLiteral("anna\x7f"), "The user name holds a control character; nothing was sent"},
    };
    for (const auto &row : rows) {
        Aim(server, client.File().local);
        client.Site().folder = QString();
        setters[row.field](row.value);
        lines.clear();
        EXPECT_FALSE(client.Put());
        EXPECT_EQ(client.ErrorMessage(), QString::fromLatin1(row.refusal));
        EXPECT_EQ(lines, QStringList({client.ErrorMessage(), "Can't QUIT: connection closed", "Failed"}));
    }
    EXPECT_TRUE(server.Received(1, 300).isEmpty());
}

TEST_F(FtpcliScripted, MissingWaitObjectFailsBeforeConnecting)
{
    auto gone = std::make_unique<TWait>();
    client.SetWait(gone.get());
    gone.reset();
    EXPECT_FALSE(client.Put());
    EXPECT_EQ(lines, QStringList({"No wait object", "Can't QUIT: connection closed", "Failed"}));
    EXPECT_EQ(client.ErrorMessage(), QStringLiteral("No wait object"));
}

TEST_F(FtpcliScripted, UnreachableHostsFailWithTheConnectText)
{
    client.Site().host = QStringLiteral("127.0.0.1");
    client.Site().port = QString::number(quelmark::test::FreeLoopbackPort());
    client.File().local = LocalFile("x");
    EXPECT_FALSE(client.Put());
    EXPECT_FALSE(client.ErrorMessage().isEmpty());
    EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({"Can't QUIT: connection closed", "Failed"}));
    ExpectAllClosed();

    client.Site().host = QStringLiteral("no-such-host.invalid");
    lines.clear();
    EXPECT_FALSE(client.Put());
    EXPECT_EQ(client.ErrorMessage(), QStringLiteral("SetAddr: Cannot convert host address 'no-such-host.invalid'"));
    EXPECT_EQ(lines, QStringList({"Can't QUIT: connection closed", "Failed"}));
}

TEST_F(FtpcliScripted, PutRequestedDuringPutIsRefusedAndLeavesTheRunningOneAlone)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    Aim(server, LocalFile(Pattern(3000)));
    bool nestedResult = true;
    QString nestedError;
    onProgress = [&](std::int64_t count, bool &) {
        if (count == 1024) {
            nestedResult = client.Put();
            nestedError = client.ErrorMessage();
        }
    };
    EXPECT_TRUE(client.Put());
    EXPECT_FALSE(nestedResult);
    EXPECT_EQ(nestedError, QStringLiteral("Another transfer is running on this FTP client"));
    EXPECT_TRUE(client.ErrorMessage().isEmpty());
    EXPECT_EQ(server.Stored(QStringLiteral("page.html")), Pattern(3000));
}

TEST_F(FtpcliScripted, ExceptionLeavingPutClosesEverythingAndNextPutStartsFresh)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    Aim(server, LocalFile(Pattern(3000)));
    onProgress = [](std::int64_t count, bool &) {
        if (count == 1024)
            throw ESocketException(QStringLiteral("simulated socket failure"));
    };
    EXPECT_THROW(client.Put(), ESocketException);
    ExpectAllClosed();

    onProgress = nullptr;
    lines.clear();
    EXPECT_TRUE(client.Put());
    EXPECT_EQ(lines.first(), QStringLiteral("Connected for FTP"));
    EXPECT_EQ(server.Stored(QStringLiteral("page.html")), Pattern(3000));
}

// A reply is bounded as a whole, however well-formed each of its lines is.
TEST_F(FtpcliScripted, ReplyThatNeverEndsFailsOnceItOutgrowsItsBounds)
{
    struct Case {
        const char *scenario;
        std::int32_t ticks;
        const char *error;
    };
    const Case cases[] = {
        // Lines in bursts: the limit on lines comes long before the time runs out.
        {"endless_reply_fast", 100, "The server's reply did not end within 1000 lines"},
        // A line every 0.1 s, each well within one line's countdown of 0.4 s.
        {"endless_reply_slow", 10, "The server's reply did not end within 10 seconds"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        ScriptedFtpServer server(QString::fromLatin1(c.scenario));
        Aim(server, LocalFile("x"));
        client.SetTimeOut(c.ticks);
        lines.clear();
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(client.Put());
        EXPECT_LT(clock.elapsed(), c.ticks * TickMs + 500);
        EXPECT_EQ(client.ErrorMessage(), QString::fromLatin1(c.error));
        EXPECT_EQ(lines.mid(lines.size() - 3),
                  QStringList({QString::fromLatin1(c.error), "Can't QUIT: connection closed", "Failed"}));
        EXPECT_TRUE(Transcript(server).isEmpty());
        ExpectAllClosed();
    }
}

// Success means the server that the control connection talks to took every byte and said so.
TEST_F(FtpcliScripted, UploadSucceedsOnlyWhenTheControlPeerTookEveryByte)
{
    struct Case {
        const char *scenario;
        bool stored;
        const char *error; // a pattern
        QStringList shown;
        QStringList serverNotes;
    };
    const Case cases[] = {
        // The server takes one block, closes the data connection and still answers 226.
        {"data_close_early_226",
         false,
         R"(^The server closed the data connection after \d+ of 1048576 bytes$)",
         {},
         {}},
        // The server writes into the data connection while it receives: read and dropped.
        {"data_talks_back", true, "^$", {}, {}},
        // A stranger connects to the data port first, from another address, and to the same
        // port on another local address.
        {"third_party_data",
         true,
         "^$",
         {"Data: refused a connection from 127.0.0.2"},
         {"OTHER ADDRESS REFUSED", "INTRUDER RECEIVED 0 BYTES"}},
    };
    const QByteArray bytes = Pattern(1 << 20);
    const QString path = LocalFile(bytes);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        ScriptedFtpServer server(QString::fromLatin1(c.scenario));
        Aim(server, path);
        lines.clear();
        EXPECT_EQ(client.Put(), c.stored);
        EXPECT_TRUE(QRegularExpression(QString::fromLatin1(c.error)).match(client.ErrorMessage()).hasMatch())
            << client.ErrorMessage().toStdString();
        const QByteArray stored = server.Stored(QStringLiteral("page.html"));
        EXPECT_EQ(stored == bytes, c.stored) << stored.size() << " bytes stored";
        for (const QString &line : c.shown)
            EXPECT_TRUE(lines.contains(line)) << line.toStdString();
        const QStringList received = server.Received();
        for (const QString &note : c.serverNotes)
            EXPECT_TRUE(received.contains(note)) << received.join('\n').toStdString();
        EXPECT_EQ(lines.last(), c.stored ? QStringLiteral("Done") : QStringLiteral("Failed"));
        ExpectAllClosed();
    }
}

// Only a regular file is sent, and only whole: a FIFO would block the program in open, a folder
// reads as an error, /dev/zero never ends; those are refused before connecting. The first read
// of /proc/self/mem fails (nothing is mapped at address 0) although it is a regular file.
TEST_F(FtpcliScripted, LocalFileIsSentOnlyWhenItIsARegularFileReadToItsEnd)
{
    const QString folder = dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ScriptedFtpServer server(QStringLiteral("ok"));
    for (const QString &path : {folder, QStringLiteral("/dev/zero"), fifo}) {
        SCOPED_TRACE(path.toStdString());
        Aim(server, path);
        lines.clear();
        const QString refusal = path + QStringLiteral(" is not a regular file");
        ASSERT_FALSE(client.Put());
        EXPECT_EQ(client.ErrorMessage(), refusal);
        EXPECT_EQ(lines, QStringList({refusal, "Can't QUIT: connection closed", "Failed"}));
    }
    EXPECT_TRUE(server.Received(1, 300).isEmpty());

    Aim(server, QStringLiteral("/proc/self/mem"));
    EXPECT_FALSE(client.Put());
    EXPECT_EQ(client.ErrorMessage(), QStringLiteral("Error reading file, error 5"));
    ExpectAllClosed();
}

} // namespace

namespace {

int OpenFdCount()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

qint64 ResidentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

TEST_F(FtpcliScripted, ThousandPutsSucceedingAndFailingLeakNoDescriptorsOrMemory)
{
    using quelmark::test::Certificates;
    ScriptedFtpServer server(QStringLiteral("ok"));
    ScriptedFtpServer secured(QStringLiteral("ok"), QStringLiteral("127.0.0.1"), {}, 0, Certificates().server);
    ScriptedFtpServer cut(QStringLiteral("tls_cut"), QStringLiteral("127.0.0.1"), {}, 0, Certificates().server);
    const QString good = LocalFile(Pattern(3000));
    const QString missing = dir.filePath(QStringLiteral("missing.html"));
    const QString closedPort = QString::number(quelmark::test::FreeLoopbackPort());
    client.OnDisplay = nullptr;
    client.OnProgress = nullptr;
    client.Site().caFile = Certificates().caFile;
    // Each failure kind takes its own path through the clean-up; a third of the uploads use
    // TLS, in both modes, refused or cut short or with a certificate that is not trusted.
    const auto putOnce = [&](int i) {
        const int kind = i % 12;
        Aim(kind >= 8 && kind != 10 ? secured : kind == 10 && (i / 12) % 2 ? cut : server, good);
        client.Site().tls = kind >= 8;
        client.Site().passive = kind == 9;
        client.Site().caFile = kind == 11 ? QString() : Certificates().caFile;
        switch (kind % 8) {
        case 4:
            client.Site().password = QStringLiteral("bad");
            break;
        case 5:
            client.File().remote = QStringLiteral("refused.html");
            break;
        case 6:
            client.File().local = missing;
            break;
        case 7:
            client.Site().port = closedPort;
            break;
        default:
            break;
        }
        return client.Put();
    };
    for (int i = 0; i < 24; ++i)
        putOnce(i);
    const int fdsBefore = OpenFdCount();
    [[maybe_unused]] const qint64 rssBefore = ResidentKiB();

    int stored = 0;
    for (int i = 0; i < 1000; ++i)
        stored += putOnce(i) ? 1 : 0;

    // Kinds 0 to 3, 8 and 9 store the file: 83 whole rounds of 12, then kinds 0 to 3.
    EXPECT_EQ(stored, 83 * 6 + 4);
    EXPECT_EQ(OpenFdCount(), fdsBefore);
#ifndef __SANITIZE_ADDRESS__
    // The address sanitizer holds freed memory back on purpose; it reports leaks itself at exit.
    EXPECT_LT(ResidentKiB() - rssBefore, 8 * 1024) << "resident memory grew by " << ResidentKiB() - rssBefore << " KiB";
#endif
}

} // namespace

// A server that sends part of a continuation line and then stays silent: every further read
// would return that same part again, so the reply must end at the first read that timed out.
TEST_F(FtpcliScripted, ContinuationLineCutShortByTheCountdownEndsTheReply)
{
    ScriptedFtpServer server(QStringLiteral("cut_continuation"));
    Aim(server, LocalFile("x"));
    client.OnDisplay = [this](QObject *, QString &msg) {
        lines += msg;
        if (lines.count(QStringLiteral("< more text")) > 3)
            throw std::runtime_error("the reply is read again and again");
    };

    bool stored = true;
    EXPECT_NO_THROW(stored = client.Put());
    EXPECT_FALSE(stored);
    EXPECT_EQ(lines, QStringList({"Connected for FTP", "< 220-Welcome", "< more text", "Can't QUIT: connection closed",
                                  "Failed"}));
    EXPECT_EQ(client.ErrorMessage(), QStringLiteral("more text"));
    ExpectAllClosed();
}

// ---------------------------------------------------------------------------------------------
// Passive replies, atomic replacement, sessions and retries

// A reply that names no usable data port fails within TimeOut with the reply in the text, the
// control connection still in step; a private address in a PASV reply is replaced by the
// server's own.
TEST_F(FtpcliScripted, PassiveRepliesAreReadCarefully)
{
    struct Case {
        const char *scenario;
        bool stored;
        const char *error; // a pattern
        const char *shown; // a pattern, among the lines
    };
    const Case cases[] = {
        {"pasv_garbage", false,
         R"(^Cannot read the data address in the server's reply: 227 Entering Passive Mode \(127,0,0,1,300\)$)",
         "^> PASV$"},
        // Read as a refusal: PASV then.
        {"epsv_garbage", true, "^$", "^> PASV$"},
        {"pasv_unreachable", false,
         R"(^Can't open the data connection to 127\.0\.0\.1 port \d+ \(227 Entering Passive Mode \(127,0,0,1,\d+,\d+\)\))",
         "^> PASV$"},
        {"pasv_private", true, "^$", "^Data: the server announced 10.1.2.3, connecting to 127.0.0.1 instead$"},
    };
    const QByteArray bytes = Pattern(5000);
    const QString path = LocalFile(bytes);
    client.Site().passive = true;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        ScriptedFtpServer server(QString::fromLatin1(c.scenario));
        Aim(server, path);
        lines.clear();
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(client.Put(), c.stored);
        EXPECT_LT(clock.elapsed(), Ticks * TickMs + 1000);
        EXPECT_TRUE(QRegularExpression(QString::fromLatin1(c.error)).match(client.ErrorMessage()).hasMatch())
            << client.ErrorMessage().toStdString();
        EXPECT_FALSE(lines.filter(QRegularExpression(QString::fromLatin1(c.shown))).isEmpty())
            << lines.join('\n').toStdString();
        EXPECT_EQ(Transcript(server).last(), QStringLiteral("QUIT"));
        EXPECT_EQ(server.Stored(QStringLiteral("page.html")) == bytes, c.stored);
        ExpectAllClosed();
    }
}

TEST_F(FtpcliScripted, ViaTempRenamesIntoPlaceOrRemovesWhatItLeft)
{
    struct Case {
        const char *scenario;
        bool stored;
        QStringList commands; // after the STOR of the temporary name, all sessions
    };
    const Case cases[] = {
        {"ok", true, {"RNFR page.html.quelmark-part", "RNTO page.html", "QUIT"}},
        // This server will not rename over the old page: it goes first.
        {"rnto_no_overwrite",
         true,
         {"RNFR page.html.quelmark-part", "RNTO page.html", "DELE page.html", "RNFR page.html.quelmark-part",
          "RNTO page.html", "QUIT"}},
        // The closing reply is a failure, which leaves the control connection out of step: the
        // part is removed over a fresh session.
        {"no_226", false, {"USER user", "PASS secret", "DELE page.html.quelmark-part", "QUIT"}},
    };
    const QByteArray old("<p>old</p>");
    const QByteArray bytes = Pattern(3000);
    const QString path = LocalFile(bytes);
    client.Site().viaTemporaryName = true;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        ScriptedFtpServer server(QString::fromLatin1(c.scenario));
        Aim(server, path);
        QFile page(QDir(server.Home()).filePath(QStringLiteral("page.html")));
        ASSERT_TRUE(page.open(QIODevice::WriteOnly) && page.write(old) == old.size());
        page.close();
        EXPECT_EQ(client.Put(), c.stored) << client.ErrorMessage().toStdString();
        const QStringList received = Transcript(server, c.stored ? 1 : 2);
        // This server knows neither way to tell the old page's mode.
        EXPECT_EQ(received.mid(0, 7),
                  QStringList({"USER user", "PASS secret", "TYPE I", "MLST page.html", "STAT page.html",
                               "PORT 127,0,0,1,*,*", "STOR page.html.quelmark-part"}));
        EXPECT_EQ(received.mid(7), c.commands);
        EXPECT_EQ(server.Stored(QStringLiteral("page.html")), c.stored ? bytes : old);
        EXPECT_EQ(QDir(server.Home()).entryList(QDir::Files), QStringList{QStringLiteral("page.html")});
        ExpectAllClosed();
    }
}

// Files of one session share its login; TYPE goes out when the type changes; a failed file
// ends the session and the next one opens a new.
TEST_F(FtpcliScripted, SessionStoresFileAfterFileAndEndsAtAFailure)
{
    ScriptedFtpServer server(QStringLiteral("ok"));
    Aim(server, LocalFile(Pattern(2000)));
    struct File {
        const char *name;
        bool binary;
        bool stored;
    };
    const File files[] = {{"a.html", true, true},
                          {"b.html", true, true},
                          {"c.html", false, true},
                          {"refused.html", true, false},
                          {"d.html", true, true}};
    // Opening the session apart from the first file changes nothing on the wire.
    EXPECT_TRUE(client.OpenSession());
    EXPECT_TRUE(client.OpenSession());
    for (const File &file : files) {
        SCOPED_TRACE(file.name);
        client.File().remote = QString::fromLatin1(file.name);
        client.File().binary = file.binary;
        lines.clear();
        EXPECT_EQ(client.PutFile(), file.stored);
        EXPECT_EQ(lines.last(), file.stored ? QStringLiteral("Done") : QStringLiteral("Failed"));
        EXPECT_EQ(client.ErrorMessage().isEmpty(), file.stored) << client.ErrorMessage().toStdString();
        EXPECT_EQ(client.SessionOpen(), file.stored);
    }
    EXPECT_TRUE(client.CloseSession());
    ExpectAllClosed();
    EXPECT_EQ(Transcript(server, 2), QStringList({"USER user",          "PASS secret", "TYPE I",
                                                  "PORT 127,0,0,1,*,*", "STOR a.html", "PORT 127,0,0,1,*,*",
                                                  "STOR b.html",        "TYPE A",      "PORT 127,0,0,1,*,*",
                                                  "STOR c.html",        "TYPE I",      "PORT 127,0,0,1,*,*",
                                                  "STOR refused.html",  "QUIT",        "USER user",
                                                  "PASS secret",        "TYPE I",      "PORT 127,0,0,1,*,*",
                                                  "STOR d.html",        "QUIT"}));
    EXPECT_EQ(server.Stored(QStringLiteral("d.html")), Pattern(2000));
}

// A server that refuses EPSV, or answers it unreadably, is asked with PASV for the rest of the
// session; one that refuses PORT, or both EPSV and PASV, is said to, with what to do about it.
TEST_F(FtpcliScripted, RefusedModesFallBackOrSayWhatToDo)
{
    const struct {
        const char *scenario;
        bool passive;
        TFtpClient::TModeAdvice advice;
        QString error; // of the first file, which fails; empty when both files are stored
        QStringList commands;
    } rows[] = {
        {"epsv_refused",
         true,
         TFtpClient::TModeAdvice::SitePage,
         {},
         {"USER user", "PASS secret", "TYPE I", "EPSV", "PASV", "STOR a.html", "PASV", "STOR b.html", "QUIT"}},
        {"epsv_garbage",
         true,
         TFtpClient::TModeAdvice::SitePage,
         {},
         {"USER user", "PASS secret", "TYPE I", "EPSV", "PASV", "STOR a.html", "PASV", "STOR b.html", "QUIT"}},
        {"pasv_refused",
         true,
         TFtpClient::TModeAdvice::CommandLine,
         R"(The server refuses passive mode (EPSV and PASV); untick "Passive mode")",
         {"USER user", "PASS secret", "TYPE I", "EPSV", "PASV", "QUIT"}},
        {"port_refused",
         false,
         TFtpClient::TModeAdvice::SitePage,
         R"(500 Illegal PORT command. The server refuses active mode (PORT/EPRT); tick "Passive mode" for this site)",
         {"USER user", "PASS secret", "TYPE I", "PORT 127,0,0,1,*,*", "QUIT"}},
        {"port_refused",
         false,
         TFtpClient::TModeAdvice::CommandLine,
         "500 Illegal PORT command. The server refuses active mode (PORT/EPRT); use --passive",
         {"USER user", "PASS secret", "TYPE I", "PORT 127,0,0,1,*,*", "QUIT"}},
    };
    const QString path = LocalFile(Pattern(3000));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.scenario);
        ScriptedFtpServer server(QString::fromLatin1(row.scenario));
        Aim(server, path);
        client.Site().passive = row.passive;
        client.SetModeAdvice(row.advice);
        client.File().remote = QStringLiteral("a.html");
        EXPECT_EQ(client.PutFile(), row.error.isEmpty());
        EXPECT_EQ(client.ErrorMessage(), row.error);
        if (row.error.isEmpty()) {
            client.File().remote = QStringLiteral("b.html");
            EXPECT_TRUE(client.PutFile()) << client.ErrorMessage().toStdString();
            EXPECT_EQ(server.Stored(QStringLiteral("b.html")), Pattern(3000));
        }
        client.CloseSession();
        EXPECT_EQ(Transcript(server), row.commands);
        ExpectAllClosed();
    }
}

// The pause before a retry keeps the program's events going, and a cancel ends it at once.
TEST_F(FtpcliScripted, CancelEndsThePauseBeforeARetry)
{
    ScriptedFtpServer server(QStringLiteral("refuse_first_two"));
    Aim(server, LocalFile("x"));
    client.Site().retries = 5;
    client.Site().retryDelayMs = 2000;
    int beats = 0;
    QTimer heart;
    QObject::connect(&heart, &QTimer::timeout, [&] { ++beats; });
    heart.start(50);
    QElapsedTimer clock;
    onProgress = [&](std::int64_t, bool &abort) { abort = clock.isValid() && clock.elapsed() > 500; };
    clock.start();

    EXPECT_FALSE(client.Put());
    EXPECT_LT(clock.elapsed(), 1500);
    EXPECT_GE(beats, 5) << "the event loop stood still during the pause";
    EXPECT_EQ(client.ErrorMessage(), QStringLiteral("Cancelled by the user"));
    EXPECT_TRUE(lines.contains(QStringLiteral("Trying again in 2 seconds (retry 1 of 5)")));
    EXPECT_EQ(server.EndedSessions(), 1);
    ExpectAllClosed();
}
