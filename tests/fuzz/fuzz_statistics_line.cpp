// The line shown when a data connection closes, with its transfer rate. The input is the byte
// count (eight bytes, any non-negative value) and the elapsed milliseconds (four bytes, as the
// client's 32-bit tick difference gives them).
#include "ftp/FtpReplies.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QRegularExpression>
#include <QString>

#include <limits>

using namespace quelmark;

namespace {

constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();

// Checks the rate against the exact one: never above it, equal to it up to 32767 bytes, and
// above that the whole thousands of the per-millisecond rate, or the largest value when even
// those do not fit.
void CheckRate(std::int64_t count, std::int64_t elapsedMs, std::int64_t rate)
{
    const __int128 exact = __int128(count) * 1000 / elapsedMs;
    FUZZ_REQUIRE(rate <= exact);
    if (count <= 32767) {
        FUZZ_REQUIRE(rate == exact);
        return;
    }
    const __int128 thousands = exact / 1000 * 1000;
    FUZZ_REQUIRE(rate == (thousands > kLargest ? kLargest : thousands));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    const std::int64_t count = std::int64_t(input.Number(8) & std::uint64_t(kLargest));
    const std::int64_t elapsedMs = std::int64_t(input.Number(4));

    static const QRegularExpression shape(QStringLiteral(
        "^Data: session closed, (\\d+) bytes transfered, (\\d+) Seconds elapsed(?:, (\\d+) Bytes/Sec)?$"));
    const QRegularExpressionMatch match = shape.match(SessionClosedLine(count, elapsedMs));
    FUZZ_REQUIRE(match.hasMatch());
    FUZZ_REQUIRE(match.captured(1) == QString::number(count));
    FUZZ_REQUIRE(match.captured(2) == QString::number(elapsedMs / 1000));
    FUZZ_REQUIRE(match.hasCaptured(3) == (elapsedMs != 0));
    if (elapsedMs == 0)
        return 0;
    bool readable = false;
    const std::int64_t shown = match.captured(3).toLongLong(&readable);
    FUZZ_REQUIRE(readable);
    CheckRate(count, elapsedMs, shown);
    FUZZ_REQUIRE(TransferRate(count, elapsedMs) == shown);
    return 0;
}
