#include "net/AddressText.h"

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

constexpr TAddressFamily v4 = TAddressFamily::IPv4;
constexpr TAddressFamily v6 = TAddressFamily::IPv6;

TEST(FindAddress, TakesTheFirstWholeAddressOfTheFamilyWhereverItStands)
{
    const struct {
        const char *text;
        TAddressFamily family;
        const char *expected;
    } rows[] = {
        {"203.0.113.7", v4, "203.0.113.7"},
        {"203.0.113.7\r\n", v4, "203.0.113.7"},
        {"<html><body>Current IP Address: 203.0.113.7</body></html>", v4, "203.0.113.7"},
        {"{\"ip\":\"198.51.100.23\",\"country\":\"NL\"}", v4, "198.51.100.23"},
        {"ip=192.0.2.1&port=8080", v4, "192.0.2.1"},
        {"Address:203.0.113.7.", v4, "203.0.113.7"},
        {"...203.0.113.7...", v4, "203.0.113.7"},
        {"<td>192.0.2.1</td><td>192.0.2.2</td>", v4, "192.0.2.1"},
        {"1.2.3.4.5 then 192.0.2.9", v4, "192.0.2.9"},
        {"11.2.3.4", v4, "11.2.3.4"},
        {"1.2.3.45", v4, "1.2.3.45"},
        {"1.2.3.456 192.0.2.9", v4, "192.0.2.9"},
        {"version 2.4.57, 1.2.3 and 4294967295", v4, ""},
        {"192.168.001.010 and 0.0.0.0", v4, ""},
        {"256.1.1.1 1..2.3.4", v4, ""},
        {"::ffff:192.0.2.44", v4, "192.0.2.44"},
        {"2001:db8::1 only", v4, ""},
        {"", v4, ""},
        {"no address here \x01\xff\xfe", v4, ""},
        // An address of no single machine is passed over: broadcast, multicast, reserved, "this
        // network".
        {"255.255.255.255", v4, ""},
        {"224.0.0.1 239.255.255.250 240.0.0.1 0.0.0.7", v4, ""},
        {"0.1.2.3, then 203.0.113.8", v4, "203.0.113.8"},
        {"::ffff:224.0.0.1 ::ffff:255.255.255.255", v4, ""},
        {"2001:DB8:0:0::7", v6, "2001:db8::7"},
        {"<p>IPv6:2001:db8::7</p>", v6, "2001:db8::7"},
        {"Address:2001:db8::8.", v6, "2001:db8::8"},
        {"{\"ip\":\"2001:db8:85a3::8a2e:370:7334\"}", v6, "2001:db8:85a3::8a2e:370:7334"},
        {"[2001:db8::9]:443", v6, "2001:db8::9"},
        {"203.0.113.7 and ::ffff:192.0.2.1", v6, "::ffff:192.0.2.1"},
        {"::1", v6, "::1"},
        {"1:2:3:4:5:6:7:8:9 or 1::2::3, then fe80::1", v6, "fe80::1"},
        {"std::string a :: b 12:30:45", v6, ""},
        {"2001:db8::1.2.3.04 2001:db8::1.2.3", v6, ""},
        {"2001:db8::7zz", v6, ""},
        {"203.0.113.7", v6, ""},
        {"ff02::1 ff05::1:3 ::ffff:239.1.2.3 ::", v6, ""},
        {"ff02::1 then 2001:db8::a", v6, "2001:db8::a"},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(FindAddress(QByteArray(row.text), row.family), QString::fromLatin1(row.expected))
            << row.text << " / " << AddressFamilyName(row.family).toStdString();
    }
}

TEST(ClassifyAddress, NamesTheRangesThatShowNoPublicAddress)
{
    const struct {
        const char *address;
        TAddressKind kind;
    } rows[] = {
        {"203.0.113.7", TAddressKind::Public},
        {"10.1.2.3", TAddressKind::Private},
        {"172.16.0.1", TAddressKind::Private},
        {"172.31.255.255", TAddressKind::Private},
        {"172.32.0.1", TAddressKind::Public},
        {"192.168.1.4", TAddressKind::Private},
        {"127.0.1.1", TAddressKind::Loopback},
        {"169.254.7.7", TAddressKind::LinkLocal},
        {"100.64.0.1", TAddressKind::SharedCgnat},
        {"100.127.255.255", TAddressKind::SharedCgnat},
        {"100.128.0.1", TAddressKind::Public},
        {"0.0.0.0", TAddressKind::Unspecified},
        {"2001:db8::7", TAddressKind::Public},
        {"fd12:3456::1", TAddressKind::Private},
        {"fc00::1", TAddressKind::Private},
        {"fec0::1", TAddressKind::Private},
        {"::1", TAddressKind::Loopback},
        {"fe80::1", TAddressKind::LinkLocal},
        {"febf::1", TAddressKind::LinkLocal},
        {"::", TAddressKind::Unspecified},
        {"::ffff:192.168.0.1", TAddressKind::Private},
        {"::ffff:100.64.1.1", TAddressKind::SharedCgnat},
        {"fe80::1%eth0", TAddressKind::Invalid},
        {"1.2.3", TAddressKind::Invalid},
        {"", TAddressKind::Invalid},
    };
    for (const auto &row : rows)
        EXPECT_EQ(ClassifyAddress(QString::fromLatin1(row.address)), row.kind) << row.address;
}

} // namespace
