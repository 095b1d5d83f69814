#include "net/AddressSource.h"

#include "net/NetworkInterfaces.h"
#include "net/Sockets.h"
#include "tests/support/Files.h"
#include "tests/support/FtpServers.h"
#include "tests/support/HttpServer.h"
#include "tests/support/Namespace.h"
#include "tests/support/Printing.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

constexpr TAddressFamily v4 = TAddressFamily::IPv4;
constexpr TAddressFamily v6 = TAddressFamily::IPv6;

QString Failed(const char *why)
{
    return QStringLiteral("Address check failed: ") + QString::fromLatin1(why);
}

// Returns the address found, or the failure; a failure carries no address.
QString Outcome(const TAddressResult &result)
{
    if (result.Connected())
        return result.address;
    EXPECT_EQ(result.address, QString()) << result.failure.toStdString();
    return result.failure;
}

// Returns the server's path that answers with the body.
QString Answer(const char *body)
{
    return QStringLiteral("/answer/") + QString::fromLatin1(QUrl::toPercentEncoding(QByteArray(body)));
}

TEST(AddressSourceWeb, ReadsTheAddressOrSaysWhyNot)
{
    test::HttpAddressServer &server = test::SharedHttpAddressServer();
    if (!server.Running())
        GTEST_SKIP() << server.Failure().toStdString();
    const auto url = [&](const QString &path) { return server.Url(path); };
    const QString garbage = url(Answer("1.2.3.4.5 <b>999.1.2.3</b> ::"));
    const struct {
        QString url;
        TAddressFamily family;
        QString expected; // <URL> stands for the row's URL
        int timeoutMs = 10000;
    } rows[] = {
        {url(Answer("203.0.113.7\n")), v4, "203.0.113.7"},
        {url(Answer("<html><body>Current IP Address: 203.0.113.7</body></html>")), v4, "203.0.113.7"},
        {url(Answer("{\"ip\":\"2001:DB8:0::7\"}")), v6, "2001:db8::7"},
        {url("/status/503"), v4, Failed("<URL> answered 503")},
        {url("/slow/5/203.0.113.7"), v4, Failed("timed out after 1 s"), 1000},
        {garbage, v4, Failed("no IPv4 address in the answer")},
        {garbage, v6, Failed("no IPv6 address in the answer")},
        {url("/redirect/3/answer/203.0.113.7"), v4, "203.0.113.7"},
        {url("/redirect/4/answer/203.0.113.7"), v4, Failed("<URL> redirected more than 3 times")},
        {url("/big/60000/203.0.113.7"), v4, "203.0.113.7"},
        {url("/big/65530/203.0.113.7"), v4, Failed("no IPv4 address in the answer")},
        {url("/big/70000/203.0.113.7"), v4, Failed("no IPv4 address in the answer")},
        {QString(), v4, Failed("no check URL is set")},
        {"ftp://127.0.0.1/ip", v4, Failed("<URL> is not an http or https URL")},
        {"file:///etc/hostname", v4, Failed("<URL> is not an http or https URL")},
        {QStringLiteral("http://127.0.0.1:%1/").arg(test::FreeLoopbackPort()), v4,
         Failed("<URL> could not be reached: Connection refused")},
    };
    TAddressSource source;
    source.SetSource(TAddressSourceKind::Web);
    for (const auto &row : rows) {
        source.SetURL(row.url);
        source.SetFamily(row.family);
        source.SetTimeoutMs(row.timeoutMs);
        EXPECT_EQ(Outcome(source.Lookup()), QString(row.expected).replace(QLatin1String("<URL>"), row.url))
            << row.url.toStdString();
    }
}

TEST(AddressSourceCommand, ReadsTheOutputOrSaysWhyNot)
{
    const struct {
        const char *command;
        TAddressFamily family;
        QString expected;
        int timeoutMs = 10000;
    } rows[] = {
        {"echo 198.51.100.9", v4, "198.51.100.9"},
        {"  printf 'addr: %s\\n' 2001:db8::5  ", v6, "2001:db8::5"},
        {"sh -c 'echo 198.51.100.9; exit 3'", v4, Failed("sh -c 'echo 198.51.100.9; exit 3' exited with status 3")},
        {"sh -c 'kill -TERM $$'", v4, Failed("sh -c 'kill -TERM $$' was ended by signal 15")},
        {"sleep 30", v4, Failed("timed out after 1 s"), 1000},
        {"echo 1.2.3.4.5 garbage", v4, Failed("no IPv4 address in the output of echo 1.2.3.4.5 garbage")},
        {"no-such-program-here -x", v4, Failed("could not start no-such-program-here -x: No such file or directory")},
        {"echo 'unclosed", v4,
         Failed("could not start echo 'unclosed: the command line has a quote that is not closed")},
        {" ", v4, Failed("no address command is set")},
    };
    TAddressSource source;
    source.SetSource(TAddressSourceKind::Command);
    for (const auto &row : rows) {
        source.SetCommand(QString::fromLatin1(row.command));
        source.SetFamily(row.family);
        source.SetTimeoutMs(row.timeoutMs);
        EXPECT_EQ(Outcome(source.Lookup()), row.expected) << row.command;
    }
}

