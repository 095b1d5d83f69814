// Reply lines as a server may send them: the reply code, the continuation mark and the end of
// a multi-line reply (RFC 959, section 4.2). The input is an opening line, an LF and a later
// line of the same reply.
#include "ftp/FtpReplies.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QString>

#include <limits>

using namespace quelmark;

namespace {

// The code as the reply reader documents it, worked out on the bytes: blanks skipped, the
// ASCII digits that follow read as a number, saturated at the largest 32-bit value.
std::int64_t ExpectedCode(const QByteArray &line)
{
    qsizetype i = 0;
    while (i < line.size() && line[i] == ' ')
        ++i;
    while (i < line.size() && line[i] == '0')
        ++i;
    QByteArray digits;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9')
        digits += line[i++];
    if (digits.size() > 10)
        return std::numeric_limits<std::int32_t>::max();
    const std::int64_t value = digits.isEmpty() ? 0 : digits.toLongLong();
    return std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max());
}

void CheckCode(const QByteArray &bytes)
{
    const QString line = QString::fromUtf8(bytes);
    const std::int32_t code = ReplyCode(line);
    FUZZ_REQUIRE(code >= 0);
    FUZZ_REQUIRE(code == ExpectedCode(bytes));
    // A text that cannot hold a line break cannot smuggle a second command either: decoding
    // keeps every CR and LF of the bytes.
    FUZZ_REQUIRE(ContainsLineBreak(line) == (bytes.contains('\r') || bytes.contains('\n')));
}

// The end-of-reply rules that do not depend on how an empty line is treated.
void CheckEnd(const QString &opening, const QString &line)
{
    const bool ends = ReplyEnds(opening, line);
    if (!ReplyContinues(opening)) {
        // A single-line reply has nothing after its opening line.
        FUZZ_REQUIRE(ends);
        return;
    }
    if (line.isEmpty())
        return;
    const QString code = opening.left(3);
    // Only "<code> ..." or the bare code ends it; a marked inner line never does.
    if (ends)
        FUZZ_REQUIRE(line.startsWith(code) && (line.size() == 3 || line.at(3) == QLatin1Char(' ')));
    if (ReplyContinues(line))
        FUZZ_REQUIRE(!ends);
    FUZZ_REQUIRE(ReplyEnds(opening, code + QLatin1Char(' ') + line));
    FUZZ_REQUIRE(!ReplyEnds(opening, opening));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\n');
    const QByteArray opening = split < 0 ? input : input.left(split);
    const QByteArray line = split < 0 ? QByteArray() : input.mid(split + 1);
    CheckCode(opening);
    CheckCode(line);
    CheckEnd(QString::fromUtf8(opening), QString::fromUtf8(line));
    return 0;
}
