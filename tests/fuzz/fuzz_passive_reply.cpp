// Replies to PASV (RFC 959, section 4.1.2) and EPSV (RFC 2428, section 3) as a server may send
// them: whatever the text, a port read from it is one a connection can go to, and reading back
// what was read gives the same. The input is the reply line.
#include "ftp/FtpReplies.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QString>

using namespace quelmark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    const QString reply = QString::fromUtf8(input.Rest());

    if (const std::optional<TPassiveAddress> pasv = ParsePasvReply(reply)) {
        FUZZ_REQUIRE(pasv->port != 0);
        const std::optional<TPassiveAddress> again = ParsePasvReply(
            QStringLiteral("227 Entering Passive Mode (%1)").arg(PortArgument(pasv->address, pasv->port)));
        FUZZ_REQUIRE(again && again->address == pasv->address && again->port == pasv->port);
    }
    if (const std::optional<std::uint16_t> port = ParseEpsvReply(reply)) {
        FUZZ_REQUIRE(*port != 0);
        FUZZ_REQUIRE(reply.contains(QString::number(*port)));
        const std::optional<std::uint16_t> again =
            ParseEpsvReply(QStringLiteral("229 Entering Extended Passive Mode (|||%1|)").arg(*port));
        FUZZ_REQUIRE(again == port);
    }
    return 0;
}
