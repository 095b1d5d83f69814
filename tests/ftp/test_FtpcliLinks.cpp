// The FTP client in network namespaces the test makes itself: host texts, a name server that
// never answers, names with addresses of both families, and a slow link shaped between two
// namespaces. Each test runs itself again
// inside its namespaces; the outer run passes on the inner verdict.
#include "tests/ftp/FtpcliFixture.h"
#include "tests/support/FtpServers.h"
#include "tests/support/Namespace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace quelmark;
using namespace quelmark::test;

namespace {

class FtpcliLinks : public FtpcliFixture {
protected:
    // Points the client at host and port to store page.html, with its own waits.
    void Aim(const QString &host, const QString &port, std::uint16_t tickMs, std::int32_t ticks)
    {
        wait.SetInterval(tickMs);
        client.SetTimeOut(ticks);
        client.Site().host = host;
        client.Site().port = port;
        client.File().remote = QStringLiteral("page.html");
        client.File().local = dir.filePath(QStringLiteral("page.html"));
    }
};

// Only loopback in here: no name server can be reached, so a name fails at once.
TEST_F(FtpcliLinks, HostIsADottedAddressOnlyWhenThatIsTheWholeText)
{
    if (!InsideNamespace())
        return RerunInNamespace();
    ScriptedFtpServer server(QStringLiteral("ok"), QStringLiteral("127.0.0.51"));
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    Aim(QString(), server.PortText(), 40, 10);
    LocalFile("x");
    const std::pair<QString, const char *> refused[] = {
        {QStringLiteral("127.0.0.51 evil.example"), "127.0.0.51 evil.example"},
        {QStringLiteral("127.0.0.51\nfoo"), R"(127.0.0.51\x0afoo)"},
        {QStringLiteral("127.0.0.51") + QChar(0) + QStringLiteral("foo"), R"(127.0.0.51\x00foo)"},
    };
    for (const auto &[host, shown] : refused) {
        client.Site().host = host;
        EXPECT_FALSE(client.Put()) << shown;
        EXPECT_EQ(client.ErrorMessage(), QStringLiteral("SetAddr: Cannot convert host address '%1'").arg(shown));
        EXPECT_TRUE(server.Received(1, 200).isEmpty());
    }
    client.Site().host = QStringLiteral("127.0.0.51");
    EXPECT_TRUE(client.Put()) << client.ErrorMessage().toStdString();
}

// A name server that takes the question and never answers: the look-up gets TimeOut ticks, and
// the program's events go on meanwhile.
TEST_F(FtpcliLinks, SilentNameServerIsWaitedForOnlyTheTimeOut)
{
    static QTemporaryDir outside;
    const QString resolv = outside.filePath(QStringLiteral("resolv.conf"));
    ASSERT_TRUE(WriteFile(resolv, "nameserver 127.0.0.53\noptions timeout:4 attempts:2\n"));
    if (!InsideNamespace())
        return RerunInNamespace(QStringLiteral("mount --bind '%1' /etc/resolv.conf").arg(resolv), QStringLiteral("nm"));
    QProcess nameServer;
    nameServer.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"), QStringLiteral("import socket, time; s = socket.socket(2, 2); "
                                                           "s.bind(('127.0.0.53', 53)); print(1, flush=True); "
                                                           "time.sleep(60)")});
    ASSERT_TRUE(nameServer.waitForReadyRead(5000)) << nameServer.readAllStandardError().toStdString();
    Aim(QStringLiteral("silent.example"), QStringLiteral("21"), 500, 2);
    int beats = 0;
    QTimer heart;
    QObject::connect(&heart, &QTimer::timeout, [&] { ++beats; });
    heart.start(50);
    QElapsedTimer clock;
    clock.start();

    EXPECT_FALSE(client.Put());
    EXPECT_LT(clock.elapsed(), 2500);
    EXPECT_GE(beats, 10) << "the event loop stood still during the look-up";
    EXPECT_EQ(client.ErrorMessage(),
              QStringLiteral("SetAddr: Host name 'silent.example' not resolved within 2 seconds"));
    nameServer.kill();
    nameServer.waitForFinished(2000);
}

