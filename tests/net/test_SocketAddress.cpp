// Addresses of both families: reading numeric addresses, and the order names are tried in.
#include "net/SocketAddress.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

sockaddr_storage Address(const char *text)
{
    return NumericAddress(QByteArray(text)).value_or(sockaddr_storage{});
}

TEST(SocketAddress, NumericAddressTakesWholeAddressesOfEitherFamily)
{
    struct Row {
        const char *text;
        const char *read; // nullptr: refused
    };
    const Row rows[] = {
        {"192.0.2.7", "192.0.2.7"},
        {"2001:0db8:0:0::5", "2001:db8::5"},
        {"::1", "::1"},
        {"::ffff:192.0.2.7", "::ffff:192.0.2.7"},
        {"127.1", nullptr},
        {"192.0.2.7 evil", nullptr},
        {"2001:db8::5 evil", nullptr},
        {"ftp.example.org", nullptr},
        {"", nullptr},
    };
    for (const Row &row : rows) {
        const std::optional<sockaddr_storage> address = NumericAddress(QByteArray(row.text));
        ASSERT_EQ(address.has_value(), row.read != nullptr) << row.text;
        if (address) {
            EXPECT_EQ(AddressText(*address), QString::fromLatin1(row.read));
            EXPECT_EQ(AddressPort(*address), 0);
        }
    }
    EXPECT_FALSE(NumericAddress(QByteArray("::1\0evil", 8)));
}

TEST(SocketAddress, PortIsSetAndReadForBothFamilies)
{
    for (const char *text : {"192.0.2.7", "2001:db8::5"}) {
        sockaddr_storage address = Address(text);
        SetAddressPort(address, 2121);
        EXPECT_EQ(AddressPort(address), 2121) << text;
        EXPECT_TRUE(SameHost(address, Address(text))) << "ports do not count";
    }
    EXPECT_FALSE(SameHost(Address("::ffff:192.0.2.7"), Address("192.0.2.7")));
}

TEST(SocketAddress, ConnectingTriesThePreferredFamilyFirstAndEachAddressOnce)
{
    const std::vector<sockaddr_storage> found = {Address("192.0.2.1"), Address("2001:db8::1"), Address("192.0.2.2"),
                                                 Address("2001:db8::2"), Address("192.0.2.1")};
    const auto texts = [](const std::vector<sockaddr_storage> &addresses) {
        QStringList list;
        for (const sockaddr_storage &address : addresses)
            list += AddressText(address);
        return list;
    };
    EXPECT_EQ(texts(OrderForConnecting(found, false)),
              QStringList({"192.0.2.1", "192.0.2.2", "2001:db8::1", "2001:db8::2"}));
    EXPECT_EQ(texts(OrderForConnecting(found, true)),
              QStringList({"2001:db8::1", "2001:db8::2", "192.0.2.1", "192.0.2.2"}));
}

} // namespace