TEST(AddressSource, LocalIpv4IsTheSocketsRule)
{
    const TAddressResult result = TAddressSource().Lookup();
    EXPECT_EQ(result.address, TSockets().LocalIPAddress());
    EXPECT_TRUE(result.Connected()) << result.failure.toStdString();
}

// A slow check keeps the application's events flowing: a timer keeps firing all through it.
TEST(AddressSource, SlowChecksKeepTheEventLoopRunning)
{
    test::HttpAddressServer &server = test::SharedHttpAddressServer();
    if (!server.Running())
        GTEST_SKIP() << server.Failure().toStdString();
    TAddressSource web;
    web.SetSource(TAddressSourceKind::Web);
    web.SetURL(server.Url(QStringLiteral("/slow/2/203.0.113.7")));
    TAddressSource command;
    command.SetSource(TAddressSourceKind::Command);
    command.SetCommand(QStringLiteral("sh -c 'sleep 2; echo 203.0.113.7'"));
    for (TAddressSource *source : {&web, &command}) {
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(20);
        QElapsedTimer clock;
        clock.start();
        const TAddressResult result = source->Lookup();
        EXPECT_EQ(Outcome(result), QStringLiteral("203.0.113.7"));
        EXPECT_GE(clock.elapsed(), 1900);
        // Fifty periods would pass in a second; a frozen loop would see none.
        EXPECT_GE(ticks, 10) << AddressSourceName(source->Source()).toStdString();
    }
}

TEST(AddressSource, ExceptionFromAHandlerAbandonsTheCheckAndLeavesLookup)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    TAddressSource source;
    source.SetSource(TAddressSourceKind::Command);
    source.SetCommand(QStringLiteral("sh -c 'echo $$ > \"$0\"; sleep 30' ") + pidFile);
    QTimer::singleShot(300, [] { Guarded([] { throw Exception(QStringLiteral("raised in a handler")); }); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(test::MessageOf<Exception>([&] { source.Lookup(); }), QStringLiteral("raised in a handler"));
    EXPECT_LT(clock.elapsed(), 5000);
    const QString proc = QStringLiteral("/proc/") + QString::fromLatin1(test::ReadFile(pidFile)).trimmed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(proc); }, 5000)) << proc.toStdString();
}

TEST(AddressSource, StartedChecksRunSideBySideAndReportThroughOnDone)
{
    TAddressSource source;
    source.SetSource(TAddressSourceKind::Command);
    QStringList seen;
    source.OnDone = [&](QObject *sender, const TAddressResult &result) {
        EXPECT_EQ(sender, &source);
        seen << (result.Connected() ? result.address : result.failure);
    };
    source.SetCommand(QStringLiteral("sh -c 'sleep 0.5; echo 192.0.2.2'"));
    source.Start();
    source.SetCommand(QStringLiteral("echo 192.0.2.1"));
    source.Start();
    source.SetCommand(QString());
    source.Start();
    EXPECT_TRUE(seen.isEmpty()) << "reported before the event loop ran";
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 3; }, 5000)) << seen.join(QLatin1Char('/')).toStdString();
    EXPECT_EQ(seen, QStringList({Failed("no address command is set"), QStringLiteral("192.0.2.1"),
                                 QStringLiteral("192.0.2.2")}));
}

TEST(AddressSource, DestroyingTheSourceKillsItsRunningCommandAndReportsNothing)
{
    QTemporaryDir dir;
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    int reports = 0;
    {
        TAddressSource source;
        source.SetSource(TAddressSourceKind::Command);
        source.SetCommand(QStringLiteral("sh -c 'echo $$ > \"$0\"; sleep 30' ") + pidFile);
        source.OnDone = [&](QObject *, const TAddressResult &) { ++reports; };
        source.Start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo(pidFile).size() > 0; }, 5000));
    }
    const QString proc = QStringLiteral("/proc/") + QString::fromLatin1(test::ReadFile(pidFile)).trimmed();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(proc); }, 5000)) << proc.toStdString();
    EXPECT_EQ(reports, 0);
}

