// The texts around an SSH session: the server's name in messages and the trust question.
#include "net/SshSession.h"

#include "tests/support/Printing.h"

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

TEST(SshSession, ServerTextNamesThePortOffTwentyTwo)
{
    const struct {
        TServerAddress server;
        QString shown;
    } rows[] = {
        {{"example.org", 22}, "example.org"},
        {{"example.org", 2222}, "example.org:2222"},
        {{"::1", 22}, "[::1]"},
        {{"2001:db8::5", 2200}, "[2001:db8::5]:2200"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(ServerText(row.server), row.shown);
}

TEST(SshSession, TrustQuestionNamesServerAndKey)
{
    EXPECT_EQ(HostKeyQuestion(QStringLiteral("example.org:2222"), QStringLiteral("ssh-ed25519 SHA256:abc")),
              QStringLiteral("Trust the host key of example.org:2222 (ssh-ed25519 SHA256:abc)?"));
}

} // namespace
