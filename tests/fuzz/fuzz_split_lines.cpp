// A page as the transfer prepares it: split into lines, then the first placeholder of each
// line replaced by the address, and the same copy made in one pass over blocks of the page.
// The input is the placeholder's length and the address's length (one byte each), the
// placeholder, the address and the page.
#include "engine/UploadCopy.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QByteArray>
#include <QList>

#include <algorithm>

using namespace quelmark;

namespace {

// Returns the line ending that starts at position, or nothing when none does.
QByteArray EndingAt(const QByteArray &page, qsizetype position)
{
    if (page.mid(position, 2) == "\r\n")
        return "\r\n";
    const QByteArray one = page.mid(position, 1);
    return one == "\r" || one == "\n" ? one : QByteArray();
}

// The lines put back with the endings the page had reproduce the page: no byte lost, added
// or moved, every ending taken whole (CR LF is one ending), and only a last line may lack one.
void CheckSplit(const QByteArray &page, const QList<QByteArray> &lines)
{
    qsizetype position = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        FUZZ_REQUIRE(!line.contains('\r') && !line.contains('\n'));
        FUZZ_REQUIRE(page.mid(position, line.size()) == line);
        position += line.size();
        const QByteArray ending = EndingAt(page, position);
        FUZZ_REQUIRE(!ending.isEmpty() || (i + 1 == lines.size() && position == page.size() && !line.isEmpty()));
        position += ending.size();
    }
    FUZZ_REQUIRE(position == page.size());
}

// Each line either keeps its text (no placeholder in it, or an empty placeholder) or has its
// first placeholder, and only that one, exchanged for the address.
void CheckReplacement(const QList<QByteArray> &before, const QList<QByteArray> &after, const QByteArray &parameter,
                      const QByteArray &address)
{
    FUZZ_REQUIRE(after.size() == before.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        const QByteArray &line = before[i];
        const qsizetype at = parameter.isEmpty() ? -1 : line.indexOf(parameter);
        if (at < 0) {
            FUZZ_REQUIRE(after[i] == line);
            continue;
        }
        const QByteArray &replaced = after[i];
        FUZZ_REQUIRE(replaced.size() == line.size() - parameter.size() + address.size());
        FUZZ_REQUIRE(replaced.first(at) == line.first(at));
        FUZZ_REQUIRE(replaced.mid(at, address.size()) == address);
        FUZZ_REQUIRE(replaced.mid(at + address.size()) == line.mid(at + parameter.size()));
    }
}

// The copy made block by block, the bytes a block leaves over handed again with the next, is
// the replaced lines, each with CR LF.
void CheckStreamed(const QByteArray &page, const QList<QByteArray> &replaced, const QByteArray &parameter,
                   const QByteArray &address, qsizetype blockSize)
{
    TPageSubstitution substitution(parameter, address);
    QByteArray copy;
    QByteArray pending;
    for (qsizetype next = 0;; next += blockSize) {
        pending += page.mid(next, blockSize);
        const bool last = next >= page.size();
        const qsizetype taken = substitution.Take(pending.constData(), pending.size(), last, copy);
        FUZZ_REQUIRE(taken >= 0 && taken <= pending.size());
        if (last) {
            FUZZ_REQUIRE(taken == pending.size());
            break;
        }
        pending.remove(0, taken);
        FUZZ_REQUIRE(pending.size() < std::max<qsizetype>(parameter.size(), 1));
    }
    QByteArray expected;
    for (const QByteArray &line : replaced)
        expected += line + "\r\n";
    FUZZ_REQUIRE(copy == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    const std::size_t parameterLength = input.Byte() % 16;
    const std::size_t addressLength = input.Byte() % 48;
    const QByteArray parameter = input.Bytes(parameterLength);
    const QByteArray address = input.Bytes(addressLength);
    const QByteArray page = input.Rest();

    const QList<QByteArray> lines = SplitLines(page);
    CheckSplit(page, lines);
    QList<QByteArray> replaced = lines;
    ReplaceIPParam(replaced, parameter, address);
    CheckReplacement(lines, replaced, parameter, address);
    CheckStreamed(page, replaced, parameter, address, 1 + static_cast<qsizetype>(parameterLength + addressLength) % 13);
    return 0;
}
