// The socket's line reader, fed through one end of a socket pair. The input's first two bytes
// choose how much arrives before the reader starts (the reader then runs out of time in the
// middle of a line, as on a slow link); the rest follows, and the peer closes. Every input
// runs to the peer's close; each read's countdown runs out at the first idle moment, which
// the properties do not depend on and which keeps the runs fast.
#include "net/WSocket.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QList>
#include <QString>

#include <sys/socket.h>
#include <unistd.h>

using namespace quelmark;

namespace {

// Well inside a socket pair's buffer, so the whole input is written before reading starts.
constexpr std::size_t kMaxInput = 32768;
constexpr qsizetype kMaxLineBytes = 255;
// Reads that may run out of time before the reader notices the close: far more than a loaded
// machine needs, while a reader that never notices it would go on for ever.
constexpr int kMaxIdleReads = 2000;

TWait *g_wait = nullptr;

// The lines a reader must deliver: the bytes split at LF, every CR dropped, each line cut to
// its first 255 bytes, and what follows the last LF (perhaps nothing) as the last line.
QList<QString> ExpectedLines(const QByteArray &bytes)
{
    QList<QString> lines;
    for (const QByteArray &raw : bytes.split('\n')) {
        QByteArray line = raw;
        line.replace('\r', QByteArray());
        lines.append(QString::fromLocal8Bit(line.left(kMaxLineBytes)));
    }
    return lines;
}

// Returns the text without the replacement characters at its end: a part line that stops
// inside a multi-byte character decodes differently from the whole line there.
QString WithoutBrokenEnd(QString text)
{
    while (text.endsWith(QChar::ReplacementCharacter))
        text.chop(1);
    return text;
}

// Collects what the reader delivers: whole lines, and the part of a line it returned when its
// countdown ran out, which must be the beginning of the line that follows.
class LineLog {
public:
    explicit LineLog(TWSocket &socket) : m_socket(socket) {}

    void ReadOne()
    {
        const QString text = m_socket.ReadLine(1);
        if (m_socket.LineMode()) {
            m_part = text;
            FUZZ_REQUIRE(++m_idleReads <= kMaxIdleReads);
            return;
        }
        FUZZ_REQUIRE(text.startsWith(WithoutBrokenEnd(m_part)));
        m_part.clear();
        m_lines.append(text);
        FUZZ_REQUIRE(m_lines.size() <= m_maxLines);
    }

    void SetMaxLines(qsizetype lines) { m_maxLines = lines; }
    const QList<QString> &Lines() const { return m_lines; }

private:
    TWSocket &m_socket;
    QString m_part;
    QList<QString> m_lines;
    qsizetype m_maxLines = 0;
    int m_idleReads = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_wait = fuzz::MakeRunWait(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > kMaxInput)
        return 0;
    fuzz::InputReader input(data, size);
    const std::uint16_t choice = std::uint16_t(input.Number(2));
    const QByteArray bytes = input.Rest();
    const qsizetype early = choice % (bytes.size() + 1);

    int fds[2];
    FUZZ_REQUIRE(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0);
    const int peer = fds[1];
    TWSocket socket;
    socket.SetWaitCtrl(g_wait);
    socket.SetHSocket(fds[0]);
    LineLog log(socket);
    log.SetMaxLines(bytes.count('\n') + 1);

    FUZZ_REQUIRE(fuzz::SendAll(peer, bytes.left(early)) == early);
    while (socket.ReadCount() < early)
        log.ReadOne();
    FUZZ_REQUIRE(fuzz::SendAll(peer, bytes.mid(early)) == bytes.size() - early);
    ::close(peer);
    // The last line is the one delivered once the reader knows the peer has gone.
    do
        log.ReadOne();
    while (socket.State() != TSocketState::Closed || socket.LineMode());

    FUZZ_REQUIRE(log.Lines() == ExpectedLines(bytes));
    return 0;
}
