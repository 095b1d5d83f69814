#include "net/AddressWatch.h"

#include "tests/support/Namespace.h"
#include "tests/support/Printing.h"

#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

// Runs one ip command line in this process's network namespace; returns its errors, if any.
QString Ip(const QString &arguments)
{
    QProcess ip;
    ip.start(QStringLiteral("ip"), QProcess::splitCommand(arguments));
    if (!ip.waitForFinished(10000) || ip.exitCode() != 0)
        return QStringLiteral("ip %1: %2").arg(arguments, QString::fromLocal8Bit(ip.readAllStandardError()));
    return QString();
}

// The changes are made in a network namespace of the test's own, with a veth pair qw0/qw1 up
// and 10.77.1.5/24 on qw0. The pair makes no link-local IPv6 addresses of its own, which would
// come, unasked, while the test runs.
TEST(AddressWatch, AnnouncesAddressesAndNewDefaultRoutesOnceABurstHasSettled)
{
    if (!test::InsideNamespace()) {
        return test::RerunInNamespace(
            QStringLiteral("ip link add qw0 type veth peer name qw1 && ip link set qw0 addrgenmode none && "
                           "ip link set qw1 addrgenmode none && ip link set qw0 up && ip link set qw1 up && "
                           "ip addr add 10.77.1.5/24 dev qw0"));
    }
    TAddressWatch watch;
    int changes = 0;
    watch.OnChanged = [&](QObject *sender) {
        EXPECT_EQ(sender, &watch);
        ++changes;
    };
    ASSERT_TRUE(watch.Start()) << watch.Error().toStdString();
    // The kernel's own lists are read first; what they hold is no change.
    QTest::qWait(TAddressWatch::kSettleMs + TAddressWatch::kLongestMs);
    ASSERT_EQ(changes, 0);
    const struct {
        const char *what;
        QStringList commands;
        int expected;
    } rows[] = {
        {"an address added", {"addr add 10.77.2.1/24 dev qw0"}, 1},
        {"an address removed", {"addr del 10.77.2.1/24 dev qw0"}, 1},
        {"a burst of addresses",
         {"addr add 10.77.3.1/24 dev qw0", "addr add 10.77.3.2/24 dev qw0", "addr add 10.77.3.3/24 dev qw0",
          "-6 addr add 2001:db8:77::1/64 dev qw0 nodad"},
         1},
        {"a known address whose lifetimes were renewed",
         {"addr change 10.77.1.5/24 dev qw0 valid_lft 300 preferred_lft 200"},
         0},
        {"a route that is not a default one", {"route add 10.99.0.0/16 dev qw0"}, 0},
        {"a new default route", {"route add default via 10.77.1.1 dev qw0"}, 1},
        {"a default route removed", {"route del default via 10.77.1.1 dev qw0"}, 0},
        {"an IPv6 default route", {"-6 route add default via 2001:db8:77::fe dev qw0"}, 1},
        {"the same address on a second interface", {"addr add 10.77.2.1/24 dev qw1"}, 1},
    };
    for (const auto &row : rows) {
        changes = 0;
        for (const QString &command : row.commands)
            ASSERT_EQ(Ip(command), QString()) << row.what;
        // A change is told within a second of the burst; waiting twice as long shows there is
        // no second one.
        QTest::qWait(2 * (TAddressWatch::kSettleMs + TAddressWatch::kLongestMs));
        EXPECT_EQ(changes, row.expected) << row.what;
    }
    watch.Stop();
    changes = 0;
    ASSERT_EQ(Ip(QStringLiteral("addr add 10.77.4.1/24 dev qw0")), QString());
    QTest::qWait(TAddressWatch::kSettleMs + TAddressWatch::kLongestMs);
    EXPECT_EQ(changes, 0) << "a stopped watch stays silent";
    ASSERT_TRUE(watch.Start()) << watch.Error().toStdString();
    QTest::qWait(TAddressWatch::kSettleMs);
    ASSERT_EQ(Ip(QStringLiteral("addr del 10.77.4.1/24 dev qw0")), QString());
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes == 1; }, 5000)) << "a watch started again hears";
}

} // namespace
