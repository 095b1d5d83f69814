// The server field as a user may type it: either a host and a port in range, or a refusal that
// says why, never both; and an accepted field written back in its canonical form reads the
// same again. The input is the text.
#include "base/ServerField.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QString>

using namespace quelmark;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::InputReader input(data, size);
    const TServerField field = ParseServerField(QString::fromUtf8(input.Rest()));
    if (!field.Valid()) {
        FUZZ_REQUIRE(field.host.isEmpty() && field.port == 0);
        return 0;
    }
    FUZZ_REQUIRE(!field.host.isEmpty() && field.host == field.host.trimmed());
    FUZZ_REQUIRE(!field.host.contains(QLatin1Char('[')) && !field.host.contains(QLatin1Char(']')));
    const bool ipv6 = field.host.contains(QLatin1Char(':'));
    QString canonical = ipv6 && field.port != 0 ? QLatin1Char('[') + field.host + QLatin1Char(']') : field.host;
    if (field.port != 0)
        canonical += QLatin1Char(':') + QString::number(field.port);
    const TServerField again = ParseServerField(canonical);
    FUZZ_REQUIRE(again.Valid() && again.host == field.host && again.port == field.port);
    return 0;
}