TAddressResult LookUp(TAddressSourceKind kind, TAddressFamily family, const QString &interfaceName = QString())
{
    TAddressSource source;
    source.SetSource(kind);
    source.SetFamily(family);
    source.SetInterfaceName(interfaceName);
    return source.Lookup();
}

TEST(AddressSource, InterfaceAndLocalIpv6TakeTheNamespacesAddresses)
{
    if (!test::InsideNamespace()) {
        // qa0 holds a link-local IPv4 address before the global one; qa1 only the link-local
        // IPv6 address it makes itself; qb0 has an address but stays down.
        return test::RerunInNamespace(
            QStringLiteral("ip link add qa0 type veth peer name qa1 && ip addr add 169.254.7.7/16 dev qa0 && "
                           "ip addr add 192.0.2.10/24 dev qa0 && ip -6 addr add 2001:db8:0:0::10/64 dev qa0 nodad && "
                           "ip link set qa0 up && ip link set qa1 up && ip link add qb0 type veth peer name qb1 && "
                           "ip addr add 198.51.100.3/24 dev qb0"));
    }
    // The kernel gives an interface its link-local IPv6 address a moment after it comes up.
    ASSERT_TRUE(QTest::qWaitFor(
        [] {
            for (const TNetworkInterface &entry : ListNetworkInterfaces()) {
                if (entry.name == QLatin1String("qa1"))
                    return !entry.ipv6.isEmpty();
            }
            return false;
        },
        5000));
    const TAddressSourceKind interface = TAddressSourceKind::Interface;
    const struct {
        TAddressSourceKind kind;
        TAddressFamily family;
        const char *name;
        QString expected;
    } rows[] = {
        {interface, v4, "qa0", "192.0.2.10"},
        {interface, v6, "qa0", "2001:db8::10"},
        {interface, v4, " qa0 ", "192.0.2.10"},
        {interface, v6, "lo", "::1"},
        {interface, v6, "qa1", Failed("interface qa1 has only link-local IPv6 addresses")},
        {interface, v4, "qa1", Failed("interface qa1 has no IPv4 address")},
        {interface, v4, "qb0", Failed("interface qb0 is down")},
        {interface, v6, "eth9", Failed("interface eth9 does not exist")},
        {interface, v4, "", Failed("no interface is chosen")},
        {TAddressSourceKind::Local, v6, "", "2001:db8::10"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(Outcome(LookUp(row.kind, row.family, QString::fromLatin1(row.name))), row.expected) << row.name;
    QStringList names = NetworkInterfaceNames();
    names.sort();
    EXPECT_EQ(names, QStringList({QStringLiteral("lo"), QStringLiteral("qa0"), QStringLiteral("qa1"),
                                  QStringLiteral("qb0"), QStringLiteral("qb1")}));
}

// The "Local" rule's "0.0.0.0" for a name that cannot be resolved is no address to publish.
TEST(AddressSource, AnOwnNameThatCannotBeResolvedIsAFailedCheck)
{
    if (!test::InsideNamespace()) {
        return test::RerunInNamespace(QStringLiteral("hostname no-such-host.invalid && ip link add qz0 type veth peer "
                                                     "name qz1 && ip addr add 192.0.2.10/24 dev qz0 && ip link set "
                                                     "qz0 up && ip link set qz1 up"),
                                      QStringLiteral("un"));
    }
    ASSERT_EQ(TSockets().LocalIPAddress(), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(Outcome(LookUp(TAddressSourceKind::Local, v4)), Failed("this machine's own name cannot be resolved"));
}

TEST(AddressSource, LoopbackOnlyNetworkHasNoLocalAddress)
{
    if (!test::InsideNamespace())
        return test::RerunInNamespace();
    EXPECT_EQ(Outcome(LookUp(TAddressSourceKind::Local, v6)),
              Failed("no global IPv6 address on an interface that is up"));
    // IPv4 keeps the program's own word for "not connected" beside the reason.
    const TAddressResult v4Result = LookUp(TAddressSourceKind::Local, v4);
    EXPECT_EQ(v4Result.address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(v4Result.failure, Failed("no IPv4 address outside loopback"));
}

} // namespace
