// The FTP client's reply reader over one end of a socket pair, fed by a server that may never
// end a line. The input is a list of pieces, each a length byte (0 to 63), that many bytes and
// a two-byte repeat count, so a short input makes a stream of up to 1 MiB with lines far longer
// than a reply line may be. A thread writes the stream, ended by a line feed and, for a reply
// that goes on, by the line that ends it; the reader reads one reply. Its code and error must be
// the ones worked out here from the stream, and it must never take more of a line than one byte
// past the longest line it accepts. The writer keeps its end open: a closed connection costs the
// reader its whole countdown, which says nothing here.
#include "base/Printable.h"
#include "ftp/FtpReplies.h"
#include "ftp/Ftpcli.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QString>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace quelmark;

namespace {

constexpr qsizetype kMaxStream = 1 << 20;
constexpr qsizetype kKeptBytes = 255;
constexpr int kMaxReplyLines = 1000;
const QString kTooLong = QStringLiteral("The server's reply line is longer than 65536 bytes");
const QString kTooMany = QStringLiteral("The server's reply did not end within 1000 lines");

// Reaches the reader, which only the client's own steps call.
class ReplyReader : public TFtpClient {
public:
    using TFtpClient::GetResponse;
};

QByteArray Stream(fuzz::InputReader &input)
{
    QByteArray stream;
    while (input.Left() > 0 && stream.size() < kMaxStream) {
        const QByteArray piece = input.Bytes(input.Byte() % 64);
        const std::uint64_t repeat = input.Number(2) + 1;
        for (std::uint64_t i = 0; i < repeat && stream.size() < kMaxStream && !piece.isEmpty(); ++i)
            stream += piece;
    }
    return stream.left(kMaxStream);
}

// The stream as the server sends it: every line ended, and a reply that goes on to the end ended
// by a line of its own.
QByteArray Sent(QByteArray stream)
{
    if (!stream.endsWith('\n'))
        stream += '\n';
    const QByteArray first = stream.left(stream.indexOf('\n'));
    QByteArray kept = first;
    kept.replace('\r', QByteArray());
    const QString opening = PrintableBytes(kept.left(kKeptBytes));
    if (first.size() <= TWSocket::kMaxLineBytes && ReplyContinues(opening))
        stream += opening.left(3).toLatin1() + " end\r\n";
    return stream;
}

// What one reply read from the stream gives, worked out line by line: the code, the error, and
// how many bytes the reader takes at most.
struct Expected {
    std::int32_t code = 0;
    QString error;
    qsizetype taken = 0;
};

Expected Expect(const QByteArray &sent)
{
    QList<QByteArray> lines = sent.split('\n');
    lines.removeLast();
    QString opening;
    qsizetype start = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &raw = lines[i];
        if (i >= kMaxReplyLines)
            return {0, kTooMany, start};
        if (raw.size() > TWSocket::kMaxLineBytes)
            return {0, kTooLong, start + TWSocket::kMaxLineBytes + 1};
        QByteArray kept = raw;
        kept.replace('\r', QByteArray());
        const QString text = PrintableBytes(kept.left(kKeptBytes));
        start += raw.size() + 1;
        if (i == 0)
            opening = text;
        if ((i == 0 && !ReplyContinues(opening)) || (i > 0 && ReplyEnds(opening, text)))
            return {ReplyCode(text), QString(), start};
    }
    // Sent ends every reply within the stream.
    FUZZ_REQUIRE(false);
    return {};
}

TWait *g_wait = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_wait = fuzz::MakeRunWait(1000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    const QByteArray sent = Sent(Stream(input));
    const Expected expected = Expect(sent);

    int fds[2];
    FUZZ_REQUIRE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
    std::thread writer([fd = fds[1], &sent] { fuzz::SendAll(fd, sent); });
    std::int32_t code = -1;
    QString error;
    qsizetype taken = 0;
    {
        ReplyReader reader;
        reader.SetWait(g_wait);
        reader.SetTimeOut(60);
        auto &socket = const_cast<TWSocket &>(reader.ControlSocket());
        socket.SetHSocket(fds[0]);
        code = reader.GetResponse();
        error = reader.ErrorMessage();
        taken = socket.ReadCount();
        socket.Close();
    }
    writer.join();
    ::close(fds[1]);

    FUZZ_REQUIRE(code == expected.code);
    FUZZ_REQUIRE(error == expected.error);
    FUZZ_REQUIRE(taken <= expected.taken);
    return 0;
}
