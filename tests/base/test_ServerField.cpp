// The server field as users write it: every accepted form, and each kind of mistake with a
// message that names it.
#include "base/ServerField.h"

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(ServerField, AcceptedFormsGiveHostAndPort)
{
    struct Row {
        const char *text;
        const char *host;
        std::uint16_t port;
    };
    const Row rows[] = {
        {"ftp.example.org", "ftp.example.org", 0},
        {"  ftp.example.org  ", "ftp.example.org", 0},
        {"ftp.example.org:2121", "ftp.example.org", 2121},
        {"192.0.2.7:21", "192.0.2.7", 21},
        {"192.0.2.7:065535", "192.0.2.7", 65535},
        {"2001:db8::5", "2001:db8::5", 0},
        {"::1", "::1", 0},
        {"fe80::1%eth0", "fe80::1%eth0", 0},
        {"[2001:db8::5]", "2001:db8::5", 0},
        {"[2001:db8::5]:2121", "2001:db8::5", 2121},
        {"[::ffff:192.0.2.7]:1", "::ffff:192.0.2.7", 1},
    };
    for (const Row &row : rows) {
        const TServerField field = ParseServerField(QString::fromLatin1(row.text));
        EXPECT_TRUE(field.Valid()) << row.text << ": " << field.error.toStdString();
        EXPECT_EQ(field.host, QString::fromLatin1(row.host)) << row.text;
        EXPECT_EQ(field.port, row.port) << row.text;
    }
}

TEST(ServerField, MistakesAreRefusedWithAMessageThatNamesThem)
{
    struct Row {
        const char *text;
        const char *error;
    };
    const Row rows[] = {
        {"", "No server given"},
        {"   ", "No server given"},
        {"host:0", R"(The port 0 in "host:0" is outside 1 to 65535)"},
        {"host:65536", R"(The port 65536 in "host:65536" is outside 1 to 65535)"},
        {"host:99999999999", R"(The port 99999999999 in "host:99999999999" is outside 1 to 65535)"},
        {"host:", R"(The port in "host:" is not a number from 1 to 65535)"},
        {"host:ftp", R"(The port in "host:ftp" is not a number from 1 to 65535)"},
        {"host:21x", R"(Unexpected text after the port in "host:21x")"},
        {"host:21 ", nullptr}, // blanks around the whole text do not count
        {"host:21 x", "A server name holds no blanks or control characters"},
        {"ftp example.org", "A server name holds no blanks or control characters"},
        {"ftp.example.org\n:21", "A server name holds no blanks or control characters"},
        {":21", R"(No host before the port in ":21")"},
        {"[2001:db8::5", R"(Unbalanced "[" in "[2001:db8::5")"},
        {"2001:db8::5]:21", R"(Unbalanced bracket in "2001:db8::5]:21")"},
        {"[2001:db8::5]21", R"(Unexpected text after "]" in "[2001:db8::5]21")"},
        {"[2001:db8::5]:21:22", R"(Unexpected text after the port in "[2001:db8::5]:21:22")"},
        {"[ftp.example.org]:21", R"(Only an IPv6 address may stand in brackets: "[ftp.example.org]:21")"},
        {"[fe80::1%[x]:21", R"(Only an IPv6 address may stand in brackets: "[fe80::1%[x]:21")"},
        {"ftp.example.org:21:22", "\"ftp.example.org:21:22\" is neither a host with a port nor an IPv6 address "
                                  "(write an IPv6 address with a port as [address]:port)"},
    };
    for (const Row &row : rows) {
        const TServerField field = ParseServerField(QString::fromLatin1(row.text));
        EXPECT_EQ(field.error, row.error ? QString::fromLatin1(row.error) : QString()) << row.text;
    }
}

} // namespace
