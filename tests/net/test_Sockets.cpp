#include "net/Sockets.h"

#include "tests/support/Namespace.h"
#include "tests/support/Printing.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

using namespace quelmark;

namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return (a << 24) | (b << 16) | (c << 8) | d;
}

TEST(SelectLocalAddress, PicksFirstResolvedThenFirstLiveInterfaceThenLoopback)
{
    const InterfaceAddress lo{Ip(127, 0, 0, 1), true, true};
    const InterfaceAddress eth0{Ip(192, 0, 2, 2), true, false};
    const InterfaceAddress eth1{Ip(10, 1, 2, 3), true, false};
    const InterfaceAddress down{Ip(172, 16, 0, 9), false, false};
    const InterfaceAddress dummyLoop{Ip(127, 0, 0, 5), true, false};
    const struct {
        const char *what;
        std::vector<std::uint32_t> resolved;
        std::vector<InterfaceAddress> interfaces;
        const char *expected;
    } rows[] = {
        {"name unresolvable", {}, {lo, eth0}, "0.0.0.0"},
        {"first resolved wins", {Ip(10, 0, 0, 7), Ip(192, 168, 1, 4)}, {lo, eth0}, "10.0.0.7"},
        {"loopback entries skipped", {Ip(127, 0, 1, 1), Ip(192, 168, 1, 4)}, {lo}, "192.168.1.4"},
        {"only loopback resolved, interface up", {Ip(127, 0, 0, 1)}, {lo, eth0, eth1}, "192.0.2.2"},
        {"interfaces in system order", {Ip(127, 0, 1, 1)}, {lo, eth1, eth0}, "10.1.2.3"},
        {"down interface skipped", {Ip(127, 0, 0, 1)}, {down, lo, eth1}, "10.1.2.3"},
        {"loopback range on other interface skipped", {Ip(127, 0, 0, 1)}, {dummyLoop, eth0}, "192.0.2.2"},
        {"only loopback anywhere", {Ip(127, 0, 1, 1)}, {lo, down}, "127.0.0.1"},
        {"no interfaces listed", {Ip(127, 0, 0, 1)}, {}, "127.0.0.1"},
        {"bytes without leading zeros", {Ip(1, 2, 30, 255)}, {}, "1.2.30.255"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(SelectLocalAddress(row.resolved, row.interfaces), QString::fromLatin1(row.expected)) << row.what;
}

TEST(TSockets, StartsWithOwnerAndReportsAddressOfConnectedMachine)
{
    QObject owner;
    auto *sockets = new TSockets(&owner);
    EXPECT_TRUE(sockets->Started());
    EXPECT_EQ(sockets->parent(), &owner);
    // These machines map their host name to 127.0.0.1 while eth0 carries the real address.
    const QString address = sockets->LocalIPAddress();
    EXPECT_NE(address, QStringLiteral("127.0.0.1"));
    EXPECT_NE(address, QStringLiteral("0.0.0.0"));
    EXPECT_FALSE(address.startsWith(QStringLiteral("127.")));
}

TEST(TSockets, ReportWithoutHandlerRaisesTwoLineMessage)
{
    TSockets sockets;
    try {
        sockets.ReportWinsockError(0, QStringLiteral("Constructor (WSAStartup)"), 10091);
        FAIL() << "nothing raised";
    } catch (const EWinsockError &e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Winsock Error: 10091 in function Constructor (WSAStartup)\r\n"
                                              "Network sub-system is unusable"));
    }
    EXPECT_EQ(test::MessageOf<Exception>(
                  [&] { sockets.ReportWinsockError(-1, QStringLiteral("Destructor (WSACleanup)"), 10049); }),
              QStringLiteral("Winsock Error: 10049 in function Destructor (WSACleanup)\r\n"
                             "Can't assign requested address"));
}

TEST(TSockets, ReportWithHandlerCallsItWithTextAloneAndRaisesNothing)
{
    TSockets sockets;
    int calls = 0;
    sockets.OnErrorOccurred = [&](QObject *sender, std::int32_t socket, std::int32_t error, const QString &msg) {
        ++calls;
        EXPECT_EQ(sender, &sockets);
        EXPECT_EQ(socket, -1);
        EXPECT_EQ(error, 10093);
        EXPECT_EQ(msg, QStringLiteral("WinSock not initialized"));
    };
    EXPECT_NO_THROW(sockets.ReportWinsockError(-1, QStringLiteral("Destructor (WSACleanup)"), 10093));
    EXPECT_EQ(calls, 1);
}

// The disconnected cases run this same test program again inside a network namespace that has
// only loopback (and, for an unknown host name, its own host name too); the child writes the
// address it found to the file the parent names.
const char *const kChildOutput = "QUELMARK_TEST_LOCALIP_OUT";

bool RunningAsChild()
{
    if (!qEnvironmentVariableIsSet(kChildOutput))
        return false;
    QFile out(qEnvironmentVariable(kChildOutput));
    if (out.open(QIODevice::WriteOnly))
        out.write(TSockets().LocalIPAddress().toUtf8());
    return true;
}

// Returns the address the current test, run again in the namespaces, found.
QString LocalAddressInNamespace(const QStringList &flags, const QString &setUp)
{
    QTemporaryDir dir;
    const QString outPath = dir.filePath(QStringLiteral("address"));
    const test::UnsharedRun run = test::RerunCurrentTestUnshared(flags, setUp, kChildOutput, outPath);
    QFile result(outPath);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(result.open(QIODevice::ReadOnly)) << run.output.toStdString();
    return QString::fromUtf8(result.readAll());
}

TEST(TSockets, LoopbackOnlyNetworkGivesLoopbackAddress)
{
    if (RunningAsChild())
        return;
    const std::optional<QStringList> flags = test::UnshareFlags();
    if (!flags)
        GTEST_SKIP() << test::NamespaceSkipReason().toStdString();
    EXPECT_EQ(LocalAddressInNamespace(*flags, QString()), QStringLiteral("127.0.0.1"));
}

TEST(TSockets, UnresolvableHostNameGivesZeroAddress)
{
    if (RunningAsChild())
        return;
    const std::optional<QStringList> flags = test::UnshareFlags(QStringLiteral("un"));
    if (!flags)
        GTEST_SKIP() << test::NamespaceSkipReason(QStringLiteral("un")).toStdString();
    EXPECT_EQ(LocalAddressInNamespace(*flags, QStringLiteral("hostname no-such-host.invalid")),
              QStringLiteral("0.0.0.0"));
}

} // namespace