// 1 MiB through 1 Mbit/s with a deep queue takes some 9 s, most of it after the last block has
// entered the kernel's buffer: the reply's countdown of 5 s must not start before the server
// took the bytes, and the progress must count what the server took.
TEST_F(FtpcliLinks, SlowLinkStoresEveryByteAndShowsTheBytesTheServerTook)
{
    if (!InsideNamespace())
        return RerunInNamespace();
    ScriptedFtpServer server(QStringLiteral("ok"), QStringLiteral("0.0.0.0"),
                             {QStringLiteral("unshare"), QStringLiteral("-n")});
    ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
    const QString link = QStringLiteral("ip link add qmc type veth peer name qms netns %1 && "
                                        "nsenter -t %1 -n sh -c 'ip link set lo up && "
                                        "ip addr add 10.77.0.1/24 dev qms && ip link set qms up' && "
                                        "ip addr add 10.77.0.2/24 dev qmc && ip link set qmc up && "
                                        "tc qdisc add dev qmc root tbf rate 1mbit burst 5kb limit 2mb")
                             .arg(server.ProcessId());
    if (const int status = QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), link}); status != 0)
        GTEST_SKIP() << "cannot shape a link between namespaces here (exit " << status << ")";
    Aim(QStringLiteral("10.77.0.1"), server.PortText(), 1000, 5);
    const QByteArray bytes = Pattern(1 << 20);
    LocalFile(bytes);
    std::int64_t progress = 0;
    std::int64_t progressAtDataSent = -1;
    qint64 heldAtDataSent = -1;
    client.OnProgress = [&](QObject *, std::int64_t count, bool &) { progress = count; };
    client.OnDisplay = [&](QObject *, QString &msg) {
        lines += msg;
        if (msg == QLatin1String("Data Sent")) {
            progressAtDataSent = progress;
            heldAtDataSent = server.Stored(QStringLiteral("page.html")).size();
        }
    };

    EXPECT_TRUE(client.Put()) << lines.join('\n').toStdString();
    EXPECT_TRUE(server.Stored(QStringLiteral("page.html")) == bytes);
    EXPECT_GT(heldAtDataSent, 0);
    EXPECT_LE(std::abs(progressAtDataSent - heldAtDataSent), heldAtDataSent / 20)
        << "progress " << progressAtDataSent << ", the server held " << heldAtDataSent;
}

// A name with an IPv4 and an IPv6 address: the family tried first depends on whether the
// machine reaches the IPv6 Internet, and when the server listens on the other family only, the
// client goes on to it.
class FtpcliBothFamilies : public FtpcliLinks {
protected:
    void Run(const QString &extraSetUp, int firstFamily, const QString &serverAddress)
    {
        static QTemporaryDir outside;
        const QString hosts = outside.filePath(QStringLiteral("hosts"));
        ASSERT_TRUE(WriteFile(hosts, "127.0.0.1 dual.test\n::1 dual.test\n"));
        if (!InsideNamespace())
            return RerunInNamespace(QStringLiteral("mount --bind '%1' /etc/hosts").arg(hosts) + extraSetUp,
                                    QStringLiteral("nm"));
        TWSocket probe;
        probe.SetWaitCtrl(&wait);
        probe.SetAddr(QStringLiteral("dual.test"), 10);
        ASSERT_EQ(probe.ResolvedAddresses().size(), 2u);
        EXPECT_EQ(probe.ResolvedAddresses().front().ss_family, firstFamily);

        PyFtpServer server(serverAddress);
        ASSERT_TRUE(server.Running()) << server.Failure().toStdString();
        Aim(QStringLiteral("dual.test"), server.PortText(), 40, 10);
        client.Site().user = server.User();
        client.Site().password = server.Password();
        LocalFile("both families");
        EXPECT_TRUE(client.Put()) << lines.join('\n').toStdString();
        EXPECT_EQ(server.Stored(QStringLiteral("page.html")), QByteArray("both families"));
    }
};

TEST_F(FtpcliBothFamilies, WithoutAGlobalIpv6RouteIpv4ComesFirstThenIpv6)
{
    Run(QString(), AF_INET, QStringLiteral("::1"));
}

TEST_F(FtpcliBothFamilies, WithAGlobalIpv6RouteIpv6ComesFirstThenIpv4)
{
    Run(QStringLiteral(" && ip -6 addr add 2001:db8::2/64 dev lo nodad && ip -6 route add 2000::/3 dev lo"), AF_INET6,
        QStringLiteral("127.0.0.1"));
}

} // namespace
