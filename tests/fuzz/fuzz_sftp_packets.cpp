// What an SFTP server sends: a stream of length-prefixed packets, each read as a reply or as the
// VERSION. The input is the stream itself.
#include "ftp/SftpPackets.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QtEndian>

using namespace quelmark;
using namespace quelmark::sftp;

namespace {

// A packet split off takes exactly its length and four bytes from the front; anything else
// leaves the buffer as it was.
void CheckTake(QByteArray &buffer)
{
    for (;;) {
        const QByteArray before = buffer;
        QByteArray body;
        const TTake take = TakePacket(buffer, body);
        if (take != TTake::Packet) {
            FUZZ_REQUIRE(buffer == before);
            if (take == TTake::Incomplete && before.size() >= 4)
                FUZZ_REQUIRE(qFromBigEndian<std::uint32_t>(before.constData()) > std::uint32_t(before.size() - 4));
            return;
        }
        FUZZ_REQUIRE(body.size() > 0 && std::uint32_t(body.size()) <= kMaxPacketLength);
        FUZZ_REQUIRE(before.mid(4, body.size()) == body);
        FUZZ_REQUIRE(buffer == before.mid(4 + body.size()));
        if (const std::optional<TReply> reply = ParseReply(body)) {
            FUZZ_REQUIRE(std::uint8_t(reply->type) == std::uint8_t(body[0]));
            FUZZ_REQUIRE(reply->handle.size() < body.size());
        }
        if (const std::optional<TVersion> version = ParseVersion(body))
            FUZZ_REQUIRE(version->extensions.size() * 8 <= body.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    QByteArray stream = input.Rest();
    CheckTake(stream);
    return 0;
}
