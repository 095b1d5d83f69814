// The texts around an SSH session: the server field with its port, the server's name in messages
// and known-hosts lines, and the trust question.
#include "ftp/SshSession.h"

#include "tests/support/Printing.h"

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(SshSession, ServerFieldGivesHostAndPort)
{
    const struct {
        QString field;
        bool valid;
        QString host;
        std::uint16_t port;
        QString shown;
    } rows[] = {
        {"example.org", true, "example.org", 22, "example.org"},
        {" example.org:2222 ", true, "example.org", 2222, "example.org:2222"},
        {"10.0.0.1:22", true, "10.0.0.1", 22, "10.0.0.1"},
        {"[::1]:2200", true, "::1", 2200, "[::1]:2200"},
        {"[::1]", true, "::1", 22, "[::1]"},
        {"fe80::1", true, "fe80::1", 22, "[fe80::1]"},
        {"", false, {}, 0, {}},
        {":22", false, {}, 0, {}},
        {"host:", false, {}, 0, {}},
        {"host:0", false, {}, 0, {}},
        {"host:65536", false, {}, 0, {}},
        {"host:+22", false, {}, 0, {}},
        {"host:22x", false, {}, 0, {}},
        {"[::1]x", false, {}, 0, {}},
        {"[::1", false, {}, 0, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.field.toStdString());
        const std::optional<TServerAddress> server = ParseServerAddress(row.field);
        ASSERT_EQ(server.has_value(), row.valid);
        if (!server)
            continue;
        EXPECT_EQ(server->host, row.host);
        EXPECT_EQ(server->port, row.port);
        EXPECT_EQ(ServerText(*server), row.shown);
    }
}

TEST(SshSession, TrustQuestionNamesServerAndKey)
{
    EXPECT_EQ(HostKeyQuestion(QStringLiteral("example.org:2222"), QStringLiteral("ssh-ed25519 SHA256:abc")),
              QStringLiteral("Trust the host key of example.org:2222 (ssh-ed25519 SHA256:abc)?"));
}

} // namespace
