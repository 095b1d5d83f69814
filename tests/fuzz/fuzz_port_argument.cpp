// The argument of the PORT command (RFC 959, section 4.1.2): "h1,h2,h3,h4,p1,p2", six decimal
// numbers of one byte each. The input is the address (four bytes, most significant first) and
// the port (two bytes, most significant first).
#include "ftp/FtpReplies.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QString>
#include <QStringList>

using namespace quelmark;

namespace {

// Reads one field as a server would: one to three decimal digits without a leading zero, at
// most 255; -1 for anything else.
int FieldValue(const QString &field)
{
    if (field.isEmpty() || field.size() > 3 || (field.size() > 1 && field.startsWith(QLatin1Char('0'))))
        return -1;
    int value = 0;
    for (const QChar c : field) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value <= 255 ? value : -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    std::uint8_t bytes[6];
    for (std::uint8_t &byte : bytes)
        byte = input.Byte();
    const std::uint32_t address = std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
                                  std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
    const std::uint16_t port = std::uint16_t(bytes[4] << 8 | bytes[5]);

    const QStringList fields = PortArgument(address, port).split(QLatin1Char(','));
    FUZZ_REQUIRE(fields.size() == 6);
    for (int i = 0; i < 6; ++i)
        FUZZ_REQUIRE(FieldValue(fields[i]) == bytes[i]);
    return 0;
}
